// Text conversion into path text, the byte strings in which the program
// forms paths (platform/path.h): the locale's codeset on Linux, UTF-8 on
// Windows, where the file layer hands paths to the system as UTF-16.
#pragma once

#ifdef _WIN32
#include <string>
#include <string_view>
#endif

namespace ravoth {

// Converts the NUL-terminated UTF-16 text `units` into path text:
// - writes the converted text and its NUL into `output` and returns the
//   number of bytes written, NUL included (1 for an empty text);
// - returns 0 when the result with its NUL does not fit in `outputBytes`
//   (the buffer may then hold part of it), when `outputBytes` is 0 or less
//   (there is no size query), when the encoding is unknown to the converter,
//   or when memory runs out;
// - writes "?" for a character the encoding cannot represent. An unpaired
//   surrogate counts as such a character, as it does for the ANSI code
//   pages, so that one damaged unit costs one character and not the text;
// - writes a base character followed by combining marks as the precomposed
//   character where the encoding has it. Where the encoding lacks the
//   composed form, the sequence is converted as written, so the base letter
//   survives and only each mark becomes "?". Text that is precomposed in
//   the source is never taken apart: a precomposed letter the encoding
//   lacks is one "?".
// On Linux it reads the encoding from the current LC_CTYPE locale on every
// call. On Windows the encoding is UTF-8 whatever the ANSI code page, so
// every character is kept as it is and none is replaced by a look-alike;
// only an unpaired surrogate becomes "?".
// Allocates one work block, freed before it returns.
int wideCharToMultiByte(const char16_t* units, char* output, int outputBytes);

// Makes the `bytes` bytes at `text`, text in the system's byte encoding
// (the locale's on Linux, the ANSI code page on Windows), into path text in
// place, with a NUL after it, within `capacity` bytes. Returns the bytes
// written, NUL included, or 0 when the result does not fit, the bytes are
// not text in that encoding, or memory runs out. On Linux the two encodings
// are one and the bytes stay as they are. On Windows ASCII stays as it is,
// and other text is converted to UTF-8 through one work block; UTF-8 takes
// at most three bytes for each byte of an ANSI code page.
int localTextToPathText(char* text, int bytes, int capacity);

// The name of the encoding of path text as the system spells it (on Linux
// the LC_CTYPE locale's codeset, such as "UTF-8" or "ANSI_X3.4-1968"; on
// Windows "UTF-8").
const char* localEncodingName();

#ifdef _WIN32
// Windows gives and takes texts and paths as UTF-16, which the program holds
// as UTF-8. An unpaired surrogate, or a byte that starts no UTF-8
// character, converts to U+FFFD, as the system's own conversion has it.
std::wstring toWide(std::string_view utf8);
std::string toUtf8(std::wstring_view wide);
#endif

}  // namespace ravoth
