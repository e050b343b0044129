// Where a run's page files go: files of their own (beside the PDF or in the
// output folder), the entries of one archive, or a list of what a run would
// write. The writing threads convert every file; files of their own are
// written by the threads too, while a sink that gathers them takes each
// converted file on the run's thread, in page order.
#pragma once

#include <cstddef>
#include <memory>
#include <set>
#include <string>
#include <string_view>

#include "job/page_outcome.h"
#include "platform/file.h"

namespace ravoth {

struct PageFile;
class PageArchive;

class PageSink {
public:
    virtual ~PageSink() = default;

    // Whether the writing threads write each file under its name.
    virtual bool writesOnThreads() const = 0;
    // Takes a converted file on the run's thread, in page order, and frees
    // its blocks: 0, or the code its page fails with (see PageFile::code).
    virtual int take(PageFile& file) = 0;
    // The stage of a page whose file was taken.
    virtual PageStage takenStage() const { return PageStage::Written; }
    // Whether a file may have the name `name` (its folder included): a
    // title's name, or a page's numbered name when `numbered`.
    virtual bool isUsableName(const char* name, bool numbered) const = 0;
    // Gives the file the name it was named with, for good.
    virtual void claim(PageFile&) {}
};

// Files of their own, written by the threads.
class FileSink final : public PageSink {
public:
    bool writesOnThreads() const override { return true; }
    int take(PageFile& file) override;
    // Only the file system knows which names it takes; a page's numbered
    // name is its own.
    bool isUsableName(const char* name, bool numbered) const override;
};

// The names an archive holds, each once, without the folder of the names
// given (`folderBytes` bytes).
class EntryNames {
public:
    explicit EntryNames(std::size_t folderBytes) : folderBytes_(folderBytes) {}
    bool isFree(const char* name) const;
    void claim(PageFile& file);

private:
    std::size_t offsetOf(const char* name) const;
    std::size_t folderBytes_;
    std::set<std::string> names_;
};

// What a run would write, written nowhere; named as an archive's entries
// when the run was asked for one.
class ListSink final : public PageSink {
public:
    // `archiveNames`: the entries' names, or none for files.
    explicit ListSink(std::unique_ptr<EntryNames> archiveNames) : names_(std::move(archiveNames)) {}
    bool writesOnThreads() const override { return false; }
    int take(PageFile& file) override;
    PageStage takenStage() const override { return PageStage::Listed; }
    bool isUsableName(const char* name, bool) const override { return !names_ || names_->isFree(name); }
    void claim(PageFile& file) override
    {
        if (names_) names_->claim(file);
    }

private:
    std::unique_ptr<EntryNames> names_;
};

// Every file converted and encoded as for files of its own, then dropped in
// page order: nothing reaches a file system. Names are kept as an archive
// keeps them, so that a title taken twice gives way as it would there.
class MemorySink final : public PageSink {
public:
    explicit MemorySink(std::size_t folderBytes) : names_(folderBytes) {}
    bool writesOnThreads() const override { return false; }
    int take(PageFile& file) override;
    bool isUsableName(const char* name, bool) const override { return names_.isFree(name); }
    void claim(PageFile& file) override { names_.claim(file); }

private:
    EntryNames names_;
};

// The entries of one ZIP archive, added in page order.
class ArchiveSink final : public PageSink {
public:
    explicit ArchiveSink(std::size_t folderBytes);
    ~ArchiveSink() override;

    // Starts the archive at `path`; false when it cannot be made.
    bool create(const char* path, const StopFlags& stops);
    // Adds the comic readers' description and puts the archive in place;
    // false when it was not made whole (nothing is then left).
    bool finish(std::string_view comicInfo);

    bool writesOnThreads() const override { return false; }
    int take(PageFile& file) override;
    bool isUsableName(const char* name, bool) const override { return names_.isFree(name); }
    void claim(PageFile& file) override { names_.claim(file); }

private:
    std::unique_ptr<PageArchive> archive_;
    EntryNames names_;
};

}  // namespace ravoth
