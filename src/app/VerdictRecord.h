#pragma once

#include <cstddef>
#include <cstdint>

#include "card/ResultCode.h"

// The one record a run of -check or -keycheck leaves in the system's log:
// where the run ended, the verdict and what an operator or a monitoring rule
// does about it. Built here from the driver's facts; written by the platform's
// sink (VerdictLogPosix.cpp, VerdictLogWindows.cpp).

// The driver's step where the run ended.
enum class VerdictRoad : std::uint8_t {
    kNone,  // no check attempted: no record
    kPassed,
    kOptions,
    kControlMode,
    kConnection,
    kTransaction,
    kSerial,
    kControl,
    kUnsupported,
    kUnexpected,
};

// What the driver knows when the card has been released. The detail (status
// word, PC/SC value) is taken when the code is, before the release overwrites it.
struct VerdictFacts {
    const char* command;  // "-check" or "-keycheck"
    VerdictRoad road;
    ResultCode code;
    std::uint16_t statusWord;
    std::uint32_t pcscError;
    const char* readerName;   // null when none was given
    std::uint8_t moduleType;  // 0 until the control has identified the module
    const char* label;        // null unless the run passed
};

// Which code, if any, the record shows.
enum class VerdictCodeForm : std::uint8_t { kNone, kStatusWord, kPcsc, kRaw };

struct VerdictClass {
    const char* failureClass;  // null for a pass
    const char* outcome;       // null for a pass
    VerdictCodeForm codeForm;
};

VerdictClass ClassifyVerdict(VerdictRoad road, ResultCode code, std::uint32_t pcscError);

// The fields, in their fixed order, every one always present (an unknown value
// is written as ""). Values are written bare when they are plain words and in
// double quotes otherwise, see EscapeVerdictValue.
constexpr int kVerdictFieldCount = 11;
constexpr std::size_t kVerdictValueSize = 280;
constexpr std::size_t kVerdictLineSize = kVerdictFieldCount * (16 + kVerdictValueSize);

struct VerdictField {
    const char* name;
    char value[kVerdictValueSize];
};

struct VerdictFields {
    bool passed;
    VerdictField field[kVerdictFieldCount];
};

// Fills every field; pid and user come from the platform.
void BuildVerdictFields(const VerdictFacts& facts, unsigned long pid, const char* user, VerdictFields* fields) noexcept;
// "name=value" into out (always terminated).
void FormatVerdictField(const VerdictField& field, char* out, std::size_t size) noexcept;
// "name=value ; name=value ; ..." into out (always terminated).
void JoinVerdictFields(const VerdictFields& fields, char* out, std::size_t size) noexcept;
// A value as the record writes it: bare when it is non-empty and holds only
// printable characters other than blank, '"', '\\', ';', '=' and '%';
// otherwise in double quotes, with '"' and '\\' escaped by a backslash and
// control characters, DEL, '%' and bytes that are not UTF-8 written as \xHH.
// Input beyond 96 bytes is cut and marked with "...".
void EscapeVerdictValue(const char* text, char* out, std::size_t size) noexcept;

// Where records go: the program installs the platform's sink at start, the
// tests their own; without one a run writes nothing.
using VerdictSink = void (*)(const VerdictFacts& facts) noexcept;
void SetVerdictSink(VerdictSink sink) noexcept;
// Hands a finished run to the sink; a run of kNone writes nothing.
void WriteVerdict(const VerdictFacts& facts) noexcept;
