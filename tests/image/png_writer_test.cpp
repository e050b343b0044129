// PNG pages of more than one slice of rows and more than one IDAT chunk,
// read back through libpng; and every allocation the encoder makes failing
// in turn.
#include <gtest/gtest.h>
#include <png.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "image/encoded_file.h"
#include "platform/memory.h"
#include "tests/support/faults.h"

namespace ravoth {
namespace {

using Bytes = std::vector<Byte>;

// Samples that compress poorly and differ from the row above everywhere,
// with `padding` bytes after each row that are not the picture's.
struct Samples {
    Bytes bytes;
    Raster raster;
};

Samples noisyRaster(int bits, int samplesPerPixel, int width, int height, std::size_t padding)
{
    Samples s;
    const std::size_t rowBytes =
        (static_cast<std::size_t>(width) * static_cast<std::size_t>(samplesPerPixel * bits) + 7) / 8;
    s.bytes.resize((rowBytes + padding) * static_cast<std::size_t>(height));
    std::uint32_t state = 2024;
    for (Byte& b : s.bytes) {
        state = state * 1103515245u + 12345u;
        b = static_cast<Byte>(state >> 24);
    }
    s.raster.rows = s.bytes.data();
    s.raster.rowBytes = rowBytes + padding;
    s.raster.width = width;
    s.raster.height = height;
    s.raster.bitsPerSample = bits;
    s.raster.samplesPerPixel = samplesPerPixel;
    return s;
}

// The names of the file's chunks in order, walked by their lengths.
std::vector<std::string> chunkNames(const Byte* file, std::size_t bytes)
{
    std::vector<std::string> names;
    std::size_t at = 8;
    while (bytes - at >= 12) {
        const std::size_t length = std::size_t{file[at]} << 24 | std::size_t{file[at + 1]} << 16 |
                                   std::size_t{file[at + 2]} << 8 | file[at + 3];
        names.emplace_back(reinterpret_cast<const char*>(file + at + 4), 4);
        if (bytes - at - 12 < length) break;
        at += 12 + length;
    }
    return names;
}

// The rows libpng reads from the file, each without padding; empty when
// libpng refuses it (a chunk's CRC, the zlib stream or its checksum).
Bytes decodedRows(const Byte* file, std::size_t bytes)
{
    struct Source {
        const Byte* next;
        std::size_t left;
    } source{file, bytes};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    Bytes rows;
    if (setjmp(png_jmpbuf(png)) == 0) {
        png_set_read_fn(png, &source, [](png_structp p, png_bytep out, png_size_t length) {
            auto* from = static_cast<Source*>(png_get_io_ptr(p));
            if (length > from->left) png_error(p, "file cut short");
            std::memcpy(out, from->next, length);
            from->next += length;
            from->left -= length;
        });
        png_read_info(png, info);
        const std::size_t rowBytes = png_get_rowbytes(png, info);
        const png_uint_32 height = png_get_image_height(png, info);
        rows.resize(rowBytes * height);
        for (png_uint_32 y = 0; y < height; ++y) png_read_row(png, rows.data() + y * rowBytes, nullptr);
        png_read_end(png, nullptr);
    } else {
        rows.clear();
    }
    png_destroy_read_struct(&png, &info, nullptr);
    return rows;
}

Bytes unpadded(const Samples& s, std::size_t padding)
{
    Bytes rows;
    const std::size_t rowBytes = s.raster.rowBytes - padding;
    for (std::int32_t y = 0; y < s.raster.height; ++y) {
        const Byte* row = s.bytes.data() + static_cast<std::size_t>(y) * s.raster.rowBytes;
        rows.insert(rows.end(), row, row + rowBytes);
    }
    return rows;
}

TEST(PngWriter, RowsAcrossSlicesAndChunksComeBackAsTheyWere)
{
    struct Case {
        const char* name;
        int bits, samplesPerPixel, width, height;
        std::size_t padding;
    };
    // Each compresses to several hundred kilobytes: two IDAT chunks or more.
    const Case cases[] = {
        {"RGB, many slices of rows", 8, 3, 301, 700, 0},
        {"16-bit grey, padded rows", 16, 1, 257, 900, 5},
        {"1-bit, padded rows", 1, 1, 2000, 3000, 3},
        {"RGB, a row wider than a slice", 8, 3, 30000, 9, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Samples s = noisyRaster(c.bits, c.samplesPerPixel, c.width, c.height, c.padding);
        PreparedBitmap file;
        ASSERT_EQ(encodePng(s.raster, &file), 0);
        EXPECT_EQ(file.headerBytes, 0u);
        std::vector<std::string> names = chunkNames(file.pixels.get(), file.imageBytes);
        ASSERT_GE(names.size(), 4u);
        EXPECT_EQ(names.front(), "IHDR");
        EXPECT_EQ(names.back(), "IEND");
        EXPECT_EQ(std::vector<std::string>(names.begin() + 1, names.end() - 1),
                  std::vector<std::string>(names.size() - 2, "IDAT"));
        EXPECT_TRUE(decodedRows(file.pixels.get(), file.imageBytes) == unpadded(s, c.padding));
    }
}

// The file's block, libpng's output growing it, the slice buffer, the chunk
// buffer and zlib's memory: each failing ends the encoding with no memory
// and no block left.
TEST(PngWriter, EachAllocationFailureMeansNoMemoryAndReleasesAll)
{
    const Samples s = noisyRaster(8, 3, 301, 700, 0);
    int failures = 0;
    for (long long n = 1;; ++n) {
        SCOPED_TRACE(n);
        const long long before = liveBlockCount();
        PreparedBitmap file;
        failAllocationAt(n);
        const int code = encodePng(s.raster, &file);
        failAllocationAt(0);
        if (code == 0) break;
        ++failures;
        EXPECT_EQ(code, encodeNoMemory);
        EXPECT_FALSE(file.pixels);
        EXPECT_EQ(liveBlockCount(), before);
        ASSERT_LT(n, 100);
    }
    // At least the file's block, the two buffers and zlib's state.
    EXPECT_GE(failures, 4);
}

}  // namespace
}  // namespace ravoth
