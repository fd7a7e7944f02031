#include "support/FakePcsc.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "apduscript/ApduScript.h"

Bytes HexBytes(const std::string& text)
{
    Bytes bytes;
    std::string error;
    if (!apdu_script::ParseHex(text, &bytes, &error)) {
        throw std::invalid_argument(error + ": " + text);
    }
    return bytes;
}

std::string HexString(const std::uint8_t* data, std::size_t length)
{
    std::string text;
    char piece[3];
    for (std::size_t i = 0; i < length; ++i) {
        std::snprintf(piece, sizeof piece, "%02X", data[i]);
        text += piece;
    }
    return text;
}

std::string HexString(const Bytes& bytes)
{
    return HexString(bytes.data(), bytes.size());
}

FakePcsc& FakePcsc::Get()
{
    static FakePcsc fake;
    return fake;
}

void FakePcsc::Reset()
{
    bookkeepingBegins = nullptr;
    bookkeepingEnds = nullptr;
    establishResult = SCARD_S_SUCCESS;
    connectResult = SCARD_S_SUCCESS;
    activeProtocol = SCARD_PROTOCOL_T1;
    getAttribResult = SCARD_S_SUCCESS;
    statusResult = SCARD_S_SUCCESS;
    atr = HexBytes("3B 8A 80 01 80 31 F8 73 F7 41 E0 82 90 00 9B");
    beginResult = SCARD_S_SUCCESS;
    endResult = SCARD_S_SUCCESS;
    disconnectResult = SCARD_S_SUCCESS;
    exchanges.clear();
    responder = nullptr;
    calls.clear();
    commands.clear();
    nextExchange = 0;
    unexpected = 0;
    badArguments = 0;
}

FakePcsc& FakePcsc::Answer(const std::string& commandHex, const std::string& answerHex, LONG result)
{
    return Answer(HexBytes(commandHex), HexBytes(answerHex), result);
}

FakePcsc& FakePcsc::Answer(const Bytes& command, const Bytes& answer, LONG result)
{
    exchanges.push_back(Exchange{command, answer, result, {}});
    return *this;
}

FakePcsc& FakePcsc::AnswerScript(const std::string& text, const std::string& name)
{
    std::vector<apdu_script::Exchange> script;
    std::string error;
    if (!apdu_script::ParseScript(text, name, &script, &error)) {
        throw std::invalid_argument(error);
    }
    for (const apdu_script::Exchange& exchange : script) {
        Answer(exchange.command, exchange.answer);
    }
    return *this;
}

namespace {

std::string Format(const char* format, unsigned long long value)
{
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// Brackets a call's bookkeeping with the hooks.
class Bookkeeping {
public:
    explicit Bookkeeping(FakePcsc& fake) : fake_(fake)
    {
        if (fake_.bookkeepingBegins != nullptr) {
            fake_.bookkeepingBegins();
        }
    }
    ~Bookkeeping()
    {
        if (fake_.bookkeepingEnds != nullptr) {
            fake_.bookkeepingEnds();
        }
    }
    Bookkeeping(const Bookkeeping&) = delete;
    Bookkeeping& operator=(const Bookkeeping&) = delete;

private:
    FakePcsc& fake_;
};

LONG ReturnAtr(const Bytes& atr, BYTE* buffer, DWORD* length)
{
    if (*length < atr.size()) {
        *length = static_cast<DWORD>(atr.size());
        return SCARD_E_INSUFFICIENT_BUFFER;
    }
    std::copy(atr.begin(), atr.end(), buffer);
    *length = static_cast<DWORD>(atr.size());
    return SCARD_S_SUCCESS;
}

}  // namespace

namespace pcsc {

LONG EstablishContext(DWORD scope, SCARDCONTEXT* context)
{
    FakePcsc& fake = FakePcsc::Get();
    const Bookkeeping bookkeeping(fake);
    fake.calls.push_back(Format("EstablishContext scope=%llu", scope));
    if (fake.establishResult == SCARD_S_SUCCESS) {
        *context = FakePcsc::kContext;
    }
    return fake.establishResult;
}

LONG Connect(SCARDCONTEXT context, const char* readerName, DWORD shareMode, DWORD preferredProtocols, SCARDHANDLE* card,
             DWORD* activeProtocol)
{
    FakePcsc& fake = FakePcsc::Get();
    const Bookkeeping bookkeeping(fake);
    if (context != FakePcsc::kContext) {
        ++fake.badArguments;
    }
    fake.calls.push_back(std::string("Connect reader=") + readerName + Format(" share=%llu", shareMode) +
                         Format(" protocols=%llu", preferredProtocols));
    if (fake.connectResult == SCARD_S_SUCCESS) {
        *card = FakePcsc::kCard;
        *activeProtocol = fake.activeProtocol;
    }
    return fake.connectResult;
}

LONG GetAttrib(SCARDHANDLE card, DWORD attribute, BYTE* buffer, DWORD* length)
{
    FakePcsc& fake = FakePcsc::Get();
    const Bookkeeping bookkeeping(fake);
    if (card != FakePcsc::kCard) {
        ++fake.badArguments;
    }
    fake.calls.push_back(Format("GetAttrib %08llX", attribute) + Format(" size=%llu", *length));
    if (fake.getAttribResult != SCARD_S_SUCCESS) {
        return fake.getAttribResult;
    }
    return ReturnAtr(fake.atr, buffer, length);
}

LONG StatusAtr(SCARDHANDLE card, BYTE* atr, DWORD* atrLength)
{
    FakePcsc& fake = FakePcsc::Get();
    const Bookkeeping bookkeeping(fake);
    if (card != FakePcsc::kCard) {
        ++fake.badArguments;
    }
    fake.calls.push_back(Format("Status size=%llu", *atrLength));
    if (fake.statusResult != SCARD_S_SUCCESS) {
        return fake.statusResult;
    }
    return ReturnAtr(fake.atr, atr, atrLength);
}

LONG BeginTransaction(SCARDHANDLE card)
{
    FakePcsc& fake = FakePcsc::Get();
    const Bookkeeping bookkeeping(fake);
    if (card != FakePcsc::kCard) {
        ++fake.badArguments;
    }
    fake.calls.push_back("BeginTransaction");
    return fake.beginResult;
}

LONG Transmit(SCARDHANDLE card, SendRecord sendRecord, const BYTE* command, DWORD commandLength, BYTE* response,
              DWORD* responseLength)
{
    FakePcsc& fake = FakePcsc::Get();
    const Bookkeeping bookkeeping(fake);
    if (card != FakePcsc::kCard || *responseLength != 258) {
        ++fake.badArguments;
    }
    const Bytes sent(command, command + commandLength);
    fake.commands.push_back(sent);
    fake.calls.push_back(std::string("Transmit ") + (sendRecord == SendRecord::T0 ? "T0 " : "T1 ") + HexString(sent));

    FakePcsc::Exchange reply{sent, HexBytes("6F 00"), SCARD_S_SUCCESS, {}};
    if (fake.responder) {
        reply = fake.responder(sent);
    } else if (fake.nextExchange < fake.exchanges.size() && fake.exchanges[fake.nextExchange].command == sent) {
        reply = fake.exchanges[fake.nextExchange];
        ++fake.nextExchange;
    } else {
        ++fake.unexpected;
    }
    if (reply.result != SCARD_S_SUCCESS) {
        return reply.result;
    }
    const Bytes& answer = reply.answer;
    if (answer.size() > *responseLength) {
        return SCARD_E_INSUFFICIENT_BUFFER;
    }
    std::copy(answer.begin(), answer.end(), response);
    const std::size_t room = *responseLength - answer.size();
    std::copy_n(reply.beyond.begin(), std::min(room, reply.beyond.size()), response + answer.size());
    *responseLength = reply.reportedLength != 0 ? reply.reportedLength : static_cast<DWORD>(answer.size());
    return SCARD_S_SUCCESS;
}

LONG EndTransaction(SCARDHANDLE card, DWORD disposition)
{
    FakePcsc& fake = FakePcsc::Get();
    const Bookkeeping bookkeeping(fake);
    if (card != FakePcsc::kCard) {
        ++fake.badArguments;
    }
    fake.calls.push_back(Format("EndTransaction %llu", disposition));
    return fake.endResult;
}

LONG Disconnect(SCARDHANDLE card, DWORD disposition)
{
    FakePcsc& fake = FakePcsc::Get();
    const Bookkeeping bookkeeping(fake);
    if (card != FakePcsc::kCard) {
        ++fake.badArguments;
    }
    fake.calls.push_back(Format("Disconnect %llu", disposition));
    return fake.disconnectResult;
}

}  // namespace pcsc
