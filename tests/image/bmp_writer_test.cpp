#include "image/bmp_writer.h"
#include "tests/support/bitmap_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/memory.h"
#include "tests/support/faults.h"

namespace ravoth {
namespace {

using Bytes = std::vector<Byte>;

// A file name of its own in the test's temporary folder, removed afterwards.
class TempFile {
public:
    TempFile()
    {
        static int serial = 0;
        path_ = ::testing::TempDir() + "ravoth_bmp_" + std::to_string(::getpid()) + "_" +
                std::to_string(++serial) + ".bmp";
    }
    ~TempFile() { std::remove(path_.c_str()); }
    const char* path() const { return path_.c_str(); }
    bool exists() const { return std::ifstream(path_).good(); }
    Bytes read() const
    {
        std::ifstream in(path_, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

private:
    std::string path_;
};

// Writes `samples` (exactly that many bytes, so ASan sees any read past
// them) and returns the file's bytes.
Bytes written(const Bytes& samples, int width, int height, int bits, bool isGray)
{
    TempFile file;
    const Bytes exact(samples);
    EXPECT_EQ(testing::writeBitmapFile(file.path(), exact.data(), exact.size(), width, height, bits, isGray),
              0);
    return file.read();
}

std::uint32_t field32(const Bytes& file, std::size_t at)
{
    return file[at] | file[at + 1] << 8 | file[at + 2] << 16 | std::uint32_t{file[at + 3]} << 24;
}

TEST(BmpWriter, OneBitGreyOnePixelThreeRows)
{
    const Bytes expected = {
        0x42, 0x4D, 74, 0, 0, 0, 0, 0, 0, 0, 62, 0, 0, 0,           // file header
        40, 0, 0, 0, 1, 0, 0, 0, 3, 0, 0, 0, 1, 0, 1, 0,             // size, w, h, planes, bits
        0, 0, 0, 0, 12, 0, 0, 0, 0xC4, 0x0E, 0, 0, 0xC4, 0x0E, 0, 0, // compression .. resolution
        0, 0, 0, 0, 0, 0, 0, 0,                                      // colours
        0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x00,              // palette
        0xFF, 0, 0, 0, 0x00, 0, 0, 0, 0x80, 0, 0, 0,                 // bottom row first
    };
    EXPECT_EQ(written({0x80, 0x00, 0xFF}, 1, 3, 1, true), expected);
}

TEST(BmpWriter, TwentyFourBitHeaderAndPadding)
{
    const Bytes oneWide = {
        0x42, 0x4D, 62, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,
        40, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 1, 0, 24, 0,
        0, 0, 0, 0, 8, 0, 0, 0, 0xC4, 0x0E, 0, 0, 0xC4, 0x0E, 0, 0,
        0, 0, 0, 0, 0, 0, 0, 0,
        0x22, 0x22, 0x22, 0, 0x11, 0x11, 0x11, 0,
    };
    EXPECT_EQ(written({0x11, 0x22}, 1, 2, 8, true), oneWide);

    struct Case {
        int width;
        Bytes samples;  // two rows
        std::uint32_t fileSize, imageSize;
        Bytes pixels;
    };
    const Case cases[] = {
        {2, {1, 2, 3, 4}, 70, 16, {3, 3, 3, 4, 4, 4, 0, 0, 1, 1, 1, 2, 2, 2, 0, 0}},
        {3, {1, 2, 3, 4, 5, 6}, 78, 24,
         {4, 4, 4, 5, 5, 5, 6, 6, 6, 0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 0, 0, 0}},
        {4, {1, 2, 3, 4, 5, 6, 7, 8}, 78, 24,
         {5, 5, 5, 6, 6, 6, 7, 7, 7, 8, 8, 8, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.width);
        const Bytes file = written(c.samples, c.width, 2, 8, true);
        ASSERT_EQ(file.size(), c.fileSize);
        EXPECT_TRUE(std::equal(file.begin() + 6, file.begin() + 18, oneWide.begin() + 6));
        EXPECT_EQ(field32(file, 2), c.fileSize);
        EXPECT_EQ(field32(file, 18), static_cast<std::uint32_t>(c.width));
        EXPECT_EQ(field32(file, 34), c.imageSize);
        EXPECT_EQ(Bytes(file.begin() + 54, file.end()), c.pixels);
    }
}

TEST(BmpWriter, OneBitGreyRowsPadToFourBytes)
{
    struct Case {
        int width;
        Bytes samples;  // one row
        Bytes pixels;
    };
    const Case cases[] = {
        {2, {0x40}, {0x40, 0, 0, 0}},
        {3, {0xE0}, {0xE0, 0, 0, 0}},
        {4, {0x5F}, {0x5F, 0, 0, 0}},  // spare low bits are copied as they stand
        {33, {0xAA, 0xBB, 0xCC, 0xDD, 0x80}, {0xAA, 0xBB, 0xCC, 0xDD, 0x80, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.width);
        const Bytes file = written(c.samples, c.width, 1, 1, true);
        ASSERT_EQ(file.size(), 62 + c.pixels.size());
        EXPECT_EQ(field32(file, 34), c.pixels.size());
        EXPECT_EQ(Bytes(file.begin() + 62, file.end()), c.pixels);
    }
}

TEST(BmpWriter, EachConversionScalesItsSamples)
{
    struct Case {
        const char* name;
        bool isGray;
        int bits, width;
        Bytes samples;  // one row
        Bytes pixels;   // blue, green, red, then padding
    };
    const Case cases[] = {
        {"grey 2: 3 1 2 0", true, 2, 4, {0xD8},
         {0xFF, 0xFF, 0xFF, 85, 85, 85, 170, 170, 170, 0, 0, 0}},
        {"grey 4: 8 15", true, 4, 2, {0x8F}, {136, 136, 136, 255, 255, 255, 0, 0}},
        {"grey 8", true, 8, 4, {0, 1, 128, 255},
         {0, 0, 0, 1, 1, 1, 128, 128, 128, 255, 255, 255}},
        {"rgb 1: 101 011", false, 1, 2, {0xAC}, {255, 0, 255, 255, 255, 0, 0, 0}},
        {"rgb 2: 3 1 2, 0 3 1", false, 2, 2, {0xD8, 0xD0}, {170, 85, 255, 85, 255, 0, 0, 0}},
        {"rgb 4: 8 1 15, 2 3 4", false, 4, 2, {0x81, 0xF2, 0x34},
         {255, 17, 136, 68, 51, 34, 0, 0}},
        {"rgb 8", false, 8, 1, {1, 2, 3}, {3, 2, 1, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes file = written(c.samples, c.width, 1, c.bits, c.isGray);
        ASSERT_EQ(file.size(), 54 + c.pixels.size());
        EXPECT_EQ(file[28], 24);
        EXPECT_EQ(Bytes(file.begin() + 54, file.end()), c.pixels);
    }
}

// Eight-bit rows take a five-pixel shuffle where the processor has one and a
// byte loop for the rest of the row: every width up to a few steps of five,
// with distinct bytes, must come out as the pixel-by-pixel rule says.
TEST(BmpWriter, EightBitRowsOfEveryWidth)
{
    const int height = 3;
    for (const bool isGray : {true, false}) {
        for (int width = 1; width <= 40; ++width) {
            SCOPED_TRACE(std::string(isGray ? "grey " : "rgb ") + std::to_string(width));
            const std::size_t components = isGray ? 1 : 3;
            const std::size_t rowBytes = components * width;
            Bytes samples(rowBytes * height);
            for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<Byte>(i * 7 + 1);
            const std::size_t outputRow = (3 * width + 3) / 4 * 4;
            Bytes expected(outputRow * height, 0);
            for (int y = 0; y < height; ++y) {
                const Byte* in = samples.data() + y * rowBytes;
                Byte* out = expected.data() + (height - 1 - y) * outputRow;
                for (int x = 0; x < width; ++x) {
                    out[3 * x] = isGray ? in[x] : in[3 * x + 2];
                    out[3 * x + 1] = isGray ? in[x] : in[3 * x + 1];
                    out[3 * x + 2] = isGray ? in[x] : in[3 * x];
                }
            }
            const Bytes file = written(samples, width, height, 8, isGray);
            ASSERT_EQ(file.size(), 54 + expected.size());
            EXPECT_EQ(Bytes(file.begin() + 54, file.end()), expected);
        }
    }
}

TEST(BmpWriter, SamplesPastTheCountReadAsZero)
{
    // Two rows of two grey pixels with only three sample bytes.
    const Bytes grey = written({9, 8, 7}, 2, 2, 8, true);
    ASSERT_EQ(grey.size(), 70u);
    EXPECT_EQ(Bytes(grey.begin() + 54, grey.end()),
              (Bytes{7, 7, 7, 0, 0, 0, 0, 0, 9, 9, 9, 8, 8, 8, 0, 0}));
    // A 9-pixel 1-bit row needs two bytes; the second row has one.
    const Bytes bits = written({0xAA, 0x80, 0x55}, 9, 2, 1, true);
    EXPECT_EQ(Bytes(bits.begin() + 62, bits.end()), (Bytes{0x55, 0, 0, 0, 0xAA, 0x80, 0, 0}));
    // No samples at all: a black picture.
    TempFile file;
    ASSERT_EQ(testing::writeBitmapFile(file.path(), nullptr, 0, 1, 1, 4, false), 0);
    const Bytes empty = file.read();
    EXPECT_EQ(Bytes(empty.begin() + 54, empty.end()), (Bytes{0, 0, 0, 0}));
}

TEST(BmpWriter, NoBlockNoFile)
{
    struct Case {
        bool isGray;
        int bits, width, height, code;
    };
    const Case cases[] = {
        {true, 1, 1, 1, -1},  {true, 2, 1, 1, -2},  {true, 4, 1, 1, -3},  {true, 8, 1, 1, -4},
        {false, 1, 1, 1, -5}, {false, 2, 1, 1, -6}, {false, 4, 1, 1, -7}, {false, 8, 1, 1, -8},
    };
    const Bytes samples(3, 0xFF);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        TempFile file;
        failAllocationAt(1);
        EXPECT_EQ(testing::writeBitmapFile(file.path(), samples.data(), samples.size(), c.width, c.height,
                               c.bits, c.isGray),
                  c.code);
        failAllocationAt(0);
        EXPECT_FALSE(file.exists());
    }
}

TEST(BmpWriter, SizesABitmapCannotHold)
{
    struct Case {
        const char* name;
        bool isGray;
        int bits, width, height, code;
    };
    const Case cases[] = {
        {"negative width", true, 8, -1, 1, -4},
        {"negative height", false, 8, 1, -1, -8},
        {"1-bit image over 4 GiB", true, 1, 0x7FFFFFFF, 0x7FFFFFFF, -1},
        {"24-bit image over 4 GiB", false, 2, 0x7FFFFFFF, 2, -6},
        {"row just past the limit", true, 4, 0x55555555, 1, -3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFile file;
        resetAllocationCount();
        EXPECT_EQ(testing::writeBitmapFile(file.path(), nullptr, 0, c.width, c.height, c.bits, c.isGray),
                  c.code);
        EXPECT_EQ(allocationsAttempted(), 0);
        EXPECT_FALSE(file.exists());
    }
}

TEST(BmpWriter, FileErrors)
{
    const Bytes samples = {1, 2, 3};
    const std::string missing = ::testing::TempDir() + "ravoth_no_such_folder/x.bmp";
    EXPECT_EQ(testing::writeBitmapFile(missing.c_str(), samples.data(), samples.size(), 1, 1, 8, false), -9);

    for (int bits : {0, 3, 16}) {
        TempFile file;
        EXPECT_EQ(testing::writeBitmapFile(file.path(), samples.data(), samples.size(), 1, 1, bits, true),
                  -10);
        EXPECT_FALSE(file.exists());
    }

    // A small file reaches the disk at close: its flush, then the close.
    // 200 x 200 grey is 120000 bytes, more than one buffer: a write fails.
    const Bytes big(40000, 7);
    struct Case {
        const Bytes* samples;
        int size;
        long long failingRequest;
    };
    const Case cases[] = {{&samples, 1, 1}, {&samples, 1, 2}, {&big, 200, 1},
                          {&big, 200, 2}, {&big, 200, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size * 10 + c.failingRequest);
        TempFile file;
        failWriteAt(c.failingRequest);
        EXPECT_EQ(testing::writeBitmapFile(file.path(), c.samples->data(), c.samples->size(), c.size, c.size,
                               8, true),
                  -11);
        failWriteAt(0);
        EXPECT_FALSE(file.exists());
    }
    // A failure due only after the last request changes nothing.
    TempFile file;
    failWriteAt(1000);
    EXPECT_EQ(testing::writeBitmapFile(file.path(), big.data(), big.size(), 200, 200, 8, true), 0);
    failWriteAt(0);
    EXPECT_EQ(file.read().size(), 120054u);
}

}  // namespace
}  // namespace ravoth
