#include "support/ArgumentVector.h"

#include <utility>

ArgumentVector::ArgumentVector(std::vector<std::string> words) : words_(std::move(words))
{
    for (std::string& word : words_) {
        pointers_.push_back(word.data());
    }
    pointers_.push_back(nullptr);
}
