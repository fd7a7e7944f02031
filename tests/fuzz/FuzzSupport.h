#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Shared by the fuzz targets: each target defines LLVMFuzzerTestOneInput; a
// failed check aborts with a message on standard error, which libFuzzer (or the
// corpus replayer) reports as a crash with the input that caused it.

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace fuzz {

// Prepares the process once: the C locale (so that LogPrintf hands bytes to
// standard output unchanged) and standard output going to memory.
void Initialise();

// What the program wrote to standard output since the last call.
std::string TakeOutput();

// Splits data at NUL bytes into at most limit pieces; bytes after the last are dropped.
std::vector<std::string> Split(const std::uint8_t* data, std::size_t size, std::size_t limit);

// The text that LogPrintf prints for a formatted text: whole up to 1020 bytes,
// else its first 1020 bytes followed by "...".
std::string PrintedText(const std::string& text);

[[noreturn]] void Fail(const char* what, const std::string& detail = std::string());

inline void Check(bool condition, const char* what, const std::string& detail = std::string())
{
    if (!condition) {
        Fail(what, detail);
    }
}

// A path through which fopen reads bytes from memory.
std::string MemoryFilePath(const std::uint8_t* data, std::size_t size);

}  // namespace fuzz
