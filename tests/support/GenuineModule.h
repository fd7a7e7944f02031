#pragma once

#include <string>

#include "support/FakePcsc.h"

// What a genuine module of each type sends back, written out byte by byte, so
// that scripts for the fake PC/SC can play a passing module and change one
// answer at a time.
enum class TestModule { kST23R160, kST23L80, kST31H320 };

struct ModuleDialogue {
    std::string identify;        // answer to 80 FE 00 00 00, status word included
    std::string state;           // answer to 80 FE 02 00 00
    std::string controlCommand;  // the key or non-key control command
    std::string control;         // its answer
    std::string final;           // answer to 80 06 00 00 20; empty: no final check
    std::string labelPrefix;     // "РОСС RU.07.3815.0000N."
};

ModuleDialogue GenuineDialogue(TestModule module, bool keyControl);

// Scripts the serial read and the whole control of a passing module.
void ScriptSerial(FakePcsc& fake, const std::string& serialAnswer);
void ScriptDialogue(FakePcsc& fake, const ModuleDialogue& dialogue);

constexpr const char* kSerialCommand = "80FE060000";
constexpr const char* kIdentifyCommand = "80FE000000";
constexpr const char* kStateCommand = "80FE020000";
constexpr const char* kFinalCommand = "8006000020";
