#pragma once

#include <cstdint>

#include "card/CardChannel.h"
#include "card/Pcsc.h"

constexpr std::uint32_t kReaderNameSize = 64;
constexpr std::uint32_t kAtrSize = 33;  // the ISO/IEC 7816-3 maximum
constexpr std::uint32_t kMinCommandLength = 4;
constexpr std::uint32_t kMaxCommandLength = 260;
constexpr std::uint32_t kReceiveSize = 258;  // 256 data bytes and the status word
constexpr std::uint32_t kTraceCopySize = 260;

// The one process-wide record of the card channel, zero at start.
struct ReaderSession {
    TraceHookFunction traceHook;
    SCARDCONTEXT context;
    char readerName[kReaderNameSize];
    std::uint8_t atr[kAtrSize];
    std::uint32_t atrLength;
    SCARDHANDLE card;
    std::uint32_t activeProtocol;
    std::uint16_t lastStatusWord;
    std::uint32_t shareMode;
    std::uint32_t lastPcscError;
    std::uint32_t traceMode;
};

extern ReaderSession g_readerSession;
extern std::uint8_t g_traceCopy[kTraceCopySize];

// Kept in lastPcscError when SCardTransmit reports success but hands back
// fewer than the two status bytes: SCARD_F_COMM_ERROR, "an internal
// communications error", so that the message shows a PC/SC code with a text
// instead of 00000000.
constexpr std::uint32_t kShortAnswerError = 0x80100013;
// Kept in lastPcscError when SCardTransmit reports more bytes than the receive
// buffer holds: SCARD_E_INSUFFICIENT_BUFFER, the same value and a text about
// the answer's size on every platform, and apart from the short answer's code
// so that the message tells the two faults apart.
constexpr std::uint32_t kOverlongAnswerError = 0x80100008;
