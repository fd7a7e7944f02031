#include "support/GenuineModule.h"

namespace {

const std::string kProductAndSystem = "81 08 536F6C7661726961 82 05 54616D696B";  // Solvaria, Tamik
const std::string kKeyDataST23 = "000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F";
const std::string kKeyDataST31 = "00102030405060708090A0B0C0D0E0F1 0111213141516171 8191A1B1C1D1E1F0";
const std::string kZeros24 = "000000000000000000000000000000000000000000000000";
const std::string kFiller48 = kZeros24 + "0102030405060708090A0B0C0D0E0F101112131415161718";

}  // namespace

ModuleDialogue GenuineDialogue(TestModule module, bool keyControl)
{
    ModuleDialogue d;
    d.state = "0000000000000000 9000";
    switch (module) {
    case TestModule::kST23R160:
        d.identify = "80 08 5354323352313630 " + kProductAndSystem + " 83 02 0130 9000";
        d.final = "A0A1A2A3A4A5A6A7A8A9AAABACADAEAFB0B1B2B3B4B5B6B7B8B9BABB 5FB9B307 9000";
        d.labelPrefix = "РОСС RU.07.3815.00002.";
        break;
    case TestModule::kST23L80:
        d.identify = "80 07 53543233 4C3830 " + kProductAndSystem + " 83 02 0130 9000";
        d.final = "A0A1A2A3A4A5A6A7A8A9AAABACADAEAFB0B1B2B3B4B5B6B7B8B9BABB 3E94898A 9000";
        d.labelPrefix = "РОСС RU.07.3815.00001.";
        break;
    case TestModule::kST31H320:
        d.identify = "80 08 5354333148333230 " + kProductAndSystem + " 83 02 0201 9000";
        d.labelPrefix = "РОСС RU.07.3815.00003.";
        break;
    }
    const bool st31 = module == TestModule::kST31H320;
    if (keyControl) {
        d.controlCommand = "80FE070020" + (st31 ? kKeyDataST31 : kKeyDataST23);
        d.control = st31 ? "C0C1C2C3 ABFDCF00 " + kFiller48 + " 9000" : "9F88EFA3 9000";
    } else {
        d.controlCommand = st31 ? "80FE080000" : "80FE090000";
        d.control = st31 ? "F68C779C " + kFiller48 + " 9000" : "682F61B4 9000";
    }
    return d;
}

void ScriptSerial(FakePcsc& fake, const std::string& serialAnswer)
{
    fake.Answer(kSerialCommand, serialAnswer);
}

void ScriptDialogue(FakePcsc& fake, const ModuleDialogue& dialogue)
{
    fake.Answer(kIdentifyCommand, dialogue.identify);
    fake.Answer(kStateCommand, dialogue.state);
    fake.Answer(dialogue.controlCommand, dialogue.control);
    if (!dialogue.final.empty()) {
        fake.Answer(kFinalCommand, dialogue.final);
    }
}
