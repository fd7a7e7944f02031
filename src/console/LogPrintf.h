#pragma once

#include "text/FormatString.h"

// The one console printer: formats UTF-8 text (cut to 1020 bytes plus "..."),
// converts it for the console and writes it to standard output. Adds no line
// end and never lets an exception escape.
void LogPrintf(const char* format, ...) noexcept VARNICLE_PRINTF(1, 2);
