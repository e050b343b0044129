#include "platform/file.h"

#include <windows.h>


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

}  // namespace

bool InputFile::open(const char* path)
{
    close();
    // Without FILE_FLAG_BACKUP_SEMANTICS a folder does not open, so it can
    // never be taken for a document.
    const WidePath widePath(path);
    if (!widePath.get()) return false;
    const HANDLE handle = CreateFileW(widePath.get(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
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

bool OutputFile::create(const char* path)
{
    if (handle_ != -1) return false;
    const WidePath widePath(path);
    if (!widePath.get()) return false;
    const HANDLE handle = CreateFileW(widePath.get(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    // Only a file on disk will do: a name such as "CON" or "NUL" reaches a
    // device, and what is written there would be counted as a page written.
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        CloseHandle(handle);
        return false;
    }
    handle_ = asSlot(handle);
    failed_ = false;
    used_ = 0;
    return true;
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

bool deleteFile(const char* path)
{
    const WidePath widePath(path);
    return widePath.get() && DeleteFileW(widePath.get()) != 0;
}

}  // namespace ravoth
