#include "console/ConsoleEncodingPosix.h"
#include "console/ConsoleEncoding.h"

#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include <iconv.h>
#include <langinfo.h>

namespace {

bool g_localeSet = false;

// Codesets in which UTF-8 text is shown as it is. The C locale reports ASCII
// (glibc calls it ANSI_X3.4-1968); terminals there are UTF-8 in practice.
constexpr const char* kPassThroughCodesets[] = {"UTF-8", "UTF8", "ANSI_X3.4-1968", "US-ASCII", "ASCII"};

// The length of the valid UTF-8 sequence at text, or 0 when it is not one.
std::size_t Utf8SequenceLength(const unsigned char* text, std::size_t available)
{
    const unsigned char lead = text[0];
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead < 0x80) {
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (available < length || text[1] < low || text[1] > high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (text[i] < 0x80 || text[i] > 0xBF) {
            return 0;
        }
    }
    return length;
}

std::size_t CopyUnchanged(const char* text, std::size_t length, char* console, std::size_t consoleSize)
{
    const std::size_t count = length < consoleSize - 1 ? length : consoleSize - 1;
    std::memcpy(console, text, count);
    console[count] = '\0';
    return count;
}

}  // namespace

bool PassesUtf8Through(const char* codeset)
{
    for (const char* name : kPassThroughCodesets) {
        if (strcasecmp(codeset, name) == 0) {
            return true;
        }
    }
    return false;
}

std::size_t ConvertToCodeset(const char* codeset, const char* text, std::size_t length, char* console,
                             std::size_t consoleSize)
{
    if (consoleSize == 0) {
        return 0;
    }
    iconv_t converter = iconv_open(codeset, "UTF-8");
    if (converter == reinterpret_cast<iconv_t>(-1)) {
        return CopyUnchanged(text, length, console, consoleSize);
    }

    char* in = const_cast<char*>(text);
    std::size_t inLeft = length;
    char* out = console;
    std::size_t outLeft = consoleSize - 1;
    while (inLeft > 0) {
        if (iconv(converter, &in, &inLeft, &out, &outLeft) != static_cast<std::size_t>(-1)) {
            break;
        }
        if (errno == E2BIG || outLeft == 0) {
            break;
        }
        // A character the codeset lacks, or bytes that are not UTF-8: one '?'
        // for the whole character, or for the one bad byte.
        std::size_t skip = Utf8SequenceLength(reinterpret_cast<const unsigned char*>(in), inLeft);
        if (skip == 0) {
            skip = 1;
        }
        *out++ = '?';
        --outLeft;
        in += skip;
        inLeft -= skip;
    }
    iconv(converter, nullptr, nullptr, &out, &outLeft);
    iconv_close(converter);
    *out = '\0';
    return static_cast<std::size_t>(out - console);
}

bool EnvironmentPassesUtf8Through(const char* lcAll, const char* lcCtype, const char* lang)
{
    const char* name = lcAll;
    if (name == nullptr || name[0] == '\0') {
        name = lcCtype;
    }
    if (name == nullptr || name[0] == '\0') {
        name = lang;
    }
    if (name == nullptr || name[0] == '\0' || std::strcmp(name, "C") == 0 || std::strcmp(name, "POSIX") == 0) {
        return true;
    }
    const char* dot = std::strchr(name, '.');
    if (dot == nullptr) {
        return false;
    }
    const char* codeset = dot + 1;
    const std::size_t codesetLength = std::strcspn(codeset, "@");
    return (codesetLength == 5 && strncasecmp(codeset, "UTF-8", 5) == 0) ||
           (codesetLength == 4 && strncasecmp(codeset, "utf8", 4) == 0);
}

std::size_t ConvertForConsole(const char* text, std::size_t length, char* console, std::size_t consoleSize)
{
    if (!g_localeSet) {
        // Loading the locale costs about a tenth of a whole run; where the
        // environment already says the text goes out unchanged, the C locale
        // the process starts in says the same.
        if (!EnvironmentPassesUtf8Through(std::getenv("LC_ALL"), std::getenv("LC_CTYPE"), std::getenv("LANG"))) {
            std::setlocale(LC_CTYPE, "");
        }
        g_localeSet = true;
    }
    const char* codeset = nl_langinfo(CODESET);
    if (consoleSize == 0) {
        return 0;
    }
    if (PassesUtf8Through(codeset)) {
        return CopyUnchanged(text, length, console, consoleSize);
    }
    return ConvertToCodeset(codeset, text, length, console, consoleSize);
}
