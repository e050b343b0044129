#include "platform/allocation_ceiling.h"

#include <cstdlib>
#include <new>

namespace {

// The largest allocation this thread may make now; no limit by default.
thread_local std::size_t ceilingBytes = static_cast<std::size_t>(-1);
thread_local bool ceilingReached = false;

void* allocate(std::size_t bytes)
{
    if (bytes > ceilingBytes) {
        ceilingReached = true;
        return nullptr;
    }
    for (;;) {
        if (void* block = std::malloc(bytes ? bytes : 1)) return block;
        const std::new_handler handler = std::get_new_handler();
        if (!handler) return nullptr;
        handler();
    }
}

}  // namespace

namespace ravoth {

AllocationCeiling::AllocationCeiling(std::size_t bytes) : previous_(ceilingBytes)
{
    if (bytes < ceilingBytes) ceilingBytes = bytes;
    ceilingReached = false;
}

bool AllocationCeiling::wasReached() const { return ceilingReached; }

AllocationCeiling::~AllocationCeiling() { ceilingBytes = previous_; }

}  // namespace ravoth

// The program's operator new, which the libraries it links use as well.
void* operator new(std::size_t bytes)
{
    if (void* block = allocate(bytes)) return block;
    throw std::bad_alloc();
}

void* operator new[](std::size_t bytes)
{
    if (void* block = allocate(bytes)) return block;
    throw std::bad_alloc();
}

void* operator new(std::size_t bytes, const std::nothrow_t&) noexcept
{
    try {
        return allocate(bytes);
    } catch (...) {  // from a new handler
        return nullptr;
    }
}

void* operator new[](std::size_t bytes, const std::nothrow_t& nothrow) noexcept { return operator new(bytes, nothrow); }

// Every block of the above is malloc's, and goes back to free: a checker
// that pairs allocations with releases sees the same pair everywhere.
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }
