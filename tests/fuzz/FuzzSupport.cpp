#include "FuzzSupport.h"

#include <cstdio>
#include <cstdlib>

#include <sys/mman.h>
#include <unistd.h>

namespace fuzz {
namespace {

int g_outputFile = -1;
int g_memoryFile = -1;

int NewMemoryFile(const char* name)
{
    const int descriptor = memfd_create(name, 0);
    if (descriptor < 0) {
        std::perror("memfd_create");
        std::abort();
    }
    return descriptor;
}

}  // namespace

void Initialise()
{
    if (g_outputFile >= 0) {
        return;
    }
    setenv("LC_ALL", "C", 1);
    std::fflush(stdout);
    g_outputFile = NewMemoryFile("varnicle-fuzz-stdout");
    dup2(g_outputFile, STDOUT_FILENO);
    g_memoryFile = NewMemoryFile("varnicle-fuzz-input");
}

std::string TakeOutput()
{
    std::fflush(stdout);
    const off_t size = lseek(g_outputFile, 0, SEEK_CUR);
    std::string text(static_cast<std::size_t>(size), '\0');
    if (size > 0 && pread(g_outputFile, &text[0], text.size(), 0) != size) {
        Fail("standard output could not be read back");
    }
    if (ftruncate(g_outputFile, 0) != 0 || lseek(g_outputFile, 0, SEEK_SET) != 0) {
        Fail("standard output could not be reset");
    }
    return text;
}

std::vector<std::string> Split(const std::uint8_t* data, std::size_t size, std::size_t limit)
{
    std::vector<std::string> pieces(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] != 0) {
            pieces.back().push_back(static_cast<char>(data[i]));
        } else if (pieces.size() < limit) {
            pieces.emplace_back();
        } else {
            break;
        }
    }
    return pieces;
}

std::string PrintedText(const std::string& text)
{
    return text.size() <= 1020 ? text : text.substr(0, 1020) + "...";
}

void Fail(const char* what, const std::string& detail)
{
    std::fprintf(stderr, "\nFUZZ CHECK FAILED: %s\n%s\n", what, detail.c_str());
    std::fflush(stderr);
    std::abort();
}

std::string MemoryFilePath(const std::uint8_t* data, std::size_t size)
{
    if (ftruncate(g_memoryFile, 0) != 0 ||
        (size > 0 && pwrite(g_memoryFile, data, size, 0) != static_cast<ssize_t>(size))) {
        Fail("memory file could not be written");
    }
    return "/proc/self/fd/" + std::to_string(g_memoryFile);
}

}  // namespace fuzz
