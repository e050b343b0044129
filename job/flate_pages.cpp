#include "job/flate_pages.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string_view>
#include <utility>

#include "image/page_format.h"
#include "job/page_files.h"

namespace ravoth {

namespace {

// The bytes of samples that the image's geometry declares; 0 when the
// numbers are out of range. The depth has been checked (1 to 8 bits), so no
// product below reaches 2^64.
std::uint64_t declaredSampleBytes(const ImageInfo& info)
{
    if (info.width <= 0 || info.height <= 0 || info.bitsPerComponent <= 0) return 0;
    const std::uint64_t rowBits = static_cast<std::uint64_t>(info.width) * (info.isGray ? 1 : 3) *
                                  static_cast<std::uint64_t>(info.bitsPerComponent);
    return (rowBits + 7) / 8 * static_cast<std::uint64_t>(info.height);
}

}  // namespace

std::size_t expectedSampleBytes(const ImageInfo& info)
{
    const std::uint64_t total = declaredSampleBytes(info);
    return total > std::numeric_limits<std::size_t>::max() / 32 ? 0 : static_cast<std::size_t>(total);
}

// Deflate codes a run of 258 bytes in as little as a quarter of a byte, so
// a zlib stream yields at most about 1032 bytes for each byte it holds.
constexpr std::uint64_t deflateYieldPerByte = 1032;
// Far more than that is no damaged scan but a forged page: a few bytes that
// declare gigabytes would otherwise cost the disk and the memory they
// declare. A stream merely cut short stays well inside, and its missing
// rows are written black as before.
constexpr std::uint64_t declaredSlackFactor = 4;
constexpr std::uint64_t declaredSlackBytes = std::uint64_t{1} << 20;

// Whether a Flate page declares more samples than its stream could yield.
bool declaresMoreThanItsStreamHolds(const ImageInfo& info)
{
    if (info.streamLength < 0) return false;
    const std::uint64_t limit =
        declaredSlackFactor * deflateYieldPerByte * static_cast<std::uint64_t>(info.streamLength) +
        declaredSlackBytes;
    return declaredSampleBytes(info) > limit;
}

bool isBitmapDepth(std::int32_t bitsPerComponent)
{
    return bitsPerComponent == 1 || bitsPerComponent == 2 || bitsPerComponent == 4 ||
           bitsPerComponent == 8;
}

// One call inflates a page without a look at the stop flags: beyond this
// it would keep a stop waiting longer than a person notices.
constexpr std::size_t wholeInflationLimitBytes = std::size_t{256} << 20;

// Inflates a Flate page. The first block already holds the samples the
// geometry implies (with the byte that a fitting inflation always leaves
// over), and never less than 20 times the stream; while the block is too
// small the ladder goes on at the next of 30, 40, ... times the stream above
// it, and at least half as large again, so that a stream that keeps
// inflating is followed in few tries. A stream that keeps inflating past 16
// times its expected size (or past the first block, when that is larger) is
// refused rather than followed into memory without end. The page fails when
// a block cannot be had (or its size cannot be represented) or inflation
// fails.
// Returns 0 with the block (owned by the caller) and its produced size,
// -1 for no memory, -11 for a stream past the bound, or inflation's code
// (inflateStopped once a stop flag turned true).
constexpr std::size_t firstMultiplier = 20;

// The first block's size: false when it cannot be represented.
bool firstInflationCapacity(const ImageInfo& info, std::size_t* capacity)
{
    const auto streamBytes = static_cast<std::size_t>(info.streamLength);
    if (streamBytes != 0 && firstMultiplier > std::numeric_limits<std::size_t>::max() / streamBytes) return false;
    *capacity = std::max(firstMultiplier * streamBytes, expectedSampleBytes(info) + 1);
    return true;
}

// Whether a page is inflated in one call first.
bool isWholeInflationTried(const ImageInfo& info)
{
    const std::size_t expected = expectedSampleBytes(info);
    return expected != 0 && expected <= wholeInflationLimitBytes;
}

int inflatePage(const ImageInfo& info, WholeInflater& inflater, OwnedBlock<Byte>* samples, std::size_t* produced,
                const StopFlags& stops)
{
    constexpr std::size_t sizeMax = std::numeric_limits<std::size_t>::max();
    const auto streamBytes = static_cast<std::size_t>(info.streamLength);
    const std::size_t expected = expectedSampleBytes(info);
    std::size_t multiplier = firstMultiplier;
    std::size_t capacity = 0;
    if (!firstInflationCapacity(info, &capacity)) return -1;
    const std::size_t bound = std::max(capacity, expected * 16);
    // A page of the size it declares is inflated in one call; anything
    // else it does is answered the streaming way, in the same block, which
    // that way wants zero-filled.
    // A block handed in is the first, which the one call did not fill.
    bool blockInHand = static_cast<bool>(*samples);
    if (blockInHand) {
        std::memset(samples->get(), 0, capacity);
    } else if (isWholeInflationTried(info)) {
        samples->reset(allocBlock(capacity));
        if (!*samples) return -1;
        if (stops.isRaised()) return inflateStopped;
        if (inflater.inflate(info.streamStart, streamBytes, samples->get(), expected)) {
            *produced = expected;
            return 0;
        }
        std::memset(samples->get(), 0, capacity);
        blockInHand = true;
    }
    for (;;) {
        if (!std::exchange(blockInHand, false)) samples->reset(allocZeroedBlock(capacity));
        if (!*samples) return -1;
        std::size_t room = capacity;
        const int result = inflateStream(info.streamStart, streamBytes, samples->get(), room, stops);
        if (result == 0) {
            *produced = room;
            return 0;
        }
        if (result != -10) return result;
        samples->reset();
        if (streamBytes == 0) return -1;
        do {
            multiplier += 10;
            if (multiplier > sizeMax / streamBytes) return -1;
        } while (multiplier * streamBytes <= capacity);
        const std::size_t rung = multiplier * streamBytes;
        capacity = rung - capacity >= capacity / 2 || capacity > sizeMax / 2 ? rung : capacity + capacity / 2;
        if (capacity > bound) return inflationBoundExceeded;
    }
}


PageStage inflationStage(int code, bool blockHeld)
{
    return code == inflationBoundExceeded ? PageStage::InflateBound
           : code == -1 && !blockHeld     ? PageStage::InflateMemory
                                          : PageStage::Inflate;
}

PageStage inflateByStreaming(PageFile& file, WholeInflater& inflater, int* code)
{
    PendingSamples& pending = *file.pending;
    OwnedBlock<Byte> samples = std::move(pending.block);
    std::size_t produced = 0;
    const int inflated = inflatePage(pending.info, inflater, &samples, &produced, file.stops);
    if (inflated == inflateStopped) return PageStage::Stopped;
    if (inflated != 0) {
        *code = inflated;
        return inflationStage(inflated, static_cast<bool>(samples));
    }
    const PageSamples page = pending.samplesOf(samples.get(), produced);
    std::string_view extension;
    const int converted = encodePageSamples(pending.format, page, &file.bitmap, &extension, file.stops);
    file.pending.reset();
    if (converted == bitmapStopped) return PageStage::Stopped;
    if (converted != 0) {
        *code = converted;
        return file.isEncoded ? PageStage::Encode : PageStage::WriteBmp;
    }
    return PageStage::Written;
}

}  // namespace ravoth
