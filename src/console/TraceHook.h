#pragma once

#include <cstdint>

// The card channel calls its trace hook before each command and after each
// answer. statusWord kTraceCommand marks a command; any other value an answer
// (data without the status word).
constexpr std::uint16_t kTraceCommand = 0xFFFF;
using TraceHookFunction = void (*)(const char* readerName, std::uint32_t traceMode, const std::uint8_t* data,
                                   std::uint32_t length, std::uint16_t statusWord);
