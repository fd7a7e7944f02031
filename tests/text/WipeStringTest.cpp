#include "text/WipeString.h"

#include <cstring>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

namespace {

std::string Bytes(const char* data, std::size_t count)
{
    return std::string(data, count);
}

TEST(WipeStringTest, NewStringIsEmptyWithInlineCapacity)
{
    const WipeString text;
    EXPECT_EQ(text.Size(), 0u);
    EXPECT_EQ(text.Capacity(), 15u);
    EXPECT_EQ(text.Text()[0], '\0');
}

TEST(WipeStringTest, GrowthFollowsTheCapacityRule)
{
    WipeString text;
    text.Resize(1024);
    EXPECT_EQ(text.Capacity(), 1039u);
    text.Resize(4096);
    EXPECT_EQ(text.Capacity(), 4111u);
}

TEST(WipeStringTest, ResizeWithinCapacityWipesWhatIsGivenUp)
{
    WipeString text("abcdef");
    text.Resize(4);
    EXPECT_EQ(text.Size(), 4u);
    EXPECT_EQ(Bytes(text.Text(), 16), std::string("abcd\0", 5) + std::string(10, 'Z') + std::string(1, '\0'));
}

TEST(WipeStringTest, PositionAndLengthErrors)
{
    WipeString text("abc");
    try {
        text.Erase(4, 1);
        FAIL() << "no exception";
    } catch (const std::out_of_range& error) {
        EXPECT_STREQ(error.what(), "invalid string position");
    }
    try {
        text.Resize(static_cast<std::size_t>(-1));
        FAIL() << "no exception";
    } catch (const std::length_error& error) {
        EXPECT_STREQ(error.what(), "string too long");
    }
}

}  // namespace
