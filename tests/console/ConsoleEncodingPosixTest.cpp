#include "console/ConsoleEncodingPosix.h"

#include <clocale>
#include <cstdlib>
#include <fstream>
#include <string>

#include <gtest/gtest.h>
#include <langinfo.h>

#include "console/ConsoleEncoding.h"
#include "console/LogPrintf.h"
#include "support/CapturedOutput.h"

namespace {

std::string Convert(const char* codeset, const std::string& text, std::size_t consoleSize = 1024)
{
    std::string console(consoleSize, '\x7F');
    const std::size_t count = ConvertToCodeset(codeset, text.data(), text.size(), &console[0], console.size());
    EXPECT_LT(count, consoleSize);
    EXPECT_EQ(console[count], '\0');
    return console.substr(0, count);
}

TEST(ConsoleEncodingPosixTest, Utf8AndAsciiCodesetsPassThrough)
{
    for (const char* codeset : {"UTF-8", "utf8", "ANSI_X3.4-1968", "US-ASCII"}) {
        EXPECT_TRUE(PassesUtf8Through(codeset)) << codeset;
    }
    for (const char* codeset : {"KOI8-R", "CP866", "ISO-8859-5", "CP1251", ""}) {
        EXPECT_FALSE(PassesUtf8Through(codeset)) << codeset;
    }
}

TEST(ConsoleEncodingPosixTest, ConvertsToANamedCodeset)
{
    struct Case {
        const char* codeset;
        std::string text;
        std::string converted;
    };
    const Case cases[] = {
        {"KOI8-R", "Привет", "\xF0\xD2\xC9\xD7\xC5\xD4"},
        {"KOI8-R", "Ошибка! СЗИ", "\xEF\xDB\xC9\xC2\xCB\xC1! \xF3\xFA\xE9"},
        {"KOI8-R", "Ёё", "\xB3\xA3"},
        {"CP866", "Привет", "\x8F\xE0\xA8\xA2\xA5\xE2"},
        {"CP866", "Ошибка! СЗИ", "\x8E\xE8\xA8\xA1\xAA\xA0! \x91\x87\x88"},
        {"CP866", "Ёё", "\xF0\xF1"},
        {"CP866", "plain ASCII %s\t\n", "plain ASCII %s\t\n"},
        // Characters the codeset lacks: one '?' each.
        {"KOI8-R", "a€b中c", "a?b?c"},
        {"CP866", "𝄞Я", "?\x9F"},
        // Bytes that are not UTF-8, and a letter cut after its lead byte.
        {"KOI8-R", "x\xFFy\x80z", "x?y?z"},
        {"KOI8-R", "Я\xD0...", "\xF1?..."},
        {"KOI8-R", "end\xD0", "end?"},
        {"KOI8-R", "", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Convert(c.codeset, c.text), c.converted) << c.codeset << " " << c.text;
    }
}

TEST(ConsoleEncodingPosixTest, ConversionStopsWhenTheConsoleBufferIsFull)
{
    EXPECT_EQ(Convert("KOI8-R", "ПриветПривет", 4), "\xF0\xD2\xC9");
    EXPECT_EQ(Convert("KOI8-R", "€€€€€", 3), "??");
    // Two bytes a character: the second does not fit in the three left.
    EXPECT_EQ(Convert("UTF-16LE", "abc", 4), std::string("a\0", 2));
}

TEST(ConsoleEncodingPosixTest, EnvironmentThatPassesUtf8Through)
{
    struct Case {
        const char* lcAll;
        const char* lcCtype;
        const char* lang;
        bool passes;
    };
    const Case cases[] = {
        {nullptr, nullptr, nullptr, true},
        {"", "", "", true},
        {nullptr, nullptr, "C", true},
        {nullptr, nullptr, "POSIX", true},
        {nullptr, nullptr, "C.UTF-8", true},
        {nullptr, nullptr, "ru_RU.UTF-8", true},
        {nullptr, nullptr, "ru_RU.utf8", true},
        {nullptr, nullptr, "en_US.UTF-8@euro", true},
        {nullptr, nullptr, "ru_RU.KOI8-R", false},
        {nullptr, nullptr, "ru_RU", false},
        {nullptr, nullptr, "russian", false},
        {nullptr, nullptr, "ru_RU.UTF-16", false},
        {nullptr, nullptr, "ru_RU.UTF-8x", false},
        // LC_ALL, then LC_CTYPE, then LANG: the first one set and not empty decides.
        {"ru_RU.KOI8-R", nullptr, "C.UTF-8", false},
        {"", "ru_RU.CP1251", "C.UTF-8", false},
        {nullptr, "C", "ru_RU.KOI8-R", true},
        {"ru_RU.UTF-8", "ru_RU.KOI8-R", "ru_RU.KOI8-R", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(EnvironmentPassesUtf8Through(c.lcAll, c.lcCtype, c.lang), c.passes)
            << (c.lcAll ? c.lcAll : "(null)") << " / " << (c.lcCtype ? c.lcCtype : "(null)") << " / "
            << (c.lang ? c.lang : "(null)");
    }
}

// Runs the real printer in a given LC_CTYPE locale and puts the old one back.
class ConsoleLocaleTest : public testing::Test {
protected:
    void SetUp() override
    {
        // The encoding sets the locale from the environment on first use;
        // let that happen before a test chooses its own.
        char console[1];
        ConvertForConsole("", 0, console, sizeof console);
        saved_ = std::setlocale(LC_CTYPE, nullptr);
    }

    void TearDown() override { std::setlocale(LC_CTYPE, saved_.c_str()); }

    std::string saved_;
};

TEST_F(ConsoleLocaleTest, Utf8GoesOutUnchangedInUtf8AndCLocales)
{
    for (const char* locale : {"C.UTF-8", "C"}) {
        ASSERT_NE(std::setlocale(LC_CTYPE, locale), nullptr) << locale;
        const std::string output =
            CaptureOutput([] { LogPrintf("Ошибка! %s %04X\n", "Невозможно подключиться к СЗИ!", 0x6A82u); });
        EXPECT_EQ(output, "Ошибка! Невозможно подключиться к СЗИ! 6A82\n") << locale;
    }
}

// A KOI8-R locale built with localedef into a private directory (LOCPATH),
// so the machine's locale set stays as it is. Needs the locales package.
class Koi8LocaleTest : public ConsoleLocaleTest {
protected:
    static void SetUpTestSuite()
    {
        char pattern[] = "/tmp/varnicle-locale-XXXXXX";
        if (mkdtemp(pattern) == nullptr) {
            return;
        }
        directory_ = pattern;
        const std::string command = "localedef -i ru_RU -f KOI8-R '" + directory_ + "/ru_RU.KOI8-R' >/dev/null 2>&1";
        const int status = std::system(command.c_str());
        static_cast<void>(status);  // warnings give a non-zero status; the files decide
        ready_ = std::ifstream(directory_ + "/ru_RU.KOI8-R/LC_CTYPE").good();
    }

    static void TearDownTestSuite()
    {
        if (!directory_.empty()) {
            const int status = std::system(("rm -rf '" + directory_ + "'").c_str());
            static_cast<void>(status);
        }
    }

    void SetUp() override
    {
        ConsoleLocaleTest::SetUp();
        if (!ready_) {
            const char* ci = std::getenv("CI");
            if (ci != nullptr && std::string(ci) == "true") {
                FAIL() << "cannot build a KOI8-R locale (is the locales package installed?)";
            }
            GTEST_SKIP() << "cannot build a KOI8-R locale (is the locales package installed?)";
        }
        setenv("LOCPATH", directory_.c_str(), 1);
        ASSERT_NE(std::setlocale(LC_CTYPE, "ru_RU.KOI8-R"), nullptr);
        ASSERT_STREQ(nl_langinfo(CODESET), "KOI8-R");
    }

    void TearDown() override
    {
        ConsoleLocaleTest::TearDown();
        unsetenv("LOCPATH");
    }

    static std::string directory_;
    static bool ready_;
};

std::string Koi8LocaleTest::directory_;
bool Koi8LocaleTest::ready_ = false;

TEST_F(Koi8LocaleTest, PrinterConvertsToTheLocaleCodeset)
{
    const std::string output = CaptureOutput([] { LogPrintf("Ошибка! %s\n", "СЗИ"); });
    EXPECT_EQ(output, "\xEF\xDB\xC9\xC2\xCB\xC1! \xF3\xFA\xE9\n");
}

TEST_F(Koi8LocaleTest, CutInsideALetterShowsAsQuestionMarkBeforeTheMark)
{
    std::string text = "a";
    for (int i = 0; i < 510; ++i) {
        text += "Ж";
    }
    const std::string output = CaptureOutput([&] { LogPrintf("%s", text.c_str()); });
    EXPECT_EQ(output, "a" + std::string(509, '\xF6') + "?...");
}

}  // namespace
