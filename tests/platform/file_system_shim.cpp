// Preloaded into ravoth-cli by tests/platform/page_placement_test.cpp: it
// stands for a file system that cannot rename without replacing, or whose
// sync fails, and it logs the renames and syncs that the program asks for,
// in order, so that a test can see what came before what. Each is driven by
// the environment, read at every call:
//   RAVOTH_SHIM_LOG        the file each call appends a line to
//   RAVOTH_SHIM_RENAMEAT2  an errno number renameat2 answers with, renaming
//                          nothing; unset, it renames
//   RAVOTH_SHIM_SYNC       an errno number fsync and fdatasync answer with,
//                          syncing nothing; unset, they sync
// Lines are "renameat2\tFROM\tTO\tERRNO" (0 when it renamed),
// "rename\tFROM\tTO" and "sync\tPATH", each appended in one write, so that
// the program's two writer threads never mix two lines.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

__attribute__((format(printf, 1, 2))) void logLine(const char* format, ...)
{
    const char* logPath = std::getenv("RAVOTH_SHIM_LOG");
    if (!logPath) return;
    char line[3 * 4096 + 64];
    std::va_list arguments;
    va_start(arguments, format);
    const int length = std::vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof line) return;
    const int saved = errno;
    const int fd = ::open(logPath, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) {
        if (::write(fd, line, static_cast<std::size_t>(length)) != length) std::abort();
        ::close(fd);
    }
    errno = saved;
}

// The errno number the environment asks a call to answer with, or 0.
int answerFor(const char* name)
{
    const char* value = std::getenv(name);
    return value ? std::atoi(value) : 0;
}

template <typename Function>
Function next(const char* name)
{
    void* found = ::dlsym(RTLD_NEXT, name);
    if (!found) std::abort();
    return reinterpret_cast<Function>(found);
}

int sync(const char* name, int fd)
{
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char path[4096] = {};
    if (::readlink(link, path, sizeof path - 1) < 0) std::strcpy(path, "?");
    logLine("sync\t%s\n", path);
    if (const int answer = answerFor("RAVOTH_SHIM_SYNC")) {
        errno = answer;
        return -1;
    }
    return next<int (*)(int)>(name)(fd);
}

}  // namespace

extern "C" {

int renameat2(int fromFolder, const char* from, int toFolder, const char* to, unsigned int flags) noexcept
{
    int error = answerFor("RAVOTH_SHIM_RENAMEAT2");
    int result = -1;
    if (error == 0) {
        result = next<int (*)(int, const char*, int, const char*, unsigned)>("renameat2")(fromFolder, from, toFolder,
                                                                                          to, flags);
        error = result == 0 ? 0 : errno;
    }
    logLine("renameat2\t%s\t%s\t%d\n", from, to, error);
    errno = error;
    return result;
}

int rename(const char* from, const char* to) noexcept
{
    logLine("rename\t%s\t%s\n", from, to);
    return next<int (*)(const char*, const char*)>("rename")(from, to);
}

int fsync(int fd) { return sync("fsync", fd); }

int fdatasync(int fd) { return sync("fdatasync", fd); }

}  // extern "C"
