#include "platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <thread>

namespace ravoth {

bool InputFile::open(const char* path)
{
    close();
    int fd;
    do {
        fd = ::open(path, O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    // A folder opens on Linux but cannot be read as a document.
    struct stat info {};
    if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        ::close(fd);
        return false;
    }
    handle_ = fd;
    return true;
}

std::int64_t InputFile::length()
{
    if (handle_ < 0) return -1;
    struct stat info {};
    if (::fstat(static_cast<int>(handle_), &info) != 0) return -1;
    return static_cast<std::int64_t>(info.st_size);
}

namespace {

// Reads [from, to) of the file into the same range of `into`; returns the
// bytes read, short only at the end of the file or on an error.
std::size_t readRange(int descriptor, unsigned char* into, std::size_t from, std::size_t to)
{
    std::size_t done = from;
    while (done < to) {
        const ssize_t got = ::pread(descriptor, into + done, to - done, static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += static_cast<std::size_t>(got);
    }
    return done - from;
}

// Below this a second thread costs more than it saves.
constexpr std::size_t splitReadBytes = std::size_t{32} << 20;

}  // namespace

std::size_t InputFile::readAll(unsigned char* into, std::size_t bytes)
{
    if (handle_ < 0) return 0;
    const int descriptor = static_cast<int>(handle_);
    // Most of a large read is the kernel faulting in the fresh block, which
    // a second core can share: it reads the back half meanwhile.
    if (bytes >= splitReadBytes && std::thread::hardware_concurrency() > 1) {
        const std::size_t half = bytes / 2;
        std::size_t back = 0;
        try {
            std::thread reader([&] { back = readRange(descriptor, into, half, bytes); });
            const std::size_t front = readRange(descriptor, into, 0, half);
            reader.join();
            // A file that shrank meanwhile ends inside the front half, or
            // inside the back; either way the count stops at the gap.
            return front < half ? front : half + back;
        } catch (const std::system_error&) {
            // No thread to be had: read it all here.
        }
    }
    return readRange(descriptor, into, 0, bytes);
}

void InputFile::close()
{
    if (handle_ >= 0) ::close(static_cast<int>(handle_));
    handle_ = -1;
}

bool OutputFile::create(const char* path)
{
    if (handle_ >= 0) return false;
    int fd;
    do {
        fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    handle_ = fd;
    failed_ = false;
    used_ = 0;
    return true;
}

bool OutputFile::sendToSystem(const unsigned char* data, std::size_t bytes)
{
    std::size_t done = 0;
    while (done < bytes) {
        const ssize_t put = ::write(static_cast<int>(handle_), data + done, bytes - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        done += static_cast<std::size_t>(put);
    }
    return true;
}

bool OutputFile::closeHandle() { return ::close(static_cast<int>(handle_)) == 0; }

bool deleteFile(const char* path) { return ::unlink(path) == 0; }

}  // namespace ravoth
