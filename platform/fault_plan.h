// Failures a test asks of the platform's services: the nth block
// allocation, the nth write request, a file system that maps nothing or
// copies nothing from file to file. A plan is an object of its own, held by
// a run (or by a test) and handed to the threads that work for it: a thread
// meets the failures of the plan it holds, and none without one, so two
// runs never share a count. An unarmed plan costs a look at one flag.
#pragma once

#include <atomic>

#include "platform/injected_failure.h"

namespace ravoth {

class FaultPlan {
public:
    // The nth allocation (n = 1 the very next) fails, once; 0 disarms it.
    // Either starts counting allocations anew.
    void failAllocationAt(long long n)
    {
        counting_.store(true, std::memory_order_relaxed);
        allocation_.armAt(n);
    }
    void resetAllocationCount()
    {
        counting_.store(true, std::memory_order_relaxed);
        allocation_.resetCount();
    }
    // Allocations attempted since counting began anew.
    long long allocationsAttempted() const { return allocation_.requests(); }

    // The nth write request (a flush to the system, a piece of a system
    // copy, or the close) fails as a full disk would, once; 0 disarms it.
    void failWriteAt(long long n)
    {
        counting_.store(true, std::memory_order_relaxed);
        writes_.armAt(n);
    }

    // While true, map() refuses every file, as a file system that cannot
    // map does.
    void refuseMapping(bool refuse) { mappingRefused_.store(refuse, std::memory_order_relaxed); }
    bool isMappingRefused() const { return mappingRefused_.load(std::memory_order_relaxed); }

    // While true, the system copies nothing from file to file, as between
    // file systems of two kinds.
    void refuseSystemCopy(bool refuse) { systemCopyRefused_.store(refuse, std::memory_order_relaxed); }
    bool isSystemCopyRefused() const { return systemCopyRefused_.load(std::memory_order_relaxed); }

    // Counts one request; true when it is to fail.
    bool allocationDue() { return counting_.load(std::memory_order_relaxed) && allocation_.due(); }
    bool writeDue() { return counting_.load(std::memory_order_relaxed) && writes_.due(); }

private:
    std::atomic<bool> counting_{false};
    InjectedFailure allocation_;
    InjectedFailure writes_;
    std::atomic<bool> mappingRefused_{false};
    std::atomic<bool> systemCopyRefused_{false};
};

// The plan the calling thread holds; null when none.
FaultPlan* currentFaultPlan();

// Makes `plan` the calling thread's while it lives (null: none), and the
// one before it again after.
class FaultScope {
public:
    explicit FaultScope(FaultPlan* plan);
    ~FaultScope();
    FaultScope(const FaultScope&) = delete;
    FaultScope& operator=(const FaultScope&) = delete;

private:
    FaultPlan* previous_;
};

}  // namespace ravoth
