#include "console/LogPrintf.h"

#include <string>

#include <gtest/gtest.h>

#include "support/CapturedOutput.h"

namespace {

TEST(LogPrintfTest, LongTextIsCutAt1020BytesWithMark)
{
    const std::string long_text(1021, 'a');
    const std::string output = CaptureOutput([&] { LogPrintf("%s", long_text.c_str()); });
    EXPECT_EQ(output, std::string(1020, 'a') + "...");
}

TEST(LogPrintfTest, AddsNoLineEnd)
{
    const std::string output = CaptureOutput([] {
        LogPrintf("one");
        LogPrintf("%d", 2);
    });
    EXPECT_EQ(output, "one2");
}

}  // namespace
