#pragma once

#include <cstddef>

struct CommandOptions;

constexpr std::size_t kEntryBufferSize = 1024;

// The #First value of the first [Readers] section entry of the file at path,
// zero-terminated in output (kEntryBufferSize bytes); its length, or 0.
std::size_t ReadFirstEntry(char* output, const char* path);
// Stores the reader name from ./readers.ini into options; 1 when found.
int LoadReaderName(CommandOptions* options);
