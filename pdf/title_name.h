// Bookmark titles decoded into text for output file names.
#pragma once

#include <climits>
#include <optional>
#include <string>
#include <string_view>

#include "pdf/primitives.h"

namespace ravoth {

// Decodes one outline title, the string token exactly as written after
// "/Title" (delimiters included: "(" ... ")" or "<" ... ">"), into
// NUL-terminated path text (platform/text.h) in `output`, which holds
// `capacity` bytes. A title whose decoded bytes begin with the byte-order
// mark FE FF is UTF-16BE and is converted with wideCharToMultiByte; any other
// title's decoded bytes are text in the system's byte encoding, made into
// path text with localTextToPathText (on Linux they stand as they are).
// Returns the length of the text before its NUL (0 or more), or:
//   -1  empty title (length 0 or less; nothing is read), a first byte other
//       than "(" or "<", or the conversion failed (also when the converted
//       text does not fit)
//   -2  a literal string whose last byte is not ")"
//   -3  the decoded bytes, or for a title that is not UTF-16 the decoded
//       bytes and their NUL, do not fit in `capacity`
//   -4  a hex string whose last byte is not ">"
//   -5  a byte in a hex string that is neither a hex digit nor white space
//   -7  no memory for the UTF-16 work block
// Writes nothing outside `output`; on failure its content is unspecified.
// Allocates one work block for UTF-16 titles and frees it before returning,
// besides the conversion's own. Never touches LastError.
int titleToFileName(const Byte* titleText, int titleLength, char* output, int capacity);

// The longest title titleToText decodes.
constexpr int maxTextTitleBytes = 1 << 20;

// The title as text for a person or a program to read rather than as a
// file name: UTF-16 titles as UTF-8, others as titleToFileName gives them
// (UTF-8 on Windows, the locale's bytes on Linux). None for a title that
// does not decode.
std::optional<std::string> titleToText(const Byte* titleText, int titleLength);

// As titleToFileName and titleToText for a title's bytes already decoded
// from their token (as the PDF library gives a string).
int titleBytesToFileName(const Byte* bytes, int length, char* output, int capacity);
std::optional<std::string> titleBytesToText(std::string_view bytes);

// The capacity to give titleToFileName for a title of `titleLength` bytes so
// that no title fails for want of room.
//
// Decoding: every byte between the delimiters yields at most one byte, so R,
// the decoded length, is at most L - 2 (hex strings give only about half);
// the plain text needs R + 1 bytes with its NUL, at most L - 1.
//
// Conversion: a UTF-16 title has U = R / 2 - 1 units after its mark, at most
// L / 2 - 2. The converter only ever composes (never expands), so the text
// it converts has at most U units. No system encoding spends more than 4
// bytes on one unit: UTF-8 takes 3 for a unit of the Basic Multilingual
// Plane and 4 for a surrogate pair (2 units); GB18030 and EUC-TW take up to
// 4 for one unit; double-byte code pages take 2; "?" takes 1. So the
// converted text needs at most 4U + 1 bytes, at most 2L - 7.
//
// Other titles on Windows: the R bytes in the ANSI code page become UTF-8,
// at most three bytes for each (a half-width katakana of code page 932, or
// the euro sign of 1252), so 3R + 1 bytes with the NUL, at most 3L - 5.
//
// 3L + 2 covers all three. A length so large that this overflows gets
// INT_MAX: such a title fails to fit (and the page falls back to its
// numbered name) rather than overrun anything. A negative length counts
// as 0.
constexpr int titleBufferBytes(int titleLength)
{
    if (titleLength < 0) titleLength = 0;
    if (titleLength > (INT_MAX - 2) / 3) return INT_MAX;
    return 3 * titleLength + 2;
}

}  // namespace ravoth
