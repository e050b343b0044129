#include "platform/memory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace ravoth {
namespace {

// Large blocks freed are kept aside for the next page's blocks of their
// size; whatever the last user left in one, a zero-filled block must come
// back zero, and every size must still get a block of its own.
TEST(MemoryBlocks, LargeBlocksComeBackAsAskedAfterReuse)
{
    constexpr std::size_t mib = std::size_t{1} << 20;
    struct Case {
        const char* name;
        std::size_t firstBytes;
        std::size_t secondBytes;
    };
    const Case cases[] = {
        {"same size", 26 * mib + 1, 26 * mib + 1},
        {"a little smaller", 26 * mib, 25 * mib},
        {"much smaller", 26 * mib, 5 * mib},
        {"larger", 5 * mib, 26 * mib},
        {"small blocks", 1000, 1000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const long long before = liveBlockCount();
        unsigned char* first = allocZeroedBlock(c.firstBytes);
        ASSERT_NE(first, nullptr);
        EXPECT_TRUE(std::all_of(first, first + c.firstBytes, [](unsigned char b) { return b == 0; }));
        std::memset(first, 0xA5, c.firstBytes);
        unsigned char* other = allocBlock(c.firstBytes);
        ASSERT_NE(other, nullptr);
        std::memset(other, 0x5A, c.firstBytes);
        freeBlock(first);
        freeBlock(other);
        EXPECT_EQ(liveBlockCount(), before);

        unsigned char* zeroed = allocZeroedBlock(c.secondBytes);
        unsigned char* fixed = allocBlock(c.secondBytes);
        ASSERT_NE(zeroed, nullptr);
        ASSERT_NE(fixed, nullptr);
        EXPECT_NE(zeroed, fixed);
        EXPECT_TRUE(std::all_of(zeroed, zeroed + c.secondBytes, [](unsigned char b) { return b == 0; }));
        // Every byte of both is ours to write.
        std::memset(fixed, 1, c.secondBytes);
        std::memset(zeroed, 2, c.secondBytes);
        EXPECT_EQ(liveBlockCount(), before + 2);
        freeBlock(zeroed);
        freeBlock(fixed);
        releaseSpareBlocks();
        EXPECT_EQ(liveBlockCount(), before);
    }
}

}  // namespace
}  // namespace ravoth
