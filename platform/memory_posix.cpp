#include "platform/memory.h"

#include "platform/injected_failure.h"

#include <malloc.h>

#include <cstdlib>
#include <cstring>

namespace ravoth {
namespace {

InjectedFailure allocationFailure;
long long live = 0;

// Page images come in runs of blocks of one size. Left to mmap, each such
// block would be mapped, faulted in page by page and unmapped again for
// every page; kept in the heap, the next page reuses the same memory.
void keepLargeBlocksInTheHeap()
{
    static const bool done = [] {
        mallopt(M_MMAP_THRESHOLD, 512 * 1024 * 1024);
        mallopt(M_TRIM_THRESHOLD, 1024 * 1024 * 1024);
        return true;
    }();
    (void)done;
}

bool injectedFailureDue()
{
    keepLargeBlocksInTheHeap();
    return allocationFailure.due();
}

}  // namespace

unsigned char* allocBlock(std::size_t bytes)
{
    if (injectedFailureDue()) return nullptr;
    // malloc(0) may return null, which would read as "no memory".
    void* block = std::malloc(bytes == 0 ? 1 : bytes);
    if (block) ++live;
    return static_cast<unsigned char*>(block);
}

unsigned char* allocZeroedBlock(std::size_t bytes)
{
    if (injectedFailureDue()) return nullptr;
    void* block = std::calloc(bytes == 0 ? 1 : bytes, 1);
    if (block) ++live;
    return static_cast<unsigned char*>(block);
}

void freeBlock(void* block)
{
    if (!block) return;
    --live;
    std::free(block);
}

void failAllocationAt(long long n) { allocationFailure.armAt(n); }
long long allocationsAttempted() { return allocationFailure.requests(); }
void resetAllocationCount() { allocationFailure.resetCount(); }
long long liveBlockCount() { return live; }

}  // namespace ravoth
