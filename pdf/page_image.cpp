#include "pdf/page_image.h"

#include <cstdint>
#include <cstring>
#include <limits>
#include <string_view>

#include "platform/memory.h"

namespace ravoth {
namespace {

// The fixed pieces of Mesker's page object and image XObject. Between them
// stand runs of non-space bytes (numbers), which a skip passes without a look.
constexpr std::string_view pageHeaderPiece = " 0 obj\n<<\n/Type /Page\n/Parent ";
constexpr std::string_view resourcesPiece = " 0 R\n/Resources << /XObject << /Im0 ";
constexpr std::string_view mediaBoxPiece =
    " 0 R >>\n/ProcSet [ /PDF /ImageC ] >>\n/MediaBox [ 0 0 ";
constexpr std::string_view contentsPiece = " ]\n/Contents ";
constexpr std::string_view pageClosePiece = " 0 R\n>>\nendobj\n";
constexpr std::string_view imageHeaderPiece =
    " 0 obj\n<< /Type /XObject /Subtype /Image /Name /Im0 /Width ";
constexpr std::string_view heightPiece = " /Height ";
constexpr std::string_view bitsPiece = "\n/BitsPerComponent ";
constexpr std::string_view flatePiece = " /Filter /FlateDecode /ColorSpace /Device";
constexpr std::string_view dctPiece = " /Filter /DCTDecode /ColorSpace /Device";
constexpr std::string_view lengthPiece = "\n/Length ";
constexpr std::string_view streamPiece = " >>\nstream";

// Room needed after a number before the end: the piece that follows it, or
// for the bits per component the longest filter text plus "Gray".
constexpr std::size_t bitsRoomBytes = 45;
static_assert(flatePiece.size() + 4 == bitsRoomBytes);
// After the length: the stream piece and its two end-of-line bytes.
constexpr std::size_t lengthRoomBytes = 12;
static_assert(streamPiece.size() + 2 == lengthRoomBytes);

// Between the fixed pieces stand numbers, which in the files we accept are
// a few digits long. A skip past a number goes no further than this, and
// the rest of the height's line (where other entries may stand) no further
// than the line limit: every page then costs a bounded look, however many
// pages point into the same long stretch of the document.
constexpr std::size_t numberRunLimitBytes = 256;
constexpr std::size_t heightLineLimitBytes = 1024;

// The white space that the C library's decimal conversion skips.
constexpr bool isConversionSpace(Byte b)
{
    return b == ' ' || b == '\t' || b == '\n' || b == '\v' || b == '\f' || b == '\r';
}

// The end of a look of at most `limit` bytes from p.
const Byte* lookEnd(const Byte* p, const Byte* end, std::size_t limit)
{
    return static_cast<std::size_t>(end - p) > limit ? p + limit : end;
}

// Where offsets and lengths saturate: past any file, and low enough that
// one more digit cannot overflow.
constexpr std::int64_t largestOffset = 900'000'000'000'000'000;

// Decimal conversion in the manner of the C library's (leading white space,
// one optional sign, digits up to the first non-digit; no digits read as 0),
// bounded by end and saturating at `largest` (and its negative) instead of
// overflowing. Leaves no cursor behind: the skip that follows passes over
// the text.
std::int64_t readDecimal(const Byte* p, const Byte* end, std::int64_t largest, bool* hasDigits = nullptr)
{
    end = lookEnd(p, end, numberRunLimitBytes);
    while (p < end && isConversionSpace(*p)) ++p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    const Byte* digits = p;
    // A magnitude past the largest saturates either way.
    std::int64_t magnitude = readDigits(&p, end, largest);
    if (hasDigits) *hasDigits = p != digits;
    if (magnitude > largest) magnitude = negative ? largest + 1 : largest;
    return negative ? -magnitude : magnitude;
}

// A count or an object number, in the 32-bit range.
std::int32_t readCount(const Byte* p, const Byte* end)
{
    return static_cast<std::int32_t>(readDecimal(p, end, std::numeric_limits<std::int32_t>::max()));
}

// Advances to the next `target` byte, but no further than where `room` bytes
// still follow the cursor before end, nor past `limit` bytes. True when the
// target byte was reached with that room behind it.
bool skipTo(const Byte** cursor, const Byte* end, Byte target, std::size_t room,
            std::size_t limit = numberRunLimitBytes)
{
    const Byte* p = *cursor;
    const Byte* const look = lookEnd(p, end, limit);
    while (p < look && static_cast<std::size_t>(end - p) > room && *p != target) ++p;
    *cursor = p;
    return p < look && static_cast<std::size_t>(end - p) > room && *p == target;
}

// Matches `piece` at the cursor and moves past it.
bool takePiece(const Byte** cursor, const Byte* end, std::string_view piece)
{
    if (!matchesAt(*cursor, end, piece)) return false;
    *cursor += piece.size();
    return true;
}

// A media box size as Mesker writes it: digits with at most one decimal
// point. Anything else gives 0, a size not known.
double readPoints(const Byte* start, const Byte* end)
{
    double value = 0;
    double scale = 0;
    bool hasDigits = false;
    for (const Byte* p = start; p < end; ++p) {
        if (*p == '.' && scale == 0) {
            scale = 1;
        } else if (*p >= '0' && *p <= '9') {
            hasDigits = true;
            if (scale != 0) scale /= 10;
            value = scale != 0 ? value + (*p - '0') * scale : value * 10 + (*p - '0');
        } else {
            return 0;
        }
    }
    return hasDigits && value < 1e9 ? value : 0;
}

enum class Lookup { Found, NotListed, NoOffset };

// Reads the offset in the XrefTable line of `objectNumber`: the number
// after the line's first space, read within the line, so that a short line
// cannot borrow digits from the next one.
Lookup findObjectOffset(const DocumentReader& reader, std::int32_t objectNumber, std::int64_t* offset)
{
    const Byte* const tableEnd = reader.tableEnd;
    const Byte* line = findXrefLine(reader, reader.tableStart, tableEnd, objectNumber);
    if (!line) return Lookup::NotListed;
    const auto* lineEnd =
        static_cast<const Byte*>(std::memchr(line, '\n', static_cast<std::size_t>(tableEnd - line)));
    if (!lineEnd) lineEnd = tableEnd;
    const auto* space = static_cast<const Byte*>(std::memchr(line, ' ', static_cast<std::size_t>(lineEnd - line)));
    if (!space) return Lookup::NoOffset;
    bool hasDigits = false;
    *offset = readDecimal(space + 1, lineEnd, largestOffset, &hasDigits);
    return hasDigits ? Lookup::Found : Lookup::NoOffset;
}

// Whether an offset read from the table names a byte of the document.
bool isInside(std::int64_t offset, const Byte* docStart, const Byte* docEnd)
{
    return offset >= 0 && offset < docEnd - docStart;
}

}  // namespace

namespace {

// The page object `pageNumber`, matched piece by piece: 0 with its image's
// object number and its media box, or the locator's code (-2 to -14).
int readPageObject(const DocumentReader& reader, std::int32_t pageNumber, std::int32_t* imageNumber,
                   ImageInfo* info)
{
    const Byte* const docStart = reader.start;
    const Byte* const docEnd = reader.end;
    std::int64_t offset = 0;
    if (findObjectOffset(reader, pageNumber, &offset) != Lookup::Found) return -2;
    if (!isInside(offset, docStart, docEnd)) return -3;
    const Byte* p = docStart + offset;
    if (!skipTo(&p, docEnd, ' ', pageHeaderPiece.size())) return -3;
    if (!takePiece(&p, docEnd, pageHeaderPiece)) return -4;
    if (!skipTo(&p, docEnd, ' ', resourcesPiece.size())) return -5;
    if (!takePiece(&p, docEnd, resourcesPiece)) return -6;
    *imageNumber = readCount(p, docEnd);
    if (!skipTo(&p, docEnd, ' ', mediaBoxPiece.size())) return -7;
    if (!takePiece(&p, docEnd, mediaBoxPiece)) return -8;
    const Byte* const widthStart = p;
    if (!skipTo(&p, docEnd, ' ', 1)) return -9;
    info->mediaWidth = readPoints(widthStart, p);
    ++p;  // the space between the media box width and height
    const Byte* const heightStart = p;
    if (!skipTo(&p, docEnd, ' ', contentsPiece.size())) return -10;
    info->mediaHeight = readPoints(heightStart, p);
    if (!takePiece(&p, docEnd, contentsPiece)) return -11;
    // The content stream is always written right after its image.
    if (std::int64_t{readCount(p, docEnd)} != std::int64_t{*imageNumber} + 1) return -12;
    if (!skipTo(&p, docEnd, ' ', pageClosePiece.size())) return -13;
    if (!matchesAt(p, docEnd, pageClosePiece)) return -14;
    return 0;
}

// The image XObject `imageNumber` and its stream: 0, or the locator's code
// (-15 to -29).
int readImageObject(const DocumentReader& reader, std::int32_t imageNumber, ImageInfo* info)
{
    const Byte* const docStart = reader.start;
    const Byte* const docEnd = reader.end;
    std::int64_t offset = 0;
    if (findObjectOffset(reader, imageNumber, &offset) != Lookup::Found) return -15;
    if (!isInside(offset, docStart, docEnd)) return -16;
    const Byte* p = docStart + offset;
    if (!skipTo(&p, docEnd, ' ', imageHeaderPiece.size())) return -16;
    if (!takePiece(&p, docEnd, imageHeaderPiece)) return -17;
    info->width = readCount(p, docEnd);
    if (!skipTo(&p, docEnd, ' ', heightPiece.size())) return -18;
    if (!takePiece(&p, docEnd, heightPiece)) return -19;
    info->height = readCount(p, docEnd);
    // Other entries may stand between the height and the end of its line.
    if (!skipTo(&p, docEnd, '\n', bitsPiece.size(), heightLineLimitBytes)) return -20;
    if (!takePiece(&p, docEnd, bitsPiece)) return -21;
    info->bitsPerComponent = readCount(p, docEnd);
    if (!skipTo(&p, docEnd, ' ', bitsRoomBytes)) return -22;
    if (takePiece(&p, docEnd, flatePiece)) {
        info->filter = Filter::Flate;
    } else if (takePiece(&p, docEnd, dctPiece)) {
        info->filter = Filter::DCT;
    } else {
        return -23;
    }
    if (takePiece(&p, docEnd, "Gray")) {
        info->isGray = true;
    } else if (takePiece(&p, docEnd, "RGB")) {
        info->isGray = false;
    } else {
        return -24;
    }
    if (!takePiece(&p, docEnd, lengthPiece)) return -25;
    info->streamLength = readDecimal(p, docEnd, largestOffset);
    if (!skipTo(&p, docEnd, ' ', lengthRoomBytes)) return -26;
    if (!matchesAt(p, docEnd, streamPiece)) return -27;
    // The keyword's end-of-line is CR LF or a lone LF; the room checked
    // above keeps both bytes after the keyword inside the document.
    const Byte* data = p + streamPiece.size() + (p[streamPiece.size()] == '\n' ? 1 : 2);
    // At least one byte must follow the data.
    if (std::int64_t{info->streamLength} >= docEnd - data) return -28;
    if (info->streamLength < 0) return -29;
    info->streamStart = data;
    return 0;
}

}  // namespace

int locatePageImage(const DocumentReader& reader, int pageIndex, const Byte* pageListStart,
                    const Byte* pageListEnd, ImageInfo* info)
{
    // The page's line in the PageList.
    if (pageIndex < 0) return -1;
    const Byte* line = pageListStart;
    for (int count = 0; count < pageIndex; ++count) {
        // A line is passed only when a byte follows its line feed.
        while (pageListEnd - line > 1 && *line != '\n') ++line;
        if (pageListEnd - line <= 1) return -1;
        ++line;
    }
    const std::int32_t pageNumber = readCount(line, pageListEnd);
    if (pageNumber == 0) return -1;
    std::int32_t imageNumber = 0;
    if (const int page = readPageObject(reader, pageNumber, &imageNumber, info); page != 0) return page;
    return readImageObject(reader, imageNumber, info);
}

}  // namespace ravoth
