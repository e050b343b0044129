#include "platform/file.h"
#include "platform/fault_plan.h"

#include <windows.h>

#include <iterator>

namespace ravoth {
namespace {

// The handle slot holds -1 when closed, which is also INVALID_HANDLE_VALUE.
HANDLE asHandle(std::intptr_t slot) { return reinterpret_cast<HANDLE>(slot); }
std::intptr_t asSlot(HANDLE handle) { return reinterpret_cast<std::intptr_t>(handle); }

// ReadFile and WriteFile count in 32 bits; larger requests go in pieces.
constexpr std::size_t maxRequestBytes = 0x40000000;

// A UTF-8 path as the wide calls take it, within the classic limit of
// MAX_PATH units with the NUL. A path that is not UTF-8 or does not fit has
// no wide form, and the call fails as for a name the system refuses.
class WidePath {
public:
    explicit WidePath(const char* utf8)
        : ok_(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, units_, MAX_PATH) > 0)
    {
    }
    const wchar_t* get() const { return ok_ ? units_ : nullptr; }

private:
    wchar_t units_[MAX_PATH];
    bool ok_;
};

OpenFailure failureOf(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME: return OpenFailure::NotFound;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION: return OpenFailure::AccessDenied;
    default: return OpenFailure::Other;
    }
}

}  // namespace

bool InputFile::open(const char* path)
{
    close();
    failure_ = OpenFailure::None;
    readFailed_.store(false);
    // Without FILE_FLAG_BACKUP_SEMANTICS a folder does not open, so it can
    // never be taken for a document.
    const WidePath widePath(path);
    if (!widePath.get()) {
        failure_ = OpenFailure::NotFound;
        return false;
    }
    const HANDLE handle = CreateFileW(widePath.get(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        failure_ = failureOf(GetLastError());
        return false;
    }
    // A pipe or a device would be read as a document of whatever they hand
    // out.
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        CloseHandle(handle);
        failure_ = OpenFailure::NotRegularFile;
        return false;
    }
    handle_ = asSlot(handle);
    return true;
}

std::int64_t InputFile::length()
{
    if (handle_ == -1) return -1;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(asHandle(handle_), &size)) return -1;
    return static_cast<std::int64_t>(size.QuadPart);
}

std::size_t InputFile::readAll(unsigned char* into, std::size_t bytes)
{
    if (handle_ == -1) return 0;
    LARGE_INTEGER start;
    start.QuadPart = 0;
    if (!SetFilePointerEx(asHandle(handle_), start, nullptr, FILE_BEGIN)) return 0;
    std::size_t done = 0;
    while (done < bytes) {
        const std::size_t want = bytes - done < maxRequestBytes ? bytes - done : maxRequestBytes;
        DWORD got = 0;
        // 0 bytes is the file ending early; a failure is the system failing
        // to read it, which the caller reports otherwise.
        if (!ReadFile(asHandle(handle_), into + done, static_cast<DWORD>(want), &got, nullptr)) {
            readFailed_.store(true);
            break;
        }
        if (got == 0) break;
        done += got;
    }
    return done;
}

namespace {

// A view for a file of no bytes, which the system does not map.
const unsigned char emptyView[1] = {0};

}  // namespace

// Windows refuses to cut a mapped file short, so no page of the view can go
// missing under the run and `changed` is never needed.
const unsigned char* InputFile::map(std::size_t bytes, std::atomic<bool>*)
{
    if (handle_ == -1 || view_) return nullptr;
    if (bytes == 0) return emptyView;
    if (const FaultPlan* plan = currentFaultPlan(); plan && plan->isMappingRefused()) return nullptr;
    const HANDLE mapping = CreateFileMappingW(asHandle(handle_), nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (!mapping) return nullptr;
    // The view keeps the mapping alive on its own.
    void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, bytes);
    CloseHandle(mapping);
    if (!view) return nullptr;
    view_ = static_cast<const unsigned char*>(view);
    viewBytes_ = bytes;
    return view_;
}

void InputFile::unmap()
{
    if (!view_) return;
    UnmapViewOfFile(view_);
    view_ = nullptr;
    viewBytes_ = 0;
}

void InputFile::close()
{
    unmap();
    if (handle_ != -1) CloseHandle(asHandle(handle_));
    handle_ = -1;
}

OutputFile::FinalName OutputFile::finalName() const
{
    const WidePath widePath(finalPath_);
    if (!widePath.get()) return FinalName::Refused;
    // Opened without access, folders included, only to see what is there.
    const HANDLE handle = CreateFileW(widePath.get(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND ? FinalName::Free : FinalName::Refused;
    BY_HANDLE_FILE_INFORMATION information {};
    // A name such as "CON" or "NUL.jpg" reaches a device, and what is
    // written there would be counted as a page written; a file the user
    // made read-only stays as it is.
    const bool replaceable = GetFileType(handle) == FILE_TYPE_DISK &&
                             GetFileInformationByHandle(handle, &information) &&
                             !(information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY));
    CloseHandle(handle);
    return replaceable ? FinalName::Taken : FinalName::Refused;
}

OutputFile::Opened OutputFile::openTemporary()
{
    const WidePath widePath(temporaryPath_);
    if (!widePath.get()) return Opened::No;
    const HANDLE handle = CreateFileW(widePath.get(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? Opened::NameTaken
                                                                           : Opened::No;
    }
    handle_ = asSlot(handle);
    return Opened::Yes;
}

bool OutputFile::sendToSystem(const unsigned char* data, std::size_t bytes)
{
    std::size_t done = 0;
    while (done < bytes) {
        const std::size_t want = bytes - done < maxRequestBytes ? bytes - done : maxRequestBytes;
        DWORD put = 0;
        if (!WriteFile(asHandle(handle_), data + done, static_cast<DWORD>(want), &put, nullptr) || put == 0)
            return false;
        done += put;
    }
    return true;
}

bool OutputFile::closeHandle() { return CloseHandle(asHandle(handle_)) != 0; }

bool OutputFile::seekSystem(std::uint64_t position)
{
    LARGE_INTEGER distance;
    distance.QuadPart = static_cast<LONGLONG>(position);
    return position <= 0x7FFFFFFFFFFFFFFFull && SetFilePointerEx(asHandle(handle_), distance, nullptr, FILE_BEGIN) != 0;
}

// The page is written from the mapped view: WriteFile takes it from the
// file cache without a copy of the program's own.
OutputFile::SystemCopy OutputFile::copyBySystem(std::intptr_t, std::uint64_t, std::size_t)
{
    return SystemCopy::Unsupported;
}

OutputFile::SystemCopy OutputFile::sendBySystem(std::intptr_t, std::uint64_t, std::size_t)
{
    return SystemCopy::Unsupported;
}

bool OutputFile::precheckFinal() const { return finalName() != FinalName::Refused; }

namespace {

// A virus scanner or an indexer opens a file just written for a moment,
// and a move or an open of it meanwhile meets one of these.
bool isHeldByAnother(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_LOCK_VIOLATION;
}

// The pauses between tries while another program holds the file: about a
// second in all, longer than such a look takes, short enough not to hold
// up a run for a file that is held for good.
constexpr DWORD heldRetryPauses[] = {10, 20, 50, 100, 200, 300, 320};

// Tries `attempt` (a call that sets the last error when it fails) again
// while the file is held by another program, unless the run is asked to
// stop; ERROR_SUCCESS, or the error of the last try.
template <typename Attempt>
DWORD retryWhileHeld(const StopFlags& stops, Attempt attempt)
{
    for (std::size_t pause = 0;; ++pause) {
        if (attempt()) return ERROR_SUCCESS;
        const DWORD error = GetLastError();
        if (!isHeldByAnother(error) || pause == std::size(heldRetryPauses) || stops.isRaised()) return error;
        Sleep(heldRetryPauses[pause]);
    }
}

// Makes the file's bytes reach the disk. It was written through a handle
// closed since, but a flush reaches the file's data through any handle
// that may write.
bool flushToDisk(const wchar_t* path, const StopFlags& stops)
{
    HANDLE handle = INVALID_HANDLE_VALUE;
    const DWORD opened = retryWhileHeld(stops, [&] {
        handle = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        return handle != INVALID_HANDLE_VALUE;
    });
    if (opened != ERROR_SUCCESS) return false;
    const bool flushed = FlushFileBuffers(handle) != 0;
    CloseHandle(handle);
    return flushed;
}

}  // namespace

OutputFile::Placed OutputFile::placeFinal()
{
    const WidePath from(temporaryPath_);
    const WidePath to(finalPath_);
    if (!from.get() || !to.get()) return Placed::Failed;
    // A page's name is mostly new: then it is moved without replacing and
    // needs no flush, as no earlier file of that name can be lost to a power
    // cut that finds it unwritten.
    const DWORD moved = retryWhileHeld(stops_, [&] { return MoveFileExW(from.get(), to.get(), 0) != 0; });
    if (moved == ERROR_SUCCESS) return Placed::Yes;
    if (moved != ERROR_ALREADY_EXISTS && moved != ERROR_FILE_EXISTS) return Placed::Failed;
    // Looked at again: what create() saw may have changed since.
    if (finalName() == FinalName::Refused) return Placed::Refused;
    // Without the flush the move may reach the disk before the data does,
    // and a power cut would leave an empty file where a whole one was.
    if (!flushToDisk(from.get(), stops_)) return Placed::Failed;
    const DWORD replaced =
        retryWhileHeld(stops_, [&] { return MoveFileExW(from.get(), to.get(), MOVEFILE_REPLACE_EXISTING) != 0; });
    return replaced == ERROR_SUCCESS ? Placed::Yes : Placed::Failed;
}

bool isUsableOutputName(const char* path)
{
    const WidePath widePath(path);
    if (!widePath.get()) return false;
    // A name such as "CON" or "NUL.jpg" reaches a device, and what is
    // written there would be counted as a page written: only a file on disk
    // proves a name.
    HANDLE handle = CreateFileW(widePath.get(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        const bool isDiskFile = GetFileType(handle) == FILE_TYPE_DISK;
        CloseHandle(handle);
        return isDiskFile;
    }
    if (GetLastError() != ERROR_FILE_NOT_FOUND) return false;
    // Made anew and gone again when closed.
    handle = CreateFileW(widePath.get(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    const bool isDiskFile = GetFileType(handle) == FILE_TYPE_DISK;
    CloseHandle(handle);
    return isDiskFile;
}

bool deleteFile(const char* path)
{
    const WidePath widePath(path);
    return widePath.get() && DeleteFileW(widePath.get()) != 0;
}

}  // namespace ravoth
