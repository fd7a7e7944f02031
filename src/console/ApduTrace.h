#pragma once

#include <cstdint>

#include "console/TraceHook.h"

// The card channel's trace hook: prints each command and answer at the level
// of traceMode (0 off, 1 headers, 2 or more data).
void TraceHook(const char* readerName, std::uint32_t traceMode, const std::uint8_t* data, std::uint32_t length,
               std::uint16_t statusWord);
void HexDump(const std::uint8_t* data, std::int32_t count, bool masked);
