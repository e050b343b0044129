#include "image/page_format.h"

#include <cmath>
#include <cstring>

#include "platform/memory.h"

namespace ravoth {

namespace {

constexpr std::string_view formatNames[] = {"bmp", "png", "tiff"};

// Beyond this no scanner goes: a tiny page box is no measure of the image.
constexpr double largestDpi = 1000000;

std::size_t rowBytesOf(const PageSamples& samples, std::size_t components, std::int32_t bits)
{
    return (static_cast<std::size_t>(samples.width) * components * static_cast<std::size_t>(bits) + 7) / 8;
}

// The samples in a block of whole rows, padded with zeros where the caller
// has fewer bytes (as the bitmap reads them); null when none can be had.
OwnedBlock<Byte> wholeRows(const PageSamples& samples, std::size_t rowBytes)
{
    const std::size_t total = rowBytes * static_cast<std::size_t>(samples.height);
    OwnedBlock<Byte> block(allocZeroedBlock(total));
    if (block) std::memcpy(block.get(), samples.data, samples.bytes < total ? samples.bytes : total);
    return block;
}

// RGB of 1, 2 or 4 bits onto 8, each sample times 255 / (2^bits - 1), as
// the bitmap writer stretches it.
OwnedBlock<Byte> stretchedRgb(const PageSamples& samples, const Byte* rows, std::size_t rowBytes)
{
    const std::size_t width = static_cast<std::size_t>(samples.width);
    const std::size_t outRow = 3 * width;
    OwnedBlock<Byte> out(allocBlock(outRow * static_cast<std::size_t>(samples.height)));
    if (!out) return out;
    const int bits = samples.bits;
    const unsigned mask = (1u << bits) - 1;
    const unsigned scale = 255u / mask;
    for (std::size_t y = 0; y < static_cast<std::size_t>(samples.height); ++y) {
        const Byte* row = rows + y * rowBytes;
        Byte* target = out.get() + y * outRow;
        for (std::size_t k = 0; k < outRow; ++k) {
            const std::size_t bit = k * static_cast<std::size_t>(bits);
            target[k] = static_cast<Byte>(((row[bit / 8] >> (8 - bits - bit % 8)) & mask) * scale);
        }
    }
    return out;
}

}  // namespace

std::string_view formatName(OutputFormat format) { return formatNames[static_cast<int>(format)]; }

std::optional<OutputFormat> formatNamed(std::string_view name)
{
    for (int k = 0; k < 3; ++k)
        if (formatNames[k] == name) return static_cast<OutputFormat>(k);
    return std::nullopt;
}

std::int32_t dotsPerInch(std::int32_t pixels, double points)
{
    if (pixels <= 0 || !(points > 0)) return 0;
    const double dpi = std::round(pixels * 72.0 / points);
    return dpi >= 1 && dpi <= largestDpi ? static_cast<std::int32_t>(dpi) : 0;
}

int encodePageSamples(OutputFormat format, const PageSamples& samples, PreparedBitmap* out,
                      std::string_view* extension, const StopFlags& stops)
{
    if (format == OutputFormat::Bmp) {
        *extension = ".bmp";
        return prepareBitmap(samples.data, samples.bytes, samples.width, samples.height, samples.bits, samples.gray,
                             out, stops);
    }
    *extension = format == OutputFormat::Png ? ".png" : ".tif";
    const int bits = samples.bits;
    if ((bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16) || samples.width <= 0 || samples.height <= 0)
        return encodeUnsupported;
    const std::size_t components = samples.gray ? 1 : 3;
    const std::size_t rowBytes = rowBytesOf(samples, components, bits);
    if (rowBytes > std::size_t{0xFFFFFFFF} / static_cast<std::size_t>(samples.height)) return encodeUnsupported;

    Raster raster;
    raster.width = samples.width;
    raster.height = samples.height;
    raster.bitsPerSample = bits;
    raster.samplesPerPixel = static_cast<std::int32_t>(components);
    raster.rowBytes = rowBytes;
    raster.rows = samples.data;
    raster.dpiX = samples.dpiX;
    raster.dpiY = samples.dpiY;
    OwnedBlock<Byte> padded;
    if (samples.bytes < rowBytes * static_cast<std::size_t>(samples.height)) {
        padded = wholeRows(samples, rowBytes);
        if (!padded) return encodeNoMemory;
        raster.rows = padded.get();
    }
    OwnedBlock<Byte> stretched;
    if (!samples.gray && bits < 8) {
        // Neither format has a common reading of RGB below 8 bits.
        stretched = stretchedRgb(samples, raster.rows, rowBytes);
        if (!stretched) return encodeNoMemory;
        raster.rows = stretched.get();
        raster.bitsPerSample = 8;
        raster.rowBytes = 3 * static_cast<std::size_t>(samples.width);
    }
    if (format == OutputFormat::Png) return encodePng(raster, out, stops);
    if (samples.gray && bits == 1) {
        // Group 4 codes 0 bits as white, where PDF's grey has black: the
        // rows are turned round and said to be so.
        const std::size_t total = rowBytes * static_cast<std::size_t>(samples.height);
        OwnedBlock<Byte> inverted(allocBlock(total));
        if (!inverted) return encodeNoMemory;
        for (std::size_t i = 0; i < total; ++i) inverted.get()[i] = static_cast<Byte>(~raster.rows[i]);
        raster.rows = inverted.get();
        return encodeTiff(raster, TiffPhotometric::MinIsWhite, out, stops, TiffCompression::Group4);
    }
    return encodeTiff(raster, samples.gray ? TiffPhotometric::MinIsBlack : TiffPhotometric::Rgb, out, stops);
}

}  // namespace ravoth
