#include "text/WipeString.h"

#include <cstring>
#include <new>
#include <stdexcept>

namespace {

// Volatile stores: the optimiser may not drop them even when the storage is
// freed right after.
void Wipe(char* bytes, std::size_t count) noexcept
{
    volatile unsigned char* target = reinterpret_cast<volatile unsigned char*>(bytes);
    for (std::size_t i = 0; i < count; ++i) {
        target[i] = WipeString::kWipeByte;
    }
}

[[noreturn]] void ThrowTooLong()
{
    throw std::length_error("string too long");
}

[[noreturn]] void ThrowBadPosition()
{
    throw std::out_of_range("invalid string position");
}

}  // namespace

WipeString::WipeString() noexcept : storage_(), size_(0), capacity_(kInlineCapacity)
{
    storage_.inline_[0] = '\0';
}

WipeString::WipeString(const char* text) : WipeString()
{
    Assign(text, std::strlen(text));
}

WipeString::WipeString(const WipeString& other) : WipeString()
{
    Assign(other.Text(), other.size_);
}

WipeString::WipeString(WipeString&& other) noexcept : WipeString()
{
    TakeOver(other);
}

WipeString& WipeString::operator=(const WipeString& other)
{
    if (this != &other) {
        Assign(other.Text(), other.size_);
    }
    return *this;
}

WipeString& WipeString::operator=(WipeString&& other) noexcept
{
    if (this != &other) {
        Release();
        TakeOver(other);
    }
    return *this;
}

WipeString::~WipeString()
{
    Release();
}

std::size_t WipeString::Size() const noexcept
{
    return size_;
}

std::size_t WipeString::Capacity() const noexcept
{
    return capacity_;
}

const char* WipeString::Text() const noexcept
{
    return Buffer();
}

char* WipeString::Data() noexcept
{
    return Buffer();
}

void WipeString::Assign(const char* text, std::size_t length)
{
    if (length > kMaxSize) {
        ThrowTooLong();
    }
    if (length > capacity_) {
        Grow(length, 0);
    }
    char* buffer = Buffer();
    std::memmove(buffer, text, length);
    size_ = length;
    buffer[length] = '\0';
}

void WipeString::Append(const char* text, std::size_t length)
{
    if (length > kMaxSize - size_) {
        ThrowTooLong();
    }
    if (length > capacity_ - size_) {
        // The text may be a part of this string: find it again after the move.
        const char* buffer = Buffer();
        const bool inside = text >= buffer && text < buffer + size_;
        const std::size_t offset = inside ? static_cast<std::size_t>(text - buffer) : 0;
        Grow(size_ + length, size_);
        if (inside) {
            text = Buffer() + offset;
        }
    }
    char* buffer = Buffer();
    std::memmove(buffer + size_, text, length);
    size_ += length;
    buffer[size_] = '\0';
}

void WipeString::Append(std::size_t count, char byte)
{
    if (count > kMaxSize - size_) {
        ThrowTooLong();
    }
    if (count > capacity_ - size_) {
        Grow(size_ + count, size_);
    }
    char* buffer = Buffer();
    std::memset(buffer + size_, byte, count);
    size_ += count;
    buffer[size_] = '\0';
}

void WipeString::Erase(std::size_t position, std::size_t count)
{
    if (position > size_) {
        ThrowBadPosition();
    }
    if (count > size_ - position) {
        count = size_ - position;
    }
    char* buffer = Buffer();
    std::memmove(buffer + position, buffer + position + count, size_ - position - count);
    size_ -= count;
    buffer[size_] = '\0';
}

WipeString WipeString::Substring(std::size_t position, std::size_t count) const
{
    if (position > size_) {
        ThrowBadPosition();
    }
    if (count > size_ - position) {
        count = size_ - position;
    }
    WipeString part;
    part.Assign(Text() + position, count);
    return part;
}

void WipeString::Resize(std::size_t size)
{
    if (size <= capacity_) {
        char* buffer = Buffer();
        // Removing a single byte needs no wipe: the new NUL covers it.
        if (size + 1 < size_) {
            Wipe(buffer + size + 1, capacity_ - size - 1);
        }
        if (size > size_) {
            std::memset(buffer + size_, 0, size - size_);
        }
        size_ = size;
        buffer[size] = '\0';
        return;
    }

    // Keep a copy aside, wipe the text, and let the growth free the wiped
    // storage; the copy is wiped in turn when it goes out of scope.
    const WipeString saved(*this);
    Wipe(Buffer(), size_);
    Append(size - size_, '\0');
    std::memcpy(Buffer(), saved.Text(), saved.size_);
}

void WipeString::Release() noexcept
{
    Wipe(Buffer(), size_);
    FreeStorage();
    BecomeEmpty();
}

std::size_t WipeString::GrownCapacity(std::size_t requested) const noexcept
{
    const std::size_t masked = requested | kInlineCapacity;
    if (masked > kMaxSize) {
        return requested;
    }
    if (capacity_ / 2 > masked / 3) {
        return capacity_ <= kMaxSize - capacity_ / 2 ? capacity_ + capacity_ / 2 : kMaxSize;
    }
    return masked;
}

// Moves to storage for at least requested bytes, keeping the first keep bytes
// of the text. The old storage is freed as it is.
void WipeString::Grow(std::size_t requested, std::size_t keep)
{
    std::size_t capacity = GrownCapacity(requested);
    char* storage = nullptr;
    try {
        storage = static_cast<char*>(::operator new(capacity + 1));
    } catch (const std::bad_alloc&) {
        capacity = requested;
        try {
            storage = static_cast<char*>(::operator new(capacity + 1));
        } catch (const std::bad_alloc&) {
            FreeStorage();
            BecomeEmpty();
            throw;
        }
    }
    std::memcpy(storage, Buffer(), keep);
    storage[keep] = '\0';
    FreeStorage();
    storage_.heap = storage;
    capacity_ = capacity;
    size_ = keep;
}

void WipeString::FreeStorage() noexcept
{
    if (capacity_ > kInlineCapacity) {
        ::operator delete(storage_.heap);
        storage_.heap = nullptr;
    }
}

void WipeString::BecomeEmpty() noexcept
{
    capacity_ = kInlineCapacity;
    size_ = 0;
    storage_.inline_[0] = '\0';
}

// Takes the other string's text and leaves it empty; text kept in the other
// object is wiped there, since nothing else would.
void WipeString::TakeOver(WipeString& other) noexcept
{
    if (other.capacity_ > kInlineCapacity) {
        storage_.heap = other.storage_.heap;
    } else {
        std::memcpy(storage_.inline_, other.storage_.inline_, sizeof storage_.inline_);
        Wipe(other.storage_.inline_, other.size_);
    }
    size_ = other.size_;
    capacity_ = other.capacity_;
    other.BecomeEmpty();
}
