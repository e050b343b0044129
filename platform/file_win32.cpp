#include "platform/file.h"

#include <windows.h>


namespace ravoth {
namespace {

// The handle slot holds -1 when closed, which is also INVALID_HANDLE_VALUE.
HANDLE asHandle(std::intptr_t slot) { return reinterpret_cast<HANDLE>(slot); }
std::intptr_t asSlot(HANDLE handle) { return reinterpret_cast<std::intptr_t>(handle); }

// ReadFile and WriteFile count in 32 bits; larger requests go in pieces.
constexpr std::size_t maxRequestBytes = 0x40000000;

}  // namespace

namespace {

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
    // Without FILE_FLAG_BACKUP_SEMANTICS a folder does not open, so it can
    // never be taken for a document.
    const HANDLE handle = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
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
        if (!ReadFile(asHandle(handle_), into + done, static_cast<DWORD>(want), &got, nullptr) ||
            got == 0)
            break;
        done += got;
    }
    return done;
}

void InputFile::close()
{
    if (handle_ != -1) CloseHandle(asHandle(handle_));
    handle_ = -1;
}

bool OutputFile::mayReplaceFinal() const
{
    const DWORD attributes = GetFileAttributesA(finalPath_);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND;
    }
    // A file the user made read-only stays as it is.
    return !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY));
}

OutputFile::Opened OutputFile::openTemporary()
{
    const HANDLE handle = CreateFileA(temporaryPath_, GENERIC_WRITE, FILE_SHARE_READ, nullptr,
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

bool OutputFile::moveIntoPlace()
{
    return MoveFileExA(temporaryPath_, finalPath_, MOVEFILE_REPLACE_EXISTING) != 0;
}

bool isUsableOutputName(const char* path)
{
    // A name such as "CON" or "NUL.jpg" reaches a device, and what is
    // written there would be counted as a page written: only a file on disk
    // proves a name.
    HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        const bool isDiskFile = GetFileType(handle) == FILE_TYPE_DISK;
        CloseHandle(handle);
        return isDiskFile;
    }
    if (GetLastError() != ERROR_FILE_NOT_FOUND) return false;
    // Made anew and gone again when closed.
    handle = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    const bool isDiskFile = GetFileType(handle) == FILE_TYPE_DISK;
    CloseHandle(handle);
    return isDiskFile;
}

bool deleteFile(const char* path) { return DeleteFileA(path) != 0; }

}  // namespace ravoth
