#include "apduscript/ApduScript.h"

#include <fstream>
#include <sstream>

namespace apdu_script {

namespace {

int DigitValue(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string Printable(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x21 && byte <= 0x7E) {
        return std::string("'") + c + "'";
    }
    static const char digits[] = "0123456789ABCDEF";
    return std::string("byte ") + digits[byte >> 4] + digits[byte & 0x0F];
}

}  // namespace

bool ParseHex(const std::string& text, Bytes* bytes, std::string* error)
{
    Bytes parsed;
    std::size_t groupStart = 0;
    int high = -1;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (IsBlank(c)) {
            if (high >= 0) {
                *error = "odd number of hexadecimal digits in \"" + text.substr(groupStart, i - groupStart) + "\"";
                return false;
            }
            continue;
        }
        const int digit = DigitValue(c);
        if (digit < 0) {
            *error = "not a hexadecimal digit: " + Printable(c) + " at column " + std::to_string(i + 1);
            return false;
        }
        if (high < 0) {
            if (i == 0 || IsBlank(text[i - 1])) {
                groupStart = i;
            }
            high = digit;
        } else {
            parsed.push_back(static_cast<std::uint8_t>(high << 4 | digit));
            high = -1;
        }
    }
    if (high >= 0) {
        *error = "odd number of hexadecimal digits in \"" + text.substr(groupStart) + "\"";
        return false;
    }
    *bytes = std::move(parsed);
    return true;
}

bool ParseScript(const std::string& text, const std::string& name, std::vector<Exchange>* script, std::string* error)
{
    std::vector<Exchange> parsed;
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    while (std::getline(lines, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const auto first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#') {
            continue;
        }
        const std::string where = name + ":" + std::to_string(number) + ": ";
        const auto eq = line.find('=');
        if (eq == std::string::npos || line.find('=', eq + 1) != std::string::npos) {
            *error = where + "not COMMAND = ANSWER";
            return false;
        }
        Exchange exchange;
        std::string reason;
        if (!ParseHex(line.substr(0, eq), &exchange.command, &reason)) {
            *error = where + "command: " + reason;
            return false;
        }
        if (!ParseHex(line.substr(eq + 1), &exchange.answer, &reason)) {
            *error = where + "answer: " + reason;
            return false;
        }
        if (exchange.command.size() < 4) {
            *error = where + "a command has 4 bytes at least";
            return false;
        }
        if (exchange.answer.size() < 2) {
            *error = where + "an answer has its 2-byte status word at least";
            return false;
        }
        parsed.push_back(std::move(exchange));
    }
    if (parsed.empty()) {
        *error = name + ": no exchanges";
        return false;
    }
    *script = std::move(parsed);
    return true;
}

bool ReadScriptFile(const std::string& path, std::vector<Exchange>* script, std::string* error)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        *error = "cannot read " + path;
        return false;
    }
    std::ostringstream text;
    text << file.rdbuf();
    return ParseScript(text.str(), path, script, error);
}

}  // namespace apdu_script
