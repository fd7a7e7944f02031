#include "text/FormatString.h"

#include <cstdarg>
#include <new>
#include <string>

#include <gtest/gtest.h>

#include "support/AllocationSpy.h"

namespace spy = allocation_spy;

namespace {

std::string TextOf(const WipeString& text)
{
    return std::string(text.Text(), text.Size());
}

WipeString FormatThroughList(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    WipeString text = FormatStringV(format, arguments);
    va_end(arguments);
    return text;
}

// 1500 'p' and "SECRET", built without freeing a block that holds them.
std::string Secret()
{
    std::string text;
    text.reserve(1506);
    text.assign(1500, 'p');
    text.append("SECRET");
    return text;
}

class FormatStringTest : public testing::Test {
protected:
    void SetUp() override { spy::Reset(); }
    void TearDown() override { spy::Reset(); }
};

TEST_F(FormatStringTest, FormatsTheConversionsTheProgramUses)
{
    const WipeString text =
        FormatString("%s|%d|%02d|%02X|%04X|%08X|%.3f", "РОСС", -7, 5, 0xAu, 0x6A82u, 0x8010002Eu, 1.5);
    EXPECT_EQ(TextOf(text), "РОСС|-7|05|0A|6A82|8010002E|1.500");
    EXPECT_EQ(TextOf(FormatThroughList("%s-%d", "a", 1)), "a-1");
}

TEST_F(FormatStringTest, EmptyResult)
{
    const WipeString text = FormatString("%s", "");
    EXPECT_EQ(text.Size(), 0u);
    EXPECT_STREQ(text.Text(), "");
}

TEST_F(FormatStringTest, TextComesBackWholeUpTo4095Characters)
{
    struct Case {
        std::size_t length;
        std::size_t capacity;  // 1039 after the first attempt alone, 4111 after the second
    };
    const Case cases[] = {{0, 1039},    {1, 1039},    {1022, 1039}, {1023, 1039},
                          {1024, 4111}, {3000, 4111}, {4094, 4111}, {4095, 4111}};
    for (const Case& c : cases) {
        const std::string expected(c.length, 'x');
        const WipeString text = FormatString("%s", expected.c_str());
        EXPECT_EQ(TextOf(text), expected) << c.length;
        EXPECT_EQ(text.Capacity(), c.capacity) << c.length;
    }
}

TEST_F(FormatStringTest, SecondAttemptReadsTheArgumentsAgain)
{
    const std::string head(1100, 'h');
    const WipeString text = FormatThroughList("%s|%d|%s", head.c_str(), 42, "tail");
    EXPECT_EQ(TextOf(text), head + "|42|tail");
}

// The choice for longer texts: the first 4095 characters, then "...".
TEST_F(FormatStringTest, LongerTextIsCutAt4095CharactersAndMarked)
{
    for (std::size_t length : {4096u, 4097u, 10000u}) {
        const std::string full(length, 'y');
        const WipeString text = FormatString("%s", full.c_str());
        EXPECT_EQ(TextOf(text), std::string(4095, 'y') + "...") << length;
        EXPECT_EQ(text.Capacity(), 4111u);
    }
}

TEST_F(FormatStringTest, StorageAfterTheTextIsWiped)
{
    const WipeString first = FormatString("%s", "abc");
    ASSERT_EQ(first.Capacity(), 1039u);
    EXPECT_EQ(first.Text()[3], '\0');
    EXPECT_EQ(std::string(first.Text() + 4, 1035), std::string(1035, 'Z'));

    const std::string long_text(2000, 'q');
    const WipeString second = FormatString("%s", long_text.c_str());
    ASSERT_EQ(second.Capacity(), 4111u);
    EXPECT_EQ(second.Text()[2000], '\0');
    EXPECT_EQ(std::string(second.Text() + 2001, 2109), std::string(2109, 'Z'));
}

TEST_F(FormatStringTest, NoFormattedTextIsLeftInFreedMemory)
{
    const std::string secret = Secret();
    {
        spy::Armed armed(true);
        {
            const WipeString text = FormatString("%s", secret.c_str());
            spy::Disarm();
            EXPECT_EQ(text.Size(), secret.size());
            spy::ArmForAll();
        }
        spy::Disarm();
        EXPECT_GE(spy::FreedCount(), 2u);
        EXPECT_FALSE(spy::RecordsOverflowed());
        EXPECT_FALSE(spy::FreedBytesContain("pppp", 4));
        EXPECT_FALSE(spy::FreedBytesContain("SECRET", 6));
    }
}

TEST_F(FormatStringTest, FailedGrowthPropagatesAndLeavesNoText)
{
    const std::string secret = Secret();
    spy::Armed armed(true);
    // First attempt and its copy succeed; the growth to 4096 fails twice.
    spy::FailAllocations(2, 2);
    EXPECT_THROW(FormatString("%s", secret.c_str()), std::bad_alloc);
    spy::Disarm();
    EXPECT_FALSE(spy::FreedBytesContain("pppp", 4));
}

}  // namespace
