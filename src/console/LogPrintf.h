#pragma once

#include <cstdarg>
#include <cstddef>

#include "text/FormatString.h"

// The one console printer: formats UTF-8 text (cut to 1020 bytes plus "..."),
// converts it for the console and writes it to standard output. Adds no line
// end and never lets an exception escape.
void LogPrintf(const char* format, ...) noexcept VARNICLE_PRINTF(1, 2);

// LogPrintf with the console conversion passed in (LogPrintf passes
// ConvertForConsole); a conversion may throw, the printer catches it.
using ConsoleConverter = std::size_t (*)(const char* text, std::size_t length, char* console, std::size_t consoleSize);
void LogPrintfWith(ConsoleConverter convert, const char* format, va_list arguments) noexcept;
