#pragma once

#include <cstddef>

// The test binary's replacement of the global operator new and delete (every
// form). Each block carries its requested size, so that a freed block can be
// copied whole. While armed the spy keeps a copy of the bytes of freed blocks:
// of the blocks named with Watch, or of every block after ArmForAll. A test
// reads the copies to see what freed memory held, which is how a wipe that the
// optimiser dropped shows up. New blocks are filled with 0xCD, so that a record
// never shows bytes left over from earlier blocks. The spy can also make
// allocations fail.
namespace allocation_spy {

struct FreedBlock {
    const void* address;         // the block as operator new handed it out
    std::size_t size;            // the size asked of operator new
    const unsigned char* bytes;  // the block's bytes when operator delete got it
};

// Records the watched blocks when they are freed.
void Arm();
// Records every block freed from now on.
void ArmForAll();
// Stops recording; the records stay until Reset.
void Disarm();
// Disarms, forgets records and watches, cancels pending failures.
void Reset();

// The next free of this block is recorded (while armed). Watches are one-shot.
void Watch(const void* block);

// The record of a freed block, or null if it was not recorded.
const FreedBlock* FindFreed(const void* block);
std::size_t FreedCount();
const FreedBlock& Freed(std::size_t index);
// Whether any recorded block holds these bytes.
bool FreedBytesContain(const void* bytes, std::size_t length);
// Recording stops at a fixed number of blocks; this tells whether some were lost.
bool RecordsOverflowed();

// After skip further allocations succeed, the next count fail (std::bad_alloc,
// or null from the nothrow forms).
void FailAllocations(std::size_t count, std::size_t skip = 0);
// Allocations since the last Reset.
std::size_t AllocationCount();
// Between these calls (they nest) allocations are neither counted nor failed:
// for test scaffolding that must not take the failures meant for the code
// under test.
void PauseFailures();
void ResumeFailures();

// Arms on construction (every block or watched ones only), resets on destruction.
class Armed {
public:
    explicit Armed(bool everyBlock = false);
    ~Armed();
    Armed(const Armed&) = delete;
    Armed& operator=(const Armed&) = delete;
};

}  // namespace allocation_spy
