// The pages of a document in Mesker's layout, read by the exact reader: its
// cross-reference table, Info, page list and bookmarks, held in work
// buffers of the run's, each page's one image located where the layout
// puts it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>

#include "image/inflate.h"
#include "image/page_format.h"
#include "job/page_source.h"
#include "pdf/page_image.h"
#include "pdf/reader.h"
#include "platform/file.h"
#include "platform/memory.h"

namespace ravoth {

// The run's work buffers. Each pointer, count and object number lives in a
// small cell of its own that the run allocates as it gets to the step that
// fills it; a cell that cannot be had ends the run with that step's code.
// The document's cells hold its view: a mapping, or a block read where the
// file cannot be mapped (`documentRead`).
struct RunBuffers {
    struct PageListCell {
        Byte* start;
        Byte* end;
    };
    const Byte** documentStart = nullptr;
    const Byte** documentEnd = nullptr;
    Byte* documentRead = nullptr;
    Byte** xrefStart = nullptr;
    Byte** xrefEnd = nullptr;
    std::int32_t* catalogueNumber = nullptr;
    PageListCell* pageList = nullptr;
    std::int32_t* outlineCount = nullptr;
    OutlineEntry** outlineEntries = nullptr;
};

template <typename T>
T* allocCell()
{
    void* cell = allocBlock(sizeof(T));
    return cell ? new (cell) T{} : nullptr;
}

// Frees the block a cell points to, then the cell.
template <typename T>
void releaseCell(T*& cell)
{
    if (!isBlockPresent(cell)) return;
    if constexpr (std::is_pointer_v<T>) freeBlock(*cell);
    freeBlock(cell);
    cell = nullptr;
}

// Frees every cell but the document's.
void releaseStructureCells(RunBuffers& work);

// Whether some "/Producer" of the document names one of the accepted
// producers, in whichever revision: such a document is read the exact way
// alone.
bool carriesOwnProducer(const DocumentReader& reader);

class ExactSource final : public PageSource {
public:
    struct Settings {
        OutputFormat format = OutputFormat::Bmp;
        // The bookmarks are read; when they fail, the run fails only if
        // they name files (else it goes on without them).
        bool readTitles = false;
        bool titlesName = false;
        // Another producer's document is read by the general reader: the
        // first page is looked for before the producer is.
        bool anyProducer = false;
        std::uint64_t budgetBytes = 0;
    };
    // Where the general reader may take over what was refused.
    enum class HandOver { No, UnlessOwnProducer, Yes };
    struct Opening {
        int code = 0;  // 0, or the run's result code
        HandOver handOver = HandOver::No;
    };

    ExactSource(DocumentReader& reader, RunBuffers& work, const InputFile& document, WholeInflater& inflater,
                const Settings& settings)
        : reader_(reader), work_(work), document_(document), inflater_(inflater), settings_(settings)
    {
    }

    // Reads the structure: cross-reference table, Info's producer, page
    // list and bookmarks.
    Opening open();

    int pageCount() const override { return pageCount_; }
    bool readTitles() override;
    ImageStep openPage(int pageIndex, std::size_t* images) override;
    ImageStep describeImage(std::size_t k, PageFile& file, std::string_view* extension) override;
    ImageStep loadImage(PageFile& file, PageLoop& loop) override;
    bool formTitleName(int pageIndex, const OutputNames& names, std::string_view extension,
                       PathBuffer& name) override;
    std::optional<std::string> titleText(int pageIndex) override;

private:
    // The first bookmark entry of `pageIndex`; null when none.
    const OutlineEntry* titleEntry(int pageIndex) const;
    // The page list and bookmarks, the bookmarks read again without
    // failing where they only show.
    int collect();
    // Converts a page too large, or of a size not known, for one call, here.
    ImageStep inflateHere(PageFile& file, PageLoop& loop);

    DocumentReader& reader_;
    RunBuffers& work_;
    const InputFile& document_;
    WholeInflater& inflater_;
    const Settings settings_;
    int pageCount_ = 0;
    std::size_t pageLines_ = 0;
    // The line of page `lineIndex_`: pages are opened in ascending order.
    const Byte* line_ = nullptr;
    int lineIndex_ = 0;
    ImageInfo info_;
    // The first bookmark (record 1 on) of each page, so that naming a page
    // costs no walk over every bookmark: bookmarks times pages would make a
    // small file with many of both take minutes. -1 where none points.
    OwnedBlock<std::int32_t> firstEntry_;
};

}  // namespace ravoth
