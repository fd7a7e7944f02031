#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "card/PcscErrorText.h"

#include <windows.h>

namespace {

// The system's text for a value through the wide API, in UTF-8: the same text
// reached without the ANSI code page.
std::string WideSystemText(DWORD value)
{
    WCHAR wide[512];
    const DWORD units = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, value, 0,
                                       wide, 512, nullptr);
    if (units == 0) {
        return std::string();
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(units), nullptr, 0, nullptr, nullptr);
    std::vector<char> utf8(static_cast<std::size_t>(size));
    WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(units), utf8.data(), size, nullptr, nullptr);
    return std::string(utf8.data(), utf8.size());
}

TEST(PcscErrorTextWindowsTest, SystemTextArrivesInUtf8WithItsLineEnd)
{
    for (const DWORD value : {DWORD{ERROR_ACCESS_DENIED}, DWORD{ERROR_INVALID_HANDLE}, DWORD{ERROR_GEN_FAILURE}}) {
        SCOPED_TRACE(value);
        const std::string expected = WideSystemText(value);
        ASSERT_FALSE(expected.empty()) << "the system has no text for this value";
        const std::string text = PcscErrorText(value);
        EXPECT_EQ(text, expected);
        ASSERT_GE(text.size(), 2u);
        EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
        if (GetACP() == 1251) {
            // A Russian system's text: Cyrillic, two UTF-8 bytes a letter.
            EXPECT_NE(text.find_first_of("\xD0\xD1"), std::string::npos) << text;
        }
    }
}

TEST(PcscErrorTextWindowsTest, EachCallOverwritesTheSameBuffer)
{
    const char* first = PcscErrorText(ERROR_ACCESS_DENIED);
    const std::string firstText = first;
    const char* second = PcscErrorText(ERROR_INVALID_HANDLE);
    EXPECT_EQ(first, second);
    EXPECT_NE(firstText, std::string(second));
}

}  // namespace
