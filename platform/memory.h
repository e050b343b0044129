// Memory blocks for the reader, the job and the image output.
//
// Every block the core uses comes from here, so that tests can count the
// blocks alive and, through the plan a thread holds, make the Nth
// allocation fail. Blocks are "fixed": the
// pointer is the block, as with the platform's global memory.
#pragma once

#include <cstddef>
#include <utility>

namespace ravoth {

// A fixed block of `bytes` bytes with unspecified content; null when memory is
// exhausted or an injected failure is due. A request for 0 bytes yields a
// valid, distinct block. The caller owns the block and frees it with
// freeBlock.
unsigned char* allocBlock(std::size_t bytes);

// As allocBlock, with every byte 0.
unsigned char* allocZeroedBlock(std::size_t bytes);

// Releases a block from allocBlock or allocZeroedBlock; null does nothing.
void freeBlock(void* block);

// Gives back to the system the large blocks that freeBlock kept aside for
// the next page of a run; the end of a run calls it.
void releaseSpareBlocks();

// Whether a work-buffer slot holds a block.
inline bool isBlockPresent(const void* block) { return block != nullptr; }

// Blocks allocated and not yet freed, over the whole process. Allocation
// failures are a FaultPlan's (platform/fault_plan.h).
long long liveBlockCount();

// Owns one block; frees it when the scope ends unless released.
template <typename T = unsigned char>
class OwnedBlock {
public:
    explicit OwnedBlock(T* start = nullptr) : start_(start) {}
    OwnedBlock(OwnedBlock&& other) noexcept : start_(other.release()) {}
    OwnedBlock& operator=(OwnedBlock&& other) noexcept
    {
        if (this != &other) reset(other.release());
        return *this;
    }
    OwnedBlock(const OwnedBlock&) = delete;
    OwnedBlock& operator=(const OwnedBlock&) = delete;
    ~OwnedBlock() { freeBlock(start_); }

    T* get() const { return start_; }
    T** slot() { return &start_; }
    T* release() { return std::exchange(start_, nullptr); }
    void reset(T* start = nullptr) { freeBlock(std::exchange(start_, start)); }
    explicit operator bool() const { return start_ != nullptr; }

private:
    T* start_;
};

}  // namespace ravoth
