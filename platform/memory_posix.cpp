#include "platform/memory.h"

#include "platform/fault_plan.h"

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define RAVOTH_POISON(block, bytes) ASAN_POISON_MEMORY_REGION(block, bytes)
#define RAVOTH_UNPOISON(block, bytes) ASAN_UNPOISON_MEMORY_REGION(block, bytes)
#else
#define RAVOTH_POISON(block, bytes) ((void)(block), (void)(bytes))
#define RAVOTH_UNPOISON(block, bytes) ((void)(block), (void)(bytes))
#endif

namespace ravoth {
namespace {

// Blocks are freed also by the thread that writes page files.
std::atomic<long long> live{0};

// Large blocks (the document, a page's samples and its bitmap) are mapped
// on their own, so that the small blocks of the next page never split the
// space a large one left and the heap does not grow by a page each time.
// The heap keeps its free top for the next page's small blocks rather than
// giving it back and faulting it in again.
constexpr std::size_t largeBlockBytes = std::size_t{4} << 20;

void mapLargeBlocksApart()
{
    static const bool done = [] {
        mallopt(M_MMAP_THRESHOLD, static_cast<int>(largeBlockBytes));
        mallopt(M_TRIM_THRESHOLD, 64 << 20);
        return true;
    }();
    (void)done;
}

// Pages come in runs of large blocks of one size. Mapping each afresh would
// fault all its memory in again for every page, so the last large blocks
// freed are kept aside and handed to the next requests they fit. Blocks
// above 256 MiB are not kept, and a run gives back what is kept when it
// ends.
class SpareBlocks {
public:
    // A kept block of at least `bytes` (and not much more), or null.
    void* take(std::size_t bytes)
    {
        if (bytes < largeBlockBytes) return nullptr;
        const std::lock_guard<std::mutex> lock(mutex_);
        for (Spare& spare : spares_) {
            if (spare.block && spare.bytes >= bytes && spare.bytes - bytes <= bytes / 4) {
                void* block = spare.block;
                RAVOTH_UNPOISON(block, spare.bytes);
                spare = {};
                return block;
            }
        }
        // Nothing fits: what is kept goes back before more is mapped.
        for (Spare& spare : spares_) release(spare);
        return nullptr;
    }

    // Whether the block was kept; else the caller frees it.
    bool keep(void* block)
    {
        const std::size_t bytes = malloc_usable_size(block);
        if (bytes < largeBlockBytes || bytes > maxKeptBytes) return false;
        const std::lock_guard<std::mutex> lock(mutex_);
        Spare& slot = spares_[next_];
        next_ = (next_ + 1) % spareCount;
        release(slot);
        slot = {block, bytes};
        // A use after freeing must still show under AddressSanitizer.
        RAVOTH_POISON(block, bytes);
        return true;
    }

    void releaseAll()
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        for (Spare& spare : spares_) release(spare);
    }

private:
    struct Spare {
        void* block = nullptr;
        std::size_t bytes = 0;
    };
    // A page's samples and its bitmap for each thread that converts pages
    // at once (one per core, at most eight).
    static constexpr int spareCount = 16;
    static constexpr std::size_t maxKeptBytes = std::size_t{256} << 20;

    static void release(Spare& spare)
    {
        if (!spare.block) return;
        RAVOTH_UNPOISON(spare.block, spare.bytes);
        std::free(spare.block);
        spare = {};
    }

    std::mutex mutex_;
    Spare spares_[spareCount];
    int next_ = 0;
};

SpareBlocks spareBlocks;

bool injectedFailureDue()
{
    mapLargeBlocksApart();
    FaultPlan* plan = currentFaultPlan();
    return plan && plan->allocationDue();
}

}  // namespace

unsigned char* allocBlock(std::size_t bytes)
{
    if (injectedFailureDue()) return nullptr;
    void* block = spareBlocks.take(bytes);
    if (!block) {
        // malloc(0) may return null, which would read as "no memory".
        block = std::malloc(bytes == 0 ? 1 : bytes);
    }
    if (block) ++live;
    return static_cast<unsigned char*>(block);
}

unsigned char* allocZeroedBlock(std::size_t bytes)
{
    if (injectedFailureDue()) return nullptr;
    void* block = spareBlocks.take(bytes);
    if (block) {
        std::memset(block, 0, bytes);
    } else {
        block = std::calloc(bytes == 0 ? 1 : bytes, 1);
    }
    if (block) ++live;
    return static_cast<unsigned char*>(block);
}

void freeBlock(void* block)
{
    if (!block) return;
    --live;
    if (!spareBlocks.keep(block)) std::free(block);
}

void releaseSpareBlocks() { spareBlocks.releaseAll(); }

long long liveBlockCount() { return live; }

}  // namespace ravoth
