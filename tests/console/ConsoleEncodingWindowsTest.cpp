#include <string>

#include <gtest/gtest.h>

#include "console/ConsoleEncoding.h"
#include "console/LogPrintf.h"
#include "support/AllocationSpy.h"
#include "support/CapturedOutput.h"

#include <windows.h>

namespace spy = allocation_spy;

namespace {

class ConsoleEncodingWindowsTest : public testing::Test {
protected:
    void SetUp() override { spy::Reset(); }
    void TearDown() override { spy::Reset(); }
};

TEST_F(ConsoleEncodingWindowsTest, AsciiComesOutByteForByte)
{
    const std::string output = CaptureOutput([] { LogPrintf("%s %04X\t|\n", "plain text 100%", 0x9000u); });
    EXPECT_EQ(output, "plain text 100% 9000\t|\n");
}

TEST_F(ConsoleEncodingWindowsTest, CyrillicComesOutInCodePage866)
{
    if (GetOEMCP() != 866) {
        GTEST_SKIP() << "the OEM code page is " << GetOEMCP() << ", not 866";
    }
    const std::string output = CaptureOutput([] { LogPrintf("Ошибка! %s\n", "СЗИ"); });
    EXPECT_EQ(output, "\x8E\xE8\xA8\xA1\xAA\xA0! \x91\x87\x88\n");

    // The lead byte left by the cut is an invalid sequence: the converter's
    // replacement, then the mark.
    std::string text = "a";
    for (int i = 0; i < 510; ++i) {
        text += "Ж";
    }
    const std::string cut = CaptureOutput([&] { LogPrintf("%s", text.c_str()); });
    ASSERT_EQ(cut.size(), 1 + 509 + 1 + 3u);
    EXPECT_EQ(cut.substr(0, 510), "a" + std::string(509, '\x86'));
    EXPECT_EQ(cut.substr(511), "...");
}

TEST_F(ConsoleEncodingWindowsTest, FailedAllocationIsReportedAndDoesNotEscape)
{
    const std::string output = CaptureOutput([] {
        spy::FailAllocations(1);
        LogPrintf("%s", "lost text");
        spy::FailAllocations(0);
        LogPrintf("%s", "next");
    });
    EXPECT_EQ(output, "Unhandled exception in LogPrintf()\nnext");
}

TEST_F(ConsoleEncodingWindowsTest, EmptyTextWritesNothing)
{
    char console[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(ConvertForConsole("", 0, console, sizeof console), 0u);
    EXPECT_EQ(console[0], '\0');
}

}  // namespace
