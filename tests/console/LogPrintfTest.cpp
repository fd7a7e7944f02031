#include "console/LogPrintf.h"

#include <cstdarg>
#include <cstring>
#include <new>
#include <string>

#include <gtest/gtest.h>

#include "support/CapturedOutput.h"

namespace {

// What the printer handed to the conversion in its last call.
std::string g_converted;

std::size_t RecordingConverter(const char* text, std::size_t length, char* console, std::size_t consoleSize)
{
    g_converted.assign(text, length);
    const std::size_t count = length < consoleSize ? length : consoleSize - 1;
    std::memcpy(console, text, count);
    console[count] = '\0';
    return count;
}

std::size_t FailingConverter(const char*, std::size_t, char*, std::size_t)
{
    throw std::bad_alloc();
}

void PrintWith(ConsoleConverter convert, const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    LogPrintfWith(convert, format, arguments);
    va_end(arguments);
}

std::string Repeat(const std::string& piece, std::size_t count)
{
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        text += piece;
    }
    return text;
}

TEST(LogPrintfTest, TextOverTheLimitIsCutAt1020BytesAndMarked)
{
    struct Case {
        std::size_t length;
        std::string converted;
    };
    const Case cases[] = {
        {0, ""},
        {1, "a"},
        {1020, std::string(1020, 'a')},
        {1021, std::string(1020, 'a') + "..."},
        {5000, std::string(1020, 'a') + "..."},
    };
    for (const Case& c : cases) {
        const std::string text(c.length, 'a');
        g_converted = "not called";
        const std::string output = CaptureOutput([&] { PrintWith(RecordingConverter, "%s", text.c_str()); });
        EXPECT_EQ(g_converted, c.converted) << c.length;
        EXPECT_EQ(output, c.converted) << c.length;
    }
}

TEST(LogPrintfTest, CutFallsOnAByteEvenInsideACharacter)
{
    // "a" and 510 two-byte letters: byte 1020 is the lead byte of the last one.
    const std::string text = "a" + Repeat("Ж", 510);
    g_converted.clear();
    CaptureOutput([&] { PrintWith(RecordingConverter, "%s", text.c_str()); });
    EXPECT_EQ(g_converted, "a" + Repeat("Ж", 509) +
                               "\xD0"
                               "...");
}

TEST(LogPrintfTest, OutputOfTheRealPrinterKeepsTheLimitsAndAddsNoLineEnd)
{
    const std::string whole(1020, 'b');
    const std::string longer(1021, 'c');
    const std::string output = CaptureOutput([&] {
        LogPrintf("%s", whole.c_str());
        LogPrintf("%s", longer.c_str());
        LogPrintf("one");
        LogPrintf("%s", "");
        LogPrintf("%d|%02d|%02X|%04X|%08X|%.3f", 7, 3, 0xBu, 0x9000u, 0x8010000Cu, 0.25);
        LogPrintf("%s", "100%\n");
    });
    EXPECT_EQ(output, whole + std::string(1020, 'c') + "..." + "one" + "7|03|0B|9000|8010000C|0.250" + "100%\n");
}

TEST(LogPrintfTest, ExceptionInsideIsReportedAndDoesNotEscape)
{
    const std::string output = CaptureOutput([] {
        PrintWith(FailingConverter, "%s", "lost text");
        PrintWith(RecordingConverter, "%s", "next");
    });
    EXPECT_EQ(output, "Unhandled exception in LogPrintf()\nnext");
}

TEST(LogPrintfTest, WritingStopsAtTheFirstNulByte)
{
    const std::string output = CaptureOutput([] { PrintWith(RecordingConverter, "ab%cd", '\0'); });
    EXPECT_EQ(g_converted, std::string("ab\0d", 4));
    EXPECT_EQ(output, "ab");
}

}  // namespace
