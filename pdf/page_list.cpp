// The catalogue check and the page-tree walk that write the PageList: one
// "object generation" LF line per page, in page order.
#include "pdf/kids_walk.h"
#include "pdf/reader.h"
#include "pdf/text_block.h"
#include "platform/memory.h"

namespace ravoth {


namespace {

constexpr int catalogueNotInTable = -111;
constexpr int catalogueNotOpened = -112;
constexpr int catalogueNotDictionary = -113;
constexpr int catalogueUnclosed = -114;
constexpr int catalogueTypeMissing = -115;
constexpr int catalogueEndsAfterType = -116;
constexpr int catalogueTypeWrong = -117;
constexpr int catalogueTypeRunsOn = -118;
constexpr int cataloguePagesMissing = -119;
constexpr int cataloguePagesNoNumber = -120;
constexpr int cataloguePagesNoGeneration = -121;
constexpr int cataloguePagesEndsBeforeR = -122;
constexpr int cataloguePagesNoR = -123;
constexpr int treeRootNotInTable = -124;
constexpr int treeRootNotOpened = -125;
constexpr int treeRootNotDictionary = -126;
constexpr int treeRootUnclosed = -127;
constexpr int treeRootTypeMissing = -128;
constexpr int treeRootEndsAfterType = -129;
constexpr int treeRootTypeWrong = -130;
constexpr int treeRootCountNotNumber = -131;
constexpr int treeRootKidsMissing = -132;
constexpr int treeRootEndsAfterKids = -133;
constexpr int treeRootKidsNotArray = -134;
constexpr int pageLinesNotAllocated = -147;
constexpr int pageLinesNotEnlarged = -148;
constexpr int noPageInTree = -149;
constexpr int pageListNotAllocated = -150;

// The type names may be followed by any delimiter, ")" included.
bool endsName(const Byte* cursor, const Byte* end)
{
    return cursor < end && (isWhiteSpace(*cursor) || isDelimiter(*cursor));
}

// A dictionary object: its extent runs from just after "<<" to the matching
// ">>".
struct Extent {
    const Byte* start = nullptr;
    const Byte* end = nullptr;
};

struct ObjectCodes {
    int notInTable;
    int notOpened;
    int notDictionary;
    int unclosed;
};

// Looks object n up and finds its dictionary's extent; 0 or a code.
int openDictionaryObject(DocumentReader& reader, int n, const ObjectCodes& codes, Extent* extent)
{
    const Byte* const docStart = reader.start;
    const Byte* const docEnd = reader.end;
    const std::int64_t offset = lookupObjectOffset(reader, reader.tableStart, reader.tableEnd, n);
    if (offset < 0) return codes.notInTable;
    const Byte* body = openObject(reader, docStart, docEnd, offset, n);
    if (!body) return codes.notOpened;
    if (!matchesAt(body, docEnd, "<<")) return codes.notDictionary;
    extent->start = body + 2;
    extent->end = findMatchingClose(reader, extent->start, docEnd, ">>", "<<");
    if (!extent->end) return codes.unclosed;
    return 0;
}

// Checks the catalogue and finds the page-tree root's object number.
// Returns 0 or a code.
int readCatalogue(DocumentReader& reader, std::int32_t rootNumber, Extent* catalogue, int* treeRootNumber)
{
    const Byte* const docEnd = reader.end;
    if (const int code = openDictionaryObject(
            reader, rootNumber,
            {catalogueNotInTable, catalogueNotOpened, catalogueNotDictionary, catalogueUnclosed},
            catalogue))
        return code;

    const Byte* type = findKey(reader, "/Type", catalogue->start, catalogue->end);
    if (!type) return catalogueTypeMissing;
    const Byte* cursor = type + 5;
    if (!skipWhiteSpaceAndComments(reader, &cursor, docEnd)) return catalogueEndsAfterType;
    if (!matchesAt(cursor, docEnd, "/Catalog")) return catalogueTypeWrong;
    if (!endsName(cursor + 8, docEnd)) return catalogueTypeRunsOn;

    const Byte* pages = findKey(reader, "/Pages", catalogue->start, catalogue->end);
    if (!pages) return cataloguePagesMissing;
    cursor = pages + 6;
    const int number = readNumber(reader, &cursor, catalogue->end);
    if (number < 0) return cataloguePagesNoNumber;
    if (readNumber(reader, &cursor, catalogue->end) < 0) return cataloguePagesNoGeneration;
    if (!skipWhiteSpaceAndComments(reader, &cursor, docEnd)) return cataloguePagesEndsBeforeR;
    if (*cursor != 'R') return cataloguePagesNoR;
    *treeRootNumber = number;
    return 0;
}

// Checks the page-tree root, reads its "/Count" (-1 when it has none) and
// sets *kidsCursor just after the "[" of its "/Kids". Returns 0 or a code.
int readTreeRoot(DocumentReader& reader, int treeRootNumber, int* pageCount, const Byte** kidsCursor)
{
    const Byte* const docEnd = reader.end;
    Extent root;
    if (const int code = openDictionaryObject(
            reader, treeRootNumber,
            {treeRootNotInTable, treeRootNotOpened, treeRootNotDictionary, treeRootUnclosed},
            &root))
        return code;

    const Byte* type = findKey(reader, "/Type", root.start, root.end);
    if (!type) return treeRootTypeMissing;
    const Byte* cursor = type + 5;
    if (!skipWhiteSpaceAndComments(reader, &cursor, docEnd)) return treeRootEndsAfterType;
    if (!matchesAt(cursor, docEnd, "/Pages") || !endsName(cursor + 6, docEnd))
        return treeRootTypeWrong;

    *pageCount = -1;
    if (const Byte* count = findKey(reader, "/Count", root.start, root.end)) {
        cursor = count + 6;
        // A number needs a delimiter after it before the bound, so with the
        // extent's end as bound a valid "/Count 3>>" would not read; the
        // first ">" of the close is that delimiter.
        *pageCount = readNumber(reader, &cursor, root.end + 1);
        if (*pageCount < 0) return treeRootCountNotNumber;
    }
    reader.lastError = 0;

    const Byte* kids = findKey(reader, "/Kids", root.start, root.end);
    if (!kids) return treeRootKidsMissing;
    cursor = kids + 5;
    if (!skipWhiteSpaceAndComments(reader, &cursor, docEnd)) return treeRootEndsAfterKids;
    if (*cursor != '[') return treeRootKidsNotArray;
    *kidsCursor = cursor + 1;
    return 0;
}

// Walks the page tree and appends a PageEntry line per leaf to `pages`,
// counting them. Returns 0 or a code.
int walkPageTree(DocumentReader& reader, const Byte* cursor, TextBlock* pages, std::int32_t* pageLines)
{
    return walkKids(reader, cursor, readPageNode,
                    [&](int objectNumber, int generation, std::int64_t) {
                        if (const int code = makeRoomForLine(pages, pageLinesNotAllocated,
                                                             pageLinesNotEnlarged))
                            return code;
                        pages->appendDecimal(objectNumber);
                        pages->appendByte(' ');
                        pages->appendDecimal(generation);
                        pages->appendByte('\n');
                        ++*pageLines;
                        return 0;
                    });
}

}  // namespace

int collectPages(DocumentReader& reader, std::int32_t rootNumber, Byte** pageListStart,
                 Byte** pageListEnd, OutlineEntry** outlines, std::int32_t* outlineCount)
{
    Extent catalogue;
    int treeRootNumber = 0;
    if (const int code = readCatalogue(reader, rootNumber, &catalogue, &treeRootNumber))
        return failWith(reader, code);

    int pageCount = -1;
    const Byte* cursor = nullptr;
    if (const int code = readTreeRoot(reader, treeRootNumber, &pageCount, &cursor))
        return failWith(reader, code);

    TextBlock pages;
    std::int32_t pageLines = 0;
    if (const int code =
            walkPageTree(reader, cursor, &pages, &pageLines))
        return failWith(reader, code);
    if (!pages.isAllocated()) return failWith(reader, noPageInTree);

    // The working block is mostly empty; the PageList is handed out exact,
    // and only once the outline phase has gone through as well.
    OwnedBlock<Byte> list(pages.copyExact());
    if (!list) return failWith(reader, pageListNotAllocated);

    // The page count is what the root declares; without "/Count" the pages
    // found are the best answer there is.
    const int result = pageCount >= 0 ? pageCount : pageLines;
    if (reader.outlineOption &&
        collectOutlines(reader, catalogue.start, catalogue.end,
                        list.get(), list.get() + pages.used(), result, outlines, outlineCount) < 0)
        return -1;
    *pageListEnd = list.get() + pages.used();
    *pageListStart = list.release();
    return result;
}

}  // namespace ravoth
