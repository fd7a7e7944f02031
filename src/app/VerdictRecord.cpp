#include "app/VerdictRecord.h"

#include <cstdio>
#include <cstring>

#include "app/ProgramVersion.h"
#include "control/ModuleType.h"

namespace {

// Failures of the service's exchange with a card that is there: the next run
// can give a verdict. Every other PC/SC value at the connection points at the
// station (service, reader, its name, no card, a card that is not a module).
constexpr std::uint32_t kTransientPcscErrors[] = {
    0x80100069,  // SCARD_W_REMOVED_CARD
    0x80100068,  // SCARD_W_RESET_CARD
    0x80100067,  // SCARD_W_UNPOWERED_CARD
    0x8010000B,  // SCARD_E_SHARING_VIOLATION
    0x8010000A,  // SCARD_E_TIMEOUT
    0x80100016,  // SCARD_E_NOT_TRANSACTED
    0x80100013,  // SCARD_F_COMM_ERROR
    0x8010002F,  // SCARD_E_COMM_DATA_LOST
};

bool IsTransient(std::uint32_t pcscError)
{
    for (const std::uint32_t value : kTransientPcscErrors) {
        if (value == pcscError) {
            return true;
        }
    }
    return false;
}

enum class CodeMatch : std::uint8_t { kAny, kExactly, kFromGeneric };
enum class PcscMatch : std::uint8_t { kAny, kTransient, kOther };

// The road, how the code and the PC/SC value must match, which code the
// record shows, the code itself, then the class and outcome.
struct VerdictRule {
    VerdictRoad road;
    CodeMatch codeMatch;
    PcscMatch pcscMatch;
    VerdictCodeForm codeForm;
    ResultCode code;
    const char* failureClass;
    const char* outcome;
};

constexpr char kModuleFailed[] = "module-failed";
constexpr char kNoVerdict[] = "no-verdict";
constexpr char kFixSetup[] = "fix-setup";

// The first row that matches the road, the code and the PC/SC value decides.
// A module that refuses a command of the control (a status word) or answers
// with more than the command allows has failed, although the console then
// says the control was not performed; a broken exchange gives no verdict.
constexpr VerdictRule kRules[] = {
    {VerdictRoad::kPassed, CodeMatch::kAny, PcscMatch::kAny, VerdictCodeForm::kNone, 0, nullptr, nullptr},
    {VerdictRoad::kOptions, CodeMatch::kAny, PcscMatch::kAny, VerdictCodeForm::kNone, 0, "options", kFixSetup},
    {VerdictRoad::kControlMode, CodeMatch::kAny, PcscMatch::kAny, VerdictCodeForm::kNone, 0, "options", kFixSetup},
    {VerdictRoad::kConnection, CodeMatch::kExactly, PcscMatch::kAny, VerdictCodeForm::kNone, result::kBadReaderName,
     "no-reader-name", kFixSetup},
    {VerdictRoad::kConnection, CodeMatch::kExactly, PcscMatch::kTransient, VerdictCodeForm::kPcsc, result::kPcscFailure,
     "connection", kNoVerdict},
    {VerdictRoad::kConnection, CodeMatch::kExactly, PcscMatch::kOther, VerdictCodeForm::kPcsc, result::kPcscFailure,
     "connection", kFixSetup},
    // The context refused: the raw value of SCardEstablishContext.
    {VerdictRoad::kConnection, CodeMatch::kFromGeneric, PcscMatch::kAny, VerdictCodeForm::kRaw, 0, "connection",
     kFixSetup},
    {VerdictRoad::kConnection, CodeMatch::kAny, PcscMatch::kAny, VerdictCodeForm::kNone, 0, "connection", kFixSetup},
    {VerdictRoad::kTransaction, CodeMatch::kExactly, PcscMatch::kAny, VerdictCodeForm::kPcsc, result::kPcscFailure,
     "transaction", kNoVerdict},
    {VerdictRoad::kTransaction, CodeMatch::kAny, PcscMatch::kAny, VerdictCodeForm::kNone, 0, "transaction", kNoVerdict},
    {VerdictRoad::kSerial, CodeMatch::kExactly, PcscMatch::kAny, VerdictCodeForm::kStatusWord, result::kStatusWord,
     "serial", kModuleFailed},
    {VerdictRoad::kSerial, CodeMatch::kExactly, PcscMatch::kAny, VerdictCodeForm::kNone, result::kParameterError,
     "serial", kModuleFailed},
    {VerdictRoad::kSerial, CodeMatch::kExactly, PcscMatch::kAny, VerdictCodeForm::kPcsc, result::kPcscFailure, "serial",
     kNoVerdict},
    {VerdictRoad::kSerial, CodeMatch::kAny, PcscMatch::kAny, VerdictCodeForm::kNone, 0, "serial", kNoVerdict},
    {VerdictRoad::kControl, CodeMatch::kExactly, PcscMatch::kAny, VerdictCodeForm::kNone, result::kControlNotPassed,
     "not-passed", kModuleFailed},
    {VerdictRoad::kControl, CodeMatch::kExactly, PcscMatch::kAny, VerdictCodeForm::kStatusWord, result::kStatusWord,
     "not-performed", kModuleFailed},
    {VerdictRoad::kControl, CodeMatch::kExactly, PcscMatch::kAny, VerdictCodeForm::kNone, result::kParameterError,
     "not-performed", kModuleFailed},
    {VerdictRoad::kControl, CodeMatch::kExactly, PcscMatch::kAny, VerdictCodeForm::kPcsc, result::kPcscFailure,
     "not-performed", kNoVerdict},
    {VerdictRoad::kControl, CodeMatch::kAny, PcscMatch::kAny, VerdictCodeForm::kNone, 0, "not-performed", kNoVerdict},
    {VerdictRoad::kUnsupported, CodeMatch::kAny, PcscMatch::kAny, VerdictCodeForm::kNone, 0, "unsupported", kNoVerdict},
    {VerdictRoad::kUnexpected, CodeMatch::kAny, PcscMatch::kAny, VerdictCodeForm::kNone, 0, "unexpected", kNoVerdict},
};

bool Matches(const VerdictRule& rule, VerdictRoad road, ResultCode code, std::uint32_t pcscError)
{
    if (rule.road != road) {
        return false;
    }
    switch (rule.codeMatch) {
    case CodeMatch::kExactly:
        if (code != rule.code) {
            return false;
        }
        break;
    case CodeMatch::kFromGeneric:
        if (code < result::kGenericFailure) {
            return false;
        }
        break;
    case CodeMatch::kAny:
        break;
    }
    switch (rule.pcscMatch) {
    case PcscMatch::kTransient:
        return IsTransient(pcscError);
    case PcscMatch::kOther:
        return !IsTransient(pcscError);
    case PcscMatch::kAny:
        break;
    }
    return true;
}

const char* Designation(std::uint8_t moduleType)
{
    switch (moduleType) {
    case module_type::kST23L80:
        return "RU.07.3815.00001";
    case module_type::kST23R160:
        return "RU.07.3815.00002";
    case module_type::kST31H320:
        return "RU.07.3815.00003";
    default:
        return "";
    }
}

constexpr std::size_t kValueInputLimit = 96;

// The length of the UTF-8 sequence at text that encodes a printable
// character, or 0.
std::size_t PrintableSequence(const unsigned char* text)
{
    const unsigned char lead = text[0];
    if (lead >= 0x20 && lead < 0x7F) {
        return 1;
    }
    std::size_t length = 0;
    std::uint32_t point = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        point = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        point = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        point = lead & 0x07u;
    } else {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((text[i] & 0xC0) != 0x80) {
            return 0;
        }
        point = point << 6 | (text[i] & 0x3Fu);
    }
    const std::uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (point < smallest[length] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) {
        return 0;
    }
    // C1 controls, and the line and paragraph separators that break a line.
    if ((point >= 0x80 && point <= 0x9F) || point == 0x2028 || point == 0x2029) {
        return 0;
    }
    return length;
}

bool IsPlainByte(unsigned char c)
{
    return c != ' ' && c != '"' && c != '\\' && c != ';' && c != '=' && c != '%';
}

class Writer {
public:
    Writer(char* out, std::size_t size) : out_(out), size_(size) { out_[0] = '\0'; }
    void Put(const char* text, std::size_t length)
    {
        for (std::size_t i = 0; i < length && used_ + 1 < size_; ++i) {
            out_[used_++] = text[i];
        }
        out_[used_] = '\0';
    }
    void Put(const char* text) { Put(text, std::strlen(text)); }

private:
    char* out_;
    std::size_t size_;
    std::size_t used_ = 0;
};

void Put(VerdictField* field, const char* name, const char* value)
{
    field->name = name;
    EscapeVerdictValue(value, field->value, sizeof field->value);
}

}  // namespace

VerdictClass ClassifyVerdict(VerdictRoad road, ResultCode code, std::uint32_t pcscError)
{
    for (const VerdictRule& rule : kRules) {
        if (Matches(rule, road, code, pcscError)) {
            return {rule.failureClass, rule.outcome, rule.codeForm};
        }
    }
    return {"unexpected", kNoVerdict, VerdictCodeForm::kNone};
}

void EscapeVerdictValue(const char* text, char* out, std::size_t size) noexcept
{
    if (size == 0) {
        return;
    }
    const std::size_t length = text == nullptr ? 0 : std::strlen(text);
    const std::size_t taken = length > kValueInputLimit ? kValueInputLimit : length;
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);

    bool plain = length > 0 && taken == length;
    for (std::size_t i = 0; plain && i < taken;) {
        const std::size_t sequence = PrintableSequence(bytes + i);
        plain = sequence != 0 && i + sequence <= taken && (sequence > 1 || IsPlainByte(bytes[i]));
        i += sequence;
    }
    Writer writer(out, size);
    if (plain) {
        writer.Put(text, taken);
        return;
    }
    writer.Put("\"");
    for (std::size_t i = 0; i < taken;) {
        const std::size_t sequence = PrintableSequence(bytes + i);
        if (sequence != 0 && i + sequence <= taken && bytes[i] != '%') {
            if (bytes[i] == '"' || bytes[i] == '\\') {
                writer.Put("\\");
            }
            writer.Put(text + i, sequence);
            i += sequence;
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", unsigned{bytes[i]});
            writer.Put(escaped);
            ++i;
        }
    }
    if (taken < length) {
        writer.Put("...");
    }
    writer.Put("\"");
}

void BuildVerdictFields(const VerdictFacts& facts, unsigned long pid, const char* user, VerdictFields* fields) noexcept
{
    const bool passed = facts.road == VerdictRoad::kPassed;
    const VerdictClass verdict = ClassifyVerdict(facts.road, facts.code, facts.pcscError);
    char code[16] = "";
    switch (verdict.codeForm) {
    case VerdictCodeForm::kStatusWord:
        std::snprintf(code, sizeof code, "%04X", unsigned{facts.statusWord});
        break;
    case VerdictCodeForm::kPcsc:
        std::snprintf(code, sizeof code, "%08lX", static_cast<unsigned long>(facts.pcscError));
        break;
    case VerdictCodeForm::kRaw:
        std::snprintf(code, sizeof code, "%08lX", static_cast<unsigned long>(facts.code));
        break;
    case VerdictCodeForm::kNone:
        break;
    }
    // The label ends in a blank on the console; the record keeps it without.
    char label[64] = "";
    if (passed && facts.label != nullptr) {
        std::snprintf(label, sizeof label, "%s", facts.label);
        std::size_t length = std::strlen(label);
        while (length > 0 && label[length - 1] == ' ') {
            label[--length] = '\0';
        }
    }
    char version[32];
    std::snprintf(version, sizeof version, "%d.%02d.%02d.%02d", program_version::kMajor, program_version::kMinor,
                  program_version::kPatch, program_version::kTweak);
    char process[24];
    std::snprintf(process, sizeof process, "%lu", pid);

    fields->passed = passed;
    VerdictField* field = fields->field;
    Put(field++, "command", facts.command);
    Put(field++, "result", passed ? "passed" : "failed");
    Put(field++, "class", verdict.failureClass);
    Put(field++, "outcome", verdict.outcome);
    Put(field++, "code", code);
    Put(field++, "reader", facts.readerName);
    Put(field++, "szi", Designation(facts.moduleType));
    Put(field++, "label", label);
    Put(field++, "version", version);
    Put(field++, "pid", process);
    Put(field++, "user", user);
}

void FormatVerdictField(const VerdictField& field, char* out, std::size_t size) noexcept
{
    if (size == 0) {
        return;
    }
    Writer writer(out, size);
    writer.Put(field.name);
    writer.Put("=");
    writer.Put(field.value);
}

void JoinVerdictFields(const VerdictFields& fields, char* out, std::size_t size) noexcept
{
    if (size == 0) {
        return;
    }
    Writer writer(out, size);
    for (int i = 0; i < kVerdictFieldCount; ++i) {
        if (i > 0) {
            writer.Put(" ; ");
        }
        writer.Put(fields.field[i].name);
        writer.Put("=");
        writer.Put(fields.field[i].value);
    }
}

namespace {
VerdictSink g_verdictSink = nullptr;
}  // namespace

void SetVerdictSink(VerdictSink sink) noexcept
{
    g_verdictSink = sink;
}

void WriteVerdict(const VerdictFacts& facts) noexcept
{
    if (facts.road == VerdictRoad::kNone || g_verdictSink == nullptr) {
        return;
    }
    g_verdictSink(facts);
}
