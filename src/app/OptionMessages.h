#pragma once

// The option parser's messages, kept together so that the operator guide can
// be checked against them. None ends with a line end: the driver's
// " Неправильные параметры." follows on the same line.
namespace option_message {
constexpr char kSziMissing[] = "Ошибка: недостаточно параметров (-szi)!";
constexpr char kSziInvalid[] = "Ошибка: некорректное значения параметра (-szi)!";
constexpr char kReaderMissing[] = "Ошибка: недостаточно параметров (-a)!";
// "%s" is the argument that was not accepted.
constexpr char kUnknownOption[] = "Ошибка: неизвестная опция (%s)!";

constexpr const char* kAll[] = {kSziMissing, kSziInvalid, kReaderMissing, kUnknownOption};
}  // namespace option_message
