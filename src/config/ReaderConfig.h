#pragma once

#include <cstddef>

constexpr std::size_t kEntryBufferSize = 1024;
// The configuration is read from the working directory.
constexpr char kReaderConfigPath[] = "./readers.ini";

// The #First value of the first [Readers] section entry of the file at path,
// zero-terminated in output (kEntryBufferSize bytes); its length, or 0.
std::size_t ReadFirstEntry(char* output, const char* path);
