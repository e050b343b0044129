#include "job/exact_source.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string_view>
#include <utility>

#include "job/flate_pages.h"
#include "job/page_files.h"
#include "job/page_loop.h"
#include "job/run_result.h"
#include "pdf/title_name.h"

namespace ravoth {

namespace {

// A title of this many bytes as written already gives a name past the
// system's limit, escapes and hex digits included.
constexpr std::int32_t longestTitleBytes = 4096;

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

std::string_view extensionOf(OutputFormat format)
{
    return format == OutputFormat::Png ? ".png" : format == OutputFormat::Tiff ? ".tif" : ".bmp";
}

}  // namespace

void releaseStructureCells(RunBuffers& work)
{
    releaseCell(work.xrefStart);
    if (isBlockPresent(work.xrefEnd)) freeBlock(work.xrefEnd);
    work.xrefEnd = nullptr;
    releaseCell(work.catalogueNumber);
    if (isBlockPresent(work.pageList)) freeBlock(work.pageList->start);
    releaseCell(work.pageList);
    releaseCell(work.outlineCount);
    releaseCell(work.outlineEntries);
}

bool carriesOwnProducer(const DocumentReader& reader)
{
    if (!reader.start) return false;
    const std::string_view document(reinterpret_cast<const char*>(reader.start),
                                    static_cast<std::size_t>(reader.end - reader.start));
    for (std::size_t at = document.find(producerKey); at != std::string_view::npos;
         at = document.find(producerKey, at + 1)) {
        const Byte* const after = reader.start + at + producerKey.size();
        for (std::string_view prefix : acceptedProducers)
            if (matchesAt(after, reader.end, prefix)) return true;
    }
    return false;
}

ExactSource::Opening ExactSource::open()
{
    RunBuffers& work = work_;
    if (!(work.xrefStart = allocCell<Byte*>())) return {noMemoryXrefStart};
    if (!(work.xrefEnd = allocCell<Byte*>())) return {noMemoryXrefEnd};
    if (!(work.catalogueNumber = allocCell<std::int32_t>())) return {noMemoryCatalogueNumber};
    reader_.infoObjectNumber = 0;
    if (!readTrailer(reader_, work.xrefStart, work.xrefEnd, work.catalogueNumber))
        return {readTrailerFailed, HandOver::UnlessOwnProducer};
    // The table is readTrailer's own, sorted with one line per object, so
    // every lookup of the run may bisect it.
    reader_.setSortedTable(*work.xrefStart, *work.xrefEnd);

    if (const std::int32_t info = reader_.infoObjectNumber; info >= 1) {
        const std::int64_t offset = lookupObjectOffset(reader_, *work.xrefStart, *work.xrefEnd, info);
        if (offset < 0) return {infoNotInXref};
        const Byte* body = openObject(reader_, reader_.start, reader_.end, offset, info);
        if (!body) return {infoCannotBeOpened};
        if (!isAcceptedProducer(body, reader_.end)) return {foreignProducer, HandOver::Yes};
    }

    if (!(work.pageList = allocCell<RunBuffers::PageListCell>())) return {noMemoryPageList};
    if (!(work.outlineCount = allocCell<std::int32_t>())) return {noMemoryOutlineOutputs};
    if (!(work.outlineEntries = allocCell<OutlineEntry*>())) return {noMemoryOutlineOutputs};
    const int pageCount = collect();
    if (pageCount < 1) return {collectPagesFailed, HandOver::UnlessOwnProducer};

    // A /Count far above the pages listed must not cost time per missing
    // page: past the last PageList line every page fails alike.
    pageLines_ = countLines(work.pageList->start, work.pageList->end);
    line_ = work.pageList->start;
    pageCount_ = pageCount;
    // A page tree the exact reader follows, whose first page it cannot
    // find in Mesker's layout, is another producer's. The first page is
    // looked at before the producer: the look for the producer passes over
    // the whole document, which a Mesker document read with -a must not
    // pay for.
    if (settings_.anyProducer) {
        ImageInfo probe;
        if (pageLines_ == 0 || locatePageImage(reader_, 0, line_, work.pageList->end, &probe) != 0)
            return {extractionOk, HandOver::UnlessOwnProducer};
    }
    return {};
}

int ExactSource::collect()
{
    RunBuffers& work = work_;
    reader_.outlineOption = settings_.readTitles;
    int pageCount = collectPages(reader_, *work.catalogueNumber, &work.pageList->start, &work.pageList->end,
                                 work.outlineEntries, work.outlineCount);
    // Bookmarks read only for the page list or the archive must not fail a
    // document that a run without them reads: it goes on without them.
    if (pageCount < 1 && reader_.outlineOption && !settings_.titlesName && !reader_.stops.isRaised()) {
        reader_.outlineOption = false;
        reader_.lastError = 0;
        // A tree whose root counts no pages still hands out its page list
        // (and any bookmarks): the second reading would write over them.
        freeBlock(std::exchange(work.pageList->start, nullptr));
        work.pageList->end = nullptr;
        freeBlock(std::exchange(*work.outlineEntries, nullptr));
        *work.outlineCount = 0;
        const ScanBudget again(reader_, settings_.budgetBytes);
        pageCount = collectPages(reader_, *work.catalogueNumber, &work.pageList->start, &work.pageList->end,
                                 work.outlineEntries, work.outlineCount);
    }
    return pageCount;
}

bool ExactSource::readTitles()
{
    const OutlineEntry* outline = *work_.outlineEntries;
    if (!settings_.readTitles || !outline || pageLines_ == 0) return true;
    if (pageLines_ > std::numeric_limits<std::size_t>::max() / sizeof(std::int32_t)) return false;
    firstEntry_.reset(reinterpret_cast<std::int32_t*>(allocBlock(pageLines_ * sizeof(std::int32_t))));
    if (!firstEntry_) return false;
    std::int32_t* first = firstEntry_.get();
    std::fill(first, first + pageLines_, -1);
    for (std::int32_t k = *work_.outlineCount - 1; k >= 1; --k) {
        const std::int32_t page = outline[k].pageIndex;
        if (page >= 0 && static_cast<std::size_t>(page) < pageLines_) first[page] = k;
    }
    return true;
}

const OutlineEntry* ExactSource::titleEntry(int pageIndex) const
{
    if (!firstEntry_ || pageIndex < 0 || static_cast<std::size_t>(pageIndex) >= pageLines_) return nullptr;
    const std::int32_t record = firstEntry_.get()[pageIndex];
    return record < 0 ? nullptr : *work_.outlineEntries + record;
}

bool ExactSource::formTitleName(int pageIndex, const OutputNames& names, std::string_view extension,
                                PathBuffer& name)
{
    const OutlineEntry* entry = titleEntry(pageIndex);
    // Many bookmarks may share one title object; decoding a title longer
    // than any a person writes for every page it names would cost pages
    // times its length.
    if (!entry || entry->titleLength > longestTitleBytes) return false;
    const int capacity = titleBufferBytes(entry->titleLength);
    OwnedBlock<char> title(reinterpret_cast<char*>(allocBlock(static_cast<std::size_t>(capacity))));
    if (!title) return false;
    const int titleBytes = titleToFileName(entry->titleText, entry->titleLength, title.get(), capacity);
    if (titleBytes < 1) return false;
    return ravoth::formTitleName(names, title.get(), static_cast<std::size_t>(titleBytes), extension, name);
}

std::optional<std::string> ExactSource::titleText(int pageIndex)
{
    const OutlineEntry* entry = titleEntry(pageIndex);
    if (!entry) return std::nullopt;
    return titleToText(entry->titleText, entry->titleLength);
}

ImageStep ExactSource::openPage(int pageIndex, std::size_t* images)
{
    if (static_cast<std::size_t>(pageIndex) >= pageLines_) return {PageStage::PastPageList, -1};
    for (; lineIndex_ < pageIndex; ++lineIndex_) line_ = nextLine(line_, work_.pageList->end);
    info_ = ImageInfo{};
    info_.filter = Filter::Flate;
    // The page's line is handed over as the first line of the list, so the
    // locator need not walk the lines before it for every page.
    const int located = locatePageImage(reader_, 0, line_, work_.pageList->end, &info_);
    if (located != 0) return {PageStage::Locate, located};
    *images = 1;
    return {};
}

ImageStep ExactSource::describeImage(std::size_t, PageFile& file, std::string_view* extension)
{
    const ImageInfo& info = info_;
    const OutputFormat format = settings_.format;
    file.isBitmap = info.filter == Filter::Flate;
    file.isEncoded = file.isBitmap && format != OutputFormat::Bmp;
    file.facts.format = file.isBitmap ? formatName(format) : "jpeg";
    file.facts.width = info.width;
    file.facts.height = info.height;
    file.facts.bits = info.bitsPerComponent;
    file.facts.colours = info.isGray ? 1 : 3;
    file.facts.storedBytes = static_cast<std::uint64_t>(info.streamLength);
    file.facts.dpiX = dotsPerInch(info.width, info.mediaWidth);
    file.facts.dpiY = dotsPerInch(info.height, info.mediaHeight);
    *extension = file.isBitmap ? extensionOf(format) : ".jpg";
    if (!file.isBitmap) {
        file.jpegSource = &document_;
        file.jpegView = info.streamStart;
        file.jpegOffset = static_cast<std::uint64_t>(info.streamStart - reader_.start);
        file.jpegBytes = static_cast<std::size_t>(info.streamLength);
    }
    return {};
}

ImageStep ExactSource::loadImage(PageFile& file, PageLoop& loop)
{
    if (!file.isBitmap) return {};
    const ImageInfo& info = info_;
    // Both refusals come before any block the declared size calls for.
    if (!isBitmapDepth(info.bitsPerComponent)) return {PageStage::WriteBmp, -10};
    if (declaresMoreThanItsStreamHolds(info)) return {PageStage::ImageTooLarge, declaredBeyondStream};
    if (!isWholeInflationTried(info)) return inflateHere(file, loop);
    // Inflated and converted by the thread that writes it, beside the
    // pages before and after it.
    loop.makeRoomForPage();
    PendingSamples pending;
    if (!firstInflationCapacity(info, &pending.capacity)) return {PageStage::InflateMemory, -1};
    pending.block.reset(allocBlock(pending.capacity));
    if (!pending.block) return {PageStage::InflateMemory, -1};
    pending.info = info;
    pending.expected = expectedSampleBytes(info);
    pending.format = settings_.format;
    pending.dpiX = file.facts.dpiX;
    pending.dpiY = file.facts.dpiY;
    file.pending = std::move(pending);
    return {};
}

ImageStep ExactSource::inflateHere(PageFile& file, PageLoop& loop)
{
    OwnedBlock<Byte> samples;
    std::size_t produced = 0;
    const int inflated = inflatePage(info_, inflater_, &samples, &produced, file.stops);
    // A page given up half-way for a stop did not fail; the loop ends there.
    if (inflated == inflateStopped) return {PageStage::Stopped, 0};
    if (inflated != 0) return {inflationStage(inflated, static_cast<bool>(samples)), inflated};
    // The page before gives its bitmap back first: no more than two pages'
    // samples are held at once.
    loop.settle();
    PendingSamples geometry;
    geometry.info = info_;
    geometry.dpiX = file.facts.dpiX;
    geometry.dpiY = file.facts.dpiY;
    std::string_view extension;
    const int converted = encodePageSamples(settings_.format, geometry.samplesOf(samples.get(), produced),
                                            &file.bitmap, &extension, file.stops);
    if (converted == bitmapStopped) return {PageStage::Stopped, 0};
    if (converted != 0) return {file.isEncoded ? PageStage::Encode : PageStage::WriteBmp, converted};
    return {};
}

}  // namespace ravoth
