#pragma once

#include <cstdint>

#include "card/ResultCode.h"
#include "text/WipeString.h"

struct StatusWordEntry {
    std::uint16_t statusWord;
    char text[160];
};

constexpr int kStatusWordCount = 72;
extern const StatusWordEntry StatusWordTable[kStatusWordCount];
extern const char* const TransmitMessages[7];

// The message of a non-zero code, from lastStatusWord / lastPcscError.
WipeString ResultMessage(ResultCode code, bool statusWordLookup);
// Prints the context message unless silent and throws the CSError of the code.
void RaiseOnResult(ResultCode code, const char* contextMessage, bool silent, bool statusWordLookup);
const char* StatusWordText(std::uint16_t statusWord);
