#include "card/Pcsc.h"

namespace pcsc {

LONG EstablishContext(DWORD scope, SCARDCONTEXT* context)
{
    return SCardEstablishContext(scope, nullptr, nullptr, context);
}

LONG Connect(SCARDCONTEXT context, const char* readerName, DWORD shareMode, DWORD preferredProtocols, SCARDHANDLE* card,
             DWORD* activeProtocol)
{
#if defined(_WIN32)
    return SCardConnectA(context, readerName, shareMode, preferredProtocols, card, activeProtocol);
#else
    return SCardConnect(context, readerName, shareMode, preferredProtocols, card, activeProtocol);
#endif
}

LONG GetAttrib(SCARDHANDLE card, DWORD attribute, BYTE* buffer, DWORD* length)
{
    return SCardGetAttrib(card, attribute, buffer, length);
}

LONG StatusAtr(SCARDHANDLE card, BYTE* atr, DWORD* atrLength)
{
    DWORD state = 0;
    DWORD protocol = 0;
#if defined(_WIN32)
    return SCardStatusA(card, nullptr, nullptr, &state, &protocol, atr, atrLength);
#else
    return SCardStatus(card, nullptr, nullptr, &state, &protocol, atr, atrLength);
#endif
}

LONG BeginTransaction(SCARDHANDLE card)
{
    return SCardBeginTransaction(card);
}

LONG Transmit(SCARDHANDLE card, SendRecord sendRecord, const BYTE* command, DWORD commandLength, BYTE* response,
              DWORD* responseLength)
{
    const SCARD_IO_REQUEST* pci = sendRecord == SendRecord::T0 ? SCARD_PCI_T0 : SCARD_PCI_T1;
    return SCardTransmit(card, pci, command, commandLength, nullptr, response, responseLength);
}

LONG EndTransaction(SCARDHANDLE card, DWORD disposition)
{
    return SCardEndTransaction(card, disposition);
}

LONG Disconnect(SCARDHANDLE card, DWORD disposition)
{
    return SCardDisconnect(card, disposition);
}

}  // namespace pcsc
