// Whole driver roads, failing and succeeding, with every freed block recorded:
// no freed block may still hold a message, the label or a CSError text. Where
// such a text stood, its block shows 0x5A bytes and the NUL after them.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/CommandDriver.h"
#include "card/PcscErrorText.h"
#include "card/ReaderSession.h"
#include "support/AllocationSpy.h"
#include "support/ArgumentVector.h"
#include "support/CapturedOutput.h"
#include "support/ConsoleText.h"
#include "support/FakePcsc.h"
#include "support/GenuineModule.h"
#include "support/TempDirectory.h"

namespace spy = allocation_spy;

namespace {

const std::string kSerial = "00 1A 2B 3C 4D 5E 6F 9000";
const std::string kSerialDigits = "001A2B3C4D5E ";
constexpr std::size_t kWindow = 12;

struct WipeCase {
    const char* name;
    std::vector<std::string> arguments;
    void (*script)(FakePcsc& fake);
    int status;
    // Texts the run builds: thrown messages and the label.
    std::vector<std::string> texts;
};

void PrintTo(const WipeCase& c, std::ostream* os)
{
    *os << c.name;
}

void NoScript(FakePcsc&)
{
}

void PassingST23L80Check(FakePcsc& fake)
{
    ScriptSerial(fake, kSerial);
    ScriptDialogue(fake, GenuineDialogue(TestModule::kST23L80, false));
}

void PassingST31H320KeyCheck(FakePcsc& fake)
{
    ScriptSerial(fake, kSerial);
    ScriptDialogue(fake, GenuineDialogue(TestModule::kST31H320, true));
}

void PassingST23R160KeyCheck(FakePcsc& fake)
{
    ScriptSerial(fake, kSerial);
    ScriptDialogue(fake, GenuineDialogue(TestModule::kST23R160, true));
}

void UnknownReader(FakePcsc& fake)
{
    fake.connectResult = SCARD_E_UNKNOWN_READER;
}

void TransactionRefused(FakePcsc& fake)
{
    fake.beginResult = SCARD_E_SHARING_VIOLATION;
}

void SerialNotFound(FakePcsc& fake)
{
    ScriptSerial(fake, "6A82");
}

void FinalWordDiffers(FakePcsc& fake)
{
    ModuleDialogue dialogue = GenuineDialogue(TestModule::kST23R160, false);
    dialogue.final = "A0A1A2A3A4A5A6A7A8A9AAABACADAEAFB0B1B2B3B4B5B6B7B8B9BABB 5FB9B308 9000";
    ScriptSerial(fake, kSerial);
    ScriptDialogue(fake, dialogue);
}

void ControlRefused(FakePcsc& fake)
{
    ModuleDialogue dialogue = GenuineDialogue(TestModule::kST23L80, false);
    dialogue.control = "6982";
    ScriptSerial(fake, kSerial);
    ScriptDialogue(fake, dialogue);
}

void ControlTooLong(FakePcsc& fake)
{
    ModuleDialogue dialogue = GenuineDialogue(TestModule::kST23L80, true);
    dialogue.control = "9F88EFA3 00 9000";
    ScriptSerial(fake, kSerial);
    ScriptDialogue(fake, dialogue);
}

std::string PcscMessage(std::uint32_t value)
{
    char code[16];
    std::snprintf(code, sizeof code, "%08X", value);
    return std::string("Ошибка! ") + code + ", " + PcscErrorText(value);
}

std::vector<WipeCase> Cases()
{
    const std::string readerArgument = "Wipe Reader";
    return {
        {"ST23L80Passes",
         {"-check", "-a", readerArgument},
         PassingST23L80Check,
         0,
         {"РОСС RU.07.3815.00001." + kSerialDigits}},
        {"ST31H320PassesSilently",
         {"-keycheck", "-silent", "-a", readerArgument},
         PassingST31H320KeyCheck,
         0,
         {"РОСС RU.07.3815.00003." + kSerialDigits}},
        {"ST23R160PassesTraced",
         {"-keycheck", "-szi", "RU.07.3815.00002", "-trace", "data", "-a", readerArgument},
         PassingST23R160KeyCheck,
         0,
         {"РОСС RU.07.3815.00002." + kSerialDigits}},
        {"NoCommand",
         {},
         NoScript,
         1,
         {"Ошибка! Не указана команда! Используйте -help для получения информации о командах."}},
        {"UnknownCommand",
         {"-chek"},
         NoScript,
         1,
         {"Ошибка! Неизвестная команда! Используйте -help для получения информации о командах."}},
        {"BadOption", {"-check", "-trace", "data", "-szi"}, NoScript, 1, {" Неправильные параметры."}},
        {"NoReaderName", {"-check"}, NoScript, 1, {"Ошибка! Transmit: Некорректное наименование считывателя."}},
        {"UnknownReader",
         {"-check", "-a", readerArgument},
         UnknownReader,
         1,
         {PcscMessage(static_cast<std::uint32_t>(SCARD_E_UNKNOWN_READER))}},
        {"TransactionRefused",
         {"-keycheck", "-a", readerArgument},
         TransactionRefused,
         1,
         {PcscMessage(static_cast<std::uint32_t>(SCARD_E_SHARING_VIOLATION))}},
        {"SerialNotFound",
         {"-check", "-a", readerArgument},
         SerialNotFound,
         1,
         {"Ошибка! 6A82, Файл или приложение не найдены"}},
        {"ControlNotPassed",
         {"-check", "-a", readerArgument},
         FinalWordDiffers,
         1,
         {"Ошибка! Контроль СЗИ не пройден!"}},
        {"ControlRefused", {"-check", "-a", readerArgument}, ControlRefused, 1, {"Ошибка! 6982, Доступ запрещен"}},
        {"ControlAnswerTooLong",
         {"-keycheck", "-a", readerArgument},
         ControlTooLong,
         1,
         {"Ошибка! Transmit: Ошибка параметров."}},
    };
}

bool FreedBlockHolds(const std::string& bytes)
{
    return spy::FreedBytesContain(bytes.data(), bytes.size());
}

// A freed block that begins with length bytes of 0x5A and the NUL after them.
bool FreedBlockWipedOver(std::size_t length)
{
    for (std::size_t i = 0; i < spy::FreedCount(); ++i) {
        const spy::FreedBlock& block = spy::Freed(i);
        if (block.size <= length || block.bytes[length] != 0) {
            continue;
        }
        std::size_t wiped = 0;
        while (wiped < length && block.bytes[wiped] == 0x5A) {
            ++wiped;
        }
        if (wiped == length) {
            return true;
        }
    }
    return false;
}

class DriverWipe : public testing::TestWithParam<WipeCase> {
protected:
    void SetUp() override
    {
        FakePcsc::Get().Reset();
        g_readerSession = ReaderSession{};
        std::memset(g_traceCopy, 0, sizeof g_traceCopy);
    }

    void TearDown() override { spy::Reset(); }

    TempDirectory directory_{true};
};

TEST_P(DriverWipe, LeavesNoTextInFreedMemory)
{
    const WipeCase& c = GetParam();
    c.script(FakePcsc::Get());
    std::vector<std::string> arguments = c.arguments;
    arguments.insert(arguments.begin(), "varnicle.exe");
    ArgumentVector argv(arguments);

    int status = -1;
    const std::string output = CaptureOutput([&] {
        spy::ArmForAll();
        status = CommandDriver(argv.Count(), argv.Pointers());
        spy::Disarm();
    });
    ASSERT_EQ(status, c.status) << output;
    ASSERT_FALSE(spy::RecordsOverflowed());
    ASSERT_GT(spy::FreedCount(), 0u);

    for (const std::string& text : c.texts) {
        SCOPED_TRACE(text);
        // The run really built the text: it was printed.
        EXPECT_NE(output.find(ConsoleText(text)), std::string::npos) << output;
        EXPECT_FALSE(FreedBlockHolds(text));
        // No piece of it either, except pieces that came in from the command line.
        for (std::size_t at = 0; at + kWindow <= text.size(); ++at) {
            const std::string piece = text.substr(at, kWindow);
            bool fromArguments = false;
            for (const std::string& argument : arguments) {
                fromArguments = fromArguments || argument.find(piece) != std::string::npos;
            }
            if (!fromArguments) {
                EXPECT_FALSE(FreedBlockHolds(piece)) << "piece at " << at;
            }
        }
        EXPECT_TRUE(FreedBlockWipedOver(text.size()));
    }
}

INSTANTIATE_TEST_SUITE_P(Roads, DriverWipe, testing::ValuesIn(Cases()),
                         [](const testing::TestParamInfo<WipeCase>& info) { return std::string(info.param.name); });

}  // namespace
