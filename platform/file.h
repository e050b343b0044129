// Files for the job and the image output: whole-file reading, buffered
// binary writing put in place whole, deletion. Paths are byte strings as
// platform/path.h describes them (the locale's encoding on Linux, UTF-8 on
// Windows).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/path.h"

namespace ravoth {

// Why a file could not be opened for reading, for the message the user sees.
enum class OpenFailure { None, NotFound, AccessDenied, NotRegularFile, Other };

// A file opened for binary reading; closed when the object goes.
class InputFile {
public:
    InputFile() = default;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    ~InputFile() { close(); }

    // Opens a regular file. Anything else (a folder, a pipe, a device) is
    // refused at once, without waiting for a writer at the other end.
    bool open(const char* path);
    // Why the last open failed; None after a successful one.
    OpenFailure failure() const { return failure_; }
    // The file's length in bytes, or -1 when it cannot be told.
    std::int64_t length();
    // Reads up to `bytes` bytes from the start of the file in one request
    // (repeated only where the system hands out less than asked); returns
    // the number of bytes read.
    std::size_t readAll(unsigned char* into, std::size_t bytes);

    // Maps the first `bytes` bytes of the file read-only and returns where
    // they start; null when the system will not map it (the caller then
    // reads it instead). The view lasts until close(). On Linux a page of
    // the view that cannot be had would end the program on its first touch:
    // the file was cut short by another program, or the disk or the network
    // file system failed to hand it out. Such a touch instead finds zeros
    // from there on and turns *changed true, which the caller must then look
    // at before it trusts what it read; readFailed() then tells a failed
    // read from a file cut short. (Windows refuses to cut a mapped file
    // short.)
    const unsigned char* map(std::size_t bytes, std::atomic<bool>* changed);
    void close();

    // Whether the system failed to hand out bytes of the file (an
    // input/output error), through readAll or through the view, rather than
    // the file ending early. Kept after close(), so that a caller may ask
    // once it has released the file; open() starts it anew.
    bool readFailed() const { return readFailed_.load(); }

    // A descriptor on Linux, a HANDLE on Windows; -1 when closed.
    std::intptr_t handle() const { return handle_; }

private:
    void unmap();

    std::intptr_t handle_ = -1;
    OpenFailure failure_ = OpenFailure::None;
    // Set by the fault handler too, so lock-free.
    std::atomic<bool> readFailed_{false};
    const unsigned char* view_ = nullptr;
    std::size_t viewBytes_ = 0;
};

// Whether the file at `path` can be opened for binary reading; why not in
// *failure when given.
inline bool canOpenForReading(const char* path, OpenFailure* failure = nullptr)
{
    InputFile file;
    const bool opened = file.open(path);
    if (failure) *failure = file.failure();
    return opened;
}

// Flags of which any one, once it turns true, makes an OutputFile give up:
// a stop asked for by the user or a caller, a document found changed.
struct StopFlags {
    const std::atomic<bool>* flags[3] = {};
    bool isRaised() const
    {
        for (const std::atomic<bool>* flag : flags)
            if (flag && flag->load(std::memory_order_relaxed)) return true;
        return false;
    }
};

// An output file with a write buffer. It is written under a temporary name
// in the folder of its final name and moved onto the final name only once
// it is whole and closed, so that a write that fails or is stopped never
// leaves part of a picture under the final name, nor harms a file that
// already has it. Any failure is remembered: once write() has returned
// false, close() removes the temporary file and returns false.
class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    // Removes the temporary file of a file that was not closed.
    ~OutputFile();

    // Starts the file that close() will put at `path`. False when it cannot
    // be made: `path` is too long or names a folder, an existing file there
    // may not be written, or no temporary file can be made beside it.
    bool create(const char* path);
    bool write(const void* data, std::size_t bytes);
    bool writeByte(unsigned char byte) { return write(&byte, 1); }
    // Writes `bytes` bytes of `source` from `offset` on, which `view` holds
    // (its mapping): where the system copies between files itself (Linux),
    // they go from file to file without passing through the program, else
    // they are written from the view. Fails, as a write does, also when the
    // source ends before them.
    bool copyFrom(const InputFile& source, std::uint64_t offset, const void* view, std::size_t bytes);
    // Goes on writing at `position` from the file's start, for formats that
    // fill in a header once what follows it is written. Fails as a write
    // does.
    bool seek(std::uint64_t position);
    // Flushes, closes and moves the file onto its final name, replacing what
    // had that name. A file that replaces another is first made to reach the
    // disk, so that a power cut after the move finds either file whole; a
    // new name needs no such wait, as it is never made before the move. False
    // when anything written did not reach the file or the move failed; the
    // temporary file is then gone and the final name untouched.
    bool close();
    // Drops the file: the temporary file is removed, the final name untouched.
    void discard();
    // After create() or close() returned false: whether it was the final
    // name that refused the file (a folder, a file the user made read-only),
    // rather than the writing.
    bool wasRefused() const { return refused_; }

    // From the moment one of the flags turns true, every write to the
    // system fails, so that a run asked to stop does not finish a large file
    // first, and the file is not put in place.
    void stopWhen(const StopFlags& stops) { stops_ = stops; }

private:
    enum class Opened { Yes, NameTaken, No };

    bool flush();
    // One write request, counted for the test hook; false (and the file
    // failed) when the system did not take all of it.
    bool request(const unsigned char* data, std::size_t bytes);

    // The system's own part.
    // What is at finalPath_: nothing; something an output may replace (a
    // file that may be written, a symbolic link); or something it may not (a
    // folder, a file the user made read-only).
    enum class FinalName { Free, Taken, Refused };
    FinalName finalName() const;
    // The check create() makes before anything is written: on Windows that
    // finalName is not Refused (names of devices are refused there too); on
    // Linux none, as placeFinal finds out in the same call that puts the
    // file in place.
    bool precheckFinal() const;
    // Creates temporaryPath_ anew; NameTaken when something has that name.
    Opened openTemporary();
    // All of `bytes` written, or false.
    bool sendToSystem(const unsigned char* data, std::size_t bytes);
    bool closeHandle();
    bool seekSystem(std::uint64_t position);
    // Moves temporaryPath_ onto finalPath_, replacing what may be replaced
    // once the temporary file has reached the disk.
    enum class Placed { Yes, Refused, Failed };
    Placed placeFinal();
    // Copies [offset, offset + bytes) of the source into the file by the
    // system's own copy: Copied, or Unsupported (nothing copied; the caller
    // writes instead), or Failed.
    enum class SystemCopy { Copied, Unsupported, Failed };
    SystemCopy copyBySystem(std::intptr_t source, std::uint64_t offset, std::size_t bytes);
    // Where copyBySystem is Unsupported, as between file systems of two
    // kinds: the same bytes sent by the system through a buffer of its own,
    // still without passing through the program. The same answers.
    SystemCopy sendBySystem(std::intptr_t source, std::uint64_t offset, std::size_t bytes);

    // Bytes a temporary name adds to the folder of the final name.
    static constexpr std::size_t temporaryNameBytes = 20;
    static constexpr std::size_t bufferBytes = 64 * 1024;
    // A descriptor on Linux, a HANDLE on Windows; -1 when closed.
    std::intptr_t handle_ = -1;
    bool failed_ = false;
    bool refused_ = false;
    std::size_t used_ = 0;
    unsigned char* buffer_ = nullptr;
    StopFlags stops_;
    char finalPath_[maxPathBytes + 1] = {};
    // Empty when there is no temporary file to remove.
    char temporaryPath_[maxPathBytes + temporaryNameBytes + 1] = {};
};

// Whether `path` may name an output file, found out without harming
// anything: a regular file (or a symbolic link) already there proves the
// name; a folder or another kind of file there refuses it; otherwise a new
// file is made there exclusively and removed again. Only the file system
// knows which names it takes.
bool isUsableOutputName(const char* path);

// Removes a file; false when it could not be removed.
bool deleteFile(const char* path);


}  // namespace ravoth
