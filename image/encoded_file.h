// Page pictures encoded in memory by a library, ready to be written whole.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image/bmp_writer.h"

namespace ravoth {

// Rows of samples as they go to an encoder: top row first, samples packed
// most significant bit first, 16-bit samples big-endian (as PDF and PNG
// store them).
struct Raster {
    const Byte* rows = nullptr;
    std::size_t rowBytes = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t bitsPerSample = 8;
    std::int32_t samplesPerPixel = 1;
    // Pixels per inch across and down; 0 when not known.
    std::int32_t dpiX = 0;
    std::int32_t dpiY = 0;
};

// Codes of the encoders: 0, or
constexpr int encodeNoMemory = -1;     // no block for the encoded file
constexpr int encodeUnsupported = -2;  // a depth or sample count the format cannot hold
constexpr int encodeFailed = -4;       // the library refused the data
constexpr int encodeStopped = bitmapStopped;

// A PNG of grey (1 sample) or RGB (3 samples), 1 to 16 bits, into
// `file.pixels` (no header): writePreparedBitmap writes it as it is.
int encodePng(const Raster& raster, PreparedBitmap* file, const StopFlags& stops = {});

enum class TiffPhotometric { MinIsWhite, MinIsBlack, Rgb, Cmyk };

// How a TIFF's strips are compressed, both without loss: Group 4 fax
// coding is for 1-bit rows alone, and codes 0 bits as white.
enum class TiffCompression { Deflate, Group4 };

// A TIFF of the raster.
int encodeTiff(const Raster& raster, TiffPhotometric photometric, PreparedBitmap* file,
               const StopFlags& stops = {}, TiffCompression compression = TiffCompression::Deflate);

// CCITT fax data as it is, in a TIFF that says how to read it: `k` as PDF's
// /K (below 0 Group 4, else Group 3, 2-D when above 0).
struct FaxData {
    const Byte* data = nullptr;
    std::size_t bytes = 0;
    std::int32_t columns = 0;
    std::int32_t rows = 0;
    std::int32_t k = 0;
    bool byteAligned = false;
    TiffPhotometric photometric = TiffPhotometric::MinIsWhite;
    std::int32_t dpiX = 0;  // 0: not known
    std::int32_t dpiY = 0;
};
int wrapFaxInTiff(const FaxData& fax, PreparedBitmap* file);

// Decodes the fax data through the TIFF library into rows of 1 bit, padded
// to whole bytes, 1 where the code drew a black run (whatever `photometric`
// says of showing it), into *rows. A page of more than `limit` bytes is
// refused (encodeUnsupported); data the decoder cannot read whole gives
// encodeFailed.
int decodeFax(const FaxData& fax, std::size_t limit, OwnedBlock<Byte>* rows, std::size_t* rowBytes);

}  // namespace ravoth
