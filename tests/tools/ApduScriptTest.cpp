#include "apduscript/ApduScript.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using apdu_script::Bytes;

struct HexCase {
    const char* text;
    bool accepted;
    Bytes bytes;
};

TEST(ApduScriptHex, AcceptsWholeBytesOnly)
{
    const HexCase cases[] = {
        {"80 FE 06 00 00", true, {0x80, 0xFE, 0x06, 0x00, 0x00}},
        {"80fe060000", true, {0x80, 0xFE, 0x06, 0x00, 0x00}},
        {"\t001A2B  9000 ", true, {0x00, 0x1A, 0x2B, 0x90, 0x00}},
        {"", true, {}},
        {"   ", true, {}},
        {"8O FE", false, {}},       // letter O for a zero
        {"80 F", false, {}},        // odd nibble at the end
        {"80 FE0 600", false, {}},  // odd group, even total
        {"8 0", false, {}},         // a byte split by a blank
        {"80:FE", false, {}},
        {"0x80", false, {}},
        {"80\nFE", false, {}},
    };
    for (const HexCase& c : cases) {
        SCOPED_TRACE(c.text);
        Bytes bytes = {0xEE};
        std::string error;
        EXPECT_EQ(apdu_script::ParseHex(c.text, &bytes, &error), c.accepted);
        if (c.accepted) {
            EXPECT_EQ(bytes, c.bytes);
            EXPECT_TRUE(error.empty());
        } else {
            EXPECT_EQ(bytes, Bytes{0xEE});  // untouched on error
            EXPECT_FALSE(error.empty());
        }
    }
}

TEST(ApduScriptHex, ErrorNamesTheFault)
{
    Bytes bytes;
    std::string error;
    ASSERT_FALSE(apdu_script::ParseHex("80 FE 0O", &bytes, &error));
    EXPECT_EQ(error, "not a hexadecimal digit: 'O' at column 8");
    ASSERT_FALSE(apdu_script::ParseHex("80 FE0 06", &bytes, &error));
    EXPECT_EQ(error, "odd number of hexadecimal digits in \"FE0\"");
}

TEST(ApduScriptFile, ParsesExchangesAndSkipsCommentsAndBlankLines)
{
    std::vector<apdu_script::Exchange> script;
    std::string error;
    ASSERT_TRUE(apdu_script::ParseScript("# serial\r\n80 FE 06 00 00 = 00 1A 90 00\r\n\n  \t\n80FE000000=6A82", "s",
                                         &script, &error))
        << error;
    ASSERT_EQ(script.size(), 2u);
    EXPECT_EQ(script[0].command, (Bytes{0x80, 0xFE, 0x06, 0x00, 0x00}));
    EXPECT_EQ(script[0].answer, (Bytes{0x00, 0x1A, 0x90, 0x00}));
    EXPECT_EQ(script[1].command, (Bytes{0x80, 0xFE, 0x00, 0x00, 0x00}));
    EXPECT_EQ(script[1].answer, (Bytes{0x6A, 0x82}));
}

TEST(ApduScriptFile, RejectsMalformedLinesWithTheirNumber)
{
    struct Case {
        const char* text;
        const char* error;
    };
    const Case cases[] = {
        {"80 FE 06 00 00 00 1A", "s:1: not COMMAND = ANSWER"},
        {"# c\n80 FE 06 00 00 = 90 00 = 90 00", "s:2: not COMMAND = ANSWER"},
        {"80 FE 06 00 0O = 90 00", "s:1: command: not a hexadecimal digit: 'O' at column 14"},
        {"80 FE 06 00 00 = 9 000", "s:1: answer: odd number of hexadecimal digits in \"9\""},
        {"80 FE 06 = 90 00", "s:1: a command has 4 bytes at least"},
        {"80 FE 06 00 00 = 90", "s:1: an answer has its 2-byte status word at least"},
        {"# nothing\n\n", "s: no exchanges"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<apdu_script::Exchange> script(1);
        std::string error;
        EXPECT_FALSE(apdu_script::ParseScript(c.text, "s", &script, &error));
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(script.size(), 1u);  // untouched on error
    }
}

}  // namespace
