#include "app/CommandOptions.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/CapturedOutput.h"
#include "support/ConsoleText.h"
#include "support/TempDirectory.h"

namespace {

struct OptionsCase {
    std::vector<std::string> arguments;
    int accepted;
    int controlMode;
    int silent;
    const char* readerName;  // null: none
    int traceMode;
    std::string output;
};

void PrintTo(const OptionsCase& c, std::ostream* os)
{
    for (const std::string& argument : c.arguments) {
        *os << '[' << argument << ']';
    }
}

class ParsedOptions {
public:
    explicit ParsedOptions(const std::vector<std::string>& arguments) : storage_(arguments)
    {
        for (std::string& argument : storage_) {
            pointers_.push_back(&argument[0]);
        }
        pointers_.push_back(nullptr);
    }
    ~ParsedOptions() { ClearReaderName(&options); }

    int Parse() { return ParseOptions(&options, pointers_.data(), static_cast<int>(storage_.size())); }

    CommandOptions options{0, 0, nullptr, 0};

private:
    std::vector<std::string> storage_;
    std::vector<char*> pointers_;
};

const std::string kBadDesignation = "Ошибка: некорректное значения параметра (-szi)!";

const OptionsCase kCases[] = {
    {{"-silent", "-silent"}, 1, 0, 1, nullptr, 0, ""},
    {{"-szi", "RU.07.3815.00002"}, 1, 1, 0, nullptr, 0, ""},
    {{"-szi", "ru.07.3815.00002"}, 1, 1, 0, nullptr, 0, ""},
    {{"-szi", "RU.07.3815.00001"}, 1, 3, 0, nullptr, 0, ""},
    {{"-szi", "RU.07.3815.00003"}, 1, 5, 0, nullptr, 0, ""},
    {{"-szi", "RU.07.3815.00001", "-szi", "RU.07.3815.00003"}, 1, 5, 0, nullptr, 0, ""},
    {{"-szi", "RU.07.3815.000021"}, 0, 10, 0, nullptr, 0, kBadDesignation},
    {{"-szi", "RU.07.3815.00002 "}, 0, 10, 0, nullptr, 0, kBadDesignation},
    {{"-szi", "RU.07.3815.0000"}, 0, 10, 0, nullptr, 0, kBadDesignation},
    {{"-szi", ""}, 0, 10, 0, nullptr, 0, kBadDesignation},
    {{"-szi", "-silent"}, 0, 10, 0, nullptr, 0, kBadDesignation},
    {{"-szi"}, 0, 0, 0, nullptr, 0, "Ошибка: недостаточно параметров (-szi)!"},
    {{"-silent", "-szi"}, 0, 0, 1, nullptr, 0, "Ошибка: недостаточно параметров (-szi)!"},
    {{"-a"}, 0, 0, 0, nullptr, 0, "Ошибка: недостаточно параметров (-a)!"},
    {{"-a", "-silent"}, 1, 0, 0, "-silent", 0, ""},
    {{"-a", ""}, 1, 0, 0, "", 0, ""},
    {{"-a", "First Reader", "-a", "Second Reader"}, 1, 0, 0, "Second Reader", 0, ""},
    {{"-trace"}, 1, 0, 0, nullptr, 0, ""},
    {{"-trace", "-silent"}, 1, 0, 1, nullptr, 0, ""},
    {{"-trace", "data", "-trace"}, 1, 0, 0, nullptr, 2, ""},
    {{"-trace", "headers"}, 1, 0, 0, nullptr, 1, ""},
    {{"-trace", "headersonly"}, 1, 0, 0, nullptr, 1, ""},
    {{"-trace", "header"}, 1, 0, 0, nullptr, 0, ""},
    {{"-trace", "HEADERS"}, 1, 0, 0, nullptr, 0, ""},
    {{"-trace", "data"}, 1, 0, 0, nullptr, 2, ""},
    {{"-trace", "database"}, 1, 0, 0, nullptr, 2, ""},
    {{"-trace", "dat"}, 1, 0, 0, nullptr, 0, ""},
    {{"-trace", ""}, 1, 0, 0, nullptr, 0, ""},
    {{"-trace", "data", "-trace", "verbose"}, 1, 0, 0, nullptr, 0, ""},
    {{"foo"}, 0, 0, 0, nullptr, 0, "Ошибка: неизвестная опция (foo)!"},
    {{"-silent", "foo"}, 0, 0, 1, nullptr, 0, "Ошибка: неизвестная опция (foo)!"},
    {{"-SILENT"}, 0, 0, 0, nullptr, 0, "Ошибка: неизвестная опция (-SILENT)!"},
    {{"-silentx"}, 0, 0, 0, nullptr, 0, "Ошибка: неизвестная опция (-silentx)!"},
    {{"-a", "Reader", "%s%n"}, 0, 0, 0, "Reader", 0, "Ошибка: неизвестная опция (%s%n)!"},
};

class CommandOptionsTest : public testing::TestWithParam<OptionsCase> {};

TEST_P(CommandOptionsTest, ParsesArguments)
{
    const OptionsCase& c = GetParam();
    ParsedOptions parsed(c.arguments);
    int accepted = -1;
    const std::string output = CaptureOutput([&] { accepted = parsed.Parse(); });

    EXPECT_EQ(accepted, c.accepted);
    EXPECT_EQ(output, ConsoleText(c.output));
    EXPECT_EQ(parsed.options.controlMode, c.controlMode);
    EXPECT_EQ(parsed.options.silent, c.silent);
    EXPECT_EQ(parsed.options.traceMode, c.traceMode);
    if (c.readerName == nullptr) {
        EXPECT_EQ(parsed.options.readerName, nullptr);
    } else {
        ASSERT_NE(parsed.options.readerName, nullptr);
        EXPECT_STREQ(parsed.options.readerName, c.readerName);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, CommandOptionsTest, testing::ValuesIn(kCases));

TEST(ParseDesignationTest, NullAndNonAsciiLetters)
{
    EXPECT_EQ(ParseDesignation(nullptr), 10);
    // Only ASCII a..z are raised; a Cyrillic "Р" in place of the Latin one does not match.
    EXPECT_EQ(ParseDesignation("\xD0\xA0U.07.3815.00001"), 10);
    EXPECT_EQ(ParseDesignation("Ru.07.3815.00003"), 5);
}

TEST(SetReaderNameTest, ReplacesTheCopy)
{
    CommandOptions options{0, 0, nullptr, 0};
    std::string name = "Reader One";
    SetReaderName(&options, name.c_str());
    name[0] = 'X';
    ASSERT_NE(options.readerName, nullptr);
    EXPECT_STREQ(options.readerName, "Reader One");
    SetReaderName(&options, "Reader Two");
    EXPECT_STREQ(options.readerName, "Reader Two");
    ClearReaderName(&options);
    EXPECT_EQ(options.readerName, nullptr);
}

TEST(LoadReaderNameTest, ReadsTheWorkingDirectoryFile)
{
    TempDirectory directory(true);
    CommandOptions options{0, 0, nullptr, 0};
    EXPECT_EQ(LoadReaderName(&options), 0);
    EXPECT_EQ(options.readerName, nullptr);

    directory.Write("readers.ini", "[Readers]\n#First = Virtual PCD 00 00\n");
    EXPECT_EQ(LoadReaderName(&options), 1);
    ASSERT_NE(options.readerName, nullptr);
    EXPECT_STREQ(options.readerName, "Virtual PCD 00 00");
    ClearReaderName(&options);
}

}  // namespace
