#include "card/PcscErrorText.h"

#include <cstring>

#include "card/ErrorMessages.h"
#include "card/Pcsc.h"

namespace {

char g_errorText[kErrorTextSize];

// pcsc-lite answers a value it does not know with a text of this form.
constexpr char kUnknownPrefix[] = "Unknown error: ";

}  // namespace

const char* PcscErrorText(std::uint32_t value)
{
    const char* text = pcsc_stringify_error(static_cast<LONG>(value));
    if (text == nullptr || text[0] == '\0' || std::strncmp(text, kUnknownPrefix, sizeof kUnknownPrefix - 1) == 0) {
        return TransmitMessages[6];
    }
    std::size_t length = std::strlen(text);
    if (length > kErrorTextLimit) {
        // Cut on a character boundary: step back over UTF-8 continuation bytes.
        length = kErrorTextLimit;
        while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) {
            --length;
        }
    }
    std::memcpy(g_errorText, text, length);
    g_errorText[length] = '\0';
    g_errorText[length + 1] = '\0';
    return g_errorText;
}
