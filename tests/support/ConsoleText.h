#pragma once

#include <string>

// What LogPrintf writes for a UTF-8 text on this console: the text itself on a
// UTF-8 terminal, its OEM code page form on Windows.
std::string ConsoleText(const std::string& utf8);
