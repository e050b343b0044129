#include "job/extraction.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "image/bmp_writer.h"
#include "image/coded_header.h"
#include "image/general_image.h"
#include "image/inflate.h"
#include "pdf/page_image.h"
#include "pdf/title_name.h"
#include "job/comic_info.h"
#include "job/page_archive.h"
#include "job/page_files.h"
#include "platform/memory.h"

namespace ravoth {

namespace {

// What inflatePage gives for a stream that inflates far past its image.
constexpr int inflationBoundExceeded = -11;
// What inflatePage gives for an image that declares far more samples than
// its stream could ever yield.
constexpr int declaredBeyondStream = -12;

// A title of this many bytes as written already gives a name past the
// system's limit, escapes and hex digits included.
constexpr std::int32_t longestTitleBytes = 4096;

template <typename T>
T* allocCell()
{
    void* cell = allocBlock(sizeof(T));
    return cell ? new (cell) T{} : nullptr;
}

// Frees the block a cell points to, then the cell.
template <typename T>
void releaseCell(T*& cell)
{
    if (!isBlockPresent(cell)) return;
    if constexpr (std::is_pointer_v<T>) freeBlock(*cell);
    freeBlock(cell);
    cell = nullptr;
}

constexpr std::string_view producerKey = "/Producer";
// The accepted producers write /Producer as a UTF-16 literal with octal
// escapes; the comparison is over those raw bytes.
constexpr std::string_view acceptedProducers[] = {
    R"( (\376\377\0\124\0\157\0\154\0\166\0\151\0\156\0\40)",
    R"( (\376\377\0\104\0\162\0\141\0\166\0\145\0\154\0\40)",
    R"( (\376\377\0\115\0\145\0\163\0\153\0\145\0\162\0\40)",
};
constexpr std::size_t producerPrefixBytes = 51;
static_assert(acceptedProducers[0].size() == producerPrefixBytes);
static_assert(acceptedProducers[1].size() == producerPrefixBytes);
static_assert(acceptedProducers[2].size() == producerPrefixBytes);

// Judges the first "/Producer" at or after `body`, wherever it stands: the
// scan is not confined to the Info dictionary. No "/Producer" is accepted.
bool isAcceptedProducer(const Byte* body, const Byte* end)
{
    const std::size_t window = producerKey.size() + producerPrefixBytes;
    for (const Byte* p = body; static_cast<std::size_t>(end - p) > window; ++p) {
        if (!matchesAt(p, end, producerKey)) continue;
        for (std::string_view prefix : acceptedProducers)
            if (matchesAt(p + producerKey.size(), end, prefix)) return true;
        return false;
    }
    return true;
}

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

// The declared samples as a block size; 0 when they are too many to ask
// for (nothing is then known in advance).
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

// Makes a 1-based range of a document of `pageCount` pages whole: 0 is an
// open end, and the ends may come in either order. False when either lies
// outside the document.
bool normalisePageRange(int pageCount, int* firstPage, int* lastPage)
{
    if (*firstPage < 0 || *lastPage < 0 || *firstPage > pageCount || *lastPage > pageCount) return false;
    if (*firstPage == 0) *firstPage = 1;
    if (*lastPage == 0) *lastPage = pageCount;
    if (*firstPage > *lastPage) std::swap(*firstPage, *lastPage);
    return true;
}

// The start of the line after the one at `line`.
const Byte* nextLine(const Byte* line, const Byte* end)
{
    const auto* lineEnd =
        static_cast<const Byte*>(std::memchr(line, '\n', static_cast<std::size_t>(end - line)));
    return lineEnd ? lineEnd + 1 : end;
}

std::size_t countLines(const Byte* start, const Byte* end)
{
    std::size_t lines = 0;
    for (const Byte* p = start; p < end; ++p)
        if (*p == '\n') ++lines;
    return lines;
}

}  // namespace

// The run's work buffers. Each pointer, count and object number lives in a
// small cell of its own that the run allocates as it gets to the step that
// fills it; a cell that cannot be had ends the run with that step's code.
// The document's cells hold its view: a mapping, or a block read where the
// file cannot be mapped (`documentRead`).
struct ExtractionRun::WorkBuffers {
    struct PageListCell {
        Byte* start;
        Byte* end;
    };
    const Byte** documentStart = nullptr;
    const Byte** documentEnd = nullptr;
    Byte* documentRead = nullptr;
    Byte** xrefStart = nullptr;
    Byte** xrefEnd = nullptr;
    std::int32_t* catalogueNumber = nullptr;
    PageListCell* pageList = nullptr;
    std::int32_t* outlineCount = nullptr;
    OutlineEntry** outlineEntries = nullptr;
};

// The first bookmark (record 1 on) of each page, so that naming a page
// costs no walk over every bookmark: bookmarks times pages would make a
// small file with many of both take minutes. -1 where no bookmark points.
struct ExtractionRun::TitleIndex {
    OwnedBlock<std::int32_t> firstEntry;
    std::size_t pages = 0;
    const OutlineEntry* entries = nullptr;

    // Builds the index over the `pageLines` pages of the PageList; false
    // when its block cannot be had.
    bool build(const OutlineEntry* outline, std::int32_t count, std::size_t pageLines)
    {
        entries = outline;
        if (!outline || pageLines == 0) return true;
        if (pageLines > std::numeric_limits<std::size_t>::max() / sizeof(std::int32_t)) return false;
        firstEntry.reset(reinterpret_cast<std::int32_t*>(allocBlock(pageLines * sizeof(std::int32_t))));
        if (!firstEntry) return false;
        pages = pageLines;
        std::int32_t* first = firstEntry.get();
        std::fill(first, first + pageLines, -1);
        for (std::int32_t k = count - 1; k >= 1; --k) {
            const std::int32_t page = outline[k].pageIndex;
            if (page >= 0 && static_cast<std::size_t>(page) < pageLines) first[page] = k;
        }
        return true;
    }
};

// The page loop's state: the files being written and whether a page failed.
class ExtractionRun::PageLoop {
public:
    PageLoop(ExtractionRun& run, PageWriting writing) : run_(run), writer_(run.wholeInflater_, writing) {}

    bool holdsName(const char* name) { return writer_.holdsName(name); }

    // Takes back and reports every file in hand, waiting for those still
    // being written.
    void settle()
    {
        while (takeBack(true)) {}
    }

    void fail(int pageNumber, PageStage stage, int code, int lastPageNumber = 0)
    {
        report(pageNumber, stage, code, lastPageNumber);
        pageFailed_ = true;
    }

    // Reports a page that wrote no file, after every file in hand.
    void report(int pageNumber, PageStage stage, int code = 0, int lastPageNumber = 0)
    {
        report(pageOutcome(pageNumber, stage, code, lastPageNumber));
    }

    // One image of a page that draws several, which wrote no file.
    void failImage(int pageNumber, int imageNumber, bool endsPage, PageStage stage, int code)
    {
        PageOutcome outcome = pageOutcome(pageNumber, stage, code, 0);
        outcome.imageNumber = imageNumber;
        outcome.endsPage = endsPage;
        report(std::move(outcome));
        pageFailed_ = true;
    }

    // Waits until a thread may take another Flate page, before the page's
    // block is allocated: no more pages' memory is alive than there are
    // threads to convert them.
    void makeRoomForPage()
    {
        writer_.waitForRoomForPage();
        while (takeBack(false)) {}
    }

    void write(PageFile&& file)
    {
        while (takeBack(false)) {}
        while (writer_.full(file)) takeBack(true);
        writer_.start(std::move(file));
    }

    // Reports the file a run would write, writing nothing.
    void list(PageFile&& file)
    {
        PageOutcome outcome = pageOutcome(file.pageNumber, PageStage::Listed, 0, 0);
        outcome.imageNumber = file.imageNumber;
        outcome.endsPage = file.endsPage;
        outcome.fileName = file.name + file.entryOffset;
        outcome.bytes = file.bytes() + (file.isBitmap ? file.bitmap.headerBytes : 0);
        outcome.facts = file.facts;
        outcome.title = std::move(file.title);
        run_.filesWritten_ = true;
        report(std::move(outcome));
    }

    // Settles the last files; whether any page failed.
    bool end()
    {
        settle();
        return pageFailed_;
    }

private:
    // Reports the oldest file in hand; false when there is none, or when it
    // is still being written and `wait` is false.
    bool takeBack(bool wait)
    {
        PageFile done;
        if (!writer_.takeBack(&done, wait)) return false;
        PageOutcome outcome;
        outcome.pageNumber = done.pageNumber;
        outcome.lastPageNumber = done.pageNumber;
        outcome.imageNumber = done.imageNumber;
        outcome.endsPage = done.endsPage;
        if (done.needsStreaming) {
            // Its turn has come: no later page's outcome is out yet.
            const bool stopped = run_.isStopRequested() || run_.hasDocumentChanged();
            int code = 0;
            const PageStage stage = stopped ? PageStage::Stopped : run_.inflateByStreaming(done, &code);
            if (stage != PageStage::Written) {
                outcome.stage = stage;
                outcome.code = code;
                if (stage != PageStage::Stopped) pageFailed_ = true;
                run_.report(std::move(outcome));
                return true;
            }
            writePageFile(done, run_.wholeInflater_);
        }
        if (done.code != 0 && (run_.isStopRequested() || run_.hasDocumentChanged())) {
            // Given up half-way because the run was asked to stop, or its
            // document changed: the page did not fail, and nothing of it was
            // left behind.
            outcome.stage = PageStage::Stopped;
        } else if (done.code != 0) {
            outcome.stage = done.conversionFailed ? (done.isEncoded ? PageStage::Encode : PageStage::WriteBmp)
                            : done.isEncoded      ? PageStage::WriteFile
                            : done.isBitmap       ? PageStage::WriteBmp
                                                  : PageStage::WriteJpeg;
            outcome.code = done.code;
            pageFailed_ = true;
        } else {
            run_.filesWritten_ = true;
            outcome.fileName = done.name + done.entryOffset;
            outcome.bytes = done.bytes() + (done.isBitmap ? done.bitmap.headerBytes : 0);
            outcome.facts = done.facts;
            outcome.title = std::move(done.title);
        }
        run_.report(std::move(outcome));
        return true;
    }

    void report(PageOutcome outcome)
    {
        settle();
        run_.report(std::move(outcome));
    }

    static PageOutcome pageOutcome(int pageNumber, PageStage stage, int code, int lastPageNumber)
    {
        PageOutcome outcome;
        outcome.pageNumber = pageNumber;
        outcome.lastPageNumber = lastPageNumber ? lastPageNumber : pageNumber;
        outcome.stage = stage;
        outcome.code = code;
        return outcome;
    }

    ExtractionRun& run_;
    PageFileWriter writer_;
    bool pageFailed_ = false;
};

ExtractionRun::ExtractionRun() : work_(new WorkBuffers) {}

ExtractionRun::~ExtractionRun()
{
    freeWorkBuffers();
    delete work_;
}

bool ExtractionRun::isStopRequested() const
{
    return stopRequested_.load(std::memory_order_relaxed) ||
           (externalStop_ && externalStop_->load(std::memory_order_relaxed));
}

// Whether the document is no longer what was mapped: the fault handler
// found a page gone, or the file is now shorter than the view.
bool ExtractionRun::hasDocumentChanged()
{
    if (documentChanged_.load()) return true;
    const std::int64_t length = document_.length();
    if (length >= 0 && static_cast<std::uint64_t>(length) < documentBytes_) documentChanged_.store(true);
    return documentChanged_.load();
}

void ExtractionRun::report(PageOutcome outcome)
{
    const std::int32_t covered = outcome.lastPageNumber - outcome.pageNumber + 1;
    if (outcome.endsPage) pagesDone_ += covered > 0 ? covered : 1;
    outcomes_.push_back(std::move(outcome));
    if (progress_) progress_(PageProgress{pagesDone_, pagesInRange_, outcomes_.back()});
}

bool ExtractionRun::formPageTitleName(const TitleIndex& titles, int pageIndex, const OutputNames& names,
                                      std::string_view extension, PathBuffer& name)
{
    if (!titles.firstEntry || static_cast<std::size_t>(pageIndex) >= titles.pages) return false;
    const std::int32_t record = titles.firstEntry.get()[pageIndex];
    if (record < 0) return false;
    const OutlineEntry* entry = titles.entries + record;
    // Many bookmarks may share one title object; decoding a title longer
    // than any a person writes for every page it names would cost pages
    // times its length.
    if (entry->titleLength > longestTitleBytes) return false;

    const int capacity = titleBufferBytes(entry->titleLength);
    OwnedBlock<char> title(reinterpret_cast<char*>(allocBlock(static_cast<std::size_t>(capacity))));
    if (!title) return false;
    const int titleBytes = titleToFileName(entry->titleText, entry->titleLength, title.get(), capacity);
    if (titleBytes < 1) return false;
    return formTitleName(names, title.get(), static_cast<std::size_t>(titleBytes), extension, name);
}

// One page, whose PageList line starts at `pageLine`.
void ExtractionRun::processPage(PageLoop& loop, int pageIndex, const Byte* pageLine, const OutputNames& names,
                                const TitleIndex& titles)
{
    const int pageNumber = pageIndex + 1;
    ImageInfo info;
    info.filter = Filter::Flate;
    // The page's line is handed over as the first line of the list, so the
    // locator need not walk the lines before it for every page.
    const int located = locatePageImage(reader_, 0, pageLine, work_->pageList->end, &info);
    if (located != 0) return loop.fail(pageNumber, PageStage::Locate, located);
    PageFile file;
    file.pageNumber = pageNumber;
    file.isBitmap = info.filter == Filter::Flate;
    file.isEncoded = file.isBitmap && pageFormat_ != OutputFormat::Bmp;
    file.stops = reader_.stops;
    file.facts.format = file.isBitmap ? formatName(pageFormat_) : "jpeg";
    file.facts.width = info.width;
    file.facts.height = info.height;
    file.facts.bits = info.bitsPerComponent;
    file.facts.colours = info.isGray ? 1 : 3;
    file.facts.storedBytes = static_cast<std::uint64_t>(info.streamLength);
    file.facts.dpiX = dotsPerInch(info.width, info.mediaWidth);
    file.facts.dpiY = dotsPerInch(info.height, info.mediaHeight);
    const std::string_view extension = !file.isBitmap                          ? ".jpg"
                                       : pageFormat_ == OutputFormat::Png  ? ".png"
                                       : pageFormat_ == OutputFormat::Tiff ? ".tif"
                                                                             : ".bmp";
    // With bookmark names two pages may share a name, and the later page's
    // picture must be the one left: a page waits for the file in hand of
    // the same name, and no other. A title's name is tried on the file
    // system only then, since the try makes and removes a file of that name.
    bool named = false;
    if (outlineNames_ && formPageTitleName(titles, pageIndex, names, extension, file.name)) {
        if (loop.holdsName(file.name)) loop.settle();
        named = isUsableName(file.name, names);
    }
    if (!named) {
        if (!formNumberedName(names, pageNumber, extension, file.name) ||
            (!archivePath_.empty() && !isUsableName(file.name, names)))
            return loop.fail(pageNumber, PageStage::Name, -1);
        if (outlineNames_ && loop.holdsName(file.name)) loop.settle();
    }

    if (!file.isBitmap) {
        file.jpegSource = &document_;
        file.jpegView = info.streamStart;
        file.jpegOffset = static_cast<std::uint64_t>(info.streamStart - reader_.start);
        file.jpegBytes = static_cast<std::size_t>(info.streamLength);
        return deliver(loop, std::move(file), names, titles, pageIndex);
    }

    // Both refusals come before any block the declared size calls for.
    if (!isBitmapDepth(info.bitsPerComponent)) return loop.fail(pageNumber, PageStage::WriteBmp, -10);
    if (declaresMoreThanItsStreamHolds(info))
        return loop.fail(pageNumber, PageStage::ImageTooLarge, declaredBeyondStream);
    if (!listing_ && archivePath_.empty() && isWholeInflationTried(info)) {
        // Inflated and converted by the thread that writes it, beside the
        // pages before and after it.
        loop.makeRoomForPage();
        PendingSamples pending;
        if (!firstInflationCapacity(info, &pending.capacity))
            return loop.fail(pageNumber, PageStage::InflateMemory, -1);
        pending.block.reset(allocBlock(pending.capacity));
        if (!pending.block) return loop.fail(pageNumber, PageStage::InflateMemory, -1);
        pending.info = info;
        pending.expected = expectedSampleBytes(info);
        pending.format = pageFormat_;
        pending.dpiX = file.facts.dpiX;
        pending.dpiY = file.facts.dpiY;
        file.pending = std::move(pending);
        return deliver(loop, std::move(file), names, titles, pageIndex);
    }
    OwnedBlock<Byte> samples;
    std::size_t produced = 0;
    const int inflated = inflatePage(info, wholeInflater_, &samples, &produced, file.stops);
    // A page given up half-way for a stop did not fail; the loop ends there.
    if (inflated == inflateStopped) return loop.report(pageNumber, PageStage::Stopped);
    if (inflated != 0) {
        const PageStage stage = inflated == inflationBoundExceeded ? PageStage::InflateBound
                                : inflated == -1 && !samples      ? PageStage::InflateMemory
                                                                  : PageStage::Inflate;
        return loop.fail(pageNumber, stage, inflated);
    }
    // The page before gives its bitmap back first: no more than two pages'
    // samples are held at once.
    loop.settle();
    PageSamples page;
    page.data = samples.get();
    page.bytes = produced;
    page.width = info.width;
    page.height = info.height;
    page.bits = info.bitsPerComponent;
    page.gray = info.isGray;
    page.dpiX = file.facts.dpiX;
    page.dpiY = file.facts.dpiY;
    std::string_view encodedExtension;
    const int converted = encodePageSamples(pageFormat_, page, &file.bitmap, &encodedExtension, file.stops);
    if (converted == bitmapStopped) return loop.report(pageNumber, PageStage::Stopped);
    if (converted != 0)
        return loop.fail(pageNumber, file.isEncoded ? PageStage::Encode : PageStage::WriteBmp, converted);
    samples.reset();
    deliver(loop, std::move(file), names, titles, pageIndex);
}

PageStage ExtractionRun::inflateByStreaming(PageFile& file, int* code)
{
    PendingSamples& pending = *file.pending;
    OwnedBlock<Byte> samples = std::move(pending.block);
    std::size_t produced = 0;
    const int inflated = inflatePage(pending.info, wholeInflater_, &samples, &produced, file.stops);
    if (inflated == inflateStopped) return PageStage::Stopped;
    if (inflated != 0) {
        *code = inflated;
        return inflated == inflationBoundExceeded ? PageStage::InflateBound
               : inflated == -1 && !samples      ? PageStage::InflateMemory
                                                 : PageStage::Inflate;
    }
    PageSamples page;
    page.data = samples.get();
    page.bytes = produced;
    page.width = pending.info.width;
    page.height = pending.info.height;
    page.bits = pending.info.bitsPerComponent;
    page.gray = pending.info.isGray;
    page.dpiX = pending.dpiX;
    page.dpiY = pending.dpiY;
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

namespace {

// An archive entry's name: the file's name without its folder.
std::size_t entryOffsetOf(const char* name, const OutputNames& names)
{
    return names.folderBytes <= std::strlen(name) ? names.folderBytes : 0;
}

}  // namespace

bool ExtractionRun::isUsableName(const char* name, const OutputNames& names) const
{
    if (!archivePath_.empty()) return archiveNames_.count(name + entryOffsetOf(name, names)) == 0;
    return listing_ || isUsableOutputName(name);
}

std::optional<std::string> ExtractionRun::pageTitle(const TitleIndex& titles, int pageIndex) const
{
    if (!titles.firstEntry || pageIndex < 0 || static_cast<std::size_t>(pageIndex) >= titles.pages) return std::nullopt;
    const std::int32_t record = titles.firstEntry.get()[pageIndex];
    if (record < 0) return std::nullopt;
    const OutlineEntry& entry = titles.entries[record];
    return titleToText(entry.titleText, entry.titleLength);
}

void ExtractionRun::deliver(PageLoop& loop, PageFile&& file, const OutputNames& names, const TitleIndex& titles,
                            int pageIndex)
{
    if (wantsTitles()) file.title = pageTitle(titles, pageIndex);
    if (!archivePath_.empty()) {
        // An archive holds each name once: a later page whose bookmark gives
        // a name taken gets its numbered one (isUsableName).
        file.entryOffset = entryOffsetOf(file.name, names);
        archiveNames_.insert(file.name + file.entryOffset);
    }
    if (listing_) return loop.list(std::move(file));
    file.archive = archive_.get();
    loop.write(std::move(file));
}

bool ExtractionRun::readDocument(const char* path)
{
    reader_.lastError = 0;
    if (!document_.open(path)) {
        openFailure_ = document_.failure();
        reader_.lastError = -1;
        return false;
    }
    const std::int64_t length = document_.length();
    if (length < 0 || static_cast<std::uint64_t>(length) > std::numeric_limits<std::size_t>::max()) {
        reader_.lastError = -2;
        return false;
    }
    const auto bytes = static_cast<std::size_t>(length);
    if (!isBlockPresent(work_->documentStart) || !isBlockPresent(work_->documentEnd)) {
        reader_.lastError = -2;
        return false;
    }
    documentBytes_ = bytes;
    if (const Byte* view = document_.map(bytes, &documentChanged_)) {
        *work_->documentStart = view;
        *work_->documentEnd = view + bytes;
        return true;
    }
    // A file system that cannot map: the file is read whole instead. Kept in
    // the work buffers from here on, so that freeWorkBuffers releases it
    // also when the read comes up short.
    Byte* block = allocBlock(bytes);
    if (!block) {
        reader_.lastError = -2;
        return false;
    }
    work_->documentRead = block;
    if (document_.readAll(block, bytes) != bytes) {
        reader_.lastError = -2;
        return false;
    }
    *work_->documentStart = block;
    *work_->documentEnd = block + bytes;
    return true;
}

void ExtractionRun::freeWorkBuffers()
{
    reader_.setSortedTable(nullptr, nullptr);
    reader_.start = nullptr;
    reader_.end = nullptr;
    WorkBuffers& work = *work_;
    if (isBlockPresent(work.documentStart)) freeBlock(work.documentStart);
    work.documentStart = nullptr;
    if (isBlockPresent(work.documentEnd)) freeBlock(work.documentEnd);
    work.documentEnd = nullptr;
    freeBlock(work.documentRead);
    work.documentRead = nullptr;
    document_.close();
    releaseCell(work.xrefStart);
    if (isBlockPresent(work.xrefEnd)) freeBlock(work.xrefEnd);
    work.xrefEnd = nullptr;
    releaseCell(work.catalogueNumber);
    if (isBlockPresent(work.pageList)) freeBlock(work.pageList->start);
    releaseCell(work.pageList);
    releaseCell(work.outlineCount);
    releaseCell(work.outlineEntries);
    releaseSpareBlocks();
}

namespace {

// A PDF begins with "%PDF-", which readers look for in the first kilobyte
// (some files carry a few bytes of another format before it).
constexpr std::size_t pdfHeaderReachBytes = 1024;

bool hasPdfHeader(const Byte* start, const Byte* end)
{
    if (!start) return false;
    const Byte* const reach =
        static_cast<std::size_t>(end - start) > pdfHeaderReachBytes ? start + pdfHeaderReachBytes : end;
    for (const Byte* p = start; p < reach; ++p)
        if (*p == '%' && matchesAt(p, end, "%PDF-")) return true;
    return false;
}

}  // namespace

RunFailure ExtractionRun::failureOf(int code) const
{
    switch (code) {
    case extractionOk: return RunFailure::None;
    case cannotOpenSource: return RunFailure::CannotOpen;
    case readDocumentFailed: return reader_.lastError == -1 ? RunFailure::CannotOpen : RunFailure::CannotRead;
    case noMemoryDocumentStart:
    case noMemoryDocumentEnd:
    case noMemoryXrefStart:
    case noMemoryXrefEnd:
    case noMemoryCatalogueNumber:
    case noMemoryPageList:
    case noMemoryOutlineOutputs: return RunFailure::NoMemory;
    case pageRangeOutOfBounds: return RunFailure::PageRange;
    case somePageNotWritten: return RunFailure::PagesMissing;
    case extractionStopped: return RunFailure::Stopped;
    case documentChanged: return RunFailure::DocumentChanged;
    case documentUnreadable: return RunFailure::CannotRead;
    case archiveNotWritten: return RunFailure::ArchiveNotWritten;
    case foreignProducer: return RunFailure::ForeignProducer;
    default: break;
    }
    // What the reader could not read may be no PDF at all: a text file or a
    // picture given the name of one.
    if (!hasPdfHeader(reader_.start, reader_.end)) return RunFailure::NotPdf;
    switch (code) {
    case readTrailerFailed: return reader_.isEncrypted ? RunFailure::Encrypted : RunFailure::DamagedXref;
    case collectPagesFailed: return RunFailure::DamagedPageTree;
    default: return RunFailure::DamagedInfo;
    }
}

// Whether the exact reader refused a sound PDF only for being laid out
// another way than Mesker's: the reason then says the general reader
// would read it.
bool ExtractionRun::isRefusedForeignLayout() const
{
    if (usedGeneralReader_ || isStopRequested() || documentChanged_.load()) return false;
    switch (failure_) {
    case RunFailure::DamagedXref:
    case RunFailure::DamagedPageTree: break;
    case RunFailure::PagesMissing:
        if (filesWritten_) return false;
        for (const PageOutcome& outcome : outcomes_)
            if (outcome.stage != PageStage::Locate && outcome.stage != PageStage::PastPageList) return false;
        break;
    default: return false;
    }
    if (carriesOwnProducer()) return false;
    GeneralDocument document;
    return document.open(reader_.start, static_cast<std::size_t>(reader_.end - reader_.start), reader_.stops) ==
           GeneralStatus::Ok;
}

void ExtractionRun::dropArchive()
{
    archive_.reset();
    // What went into the archive went with it.
    filesWritten_ = false;
    for (PageOutcome& outcome : outcomes_)
        if (outcome.stage == PageStage::Written) {
            outcome.stage = PageStage::Stopped;
            outcome.fileName.clear();
        }
}

// A list of the run's own (titles, outcomes, names) could not grow: the run
// ends there as when a block cannot be had, its page files whole and its
// archive gone.
int ExtractionRun::endForLackOfMemory()
{
    if (archive_) dropArchive();
    return endRun(noMemoryPageList);
}

// Ends the run with `code`, releasing every work buffer.
int ExtractionRun::endRun(int code)
{
    failure_ = failureOf(code);
    if (isRefusedForeignLayout()) failure_ = RunFailure::ForeignLayout;
    freeWorkBuffers();
    return code;
}

int ExtractionRun::run(const char* sourcePath, int firstPage, int lastPage, const char* outputBase)
{
    filesWritten_ = false;
    failure_ = RunFailure::None;
    openFailure_ = OpenFailure::None;
    pageCount_ = 0;
    pagesInRange_ = 0;
    pagesDone_ = 0;
    outcomes_.clear();
    usedGeneralReader_ = false;
    documentChanged_.store(false);
    documentBytes_ = 0;
    reader_.lastError = 0;
    reader_.isEncrypted = false;
    reader_.outlineOption = wantsTitles();
    const bool defaultForArchive = !outputFormat_ && !archivePath_.empty();
    pageFormat_ = outputFormat_.value_or(defaultForArchive ? OutputFormat::Png : OutputFormat::Bmp);
    faxForm_ = defaultForArchive ? FaxForm::Decoded : FaxForm::Coded;
    archive_.reset();
    archiveNames_.clear();
    reader_.infoObjectNumber = 0;
    // A stop reaches the reader wherever it scans, not only between pages.
    reader_.stops = StopFlags{{&stopRequested_, externalStop_, &documentChanged_}};
    int stepsResult = 0;
    try {
        stepsResult = runSteps(sourcePath, firstPage, lastPage, outputBase);
    } catch (const std::bad_alloc&) {
        stepsResult = endForLackOfMemory();
    } catch (const std::length_error&) {
        stepsResult = endForLackOfMemory();
    }
    int result = stepsResult;
    // A document cut short under the run may have left zeros where its bytes
    // were: whatever was read from there does not count.
    if (result != extractionStopped && documentChanged_.load())
        result = document_.readFailed() ? documentUnreadable : documentChanged;
    // A stop that came while the structure was read made the reader give up
    // where it was: that is no damage of the document.
    else if (result != extractionOk && result != cannotOpenSource && isStopRequested())
        result = extractionStopped;
    // None of these needs the document, which is gone by now.
    if (result != stepsResult) failure_ = failureOf(result);
    return result;
}

int ExtractionRun::runSteps(const char* sourcePath, int firstPage, int lastPage, const char* outputBase)
{
    if (!canOpenForReading(sourcePath, &openFailure_)) return endRun(cannotOpenSource);
    freeWorkBuffers();
    reader_.lastError = 0;
    WorkBuffers& work = *work_;
    if (!(work.documentStart = allocCell<const Byte*>())) return endRun(noMemoryDocumentStart);
    if (!(work.documentEnd = allocCell<const Byte*>())) return endRun(noMemoryDocumentEnd);
    if (!readDocument(sourcePath)) return endRun(readDocumentFailed);
    const Byte* docStart = *work.documentStart;
    const Byte* docEnd = *work.documentEnd;
    reader_.start = docStart;
    reader_.end = docEnd;
    // However the document's objects point at one another, reading its
    // structure costs at most a fixed multiple of its size.
    const std::uint64_t budgetBytes = scanBudget_ ? scanBudget_ : scanBudgetFor(static_cast<std::uint64_t>(docEnd - docStart));
    const ScanBudget budget(reader_, budgetBytes);

    if (!(work.xrefStart = allocCell<Byte*>())) return endRun(noMemoryXrefStart);
    if (!(work.xrefEnd = allocCell<Byte*>())) return endRun(noMemoryXrefEnd);
    if (!(work.catalogueNumber = allocCell<std::int32_t>())) return endRun(noMemoryCatalogueNumber);
    reader_.infoObjectNumber = 0;
    // The general reader takes over what the exact one refuses as another
    // producer's: never a document that names Mesker, Tolvin or Dravel.
    const auto handOver = [&] { return anyProducer_ && !isStopRequested() && !carriesOwnProducer(); };
    if (!readTrailer(reader_, work.xrefStart, work.xrefEnd, work.catalogueNumber))
        return handOver() ? runGeneral(firstPage, lastPage, outputBase) : endRun(readTrailerFailed);
    // The table is readTrailer's own, sorted with one line per object, so
    // every lookup of the run may bisect it.
    reader_.setSortedTable(*work.xrefStart, *work.xrefEnd);

    if (const std::int32_t info = reader_.infoObjectNumber; info >= 1) {
        const std::int64_t offset = lookupObjectOffset(reader_, *work.xrefStart, *work.xrefEnd, info);
        if (offset < 0) return endRun(infoNotInXref);
        const Byte* body = openObject(reader_, docStart, docEnd, offset, info);
        if (!body) return endRun(infoCannotBeOpened);
        if (!isAcceptedProducer(body, docEnd))
            return anyProducer_ ? runGeneral(firstPage, lastPage, outputBase) : endRun(foreignProducer);
    }

    if (!(work.pageList = allocCell<WorkBuffers::PageListCell>())) return endRun(noMemoryPageList);
    if (!(work.outlineCount = allocCell<std::int32_t>())) return endRun(noMemoryOutlineOutputs);
    if (!(work.outlineEntries = allocCell<OutlineEntry*>())) return endRun(noMemoryOutlineOutputs);
    int pageCount = collectPages(reader_, *work.catalogueNumber, &work.pageList->start, &work.pageList->end,
                                 work.outlineEntries, work.outlineCount);
    // Bookmarks read only for the page list or the archive must not fail a
    // document that a run without them reads: it goes on without them.
    if (pageCount < 1 && reader_.outlineOption && !outlineNames_ && !isStopRequested()) {
        reader_.outlineOption = false;
        reader_.lastError = 0;
        const ScanBudget again(reader_, budgetBytes);
        pageCount = collectPages(reader_, *work.catalogueNumber, &work.pageList->start, &work.pageList->end,
                                 work.outlineEntries, work.outlineCount);
    }
    if (pageCount < 1) return handOver() ? runGeneral(firstPage, lastPage, outputBase) : endRun(collectPagesFailed);

    // A /Count far above the pages listed must not cost time per missing
    // page: past the last PageList line every page fails alike.
    const std::size_t pageLines = countLines(work.pageList->start, work.pageList->end);
    // A page tree the exact reader follows, whose first page it cannot
    // find in Mesker's layout, is another producer's.
    // The first page is looked at before the producer: the look for the
    // producer passes over the whole document, which a Mesker document
    // read with -a must not pay for.
    if (anyProducer_) {
        ImageInfo probe;
        const bool firstPageFound =
            pageLines != 0 && locatePageImage(reader_, 0, work.pageList->start, work.pageList->end, &probe) == 0;
        if (!firstPageFound && handOver()) return runGeneral(firstPage, lastPage, outputBase);
    }
    pageCount_ = pageCount;
    if (!normalisePageRange(pageCount, &firstPage, &lastPage)) return endRun(pageRangeOutOfBounds);
    pagesInRange_ = lastPage - firstPage + 1;

    OutputNames names;
    setOutputNames(&names, outputBase, pageCount);

    const Byte* pageLine = work.pageList->start;
    for (int skipped = 0; skipped < firstPage - 1 && static_cast<std::size_t>(skipped) < pageLines; ++skipped)
        pageLine = nextLine(pageLine, work.pageList->end);
    TitleIndex titles;
    if (wantsTitles() && !titles.build(*work.outlineEntries, *work.outlineCount, pageLines))
        return endRun(noMemoryOutlineOutputs);
    return runPages(firstPage, lastPage, [&](PageLoop& loop, int pageIndex) {
        if (static_cast<std::size_t>(pageIndex) >= pageLines) {
            loop.fail(pageIndex + 1, PageStage::PastPageList, -1, lastPage);
            return false;
        }
        processPage(loop, pageIndex, pageLine, names, titles);
        pageLine = nextLine(pageLine, work.pageList->end);
        return true;
    });
}

int ExtractionRun::runPages(int firstPage, int lastPage, const std::function<bool(PageLoop&, int)>& page)
{
    bool pageFailed = false;
    bool stopped = false;
    PageWriting writing = pageWriting_;
    if (!archivePath_.empty() && !listing_) {
        archive_ = std::make_unique<PageArchive>();
        if (!archive_->create(archivePath_.c_str(), reader_.stops)) {
            archive_.reset();
            return endRun(isStopRequested() ? extractionStopped : archiveNotWritten);
        }
        // Entries go into the archive one after another, in page order.
        writing.threadLimit = 1;
    }
    {
        PageLoop loop(*this, writing);
        for (int pageIndex = firstPage - 1; pageIndex <= lastPage - 1; ++pageIndex) {
            if (isStopRequested() || documentChanged_.load()) {
                stopped = true;
                break;
            }
            if (!page(loop, pageIndex)) break;
        }
        pageFailed = loop.end();
        // A stop that came while the last files were written gave them up.
        stopped = stopped || isStopRequested() || hasDocumentChanged();
    }
    if (archive_) {
        // Only an archive of what a run leaves behind is put in place: none
        // after a stop, a document that changed, or when every page failed.
        // A run that wrote nothing for want of images ends Complete: its
        // archive holds the description alone.
        const bool wanted = !stopped && (filesWritten_ || !pageFailed);
        const bool placed = wanted && archive_->finish("ComicInfo.xml", comicInfo());
        if (!placed) {
            dropArchive();
            if (wanted) return endRun(isStopRequested() ? extractionStopped : archiveNotWritten);
        }
        archive_.reset();
    }
    if (stopped) return endRun(documentChanged_.load() ? documentChanged : extractionStopped);
    return endRun(pageFailed ? somePageNotWritten : extractionOk);
}

// The comic reader's description: how many pictures, and which begins each
// bookmarked page (counted from 0, in the archive's order).
std::string ExtractionRun::comicInfo() const
{
    std::vector<ComicBookmark> bookmarks;
    std::size_t entries = 0;
    int lastPage = 0;
    for (const PageOutcome& outcome : outcomes_) {
        if (outcome.stage != PageStage::Written) continue;
        if (outcome.pageNumber != lastPage && outcome.title) bookmarks.push_back({entries, *outcome.title});
        lastPage = outcome.pageNumber;
        ++entries;
    }
    return comicInfoXml(entries, bookmarks);
}

namespace {

// What one page's images may decode to, each: far above any scan (an A0
// page at 1200 dpi in 24-bit colour is 2 GB less a fifth), and a bound on
// what a forged image can make the run hold.
constexpr std::size_t generalImageLimitBytes = std::size_t{1} << 31;

// The digits of `count`, for zero-padded numbers up to it.
int digitsOf(std::size_t count)
{
    int digits = 1;
    for (; count >= 10; count /= 10) ++digits;
    return digits;
}

// "-K" zero-padded to the digits of the page's image count, then the
// extension; only the extension for a page's only image.
std::string imageSuffix(std::size_t imageNumber, std::size_t imageCount, std::string_view extension)
{
    std::string suffix;
    if (imageCount > 1) {
        std::string number = std::to_string(imageNumber);
        suffix.push_back('-');
        suffix.append(static_cast<std::size_t>(digitsOf(imageCount)) - number.size(), '0');
        suffix.append(number);
    }
    suffix.append(extension);
    return suffix;
}

std::string_view codingName(ImageCoding coding)
{
    switch (coding) {
    case ImageCoding::Jpeg: return "jpeg";
    case ImageCoding::Jpx: return "jp2";
    case ImageCoding::Ccitt: return "ccitt";
    case ImageCoding::Jbig2: return "jbig2";
    case ImageCoding::Samples: break;
    }
    return "";
}

// The components a JPEG or JPEG 2000 picture counts in its own header.
std::int32_t codedComponents(ImageCoding coding, const Byte* data, std::size_t bytes)
{
    if (coding == ImageCoding::Jpeg) return jpegComponents(data, bytes);
    return coding == ImageCoding::Jpx ? jpxComponents(data, bytes) : 0;
}

ImageFacts generalFacts(const GeneralImage& image)
{
    ImageFacts facts;
    facts.format = codingName(image.coding);
    facts.width = image.width;
    facts.height = image.height;
    facts.bits = image.bitsPerComponent;
    facts.colours = image.colour == ColourModel::Indexed ? 1 : image.components;
    facts.storedBytes = image.storedBytes;
    facts.dpiX = dotsPerInch(image.width, image.mediaWidth);
    facts.dpiY = dotsPerInch(image.height, image.mediaHeight);
    return facts;
}

}  // namespace

// Whether some "/Producer" of the document names one of the accepted
// producers, in whichever revision: such a document is read the exact way
// alone.
bool ExtractionRun::carriesOwnProducer() const
{
    if (!reader_.start) return false;
    const std::string_view document(reinterpret_cast<const char*>(reader_.start),
                                    static_cast<std::size_t>(reader_.end - reader_.start));
    for (std::size_t at = document.find(producerKey); at != std::string_view::npos;
         at = document.find(producerKey, at + 1)) {
        const Byte* const after = reader_.start + at + producerKey.size();
        for (std::string_view prefix : acceptedProducers)
            if (matchesAt(after, reader_.end, prefix)) return true;
    }
    return false;
}

int ExtractionRun::runGeneral(int firstPage, int lastPage, const char* outputBase)
{
    usedGeneralReader_ = true;
    reader_.lastError = 0;
    reader_.isEncrypted = false;
    GeneralDocument document;
    switch (document.open(reader_.start, static_cast<std::size_t>(reader_.end - reader_.start), reader_.stops)) {
    case GeneralStatus::Ok: break;
    case GeneralStatus::Encrypted: reader_.isEncrypted = true; return endRun(readTrailerFailed);
    case GeneralStatus::NoMemory: return endRun(noMemoryPageList);
    case GeneralStatus::Stopped: return endRun(extractionStopped);
    default: return endRun(readTrailerFailed);
    }
    const int pageCount = document.pageCount();
    pageCount_ = pageCount;
    if (!normalisePageRange(pageCount, &firstPage, &lastPage)) return endRun(pageRangeOutOfBounds);
    pagesInRange_ = lastPage - firstPage + 1;
    OutputNames names;
    setOutputNames(&names, outputBase, pageCount);

    // The bookmarks as the exact reader gives them: record 0 the outline
    // root, then each named page's first bookmark, its title a string token.
    std::vector<std::string> titleTokens;
    std::vector<OutlineEntry> outline(1, OutlineEntry{0, nullptr, -1});
    TitleIndex titles;
    if (wantsTitles()) {
        titleTokens = document.firstBookmarkTitles();
        for (std::size_t page = 0; page < titleTokens.size(); ++page) {
            const std::string& token = titleTokens[page];
            if (token.empty() || token.size() > static_cast<std::size_t>(longestTitleBytes)) continue;
            outline.push_back(OutlineEntry{static_cast<std::int32_t>(token.size()),
                                           reinterpret_cast<const Byte*>(token.data()), static_cast<std::int32_t>(page)});
        }
        if (!titles.build(outline.data(), static_cast<std::int32_t>(outline.size()), static_cast<std::size_t>(pageCount)))
            return endRun(noMemoryOutlineOutputs);
    }
    return runPages(firstPage, lastPage, [&](PageLoop& loop, int pageIndex) {
        processGeneralPage(loop, document, pageIndex, names, titles);
        return true;
    });
}

void ExtractionRun::processGeneralPage(PageLoop& loop, GeneralDocument& document, int pageIndex,
                                       const OutputNames& names, const TitleIndex& titles)
{
    const int pageNumber = pageIndex + 1;
    std::vector<GeneralImage> images;
    const GeneralStatus listed = document.pageImages(pageIndex, &images);
    if (listed == GeneralStatus::Stopped) return loop.report(pageNumber, PageStage::Stopped);
    if (listed != GeneralStatus::Ok) return loop.fail(pageNumber, PageStage::Decode, static_cast<int>(listed));
    if (images.empty()) return loop.report(pageNumber, PageStage::NoImage);
    const std::size_t count = images.size();
    for (std::size_t k = 0; k < count; ++k) {
        const GeneralImage& image = images[k];
        const int imageNumber = count > 1 ? static_cast<int>(k + 1) : 0;
        const bool endsPage = k + 1 == count;
        if (isStopRequested() || documentChanged_.load()) return loop.report(pageNumber, PageStage::Stopped);
        PageFile file;
        file.pageNumber = pageNumber;
        file.imageNumber = imageNumber;
        file.endsPage = endsPage;
        file.stops = reader_.stops;
        file.facts = generalFacts(image);
        // Coded bytes that stand in the file as they are go from there to
        // the page file, as a JPEG page of Mesker's does.
        if (image.inPlaceOffset >= 0 && static_cast<std::uint64_t>(image.inPlaceOffset) + image.storedBytes <= documentBytes_) {
            file.jpegSource = &document_;
            file.jpegView = reader_.start + image.inPlaceOffset;
            file.jpegOffset = static_cast<std::uint64_t>(image.inPlaceOffset);
            file.jpegBytes = static_cast<std::size_t>(image.storedBytes);
            if (file.facts.colours == 0) file.facts.colours = codedComponents(image.coding, file.jpegView, file.jpegBytes);
            const std::string extension =
                imageSuffix(k + 1, count, image.coding == ImageCoding::Jpeg ? ".jpg" : ".jp2");
            if (nameGeneralFile(loop, pageIndex, names, titles, extension, file))
                deliver(loop, std::move(file), names, titles, pageIndex);
            else
                loop.failImage(pageNumber, imageNumber, endsPage, PageStage::Name, -1);
            continue;
        }
        // The page before gives its files back first, so that no more than
        // two images' decoded bytes are held at once.
        loop.settle();
        StreamBytes data;
        StreamBytes globals;
        const GeneralStatus read = document.imageData(image, generalImageLimitBytes, &data, &globals);
        if (read == GeneralStatus::Stopped) return loop.report(pageNumber, PageStage::Stopped);
        if (read != GeneralStatus::Ok) {
            loop.failImage(pageNumber, imageNumber, endsPage, PageStage::Decode, static_cast<int>(read));
            continue;
        }
        if (file.facts.colours == 0) file.facts.colours = codedComponents(image.coding, data.block.get(), data.bytes);
        file.isBitmap = true;
        ImageFile prepared;
        const int encoded =
            prepareImageFile(image, std::move(data), globals, generalImageLimitBytes, pageFormat_, &prepared, file.stops, faxForm_);
        if (encoded == encodeStopped) return loop.report(pageNumber, PageStage::Stopped);
        if (encoded != 0) {
            loop.failImage(pageNumber, imageNumber, endsPage, PageStage::Encode, encoded);
            continue;
        }
        file.isEncoded = prepared.extension != ".bmp";
        file.bitmap = std::move(prepared.file);
        if (image.coding == ImageCoding::Samples)
            file.facts.format = prepared.extension == ".bmp"   ? formatName(OutputFormat::Bmp)
                                : prepared.extension == ".png" ? formatName(OutputFormat::Png)
                                                               : formatName(OutputFormat::Tiff);
        const std::string extension = imageSuffix(k + 1, count, prepared.extension);
        if (nameGeneralFile(loop, pageIndex, names, titles, extension, file))
            deliver(loop, std::move(file), names, titles, pageIndex);
        else
            loop.failImage(pageNumber, imageNumber, endsPage, PageStage::Name, -1);
    }
}

// Names a file of the general reader as processPage names a page's: after
// the page's bookmark, else by its number; false when no name fits.
bool ExtractionRun::nameGeneralFile(PageLoop& loop, int pageIndex, const OutputNames& names, const TitleIndex& titles,
                                    std::string_view extension, PageFile& file)
{
    if (outlineNames_ && formPageTitleName(titles, pageIndex, names, extension, file.name)) {
        if (loop.holdsName(file.name)) loop.settle();
        if (isUsableName(file.name, names)) return true;
    }
    if (!formNumberedName(names, pageIndex + 1, extension, file.name)) return false;
    if (!archivePath_.empty() && !isUsableName(file.name, names)) return false;
    if (outlineNames_ && loop.holdsName(file.name)) loop.settle();
    return true;
}

ExtractionOutcome outcomeOf(int result, bool written)
{
    if (result == extractionOk) return ExtractionOutcome::Complete;
    // The pages written before the document changed are whole, but what the
    // run read after may not have been the document: the run failed.
    if (result == documentChanged || result == documentUnreadable) return ExtractionOutcome::Failure;
    return written ? ExtractionOutcome::CompletePartly : ExtractionOutcome::Failure;
}

}  // namespace ravoth
