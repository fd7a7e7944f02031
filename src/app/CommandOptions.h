#pragma once

#include <cstdint>

namespace control_mode {
constexpr std::uint8_t kAny = 0;
constexpr std::uint8_t kDesignation00002 = 1;
constexpr std::uint8_t kDesignation00001 = 3;
constexpr std::uint8_t kDesignation00003 = 5;
constexpr std::uint8_t kInvalid = 10;
}  // namespace control_mode

namespace trace_mode {
constexpr std::int32_t kOff = 0;
constexpr std::int32_t kHeaders = 1;
constexpr std::int32_t kData = 2;
}  // namespace trace_mode

struct CommandOptions {
    std::uint8_t controlMode;
    std::int32_t silent;
    char* readerName;  // owned heap copy, or null
    std::int32_t traceMode;
};

// Returns 1 when every argument was accepted, 0 on the first error (after
// printing its message).
int ParseOptions(CommandOptions* options, char** arguments, int count);
std::uint8_t ParseDesignation(const char* text);
void SetReaderName(CommandOptions* options, const char* name);
// Releases the owned reader name.
void ClearReaderName(CommandOptions* options) noexcept;
