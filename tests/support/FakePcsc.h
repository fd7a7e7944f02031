#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "card/Pcsc.h"

using Bytes = std::vector<std::uint8_t>;

// "80 FE 06 00 00" or "80FE060000" -> bytes, in the strict format of
// apduscript/ApduScript.h; a typo throws std::invalid_argument.
Bytes HexBytes(const std::string& text);
// bytes -> "80FE060000".
std::string HexString(const std::uint8_t* data, std::size_t length);
std::string HexString(const Bytes& bytes);

// A scripted PC/SC: each call answers from the script below and is recorded as
// one line in calls, in call order. Transmit answers the scripted exchanges in
// order; a command that differs from the scripted one, or one beyond the end of
// the script, is answered 6F 00 and counted in unexpected.
class FakePcsc {
public:
    struct Exchange {
        Bytes command;
        Bytes answer;  // data and status word, as SCardTransmit hands them back
        LONG result = SCARD_S_SUCCESS;
        // Written into the receive buffer after the answer, as far as the
        // buffer reaches: bytes the card did not send, for a reader to ignore.
        Bytes beyond;
        // When non-zero, the length reported back in place of the answer's
        // own: a faulty PC/SC layer.
        DWORD reportedLength = 0;
    };

    static FakePcsc& Get();
    FakePcsc() { Reset(); }
    void Reset();

    // Appends an exchange to the script.
    FakePcsc& Answer(const std::string& commandHex, const std::string& answerHex, LONG result = SCARD_S_SUCCESS);
    FakePcsc& Answer(const Bytes& command, const Bytes& answer, LONG result = SCARD_S_SUCCESS);
    // Appends every exchange of an APDU script (the virtual module's --script
    // format); a malformed script throws std::invalid_argument.
    FakePcsc& AnswerScript(const std::string& text, const std::string& name);

    // Called around the fake's own bookkeeping, when set: a test that makes
    // allocations fail spares the fake's records with them.
    void (*bookkeepingBegins)();
    void (*bookkeepingEnds)();

    // Script.
    LONG establishResult;
    LONG connectResult;
    DWORD activeProtocol;
    LONG getAttribResult;
    LONG statusResult;
    Bytes atr;
    LONG beginResult;
    LONG endResult;
    LONG disconnectResult;
    std::vector<Exchange> exchanges;
    // When set, answers every command in place of the scripted exchanges.
    std::function<Exchange(const Bytes& command)> responder;

    // Record.
    std::vector<std::string> calls;
    std::vector<Bytes> commands;
    std::size_t nextExchange;
    int unexpected;
    // Arguments that do not fit the connection (wrong context or card handle,
    // wrong receive length) are counted here.
    int badArguments;

    static constexpr SCARDCONTEXT kContext = 0x1C0;
    static constexpr SCARDHANDLE kCard = 0x2CA;
};
