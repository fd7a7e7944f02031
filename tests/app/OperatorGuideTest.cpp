// The operator guide quotes every message the operator can see; these tests
// keep the guide and the program's texts from drifting apart.

#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/DriverMessages.h"
#include "app/HelpTexts.h"
#include "app/OptionMessages.h"
#include "card/CSError.h"
#include "card/ErrorMessages.h"
#include "card/ReaderSession.h"
#include "control/SerialLabel.h"
#include "support/CapturedOutput.h"
#include "support/ConsoleText.h"
#include "support/FakePcsc.h"
#include "support/GuideText.h"

#ifndef VARNICLE_OPERATOR_GUIDE
#error "VARNICLE_OPERATOR_GUIDE must name the operator guide"
#endif

namespace {

// Pieces with fewer visible characters than this (", ", ")", ".") carry no
// wording of their own.
constexpr std::size_t kMeaningfulLength = 3;

// A message may wrap over two lines of the guide.
std::string ReadGuide()
{
    return Unwrapped(ReadTextFile(VARNICLE_OPERATOR_GUIDE));
}

// Characters (UTF-8 sequences) other than blanks and tabs.
std::size_t VisibleLength(const std::string& text)
{
    std::size_t count = 0;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte & 0xC0) != 0x80 && byte != ' ' && byte != '\t') {
            ++count;
        }
    }
    return count;
}

// The fixed text of a printf format: the pieces between its conversions and
// line ends, each exactly as printed ("%%" gives "%").
std::vector<std::string> FixedPieces(const char* format)
{
    std::vector<std::string> pieces;
    std::string piece;
    const auto close = [&pieces, &piece] {
        if (VisibleLength(piece) >= kMeaningfulLength) {
            pieces.push_back(piece);
        }
        piece.clear();
    };
    for (const char* p = format; *p != '\0'; ++p) {
        if (*p == '\n') {
            close();
        } else if (*p != '%') {
            piece += *p;
        } else if (p[1] == '%') {
            piece += '%';
            ++p;
        } else {
            // Flags, width, precision and length, then the conversion letter.
            ++p;
            while (*p != '\0' && std::strchr("-+ #0123456789.hlLjzt", *p) != nullptr) {
                ++p;
            }
            close();
            if (*p == '\0') {
                break;
            }
        }
    }
    close();
    return pieces;
}

class OperatorGuideTest : public testing::Test {
protected:
    void SetUp() override
    {
        guide_ = ReadGuide();
        ASSERT_FALSE(guide_.empty()) << "cannot read " << VARNICLE_OPERATOR_GUIDE;
        FakePcsc::Get().Reset();
        g_readerSession = ReaderSession{};
    }

    // Every meaningful fixed piece of the message stands in the guide.
    void ExpectQuoted(const char* message) const
    {
        SCOPED_TRACE(testing::Message() << "message: \"" << message << '"');
        const std::vector<std::string> pieces = FixedPieces(message);
        EXPECT_FALSE(pieces.empty()) << "no fixed text to look for";
        for (const std::string& piece : pieces) {
            EXPECT_NE(guide_.find(piece), std::string::npos) << "the guide lacks \"" << piece << '"';
        }
    }

    // What the program wrote to the console stands in the guide, as the
    // console would show the guide: each piece between line ends and tabs
    // (which the guide lays out with blanks), without the blanks around it.
    void ExpectShown(const std::string& printed) const
    {
        SCOPED_TRACE(testing::Message() << "printed: \"" << printed << '"');
        const std::string shownGuide = ConsoleText(guide_);
        std::vector<std::string> pieces;
        std::string piece;
        for (const char c : printed + '\n') {
            if (c != '\n' && c != '\r' && c != '\t') {
                piece += c;
                continue;
            }
            const std::size_t first = piece.find_first_not_of(' ');
            const std::size_t last = piece.find_last_not_of(' ');
            // Console bytes need not be UTF-8: every piece that is not blank counts.
            if (first != std::string::npos) {
                pieces.push_back(piece.substr(first, last - first + 1));
            }
            piece.clear();
        }
        EXPECT_FALSE(pieces.empty()) << "nothing printed";
        for (const std::string& shown : pieces) {
            EXPECT_NE(shownGuide.find(shown), std::string::npos)
                << "the guide lacks \"" << shown << "\" (console bytes)";
        }
    }

    std::string guide_;
};

TEST(FixedPiecesTest, SplitsAtConversionsAndLineEnds)
{
    const struct {
        const char* format;
        std::vector<std::string> pieces;
    } cases[] = {
        {"Ошибка! Контроль СЗИ не пройден!", {"Ошибка! Контроль СЗИ не пройден!"}},
        {"%s версия %d.%02d.%02d.%02d\n", {" версия "}},
        {"Выполнено (%.3f сек.)\n", {"Выполнено (", " сек.)"}},
        {"\nПодключение...\nКонтроль\n", {"Подключение...", "Контроль"}},
        {"Ошибка! %04X, %s", {"Ошибка! "}},
        {"Ошибка CloseReader(A, %08X)", {"Ошибка CloseReader(A, "}},
        {"100%% done %-5lu%", {"100% done "}},
        {"%s", {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FixedPieces(c.format), c.pieces) << c.format;
    }
}

TEST_F(OperatorGuideTest, QuotesEveryDriverMessage)
{
    for (const char* message : driver_message::kAll) {
        ExpectQuoted(message);
    }
}

TEST_F(OperatorGuideTest, QuotesEveryOptionMessage)
{
    for (const char* message : option_message::kAll) {
        ExpectQuoted(message);
    }
}

TEST_F(OperatorGuideTest, QuotesEveryTransmitMessage)
{
    // Entry 0 is the empty text of success.
    for (std::size_t entry = 1; entry < std::size(TransmitMessages); ++entry) {
        ExpectQuoted(TransmitMessages[entry]);
    }
}

// Texts built outside the driver, taken from what the program prints.
TEST_F(OperatorGuideTest, ShowsTheReleaseAndModuleTexts)
{
    // No connection: CloseReader reports code 1; a failing disconnection 4.
    ExpectShown(CaptureOutput([] { CloseReader(); }));
    FakePcsc::Get().disconnectResult = SCARD_E_NO_SMARTCARD;
    g_readerSession.card = FakePcsc::kCard;
    ExpectShown(CaptureOutput([] { CloseReader(); }));

    const std::uint8_t serial[] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0x6F};
    ExpectShown(ConsoleText(BuildSerialLabel(3, serial, true).Text()));

    std::string raised;
    const std::string context = CaptureOutput([&serial, &raised] {
        try {
            BuildSerialLabel(0, serial, false);
        } catch (const CSError& error) {
            raised = error.Message().Text();
        }
    });
    ExpectShown(context);
    ExpectQuoted(raised.c_str());
}

TEST_F(OperatorGuideTest, ShowsTheHelpTexts)
{
    for (const char* command : {"-help", "-check", "-keycheck", "-x"}) {
        ExpectShown(CaptureOutput([command] { PrintCommandHelp(command); }));
    }
}

}  // namespace
