#include "app/CommandDriver.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <new>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "card/PcscErrorText.h"
#include "card/ReaderSession.h"
#include "support/AllocationSpy.h"
#include "support/ArgumentVector.h"
#include "support/CapturedOutput.h"
#include "support/ConsoleText.h"
#include "support/FakePcsc.h"
#include "support/GenuineModule.h"
#include "support/TempDirectory.h"

namespace {

const std::string kBanner = "varnicle.exe версия 1.00.00.01\n";
const std::string kConnecting = "\nПодключение считывателя А (#First)...\n";
const std::string kControlling = "Контроль СЗИ...\n";
const std::string kPassed = "Контроль СЗИ успешно выполнен.\n";
const std::string kElapsed = "Выполнено (T сек.)\n";
const std::string kStart = kBanner + kConnecting;
const std::string kNoCommand = "Ошибка! Не указана команда! Используйте -help для получения информации о командах.\n";
const std::string kUnknownCommand =
    "Ошибка! Неизвестная команда! Используйте -help для получения информации о командах.\n";
const std::string kHelpUnknown = "Не указана команда! Используйте -help для получения информации о командах.";
const std::string kSerial = "00 1A 2B 3C 4D 5E 6F 9000";
const std::string kSerialDigits = "001A2B3C4D5E ";

const std::string kUsage =
    "Для запуска используйте строку:\n"
    "varnicle.exe <команда> [параметры]\n"
    "команда:\n"
    "  -check\t- Неключевой контроль СЗИ\n"
    "  -keycheck\t- Ключевой контроль СЗИ \n"
    "  -help\t\t- описание [команды] или это описание \n"
    "параметры:\n"
    "  -szi\t\t- режим контроля (RU.07.3815.00001 | RU.07.3815.00002 | RU.07.3815.00003)\n"
    "  -silent\t- запрет вывода сообщений на экран, кроме серийного номера СЗИ\n"
    "  -a\t\t- считыватель A (#First)\n"
    "  -trace\t- режим протокола APDU, только заголовки или все: [header | data]\n";
const std::string kDesignations =
    " где режим контроля:\n"
    " \tRU.07.3815.00001 - СЗИ ST23L80A\n"
    " \tRU.07.3815.00002 - СЗИ ST23R160\n"
    " \tRU.07.3815.00003 - СЗИ ST31H320\n"
    "\n";
const std::string kCheckHelp = "Неключевой контроль СЗИ:\n -check [-szi <режим контроля>]\n" + kDesignations;
const std::string kKeyCheckHelp = "Ключевой контроль СЗИ:\n -keycheck [-szi <режим контроля>]\n" + kDesignations;

struct DriverRun {
    int status;
    std::string output;
};

class CommandDriverTest : public testing::Test {
protected:
    void SetUp() override { Reset(); }

    // Loops over cases call this under ASSERT_NO_FATAL_FAILURE.
    static void Reset()
    {
        fake().Reset();
        g_readerSession = ReaderSession{};
        std::memset(g_traceCopy, 0, sizeof g_traceCopy);
    }

    static FakePcsc& fake() { return FakePcsc::Get(); }

    void WriteReaders(const std::string& contents) { directory_.Write("readers.ini", contents); }

    static DriverRun Drive(std::vector<std::string> arguments)
    {
        arguments.insert(arguments.begin(), "varnicle.exe");
        ArgumentVector argv(std::move(arguments));
        DriverRun run{-1, ""};
        run.output = CaptureOutput([&] { run.status = CommandDriver(argv.Count(), argv.Pointers()); });
        // The elapsed time is the only part of the output that varies.
        static const std::regex elapsed(ConsoleText("Выполнено") + " \\([0-9]+\\.[0-9]{3} " + ConsoleText("сек") +
                                        "\\.\\)\n");
        run.output = std::regex_replace(run.output, elapsed, ConsoleText(kElapsed));
        return run;
    }

    // Calls of a run that reaches the transaction, from the first to BeginTransaction.
    static std::vector<std::string> OpeningCalls(const std::string& reader = "Test Reader")
    {
        return {"EstablishContext scope=0", "Connect reader=" + reader + " share=2 protocols=3",
                "GetAttrib 00090303 size=33", "BeginTransaction"};
    }

    TempDirectory directory_{true};
};

struct FrontCase {
    std::vector<std::string> arguments;
    std::string output;
};

void PrintTo(const FrontCase& c, std::ostream* os)
{
    for (const std::string& argument : c.arguments) {
        *os << '[' << argument << ']';
    }
}

class DriverFrontEnd : public CommandDriverTest, public testing::WithParamInterface<FrontCase> {};

TEST_P(DriverFrontEnd, PrintsAndFails)
{
    WriteReaders("[Readers]\n#First = Test Reader\n");
    const DriverRun run = Drive(GetParam().arguments);
    EXPECT_EQ(run.output, ConsoleText(GetParam().output));
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(fake().calls.empty());
}

const std::string kBadParameters = " Неправильные параметры.\n";

INSTANTIATE_TEST_SUITE_P(
    Roads, DriverFrontEnd,
    testing::Values(FrontCase{{}, kNoCommand}, FrontCase{{"-foo"}, kUnknownCommand},
                    FrontCase{{"-Check"}, kUnknownCommand}, FrontCase{{"check"}, kUnknownCommand},
                    FrontCase{{"-chec"}, kUnknownCommand}, FrontCase{{""}, kUnknownCommand},
                    FrontCase{{"-help"}, kUsage}, FrontCase{{"-helpme"}, kUsage},
                    FrontCase{{"-help", "-check"}, kCheckHelp}, FrontCase{{"-help", "-checkall"}, kCheckHelp},
                    FrontCase{{"-help", "-check", "-szi", "x"}, kCheckHelp},
                    FrontCase{{"-help", "-keycheck"}, kKeyCheckHelp}, FrontCase{{"-help", "-help"}, kUsage},
                    FrontCase{{"-help", "-helpme"}, kUsage}, FrontCase{{"-help", "-chec"}, kHelpUnknown},
                    FrontCase{{"-help", "-CHECK"}, kHelpUnknown}, FrontCase{{"-help", "-silent"}, kHelpUnknown},
                    FrontCase{{"-check", "-szi"}, "Ошибка: недостаточно параметров (-szi)!" + kBadParameters},
                    FrontCase{{"-check", "-silent", "-szi"}, "Ошибка: недостаточно параметров (-szi)!"},
                    FrontCase{{"-keycheck", "-szi", "RU.07.3815.00004"},
                              "Ошибка: некорректное значения параметра (-szi)!" + kBadParameters},
                    FrontCase{{"-check", "-a"}, "Ошибка: недостаточно параметров (-a)!" + kBadParameters},
                    FrontCase{{"-check", "foo"}, "Ошибка: неизвестная опция (foo)!" + kBadParameters},
                    FrontCase{{"-check", "-silent", "foo"}, "Ошибка: неизвестная опция (foo)!"},
                    FrontCase{{"-check", "-SILENT"}, "Ошибка: неизвестная опция (-SILENT)!" + kBadParameters}));

TEST_F(CommandDriverTest, WithoutReaderNameTheConnectionFails)
{
    const std::string badName =
        "Ошибка! Невозможно подключиться к СЗИ!Ошибка! Transmit: Некорректное наименование "
        "считывателя.\n";
    DriverRun run = Drive({"-check"});
    EXPECT_EQ(run.output, ConsoleText(kStart + badName));
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(fake().calls.empty());

    run = Drive({"-check", "-silent"});
    EXPECT_EQ(run.output, "");
    EXPECT_EQ(run.status, 1);

    // An empty name is a name: the context is established, the reader refused.
    run = Drive({"-check", "-a", ""});
    EXPECT_EQ(run.output, ConsoleText(kStart + badName));
    EXPECT_EQ(fake().calls, std::vector<std::string>{"EstablishContext scope=0"});

    // 64 bytes from readers.ini are stored whole and refused at the connection.
    WriteReaders("[Readers]\n#First = " + std::string(64, 'R') + "\n");
    run = Drive({"-keycheck"});
    EXPECT_EQ(run.output, ConsoleText(kStart + badName));
}

struct PassCase {
    std::vector<std::string> arguments;
    TestModule module;
    bool keyControl;
};

void PrintTo(const PassCase& c, std::ostream* os)
{
    for (const std::string& argument : c.arguments) {
        *os << argument << ' ';
    }
    *os << "module " << static_cast<int>(c.module);
}

class DriverPasses : public CommandDriverTest, public testing::WithParamInterface<PassCase> {};

TEST_P(DriverPasses, PrintsTheLabel)
{
    const PassCase& c = GetParam();
    WriteReaders("[Readers]\n#First = Test Reader\n");
    const ModuleDialogue dialogue = GenuineDialogue(c.module, c.keyControl);
    const std::string label = dialogue.labelPrefix + kSerialDigits;

    for (const bool silent : {false, true}) {
        ASSERT_NO_FATAL_FAILURE(Reset());
        ScriptSerial(fake(), kSerial);
        ScriptDialogue(fake(), dialogue);
        std::vector<std::string> arguments = c.arguments;
        if (silent) {
            arguments.push_back("-silent");
        }
        const DriverRun run = Drive(arguments);
        EXPECT_EQ(run.status, 0);
        if (silent) {
            EXPECT_EQ(run.output, ConsoleText(label));
        } else {
            EXPECT_EQ(run.output,
                      ConsoleText(kStart + kControlling + kPassed + "Номер СЗИ: " + label + "\n" + kElapsed));
        }
        EXPECT_EQ(fake().unexpected, 0);
        EXPECT_EQ(fake().badArguments, 0);
        EXPECT_EQ(fake().nextExchange, fake().exchanges.size());
        std::vector<std::string> calls = OpeningCalls();
        for (const FakePcsc::Exchange& exchange : fake().exchanges) {
            calls.push_back("Transmit T1 " + HexString(exchange.command));
        }
        calls.push_back("EndTransaction 0");
        calls.push_back("Disconnect 2");
        EXPECT_EQ(fake().calls, calls);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Modules, DriverPasses,
    testing::Values(PassCase{{"-check"}, TestModule::kST23R160, false},
                    PassCase{{"-keycheck"}, TestModule::kST23R160, true},
                    PassCase{{"-check"}, TestModule::kST23L80, false},
                    PassCase{{"-keycheck", "-szi", "RU.07.3815.00001"}, TestModule::kST23L80, true},
                    PassCase{{"-checkall", "-szi", "ru.07.3815.00003"}, TestModule::kST31H320, false},
                    PassCase{{"-keycheck"}, TestModule::kST31H320, true}));

TEST_F(CommandDriverTest, ReaderNameFromOptionReplacesTheFile)
{
    WriteReaders("[Readers]\n#First = Test Reader\n");
    ScriptSerial(fake(), kSerial);
    ScriptDialogue(fake(), GenuineDialogue(TestModule::kST23L80, false));
    const DriverRun run = Drive({"-check", "-silent", "-a", "Other Reader"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, ConsoleText("РОСС RU.07.3815.00001." + kSerialDigits));
    ASSERT_GE(fake().calls.size(), 2u);
    EXPECT_EQ(fake().calls[1], "Connect reader=Other Reader share=2 protocols=3");
}

TEST_F(CommandDriverTest, ShortSerialAnswerPrintsZerosForMissingBytes)
{
    WriteReaders("[Readers]\n#First = Test Reader\n");
    ScriptSerial(fake(), "A1 B2 C3 9000");
    ScriptDialogue(fake(), GenuineDialogue(TestModule::kST31H320, true));
    const DriverRun run = Drive({"-keycheck", "-silent"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, ConsoleText("РОСС RU.07.3815.00003.A1B2C3000000 "));
}

// What a failing run prints after the opening lines, and how the card ends.
struct FailCase {
    const char* name;
    std::function<void(FakePcsc&)> script;
    std::string output;             // after banner and connecting line
    std::vector<std::string> tail;  // calls after the opening ones (or all calls when opening is false)
    bool opening;
    std::vector<std::string> extraArguments;
};

void PrintTo(const FailCase& c, std::ostream* os)
{
    *os << c.name;
}

std::string PcscMessage(std::uint32_t value)
{
    char code[16];
    std::snprintf(code, sizeof code, "%08X", value);
    return std::string("Ошибка! ") + code + ", " + PcscErrorText(value);
}

const std::string kNotPerformed = "Ошибка! Контроль СЗИ не выполнен!";
const std::string kNotPassed = "Ошибка! Контроль СЗИ не пройден!\n";
const std::string kNoSerial = "Ошибка! Серийный номер СЗИ не получен!";
const std::string kCannotConnect = "Ошибка! Невозможно подключиться к СЗИ!";
const std::vector<std::string> kReleased = {"EndTransaction 0", "Disconnect 2"};

void Genuine(FakePcsc& fake, TestModule module, bool key)
{
    ScriptSerial(fake, kSerial);
    ScriptDialogue(fake, GenuineDialogue(module, key));
}

void WithControlAnswer(FakePcsc& fake, TestModule module, const std::string& answer)
{
    ModuleDialogue dialogue = GenuineDialogue(module, false);
    dialogue.control = answer;
    ScriptSerial(fake, kSerial);
    ScriptDialogue(fake, dialogue);
}

const std::vector<FailCase> kFailCases = {
    {"no PC/SC service",
     [](FakePcsc& f) { f.establishResult = static_cast<LONG>(SCARD_E_NO_SERVICE); },
     kCannotConnect + "Ошибка! Transmit: Ошибка.\n",
     {"EstablishContext scope=0"},
     false,
     {}},
    // System error codes below the generic code must not pass for the channel's own codes.
    {"context refused with ERROR_ACCESS_DENIED",
     [](FakePcsc& f) { f.establishResult = 5; },
     kCannotConnect + "Ошибка! Transmit: Ошибка.\n",
     {"EstablishContext scope=0"},
     false,
     {}},
    {"context refused with ERROR_TOO_MANY_OPEN_FILES",
     [](FakePcsc& f) { f.establishResult = 4; },
     kCannotConnect + "Ошибка! Transmit: Ошибка.\n",
     {"EstablishContext scope=0"},
     false,
     {}},
    {"unknown reader",
     [](FakePcsc& f) { f.connectResult = static_cast<LONG>(SCARD_E_UNKNOWN_READER); },
     kCannotConnect + PcscMessage(0x80100009) + "\n",
     {"EstablishContext scope=0", "Connect reader=Test Reader share=2 protocols=3"},
     false,
     {}},
    {"no card",
     [](FakePcsc& f) { f.connectResult = static_cast<LONG>(SCARD_E_NO_SMARTCARD); },
     kCannotConnect + PcscMessage(0x8010000C) + "\n",
     {"EstablishContext scope=0", "Connect reader=Test Reader share=2 protocols=3"},
     false,
     {}},
    {"ATR not readable",
     [](FakePcsc& f) { f.getAttribResult = static_cast<LONG>(SCARD_W_REMOVED_CARD); },
     kCannotConnect + PcscMessage(0x80100069) + "\n",
     {"EstablishContext scope=0", "Connect reader=Test Reader share=2 protocols=3", "GetAttrib 00090303 size=33"},
     false,
     {}},
    {"transaction refused",
     [](FakePcsc& f) { f.beginResult = static_cast<LONG>(SCARD_E_SHARING_VIOLATION); },
     "Ошибка! Невозможно открыть транзакцию!" + PcscMessage(0x8010000B) + "\n",
     {"Disconnect 2"},
     true,
     {}},
    {"serial read refused",
     [](FakePcsc& f) { ScriptSerial(f, "6A82"); },
     kControlling + kNoSerial + "Ошибка! 6A82, Файл или приложение не найдены\n",
     {"Transmit T1 80FE060000", "EndTransaction 0", "Disconnect 2"},
     true,
     {}},
    {"serial read with an unknown status word",
     [](FakePcsc& f) { ScriptSerial(f, "6F00"); },
     kControlling + kNoSerial + "Ошибка! 6F00, Обратитесь к поставщику\n",
     {"Transmit T1 80FE060000", "EndTransaction 0", "Disconnect 2"},
     true,
     {}},
    {"card removed at the serial read",
     [](FakePcsc& f) { f.Answer(kSerialCommand, "", static_cast<LONG>(SCARD_W_REMOVED_CARD)); },
     kControlling + kNoSerial + PcscMessage(0x80100069) + "\n",
     {"Transmit T1 80FE060000", "EndTransaction 0", "Disconnect 2"},
     true,
     {}},
    {"control word wrong",
     [](FakePcsc& f) { WithControlAnswer(f, TestModule::kST23L80, "682F61B5 9000"); },
     kControlling + kNotPassed,
     {"Transmit T1 80FE060000", "Transmit T1 80FE000000", "Transmit T1 80FE020000", "Transmit T1 80FE090000",
      "EndTransaction 0", "Disconnect 2"},
     true,
     {}},
    {"control refused",
     [](FakePcsc& f) { WithControlAnswer(f, TestModule::kST23R160, "6982"); },
     kControlling + kNotPerformed + "Ошибка! 6982, Доступ запрещен\n",
     {"Transmit T1 80FE060000", "Transmit T1 80FE000000", "Transmit T1 80FE020000", "Transmit T1 80FE090000",
      "EndTransaction 0", "Disconnect 2"},
     true,
     {}},
    {"control answer too long",
     [](FakePcsc& f) { WithControlAnswer(f, TestModule::kST23R160, "682F61B400 9000"); },
     kControlling + kNotPerformed + "Ошибка! Transmit: Ошибка параметров.\n",
     {"Transmit T1 80FE060000", "Transmit T1 80FE000000", "Transmit T1 80FE020000", "Transmit T1 80FE090000",
      "EndTransaction 0", "Disconnect 2"},
     true,
     {}},
    {"designation mismatch",
     [](FakePcsc& f) { Genuine(f, TestModule::kST23R160, false); },
     kControlling + kNotPassed,
     {"Transmit T1 80FE060000", "Transmit T1 80FE000000", "EndTransaction 0", "Disconnect 2"},
     true,
     {"-szi", "RU.07.3815.00003"}},
    {"release fails after a failure",
     [](FakePcsc& f) {
         WithControlAnswer(f, TestModule::kST23R160, "6982");
         f.disconnectResult = static_cast<LONG>(SCARD_E_INVALID_HANDLE);
     },
     kControlling + kNotPerformed + "Ошибка CloseReader(A, 00000004)Ошибка! 6982, Доступ запрещен\n",
     {"Transmit T1 80FE060000", "Transmit T1 80FE000000", "Transmit T1 80FE020000", "Transmit T1 80FE090000",
      "EndTransaction 0", "Disconnect 2"},
     true,
     {}},
};

class DriverFails : public CommandDriverTest, public testing::WithParamInterface<FailCase> {};

TEST_P(DriverFails, ReleasesAndReports)
{
    const FailCase& c = GetParam();
    WriteReaders("[Readers]\n#First = Test Reader\n");
    for (const bool silent : {false, true}) {
        ASSERT_NO_FATAL_FAILURE(Reset());
        c.script(fake());
        std::vector<std::string> arguments = {"-check"};
        arguments.insert(arguments.end(), c.extraArguments.begin(), c.extraArguments.end());
        if (silent) {
            arguments.push_back("-silent");
        }
        const DriverRun run = Drive(arguments);
        EXPECT_EQ(run.status, 1) << c.name;
        if (silent) {
            // Only the release failure is printed under -silent.
            const bool releaseFails = fake().disconnectResult != SCARD_S_SUCCESS;
            EXPECT_EQ(run.output, releaseFails ? ConsoleText("Ошибка CloseReader(A, 00000004)") : "") << c.name;
        } else {
            EXPECT_EQ(run.output, ConsoleText(kStart + c.output)) << c.name;
        }
        std::vector<std::string> calls = c.opening ? OpeningCalls() : std::vector<std::string>{};
        calls.insert(calls.end(), c.tail.begin(), c.tail.end());
        EXPECT_EQ(fake().calls, calls) << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P(Roads, DriverFails, testing::ValuesIn(kFailCases));

TEST_F(CommandDriverTest, ReleaseFailureAfterSuccessKeepsTheVerdict)
{
    WriteReaders("[Readers]\n#First = Test Reader\n");
    for (const bool silent : {false, true}) {
        ASSERT_NO_FATAL_FAILURE(Reset());
        Genuine(fake(), TestModule::kST23L80, true);
        fake().disconnectResult = static_cast<LONG>(SCARD_E_INVALID_HANDLE);
        const DriverRun run =
            Drive(silent ? std::vector<std::string>{"-keycheck", "-silent"} : std::vector<std::string>{"-keycheck"});
        EXPECT_EQ(run.status, 0);
        const std::string label = "РОСС RU.07.3815.00001." + kSerialDigits;
        EXPECT_EQ(run.output, ConsoleText(silent ? label + "Ошибка CloseReader(A, 00000004)"
                                                 : kStart + kControlling + kPassed + "Номер СЗИ: " + label + "\n" +
                                                       kElapsed + "Ошибка CloseReader(A, 00000004)"));
    }
}

// What no handler below the driver expects, thrown while the transaction is
// open: the catch-all ends the transaction, disconnects and fails.
TEST_F(CommandDriverTest, UnforeseenExceptionReleasesTheCard)
{
    WriteReaders("[Readers]\n#First = Test Reader\n");
    for (const bool silent : {false, true}) {
        ASSERT_NO_FATAL_FAILURE(Reset());
        fake().responder = [](const Bytes& command) -> FakePcsc::Exchange {
            if (command == HexBytes(kSerialCommand)) {
                return {command, HexBytes(kSerial), SCARD_S_SUCCESS, {}};
            }
            throw std::bad_alloc();
        };
        const DriverRun run =
            Drive(silent ? std::vector<std::string>{"-check", "-silent"} : std::vector<std::string>{"-check"});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.output, silent ? "" : ConsoleText(kStart + kControlling + "Непредвиденная ошибка!\n"));
        std::vector<std::string> calls = OpeningCalls();
        calls.insert(calls.end(),
                     {"Transmit T1 80FE060000", "Transmit T1 80FE000000", "EndTransaction 0", "Disconnect 2"});
        EXPECT_EQ(fake().calls, calls);
    }
}

// Each allocation of a failing run made to fail in turn, alone or with every
// later one: among them the handler's copy of the message. The card is
// released whenever it was reached, and the status stays 1.
TEST_F(CommandDriverTest, AllocationFailureAnywhereReleasesTheCard)
{
    namespace spy = allocation_spy;
    struct SpyReset {
        ~SpyReset() { spy::Reset(); }
    } spyReset;
    WriteReaders("[Readers]\n#First = Test Reader\n");
    std::string argument0 = "varnicle.exe";
    std::string argument1 = "-check";
    char* argv[] = {&argument0[0], &argument1[0], nullptr};

    const auto run = [&](std::size_t count, std::size_t skip) {
        fake().bookkeepingBegins = spy::PauseFailures;
        fake().bookkeepingEnds = spy::ResumeFailures;
        ScriptSerial(fake(), kSerial);
        ModuleDialogue dialogue = GenuineDialogue(TestModule::kST23R160, false);
        dialogue.final = "A0A1A2A3A4A5A6A7A8A9AAABACADAEAFB0B1B2B3B4B5B6B7B8B9BABB 5FB9B308 9000";
        ScriptDialogue(fake(), dialogue);
        int status = -1;
        CaptureOutput([&] {
            spy::Reset();
            spy::FailAllocations(count, skip);
            status = CommandDriver(2, argv);
            spy::Reset();
        });
        return status;
    };

    ASSERT_EQ(run(0, 0), 1);
    std::size_t total = 0;
    CaptureOutput([&] {
        spy::Reset();
        CommandDriver(2, argv);
        total = spy::AllocationCount();
        spy::Reset();
    });
    ASSERT_GT(total, 0u);

    for (std::size_t skip = 0; skip < total; ++skip) {
        for (const std::size_t count : {std::size_t{1}, SIZE_MAX}) {
            SCOPED_TRACE("allocation " + std::to_string(skip) + (count == 1 ? " alone" : " and later ones"));
            ASSERT_NO_FATAL_FAILURE(Reset());
            EXPECT_EQ(run(count, skip), 1);
            const std::vector<std::string>& calls = fake().calls;
            const bool began = std::find(calls.begin(), calls.end(), "BeginTransaction") != calls.end();
            if (began) {
                ASSERT_GE(calls.size(), 2u);
                EXPECT_EQ(calls[calls.size() - 2], "EndTransaction 0");
                EXPECT_EQ(calls.back(), "Disconnect 2");
            } else {
                EXPECT_TRUE(calls.empty()) << calls.front();
            }
        }
    }
}

TEST_F(CommandDriverTest, HeadersTraceOfAWholeRun)
{
    WriteReaders("[Readers]\n#First = Test Reader\n");
    Genuine(fake(), TestModule::kST31H320, false);
    fake().activeProtocol = SCARD_PROTOCOL_T0;
    const DriverRun run = Drive({"-check", "-trace", "headers", "-silent"});
    EXPECT_EQ(run.status, 0);
    const std::string piece = "\nTest Reader\nCLA=";
    EXPECT_EQ(run.output, ConsoleText(piece + "80 INS=FE P1=06 P2=00 P3=00... SW=9000\n" +  //
                                      piece + "80 INS=FE P1=00 P2=00 P3=00... SW=9000\n" +  //
                                      piece + "80 INS=FE P1=02 P2=00 P3=00... SW=9000\n" +  //
                                      piece + "80 INS=FE P1=08 P2=00 P3=00... SW=9000\n" +  //
                                      "РОСС RU.07.3815.00003." + kSerialDigits));
    for (const std::string& call : fake().calls) {
        EXPECT_EQ(call.rfind("Transmit T1", 0), std::string::npos) << call;
    }
}

}  // namespace
