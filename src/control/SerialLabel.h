#pragma once

#include <cstdint>

#include "text/WipeString.h"

constexpr std::uint8_t SerialReadCommand[5] = {0x80, 0xFE, 0x06, 0x00, 0x00};
constexpr std::uint32_t kSerialResponseSize = 260;
// Printed before the raised message when the module type has no label.
constexpr char kUnsupportedModuleMessage[] = "Ошибка! Данный модуль не поддерживается!";

// "РОСС RU.07.3815.0000N." and the first six serial bytes in hexadecimal, with
// a trailing blank. Raises the unsupported-module CSError for other types.
WipeString BuildSerialLabel(std::uint8_t moduleType, const std::uint8_t* serialResponse, bool silent);
