#include "config/ReaderConfig.h"

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "support/TempDirectory.h"

namespace {

std::string Search(const std::string& contents)
{
    TempDirectory directory;
    const std::string path = directory.Write("readers.ini", contents).string();
    char output[kEntryBufferSize];
    std::memset(output, 'x', sizeof output);
    const std::size_t length = ReadFirstEntry(output, path.c_str());
    EXPECT_EQ(length, std::strlen(output));
    return output;
}

TEST(ReadFirstEntryTest, WorkedExample)
{
    const std::string example =
        "[General]\n"
        "#First = Outside Reader\n"
        "[readers]\n"
        "   ; list of readers\n"
        "\n"
        "#First=\n"
        "#firstly = no\n"
        "\t#FIRST   =   Example Reader 0   \n"
        "#First = Second Reader\n";
    TempDirectory directory;
    const std::string path = directory.Write("readers.ini", example).string();
    char output[kEntryBufferSize] = {};
    EXPECT_EQ(ReadFirstEntry(output, path.c_str()), 16u);
    EXPECT_STREQ(output, "Example Reader 0");
}

struct EntryCase {
    const char* name;
    std::string contents;
    std::string value;
};

void PrintTo(const EntryCase& c, std::ostream* os)
{
    *os << c.name;
}

const std::string kLongLine = std::string(1023, 'a');

const EntryCase kEntryCases[] = {
    {"without line 8 the next entry wins",
     "[General]\n#First = Outside Reader\n[readers]\n#First=\n#firstly = no\n#First = Second Reader\n",
     "Second Reader"},
    {"entry outside any section", "#First = Outside\n", ""},
    {"entry only in another section", "[General]\n#First = Outside\n", ""},
    {"upper-case header, text after the bracket", "[READERS] readers of the office\n#First=A\n", "A"},
    {"blank before the bracket closes the section", "[Readers]\n[Readers ]\n#First = A\n", ""},
    {"shorter name closes the section", "[Readers]\n[Reader]\n#First = A\n", ""},
    {"header indented with blanks is no header", "[Other]\n  [Readers]\n#First = A\n", ""},
    {"indented header leaves the section open", "[Readers]\n  [Other]\n#First = A\n", "A"},
    {"byte-order mark before the header", "\xEF\xBB\xBF[Readers]\n#First = A\n", "A"},
    {"tabs before the header", "\t\t[Readers]\n#First = A\n", "A"},
    {"CR LF line ends", "[Readers]\r\n#First = Reader A\r\n", "Reader A"},
    {"blanks inside the value are kept", "[Readers]\n  #First\t = \t My  Reader 01 \t\r\n", "My  Reader 01"},
    {"quotes and equals signs belong to the value", "[Readers]\n#First=\"a=b\"\n", "\"a=b\""},
    {"value of blanks only is ignored", "[Readers]\n#First =    \n#First = B\n", "B"},
    {"control byte before the key", "[Readers]\n\x01#First = A\n#First = B\n", "B"},
    {"lower-case key", "[Readers]\n#first = A\n", "A"},
    {"key with further letters", "[Readers]\n#Firstly = A\n", ""},
    {"comment line is not an entry", "[Readers]\n;#First = A\n#First = B\n", "B"},
    {"second reader section", "[Readers]\n#Other = x\n[General]\n#First = no\n[readers]\n#First = Later\n", "Later"},
    {"one-byte value", "[Readers]\n#First =x", "x"},
    {"no header at all", "", ""},
    {"line of 1023 bytes goes on as a new line", "[Readers]\n" + kLongLine + "#First = Tail\n", "Tail"},
    {"line of 1022 bytes does not split", "[Readers]\n" + std::string(1022, 'a') + "#First = Tail\n", ""},
    {"zero byte ends the line's text", std::string("[Readers]\n#First = A\0B\n", 22), "A"},
};

class ReadFirstEntryCases : public testing::TestWithParam<EntryCase> {};

TEST_P(ReadFirstEntryCases, FindsTheValue)
{
    EXPECT_EQ(Search(GetParam().contents), GetParam().value) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(Cases, ReadFirstEntryCases, testing::ValuesIn(kEntryCases));

TEST(ReadFirstEntryTest, MissingFileGivesTheEmptyResult)
{
    TempDirectory directory;
    char output[kEntryBufferSize];
    std::memset(output, 'x', sizeof output);
    EXPECT_EQ(ReadFirstEntry(output, (directory.Path() / "absent.ini").string().c_str()), 0u);
    EXPECT_STREQ(output, "");
}

TEST(ReadFirstEntryTest, LongValueIsKeptWhole)
{
    const std::string value(1000, 'v');
    EXPECT_EQ(Search("[Readers]\n#First=" + value + "\n"), value);
}

}  // namespace
