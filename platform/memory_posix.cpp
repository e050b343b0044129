#include "platform/memory.h"

#include "platform/injected_failure.h"

#include <malloc.h>
#include <sys/mman.h>

#include <cstdint>

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

// A large block (the document, a page's samples) is faulted in a 2 MiB page
// at a time where the system allows it, not 4 KiB: for a document of
// hundreds of megabytes that is most of the cost of reading it.
constexpr std::size_t hugePageBytes = std::size_t{2} << 20;
constexpr std::size_t adviseHugeFromBytes = 8 * hugePageBytes;

void adviseHugePages(void* block, std::size_t bytes)
{
    if (!block || bytes < adviseHugeFromBytes) return;
    const auto start = reinterpret_cast<std::uintptr_t>(block);
    const std::uintptr_t first = (start + hugePageBytes - 1) & ~(hugePageBytes - 1);
    const std::uintptr_t last = (start + bytes) & ~(hugePageBytes - 1);
#ifdef MADV_HUGEPAGE
    // Only advice: where it is refused, small pages serve as before.
    if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
    (void)first;
    (void)last;
#endif
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
    adviseHugePages(block, bytes);
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
