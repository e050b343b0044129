#include "image/inflate.h"

#include <libdeflate.h>
#include <zlib.h>

#include <cstring>
#include <limits>

#include "platform/memory.h"

namespace ravoth {
namespace {

// zlib's own memory (its inflate state, then its window on the first output)
// comes from our blocks like everything else, so that it is counted with the
// rest and tests can make it fail: the 1st allocation of a call is the
// state (-1), the 2nd and 3rd the chunks (-2, -3), the 4th the window (-4).
voidpf allocForZlib(voidpf, uInt items, uInt size)
{
    if (size != 0 && items > std::numeric_limits<std::size_t>::max() / size) return Z_NULL;
    return allocBlock(std::size_t{items} * size);
}

void freeForZlib(voidpf, voidpf block) { freeBlock(block); }

// Ends the inflate stream when the call returns, whichever way it does.
class InflateEnd {
public:
    explicit InflateEnd(z_stream* stream) : stream_(stream) {}
    InflateEnd(const InflateEnd&) = delete;
    InflateEnd& operator=(const InflateEnd&) = delete;
    ~InflateEnd() { inflateEnd(stream_); }

private:
    z_stream* stream_;
};

// Whether `bytes` more still leave a byte of the block unused; `used` never
// exceeds the capacity, so the subtraction cannot wrap.
bool leavesSpare(std::size_t used, std::size_t bytes, std::size_t capacity)
{
    return bytes < capacity - used;
}

// The zlib header's first byte: method 8 (deflate) with a 32 KiB window.
constexpr Byte deflateWith32KiBWindow = 0x78;

}  // namespace

WholeInflater::WholeInflater() : decompressor_(libdeflate_alloc_decompressor()) {}

WholeInflater::~WholeInflater() = default;

void WholeInflater::DecompressorFree::operator()(libdeflate_decompressor* decompressor) const
{
    libdeflate_free_decompressor(decompressor);
}

bool WholeInflater::inflate(const Byte* source, std::size_t sourceLength, Byte* output, std::size_t expected)
{
    if (!decompressor_ || sourceLength < 2 || source[0] != deflateWith32KiBWindow) return false;
    std::size_t used = 0;
    std::size_t produced = 0;
    const libdeflate_result result = libdeflate_zlib_decompress_ex(decompressor_.get(), source, sourceLength,
                                                                   output, expected, &used, &produced);
    // libdeflate reads some streams zlib refuses (reserved symbols among
    // them, which a single flipped bit can make); those stay refused.
    return result == LIBDEFLATE_SUCCESS && produced == expected && rules_.areMetBy(source, sourceLength);
}

int inflateStream(const Byte* source, std::size_t sourceLength, Byte* output,
                  std::size_t& capacity, const StopFlags& stops)
{
    // A page of hundreds of megabytes takes seconds to inflate; a stop is
    // looked at every so many chunks, far more often than a person notices.
    constexpr unsigned chunksBetweenStopChecks = 256;
    unsigned chunksToStopCheck = chunksBetweenStopChecks;
    auto stopDue = [&] {
        if (--chunksToStopCheck != 0) return false;
        chunksToStopCheck = chunksBetweenStopChecks;
        return stops.isRaised();
    };
    const std::size_t limit = capacity;
    // Declared before the stream's guard so that the stream ends first.
    OwnedBlock<> inChunk;
    OwnedBlock<> outChunk;

    z_stream stream{};
    stream.zalloc = allocForZlib;
    stream.zfree = freeForZlib;
    stream.opaque = Z_NULL;
    // The 1.1.3 interface is all we use; zlib accepts any 1.x caller.
    if (inflateInit_(&stream, "1.1.3", static_cast<int>(sizeof(z_stream))) != Z_OK) return -1;
    const InflateEnd ender(&stream);

    inChunk.reset(allocBlock(inflateChunkBytes));
    if (!inChunk) return -2;
    outChunk.reset(allocBlock(inflateChunkBytes));
    if (!outChunk) return -3;

    stream.avail_in = 0;
    stream.next_out = outChunk.get();
    stream.avail_out = inflateChunkBytes;
    std::size_t fed = 0;
    std::size_t appended = 0;
    int result = Z_OK;

    while (fed < sourceLength) {
        if (stream.avail_in == 0) {
            const std::size_t take =
                sourceLength - fed < inflateChunkBytes ? sourceLength - fed : inflateChunkBytes;
            std::memcpy(inChunk.get(), source + fed, take);
            fed += take;
            stream.next_in = inChunk.get();
            stream.avail_in = static_cast<uInt>(take);
        }
        if (stopDue()) return inflateStopped;
        result = inflate(&stream, Z_SYNC_FLUSH);
        if (result != Z_OK && result != Z_STREAM_END) return -4;
        if (stream.avail_out == 0) {
            if (!leavesSpare(appended, inflateChunkBytes, limit)) return -10;
            std::memcpy(output + appended, outChunk.get(), inflateChunkBytes);
            appended += inflateChunkBytes;
            stream.next_out = outChunk.get();
            stream.avail_out = inflateChunkBytes;
        }
        // Bytes after the compressed stream (an end-of-line counted in the
        // stream's length, say) are not ours to read.
        if (result == Z_STREAM_END) break;
    }

    // Whatever zlib still holds comes out here; a source cut short leaves it
    // unable to progress, which it reports as an error.
    while (result != Z_STREAM_END) {
        if (stopDue()) return inflateStopped;
        result = inflate(&stream, Z_SYNC_FLUSH);
        if (result != Z_OK && result != Z_STREAM_END) return -5;
        const std::size_t held = inflateChunkBytes - stream.avail_out;
        if (!leavesSpare(appended, held, limit)) return -10;
        std::memcpy(output + appended, outChunk.get(), held);
        appended += held;
        stream.next_out = outChunk.get();
        stream.avail_out = inflateChunkBytes;
    }

    const std::size_t held = inflateChunkBytes - stream.avail_out;
    if (!leavesSpare(appended, held, limit)) return -10;
    std::memcpy(output + appended, outChunk.get(), held);
    capacity = appended + held;
    return 0;
}

}  // namespace ravoth
