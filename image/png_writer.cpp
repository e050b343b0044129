#include <png.h>
#include <zlib.h>

#include <csetjmp>

#include "image/encoded_file.h"
#include "platform/growing_block.h"

namespace ravoth {

namespace {

// Far above any page: what a PNG of it may grow to in memory.
constexpr std::size_t encodedLimitBytes = std::size_t{4} << 30;

struct PngTarget {
    GrowingBlock out{encodedLimitBytes};
    bool outOfRoom = false;
    const StopFlags* stops = nullptr;
    bool stopped = false;
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
// object with a destructor, so that the jump skips none.
bool encodeRows(const Raster& raster, PngTarget* target)
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
    if (raster.bitsPerSample >= 8) {
        // Scans are mostly paper: after the Up filter, runs of zeros that
        // run-length matching at the fastest level packs to half what the
        // usual matching there gives, in less time; a photograph comes out
        // a sixth larger than with the usual matching.
        png_set_filter(png, 0, PNG_FILTER_UP);
        png_set_compression_level(png, 1);
        png_set_compression_strategy(png, Z_RLE);
    } else {
        // Packed samples take no filter, as PNG advises; the fastest level
        // packs a page of text within a twentieth of the usual one, in half
        // its time.
        png_set_filter(png, 0, PNG_FILTER_NONE);
        png_set_compression_level(png, 1);
    }
    png_write_info(png, info);
    for (std::int32_t y = 0; y < raster.height; ++y) {
        if ((y & 63) == 0 && target->stops->isRaised()) {
            target->stopped = true;
            png_destroy_write_struct(&png, &info);
            return false;
        }
        png_write_row(png, raster.rows + static_cast<std::size_t>(y) * raster.rowBytes);
    }
    png_write_end(png, info);
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
    PngTarget target;
    target.stops = &stops;
    if (!encodeRows(raster, &target)) {
        if (target.stopped) return encodeStopped;
        return target.outOfRoom ? encodeNoMemory : encodeFailed;
    }
    file->headerBytes = 0;
    file->pixels = target.out.take(&file->imageBytes);
    return 0;
}

}  // namespace ravoth
