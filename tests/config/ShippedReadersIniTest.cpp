// The example readers.ini exactly as the Windows packages ship it: Notepad
// on a Russian Windows 7 reads it (UTF-8 with a byte order mark, CR LF), the
// program finds the placeholder in it, and with the placeholder replaced by
// a reader's name it names that reader.

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "config/ReaderConfig.h"
#include "support/GuideText.h"
#include "support/TempDirectory.h"

#ifndef VARNICLE_WINDOWS_READERS_EXAMPLE
#error "VARNICLE_WINDOWS_READERS_EXAMPLE must name the packaged example readers.ini"
#endif

namespace {

constexpr char kPlaceholder[] = "Впишите сюда имя считывателя";

std::string Entry(const std::string& contents)
{
    const TempDirectory directory;
    const std::string path = directory.Write("readers.ini", contents).string();
    char output[kEntryBufferSize] = {};
    ReadFirstEntry(output, path.c_str());
    return output;
}

// Each byte sequence is a well-formed UTF-8 character.
bool IsUtf8(const std::string& text)
{
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80           ? 1
                                   : (lead >> 5) == 0x6  ? 2
                                   : (lead >> 4) == 0xE  ? 3
                                   : (lead >> 3) == 0x1E ? 4
                                                         : 0;
        if (length == 0 || i + length > text.size()) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
                return false;
            }
        }
        i += length;
    }
    return true;
}

TEST(ShippedReadersIniTest, NotepadReadsIt)
{
    const std::string shipped = ReadTextFile(VARNICLE_WINDOWS_READERS_EXAMPLE);
    ASSERT_FALSE(shipped.empty()) << "cannot read " << VARNICLE_WINDOWS_READERS_EXAMPLE;
    EXPECT_EQ(shipped.rfind("\xEF\xBB\xBF", 0), 0U) << "no UTF-8 byte order mark";
    EXPECT_TRUE(IsUtf8(shipped));
    ASSERT_GE(shipped.size(), 2U);
    EXPECT_EQ(shipped.substr(shipped.size() - 2), "\r\n") << "the last line has no line end";
    for (std::size_t at = shipped.find('\n'); at != std::string::npos; at = shipped.find('\n', at + 1)) {
        EXPECT_TRUE(at > 0 && shipped[at - 1] == '\r') << "a line feed without carriage return at byte " << at;
    }
    // The comments are Russian: Cyrillic letters, not only ASCII.
    EXPECT_NE(shipped.find("считывател"), std::string::npos);
}

TEST(ShippedReadersIniTest, ThePlaceholderIsTheEntryUntilEdited)
{
    const std::string shipped = ReadTextFile(VARNICLE_WINDOWS_READERS_EXAMPLE);
    EXPECT_EQ(Entry(shipped), kPlaceholder);

    std::string edited = shipped;
    const std::size_t at = edited.find(kPlaceholder);
    ASSERT_NE(at, std::string::npos);
    // As an operator writes the name in Notepad: the first entry line only.
    EXPECT_EQ(edited.find(kPlaceholder, at + 1), std::string::npos);
    edited.replace(at, std::strlen(kPlaceholder), "ACS ACR39U ICC Reader 0");
    EXPECT_EQ(Entry(edited), "ACS ACR39U ICC Reader 0");
}

}  // namespace
