#include "platform/file.h"
#include "platform/fault_plan.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>

#include <cerrno>
#include <limits>
#include <cstdint>
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
    readFailed_.store(false);
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
        // 0 is the file ending early; an error is the system failing to
        // read it, which the caller reports otherwise.
        if (got < 0) readFailed_.store(true);
        if (got <= 0) break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

namespace {

// The mappings whose pages may fault, for the SIGBUS handler: a fixed table
// of lock-free slots, since the handler may take no lock. It is state at
// namespace scope because the handler can reach nothing else.
struct GuardedMapping {
    std::atomic<std::uintptr_t> start{0};
    std::atomic<std::size_t> bytes{0};
    // The mapped file, which the handler asks for its length.
    std::atomic<int> descriptor{-1};
    std::atomic<std::atomic<bool>*> changed{nullptr};
    std::atomic<std::atomic<bool>*> readFailed{nullptr};
};
constexpr std::size_t guardSlots = 32;
GuardedMapping guarded[guardSlots];
struct sigaction previousBusAction {};
// Set before the handler is installed: sysconf may not be called from a
// handler, nor may a function-local static be initialised there.
std::atomic<std::size_t> guardPageBytes{0};
// A slot being filled. No mapping starts at the top of the address space,
// and the handler passes such a slot over before it looks at its size.
constexpr std::uintptr_t claimedSlot = ~std::uintptr_t{0};

// A page of a guarded mapping that the system cannot hand out: the rest of
// the mapping becomes zeros, so that the touch and every later one go on,
// and the mapping's owner learns that it can no longer trust the view. A
// page at or past the file's end was cut off by another program; a page
// the file still has failed to be read (a failing disk, a network file
// system gone), which the owner hears of apart. A fault anywhere else is
// passed on to the handler that was there before, or ends the program as
// it would have.
void onBusError(int signalNumber, siginfo_t* info, void* context)
{
    const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
    const std::size_t page = guardPageBytes.load();
    for (GuardedMapping& slot : guarded) {
        const std::uintptr_t start = slot.start.load();
        if (start == 0 || start == claimedSlot) continue;
        const std::size_t bytes = slot.bytes.load();
        if (address < start || address - start >= bytes) continue;
        const std::uintptr_t faultPage = address & ~(page - 1);
        const std::size_t rest = (start + bytes - faultPage + page - 1) & ~(page - 1);
        // A file that cannot even tell its length is taken as failing.
        struct stat file {};
        const bool cutShort = ::fstat(slot.descriptor.load(), &file) == 0 &&
                              static_cast<std::uint64_t>(file.st_size) <= faultPage - start;
        ::mmap(reinterpret_cast<void*>(faultPage), rest, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
        if (!cutShort)
            if (std::atomic<bool>* readFailed = slot.readFailed.load()) readFailed->store(true);
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
        guardPageBytes.store(static_cast<std::size_t>(::sysconf(_SC_PAGESIZE)));
        struct sigaction action {};
        action.sa_sigaction = onBusError;
        sigemptyset(&action.sa_mask);
        // SIGBUS stays blocked while the handler runs: a fault of its own
        // then ends the program rather than entering it again.
        action.sa_flags = SA_SIGINFO;
        return ::sigaction(SIGBUS, &action, &previousBusAction) == 0;
    }();
    (void)installed;
}

GuardedMapping* guard(const unsigned char* start, std::size_t bytes, int descriptor, std::atomic<bool>* changed,
                      std::atomic<bool>* readFailed)
{
    installBusHandler();
    for (GuardedMapping& slot : guarded) {
        std::uintptr_t expected = 0;
        // The slot is claimed with a placeholder first, so that the handler
        // never sees a start without its size.
        if (!slot.start.compare_exchange_strong(expected, claimedSlot)) continue;
        slot.bytes.store(bytes);
        slot.descriptor.store(descriptor);
        slot.changed.store(changed);
        slot.readFailed.store(readFailed);
        slot.start.store(reinterpret_cast<std::uintptr_t>(start));
        return &slot;
    }
    return nullptr;
}

void unguard(const unsigned char* start)
{
    for (GuardedMapping& slot : guarded) {
        if (slot.start.load() != reinterpret_cast<std::uintptr_t>(start)) continue;
        slot.bytes.store(0);
        slot.changed.store(nullptr);
        slot.readFailed.store(nullptr);
        slot.descriptor.store(-1);
        slot.start.store(0);
        return;
    }
}

// A view for a file of no bytes, which the system does not map.
const unsigned char emptyView[1] = {0};

}  // namespace

const unsigned char* InputFile::map(std::size_t bytes, std::atomic<bool>* changed)
{
    if (handle_ < 0 || view_) return nullptr;
    if (bytes == 0) return emptyView;
    if (const FaultPlan* plan = currentFaultPlan(); plan && plan->isMappingRefused()) return nullptr;
    void* view = ::mmap(nullptr, bytes, PROT_READ, MAP_PRIVATE, static_cast<int>(handle_), 0);
    if (view == MAP_FAILED) return nullptr;
    // Without a guard a file cut short would end the program: no view then.
    if (!guard(static_cast<const unsigned char*>(view), bytes, static_cast<int>(handle_), changed, &readFailed_)) {
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

OutputFile::FinalName OutputFile::finalName() const
{
    struct stat info {};
    if (::lstat(finalPath_, &info) != 0) return errno == ENOENT ? FinalName::Free : FinalName::Refused;
    if (S_ISDIR(info.st_mode)) return FinalName::Refused;
    // A file the user made read-only stays as it is; a symbolic link is
    // replaced itself, and what it points to is never written.
    if (S_ISREG(info.st_mode)) return ::access(finalPath_, W_OK) == 0 ? FinalName::Taken : FinalName::Refused;
    return S_ISLNK(info.st_mode) ? FinalName::Taken : FinalName::Refused;
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

bool OutputFile::seekSystem(std::uint64_t position)
{
    if (position > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) return false;
    return ::lseek(static_cast<int>(handle_), static_cast<off_t>(position), SEEK_SET) >= 0;
}

bool OutputFile::precheckFinal() const { return true; }

namespace {

// The answers of a renameat2 that cannot refuse to replace here: a kernel
// without the call, or a sandbox that denies calls it does not know
// (ENOSYS, EPERM); a file system without the flag (EINVAL, EOPNOTSUPP).
bool cannotRefuseToReplace(int error)
{
    return error == EINVAL || error == ENOSYS || error == EPERM || error == EOPNOTSUPP || error == ENOTSUP;
}

// Makes the file's bytes reach the disk. It was written through a
// descriptor closed since, but a sync reaches the file's data from any.
bool syncToDisk(const char* path)
{
    int fd;
    do {
        fd = ::open(path, O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    int synced;
    do {
        synced = ::fdatasync(fd);
    } while (synced != 0 && errno == EINTR);
    ::close(fd);
    return synced == 0;
}

}  // namespace

OutputFile::Placed OutputFile::placeFinal()
{
    // A page's name is mostly new: then one call both checks and moves,
    // where a look first and a move after would take two, and the file
    // needs no sync, as no earlier file of that name can be lost to a
    // power cut that finds it unwritten.
    if (::renameat2(AT_FDCWD, temporaryPath_, AT_FDCWD, finalPath_, RENAME_NOREPLACE) == 0) return Placed::Yes;
    if (errno != EEXIST && !cannotRefuseToReplace(errno)) return Placed::Failed;
    switch (finalName()) {
    case FinalName::Refused: return Placed::Refused;
    case FinalName::Taken:
        // Without it the rename may reach the disk before the data does, and
        // a power cut would leave an empty file where a whole one was.
        if (!syncToDisk(temporaryPath_)) return Placed::Failed;
        break;
    case FinalName::Free: break;
    }
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

// Linux refuses copy_file_range between file systems of two kinds (a
// document on ext4, pages on tmpfs), but sends between them. Measured there
// against the other ways, sending is the fastest. Written from the mapped
// document, pages took up to 3.6 times as long: the writes fault the view
// in as they go, in small pieces where the readers never touched it (pages
// of 255 MB) or where the file's cached pages are small. With each piece
// populated first (madvise MADV_POPULATE_READ) they took 2.5 times the
// processor time, with MADV_SEQUENTIAL more still. Read into a buffer of
// the program's own and written from there, 5 to 15% more, for a second
// copy of every byte.
OutputFile::SystemCopy OutputFile::sendBySystem(std::intptr_t source, std::uint64_t offset, std::size_t bytes)
{
    auto from = static_cast<off_t>(offset);
    std::size_t done = 0;
    while (done < bytes) {
        const ssize_t sent = ::sendfile(static_cast<int>(handle_), static_cast<int>(source), &from, bytes - done);
        if (sent > 0) {
            done += static_cast<std::size_t>(sent);
            continue;
        }
        if (sent < 0 && errno == EINTR) continue;
        // A source the system cannot send from; until something is sent,
        // writing from the view will do.
        if (sent < 0 && done == 0 && (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP))
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
