// Writing the raw samples of a Flate page image as a Windows bitmap.
#pragma once

#include <atomic>
#include <cstddef>

#include "pdf/primitives.h"
#include "platform/file.h"
#include "platform/memory.h"

namespace ravoth {

// Converts `height` rows of PDF samples (top row first, rows byte-aligned,
// components packed most significant bit first) into a bottom-up bitmap and
// writes it to `fileName`: 1-bit grey with a black/white palette, every
// other combination as 24-bit blue-green-red. Sample bytes past
// `sampleBytes` read as 0.
// Returns 0 when the file was written, or:
//   -1..-4  no memory for the conversion block (grey 1, 2, 4, 8 bits)
//   -5..-8  the same for RGB 1, 2, 4, 8 bits
//   -9      the file cannot be created (nothing written)
//   -10     bits per component other than 1, 2, 4, 8 (nothing written)
//   -11     writing or closing the file failed; nothing was put at fileName
// The file is written under a temporary name and takes `fileName` only when
// whole, so a file already there is replaced only by a whole picture.
// Sizes that a bitmap cannot express (negative, or beyond its 32-bit
// fields) count as a conversion block that cannot be had.
int writeBmpFile(const char* fileName, const Byte* samples, std::size_t sampleBytes, int width,
                 int height, int bitsPerComponent, bool isGray);

// writeBmpFile in its two halves, so that the file can be written while the
// caller goes on with other work: prepareBitmap converts into a block it
// allocates (its codes: -1..-8, -10), writePreparedBitmap creates and writes
// the file (its codes: -9, -11) and touches no memory block but the one it
// is given. Writing fails as soon as one of the stop flags turns true.
struct PreparedBitmap {
    static constexpr std::size_t maxHeaderBytes = 62;
    Byte header[maxHeaderBytes] = {};
    std::size_t headerBytes = 0;
    OwnedBlock<> pixels;
    std::size_t imageBytes = 0;
};
int prepareBitmap(const Byte* samples, std::size_t sampleBytes, int width, int height,
                  int bitsPerComponent, bool isGray, PreparedBitmap* bitmap);
int writePreparedBitmap(const char* fileName, const PreparedBitmap& bitmap, const StopFlags& stops = {});

}  // namespace ravoth
