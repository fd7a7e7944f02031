#include "support/GuideText.h"

#include <fstream>
#include <iterator>

std::string ReadTextFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Unwrapped(const std::string& text)
{
    std::string result;
    bool inBreak = false;
    for (const char c : text) {
        if (c == '\n' || c == '\r') {
            inBreak = true;
            while (!result.empty() && (result.back() == ' ' || result.back() == '\t')) {
                result.pop_back();
            }
            continue;
        }
        if (inBreak && (c == ' ' || c == '\t')) {
            continue;
        }
        if (inBreak && !result.empty()) {
            result += ' ';
        }
        inBreak = false;
        result += c;
    }
    return result;
}
