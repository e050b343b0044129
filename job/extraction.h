// One extraction run over one PDF: map it, read it with the exact reader or,
// for another producer's document, the general one, and hand each page's
// images to its sink (files, one archive, or the list) in page order.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "image/general_image.h"
#include "image/page_format.h"
#include "job/exact_source.h"
#include "job/output_names.h"
#include "job/page_files.h"
#include "job/page_loop.h"
#include "job/page_outcome.h"
#include "job/page_sink.h"
#include "job/page_source.h"
#include "job/run_result.h"
#include "pdf/general_reader.h"
#include "pdf/reader.h"
#include "platform/fault_plan.h"
#include "platform/file.h"

namespace ravoth {

// What the caller tells the user: Complete for 0, Failure for a document
// that changed under the run or could not be read, else Complete but partly
// when some page file was written and Failure when none was.
enum class ExtractionOutcome { Complete, CompletePartly, Failure };

ExtractionOutcome outcomeOf(int result, bool filesWritten);

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
    // Reads, converts and encodes every page as for files, then drops them:
    // no page file touches a file system (an archive still does). For the
    // fuzz targets, whose inputs come by the thousand a second.
    void setMemoryOnly(bool on) { memoryOnly_ = on; }
    // How many bytes reading the document's structure may scan, 0 for the
    // run's own bound (a multiple of the document's size and more). The
    // fuzz targets set a small one, so that each input costs milliseconds.
    void setScanBudget(std::uint64_t bytes) { scanBudget_ = bytes; }
    // The failures this run's allocations, writes and files meet, for tests:
    // none until one is asked for. The run hands it to every thread that
    // works for it.
    FaultPlan& faults() { return faults_; }
    // A flag of the caller's that asks the run to stop as requestStop does
    // (null: none); it may be set from a signal handler.
    void setStopRequest(const std::atomic<bool>* flag) { externalStop_ = flag; }

    // Runs one extraction. firstPage and lastPage are 1-based, 0 meaning the
    // open end; output names are formed from outputBase. Returns
    // extractionOk when every page of the range was written.
    ExtractionResult run(const char* sourcePath, int firstPage, int lastPage, const char* outputBase);

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
    class Host;

    int runSteps(const char* sourcePath, int firstPage, int lastPage, const char* outputBase);
    int runGeneral(int firstPage, int lastPage, const char* outputBase);
    // Walks the range of `source`'s pages once, then ends the run: stopped,
    // some page failed, or every page written.
    int runSource(PageSource& source, int firstPage, int lastPage, const char* outputBase);
    // One page's images, each named and handed to the threads; false when
    // no page after it needs a turn.
    bool processPage(PageLoop& loop, PageSource& source, int pageIndex, int lastPage, const OutputNames& names);
    // Names an image's file after its page's bookmark, else by the page's
    // number; false when no name fits.
    bool nameFile(PageLoop& loop, PageSource& source, int pageIndex, std::string_view extension,
                  const OutputNames& names, PageFile& file);
    // Hands a named file on: written, added to the archive, or listed.
    void deliver(PageLoop& loop, PageSource& source, PageFile&& file, int pageIndex);
    // Where this run's files go: false when the archive asked for cannot
    // be made.
    bool openSink(const OutputNames& names);
    // Puts the archive in place, or gives it up; false when one wanted
    // could not be made whole.
    bool finishArchive(bool wanted);
    int endRun(int code);
    int endForLackOfMemory();
    // Gives up the archive being written, and the outcomes of its entries.
    void dropArchive();
    RunFailure failureOf(int code) const;
    bool isStopRequested() const;
    bool hasDocumentChanged();
    void report(PageOutcome outcome);
    bool isRefusedForeignLayout() const;
    // Whether the bookmarks are read for more than names: the page list and
    // the archive show them.
    bool wantsTitles() const { return outlineNames_ || listing_ || !archivePath_.empty(); }
    std::string comicInfo() const;

    RunBuffers* work_;
    FaultPlan faults_;
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
    bool memoryOnly_ = false;
    std::uint64_t scanBudget_ = 0;
    std::unique_ptr<PageSink> sink_;
    // The sink, where it is an archive.
    ArchiveSink* archive_ = nullptr;
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
