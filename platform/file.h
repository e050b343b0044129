// Files for the job and the image output: whole-file reading, buffered
// binary writing, deletion. Paths are byte strings as platform/path.h
// describes them (the locale's encoding on Linux, UTF-8 on Windows).
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/path.h"

namespace ravoth {

// A file opened for binary reading; closed when the object goes.
class InputFile {
public:
    InputFile() = default;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    ~InputFile() { close(); }

    bool open(const char* path);
    // The file's length in bytes, or -1 when it cannot be told.
    std::int64_t length();
    // Reads up to `bytes` bytes from the start of the file in one request
    // (repeated only where the system hands out less than asked); returns
    // the number of bytes read.
    std::size_t readAll(unsigned char* into, std::size_t bytes);
    void close();

private:
    // A descriptor on Linux, a HANDLE on Windows; -1 when closed.
    std::intptr_t handle_ = -1;
};

// Whether the file at `path` can be opened for binary reading.
inline bool canOpenForReading(const char* path)
{
    InputFile file;
    return file.open(path);
}

// A file created (or truncated) for binary writing, with a write buffer.
// Any failure is remembered: once write() or close() has returned false the
// file's content is unreliable and the caller removes it.
class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();

    // Creates or truncates the file; false when it cannot be created.
    bool create(const char* path);
    bool write(const void* data, std::size_t bytes);
    bool writeByte(unsigned char byte) { return write(&byte, 1); }
    // Flushes and closes; false when anything written did not reach the file.
    bool close();

private:
    bool flush();
    // One write request, counted for the test hook; false (and the file
    // failed) when the system did not take all of it.
    bool request(const unsigned char* data, std::size_t bytes);
    // The system's own part: all of `bytes` written, or false.
    bool sendToSystem(const unsigned char* data, std::size_t bytes);
    bool closeHandle();

    static constexpr std::size_t bufferBytes = 64 * 1024;
    // A descriptor on Linux, a HANDLE on Windows; -1 when closed.
    std::intptr_t handle_ = -1;
    bool failed_ = false;
    std::size_t used_ = 0;
    unsigned char* buffer_ = nullptr;
};

// Removes a file; false when it could not be removed.
bool deleteFile(const char* path);

// Test hook: the nth write request from now (a flush to the system, or the
// close) fails as a full disk would, once; 0 switches injection off.
void failWriteAt(long long n);

}  // namespace ravoth
