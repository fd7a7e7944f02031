#include "card/ReaderSession.h"

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/CapturedOutput.h"
#include "support/ConsoleText.h"
#include "support/FakePcsc.h"

namespace {

struct HookCall {
    std::string readerName;
    std::uint32_t traceMode;
    const std::uint8_t* data;
    Bytes bytes;
    std::uint16_t statusWord;
};

std::vector<HookCall> g_hookCalls;

void RecordingHook(const char* readerName, std::uint32_t traceMode, const std::uint8_t* data, std::uint32_t length,
                   std::uint16_t statusWord)
{
    g_hookCalls.push_back(HookCall{readerName, traceMode, data, Bytes(data, data + length), statusWord});
}

// Loops over cases call Reset under ASSERT_NO_FATAL_FAILURE, so that a failed
// set-up ends the test instead of running the case on a stale record.
class CardTest : public testing::Test {
protected:
    void SetUp() override { Reset(); }

    virtual void Reset()
    {
        FakePcsc::Get().Reset();
        g_readerSession = ReaderSession{};
        g_hookCalls.clear();
    }

    FakePcsc& fake = FakePcsc::Get();
};

// A session connected through OpenReader, with the recording hook and a
// cleared call record.
class TransmitTest : public CardTest {
protected:
    void Reset() override
    {
        CardTest::Reset();
        g_readerSession.context = FakePcsc::kContext;
        g_readerSession.traceHook = RecordingHook;
        ASSERT_EQ(OpenReader("Reader A", 2), result::kSuccess);
        fake.calls.clear();
        std::memset(response, 0, sizeof response);
        responseLength = sizeof response;
    }

    ResultCode Send(const std::string& commandHex)
    {
        const Bytes command = HexBytes(commandHex);
        return Transmit(command.data(), static_cast<std::uint32_t>(command.size()), response, &responseLength);
    }

    std::uint8_t response[260] = {};
    std::uint32_t responseLength = sizeof response;
};

TEST_F(TransmitTest, CommandLengthBounds)
{
    struct Case {
        std::uint32_t length;
        ResultCode expected;
    };
    for (const Case& c : {Case{3, result::kParameterError}, Case{4, result::kSuccess}, Case{260, result::kSuccess},
                          Case{261, result::kParameterError}}) {
        SCOPED_TRACE(c.length);
        ASSERT_NO_FATAL_FAILURE(Reset());
        Bytes command(c.length, 0x11);
        command[0] = 0x80;
        if (c.expected == result::kSuccess) {
            fake.Answer(command, HexBytes("90 00"));
        }
        EXPECT_EQ(Transmit(command.data(), c.length, response, &responseLength), c.expected);
        if (c.expected == result::kSuccess) {
            ASSERT_EQ(fake.commands.size(), 1u);
            EXPECT_EQ(fake.commands[0], command);
            EXPECT_EQ(g_hookCalls.size(), 2u);
        } else {
            EXPECT_TRUE(fake.commands.empty());
            EXPECT_TRUE(g_hookCalls.empty());
            EXPECT_EQ(responseLength, sizeof response);
        }
    }
    EXPECT_EQ(fake.unexpected, 0);
    EXPECT_EQ(fake.badArguments, 0);
}

TEST_F(CardTest, TransmitWithoutCardHandleFailsBeforeTheLengthCheck)
{
    g_readerSession.traceHook = RecordingHook;
    g_readerSession.lastStatusWord = 0x6A82;
    const std::uint8_t command[3] = {0x80, 0xFE, 0x00};
    std::uint32_t length = 10;
    EXPECT_EQ(Transmit(command, 3, nullptr, &length), result::kNoConnection);
    EXPECT_EQ(Transmit(command, 300, nullptr, &length), result::kNoConnection);
    EXPECT_TRUE(fake.calls.empty());
    EXPECT_TRUE(g_hookCalls.empty());
    EXPECT_EQ(g_readerSession.lastStatusWord, 0x6A82);
    EXPECT_EQ(length, 10u);
}

TEST_F(TransmitTest, BareSuccessGivesNoData)
{
    fake.Answer("80 FE 02 00 00", "90 00");
    EXPECT_EQ(Send("80 FE 02 00 00"), result::kSuccess);
    EXPECT_EQ(responseLength, 0u);
    EXPECT_EQ(g_readerSession.lastStatusWord, 0x9000);
    EXPECT_EQ(g_readerSession.lastPcscError, 0u);

    ASSERT_EQ(g_hookCalls.size(), 2u);
    EXPECT_EQ(g_hookCalls[0].readerName, "Reader A");
    EXPECT_EQ(g_hookCalls[0].traceMode, 2u);
    EXPECT_EQ(g_hookCalls[0].statusWord, kTraceCommand);
    EXPECT_EQ(HexString(g_hookCalls[0].bytes), "80FE020000");
    EXPECT_EQ(g_hookCalls[1].statusWord, 0x9000);
    EXPECT_TRUE(g_hookCalls[1].bytes.empty());
    // The hook sees the trace copy, never the caller's or the receive buffer.
    EXPECT_EQ(g_hookCalls[0].data, g_traceCopy);
    EXPECT_EQ(g_hookCalls[1].data, g_traceCopy);
}

TEST_F(TransmitTest, MoreDataAvailableSendsOneGetResponse)
{
    struct Case {
        const char* firstAnswer;
        const char* getResponse;
        std::string data;
    };
    const std::string data256(512, 'A');
    for (const Case& c : {Case{"61 10", "00 C0 00 00 10", "00112233445566778899AABBCCDDEEFF"},
                          Case{"61 00", "00 C0 00 00 00", data256}}) {
        SCOPED_TRACE(c.getResponse);
        ASSERT_NO_FATAL_FAILURE(Reset());
        fake.Answer("80 FE 06 00 00", c.firstAnswer).Answer(c.getResponse, c.data + "9000");
        EXPECT_EQ(Send("80 FE 06 00 00"), result::kSuccess);
        EXPECT_EQ(fake.unexpected, 0);
        ASSERT_EQ(fake.commands.size(), 2u);
        EXPECT_EQ(fake.commands[1], HexBytes(c.getResponse));
        EXPECT_EQ(HexString(response, responseLength), c.data);
        EXPECT_EQ(g_readerSession.lastStatusWord, 0x9000);

        ASSERT_EQ(g_hookCalls.size(), 4u);
        EXPECT_EQ(g_hookCalls[1].statusWord, HexBytes(c.firstAnswer)[0] << 8 | HexBytes(c.firstAnswer)[1]);
        EXPECT_EQ(g_hookCalls[2].statusWord, kTraceCommand);
        EXPECT_EQ(g_hookCalls[2].bytes, HexBytes(c.getResponse));
        EXPECT_EQ(HexString(g_hookCalls[3].bytes), c.data);
    }
}

TEST_F(TransmitTest, SecondMoreDataEndsTheExchange)
{
    fake.Answer("80 FE 06 00 00", "61 08").Answer("00 C0 00 00 08", "61 05");
    EXPECT_EQ(Send("80 FE 06 00 00"), result::kStatusWord);
    EXPECT_EQ(g_readerSession.lastStatusWord, 0x6105);
    EXPECT_EQ(fake.commands.size(), 2u);
    EXPECT_EQ(responseLength, sizeof response);
}

TEST_F(TransmitTest, ErrorStatusWord)
{
    fake.Answer("00 A4 04 00 02 3F 00", "6A 82");
    EXPECT_EQ(Send("00 A4 04 00 02 3F 00"), result::kStatusWord);
    EXPECT_EQ(g_readerSession.lastStatusWord, 0x6A82);
    EXPECT_EQ(fake.commands.size(), 1u);
    ASSERT_EQ(g_hookCalls.size(), 2u);
    EXPECT_EQ(g_hookCalls[1].statusWord, 0x6A82);
}

// Data in front of a status word other than 9000 never leads to GET RESPONSE,
// even when the status word is 61xx or the first byte is 0x61.
TEST_F(TransmitTest, DataBeforeErrorStatusWordEndsWithStatusWordResult)
{
    for (const char* answer : {"AA BB 61 10", "61 05 6A 82", "01 62 83"}) {
        SCOPED_TRACE(answer);
        ASSERT_NO_FATAL_FAILURE(Reset());
        fake.Answer("80 FE 00 00 00", answer);
        EXPECT_EQ(Send("80 FE 00 00 00"), result::kStatusWord);
        EXPECT_EQ(fake.commands.size(), 1u);
        const Bytes bytes = HexBytes(answer);
        EXPECT_EQ(g_readerSession.lastStatusWord, bytes[bytes.size() - 2] << 8 | bytes[bytes.size() - 1]);
        EXPECT_EQ(responseLength, sizeof response);
    }
}

TEST_F(TransmitTest, ResponseCapacity)
{
    fake.Answer("80 FE 06 00 08", "01 02 03 04 05 06 07 08 90 00");
    std::uint8_t small[8];
    std::memset(small, 0xEE, sizeof small);
    std::uint32_t capacity = 7;
    const Bytes command = HexBytes("80 FE 06 00 08");
    EXPECT_EQ(Transmit(command.data(), 5, small, &capacity), result::kParameterError);
    EXPECT_EQ(capacity, 7u);
    EXPECT_EQ(HexString(small, sizeof small), "EEEEEEEEEEEEEEEE");
    EXPECT_EQ(g_readerSession.lastStatusWord, 0x9000);

    fake.Answer("80 FE 06 00 08", "01 02 03 04 05 06 07 08 90 00");
    capacity = 8;
    EXPECT_EQ(Transmit(command.data(), 5, small, &capacity), result::kSuccess);
    EXPECT_EQ(capacity, 8u);
    EXPECT_EQ(HexString(small, sizeof small), "0102030405060708");
}

TEST_F(TransmitTest, NullLengthWordOrNullResponse)
{
    const Bytes command = HexBytes("80 FE 06 00 02");
    fake.Answer(command, HexBytes("AB CD 90 00")).Answer(command, HexBytes("AB CD 90 00"));

    std::memset(response, 0xEE, sizeof response);
    EXPECT_EQ(Transmit(command.data(), 5, response, nullptr), result::kSuccess);
    EXPECT_EQ(response[0], 0xEE);

    std::uint32_t length = 100;
    EXPECT_EQ(Transmit(command.data(), 5, nullptr, &length), result::kSuccess);
    EXPECT_EQ(length, 2u);
    EXPECT_EQ(fake.unexpected, 0);
}

TEST_F(TransmitTest, PcscFailureTracesTheCommandOnly)
{
    fake.Answer("80 FE 00 00 00", "", SCARD_W_REMOVED_CARD);
    EXPECT_EQ(Send("80 FE 00 00 00"), result::kPcscFailure);
    EXPECT_EQ(g_readerSession.lastPcscError, 0x80100069u);
    EXPECT_EQ(g_readerSession.lastStatusWord, 0);
    ASSERT_EQ(g_hookCalls.size(), 1u);
    EXPECT_EQ(g_hookCalls[0].statusWord, kTraceCommand);
}

TEST_F(TransmitTest, GetResponseFailureKeepsTheMoreDataStatusWord)
{
    fake.Answer("80 FE 06 00 00", "61 08").Answer("00 C0 00 00 08", "", SCARD_E_NOT_TRANSACTED);
    EXPECT_EQ(Send("80 FE 06 00 00"), result::kPcscFailure);
    EXPECT_EQ(g_readerSession.lastPcscError, 0x80100016u);
    EXPECT_EQ(g_readerSession.lastStatusWord, 0x6108);
    EXPECT_EQ(g_hookCalls.size(), 3u);
}

TEST_F(TransmitTest, ShortAnswerRecordsACommunicationError)
{
    for (const char* answer : {"", "90"}) {
        SCOPED_TRACE(answer);
        ASSERT_NO_FATAL_FAILURE(Reset());
        fake.Answer("80 FE 00 00 00", answer);
        EXPECT_EQ(Send("80 FE 00 00 00"), result::kPcscFailure);
        EXPECT_EQ(g_readerSession.lastPcscError, kShortAnswerError);
        EXPECT_EQ(static_cast<LONG>(kShortAnswerError), SCARD_F_COMM_ERROR);
        EXPECT_EQ(g_readerSession.lastStatusWord, 0);
        EXPECT_EQ(g_hookCalls.size(), 1u);
    }
}

// A layer that reports more bytes than the receive buffer (258) holds is
// faulty: the answer is not read at all, past the buffer or within it.
TEST_F(TransmitTest, ReportedLengthBeyondTheBufferIsATransportFault)
{
    for (const DWORD reported : {DWORD{259}, DWORD{0x10000}}) {
        SCOPED_TRACE(reported);
        ASSERT_NO_FATAL_FAILURE(Reset());
        fake.Answer("80 FE 00 00 00", "01 02 90 00");
        fake.exchanges.back().reportedLength = reported;
        EXPECT_EQ(Send("80 FE 00 00 00"), result::kPcscFailure);
        EXPECT_EQ(g_readerSession.lastPcscError, kOverlongAnswerError);
        EXPECT_EQ(static_cast<LONG>(kOverlongAnswerError), SCARD_E_INSUFFICIENT_BUFFER);
        EXPECT_EQ(g_readerSession.lastStatusWord, 0);
        EXPECT_EQ(g_hookCalls.size(), 1u);  // the command only
        EXPECT_EQ(responseLength, sizeof response);
        EXPECT_EQ(response[0], 0);
    }
}

TEST_F(CardTest, SendRecordFollowsTheActiveProtocol)
{
    struct Case {
        DWORD protocol;
        const char* record;
    };
    for (const Case& c : {Case{SCARD_PROTOCOL_T0, "T0"}, Case{SCARD_PROTOCOL_T1, "T1"}, Case{0, "T1"},
                          Case{SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, "T1"}}) {
        SCOPED_TRACE(c.record);
        ASSERT_NO_FATAL_FAILURE(Reset());
        fake.activeProtocol = c.protocol;
        g_readerSession.context = FakePcsc::kContext;
        ASSERT_EQ(OpenReader("Reader A", 0), result::kSuccess);
        EXPECT_EQ(g_readerSession.activeProtocol, c.protocol);
        fake.Answer("80 FE 00 00 00", "90 00");
        const Bytes command = HexBytes("80 FE 00 00 00");
        EXPECT_EQ(Transmit(command.data(), 5, nullptr, nullptr), result::kSuccess);
        EXPECT_EQ(fake.calls.back(), std::string("Transmit ") + c.record + " 80FE000000");
    }
}

TEST_F(CardTest, ReaderNameBounds)
{
    const std::string name63(63, 'r');
    const std::string name64(64, 'r');
    struct Case {
        const char* name;
        ResultCode expected;
    };
    for (const Case& c : {Case{name63.c_str(), result::kSuccess}, Case{name64.c_str(), result::kBadReaderName},
                          Case{"", result::kBadReaderName}, Case{nullptr, result::kBadReaderName}}) {
        SCOPED_TRACE(c.name == nullptr ? "null" : std::to_string(std::strlen(c.name)));
        ASSERT_NO_FATAL_FAILURE(Reset());
        g_readerSession.context = FakePcsc::kContext;
        g_readerSession.lastPcscError = 0x1234;
        g_readerSession.traceMode = 7;
        EXPECT_EQ(OpenReader(c.name, 1), c.expected);
        if (c.expected == result::kSuccess) {
            EXPECT_EQ(std::string(g_readerSession.readerName), name63);
            EXPECT_EQ(g_readerSession.readerName[63], '\0');
            EXPECT_EQ(fake.calls.front(), "Connect reader=" + name63 + " share=2 protocols=3");
        } else {
            EXPECT_TRUE(fake.calls.empty());
            EXPECT_EQ(g_readerSession.lastPcscError, 0x1234u);
            EXPECT_EQ(g_readerSession.traceMode, 7u);
        }
    }
}

TEST_F(CardTest, OpenReaderClearsTheRecordAndKeepsHookAndContext)
{
    g_readerSession.traceHook = RecordingHook;
    g_readerSession.context = FakePcsc::kContext;
    std::memset(g_readerSession.readerName, 'x', sizeof g_readerSession.readerName);
    g_readerSession.lastStatusWord = 0x6A82;
    g_readerSession.lastPcscError = 0x80100069;
    fake.atr = HexBytes("3B 02 14 50");

    EXPECT_EQ(OpenReader("Reader A", 2), result::kSuccess);
    EXPECT_EQ(g_readerSession.traceHook, &RecordingHook);
    EXPECT_EQ(g_readerSession.context, FakePcsc::kContext);
    EXPECT_STREQ(g_readerSession.readerName, "Reader A");
    EXPECT_EQ(g_readerSession.readerName[63], '\0');
    EXPECT_EQ(g_readerSession.card, FakePcsc::kCard);
    EXPECT_EQ(g_readerSession.activeProtocol, static_cast<std::uint32_t>(SCARD_PROTOCOL_T1));
    EXPECT_EQ(g_readerSession.shareMode, 2u);
    EXPECT_EQ(g_readerSession.traceMode, 2u);
    EXPECT_EQ(g_readerSession.lastStatusWord, 0);
    EXPECT_EQ(g_readerSession.lastPcscError, 0u);
    EXPECT_EQ(HexString(g_readerSession.atr, g_readerSession.atrLength), "3B021450");
    EXPECT_EQ(fake.calls,
              (std::vector<std::string>{"Connect reader=Reader A share=2 protocols=3", "GetAttrib 00090303 size=33"}));
    EXPECT_EQ(fake.badArguments, 0);
}

TEST_F(CardTest, ConnectFailure)
{
    g_readerSession.context = FakePcsc::kContext;
    g_readerSession.lastStatusWord = 0x9000;
    fake.connectResult = SCARD_E_UNKNOWN_READER;
    EXPECT_EQ(OpenReader("Reader A", 1), result::kPcscFailure);
    EXPECT_EQ(g_readerSession.lastPcscError, 0x80100009u);
    EXPECT_EQ(g_readerSession.card, SCARDHANDLE{0});
    EXPECT_STREQ(g_readerSession.readerName, "Reader A");
    EXPECT_EQ(g_readerSession.shareMode, 2u);
    EXPECT_EQ(g_readerSession.traceMode, 1u);
    EXPECT_EQ(g_readerSession.lastStatusWord, 0);
    EXPECT_EQ(fake.calls.size(), 1u);
}

// The ATR comes from the attribute, or from SCardStatus when (and only when)
// the reader driver does not offer the attribute.
TEST_F(CardTest, AtrRead)
{
    struct Case {
        const char* name;
        LONG getAttribResult;
        LONG statusResult;
        Bytes atr;
        ResultCode expected;
        std::uint32_t lastPcscError;
        std::vector<std::string> calls;
    };
    const Bytes atr33 = HexBytes(
        "3B FF 96 00 00 81 31 FE 43 80 31 80 65 B0 84 65 66 FB 12 01 78 82 90 00 85 11 22 "
        "33 44 55 66 77 88");
    const Bytes atr34 = HexBytes(HexString(atr33) + "99");
    const std::string connect = "Connect reader=Reader A share=2 protocols=3";
    const std::string getAttrib = "GetAttrib 00090303 size=33";
    const std::string status = "Status size=33";
    const std::vector<Case> cases = {
        {"33-byte ATR", SCARD_S_SUCCESS, SCARD_S_SUCCESS, atr33, result::kSuccess, 0, {connect, getAttrib}},
        {"34-byte ATR",
         SCARD_S_SUCCESS,
         SCARD_S_SUCCESS,
         atr34,
         result::kPcscFailure,
         0x80100008,
         {connect, getAttrib}},
        {"attribute fails",
         SCARD_E_NO_SMARTCARD,
         SCARD_S_SUCCESS,
         atr33,
         result::kPcscFailure,
         0x8010000C,
         {connect, getAttrib}},
        {"attribute unsupported",
         SCARD_E_UNSUPPORTED_FEATURE,
         SCARD_S_SUCCESS,
         atr33,
         result::kSuccess,
         0,
         {connect, getAttrib, status}},
        {"status fails too",
         SCARD_E_UNSUPPORTED_FEATURE,
         SCARD_W_REMOVED_CARD,
         atr33,
         result::kPcscFailure,
         0x80100069,
         {connect, getAttrib, status}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(Reset());
        g_readerSession.context = FakePcsc::kContext;
        fake.getAttribResult = c.getAttribResult;
        fake.statusResult = c.statusResult;
        fake.atr = c.atr;
        EXPECT_EQ(OpenReader("Reader A", 0), c.expected);
        EXPECT_EQ(g_readerSession.lastPcscError, c.lastPcscError);
        EXPECT_EQ(fake.calls, c.calls);
        // A failed ATR read leaves the card connected.
        EXPECT_EQ(g_readerSession.card, FakePcsc::kCard);
        if (c.expected == result::kSuccess) {
            EXPECT_EQ(g_readerSession.atrLength, c.atr.size());
            EXPECT_EQ(HexString(g_readerSession.atr, g_readerSession.atrLength), HexString(c.atr));
        }
    }
}

TEST_F(CardTest, EndTransaction)
{
    EXPECT_EQ(EndTransaction(), result::kNoConnection);
    EXPECT_TRUE(fake.calls.empty());

    g_readerSession.card = FakePcsc::kCard;
    EXPECT_EQ(EndTransaction(), result::kSuccess);
    EXPECT_EQ(fake.calls.back(), "EndTransaction 0");

    fake.endResult = SCARD_E_NOT_TRANSACTED;
    EXPECT_EQ(EndTransaction(), result::kPcscFailure);
    EXPECT_EQ(g_readerSession.lastPcscError, 0x80100016u);
}

TEST_F(CardTest, CloseReader)
{
    std::string output;
    output = CaptureOutput([] { EXPECT_EQ(CloseReader(), result::kNoConnection); });
    EXPECT_EQ(output, ConsoleText("Ошибка CloseReader(A, 00000001)"));
    EXPECT_TRUE(fake.calls.empty());

    g_readerSession.card = FakePcsc::kCard;
    output = CaptureOutput([] { EXPECT_EQ(CloseReader(), result::kSuccess); });
    EXPECT_EQ(output, "");
    EXPECT_EQ(fake.calls.back(), "Disconnect 2");

    fake.disconnectResult = SCARD_E_INVALID_HANDLE;
    output = CaptureOutput([] { EXPECT_EQ(CloseReader(), result::kPcscFailure); });
    EXPECT_EQ(output, ConsoleText("Ошибка CloseReader(A, 00000004)"));
    EXPECT_EQ(g_readerSession.lastPcscError, 0u);
}

}  // namespace
