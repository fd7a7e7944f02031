#include "sim/ModuleSim.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <utility>

#include "apduscript/ApduScript.h"

namespace sim {
namespace {

constexpr std::uint16_t kOk = 0x9000;
constexpr std::uint16_t kWrongLength = 0x6700;
constexpr std::uint16_t kConditionsNotSatisfied = 0x6985;
constexpr std::uint16_t kWrongP1P2 = 0x6A86;
constexpr std::uint16_t kInsNotSupported = 0x6D00;
constexpr std::uint16_t kClaNotSupported = 0x6E00;
constexpr std::uint16_t kScriptMismatch = 0x6F00;

// Identification answers: chip, product and system names, version.
constexpr std::uint8_t kIdentST23R160[] = {
    0x80, 0x08, 'S',  'T',  '2', '3', 'R', '1', '6', '0',  //
    0x81, 0x08, 'S',  'o',  'l', 'v', 'a', 'r', 'i', 'a',  //
    0x82, 0x05, 'T',  'a',  'm', 'i', 'k',                 //
    0x83, 0x02, 0x01, 0x30,
};
constexpr std::uint8_t kIdentST23L80[] = {
    0x80, 0x07, 'S',  'T',  '2', '3', 'L', '8', '0',       //
    0x81, 0x08, 'S',  'o',  'l', 'v', 'a', 'r', 'i', 'a',  //
    0x82, 0x05, 'T',  'a',  'm', 'i', 'k',                 //
    0x83, 0x02, 0x01, 0x30,
};
constexpr std::uint8_t kIdentST31H320[] = {
    0x80, 0x08, 'S',  'T',  '3', '1', 'H', '3', '2', '0',  //
    0x81, 0x08, 'S',  'o',  'l', 'v', 'a', 'r', 'i', 'a',  //
    0x82, 0x05, 'T',  'a',  'm', 'i', 'k',                 //
    0x83, 0x02, 0x02, 0x01,
};

// Key-control challenge the module expects; another challenge gives another word.
constexpr std::uint8_t kChallengeST23[32] = {
    0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F,  //
    0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B, 0x1C, 0x1D, 0x1E, 0x1F};
constexpr std::uint8_t kChallengeST31[32] = {
    0x00, 0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80, 0x90, 0xA0, 0xB0, 0xC0, 0xD0, 0xE0, 0xF1,  //
    0x01, 0x11, 0x21, 0x31, 0x41, 0x51, 0x61, 0x71, 0x81, 0x91, 0xA1, 0xB1, 0xC1, 0xD1, 0xE1, 0xF0};

// Where each answer carries its word, how long the answer is, and the word.
struct WordAnswer {
    std::size_t length;
    std::size_t offset;
    std::uint32_t word;
};

struct ChipData {
    const std::uint8_t* ident;
    std::size_t identLength;
    const std::uint8_t* challenge;
    std::uint8_t nonKeyP1;
    WordAnswer key;
    WordAnswer nonKey;
    bool hasFinalCheck;
    WordAnswer finalCheck;
};

constexpr ChipData kChips[] = {
    {kIdentST23R160,
     sizeof kIdentST23R160,
     kChallengeST23,
     0x09,
     {4, 0, 0xA3EF889F},
     {4, 0, 0xB4612F68},
     true,
     {32, 28, 0x07B3B95F}},
    {kIdentST23L80,
     sizeof kIdentST23L80,
     kChallengeST23,
     0x09,
     {4, 0, 0xA3EF889F},
     {4, 0, 0xB4612F68},
     true,
     {32, 28, 0x8A89943E}},
    {kIdentST31H320,
     sizeof kIdentST31H320,
     kChallengeST31,
     0x08,
     {56, 4, 0x00CFFDAB},
     {52, 0, 0x9C778CF6},
     false,
     {0, 0, 0}},
};

const ChipData& DataOf(Chip chip)
{
    return kChips[static_cast<int>(chip)];
}

const char* const kCommandNames[kCommandCount] = {"serial", "identify", "state",       "key",
                                                  "nonkey", "final",    "getresponse", "other"};

// Stand-in for the module's computation around the word: stable, not constant.
Bytes Filler(std::size_t length, std::uint32_t seed)
{
    Bytes bytes(length);
    std::uint32_t x = seed | 1u;
    for (auto& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(x >> 16);
    }
    return bytes;
}

void PutWord(Bytes& data, std::size_t offset, std::uint32_t word)
{
    if (data.size() < offset + 4)
        data.resize(offset + 4);
    for (int i = 0; i < 4; ++i)
        data[offset + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(word >> (8 * i));
}

Bytes WordAnswerBytes(const WordAnswer& answer, std::uint32_t word)
{
    Bytes data = Filler(answer.length, answer.word);
    PutWord(data, answer.offset, word);
    return data;
}

const WordAnswer* WordAnswerOf(const ChipData& chip, Command command)
{
    switch (command) {
    case Command::KeyControl:
        return &chip.key;
    case Command::NonKeyControl:
        return &chip.nonKey;
    case Command::FinalCheck:
        return chip.hasFinalCheck ? &chip.finalCheck : nullptr;
    default:
        return nullptr;
    }
}

Reply Send(Bytes payload)
{
    Reply reply;
    reply.kind = Reply::Kind::Send;
    reply.payload = std::move(payload);
    return reply;
}

Reply StatusOnly(std::uint16_t statusWord)
{
    return Send({static_cast<std::uint8_t>(statusWord >> 8), static_cast<std::uint8_t>(statusWord)});
}

}  // namespace

ModuleSim::ModuleSim(ModuleConfig config) : config_(std::move(config))
{
    if (config_.atr.empty())
        config_.atr = DefaultAtr();
}

Bytes ModuleSim::DefaultAtr()
{
    // Direct convention, T=0 only, TB1 = TC1 = 0, historical bytes "Solvaria".
    return {0x3B, 0x68, 0x00, 0x00, 'S', 'o', 'l', 'v', 'a', 'r', 'i', 'a'};
}

Command ModuleSim::Classify(const std::uint8_t* apdu, std::size_t length)
{
    if (length < 4)
        return Command::Other;
    if (apdu[0] == 0x00 && apdu[1] == 0xC0 && apdu[2] == 0x00)
        return Command::GetResponse;
    if (apdu[0] != 0x80)
        return Command::Other;
    if (apdu[1] == 0x06 && apdu[2] == 0x00)
        return Command::FinalCheck;
    if (apdu[1] != 0xFE)
        return Command::Other;
    switch (apdu[2]) {
    case 0x00:
        return Command::Identify;
    case 0x02:
        return Command::State;
    case 0x06:
        return Command::Serial;
    case 0x07:
        return Command::KeyControl;
    case 0x08:
    case 0x09:
        return Command::NonKeyControl;
    default:
        return Command::Other;
    }
}

const char* ModuleSim::CommandName(Command command)
{
    return kCommandNames[static_cast<int>(command)];
}

bool ModuleSim::CommandByName(const std::string& name, Command* command)
{
    for (int i = 0; i < kCommandCount; ++i) {
        if (name == kCommandNames[i]) {
            *command = static_cast<Command>(i);
            return true;
        }
    }
    return false;
}

Reply ModuleSim::Handle(const std::uint8_t* message, std::size_t length)
{
    if (length == 0)
        return Reply{};
    if (length > 1)
        return Answer(message, length);
    switch (message[0]) {
    case 0x00:  // power off
    case 0x01:  // power on
    case 0x02:  // reset
        hasPending_ = false;
        return Reply{};
    case 0x04:
        return Send(config_.atr);
    default:
        return Reply{};
    }
}

Bytes ModuleSim::NormalAnswer(Command command, const std::uint8_t* apdu, std::size_t length,
                              std::uint16_t* statusWord) const
{
    const ChipData& chip = DataOf(config_.chip);
    *statusWord = kOk;
    // Commands with data must carry exactly P3 bytes of it.
    const bool hasData = command == Command::KeyControl;
    if (length < 5 || (hasData && length != 5u + apdu[4]) || (!hasData && length != 5)) {
        *statusWord = kWrongLength;
        return {};
    }
    switch (command) {
    case Command::Serial:
        return config_.serial;
    case Command::Identify:
        return Bytes(chip.ident, chip.ident + chip.identLength);
    case Command::State:
        return Bytes(8, 0x00);
    case Command::KeyControl: {
        if (apdu[4] != 32) {
            *statusWord = kWrongLength;
            return {};
        }
        // Another challenge yields another word, as the real computation would.
        const bool expected = std::memcmp(apdu + 5, chip.challenge, 32) == 0;
        return WordAnswerBytes(chip.key, expected ? chip.key.word : ~chip.key.word);
    }
    case Command::NonKeyControl:
        if (apdu[2] != chip.nonKeyP1) {
            *statusWord = kWrongP1P2;
            return {};
        }
        return WordAnswerBytes(chip.nonKey, chip.nonKey.word);
    case Command::FinalCheck:
        if (!chip.hasFinalCheck) {
            *statusWord = kInsNotSupported;
            return {};
        }
        return WordAnswerBytes(chip.finalCheck, chip.finalCheck.word);
    default:
        break;
    }
    if (apdu[0] != 0x80)
        *statusWord = kClaNotSupported;
    else if (apdu[1] == 0xFE)
        *statusWord = kWrongP1P2;
    else
        *statusWord = kInsNotSupported;
    return {};
}

Reply ModuleSim::Answer(const std::uint8_t* apdu, std::size_t length)
{
    if (!config_.script.empty()) {
        if (nextExchange_ < config_.script.size() &&
            config_.script[nextExchange_].command == Bytes(apdu, apdu + length))
            return Send(config_.script[nextExchange_++].answer);
        nextExchange_ = config_.script.size();
        return StatusOnly(kScriptMismatch);
    }
    const Command command = Classify(apdu, length);
    const CommandFault& fault = config_.faults[static_cast<int>(command)];
    if (fault.drop) {
        Reply reply;
        reply.kind = Reply::Kind::Drop;
        return reply;
    }
    if (command == Command::GetResponse) {
        if (fault.statusWordSet) {
            hasPending_ = false;
            return StatusOnly(fault.statusWord);
        }
        if (!hasPending_)
            return StatusOnly(kConditionsNotSatisfied);
        if (pendingSplits_ > 0) {
            --pendingSplits_;
            return StatusOnly(static_cast<std::uint16_t>(0x6100 | (pending_.size() & 0xFF)));
        }
        // Le 00, or no Le at all, asks for up to 256 bytes.
        const std::size_t wanted = length < 5 || apdu[4] == 0 ? 256 : apdu[4];
        Bytes out(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(std::min(wanted, pending_.size())));
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(out.size()));
        std::uint16_t statusWord = kOk;
        if (pending_.empty())
            hasPending_ = false;
        else
            statusWord = static_cast<std::uint16_t>(0x6100 | (pending_.size() & 0xFF));
        out.push_back(static_cast<std::uint8_t>(statusWord >> 8));
        out.push_back(static_cast<std::uint8_t>(statusWord));
        return Send(out);
    }
    hasPending_ = false;
    if (fault.statusWordSet)
        return StatusOnly(fault.statusWord);

    std::uint16_t statusWord = kOk;
    Bytes data = NormalAnswer(command, apdu, length, &statusWord);
    if (statusWord == kOk) {
        const WordAnswer* place = WordAnswerOf(DataOf(config_.chip), command);
        if (fault.wordSet && place != nullptr)
            PutWord(data, place->offset, fault.word);
    }
    if (fault.replaceData) {
        data = fault.data;
        statusWord = kOk;
    }
    for (int i = 0; i < fault.extraBytes; ++i)
        data.push_back(static_cast<std::uint8_t>(0xE0 + (i & 0x0F)));

    if (fault.splits > 0 && statusWord == kOk) {
        pending_ = data;
        hasPending_ = true;
        pendingSplits_ = fault.splits - 1;
        return StatusOnly(static_cast<std::uint16_t>(0x6100 | (data.size() & 0xFF)));
    }
    data.push_back(static_cast<std::uint8_t>(statusWord >> 8));
    data.push_back(static_cast<std::uint8_t>(statusWord));
    return Send(data);
}

Bytes ParseHex(const std::string& text, bool* ok)
{
    Bytes bytes;
    std::string error;
    *ok = apdu_script::ParseHex(text, &bytes, &error);
    return bytes;
}

std::string FormatHex(const std::uint8_t* data, std::size_t length)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = 0; i < length; ++i) {
        if (i != 0)
            text += ' ';
        text += digits[data[i] >> 4];
        text += digits[data[i] & 0x0F];
    }
    return text;
}

}  // namespace sim
