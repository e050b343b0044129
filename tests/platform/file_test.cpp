#include "platform/file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#ifdef _WIN32
#include <windows.h>

#include <thread>
#endif
#ifdef __linux__
#include <fcntl.h>
#include <linux/userfaultfd.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "tests/support/faults.h"
#include "tests/support/temp_folder.h"

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

#ifdef __linux__
// A page of a mapped document that the system cannot hand out: past the end
// of a file cut short under the run, the document changed; within the file,
// the reading failed (a failing disk, a network file system), which the
// caller must hear of apart. Either way the touch finds zeros and the run
// goes on to see it. The failed read is a hole of a memory file that the
// kernel is told to answer with SIGBUS, as it answers a failed read.
TEST(InputFile, APageTheSystemCannotHandOutIsToldApartFromAFileCutShort)
{
    const std::size_t pageBytes = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    const std::size_t bytes = 16 * pageBytes;
    const std::size_t touched = bytes / 2 + 5;
    for (const bool cutShort : {true, false}) {
        SCOPED_TRACE(cutShort ? "cut short" : "read failed");
        const int memory = ::memfd_create("ravoth-document", MFD_CLOEXEC);
        ASSERT_GE(memory, 0);
        // Bytes in the front half, a hole behind them.
        const std::string front(bytes / 2, 'p');
        ASSERT_EQ(::write(memory, front.data(), front.size()), static_cast<ssize_t>(front.size()));
        ASSERT_EQ(::ftruncate(memory, static_cast<off_t>(bytes)), 0);
        InputFile file;
        ASSERT_TRUE(file.open(("/proc/self/fd/" + std::to_string(memory)).c_str()));
        std::atomic<bool> changed{false};
        const unsigned char* view = file.map(bytes, &changed);
        ASSERT_NE(view, nullptr);
        int faults = -1;
        if (cutShort) {
            ASSERT_EQ(::ftruncate(memory, static_cast<off_t>(pageBytes)), 0);
        } else {
            faults = static_cast<int>(::syscall(SYS_userfaultfd, O_CLOEXEC));
            uffdio_api api{};
            api.api = UFFD_API;
            api.features = UFFD_FEATURE_SIGBUS;
            uffdio_register hole{};
            hole.range.start = reinterpret_cast<std::uintptr_t>(view) + bytes / 2;
            hole.range.len = bytes / 2;
            hole.mode = UFFDIO_REGISTER_MODE_MISSING;
            if (faults < 0 || ::ioctl(faults, UFFDIO_API, &api) != 0 || ::ioctl(faults, UFFDIO_REGISTER, &hole) != 0) {
                const int error = errno;
                if (faults >= 0) ::close(faults);
                ::close(memory);
                GTEST_SKIP() << "this kernel lets no failed read be made: " << std::strerror(error);
            }
        }
        EXPECT_EQ(view[1], 'p');
        EXPECT_FALSE(changed.load());
        EXPECT_EQ(static_cast<const volatile unsigned char*>(view)[touched], 0);
        EXPECT_EQ(static_cast<const volatile unsigned char*>(view)[bytes - 1], 0);
        EXPECT_TRUE(changed.load());
        file.close();
        EXPECT_EQ(file.readFailed(), !cutShort);
        if (faults >= 0) ::close(faults);
        ::close(memory);
    }
}
#endif

#ifdef __linux__
// Where the system copies nothing from file to file (between file systems
// of two kinds), a JPEG page is sent by it piece by piece: every byte in its
// place across the pieces' seams, and a document that ends before the page
// does fails the file and leaves nothing behind, whatever the view (here a
// block read earlier) still holds.
TEST(OutputFile, PageSentIsExactOrFailsWithNothingPlaced)
{
    struct Case {
        const char* name;
        std::size_t fileBytes;
        bool isWhole;
    };
    constexpr std::size_t mib = std::size_t{1} << 20;
    constexpr std::size_t offset = 777;
    constexpr std::size_t bytes = 9 * mib + 4321;
    const Case cases[] = {
        {"whole, several pieces and a part", offset + bytes + 5, true},
        {"the document ends inside the page", offset + 3 * mib + 7, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testing::TempFolder folder;
        const std::string document = folder.file("Book.pdf");
        // Bytes that hang on every bit of their position, so that a piece
        // shifted by any power of two shows.
        std::string content(std::max(c.fileBytes, offset + bytes), '\0');
        for (std::size_t i = 0; i < content.size(); ++i)
            content[i] = static_cast<char>((std::uint64_t{i} * 0x9E3779B97F4A7C15u) >> 56);
        {
            std::ofstream out(document, std::ios::binary);
            out.write(content.data(), static_cast<std::streamsize>(c.fileBytes));
        }
        InputFile source;
        ASSERT_TRUE(source.open(document.c_str()));
        const std::string page = folder.file("page.jpg");
        bool placed = false;
        {
            OutputFile out;
            ASSERT_TRUE(out.create(page.c_str()));
            refuseSystemCopy(true);
            placed = out.copyFrom(source, offset, content.data() + offset, bytes) && out.close();
            refuseSystemCopy(false);
        }
        EXPECT_EQ(placed, c.isWhole);
        if (c.isWhole) {
            EXPECT_EQ(folder.names(), (std::set<std::string>{"Book.pdf", "page.jpg"}));
            EXPECT_TRUE(testing::readFileBytes(page) == content.substr(offset, bytes));
        } else {
            EXPECT_EQ(folder.names(), std::set<std::string>{"Book.pdf"});
        }
    }
}
#endif

#ifdef _WIN32
// A virus scanner or an indexer holds a file for a moment, the page's old
// file as well as the new one: the page is put in place once it lets go,
// rather than failing at once.
TEST(OutputFile, AFileHeldForAMomentByAnotherProgramIsStillPutInPlace)
{
    testing::TempFolder folder;
    const std::string path = folder.file("page.jpg");
    {
        std::ofstream old(path, std::ios::binary);
        old << "an old page";
    }
    OutputFile out;
    ASSERT_TRUE(out.create(path.c_str()));
    ASSERT_TRUE(out.write("a new page", 10));
    // Held without sharing, as a scanner may.
    const HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    std::thread letGo([held] {
        Sleep(200);
        CloseHandle(held);
    });
    const bool placed = out.close();
    letGo.join();
    EXPECT_TRUE(placed);
    EXPECT_EQ(testing::readFileBytes(path), "a new page");
    EXPECT_EQ(folder.names().size(), 1u);
}
#endif

}  // namespace
}  // namespace ravoth
