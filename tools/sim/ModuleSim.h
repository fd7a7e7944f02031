#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

using Bytes = std::vector<std::uint8_t>;

enum class Chip { ST23R160, ST23L80, ST31H320 };

// The commands the module knows, by name; faults are attached to them.
enum class Command { Serial, Identify, State, KeyControl, NonKeyControl, FinalCheck, GetResponse, Other };
constexpr int kCommandCount = 8;

struct CommandFault {
    bool statusWordSet = false;
    std::uint16_t statusWord = 0;  // answered alone, instead of the data
    bool wordSet = false;
    std::uint32_t word = 0;  // control or final-check word put in place of the right one
    bool replaceData = false;
    Bytes data;          // whole answer data put in place of the right one
    int extraBytes = 0;  // bytes appended to the answer data
    int splits = 0;      // 1: 61xx, then the data on GET RESPONSE; 2: 61xx again on GET RESPONSE
    bool drop = false;   // the card leaves the reader when this command arrives
};

// One exchange of a script: the command expected and the whole answer to it.
struct ScriptedExchange {
    Bytes command;
    Bytes answer;
};

struct ModuleConfig {
    Chip chip = Chip::ST23R160;
    Bytes serial;
    Bytes atr;
    CommandFault faults[kCommandCount];
    // When not empty, the APDUs are answered from here in order instead, as the
    // unit tests' scripted PC/SC answers them: a command that differs from the
    // next scripted one, or comes after the last, gets 6F 00.
    std::vector<ScriptedExchange> script;
};

// What the module does with one message from the reader.
struct Reply {
    enum class Kind { Send, Silent, Drop } kind = Kind::Silent;
    Bytes payload;
};

// The module's answers, apart from any transport: controls (power, reset,
// ATR) and command APDUs in, answers out.
class ModuleSim {
public:
    explicit ModuleSim(ModuleConfig config);

    // A message from the reader: one byte is a control, more is an APDU.
    Reply Handle(const std::uint8_t* message, std::size_t length);

    static Command Classify(const std::uint8_t* apdu, std::size_t length);
    static const char* CommandName(Command command);
    // "serial", "identify", ... -> the command; false when unknown.
    static bool CommandByName(const std::string& name, Command* command);
    static Bytes DefaultAtr();

private:
    Reply Answer(const std::uint8_t* apdu, std::size_t length);
    // The answer of a healthy module: data and status word.
    Bytes NormalAnswer(Command command, const std::uint8_t* apdu, std::size_t length, std::uint16_t* statusWord) const;
    Reply Deliver(Command command, Bytes data, std::uint16_t statusWord);

    ModuleConfig config_;
    Bytes pending_;  // data awaiting GET RESPONSE
    bool hasPending_ = false;
    int pendingSplits_ = 0;
    std::size_t nextExchange_ = 0;
};

// The shared strict format (apduscript/ApduScript.h); *ok false on any typo.
Bytes ParseHex(const std::string& text, bool* ok);
std::string FormatHex(const std::uint8_t* data, std::size_t length);

}  // namespace sim
