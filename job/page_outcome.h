// What became of each page of a run, as the run reports it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ravoth {

// What the page list tells of one image besides its file's name.
struct ImageFacts {
    // "jpeg", "jp2", "ccitt", "jbig2", or the format it is written in:
    // "bmp", "png", "tiff".
    std::string_view format;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t bits = 0;
    std::int32_t colours = 0;      // components a pixel stores: 1 grey or indexed, 3 RGB, 4 CMYK
    std::uint64_t storedBytes = 0; // of its stream in the document
    std::int32_t dpiX = 0;         // 0: not known
    std::int32_t dpiY = 0;
};

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

// Why a page ended as it did, by name: the stage and its code read once,
// where the codes are known, so that no front end decodes them.
enum class PageReason {
    Written,
    Listed,
    Stopped,
    NoImage,
    ImageNotFound,          // Locate: the locator's code
    NoMemoryForSamples,     // InflateMemory
    InflatesPastBound,      // InflateBound
    DeclaresBeyondStream,   // ImageTooLarge
    InflationFailed,        // Inflate: inflation's code
    BitmapNotWritten,       // WriteBmp: the BMP writer's code
    JpegCannotBeCreated,    // WriteJpeg -1
    JpegNotWrittenWhole,    // WriteJpeg, other codes
    NameTooLong,            // Name
    NotInPageList,          // PastPageList
    DecodeNoMemory,         // Decode: no memory for the image's data
    DecodeUnsupported,      // Decode: a filter or colour space not read here
    DecodeTooLarge,         // Decode: declares more than a page may decode to
    DecodeTruncated,        // Decode: data cut short or undecodable
    DecodeDamaged,          // Decode: any other failure of the page or image
    EncodeUnsupported,      // Encode: colour space, depth or /Decode not written here
    EncodeUndecodable,      // Encode: JBIG2 or fax data that yields no page
    EncodeNoMemory,         // Encode: no memory to decode or encode it
    EncodeRefused,          // Encode: the image library refused it
    FileCannotBeCreated,    // WriteFile -9
    FileNotWrittenWhole,    // WriteFile, other codes
};

// The reason of a page that ended at `stage` with `code`.
PageReason reasonOf(PageStage stage, std::int32_t code);

struct PageOutcome {
    std::int32_t pageNumber = 0;      // 1-based
    std::int32_t lastPageNumber = 0;  // for PastPageList: the last page it covers
    PageStage stage = PageStage::Written;
    std::int32_t code = 0;
    // Set by the run as it reports the outcome.
    PageReason reason = PageReason::Written;
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

}  // namespace ravoth
