#pragma once

#include <string>
#include <vector>

// The words of a command line as main receives them: the count, and the
// pointers with a null one after the last. The words live here, so the
// pointers stay valid as long as this does.
class ArgumentVector {
public:
    explicit ArgumentVector(std::vector<std::string> words);
    ArgumentVector(const ArgumentVector&) = delete;
    ArgumentVector& operator=(const ArgumentVector&) = delete;

    int Count() const { return static_cast<int>(words_.size()); }
    char** Pointers() { return pointers_.data(); }

private:
    std::vector<std::string> words_;
    std::vector<char*> pointers_;
};
