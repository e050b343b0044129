// Cross-reference chain and trailer.
#include <cstdint>

#include "pdf/reader.h"
#include "pdf/text_block.h"
#include "platform/memory.h"

namespace ravoth {

std::int32_t infoObjectNumber = 0;

namespace {

constexpr std::int32_t codeNoEof = -15;
constexpr std::int32_t codeNoStartxref = -16;
constexpr std::int32_t codeNoStartxrefOffset = -17;
constexpr std::int32_t codeNoXrefKeyword = -18;
constexpr std::int32_t codeNoFirstSubsection = -19;
constexpr std::int32_t codeNoMemoryTable = -20;
constexpr std::int32_t codeNoMemoryTableGrowth = -21;
constexpr std::int32_t codeNewestCount = -29;
constexpr std::int32_t codeEndBeforeTrailer = -80;
constexpr std::int32_t codeNoTrailerKeyword = -81;
constexpr std::int32_t codeBadByteAfterTrailer = -82;
constexpr std::int32_t codeEndBeforeDictionary = -83;
constexpr std::int32_t codeNoDictionary = -84;
constexpr std::int32_t codeNoDictionaryEnd = -87;
constexpr std::int32_t codeBadPrev = -89;
constexpr std::int32_t codeOlderCount = -90;
constexpr std::int32_t codeNoMemoryFinal = -91;
constexpr std::int32_t codeEncrypted = -1000;

// The codes for one kind of entry read from the document.
struct EntryCodes {
    std::int32_t offset;
    std::int32_t generation;
    std::int32_t endBeforeFlag;
    std::int32_t flag;
};

// The codes for merging a subsection, by where in the merge they arise.
struct MergeCodes {
    std::int32_t allocation;
    std::int32_t growCopyLower;
    std::int32_t growCopyDuplicate;
    std::int32_t growInsert;
    std::int32_t growCopyRemaining;
    std::int32_t growAppend;
    EntryCodes duplicate;
    EntryCodes inserted;
    EntryCodes appended;
};

constexpr EntryCodes firstSubsectionCodes{-22, -24, -26, -27};

constexpr MergeCodes newestSectionCodes{
    -30, -31, -32, -37, -45, -46, {-33, -34, -35, -36}, {-38, -40, -42, -43}, {-47, -49, -51, -52}};

constexpr MergeCodes olderSectionCodes{
    -55, -57, -58, -63, -71, -72, {-59, -60, -61, -62}, {-64, -66, -68, -69}, {-73, -75, -77, -78}};

struct Entry {
    int offset = 0;
    int generation = 0;
    Byte flag = 'n';
};

// Reads "offset generation flag" at the cursor. Any spacing and line end is
// accepted, since readNumber skips white space first.
bool readEntry(const Byte** cursor, const Byte* docEnd, const EntryCodes& codes, Entry* entry)
{
    entry->offset = readNumber(cursor, docEnd);
    if (entry->offset < 0) return failWith(codes.offset), false;
    entry->generation = readNumber(cursor, docEnd);
    if (entry->generation < 0) return failWith(codes.generation), false;
    if (!skipWhiteSpace(cursor, docEnd)) return failWith(codes.endBeforeFlag), false;
    const Byte flag = **cursor;
    if (flag != 'n' && flag != 'f') return failWith(codes.flag), false;
    ++*cursor;
    entry->flag = flag;
    return true;
}

void appendLine(TextBlock& table, std::int64_t number, const Entry& entry)
{
    table.appendDecimal(number);
    table.appendByte(' ');
    table.appendDecimal(entry.offset);
    table.appendByte(' ');
    table.appendDecimal(entry.generation);
    table.appendByte(' ');
    table.appendByte(entry.flag);
    table.appendByte('\n');
}

// Reads the next entry and appends its line, making room first.
bool readAndAppend(const Byte** cursor, const Byte* docEnd, TextBlock& table, std::int64_t number,
                   std::int32_t growCode, const EntryCodes& codes)
{
    if (!table.ensureRoom(lineHeadroomBytes)) return failWith(growCode), false;
    Entry entry;
    if (!readEntry(cursor, docEnd, codes, &entry)) return false;
    appendLine(table, number, entry);
    return true;
}

// The object number that starts one of our own table lines.
std::int64_t lineNumber(const Byte* line, const Byte* end)
{
    std::int64_t value = 0;
    while (line < end && isDigit(*line)) value = value * 10 + (*line++ - '0');
    return value;
}

bool buildFirstSubsection(const Byte** cursor, const Byte* docEnd, TextBlock& table,
                          std::int64_t first, std::int64_t count)
{
    if (!table.allocate(textBlockBytes)) return failWith(codeNoMemoryTable), false;
    for (std::int64_t i = first; i < first + count; ++i)
        if (!readAndAppend(cursor, docEnd, table, i, codeNoMemoryTableGrowth, firstSubsectionCodes))
            return false;
    return true;
}

// Merges the subsection (first, count) at the cursor into the sorted table.
// A line already in the table wins over the new entry for the same object:
// it comes from a newer section or an earlier subsection. The new entry is
// still read, so a malformed one fails.
bool mergeSubsection(const Byte** cursor, const Byte* docEnd, TextBlock& table,
                     std::int64_t first, std::int64_t count, const MergeCodes& codes)
{
    TextBlock merged;
    if (!merged.allocate(table.capacity())) return failWith(codes.allocation), false;
    const std::int64_t last = first + count - 1;
    std::int64_t i = first;
    const Byte* line = table.begin();
    const Byte* const tableEnd = table.end();
    while (line < tableEnd) {
        const Byte* lineEnd = line;
        while (lineEnd < tableEnd && *lineEnd != '\n') ++lineEnd;
        const std::size_t lineBytes = static_cast<std::size_t>(lineEnd - line);
        const std::int64_t h = lineNumber(line, lineEnd);
        if (i <= last && h > i) {
            if (!readAndAppend(cursor, docEnd, merged, i, codes.growInsert, codes.inserted))
                return false;
            ++i;
            continue;
        }
        const std::int32_t growCode = i > last ? codes.growCopyRemaining
                                      : h < i  ? codes.growCopyLower
                                               : codes.growCopyDuplicate;
        if (!merged.ensureRoom(lineBytes + 3)) return failWith(growCode), false;
        merged.append(line, lineBytes);
        merged.appendByte('\n');
        if (i <= last && h == i) {
            Entry ignored;
            if (!readEntry(cursor, docEnd, codes.duplicate, &ignored)) return false;
            ++i;
        }
        line = lineEnd < tableEnd ? lineEnd + 1 : lineEnd;
    }
    for (; i <= last; ++i)
        if (!readAndAppend(cursor, docEnd, merged, i, codes.growAppend, codes.appended))
            return false;
    table = std::move(merged);
    return true;
}

// Reads the trailer dictionary after a section; takes /Root and /Info when
// not yet known and gives the /Prev offset (-1 when there is none).
bool readTrailerDictionary(const Byte** cursor, const Byte* docEnd, std::int32_t* rootNumber,
                           std::int64_t* prevOffset)
{
    const Byte* p = *cursor;
    if (!skipWhiteSpace(&p, docEnd)) return failWith(codeEndBeforeTrailer), false;
    if (!matchesAt(p, docEnd, "trailer")) return failWith(codeNoTrailerKeyword), false;
    p += 7;
    if (p >= docEnd || !(isWhiteSpace(*p) || *p == '<' || *p == '%'))
        return failWith(codeBadByteAfterTrailer), false;
    if (!skipWhiteSpaceAndComments(&p, docEnd)) return failWith(codeEndBeforeDictionary), false;
    if (!matchesAt(p, docEnd, "<<")) return failWith(codeNoDictionary), false;
    const Byte* dictStart = p + 2;
    const Byte* dictEnd = findMatchingClose(dictStart, docEnd, ">>", "<<");
    if (!dictEnd) return failWith(codeNoDictionaryEnd), false;

    if (findKey("/Encrypt", dictStart, dictEnd)) return failWith(codeEncrypted), false;
    LastError = 0;
    if (const Byte* key = findKey("/Root", dictStart, dictEnd); key && *rootNumber == -1) {
        const Byte* value = key + 5;
        const int number = readNumber(&value, docEnd);
        if (number >= 0) *rootNumber = number;
    }
    LastError = 0;
    if (const Byte* key = findKey("/Info", dictStart, dictEnd); key && infoObjectNumber < 1) {
        const Byte* value = key + 5;
        const int number = readNumber(&value, docEnd);
        if (number >= 0) infoObjectNumber = number;
    }
    LastError = 0;
    *prevOffset = -1;
    if (const Byte* key = findKey("/Prev", dictStart, dictEnd)) {
        const Byte* value = key + 5;
        const int offset = readNumber(&value, dictEnd);
        if (offset < 0) return failWith(codeBadPrev), false;
        *prevOffset = offset;
    }
    LastError = 0;
    *cursor = dictEnd;
    return true;
}

}  // namespace

int readTrailer(const Byte* docStart, const Byte* docEnd, Byte** tableStart, Byte** tableEnd,
                std::int32_t* rootNumber)
{
    LastError = 0;
    *rootNumber = -1;
    const Byte* cursor = docEnd;
    if (!findKeywordBackward(docStart, &cursor, "%%EOF", docEnd)) return failWith(codeNoEof), 0;
    if (!findKeywordBackward(docStart, &cursor, "startxref", docEnd))
        return failWith(codeNoStartxref), 0;
    cursor += 9;
    const int newestOffset = readNumber(&cursor, docEnd);
    if (newestOffset < 0) return failWith(codeNoStartxrefOffset), 0;

    TextBlock table;
    const std::int64_t docBytes = docEnd - docStart;
    std::int64_t sectionOffset = newestOffset;
    // A /Prev chain that comes back to a section already read would loop
    // for ever. Brent's cycle finding notices it without a list of offsets:
    // compare each offset with one remembered at powers of two. Sections read
    // twice before the repeat is seen change nothing, as the entries already
    // in the table win.
    std::int64_t remembered = sectionOffset;
    std::uint64_t stepsSinceRemembered = 0;
    std::uint64_t stepLimit = 1;
    for (bool newest = true;; newest = false) {
        if (sectionOffset >= docBytes) return failWith(codeNoXrefKeyword), 0;
        cursor = docStart + sectionOffset;
        if (!skipWhiteSpaceAndComments(&cursor, docEnd) || !matchesAt(cursor, docEnd, "xref"))
            return failWith(codeNoXrefKeyword), 0;
        cursor += 4;
        std::int64_t first = readNumber(&cursor, docEnd);
        if (first < 0) return failWith(codeNoFirstSubsection), 0;
        std::int64_t count = readNumber(&cursor, docEnd);
        if (count < 0) return failWith(codeNoFirstSubsection), 0;
        if (newest) {
            if (!buildFirstSubsection(&cursor, docEnd, table, first, count)) return 0;
        } else if (!mergeSubsection(&cursor, docEnd, table, first, count, olderSectionCodes)) {
            return 0;
        }
        const MergeCodes& codes = newest ? newestSectionCodes : olderSectionCodes;
        for (;;) {
            first = readNumber(&cursor, docEnd);
            if (first < 0) {
                // The section has ended; the cursor rests on what follows.
                LastError = 0;
                break;
            }
            count = readNumber(&cursor, docEnd);
            if (count < 0) return failWith(newest ? codeNewestCount : codeOlderCount), 0;
            if (!mergeSubsection(&cursor, docEnd, table, first, count, codes)) return 0;
        }
        std::int64_t prevOffset = -1;
        if (!readTrailerDictionary(&cursor, docEnd, rootNumber, &prevOffset)) return 0;
        if (prevOffset < 0 || prevOffset == remembered) break;
        if (++stepsSinceRemembered == stepLimit) {
            remembered = prevOffset;
            stepLimit *= 2;
            stepsSinceRemembered = 0;
        }
        sectionOffset = prevOffset;
    }

    Byte* exact = table.copyExact();
    if (!exact) return failWith(codeNoMemoryFinal), 0;
    *tableStart = exact;
    *tableEnd = exact + table.used();
    LastError = 0;
    return 1;
}

}  // namespace ravoth
