// The option parser on arbitrary argument vectors (the input split at NUL
// bytes), checked against a second reading of the option rules: the record it
// leaves, its result and the exact message it prints.
#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "app/CommandOptions.h"

namespace {

struct Expected {
    int result = 1;
    std::uint8_t controlMode = 0;
    std::int32_t silent = 0;
    bool hasReader = false;
    std::string readerName;
    std::int32_t traceMode = 0;
    std::string message;
};

std::uint8_t Designation(const std::string& value)
{
    std::string upper = value;
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 0x20);
        }
    }
    // A NUL ends the C string the parser sees.
    upper = upper.substr(0, upper.find('\0'));
    if (upper == "RU.07.3815.00002") {
        return 1;
    }
    if (upper == "RU.07.3815.00001") {
        return 3;
    }
    if (upper == "RU.07.3815.00003") {
        return 5;
    }
    return 10;
}

Expected Parse(const std::vector<std::string>& arguments)
{
    Expected e;
    const std::size_t count = arguments.size();
    for (std::size_t i = 0; i < count; ++i) {
        const std::string& argument = arguments[i];
        const bool last = i + 1 == count;
        if (argument == "-silent") {
            e.silent = 1;
        } else if (argument == "-szi") {
            if (last) {
                e.result = 0;
                e.message = "Ошибка: недостаточно параметров (-szi)!";
                return e;
            }
            e.controlMode = Designation(arguments[++i]);
            if (e.controlMode == 10) {
                e.result = 0;
                e.message = "Ошибка: некорректное значения параметра (-szi)!";
                return e;
            }
        } else if (argument == "-a") {
            if (last) {
                e.result = 0;
                e.message = "Ошибка: недостаточно параметров (-a)!";
                return e;
            }
            e.hasReader = true;
            e.readerName = arguments[++i];
        } else if (argument == "-trace") {
            if (!last && (arguments[i + 1].empty() || arguments[i + 1][0] != '-')) {
                const std::string& value = arguments[++i];
                if (value.compare(0, 7, "headers") == 0) {
                    e.traceMode = 1;
                } else if (value.compare(0, 4, "data") == 0) {
                    e.traceMode = 2;
                } else {
                    e.traceMode = 0;
                }
            }
        } else {
            e.result = 0;
            e.message = fuzz::PrintedText("Ошибка: неизвестная опция (" + argument + ")!");
            return e;
        }
    }
    return e;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Initialise();
    std::vector<std::string> arguments = fuzz::Split(data, size, 64);
    if (arguments.size() == 1 && arguments[0].empty()) {
        return 0;  // the driver never calls the parser without arguments
    }
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(&argument[0]);
    }

    CommandOptions options{0, 0, nullptr, 0};
    const int result = ParseOptions(&options, argv.data(), static_cast<int>(argv.size()));
    const std::string printed = fuzz::TakeOutput();
    const Expected e = Parse(arguments);

    fuzz::Check(result == e.result, "ParseOptions result");
    fuzz::Check(printed == e.message, "ParseOptions message",
                "printed [" + printed + "]\nexpected [" + e.message + "]");
    fuzz::Check(options.silent == e.silent, "silent");
    fuzz::Check(options.controlMode == e.controlMode, "controlMode");
    fuzz::Check(options.traceMode == e.traceMode, "traceMode");
    fuzz::Check((options.readerName != nullptr) == e.hasReader, "reader name set");
    if (e.hasReader) {
        fuzz::Check(e.readerName == options.readerName, "reader name",
                    std::string("got [") + options.readerName + "] expected [" + e.readerName + "]");
    }
    ClearReaderName(&options);
    return 0;
}
