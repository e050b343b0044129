#include "platform/file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>

#include <cerrno>
#include <cstdio>

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

// Only where the document cannot be mapped: one read, repeated where the
// system hands out less than asked.
std::size_t InputFile::readAll(unsigned char* into, std::size_t bytes)
{
    if (handle_ < 0) return 0;
    std::size_t done = 0;
    while (done < bytes) {
        const ssize_t got = ::pread(static_cast<int>(handle_), into + done, bytes - done, static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

namespace {

std::atomic<bool> mappingRefused{false};

// The mappings that a cut-short file may fault in, for the SIGBUS handler:
// a fixed table of lock-free slots, since the handler may take no lock.
struct GuardedMapping {
    std::atomic<const unsigned char*> start{nullptr};
    std::atomic<std::size_t> bytes{0};
    std::atomic<std::atomic<bool>*> changed{nullptr};
};
constexpr std::size_t guardSlots = 32;
GuardedMapping guarded[guardSlots];
struct sigaction previousBusAction {};

std::size_t pageBytes()
{
    static const std::size_t bytes = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    return bytes;
}

// A page of a mapping past the file's new end: the rest of the mapping
// becomes zeros, so that the touch and every later one go on, and the
// mapping's owner learns that its file changed. A fault anywhere else is
// passed on to the handler that was there before, or ends the program as
// it would have.
void onBusError(int signalNumber, siginfo_t* info, void* context)
{
    const auto* address = static_cast<const unsigned char*>(info->si_addr);
    for (GuardedMapping& slot : guarded) {
        const unsigned char* start = slot.start.load();
        const std::size_t bytes = slot.bytes.load();
        if (!start || address < start || static_cast<std::size_t>(address - start) >= bytes) continue;
        const std::uintptr_t page = reinterpret_cast<std::uintptr_t>(address) & ~(pageBytes() - 1);
        const std::uintptr_t end = reinterpret_cast<std::uintptr_t>(start) + bytes;
        const std::size_t rest = (end - page + pageBytes() - 1) & ~(pageBytes() - 1);
        ::mmap(reinterpret_cast<void*>(page), rest, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
        if (std::atomic<bool>* changed = slot.changed.load()) changed->store(true);
        return;
    }
    if (previousBusAction.sa_flags & SA_SIGINFO) {
        if (previousBusAction.sa_sigaction) return previousBusAction.sa_sigaction(signalNumber, info, context);
    } else if (previousBusAction.sa_handler != SIG_DFL && previousBusAction.sa_handler != SIG_IGN &&
               previousBusAction.sa_handler != nullptr) {
        return previousBusAction.sa_handler(signalNumber);
    }
    ::signal(SIGBUS, SIG_DFL);
}

void installBusHandler()
{
    static const bool installed = [] {
        struct sigaction action {};
        action.sa_sigaction = onBusError;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_SIGINFO | SA_NODEFER;
        return ::sigaction(SIGBUS, &action, &previousBusAction) == 0;
    }();
    (void)installed;
}

GuardedMapping* guard(const unsigned char* start, std::size_t bytes, std::atomic<bool>* changed)
{
    installBusHandler();
    for (GuardedMapping& slot : guarded) {
        const unsigned char* expected = nullptr;
        // The slot is claimed with a placeholder first, so that the handler
        // never sees a start without its size.
        static const unsigned char claimed = 0;
        if (!slot.start.compare_exchange_strong(expected, &claimed)) continue;
        slot.bytes.store(bytes);
        slot.changed.store(changed);
        slot.start.store(start);
        return &slot;
    }
    return nullptr;
}

void unguard(const unsigned char* start)
{
    for (GuardedMapping& slot : guarded) {
        if (slot.start.load() != start) continue;
        slot.bytes.store(0);
        slot.changed.store(nullptr);
        slot.start.store(nullptr);
        return;
    }
}

// A view for a file of no bytes, which the system does not map.
const unsigned char emptyView[1] = {0};

}  // namespace

void refuseMapping(bool refuse) { mappingRefused = refuse; }

const unsigned char* InputFile::map(std::size_t bytes, std::atomic<bool>* changed)
{
    if (handle_ < 0 || view_) return nullptr;
    if (bytes == 0) return emptyView;
    if (mappingRefused) return nullptr;
    void* view = ::mmap(nullptr, bytes, PROT_READ, MAP_PRIVATE, static_cast<int>(handle_), 0);
    if (view == MAP_FAILED) return nullptr;
    // Without a guard a file cut short would end the program: no view then.
    if (!guard(static_cast<const unsigned char*>(view), bytes, changed)) {
        ::munmap(view, bytes);
        return nullptr;
    }
    // The readers jump about the document, but page files are copied out
    // of it in long runs.
    ::madvise(view, bytes, MADV_WILLNEED);
    view_ = static_cast<const unsigned char*>(view);
    viewBytes_ = bytes;
    return view_;
}

void InputFile::unmap()
{
    if (!view_) return;
    unguard(view_);
    ::munmap(const_cast<unsigned char*>(view_), viewBytes_);
    view_ = nullptr;
    viewBytes_ = 0;
}

void InputFile::close()
{
    unmap();
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

bool OutputFile::precheckFinal() const { return true; }

OutputFile::Placed OutputFile::placeFinal()
{
    // A page's name is mostly new: then one call both checks and moves,
    // where a look first and a move after would take two.
    if (::renameat2(AT_FDCWD, temporaryPath_, AT_FDCWD, finalPath_, RENAME_NOREPLACE) == 0) return Placed::Yes;
    if (errno != EEXIST && errno != EINVAL && errno != ENOSYS) return Placed::Failed;
    if (!mayReplaceFinal()) return Placed::Refused;
    return ::rename(temporaryPath_, finalPath_) == 0 ? Placed::Yes : Placed::Failed;
}

OutputFile::SystemCopy OutputFile::copyBySystem(std::intptr_t source, std::uint64_t offset, std::size_t bytes)
{
    auto from = static_cast<off64_t>(offset);
    std::size_t done = 0;
    while (done < bytes) {
        const ssize_t copied = ::copy_file_range(static_cast<int>(source), &from, static_cast<int>(handle_),
                                                 nullptr, bytes - done, 0);
        if (copied > 0) {
            done += static_cast<std::size_t>(copied);
            continue;
        }
        if (copied < 0 && errno == EINTR) continue;
        // Some file systems and older kernels copy nothing between files;
        // until something is copied, writing from the view will do.
        if (copied < 0 && done == 0 &&
            (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP || errno == EBADF))
            return SystemCopy::Unsupported;
        // 0: the source ended before the bytes did.
        return SystemCopy::Failed;
    }
    return SystemCopy::Copied;
}

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
