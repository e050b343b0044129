// The outline phase: bookmarks with their titles and target pages.
#include <algorithm>
#include <cstring>

#include "pdf/reader.h"
#include "pdf/text_block.h"
#include "pdf/value_reader.h"
#include "platform/memory.h"

namespace ravoth {
namespace {

constexpr int codeNoPageMap = -1;
constexpr int codeNoMemory = -147;
constexpr int codeNoMemoryGrowth = -148;
// More items entered than the document has dictionaries: the links came
// back to an item. It shares its number with the growth of the outline's
// blocks, which is how such a walk used to end.
constexpr int codeOutlineLoops = -148;

// Page object number to page index, as sorted pairs: the map is as large as
// the page list, whatever the object numbers are.
struct PageMapEntry {
    std::int32_t objectNumber;
    std::int32_t pageIndex;
};

class PageIndexMap {
public:
    // Reads the first number of every PageEntry line. Returns 0, or -1 when
    // no line names an object of 1 or more or the map cannot be had.
    int build(DocumentReader& reader, const Byte* listStart, const Byte* listEnd)
    {
        std::size_t count = 0;
        forEachPage(reader, listStart, listEnd, [&](std::int32_t, std::int32_t) { ++count; });
        if (count == 0) return codeNoPageMap;
        entries_.reset(reinterpret_cast<PageMapEntry*>(allocBlock(count * sizeof(PageMapEntry))));
        if (!entries_) return codeNoPageMap;
        PageMapEntry* entries = entries_.get();
        std::size_t filled = 0;
        forEachPage(reader, listStart, listEnd, [&](std::int32_t number, std::int32_t index) {
            entries[filled++] = {number, index};
        });
        std::sort(entries, entries + count, [](const PageMapEntry& a, const PageMapEntry& b) {
            return a.objectNumber != b.objectNumber ? a.objectNumber < b.objectNumber
                                                    : a.pageIndex < b.pageIndex;
        });
        // A later line naming the same object wins: keep the last of each run.
        std::size_t kept = 0;
        for (std::size_t i = 0; i < count; ++i) {
            if (i + 1 < count && entries[i + 1].objectNumber == entries[i].objectNumber) continue;
            entries[kept++] = entries[i];
        }
        count_ = kept;
        return 0;
    }

    // The page index of object n; -1 where no PageEntry names it.
    std::int32_t lookup(std::int32_t objectNumber) const
    {
        const PageMapEntry* begin = entries_.get();
        const PageMapEntry* end = begin + count_;
        const PageMapEntry* found = std::lower_bound(
            begin, end, objectNumber,
            [](const PageMapEntry& entry, std::int32_t n) { return entry.objectNumber < n; });
        return found != end && found->objectNumber == objectNumber ? found->pageIndex : -1;
    }

private:
    template <typename Visit>
    static void forEachPage(DocumentReader& reader, const Byte* listStart, const Byte* listEnd, Visit visit)
    {
        const Byte* line = listStart;
        for (std::int32_t index = 0; line < listEnd; ++index) {
            const Byte* cursor = line;
            const int number = readNumber(reader, &cursor, listEnd);
            if (number < 0) break;
            const Byte* lineEnd = cursor;
            while (lineEnd < listEnd && *lineEnd != '\n') ++lineEnd;
            if (lineEnd >= listEnd) break;
            if (number >= 1) visit(number, index);
            line = lineEnd + 1;
        }
        reader.lastError = 0;
    }

    OwnedBlock<PageMapEntry> entries_;
    std::size_t count_ = 0;
};

// The destination of an outline item: behind "/D" of a "/GoTo" action, or
// behind "/Dest", resolved. *destination stays null when the item has none.
int findItemDestination(DocumentReader& reader, const Dictionary& item,
                        const Byte** destination)
{
    *destination = nullptr;
    const Byte* key = findKey(reader, "/A", item.start, item.end);
    reader.lastError = 0;
    if (key) {
        const Byte* p = key + 2;
        if (const int code = resolveValue(reader, &p, item.end)) return code;
        Dictionary action;
        if (const int code = openDictionary(reader, p, &action)) return code;
        // Another kind of action has no page; "/Dest" is then not consulted.
        const bool isGoTo = findKey(reader, "/GoTo", action.start, action.end) != nullptr;
        key = isGoTo ? findKey(reader, "/D", action.start, action.end) : nullptr;
        reader.lastError = 0;
        if (!key) return 0;
        p = key + 2;
        if (const int code = resolveValue(reader, &p, action.end)) return code;
        *destination = p;
        return 0;
    }
    key = findKey(reader, "/Dest", item.start, item.end);
    reader.lastError = 0;
    if (!key) return 0;
    const Byte* p = key + 5;
    if (const int code = resolveValue(reader, &p, item.end)) return code;
    *destination = p;
    return 0;
}

// The page object that an explicit destination "[n g R ...]" names; 0 for
// any break in that form.
std::int32_t pageOfDestinationArray(DocumentReader& reader, const Byte* open, const Byte* end)
{
    DestinationArray array;
    const ArrayBreak broken = readDestinationArray(reader, open, end, &array);
    reader.lastError = 0;
    return broken == ArrayBreak::None ? array.pageObject : 0;
}

// A destination table's entries in the order of their keys, so that each
// bookmark finds its name by bisection: a walk over the whole table for
// every bookmark would make a file with many of both take minutes.
class DestinationIndex {
public:
    // False when the index's block cannot be had.
    bool build(const DestinationEntry* table, std::int32_t count)
    {
        table_ = table;
        count_ = count > 0 ? static_cast<std::size_t>(count) : 0;
        if (count_ == 0) return true;
        order_.reset(reinterpret_cast<std::int32_t*>(allocBlock(count_ * sizeof(std::int32_t))));
        if (!order_) return false;
        std::int32_t* order = order_.get();
        for (std::size_t i = 0; i < count_; ++i) order[i] = static_cast<std::int32_t>(i);
        // Equal keys keep table order, so the first of them is found first.
        std::sort(order, order + count_, [&](std::int32_t a, std::int32_t b) {
            const int byKey =
                compareKeys(table[a].keyText, table[a].keyLength, table[b].keyText, table[b].keyLength);
            return byKey != 0 ? byKey < 0 : a < b;
        });
        return true;
    }

    // The page object of the first entry, in table order, whose key has the
    // same bytes; 0 when none, or when it is a null destination.
    std::int32_t pageOf(const Byte* key, const Byte* keyEnd) const
    {
        const auto keyLength = static_cast<std::int32_t>(keyEnd - key);
        const std::int32_t* begin = order_.get();
        const std::int32_t* end = begin + count_;
        const std::int32_t* found = std::lower_bound(begin, end, 0, [&](std::int32_t index, int) {
            const DestinationEntry& entry = table_[index];
            return compareKeys(entry.keyText, entry.keyLength, key, keyLength) < 0;
        });
        if (found == end) return 0;
        const DestinationEntry& entry = table_[*found];
        if (compareKeys(entry.keyText, entry.keyLength, key, keyLength) != 0) return 0;
        return entry.pageObject != noPageObject ? entry.pageObject : 0;
    }

private:
    // Shorter keys first, then by bytes: any order will do that puts equal
    // keys side by side.
    static int compareKeys(const Byte* a, std::int32_t aLength, const Byte* b, std::int32_t bLength)
    {
        if (aLength != bLength) return aLength < bLength ? -1 : 1;
        return aLength == 0 ? 0 : std::memcmp(a, b, static_cast<std::size_t>(aLength));
    }

    const DestinationEntry* table_ = nullptr;
    std::size_t count_ = 0;
    OwnedBlock<std::int32_t> order_;
};

struct DestinationIndexes {
    DestinationIndex stringKeyed;
    DestinationIndex nameKeyed;
};

// The page object a destination value points to; 0 when none.
std::int32_t pageOfDestination(DocumentReader& reader, const Byte* destination, const Byte* end,
                               const DestinationIndexes& indexes)
{
    switch (*destination) {
    case '(':
    case '<': {
        const Byte* close = findStringTokenEnd(reader, destination, end);
        if (!close) return 0;
        return indexes.stringKeyed.pageOf(destination + 1, close);
    }
    case '/': {
        const Byte* key = destination + 1;
        const Byte* keyEnd = findNameKeyEnd(reader, key, end);
        if (!keyEnd) return 0;
        return indexes.nameKeyed.pageOf(key, keyEnd);
    }
    case '[': return pageOfDestinationArray(reader, destination, end);
    default: return 0;
    }
}

// Visits the outline depth-first, each item before its children, children
// in /First - /Next order; the root (depth 0) first, its /Next never
// followed. enter(dictionary, depth) returns 0 or a code.
template <typename Enter>
int visitOutline(DocumentReader& reader, const Byte* rootValue, Enter enter)
{
    struct Frame {
        const Byte* start;
        const Byte* end;
    };
    // Every item is a dictionary of its own, so an outline cannot hold more
    // items than the document has "<<". Links that come back to an item
    // already entered would otherwise enter items for ever. The dictionaries
    // are counted only once the items outnumber the table's objects, which
    // an outline of indirect items never does: a large document is then not
    // read through for the count.
    const auto tableLines = static_cast<std::size_t>(std::count(reader.tableStart, reader.tableEnd, '\n'));
    std::size_t itemLimit = 0;
    bool itemLimitKnown = false;
    auto isPastItemLimit = [&](std::size_t items) {
        if (items <= tableLines) return false;
        if (!itemLimitKnown) {
            for (const Byte* p = reader.start; p + 1 < reader.end; ++p)
                if (p[0] == '<' && p[1] == '<') ++itemLimit;
            itemLimitKnown = true;
        }
        return items > itemLimit;
    };
    std::size_t entered = 0;
    TextBlock stack;
    Dictionary current;
    int depth = 0;
    auto enterAt = [&](const Byte* value) {
        if (const int code = openDictionary(reader, value, &current)) return code;
        if (isPastItemLimit(++entered)) return codeOutlineLoops;
        return enter(current, depth);
    };
    if (const int code = enterAt(rootValue)) return code;
    for (;;) {
        const Byte* key = findKey(reader, "/First", current.start, current.end);
        reader.lastError = 0;
        if (key) {
            const Byte* p = key + 6;
            if (const int code = resolveValue(reader, &p, current.end)) return code;
            if (!stack.isAllocated() && !stack.allocate(textBlockBytes)) return codeNoMemory;
            if (!stack.ensureRoom(lineHeadroomBytes)) return codeNoMemoryGrowth;
            const Frame frame{current.start, current.end};
            stack.append(reinterpret_cast<const Byte*>(&frame), sizeof frame);
            ++depth;
            if (const int code = enterAt(p)) return code;
            continue;
        }
        for (;;) {
            if (depth == 0) return 0;
            key = findKey(reader, "/Next", current.start, current.end);
            reader.lastError = 0;
            if (key) break;
            Frame frame;
            stack.truncate(stack.used() - sizeof frame);
            std::memcpy(&frame, stack.end(), sizeof frame);
            current = {frame.start, frame.end};
            --depth;
        }
        const Byte* p = key + 5;
        if (const int code = resolveValue(reader, &p, current.end)) return code;
        if (const int code = enterAt(p)) return code;
    }
}

// Finds "/Outlines" in the catalogue and resolves it; *value stays null
// when the document has no outline.
int findOutlineRoot(DocumentReader& reader, const Dictionary& catalogue, const Byte** value)
{
    *value = nullptr;
    const Byte* key = findKey(reader, "/Outlines", catalogue.start, catalogue.end);
    reader.lastError = 0;
    if (!key) return 0;
    const Byte* p = key + 9;
    if (const int code = resolveValue(reader, &p, catalogue.end)) return code;
    *value = p;
    return 0;
}

int readTitle(DocumentReader& reader, const Dictionary& item, OutlineEntry* record)
{
    const Byte* key = findKey(reader, "/Title", item.start, item.end);
    reader.lastError = 0;
    if (!key) return 0;
    const Byte* p = key + 6;
    if (const int code = resolveValue(reader, &p, item.end)) return code;
    if (*p != '(' && *p != '<') return 0;
    const Byte* close = findStringTokenEnd(reader, p, reader.end);
    if (!close) return valueCode::titleOrKeyRunsToEnd;
    record->titleText = p;
    record->titleLength = static_cast<std::int32_t>(close - p + 1);
    return 0;
}

int runOutlinePhase(DocumentReader& reader, const Dictionary& catalogue,
                    const Byte* pageListStart, const Byte* pageListEnd, OutlineEntry** outlines,
                    std::int32_t* outlineCount)
{
    const Byte* rootValue = nullptr;
    if (const int code = findOutlineRoot(reader, catalogue, &rootValue)) return code;
    if (!rootValue) return 0;

    // First pass: which kinds of named destination the items use, so that
    // only the tables needed are built.
    bool usesStrings = false;
    bool usesNames = false;
    if (const int code = visitOutline(reader, rootValue, [&](const Dictionary& item, int depth) {
            if (depth == 0) return 0;
            const Byte* destination = nullptr;
            if (const int code = findItemDestination(reader, item, &destination)) return code;
            if (destination && (*destination == '(' || *destination == '<')) usesStrings = true;
            if (destination && *destination == '/') usesNames = true;
            return 0;
        }))
        return code;

    DestinationTables tables;
    if (collectDestinations(reader, catalogue.start, catalogue.end, usesStrings, usesNames, &tables) < 0)
        return reader.lastError;
    struct TablesGuard {
        DestinationTables* tables;
        ~TablesGuard() { freeDestinationTables(tables); }
    } tablesGuard{&tables};

    PageIndexMap pageMap;
    if (const int code = pageMap.build(reader, pageListStart, pageListEnd)) return code;
    DestinationIndexes indexes;
    if (!indexes.stringKeyed.build(tables.stringKeyed, tables.stringCount) ||
        !indexes.nameKeyed.build(tables.nameKeyed, tables.nameCount))
        return codeNoMemory;

    // Second pass: one record per dictionary entered. It starts from the
    // root the first pass found rather than looking for "/Outlines" again:
    // the same search gives the same root, except once the reading budget
    // is spent, when it would find none and leave the walk no root at all.
    *outlineCount = 0;
    TextBlock records;
    const int code = visitOutline(reader, rootValue, [&](const Dictionary& item, int depth) {
        if (!records.isAllocated() && !records.allocate(textBlockBytes)) return codeNoMemory;
        if (!records.ensureRoom(lineHeadroomBytes)) return codeNoMemoryGrowth;
        OutlineEntry record{0, nullptr, -1};
        if (depth >= 1) {
            if (const int titleCode = readTitle(reader, item, &record)) return titleCode;
            const Byte* destination = nullptr;
            if (const int destinationCode = findItemDestination(reader, item, &destination))
                return destinationCode;
            if (destination) {
                const std::int32_t page = pageOfDestination(reader, destination, reader.end, indexes);
                if (page >= 1) record.pageIndex = pageMap.lookup(page);
            }
        }
        records.append(reinterpret_cast<const Byte*>(&record), sizeof record);
        ++*outlineCount;
        return 0;
    });
    if (code) return code;
    *outlines = reinterpret_cast<OutlineEntry*>(records.release());
    return 0;
}

}  // namespace

int collectOutlines(DocumentReader& reader, const Byte* catalogueStart, const Byte* catalogueEnd,
                    const Byte* pageListStart, const Byte* pageListEnd, int pageCount,
                    OutlineEntry** outlines, std::int32_t* outlineCount)
{
    const Dictionary catalogue{catalogueStart, catalogueEnd};
    if (const int code = runOutlinePhase(reader, catalogue, pageListStart, pageListEnd, outlines,
                                         outlineCount))
        return failWith(reader, code);
    reader.lastError = 0;
    return pageCount;
}

}  // namespace ravoth
