#pragma once

#include <cstdint>

// Result of every card operation. Codes of 6 and above share the generic
// message; a failed SCardEstablishContext hands its raw value on as a code
// (raised to the generic code when a system error code lies below it).
using ResultCode = std::uint32_t;

namespace result {
constexpr ResultCode kSuccess = 0;
constexpr ResultCode kNoConnection = 1;
constexpr ResultCode kParameterError = 2;
constexpr ResultCode kBadReaderName = 3;
constexpr ResultCode kPcscFailure = 4;
constexpr ResultCode kStatusWord = 5;
constexpr ResultCode kGenericFailure = 6;
constexpr ResultCode kControlNotPassed = 0xA004;
}  // namespace result
