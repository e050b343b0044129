// A document file that lives in memory, named through /proc so that a run
// opens and maps it like any other, and a folder in memory for the page
// files: what the whole-run fuzz targets share.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace ravoth::fuzzing {

struct Scratch {
    Scratch()
    {
        fd = ::memfd_create("ravoth-fuzz", 0);
        if (fd < 0) std::abort();
        path = "/proc/self/fd/" + std::to_string(fd);
        // Memory where the system gives it to everyone, else /tmp: a chroot
        // or container may have /dev/shm as a bare folder of root's.
        std::string pattern = "/dev/shm/ravoth-fuzz-XXXXXX";
        if (!::mkdtemp(pattern.data())) {
            pattern = "/tmp/ravoth-fuzz-XXXXXX";
            if (!::mkdtemp(pattern.data())) std::abort();
        }
        folder = pattern;
        base = folder + "/Book.pdf";
    }
    ~Scratch()
    {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
        ::close(fd);
    }

    // Makes the file hold `bytes` bytes of `data`.
    void hold(const std::uint8_t* data, std::size_t bytes) const
    {
        if (::ftruncate(fd, 0) != 0 ||
            (bytes != 0 && ::pwrite(fd, data, bytes, 0) != static_cast<ssize_t>(bytes)))
            std::abort();
    }

    // Removes the files a run wrote.
    void clear() const
    {
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator(folder, ignored))
            std::filesystem::remove(entry.path(), ignored);
    }

    int fd = -1;
    std::string path;
    std::string folder;
    std::string base;
};

}  // namespace ravoth::fuzzing
