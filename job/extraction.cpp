#include "job/extraction.h"

#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#include "job/comic_info.h"
#include "job/general_source.h"
#include "platform/memory.h"

namespace ravoth {

namespace {

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

// What the page loop asks of the run.
class ExtractionRun::Host final : public PageLoop::Host {
public:
    explicit Host(ExtractionRun& run) : run_(run) {}
    bool isStopped() override { return run_.isStopRequested() || run_.hasDocumentChanged(); }
    void report(PageOutcome outcome) override { run_.report(std::move(outcome)); }

private:
    ExtractionRun& run_;
};

ExtractionRun::ExtractionRun() : work_(new RunBuffers) {}

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
    outcome.reason = reasonOf(outcome.stage, outcome.code);
    if (outcome.stage == PageStage::Written || outcome.stage == PageStage::Listed) filesWritten_ = true;
    const std::int32_t covered = outcome.lastPageNumber - outcome.pageNumber + 1;
    if (outcome.endsPage) pagesDone_ += covered > 0 ? covered : 1;
    outcomes_.push_back(std::move(outcome));
    if (progress_) progress_(PageProgress{pagesDone_, pagesInRange_, outcomes_.back()});
}

ExtractionResult ExtractionRun::run(const char* sourcePath, int firstPage, int lastPage, const char* outputBase)
{
    const FaultScope faults(&faults_);
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
    sink_.reset();
    archive_ = nullptr;
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
    return static_cast<ExtractionResult>(result);
}

int ExtractionRun::runSteps(const char* sourcePath, int firstPage, int lastPage, const char* outputBase)
{
    if (!canOpenForReading(sourcePath, &openFailure_)) return endRun(cannotOpenSource);
    freeWorkBuffers();
    reader_.lastError = 0;
    RunBuffers& work = *work_;
    if (!(work.documentStart = allocCell<const Byte*>())) return endRun(noMemoryDocumentStart);
    if (!(work.documentEnd = allocCell<const Byte*>())) return endRun(noMemoryDocumentEnd);
    if (!readDocument(sourcePath)) return endRun(readDocumentFailed);
    reader_.start = *work.documentStart;
    reader_.end = *work.documentEnd;
    // However the document's objects point at one another, reading its
    // structure costs at most a fixed multiple of its size.
    ExactSource::Settings settings;
    settings.format = pageFormat_;
    settings.readTitles = wantsTitles();
    settings.titlesName = outlineNames_;
    settings.anyProducer = anyProducer_;
    settings.budgetBytes = scanBudget_ ? scanBudget_ : scanBudgetFor(documentBytes_);
    const ScanBudget budget(reader_, settings.budgetBytes);
    ExactSource exact(reader_, work, document_, wholeInflater_, settings);
    const ExactSource::Opening opening = exact.open();
    // The general reader takes over what the exact one refuses as another
    // producer's: never a document that names Mesker, Tolvin or Dravel.
    const bool handOver =
        anyProducer_ && (opening.handOver == ExactSource::HandOver::Yes ||
                         (opening.handOver == ExactSource::HandOver::UnlessOwnProducer && !isStopRequested() &&
                          !carriesOwnProducer(reader_)));
    if (handOver) return runGeneral(firstPage, lastPage, outputBase);
    if (opening.code != extractionOk) return endRun(opening.code);
    return runSource(exact, firstPage, lastPage, outputBase);
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
    GeneralSource::Settings settings;
    settings.format = pageFormat_;
    settings.faxForm = faxForm_;
    settings.readTitles = wantsTitles();
    GeneralSource source(document, document_, reader_.start, documentBytes_, settings);
    return runSource(source, firstPage, lastPage, outputBase);
}

int ExtractionRun::runSource(PageSource& source, int firstPage, int lastPage, const char* outputBase)
{
    pageCount_ = source.pageCount();
    if (!normalisePageRange(pageCount_, &firstPage, &lastPage)) return endRun(pageRangeOutOfBounds);
    pagesInRange_ = lastPage - firstPage + 1;
    OutputNames names;
    setOutputNames(&names, outputBase, pageCount_);
    if (!source.readTitles()) return endRun(noMemoryOutlineOutputs);
    if (!openSink(names)) return endRun(isStopRequested() ? extractionStopped : archiveNotWritten);
    bool pageFailed = false;
    bool stopped = false;
    {
        Host host(*this);
        PageLoop loop(host, wholeInflater_, pageWriting_, &faults_);
        for (int pageIndex = firstPage - 1; pageIndex <= lastPage - 1; ++pageIndex) {
            if (isStopRequested() || documentChanged_.load()) {
                stopped = true;
                break;
            }
            if (!processPage(loop, source, pageIndex, lastPage, names)) break;
        }
        pageFailed = loop.end();
        // A stop that came while the last files were written gave them up.
        stopped = stopped || isStopRequested() || hasDocumentChanged();
    }
    // Only an archive of what a run leaves behind is put in place: none
    // after a stop, a document that changed, or when every page failed. A
    // run that wrote nothing for want of images ends Complete: its archive
    // holds the description alone.
    if (archive_ && !finishArchive(!stopped && (filesWritten_ || !pageFailed)))
        return endRun(isStopRequested() ? extractionStopped : archiveNotWritten);
    if (stopped) return endRun(documentChanged_.load() ? documentChanged : extractionStopped);
    return endRun(pageFailed ? somePageNotWritten : extractionOk);
}

bool ExtractionRun::processPage(PageLoop& loop, PageSource& source, int pageIndex, int lastPage,
                                const OutputNames& names)
{
    const int pageNumber = pageIndex + 1;
    std::size_t count = 0;
    const ImageStep opened = source.openPage(pageIndex, &count);
    if (opened.stage == PageStage::PastPageList) {
        loop.fail(pageNumber, PageStage::PastPageList, opened.code, lastPage);
        return false;
    }
    if (opened.stage == PageStage::Stopped || opened.stage == PageStage::NoImage) {
        loop.report(pageNumber, opened.stage);
        return true;
    }
    if (!opened.goesOn()) {
        loop.fail(pageNumber, opened.stage, opened.code);
        return true;
    }
    for (std::size_t k = 0; k < count; ++k) {
        PageFile file;
        file.pageNumber = pageNumber;
        file.imageNumber = count > 1 ? static_cast<std::int32_t>(k + 1) : 0;
        file.endsPage = k + 1 == count;
        file.stops = reader_.stops;
        std::string_view extension;
        ImageStep step = source.describeImage(k, file, &extension);
        if (step.goesOn() && !nameFile(loop, source, pageIndex, imageSuffix(k + 1, count, extension), names, file))
            step = {PageStage::Name, -1};
        if (step.goesOn()) step = source.loadImage(file, loop);
        if (step.stage == PageStage::Stopped || isStopRequested() || documentChanged_.load()) {
            loop.report(pageNumber, PageStage::Stopped);
            return true;
        }
        if (step.goesOn())
            deliver(loop, source, std::move(file), pageIndex);
        else
            loop.failImage(pageNumber, file.imageNumber, file.endsPage, step.stage, step.code);
    }
    return true;
}

// With bookmark names two pages may share a name, and the later page's
// picture must be the one left: a page waits for the file in hand of the
// same name, and no other. A title's name is tried on the file system only
// then, since the try makes and removes a file of that name.
bool ExtractionRun::nameFile(PageLoop& loop, PageSource& source, int pageIndex, std::string_view extension,
                             const OutputNames& names, PageFile& file)
{
    if (outlineNames_ && source.formTitleName(pageIndex, names, extension, file.name)) {
        if (loop.holdsName(file.name)) loop.settle();
        if (sink_->isUsableName(file.name, false)) return true;
    }
    if (!formNumberedName(names, pageIndex + 1, extension, file.name)) return false;
    if (!sink_->isUsableName(file.name, true)) return false;
    if (outlineNames_ && loop.holdsName(file.name)) loop.settle();
    return true;
}

bool ExtractionRun::openSink(const OutputNames& names)
{
    // An archive's entries go without the folder of the names.
    auto entryNames = [&] { return std::make_unique<EntryNames>(names.folderBytes); };
    if (listing_) {
        sink_ = std::make_unique<ListSink>(archivePath_.empty() ? nullptr : entryNames());
    } else if (!archivePath_.empty()) {
        auto archive = std::make_unique<ArchiveSink>(names.folderBytes);
        if (!archive->create(archivePath_.c_str(), reader_.stops)) return false;
        archive_ = archive.get();
        sink_ = std::move(archive);
    } else if (memoryOnly_) {
        sink_ = std::make_unique<MemorySink>(names.folderBytes);
    } else {
        sink_ = std::make_unique<FileSink>();
    }
    return true;
}

void ExtractionRun::deliver(PageLoop& loop, PageSource& source, PageFile&& file, int pageIndex)
{
    if (wantsTitles()) file.title = source.titleText(pageIndex);
    sink_->claim(file);
    file.sink = sink_.get();
    loop.write(std::move(file));
}

bool ExtractionRun::finishArchive(bool wanted)
{
    const bool placed = wanted && archive_->finish(comicInfo());
    if (!placed) dropArchive();
    sink_.reset();
    archive_ = nullptr;
    return placed || !wanted;
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
    RunBuffers& work = *work_;
    if (isBlockPresent(work.documentStart)) freeBlock(work.documentStart);
    work.documentStart = nullptr;
    if (isBlockPresent(work.documentEnd)) freeBlock(work.documentEnd);
    work.documentEnd = nullptr;
    freeBlock(work.documentRead);
    work.documentRead = nullptr;
    document_.close();
    releaseStructureCells(work);
    releaseSpareBlocks();
}

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
    if (carriesOwnProducer(reader_)) return false;
    GeneralDocument document;
    return document.open(reader_.start, static_cast<std::size_t>(reader_.end - reader_.start), reader_.stops) ==
           GeneralStatus::Ok;
}

void ExtractionRun::dropArchive()
{
    sink_.reset();
    archive_ = nullptr;
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

ExtractionOutcome outcomeOf(int result, bool written)
{
    if (result == extractionOk) return ExtractionOutcome::Complete;
    // The pages written before the document changed are whole, but what the
    // run read after may not have been the document: the run failed.
    if (result == documentChanged || result == documentUnreadable) return ExtractionOutcome::Failure;
    return written ? ExtractionOutcome::CompletePartly : ExtractionOutcome::Failure;
}

}  // namespace ravoth
