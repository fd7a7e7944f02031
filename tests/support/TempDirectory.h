#pragma once

#include <filesystem>
#include <string>

// A fresh directory under the system's temporary directory, removed with its
// contents on destruction. With enter, it is the working directory meanwhile.
class TempDirectory {
public:
    explicit TempDirectory(bool enter = false);
    ~TempDirectory();
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    // Writes bytes (as they are, no newline translation) to a file in it.
    std::filesystem::path Write(const std::string& name, const std::string& bytes) const;

private:
    std::filesystem::path path_;
    std::filesystem::path previous_;
};
