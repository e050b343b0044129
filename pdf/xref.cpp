// Cross-reference chain and trailer.
#include <algorithm>
#include <cstdint>

#include "pdf/reader.h"
#include "pdf/text_block.h"
#include "platform/memory.h"

namespace ravoth {


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

// The codes of a section's subsections after its first: the growth of the
// entry list while they are read, and a malformed entry by where its object
// stands against the entries read before its subsection: already there, among
// them, or past them all.
struct MergeCodes {
    std::int32_t growth;
    EntryCodes duplicate;
    EntryCodes inserted;
    EntryCodes appended;
};

constexpr EntryCodes firstSubsectionCodes{-22, -24, -26, -27};

constexpr MergeCodes newestSectionCodes{-46, {-33, -34, -35, -36}, {-38, -40, -42, -43}, {-47, -49, -51, -52}};

constexpr MergeCodes olderSectionCodes{-72, {-59, -60, -61, -62}, {-64, -66, -68, -69}, {-73, -75, -77, -78}};

struct Entry {
    std::int64_t offset = 0;
    int generation = 0;
    Byte flag = 'n';
};

// Reads "offset generation flag" at the cursor. Any spacing and line end is
// accepted, since readNumber skips white space first.
bool readEntry(DocumentReader& reader, const Byte** cursor, const Byte* docEnd, const EntryCodes& codes,
               Entry* entry)
{
    entry->offset = readOffset(reader, cursor, docEnd);
    if (entry->offset < 0) return failWith(reader, codes.offset), false;
    entry->generation = readNumber(reader, cursor, docEnd);
    if (entry->generation < 0) return failWith(reader, codes.generation), false;
    if (!skipWhiteSpace(reader, cursor, docEnd)) return failWith(reader, codes.endBeforeFlag), false;
    const Byte flag = **cursor;
    if (flag != 'n' && flag != 'f') return failWith(reader, codes.flag), false;
    ++*cursor;
    entry->flag = flag;
    return true;
}

// One entry as read, with its place in reading order: of two entries for one
// object the one read first comes from a newer section or an earlier
// subsection, and wins.
struct Record {
    std::int64_t objectNumber;
    std::int64_t order;
    std::int64_t offset;
    std::int32_t generation;
    Byte flag;
};

bool precedes(const Record& a, const Record& b)
{
    return a.objectNumber != b.objectNumber ? a.objectNumber < b.objectNumber : a.order < b.order;
}

// Every entry of the chain in reading order, in a block that grows in steps.
// Sorting the whole list once, rather than merging each subsection into a
// sorted table, keeps a document of many small subsections from costing the
// square of its size.
class RecordList {
public:
    bool allocate()
    {
        block_.reset(allocBlock(textBlockBytes));
        capacityEnd_ = block_ ? block_.get() + textBlockBytes : nullptr;
        return static_cast<bool>(block_);
    }
    std::size_t size() const { return size_; }
    std::size_t capacityBytes() const { return static_cast<std::size_t>(capacityEnd_ - block_.get()); }
    Record* begin() const { return reinterpret_cast<Record*>(block_.get()); }
    Record* end() const { return begin() + size_; }
    std::int64_t largestNumber() const { return largest_; }

    // Reads the next entry, for object `number`, and appends it.
    bool readAndAppend(DocumentReader& reader, const Byte** cursor, const Byte* docEnd, std::int64_t number,
                       std::int32_t growCode, const EntryCodes& codes)
    {
        if ((size_ + 1) * sizeof(Record) > capacityBytes() &&
            growBlock(block_.slot(), &capacityEnd_, growthStepBytes(capacityBytes())) != 1)
            return failWith(reader, growCode), false;
        Entry entry;
        if (!readEntry(reader, cursor, docEnd, codes, &entry)) return false;
        begin()[size_] = {number, static_cast<std::int64_t>(size_), entry.offset, entry.generation, entry.flag};
        ++size_;
        if (number > largest_) largest_ = number;
        return true;
    }

    // Whether one of the first `count` records is for object n; sorts them.
    bool holds(std::size_t count, std::int64_t n)
    {
        std::sort(begin(), begin() + count, precedes);
        const Record key{n, -1, 0, 0, 0};
        const Record* found = std::lower_bound(begin(), begin() + count, key, precedes);
        return found != begin() + count && found->objectNumber == n;
    }

private:
    OwnedBlock<Byte> block_;
    Byte* capacityEnd_ = nullptr;
    std::size_t size_ = 0;
    std::int64_t largest_ = -1;
};

bool readFirstSubsection(DocumentReader& reader, const Byte** cursor, const Byte* docEnd, RecordList& records,
                         std::int64_t first, std::int64_t count)
{
    if (!records.allocate()) return failWith(reader, codeNoMemoryTable), false;
    for (std::int64_t i = first; i < first + count; ++i)
        if (!records.readAndAppend(reader, cursor, docEnd, i, codeNoMemoryTableGrowth, firstSubsectionCodes))
            return false;
    return true;
}

// Reads the subsection (first, count) at the cursor. Its entries for objects
// that earlier entries already give are still read, so a malformed one
// fails; its code tells where that object stood among the earlier entries.
bool readLaterSubsection(DocumentReader& reader, const Byte** cursor, const Byte* docEnd, RecordList& records,
                         std::int64_t first, std::int64_t count, const MergeCodes& codes)
{
    const std::size_t before = records.size();
    const std::int64_t largestBefore = records.largestNumber();
    for (std::int64_t i = first; i < first + count; ++i) {
        // The codes only matter once an entry fails, so the earlier entries
        // are looked through only then.
        if (records.readAndAppend(reader, cursor, docEnd, i, codes.growth, codes.appended)) continue;
        if (reader.lastError == codes.growth || i > largestBefore) return false;
        const std::int32_t error = reader.lastError;
        const EntryCodes& place = records.holds(before, i) ? codes.duplicate : codes.inserted;
        const EntryCodes& appended = codes.appended;
        reader.lastError = error == appended.offset           ? place.offset
                    : error == appended.generation     ? place.generation
                    : error == appended.endBeforeFlag  ? place.endBeforeFlag
                                                       : place.flag;
        return false;
    }
    return true;
}

// The XrefTable text of the sorted records, the first of each object only,
// in a block of exactly its length; false when the block cannot be had.
bool writeTable(const RecordList& records, Byte** tableStart, Byte** tableEnd)
{
    auto lineBytes = [](const Record& record) {
        return decimalBytes(record.objectNumber) + 1 + decimalBytes(record.offset) + 1 +
               decimalBytes(record.generation) + 3;
    };
    std::size_t bytes = 0;
    for (const Record* r = records.begin(); r < records.end(); ++r)
        if (r == records.begin() || r[-1].objectNumber != r->objectNumber) bytes += lineBytes(*r);
    TextBlock table;
    if (!table.allocate(bytes)) return false;
    for (const Record* r = records.begin(); r < records.end(); ++r) {
        if (r != records.begin() && r[-1].objectNumber == r->objectNumber) continue;
        table.appendDecimal(r->objectNumber);
        table.appendByte(' ');
        table.appendDecimal(r->offset);
        table.appendByte(' ');
        table.appendDecimal(r->generation);
        table.appendByte(' ');
        table.appendByte(r->flag);
        table.appendByte('\n');
    }
    *tableEnd = const_cast<Byte*>(table.end());
    *tableStart = table.release();
    return true;
}

// Reads the trailer dictionary after a section; takes /Root and /Info when
// not yet known and gives the /Prev offset (-1 when there is none).
bool readTrailerDictionary(DocumentReader& reader, const Byte** cursor, const Byte* docEnd,
                           std::int32_t* rootNumber, std::int64_t* prevOffset)
{
    const Byte* p = *cursor;
    if (!skipWhiteSpace(reader, &p, docEnd)) return failWith(reader, codeEndBeforeTrailer), false;
    if (!matchesAt(p, docEnd, "trailer")) return failWith(reader, codeNoTrailerKeyword), false;
    p += 7;
    if (p >= docEnd || !(isWhiteSpace(*p) || *p == '<' || *p == '%'))
        return failWith(reader, codeBadByteAfterTrailer), false;
    if (!skipWhiteSpaceAndComments(reader, &p, docEnd)) return failWith(reader, codeEndBeforeDictionary), false;
    if (!matchesAt(p, docEnd, "<<")) return failWith(reader, codeNoDictionary), false;
    const Byte* dictStart = p + 2;
    const Byte* dictEnd = findMatchingClose(reader, dictStart, docEnd, ">>", "<<");
    if (!dictEnd) return failWith(reader, codeNoDictionaryEnd), false;

    if (findKey(reader, "/Encrypt", dictStart, dictEnd)) {
        reader.isEncrypted = true;
        return failWith(reader, codeEncrypted), false;
    }
    reader.lastError = 0;
    if (const Byte* key = findKey(reader, "/Root", dictStart, dictEnd); key && *rootNumber == -1) {
        const Byte* value = key + 5;
        const int number = readNumber(reader, &value, docEnd);
        if (number >= 0) *rootNumber = number;
    }
    reader.lastError = 0;
    if (const Byte* key = findKey(reader, "/Info", dictStart, dictEnd); key && reader.infoObjectNumber < 1) {
        const Byte* value = key + 5;
        const int number = readNumber(reader, &value, docEnd);
        if (number >= 0) reader.infoObjectNumber = number;
    }
    reader.lastError = 0;
    *prevOffset = -1;
    if (const Byte* key = findKey(reader, "/Prev", dictStart, dictEnd)) {
        const Byte* value = key + 5;
        const std::int64_t offset = readOffset(reader, &value, dictEnd);
        if (offset < 0) return failWith(reader, codeBadPrev), false;
        *prevOffset = offset;
    }
    reader.lastError = 0;
    *cursor = dictEnd;
    return true;
}

}  // namespace

int readTrailer(DocumentReader& reader, Byte** tableStart, Byte** tableEnd, std::int32_t* rootNumber)
{
    const Byte* const docStart = reader.start;
    const Byte* const docEnd = reader.end;
    reader.lastError = 0;
    *rootNumber = -1;
    const Byte* cursor = docEnd;
    if (!findKeywordBackward(reader, docStart, &cursor, "%%EOF", docEnd)) return failWith(reader, codeNoEof), 0;
    if (!findKeywordBackward(reader, docStart, &cursor, "startxref", docEnd))
        return failWith(reader, codeNoStartxref), 0;
    cursor += 9;
    const std::int64_t newestOffset = readOffset(reader, &cursor, docEnd);
    if (newestOffset < 0) return failWith(reader, codeNoStartxrefOffset), 0;

    RecordList records;
    const std::int64_t docBytes = docEnd - docStart;
    std::int64_t sectionOffset = newestOffset;
    // A /Prev chain that comes back to a section already read would loop
    // for ever. Brent's cycle finding notices it without a list of offsets:
    // compare each offset with one remembered at powers of two. Sections read
    // twice before the repeat is seen change nothing, as the entries read
    // first win.
    std::int64_t remembered = sectionOffset;
    std::uint64_t stepsSinceRemembered = 0;
    std::uint64_t stepLimit = 1;
    for (bool newest = true;; newest = false) {
        if (sectionOffset >= docBytes) return failWith(reader, codeNoXrefKeyword), 0;
        cursor = docStart + sectionOffset;
        if (!skipWhiteSpaceAndComments(reader, &cursor, docEnd) || !matchesAt(cursor, docEnd, "xref"))
            return failWith(reader, codeNoXrefKeyword), 0;
        cursor += 4;
        std::int64_t first = readNumber(reader, &cursor, docEnd);
        if (first < 0) return failWith(reader, codeNoFirstSubsection), 0;
        std::int64_t count = readNumber(reader, &cursor, docEnd);
        if (count < 0) return failWith(reader, codeNoFirstSubsection), 0;
        const MergeCodes& codes = newest ? newestSectionCodes : olderSectionCodes;
        if (newest) {
            if (!readFirstSubsection(reader, &cursor, docEnd, records, first, count)) return 0;
        } else if (!readLaterSubsection(reader, &cursor, docEnd, records, first, count, codes)) {
            return 0;
        }
        for (;;) {
            first = readNumber(reader, &cursor, docEnd);
            if (first < 0) {
                // The section has ended; the cursor rests on what follows.
                reader.lastError = 0;
                break;
            }
            count = readNumber(reader, &cursor, docEnd);
            if (count < 0) return failWith(reader, newest ? codeNewestCount : codeOlderCount), 0;
            if (!readLaterSubsection(reader, &cursor, docEnd, records, first, count, codes)) return 0;
        }
        std::int64_t prevOffset = -1;
        if (!readTrailerDictionary(reader, &cursor, docEnd, rootNumber, &prevOffset)) return 0;
        if (prevOffset < 0 || prevOffset == remembered) break;
        if (++stepsSinceRemembered == stepLimit) {
            remembered = prevOffset;
            stepLimit *= 2;
            stepsSinceRemembered = 0;
        }
        sectionOffset = prevOffset;
    }

    std::sort(records.begin(), records.end(), precedes);
    if (!writeTable(records, tableStart, tableEnd)) return failWith(reader, codeNoMemoryFinal), 0;
    reader.lastError = 0;
    return 1;
}

}  // namespace ravoth
