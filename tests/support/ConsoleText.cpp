#include "support/ConsoleText.h"

#include <vector>

#include "console/ConsoleEncoding.h"

std::string ConsoleText(const std::string& utf8)
{
    std::vector<char> console(utf8.size() + 1);
    const std::size_t length = ConvertForConsole(utf8.data(), utf8.size(), console.data(), console.size());
    return std::string(console.data(), length);
}
