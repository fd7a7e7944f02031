#include "console/ConsoleEncoding.h"

#include <memory>

#include <windows.h>

// UTF-8 to UTF-16 to the system's OEM code page, one byte per UTF-16 unit.
// The UTF-16 buffer is the one allocation; its failure reaches the caller.
std::size_t ConvertForConsole(const char* text, std::size_t length, char* console, std::size_t consoleSize)
{
    if (consoleSize == 0) {
        return 0;
    }
    const std::size_t room = consoleSize - 1;
    const int textLength = static_cast<int>(length < room ? length : room);
    int units = MultiByteToWideChar(CP_UTF8, 0, text, textLength, nullptr, 0);
    if (units < 0) {
        units = 0;
    }
    const std::unique_ptr<wchar_t[]> wide(new wchar_t[static_cast<std::size_t>(units)]);
    int count = MultiByteToWideChar(CP_UTF8, 0, text, textLength, wide.get(), units);
    if (count < 0) {
        count = 0;
    }
    if (static_cast<std::size_t>(count) > room) {
        count = static_cast<int>(room);
    }
    if (count > 0) {
        CharToOemBuffW(wide.get(), console, static_cast<DWORD>(count));
    }
    console[count] = '\0';
    return static_cast<std::size_t>(count);
}
