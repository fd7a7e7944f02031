// A stand-in for the Windows smart-card library, for the tests under wine.
//
// It offers the two readers of the virtual reader driver on Linux and plays
// that driver's part for the one holding the module: it listens on a
// loopback TCP port, the virtual module connects to it, and every
// message both ways is a two-byte big-endian length followed by the payload.
// One-byte payloads to the module are controls (00 power off, 01 power on,
// 02 reset, 04 get ATR, answered with the ATR); longer ones are command APDUs,
// answered with the response APDU.
//
// Set by the tests through the environment:
//   VARNICLE_STANDIN_PORT     port to listen on (default 35963)
//   VARNICLE_STANDIN_CARD     which reader holds the module: 0 (default) for
//                             "Virtual PCD 00 00", 1 for "Virtual PCD 00 01",
//                             none when both are empty
//   VARNICLE_STANDIN_WAIT_MS  how long a connection waits for the module to
//                             connect (default 10000)
//   VARNICLE_STANDIN_FAIL     faults, separated by commas:
//                             FUNCTION=HEXCODE  the function returns that code
//                               and does nothing else ("SCardConnectA=00000006")
//                             reset=windows8  another program resets the card
//                               between this one's connection and its
//                               transaction; SCardBeginTransaction refuses with
//                               SCARD_W_RESET_CARD, as Windows 8 and later do
//                             reset=windows7  the same, but the transaction
//                               begins, as on Windows 7, and the next call on
//                               the card fails with SCARD_W_RESET_CARD
//                             unplug=N:HEXCODE[:HEXCODE]  the reader is pulled
//                               out once N commands have reached the module:
//                               every later call on the card returns the first
//                               code, SCardDisconnect the second (it succeeds
//                               when there is none)
//   VARNICLE_STANDIN_LOG      file to which each call and its result are appended

// The protocol records are this library's own exports.
#define WINSCARDDATA __declspec(dllexport)

#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>
#include <winscard.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

const SCARD_IO_REQUEST g_rgSCardT0Pci = {SCARD_PROTOCOL_T0, sizeof(SCARD_IO_REQUEST)};
const SCARD_IO_REQUEST g_rgSCardT1Pci = {SCARD_PROTOCOL_T1, sizeof(SCARD_IO_REQUEST)};
const SCARD_IO_REQUEST g_rgSCardRawPci = {SCARD_PROTOCOL_RAW, sizeof(SCARD_IO_REQUEST)};

namespace {

constexpr SCARDCONTEXT kContext = 0x5C0C;
constexpr SCARDHANDLE kCard = 0x5CA4;
constexpr unsigned short kDefaultPort = 35963;
constexpr DWORD kDefaultWaitMs = 10000;
constexpr DWORD kReplyWaitMs = 10000;
constexpr const char* kReaders[] = {"Virtual PCD 00 00", "Virtual PCD 00 01"};

constexpr unsigned char kPowerOff = 0x00;
constexpr unsigned char kPowerOn = 0x01;
constexpr unsigned char kReset = 0x02;
constexpr unsigned char kGetAtr = 0x04;

constexpr DWORD kMaxMessage = 0xFFFF;

struct Standin {
    bool established;
    SOCKET listener;
    SOCKET module;
    bool connected;
    bool inTransaction;
    bool removed;  // the module went away; the handle stays valid until disconnected
    bool reset;    // another program reset the card; the handle stays valid until disconnected
    bool unplugged;
    DWORD exchanges;  // commands that reached the module
    const char* reader;
    DWORD protocol;
    BYTE atr[64];
    DWORD atrLength;
};

Standin g_standin = {false, INVALID_SOCKET, INVALID_SOCKET, false, false, false, false, false, 0, nullptr, 0, {}, 0};

void Log(const char* format, ...)
{
    const char* path = std::getenv("VARNICLE_STANDIN_LOG");
    if (path == nullptr || *path == '\0') {
        return;
    }
    FILE* file = std::fopen(path, "ab");
    if (file == nullptr) {
        return;
    }
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(file, format, arguments);
    va_end(arguments);
    std::fputc('\n', file);
    std::fclose(file);
}

LONG Result(const char* function, LONG result)
{
    Log("%s -> %08lX", function, static_cast<unsigned long>(result));
    return result;
}

// The value of the fault NAME=VALUE in VARNICLE_STANDIN_FAIL, up to the next
// comma; null when the list does not name it.
const char* FaultValue(const char* name)
{
    const char* list = std::getenv("VARNICLE_STANDIN_FAIL");
    if (list == nullptr) {
        return nullptr;
    }
    const std::size_t length = std::strlen(name);
    for (const char* entry = list; *entry != '\0';) {
        if (std::strncmp(entry, name, length) == 0 && entry[length] == '=') {
            return entry + length + 1;
        }
        const char* comma = std::strchr(entry, ',');
        if (comma == nullptr) {
            break;
        }
        entry = comma + 1;
    }
    return nullptr;
}

// Whether the fault NAME=VALUE is in the list, VALUE whole.
bool FaultIs(const char* name, const char* value)
{
    const char* found = FaultValue(name);
    if (found == nullptr) {
        return false;
    }
    const std::size_t length = std::strlen(value);
    return std::strncmp(found, value, length) == 0 && (found[length] == '\0' || found[length] == ',');
}

// The code that VARNICLE_STANDIN_FAIL names for the function, if any.
bool InjectedFailure(const char* function, LONG* code)
{
    const char* value = FaultValue(function);
    if (value == nullptr) {
        return false;
    }
    *code = static_cast<LONG>(std::strtoul(value, nullptr, 16));
    return true;
}

struct Unplug {
    DWORD after;  // commands that reach the module first
    LONG code;    // of every later call on the card
    bool disconnectFails;
    LONG disconnectCode;
};

// The fault unplug=N:HEXCODE[:HEXCODE], if the list holds it.
bool UnplugFault(Unplug* unplug)
{
    const char* value = FaultValue("unplug");
    if (value == nullptr) {
        return false;
    }
    char* end = nullptr;
    unplug->after = static_cast<DWORD>(std::strtoul(value, &end, 10));
    if (*end != ':') {
        return false;
    }
    unplug->code = static_cast<LONG>(std::strtoul(end + 1, &end, 16));
    unplug->disconnectFails = *end == ':';
    unplug->disconnectCode = unplug->disconnectFails ? static_cast<LONG>(std::strtoul(end + 1, nullptr, 16)) : 0;
    return true;
}

DWORD EnvironmentNumber(const char* name, DWORD fallback)
{
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') {
        return fallback;
    }
    return static_cast<DWORD>(std::strtoul(text, nullptr, 10));
}

// The reader of that name, or null.
const char* FindReader(const char* name)
{
    for (const char* reader : kReaders) {
        if (std::strcmp(name, reader) == 0) {
            return reader;
        }
    }
    return nullptr;
}

bool HoldsTheModule(const char* reader)
{
    const char* card = std::getenv("VARNICLE_STANDIN_CARD");
    std::size_t index = 0;
    if (card != nullptr && *card != '\0') {
        if (std::strcmp(card, "none") == 0) {
            return false;
        }
        index = std::strtoul(card, nullptr, 10);
    }
    return index < std::size(kReaders) && reader == kReaders[index];
}

void CloseModule()
{
    if (g_standin.module != INVALID_SOCKET) {
        closesocket(g_standin.module);
        g_standin.module = INVALID_SOCKET;
    }
}

bool SendAll(const BYTE* data, DWORD length)
{
    while (length > 0) {
        const int sent = send(g_standin.module, reinterpret_cast<const char*>(data), static_cast<int>(length), 0);
        if (sent <= 0) {
            return false;
        }
        data += sent;
        length -= static_cast<DWORD>(sent);
    }
    return true;
}

bool ReceiveAll(BYTE* data, DWORD length)
{
    while (length > 0) {
        const int received = recv(g_standin.module, reinterpret_cast<char*>(data), static_cast<int>(length), 0);
        if (received <= 0) {
            return false;
        }
        data += received;
        length -= static_cast<DWORD>(received);
    }
    return true;
}

bool SendMessage(const BYTE* payload, DWORD length)
{
    const BYTE header[2] = {static_cast<BYTE>(length >> 8), static_cast<BYTE>(length & 0xFF)};
    return SendAll(header, 2) && SendAll(payload, length);
}

// A reply of at most capacity bytes; a longer one is read and dropped.
bool ReceiveMessage(BYTE* payload, DWORD capacity, DWORD* length, bool* tooLong)
{
    BYTE header[2];
    if (!ReceiveAll(header, 2)) {
        return false;
    }
    const DWORD size = (static_cast<DWORD>(header[0]) << 8) | header[1];
    *length = size;
    *tooLong = size > capacity;
    if (!*tooLong) {
        return ReceiveAll(payload, size);
    }
    BYTE scratch[kMaxMessage];
    return ReceiveAll(scratch, size);
}

bool SendControl(unsigned char control)
{
    return SendMessage(&control, 1);
}

// Waits for the virtual module to connect to the listening socket.
bool AcceptModule()
{
    if (g_standin.module != INVALID_SOCKET) {
        return true;
    }
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(g_standin.listener, &ready);
    const DWORD waitMs = EnvironmentNumber("VARNICLE_STANDIN_WAIT_MS", kDefaultWaitMs);
    timeval timeout = {static_cast<long>(waitMs / 1000), static_cast<long>((waitMs % 1000) * 1000)};
    if (select(0, &ready, nullptr, nullptr, &timeout) != 1) {
        return false;
    }
    g_standin.module = accept(g_standin.listener, nullptr, nullptr);
    if (g_standin.module == INVALID_SOCKET) {
        return false;
    }
    const DWORD replyWait = kReplyWaitMs;
    setsockopt(g_standin.module, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&replyWait), sizeof replyWait);
    const BOOL noDelay = TRUE;
    setsockopt(g_standin.module, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
    return true;
}

LONG Listen()
{
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
        return SCARD_E_NO_SERVICE;
    }
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (listener == INVALID_SOCKET) {
        Log("no socket: error %d", WSAGetLastError());
        return SCARD_E_NO_SERVICE;
    }
    const BOOL reuse = TRUE;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse), sizeof reuse);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(EnvironmentNumber("VARNICLE_STANDIN_PORT", kDefaultPort)));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || listen(listener, 1) != 0) {
        // The case's log says why the port could not be had.
        Log("cannot listen on port %u: error %d", static_cast<unsigned>(ntohs(address.sin_port)), WSAGetLastError());
        closesocket(listener);
        return SCARD_E_NO_SERVICE;
    }
    g_standin.listener = listener;
    return SCARD_S_SUCCESS;
}

// The protocols the ATR offers, as protocol bits; T=0 when it names none.
DWORD OfferedProtocols(const BYTE* atr, DWORD length, DWORD* first)
{
    DWORD offered = 0;
    *first = 0;
    if (length >= 2) {
        DWORD index = 1;
        BYTE indicator = atr[1];
        for (;;) {
            DWORD interfaceBytes = 0;
            for (BYTE bit = 0x10; bit != 0; bit = static_cast<BYTE>(bit << 1)) {
                interfaceBytes += (indicator & bit) != 0 ? 1 : 0;
            }
            if ((indicator & 0x80) == 0 || index + interfaceBytes >= length) {
                break;
            }
            index += interfaceBytes;
            indicator = atr[index];
            const DWORD protocol = (indicator & 0x0F) == 0   ? SCARD_PROTOCOL_T0
                                   : (indicator & 0x0F) == 1 ? SCARD_PROTOCOL_T1
                                                             : 0;
            if (*first == 0) {
                *first = protocol;
            }
            offered |= protocol;
        }
    }
    if (offered == 0) {
        offered = SCARD_PROTOCOL_T0;
        *first = SCARD_PROTOCOL_T0;
    }
    return offered;
}

LONG PowerOnAndReadAtr()
{
    DWORD length = 0;
    bool tooLong = false;
    if (!SendControl(kPowerOn) || !SendControl(kGetAtr) ||
        !ReceiveMessage(g_standin.atr, sizeof g_standin.atr, &length, &tooLong)) {
        CloseModule();
        return SCARD_E_NO_SMARTCARD;
    }
    if (tooLong || length == 0) {
        return SCARD_W_UNRESPONSIVE_CARD;
    }
    g_standin.atrLength = length;
    return SCARD_S_SUCCESS;
}

bool ValidCard(SCARDHANDLE card)
{
    return card == kCard && g_standin.connected;
}

// What a call on a valid card handle meets first: the reader gone, the card
// reset by another program, the module gone; success when none of them.
LONG CardCondition()
{
    Unplug unplug = {};
    if (g_standin.unplugged && UnplugFault(&unplug)) {
        return unplug.code;
    }
    if (g_standin.reset) {
        return SCARD_W_RESET_CARD;
    }
    if (g_standin.removed) {
        return SCARD_W_REMOVED_CARD;
    }
    return SCARD_S_SUCCESS;
}

// Pulls the reader out when the unplug fault says that its time has come.
void UnplugIfDue()
{
    Unplug unplug = {};
    if (!g_standin.unplugged && UnplugFault(&unplug) && g_standin.exchanges >= unplug.after) {
        g_standin.unplugged = true;
        CloseModule();
    }
}

}  // namespace

extern "C" {

LONG WINAPI SCardEstablishContext(DWORD dwScope, LPCVOID pvReserved1, LPCVOID pvReserved2, LPSCARDCONTEXT phContext)
{
    Log("SCardEstablishContext scope=%lu", static_cast<unsigned long>(dwScope));
    LONG injected = 0;
    if (InjectedFailure("SCardEstablishContext", &injected)) {
        return Result("SCardEstablishContext", injected);
    }
    if (phContext == nullptr || pvReserved1 != nullptr || pvReserved2 != nullptr) {
        return Result("SCardEstablishContext", SCARD_E_INVALID_PARAMETER);
    }
    if (dwScope != SCARD_SCOPE_USER && dwScope != SCARD_SCOPE_SYSTEM) {
        return Result("SCardEstablishContext", SCARD_E_INVALID_VALUE);
    }
    if (!g_standin.established) {
        const LONG listening = Listen();
        if (listening != SCARD_S_SUCCESS) {
            return Result("SCardEstablishContext", listening);
        }
        g_standin.established = true;
    }
    *phContext = kContext;
    return Result("SCardEstablishContext", SCARD_S_SUCCESS);
}

LONG WINAPI SCardReleaseContext(SCARDCONTEXT hContext)
{
    if (hContext != kContext || !g_standin.established) {
        return Result("SCardReleaseContext", SCARD_E_INVALID_HANDLE);
    }
    return Result("SCardReleaseContext", SCARD_S_SUCCESS);
}

LONG WINAPI SCardIsValidContext(SCARDCONTEXT hContext)
{
    return hContext == kContext && g_standin.established ? SCARD_S_SUCCESS : SCARD_E_INVALID_HANDLE;
}

LONG WINAPI SCardConnectA(SCARDCONTEXT hContext, LPCSTR szReader, DWORD dwShareMode, DWORD dwPreferredProtocols,
                          LPSCARDHANDLE phCard, LPDWORD pdwActiveProtocol)
{
    Log("SCardConnectA reader=\"%s\" share=%lu protocols=%lu", szReader != nullptr ? szReader : "(null)",
        static_cast<unsigned long>(dwShareMode), static_cast<unsigned long>(dwPreferredProtocols));
    LONG injected = 0;
    if (InjectedFailure("SCardConnectA", &injected)) {
        return Result("SCardConnectA", injected);
    }
    if (hContext != kContext || !g_standin.established) {
        return Result("SCardConnectA", SCARD_E_INVALID_HANDLE);
    }
    if (szReader == nullptr || phCard == nullptr || pdwActiveProtocol == nullptr) {
        return Result("SCardConnectA", SCARD_E_INVALID_PARAMETER);
    }
    const char* reader = FindReader(szReader);
    if (reader == nullptr) {
        return Result("SCardConnectA", SCARD_E_UNKNOWN_READER);
    }
    if (dwShareMode != SCARD_SHARE_SHARED && dwShareMode != SCARD_SHARE_EXCLUSIVE) {
        return Result("SCardConnectA", SCARD_E_INVALID_VALUE);
    }
    if (g_standin.connected) {
        return Result("SCardConnectA", SCARD_E_SHARING_VIOLATION);
    }
    if (!HoldsTheModule(reader) || !AcceptModule()) {
        return Result("SCardConnectA", SCARD_E_NO_SMARTCARD);
    }
    const LONG powered = PowerOnAndReadAtr();
    if (powered != SCARD_S_SUCCESS) {
        return Result("SCardConnectA", powered);
    }
    DWORD first = 0;
    const DWORD offered = OfferedProtocols(g_standin.atr, g_standin.atrLength, &first);
    DWORD protocol = first & dwPreferredProtocols;
    if (protocol == 0) {
        protocol = offered & dwPreferredProtocols & (SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1);
        protocol = (protocol & SCARD_PROTOCOL_T0) != 0 ? SCARD_PROTOCOL_T0 : protocol;
    }
    if (protocol == 0) {
        return Result("SCardConnectA", SCARD_E_PROTO_MISMATCH);
    }
    g_standin.protocol = protocol;
    g_standin.connected = true;
    g_standin.reader = reader;
    *phCard = kCard;
    *pdwActiveProtocol = protocol;
    Log("SCardConnectA protocol=%lu", static_cast<unsigned long>(protocol));
    return Result("SCardConnectA", SCARD_S_SUCCESS);
}

LONG WINAPI SCardDisconnect(SCARDHANDLE hCard, DWORD dwDisposition)
{
    Log("SCardDisconnect disposition=%lu", static_cast<unsigned long>(dwDisposition));
    LONG injected = 0;
    if (InjectedFailure("SCardDisconnect", &injected)) {
        return Result("SCardDisconnect", injected);
    }
    if (!ValidCard(hCard)) {
        return Result("SCardDisconnect", SCARD_E_INVALID_HANDLE);
    }
    if (dwDisposition > SCARD_EJECT_CARD) {
        return Result("SCardDisconnect", SCARD_E_INVALID_VALUE);
    }
    Unplug unplug = {};
    if (g_standin.unplugged && UnplugFault(&unplug) && unplug.disconnectFails) {
        return Result("SCardDisconnect", unplug.disconnectCode);
    }
    // A module that went away, or whose reader did, has nothing left to power off.
    if (!g_standin.removed && !g_standin.unplugged) {
        if (dwDisposition == SCARD_UNPOWER_CARD || dwDisposition == SCARD_EJECT_CARD) {
            SendControl(kPowerOff);
        } else if (dwDisposition == SCARD_RESET_CARD) {
            SendControl(kReset);
        }
    }
    g_standin.connected = false;
    g_standin.inTransaction = false;
    g_standin.removed = false;
    g_standin.reset = false;
    CloseModule();
    return Result("SCardDisconnect", SCARD_S_SUCCESS);
}

LONG WINAPI SCardBeginTransaction(SCARDHANDLE hCard)
{
    Log("SCardBeginTransaction");
    LONG injected = 0;
    if (InjectedFailure("SCardBeginTransaction", &injected)) {
        return Result("SCardBeginTransaction", injected);
    }
    if (!ValidCard(hCard)) {
        return Result("SCardBeginTransaction", SCARD_E_INVALID_HANDLE);
    }
    const LONG condition = CardCondition();
    if (condition != SCARD_S_SUCCESS) {
        return Result("SCardBeginTransaction", condition);
    }
    const bool windows8 = FaultIs("reset", "windows8");
    if (windows8 || FaultIs("reset", "windows7")) {
        // The other program's reset reaches the module; this handle learns of
        // it now (Windows 8 and later) or at its next call (Windows 7).
        g_standin.reset = true;
        SendControl(kReset);
        Log("SCardBeginTransaction card reset by another program");
        if (windows8) {
            return Result("SCardBeginTransaction", SCARD_W_RESET_CARD);
        }
    }
    g_standin.inTransaction = true;
    return Result("SCardBeginTransaction", SCARD_S_SUCCESS);
}

LONG WINAPI SCardEndTransaction(SCARDHANDLE hCard, DWORD dwDisposition)
{
    Log("SCardEndTransaction disposition=%lu", static_cast<unsigned long>(dwDisposition));
    LONG injected = 0;
    if (InjectedFailure("SCardEndTransaction", &injected)) {
        return Result("SCardEndTransaction", injected);
    }
    if (!ValidCard(hCard)) {
        return Result("SCardEndTransaction", SCARD_E_INVALID_HANDLE);
    }
    const LONG condition = CardCondition();
    if (condition != SCARD_S_SUCCESS) {
        return Result("SCardEndTransaction", condition);
    }
    if (!g_standin.inTransaction) {
        return Result("SCardEndTransaction", SCARD_E_NOT_TRANSACTED);
    }
    if (dwDisposition > SCARD_EJECT_CARD) {
        return Result("SCardEndTransaction", SCARD_E_INVALID_VALUE);
    }
    g_standin.inTransaction = false;
    return Result("SCardEndTransaction", SCARD_S_SUCCESS);
}

LONG WINAPI SCardStatusA(SCARDHANDLE hCard, LPSTR szReaderName, LPDWORD pcchReaderLen, LPDWORD pdwState,
                         LPDWORD pdwProtocol, LPBYTE pbAtr, LPDWORD pcbAtrLen)
{
    Log("SCardStatusA atr size=%lu", pcbAtrLen != nullptr ? static_cast<unsigned long>(*pcbAtrLen) : 0UL);
    LONG injected = 0;
    if (InjectedFailure("SCardStatusA", &injected)) {
        return Result("SCardStatusA", injected);
    }
    if (!ValidCard(hCard)) {
        return Result("SCardStatusA", SCARD_E_INVALID_HANDLE);
    }
    const LONG condition = CardCondition();
    if (condition != SCARD_S_SUCCESS) {
        return Result("SCardStatusA", condition);
    }
    const char* reader = g_standin.reader;
    const DWORD readerLength = static_cast<DWORD>(std::strlen(reader) + 2);  // a multi-string
    if (pcchReaderLen != nullptr) {
        if (szReaderName != nullptr) {
            if (*pcchReaderLen < readerLength) {
                *pcchReaderLen = readerLength;
                return Result("SCardStatusA", SCARD_E_INSUFFICIENT_BUFFER);
            }
            std::memcpy(szReaderName, reader, readerLength - 1);
            szReaderName[readerLength - 1] = '\0';
        }
        *pcchReaderLen = readerLength;
    }
    if (pdwState != nullptr) {
        *pdwState = SCARD_SPECIFIC;
    }
    if (pdwProtocol != nullptr) {
        *pdwProtocol = g_standin.protocol;
    }
    if (pcbAtrLen != nullptr) {
        if (pbAtr != nullptr) {
            if (*pcbAtrLen < g_standin.atrLength) {
                *pcbAtrLen = g_standin.atrLength;
                return Result("SCardStatusA", SCARD_E_INSUFFICIENT_BUFFER);
            }
            std::memcpy(pbAtr, g_standin.atr, g_standin.atrLength);
        }
        *pcbAtrLen = g_standin.atrLength;
    }
    return Result("SCardStatusA", SCARD_S_SUCCESS);
}

LONG WINAPI SCardGetAttrib(SCARDHANDLE hCard, DWORD dwAttrId, LPBYTE pbAttr, LPDWORD pcbAttrLen)
{
    Log("SCardGetAttrib attribute=%08lX size=%lu", static_cast<unsigned long>(dwAttrId),
        pcbAttrLen != nullptr ? static_cast<unsigned long>(*pcbAttrLen) : 0UL);
    LONG injected = 0;
    if (InjectedFailure("SCardGetAttrib", &injected)) {
        return Result("SCardGetAttrib", injected);
    }
    if (!ValidCard(hCard)) {
        return Result("SCardGetAttrib", SCARD_E_INVALID_HANDLE);
    }
    const LONG condition = CardCondition();
    if (condition != SCARD_S_SUCCESS) {
        return Result("SCardGetAttrib", condition);
    }
    if (pcbAttrLen == nullptr) {
        return Result("SCardGetAttrib", SCARD_E_INVALID_PARAMETER);
    }
    if (dwAttrId != SCARD_ATTR_ATR_STRING) {
        return Result("SCardGetAttrib", SCARD_E_UNSUPPORTED_FEATURE);
    }
    if (pbAttr != nullptr) {
        if (*pcbAttrLen < g_standin.atrLength) {
            *pcbAttrLen = g_standin.atrLength;
            return Result("SCardGetAttrib", SCARD_E_INSUFFICIENT_BUFFER);
        }
        std::memcpy(pbAttr, g_standin.atr, g_standin.atrLength);
    }
    *pcbAttrLen = g_standin.atrLength;
    return Result("SCardGetAttrib", SCARD_S_SUCCESS);
}

LONG WINAPI SCardTransmit(SCARDHANDLE hCard, LPCSCARD_IO_REQUEST pioSendPci, LPCBYTE pbSendBuffer, DWORD cbSendLength,
                          LPSCARD_IO_REQUEST pioRecvPci, LPBYTE pbRecvBuffer, LPDWORD pcbRecvLength)
{
    Log("SCardTransmit pci=%lu length=%lu",
        pioSendPci != nullptr ? static_cast<unsigned long>(pioSendPci->dwProtocol) : 0UL,
        static_cast<unsigned long>(cbSendLength));
    LONG injected = 0;
    if (InjectedFailure("SCardTransmit", &injected)) {
        return Result("SCardTransmit", injected);
    }
    if (!ValidCard(hCard)) {
        return Result("SCardTransmit", SCARD_E_INVALID_HANDLE);
    }
    UnplugIfDue();
    const LONG condition = CardCondition();
    if (condition != SCARD_S_SUCCESS) {
        return Result("SCardTransmit", condition);
    }
    if (pioSendPci == nullptr || pbSendBuffer == nullptr || pbRecvBuffer == nullptr || pcbRecvLength == nullptr ||
        cbSendLength < 4 || cbSendLength > kMaxMessage) {
        return Result("SCardTransmit", SCARD_E_INVALID_PARAMETER);
    }
    if (pioSendPci->dwProtocol != g_standin.protocol) {
        return Result("SCardTransmit", SCARD_E_PROTO_MISMATCH);
    }
    DWORD length = 0;
    bool tooLong = false;
    ++g_standin.exchanges;
    if (!SendMessage(pbSendBuffer, cbSendLength) || !ReceiveMessage(pbRecvBuffer, *pcbRecvLength, &length, &tooLong)) {
        CloseModule();
        g_standin.removed = true;
        return Result("SCardTransmit", SCARD_W_REMOVED_CARD);
    }
    if (tooLong) {
        *pcbRecvLength = length;
        return Result("SCardTransmit", SCARD_E_INSUFFICIENT_BUFFER);
    }
    if (pioRecvPci != nullptr) {
        pioRecvPci->dwProtocol = g_standin.protocol;
        pioRecvPci->cbPciLength = sizeof(SCARD_IO_REQUEST);
    }
    *pcbRecvLength = length;
    return Result("SCardTransmit", SCARD_S_SUCCESS);
}

}  // extern "C"
