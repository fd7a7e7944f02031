#pragma once

#include <cstdint>

constexpr unsigned kErrorTextSize = 256;
constexpr unsigned kErrorTextLimit = 254;  // bytes of UTF-8 text at most

// The system's UTF-8 text for a PC/SC return value, or "Transmit: Ошибка."
// when it has none. The text lives in one process-wide buffer that the next
// call overwrites.
const char* PcscErrorText(std::uint32_t value);
