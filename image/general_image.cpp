#include "image/general_image.h"

#include <algorithm>
#include <cstring>

#include "image/jbig2_decode.h"
#include "image/page_format.h"

namespace ravoth {

namespace {

// How /Decode maps one component: as stored, inverted, or some other way
// (which nothing here writes without loss).
enum class Mapping { Stored, Inverted, Other };

Mapping mappingOf(const GeneralImage& image, std::size_t component)
{
    if (image.decode.size() < 2 * (component + 1)) return Mapping::Stored;
    const double low = image.decode[2 * component];
    const double high = image.decode[2 * component + 1];
    if (image.colour == ColourModel::Indexed)
        return low == 0 && high == (1 << image.bitsPerComponent) - 1 ? Mapping::Stored : Mapping::Other;
    if (low == 0 && high == 1) return Mapping::Stored;
    if (low == 1 && high == 0) return Mapping::Inverted;
    return Mapping::Other;
}

// Inverts what /Decode inverts, in place. False when it maps otherwise, or
// inverts some components of a packed depth and not others.
bool applyDecode(const GeneralImage& image, Byte* samples, std::size_t bytes)
{
    const std::size_t components = static_cast<std::size_t>(image.components);
    bool anyInverted = false;
    bool allInverted = true;
    for (std::size_t c = 0; c < components; ++c) {
        const Mapping mapping = mappingOf(image, c);
        if (mapping == Mapping::Other) return false;
        anyInverted = anyInverted || mapping == Mapping::Inverted;
        allInverted = allInverted && mapping == Mapping::Inverted;
    }
    if (!anyInverted) return true;
    if (allInverted) {
        // Every sample's bits flip, the padding's with them, unseen.
        for (std::size_t i = 0; i < bytes; ++i) samples[i] = static_cast<Byte>(~samples[i]);
        return true;
    }
    if (image.bitsPerComponent != 8 && image.bitsPerComponent != 16) return false;
    const std::size_t sampleBytes = static_cast<std::size_t>(image.bitsPerComponent / 8);
    // Each byte of a pixel is inverted or not as its component is.
    const std::size_t pixelBytes = components * sampleBytes;
    Byte flip[4 * 2] = {};
    if (pixelBytes > sizeof flip) return false;
    for (std::size_t i = 0; i < pixelBytes; ++i)
        flip[i] = mappingOf(image, i / sampleBytes) == Mapping::Inverted ? 0xFF : 0x00;
    const std::size_t rowBytes = static_cast<std::size_t>(image.width) * pixelBytes;
    for (std::size_t row = 0; row + rowBytes <= bytes; row += rowBytes)
        for (std::size_t i = 0; i < rowBytes; ++i) samples[row + i] ^= flip[i % pixelBytes];
    return true;
}

// Looks each index up in the palette: 8-bit samples of the base space.
OwnedBlock<Byte> expandIndexed(const GeneralImage& image, const Byte* samples, std::size_t* expandedBytes)
{
    const std::size_t width = static_cast<std::size_t>(image.width);
    const std::size_t height = static_cast<std::size_t>(image.height);
    const std::size_t components = static_cast<std::size_t>(image.components);
    const int bits = image.bitsPerComponent;
    const std::size_t rowBytes = (width * static_cast<std::size_t>(bits) + 7) / 8;
    const std::size_t outRow = width * components;
    OwnedBlock<Byte> out(allocBlock(outRow * height));
    if (!out) return out;
    const auto* palette = reinterpret_cast<const Byte*>(image.palette.data());
    const unsigned mask = (1u << bits) - 1;
    for (std::size_t y = 0; y < height; ++y) {
        const Byte* row = samples + y * rowBytes;
        Byte* target = out.get() + y * outRow;
        for (std::size_t x = 0; x < width; ++x) {
            const std::size_t bit = x * static_cast<std::size_t>(bits);
            const unsigned index = (row[bit / 8] >> (8 - bits - bit % 8)) & mask;
            // Viewers take an index past the table as its last entry.
            const unsigned entry = std::min<unsigned>(index, static_cast<unsigned>(image.indexedHival));
            std::memcpy(target + x * components, palette + entry * components, components);
        }
    }
    *expandedBytes = outRow * height;
    return out;
}

// The bitmap writer's own codes, as the encoders' are.
int fromBitmap(int code)
{
    if (code == 0 || code == bitmapStopped) return code;
    return code == -10 ? imageUnsupported : encodeNoMemory;
}

// What the encoders' codes mean beside the bitmap writer's.
int fromEncoder(OutputFormat format, int code) { return format == OutputFormat::Bmp ? fromBitmap(code) : code; }

void setResolution(const GeneralImage& image, std::int32_t width, std::int32_t height, std::int32_t* dpiX,
                   std::int32_t* dpiY)
{
    *dpiX = dotsPerInch(width, image.mediaWidth);
    *dpiY = dotsPerInch(height, image.mediaHeight);
}

int writeSamples(const GeneralImage& image, StreamBytes& data, OutputFormat format, ImageFile* out,
                 const StopFlags& stops)
{
    const int bits = image.bitsPerComponent;
    if (image.colour == ColourModel::Unsupported) return imageUnsupported;
    if (bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16) return imageUnsupported;
    if (image.colour == ColourModel::Indexed) {
        if (bits == 16 || mappingOf(image, 0) != Mapping::Stored) return imageUnsupported;
        std::size_t bytes = 0;
        OwnedBlock<Byte> expanded = expandIndexed(image, data.block.get(), &bytes);
        if (!expanded) return encodeNoMemory;
        data.block = std::move(expanded);
        data.bytes = bytes;
        GeneralImage base = image;
        base.colour = image.paletteModel;
        base.bitsPerComponent = 8;
        base.decode.clear();
        return writeSamples(base, data, format, out, stops);
    }
    if (!applyDecode(image, data.block.get(), data.bytes)) return imageUnsupported;
    const bool gray = image.colour == ColourModel::Gray;
    // A bitmap holds 8 bits a sample at most: deeper samples go to PNG.
    if ((gray || image.colour == ColourModel::Rgb) && (bits <= 8 || format != OutputFormat::Bmp)) {
        PageSamples samples;
        samples.data = data.block.get();
        samples.bytes = data.bytes;
        samples.width = image.width;
        samples.height = image.height;
        samples.bits = bits;
        samples.gray = gray;
        setResolution(image, image.width, image.height, &samples.dpiX, &samples.dpiY);
        return fromEncoder(format, encodePageSamples(format, samples, &out->file, &out->extension, stops));
    }
    Raster raster;
    setResolution(image, image.width, image.height, &raster.dpiX, &raster.dpiY);
    raster.rows = data.block.get();
    raster.width = image.width;
    raster.height = image.height;
    raster.bitsPerSample = bits;
    raster.samplesPerPixel = image.components;
    raster.rowBytes = (static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.components) *
                           static_cast<std::size_t>(bits) + 7) / 8;
    if (image.colour == ColourModel::Cmyk) {
        out->extension = ".tif";
        return encodeTiff(raster, TiffPhotometric::Cmyk, &out->file, stops);
    }
    out->extension = ".png";
    return encodePng(raster, &out->file, stops);
}

// Fax data decoded to one bit of grey, 0 black as PDF's grey holds it.
int writeDecodedFax(const FaxData& fax, std::size_t decodeLimit, OutputFormat format, ImageFile* out,
                    const StopFlags& stops)
{
    OwnedBlock<Byte> rows;
    std::size_t rowBytes = 0;
    const int decoded = decodeFax(fax, decodeLimit, &rows, &rowBytes);
    if (decoded == encodeNoMemory) return encodeNoMemory;
    if (decoded != 0) return imageUndecodable;
    const std::size_t bytes = rowBytes * static_cast<std::size_t>(fax.rows);
    // A black run decodes to 1: shown black, it is grey 0, unless the
    // photometric says the data is shown the other way round.
    if (fax.photometric == TiffPhotometric::MinIsWhite)
        for (std::size_t i = 0; i < bytes; ++i) rows.get()[i] = static_cast<Byte>(~rows.get()[i]);
    PageSamples samples;
    samples.data = rows.get();
    samples.bytes = bytes;
    samples.width = fax.columns;
    samples.height = fax.rows;
    samples.bits = 1;
    samples.dpiX = fax.dpiX;
    samples.dpiY = fax.dpiY;
    return fromEncoder(format, encodePageSamples(format, samples, &out->file, &out->extension, stops));
}

// The file is the image's own bytes, taken over.
int keepBytes(StreamBytes& data, std::string_view extension, ImageFile* out)
{
    out->extension = extension;
    out->file.headerBytes = 0;
    out->file.imageBytes = data.bytes;
    out->file.pixels = OwnedBlock<>(data.block.release());
    return 0;
}

}  // namespace

std::string_view imageFileExtension(const GeneralImage& image, OutputFormat format, FaxForm faxForm)
{
    const std::string_view decodedExtension = format == OutputFormat::Bmp   ? ".bmp"
                                              : format == OutputFormat::Png ? ".png"
                                                                            : ".tif";
    switch (image.coding) {
    case ImageCoding::Jpeg: return ".jpg";
    case ImageCoding::Jpx: return ".jp2";
    case ImageCoding::Ccitt: return faxForm == FaxForm::Decoded ? decodedExtension : ".tif";
    case ImageCoding::Jbig2: return decodedExtension;
    case ImageCoding::Samples: break;
    }
    // An indexed image is written as its palette's colours, 8 bits each.
    const ColourModel colour = image.colour == ColourModel::Indexed ? image.paletteModel : image.colour;
    const int bits = image.colour == ColourModel::Indexed ? 8 : image.bitsPerComponent;
    if (colour == ColourModel::Cmyk) return ".tif";
    if ((colour == ColourModel::Gray || colour == ColourModel::Rgb) && (bits <= 8 || format != OutputFormat::Bmp))
        return decodedExtension;
    return ".png";
}

int prepareImageFile(const GeneralImage& image, StreamBytes data, const StreamBytes& globals,
                     std::size_t decodeLimit, OutputFormat format, ImageFile* out, const StopFlags& stops,
                     FaxForm faxForm)
{
    switch (image.coding) {
    case ImageCoding::Jpeg: return keepBytes(data, ".jpg", out);
    case ImageCoding::Jpx: return keepBytes(data, ".jp2", out);
    case ImageCoding::Ccitt: {
        // The viewer shows coded white as white, unless /BlackIs1 and
        // /Decode turn it round between them.
        const bool inverted = (mappingOf(image, 0) == Mapping::Inverted) != image.ccittBlackIs1;
        if (mappingOf(image, 0) == Mapping::Other) return imageUnsupported;
        FaxData fax;
        fax.data = data.block.get();
        fax.bytes = data.bytes;
        fax.columns = image.ccittColumns;
        fax.rows = image.ccittRows > 0 ? image.ccittRows : image.height;
        fax.k = image.ccittK;
        fax.byteAligned = image.ccittByteAligned;
        fax.photometric = inverted ? TiffPhotometric::MinIsBlack : TiffPhotometric::MinIsWhite;
        setResolution(image, fax.columns, fax.rows, &fax.dpiX, &fax.dpiY);
        if (faxForm == FaxForm::Decoded) return writeDecodedFax(fax, decodeLimit, format, out, stops);
        out->extension = ".tif";
        return wrapFaxInTiff(fax, &out->file);
    }
    case ImageCoding::Jbig2: {
        Bilevel page;
        const int decoded = decodeJbig2(data.block.get(), data.bytes, globals.block.get(), globals.bytes,
                                        decodeLimit, &page, stops);
        if (decoded == jbig2Stopped) return encodeStopped;
        if (decoded != 0) return decoded == jbig2NoMemory ? encodeNoMemory : imageUndecodable;
        data.block.reset();
        if (mappingOf(image, 0) == Mapping::Other) return imageUnsupported;
        // JBIG2 marks black with 1, grey samples with 0: the rows are turned
        // round unless /Decode [1 0] turns them round again.
        const std::size_t bytes = page.rowBytes * static_cast<std::size_t>(page.height);
        Byte* rows = page.rows.get();
        if (mappingOf(image, 0) == Mapping::Stored)
            for (std::size_t i = 0; i < bytes; ++i) rows[i] = static_cast<Byte>(~rows[i]);
        PageSamples samples;
        samples.data = rows;
        samples.bytes = bytes;
        samples.width = page.width;
        samples.height = page.height;
        samples.bits = 1;
        setResolution(image, page.width, page.height, &samples.dpiX, &samples.dpiY);
        return fromEncoder(format, encodePageSamples(format, samples, &out->file, &out->extension, stops));
    }
    case ImageCoding::Samples: return writeSamples(image, data, format, out, stops);
    }
    return imageUnsupported;
}

}  // namespace ravoth
