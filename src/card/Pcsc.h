#pragma once

// The one place that includes the platform's PC/SC headers. The card channel
// calls PC/SC only through the functions below: the program links their
// system implementation (PcscSystem.cpp), the unit tests a scripted fake.

#if defined(_WIN32)
#include <windows.h>
#include <winscard.h>
#else
#include <PCSC/winscard.h>
#include <PCSC/wintypes.h>
#if __has_include(<PCSC/reader.h>)
#include <PCSC/reader.h>
#endif
#endif

#ifndef SCARD_ATTR_ATR_STRING
#define SCARD_ATTR_ATR_STRING 0x00090303
#endif

namespace pcsc {

// Which send protocol record SCardTransmit gets.
enum class SendRecord { T0, T1 };

LONG EstablishContext(DWORD scope, SCARDCONTEXT* context);
LONG Connect(SCARDCONTEXT context, const char* readerName, DWORD shareMode, DWORD preferredProtocols, SCARDHANDLE* card,
             DWORD* activeProtocol);
LONG GetAttrib(SCARDHANDLE card, DWORD attribute, BYTE* buffer, DWORD* length);
// The ATR as SCardStatus reports it.
LONG StatusAtr(SCARDHANDLE card, BYTE* atr, DWORD* atrLength);
LONG BeginTransaction(SCARDHANDLE card);
LONG Transmit(SCARDHANDLE card, SendRecord sendRecord, const BYTE* command, DWORD commandLength, BYTE* response,
              DWORD* responseLength);
LONG EndTransaction(SCARDHANDLE card, DWORD disposition);
LONG Disconnect(SCARDHANDLE card, DWORD disposition);

}  // namespace pcsc
