#include "card/ErrorMessages.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <set>
#include <string>
#include <type_traits>

#include <gtest/gtest.h>

#include "card/CSError.h"
#include "card/PcscErrorText.h"
#include "card/ReaderSession.h"
#include "support/CapturedOutput.h"
#include "support/ConsoleText.h"
#include "support/FakePcsc.h"

namespace {

// No text for it on either platform: the customer bit is never a system code.
constexpr std::uint32_t kValueWithoutText = 0x2000001F;

class ErrorMessagesTest : public testing::Test {
protected:
    void SetUp() override
    {
        FakePcsc::Get().Reset();
        g_readerSession = ReaderSession{};
    }
};

std::string Message(ResultCode code, bool lookup, std::uint16_t statusWord, std::uint32_t pcscError)
{
    g_readerSession.lastStatusWord = statusWord;
    g_readerSession.lastPcscError = pcscError;
    return ResultMessage(code, lookup).Text();
}

TEST_F(ErrorMessagesTest, MessageForms)
{
    struct Case {
        ResultCode code;
        bool lookup;
        std::uint16_t statusWord;
        std::uint32_t pcscError;
        const char* expected;
    };
    const Case cases[] = {
        {1, false, 0, 0, "Ошибка! Transmit: Некорректный контекст передачи данных."},
        {2, true, 0, 0, "Ошибка! Transmit: Ошибка параметров."},
        {3, false, 0, 0, "Ошибка! Transmit: Некорректное наименование считывателя."},
        {5, true, 0x63C2, 0, "Ошибка! 63C2, Доступ запрещен, количество оставшихся попыток предъявления:2"},
        {5, true, 0x6a82, 0, "Ошибка! 6A82, Файл или приложение не найдены"},
        {5, true, 0x912D, 0,
         "Ошибка! 912D, Некорректное значение идентификатора параметров криптографического алгоритма"},
        {5, true, 0x6F00, 0, "Ошибка! 6F00, Обратитесь к поставщику"},
        {5, true, 0x0000, 0, "Ошибка! 0000, Обратитесь к поставщику"},
        {5, false, 0x63C2, 0, "Ошибка! Transmit: Команда не выполнена, SW."},
        {4, true, 0x6A82, kValueWithoutText, "Ошибка! 2000001F, Transmit: Ошибка."},
        {6, true, 0x6A82, 0, "Ошибка! Transmit: Ошибка."},
        {0xA004, false, 0, 0, "Ошибка! Transmit: Ошибка."},
        {0x8010002E, true, 0, 0x8010002E, "Ошибка! Transmit: Ошибка."},
        {0xFFFFFFFF, false, 0, 0, "Ошибка! Transmit: Ошибка."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(Message(c.code, c.lookup, c.statusWord, c.pcscError), c.expected);
    }
}

TEST_F(ErrorMessagesTest, PcscFormCarriesTheSystemText)
{
    for (std::uint32_t value : {0x8010000Bu, kShortAnswerError, 0x1Fu}) {
        SCOPED_TRACE(value);
        char code[16];
        std::snprintf(code, sizeof code, "%08X", value);
        const std::string text = PcscErrorText(value);
        EXPECT_LE(text.size(), kErrorTextLimit);
        EXPECT_EQ(Message(4, false, 0x9000, value), "Ошибка! " + std::string(code) + ", " + text);
    }
    EXPECT_STREQ(PcscErrorText(kValueWithoutText), "Transmit: Ошибка.");
    // Which values have a system text is the platform's: see PcscErrorText*Test.cpp.
}

TEST_F(ErrorMessagesTest, RaiseOnResultWithSuccessDoesNothing)
{
    for (bool silent : {false, true}) {
        const std::string output = CaptureOutput(
            [silent] { EXPECT_NO_THROW(RaiseOnResult(0, "Ошибка! Невозможно подключиться к СЗИ!", silent, true)); });
        EXPECT_EQ(output, "");
    }
}

TEST_F(ErrorMessagesTest, RaiseOnResultPrintsTheContextUnlessSilentAndThrows)
{
    struct Case {
        bool silent;
        const char* printed;
    };
    for (const Case& c : {Case{false, "Ошибка! Невозможно подключиться к СЗИ!"}, Case{true, ""}}) {
        SCOPED_TRACE(c.silent);
        std::string thrown;
        const std::string output = CaptureOutput([&] {
            try {
                RaiseOnResult(3, "Ошибка! Невозможно подключиться к СЗИ!", c.silent, false);
                ADD_FAILURE() << "no CSError";
            } catch (const CSError& error) {
                thrown = error.Message().Text();
            }
        });
        EXPECT_EQ(output, ConsoleText(c.printed));
        EXPECT_EQ(thrown, "Ошибка! Transmit: Некорректное наименование считывателя.");
    }
}

TEST_F(ErrorMessagesTest, RaiseOnResultUsesTheStatusWordLookupItIsGiven)
{
    g_readerSession.lastStatusWord = 0x6982;
    for (bool lookup : {true, false}) {
        std::string thrown;
        CaptureOutput([&] {
            try {
                RaiseOnResult(5, "Ошибка! Контроль СЗИ не выполнен!", true, lookup);
            } catch (const CSError& error) {
                thrown = error.Message().Text();
            }
        });
        EXPECT_EQ(thrown, lookup ? "Ошибка! 6982, Доступ запрещен" : "Ошибка! Transmit: Команда не выполнена, SW.");
    }
}

// Only a handler for CSError itself, or a catch-all, receives it.
static_assert(!std::is_base_of<std::exception, CSError>::value, "CSError has no standard base");
static_assert(!std::is_polymorphic<CSError>::value, "CSError has no virtual members");

std::string TextOf(const WipeString& text)
{
    return std::string(text.Text(), text.Size());
}

TEST(CSErrorTest, MessageFromText)
{
    EXPECT_EQ(TextOf(CSError(nullptr).Message()), "");

    const CSError error("Ошибка! Контроль СЗИ не пройден!");
    const CSError copy(error);
    EXPECT_EQ(TextOf(copy.Message()), "Ошибка! Контроль СЗИ не пройден!");
}

TEST(StatusWordTableTest, Shape)
{
    EXPECT_EQ(StatusWordTable[0].statusWord, 0x0000);
    EXPECT_STREQ(StatusWordTable[0].text, "Обратитесь к поставщику");
    EXPECT_EQ(StatusWordTable[1].statusWord, 0x6283);
    EXPECT_STREQ(StatusWordTable[1].text, "Выбранный файл деактивирован");
    EXPECT_EQ(StatusWordTable[71].statusWord, 0x912D);

    std::set<std::uint16_t> seen;
    std::size_t longest = 0;
    for (const StatusWordEntry& entry : StatusWordTable) {
        SCOPED_TRACE(entry.statusWord);
        EXPECT_TRUE(seen.insert(entry.statusWord).second);
        longest = std::max(longest, std::strlen(entry.text));
        EXPECT_STREQ(StatusWordText(entry.statusWord), entry.text);
    }
    EXPECT_EQ(longest, 147u);

    EXPECT_STREQ(StatusWordText(0x6A95),
                 "Неправильное назначение ключа или назначение несовместимо с алгоритмом ключа");
    EXPECT_STREQ(StatusWordText(0x63CA), "Доступ запрещен, количество оставшихся попыток предъявления:10");
    EXPECT_STREQ(StatusWordText(0x9000), "Обратитесь к поставщику");
}

}  // namespace
