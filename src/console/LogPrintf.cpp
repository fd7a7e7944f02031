#include "console/LogPrintf.h"

#include <cstdio>
#include <cstring>

#include "console/ConsoleEncoding.h"

namespace {

constexpr std::size_t kBufferSize = 1024;
// The formatter gets 1021 bytes: 1020 of text and its NUL, so that the mark
// still fits after a cut.
constexpr std::size_t kFormatSize = 1021;
constexpr std::size_t kMaxText = kFormatSize - 1;
constexpr char kCutMark[] = "...";

}  // namespace

void LogPrintf(const char* format, ...) noexcept
{
    va_list arguments;
    va_start(arguments, format);
    LogPrintfWith(ConvertForConsole, format, arguments);
    va_end(arguments);
}

void LogPrintfWith(ConsoleConverter convert, const char* format, va_list arguments) noexcept
{
    char text[kBufferSize];
    char console[kBufferSize];
    std::memset(text, 0, sizeof text);
    std::memset(console, 0, sizeof console);
    try {
        const int written = std::vsnprintf(text, kFormatSize, format, arguments);
        std::size_t length = 0;
        if (written < 0) {
            length = 0;  // a format the runtime cannot carry out prints nothing
        } else if (static_cast<std::size_t>(written) <= kMaxText) {
            length = static_cast<std::size_t>(written);
        } else {
            // The cut falls on a byte, not on a character.
            std::memcpy(text + kMaxText, kCutMark, sizeof kCutMark - 1);
            length = kMaxText + sizeof kCutMark - 1;
        }
        convert(text, length, console, sizeof console);
        std::fputs(console, stdout);
    } catch (...) {
        std::printf("Unhandled exception in LogPrintf()\n");
    }
}
