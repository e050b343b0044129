// Scanning primitives: every reader works on the DocumentBuffer in place with
// a byte range (start, exclusive end). The buffer carries no terminator, and
// NUL is PDF white space, so the end pointer is the only guard.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/file.h"

namespace ravoth {

using Byte = unsigned char;

// What the reader keeps while it reads one document: the document itself,
// its cross-reference table once read, the reason it last gave up, how much
// it may still scan, and the run's options. A run owns one; every reader
// function takes it, so that two runs never share any of it, whichever
// threads they are on.
struct DocumentReader {
    // The DocumentBuffer: no terminator, the end pointer is the only guard.
    const Byte* start = nullptr;
    const Byte* end = nullptr;
    // The XrefTable once readTrailer has made it. When tableIsSorted, the
    // range is exactly readTrailer's table (ascending object numbers, one
    // line each) and lookups over it bisect instead of scanning.
    const Byte* tableStart = nullptr;
    const Byte* tableEnd = nullptr;
    bool tableIsSorted = false;
    // The reason the last reader function gave up (LastError); 0 when none
    // did. Readers set it at the failure site; most primitives clear it on
    // entry.
    std::int32_t lastError = 0;
    // The Info dictionary's object number that the newest trailer names;
    // 1 or more once found.
    std::int32_t infoObjectNumber = 0;
    // Read the bookmarks too (collectPages runs its outline phase).
    bool outlineOption = false;
    // Set by readTrailer when a trailer names /Encrypt.
    bool isEncrypted = false;
    // Once one of these turns true the budget counts as spent, so that a
    // stop reaches the reader wherever it scans.
    StopFlags stops;
    // How much the scanning primitives may still pass over; see ScanBudget.
    std::uint64_t budgetLeft = 0;
    bool budgetSet = false;
    // Scans left before the stop flags are looked at again: most scans pass
    // a token or two, and the flags are shared with other threads.
    std::uint32_t scansToStopCheck = 0;

    DocumentReader() = default;
    DocumentReader(const Byte* documentStart, const Byte* documentEnd)
        : start(documentStart), end(documentEnd)
    {
    }
    DocumentReader(const DocumentReader&) = delete;
    DocumentReader& operator=(const DocumentReader&) = delete;

    // Declares [start, end) the reader's own sorted table (see tableIsSorted);
    // (null, null) withdraws it before the table goes.
    void setSortedTable(const Byte* start, const Byte* end);
};

// Sets the reader's LastError and returns -1, the usual failure result of a
// reader.
inline int failWith(DocumentReader& reader, std::int32_t code)
{
    reader.lastError = code;
    return -1;
}

// NUL, TAB, LF, FF, CR and SPACE.
constexpr bool isWhiteSpace(Byte b)
{
    return b == 0x00 || b == 0x09 || b == 0x0A || b == 0x0C || b == 0x0D || b == 0x20;
}

// ( ) < > [ ] { } % /
constexpr bool isDelimiter(Byte b)
{
    return b == '(' || b == ')' || b == '<' || b == '>' || b == '[' || b == ']' || b == '{' ||
           b == '}' || b == '%' || b == '/';
}

constexpr bool isDigit(Byte b) { return b >= '0' && b <= '9'; }

// Whether the bytes at p spell `text`, with all of them before end.
inline bool matchesAt(const Byte* p, const Byte* end, std::string_view text)
{
    if (static_cast<std::size_t>(end - p) < text.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (p[i] != static_cast<Byte>(text[i])) return false;
    return true;
}

// How much of the document the scanning primitives may still pass over.
// Each primitive scans at most what is left, charges what it passed, and
// finds the document ended where the budget ends, so that once it is spent
// every scan fails at once. A run grants a fixed multiple of its document's
// size: then no document, however its objects point at one another, makes
// the reader's time grow faster than the document. Without a budget scans
// are unbounded. Budgets nest; the destructor brings back the one before.
class ScanBudget {
public:
    ScanBudget(DocumentReader& reader, std::uint64_t bytes);
    ~ScanBudget();
    ScanBudget(const ScanBudget&) = delete;
    ScanBudget& operator=(const ScanBudget&) = delete;

private:
    DocumentReader& reader_;
    std::uint64_t previous_;
    bool hadPrevious_;
};

// The budget a run grants for a document of `documentBytes`.
constexpr std::uint64_t scanBudgetFor(std::uint64_t documentBytes)
{
    return documentBytes * 64 + (std::uint64_t{16} << 20);
}

// The end of a scan forward from `from` that the budget allows (at most end).
const Byte* scanLimit(DocumentReader& reader, const Byte* from, const Byte* end);
// The start of a scan backward to `from` that the budget allows.
const Byte* scanLimitBackward(DocumentReader& reader, const Byte* begin, const Byte* from);
// Charges `bytes` passed over to the budget.
void chargeScan(DocumentReader& reader, std::size_t bytes);

// The "%" at p begins a comment, which runs up to the next CR or LF: the
// position of that line end, or end when the comment runs to it.
const Byte* skipComment(const Byte* p, const Byte* end);

// How a skip over white space and comments ended.
enum class SkipEnd { NotAtEnd, InSpace, InComment };

// Steps over white space and "%" comments (a comment runs to the next CR or
// LF, which is then skipped as white space) and tells whether, and inside
// what, the document ended; the cursor then stands at end.
SkipEnd skipNotingEnd(DocumentReader& reader, const Byte** cursor, const Byte* end);

// As skipNotingEnd; false when end is reached.
inline bool skipWhiteSpaceAndComments(DocumentReader& reader, const Byte** cursor, const Byte* end)
{
    return skipNotingEnd(reader, cursor, end) == SkipEnd::NotAtEnd;
}

// Accumulates the decimal digits at *cursor, stopping before the first
// other byte or end; the cursor moves past them. A value above `ceiling`
// reads as ceiling + 1, however many digits follow, so that callers tell
// "too large" apart without an overflow. No digits read as 0. Every number
// the reader takes from the document or from its own lists goes through
// here; only the rules around the digits differ.
std::int64_t readDigits(const Byte** cursor, const Byte* end, std::int64_t ceiling);

// Steps from the "(" at *cursor to its balancing ")", leaving the cursor on
// it; nested parentheses count and a backslash makes the next byte
// ordinary. False, with the cursor at end, when end comes first.
bool skipStringLiteral(DocumentReader& reader, const Byte** cursor, const Byte* end);

// Steps over white space only (comments are data here).
bool skipWhiteSpace(DocumentReader& reader, const Byte** cursor, const Byte* end);

// Reads one unsigned decimal integer at *cursor, after white space and
// comments. The digits must be followed, before end, by white space or a
// delimiter. Clears LastError on entry.
// Success: the value (0 or more), cursor just past the digits.
// Failure: -1 with LastError -9 (cursor at or past end), -10 (only white
// space or comments up to end), -11 (not a digit; cursor on that byte),
// -12 (digits run up to end), -13 (a non-delimiter after the digits, or a
// value beyond 2147483647; cursor on the first digit).
int readNumber(DocumentReader& reader, const Byte** cursor, const Byte* end);

// The largest byte offset a classic cross-reference table can hold: ten
// digits.
constexpr std::int64_t largestFileOffset = 9'999'999'999;

// As readNumber for a byte offset of the document (startxref, /Prev, the
// offset field of a table line), which may pass 2^31 and 2^32: the same
// rules and codes, with values up to largestFileOffset.
std::int64_t readOffset(DocumentReader& reader, const Byte** cursor, const Byte* end);

// Finds the next token equal to `key` (such as "/Root") in [start, end),
// stepping over string literals and comments; not aware of nesting. The key
// must be followed by white space or a delimiter other than ")".
// Clears LastError. Null when not found, with LastError -2 (range ended at a
// token boundary, in a comment or in a literal) or -3 (within a token).
const Byte* findKey(DocumentReader& reader, std::string_view key, const Byte* start, const Byte* end);

// Finds the `close` token that balances an `open` token already passed,
// searching from start (just past the opener) to end; string literals and
// comments are stepped over. Null when none; never touches LastError.
const Byte* findMatchingClose(DocumentReader& reader, const Byte* start, const Byte* end,
                              std::string_view close, std::string_view open);

// Finds the last occurrence of `keyword` before *cursor that stands alone
// (white space or begin before it, white space or "%" after it) and is not
// inside a comment. The byte after the keyword may be the one at *cursor; at
// or past `end` (the buffer's end) it counts as white space. Clears
// LastError. Returns 1 with the cursor on the keyword's first byte, or 0
// with LastError -13 (empty keyword) or -14 (not found); the cursor may then
// have moved back to the start of a comment that held a hit.
int findKeywordBackward(DocumentReader& reader, const Byte* begin, const Byte** cursor,
                        std::string_view keyword, const Byte* end);

// Looks object n up in the XrefTable text by a scan from its first line.
// Returns the offset field of the first line for n (0 or more), or the
// negative code also left in LastError: -92 n is not in the table, -93 the
// offset or -94 the generation of its line cannot be read, -95 a line
// before it is not ended by LF.
std::int64_t lookupObjectOffset(DocumentReader& reader, const Byte* tableStart, const Byte* tableEnd, int n);

// The first line of the XrefTable text [start, end) that begins with the
// digits of n: bisected when the range is the reader's sorted table, else scanned
// line by line. Null when there is none; *unended (when given) then tells
// whether the scan stopped at a line, before any for n, that has no LF.
// The one lookup of table lines: callers read the fields after the number
// each by their own rule.
const Byte* findXrefLine(const DocumentReader& reader, const Byte* tableStart, const Byte* tableEnd,
                         std::int64_t n, bool* unended = nullptr);

// Steps into object n at a byte offset of the document: checks "n g obj" and
// returns the first byte of the object's body (after white space and
// comments), or null with LastError -96 (offset negative or beyond the
// document), -97 (no number n there), -98 (no generation), -99 (end after the
// generation), -100 ("obj" missing), -101 (end after "obj"). Success leaves
// LastError 0.
const Byte* openObject(DocumentReader& reader, const Byte* docStart, const Byte* docEnd, std::int64_t offset,
                       int n);

// Enlarges a block that is being filled: allocates (capacity + extra) bytes,
// copies the old capacity over and frees the old block. Returns 1, or 0 with
// the old block and both pointers untouched when memory is exhausted (or the
// new size cannot be represented). Pointers into the old block are invalid
// after success: callers keep offsets across the call.
int growBlock(Byte** blockStart, Byte** capacityEnd, std::size_t extra);

// Growable text blocks start at this size and grow by it.
constexpr std::size_t textBlockBytes = 16384;
// Room kept free ahead of every line written into a growable text block.
constexpr std::size_t lineHeadroomBytes = 260;

}  // namespace ravoth
