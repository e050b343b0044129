#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "job/extraction.h"
#include "platform/file.h"
#include "platform/text.h"
#include "platform/memory.h"
#include "tests/fixture/pdf_builder.h"
#include "tests/support/faults.h"
#include "tests/support/temp_folder.h"

namespace ravoth {
namespace {

using testing::readFileBytes;
using testing::TempFolder;

TEST(GlobalMemoryBlocks, AreFixedBlocksAndZeroedWhereAsked)
{
    for (const std::size_t bytes : {std::size_t{0}, std::size_t{1}, std::size_t{4096}, std::size_t{1} << 20}) {
        SCOPED_TRACE(bytes);
        OwnedBlock<> plain(allocBlock(bytes));
        OwnedBlock<> zeroed(allocZeroedBlock(bytes));
        ASSERT_TRUE(plain && zeroed);
        EXPECT_NE(plain.get(), zeroed.get());
        // A fixed block is its own handle.
        EXPECT_EQ(GlobalHandle(plain.get()), static_cast<HGLOBAL>(plain.get()));
        EXPECT_GE(GlobalSize(zeroed.get()), bytes);
        std::size_t nonZero = 0;
        for (std::size_t i = 0; i < bytes; ++i) nonZero += zeroed.get()[i] != 0;
        EXPECT_EQ(nonZero, 0u);
    }
}

std::string pattern(std::size_t bytes)
{
    std::string out(bytes, '\0');
    for (std::size_t i = 0; i < bytes; ++i) out[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return out;
}

// Sizes around the 64 KiB write buffer, written in one piece and byte by byte.
TEST(Files, WrittenBytesReadBackWhole)
{
    TempFolder folder;
    for (const std::size_t bytes : {0u, 1u, 65535u, 65536u, 65537u, 200000u}) {
        for (const bool byteByByte : {false, true}) {
            SCOPED_TRACE(std::to_string(bytes) + (byteByByte ? " byte by byte" : " at once"));
            const std::string path = folder.file("out.bin");
            const std::string data = pattern(bytes);
            OutputFile out;
            ASSERT_TRUE(out.create(path.c_str()));
            bool written = true;
            if (byteByByte)
                for (const char c : data) written = out.writeByte(static_cast<unsigned char>(c)) && written;
            else
                written = out.write(data.data(), data.size());
            EXPECT_TRUE(written);
            EXPECT_TRUE(out.close());

            InputFile in;
            ASSERT_TRUE(in.open(path.c_str()));
            EXPECT_EQ(in.length(), static_cast<std::int64_t>(bytes));
            std::string back(bytes + 1, '\x5A');
            EXPECT_EQ(in.readAll(reinterpret_cast<unsigned char*>(back.data()), bytes + 1), bytes);
            back.resize(bytes);
            EXPECT_TRUE(back == data);
        }
    }
}

TEST(Files, CreateReplacesAndDeleteRemoves)
{
    TempFolder folder;
    const std::string path = folder.file("page.jpg");
    ASSERT_TRUE(fixture::writeFile(path, "old content that is longer"));
    OutputFile out;
    ASSERT_TRUE(out.create(path.c_str()));
    ASSERT_TRUE(out.write("new", 3));
    ASSERT_TRUE(out.close());
    EXPECT_EQ(readFileBytes(path), "new");
    EXPECT_TRUE(deleteFile(path.c_str()));
    EXPECT_FALSE(deleteFile(path.c_str()));
    EXPECT_FALSE(canOpenForReading(path.c_str()));
}

TEST(Files, OnlyFilesOnDiskOpen)
{
    TempFolder folder;
    const std::string file = folder.file("Book.pdf");
    ASSERT_TRUE(fixture::writeFile(file, "%PDF"));
    EXPECT_TRUE(canOpenForReading(file.c_str()));
    EXPECT_FALSE(canOpenForReading(folder.path().c_str()));
    EXPECT_FALSE(canOpenForReading(folder.file("missing.pdf").c_str()));

    // Device names reach a device, not a file in the folder, with or without
    // an extension; what went there would count as a page written.
    for (const std::string name : {"NUL", "nul.bmp", "CON.jpg", "aux"}) {
        OutputFile out;
        EXPECT_FALSE(out.create(folder.file(name).c_str())) << name;
    }
    OutputFile inMissingFolder;
    EXPECT_FALSE(inMissingFolder.create(folder.file("no such folder/x.bmp").c_str()));
}

TEST(Files, InjectedWriteFailuresAreReported)
{
    TempFolder folder;
    const std::string path = folder.file("out.bin");
    const std::string data = pattern(70000);
    {
        failWriteAt(1);  // the flush of the full buffer
        OutputFile out;
        ASSERT_TRUE(out.create(path.c_str()));
        EXPECT_FALSE(out.write(data.data(), data.size()));
        EXPECT_FALSE(out.close());
    }
    {
        failWriteAt(2);  // the close, after the last flush
        OutputFile out;
        ASSERT_TRUE(out.create(path.c_str()));
        EXPECT_TRUE(out.write(data.data(), 10));
        EXPECT_FALSE(out.close());
    }
    failWriteAt(0);
}

// Windows refuses to cut a mapped file short: a run whose document someone
// tries to truncate goes on to the end with every page.
TEST(Files, MappedDocumentCannotBeCutShortUnderTheRun)
{
    TempFolder folder;
    fixture::MeskerDocument document;
    for (int k = 0; k < 4; ++k) document.pages.push_back(fixture::dctPage(16, 16, false, static_cast<unsigned>(k)));
    const fixture::BuiltPdf built = fixture::buildMesker(document);
    const std::string pdf = folder.file("Book.pdf");
    ASSERT_TRUE(fixture::writeFile(pdf, built.bytes));
    ExtractionRun run;
    bool refused = false;
    run.setProgress([&](const PageProgress& progress) {
        if (progress.pagesDone != 1) return;
        const HANDLE handle = CreateFileW(toWide(pdf).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            refused = true;
            return;
        }
        LARGE_INTEGER size;
        size.QuadPart = 100;
        refused = !SetFilePointerEx(handle, size, nullptr, FILE_BEGIN) || !SetEndOfFile(handle);
        CloseHandle(handle);
    });
    EXPECT_EQ(run.run(pdf.c_str(), 0, 0, pdf.c_str()), 0);
    EXPECT_TRUE(refused);
    EXPECT_EQ(readFileBytes(folder.file("Book-4.jpg")), built.imageStreams[3]);
    EXPECT_EQ(readFileBytes(pdf), built.bytes);
}

}  // namespace
}  // namespace ravoth
