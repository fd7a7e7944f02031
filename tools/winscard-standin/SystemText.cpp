// Prints the system's message text for a value (hexadecimal, as the program
// prints PC/SC codes) in UTF-8, taken through the wide API; exits with 1 when
// the system has no text for it. The end-to-end cases under wine build their
// expected output with it.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fputs("usage: system-text HEXVALUE\n", stderr);
        return 2;
    }
    const DWORD value = static_cast<DWORD>(std::strtoul(argv[1], nullptr, 16));
    WCHAR wide[1024];
    const DWORD units = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, value, 0,
                                       wide, 1024, nullptr);
    if (units == 0) {
        return 1;
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(units), nullptr, 0, nullptr, nullptr);
    std::vector<char> utf8(static_cast<std::size_t>(size));
    WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(units), utf8.data(), size, nullptr, nullptr);
    // Unconverted bytes: the console handle, not the runtime's text mode.
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
    return 0;
}
