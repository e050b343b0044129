#include "platform/memory.h"

#include "platform/fault_plan.h"

#include <windows.h>

#include <atomic>

namespace ravoth {
namespace {

// Blocks are freed also by the thread that writes page files.
std::atomic<long long> live{0};

bool injectedFailureDue()
{
    FaultPlan* plan = currentFaultPlan();
    return plan && plan->allocationDue();
}

// Fixed global memory: the handle is the block's address.
unsigned char* globalBlock(UINT flags, std::size_t bytes)
{
    if (injectedFailureDue()) return nullptr;
    // A request for 0 bytes still needs a block of its own, as on any system.
    HGLOBAL block = GlobalAlloc(flags, bytes == 0 ? 1 : bytes);
    if (block) ++live;
    return static_cast<unsigned char*>(block);
}

}  // namespace

unsigned char* allocBlock(std::size_t bytes) { return globalBlock(GMEM_FIXED, bytes); }

unsigned char* allocZeroedBlock(std::size_t bytes)
{
    return globalBlock(GMEM_FIXED | GMEM_ZEROINIT, bytes);
}

void freeBlock(void* block)
{
    if (!block) return;
    --live;
    GlobalFree(static_cast<HGLOBAL>(block));
}

// Global memory keeps no blocks aside.
void releaseSpareBlocks() {}

long long liveBlockCount() { return live; }

}  // namespace ravoth
