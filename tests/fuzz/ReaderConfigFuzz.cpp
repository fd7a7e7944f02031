// The readers.ini search on arbitrary bytes, checked against a second,
// straightforward reading of the file format: lines of at most 1023 bytes,
// text ending at a NUL, [Readers] headers, the first "#First = value" entry.
#include <cstring>
#include <string>

#include "FuzzSupport.h"
#include "config/ReaderConfig.h"

namespace {

bool IsPrintable(unsigned char c)
{
    return c >= 0x20 && c <= 0x7E;
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

char Lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

bool SameLetters(const std::string& text, std::size_t at, const char* word)
{
    const std::size_t length = std::strlen(word);
    if (at + length > text.size()) {
        return false;
    }
    for (std::size_t i = 0; i < length; ++i) {
        if (Lower(text[at + i]) != Lower(word[i])) {
            return false;
        }
    }
    return true;
}

// The value of an entry line, or false.
bool Entry(const std::string& text, std::string& value)
{
    std::size_t end = text.size() - 1;
    while (end > 0 && (IsBlank(text[end]) || text[end] == '\r' || text[end] == '\n')) {
        --end;
    }
    std::size_t start = 0;
    while (start < end && IsBlank(text[start])) {
        ++start;
    }
    if (!SameLetters(text, start, "#First")) {
        return false;
    }
    start += 6;
    while (start < end && IsBlank(text[start])) {
        ++start;
    }
    if (start >= end || text[start] != '=') {
        return false;
    }
    ++start;
    while (start < end && IsBlank(text[start])) {
        ++start;
    }
    value = text.substr(start, end - start + 1);
    if (value.size() > 1023) {
        value.resize(1023);
    }
    return true;
}

std::string ExpectedValue(const std::uint8_t* data, std::size_t size)
{
    bool open = false;
    std::size_t position = 0;
    while (position < size) {
        std::size_t pieceEnd = position;
        while (pieceEnd < size && pieceEnd - position < 1023) {
            if (data[pieceEnd++] == '\n') {
                break;
            }
        }
        std::string text(reinterpret_cast<const char*>(data + position), pieceEnd - position);
        position = pieceEnd;
        text = text.substr(0, text.find('\0'));
        std::size_t first = 0;
        while (first < text.size() && !IsPrintable(static_cast<unsigned char>(text[first]))) {
            ++first;
        }
        if (first == text.size()) {
            continue;
        }
        if (text[first] == '[') {
            open = SameLetters(text, first + 1, "Readers") && first + 8 < text.size() && text[first + 8] == ']';
            continue;
        }
        std::string value;
        if (open && Entry(text, value)) {
            return value;
        }
    }
    return std::string();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Initialise();
    const std::string path = fuzz::MemoryFilePath(data, size);

    char output[kEntryBufferSize];
    std::memset(output, 0x5A, sizeof output);
    const std::size_t length = ReadFirstEntry(output, path.c_str());

    const std::string expected = ExpectedValue(data, size);
    fuzz::Check(length == expected.size(), "ReadFirstEntry length",
                "got " + std::to_string(length) + ", expected " + std::to_string(expected.size()));
    fuzz::Check(output[length] == '\0', "ReadFirstEntry leaves the value unterminated");
    fuzz::Check(std::memcmp(output, expected.data(), length) == 0, "ReadFirstEntry value",
                "got [" + std::string(output, length) + "], expected [" + expected + "]");
    fuzz::Check(fuzz::TakeOutput().empty(), "ReadFirstEntry printed something");
    return 0;
}
