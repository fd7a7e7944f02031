#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "sim/ModuleSim.h"
#include "sim/SimOptions.h"

namespace sim {
namespace {

Bytes Hex(const std::string& text)
{
    bool ok = false;
    Bytes bytes = ParseHex(text, &ok);
    EXPECT_TRUE(ok) << text;
    return bytes;
}

std::string Ask(ModuleSim& module, const std::string& apdu)
{
    const Bytes message = Hex(apdu);
    const Reply reply = module.Handle(message.data(), message.size());
    if (reply.kind == Reply::Kind::Drop)
        return "drop";
    if (reply.kind == Reply::Kind::Silent)
        return "silent";
    return FormatHex(reply.payload.data(), reply.payload.size());
}

const char kSerial[] = "80 FE 06 00 00";
const char kIdentify[] = "80 FE 00 00 00";
const char kState[] = "80 FE 02 00 00";
const char kKeyST23[] =
    "80 FE 07 00 20 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F";
const char kKeyST31[] =
    "80 FE 07 00 20 00 10 20 30 40 50 60 70 80 90 A0 B0 C0 D0 E0 F1 01 11 21 31 41 51 61 71 81 91 A1 B1 C1 D1 E1 F0";
const char kNonKeyST23[] = "80 FE 09 00 00";
const char kNonKeyST31[] = "80 FE 08 00 00";
const char kFinal[] = "80 06 00 00 20";

ModuleConfig Config(Chip chip)
{
    ModuleConfig config;
    config.chip = chip;
    config.serial = Hex("00 1A 2B 3C 4D 5E 6F");
    return config;
}

// The module's whole dialogue with a healthy module: the identification in
// full, the control words at their offsets, the answer lengths.
struct Dialogue {
    Chip chip;
    const char* ident;
    const char* key;
    std::size_t keyLength, keyOffset;
    const char* keyWord;
    const char* nonKey;
    std::size_t nonKeyLength;
    const char* nonKeyWord;
    const char* finalWord;  // nullptr: no final check
};

const Dialogue kDialogues[] = {
    {Chip::ST23R160, "80 08 53 54 32 33 52 31 36 30 81 08 53 6F 6C 76 61 72 69 61 82 05 54 61 6D 69 6B 83 02 01 30",
     kKeyST23, 4, 0, "9F 88 EF A3", kNonKeyST23, 4, "68 2F 61 B4", "5F B9 B3 07"},
    {Chip::ST23L80, "80 07 53 54 32 33 4C 38 30 81 08 53 6F 6C 76 61 72 69 61 82 05 54 61 6D 69 6B 83 02 01 30",
     kKeyST23, 4, 0, "9F 88 EF A3", kNonKeyST23, 4, "68 2F 61 B4", "3E 94 89 8A"},
    {Chip::ST31H320, "80 08 53 54 33 31 48 33 32 30 81 08 53 6F 6C 76 61 72 69 61 82 05 54 61 6D 69 6B 83 02 02 01",
     kKeyST31, 56, 4, "AB FD CF 00", kNonKeyST31, 52, "F6 8C 77 9C", nullptr},
};

// "xx xx ... 90 00" -> the data bytes.
Bytes DataOf(const std::string& answer)
{
    Bytes bytes = Hex(answer);
    EXPECT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes[bytes.size() - 2], 0x90);
    EXPECT_EQ(bytes[bytes.size() - 1], 0x00);
    bytes.resize(bytes.size() - 2);
    return bytes;
}

std::string Slice(const Bytes& data, std::size_t offset, std::size_t length)
{
    if (data.size() < offset + length)
        return "short";
    return FormatHex(data.data() + offset, length);
}

TEST(ModuleSim, HealthyModulesAnswerAsTheirTablesSay)
{
    for (const auto& d : kDialogues) {
        SCOPED_TRACE(static_cast<int>(d.chip));
        ModuleSim module(Config(d.chip));
        EXPECT_EQ(Ask(module, kSerial), "00 1A 2B 3C 4D 5E 6F 90 00");
        EXPECT_EQ(Ask(module, kIdentify), std::string(d.ident) + " 90 00");
        EXPECT_EQ(Ask(module, kState), "00 00 00 00 00 00 00 00 90 00");

        const Bytes key = DataOf(Ask(module, d.key));
        EXPECT_EQ(key.size(), d.keyLength);
        EXPECT_EQ(Slice(key, d.keyOffset, 4), d.keyWord);

        const Bytes nonKey = DataOf(Ask(module, d.nonKey));
        EXPECT_EQ(nonKey.size(), d.nonKeyLength);
        EXPECT_EQ(Slice(nonKey, 0, 4), d.nonKeyWord);

        if (d.finalWord != nullptr) {
            const Bytes final = DataOf(Ask(module, kFinal));
            EXPECT_EQ(final.size(), 32u);
            EXPECT_EQ(Slice(final, 28, 4), d.finalWord);
        } else {
            EXPECT_EQ(Ask(module, kFinal), "6D 00");
        }
    }
}

TEST(ModuleSim, AnotherChallengeOrTheOtherChipsCommandsDoNotGiveTheReference)
{
    ModuleSim st23(Config(Chip::ST23L80));
    EXPECT_NE(Slice(DataOf(Ask(st23, kKeyST31)), 0, 4), "9F 88 EF A3");
    EXPECT_EQ(Ask(st23, kNonKeyST31), "6A 86");
    ModuleSim st31(Config(Chip::ST31H320));
    EXPECT_NE(Slice(DataOf(Ask(st31, kKeyST23)), 4, 4), "AB FD CF 00");
    EXPECT_EQ(Ask(st31, kNonKeyST23), "6A 86");
    // The key control with a wrong P3 or a missing data byte.
    EXPECT_EQ(Ask(st23, std::string(kKeyST23).substr(0, std::string(kKeyST23).size() - 3)), "67 00");
    EXPECT_EQ(Ask(st23, "00 A4 04 00 00"), "6E 00");
    EXPECT_EQ(Ask(st23, "80 CA 00 00 00"), "6D 00");
}

TEST(ModuleSim, ReaderControls)
{
    ModuleConfig config = Config(Chip::ST23R160);
    ModuleSim module(config);
    EXPECT_EQ(Ask(module, "04"), "3B 68 00 00 53 6F 6C 76 61 72 69 61");
    EXPECT_EQ(Ask(module, "00"), "silent");
    EXPECT_EQ(Ask(module, "01"), "silent");
    EXPECT_EQ(Ask(module, "02"), "silent");
    config.atr = Hex("3B 02 14 50");
    ModuleSim other(config);
    EXPECT_EQ(Ask(other, "04"), "3B 02 14 50");
}

TEST(ModuleSim, Faults)
{
    struct Case {
        const char* name;
        std::vector<const char*> args;
        const char* apdu;
        std::vector<std::string> answers;  // the answer, then the answers to GET RESPONSEs
    };
    const Case cases[] = {
        {"status word", {"--sw", "serial=6A82"}, kSerial, {"6A 82"}},
        {"data", {"--data", "identify=80 01 41"}, kIdentify, {"80 01 41 90 00"}},
        {"empty data", {"--data", "serial="}, kSerial, {"90 00"}},
        {"state bytes", {"--data", "state=00 00 00 01 00 00 00 00"}, kState, {"00 00 00 01 00 00 00 00 90 00"}},
        {"word", {"--word", "nonkey=11223344"}, kNonKeyST23, {"44 33 22 11 90 00"}},
        {"final word", {"--word", "final=01020304"}, kFinal, {"", "04 03 02 01 90 00"}},
        {"extra", {"--extra", "nonkey=2"}, kNonKeyST23, {"68 2F 61 B4 E0 E1 90 00"}},
        {"split", {"--split", "serial"}, kSerial, {"61 07", "00 1A 2B 3C 4D 5E 6F 90 00"}},
        {"split twice", {"--split2", "serial"}, kSerial, {"61 07", "61 07", "00 1A 2B 3C 4D 5E 6F 90 00"}},
        {"drop", {"--drop", "state"}, kState, {"drop"}},
        {"status word at get response", {"--split", "serial", "--sw", "getresponse=6F00"}, kSerial, {"61 07", "6F 00"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SimOptions options;
        std::string error;
        ASSERT_TRUE(ParseSimOptions(static_cast<int>(c.args.size()), c.args.data(), &options, &error)) << error;
        options.module.serial = Hex("00 1A 2B 3C 4D 5E 6F");
        ModuleSim module(options.module);
        const std::string first = Ask(module, c.apdu);
        if (c.answers[0][0] == '\0') {
            // Only part of the answer is fixed: the word at its offset.
            EXPECT_EQ(Slice(DataOf(first), 28, 4), "04 03 02 01");
            continue;
        }
        EXPECT_EQ(first, c.answers[0]);
        for (std::size_t i = 1; i < c.answers.size(); ++i)
            EXPECT_EQ(Ask(module, "00 C0 00 00 07"), c.answers[i]) << "GET RESPONSE " << i;
    }
}

// The end-to-end tests read these names from the module's log.
TEST(ModuleSim, CommandNamesByHeader)
{
    const struct {
        const char* apdu;
        const char* name;
    } cases[] = {
        {kSerial, "serial"},         {kIdentify, "identify"},           {kState, "state"},
        {kKeyST23, "key"},           {kNonKeyST23, "nonkey"},           {kNonKeyST31, "nonkey"},
        {"80 06 00 00 20", "final"}, {"00 C0 00 00 1F", "getresponse"}, {"80 06 01 00 20", "other"},
        {"00 C0 01 00 1F", "other"}, {"80 FE 05 00 00", "other"},       {"00 FE 06 00 00", "other"},
        {"80 FE 06", "other"},
    };
    for (const auto& c : cases) {
        const Bytes apdu = Hex(c.apdu);
        EXPECT_STREQ(ModuleSim::CommandName(ModuleSim::Classify(apdu.data(), apdu.size())), c.name) << c.apdu;
    }
}

TEST(ModuleSim, GetResponseWithoutPendingDataAndAfterReset)
{
    ModuleConfig config = Config(Chip::ST23R160);
    config.faults[static_cast<int>(Command::Identify)].splits = 1;
    ModuleSim module(config);
    EXPECT_EQ(Ask(module, "00 C0 00 00 1F"), "69 85");
    EXPECT_EQ(Ask(module, kIdentify), "61 1F");
    EXPECT_EQ(Ask(module, "02"), "silent");
    EXPECT_EQ(Ask(module, "00 C0 00 00 1F"), "69 85");
}

TEST(ModuleSim, ScriptIsAnsweredInOrderAndAMismatchEndsIt)
{
    const std::string path = ::testing::TempDir() + "varnicle-sim-script.txt";
    {
        std::ofstream file(path);
        file << "# serial, then identification\n"
                "80 FE 06 00 00 = 00 1A 2B 90 00\n"
                "\n"
                "80FE000000=6A82\n"
                "80 FE 02 00 00 = 90 00\n";
    }
    SimOptions options;
    std::string error;
    const std::vector<const char*> args = {"--script", path.c_str()};
    ASSERT_TRUE(ParseSimOptions(static_cast<int>(args.size()), args.data(), &options, &error)) << error;
    ModuleSim module(options.module);
    EXPECT_EQ(Ask(module, "04"), "3B 68 00 00 53 6F 6C 76 61 72 69 61");
    EXPECT_EQ(Ask(module, kSerial), "00 1A 2B 90 00");
    EXPECT_EQ(Ask(module, kIdentify), "6A 82");
    EXPECT_EQ(Ask(module, kSerial), "6F 00");  // not the scripted state check
    EXPECT_EQ(Ask(module, kState), "6F 00");   // nothing after a mismatch

    for (const char* text : {"80 FE 06 00 00 00 1A\n", "# typo\n80 FE 06 00 0O = 90 00\n"}) {
        {
            std::ofstream file(path);
            file << text;
        }
        SimOptions bad;
        EXPECT_FALSE(ParseSimOptions(static_cast<int>(args.size()), args.data(), &bad, &error)) << text;
        EXPECT_NE(error.find(text[0] == '#' ? ":2: command: not a hexadecimal digit: 'O'" : ":1:"), std::string::npos)
            << error;
    }
    std::remove(path.c_str());
}

TEST(SimOptions, RejectsBadCommandLines)
{
    const std::vector<std::vector<const char*>> bad = {
        {"--module", "st99"},
        {"--sw", "serial=6A8"},
        {"--sw", "nosuch=6A82"},
        {"--word", "key=1234"},
        {"--extra", "key=-1"},
        {"--port", "0"},
        {"--port", "70000"},
        {"--serial", "0G"},
        {"--split", "x"},
        {"--bogus", "1"},
        {"--port"},
        {"stray"},
        // The shared strict format: a letter O for a zero, a byte split by a blank.
        {"--serial", "0O 1A"},
        {"--data", "state=0 000"},
        {"--atr", "3B:68"},
    };
    for (const auto& args : bad) {
        SimOptions options;
        std::string error;
        EXPECT_FALSE(ParseSimOptions(static_cast<int>(args.size()), args.data(), &options, &error)) << args[0];
        EXPECT_FALSE(error.empty());
    }
    SimOptions options;
    std::string error;
    const std::vector<const char*> good = {"--module", "ST31H320", "--port", "35964", "--host", "::1", "--log"};
    ASSERT_TRUE(ParseSimOptions(static_cast<int>(good.size()), good.data(), &options, &error)) << error;
    EXPECT_EQ(options.module.chip, Chip::ST31H320);
    EXPECT_EQ(options.port, 35964u);
    EXPECT_EQ(options.host, "::1");
    EXPECT_TRUE(options.log);
}

}  // namespace
}  // namespace sim
