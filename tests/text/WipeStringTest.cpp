#include "text/WipeString.h"

#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "support/AllocationSpy.h"

namespace spy = allocation_spy;

namespace {

std::string Bytes(const void* data, std::size_t count)
{
    return std::string(static_cast<const char*>(data), count);
}

std::string TextOf(const WipeString& text)
{
    return Bytes(text.Text(), text.Size());
}

std::string Zs(std::size_t count)
{
    return std::string(count, 'Z');
}

std::string Nuls(std::size_t count)
{
    return std::string(count, '\0');
}

class WipeStringTest : public testing::Test {
protected:
    void SetUp() override { spy::Reset(); }
    void TearDown() override { spy::Reset(); }
};

TEST_F(WipeStringTest, NewStringIsEmptyWithInlineCapacity)
{
    const WipeString text;
    EXPECT_EQ(text.Size(), 0u);
    EXPECT_EQ(text.Capacity(), 15u);
    EXPECT_EQ(text.Text()[0], '\0');
}

TEST_F(WipeStringTest, GrowthFollowsTheCapacityRule)
{
    struct Case {
        std::size_t first;
        std::size_t second;
        std::size_t capacity;
    };
    const Case cases[] = {
        {1024, 1024, 1039},                      // from empty: the size with its four low bits set
        {1024, 4096, 4111},                      // half of 1039 is not above a third of 4111
        {20, 40, 47},                            // from 31: 15 is not above 47 / 3
        {16, 16, 31},       {1024, 1100, 1558},  // 519 is above 1103 / 3: 1039 + 519
        {31, 32, 47},                            // 15 is not above 47 / 3 either
        {100, 112, 166},                         // from 111: 55 is above 127 / 3, so 111 + 55
    };
    for (const Case& c : cases) {
        WipeString text;
        text.Resize(c.first);
        text.Resize(c.second);
        EXPECT_EQ(text.Capacity(), c.capacity) << c.first << " then " << c.second;
        EXPECT_EQ(text.Size(), c.second);
    }
}

TEST_F(WipeStringTest, ResizeWithinInlineCapacity)
{
    struct Case {
        std::size_t size;
        std::string bytes;  // positions 0 to 15 afterwards
    };
    // "abcdef" in a zeroed buffer: the NUL at 6 and the rest of the buffer.
    const Case cases[] = {
        {4, "abcd" + Nuls(1) + Zs(10) + Nuls(1)},  // positions 5 to 14 wiped
        {5, "abcde" + Nuls(11)},                   // one byte removed: no wipe
        {8, "abcdef" + Nuls(10)},                  // grows with NUL bytes
        {6, "abcdef" + Nuls(10)},
        {0, Nuls(1) + Zs(14) + Nuls(1)},
    };
    for (const Case& c : cases) {
        WipeString text;
        std::memset(text.Data(), 0, 16);
        text.Append("abcdef", 6);
        text.Resize(c.size);
        EXPECT_EQ(text.Size(), c.size);
        EXPECT_EQ(text.Capacity(), 15u);
        EXPECT_EQ(Bytes(text.Text(), 16), c.bytes) << "resize to " << c.size;
    }
}

TEST_F(WipeStringTest, ResizeWithinHeapCapacityWipesUpToTheLastByteBeforeCapacity)
{
    WipeString text("ABCDEFGHIJKLMNOPQRST");  // 20 bytes, capacity 31
    ASSERT_EQ(text.Capacity(), 31u);
    text.Data()[31] = '#';  // the byte at position capacity is never touched
    text.Resize(2);
    EXPECT_EQ(Bytes(text.Text(), 32), "AB" + Nuls(1) + Zs(28) + "#");
}

TEST_F(WipeStringTest, ResizeBeyondCapacityFreesTheOldStorageWiped)
{
    WipeString text("ABCDEFGHIJKLMNOPQRST");
    ASSERT_EQ(text.Capacity(), 31u);
    const void* old = text.Text();
    {
        spy::Armed armed;
        spy::Watch(old);
        text.Resize(40);
        spy::Disarm();

        const spy::FreedBlock* freed = spy::FindFreed(old);
        ASSERT_NE(freed, nullptr);
        ASSERT_EQ(freed->size, 32u);
        EXPECT_EQ(Bytes(freed->bytes, 21), Zs(20) + Nuls(1));
    }
    EXPECT_EQ(text.Capacity(), 47u);
    EXPECT_EQ(Bytes(text.Text(), 41), "ABCDEFGHIJKLMNOPQRST" + Nuls(21));
}

TEST_F(WipeStringTest, ResizeBeyondCapacityLeavesNoTextInFreedMemory)
{
    WipeString inline_text("short secret");
    WipeString heap_text("0123456789-a-secret-of-thirty-seven");
    spy::Armed armed(true);
    inline_text.Resize(200);
    heap_text.Resize(500);
    heap_text.Resize(5000);
    spy::Disarm();

    EXPECT_FALSE(spy::RecordsOverflowed());
    EXPECT_GE(spy::FreedCount(), 2u);
    EXPECT_FALSE(spy::FreedBytesContain("secret", 6));
    EXPECT_EQ(TextOf(inline_text), "short secret" + Nuls(188));
    EXPECT_EQ(TextOf(heap_text), "0123456789-a-secret-of-thirty-seven" + Nuls(5000 - 35));
}

TEST_F(WipeStringTest, ReleaseWipesTheTextAndOnlyTheText)
{
    WipeString text("0123456789abcdefghijklmnopqr");  // 28 bytes, capacity 31
    text.Erase(20, 8);                                // leaves "lmnopqr" after the NUL
    const void* storage = text.Text();
    spy::Armed armed;
    spy::Watch(storage);
    text.Release();
    spy::Disarm();

    const spy::FreedBlock* freed = spy::FindFreed(storage);
    ASSERT_NE(freed, nullptr);
    EXPECT_EQ(Bytes(freed->bytes, 29), Zs(20) + Nuls(1) + "lmnopqr" + Nuls(1));
    EXPECT_EQ(text.Size(), 0u);
    EXPECT_EQ(text.Capacity(), 15u);
    EXPECT_STREQ(text.Text(), "");
}

TEST_F(WipeStringTest, ReleaseOfEmptyTextWritesNoWipeByte)
{
    WipeString text("0123456789abcdefghij");
    text.Erase(0, 20);
    const void* storage = text.Text();
    spy::Armed armed;
    spy::Watch(storage);
    text.Release();
    spy::Disarm();

    const spy::FreedBlock* freed = spy::FindFreed(storage);
    ASSERT_NE(freed, nullptr);
    EXPECT_EQ(Bytes(freed->bytes, 21), Nuls(1) + "123456789abcdefghij" + Nuls(1));
}

TEST_F(WipeStringTest, DestructionWipesAndReleasedStringIsReusable)
{
    const void* storage = nullptr;
    {
        spy::Armed armed;
        {
            WipeString text("a text of twenty-two.");
            storage = text.Text();
            spy::Watch(storage);
        }
        const spy::FreedBlock* freed = spy::FindFreed(storage);
        ASSERT_NE(freed, nullptr);
        EXPECT_EQ(Bytes(freed->bytes, 22), Zs(21) + Nuls(1));
    }

    WipeString text("first text, long enough for the heap");
    text.Release();
    text.Append("second", 6);
    EXPECT_EQ(TextOf(text), "second");
    EXPECT_EQ(text.Capacity(), 15u);
}

TEST_F(WipeStringTest, PlainOperationsBehaveAsAByteString)
{
    WipeString text("abc");
    text.Append("def", 3);
    text.Append(2, '!');
    EXPECT_EQ(TextOf(text), "abcdef!!");

    const WipeString copy(text);
    text.Erase(1, 2);
    EXPECT_EQ(TextOf(text), "adef!!");
    EXPECT_EQ(TextOf(copy), "abcdef!!");

    WipeString assigned;
    assigned = copy;
    assigned = assigned;
    EXPECT_EQ(TextOf(assigned), "abcdef!!");

    EXPECT_EQ(TextOf(copy.Substring(2, 3)), "cde");
    EXPECT_EQ(TextOf(copy.Substring(6, 100)), "!!");
    EXPECT_EQ(TextOf(copy.Substring(8, 1)), "");

    WipeString with_nul;
    with_nul.Append("a\0b", 3);
    EXPECT_EQ(TextOf(with_nul), std::string("a\0b", 3));
    EXPECT_EQ(TextOf(WipeString(with_nul)), std::string("a\0b", 3));
}

TEST_F(WipeStringTest, AppendOfItsOwnTextSurvivesGrowth)
{
    WipeString text("0123456789");
    text.Append(text.Text(), text.Size());
    text.Append(text.Text() + 5, 10);
    EXPECT_EQ(TextOf(text),
              "01234567890123456789"
              "5678901234");
}

TEST_F(WipeStringTest, MoveLeavesTheSourceEmpty)
{
    WipeString heap("a text longer than fifteen bytes");
    const char* storage = heap.Text();
    WipeString moved(std::move(heap));
    EXPECT_EQ(moved.Text(), storage);
    EXPECT_EQ(heap.Size(), 0u);
    EXPECT_EQ(heap.Capacity(), 15u);

    WipeString small("short");
    WipeString target("previous");
    target = std::move(small);
    EXPECT_EQ(TextOf(target), "short");
    EXPECT_EQ(small.Size(), 0u);
    EXPECT_EQ(Bytes(small.Text(), 6), Nuls(1) + "ZZZZ" + Nuls(1));
}

TEST_F(WipeStringTest, PositionErrors)
{
    WipeString text("abc");
    for (int operation = 0; operation < 2; ++operation) {
        try {
            if (operation == 0) {
                text.Erase(4, 1);
            } else {
                text.Substring(4, 1);
            }
            ADD_FAILURE() << "no exception from operation " << operation;
        } catch (const std::out_of_range& error) {
            EXPECT_STREQ(error.what(), "invalid string position");
        }
    }
    EXPECT_EQ(TextOf(text), "abc");
}

TEST_F(WipeStringTest, TooLongResizeFailsAfterWipingTheText)
{
    WipeString text("secret");
    try {
        text.Resize(static_cast<std::size_t>(-1));
        FAIL() << "no exception";
    } catch (const std::length_error& error) {
        EXPECT_STREQ(error.what(), "string too long");
    }
    EXPECT_EQ(TextOf(text), Zs(6));

    WipeString other("x");
    EXPECT_THROW(other.Append(WipeString::kMaxSize, 'y'), std::length_error);
    EXPECT_EQ(TextOf(other), "x");
}

TEST_F(WipeStringTest, LargestSizeIsAllowedButCannotBeAllocated)
{
    // 2^64 - 2 passes the length check; no allocator has that much, so the
    // growth fails twice and the string ends empty.
    WipeString text("secret");
    EXPECT_THROW(text.Resize(WipeString::kMaxSize), std::bad_alloc);
    EXPECT_EQ(text.Size(), 0u);
    EXPECT_EQ(text.Capacity(), 15u);
    EXPECT_EQ(std::string(text.Text(), 6), Nuls(1) + "ZZZZZ");
}

TEST_F(WipeStringTest, FailedAllocationIsRetriedWithTheExactSize)
{
    WipeString text;
    spy::FailAllocations(1);
    text.Resize(1024);
    EXPECT_EQ(text.Capacity(), 1024u);
    EXPECT_EQ(text.Size(), 1024u);
}

TEST_F(WipeStringTest, SecondFailureEmptiesTheStringAndLeavesNoText)
{
    WipeString text("ABCDEFGHIJKLMNOPQRST");
    const void* old = text.Text();
    spy::Armed armed(true);
    spy::FailAllocations(2, 1);  // the copy succeeds, both growth attempts fail
    EXPECT_THROW(text.Resize(100), std::bad_alloc);
    spy::Disarm();

    EXPECT_EQ(text.Size(), 0u);
    EXPECT_EQ(text.Capacity(), 15u);
    const spy::FreedBlock* freed = spy::FindFreed(old);
    ASSERT_NE(freed, nullptr);
    EXPECT_EQ(Bytes(freed->bytes, 20), Zs(20));
    EXPECT_FALSE(spy::FreedBytesContain("KLMN", 4));
}

TEST_F(WipeStringTest, FailedCopyLeavesTheStringUnchanged)
{
    WipeString text("ABCDEFGHIJKLMNOPQRST");
    spy::FailAllocations(2);  // the copy's allocation and its retry
    EXPECT_THROW(text.Resize(100), std::bad_alloc);
    EXPECT_EQ(TextOf(text), "ABCDEFGHIJKLMNOPQRST");
    EXPECT_EQ(text.Capacity(), 31u);
}

}  // namespace
