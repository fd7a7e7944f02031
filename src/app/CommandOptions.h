#pragma once

#include <cstdint>

#include "control/ModuleType.h"

// A designation is the code of the module it names.
namespace control_mode {
constexpr std::uint8_t kAny = 0;
constexpr std::uint8_t kDesignation00002 = module_type::kST23R160;
constexpr std::uint8_t kDesignation00001 = module_type::kST23L80;
constexpr std::uint8_t kDesignation00003 = module_type::kST31H320;
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
// Stores the reader name from ./readers.ini into options; 1 when found.
int LoadReaderName(CommandOptions* options);
// Releases the owned reader name.
void ClearReaderName(CommandOptions* options) noexcept;
