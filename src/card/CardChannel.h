#pragma once

#include <cstdint>

#include "card/ResultCode.h"
#include "console/TraceHook.h"

// The one card channel of the process. Its record (ReaderSession.h) keeps the
// PC/SC handles and the detail of the last failure; callers outside the card
// layer see only these operations and their codes.

// Establishes the PC/SC context in user scope and keeps it in the record.
// Returns the PC/SC return value itself, 0 on success.
std::uint32_t EstablishContext();
void SetTraceHook(TraceHookFunction hook);
ResultCode OpenReader(const char* readerName, std::uint32_t traceMode);
// 1 without a card; 4 when PC/SC refuses, its value kept as the last PC/SC error.
ResultCode BeginTransaction();
ResultCode Transmit(const std::uint8_t* command, std::uint32_t commandLength, std::uint8_t* response,
                    std::uint32_t* responseLength);
ResultCode EndTransaction();
ResultCode CloseReader();
// The detail of the last failure, as the error messages read it.
std::uint16_t LastStatusWord();
std::uint32_t LastPcscError();
