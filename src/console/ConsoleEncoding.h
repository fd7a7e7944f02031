#pragma once

#include <cstddef>

// Converts length bytes of UTF-8 text to what the console shows, into console
// (consoleSize bytes), and ends it with a NUL. Returns the number of bytes
// before that NUL. The result is never longer than consoleSize - 1; with
// consoleSize > length it holds the whole converted text (one byte or less per
// character on Windows). One file per platform implements it.
std::size_t ConvertForConsole(const char* text, std::size_t length, char* console, std::size_t consoleSize);
