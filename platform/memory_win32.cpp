#include "platform/memory.h"

#include <windows.h>

namespace ravoth {
namespace {

long long failAt = 0;
long long attempted = 0;
long long live = 0;

bool injectedFailureDue()
{
    ++attempted;
    if (failAt != 0 && attempted == failAt) {
        failAt = 0;
        return true;
    }
    return false;
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

void failAllocationAt(long long n)
{
    failAt = n;
    attempted = 0;
}

long long allocationsAttempted() { return attempted; }
void resetAllocationCount() { attempted = 0; }
long long liveBlockCount() { return live; }

}  // namespace ravoth
