#pragma once

#include <cstdint>

#include "control/ModuleType.h"

// The module's command set and the answers that pass, in the order of the
// control procedure. Commands are sent unchanged.

constexpr std::uint8_t IdentifyCommand[] = {0x80, 0xFE, 0x00, 0x00, 0x00};
constexpr std::uint8_t StateCheckCommand[] = {0x80, 0xFE, 0x02, 0x00, 0x00};

constexpr std::uint8_t KeyControlCommandST23[] = {
    0x80, 0xFE, 0x07, 0x00, 0x20,                                                                    //
    0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F,  //
    0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B, 0x1C, 0x1D, 0x1E, 0x1F,
};

// The sixteenth data byte is F1 and the last F0.
constexpr std::uint8_t KeyControlCommandST31[] = {
    0x80, 0xFE, 0x07, 0x00, 0x20,                                                                    //
    0x00, 0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80, 0x90, 0xA0, 0xB0, 0xC0, 0xD0, 0xE0, 0xF1,  //
    0x01, 0x11, 0x21, 0x31, 0x41, 0x51, 0x61, 0x71, 0x81, 0x91, 0xA1, 0xB1, 0xC1, 0xD1, 0xE1, 0xF0,
};

constexpr std::uint8_t NonKeyControlCommandST23[] = {0x80, 0xFE, 0x09, 0x00, 0x00};
constexpr std::uint8_t NonKeyControlCommandST31[] = {0x80, 0xFE, 0x08, 0x00, 0x00};
constexpr std::uint8_t FinalCheckCommand[] = {0x80, 0x06, 0x00, 0x00, 0x20};

static_assert(sizeof IdentifyCommand == 5);
static_assert(sizeof StateCheckCommand == 5);
static_assert(sizeof KeyControlCommandST23 == 37);
static_assert(sizeof KeyControlCommandST31 == 37);
static_assert(sizeof NonKeyControlCommandST23 == 5);
static_assert(sizeof NonKeyControlCommandST31 == 5);
static_assert(sizeof FinalCheckCommand == 5);

// One less than the 256-byte response buffer.
constexpr std::uint32_t kIdentifyCapacity = 255;
// The state check takes the identification's length as its capacity; the
// answer that passes is this many zero bytes.
constexpr std::uint32_t kStateLength = 8;

// Tag 80 chip name, 81 product, 82 operating system, 83 version.
constexpr std::uint8_t IdentificationTemplateST23R160[] = {
    0x80, 0x08, 'S',  'T',  '2', '3', 'R', '1', '6', '0',  //
    0x81, 0x08, 'S',  'o',  'l', 'v', 'a', 'r', 'i', 'a',  //
    0x82, 0x05, 'T',  'a',  'm', 'i', 'k',                 //
    0x83, 0x02, 0x01, 0x30,
};
constexpr std::uint8_t IdentificationTemplateST23L80[] = {
    0x80, 0x07, 'S',  'T',  '2', '3', 'L', '8', '0',       //
    0x81, 0x08, 'S',  'o',  'l', 'v', 'a', 'r', 'i', 'a',  //
    0x82, 0x05, 'T',  'a',  'm', 'i', 'k',                 //
    0x83, 0x02, 0x01, 0x30,
};
constexpr std::uint8_t IdentificationTemplateST31H320[] = {
    0x80, 0x08, 'S',  'T',  '3', '1', 'H', '3', '2', '0',  //
    0x81, 0x08, 'S',  'o',  'l', 'v', 'a', 'r', 'i', 'a',  //
    0x82, 0x05, 'T',  'a',  'm', 'i', 'k',                 //
    0x83, 0x02, 0x02, 0x01,
};

static_assert(sizeof IdentificationTemplateST23R160 == 31);
static_assert(sizeof IdentificationTemplateST23L80 == 30);
static_assert(sizeof IdentificationTemplateST31H320 == 31);

// One exchange after the state check: the command, the largest answer taken
// (status word not counted), and the word that passes, read least significant
// byte first at its offset in the answer.
struct ControlStep {
    const std::uint8_t* command;
    std::uint32_t commandLength;
    std::uint32_t capacity;
    std::uint32_t offset;
    std::uint32_t reference;
};

struct ModuleTable {
    std::uint8_t type;
    const std::uint8_t* identification;
    std::uint32_t identificationLength;
    ControlStep keyControl;
    ControlStep nonKeyControl;
    ControlStep finalCheck;  // a null command: the module has no final check
};

// Columns kept aligned so that each row reads against the module's table.
// clang-format off
constexpr ModuleTable kST23R160Table = {
    module_type::kST23R160, IdentificationTemplateST23R160, sizeof IdentificationTemplateST23R160,
    // command                 command length                    capacity  offset  reference
    {KeyControlCommandST23,    sizeof KeyControlCommandST23,     4,        0,      0xA3EF889F},
    {NonKeyControlCommandST23, sizeof NonKeyControlCommandST23,  4,        0,      0xB4612F68},
    {FinalCheckCommand,        sizeof FinalCheckCommand,         32,       28,     0x07B3B95F},
};

constexpr ModuleTable kST23L80Table = {
    module_type::kST23L80, IdentificationTemplateST23L80, sizeof IdentificationTemplateST23L80,
    // command                 command length                    capacity  offset  reference
    {KeyControlCommandST23,    sizeof KeyControlCommandST23,     4,        0,      0xA3EF889F},
    {NonKeyControlCommandST23, sizeof NonKeyControlCommandST23,  4,        0,      0xB4612F68},
    {FinalCheckCommand,        sizeof FinalCheckCommand,         32,       28,     0x8A89943E},
};

constexpr ModuleTable kST31H320Table = {
    module_type::kST31H320, IdentificationTemplateST31H320, sizeof IdentificationTemplateST31H320,
    // command                 command length                    capacity  offset  reference
    {KeyControlCommandST31,    sizeof KeyControlCommandST31,     56,       4,      0x00CFFDAB},
    {NonKeyControlCommandST31, sizeof NonKeyControlCommandST31,  52,       0,      0x9C778CF6},
    {nullptr,                  0,                                0,        0,      0},
};
// clang-format on

// Recognition order: the identification's length decides which tables are
// tried, and of the two 31-byte templates ST23R160 is tried first.
constexpr const ModuleTable* kRecognitionOrder[] = {&kST23R160Table, &kST31H320Table, &kST23L80Table};
