#include "control/ModuleControl.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "card/ReaderSession.h"
#include "support/FakePcsc.h"
#include "support/GenuineModule.h"

namespace {

class ModuleControlFixture {
protected:
    void Prepare()
    {
        fake().Reset();
        g_readerSession = ReaderSession{};
        g_readerSession.card = FakePcsc::kCard;
        g_readerSession.activeProtocol = SCARD_PROTOCOL_T1;
    }
    static FakePcsc& fake() { return FakePcsc::Get(); }
};

std::vector<std::string> Sent()
{
    std::vector<std::string> sent;
    for (const Bytes& command : FakePcsc::Get().commands) {
        sent.push_back(HexString(command));
    }
    return sent;
}

struct PassCase {
    TestModule module;
    bool keyControl;
    std::uint8_t controlMode;
    std::uint8_t moduleType;
};

void PrintTo(const PassCase& c, std::ostream* os)
{
    *os << "module " << int{c.moduleType} << (c.keyControl ? " key" : " non-key") << " mode " << int{c.controlMode};
}

class ModuleControlPasses : public ModuleControlFixture, public testing::TestWithParam<PassCase> {
protected:
    void SetUp() override { Prepare(); }
};

TEST_P(ModuleControlPasses, GenuineModule)
{
    const PassCase& c = GetParam();
    const ModuleDialogue dialogue = GenuineDialogue(c.module, c.keyControl);
    ScriptDialogue(fake(), dialogue);

    std::uint8_t moduleType = 0;
    EXPECT_EQ(ModuleControl(c.keyControl ? 1 : 0, c.controlMode, &moduleType), result::kSuccess);
    EXPECT_EQ(moduleType, c.moduleType);
    EXPECT_EQ(fake().unexpected, 0);
    EXPECT_EQ(fake().badArguments, 0);

    std::vector<std::string> expected = {kIdentifyCommand, kStateCommand, HexString(HexBytes(dialogue.controlCommand))};
    if (c.module != TestModule::kST31H320) {
        expected.push_back(kFinalCommand);
    }
    EXPECT_EQ(Sent(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Modules, ModuleControlPasses,
    testing::Values(PassCase{TestModule::kST23R160, false, 0, 1}, PassCase{TestModule::kST23R160, true, 0, 1},
                    PassCase{TestModule::kST23R160, true, 1, 1}, PassCase{TestModule::kST23L80, false, 0, 3},
                    PassCase{TestModule::kST23L80, true, 3, 3}, PassCase{TestModule::kST23L80, false, 3, 3},
                    PassCase{TestModule::kST31H320, false, 0, 5}, PassCase{TestModule::kST31H320, true, 0, 5},
                    PassCase{TestModule::kST31H320, true, 5, 5}));

enum class Step { kIdentify, kState, kControl, kFinal };

struct FailCase {
    const char* name;
    TestModule module;
    bool keyControl;
    std::uint8_t controlMode;
    Step step;           // the answer that differs from the genuine one
    std::string answer;  // the answer sent instead
    ResultCode expected;
    std::size_t sent;  // commands sent in all
};

void PrintTo(const FailCase& c, std::ostream* os)
{
    *os << c.name;
}

const std::string kFiller48 =
    "000000000000000000000000000000000000000000000000 0102030405060708090A0B0C0D0E0F101112131415161718";

const FailCase kFailCases[] = {
    {"designation of another module", TestModule::kST23R160, false, 3, Step::kIdentify, "", 0xA004, 1},
    {"designation 00003 on an ST23L80", TestModule::kST23L80, true, 5, Step::kIdentify, "", 0xA004, 1},
    {"ST23L80 template and one more byte", TestModule::kST23L80, false, 0, Step::kIdentify,
     "80 07 53543233 4C3830 81 08 536F6C7661726961 82 05 54616D696B 83 02 0130 00 9000", 0xA004, 1},
    {"31 bytes of another version", TestModule::kST23R160, false, 0, Step::kIdentify,
     "80 08 5354323352313630 81 08 536F6C7661726961 82 05 54616D696B 83 02 0131 9000", 0xA004, 1},
    {"30 bytes, not the ST23L80 template", TestModule::kST23L80, false, 0, Step::kIdentify,
     "80 07 53543233 4C3831 81 08 536F6C7661726961 82 05 54616D696B 83 02 0130 9000", 0xA004, 1},
    {"empty identification", TestModule::kST23L80, false, 0, Step::kIdentify, "9000", 0xA004, 1},
    {"identification refused", TestModule::kST23L80, false, 0, Step::kIdentify, "6D00", 5, 1},
    {"state byte not zero", TestModule::kST23R160, false, 0, Step::kState, "0000000000000100 9000", 0xA004, 2},
    {"state of 9 bytes", TestModule::kST23R160, false, 0, Step::kState, "000000000000000000 9000", 0xA004, 2},
    {"state of 7 bytes", TestModule::kST31H320, false, 0, Step::kState, "00000000000000 9000", 0xA004, 2},
    {"state of 31 bytes beyond the ST23L80 capacity", TestModule::kST23L80, false, 0, Step::kState,
     std::string(62, '0') + "9000", 2, 2},
    {"state of 31 bytes within the ST23R160 capacity", TestModule::kST23R160, false, 0, Step::kState,
     std::string(62, '0') + "9000", 0xA004, 2},
    {"state refused", TestModule::kST31H320, true, 0, Step::kState, "6982", 5, 2},
    {"control word in the wrong byte order", TestModule::kST23L80, true, 0, Step::kControl, "A3EF889F 9000", 0xA004, 3},
    {"ST23 control answer of 5 bytes", TestModule::kST23R160, false, 0, Step::kControl, "682F61B400 9000", 2, 3},
    {"ST23 key control answer of 5 bytes", TestModule::kST23R160, true, 0, Step::kControl, "9F88EFA300 9000", 2, 3},
    {"ST31 key word at offset 0 instead of 4", TestModule::kST31H320, true, 0, Step::kControl,
     "ABFDCF00 C4C5C6C7 " + kFiller48 + " 9000", 0xA004, 3},
    {"ST31 key answer over 56 bytes", TestModule::kST31H320, true, 0, Step::kControl,
     "C0C1C2C3 ABFDCF00 " + kFiller48 + " 00 9000", 2, 3},
    {"ST31 non-key answer over 52 bytes", TestModule::kST31H320, false, 0, Step::kControl,
     "F68C779C " + kFiller48 + " 00 9000", 2, 3},
    {"ST31 non-key word wrong", TestModule::kST31H320, false, 0, Step::kControl, "F68C779D " + kFiller48 + " 9000",
     0xA004, 3},
    {"control refused", TestModule::kST23L80, false, 0, Step::kControl, "6A86", 5, 3},
    {"final word wrong", TestModule::kST23L80, false, 0, Step::kFinal, std::string(56, 'A') + "5FB9B307 9000", 0xA004,
     4},
    {"final word of the other ST23", TestModule::kST23R160, true, 0, Step::kFinal,
     std::string(56, 'A') + "3E94898A 9000", 0xA004, 4},
    {"final answer over 32 bytes", TestModule::kST23R160, false, 0, Step::kFinal,
     std::string(56, 'A') + "5FB9B307 00 9000", 2, 4},
    {"final refused", TestModule::kST23R160, false, 0, Step::kFinal, "6985", 5, 4},
    // Answers too short to hold the compared word never pass.
    {"ST23 control answer of 3 bytes", TestModule::kST23L80, false, 0, Step::kControl, "682F61 9000", 0xA004, 3},
    {"ST23 key control answer empty", TestModule::kST23R160, true, 0, Step::kControl, "9000", 0xA004, 3},
    {"ST31 key answer ending inside the word", TestModule::kST31H320, true, 0, Step::kControl, "C0C1C2C3 ABFDCF 9000",
     0xA004, 3},
    {"final answer without its word", TestModule::kST23L80, true, 0, Step::kFinal, std::string(56, 'A') + "9000",
     0xA004, 4},
    {"final answer of 31 bytes", TestModule::kST23L80, false, 0, Step::kFinal, std::string(56, 'A') + "3E9489 9000",
     0xA004, 4},
};

class ModuleControlFails : public ModuleControlFixture, public testing::TestWithParam<FailCase> {
protected:
    void SetUp() override { Prepare(); }
};

TEST_P(ModuleControlFails, StopsAtTheFailingStep)
{
    const FailCase& c = GetParam();
    ModuleDialogue dialogue = GenuineDialogue(c.module, c.keyControl);
    switch (c.step) {
    case Step::kIdentify:
        if (!c.answer.empty()) {
            dialogue.identify = c.answer;
        }
        break;
    case Step::kState:
        dialogue.state = c.answer;
        break;
    case Step::kControl:
        dialogue.control = c.answer;
        break;
    case Step::kFinal:
        dialogue.final = c.answer;
        break;
    }
    ScriptDialogue(fake(), dialogue);

    std::uint8_t moduleType = 0;
    EXPECT_EQ(ModuleControl(c.keyControl ? 1 : 0, c.controlMode, &moduleType), c.expected) << c.name;
    EXPECT_EQ(fake().commands.size(), c.sent) << c.name;
    EXPECT_EQ(fake().unexpected, 0) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Cases, ModuleControlFails, testing::ValuesIn(kFailCases));

class ModuleControlTest : public ModuleControlFixture, public testing::Test {
protected:
    void SetUp() override { Prepare(); }
};

TEST_F(ModuleControlTest, WithoutAPlaceForTheTypeNothingIsSent)
{
    ScriptDialogue(fake(), GenuineDialogue(TestModule::kST23L80, false));
    EXPECT_EQ(ModuleControl(0, 0, nullptr), result::kParameterError);
    EXPECT_EQ(ModuleControl(1, 3, nullptr), result::kParameterError);
    EXPECT_TRUE(fake().commands.empty());
}

TEST_F(ModuleControlTest, WithoutConnectionTheTransmitCodeComesBack)
{
    g_readerSession.card = 0;
    std::uint8_t moduleType = 0;
    EXPECT_EQ(ModuleControl(0, 0, &moduleType), result::kNoConnection);
    EXPECT_TRUE(fake().commands.empty());
}

TEST_F(ModuleControlTest, ExchangeFailureStopsTheControl)
{
    fake().Answer(kIdentifyCommand, "", static_cast<LONG>(SCARD_E_NOT_TRANSACTED));
    std::uint8_t moduleType = 0;
    EXPECT_EQ(ModuleControl(0, 0, &moduleType), result::kPcscFailure);
    EXPECT_EQ(g_readerSession.lastPcscError, static_cast<std::uint32_t>(SCARD_E_NOT_TRANSACTED));
    EXPECT_EQ(fake().commands.size(), 1u);
}

TEST_F(ModuleControlTest, IdentificationThroughGetResponse)
{
    const ModuleDialogue dialogue = GenuineDialogue(TestModule::kST31H320, true);
    fake().Answer(kIdentifyCommand, "611F");
    fake().Answer("00C000001F", dialogue.identify);
    fake().Answer(kStateCommand, dialogue.state);
    fake().Answer(dialogue.controlCommand, dialogue.control);
    std::uint8_t moduleType = 0;
    EXPECT_EQ(ModuleControl(1, 5, &moduleType), result::kSuccess);
    EXPECT_EQ(moduleType, 5);
    EXPECT_EQ(fake().unexpected, 0);
}

}  // namespace
