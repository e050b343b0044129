// Writing the raw samples of a Flate page image as a Windows bitmap.
#pragma once

#include <atomic>
#include <cstddef>

#include "pdf/primitives.h"
#include "platform/file.h"
#include "platform/memory.h"

namespace ravoth {

// A Flate page's raw samples as a Windows bitmap, in two halves, so that the
// file can be written while the caller goes on with other work.
//
// prepareBitmap converts `height` rows of PDF samples (top row first, rows
// byte-aligned, components packed most significant bit first) into a
// bottom-up bitmap in a block it allocates: 1-bit grey with a black/white
// palette, every other combination as 24-bit blue-green-red. Sample bytes
// past `sampleBytes` read as 0. Returns 0, or
//   -1..-4  no memory for the conversion block (grey 1, 2, 4, 8 bits)
//   -5..-8  the same for RGB 1, 2, 4, 8 bits
//   -10     bits per component other than 1, 2, 4, 8
//   -12     one of the stop flags turned true (nothing is kept)
// Sizes that a bitmap cannot express (negative, or beyond its 32-bit
// fields) count as a conversion block that cannot be had.
//
// writePreparedBitmap creates and writes the file, under a temporary name
// that takes `fileName` only when whole, so a file already there is replaced
// only by a whole picture. It touches no memory block but the one it is
// given. Returns 0, or -9 (the file cannot be created; nothing written),
// -11 (writing or closing failed, or a stop flag turned true; nothing was
// put at fileName).
struct PreparedBitmap {
    static constexpr std::size_t maxHeaderBytes = 62;
    Byte header[maxHeaderBytes] = {};
    std::size_t headerBytes = 0;
    OwnedBlock<> pixels;
    std::size_t imageBytes = 0;
};
int prepareBitmap(const Byte* samples, std::size_t sampleBytes, int width, int height,
                  int bitsPerComponent, bool isGray, PreparedBitmap* bitmap, const StopFlags& stops = {});

constexpr int bitmapStopped = -12;
int writePreparedBitmap(const char* fileName, const PreparedBitmap& bitmap, const StopFlags& stops = {});

}  // namespace ravoth
