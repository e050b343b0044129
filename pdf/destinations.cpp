// Named destination tables: names of destinations turned into page objects.
#include <cstring>

#include "pdf/kids_walk.h"
#include "pdf/reader.h"
#include "pdf/text_block.h"
#include "pdf/value_reader.h"
#include "platform/memory.h"

namespace ravoth {
namespace {

constexpr int codeEndAroundEntries = -141;
constexpr int codeNoMemoryTable = -147;
constexpr int codeNoMemoryTableGrowth = -148;
constexpr int codeNoMemoryExactTable = -150;
constexpr int codeDestsEndInSpace = -154;
constexpr int codeDestsEndInComment = -155;
constexpr int codeDestsKeyNotName = -155;
constexpr int codeKidsNotArray = -155;
constexpr int codeDestsNoGeneration = -157;
constexpr int codeBadByteAfterKey = -158;
constexpr int codeDestsEndInSpaceBeforeR = -158;
constexpr int codeDestsEndInCommentBeforeR = -159;
constexpr int codeDestsNoR = -160;
constexpr int codeNotDestination = -1624;

// Room kept free in a table's working block ahead of each entry.
constexpr std::size_t entryHeadroomBytes = 280;

// The codes of a malformed destination value: one code for all of them in a
// single-leaf tree and the /Dests dictionary, one each in a tree of several
// levels.
struct ValueCodes {
    int commentAfterReference;
    int dictionaryNoOpener;
    int dictionaryNoRoom;
    int commentAfterD;
    int commentAfterBracket;
    int noPageObject;
    int noGeneration;
    int commentAfterGeneration;
    int noRorBracket;
};

constexpr ValueCodes singleLeafCodes{-162, -162, -162, -162, -162, -162, -162, -162, -162};
constexpr ValueCodes multiLevelCodes{-1620, -1621, -1622, -1623, -1625, -1626, -1627, -1628, -1629};

// Maps the end of a skip to the codes of its place; 0 when not at the end.
int skipOrCode(DocumentReader& reader, const Byte** cursor, const Byte* end, int inSpace, int inComment)
{
    switch (skipNotingEnd(reader, cursor, end)) {
    case SkipEnd::InSpace: return inSpace;
    case SkipEnd::InComment: return inComment;
    case SkipEnd::NotAtEnd: break;
    }
    return 0;
}

// An array "[n g R ...]" at the cursor: takes n as the page object and moves
// the cursor to the closing "]".
int takeDestinationArray(DocumentReader& reader, const Byte** cursor, const Byte* end, const ValueCodes& codes,
                         std::int32_t* pageObject)
{
    DestinationArray array;
    const ArrayBreak broken = readDestinationArray(reader, *cursor, end, &array);
    const bool inComment = array.ending == SkipEnd::InComment;
    switch (broken) {
    case ArrayBreak::None:
        *pageObject = array.pageObject;
        *cursor = array.close;
        return 0;
    case ArrayBreak::EndAfterOpen:
        return inComment ? codes.commentAfterBracket : valueCode::endInSpace;
    case ArrayBreak::NoPageObject: return codes.noPageObject;
    case ArrayBreak::NoGeneration: return codes.noGeneration;
    case ArrayBreak::EndAfterGeneration:
        return inComment ? codes.commentAfterGeneration : valueCode::endInSpace;
    case ArrayBreak::EndAfterR:
        return inComment ? codes.noRorBracket : valueCode::endInSpace;
    case ArrayBreak::NoR:
    case ArrayBreak::NoClose: break;
    }
    return codes.noRorBracket;
}

// Reads one destination value at the cursor: a reference to, or directly,
// an array, a dictionary with "/D", or null. Moves the cursor behind the
// value as written (behind the "R" of a reference). Returns 0 or a code.
int readDestinationValue(DocumentReader& reader, const Byte** cursor, const Byte* numberBound,
                         const ValueCodes& codes, std::int32_t* pageObject)
{
    const Byte* const end = reader.end;
    const Byte* value = *cursor;
    const Byte* resume = nullptr;
    const Byte* p = value;
    const int number = readNumber(reader, &p, numberBound);
    reader.lastError = 0;
    if (number >= 1) {
        if (readNumber(reader, &p, end) < 0) return valueCode::endInSpace;
        if (const int code = skipOrCode(reader, &p, end, valueCode::endInSpace, codes.commentAfterReference))
            return code;
        if (*p != 'R') return valueCode::referenceNoR;
        const std::int64_t offset = lookupObjectOffset(reader, reader.tableStart, reader.tableEnd, number);
        value = openObject(reader, reader.start, end, offset, number);
        if (!value) return valueCode::referenceNotOpened;
        resume = p + 1;
    }
    if (*value == '<') {
        if (end - value < 2 || value[1] != '<') return codes.dictionaryNoOpener;
        if (end - value < 3) return codes.dictionaryNoRoom;
        const Byte* dictionaryEnd = findMatchingClose(reader, value + 2, end, ">>", "<<");
        if (!dictionaryEnd) return valueCode::dictionaryUnclosed;
        const Byte* key = findKey(reader, "/D", value + 2, dictionaryEnd);
        reader.lastError = 0;
        if (!key) return valueCode::dictionaryUnclosed;
        value = key + 2;
        if (const int code = skipOrCode(reader, &value, end, valueCode::endInSpace, codes.commentAfterD))
            return code;
        if (!resume) resume = dictionaryEnd + 2;
    }
    if (*value == '[') {
        if (const int code = takeDestinationArray(reader, &value, end, codes, pageObject)) return code;
        if (!resume) resume = value + 1;
    } else if (matchesAt(value, end, "null")) {
        *pageObject = noPageObject;
        if (!resume) resume = value + 4;
    } else {
        return codeNotDestination;
    }
    *cursor = resume;
    return 0;
}

// Appends an entry to a table's working block, allocating it on first use.
int appendEntry(TextBlock* entries, const DestinationEntry& entry)
{
    if (!entries->isAllocated() && !entries->allocate(textBlockBytes)) return codeNoMemoryTable;
    if (!entries->ensureRoom(entryHeadroomBytes)) return codeNoMemoryTableGrowth;
    entries->append(reinterpret_cast<const Byte*>(&entry), sizeof entry);
    return 0;
}

// Reads the "/Names" array of a name-tree leaf into the table.
int readNamesArray(DocumentReader& reader, const Dictionary& node, const ValueCodes& codes,
                   TextBlock* entries)
{
    const Byte* const end = reader.end;
    const Byte* p = findKey(reader, "/Names", node.start, node.end);
    if (!p) return valueCode::dictionaryUnclosed;
    p += 6;
    if (skipNotingEnd(reader, &p, end) != SkipEnd::NotAtEnd) return codeEndAroundEntries;
    if (*p != '[') return valueCode::notDictionary;
    ++p;
    if (skipNotingEnd(reader, &p, end) != SkipEnd::NotAtEnd) return codeEndAroundEntries;
    while (*p != ']') {
        if (*p != '(' && *p != '<') return valueCode::notDictionary;
        const Byte* close = findStringTokenEnd(reader, p, end);
        if (!close || end - close < 2) return valueCode::titleOrKeyRunsToEnd;
        DestinationEntry entry{static_cast<std::int32_t>(close - p - 1), p + 1, noPageObject};
        p = close + 1;
        if (skipNotingEnd(reader, &p, end) != SkipEnd::NotAtEnd) return codeEndAroundEntries;
        if (const int code = readDestinationValue(reader, &p, node.end, codes, &entry.pageObject))
            return code;
        if (const int code = appendEntry(entries, entry)) return code;
        if (skipNotingEnd(reader, &p, end) != SkipEnd::NotAtEnd) return codeEndAroundEntries;
    }
    return 0;
}

// The string-keyed table: every leaf of the /Names /Dests name tree.
int readNameTree(DocumentReader& reader, const Dictionary& catalogue, TextBlock* entries)
{
    const Byte* const end = reader.end;
    const Byte* p = findKey(reader, "/Names", catalogue.start, catalogue.end);
    reader.lastError = 0;
    if (!p) return 0;
    p += 6;
    if (const int code = resolveValue(reader, &p, catalogue.end)) return code;
    Dictionary names;
    if (const int code = openDictionary(reader, p, &names)) return code;

    p = findKey(reader, "/Dests", names.start, names.end);
    reader.lastError = 0;
    if (!p) return 0;
    p += 6;
    if (!isWhiteSpace(*p) && *p != '%') return codeBadByteAfterKey;
    if (const int code = skipOrCode(reader, &p, end, codeDestsEndInSpace, codeDestsEndInComment)) return code;
    const Byte* q = p;
    const int number = readNumber(reader, &q, end);
    reader.lastError = 0;
    if (number >= 0) {
        if (readNumber(reader, &q, end) < 0) return codeDestsNoGeneration;
        if (const int code =
                skipOrCode(reader, &q, end, codeDestsEndInSpaceBeforeR, codeDestsEndInCommentBeforeR))
            return code;
        if (*q != 'R') return codeDestsNoR;
        const std::int64_t offset = lookupObjectOffset(reader, reader.tableStart, reader.tableEnd, number);
        p = openObject(reader, reader.start, end, offset, number);
        if (!p) return valueCode::referenceNotOpened;
    }
    Dictionary root;
    if (const int code = openDictionary(reader, p, &root)) return code;

    p = findKey(reader, "/Kids", root.start, root.end);
    reader.lastError = 0;
    if (!p) return readNamesArray(reader, root, singleLeafCodes, entries);
    p += 5;
    if (!isWhiteSpace(*p) && *p != '%') return codeBadByteAfterKey;
    if (const int code = skipOrCode(reader, &p, end, codeDestsEndInSpace, codeDestsEndInComment)) return code;
    if (*p != '[') return codeKidsNotArray;
    // The key ranges that nodes declare are not consulted: every leaf's
    // entries are taken in walk order.
    return walkKids(reader, p + 1, findKidsArray, [&](int objectNumber, int, std::int64_t offset) {
                        const Byte* body = openObject(reader, reader.start, end, offset, objectNumber);
                        if (!body) return valueCode::referenceNotOpened;
                        Dictionary leaf;
                        if (const int code = openDictionary(reader, body, &leaf)) return code;
                        return readNamesArray(reader, leaf, multiLevelCodes, entries);
                    });
}

// The name-keyed table: the catalogue's /Dests dictionary.
int readDestsDictionary(DocumentReader& reader, const Dictionary& catalogue, TextBlock* entries)
{
    const Byte* const end = reader.end;
    const Byte* p = findKey(reader, "/Dests", catalogue.start, catalogue.end);
    // Keys are found without regard to nesting, and the name tree is
    // reached through a "/Dests" inside the catalogue's "/Names" dictionary:
    // when that dictionary is written in place before the catalogue's own
    // "/Dests", the search must go on behind it, or a document with both
    // kinds of name would take its name tree for the name dictionary.
    if (const Byte* names = findKey(reader, "/Names", catalogue.start, catalogue.end);
        names && p && names < p) {
        const Byte* value = names + 6;
        if (skipWhiteSpaceAndComments(reader, &value, catalogue.end) && matchesAt(value, catalogue.end, "<<"))
            // A name dictionary that closes at the catalogue's end, or past
            // it, leaves no "/Dests" of the catalogue's own behind it; the
            // search must not start behind the end that bounds it.
            if (const Byte* close = findMatchingClose(reader, value + 2, end, ">>", "<<"); close && p < close)
                p = catalogue.end - close > 2 ? findKey(reader, "/Dests", close + 2, catalogue.end) : nullptr;
    }
    reader.lastError = 0;
    if (!p) return 0;
    p += 6;
    if (const int code = resolveValue(reader, &p, catalogue.end)) return code;
    if (*p != '<') return valueCode::notDictionary;
    if (end - p < 2) return valueCode::endInsideOpener;
    if (p[1] != '<') return valueCode::secondByteNotOpener;
    p += 2;
    if (const int code = skipOrCode(reader, &p, end, codeDestsEndInSpace, codeDestsEndInComment)) return code;
    while (*p != '>') {
        if (*p != '/' || end - p < 2) return codeDestsKeyNotName;
        const Byte* key = p + 1;
        p = findNameKeyEnd(reader, key, end);
        if (!p) return valueCode::titleOrKeyRunsToEnd;
        DestinationEntry entry{static_cast<std::int32_t>(p - key), key, noPageObject};
        if (skipNotingEnd(reader, &p, end) != SkipEnd::NotAtEnd) return codeEndAroundEntries;
        if (const int code = readDestinationValue(reader, &p, end, singleLeafCodes, &entry.pageObject))
            return code;
        if (const int code = appendEntry(entries, entry)) return code;
        if (skipNotingEnd(reader, &p, end) != SkipEnd::NotAtEnd) return codeEndAroundEntries;
    }
    return 0;
}

// Copies a finished working block into an exact-size table.
int finishTable(const TextBlock& entries, DestinationEntry** table, std::int32_t* count)
{
    if (!entries.isAllocated()) return 0;
    Byte* exact = entries.copyExact();
    if (!exact) return codeNoMemoryExactTable;
    *table = reinterpret_cast<DestinationEntry*>(exact);
    *count = static_cast<std::int32_t>(entries.used() / sizeof(DestinationEntry));
    return 0;
}

}  // namespace

void freeDestinationTables(DestinationTables* tables)
{
    freeBlock(tables->stringKeyed);
    freeBlock(tables->nameKeyed);
    *tables = DestinationTables{};
}

int collectDestinations(DocumentReader& reader, const Byte* catalogueStart, const Byte* catalogueEnd,
                        bool buildStringKeyed, bool buildNameKeyed, DestinationTables* tables)
{
    const Dictionary catalogue{catalogueStart, catalogueEnd};
    DestinationTables built;
    auto fail = [&](int code) {
        freeDestinationTables(&built);
        return failWith(reader, code);
    };
    if (buildStringKeyed) {
        TextBlock entries;
        if (const int code = readNameTree(reader, catalogue, &entries)) return fail(code);
        if (const int code = finishTable(entries, &built.stringKeyed, &built.stringCount))
            return fail(code);
    }
    if (buildNameKeyed) {
        TextBlock entries;
        if (const int code = readDestsDictionary(reader, catalogue, &entries)) return fail(code);
        if (const int code = finishTable(entries, &built.nameKeyed, &built.nameCount))
            return fail(code);
    }
    *tables = built;
    reader.lastError = 0;
    return 0;
}

const DestinationEntry* findDestination(const DestinationEntry* table, std::int32_t count,
                                        const Byte* key, std::int32_t keyLength)
{
    for (std::int32_t i = 0; i < count; ++i) {
        const DestinationEntry& entry = table[i];
        if (entry.keyLength == keyLength &&
            (keyLength == 0 || std::memcmp(entry.keyText, key, static_cast<std::size_t>(keyLength)) == 0))
            return &entry;
    }
    return nullptr;
}

}  // namespace ravoth
