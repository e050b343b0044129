// Text conversion: UTF-16 to the system's byte encoding, in which paths are
// written (the locale's codeset on Linux, the ANSI code page on Windows).
#pragma once

namespace ravoth {

// Converts the NUL-terminated UTF-16 text `units` into the system's encoding,
// as WideCharToMultiByte(CP_ACP, WC_COMPOSITECHECK, units, -1, output,
// outputBytes, NULL, NULL) does:
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
// Reads the encoding from the current LC_CTYPE locale on every call.
int wideCharToMultiByte(const char16_t* units, char* output, int outputBytes);

// The name of the system's encoding as the system spells it (on Linux the
// LC_CTYPE locale's codeset, such as "UTF-8" or "ANSI_X3.4-1968").
const char* localEncodingName();

}  // namespace ravoth
