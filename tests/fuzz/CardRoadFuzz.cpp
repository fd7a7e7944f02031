// A whole -check or -keycheck road against a fuzzed module: every command the
// program sends (serial read, identification, state, control, final check,
// GET RESPONSE) is answered with bytes and a status word taken from the input,
// through the fake PC/SC. The verdict is checked against a second reading of
// the control rules that knows nothing of the program's tables: it compares the
// answers with the genuine module's answers written out in GenuineModule.cpp.
// The run may end with 0 only when every compared byte equals the genuine
// answer; otherwise it must end with 1 and one of the failure messages. After
// each answer the receive buffer is filled with what the genuine module would
// have sent there, so that a read of bytes the module did not send shows up as
// a false pass.
//
// Input: two flag bytes, then the answers in the order the commands are sent:
// a 16-bit little-endian header, either 0x8000 | n (SCardTransmit fails with
// the n-th of a few PC/SC codes) or a length up to 511 followed by that many
// bytes (data and status word). Missing answers are empty.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "FuzzSupport.h"
#include "app/CommandDriver.h"
#include "card/ReaderSession.h"
#include "support/ArgumentVector.h"
#include "support/FakePcsc.h"
#include "support/GenuineModule.h"
#include "text/WipeString.h"

namespace {

const std::string kBanner = "varnicle.exe версия 1.00.00.01\n";
const std::string kConnecting = "\nПодключение считывателя А (#First)...\n";
const std::string kControlling = "Контроль СЗИ...\n";
const std::string kSerialFailed = "Ошибка! Серийный номер СЗИ не получен!";
const std::string kNotPerformed = "Ошибка! Контроль СЗИ не выполнен!";
const std::string kNotPassed = "Ошибка! Контроль СЗИ не пройден!\n";
const std::string kPassed = "Контроль СЗИ успешно выполнен.\n";
const std::string kNumber = "Номер СЗИ: ";
const std::string kElapsed = "Выполнено (";
const std::string kParameterError = "Ошибка! Transmit: Ошибка параметров.\n";
const std::string kReader = "Fuzz Reader 0";

constexpr LONG kTransmitFailures[8] = {
    static_cast<LONG>(0x8010002F),  // SCARD_E_COMM_DATA_LOST
    static_cast<LONG>(0x80100069),  // SCARD_W_REMOVED_CARD
    static_cast<LONG>(0x80100016),  // SCARD_E_NOT_TRANSACTED
    static_cast<LONG>(0x80100013),  // SCARD_F_COMM_ERROR
    static_cast<LONG>(0x8010001D),  // SCARD_E_NO_SERVICE
    static_cast<LONG>(0x80100068),  // SCARD_W_RESET_CARD
    static_cast<LONG>(0x80100003),  // SCARD_E_INVALID_HANDLE
    static_cast<LONG>(0x12345678),  // a value no PC/SC text names
};
constexpr LONG kInsufficientBuffer = static_cast<LONG>(0x80100008);
constexpr std::size_t kReceiveBuffer = 258;

// From the module's command description: where the compared words stand.
constexpr std::size_t kIdentifyCapacity = 255;
constexpr std::size_t kKeyWordOffsetST31 = 4;
constexpr std::size_t kFinalWordOffset = 28;
constexpr std::size_t kWordLength = 4;

const TestModule kModules[3] = {TestModule::kST23R160, TestModule::kST23L80, TestModule::kST31H320};

struct Answer {
    Bytes bytes;
    LONG result = SCARD_S_SUCCESS;
};

struct Input {
    bool keyControl = false;
    int designated = -1;  // index into kModules, or -1
    bool silent = false;
    int trace = 0;
    int played = 0;  // the module whose genuine answers fill the bytes beyond each answer
    bool t0 = false;
    std::vector<Answer> answers;
};

Input ParseInput(const std::uint8_t* data, std::size_t size)
{
    Input in;
    const unsigned flags = size > 0 ? data[0] : 0;
    const unsigned more = size > 1 ? data[1] : 0;
    in.keyControl = (flags & 1) != 0;
    in.designated = static_cast<int>((flags >> 1) & 3) - 1;
    in.silent = (flags & 8) != 0;
    in.trace = static_cast<int>((flags >> 4) & 3) % 3;
    in.played = static_cast<int>(flags >> 6) % 3;
    in.t0 = (more & 1) != 0;
    std::size_t at = 2;
    while (at + 2 <= size) {
        const unsigned header = data[at] | static_cast<unsigned>(data[at + 1]) << 8;
        at += 2;
        Answer answer;
        if ((header & 0x8000) != 0) {
            answer.result = kTransmitFailures[header & 7];
        } else {
            const std::size_t length = std::min<std::size_t>(header & 0x1FF, size - at);
            answer.bytes.assign(data + at, data + at + length);
            at += length;
        }
        in.answers.push_back(answer);
    }
    return in;
}

Bytes WithoutStatus(const std::string& hex)
{
    Bytes bytes = HexBytes(hex);
    bytes.resize(bytes.size() - 2);
    return bytes;
}

std::string Designation(TestModule module)
{
    // "РОСС RU.07.3815.0000N." names the designation that -szi takes.
    const std::string prefix = GenuineDialogue(module, false).labelPrefix;
    return prefix.substr(std::strlen("РОСС "), 16);
}

std::string Hex(unsigned value, int digits)
{
    char text[16];
    std::snprintf(text, sizeof text, "%0*X", digits, value);
    return text;
}

// How the run must end.
struct Verdict {
    enum Kind { kPass, kSerialFailed, kNotPerformed, kNotPassed } kind = kPass;
    // For kSerialFailed and kNotPerformed: the message after the context.
    enum Message { kParameter, kPcsc, kShortAnswer, kStatusWord } message = kParameter;
    unsigned value = 0;  // the PC/SC code or the status word
    std::string label;
};

class Model {
public:
    explicit Model(const Input& in) : in_(in) {}

    std::vector<Bytes> commands;

    Verdict Run()
    {
        Verdict v;
        Bytes serial;
        if (!Send(HexBytes(kSerialCommand), 260, serial, v)) {
            v.kind = Verdict::kSerialFailed;
            return v;
        }
        Bytes identification;
        if (!Send(HexBytes(kIdentifyCommand), kIdentifyCapacity, identification, v)) {
            return NotPerformed(v);
        }
        int module = -1;
        for (int m = 0; m < 3; ++m) {
            if (identification == WithoutStatus(GenuineDialogue(kModules[m], false).identify)) {
                module = m;
            }
        }
        if (module < 0 || (in_.designated >= 0 && in_.designated != module)) {
            return NotPassed(v);
        }
        const ModuleDialogue genuine = GenuineDialogue(kModules[module], in_.keyControl);

        Bytes state;
        if (!Send(HexBytes(kStateCommand), identification.size(), state, v)) {
            return NotPerformed(v);
        }
        if (state != WithoutStatus(genuine.state)) {
            return NotPassed(v);
        }

        const Bytes genuineControl = WithoutStatus(genuine.control);
        Bytes control;
        if (!Send(HexBytes(genuine.controlCommand), genuineControl.size(), control, v)) {
            return NotPerformed(v);
        }
        const std::size_t offset = in_.keyControl && kModules[module] == TestModule::kST31H320 ? kKeyWordOffsetST31 : 0;
        if (!SameWord(control, genuineControl, offset)) {
            return NotPassed(v);
        }

        if (!genuine.final.empty()) {
            const Bytes genuineFinal = WithoutStatus(genuine.final);
            Bytes final;
            if (!Send(HexBytes(kFinalCommand), genuineFinal.size(), final, v)) {
                return NotPerformed(v);
            }
            if (!SameWord(final, genuineFinal, kFinalWordOffset)) {
                return NotPassed(v);
            }
        }

        v.kind = Verdict::kPass;
        v.label = genuine.labelPrefix;
        for (std::size_t i = 0; i < 6; ++i) {
            // Bytes the module did not send show as 00: the buffer starts cleared.
            v.label += Hex(i < serial.size() ? serial[i] : 0, 2);
        }
        v.label += " ";
        return v;
    }

private:
    static bool SameWord(const Bytes& answer, const Bytes& genuine, std::size_t offset)
    {
        return answer.size() >= offset + kWordLength &&
               std::equal(answer.begin() + static_cast<long>(offset),
                          answer.begin() + static_cast<long>(offset + kWordLength),
                          genuine.begin() + static_cast<long>(offset));
    }

    static Verdict NotPerformed(Verdict v)
    {
        v.kind = Verdict::kNotPerformed;
        return v;
    }

    static Verdict NotPassed(Verdict v)
    {
        v.kind = Verdict::kNotPassed;
        return v;
    }

    Answer Take() { return next_ < in_.answers.size() ? in_.answers[next_++] : Answer{}; }

    // One answer as the card channel receives it: false with the message set
    // when it fails at the transport.
    static bool Receive(const Answer& answer, Bytes& data, std::uint16_t& sw, Verdict& v)
    {
        if (answer.result != SCARD_S_SUCCESS) {
            v.message = Verdict::kPcsc;
            v.value = static_cast<unsigned>(answer.result);
            return false;
        }
        if (answer.bytes.size() > kReceiveBuffer) {
            v.message = Verdict::kPcsc;
            v.value = static_cast<unsigned>(kInsufficientBuffer);
            return false;
        }
        if (answer.bytes.size() < 2) {
            v.message = Verdict::kShortAnswer;
            return false;
        }
        const std::size_t n = answer.bytes.size();
        sw = static_cast<std::uint16_t>(answer.bytes[n - 2] << 8 | answer.bytes[n - 1]);
        data.assign(answer.bytes.begin(), answer.bytes.end() - 2);
        return true;
    }

    bool Send(const Bytes& command, std::size_t capacity, Bytes& data, Verdict& v)
    {
        commands.push_back(command);
        const Answer first = Take();
        std::uint16_t sw = 0;
        if (!Receive(first, data, sw, v)) {
            return false;
        }
        if (sw != 0x9000) {
            // A bare 61xx asks for one GET RESPONSE; anything else ends the exchange.
            if (first.bytes.size() != 2 || first.bytes[0] != 0x61) {
                v.message = Verdict::kStatusWord;
                v.value = sw;
                return false;
            }
            commands.push_back(Bytes{0x00, 0xC0, 0x00, 0x00, first.bytes[1]});
            if (!Receive(Take(), data, sw, v)) {
                return false;
            }
            if (sw != 0x9000) {
                v.message = Verdict::kStatusWord;
                v.value = sw;
                return false;
            }
        }
        if (data.size() > capacity) {
            v.message = Verdict::kParameter;
            return false;
        }
        return true;
    }

    const Input& in_;
    std::size_t next_ = 0;
};

// What the genuine module would have sent for a command, to fill the bytes
// after a fuzzed answer.
Bytes GenuineAnswerFor(const Bytes& command, int played, bool keyControl)
{
    const ModuleDialogue d = GenuineDialogue(kModules[played], keyControl);
    if (command == HexBytes(kSerialCommand)) {
        return HexBytes("001A2B3C4D5E6F 9000");
    }
    if (command == HexBytes(kIdentifyCommand)) {
        return HexBytes(d.identify);
    }
    if (command == HexBytes(kStateCommand)) {
        return HexBytes(d.state);
    }
    if (command == HexBytes(d.controlCommand)) {
        return HexBytes(d.control);
    }
    if (command == HexBytes(kFinalCommand) && !d.final.empty()) {
        return HexBytes(d.final);
    }
    return Bytes();
}

bool IsHex(const std::string& text)
{
    return text.find_first_not_of("0123456789ABCDEF") == std::string::npos;
}

// "XXXX, text\n" (4 or 8 digits), with the digits given or, when value is
// empty, any.
bool MatchesCodeLine(const std::string& rest, int digits, const std::string& value)
{
    const std::size_t d = static_cast<std::size_t>(digits);
    if (rest.size() < d + 4 || rest.compare(d, 2, ", ") != 0 || rest.back() != '\n') {
        return false;
    }
    const std::string shown = rest.substr(0, d);
    if (!IsHex(shown) || (!value.empty() && shown != value)) {
        return false;
    }
    const std::string text = rest.substr(d + 2, rest.size() - d - 3);
    return !text.empty() && text.find('\n') == std::string::npos;
}

// Whether tail is what the handler prints for a failure with this verdict.
bool MatchesFailure(const std::string& tail, const Verdict& v)
{
    std::string context;
    switch (v.kind) {
    case Verdict::kNotPassed:
        return tail == kNotPassed;
    case Verdict::kSerialFailed:
        context = kSerialFailed;
        break;
    case Verdict::kNotPerformed:
        context = kNotPerformed;
        break;
    case Verdict::kPass:
        return false;
    }
    if (tail.compare(0, context.size(), context) != 0) {
        return false;
    }
    const std::string rest = tail.substr(context.size());
    const std::string error = "Ошибка! ";
    switch (v.message) {
    case Verdict::kParameter:
        return rest == kParameterError;
    case Verdict::kPcsc:
        return rest.compare(0, error.size(), error) == 0 &&
               MatchesCodeLine(rest.substr(error.size()), 8, Hex(v.value, 8));
    case Verdict::kShortAnswer:
        return rest.compare(0, error.size(), error) == 0 && MatchesCodeLine(rest.substr(error.size()), 8, "");
    case Verdict::kStatusWord:
        return rest.compare(0, error.size(), error) == 0 &&
               MatchesCodeLine(rest.substr(error.size()), 4, Hex(v.value, 4));
    }
    return false;
}

bool MatchesSuccess(const std::string& tail, const std::string& label)
{
    const std::string fixed = kPassed + kNumber + label + "\n" + kElapsed;
    const std::string end = " сек.)\n";
    if (tail.compare(0, fixed.size(), fixed) != 0 || tail.size() < fixed.size() + end.size()) {
        return false;
    }
    if (tail.compare(tail.size() - end.size(), end.size(), end) != 0) {
        return false;
    }
    const std::string seconds = tail.substr(fixed.size(), tail.size() - fixed.size() - end.size());
    const std::size_t point = seconds.find('.');
    return point != std::string::npos && point > 0 && seconds.size() - point == 4 &&
           seconds.find_first_not_of("0123456789.") == std::string::npos;
}

// Finds, in a traced run, where the closing lines begin: after the last trace
// piece, which ends with a status-word line or a command header.
void CheckOutput(const std::string& output, const Input& in, const Verdict& v)
{
    const bool pass = v.kind == Verdict::kPass;
    if (in.silent) {
        if (in.trace == 0) {
            fuzz::Check(output == (pass ? v.label : std::string()), "silent output", output);
        } else if (pass) {
            fuzz::Check(output.size() >= v.label.size() &&
                            output.compare(output.size() - v.label.size(), v.label.size(), v.label) == 0,
                        "silent traced output ends with the label", output);
        } else {
            fuzz::Check(output.find("Ошибка") == std::string::npos && output.find("РОСС") == std::string::npos,
                        "silent traced failure prints no message", output);
        }
        return;
    }
    const std::string prefix = kBanner + kConnecting + kControlling;
    fuzz::Check(output.compare(0, prefix.size(), prefix) == 0, "output begins with banner and progress", output);
    std::string tail = output.substr(prefix.size());
    if (in.trace != 0) {
        // The closing lines follow the last trace piece.
        std::string marker;
        switch (v.kind) {
        case Verdict::kPass:
            marker = kPassed;
            break;
        case Verdict::kNotPassed:
            marker = kNotPassed;
            break;
        case Verdict::kSerialFailed:
            marker = kSerialFailed;
            break;
        case Verdict::kNotPerformed:
            marker = kNotPerformed;
            break;
        }
        const std::size_t at = tail.rfind(marker);
        fuzz::Check(at != std::string::npos, "traced output holds the closing message", output);
        tail = tail.substr(at);
    }
    if (pass) {
        fuzz::Check(MatchesSuccess(tail, v.label), "success lines", output);
    } else {
        fuzz::Check(MatchesFailure(tail, v), "failure message", output);
    }
}

unsigned long g_runs = 0;
unsigned long g_outcomes[4] = {};

void PrintStatistics()
{
    std::fprintf(stderr,
                 "card road: %lu runs: %lu passed, %lu serial read failed, %lu control not performed, "
                 "%lu control not passed; 0 false passes\n",
                 g_runs, g_outcomes[Verdict::kPass], g_outcomes[Verdict::kSerialFailed],
                 g_outcomes[Verdict::kNotPerformed], g_outcomes[Verdict::kNotPassed]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Initialise();
    if (g_runs++ == 0 && std::getenv("VARNICLE_FUZZ_STATISTICS") != nullptr) {
        std::atexit(PrintStatistics);
    }
    const Input in = ParseInput(data, size);

    FakePcsc& fake = FakePcsc::Get();
    fake.Reset();
    fake.activeProtocol = in.t0 ? SCARD_PROTOCOL_T0 : SCARD_PROTOCOL_T1;
    std::size_t next = 0;
    fake.responder = [&in, &next](const Bytes& command) {
        FakePcsc::Exchange reply;
        reply.command = command;
        if (next < in.answers.size()) {
            reply.answer = in.answers[next].bytes;
            reply.result = in.answers[next].result;
        }
        ++next;
        static Bytes previous;
        const bool getResponse = command.size() == 5 && command[0] == 0x00 && command[1] == 0xC0;
        if (!getResponse) {
            previous = command;
        }
        const Bytes genuine = GenuineAnswerFor(previous, in.played, in.keyControl);
        for (std::size_t at = reply.answer.size(); at < kReceiveBuffer; ++at) {
            reply.beyond.push_back(at < genuine.size() ? genuine[at] : WipeString::kWipeByte);
        }
        return reply;
    };
    g_readerSession = ReaderSession{};
    std::memset(g_traceCopy, 0, sizeof g_traceCopy);

    std::vector<std::string> arguments = {"varnicle.exe", in.keyControl ? "-keycheck" : "-check"};
    if (in.designated >= 0) {
        arguments.push_back("-szi");
        arguments.push_back(Designation(kModules[in.designated]));
    }
    if (in.silent) {
        arguments.push_back("-silent");
    }
    if (in.trace != 0) {
        arguments.push_back("-trace");
        arguments.push_back(in.trace == 1 ? "headers" : "data");
    }
    arguments.push_back("-a");
    arguments.push_back(kReader);
    ArgumentVector argv(std::move(arguments));

    const int status = CommandDriver(argv.Count(), argv.Pointers());
    const std::string output = fuzz::TakeOutput();

    Model model(in);
    const Verdict v = model.Run();
    ++g_outcomes[v.kind];

    if (status == 0 && v.kind != Verdict::kPass) {
        fuzz::Fail("FALSE PASS: the run passed a module that differs from the genuine one", output);
    }
    fuzz::Check(status == (v.kind == Verdict::kPass ? 0 : 1), "exit status", output);
    std::string sent;
    for (const Bytes& command : fake.commands) {
        sent += HexString(command) + " ";
    }
    std::string expected;
    for (const Bytes& command : model.commands) {
        expected += HexString(command) + " ";
    }
    fuzz::Check(sent == expected, "commands sent", "sent " + sent + "\nexpected " + expected);
    fuzz::Check(fake.badArguments == 0, "PC/SC arguments");
    CheckOutput(output, in, v);
    fake.responder = nullptr;
    return 0;
}
