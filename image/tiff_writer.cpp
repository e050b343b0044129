#include <tiffio.h>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <limits>

#include "image/encoded_file.h"
#include "platform/growing_block.h"
#include "platform/memory.h"

namespace ravoth {

namespace {

// A classic TIFF addresses at most 4 GiB.
constexpr std::size_t encodedLimitBytes = std::numeric_limits<std::uint32_t>::max();
// Rows go to the encoder in strips of about this many bytes, which bounds
// the library's own work buffers and lets a stop be seen between them.
constexpr std::size_t stripBytes = 256 * 1024;

struct TiffTarget {
    GrowingBlock out{encodedLimitBytes};
    bool outOfRoom = false;
};

tmsize_t readTarget(thandle_t handle, void* buffer, tmsize_t size)
{
    auto* target = static_cast<TiffTarget*>(handle);
    const std::size_t at = target->out.position();
    if (size < 0 || at >= target->out.size()) return 0;
    const std::size_t length = std::min(static_cast<std::size_t>(size), target->out.size() - at);
    std::memcpy(buffer, target->out.data() + at, length);
    target->out.seek(at + length);
    return static_cast<tmsize_t>(length);
}

tmsize_t writeTarget(thandle_t handle, void* data, tmsize_t size)
{
    auto* target = static_cast<TiffTarget*>(handle);
    if (size < 0 || !target->out.write(data, static_cast<std::size_t>(size))) {
        target->outOfRoom = true;
        return -1;
    }
    return size;
}

toff_t seekTarget(thandle_t handle, toff_t offset, int whence)
{
    auto* target = static_cast<TiffTarget*>(handle);
    std::uint64_t base = 0;
    if (whence == SEEK_CUR) base = target->out.position();
    else if (whence == SEEK_END) base = target->out.size();
    const std::uint64_t position = base + offset;
    if (position > encodedLimitBytes) return static_cast<toff_t>(-1);
    target->out.seek(static_cast<std::size_t>(position));
    return position;
}

int closeTarget(thandle_t) { return 0; }
toff_t sizeOfTarget(thandle_t handle) { return static_cast<TiffTarget*>(handle)->out.size(); }
int mapNothing(thandle_t, void**, toff_t*) { return 0; }
void unmapNothing(thandle_t, void*, toff_t) {}

// The library's messages would go to standard error; the caller reports.
int quietHandler(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// A TIFF open on `target`, closed (and freed) when the scope ends.
class TiffHandle {
public:
    explicit TiffHandle(TiffTarget* target)
    {
        TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
        if (!options) return;
        TIFFOpenOptionsSetErrorHandlerExtR(options, quietHandler, nullptr);
        TIFFOpenOptionsSetWarningHandlerExtR(options, quietHandler, nullptr);
        tiff_ = TIFFClientOpenExt("page", "w", target, readTarget, writeTarget, seekTarget, closeTarget,
                                  sizeOfTarget, mapNothing, unmapNothing, options);
        TIFFOpenOptionsFree(options);
    }
    ~TiffHandle()
    {
        if (tiff_) TIFFClose(tiff_);
    }
    TiffHandle(const TiffHandle&) = delete;
    TiffHandle& operator=(const TiffHandle&) = delete;

    TIFF* get() const { return tiff_; }
    // Writes the directory and closes; false when that failed.
    bool finish()
    {
        const bool written = TIFFWriteDirectory(tiff_) == 1;
        TIFFClose(tiff_);
        tiff_ = nullptr;
        return written;
    }

private:
    TIFF* tiff_ = nullptr;
};

std::uint16_t photometricTag(TiffPhotometric photometric)
{
    switch (photometric) {
    case TiffPhotometric::MinIsWhite: return PHOTOMETRIC_MINISWHITE;
    case TiffPhotometric::MinIsBlack: return PHOTOMETRIC_MINISBLACK;
    case TiffPhotometric::Rgb: return PHOTOMETRIC_RGB;
    case TiffPhotometric::Cmyk: return PHOTOMETRIC_SEPARATED;
    }
    return PHOTOMETRIC_MINISBLACK;
}

void setResolution(TIFF* tiff, const Raster& raster)
{
    if (raster.dpiX <= 0 || raster.dpiY <= 0) return;
    TIFFSetField(tiff, TIFFTAG_XRESOLUTION, static_cast<double>(raster.dpiX));
    TIFFSetField(tiff, TIFFTAG_YRESOLUTION, static_cast<double>(raster.dpiY));
    TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
}

// The library takes samples in the host's order and writes the file in it,
// while the raster's 16-bit samples are big-endian.
constexpr bool samplesNeedSwapping(int bitsPerSample)
{
    return bitsPerSample == 16 && std::endian::native == std::endian::little;
}

void swapSamplePairs(const Byte* from, Byte* to, std::size_t bytes)
{
    for (std::size_t i = 0; i + 1 < bytes; i += 2) {
        to[i] = from[i + 1];
        to[i + 1] = from[i];
    }
}

int handOver(TiffTarget& target, PreparedBitmap* file)
{
    file->headerBytes = 0;
    file->pixels = target.out.take(&file->imageBytes);
    return 0;
}

// A TIFF in memory, read through the library.
struct TiffSource {
    const Byte* data = nullptr;
    std::size_t size = 0;
    std::size_t position = 0;
};

tmsize_t readSource(thandle_t handle, void* buffer, tmsize_t size)
{
    auto* source = static_cast<TiffSource*>(handle);
    if (size < 0 || source->position >= source->size) return 0;
    const std::size_t length = std::min(static_cast<std::size_t>(size), source->size - source->position);
    std::memcpy(buffer, source->data + source->position, length);
    source->position += length;
    return static_cast<tmsize_t>(length);
}

tmsize_t writeNothing(thandle_t, void*, tmsize_t) { return -1; }

toff_t seekSource(thandle_t handle, toff_t offset, int whence)
{
    auto* source = static_cast<TiffSource*>(handle);
    std::uint64_t base = 0;
    if (whence == SEEK_CUR) base = source->position;
    else if (whence == SEEK_END) base = source->size;
    const std::uint64_t position = base + offset;
    if (position > source->size) return static_cast<toff_t>(-1);
    source->position = static_cast<std::size_t>(position);
    return position;
}

toff_t sizeOfSource(thandle_t handle) { return static_cast<TiffSource*>(handle)->size; }

}  // namespace

int encodeTiff(const Raster& raster, TiffPhotometric photometric, PreparedBitmap* file, const StopFlags& stops,
               TiffCompression compression)
{
    const int bits = raster.bitsPerSample;
    if ((bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16) || raster.width <= 0 ||
        raster.height <= 0 || raster.samplesPerPixel < 1 || raster.samplesPerPixel > 4)
        return encodeUnsupported;
    if (compression == TiffCompression::Group4 && (bits != 1 || raster.samplesPerPixel != 1))
        return encodeUnsupported;
    TiffTarget target;
    TiffHandle tiff(&target);
    if (!tiff.get()) return encodeNoMemory;
    TIFF* t = tiff.get();
    const std::uint32_t rowsPerStrip =
        static_cast<std::uint32_t>(std::max<std::size_t>(1, stripBytes / std::max<std::size_t>(1, raster.rowBytes)));
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(raster.width));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(raster.height));
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, static_cast<std::uint16_t>(bits));
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, static_cast<std::uint16_t>(raster.samplesPerPixel));
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, photometricTag(photometric));
    if (photometric == TiffPhotometric::Cmyk) TIFFSetField(t, TIFFTAG_INKSET, INKSET_CMYK);
    if (compression == TiffCompression::Group4) {
        TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
        TIFFSetField(t, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB);
    } else {
        TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
        // Neighbouring samples of a scan differ little: their differences
        // pack tighter than the samples.
        if (bits >= 8) TIFFSetField(t, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    }
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
    setResolution(t, raster);
    OwnedBlock<Byte> swapped;
    if (samplesNeedSwapping(bits)) {
        swapped.reset(allocBlock(static_cast<std::size_t>(rowsPerStrip) * raster.rowBytes));
        if (!swapped) return encodeNoMemory;
    }
    std::uint32_t strip = 0;
    for (std::uint32_t row = 0; row < static_cast<std::uint32_t>(raster.height); row += rowsPerStrip, ++strip) {
        if (stops.isRaised()) return encodeStopped;
        const std::uint32_t rows = std::min<std::uint32_t>(rowsPerStrip, static_cast<std::uint32_t>(raster.height) - row);
        // The library takes the rows as they are and only reads them.
        auto* data = const_cast<Byte*>(raster.rows + static_cast<std::size_t>(row) * raster.rowBytes);
        const std::size_t bytes = rows * raster.rowBytes;
        if (swapped) {
            swapSamplePairs(data, swapped.get(), bytes);
            data = swapped.get();
        }
        if (TIFFWriteEncodedStrip(t, strip, data, static_cast<tmsize_t>(bytes)) < 0)
            return target.outOfRoom ? encodeNoMemory : encodeFailed;
    }
    if (!tiff.finish()) return target.outOfRoom ? encodeNoMemory : encodeFailed;
    return handOver(target, file);
}

int wrapFaxInTiff(const FaxData& fax, PreparedBitmap* file)
{
    if (fax.columns <= 0 || fax.rows <= 0 || fax.bytes > encodedLimitBytes / 2) return encodeUnsupported;
    TiffTarget target;
    TiffHandle tiff(&target);
    if (!tiff.get()) return encodeNoMemory;
    TIFF* t = tiff.get();
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(fax.columns));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(fax.rows));
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, photometricTag(fax.photometric));
    TIFFSetField(t, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, static_cast<std::uint32_t>(fax.rows));
    Raster resolution;
    resolution.dpiX = fax.dpiX;
    resolution.dpiY = fax.dpiY;
    setResolution(t, resolution);
    if (fax.k < 0) {
        TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
    } else {
        // PDF's fax data has no end-of-line codes unless it says so; TIFF's
        // Group 3 reads them as the options below describe.
        TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
        std::uint32_t options = 0;
        if (fax.k > 0) options |= GROUP3OPT_2DENCODING;
        if (fax.byteAligned) options |= GROUP3OPT_FILLBITS;
        TIFFSetField(t, TIFFTAG_GROUP3OPTIONS, options);
    }
    auto* data = const_cast<Byte*>(fax.data);
    if (TIFFWriteRawStrip(t, 0, data, static_cast<tmsize_t>(fax.bytes)) < 0)
        return target.outOfRoom ? encodeNoMemory : encodeFailed;
    if (!tiff.finish()) return target.outOfRoom ? encodeNoMemory : encodeFailed;
    return handOver(target, file);
}

int decodeFax(const FaxData& fax, std::size_t limit, OwnedBlock<Byte>* rows, std::size_t* rowBytes)
{
    if (fax.columns <= 0 || fax.rows <= 0) return encodeUnsupported;
    const std::size_t stride = (static_cast<std::size_t>(fax.columns) + 7) / 8;
    if (stride > limit / static_cast<std::size_t>(fax.rows)) return encodeUnsupported;
    const std::size_t total = stride * static_cast<std::size_t>(fax.rows);
    // The library decodes fax data only inside a TIFF: the one a run would
    // write, read back.
    PreparedBitmap wrapped;
    if (const int made = wrapFaxInTiff(fax, &wrapped); made != 0) return made;
    TiffSource source{wrapped.pixels.get(), wrapped.imageBytes, 0};
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options) return encodeNoMemory;
    TIFFOpenOptionsSetErrorHandlerExtR(options, quietHandler, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, quietHandler, nullptr);
    TIFF* tiff = TIFFClientOpenExt("fax", "r", &source, readSource, writeNothing, seekSource, closeTarget,
                                   sizeOfSource, mapNothing, unmapNothing, options);
    TIFFOpenOptionsFree(options);
    if (!tiff) return encodeFailed;
    OwnedBlock<Byte> decoded(allocZeroedBlock(total));
    const tmsize_t read =
        decoded ? TIFFReadEncodedStrip(tiff, 0, decoded.get(), static_cast<tmsize_t>(total)) : tmsize_t{-1};
    TIFFClose(tiff);
    if (!decoded) return encodeNoMemory;
    if (read != static_cast<tmsize_t>(total)) return encodeFailed;
    *rows = std::move(decoded);
    *rowBytes = stride;
    return 0;
}

}  // namespace ravoth
