#include "job/page_files.h"

#include <system_error>
#include <utility>

namespace ravoth {
namespace {

// Below this the hand-over between threads costs more than the write.
std::size_t backgroundFromBytes = 64 * 1024;

// Writes the file and frees its blocks.
void writeOut(PageFile& file)
{
    file.code = file.isBitmap ? writePreparedBitmap(file.name, file.bitmap, file.stops)
                              : writeJpegFile(file.name, *file.jpegSource, file.jpegOffset, file.jpegView,
                                              file.jpegBytes, file.stops);
    file.bitmap.pixels.reset();
}

}  // namespace

void setBackgroundWriteFromBytes(std::size_t bytes) { backgroundFromBytes = bytes; }

int writeJpegFile(const char* name, const InputFile& source, std::uint64_t offset, const Byte* view,
                  std::size_t bytes, const StopFlags& stops)
{
    OutputFile file;
    file.stopWhen(stops);
    if (!file.create(name)) return -1;
    return file.copyFrom(source, offset, view, bytes) && file.close() ? 0 : -2;
}

PageFileWriter::~PageFileWriter()
{
    if (!thread_.joinable()) return;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void PageFileWriter::work()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (written_ == handed_) {
            // Files handed over before the stop are still written.
            if (stopping_) return;
            writerWaits_ = true;
            changed_.wait(lock);
            writerWaits_ = false;
            continue;
        }
        PageFile& file = ring_[written_ % slots];
        const std::size_t bytes = file.bytes();
        lock.unlock();
        writeOut(file);
        lock.lock();
        ++written_;
        pendingBytes_ -= bytes;
        // Waking the run costs a system call; only when it waits for this.
        if (written_ >= runWaitsFor_) changed_.notify_all();
    }
}

void PageFileWriter::waitUntilWritten(std::unique_lock<std::mutex>& lock, std::size_t count)
{
    if (written_ >= count) return;
    runWaitsFor_ = count;
    changed_.wait(lock, [&] { return written_ >= count; });
    runWaitsFor_ = nobodyWaits;
}

bool PageFileWriter::full(const PageFile& file)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    if (handed_ - taken_ == slots) return true;
    return written_ < handed_ && pendingBytes_ + file.bytes() > pendingBytesLimit;
}

void PageFileWriter::waitForRoom()
{
    std::unique_lock<std::mutex> lock(mutex_);
    // Half at a time, so that a writer slower than the run does not wake it
    // for every file.
    waitUntilWritten(lock, written_ + (handed_ - written_ + 1) / 2);
}

void PageFileWriter::start(PageFile&& file)
{
    std::unique_lock<std::mutex> lock(mutex_);
    PageFile& slot = ring_[handed_ % slots];
    slot = std::move(file);
    const std::size_t bytes = slot.bytes();
    bool background = bytes >= backgroundFromBytes;
    if (background && !thread_.joinable()) {
        try {
            thread_ = std::thread([this] { work(); });
        } catch (const std::system_error&) {
            background = false;  // no thread to be had: written here
        }
    }
    if (background) {
        ++handed_;
        pendingBytes_ += bytes;
        if (writerWaits_) changed_.notify_all();
        return;
    }
    // Files are made in the order they were handed over.
    waitUntilWritten(lock, handed_);
    writeOut(slot);
    ++handed_;
    ++written_;
}

bool PageFileWriter::takeBack(PageFile* done, bool wait)
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (taken_ == handed_) return false;
    if (written_ == taken_) {
        if (!wait) return false;
        waitUntilWritten(lock, taken_ + 1);
    }
    *done = std::move(ring_[taken_ % slots]);
    ++taken_;
    return true;
}

}  // namespace ravoth
