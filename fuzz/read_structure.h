// What the fuzz targets share: a document's structure read as a run reads
// it (cross-reference chain, page list, with the outline phase as the
// option says), and everything it handed out given back at the end.
#pragma once

#include <cstdint>

#include "pdf/reader.h"
#include "platform/memory.h"

namespace ravoth {

class ReadStructure {
public:
    ReadStructure(const Byte* docStart, const Byte* docEnd)
    {
        infoObjectNumber = 0;
        if (!readTrailer(docStart, docEnd, &tableStart, &tableEnd, &root)) return;
        declareSortedXrefTable(tableStart, tableEnd);
        pages = collectPages(docStart, docEnd, root, tableStart, tableEnd, &pageListStart,
                             &pageListEnd, &outlines, &outlineCount);
    }
    ~ReadStructure()
    {
        freeBlock(outlines);
        freeBlock(pageListStart);
        declareSortedXrefTable(nullptr, nullptr);
        freeBlock(tableStart);
    }
    ReadStructure(const ReadStructure&) = delete;
    ReadStructure& operator=(const ReadStructure&) = delete;

    Byte* tableStart = nullptr;
    Byte* tableEnd = nullptr;
    std::int32_t root = -1;
    int pages = -1;  // the page count, or -1 when the structure did not read
    Byte* pageListStart = nullptr;
    Byte* pageListEnd = nullptr;
    OutlineEntry* outlines = nullptr;
    std::int32_t outlineCount = 0;
};

}  // namespace ravoth
