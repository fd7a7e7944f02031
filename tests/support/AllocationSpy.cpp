#include "support/AllocationSpy.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace allocation_spy {
namespace {

// Everything here is constant-initialised: operator new runs before any
// dynamic initialisation, and the spy must not allocate through itself.
constexpr std::size_t kMaxRecords = 8192;
constexpr std::size_t kMaxWatches = 64;
constexpr unsigned char kFreshByte = 0xCD;

struct Header {
    void* base;
    std::size_t size;
};
static_assert(sizeof(Header) % alignof(std::max_align_t) == 0, "header must keep malloc's alignment");

enum class Mode { kOff, kWatched, kEvery };

Mode g_mode = Mode::kOff;
FreedBlock g_records[kMaxRecords];
std::size_t g_recordCount = 0;
bool g_overflowed = false;
const void* g_watches[kMaxWatches];
std::size_t g_watchCount = 0;
std::size_t g_failSkip = 0;
std::size_t g_failCount = 0;
std::size_t g_allocations = 0;
std::size_t g_paused = 0;

bool ShouldFail()
{
    if (g_paused > 0) {
        return false;
    }
    ++g_allocations;
    if (g_failCount == 0) {
        return false;
    }
    if (g_failSkip > 0) {
        --g_failSkip;
        return false;
    }
    --g_failCount;
    return true;
}

void* Allocate(std::size_t size, std::size_t alignment) noexcept
{
    if (ShouldFail()) {
        return nullptr;
    }
    if (alignment < 16) {
        alignment = 16;
    }
    // No slack after the block: a sanitizer then sees a write one byte past
    // its end. malloc aligns for max_align_t, the header keeps that alignment.
    const std::size_t extra = sizeof(Header) + alignment - alignof(std::max_align_t);
    if (size > SIZE_MAX - extra) {
        return nullptr;
    }
    char* base = static_cast<char*>(std::malloc(size + extra));
    if (base == nullptr) {
        return nullptr;
    }
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(base + sizeof(Header));
    const std::uintptr_t aligned = (start + alignment - 1) & ~static_cast<std::uintptr_t>(alignment - 1);
    char* block = reinterpret_cast<char*>(aligned);
    Header* header = reinterpret_cast<Header*>(block) - 1;
    header->base = base;
    header->size = size;
    // A fresh block shows a fixed pattern, not what freed memory held before:
    // a record then holds only what the program wrote.
    std::memset(block, kFreshByte, size);
    return block;
}

void* AllocateOrThrow(std::size_t size, std::size_t alignment)
{
    void* block = Allocate(size, alignment);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    return block;
}

bool TakeWatch(const void* block)
{
    for (std::size_t i = 0; i < g_watchCount; ++i) {
        if (g_watches[i] == block) {
            g_watches[i] = g_watches[--g_watchCount];
            return true;
        }
    }
    return false;
}

void Record(const void* block, std::size_t size)
{
    if (g_recordCount == kMaxRecords) {
        g_overflowed = true;
        return;
    }
    unsigned char* copy = static_cast<unsigned char*>(std::malloc(size == 0 ? 1 : size));
    if (copy == nullptr) {
        g_overflowed = true;
        return;
    }
    std::memcpy(copy, block, size);
    g_records[g_recordCount++] = FreedBlock{block, size, copy};
}

void Free(void* block) noexcept
{
    if (block == nullptr) {
        return;
    }
    const Header* header = static_cast<Header*>(block) - 1;
    if (g_mode == Mode::kEvery || (g_mode == Mode::kWatched && TakeWatch(block))) {
        Record(block, header->size);
    }
    std::free(header->base);
}

}  // namespace

void Arm()
{
    g_mode = Mode::kWatched;
}

void ArmForAll()
{
    g_mode = Mode::kEvery;
}

void Disarm()
{
    g_mode = Mode::kOff;
}

void Reset()
{
    g_mode = Mode::kOff;
    for (std::size_t i = 0; i < g_recordCount; ++i) {
        std::free(const_cast<unsigned char*>(g_records[i].bytes));
    }
    g_recordCount = 0;
    g_overflowed = false;
    g_watchCount = 0;
    g_failSkip = 0;
    g_failCount = 0;
    g_allocations = 0;
    g_paused = 0;
}

void Watch(const void* block)
{
    if (g_watchCount < kMaxWatches) {
        g_watches[g_watchCount++] = block;
    }
}

const FreedBlock* FindFreed(const void* block)
{
    for (std::size_t i = 0; i < g_recordCount; ++i) {
        if (g_records[i].address == block) {
            return &g_records[i];
        }
    }
    return nullptr;
}

std::size_t FreedCount()
{
    return g_recordCount;
}

const FreedBlock& Freed(std::size_t index)
{
    return g_records[index];
}

bool FreedBytesContain(const void* bytes, std::size_t length)
{
    if (length == 0) {
        return g_recordCount > 0;
    }
    const unsigned char* needle = static_cast<const unsigned char*>(bytes);
    for (std::size_t i = 0; i < g_recordCount; ++i) {
        const FreedBlock& block = g_records[i];
        for (std::size_t at = 0; at + length <= block.size; ++at) {
            if (std::memcmp(block.bytes + at, needle, length) == 0) {
                return true;
            }
        }
    }
    return false;
}

bool RecordsOverflowed()
{
    return g_overflowed;
}

void FailAllocations(std::size_t count, std::size_t skip)
{
    g_failCount = count;
    g_failSkip = skip;
}

std::size_t AllocationCount()
{
    return g_allocations;
}

void PauseFailures()
{
    ++g_paused;
}

void ResumeFailures()
{
    if (g_paused > 0) {
        --g_paused;
    }
}

Armed::Armed(bool everyBlock)
{
    Reset();
    if (everyBlock) {
        ArmForAll();
    } else {
        Arm();
    }
}

Armed::~Armed()
{
    Reset();
}

}  // namespace allocation_spy

namespace spy = allocation_spy;

void* operator new(std::size_t size)
{
    return spy::AllocateOrThrow(size, 0);
}

void* operator new[](std::size_t size)
{
    return spy::AllocateOrThrow(size, 0);
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    return spy::Allocate(size, 0);
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    return spy::Allocate(size, 0);
}

void* operator new(std::size_t size, std::align_val_t alignment)
{
    return spy::AllocateOrThrow(size, static_cast<std::size_t>(alignment));
}

void* operator new[](std::size_t size, std::align_val_t alignment)
{
    return spy::AllocateOrThrow(size, static_cast<std::size_t>(alignment));
}

void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept
{
    return spy::Allocate(size, static_cast<std::size_t>(alignment));
}

void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept
{
    return spy::Allocate(size, static_cast<std::size_t>(alignment));
}

void operator delete(void* block) noexcept
{
    spy::Free(block);
}

void operator delete[](void* block) noexcept
{
    spy::Free(block);
}

void operator delete(void* block, std::size_t) noexcept
{
    spy::Free(block);
}

void operator delete[](void* block, std::size_t) noexcept
{
    spy::Free(block);
}

void operator delete(void* block, const std::nothrow_t&) noexcept
{
    spy::Free(block);
}

void operator delete[](void* block, const std::nothrow_t&) noexcept
{
    spy::Free(block);
}

void operator delete(void* block, std::align_val_t) noexcept
{
    spy::Free(block);
}

void operator delete[](void* block, std::align_val_t) noexcept
{
    spy::Free(block);
}

void operator delete(void* block, std::size_t, std::align_val_t) noexcept
{
    spy::Free(block);
}

void operator delete[](void* block, std::size_t, std::align_val_t) noexcept
{
    spy::Free(block);
}

void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept
{
    spy::Free(block);
}

void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept
{
    spy::Free(block);
}
