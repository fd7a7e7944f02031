#include "console/ApduTrace.h"

#include "console/LogPrintf.h"

namespace {

constexpr std::uint32_t kHeaderLength = 5;
constexpr std::int32_t kBytesPerLine = 16;
// VERIFY and CHANGE REFERENCE DATA carry PINs: their data is never shown.
constexpr std::uint8_t kVerifyInstruction = 0x20;
constexpr std::uint8_t kChangeReferenceInstruction = 0x24;

}  // namespace

void HexDump(const std::uint8_t* data, std::int32_t count, bool masked)
{
    char column[kBytesPerLine + 1] = {};
    LogPrintf("%s  ", "");
    for (std::int32_t i = 0; i < count; ++i) {
        const std::uint8_t byte = data[i];
        if (masked) {
            LogPrintf("XX ");
        } else {
            LogPrintf("%02X ", static_cast<unsigned>(byte));
        }
        column[i % kBytesPerLine] = byte >= 0x20 && byte <= 0x7E ? static_cast<char>(byte) : '.';
        if (i % kBytesPerLine == kBytesPerLine - 1 && !masked) {
            if (i < count - 1) {
                LogPrintf("   %s\n%s  ", column, "");
            } else {
                LogPrintf("   %s\n", column);
            }
        }
    }
    const std::int32_t rest = count > 0 ? count % kBytesPerLine : 0;
    if (rest != 0) {
        column[rest] = '\0';
        // Blanks in place of the missing groups keep the column aligned.
        for (std::int32_t i = rest; i < kBytesPerLine; ++i) {
            LogPrintf("   ");
        }
        if (!masked) {
            LogPrintf("   %s\n", column);
        }
    }
}

void TraceHook(const char* readerName, std::uint32_t traceMode, const std::uint8_t* data, std::uint32_t length,
               std::uint16_t statusWord)
{
    if (traceMode == 0) {
        return;
    }
    if (statusWord != kTraceCommand) {
        if (traceMode > 1 && length != 0) {
            LogPrintf("\nData Out:\n");
            HexDump(data, static_cast<std::int32_t>(length), false);
        }
        LogPrintf("SW=%04X\n", static_cast<unsigned>(statusWord));
        return;
    }

    LogPrintf("\n%s", readerName);
    if (traceMode > 1) {
        LogPrintf("\n============================================");
    }
    // A four-byte command has no P3: show 00 rather than whatever an earlier
    // exchange left behind.
    std::uint8_t header[kHeaderLength] = {};
    for (std::uint32_t i = 0; i < kHeaderLength && i < length; ++i) {
        header[i] = data[i];
    }
    LogPrintf("\nCLA=%02X INS=%02X P1=%02X P2=%02X P3=%02X... ", static_cast<unsigned>(header[0]),
              static_cast<unsigned>(header[1]), static_cast<unsigned>(header[2]), static_cast<unsigned>(header[3]),
              static_cast<unsigned>(header[4]));
    if (traceMode <= 1 || length <= kHeaderLength) {
        return;
    }
    LogPrintf("\nData In:\n");
    const bool masked = header[1] == kVerifyInstruction || header[1] == kChangeReferenceInstruction;
    HexDump(data + kHeaderLength, static_cast<std::int32_t>(length - kHeaderLength), masked);
    LogPrintf("\n");
}
