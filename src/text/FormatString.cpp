#include "text/FormatString.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr std::size_t kFirstAttempt = 1024;
constexpr std::size_t kSecondAttempt = 4096;
constexpr char kCutMark[] = "...";

// The second attempt reads the arguments again from this copy.
struct ArgumentsCopy {
    va_list list;
    ~ArgumentsCopy() { va_end(list); }
};

}  // namespace

WipeString FormatString(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    try {
        WipeString text = FormatStringV(format, arguments);
        va_end(arguments);
        return text;
    } catch (...) {
        va_end(arguments);
        throw;
    }
}

WipeString FormatStringV(const char* format, va_list arguments)
{
    ArgumentsCopy again;
    va_copy(again.list, arguments);

    WipeString result;
    result.Resize(kFirstAttempt);
    int length = std::vsnprintf(result.Data(), result.Size(), format, arguments);
    if (length < 0) {
        result.Resize(0);
        return result;
    }
    if (static_cast<std::size_t>(length) < kFirstAttempt) {
        result.Resize(static_cast<std::size_t>(length));
        return result;
    }

    result.Resize(kSecondAttempt);
    length = std::vsnprintf(result.Data(), result.Size(), format, again.list);
    if (length < 0) {
        result.Resize(0);
        return result;
    }
    if (static_cast<std::size_t>(length) < kSecondAttempt) {
        result.Resize(static_cast<std::size_t>(length));
        return result;
    }

    // Longer still: the first 4095 characters, then the mark.
    const std::size_t kept = kSecondAttempt - 1;
    result.Resize(kept + sizeof kCutMark - 1);
    std::memcpy(result.Data() + kept, kCutMark, sizeof kCutMark - 1);
    return result;
}
