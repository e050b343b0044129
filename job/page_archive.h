// One ZIP archive (a comic book archive, .cbz) holding a run's page files
// as entries, written as the pages come and put in place whole, as a page
// file is: after a failure or a stop nothing is left under its name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "pdf/primitives.h"
#include "platform/file.h"

namespace ravoth {

class PageArchive {
public:
    PageArchive() = default;
    PageArchive(const PageArchive&) = delete;
    PageArchive& operator=(const PageArchive&) = delete;
    // Drops an archive that was not finished.
    ~PageArchive();

    // Starts the archive that finish() puts at `path`; it gives up as soon
    // as one of `stops` turns true. False when it cannot be made.
    bool create(const char* path, const StopFlags& stops);
    // Appends the entry `name` holding `headBytes` bytes of `head`, then
    // `bytes` bytes of `data`: deflated when `compress`, else stored as
    // they are. False when it was not written whole; the archive is then
    // failed and every later call fails too.
    bool add(const char* name, const Byte* head, std::size_t headBytes, const Byte* data, std::size_t bytes,
             bool compress);
    // Appends `text` as the entry `name`, writes the archive's directory and
    // puts it in place; false when any of it failed (nothing is then left).
    bool finish(const char* name, std::string_view text);
    // Removes what was written; the final name is untouched.
    void discard();

    // Used by the ZIP library's file functions.
    bool writeBytes(const void* data, std::size_t bytes);
    bool seekTo(std::uint64_t position);
    std::uint64_t position() const { return position_; }

private:
    void* zip_ = nullptr;
    OutputFile file_;
    std::uint64_t position_ = 0;
    std::uint64_t end_ = 0;
    bool failed_ = false;
};

}  // namespace ravoth
