#pragma once

#include <cstddef>

// The POSIX conversion to a named codeset with iconv: characters the codeset
// lacks, and bytes that are not UTF-8, come out as '?'. The output stops where
// the console buffer is full. Returns the number of bytes before the NUL.
std::size_t ConvertToCodeset(const char* codeset, const char* text, std::size_t length, char* console,
                             std::size_t consoleSize);

// Whether the codeset shows UTF-8 as it is (UTF-8 itself, or plain ASCII).
bool PassesUtf8Through(const char* codeset);

// Whether the locale environment (the values of LC_ALL, LC_CTYPE and LANG,
// each may be null) selects the C locale or one of the UTF-8 codeset, in which
// text goes out unchanged whatever the locale data says.
bool EnvironmentPassesUtf8Through(const char* lcAll, const char* lcCtype, const char* lang);
