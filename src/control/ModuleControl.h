#pragma once

#include <cstdint>

#include "card/ResultCode.h"
#include "control/ModuleType.h"

// Identifies the module, checks it against controlMode, checks its state and
// runs the key or non-key control (and, for the ST23 modules, the final
// check). Returns 0 with the module's type in *moduleType, 0xA004 when the
// module failed a comparison, or the failing exchange's own code.
ResultCode ModuleControl(std::int32_t keyControl, std::uint8_t controlMode, std::uint8_t* moduleType);
