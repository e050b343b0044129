// The PDF structure reader: cross-reference and trailer, page tree, page
// list. Its lists are text blocks of decimal numbers, one line per item,
// ended by LF; a block is a start pointer and an exclusive end pointer.
#pragma once

#include <cstdint>

#include "pdf/primitives.h"

namespace ravoth {

// One bookmark: the title token as it stands in the document and the page
// it points to.
struct OutlineEntry {
    std::int32_t titleLength;  // bytes of the title token, delimiters included; 0 when none
    const Byte* titleText;     // its "(" or "<" in the DocumentBuffer; null when none
    std::int32_t pageIndex;    // 0-based page in the PageList; -1 when none
};

// One named destination: the key as written (between its delimiters, or
// after "/") and the page object its destination names.
struct DestinationEntry {
    std::int32_t keyLength;
    const Byte* keyText;     // in the DocumentBuffer
    std::int32_t pageObject; // noPageObject for a null destination
};

constexpr std::int32_t noPageObject = -1;

// The string-keyed table (from the catalogue's /Names /Dests name tree) and
// the name-keyed table (from the catalogue's /Dests dictionary), each with
// its entry count; null and 0 when not built or empty.
struct DestinationTables {
    DestinationEntry* stringKeyed = nullptr;
    std::int32_t stringCount = 0;
    DestinationEntry* nameKeyed = nullptr;
    std::int32_t nameCount = 0;
};

// Builds the tables asked for, from the catalogue extent (just after its
// "<<" to its ">>") of the reader's document. Returns 0, or -1 with the
// reader's LastError set (-2, -135 to -164,
// -1620 to -1629) and nothing left allocated. The caller frees the tables
// with freeDestinationTables.
int collectDestinations(DocumentReader& reader, const Byte* catalogueStart, const Byte* catalogueEnd,
                        bool buildStringKeyed, bool buildNameKeyed, DestinationTables* tables);

void freeDestinationTables(DestinationTables* tables);

// The first entry, in table order, whose key has the same bytes as written;
// null when none. Escapes and hex digits are not decoded, so a hex key never
// matches a literal one.
const DestinationEntry* findDestination(const DestinationEntry* table, std::int32_t count,
                                        const Byte* key, std::int32_t keyLength);

// The outline phase of collectPages: reads the bookmarks reached from the
// catalogue's "/Outlines" into an OutlineEntry array (record 0 the outline
// root, then items depth-first) with each item's title token and page index.
// Returns pageCount, or -1 with LastError set (-1, -2, -147, -148, -151 to
// -164, -1620 to -1629). Without "/Outlines" the outputs stay untouched. On
// success the array belongs to the caller; *outlineCount is advanced in
// place as records complete.
int collectOutlines(DocumentReader& reader, const Byte* catalogueStart, const Byte* catalogueEnd,
                    const Byte* pageListStart, const Byte* pageListEnd, int pageCount,
                    OutlineEntry** outlines, std::int32_t* outlineCount);

// Reads the cross-reference chain of the reader's document from "startxref"
// at its end through every "/Prev", and merges it into the XrefTable: one line
// "object offset generation flag" LF per object number, ascending, the
// newest section's entry winning. A /Prev that leads back to a section
// already read ends the chain there.
// Sets *rootNumber to the newest "/Root" object number (-1 when none) and
// the reader's infoObjectNumber to the newest "/Info" one (left as it was
// when none).
// Returns 1 with the table in a block the caller owns, or 0 with LastError
// set (-15 to -91, -1000 for an encrypted document, which also sets the
// reader's isEncrypted) and no block handed out.
int readTrailer(DocumentReader& reader, Byte** tableStart, Byte** tableEnd, std::int32_t* rootNumber);

// Opens the page-tree node `objectNumber` at `offset`. Returns 0 for a leaf
// ("/Page"), the offset from docStart of the byte after the "[" of its
// "/Kids" for an intermediate node ("/Pages"), or a negative code (-102 to
// -110, also left in LastError).
std::int64_t readPageNode(DocumentReader& reader, std::int64_t offset, int objectNumber);

// As readPageNode without looking at "/Type": the offset after the "[" of
// the node's "/Kids", 0 when it has none, or a negative code (-102, -103,
// -104, -107, -109).
std::int64_t findKidsArray(DocumentReader& reader, std::int64_t offset, int objectNumber);

// Checks the catalogue `rootNumber` of the reader's document (read through
// its XrefTable), walks the page tree depth-first and
// writes the PageList: one line "object generation" LF per page, in page
// order. Returns the page-tree root's "/Count" (the number of pages listed
// when it has none), or -1 with LastError set and no block handed out. A
// walk that handles more kid references than the table has lines is no tree
// (a node lists itself or an ancestor) and fails with -146. On success the
// PageList block, exactly as long as its lines, belongs to the caller. When
// the reader's outlineOption is on, the outline phase follows and fills *outlines and
// *outlineCount; when it fails, the run fails with its code (see
// collectOutlines) and the PageList is not handed out either.
int collectPages(DocumentReader& reader, std::int32_t rootNumber, Byte** pageListStart,
                 Byte** pageListEnd, OutlineEntry** outlines, std::int32_t* outlineCount);

}  // namespace ravoth
