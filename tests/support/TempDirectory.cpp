#include "support/TempDirectory.h"

#include <fstream>
#include <random>

TempDirectory::TempDirectory(bool enter)
{
    std::random_device random;
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (;;) {
        path_ = base / ("varnicle-test-" + std::to_string(random()));
        if (std::filesystem::create_directory(path_)) {
            break;
        }
    }
    if (enter) {
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(path_);
    }
}

TempDirectory::~TempDirectory()
{
    std::error_code ignored;
    if (!previous_.empty()) {
        std::filesystem::current_path(previous_, ignored);
    }
    std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path TempDirectory::Write(const std::string& name, const std::string& bytes) const
{
    std::filesystem::path file = path_ / name;
    std::ofstream stream(file, std::ios::binary);
    stream << bytes;
    return file;
}
