#include "platform/file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace ravoth {
namespace {

// Where the document cannot be mapped it is read whole: the block must hold
// the file's bytes in order, and the count stop at its end.
TEST(InputFile, ReadAllLargeAndShortFiles)
{
    struct Case {
        const char* name;
        std::size_t fileBytes;
        std::size_t askedBytes;
    };
    constexpr std::size_t mib = std::size_t{1} << 20;
    const Case cases[] = {
        {"small, exact", 4096, 4096},
        {"large, exact", 40 * mib + 3, 40 * mib + 3},
        {"large, asked one more", 40 * mib, 40 * mib + 1},
        {"large, file ends in the front half", 40 * mib, 100 * mib},
        {"large, asked less than the file", 40 * mib, 33 * mib},
    };
    const std::string path = ::testing::TempDir() + "ravoth_read_" + std::to_string(::getpid());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<unsigned char> content(c.fileBytes);
        // Position-dependent bytes, so that halves swapped or shifted show.
        for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<unsigned char>((i * 2654435761u) >> 13);
        {
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(content.size()));
        }
        InputFile file;
        ASSERT_TRUE(file.open(path.c_str()));
        EXPECT_EQ(file.length(), static_cast<std::int64_t>(c.fileBytes));
        std::vector<unsigned char> block(c.askedBytes, 0xEE);
        const std::size_t expected = c.askedBytes < c.fileBytes ? c.askedBytes : c.fileBytes;
        ASSERT_EQ(file.readAll(block.data(), block.size()), expected);
        EXPECT_TRUE(std::equal(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(expected), content.begin()));
    }
    std::remove(path.c_str());
}

TEST(InputFile, ReadAllOnAClosedFileReadsNothing)
{
    InputFile file;
    unsigned char byte = 0;
    EXPECT_EQ(file.readAll(&byte, 1), 0u);
}

}  // namespace
}  // namespace ravoth
