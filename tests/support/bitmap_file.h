// A bitmap file made the way a run makes one: converted, then written.
#pragma once

#include "image/bmp_writer.h"

namespace ravoth::testing {

// prepareBitmap's code, else writePreparedBitmap's.
inline int writeBitmapFile(const char* fileName, const Byte* samples, std::size_t sampleBytes, int width,
                           int height, int bitsPerComponent, bool isGray)
{
    PreparedBitmap bitmap;
    const int prepared = prepareBitmap(samples, sampleBytes, width, height, bitsPerComponent, isGray, &bitmap);
    return prepared != 0 ? prepared : writePreparedBitmap(fileName, bitmap);
}

}  // namespace ravoth::testing
