// The files of a run's pages, written by threads of their own while the run
// goes on with the next page: the system's copy of a large image into the
// file cache then costs no time of the run's own, and two files are written
// at once where there are two cores.
//
// A Flate page of the size it declares is handed over still compressed:
// the thread that writes it inflates and converts it too, so that pages are
// inflated and converted on every core at once. Its samples' block is the
// run's, allocated in page order; the conversion allocates on the thread,
// so that with more than one page in flight the order of allocations
// between pages is no longer fixed (their count is). A page whose stream
// the one-call inflater does not take comes back undone, and the run
// inflates it the streaming way when it takes it back.
//
// Files are taken back in the order they were handed over, so that outcomes
// come in page order, whatever order the threads finish them in. The run
// takes back every file in hand before it reports a failure or touches the
// file system itself. Memory stays bounded: no more Flate pages are in
// flight than there are threads, and converted bitmaps waiting to be
// written stay below a limit.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "image/bmp_writer.h"
#include "image/general_image.h"
#include "image/inflate.h"
#include "image/page_format.h"
#include "job/page_outcome.h"
#include "job/page_sink.h"
#include "pdf/general_reader.h"
#include "pdf/page_image.h"
#include "platform/fault_plan.h"
#include "platform/file.h"
#include "platform/memory.h"

namespace ravoth {


// A Flate page still compressed, which the writing thread inflates and
// converts before it writes it.
struct PendingSamples {
    ImageInfo info;
    OwnedBlock<> block;          // the run's, of `capacity` bytes
    std::size_t capacity = 0;
    std::size_t expected = 0;    // the samples its geometry declares
    OutputFormat format = OutputFormat::Bmp;
    std::int32_t dpiX = 0;
    std::int32_t dpiY = 0;

    PageSamples samplesOf(const Byte* data, std::size_t bytes) const
    {
        PageSamples samples;
        samples.data = data;
        samples.bytes = bytes;
        samples.width = info.width;
        samples.height = info.height;
        samples.bits = info.bitsPerComponent;
        samples.gray = info.isGray;
        samples.dpiX = dpiX;
        samples.dpiY = dpiY;
        return samples;
    }
};

// An image of the general reader, read and decoded as far as the library
// goes, which the writing thread turns into its file (prepareImageFile).
struct PendingImage {
    GeneralImage image;
    StreamBytes data;
    StreamBytes globals;
    std::size_t decodeLimit = 0;
    OutputFormat format = OutputFormat::Bmp;
    FaxForm faxForm = FaxForm::Coded;
    // What the file was named with: the file it becomes must be that.
    std::string_view extension;
};

struct PageFile {
    int pageNumber = 0;
    char name[maxPathBytes + 1] = {};
    bool isBitmap = false;
    // A DCT page's stream, written unchanged: `jpegBytes` bytes of the
    // document from `jpegOffset` on, which `jpegView` shows.
    const InputFile* jpegSource = nullptr;
    const Byte* jpegView = nullptr;
    std::uint64_t jpegOffset = 0;
    std::size_t jpegBytes = 0;
    // A Flate page's converted bitmap; with isEncoded, a whole file encoded
    // in memory (no header), whose failures are the file's own.
    PreparedBitmap bitmap;
    bool isEncoded = false;
    // Whether it is the last file of its page: a page that draws several
    // images is done with its last.
    bool endsPage = true;
    std::int32_t imageNumber = 0;  // on its page, 1-based; 0 for a page's only file
    // Writing gives up, and the file is not put in place, as soon as one of
    // these turns true: the run's own stop, its caller's, and the document
    // found changed.
    StopFlags stops;
    // Set while the page waits to be inflated and converted, or its image
    // to be made into its file.
    std::optional<PendingSamples> pending;
    std::optional<PendingImage> decoded;
    // After writing: 0, or the code of writeJpegFile or writePreparedBitmap,
    // or, with failedStage, of the conversion that failed. With
    // needsStreaming the one-call inflater did not take the stream: nothing
    // was written, and `pending` keeps the page and its block.
    int code = 0;
    PageStage failedStage = PageStage::Written;
    bool needsStreaming = false;
    // Where the file goes once it is converted (null: a file of its own,
    // written by the thread); an archive's entry is named `name` from
    // `entryOffset` on.
    PageSink* sink = nullptr;
    std::size_t entryOffset = 0;
    ImageFacts facts;
    std::optional<std::string> title;  // its page's first bookmark, as text

    std::size_t bytes() const
    {
        return pending ? pending->expected : decoded ? decoded->data.bytes : isBitmap ? bitmap.imageBytes : jpegBytes;
    }
    // What it holds in memory until it is written: a JPEG page is only a
    // view of the document.
    std::size_t heldBytes() const { return !pending && !decoded && isBitmap ? bitmap.imageBytes : 0; }
    // Whether a thread inflates, converts or encodes it.
    bool isUnconverted() const { return pending || decoded; }
    // Whether a thread would do anything for it: a file that is only
    // listed, or added to an archive by the run, as it is needs no thread.
    bool needsThread() const { return isUnconverted() || !isKeptConverted(); }
    // Whether the file stays in hand after its conversion, until the run
    // takes it back and hands it to its sink.
    bool isKeptConverted() const { return sink && !sink->writesOnThreads(); }
};

// Writes a DCT page's stream unchanged: `bytes` bytes of `source` from
// `offset` on, which `view` shows. 0, or -1 when the file cannot be created,
// -2 when writing or closing fails, the source ends early, or a stop flag
// turned true (nothing is then put at `name`).
int writeJpegFile(const char* name, const InputFile& source, std::uint64_t offset, const Byte* view,
                  std::size_t bytes, const StopFlags& stops = {});

// Converts a pending page (see PendingSamples) with the calling thread's
// inflater and writes the file here, freeing its blocks; the code lands in
// file.code.
void writePageFile(PageFile& file, WholeInflater& inflater);



// How a run hands its page files to threads. Tests change it to reach every
// path; a run keeps the defaults.
struct PageWriting {
    // Files of at least this many bytes are written in the background;
    // below it the hand-over between threads costs more than the write
    // (0: all of them; SIZE_MAX: none).
    std::size_t backgroundFromBytes = 64 * 1024;
    // How many threads write page files at most; 0 for one per core. With
    // one, files are written in the order they were handed over, so that
    // the nth write request is always the same file's.
    std::size_t threadLimit = 0;
};

class PageFileWriter {
public:
    // Files written on the caller's thread are inflated with the caller's
    // inflater, which outlives the writer; each writing thread has its own.
    // Its threads meet the failures of `faults` (null: none).
    PageFileWriter(WholeInflater& callersInflater, PageWriting writing = {}, FaultPlan* faults = nullptr)
        : callersInflater_(callersInflater), writing_(writing), faults_(faults)
    {
    }
    PageFileWriter(const PageFileWriter&) = delete;
    PageFileWriter& operator=(const PageFileWriter&) = delete;
    // Writes the files in hand and ends the threads.
    ~PageFileWriter();

    // Whether `file` must wait until the oldest file in hand is taken back
    // before it is handed over: every slot is taken, or the bitmaps waiting
    // to be written would hold too much memory.
    bool full(const PageFile& file);

    // Waits until another page may be handed over unconverted: fewer are
    // being converted or written than there are threads, whatever their
    // order (a page finished before an older one frees its thread). False
    // when the oldest file must be taken back first: a file kept for the
    // run holds its room until then.
    bool waitForRoomForPage();

    // Takes over `file` and writes it: on a thread when it is at least as
    // large as the background threshold and a thread can be had, else here,
    // after every file handed over before it.
    void start(PageFile&& file);

    // Whether a file in hand, written or not, may have the name `name` as
    // the file system sees names.
    bool holdsName(const char* name);

    // Takes back the oldest file handed over, with its code and its blocks
    // freed. False when no file is in hand, or when that file is not yet
    // written and `wait` is false.
    bool takeBack(PageFile* done, bool wait);

private:
    static constexpr std::size_t slotCount = 16;
    static constexpr std::size_t maxThreads = 8;
    // Bitmaps waiting to be written stay below this, apart from a single
    // larger one.
    static constexpr std::size_t pendingBytesLimit = std::size_t{16} << 20;

    void work();
    // The threads this writer may have: the limit, or one per core.
    std::size_t threadsWanted() const;
    // Starts another writing thread where one would be busy at once and the
    // system has a core for it; false when none could be had at all.
    bool addThreadIfUseful();

    WholeInflater& callersInflater_;
    const PageWriting writing_;
    FaultPlan* const faults_;
    std::mutex mutex_;
    std::condition_variable changed_;
    PageFile ring_[slotCount];
    bool written_[slotCount] = {};
    // Counts since the run began: files handed over, claimed by a thread,
    // taken back; files handed over and not yet written.
    std::size_t handed_ = 0;
    std::size_t claimed_ = 0;
    std::size_t taken_ = 0;
    std::size_t unwritten_ = 0;
    std::size_t pendingBytes_ = 0;
    // Pages handed to a thread unconverted and not yet written, or, for an
    // archive, not yet taken back.
    std::size_t unwrittenPages_ = 0;
    // What each slot handed to a thread adds to the two counts above.
    struct Accounted {
        std::size_t heldBytes = 0;
        bool isPage = false;
    };
    Accounted accounted_[slotCount];
    void release(std::size_t index);
    bool runWaits_ = false;
    std::size_t idleThreads_ = 0;
    bool stopping_ = false;
    std::thread threads_[maxThreads];
    std::size_t threadCount_ = 0;
};

}  // namespace ravoth
