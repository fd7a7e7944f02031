#pragma once

#include <cstdint>

// The module's command set and the answers that pass, in the order of the
// control procedure. Commands are sent unchanged.

constexpr std::uint8_t IdentifyCommand[5] = {0x80, 0xFE, 0x00, 0x00, 0x00};
constexpr std::uint8_t StateCheckCommand[5] = {0x80, 0xFE, 0x02, 0x00, 0x00};

constexpr std::uint8_t KeyControlCommandST23[37] = {
    0x80, 0xFE, 0x07, 0x00, 0x20,                                                                    //
    0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F,  //
    0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B, 0x1C, 0x1D, 0x1E, 0x1F,
};

// The sixteenth data byte is F1 and the last F0.
constexpr std::uint8_t KeyControlCommandST31[37] = {
    0x80, 0xFE, 0x07, 0x00, 0x20,                                                                    //
    0x00, 0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80, 0x90, 0xA0, 0xB0, 0xC0, 0xD0, 0xE0, 0xF1,  //
    0x01, 0x11, 0x21, 0x31, 0x41, 0x51, 0x61, 0x71, 0x81, 0x91, 0xA1, 0xB1, 0xC1, 0xD1, 0xE1, 0xF0,
};

constexpr std::uint8_t NonKeyControlCommandST23[5] = {0x80, 0xFE, 0x09, 0x00, 0x00};
constexpr std::uint8_t NonKeyControlCommandST31[5] = {0x80, 0xFE, 0x08, 0x00, 0x00};
constexpr std::uint8_t FinalCheckCommand[5] = {0x80, 0x06, 0x00, 0x00, 0x20};

// Capacities: the largest answer, status word not counted, taken for each step.
constexpr std::uint32_t kIdentifyCapacity = 255;
constexpr std::uint32_t kKeyControlCapacityST23 = 4;
constexpr std::uint32_t kKeyControlCapacityST31 = 56;
constexpr std::uint32_t kNonKeyControlCapacityST23 = 4;
constexpr std::uint32_t kNonKeyControlCapacityST31 = 52;
constexpr std::uint32_t kFinalCheckCapacity = 32;

// Tag 80 chip name, 81 product, 82 operating system, 83 version.
constexpr std::uint8_t IdentificationTemplateST23R160[31] = {
    0x80, 0x08, 'S',  'T',  '2', '3', 'R', '1', '6', '0',  //
    0x81, 0x08, 'S',  'o',  'l', 'v', 'a', 'r', 'i', 'a',  //
    0x82, 0x05, 'T',  'a',  'm', 'i', 'k',                 //
    0x83, 0x02, 0x01, 0x30,
};
constexpr std::uint8_t IdentificationTemplateST23L80[30] = {
    0x80, 0x07, 'S',  'T',  '2', '3', 'L', '8', '0',       //
    0x81, 0x08, 'S',  'o',  'l', 'v', 'a', 'r', 'i', 'a',  //
    0x82, 0x05, 'T',  'a',  'm', 'i', 'k',                 //
    0x83, 0x02, 0x01, 0x30,
};
constexpr std::uint8_t IdentificationTemplateST31H320[31] = {
    0x80, 0x08, 'S',  'T',  '3', '1', 'H', '3', '2', '0',  //
    0x81, 0x08, 'S',  'o',  'l', 'v', 'a', 'r', 'i', 'a',  //
    0x82, 0x05, 'T',  'a',  'm', 'i', 'k',                 //
    0x83, 0x02, 0x02, 0x01,
};

constexpr std::uint32_t kStateLength = 8;

// Reference words, read least significant byte first at their offsets.
constexpr std::uint32_t ReferenceWordKeyControlST23 = 0xA3EF889F;
constexpr std::uint32_t ReferenceWordNonKeyControlST23 = 0xB4612F68;
constexpr std::uint32_t ReferenceWordKeyControlST31 = 0x00CFFDAB;
constexpr std::uint32_t ReferenceWordNonKeyControlST31 = 0x9C778CF6;
constexpr std::uint32_t ReferenceWordFinalST23R160 = 0x07B3B95F;
constexpr std::uint32_t ReferenceWordFinalST23L80 = 0x8A89943E;

constexpr std::uint32_t kKeyControlOffsetST31 = 4;
constexpr std::uint32_t kControlOffset = 0;
constexpr std::uint32_t kFinalCheckOffset = 28;
