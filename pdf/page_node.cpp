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
int failNode(int code)
{
    LastError = code;
    return code;
}

struct NodeDictionary {
    const Byte* start = nullptr;  // just after "<<"
    const Byte* end = nullptr;    // the matching ">>"
};

// Opens object n at offset and finds the extent of its dictionary.
// Returns 0 or a node code (not yet stored in LastError).
int openNodeDictionary(const Byte* docStart, const Byte* docEnd, std::int64_t offset, int n,
                       NodeDictionary* dictionary)
{
    const Byte* body = openObject(docStart, docEnd, offset, n);
    if (!body) return nodeNotOpened;
    if (!matchesAt(body, docEnd, "<<")) return nodeNotDictionary;
    dictionary->start = body + 2;
    dictionary->end = findMatchingClose(dictionary->start, docEnd, ">>", "<<");
    if (!dictionary->end) return nodeDictionaryUnclosed;
    return 0;
}

// The offset after the "[" that opens the value of the "/Kids" key at `key`,
// or a node code. The value is bounded by the document only: the walker reads
// the array from the document as well, not from the dictionary's extent.
std::int64_t kidsArrayOffset(const Byte* docStart, const Byte* docEnd, const Byte* key)
{
    const Byte* cursor = key + kidsKey.size();
    if (!skipWhiteSpaceAndComments(&cursor, docEnd)) return nodeEndsAfterKids;
    if (*cursor != '[') return nodeKidsNotArray;
    return cursor + 1 - docStart;
}

}  // namespace

std::int64_t readPageNode(const Byte* docStart, const Byte* docEnd, std::int64_t offset,
                          int objectNumber)
{
    NodeDictionary dictionary;
    if (const int code = openNodeDictionary(docStart, docEnd, offset, objectNumber, &dictionary))
        return failNode(code);

    // findKey does not know nesting: a "/Type" inside "/Resources" ahead of
    // the node's own one decides. That is how the files we accept are read.
    const Byte* type = findKey(typeKey, dictionary.start, dictionary.end);
    if (!type) return failNode(nodeTypeMissing);
    const Byte* cursor = type + typeKey.size();
    if (!skipWhiteSpaceAndComments(&cursor, docEnd)) return failNode(nodeEndsAfterType);
    if (!matchesAt(cursor, docEnd, "/Page")) return failNode(nodeTypeNotPage);
    cursor += 5;

    // Only the "s" is looked at: "/Pagesfoo" counts as an intermediate node.
    if (cursor < docEnd && *cursor == 's') {
        const Byte* kids = findKey(kidsKey, dictionary.start, dictionary.end);
        if (!kids) return failNode(nodeKidsMissing);
        const std::int64_t result = kidsArrayOffset(docStart, docEnd, kids);
        return result < 0 ? failNode(static_cast<int>(result)) : result;
    }
    // A leaf's "/Page" must end there ("/PageLabel" is not a page). A name cut
    // off by the end of the document is not known to end, so it fails too.
    if (cursor == docEnd || !(isWhiteSpace(*cursor) || isDelimiter(*cursor)))
        return failNode(nodePageNameRunsOn);
    return 0;
}

std::int64_t findKidsArray(const Byte* docStart, const Byte* docEnd, std::int64_t offset,
                           int objectNumber)
{
    NodeDictionary dictionary;
    if (const int code = openNodeDictionary(docStart, docEnd, offset, objectNumber, &dictionary))
        return failNode(code);

    const Byte* kids = findKey(kidsKey, dictionary.start, dictionary.end);
    if (!kids) {
        // A name-tree leaf has "/Names" instead; the probe's code is no failure.
        LastError = 0;
        return 0;
    }
    const std::int64_t result = kidsArrayOffset(docStart, docEnd, kids);
    return result < 0 ? failNode(static_cast<int>(result)) : result;
}

}  // namespace ravoth
