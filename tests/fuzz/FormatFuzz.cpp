// FormatString and LogPrintf with %s arguments of any length and any bytes:
// FormatString returns the whole text up to 4095 bytes and, beyond, the first
// 4095 followed by "..."; LogPrintf prints the whole text up to 1020 bytes and,
// beyond, the first 1020 followed by "...". Resizing the result keeps the
// text's prefix and wipes what it gives up.
#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "console/LogPrintf.h"
#include "text/FormatString.h"

namespace {

std::string Formatted(const WipeString& text)
{
    return std::string(text.Text(), text.Size());
}

std::string Expected(const std::string& text)
{
    return text.size() <= 4095 ? text : text.substr(0, 4095) + "...";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Initialise();
    if (size == 0) {
        return 0;
    }
    const unsigned choice = data[0];
    std::vector<std::string> pieces = fuzz::Split(data + 1, size - 1, 3);
    pieces.resize(3);
    const char* a = pieces[0].c_str();
    const char* b = pieces[1].c_str();
    const char* c = pieces[2].c_str();

    std::string whole;
    WipeString formatted;
    switch (choice % 4) {
    case 0:
        whole = pieces[0];
        formatted = FormatString("%s", a);
        LogPrintf("%s", a);
        break;
    case 1:
        whole = "Ошибка! " + pieces[0];
        formatted = FormatString("Ошибка! %s", a);
        LogPrintf("Ошибка! %s", a);
        break;
    case 2:
        whole = "Ошибка: неизвестная опция (" + pieces[0] + ")!";
        formatted = FormatString("Ошибка: неизвестная опция (%s)!", a);
        LogPrintf("Ошибка: неизвестная опция (%s)!", a);
        break;
    default:
        whole = pieces[0] + ", " + pieces[1] + "\n" + pieces[2];
        formatted = FormatString("%s, %s\n%s", a, b, c);
        LogPrintf("%s, %s\n%s", a, b, c);
        break;
    }
    const std::string printed = fuzz::TakeOutput();
    fuzz::Check(Formatted(formatted) == Expected(whole), "FormatString text",
                "length " + std::to_string(formatted.Size()) + ", whole " + std::to_string(whole.size()));
    fuzz::Check(formatted.Text()[formatted.Size()] == '\0', "FormatString leaves no NUL after the text");
    fuzz::Check(printed == fuzz::PrintedText(whole), "LogPrintf output",
                "printed " + std::to_string(printed.size()) + " bytes of " + std::to_string(whole.size()));

    // A shrinking resize keeps the prefix and leaves 0x5A in the storage it gave up.
    const std::size_t before = formatted.Size();
    const std::size_t keep = (choice / 4) * before / 64;
    const std::string prefix = Formatted(formatted).substr(0, keep);
    formatted.Resize(keep);
    fuzz::Check(Formatted(formatted) == prefix, "Resize keeps the prefix");
    for (std::size_t i = keep + 1; keep + 1 < before && i < before; ++i) {
        fuzz::Check(static_cast<unsigned char>(formatted.Text()[i]) == WipeString::kWipeByte, "Resize wipes",
                    "position " + std::to_string(i));
    }
    return 0;
}
