// Where a run's pages come from: the exact reader of Mesker's layout, or
// the general reader of any producer's PDF. The run walks the pages of its
// range once, whatever the source: it opens each page, names each of its
// images' files, and hands them to the writing threads, which convert
// them and write them where they go.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "job/output_names.h"
#include "job/page_outcome.h"

namespace ravoth {

class PageLoop;
struct PageFile;

// How far a page or one of its images got: Written to go on, else the
// stage it ended at (Stopped and NoImage are no failure).
struct ImageStep {
    PageStage stage = PageStage::Written;
    std::int32_t code = 0;

    bool goesOn() const { return stage == PageStage::Written; }
};

class PageSource {
public:
    virtual ~PageSource() = default;

    virtual int pageCount() const = 0;

    // Reads what the bookmarks give each page, before the first page is
    // opened; false when there was no memory for it.
    virtual bool readTitles() = 0;

    // Opens page `pageIndex` (0-based): how many images it draws. A stage
    // of PastPageList ends the run's walk: no page after it is found.
    virtual ImageStep openPage(int pageIndex, std::size_t* images) = 0;

    // Image `k` of the page opened: its facts, what a copied picture is
    // copied from, and the extension its file will have. Nothing of its
    // samples is held yet.
    virtual ImageStep describeImage(std::size_t k, PageFile& file, std::string_view* extension) = 0;

    // Makes the named file ready for a writing thread: the work left for
    // the thread, or the file itself where no thread can do it. Waits on
    // `loop` for room first, so that no more images are held than there
    // are threads.
    virtual ImageStep loadImage(PageFile& file, PageLoop& loop) = 0;

    // The name of the page's first bookmark; false when it has none that
    // makes a name.
    virtual bool formTitleName(int pageIndex, const OutputNames& names, std::string_view extension,
                               PathBuffer& name) = 0;
    // The same title as text, for the page list and the archive.
    virtual std::optional<std::string> titleText(int pageIndex) = 0;
};

}  // namespace ravoth
