// One extraction run over one PDF: load it whole, check its producer, list
// its pages, and write each page's image beside it.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "pdf/reader.h"

namespace ravoth {

// Result codes of runExtraction.
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
    // Stopped on request (setStopRequest) before every page of the range was
    // done: the files already written stay, the one being written is dropped.
    extractionStopped = -17,
};

// Set to true each time a page file has been written completely; false at
// the start of every run. The caller reads it after the run.
extern bool filesWritten;

// Runs one extraction. firstPage and lastPage are 1-based, 0 meaning the
// open end; output names are formed from outputBase. Returns 0 when every
// page of the range was written, else a code of ExtractionResult.
int runExtraction(const char* sourcePath, int firstPage, int lastPage, const char* outputBase);

// Loads the file at `path` into the DocumentBuffer. Clears LastError; false
// with LastError -1 (cannot open) or -2 (no memory, or not read whole).
bool readDocument(const char* path);

// Releases every work buffer present and marks them all absent; safe at any
// point and more than once.
void freeWorkBuffers();

// What the caller tells the user.
enum class ExtractionOutcome { Complete, CompletePartly, Failure };

ExtractionOutcome outcomeOf(int result, bool filesWritten);

// What happened to one page, for a caller that wants to report it. The job
// fills such a list only when one has been handed to it.
enum class PageStage {
    Written,      // fileName holds the file written
    Locate,       // code from locatePageImage
    InflateMemory,// no block for the inflated samples
    InflateBound, // the stream inflates far past what its image holds
    ImageTooLarge,// the image declares far more samples than its stream can yield
    Inflate,      // code from inflateStream
    WriteBmp,     // code from writeBmpFile
    WriteJpeg,    // code: -1 cannot create, -2 write or close failed
    Name,         // no output name fits the platform's path length
    PastPageList, // this page and all after it have no PageList line
    Stopped,      // its file was given up half-way when the run was stopped
};

struct PageOutcome {
    std::int32_t pageNumber = 0;      // 1-based
    std::int32_t lastPageNumber = 0;  // for PastPageList: the last page it covers
    PageStage stage = PageStage::Written;
    std::int32_t code = 0;
    std::string fileName;
};

// Hands the job a list to append page outcomes to (null: none). The list is
// the caller's; the job only appends.
void setPageOutcomeList(std::vector<PageOutcome>* list);

// Hands the job a flag that asks the run to stop (null: none). The run looks
// at it before each page and while a page file is written; once it is true
// the run ends with extractionStopped. The flag is the caller's, and may be
// set from a signal handler.
void setStopRequest(const std::atomic<bool>* flag);

}  // namespace ravoth
