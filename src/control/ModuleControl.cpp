#include "control/ModuleControl.h"

#include <cstring>

#include "app/CommandOptions.h"
#include "control/ModuleTables.h"

namespace {

struct ModuleProfile {
    std::uint8_t type;
    const std::uint8_t* identification;
    std::uint32_t identificationLength;
    const std::uint8_t* keyCommand;
    std::uint32_t keyCapacity;
    std::uint32_t keyOffset;
    std::uint32_t keyReference;
    const std::uint8_t* nonKeyCommand;
    std::uint32_t nonKeyCapacity;
    std::uint32_t nonKeyReference;
    bool hasFinalCheck;
    std::uint32_t finalReference;
};

constexpr ModuleProfile kST23R160 = {
    module_type::kST23R160,
    IdentificationTemplateST23R160,
    sizeof IdentificationTemplateST23R160,
    KeyControlCommandST23,
    kKeyControlCapacityST23,
    kControlOffset,
    ReferenceWordKeyControlST23,
    NonKeyControlCommandST23,
    kNonKeyControlCapacityST23,
    ReferenceWordNonKeyControlST23,
    true,
    ReferenceWordFinalST23R160,
};

constexpr ModuleProfile kST23L80 = {
    module_type::kST23L80,
    IdentificationTemplateST23L80,
    sizeof IdentificationTemplateST23L80,
    KeyControlCommandST23,
    kKeyControlCapacityST23,
    kControlOffset,
    ReferenceWordKeyControlST23,
    NonKeyControlCommandST23,
    kNonKeyControlCapacityST23,
    ReferenceWordNonKeyControlST23,
    true,
    ReferenceWordFinalST23L80,
};

constexpr ModuleProfile kST31H320 = {
    module_type::kST31H320,
    IdentificationTemplateST31H320,
    sizeof IdentificationTemplateST31H320,
    KeyControlCommandST31,
    kKeyControlCapacityST31,
    kKeyControlOffsetST31,
    ReferenceWordKeyControlST31,
    NonKeyControlCommandST31,
    kNonKeyControlCapacityST31,
    ReferenceWordNonKeyControlST31,
    false,
    0,
};

constexpr std::uint32_t kResponseSize = 256;

bool Matches(const std::uint8_t* response, std::uint32_t length, const ModuleProfile& profile)
{
    return length == profile.identificationLength &&
           std::memcmp(response, profile.identification, profile.identificationLength) == 0;
}

// The length decides which templates are tried.
const ModuleProfile* Recognise(const std::uint8_t* response, std::uint32_t length)
{
    if (Matches(response, length, kST23R160)) {
        return &kST23R160;
    }
    if (Matches(response, length, kST31H320)) {
        return &kST31H320;
    }
    if (Matches(response, length, kST23L80)) {
        return &kST23L80;
    }
    return nullptr;
}

// A word that the module did not send in full never passes: the caller's
// buffer is cleared before each exchange and the length is checked here.
bool WordEquals(const std::uint8_t* response, std::uint32_t length, std::uint32_t offset, std::uint32_t reference)
{
    if (length < offset + 4) {
        return false;
    }
    const std::uint8_t* word = response + offset;
    const std::uint32_t value = static_cast<std::uint32_t>(word[0]) | static_cast<std::uint32_t>(word[1]) << 8 |
                                static_cast<std::uint32_t>(word[2]) << 16 | static_cast<std::uint32_t>(word[3]) << 24;
    return value == reference;
}

ResultCode Exchange(const std::uint8_t* command, std::uint32_t commandLength, std::uint8_t* response,
                    std::uint32_t capacity, std::uint32_t* length)
{
    std::memset(response, 0, kResponseSize);
    *length = capacity;
    return Transmit(command, commandLength, response, length);
}

}  // namespace

ResultCode ModuleControl(std::int32_t keyControl, std::uint8_t controlMode, std::uint8_t* moduleType)
{
    // Every passing road reports the type, so a call without its place is
    // refused whatever the control mode.
    if (moduleType == nullptr) {
        return result::kParameterError;
    }

    std::uint8_t response[kResponseSize];
    std::uint32_t length = 0;

    ResultCode code = Exchange(IdentifyCommand, sizeof IdentifyCommand, response, kIdentifyCapacity, &length);
    if (code != result::kSuccess) {
        return code;
    }
    const ModuleProfile* module = Recognise(response, length);
    if (module == nullptr) {
        return result::kControlNotPassed;
    }
    const bool designated = controlMode == control_mode::kDesignation00002 ||
                            controlMode == control_mode::kDesignation00001 ||
                            controlMode == control_mode::kDesignation00003;
    if (designated && controlMode != module->type) {
        return result::kControlNotPassed;
    }

    code = Exchange(StateCheckCommand, sizeof StateCheckCommand, response, module->identificationLength, &length);
    if (code != result::kSuccess) {
        return code;
    }
    if (length != kStateLength) {
        return result::kControlNotPassed;
    }
    for (std::uint32_t i = 0; i < kStateLength; ++i) {
        if (response[i] != 0) {
            return result::kControlNotPassed;
        }
    }

    if (keyControl != 0) {
        code = Exchange(module->keyCommand, sizeof KeyControlCommandST23, response, module->keyCapacity, &length);
        if (code != result::kSuccess) {
            return code;
        }
        if (!WordEquals(response, length, module->keyOffset, module->keyReference)) {
            return result::kControlNotPassed;
        }
    } else {
        code =
            Exchange(module->nonKeyCommand, sizeof NonKeyControlCommandST23, response, module->nonKeyCapacity, &length);
        if (code != result::kSuccess) {
            return code;
        }
        if (!WordEquals(response, length, kControlOffset, module->nonKeyReference)) {
            return result::kControlNotPassed;
        }
    }
    *moduleType = module->type;
    if (!module->hasFinalCheck) {
        return result::kSuccess;
    }

    code = Exchange(FinalCheckCommand, sizeof FinalCheckCommand, response, kFinalCheckCapacity, &length);
    if (code != result::kSuccess) {
        return code;
    }
    return WordEquals(response, length, kFinalCheckOffset, module->finalReference) ? result::kSuccess
                                                                                   : result::kControlNotPassed;
}
