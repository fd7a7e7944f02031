#include "console/ApduTrace.h"

#include <string>

#include <gtest/gtest.h>

#include "card/ReaderSession.h"
#include "support/CapturedOutput.h"
#include "support/FakePcsc.h"

namespace {

std::string Blanks(int count)
{
    return std::string(static_cast<std::size_t>(count), ' ');
}

const std::string kEquals = "============================================";

// A key-control command: header 80 FE 07 00 20 and 32 data bytes.
const Bytes kCommand = HexBytes(
    "80 FE 07 00 20"
    "30 31 32 33 34 35 36 37 38 39 41 42 43 44 45 46"
    "7F 80 1F 20 61 7E 00 FF 5A 5A 5A 5A 5A 5A 5A 41");
const Bytes kAnswerData = HexBytes("DE 41 20 0A");

std::string Trace(std::uint32_t mode, const Bytes& command, const Bytes& answerData, std::uint16_t statusWord)
{
    return CaptureOutput([&] {
        TraceHook("Reader A", mode, command.data(), static_cast<std::uint32_t>(command.size()), kTraceCommand);
        TraceHook("Reader A", mode, answerData.data(), static_cast<std::uint32_t>(answerData.size()), statusWord);
    });
}

std::string Dump(const Bytes& bytes, bool masked)
{
    return CaptureOutput([&] { HexDump(bytes.data(), static_cast<std::int32_t>(bytes.size()), masked); });
}

TEST(ApduTraceTest, HeadersMode)
{
    EXPECT_EQ(Trace(1, kCommand, kAnswerData, 0x9000),
              "\n"
              "Reader A\n"
              "CLA=80 INS=FE P1=07 P2=00 P3=20... SW=9000\n");
}

TEST(ApduTraceTest, DataMode)
{
    EXPECT_EQ(Trace(2, kCommand, kAnswerData, 0x9000),
              "\n"
              "Reader A\n" +
                  kEquals +
                  "\n"
                  "CLA=80 INS=FE P1=07 P2=00 P3=20... \n"
                  "Data In:\n"
                  "  30 31 32 33 34 35 36 37 38 39 41 42 43 44 45 46    0123456789ABCDEF\n"
                  "  7F 80 1F 20 61 7E 00 FF 5A 5A 5A 5A 5A 5A 5A 41    ... a~..ZZZZZZZA\n"
                  "\n"
                  "\n"
                  "Data Out:\n"
                  "  DE 41 20 0A " +
                  Blanks(12 * 3) + "   .A .\n" + "SW=9000\n");
    // Every mode above 1 prints as data mode.
    EXPECT_EQ(Trace(7, kCommand, kAnswerData, 0x9000), Trace(2, kCommand, kAnswerData, 0x9000));
}

TEST(ApduTraceTest, DataModeWithoutDataShowsHeaderAndStatusWordOnly)
{
    EXPECT_EQ(Trace(2, HexBytes("80 FE 06 00 08"), Bytes{}, 0x6A82),
              "\n"
              "Reader A\n" +
                  kEquals +
                  "\n"
                  "CLA=80 INS=FE P1=06 P2=00 P3=08... SW=6A82\n");
}

TEST(ApduTraceTest, ModeZeroPrintsNothing)
{
    EXPECT_EQ(Trace(0, kCommand, kAnswerData, 0x6A82), "");
}

TEST(ApduTraceTest, DumpOfSixteenAndSeventeenBytes)
{
    const Bytes sixteen = HexBytes("41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50");
    EXPECT_EQ(Dump(sixteen, false), "  41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50    ABCDEFGHIJKLMNOP\n");

    Bytes seventeen = sixteen;
    seventeen.push_back(0x51);
    EXPECT_EQ(Dump(seventeen, false),
              "  41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50    ABCDEFGHIJKLMNOP\n"
              "  51 " +
                  Blanks(15 * 3) + "   Q\n");

    EXPECT_EQ(Dump(Bytes{}, false), "  ");
    EXPECT_EQ(Dump(sixteen, true), "  XX XX XX XX XX XX XX XX XX XX XX XX XX XX XX XX ");
}

// VERIFY and CHANGE REFERENCE DATA carry secrets in their data.
TEST(ApduTraceTest, MaskedCommandData)
{
    struct Case {
        const char* command;
        const char* header;
        std::string dump;
    };
    const Case cases[] = {
        {"00 20 00 01 08 31 32 33 34 35 36 37 38", "CLA=00 INS=20 P1=00 P2=01 P3=08... ",
         "  XX XX XX XX XX XX XX XX " + Blanks(8 * 3)},
        {"00 24 00 01 04 31 32 33 34", "CLA=00 INS=24 P1=00 P2=01 P3=04... ", "  XX XX XX XX " + Blanks(12 * 3)},
        {"00 22 00 01 02 31 32", "CLA=00 INS=22 P1=00 P2=01 P3=02... ", "  31 32 " + Blanks(14 * 3) + "   12\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        EXPECT_EQ(Trace(2, HexBytes(c.command), Bytes{}, 0x9000),
                  "\nReader A\n" + kEquals + "\n" + c.header + "\nData In:\n" + c.dump + "\n" + "SW=9000\n");
    }
}

class ApduTraceTransmitTest : public testing::Test {
protected:
    void SetUp() override
    {
        FakePcsc::Get().Reset();
        g_readerSession = ReaderSession{};
        g_readerSession.context = FakePcsc::kContext;
        g_readerSession.traceHook = TraceHook;
    }

    std::string Exchange(std::uint32_t mode, const std::string& commandHex)
    {
        EXPECT_EQ(OpenReader("Reader A", mode), result::kSuccess);
        const Bytes command = HexBytes(commandHex);
        return CaptureOutput([&] {
            code = Transmit(command.data(), static_cast<std::uint32_t>(command.size()), response, &responseLength);
        });
    }

    FakePcsc& fake = FakePcsc::Get();
    ResultCode code = 0xFFFF;
    std::uint8_t response[260] = {};
    std::uint32_t responseLength = sizeof response;
};

TEST_F(ApduTraceTransmitTest, MoreDataExchangeTracesBothCommandsAndAnswers)
{
    fake.Answer("80 FE 06 00 00", "61 08").Answer("00 C0 00 00 08", "52 55 30 37 00 01 02 03 90 00");
    const std::string output = Exchange(2, "80 FE 06 00 00");
    EXPECT_EQ(code, result::kSuccess);
    EXPECT_EQ(output, "\nReader A\n" + kEquals +
                          "\n"
                          "CLA=80 INS=FE P1=06 P2=00 P3=00... SW=6108\n"
                          "\nReader A\n" +
                          kEquals +
                          "\n"
                          "CLA=00 INS=C0 P1=00 P2=00 P3=08... \n"
                          "Data Out:\n"
                          "  52 55 30 37 00 01 02 03 " +
                          Blanks(8 * 3) + "   RU07....\n" + "SW=9000\n");
}

TEST_F(ApduTraceTransmitTest, PcscFailurePrintsTheCommandOnly)
{
    fake.Answer("80 FE 00 00 00", "", SCARD_W_REMOVED_CARD);
    EXPECT_EQ(Exchange(1, "80 FE 00 00 00"), "\nReader A\nCLA=80 INS=FE P1=00 P2=00 P3=00... ");
    EXPECT_EQ(code, result::kPcscFailure);
}

// A four-byte command has no P3: the header shows 00, not a byte left in the
// trace copy by the exchange before.
TEST_F(ApduTraceTransmitTest, FourByteCommandShowsZeroForP3)
{
    fake.Answer("80 FE 06 00 AB", "90 00").Answer("80 FE 02 00", "90 00");
    Exchange(1, "80 FE 06 00 AB");
    EXPECT_EQ(Exchange(1, "80 FE 02 00"), "\nReader A\nCLA=80 INS=FE P1=02 P2=00 P3=00... SW=9000\n");
    EXPECT_EQ(code, result::kSuccess);
}

}  // namespace
