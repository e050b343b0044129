// JBIG2 pages of the general reader, decoded to one bit per pixel.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/file.h"
#include "platform/memory.h"
#include "pdf/primitives.h"

namespace ravoth {

struct Bilevel {
    OwnedBlock<Byte> rows;  // top row first, most significant bit first, 1 = black
    std::size_t rowBytes = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
};

constexpr int jbig2NoMemory = -1;    // the decoder's memory would pass `limit`, or none could be had
constexpr int jbig2Damaged = -3;     // the data yields no page
constexpr int jbig2Stopped = -12;

// Decodes an embedded JBIG2 stream (PDF's form: no file header), with the
// global segments PDF keeps apart (none: null, 0). The decoder's memory
// stays under `limit` bytes however large a page the data declares.
int decodeJbig2(const Byte* data, std::size_t bytes, const Byte* globals, std::size_t globalBytes,
                std::size_t limit, Bilevel* page, const StopFlags& stops = {});

}  // namespace ravoth
