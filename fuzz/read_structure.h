// What the structure-level fuzz targets share: a document's structure read as
// a run reads it (cross-reference chain, page list, with the outline phase as
// the option says) by a reader of its own, within a reading budget, and
// everything it handed out given back at the end.
#pragma once

#include <cstdint>

#include "pdf/reader.h"
#include "platform/memory.h"

namespace ravoth {

class ReadStructure {
public:
    ReadStructure(const Byte* docStart, const Byte* docEnd, bool outlineOption, std::uint64_t budgetBytes)
        : reader(docStart, docEnd), budget_(reader, budgetBytes)
    {
        reader.outlineOption = outlineOption;
        if (!readTrailer(reader, &tableStart, &tableEnd, &root)) return;
        reader.setSortedTable(tableStart, tableEnd);
        pages = collectPages(reader, root, &pageListStart, &pageListEnd, &outlines, &outlineCount);
    }
    ~ReadStructure()
    {
        freeBlock(outlines);
        freeBlock(pageListStart);
        reader.setSortedTable(nullptr, nullptr);
        freeBlock(tableStart);
    }
    ReadStructure(const ReadStructure&) = delete;
    ReadStructure& operator=(const ReadStructure&) = delete;

    DocumentReader reader;
    Byte* tableStart = nullptr;
    Byte* tableEnd = nullptr;
    std::int32_t root = -1;
    int pages = -1;  // the page count, or -1 when the structure did not read
    Byte* pageListStart = nullptr;
    Byte* pageListEnd = nullptr;
    OutlineEntry* outlines = nullptr;
    std::int32_t outlineCount = 0;

private:
    ScanBudget budget_;
};

}  // namespace ravoth
