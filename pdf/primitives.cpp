#include "pdf/primitives.h"

#include <cstdint>
#include <cstring>
#include <limits>

#include "platform/memory.h"

namespace ravoth {


namespace {

constexpr std::int32_t codeFindKeyAtBoundary = -2;
constexpr std::int32_t codeFindKeyInToken = -3;
constexpr std::int32_t codeNumberNoCursor = -9;
constexpr std::int32_t codeNumberOnlySpace = -10;
constexpr std::int32_t codeNumberNotDigit = -11;
constexpr std::int32_t codeNumberRunsToEnd = -12;
constexpr std::int32_t codeNumberBadEnd = -13;
constexpr std::int32_t codeKeywordEmpty = -13;
constexpr std::int32_t codeKeywordNotFound = -14;
constexpr std::int32_t codeKeywordInComment = -1;
constexpr std::int32_t codeNotInTable = -92;
constexpr std::int32_t codeNoOffsetField = -93;
constexpr std::int32_t codeNoGenerationField = -94;
constexpr std::int32_t codeLineWithoutEnd = -95;
constexpr std::int32_t codeOffsetOutside = -96;
constexpr std::int32_t codeWrongObjectNumber = -97;
constexpr std::int32_t codeNoGeneration = -98;
constexpr std::int32_t codeEndBeforeObj = -99;
constexpr std::int32_t codeNoObjKeyword = -100;
constexpr std::int32_t codeEndAfterObj = -101;

bool isLineEnd(Byte b) { return b == '\r' || b == '\n'; }


// Bytes that findKey steps over between tokens besides white space.
bool isKeyScanFiller(Byte b)
{
    return b == '<' || b == '>' || b == '[' || b == ']' || b == '{' || b == '}';
}

// A key token counts only when one of these follows it; ")" does not, so a
// key at the very end of a string literal's text is never taken.
bool endsKeyToken(Byte b)
{
    return isWhiteSpace(b) || (isDelimiter(b) && b != ')');
}

// What may follow a close token for it to count: not the close token's own
// last byte, so that in ">>>" the final two bytes close the dictionary.
bool mayFollowClose(Byte b) { return isWhiteSpace(b) || (isDelimiter(b) && b != '>'); }
bool mayFollowOpen(Byte b) { return isWhiteSpace(b) || (isDelimiter(b) && b != '<'); }

// Ends a plain token in findMatchingClose; "(" and "/" do not.
bool endsCloseScanToken(Byte b)
{
    return isWhiteSpace(b) || b == ')' || b == '<' || b == '>' || b == '[' || b == ']' ||
           b == '{' || b == '}' || b == '%';
}

// One pass of findMatchingClose; `skipLeadingSpace` is false for the second
// pass, which takes the byte at start as the first byte of a token.
const Byte* scanForClose(DocumentReader& reader, const Byte* start, const Byte* end, std::string_view close,
                         std::string_view open, bool skipLeadingSpace)
{
    const std::size_t closeSize = close.size();
    const std::size_t openSize = open.size();
    const Byte* p = start;
    int depth = 0;
    for (;;) {
        if (skipLeadingSpace && !skipWhiteSpaceAndComments(reader, &p, end)) return nullptr;
        if (static_cast<std::size_t>(end - p) < closeSize + 1) return nullptr;
        if (matchesAt(p, end, close) && mayFollowClose(p[closeSize])) {
            if (depth == 0) return p;
            --depth;
        }
        if (openSize != 0) {
            if (static_cast<std::size_t>(end - p) < openSize + 1) return nullptr;
            if (matchesAt(p, end, open) && mayFollowOpen(p[openSize])) ++depth;
        }
        if (*p == '(') {
            if (!skipStringLiteral(reader, &p, end)) return nullptr;
        } else {
            ++p;
            while (p < end && !endsCloseScanToken(*p)) ++p;
        }
        if (static_cast<std::size_t>(end - p) <= closeSize) return nullptr;
        for (;;) {
            if (!skipWhiteSpaceAndComments(reader, &p, end)) return nullptr;
            const Byte b = *p;
            if (b != ')' && b != '[' && b != ']' && b != '{' && b != '}') break;
            ++p;
        }
        skipLeadingSpace = true;
    }
}

}  // namespace

ScanBudget::ScanBudget(DocumentReader& reader, std::uint64_t bytes)
    : reader_(reader), previous_(reader.budgetLeft), hadPrevious_(reader.budgetSet)
{
    reader.budgetLeft = bytes;
    reader.budgetSet = true;
}

ScanBudget::~ScanBudget()
{
    reader_.budgetLeft = previous_;
    reader_.budgetSet = hadPrevious_;
}

namespace {

// What is left of the budget; a stop asked for spends it, so that every
// scan from then on fails at once and the run ends wherever its reader was.
std::uint64_t budgetLeftOf(DocumentReader& reader)
{
    constexpr std::uint32_t scansBetweenStopChecks = 4096;
    if (reader.scansToStopCheck-- != 0) return reader.budgetLeft;
    reader.scansToStopCheck = scansBetweenStopChecks - 1;
    if (reader.stops.isRaised()) {
        reader.budgetSet = true;
        reader.budgetLeft = 0;
    }
    return reader.budgetLeft;
}

}  // namespace

const Byte* scanLimit(DocumentReader& reader, const Byte* from, const Byte* end)
{
    const std::uint64_t left = budgetLeftOf(reader);
    if (!reader.budgetSet || from >= end || static_cast<std::uint64_t>(end - from) <= left) return end;
    return from + left;
}

const Byte* scanLimitBackward(DocumentReader& reader, const Byte* begin, const Byte* from)
{
    const std::uint64_t left = budgetLeftOf(reader);
    if (!reader.budgetSet || begin >= from || static_cast<std::uint64_t>(from - begin) <= left) return begin;
    return from - left;
}

void chargeScan(DocumentReader& reader, std::size_t bytes)
{
    if (reader.budgetSet) reader.budgetLeft -= bytes < reader.budgetLeft ? bytes : reader.budgetLeft;
}

const Byte* skipComment(const Byte* p, const Byte* end)
{
    while (p < end && !isLineEnd(*p)) ++p;
    return p;
}

std::int64_t readDigits(const Byte** cursor, const Byte* end, std::int64_t ceiling)
{
    // The ceilings in use (31-bit values, ten-digit offsets) leave room for
    // one more digit below the 64-bit limit.
    const Byte* p = *cursor;
    std::int64_t value = 0;
    while (p < end && isDigit(*p)) {
        if (value <= ceiling) value = value * 10 + (*p - '0');
        ++p;
    }
    *cursor = p;
    return value > ceiling ? ceiling + 1 : value;
}

// Steps from the "(" at *cursor to its balancing ")", leaving the cursor on
// it. A backslash makes the next byte ordinary. False when end comes first.
bool skipStringLiteral(DocumentReader& reader, const Byte** cursor, const Byte* end)
{
    const Byte* const start = *cursor;
    const Byte* const limit = scanLimit(reader, start, end);
    const Byte* p = start + 1;
    int depth = 1;
    bool closed = false;
    while (p < limit) {
        const Byte b = *p;
        if (b == '\\') {
            if (limit - p < 2) break;
            p += 2;
            continue;
        }
        if (b == '(') ++depth;
        if (b == ')' && --depth == 0) {
            closed = true;
            break;
        }
        ++p;
    }
    chargeScan(reader, static_cast<std::size_t>((closed ? p : limit) - start));
    *cursor = closed ? p : end;
    return closed;
}

bool skipWhiteSpace(DocumentReader& reader, const Byte** cursor, const Byte* end)
{
    const Byte* p = *cursor;
    const Byte* const limit = scanLimit(reader, p, end);
    while (p < limit && isWhiteSpace(*p)) ++p;
    chargeScan(reader, static_cast<std::size_t>(p - *cursor));
    *cursor = p;
    return p < limit;
}

SkipEnd skipNotingEnd(DocumentReader& reader, const Byte** cursor, const Byte* end)
{
    const Byte* p = *cursor;
    const Byte* const limit = scanLimit(reader, p, end);
    bool inComment = false;
    while (p < limit) {
        if (isWhiteSpace(*p)) {
            inComment = false;
            ++p;
        } else if (*p == '%') {
            inComment = true;
            p = skipComment(p, limit);
        } else {
            break;
        }
    }
    chargeScan(reader, static_cast<std::size_t>(p - *cursor));
    *cursor = p;
    if (p < limit) return SkipEnd::NotAtEnd;
    return inComment ? SkipEnd::InComment : SkipEnd::InSpace;
}

namespace {

// readNumber and readOffset, which differ only in the largest value.
std::int64_t readBoundedNumber(DocumentReader& reader, const Byte** cursor, const Byte* end,
                               std::int64_t largest)
{
    reader.lastError = 0;
    if (*cursor >= end) return failWith(reader, codeNumberNoCursor);
    if (!skipWhiteSpaceAndComments(reader, cursor, end)) return failWith(reader, codeNumberOnlySpace);
    const Byte* p = *cursor;
    if (!isDigit(*p)) return failWith(reader, codeNumberNotDigit);
    const std::int64_t value = readDigits(&p, scanLimit(reader, p, end), largest);
    chargeScan(reader, static_cast<std::size_t>(p - *cursor));
    // A number needs one byte after it before the end, so a file cut inside
    // "123" cannot read as 12.
    if (p >= end) return failWith(reader, codeNumberRunsToEnd);
    if (!isWhiteSpace(*p) && !isDelimiter(*p)) return failWith(reader, codeNumberBadEnd);
    // A longer run is damage, not a number to wrap around.
    if (value > largest) return failWith(reader, codeNumberBadEnd);
    *cursor = p;
    return value;
}

}  // namespace

int readNumber(DocumentReader& reader, const Byte** cursor, const Byte* end)
{
    // No object number or count of a document we accept needs more than
    // 31 bits.
    return static_cast<int>(readBoundedNumber(reader, cursor, end, std::numeric_limits<std::int32_t>::max()));
}

std::int64_t readOffset(DocumentReader& reader, const Byte** cursor, const Byte* end)
{
    return readBoundedNumber(reader, cursor, end, largestFileOffset);
}

const Byte* findKey(DocumentReader& reader, std::string_view key, const Byte* start, const Byte* end)
{
    reader.lastError = 0;
    // A range that ends before it starts holds no key; measuring it would
    // take its negative length for a vast one.
    if (start >= end) return reader.lastError = codeFindKeyAtBoundary, nullptr;
    end = scanLimit(reader, start, end);
    const std::size_t keySize = key.size();
    const Byte* p = start;
    // True when the key no longer fits between p and end.
    auto exhausted = [&](const Byte* at) { return static_cast<std::size_t>(end - at) <= keySize; };
    auto fail = [&](std::int32_t code) -> const Byte* {
        chargeScan(reader, static_cast<std::size_t>(p - start));
        reader.lastError = code;
        return nullptr;
    };
    for (;;) {
        for (;;) {
            if (exhausted(p)) return fail(codeFindKeyAtBoundary);
            const Byte b = *p;
            if (isWhiteSpace(b) || isKeyScanFiller(b)) {
                ++p;
            } else if (b == '%') {
                p = skipComment(p, end);
                if (exhausted(p)) return fail(codeFindKeyAtBoundary);
            } else if (b == '(') {
                // The scan resumes on the closing ")", which then starts a
                // token of its own.
                if (!skipStringLiteral(reader, &p, end)) return fail(codeFindKeyAtBoundary);
                break;
            } else {
                break;
            }
        }
        if (exhausted(p)) return fail(codeFindKeyAtBoundary);
        if (matchesAt(p, end, key) && endsKeyToken(p[keySize])) {
            chargeScan(reader, static_cast<std::size_t>(p - start));
            return p;
        }
        ++p;
        for (;;) {
            if (exhausted(p)) return fail(codeFindKeyInToken);
            if (isWhiteSpace(*p) || isDelimiter(*p)) break;
            ++p;
        }
    }
}

const Byte* findMatchingClose(DocumentReader& reader, const Byte* start, const Byte* end,
                              std::string_view close, std::string_view open)
{
    if (close.empty() || start >= end) return nullptr;
    // Each pass charges what it passed; the second one, on what is left.
    for (const bool skipLeadingSpace : {true, false}) {
        const Byte* const limit = scanLimit(reader, start, end);
        const Byte* found = scanForClose(reader, start, limit, close, open, skipLeadingSpace);
        chargeScan(reader, static_cast<std::size_t>((found ? found : limit) - start));
        if (found) return found;
    }
    return nullptr;
}

int findKeywordBackward(DocumentReader& reader, const Byte* begin, const Byte** cursor,
                        std::string_view keyword, const Byte* end)
{
    const std::size_t size = keyword.size();
    for (;;) {
        reader.lastError = 0;
        if (size == 0) {
            reader.lastError = codeKeywordEmpty;
            return 0;
        }
        const Byte* limit = *cursor;
        const Byte* const reach = scanLimitBackward(reader, begin, limit);
        if (limit < begin || static_cast<std::size_t>(limit - reach) < size) {
            reader.lastError = codeKeywordNotFound;
            return 0;
        }
        const Byte* p = limit - size;
        for (;;) {
            const Byte* after = p + size;
            const bool standsAlone = (p == begin || isWhiteSpace(p[-1])) &&
                                     (after >= end || isWhiteSpace(*after) || *after == '%');
            if (standsAlone && matchesAt(p, end, keyword)) break;
            if (p == reach) {
                chargeScan(reader, static_cast<std::size_t>(limit - p));
                reader.lastError = codeKeywordNotFound;
                return 0;
            }
            --p;
        }
        // A "%" before the line start puts the hit inside a comment: search
        // again from that "%".
        const Byte* q = p;
        bool inComment = false;
        while (q > reach) {
            --q;
            if (isLineEnd(*q)) break;
            if (*q == '%') {
                inComment = true;
                break;
            }
        }
        chargeScan(reader, static_cast<std::size_t>(limit - q));
        if (!inComment) {
            *cursor = p;
            return 1;
        }
        *cursor = q;
        reader.lastError = codeKeywordInComment;
    }
}

void DocumentReader::setSortedTable(const Byte* sortedStart, const Byte* sortedEnd)
{
    tableStart = sortedStart;
    tableEnd = sortedEnd;
    tableIsSorted = sortedStart != nullptr;
}

namespace {

// The number that begins a line of the table; -1 when the line does not
// begin with a digit.
std::int64_t leadingNumber(const Byte* line, const Byte* end)
{
    if (line >= end || !isDigit(*line)) return -1;
    return readDigits(&line, end, std::numeric_limits<std::int32_t>::max());
}

const Byte* nextLine(const Byte* p, const Byte* end)
{
    const auto* lineEnd = static_cast<const Byte*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
    return lineEnd ? lineEnd + 1 : nullptr;
}

// The line for n in the declared table, found by bisection.
const Byte* bisectXrefTable(const Byte* start, const Byte* end, std::int64_t n)
{
    // lo is a line start and hi a line start or the end; the line for n, if
    // any, lies between them.
    const Byte* lo = start;
    const Byte* hi = end;
    while (lo < hi) {
        const Byte* line = lo + (hi - lo) / 2;
        while (line > lo && line[-1] != '\n') --line;
        const std::int64_t number = leadingNumber(line, end);
        if (number == n) return line;
        if (number > n) {
            hi = line;
            continue;
        }
        const Byte* next = nextLine(line, end);
        lo = next ? next : end;
    }
    return nullptr;
}

}  // namespace

const Byte* findXrefLine(const DocumentReader& reader, const Byte* tableStart, const Byte* tableEnd,
                         std::int64_t n, bool* unended)
{
    if (unended) *unended = false;
    if (reader.tableIsSorted && tableStart == reader.tableStart && tableEnd == reader.tableEnd)
        return bisectXrefTable(tableStart, tableEnd, n);
    for (const Byte* line = tableStart; line < tableEnd;) {
        if (leadingNumber(line, tableEnd) == n) return line;
        line = nextLine(line, tableEnd);
        if (!line) {
            if (unended) *unended = true;
            return nullptr;
        }
    }
    return nullptr;
}

std::int64_t lookupObjectOffset(DocumentReader& reader, const Byte* tableStart, const Byte* tableEnd, int n)
{
    bool unended = false;
    const Byte* p = findXrefLine(reader, tableStart, tableEnd, n, &unended);
    if (!p) return reader.lastError = unended ? codeLineWithoutEnd : codeNotInTable;
    readNumber(reader, &p, tableEnd);
    const std::int64_t offset = readOffset(reader, &p, tableEnd);
    if (offset < 0) return reader.lastError = codeNoOffsetField;
    if (readNumber(reader, &p, tableEnd) < 0) return reader.lastError = codeNoGenerationField;
    return offset;
}

const Byte* openObject(DocumentReader& reader, const Byte* docStart, const Byte* docEnd, std::int64_t offset,
                       int n)
{
    if (offset < 0 || offset > docEnd - docStart) {
        reader.lastError = codeOffsetOutside;
        return nullptr;
    }
    const Byte* p = docStart + offset;
    const int number = readNumber(reader, &p, docEnd);
    if (number < 0 || number != n) {
        reader.lastError = codeWrongObjectNumber;
        return nullptr;
    }
    if (readNumber(reader, &p, docEnd) < 0) {
        reader.lastError = codeNoGeneration;
        return nullptr;
    }
    if (!skipWhiteSpace(reader, &p, docEnd)) {
        reader.lastError = codeEndBeforeObj;
        return nullptr;
    }
    if (!matchesAt(p, docEnd, "obj")) {
        reader.lastError = codeNoObjKeyword;
        return nullptr;
    }
    p += 3;
    if (!skipWhiteSpaceAndComments(reader, &p, docEnd)) {
        reader.lastError = codeEndAfterObj;
        return nullptr;
    }
    reader.lastError = 0;
    return p;
}

int growBlock(Byte** blockStart, Byte** capacityEnd, std::size_t extra)
{
    const std::size_t capacity = static_cast<std::size_t>(*capacityEnd - *blockStart);
    if (extra > std::numeric_limits<std::size_t>::max() - capacity) return 0;
    Byte* grown = allocBlock(capacity + extra);
    if (!grown) return 0;
    if (capacity != 0) std::memcpy(grown, *blockStart, capacity);
    freeBlock(*blockStart);
    *blockStart = grown;
    *capacityEnd = grown + capacity + extra;
    return 1;
}

}  // namespace ravoth
