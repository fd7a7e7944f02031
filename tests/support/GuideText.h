#pragma once

#include <string>

// The bytes of a file, or nothing when it cannot be read.
std::string ReadTextFile(const std::string& path);

// Text as it reads when a line wraps: a line end and the blanks around it
// count as one blank, so a quote broken over two lines is found whole.
std::string Unwrapped(const std::string& text);
