#pragma once

#include <cstdint>

#include "card/Pcsc.h"

// Result of every card operation. Codes of 6 and above share the generic
// message; a failed SCardEstablishContext hands its raw value on as a code.
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

// statusWord 0xFFFF marks a command; any other value an answer (data without
// the status word).
constexpr std::uint16_t kTraceCommand = 0xFFFF;
using TraceHookFunction = void (*)(const char* readerName, std::uint32_t traceMode, const std::uint8_t* data,
                                   std::uint32_t length, std::uint16_t statusWord);

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

ResultCode OpenReader(const char* readerName, std::uint32_t traceMode);
ResultCode Transmit(const std::uint8_t* command, std::uint32_t commandLength, std::uint8_t* response,
                    std::uint32_t* responseLength);
ResultCode EndTransaction();
ResultCode CloseReader();
