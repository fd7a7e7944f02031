#include "control/ModuleControl.h"

#include <cstring>

#include "card/CardChannel.h"
#include "control/ModuleTables.h"

namespace {

constexpr std::uint32_t kResponseSize = 256;

// The length decides which templates are tried.
const ModuleTable* Recognise(const std::uint8_t* response, std::uint32_t length)
{
    for (const ModuleTable* module : kRecognitionOrder) {
        if (length == module->identificationLength &&
            std::memcmp(response, module->identification, module->identificationLength) == 0) {
            return module;
        }
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

// Sends the step's command; 0xA004 unless its answer carries the step's word.
ResultCode RunStep(const ControlStep& step, std::uint8_t* response)
{
    std::uint32_t length = 0;
    const ResultCode code = Exchange(step.command, step.commandLength, response, step.capacity, &length);
    if (code != result::kSuccess) {
        return code;
    }
    return WordEquals(response, length, step.offset, step.reference) ? result::kSuccess : result::kControlNotPassed;
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
    const ModuleTable* module = Recognise(response, length);
    if (module == nullptr) {
        return result::kControlNotPassed;
    }
    if (IsModuleType(controlMode) && controlMode != module->type) {
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

    code = RunStep(keyControl != 0 ? module->keyControl : module->nonKeyControl, response);
    if (code != result::kSuccess) {
        return code;
    }
    *moduleType = module->type;
    if (module->finalCheck.command == nullptr) {
        return result::kSuccess;
    }
    return RunStep(module->finalCheck, response);
}
