#include <libdeflate.h>
#include <png.h>
#include <zlib.h>

#include <csetjmp>
#include <cstring>
#include <limits>

#include "image/encoded_file.h"
#include "platform/growing_block.h"

namespace ravoth {

namespace {

// Far above any page: what a PNG of it may grow to in memory.
constexpr std::size_t encodedLimitBytes = std::size_t{4} << 30;

// Rows are filtered a slice at a time into a buffer that stays in the
// cache while zlib reads it; the stop flags are looked at between slices.
constexpr std::size_t sliceTargetBytes = 64 * 1024;
constexpr std::size_t sliceMostRows = 64;

// Compressed bytes go to libpng an IDAT chunk at a time; a page of text or
// a near-white scan fits in one. Well below the 4 MiB from which the core
// keeps freed blocks for the next page: a request that large and fitting
// none of them would give back those kept for the page's samples.
constexpr std::size_t idatChunkBytes = 256 * 1024;

// PNG's filter types.
constexpr Byte filterNone = 0;
constexpr Byte filterUp = 2;

// zlib's memory comes from our blocks, so that it is counted with the rest
// and tests can make it fail.
voidpf allocForZlib(voidpf, uInt items, uInt size)
{
    if (size != 0 && items > std::numeric_limits<std::size_t>::max() / size) return Z_NULL;
    return allocBlock(std::size_t{items} * size);
}

void freeForZlib(voidpf, voidpf block) { freeBlock(block); }

// PNG's Up filter: each byte less the one above it. The bytes go through
// small local arrays of a fixed length, which the compiler turns into vector
// code even at -O2, where it neither vectorises a loop of unknown length nor
// checks whether the rows overlap the output.
void subtractRowAbove(const Byte* row, const Byte* above, Byte* out, std::size_t bytes)
{
    constexpr std::size_t lanes = 32;
    std::size_t i = 0;
    for (; bytes - i >= lanes; i += lanes) {
        Byte difference[lanes];
        Byte up[lanes];
        std::memcpy(difference, row + i, lanes);
        std::memcpy(up, above + i, lanes);
        for (std::size_t k = 0; k < lanes; ++k) difference[k] = static_cast<Byte>(difference[k] - up[k]);
        std::memcpy(out + i, difference, lanes);
    }
    for (; i < bytes; ++i) out[i] = static_cast<Byte>(row[i] - above[i]);
}

// The zlib stream of IDAT data: the raster's rows filtered, deflated, and
// framed as zlib frames them, handed out a chunk at a time. zlib is left to
// write a raw stream because its own checksum is several times slower than
// libdeflate's. On the 50 near-white 24-bit pages of the benchmark the
// PNG run took 1.42 times the BMP run this way; 1.74 times with zlib
// framing the stream and summing it; 2.18 times with libpng filtering the
// rows and driving zlib itself; 2.3 times and more with libdeflate
// compressing each page whole (levels 1 to 3, with a filtered copy of the
// page in memory). The frame is the format's two bytes and its checksum,
// which the read-back tests check through libpng (a wrong sum fails them).
class IdatStream {
public:
    IdatStream(const Raster& raster, const StopFlags& stops)
        : raster_(raster),
          stops_(stops),
          rowBytes_((static_cast<std::size_t>(raster.width) * static_cast<std::size_t>(raster.samplesPerPixel) *
                         static_cast<std::size_t>(raster.bitsPerSample) +
                     7) /
                    8),
          filteredRowBytes_(rowBytes_ + 1)
    {
    }
    IdatStream(const IdatStream&) = delete;  // zlib's state points back at the stream
    IdatStream& operator=(const IdatStream&) = delete;
    ~IdatStream()
    {
        if (isDeflating_) deflateEnd(&stream_);
    }

    // The next chunk of compressed bytes into *data and *bytes; 0 bytes once
    // the stream is whole. False on a failure, whose code failure() gives.
    bool next(const Byte** data, std::size_t* bytes)
    {
        if (!isDeflating_ && !start()) return false;
        Byte* const begin = chunk_.get();
        stream_.next_out = begin;
        stream_.avail_out = static_cast<uInt>(idatChunkBytes);
        if (!isHeaderWritten_) {
            // Deflate, a 32 KiB window, the fastest level; FCHECK makes the
            // pair a multiple of 31.
            begin[0] = 0x78;
            begin[1] = 0x01;
            stream_.next_out += 2;
            stream_.avail_out -= 2;
            isHeaderWritten_ = true;
        }
        while (!isDeflated_ && stream_.avail_out != 0) {
            if (stream_.avail_in == 0 && nextRow_ < raster_.height) {
                if (stops_.isRaised()) return fail(encodeStopped);
                filterSlice();
            }
            const int result = deflate(&stream_, nextRow_ < raster_.height ? Z_NO_FLUSH : Z_FINISH);
            if (result == Z_STREAM_END) {
                isDeflated_ = true;
            } else if (result != Z_OK) {
                return fail(encodeFailed);
            }
        }
        if (isDeflated_ && !isTrailerWritten_ && stream_.avail_out >= 4) {
            // zlib's trailer: the Adler-32 of the filtered rows, big-endian.
            for (int shift = 24; shift >= 0; shift -= 8) *stream_.next_out++ = static_cast<Byte>(adler_ >> shift);
            stream_.avail_out -= 4;
            isTrailerWritten_ = true;
        }
        *data = begin;
        *bytes = static_cast<std::size_t>(stream_.next_out - begin);
        return true;
    }

    int failure() const { return failure_; }

private:
    bool start()
    {
        if (filteredRowBytes_ > std::numeric_limits<uInt>::max()) return fail(encodeUnsupported);
        const std::size_t rowsFitting = sliceTargetBytes / filteredRowBytes_;
        sliceRows_ = rowsFitting == 0 ? 1 : rowsFitting < sliceMostRows ? rowsFitting : sliceMostRows;
        slice_.reset(allocBlock(sliceRows_ * filteredRowBytes_));
        chunk_.reset(allocBlock(idatChunkBytes));
        if (!slice_ || !chunk_) return fail(encodeNoMemory);
        stream_.zalloc = allocForZlib;
        stream_.zfree = freeForZlib;
        stream_.opaque = Z_NULL;
        // Samples of 8 and 16 bits are mostly paper in a scan: after the Up
        // filter, runs of zeros that run-length matching at the fastest level
        // packs to half what the usual matching there gives, in less time; a
        // photograph comes out a sixth larger than with the usual matching.
        // Packed samples take no filter, as PNG advises, and the usual
        // matching: a blank row or a line of glyphs repeats the row above,
        // which run-length matching cannot find. A 2480 x 3508 page of
        // glyph-like marks in lines packs to 110 KB against 167 KB, in the
        // same 4 to 5 ms; only a page of random bytes in bands favours
        // run-length matching (246 KB in 6 ms against 284 KB in 10 ms), and
        // text is what these pages hold.
        const int strategy = raster_.bitsPerSample >= 8 ? Z_RLE : Z_DEFAULT_STRATEGY;
        const int result = deflateInit2(&stream_, 1, Z_DEFLATED, -15, 8, strategy);
        if (result != Z_OK) return fail(result == Z_MEM_ERROR ? encodeNoMemory : encodeFailed);
        isDeflating_ = true;
        return true;
    }

    // The next slice of rows, each its filter type and its filtered bytes,
    // as zlib's input.
    void filterSlice()
    {
        const std::size_t rowsLeft = static_cast<std::size_t>(raster_.height - nextRow_);
        const std::size_t rows = rowsLeft < sliceRows_ ? rowsLeft : sliceRows_;
        Byte* out = slice_.get();
        for (std::size_t k = 0; k < rows; ++k, ++nextRow_, out += filteredRowBytes_) {
            const Byte* row = raster_.rows + static_cast<std::size_t>(nextRow_) * raster_.rowBytes;
            if (raster_.bitsPerSample < 8) {
                out[0] = filterNone;
                std::memcpy(out + 1, row, rowBytes_);
            } else if (nextRow_ == 0) {
                // Up over the first row: the row above counts as zeros.
                out[0] = filterUp;
                std::memcpy(out + 1, row, rowBytes_);
            } else {
                out[0] = filterUp;
                subtractRowAbove(row, row - raster_.rowBytes, out + 1, rowBytes_);
            }
        }
        const std::size_t bytes = rows * filteredRowBytes_;
        adler_ = libdeflate_adler32(adler_, slice_.get(), bytes);
        stream_.next_in = slice_.get();
        stream_.avail_in = static_cast<uInt>(bytes);
    }

    bool fail(int code)
    {
        failure_ = code;
        return false;
    }

    const Raster& raster_;
    const StopFlags& stops_;
    const std::size_t rowBytes_;
    const std::size_t filteredRowBytes_;
    std::size_t sliceRows_ = 0;
    OwnedBlock<> slice_;
    OwnedBlock<> chunk_;
    z_stream stream_{};
    bool isDeflating_ = false;
    bool isHeaderWritten_ = false;
    bool isDeflated_ = false;
    bool isTrailerWritten_ = false;
    std::int32_t nextRow_ = 0;
    std::uint32_t adler_ = 1;
    int failure_ = 0;
};

struct PngTarget {
    GrowingBlock out{encodedLimitBytes};
    bool outOfRoom = false;
};

void writeBytes(png_structp png, png_bytep data, png_size_t length)
{
    auto* target = static_cast<PngTarget*>(png_get_io_ptr(png));
    if (!target->out.write(data, length)) {
        target->outOfRoom = true;
        png_error(png, "out of room");
    }
}

void flushNothing(png_structp) {}

void quietError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void quietWarning(png_structp, png_const_charp) {}

// Everything libpng may jump out of lives in this function, which holds no
// object with a destructor, so that the jump skips none. libpng writes the
// chunks, their lengths and CRCs; the IDAT data are the stream's. The
// struct is destroyed without png_write_end: past the image it would write
// only what the info holds for after it, here nothing, and IEND.
bool writeChunks(const Raster& raster, IdatStream* idat, PngTarget* target)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, quietError, quietWarning);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, info ? &info : nullptr);
        return false;
    }
    png_set_write_fn(png, target, writeBytes, flushNothing);
    png_set_IHDR(png, info, static_cast<png_uint_32>(raster.width), static_cast<png_uint_32>(raster.height),
                 raster.bitsPerSample, raster.samplesPerPixel == 3 ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (raster.dpiX > 0 && raster.dpiY > 0) {
        // pHYs counts pixels per metre.
        png_set_pHYs(png, info, static_cast<png_uint_32>(raster.dpiX / 0.0254 + 0.5),
                     static_cast<png_uint_32>(raster.dpiY / 0.0254 + 0.5), PNG_RESOLUTION_METER);
    }
    png_write_info(png, info);
    for (;;) {
        const Byte* data = nullptr;
        std::size_t bytes = 0;
        if (!idat->next(&data, &bytes)) {
            png_destroy_write_struct(&png, &info);
            return false;
        }
        if (bytes == 0) break;
        png_write_chunk(png, reinterpret_cast<png_const_bytep>("IDAT"), data, bytes);
    }
    png_write_chunk(png, reinterpret_cast<png_const_bytep>("IEND"), nullptr, 0);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

int encodePng(const Raster& raster, PreparedBitmap* file, const StopFlags& stops)
{
    const int bits = raster.bitsPerSample;
    const bool depthFits = bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16;
    if (!depthFits || (raster.samplesPerPixel != 1 && raster.samplesPerPixel != 3) ||
        (raster.samplesPerPixel == 3 && bits < 8) || raster.width <= 0 || raster.height <= 0)
        return encodeUnsupported;
    IdatStream idat(raster, stops);
    PngTarget target;
    if (!writeChunks(raster, &idat, &target)) {
        if (idat.failure() != 0) return idat.failure();
        return target.outOfRoom ? encodeNoMemory : encodeFailed;
    }
    file->headerBytes = 0;
    file->pixels = target.out.take(&file->imageBytes);
    return 0;
}

}  // namespace ravoth
