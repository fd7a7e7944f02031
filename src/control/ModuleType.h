#pragma once

#include <cstdint>

// Codes of the three known modules. A -szi designation names a module by the
// same code, so that a designation and an identified module compare directly.
namespace module_type {
constexpr std::uint8_t kST23R160 = 1;
constexpr std::uint8_t kST23L80 = 3;
constexpr std::uint8_t kST31H320 = 5;
}  // namespace module_type

constexpr bool IsModuleType(std::uint8_t code)
{
    return code == module_type::kST23R160 || code == module_type::kST23L80 || code == module_type::kST31H320;
}
