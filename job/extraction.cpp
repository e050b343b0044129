#include "job/extraction.h"

#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <string_view>
#include <type_traits>
#include <utility>

#include "image/bmp_writer.h"
#include "image/inflate.h"
#include "image/page_image.h"
#include "platform/file.h"
#include "platform/memory.h"

namespace ravoth {

bool filesWritten = false;

namespace {

std::vector<PageOutcome>* pageOutcomes = nullptr;

// The run's work buffers. Each pointer, count and object number lives in a
// small cell of its own that the run allocates as it gets to the step that
// fills it; a cell that cannot be had ends the run with that step's code.
struct DocumentCell {
    Byte* start;
    Byte* end;
};
struct PageListCell {
    Byte* start;
    Byte* end;
};
struct OutlineCell {
    OutlineEntry* entries;
    std::int32_t count;
};

struct WorkBuffers {
    Byte** documentStart = nullptr;
    Byte** documentEnd = nullptr;
    Byte** xrefStart = nullptr;
    Byte** xrefEnd = nullptr;
    std::int32_t* catalogueNumber = nullptr;
    PageListCell* pageList = nullptr;
    std::int32_t* outlineCount = nullptr;
    OutlineEntry** outlineEntries = nullptr;
};

WorkBuffers work;

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

struct RunNames {
    char stem[maxPathBytes + 1];
    std::size_t stemBytes;
    int numberWidth;
};

bool endsWithPdf(const char* path, std::size_t bytes)
{
    if (bytes < 4) return false;
    const char* tail = path + bytes - 4;
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return tail[0] == '.' && lower(tail[1]) == 'p' && lower(tail[2]) == 'd' && lower(tail[3]) == 'f';
}

int decimalDigits(std::int64_t value)
{
    int digits = 1;
    while (value >= 10) {
        value /= 10;
        ++digits;
    }
    return digits;
}

// stem "-" zero-padded page number, extension. False when the name would
// not fit the platform's path length.
bool formNumberedName(const RunNames& names, int pageNumber, std::string_view extension,
                      char (&name)[maxPathBytes + 1])
{
    const int digits = decimalDigits(pageNumber);
    const int padding = names.numberWidth > digits ? names.numberWidth - digits : 0;
    const std::size_t bytes =
        names.stemBytes + 1 + static_cast<std::size_t>(padding + digits) + extension.size();
    if (bytes > maxPathBytes) return false;
    char* p = name;
    std::memcpy(p, names.stem, names.stemBytes);
    p += names.stemBytes;
    *p++ = '-';
    for (int i = 0; i < padding; ++i) *p++ = '0';
    for (int i = digits - 1, value = pageNumber; i >= 0; --i, value /= 10) p[i] = static_cast<char>('0' + value % 10);
    p += digits;
    std::memcpy(p, extension.data(), extension.size());
    p[extension.size()] = '\0';
    return true;
}

void report(int pageNumber, PageStage stage, int code, const char* fileName = nullptr)
{
    if (!pageOutcomes) return;
    PageOutcome outcome;
    outcome.pageNumber = pageNumber;
    outcome.lastPageNumber = pageNumber;
    outcome.stage = stage;
    outcome.code = code;
    if (fileName) outcome.fileName = fileName;
    pageOutcomes->push_back(std::move(outcome));
}

// Writes a DCT page's stream unchanged. 0, or -1 when the file cannot be
// created, -2 when writing or closing fails (the partial file is removed).
int writeJpegFile(const char* name, const Byte* data, std::size_t bytes)
{
    OutputFile file;
    if (!file.create(name)) return -1;
    const bool written = file.write(data, bytes);
    if (!file.close() || !written) {
        deleteFile(name);
        return -2;
    }
    return 0;
}

// Inflates a Flate page with the retry ladder: 20, 30, 40, ... times the
// stream length while the block is too small. The page fails when a block
// cannot be had (or its size cannot be represented) or inflation fails.
// Returns the block (owned by the caller) and its produced size.
int inflatePage(const ImageInfo& info, OwnedBlock<Byte>* samples, std::size_t* produced)
{
    const auto streamBytes = static_cast<std::size_t>(info.streamLength);
    for (std::size_t multiplier = 20;; multiplier += 10) {
        if (streamBytes != 0 && multiplier > std::numeric_limits<std::size_t>::max() / streamBytes)
            return -1;
        std::size_t capacity = multiplier * streamBytes;
        samples->reset(allocZeroedBlock(capacity));
        if (!*samples) return -1;
        const int result = inflateStream(info.streamData, streamBytes, samples->get(), capacity);
        if (result == 0) {
            *produced = capacity;
            return 0;
        }
        if (result != -10) return result;
    }
}

// One page; false when it failed.
bool processPage(int pageIndex, const RunNames& names)
{
    const int pageNumber = pageIndex + 1;
    ImageInfo info;
    info.filter = Filter::Flate;
    info.streamData = nullptr;
    const Byte* docStart = *work.documentStart;
    const int located = locatePageImage(docStart, *work.documentEnd, pageIndex, *work.xrefStart,
                                        *work.xrefEnd, work.pageList->start, work.pageList->end,
                                        &info);
    if (located != 0) {
        report(pageNumber, PageStage::Locate, located);
        return false;
    }
    OwnedBlock<Byte> stream(info.streamData);
    char name[maxPathBytes + 1];
    const bool isFlate = info.filter == Filter::Flate;
    // FIXME: outline titles as names arrive with the outline reader.
    if (!formNumberedName(names, pageNumber, isFlate ? ".bmp" : ".jpg", name)) {
        report(pageNumber, PageStage::Name, -1);
        return false;
    }

    if (!isFlate) {
        const int written = writeJpegFile(name, stream.get(), static_cast<std::size_t>(info.streamLength));
        if (written != 0) {
            report(pageNumber, PageStage::WriteJpeg, written);
            return false;
        }
        filesWritten = true;
        report(pageNumber, PageStage::Written, 0, name);
        return true;
    }

    OwnedBlock<Byte> samples;
    std::size_t produced = 0;
    const int inflated = inflatePage(info, &samples, &produced);
    if (inflated != 0) {
        report(pageNumber, inflated == -1 && !samples ? PageStage::InflateMemory : PageStage::Inflate,
               inflated);
        return false;
    }
    stream.reset();
    const int written = writeBmpFile(name, samples.get(), produced, info.width, info.height,
                                     info.bitsPerComponent, info.isGray);
    if (written != 0) {
        report(pageNumber, PageStage::WriteBmp, written);
        return false;
    }
    filesWritten = true;
    report(pageNumber, PageStage::Written, 0, name);
    return true;
}

std::size_t countLines(const Byte* start, const Byte* end)
{
    std::size_t lines = 0;
    for (const Byte* p = start; p < end; ++p)
        if (*p == '\n') ++lines;
    return lines;
}

// Ends the run with `code`, releasing every work buffer.
int endRun(int code)
{
    freeWorkBuffers();
    return code;
}

}  // namespace

void setPageOutcomeList(std::vector<PageOutcome>* list) { pageOutcomes = list; }

ExtractionOutcome outcomeOf(int result, bool written)
{
    if (result == extractionOk) return ExtractionOutcome::Complete;
    return written ? ExtractionOutcome::CompletePartly : ExtractionOutcome::Failure;
}

bool readDocument(const char* path)
{
    LastError = 0;
    InputFile file;
    if (!file.open(path)) {
        LastError = -1;
        return false;
    }
    const std::int64_t length = file.length();
    if (length < 0 || static_cast<std::uint64_t>(length) > std::numeric_limits<std::size_t>::max()) {
        LastError = -2;
        return false;
    }
    const auto bytes = static_cast<std::size_t>(length);
    Byte* block = isBlockPresent(work.documentStart) ? allocBlock(bytes) : nullptr;
    if (!block) {
        LastError = -2;
        return false;
    }
    // Kept in the work buffers from here on, so that freeWorkBuffers
    // releases it also when the read comes up short.
    *work.documentStart = block;
    if (file.readAll(block, bytes) != bytes) {
        LastError = -2;
        return false;
    }
    *work.documentEnd = block + bytes;
    return true;
}

void freeWorkBuffers()
{
    releaseCell(work.documentStart);
    if (isBlockPresent(work.documentEnd)) freeBlock(work.documentEnd);
    work.documentEnd = nullptr;
    releaseCell(work.xrefStart);
    if (isBlockPresent(work.xrefEnd)) freeBlock(work.xrefEnd);
    work.xrefEnd = nullptr;
    releaseCell(work.catalogueNumber);
    if (isBlockPresent(work.pageList)) freeBlock(work.pageList->start);
    releaseCell(work.pageList);
    releaseCell(work.outlineCount);
    releaseCell(work.outlineEntries);
}

int runExtraction(const char* sourcePath, int firstPage, int lastPage, const char* outputBase)
{
    filesWritten = false;
    if (!canOpenForReading(sourcePath)) return cannotOpenSource;
    freeWorkBuffers();
    LastError = 0;
    if (!(work.documentStart = allocCell<Byte*>())) return endRun(noMemoryDocumentStart);
    if (!(work.documentEnd = allocCell<Byte*>())) return endRun(noMemoryDocumentEnd);
    if (!readDocument(sourcePath)) return endRun(readDocumentFailed);
    const Byte* docStart = *work.documentStart;
    const Byte* docEnd = *work.documentEnd;

    if (!(work.xrefStart = allocCell<Byte*>())) return endRun(noMemoryXrefStart);
    if (!(work.xrefEnd = allocCell<Byte*>())) return endRun(noMemoryXrefEnd);
    if (!(work.catalogueNumber = allocCell<std::int32_t>())) return endRun(noMemoryCatalogueNumber);
    infoObjectNumber = 0;
    if (!readTrailer(docStart, docEnd, work.xrefStart, work.xrefEnd, work.catalogueNumber))
        return endRun(readTrailerFailed);

    if (infoObjectNumber >= 1) {
        const int offset = lookupObjectOffset(*work.xrefStart, *work.xrefEnd, infoObjectNumber);
        if (offset < 0) return endRun(infoNotInXref);
        const Byte* body = openObject(docStart, docEnd, offset, infoObjectNumber);
        if (!body) return endRun(infoCannotBeOpened);
        if (!isAcceptedProducer(body, docEnd)) return endRun(foreignProducer);
    }

    if (!(work.pageList = allocCell<PageListCell>())) return endRun(noMemoryPageList);
    if (!(work.outlineCount = allocCell<std::int32_t>())) return endRun(noMemoryOutlineOutputs);
    if (!(work.outlineEntries = allocCell<OutlineEntry*>())) return endRun(noMemoryOutlineOutputs);
    const int pageCount = collectPages(docStart, docEnd, *work.catalogueNumber, *work.xrefStart,
                                       *work.xrefEnd, &work.pageList->start, &work.pageList->end,
                                       work.outlineEntries, work.outlineCount);
    if (pageCount < 1) return endRun(collectPagesFailed);

    if (firstPage < 0 || lastPage < 0 || firstPage > pageCount || lastPage > pageCount)
        return endRun(pageRangeOutOfBounds);
    if (firstPage == 0) firstPage = 1;
    if (lastPage == 0) lastPage = pageCount;
    if (firstPage > lastPage) std::swap(firstPage, lastPage);

    RunNames names{};
    names.stemBytes = std::strlen(outputBase);
    if (endsWithPdf(outputBase, names.stemBytes)) names.stemBytes -= 4;
    // A stem that alone fills the path length leaves no room for any page's
    // name; every page then fails on its name.
    if (names.stemBytes > maxPathBytes) names.stemBytes = maxPathBytes;
    std::memcpy(names.stem, outputBase, names.stemBytes);
    names.numberWidth = decimalDigits(pageCount);

    // A /Count far above the pages listed must not cost time per missing
    // page: past the last PageList line every page fails alike.
    const std::size_t pageLines = countLines(work.pageList->start, work.pageList->end);
    bool pageFailed = false;
    for (int pageIndex = firstPage - 1; pageIndex <= lastPage - 1; ++pageIndex) {
        if (static_cast<std::size_t>(pageIndex) >= pageLines) {
            pageFailed = true;
            if (pageOutcomes) {
                report(pageIndex + 1, PageStage::PastPageList, -1);
                pageOutcomes->back().lastPageNumber = lastPage;
            }
            break;
        }
        if (!processPage(pageIndex, names)) pageFailed = true;
    }
    return endRun(pageFailed ? somePageNotWritten : extractionOk);
}

}  // namespace ravoth
