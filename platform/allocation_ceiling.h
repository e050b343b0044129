// A ceiling on single allocations through operator new on one thread, for
// the time a library works on a hostile file: a buffer sized by a number the
// file declares (a row of a predictor, a stream's length) then fails with
// std::bad_alloc, which the library reports as any failure, instead of
// taking gigabytes or the process.
#pragma once

#include <cstddef>

namespace ravoth {

class AllocationCeiling {
public:
    // Until the object goes, an allocation on this thread of more than
    // `bytes` fails; an outer ceiling that is lower still holds.
    explicit AllocationCeiling(std::size_t bytes);
    ~AllocationCeiling();
    // Whether an allocation failed for the ceiling since it was set: what
    // failed was declared, not short of memory.
    bool wasReached() const;
    AllocationCeiling(const AllocationCeiling&) = delete;
    AllocationCeiling& operator=(const AllocationCeiling&) = delete;

private:
    std::size_t previous_;
};

}  // namespace ravoth
