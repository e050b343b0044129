// libFuzzer entry point: the bookmark-names path. A whole document through
// the reader with the outline phase on (outline items, named destination
// tables, page indexes), then every bookmark's title decoded and made into
// a file name beside a fixed output base. Nothing touches the disk.
#include <cstdint>
#include <vector>

#include "image/title_name.h"
#include "job/output_names.h"
#include "pdf/reader.h"
#include "platform/memory.h"

using namespace ravoth;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // A block of exactly the document's size, so that any over-read is caught.
    std::vector<Byte> document(data, data + size);
    const Byte* docStart = document.data();
    const Byte* docEnd = docStart + size;
    const ScanBudget budget(scanBudgetFor(size));
    outlineOption = true;

    Byte* tableStart = nullptr;
    Byte* tableEnd = nullptr;
    std::int32_t root = -1;
    infoObjectNumber = 0;
    if (!readTrailer(docStart, docEnd, &tableStart, &tableEnd, &root)) return 0;
    declareSortedXrefTable(tableStart, tableEnd);

    Byte* pageListStart = nullptr;
    Byte* pageListEnd = nullptr;
    OutlineEntry* outlines = nullptr;
    std::int32_t outlineCount = 0;
    const int pages = collectPages(docStart, docEnd, root, tableStart, tableEnd, &pageListStart,
                                   &pageListEnd, &outlines, &outlineCount);
    if (pages >= 1) {
        OutputNames names;
        setOutputNames(&names, "/out/Book.pdf", pages);
        for (std::int32_t k = 1; outlines && k < outlineCount; ++k) {
            const int capacity = titleBufferBytes(outlines[k].titleLength);
            if (capacity > (1 << 16)) continue;
            std::vector<char> title(static_cast<std::size_t>(capacity));
            const int titleBytes =
                titleToFileName(outlines[k].titleText, outlines[k].titleLength, title.data(), capacity);
            PathBuffer name;
            if (titleBytes >= 1)
                formTitleName(names, title.data(), static_cast<std::size_t>(titleBytes), ".jpg", name);
            formNumberedName(names, outlines[k].pageIndex + 1, ".bmp", name);
        }
    }
    freeBlock(outlines);
    freeBlock(pageListStart);
    declareSortedXrefTable(nullptr, nullptr);
    freeBlock(tableStart);
    outlineOption = false;
    return 0;
}
