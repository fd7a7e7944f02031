#include "app/VerdictRecord.h"

#include <cstring>
#include <functional>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "app/CommandDriver.h"
#include "card/ReaderSession.h"
#include "support/ArgumentVector.h"
#include "support/CapturedOutput.h"
#include "support/FakePcsc.h"
#include "support/GenuineModule.h"
#include "support/TempDirectory.h"

namespace {

std::vector<std::string> g_records;

void CatchRecord(const VerdictFacts& facts) noexcept
{
    VerdictFields fields;
    BuildVerdictFields(facts, 42, "tester", &fields);
    char line[kVerdictLineSize];
    JoinVerdictFields(fields, line, sizeof line);
    g_records.push_back(std::string(fields.passed ? "passed: " : "failed: ") + line);
}

const std::string kSerial = "00 1A 2B 3C 4D 5E 6F 9000";
const std::string kTail = " ; version=1.00.00.01 ; pid=42 ; user=tester";
const std::string kReader = " ; reader=\"Test Reader\"";

// The record of a failure: its class, outcome, code and what follows the reader.
std::string Failed(const std::string& command, const std::string& failureClass, const std::string& outcome,
                   const std::string& code, const std::string& reader = kReader, const std::string& szi = "\"\"")
{
    return "failed: command=" + command + " ; result=failed ; class=" + failureClass + " ; outcome=" + outcome +
           " ; code=" + code + reader + " ; szi=" + szi + " ; label=\"\"" + kTail;
}

class VerdictRecordTest : public testing::Test {
protected:
    void SetUp() override
    {
        FakePcsc::Get().Reset();
        g_readerSession = ReaderSession{};
        std::memset(g_traceCopy, 0, sizeof g_traceCopy);
        g_records.clear();
        SetVerdictSink(CatchRecord);
        directory_.Write("readers.ini", "[Readers]\n#First = Test Reader\n");
    }
    void TearDown() override { SetVerdictSink(nullptr); }

    static int Drive(std::vector<std::string> arguments)
    {
        arguments.insert(arguments.begin(), "varnicle.exe");
        ArgumentVector argv(std::move(arguments));
        int status = -1;
        CaptureOutput([&] { status = CommandDriver(argv.Count(), argv.Pointers()); });
        return status;
    }

    TempDirectory directory_{true};
};

void WithControlAnswer(FakePcsc& fake, TestModule module, const std::string& answer)
{
    ModuleDialogue dialogue = GenuineDialogue(module, false);
    dialogue.control = answer;
    ScriptSerial(fake, kSerial);
    ScriptDialogue(fake, dialogue);
}

struct RoadCase {
    const char* name;
    std::vector<std::string> arguments;
    std::function<void(FakePcsc&, TempDirectory&)> script;
    std::string record;
};

void PrintTo(const RoadCase& c, std::ostream* os)
{
    *os << c.name;
}

const RoadCase kRoads[] = {
    {"passed",
     {"-check"},
     [](FakePcsc& f, TempDirectory&) {
         ScriptSerial(f, kSerial);
         ScriptDialogue(f, GenuineDialogue(TestModule::kST23L80, false));
     },
     "passed: command=-check ; result=passed ; class=\"\" ; outcome=\"\" ; code=\"\"" + kReader +
         " ; szi=RU.07.3815.00001 ; label=\"РОСС RU.07.3815.00001.001A2B3C4D5E\"" + kTail},
    {"passed silently, reader from -a",
     {"-keycheck", "-silent", "-a", "Other=Reader"},
     [](FakePcsc& f, TempDirectory&) {
         ScriptSerial(f, kSerial);
         ScriptDialogue(f, GenuineDialogue(TestModule::kST31H320, true));
     },
     "passed: command=-keycheck ; result=passed ; class=\"\" ; outcome=\"\" ; code=\"\" ; reader=\"Other=Reader\""
     " ; szi=RU.07.3815.00003 ; label=\"РОСС RU.07.3815.00003.001A2B3C4D5E\"" +
         kTail},
    {"option error",
     {"-checkall", "-szi"},
     [](FakePcsc&, TempDirectory&) {},
     Failed("-check", "options", "fix-setup", "\"\"")},
    {"no reader name",
     {"-check"},
     [](FakePcsc&, TempDirectory& d) { d.Write("readers.ini", "[Other]\n"); },
     Failed("-check", "no-reader-name", "fix-setup", "\"\"", " ; reader=\"\"")},
    {"reader name too long",
     {"-check", "-a", std::string(64, 'R')},
     [](FakePcsc&, TempDirectory&) {},
     Failed("-check", "no-reader-name", "fix-setup", "\"\"", " ; reader=" + std::string(64, 'R'))},
    {"no PC/SC service",
     {"-keycheck"},
     [](FakePcsc& f, TempDirectory&) { f.establishResult = static_cast<LONG>(SCARD_E_NO_SERVICE); },
     Failed("-keycheck", "connection", "fix-setup", "8010001D")},
    // A system error code below the generic one is raised to it, as the console shows it.
    {"context refused with ERROR_ACCESS_DENIED",
     {"-check"},
     [](FakePcsc& f, TempDirectory&) { f.establishResult = 5; },
     Failed("-check", "connection", "fix-setup", "00000006")},
    {"unknown reader",
     {"-check"},
     [](FakePcsc& f, TempDirectory&) { f.connectResult = static_cast<LONG>(SCARD_E_UNKNOWN_READER); },
     Failed("-check", "connection", "fix-setup", "80100009")},
    {"no card",
     {"-check"},
     [](FakePcsc& f, TempDirectory&) { f.connectResult = static_cast<LONG>(SCARD_E_NO_SMARTCARD); },
     Failed("-check", "connection", "fix-setup", "8010000C")},
    {"reader held by another program",
     {"-check"},
     [](FakePcsc& f, TempDirectory&) { f.connectResult = static_cast<LONG>(SCARD_E_SHARING_VIOLATION); },
     Failed("-check", "connection", "no-verdict", "8010000B")},
    {"card removed at the ATR read",
     {"-check"},
     [](FakePcsc& f, TempDirectory&) { f.getAttribResult = static_cast<LONG>(SCARD_W_REMOVED_CARD); },
     Failed("-check", "connection", "no-verdict", "80100069")},
    {"transaction refused",
     {"-check"},
     [](FakePcsc& f, TempDirectory&) { f.beginResult = static_cast<LONG>(SCARD_W_RESET_CARD); },
     Failed("-check", "transaction", "no-verdict", "80100068")},
    {"serial read refused",
     {"-check"},
     [](FakePcsc& f, TempDirectory&) { ScriptSerial(f, "6A82"); },
     Failed("-check", "serial", "module-failed", "6A82")},
    {"card removed at the serial read",
     {"-check"},
     [](FakePcsc& f, TempDirectory&) { f.Answer(kSerialCommand, "", static_cast<LONG>(SCARD_W_REMOVED_CARD)); },
     Failed("-check", "serial", "no-verdict", "80100069")},
    {"control word wrong",
     {"-check"},
     [](FakePcsc& f, TempDirectory&) { WithControlAnswer(f, TestModule::kST23L80, "682F61B5 9000"); },
     Failed("-check", "not-passed", "module-failed", "\"\"")},
    // The module is named once its control step has passed.
    {"final word wrong",
     {"-check"},
     [](FakePcsc& f, TempDirectory&) {
         ModuleDialogue dialogue = GenuineDialogue(TestModule::kST23R160, false);
         dialogue.final = "A0A1A2A3A4A5A6A7A8A9AAABACADAEAFB0B1B2B3B4B5B6B7B8B9BABB 5FB9B308 9000";
         ScriptSerial(f, kSerial);
         ScriptDialogue(f, dialogue);
     },
     Failed("-check", "not-passed", "module-failed", "\"\"", kReader, "RU.07.3815.00002")},
    {"designation mismatch",
     {"-check", "-szi", "RU.07.3815.00003"},
     [](FakePcsc& f, TempDirectory&) {
         ScriptSerial(f, kSerial);
         ScriptDialogue(f, GenuineDialogue(TestModule::kST23R160, false));
     },
     Failed("-check", "not-passed", "module-failed", "\"\"")},
    // Refused or over-long: the module failed, though the console says "not performed".
    {"control refused",
     {"-check"},
     [](FakePcsc& f, TempDirectory&) { WithControlAnswer(f, TestModule::kST23R160, "6982"); },
     Failed("-check", "not-performed", "module-failed", "6982")},
    {"control answer too long",
     {"-check"},
     [](FakePcsc& f, TempDirectory&) { WithControlAnswer(f, TestModule::kST23R160, "682F61B400 9000"); },
     Failed("-check", "not-performed", "module-failed", "\"\"")},
    {"card removed at the control",
     {"-check"},
     [](FakePcsc& f, TempDirectory&) {
         ScriptSerial(f, kSerial);
         f.Answer(kIdentifyCommand, "", static_cast<LONG>(SCARD_W_REMOVED_CARD));
     },
     Failed("-check", "not-performed", "no-verdict", "80100069")},
    {"release fails after a failure",
     {"-check"},
     [](FakePcsc& f, TempDirectory&) {
         WithControlAnswer(f, TestModule::kST23R160, "6982");
         f.disconnectResult = static_cast<LONG>(SCARD_E_INVALID_HANDLE);
     },
     Failed("-check", "not-performed", "module-failed", "6982")},
    {"unexpected failure",
     {"-check"},
     [](FakePcsc& f, TempDirectory&) {
         f.responder = [](const Bytes& command) -> FakePcsc::Exchange {
             if (command == HexBytes(kSerialCommand)) {
                 return {command, HexBytes(kSerial), SCARD_S_SUCCESS, {}};
             }
             throw std::bad_alloc();
         };
     },
     Failed("-check", "unexpected", "no-verdict", "\"\"")},
};

class VerdictRoads : public VerdictRecordTest, public testing::WithParamInterface<RoadCase> {};

TEST_P(VerdictRoads, OneRecordAfterTheRelease)
{
    const RoadCase& c = GetParam();
    c.script(FakePcsc::Get(), directory_);
    const int status = Drive(c.arguments);
    ASSERT_EQ(g_records.size(), 1u);
    EXPECT_EQ(g_records[0], c.record);
    EXPECT_EQ(status, c.record.rfind("passed: ", 0) == 0 ? 0 : 1);
}

INSTANTIATE_TEST_SUITE_P(Driver, VerdictRoads, testing::ValuesIn(kRoads));

TEST_F(VerdictRecordTest, NoCheckAttemptedNoRecord)
{
    for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
             {}, {"-foo"}, {"-Check"}, {"-help"}, {"-help", "-check"}, {"-help", "-keycheck", "-silent"}}) {
        EXPECT_EQ(Drive(arguments), 1);
        EXPECT_TRUE(g_records.empty()) << (arguments.empty() ? "(none)" : arguments[0]);
        EXPECT_TRUE(FakePcsc::Get().calls.empty());
    }
}

// The record is written after the card is released: the sink sees the
// disconnection already made.
TEST_F(VerdictRecordTest, WrittenAfterTheCardIsReleased)
{
    static std::vector<std::string> callsAtRecord;
    SetVerdictSink([](const VerdictFacts&) noexcept { callsAtRecord = FakePcsc::Get().calls; });
    ScriptSerial(FakePcsc::Get(), "6A82");
    Drive({"-check", "-silent"});
    ASSERT_FALSE(callsAtRecord.empty());
    EXPECT_EQ(callsAtRecord.back(), "Disconnect 2");
}

struct EscapeCase {
    std::string text;
    std::string written;
};

TEST(VerdictValue, PlainWordsBareEverythingElseQuotedAndEscaped)
{
    const EscapeCase cases[] = {
        {"-check", "-check"},
        {"RU.07.3815.00001", "RU.07.3815.00001"},
        {"РОСС", "РОСС"},
        {"", "\"\""},
        {"Virtual PCD 00 00", "\"Virtual PCD 00 00\""},
        {"a;b=c", "\"a;b=c\""},
        {"say \"hi\" \\ bye", "\"say \\\"hi\\\" \\\\ bye\""},
        {"line\nbreak\r\ttab", "\"line\\x0Abreak\\x0D\\x09tab\""},
        {"del\x7f", "\"del\\x7F\""},
        {"100%1", "\"100\\x251\""},
        {"\xC3(", "\"\\xC3(\""},                  // a lead byte without its continuation
        {"\xC0\xAF", "\"\\xC0\\xAF\""},           // an over-long form of '/'
        {"\xC2\x85", "\"\\xC2\\x85\""},           // C1 control NEL
        {"\xE2\x80\xA8", "\"\\xE2\\x80\\xA8\""},  // LINE SEPARATOR
        {"\xED\xA0\x80", "\"\\xED\\xA0\\x80\""},  // a surrogate
        {std::string(96, 'a'), std::string(96, 'a')},
        {std::string(97, 'a'), "\"" + std::string(96, 'a') + "...\""},
        // A character cut by the limit is not left half written.
        {std::string(95, 'a') + "Ж", "\"" + std::string(95, 'a') + "\\xD0...\""},
    };
    for (const EscapeCase& c : cases) {
        char out[kVerdictValueSize];
        EscapeVerdictValue(c.text.c_str(), out, sizeof out);
        EXPECT_EQ(std::string(out), c.written) << c.text;
    }
}

// Whatever bytes a reader name holds, the line has no control character and
// every field stays in its place.
TEST(VerdictValue, NoByteBreaksTheLine)
{
    std::string name;
    for (int byte = 1; byte < 256; ++byte) {
        name.push_back(static_cast<char>(byte));
    }
    for (std::size_t start = 0; start < name.size(); start += 32) {
        const std::string piece = name.substr(start, 32);
        const VerdictFacts facts{"-check", VerdictRoad::kConnection, 4, 0, 0x80100009, piece.c_str(), 0, nullptr};
        VerdictFields fields;
        BuildVerdictFields(facts, 1, "user\n;x=y", &fields);
        char line[kVerdictLineSize];
        JoinVerdictFields(fields, line, sizeof line);
        for (const char* p = line; *p != '\0'; ++p) {
            const auto byte = static_cast<unsigned char>(*p);
            EXPECT_TRUE(byte >= 0x20 && byte != 0x7F) << "byte " << int{byte} << " at " << start;
        }
        EXPECT_NE(std::strstr(line, " ; szi=\"\" ; label=\"\" ; version="), nullptr) << line;
        EXPECT_NE(std::strstr(line, " ; user=\"user\\x0A;x=y\""), nullptr) << line;
    }
}

}  // namespace
