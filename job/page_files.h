// The files of a run's pages, written by threads of their own while the run
// goes on with the next page: the system's copy of a large image into the
// file cache then costs no time of the run's own, and two files are written
// at once where there are two cores.
//
// Files are taken back in the order they were handed over, so that outcomes
// come in page order, whatever order the threads finish them in. The run
// takes back every file in hand before it reports a failure, touches the
// file system itself or converts a bitmap, so that at most one page's bitmap
// is alive beside the page being converted. The writers allocate nothing
// from the core's blocks; they only free the blocks they are handed, so
// allocation counts stay those of a run in one thread.
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
#include "platform/file.h"
#include "platform/memory.h"

namespace ravoth {

class PageArchive;

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
    // After writing: 0, or the code of writeJpegFile or writePreparedBitmap.
    int code = 0;
    // Set: the file is an entry of this archive, named `name` from
    // `entryOffset` on, rather than a file of its own.
    PageArchive* archive = nullptr;
    std::size_t entryOffset = 0;
    ImageFacts facts;
    std::optional<std::string> title;  // its page's first bookmark, as text

    std::size_t bytes() const { return isBitmap ? bitmap.imageBytes : jpegBytes; }
    // What it holds in memory until it is written: a JPEG page is only a
    // view of the document.
    std::size_t heldBytes() const { return isBitmap ? bitmap.imageBytes : 0; }
};

// Writes a DCT page's stream unchanged: `bytes` bytes of `source` from
// `offset` on, which `view` shows. 0, or -1 when the file cannot be created,
// -2 when writing or closing fails, the source ends early, or a stop flag
// turned true (nothing is then put at `name`).
int writeJpegFile(const char* name, const InputFile& source, std::uint64_t offset, const Byte* view,
                  std::size_t bytes, const StopFlags& stops = {});

// How a run hands its page files to threads. Tests change it to reach every
// path; a run keeps the defaults.
struct PageWriting {
    // Files of at least this many bytes are written in the background;
    // below it the hand-over between threads costs more than the write
    // (0: all of them; SIZE_MAX: none).
    std::size_t backgroundFromBytes = 64 * 1024;
    // How many threads write page files at most (1 or 2). With one, files
    // are written in the order they were handed over, so that the nth write
    // request is always the same file's.
    std::size_t threadLimit = 2;
};

class PageFileWriter {
public:
    explicit PageFileWriter(PageWriting writing = {}) : writing_(writing) {}
    PageFileWriter(const PageFileWriter&) = delete;
    PageFileWriter& operator=(const PageFileWriter&) = delete;
    // Writes the files in hand and ends the threads.
    ~PageFileWriter();

    // Whether `file` must wait until the oldest file in hand is taken back
    // before it is handed over: every slot is taken, or the bitmaps waiting
    // to be written would hold too much memory.
    bool full(const PageFile& file);

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
    static constexpr std::size_t maxThreads = 2;
    // Bitmaps waiting to be written stay below this, apart from a single
    // larger one.
    static constexpr std::size_t pendingBytesLimit = std::size_t{16} << 20;

    void work();
    // Starts another writing thread where one would be busy at once and the
    // system has a core for it; false when none could be had at all.
    bool addThreadIfUseful();

    const PageWriting writing_;
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
    bool runWaits_ = false;
    std::size_t idleThreads_ = 0;
    bool stopping_ = false;
    std::thread threads_[maxThreads];
    std::size_t threadCount_ = 0;
};

}  // namespace ravoth
