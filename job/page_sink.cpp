#include "job/page_sink.h"

#include <cstring>

#include "job/page_archive.h"
#include "job/page_files.h"

namespace ravoth {

int FileSink::take(PageFile& file) { return file.code; }

bool FileSink::isUsableName(const char* name, bool numbered) const { return numbered || isUsableOutputName(name); }

std::size_t EntryNames::offsetOf(const char* name) const
{
    return folderBytes_ <= std::strlen(name) ? folderBytes_ : 0;
}

bool EntryNames::isFree(const char* name) const { return names_.count(name + offsetOf(name)) == 0; }

void EntryNames::claim(PageFile& file)
{
    // An archive holds each name once: a later page whose bookmark gives a
    // name taken gets its numbered one.
    file.entryOffset = offsetOf(file.name);
    names_.insert(file.name + file.entryOffset);
}

int ListSink::take(PageFile& file)
{
    file.bitmap.pixels.reset();
    return 0;
}

int MemorySink::take(PageFile& file)
{
    file.bitmap.pixels.reset();
    return 0;
}

ArchiveSink::ArchiveSink(std::size_t folderBytes) : names_(folderBytes) {}

ArchiveSink::~ArchiveSink() = default;

bool ArchiveSink::create(const char* path, const StopFlags& stops)
{
    archive_ = std::make_unique<PageArchive>();
    if (archive_->create(path, stops)) return true;
    archive_.reset();
    return false;
}

bool ArchiveSink::finish(std::string_view comicInfo)
{
    return archive_ && archive_->finish("ComicInfo.xml", comicInfo);
}

int ArchiveSink::take(PageFile& file)
{
    const char* entry = file.name + file.entryOffset;
    const bool added = file.isBitmap ? archive_->add(entry, file.bitmap.header, file.bitmap.headerBytes,
                                                     file.bitmap.pixels.get(), file.bitmap.imageBytes, !file.isEncoded)
                                     : archive_->add(entry, nullptr, 0, file.jpegView, file.jpegBytes, false);
    file.bitmap.pixels.reset();
    // The codes of a bitmap, or of a copied picture, that was not written.
    return added ? 0 : file.isBitmap ? -11 : -2;
}

}  // namespace ravoth
