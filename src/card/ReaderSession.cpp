#include "card/ReaderSession.h"

#include <cstring>

#include "console/LogPrintf.h"

ReaderSession g_readerSession;
std::uint8_t g_traceCopy[kTraceCopySize];

namespace {

constexpr DWORD kShareShared = SCARD_SHARE_SHARED;
constexpr DWORD kPreferredProtocols = SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1;
constexpr std::uint8_t kGetResponseInstruction = 0xC0;
constexpr std::uint16_t kStatusSuccess = 0x9000;
constexpr std::uint8_t kMoreDataSw1 = 0x61;

// The length of name when it is below limit, else limit.
std::size_t BoundedLength(const char* name, std::size_t limit)
{
    std::size_t length = 0;
    while (length < limit && name[length] != '\0') {
        ++length;
    }
    return length;
}

void TraceCommand(const std::uint8_t* command, std::uint32_t length)
{
    ReaderSession& session = g_readerSession;
    if (session.traceHook == nullptr) {
        return;
    }
    std::memcpy(g_traceCopy, command, length);
    session.traceHook(session.readerName, session.traceMode, g_traceCopy, length, kTraceCommand);
}

// One SCardTransmit into the receive buffer; on success received holds the
// answer's length, status word included, and lastStatusWord its last two bytes.
ResultCode SendOnce(const std::uint8_t* command, std::uint32_t commandLength, std::uint8_t* receive,
                    std::uint32_t& received)
{
    ReaderSession& session = g_readerSession;
    const pcsc::SendRecord record =
        session.activeProtocol == SCARD_PROTOCOL_T0 ? pcsc::SendRecord::T0 : pcsc::SendRecord::T1;
    DWORD receiveLength = kReceiveSize;
    const LONG status = pcsc::Transmit(session.card, record, command, commandLength, receive, &receiveLength);
    session.lastPcscError = static_cast<std::uint32_t>(status);
    if (status != SCARD_S_SUCCESS) {
        return result::kPcscFailure;
    }
    // A "success" without the two status bytes, or with more bytes than the
    // buffer holds, is a transport fault; record a code that the message can
    // name instead of 00000000, and never read past the buffer.
    if (receiveLength < 2) {
        session.lastPcscError = kShortAnswerError;
        return result::kPcscFailure;
    }
    if (receiveLength > kReceiveSize) {
        session.lastPcscError = kOverlongAnswerError;
        return result::kPcscFailure;
    }
    received = static_cast<std::uint32_t>(receiveLength);
    session.lastStatusWord = static_cast<std::uint16_t>(receive[received - 2] << 8 | receive[received - 1]);

    if (session.traceHook != nullptr) {
        std::uint32_t dataLength = received - 2;
        if (dataLength > kTraceCopySize) {
            dataLength = kTraceCopySize;
        }
        std::memcpy(g_traceCopy, receive, dataLength);
        session.traceHook(session.readerName, session.traceMode, g_traceCopy, dataLength, session.lastStatusWord);
    }
    return result::kSuccess;
}

}  // namespace

std::uint32_t EstablishContext()
{
    SCARDCONTEXT context = 0;
    const LONG established = pcsc::EstablishContext(SCARD_SCOPE_USER, &context);
    g_readerSession.context = context;
    return static_cast<std::uint32_t>(established);
}

void SetTraceHook(TraceHookFunction hook)
{
    g_readerSession.traceHook = hook;
}

ResultCode OpenReader(const char* readerName, std::uint32_t traceMode)
{
    if (readerName == nullptr) {
        return result::kBadReaderName;
    }
    const std::size_t nameLength = BoundedLength(readerName, kReaderNameSize);
    if (nameLength == 0 || nameLength >= kReaderNameSize) {
        return result::kBadReaderName;
    }

    ReaderSession& session = g_readerSession;
    const TraceHookFunction traceHook = session.traceHook;
    const SCARDCONTEXT context = session.context;
    session = ReaderSession{};
    session.traceHook = traceHook;
    session.context = context;

    std::memcpy(session.readerName, readerName, nameLength);
    session.shareMode = kShareShared;
    session.traceMode = traceMode;

    SCARDHANDLE card = 0;
    DWORD activeProtocol = 0;
    LONG status = pcsc::Connect(session.context, session.readerName, session.shareMode, kPreferredProtocols, &card,
                                &activeProtocol);
    if (status != SCARD_S_SUCCESS) {
        session.lastPcscError = static_cast<std::uint32_t>(status);
        return result::kPcscFailure;
    }
    session.card = card;
    session.activeProtocol = static_cast<std::uint32_t>(activeProtocol);

    // 33 bytes, the longest ATR that ISO/IEC 7816-3 allows, so that every
    // conforming card can be opened.
    session.atrLength = kAtrSize;
    DWORD atrLength = session.atrLength;
    status = pcsc::GetAttrib(session.card, SCARD_ATTR_ATR_STRING, session.atr, &atrLength);
    // Some pcsc-lite reader drivers do not offer the ATR attribute for a card
    // that is present and working; SCardStatus reports the same ATR.
    if (status == SCARD_E_UNSUPPORTED_FEATURE) {
        atrLength = session.atrLength;
        status = pcsc::StatusAtr(session.card, session.atr, &atrLength);
    }
    if (status != SCARD_S_SUCCESS) {
        session.lastPcscError = static_cast<std::uint32_t>(status);
        return result::kPcscFailure;
    }
    session.atrLength = static_cast<std::uint32_t>(atrLength);
    return result::kSuccess;
}

ResultCode BeginTransaction()
{
    ReaderSession& session = g_readerSession;
    if (session.card == 0) {
        return result::kNoConnection;
    }
    session.lastPcscError = static_cast<std::uint32_t>(pcsc::BeginTransaction(session.card));
    return session.lastPcscError != 0 ? result::kPcscFailure : result::kSuccess;
}

ResultCode Transmit(const std::uint8_t* command, std::uint32_t commandLength, std::uint8_t* response,
                    std::uint32_t* responseLength)
{
    ReaderSession& session = g_readerSession;
    if (session.card == 0) {
        return result::kNoConnection;
    }
    if (commandLength < kMinCommandLength || commandLength > kMaxCommandLength) {
        return result::kParameterError;
    }
    session.lastStatusWord = 0;

    std::uint8_t receive[kReceiveSize] = {};
    std::uint32_t received = 0;
    TraceCommand(command, commandLength);
    ResultCode code = SendOnce(command, commandLength, receive, received);
    if (code != result::kSuccess) {
        return code;
    }

    if (session.lastStatusWord != kStatusSuccess) {
        // SW1 decides only for a bare status word; data before a non-9000 status word ends with 5.
        if (received != 2 || receive[0] != kMoreDataSw1) {
            return result::kStatusWord;
        }
        const std::uint8_t getResponse[5] = {0x00, kGetResponseInstruction, 0x00, 0x00, receive[1]};
        TraceCommand(getResponse, sizeof getResponse);
        code = SendOnce(getResponse, sizeof getResponse, receive, received);
        if (code != result::kSuccess) {
            return code;
        }
        // At most one GET RESPONSE per exchange: a second 61xx ends it too.
        if (session.lastStatusWord != kStatusSuccess) {
            return result::kStatusWord;
        }
    }

    const std::uint32_t dataLength = received - 2;
    if (responseLength == nullptr) {
        return result::kSuccess;
    }
    if (*responseLength < dataLength) {
        return result::kParameterError;
    }
    *responseLength = dataLength;
    if (response != nullptr) {
        std::memcpy(response, receive, dataLength);
    }
    return result::kSuccess;
}

ResultCode EndTransaction()
{
    ReaderSession& session = g_readerSession;
    if (session.card == 0) {
        return result::kNoConnection;
    }
    const LONG status = pcsc::EndTransaction(session.card, SCARD_LEAVE_CARD);
    session.lastPcscError = static_cast<std::uint32_t>(status);
    return status != SCARD_S_SUCCESS ? result::kPcscFailure : result::kSuccess;
}

ResultCode CloseReader()
{
    const ReaderSession& session = g_readerSession;
    ResultCode code = result::kNoConnection;
    if (session.card != 0) {
        // Unpowered, so that nothing the check did stays in effect on the
        // module; another process connected to the same card at this moment
        // finds it reset.
        code = pcsc::Disconnect(session.card, SCARD_UNPOWER_CARD) != SCARD_S_SUCCESS ? result::kPcscFailure
                                                                                     : result::kSuccess;
    }
    if (code == result::kSuccess) {
        return code;
    }
    // Printed whatever the silent option says; the value is our code, not the PC/SC one.
    LogPrintf("Ошибка CloseReader(A, %08X)", static_cast<unsigned>(code));
    return code;
}

std::uint16_t LastStatusWord()
{
    return g_readerSession.lastStatusWord;
}

std::uint32_t LastPcscError()
{
    return g_readerSession.lastPcscError;
}
