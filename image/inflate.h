// Expanding a FlateDecode stream into a block of fixed capacity.
#pragma once

#include <cstddef>

#include "pdf/primitives.h"
#include "platform/file.h"

namespace ravoth {

// Inflates the zlib stream [source, source + sourceLength) into `output`,
// which holds `capacity` bytes (zero-filled by the caller). Output that
// would fill the block exactly counts as not fitting, so a byte is always
// left over. Returns 0 with capacity set to the bytes produced, or
// -1 (zlib initialisation), -2 / -3 (input / output chunk allocation),
// -4 (zlib error while feeding), -5 (error after the source was fed, also a
// truncated stream), -10 (capacity too small; retry with a larger block).
// zlib's own memory comes from allocBlock as well, so a call allocates, in
// order, zlib's state (-1), the two chunks (-2, -3) and, once output starts,
// zlib's window (its failure reads as a zlib error, -4 or -5). Capacity is
// changed only on success. Never touches LastError. Gives up with
// inflateStopped soon after one of the stop flags turns true.
int inflateStream(const Byte* source, std::size_t sourceLength, Byte* output,
                  std::size_t& capacity, const StopFlags& stops = {});

constexpr int inflateStopped = -20;

// Inflates, in one call and several times faster, a zlib stream whose
// output is known to be `expected` bytes, into `output` (at least that
// large). True only when the stream is whole, its checksum right, and it
// yields exactly `expected` bytes, and zlib would read it too
// (meetsZlibRules); the block's content is unspecified otherwise, and the
// caller takes inflateStream, whose answers stay the reference for every
// stream this one does not take. Streams that declare a window below
// 32 KiB are left to inflateStream too: zlib reads their distances against
// the window it keeps between its chunks. Allocates none
// of the core's blocks (the decompressor is the thread's own, kept for its
// next page).
bool inflateWhole(const Byte* source, std::size_t sourceLength, Byte* output, std::size_t expected);

// Bytes in each of the two chunks that feed zlib and collect its output.
constexpr std::size_t inflateChunkBytes = 1024;

}  // namespace ravoth
