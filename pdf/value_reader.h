// Reading values behind dictionary keys, shared by the outline and the
// named-destination readers. Internal to the reader.
#pragma once

#include <cstdint>

#include "pdf/primitives.h"

namespace ravoth {

namespace valueCode {
constexpr int titleOrKeyRunsToEnd = -2;
constexpr int notDictionary = -151;
constexpr int endInsideOpener = -152;
constexpr int secondByteNotOpener = -153;
constexpr int dictionaryUnclosed = -154;
constexpr int endInSpace = -161;
constexpr int endInComment = -162;
constexpr int referenceNoR = -163;
constexpr int referenceNotOpened = -164;
}  // namespace valueCode

// With the cursor just behind a key: skips, then reads a number bounded by
// numberBound. A number of 1 or more is a reference "n g R", followed to
// the referenced object's body; anything else is a direct value and the
// cursor stands on its first byte. Returns 0, or -161 (end in white space,
// or no generation), -162 (end in a comment), -163 (no "R"), -164 (the
// object is not in the table or does not open).
int resolveValue(DocumentReader& reader, const Byte** cursor, const Byte* numberBound);

// The range of a dictionary: from the byte after "<<" to its matching ">>".
struct Dictionary {
    const Byte* start = nullptr;
    const Byte* end = nullptr;
};

// Opens the dictionary at the cursor. Returns 0, or -151 (no "<"), -152 (the
// document ends inside "<<" or right behind it), -153 (the second byte is
// not "<"), -154 (no matching ">>").
int openDictionary(DocumentReader& reader, const Byte* cursor, Dictionary* dictionary);

// Whether a byte ends a name key such as "/ch1": white space or a
// delimiter other than "/", which a name key may contain.
constexpr bool endsNameKey(Byte b) { return isWhiteSpace(b) || (isDelimiter(b) && b != '/'); }

// The byte after the name key that starts at `key` (the byte after its
// "/"); null when the document ends first.
const Byte* findNameKeyEnd(DocumentReader& reader, const Byte* key, const Byte* end);

// Where an explicit destination "[n g R ...]" breaks off. Where the
// document ends (the End... breaks), `ending` tells in what.
enum class ArrayBreak {
    None,
    EndAfterOpen,
    NoPageObject,
    NoGeneration,
    EndAfterGeneration,
    NoR,  // no "R", or nothing after it
    EndAfterR,
    NoClose,
};

struct DestinationArray {
    std::int32_t pageObject = 0;  // n; 0 or more
    const Byte* close = nullptr;  // the "]"
    SkipEnd ending = SkipEnd::NotAtEnd;
};

// Reads the explicit destination whose "[" is at `open`: the page object n,
// then the generation and "R", then anything up to the "]" (comments
// skipped). The one reader of such arrays for the outline and the
// destination tables, which judge its breaks each in their own way.
ArrayBreak readDestinationArray(DocumentReader& reader, const Byte* open, const Byte* end,
                                DestinationArray* array);

// The ">" that ends the hex string opening at `open`, "%" comments skipped;
// null when the document ends first.
const Byte* findHexStringEnd(DocumentReader& reader, const Byte* open, const Byte* end);

// The closing delimiter of the string token ("(" or "<") at `open`; null
// when the document ends first or `open` holds neither.
const Byte* findStringTokenEnd(DocumentReader& reader, const Byte* open, const Byte* end);

}  // namespace ravoth
