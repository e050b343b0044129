#include "pdf/primitives.h"

#include <cstdint>
#include <cstring>
#include <limits>

#include "platform/memory.h"

namespace ravoth {

std::int32_t LastError = 0;

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
const Byte* scanForClose(const Byte* start, const Byte* end, std::string_view close,
                         std::string_view open, bool skipLeadingSpace)
{
    const std::size_t closeSize = close.size();
    const std::size_t openSize = open.size();
    const Byte* p = start;
    int depth = 0;
    for (;;) {
        if (skipLeadingSpace && !skipWhiteSpaceAndComments(&p, end)) return nullptr;
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
            if (!skipStringLiteral(&p, end)) return nullptr;
        } else {
            ++p;
            while (p < end && !endsCloseScanToken(*p)) ++p;
        }
        if (static_cast<std::size_t>(end - p) <= closeSize) return nullptr;
        for (;;) {
            if (!skipWhiteSpaceAndComments(&p, end)) return nullptr;
            const Byte b = *p;
            if (b != ')' && b != '[' && b != ']' && b != '{' && b != '}') break;
            ++p;
        }
        skipLeadingSpace = true;
    }
}

}  // namespace

// Steps from the "(" at *cursor to its balancing ")", leaving the cursor on
// it. A backslash makes the next byte ordinary. False when end comes first.
bool skipStringLiteral(const Byte** cursor, const Byte* end)
{
    const Byte* p = *cursor + 1;
    int depth = 1;
    while (p < end) {
        const Byte b = *p;
        if (b == '\\') {
            if (end - p < 2) break;
            p += 2;
            continue;
        }
        if (b == '(') ++depth;
        if (b == ')' && --depth == 0) {
            *cursor = p;
            return true;
        }
        ++p;
    }
    *cursor = end;
    return false;
}

bool skipWhiteSpace(const Byte** cursor, const Byte* end)
{
    const Byte* p = *cursor;
    while (p < end && isWhiteSpace(*p)) ++p;
    *cursor = p;
    return p < end;
}

bool skipWhiteSpaceAndComments(const Byte** cursor, const Byte* end)
{
    const Byte* p = *cursor;
    while (p < end) {
        if (isWhiteSpace(*p)) {
            ++p;
        } else if (*p == '%') {
            while (p < end && !isLineEnd(*p)) ++p;
        } else {
            break;
        }
    }
    *cursor = p;
    return p < end;
}

int readNumber(const Byte** cursor, const Byte* end)
{
    LastError = 0;
    if (*cursor >= end) return failWith(codeNumberNoCursor);
    if (!skipWhiteSpaceAndComments(cursor, end)) return failWith(codeNumberOnlySpace);
    const Byte* p = *cursor;
    if (!isDigit(*p)) return failWith(codeNumberNotDigit);
    std::int64_t value = 0;
    bool tooLarge = false;
    while (p < end && isDigit(*p)) {
        if (!tooLarge) {
            value = value * 10 + (*p - '0');
            tooLarge = value > std::numeric_limits<std::int32_t>::max();
        }
        ++p;
    }
    // A number needs one byte after it before the end, so a file cut inside
    // "123" cannot read as 12.
    if (p >= end) return failWith(codeNumberRunsToEnd);
    if (!isWhiteSpace(*p) && !isDelimiter(*p)) return failWith(codeNumberBadEnd);
    // No object, offset or count of a document we accept needs more than 31
    // bits; a longer run is damage, not a number to wrap around.
    if (tooLarge) return failWith(codeNumberBadEnd);
    *cursor = p;
    return static_cast<int>(value);
}

const Byte* findKey(std::string_view key, const Byte* start, const Byte* end)
{
    LastError = 0;
    const std::size_t keySize = key.size();
    // True when the key no longer fits between p and end.
    auto exhausted = [&](const Byte* p) { return static_cast<std::size_t>(end - p) <= keySize; };
    const Byte* p = start;
    for (;;) {
        for (;;) {
            if (exhausted(p)) {
                LastError = codeFindKeyAtBoundary;
                return nullptr;
            }
            const Byte b = *p;
            if (isWhiteSpace(b) || isKeyScanFiller(b)) {
                ++p;
            } else if (b == '%') {
                while (!isLineEnd(*p)) {
                    ++p;
                    if (exhausted(p)) {
                        LastError = codeFindKeyAtBoundary;
                        return nullptr;
                    }
                }
            } else if (b == '(') {
                // The scan resumes on the closing ")", which then starts a
                // token of its own.
                if (!skipStringLiteral(&p, end)) {
                    LastError = codeFindKeyAtBoundary;
                    return nullptr;
                }
                break;
            } else {
                break;
            }
        }
        if (exhausted(p)) {
            LastError = codeFindKeyAtBoundary;
            return nullptr;
        }
        if (matchesAt(p, end, key) && endsKeyToken(p[keySize])) return p;
        ++p;
        for (;;) {
            if (exhausted(p)) {
                LastError = codeFindKeyInToken;
                return nullptr;
            }
            if (isWhiteSpace(*p) || isDelimiter(*p)) break;
            ++p;
        }
    }
}

const Byte* findMatchingClose(const Byte* start, const Byte* end, std::string_view close,
                              std::string_view open)
{
    if (close.empty() || start >= end) return nullptr;
    if (const Byte* found = scanForClose(start, end, close, open, true)) return found;
    return scanForClose(start, end, close, open, false);
}

int findKeywordBackward(const Byte* begin, const Byte** cursor, std::string_view keyword,
                        const Byte* end)
{
    const std::size_t size = keyword.size();
    for (;;) {
        LastError = 0;
        if (size == 0) {
            LastError = codeKeywordEmpty;
            return 0;
        }
        const Byte* limit = *cursor;
        if (limit < begin || static_cast<std::size_t>(limit - begin) < size) {
            LastError = codeKeywordNotFound;
            return 0;
        }
        const Byte* p = limit - size;
        for (;;) {
            const Byte* after = p + size;
            const bool standsAlone = (p == begin || isWhiteSpace(p[-1])) &&
                                     (after >= end || isWhiteSpace(*after) || *after == '%');
            if (standsAlone && matchesAt(p, end, keyword)) break;
            if (p == begin) {
                LastError = codeKeywordNotFound;
                return 0;
            }
            --p;
        }
        // A "%" before the line start puts the hit inside a comment: search
        // again from that "%".
        const Byte* q = p;
        bool inComment = false;
        while (q > begin) {
            --q;
            if (isLineEnd(*q)) break;
            if (*q == '%') {
                inComment = true;
                break;
            }
        }
        if (!inComment) {
            *cursor = p;
            return 1;
        }
        *cursor = q;
        LastError = codeKeywordInComment;
    }
}

namespace {
const Byte* sortedTableStart = nullptr;
const Byte* sortedTableEnd = nullptr;
}  // namespace

void declareSortedXrefTable(const Byte* start, const Byte* end)
{
    sortedTableStart = start;
    sortedTableEnd = end;
}

bool isDeclaredSortedXrefTable(const Byte* start, const Byte* end)
{
    return start != nullptr && start == sortedTableStart && end == sortedTableEnd;
}

const Byte* findDeclaredXrefLine(const Byte* start, const Byte* end, int n)
{
    if (!isDeclaredSortedXrefTable(start, end)) return nullptr;
    // lo is a line start and hi a line start or the end; the line for n, if
    // any, lies between them.
    const Byte* lo = start;
    const Byte* hi = end;
    while (lo < hi) {
        const Byte* line = lo + (hi - lo) / 2;
        while (line > lo && line[-1] != '\n') --line;
        std::int64_t number = 0;
        const Byte* p = line;
        while (p < end && isDigit(*p)) number = number * 10 + (*p++ - '0');
        if (number == n) return line;
        if (number > n) {
            hi = line;
            continue;
        }
        const auto* lineEnd = static_cast<const Byte*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
        lo = lineEnd ? lineEnd + 1 : end;
    }
    return nullptr;
}

int lookupObjectOffset(const Byte* tableStart, const Byte* tableEnd, int n)
{
    const Byte* p = tableStart;
    if (isDeclaredSortedXrefTable(tableStart, tableEnd)) {
        p = findDeclaredXrefLine(tableStart, tableEnd, n);
        if (!p) return LastError = codeNotInTable;
    }
    for (;;) {
        const int number = readNumber(&p, tableEnd);
        if (number < 0) return LastError = codeNotInTable;
        if (number == n) {
            const int offset = readNumber(&p, tableEnd);
            if (offset < 0) return LastError = codeNoOffsetField;
            if (readNumber(&p, tableEnd) < 0) return LastError = codeNoGenerationField;
            return offset;
        }
        while (p < tableEnd && *p != '\n') ++p;
        if (p >= tableEnd) return LastError = codeLineWithoutEnd;
        ++p;
    }
}

const Byte* openObject(const Byte* docStart, const Byte* docEnd, std::int64_t offset, int n)
{
    if (offset < 0 || offset > docEnd - docStart) {
        LastError = codeOffsetOutside;
        return nullptr;
    }
    const Byte* p = docStart + offset;
    const int number = readNumber(&p, docEnd);
    if (number < 0 || number != n) {
        LastError = codeWrongObjectNumber;
        return nullptr;
    }
    if (readNumber(&p, docEnd) < 0) {
        LastError = codeNoGeneration;
        return nullptr;
    }
    if (!skipWhiteSpace(&p, docEnd)) {
        LastError = codeEndBeforeObj;
        return nullptr;
    }
    if (!matchesAt(p, docEnd, "obj")) {
        LastError = codeNoObjKeyword;
        return nullptr;
    }
    p += 3;
    if (!skipWhiteSpaceAndComments(&p, docEnd)) {
        LastError = codeEndAfterObj;
        return nullptr;
    }
    LastError = 0;
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
