#include "config/ReaderConfig.h"

#include <cstdio>
#include <cstring>

namespace {

bool IsPrintable(unsigned char c)
{
    return c >= 0x20 && c <= 0x7E;
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool IsTrailing(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

unsigned char LowerAscii(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 0x20) : c;
}

// A bounded compare without regard to ASCII letter case; stops at the first
// difference or at the end of either text.
bool EqualIgnoringCase(const char* text, const char* word, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned char a = LowerAscii(static_cast<unsigned char>(text[i]));
        const unsigned char b = LowerAscii(static_cast<unsigned char>(word[i]));
        if (a != b) {
            return false;
        }
        if (a == '\0') {
            return true;
        }
    }
    return true;
}

// The value of a "#First = value" line, or null. end is the line's last byte
// after trailing blanks are dropped.
const char* EntryValue(char* line, const char** valueEnd)
{
    const std::size_t length = std::strlen(line);
    if (length == 0) {
        return nullptr;
    }
    const char* end = line + length - 1;
    while (end > line && IsTrailing(*end)) {
        --end;
    }
    const char* start = line;
    while (start < end && IsBlank(*start)) {
        ++start;
    }
    if (!EqualIgnoringCase(start, "#First", 6)) {
        return nullptr;
    }
    start += 6;
    while (start < end && IsBlank(*start)) {
        ++start;
    }
    if (*start != '=' || start >= end) {
        return nullptr;
    }
    ++start;
    while (start < end && IsBlank(*start)) {
        ++start;
    }
    *valueEnd = end;
    return start;
}

}  // namespace

std::size_t ReadFirstEntry(char* output, const char* path)
{
    char line[kEntryBufferSize] = {};
    output[0] = '\0';
    std::FILE* file = std::fopen(path, "r");
    if (file == nullptr) {
        return 0;
    }
    bool inReaderSection = false;
    while (std::fgets(line, static_cast<int>(sizeof line), file) != nullptr) {
        if (line[0] == '\0') {
            continue;
        }
        const char* first = line;
        while (*first != '\0' && !IsPrintable(static_cast<unsigned char>(*first))) {
            ++first;
        }
        if (!IsPrintable(static_cast<unsigned char>(*first))) {
            continue;
        }
        if (*first == '[') {
            inReaderSection = EqualIgnoringCase(first + 1, "Readers", 7) && first[8] == ']';
            continue;
        }
        if (!inReaderSection) {
            continue;
        }
        const char* valueEnd = nullptr;
        const char* value = EntryValue(line, &valueEnd);
        if (value == nullptr) {
            continue;
        }
        std::fclose(file);
        std::size_t length = static_cast<std::size_t>(valueEnd - value) + 1;
        if (length >= kEntryBufferSize) {
            length = kEntryBufferSize - 1;
        }
        std::memcpy(output, value, length);
        output[length] = '\0';
        return length;
    }
    std::fclose(file);
    return 0;
}
