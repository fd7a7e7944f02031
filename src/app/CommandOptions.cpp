#include "app/CommandOptions.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "app/OptionMessages.h"
#include "config/ReaderConfig.h"
#include "console/LogPrintf.h"

namespace {

// Option names match whole and case-sensitively.
bool IsOption(const char* argument, const char* name)
{
    return std::strcmp(argument, name) == 0;
}

std::int32_t ParseTraceMode(const char* value)
{
    if (value[0] == '\0') {
        return trace_mode::kOff;
    }
    if (std::strncmp(value, "headers", 7) == 0) {
        return trace_mode::kHeaders;
    }
    if (std::strncmp(value, "data", 4) == 0) {
        return trace_mode::kData;
    }
    return trace_mode::kOff;
}

}  // namespace

int ParseOptions(CommandOptions* options, char** arguments, int count)
{
    for (int i = 0; i < count; ++i) {
        const char* argument = arguments[i];
        const bool hasValue = i + 1 < count;
        if (IsOption(argument, "-silent")) {
            options->silent = 1;
        } else if (IsOption(argument, "-szi")) {
            if (!hasValue) {
                LogPrintf("%s", option_message::kSziMissing);
                return 0;
            }
            options->controlMode = ParseDesignation(arguments[++i]);
            if (options->controlMode == control_mode::kInvalid) {
                LogPrintf("%s", option_message::kSziInvalid);
                return 0;
            }
        } else if (IsOption(argument, "-a")) {
            if (!hasValue) {
                LogPrintf("%s", option_message::kReaderMissing);
                return 0;
            }
            SetReaderName(options, arguments[++i]);
        } else if (IsOption(argument, "-trace")) {
            // The value is optional: a following option is examined as an option.
            if (hasValue && arguments[i + 1][0] != '-') {
                options->traceMode = ParseTraceMode(arguments[++i]);
            }
        } else {
            LogPrintf(option_message::kUnknownOption, argument);
            return 0;
        }
    }
    return 1;
}

std::uint8_t ParseDesignation(const char* text)
{
    if (text == nullptr || text[0] == '\0') {
        return control_mode::kInvalid;
    }
    const std::size_t length = std::strlen(text);
    char* copy = new char[length + 1];
    for (std::size_t i = 0; i <= length; ++i) {
        const char c = text[i];
        copy[i] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 0x20) : c;
    }
    // The terminating zero is compared too: the designation must match exactly.
    std::uint8_t mode = control_mode::kInvalid;
    if (std::strcmp(copy, "RU.07.3815.00002") == 0) {
        mode = control_mode::kDesignation00002;
    } else if (std::strcmp(copy, "RU.07.3815.00001") == 0) {
        mode = control_mode::kDesignation00001;
    } else if (std::strcmp(copy, "RU.07.3815.00003") == 0) {
        mode = control_mode::kDesignation00003;
    }
    delete[] copy;
    return mode;
}

void SetReaderName(CommandOptions* options, const char* name)
{
    ClearReaderName(options);
    const std::size_t length = std::strlen(name);
    char* copy = new char[length + 1];
    std::memcpy(copy, name, length + 1);
    options->readerName = copy;
}

int LoadReaderName(CommandOptions* options)
{
    char name[kEntryBufferSize] = {};
    if (ReadFirstEntry(name, kReaderConfigPath) == 0) {
        return 0;
    }
    SetReaderName(options, name);
    return 1;
}

void ClearReaderName(CommandOptions* options) noexcept
{
    delete[] options->readerName;
    options->readerName = nullptr;
}
