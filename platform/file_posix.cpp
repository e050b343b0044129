#include "platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <system_error>
#include <thread>

namespace ravoth {

namespace {

OpenFailure failureOf(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR: return OpenFailure::NotFound;
    case EACCES:
    case EPERM: return OpenFailure::AccessDenied;
    default: return OpenFailure::Other;
    }
}

}  // namespace

bool InputFile::open(const char* path)
{
    close();
    failure_ = OpenFailure::None;
    // Without O_NONBLOCK the open of a pipe waits for a writer, for ever if
    // none comes; a regular file does not notice the flag.
    int fd;
    do {
        fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        failure_ = failureOf(errno);
        return false;
    }
    // A folder opens on Linux, and a pipe or a device would be read as a
    // document of whatever they hand out.
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        failure_ = OpenFailure::NotRegularFile;
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

bool OutputFile::mayReplaceFinal() const
{
    struct stat info {};
    if (::lstat(finalPath_, &info) != 0) return errno == ENOENT;
    if (S_ISDIR(info.st_mode)) return false;
    // A file the user made read-only stays as it is; a symbolic link is
    // replaced itself, and what it points to is never written.
    if (S_ISREG(info.st_mode)) return ::access(finalPath_, W_OK) == 0;
    return S_ISLNK(info.st_mode);
}

OutputFile::Opened OutputFile::openTemporary()
{
    int fd;
    do {
        fd = ::open(temporaryPath_, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return errno == EEXIST ? Opened::NameTaken : Opened::No;
    handle_ = fd;
    return Opened::Yes;
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

bool OutputFile::moveIntoPlace() { return ::rename(temporaryPath_, finalPath_) == 0; }

bool isUsableOutputName(const char* path)
{
    struct stat info {};
    if (::lstat(path, &info) == 0) return S_ISREG(info.st_mode) || S_ISLNK(info.st_mode);
    if (errno != ENOENT) return false;
    int fd;
    do {
        fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    // Made by someone else in the meantime: the name is taken by the system
    // all the same, and what was made is not ours to remove.
    if (fd < 0) return errno == EEXIST;
    ::close(fd);
    ::unlink(path);
    return true;
}

bool deleteFile(const char* path) { return ::unlink(path) == 0; }

}  // namespace ravoth
