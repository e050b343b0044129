// Expanding a FlateDecode stream into a block of fixed capacity.
#pragma once

#include <cstddef>
#include <memory>

#include "image/zlib_rules.h"
#include "pdf/primitives.h"
#include "platform/file.h"

struct libdeflate_decompressor;

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

// Inflates, in one call and several times faster, zlib streams whose
// output is known. Its decompressor and its rules walker are its own: each
// thread that inflates pages keeps one for all of them, and none is shared.
// Both are had beside the core's blocks; without them every stream goes
// the streaming way, which allocates from the core.
class WholeInflater {
public:
    WholeInflater();
    ~WholeInflater();
    WholeInflater(const WholeInflater&) = delete;
    WholeInflater& operator=(const WholeInflater&) = delete;

    // Inflates a stream whose output is known to be `expected` bytes into
    // `output` (at least that large). True only when the stream is whole,
    // its checksum right, it yields exactly `expected` bytes, and zlib
    // would read it too (ZlibRules); the block's content is unspecified
    // otherwise, and the caller takes inflateStream, whose answers stay the
    // reference for every stream this one does not take. Streams that
    // declare a window below 32 KiB are left to inflateStream too: zlib
    // reads their distances against the window it keeps between its chunks.
    bool inflate(const Byte* source, std::size_t sourceLength, Byte* output, std::size_t expected);

private:
    struct DecompressorFree {
        void operator()(libdeflate_decompressor* decompressor) const;
    };
    std::unique_ptr<libdeflate_decompressor, DecompressorFree> decompressor_;
    ZlibRules rules_;
};

// Bytes in each of the two chunks that feed zlib and collect its output.
constexpr std::size_t inflateChunkBytes = 1024;

}  // namespace ravoth
