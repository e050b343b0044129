#include "platform/same_name.h"

namespace ravoth {

// Case matters on the usual file systems here, but not on every one a user
// may write to (a FAT stick, a share), so letters of either case count alike.
bool mayNameSameFile(const char* a, const char* b)
{
    auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; };
    for (; *a && *b; ++a, ++b)
        if (lower(static_cast<unsigned char>(*a)) != lower(static_cast<unsigned char>(*b))) return false;
    return *a == *b;
}

}  // namespace ravoth
