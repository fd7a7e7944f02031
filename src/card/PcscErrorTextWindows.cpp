#include "card/PcscErrorText.h"

#include <vector>

#include "card/ErrorMessages.h"
#include "card/Pcsc.h"

namespace {

char g_errorText[kErrorTextSize];

constexpr DWORD kFormatFlags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;  // 0x1200
constexpr DWORD kFormatRoom = kErrorTextSize - 1;
constexpr UINT kAnsiCodePage = CP_ACP;
constexpr UINT kUtf8CodePage = CP_UTF8;

}  // namespace

// The system's text comes in the ANSI code page and goes back into the same
// buffer as UTF-8, line end included.
const char* PcscErrorText(std::uint32_t value)
{
    const DWORD ansiLength =
        FormatMessageA(kFormatFlags, nullptr, static_cast<DWORD>(value), 0, g_errorText, kFormatRoom, nullptr);
    if (ansiLength == 0) {
        return TransmitMessages[6];
    }
    const int units = MultiByteToWideChar(kAnsiCodePage, 0, g_errorText, static_cast<int>(ansiLength), nullptr, 0);
    int utf8Length = 0;
    if (units > 0) {
        std::vector<WCHAR> wide(static_cast<std::size_t>(units));
        const int converted =
            MultiByteToWideChar(kAnsiCodePage, 0, g_errorText, static_cast<int>(ansiLength), wide.data(), units);
        // Fails and yields 0 when the UTF-8 text needs more than the limit.
        utf8Length = WideCharToMultiByte(kUtf8CodePage, 0, wide.data(), converted, g_errorText,
                                         static_cast<int>(kErrorTextLimit), nullptr, nullptr);
    }
    g_errorText[utf8Length] = '\0';
    g_errorText[utf8Length + 1] = '\0';
    return g_errorText;
}
