#pragma once

#include <cstddef>

// A growable byte string that overwrites the text it gives up with 'Z' (0x5A)
// before its storage is freed or reused: on release and on Resize. Messages,
// the label and every CSError text are built in it. Storage up to 15 bytes of
// text lives in the object; larger storage comes from ::operator new.
class WipeString {
public:
    static constexpr std::size_t kInlineCapacity = 15;
    static constexpr std::size_t kMaxSize = static_cast<std::size_t>(-2);
    static constexpr unsigned char kWipeByte = 0x5A;

    WipeString() noexcept;
    explicit WipeString(const char* text);
    WipeString(const WipeString& other);
    WipeString(WipeString&& other) noexcept;
    WipeString& operator=(const WipeString& other);
    WipeString& operator=(WipeString&& other) noexcept;
    ~WipeString();

    std::size_t Size() const noexcept;
    std::size_t Capacity() const noexcept;
    const char* Text() const noexcept;
    char* Data() noexcept;

    // Plain string operations: no wipe (a reallocation frees the old storage as is).
    void Assign(const char* text, std::size_t length);
    void Append(const char* text, std::size_t length);
    void Append(std::size_t count, char byte);
    void Erase(std::size_t position, std::size_t count);
    WipeString Substring(std::size_t position, std::size_t count) const;

    // Wiping operations.
    void Resize(std::size_t size);
    void Release() noexcept;

private:
    char* Buffer() noexcept { return capacity_ > kInlineCapacity ? storage_.heap : storage_.inline_; }
    const char* Buffer() const noexcept { return capacity_ > kInlineCapacity ? storage_.heap : storage_.inline_; }
    std::size_t GrownCapacity(std::size_t requested) const noexcept;
    void Grow(std::size_t requested, std::size_t keep);
    void FreeStorage() noexcept;
    void BecomeEmpty() noexcept;
    void TakeOver(WipeString& other) noexcept;

    // The text followed by a NUL: in the object while the capacity is 15, on
    // the heap (capacity + 1 bytes) from 16 on.
    union Storage {
        char inline_[kInlineCapacity + 1];
        char* heap;
    };
    Storage storage_;
    std::size_t size_;
    std::size_t capacity_;
};
