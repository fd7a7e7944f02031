#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The one hexadecimal and APDU-script format of the unit tests' fake PC/SC,
// the virtual module and the probe, so that a dialogue written once runs at
// every level, and a typo is an error rather than a different command.
namespace apdu_script {

using Bytes = std::vector<std::uint8_t>;

// Hexadecimal bytes: pairs of digits, either case, in groups separated by
// blanks (spaces or tabs): "80 FE 06 00 00", "80FE060000", "001A2B 9000".
// A group of an odd number of digits, or any other character, is an error.
// An empty text is no bytes. Returns false with the reason in *error.
bool ParseHex(const std::string& text, Bytes* bytes, std::string* error);

// One exchange a line, "COMMAND = ANSWER": the command (4 bytes at least) and
// its whole answer, status word included (2 bytes at least). Lines that are
// blank or start with # are skipped; a CR before the line end is ignored.
struct Exchange {
    Bytes command;
    Bytes answer;
};

// name prefixes the error: "name:line: reason".
bool ParseScript(const std::string& text, const std::string& name, std::vector<Exchange>* script, std::string* error);
bool ReadScriptFile(const std::string& path, std::vector<Exchange>* script, std::string* error);

}  // namespace apdu_script
