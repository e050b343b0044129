#include "job/page_files.h"

#include "image/inflate.h"
#include "platform/same_name.h"

#include <algorithm>
#include <exception>
#include <utility>

namespace ravoth {
namespace {

// Inflates and converts a pending page with the thread's own inflater;
// false when there is nothing to write (it comes back undone, or its
// conversion failed).
bool convertPending(PageFile& file, WholeInflater& inflater)
{
    PendingSamples& page = *file.pending;
    const ImageInfo& info = page.info;
    if (!inflater.inflate(info.streamStart, static_cast<std::size_t>(info.streamLength), page.block.get(),
                          page.expected)) {
        // The run inflates it again in the same block.
        file.needsStreaming = true;
        return false;
    }
    std::string_view extension;
    const int converted =
        encodePageSamples(page.format, page.samplesOf(page.block.get(), page.expected), &file.bitmap, &extension,
                          file.stops);
    file.pending.reset();
    if (converted == 0) return true;
    file.code = converted;
    file.failedStage = file.isEncoded ? PageStage::Encode : PageStage::WriteBmp;
    return false;
}

// Makes a general image's file; false when that failed.
bool prepareDecoded(PageFile& file)
{
    PendingImage& image = *file.decoded;
    ImageFile prepared;
    int code = prepareImageFile(image.image, std::move(image.data), image.globals, image.decodeLimit, image.format,
                                &prepared, file.stops, image.faxForm);
    // A file must be what its name says; the names are given before the
    // image is made into its file.
    if (code == 0 && prepared.extension != image.extension) code = imageUnsupported;
    file.decoded.reset();
    if (code == 0) {
        file.bitmap = std::move(prepared.file);
        return true;
    }
    file.code = code;
    file.failedStage = PageStage::Encode;
    return false;
}

// Converts the file as it needs, then writes it where it goes; a file for
// a sink that gathers them stays in hand until the run takes it.
void writeOut(PageFile& file, WholeInflater& inflater)
{
    if (file.pending && !convertPending(file, inflater)) return;
    if (file.decoded && !prepareDecoded(file)) return;
    if (file.isKeptConverted()) return;
    file.code = file.isBitmap ? writePreparedBitmap(file.name, file.bitmap, file.stops)
                              : writeJpegFile(file.name, *file.jpegSource, file.jpegOffset, file.jpegView,
                                              file.jpegBytes, file.stops);
    file.bitmap.pixels.reset();
}

}  // namespace

void writePageFile(PageFile& file, WholeInflater& inflater) { writeOut(file, inflater); }

int writeJpegFile(const char* name, const InputFile& source, std::uint64_t offset, const Byte* view,
                  std::size_t bytes, const StopFlags& stops)
{
    OutputFile file;
    file.stopWhen(stops);
    if (!file.create(name)) return -1;
    if (file.copyFrom(source, offset, view, bytes) && file.close()) return 0;
    return file.wasRefused() ? -1 : -2;
}

PageFileWriter::~PageFileWriter()
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    for (std::size_t t = 0; t < threadCount_; ++t) threads_[t].join();
}

void PageFileWriter::work()
{
    const FaultScope faults(faults_);
    WholeInflater inflater;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (claimed_ == handed_) {
            // Files handed over before the stop are still written.
            if (stopping_) return;
            ++idleThreads_;
            changed_.wait(lock);
            --idleThreads_;
            continue;
        }
        const std::size_t index = claimed_++ % slotCount;
        PageFile& file = ring_[index];
        lock.unlock();
        writeOut(file, inflater);
        lock.lock();
        written_[index] = true;
        --unwritten_;
        // What is kept for the run holds its memory until it is taken back.
        if (!file.isKeptConverted() || file.code != 0 || file.needsStreaming) release(index);
        // Waking the run costs a system call; only when it waits.
        if (runWaits_) changed_.notify_all();
    }
}

std::size_t PageFileWriter::threadsWanted() const
{
    std::size_t wanted = writing_.threadLimit;
    if (wanted == 0) wanted = std::thread::hardware_concurrency();
    return std::clamp<std::size_t>(wanted, 1, maxThreads);
}

bool PageFileWriter::addThreadIfUseful()
{
    if (threadCount_ >= threadsWanted()) return true;
    if (threadCount_ > 0 && idleThreads_ > 0) return true;
    try {
        threads_[threadCount_] = std::thread([this] { work(); });
        ++threadCount_;
    } catch (const std::exception&) {
        // No thread to be had (none from the system, or no memory for its
        // state): the ones there are will do.
    }
    return threadCount_ > 0;
}

void PageFileWriter::release(std::size_t index)
{
    Accounted& accounted = accounted_[index];
    pendingBytes_ -= accounted.heldBytes;
    if (accounted.isPage) --unwrittenPages_;
    accounted = {};
}

bool PageFileWriter::full(const PageFile& file)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    if (handed_ - taken_ == slotCount) return true;
    // One unconverted page per thread: each holds its samples and its file.
    if (file.isUnconverted()) return unwrittenPages_ >= threadsWanted();
    return pendingBytes_ > 0 && pendingBytes_ + file.heldBytes() > pendingBytesLimit;
}

bool PageFileWriter::waitForRoomForPage()
{
    std::unique_lock<std::mutex> lock(mutex_);
    runWaits_ = true;
    changed_.wait(lock, [&] {
        return unwrittenPages_ < threadsWanted() || (taken_ != handed_ && written_[taken_ % slotCount]);
    });
    runWaits_ = false;
    return unwrittenPages_ < threadsWanted();
}

void PageFileWriter::start(PageFile&& file)
{
    std::unique_lock<std::mutex> lock(mutex_);
    const std::size_t index = handed_ % slotCount;
    PageFile& slot = ring_[index];
    slot = std::move(file);
    written_[index] = false;
    if (slot.needsThread() && slot.bytes() >= writing_.backgroundFromBytes && addThreadIfUseful()) {
        ++handed_;
        ++unwritten_;
        accounted_[index] = {slot.heldBytes(), slot.isUnconverted()};
        pendingBytes_ += accounted_[index].heldBytes;
        if (accounted_[index].isPage) ++unwrittenPages_;
        if (idleThreads_ > 0) changed_.notify_all();
        return;
    }
    // Files are made no earlier than those handed over before them.
    runWaits_ = true;
    changed_.wait(lock, [&] { return unwritten_ == 0; });
    runWaits_ = false;
    ++handed_;
    ++claimed_;
    writeOut(slot, callersInflater_);
    written_[index] = true;
}

bool PageFileWriter::holdsName(const char* name)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    for (std::size_t k = taken_; k < handed_; ++k)
        if (mayNameSameFile(ring_[k % slotCount].name, name)) return true;
    return false;
}

bool PageFileWriter::takeBack(PageFile* done, bool wait)
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (taken_ == handed_) return false;
    const std::size_t index = taken_ % slotCount;
    if (!written_[index]) {
        if (!wait) return false;
        runWaits_ = true;
        changed_.wait(lock, [&] { return written_[index]; });
        runWaits_ = false;
    }
    *done = std::move(ring_[index]);
    written_[index] = false;
    release(index);
    ++taken_;
    return true;
}

}  // namespace ravoth
