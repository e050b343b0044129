// libFuzzer entry point: one whole run over a document, as the command line
// makes it. The document is a file mapped by the run; its structure is read,
// each page located, inflated, converted and written into a folder in
// memory, with bookmark titles as names when the first byte says so. The
// files the run wrote are removed again after each input.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "job/extraction.h"

using namespace ravoth;

namespace {

// A file that lives in memory, named through /proc so that the run opens
// and maps it like any other, and a folder for the page files.
struct Scratch {
    Scratch()
    {
        fd = ::memfd_create("ravoth-fuzz", 0);
        if (fd < 0) std::abort();
        path = "/proc/self/fd/" + std::to_string(fd);
        const char* shm = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
        std::string pattern = std::string(shm) + "/ravoth-fuzz-XXXXXX";
        if (!::mkdtemp(pattern.data())) std::abort();
        folder = pattern;
        base = folder + "/Book.pdf";
    }
    ~Scratch()
    {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
        ::close(fd);
    }
    int fd = -1;
    std::string path;
    std::string folder;
    std::string base;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1) return 0;
    static const Scratch scratch;
    // The first byte chooses the options; the rest is the document.
    const std::size_t documentBytes = size - 1;
    if (::ftruncate(scratch.fd, 0) != 0 ||
        (documentBytes != 0 && ::pwrite(scratch.fd, data + 1, documentBytes, 0) != static_cast<ssize_t>(documentBytes)))
        std::abort();

    ExtractionRun run;
    run.setOutlineNames((data[0] & 1) != 0);
    run.run(scratch.path.c_str(), 0, 0, scratch.base.c_str());
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(scratch.folder, ignored))
        std::filesystem::remove(entry.path(), ignored);
    return 0;
}
