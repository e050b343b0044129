// What a run ends with: its result code, and why it did not end Complete.
#pragma once

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

}  // namespace ravoth
