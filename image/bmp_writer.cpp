#include "image/bmp_writer.h"

#include <cstdint>
#include <cstring>
#include <utility>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <tmmintrin.h>
#define RAVOTH_ROW_SHUFFLE 1
#endif

#include "platform/file.h"
#include "platform/memory.h"

namespace ravoth {
namespace {

constexpr std::size_t fileHeaderBytes = 14;
constexpr std::size_t infoHeaderBytes = 40;
constexpr std::size_t paletteBytes = 8;
constexpr std::size_t maxHeaderBytes = fileHeaderBytes + infoHeaderBytes + paletteBytes;
static_assert(maxHeaderBytes == PreparedBitmap::maxHeaderBytes);
constexpr std::uint32_t pixelsPerMetre = 3780;  // 96 dots per inch
// The file size field must hold the image and the headers.
constexpr std::uint64_t maxImageBytes = 0xFFFFFFFFu - maxHeaderBytes;

void putLittleEndian(Byte* at, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i) at[i] = static_cast<Byte>(value >> (8 * i));
}

// The sample bytes of one source row that inflation actually produced; the
// rest of the row reads as 0, which the zero-filled bitmap already holds.
struct SourceRow {
    const Byte* bytes;
    std::size_t available;

    unsigned field(std::uint64_t k, int bitsPerComponent) const
    {
        const std::uint64_t bit = k * static_cast<unsigned>(bitsPerComponent);
        const std::uint64_t index = bit / 8;
        if (index >= available) return 0;
        const int shift = 8 - bitsPerComponent - static_cast<int>(bit % 8);
        return (bytes[index] >> shift) & ((1u << bitsPerComponent) - 1);
    }
};

// Eight-bit rows are most of what scanners produce and most of the writer's
// time: RGB turns into BGR, grey into three equal bytes.
void rgbRowToBgr(Byte* __restrict out, const Byte* __restrict in, std::size_t width, std::size_t from)
{
    for (std::size_t j = from; j < width; ++j) {
        out[3 * j] = in[3 * j + 2];
        out[3 * j + 1] = in[3 * j + 1];
        out[3 * j + 2] = in[3 * j];
    }
}

void greyRowToBgr(Byte* __restrict out, const Byte* __restrict in, std::size_t width, std::size_t from)
{
    for (std::size_t j = from; j < width; ++j) out[3 * j] = out[3 * j + 1] = out[3 * j + 2] = in[j];
}

#ifdef RAVOTH_ROW_SHUFFLE
// Five pixels per byte shuffle. Each 16-byte store also writes the first
// byte of the next pixel, which the next step (or the byte loop) writes
// again; the bounds keep every load and store inside its row.
__attribute__((target("ssse3"))) void rgbRowToBgrShuffled(Byte* out, const Byte* in, std::size_t width)
{
    const __m128i order = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
    std::size_t j = 0;
    for (; j + 6 <= width; j += 5) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 3 * j));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * j), _mm_shuffle_epi8(v, order));
    }
    rgbRowToBgr(out, in, width, j);
}

__attribute__((target("ssse3"))) void greyRowToBgrShuffled(Byte* out, const Byte* in, std::size_t width)
{
    const __m128i order = _mm_setr_epi8(0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5);
    std::size_t j = 0;
    for (; j + 16 <= width; j += 5) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + j));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * j), _mm_shuffle_epi8(v, order));
    }
    greyRowToBgr(out, in, width, j);
}

bool canShuffleBytes()
{
    static const bool can = __builtin_cpu_supports("ssse3");
    return can;
}
#endif

void eightBitRowToBgr(Byte* out, const Byte* in, std::size_t width, bool isGray)
{
#ifdef RAVOTH_ROW_SHUFFLE
    if (canShuffleBytes()) {
        if (isGray) greyRowToBgrShuffled(out, in, width);
        else rgbRowToBgrShuffled(out, in, width);
        return;
    }
#endif
    if (isGray) greyRowToBgr(out, in, width, 0);
    else rgbRowToBgr(out, in, width, 0);
}

// The file header and info header (and the two-colour palette of a 1-bit
// bitmap) before `imageBytes` bytes of rows; their size.
std::size_t writeHeader(Byte* header, int width, int height, bool oneBitGrey, std::uint64_t imageBytes)
{
    std::memset(header, 0, maxHeaderBytes);
    const std::size_t headerBytes = oneBitGrey ? maxHeaderBytes : maxHeaderBytes - paletteBytes;
    header[0] = 'B';
    header[1] = 'M';
    putLittleEndian(header + 2, static_cast<std::uint32_t>(imageBytes + headerBytes), 4);
    putLittleEndian(header + 10, static_cast<std::uint32_t>(headerBytes), 4);
    putLittleEndian(header + 14, infoHeaderBytes, 4);
    putLittleEndian(header + 18, static_cast<std::uint32_t>(width), 4);
    putLittleEndian(header + 22, static_cast<std::uint32_t>(height), 4);  // bottom-up
    putLittleEndian(header + 26, 1, 2);
    putLittleEndian(header + 28, oneBitGrey ? 1 : 24, 2);
    putLittleEndian(header + 34, static_cast<std::uint32_t>(imageBytes), 4);
    putLittleEndian(header + 38, pixelsPerMetre, 4);
    putLittleEndian(header + 42, pixelsPerMetre, 4);
    if (oneBitGrey) putLittleEndian(header + 58, 0x00FFFFFF, 4);  // black, then white
    return headerBytes;
}

}  // namespace

int prepareBitmap(const Byte* samples, std::size_t sampleBytes, int width, int height,
                  int bitsPerComponent, bool isGray, PreparedBitmap* prepared, const StopFlags& stops)
{
    int depthIndex;  // 0..3 for 1, 2, 4, 8 bits
    switch (bitsPerComponent) {
    case 1: depthIndex = 0; break;
    case 2: depthIndex = 1; break;
    case 4: depthIndex = 2; break;
    case 8: depthIndex = 3; break;
    default: return -10;
    }
    const int noMemoryCode = -(isGray ? 1 : 5) - depthIndex;
    const bool oneBitGrey = isGray && bitsPerComponent == 1;
    const unsigned components = isGray ? 1 : 3;

    // A bitmap whose sizes do not fit its fields is as unobtainable as the
    // block that would hold it.
    if (width < 0 || height < 0) return noMemoryCode;
    const std::uint64_t w = static_cast<unsigned>(width);
    const std::uint64_t h = static_cast<unsigned>(height);
    const std::uint64_t sourceRowBytes = (w * components * bitsPerComponent + 7) / 8;
    const std::uint64_t outputRowBytes = oneBitGrey ? ((w + 7) / 8 + 3) / 4 * 4 : (3 * w + 3) / 4 * 4;
    if (h != 0 && outputRowBytes > maxImageBytes / h) return noMemoryCode;
    const std::uint64_t imageBytes = outputRowBytes * h;

    OwnedBlock<> bitmap(allocZeroedBlock(static_cast<std::size_t>(imageBytes)));
    if (!bitmap) return noMemoryCode;

    // Source rows run top-down, bitmap rows bottom-up. A source row is never
    // longer than its output row, so its offset fits as the image size does.
    // Rows of a large page take a fraction of a millisecond each: a stop is
    // looked at every so many of them.
    constexpr std::uint64_t rowsBetweenStopChecks = 64;
    for (std::uint64_t i = 0; i < h; ++i) {
        if (i % rowsBetweenStopChecks == rowsBetweenStopChecks - 1 && stops.isRaised()) return bitmapStopped;
        const std::uint64_t start = i * sourceRowBytes;
        SourceRow row{samples + (start < sampleBytes ? start : sampleBytes), 0};
        if (start < sampleBytes)
            row.available = static_cast<std::size_t>(
                sampleBytes - start < sourceRowBytes ? sampleBytes - start : sourceRowBytes);
        Byte* out = bitmap.get() + (h - 1 - i) * outputRowBytes;
        if (oneBitGrey) {
            // Bit 0 black, 1 white, as the palette says: the row is copied.
            if (row.available > 0) std::memcpy(out, row.bytes, row.available);
            continue;
        }
        // Eight-bit rows, the usual case, take a plain byte loop.
        if (bitsPerComponent == 8 && row.available == sourceRowBytes) {
            eightBitRowToBgr(out, row.bytes, static_cast<std::size_t>(w), isGray);
            continue;
        }
        // 255 / (2^bits - 1) stretches every depth onto 0..255.
        const unsigned scale = 255u / ((1u << bitsPerComponent) - 1);
        for (std::uint64_t j = 0; j < w; ++j, out += 3) {
            if (isGray) {
                const auto grey = static_cast<Byte>(row.field(j, bitsPerComponent) * scale);
                out[0] = out[1] = out[2] = grey;
            } else {
                out[2] = static_cast<Byte>(row.field(3 * j, bitsPerComponent) * scale);
                out[1] = static_cast<Byte>(row.field(3 * j + 1, bitsPerComponent) * scale);
                out[0] = static_cast<Byte>(row.field(3 * j + 2, bitsPerComponent) * scale);
            }
        }
    }

    prepared->headerBytes = writeHeader(prepared->header, width, height, oneBitGrey, imageBytes);
    prepared->pixels = std::move(bitmap);
    prepared->imageBytes = static_cast<std::size_t>(imageBytes);
    return 0;
}

int writePreparedBitmap(const char* fileName, const PreparedBitmap& bitmap, const StopFlags& stops)
{
    OutputFile file;
    file.stopWhen(stops);
    if (!file.create(fileName)) return -9;
    // A file cut short by a full disk would pass for a picture: it never
    // takes the name.
    const bool written = file.write(bitmap.header, bitmap.headerBytes) &&
                         file.write(bitmap.pixels.get(), bitmap.imageBytes);
    if (written && file.close()) return 0;
    // A folder or a read-only file of that name: as if it could not be made.
    return file.wasRefused() ? -9 : -11;
}

}  // namespace ravoth
