// One extraction run over one PDF: map it, check its producer, list its
// pages, and write each page's image beside it.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "image/general_image.h"
#include "image/page_format.h"
#include "job/output_names.h"
#include "job/page_files.h"
#include "pdf/general_reader.h"
#include "pdf/reader.h"
#include "platform/file.h"

namespace ravoth {

// Result codes of a run.
enum ExtractionResult : int {
    extractionOk = 0,
    cannotOpenSource = -1,
    noMemoryDocumentStart = -2,
    noMemoryDocumentEnd = -3,
    readDocumentFailed = -4,
    noMemoryXrefStart = -5,
    noMemoryXrefEnd = -6,
    noMemoryCatalogueNumber = -7,
    readTrailerFailed = -8,
    noMemoryPageList = -9,
    noMemoryOutlineOutputs = -10,
    collectPagesFailed = -11,
    pageRangeOutOfBounds = -12,
    somePageNotWritten = -13,
    infoNotInXref = -14,
    infoCannotBeOpened = -15,
    foreignProducer = -16,
    // Stopped on request before every page of the range was done: the files
    // already written stay, the one being written is dropped.
    extractionStopped = -17,
    // The document was cut short or replaced while it was read: the run
    // stopped there, the files already written stay, the one being written
    // is dropped.
    documentChanged = -18,
    // The system could not hand out part of the document (a failing disk, a
    // network file system gone): the run stopped there, as for a document
    // that changed.
    documentUnreadable = -19,
    // The archive asked for could not be made, or not written whole: nothing
    // is left under its name.
    archiveNotWritten = -20,
};

// Why a run did not end Complete, by name: what the front ends put in words.
// Each result code above has one, apart from the reader's failures, which
// also say whether the file was a PDF at all.
enum class RunFailure {
    None,             // every page of the range written
    CannotOpen,       // -1, or -4 when the file went before it could be read (openFailure)
    CannotRead,       // -4: not read whole; -19
    NoMemory,         // -2, -3, -5, -6, -7, -9, -10
    NotPdf,           // the structure did not read, and no "%PDF-" stands near the file's start
    Encrypted,        // -8, the trailer names /Encrypt
    DamagedXref,      // -8
    DamagedPageTree,  // -11
    DamagedInfo,      // -14, -15
    ForeignProducer,  // -16
    // -8 (not encrypted), -11, -13 with no page found: a sound PDF that the
    // general reader opens, in another producer's layout
    ForeignLayout,
    PageRange,        // -12
    PagesMissing,     // -13
    Stopped,          // -17
    DocumentChanged,  // -18
    ArchiveNotWritten,// -20
};

// What the caller tells the user: Complete for 0, Failure for a document
// that changed under the run or could not be read, else Complete but partly
// when some page file was written and Failure when none was.
enum class ExtractionOutcome { Complete, CompletePartly, Failure };

ExtractionOutcome outcomeOf(int result, bool filesWritten);

// What happened to one page.
enum class PageStage {
    Written,      // fileName holds the file written
    Locate,       // code from locatePageImage
    InflateMemory,// no block for the inflated samples
    InflateBound, // the stream inflates far past what its image holds
    ImageTooLarge,// the image declares far more samples than its stream can yield
    Inflate,      // code from inflateStream
    WriteBmp,     // code from prepareBitmap or writePreparedBitmap
    WriteJpeg,    // code: -1 cannot create, -2 write or close failed
    Name,         // no output name fits the platform's path length
    PastPageList, // this page and all after it have no PageList line
    Stopped,      // its file was given up half-way when the run was stopped
    // The general reader's:
    NoImage,      // the page draws no image: nothing to write, and no failure
    Decode,       // code: the GeneralStatus reading the page or its image gave
    Encode,       // code from prepareImageFile
    WriteFile,    // code from writePreparedBitmap, for a file that is no BMP
    // Listing: the file a run would write, with fileName and facts; nothing
    // was written.
    Listed,
};

struct PageOutcome {
    std::int32_t pageNumber = 0;      // 1-based
    std::int32_t lastPageNumber = 0;  // for PastPageList: the last page it covers
    PageStage stage = PageStage::Written;
    std::int32_t code = 0;
    std::string fileName;
    std::uint64_t bytes = 0;          // of the file written
    // The general reader's images of one page: the image's number on its
    // page (1-based; 0 for a page's only one), and whether it is the page's
    // last (the pages done count it).
    std::int32_t imageNumber = 0;
    bool endsPage = true;
    // Written or Listed: what the image is, and its page's first bookmark
    // title as text, where it has one.
    ImageFacts facts;
    std::optional<std::string> title;
};

// What a run reports each time a page of its range is done, in page order,
// on the run's own thread.
struct PageProgress {
    std::int32_t pagesDone;     // pages of the range done so far, this one included
    std::int32_t pagesInRange;
    const PageOutcome& outcome; // for PastPageList it covers every page left
};

// One extraction. Everything a run reads and writes is its own, so runs on
// several threads do not meet; one object runs one document at a time.
class ExtractionRun {
public:
    ExtractionRun();
    ~ExtractionRun();
    ExtractionRun(const ExtractionRun&) = delete;
    ExtractionRun& operator=(const ExtractionRun&) = delete;

    // Name each page's file after its first bookmark (off by default).
    void setOutlineNames(bool on) { outlineNames_ = on; }
    // Called after each page; may be empty.
    void setProgress(std::function<void(const PageProgress&)> progress) { progress_ = std::move(progress); }
    // How page files go to threads (tests reach every path through it).
    void setPageWriting(PageWriting writing) { pageWriting_ = writing; }
    // Read any producer's document with the general reader where the exact
    // reader refuses it as another producer's (off by default).
    void setAnyProducer(bool on) { anyProducer_ = on; }
    // The format decoded pages are written in; coded pictures keep their
    // own. Unless set, BMP for files, and PNG in an archive, where fax
    // pages are decoded too: comic readers show neither BMP nor TIFF.
    void setOutputFormat(OutputFormat format) { outputFormat_ = format; }
    // Writes the page files as entries of one ZIP archive at `path`, with a
    // ComicInfo.xml, instead of as files (empty: files, the default).
    void setArchive(std::string path) { archivePath_ = std::move(path); }
    // Reads and decodes every image as a run does, but writes nothing: each
    // outcome that would be Written is Listed.
    void setListing(bool on) { listing_ = on; }
    // How many bytes reading the document's structure may scan, 0 for the
    // run's own bound (a multiple of the document's size and more). The
    // fuzz targets set a small one, so that each input costs milliseconds.
    void setScanBudget(std::uint64_t bytes) { scanBudget_ = bytes; }
    // A flag of the caller's that asks the run to stop as requestStop does
    // (null: none); it may be set from a signal handler.
    void setStopRequest(const std::atomic<bool>* flag) { externalStop_ = flag; }

    // Runs one extraction. firstPage and lastPage are 1-based, 0 meaning the
    // open end; output names are formed from outputBase. Returns 0 when every
    // page of the range was written, else a code of ExtractionResult.
    int run(const char* sourcePath, int firstPage, int lastPage, const char* outputBase);

    // Asks the run to stop, from any thread: it looks before each page and
    // while a page file is written, and then ends with extractionStopped.
    void requestStop() { stopRequested_.store(true); }

    // After a run:
    // whether some page file was written whole (and is on disk; listing,
    // whether one would have been);
    bool filesWritten() const { return filesWritten_; }
    // the reader's reason for the last failure (LastError), 0 when none;
    std::int32_t lastError() const { return reader_.lastError; }
    // why it did not end Complete, by name;
    RunFailure failure() const { return failure_; }
    // why the document could not be opened, for -1;
    OpenFailure openFailure() const { return openFailure_; }
    // whether the general reader read the document;
    bool usedGeneralReader() const { return usedGeneralReader_; }
    // the document's page count, 0 before it is known;
    int pageCount() const { return pageCount_; }
    // what happened to each page, in page order.
    const std::vector<PageOutcome>& pageOutcomes() const { return outcomes_; }

    // The run's first steps, open to tests. readDocument maps the file at
    // `path` (reads it into a block where it cannot be mapped) as the
    // DocumentBuffer: false with LastError -1 (cannot open, or no regular
    // file) or -2 (no memory, or not read whole). freeWorkBuffers releases
    // every work buffer and the document; safe at any point and more than once.
    bool readDocument(const char* path);
    void freeWorkBuffers();

private:
    class PageLoop;
    struct WorkBuffers;
    struct TitleIndex;

    int runSteps(const char* sourcePath, int firstPage, int lastPage, const char* outputBase);
    int endRun(int code);
    int endForLackOfMemory();
    // Gives up the archive being written, and the outcomes of its entries.
    void dropArchive();
    RunFailure failureOf(int code) const;
    bool isStopRequested() const;
    bool hasDocumentChanged();
    void report(PageOutcome outcome);
    void processPage(PageLoop& loop, int pageIndex, const Byte* pageLine, const OutputNames& names,
                     const TitleIndex& titles);
    // Inflates the streaming way, and converts, a page the one-call
    // inflater did not take; Written when its file is ready to be written,
    // else the stage it ended at, with its code.
    PageStage inflateByStreaming(PageFile& file, int* code);
    // Hands each page of the range to `page` on one page loop, then ends the
    // run: stopped, some page failed, or every page written. `page` returns
    // false when no page after it needs a turn.
    int runPages(int firstPage, int lastPage, const std::function<bool(PageLoop&, int)>& page);
    int runGeneral(int firstPage, int lastPage, const char* outputBase);
    void processGeneralPage(PageLoop& loop, GeneralDocument& document, int pageIndex, const OutputNames& names,
                            const TitleIndex& titles);
    bool nameGeneralFile(PageLoop& loop, int pageIndex, const OutputNames& names, const TitleIndex& titles,
                         std::string_view extension, PageFile& file);
    bool carriesOwnProducer() const;
    bool isRefusedForeignLayout() const;
    bool formPageTitleName(const TitleIndex& titles, int pageIndex, const OutputNames& names,
                           std::string_view extension, PathBuffer& name);
    // Whether the bookmarks are read for more than names: the page list and
    // the archive show them.
    bool wantsTitles() const { return outlineNames_ || listing_ || !archivePath_.empty(); }
    std::optional<std::string> pageTitle(const TitleIndex& titles, int pageIndex) const;
    // Whether a title's name may be used: the file system says, or, where
    // nothing goes to it, the archive's names taken so far.
    bool isUsableName(const char* name, const OutputNames& names) const;
    // Hands a named file on: written, added to the archive, or listed.
    void deliver(PageLoop& loop, PageFile&& file, const OutputNames& names, const TitleIndex& titles, int pageIndex);
    std::string comicInfo() const;

    WorkBuffers* work_;
    DocumentReader reader_;
    InputFile document_;
    std::uint64_t documentBytes_ = 0;
    bool outlineNames_ = false;
    bool anyProducer_ = false;
    bool usedGeneralReader_ = false;
    std::optional<OutputFormat> outputFormat_;
    // What this run writes decoded pages and fax pages as.
    OutputFormat pageFormat_ = OutputFormat::Bmp;
    FaxForm faxForm_ = FaxForm::Coded;
    std::string archivePath_;
    bool listing_ = false;
    std::uint64_t scanBudget_ = 0;
    std::unique_ptr<PageArchive> archive_;
    std::set<std::string> archiveNames_;
    PageWriting pageWriting_;
    // The run's thread inflates pages with it; the writing threads have
    // their own.
    WholeInflater wholeInflater_;
    std::function<void(const PageProgress&)> progress_;
    const std::atomic<bool>* externalStop_ = nullptr;
    std::atomic<bool> stopRequested_{false};
    // Set when the document is found cut short under the run (also by the
    // platform's fault handler, from any thread).
    std::atomic<bool> documentChanged_{false};
    bool filesWritten_ = false;
    RunFailure failure_ = RunFailure::None;
    OpenFailure openFailure_ = OpenFailure::None;
    int pageCount_ = 0;
    std::int32_t pagesInRange_ = 0;
    std::int32_t pagesDone_ = 0;
    std::vector<PageOutcome> outcomes_;
};

}  // namespace ravoth
