#pragma once

#include <cstdarg>

#include "text/WipeString.h"

#if defined(__GNUC__)
#define VARNICLE_PRINTF(format_index, first_arg) __attribute__((format(printf, format_index, first_arg)))
#else
#define VARNICLE_PRINTF(format_index, first_arg)
#endif

// printf-style formatting into a new WipeString: a first attempt with room for
// 1023 characters, a second with room for 4095.
WipeString FormatString(const char* format, ...) VARNICLE_PRINTF(1, 2);
WipeString FormatStringV(const char* format, va_list arguments);
