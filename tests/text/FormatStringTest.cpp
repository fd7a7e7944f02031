#include "text/FormatString.h"

#include <string>

#include <gtest/gtest.h>

namespace {

TEST(FormatStringTest, FormatsIntoANewString)
{
    const WipeString text = FormatString("%s %04X", "SW", 0x6A82u);
    EXPECT_EQ(std::string(text.Text(), text.Size()), "SW 6A82");
}

TEST(FormatStringTest, LongTextComesFromTheSecondAttempt)
{
    const std::string long_text(3000, 'x');
    const WipeString text = FormatString("%s", long_text.c_str());
    EXPECT_EQ(std::string(text.Text(), text.Size()), long_text);
}

}  // namespace
