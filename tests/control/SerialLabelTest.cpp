#include "control/SerialLabel.h"

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "card/CSError.h"
#include "support/CapturedOutput.h"
#include "support/ConsoleText.h"

namespace {

struct LabelCase {
    std::uint8_t moduleType;
    std::uint8_t serial[7];
    std::string label;
};

void PrintTo(const LabelCase& c, std::ostream* os)
{
    *os << "module " << int{c.moduleType};
}

// "РОСС" spelt out in bytes: Cyrillic Er, O, Es, Es.
const std::string kRoss = "\xD0\xA0\xD0\x9E\xD0\xA1\xD0\xA1";

const LabelCase kLabelCases[] = {
    {3, {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0x6F}, kRoss + " RU.07.3815.00001.001A2B3C4D5E "},
    {1, {0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10}, kRoss + " RU.07.3815.00002.0A0B0C0D0E0F "},
    {5, {0xFF, 0x80, 0x7F, 0x01, 0x00, 0xC3, 0xAA}, kRoss + " RU.07.3815.00003.FF807F0100C3 "},
};

class SerialLabelTest : public testing::TestWithParam<LabelCase> {};

TEST_P(SerialLabelTest, FormatsTypeAndFirstSixBytes)
{
    const LabelCase& c = GetParam();
    std::string output = CaptureOutput([&] {
        const WipeString label = BuildSerialLabel(c.moduleType, c.serial, false);
        EXPECT_EQ(std::string(label.Text(), label.Size()), c.label);
    });
    EXPECT_EQ(output, "");
}

INSTANTIATE_TEST_SUITE_P(Types, SerialLabelTest, testing::ValuesIn(kLabelCases));

TEST(SerialLabelUnsupportedTest, RaisesForOtherTypes)
{
    const std::uint8_t serial[6] = {1, 2, 3, 4, 5, 6};
    for (const int type : {0, 2, 4, 6, 255}) {
        for (const bool silent : {false, true}) {
            std::string message;
            const std::string output = CaptureOutput([&] {
                try {
                    BuildSerialLabel(static_cast<std::uint8_t>(type), serial, silent);
                } catch (const CSError& error) {
                    message = error.Message().Text();
                }
            });
            EXPECT_EQ(message, "Ошибка! Transmit: Ошибка.") << type;
            EXPECT_EQ(output, silent ? "" : ConsoleText("Ошибка! Данный модуль не поддерживается!")) << type;
        }
    }
}

}  // namespace
