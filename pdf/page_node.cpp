// Node readers for the tree walks: they tell a walker what a node is and
// where its "/Kids" array starts, as an offset the walker can keep on its own
// text stack and resume from later.
#include "pdf/reader.h"

namespace ravoth {
namespace {

constexpr int nodeNotOpened = -102;
constexpr int nodeNotDictionary = -103;
constexpr int nodeDictionaryUnclosed = -104;
constexpr int nodeTypeMissing = -105;
constexpr int nodeEndsAfterType = -106;
constexpr int nodeTypeNotPage = -107;
// Shares its code with a wrong type: callers never branch on the value.
constexpr int nodeEndsAfterKids = -107;
constexpr int nodeKidsMissing = -108;
constexpr int nodeKidsNotArray = -109;
constexpr int nodePageNameRunsOn = -110;

constexpr std::string_view typeKey = "/Type";
constexpr std::string_view kidsKey = "/Kids";

// Unlike the other readers these return the code itself rather than -1, so
// that one int carries leaf, array offset or failure.
int failNode(DocumentReader& reader, int code)
{
    reader.lastError = code;
    return code;
}

struct NodeDictionary {
    const Byte* start = nullptr;  // just after "<<"
    const Byte* end = nullptr;    // the matching ">>"
};

// Opens object n at offset and finds the extent of its dictionary.
// Returns 0 or a node code (not yet stored in LastError).
int openNodeDictionary(DocumentReader& reader, std::int64_t offset, int n, NodeDictionary* dictionary)
{
    const Byte* const docEnd = reader.end;
    const Byte* body = openObject(reader, reader.start, docEnd, offset, n);
    if (!body) return nodeNotOpened;
    if (!matchesAt(body, docEnd, "<<")) return nodeNotDictionary;
    dictionary->start = body + 2;
    dictionary->end = findMatchingClose(reader, dictionary->start, docEnd, ">>", "<<");
    if (!dictionary->end) return nodeDictionaryUnclosed;
    return 0;
}

// The offset after the "[" that opens the value of the "/Kids" key at `key`,
// or a node code. The value is bounded by the document only: the walker reads
// the array from the document as well, not from the dictionary's extent.
std::int64_t kidsArrayOffset(DocumentReader& reader, const Byte* key)
{
    const Byte* const docEnd = reader.end;
    const Byte* cursor = key + kidsKey.size();
    if (!skipWhiteSpaceAndComments(reader, &cursor, docEnd)) return nodeEndsAfterKids;
    if (*cursor != '[') return nodeKidsNotArray;
    return cursor + 1 - reader.start;
}

}  // namespace

std::int64_t readPageNode(DocumentReader& reader, std::int64_t offset, int objectNumber)
{
    const Byte* const docEnd = reader.end;
    NodeDictionary dictionary;
    if (const int code = openNodeDictionary(reader, offset, objectNumber, &dictionary))
        return failNode(reader, code);

    // findKey does not know nesting: a "/Type" inside "/Resources" ahead of
    // the node's own one decides. That is how the files we accept are read.
    const Byte* type = findKey(reader, typeKey, dictionary.start, dictionary.end);
    if (!type) return failNode(reader, nodeTypeMissing);
    const Byte* cursor = type + typeKey.size();
    if (!skipWhiteSpaceAndComments(reader, &cursor, docEnd)) return failNode(reader, nodeEndsAfterType);
    if (!matchesAt(cursor, docEnd, "/Page")) return failNode(reader, nodeTypeNotPage);
    cursor += 5;

    // Only the "s" is looked at: "/Pagesfoo" counts as an intermediate node.
    if (cursor < docEnd && *cursor == 's') {
        const Byte* kids = findKey(reader, kidsKey, dictionary.start, dictionary.end);
        if (!kids) return failNode(reader, nodeKidsMissing);
        const std::int64_t result = kidsArrayOffset(reader, kids);
        return result < 0 ? failNode(reader, static_cast<int>(result)) : result;
    }
    // A leaf's "/Page" must end there ("/PageLabel" is not a page). A name cut
    // off by the end of the document is not known to end, so it fails too.
    if (cursor == docEnd || !(isWhiteSpace(*cursor) || isDelimiter(*cursor)))
        return failNode(reader, nodePageNameRunsOn);
    return 0;
}

std::int64_t findKidsArray(DocumentReader& reader, std::int64_t offset, int objectNumber)
{
    NodeDictionary dictionary;
    if (const int code = openNodeDictionary(reader, offset, objectNumber, &dictionary))
        return failNode(reader, code);

    const Byte* kids = findKey(reader, kidsKey, dictionary.start, dictionary.end);
    if (!kids) {
        // A name-tree leaf has "/Names" instead; the probe's code is no failure.
        reader.lastError = 0;
        return 0;
    }
    const std::int64_t result = kidsArrayOffset(reader, kids);
    return result < 0 ? failNode(reader, static_cast<int>(result)) : result;
}

}  // namespace ravoth
