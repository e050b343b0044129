// The depth-first walk over "/Kids" arrays that both the page tree and the
// name tree of named destinations use. Internal to the reader.
#pragma once

#include <algorithm>
#include <cstdint>

#include "pdf/primitives.h"
#include "pdf/text_block.h"

namespace ravoth {

namespace walkCode {
constexpr int endsBeforeClose = -135;
constexpr int neitherNumberNorClose = -136;
constexpr int stackEmpty = -137;
constexpr int stackLineNotNumber = -138;
constexpr int kidNoGeneration = -140;
constexpr int kidEndsBeforeR = -141;
constexpr int kidNoR = -142;
constexpr int kidNotInTable = -143;
constexpr int kidNodeFails = -144;
constexpr int stackNotAllocated = -145;
constexpr int stackNotEnlarged = -146;
// More kid references than a tree can hold: the walk came back to a node
// it had entered. It shares its number with the stack's growth, which is
// how such a walk used to end.
constexpr int cycleFound = -146;
}  // namespace walkCode

// Makes sure one more line fits, allocating the block on first use. Every
// line is far shorter than the headroom, so lines need no check of their own.
// Returns 0, or allocationCode / growthCode.
inline int makeRoomForLine(TextBlock* text, int allocationCode, int growthCode)
{
    if (!text->isAllocated() && !text->allocate(textBlockBytes)) return allocationCode;
    if (!text->ensureRoom(lineHeadroomBytes)) return growthCode;
    return 0;
}

// Removes the last line of the walk stack and returns the offset it holds,
// or a code.
inline std::int64_t popStackLine(TextBlock* stack)
{
    if (!stack->isAllocated() || stack->used() == 0) return walkCode::stackEmpty;
    const Byte* start = stack->begin();
    const Byte* writePosition = stack->end();
    // Every line ends with LF, so the last one starts after the one before.
    const Byte* lineStart = writePosition - 1;
    while (lineStart > start && lineStart[-1] != '\n') --lineStart;
    const Byte* cursor = lineStart;
    // The walk's own lines: an offset of the document, however large.
    if (cursor >= writePosition || !isDigit(*cursor)) return walkCode::stackLineNotNumber;
    const std::int64_t offset = readDigits(&cursor, writePosition, largestFileOffset * 1000);
    if (cursor >= writePosition || *cursor != '\n') return walkCode::stackLineNotNumber;
    stack->truncate(static_cast<std::size_t>(lineStart - start));
    return offset;
}

// Walks a tree of the reader's document depth-first from just after the "["
// of its root's "/Kids". For every kid reference "n g R" it asks
// readNode(reader, offset, n): a positive result is the offset after the "["
// of the kid's own "/Kids", which is walked next; 0 makes the kid a leaf, handed to
// onLeaf(n, generation, offset), which returns 0 or a code. A non-number in
// the root's array ends the walk; deeper down only "]" may follow the kids.
// Returns 0 or a negative code (-135 to -146, or onLeaf's).
template <typename ReadNode, typename OnLeaf>
int walkKids(DocumentReader& reader, const Byte* cursor, ReadNode readNode, OnLeaf onLeaf)
{
    const Byte* const docStart = reader.start;
    const Byte* const docEnd = reader.end;
    // A tree reaches every object at most once. More kid references than the
    // table has objects means a node lists itself or an ancestor, or one
    // subtree is listed over and over; without this bound such a file grows
    // the stack until memory runs out.
    const auto kidLimit = std::count(reader.tableStart, reader.tableEnd, '\n');
    std::ptrdiff_t kidsHandled = 0;
    TextBlock stack;
    int depth = 0;
    for (;;) {
        const int objectNumber = readNumber(reader, &cursor, docEnd);
        if (objectNumber < 0) {
            reader.lastError = 0;
            if (depth == 0) return 0;
            if (!skipWhiteSpaceAndComments(reader, &cursor, docEnd)) return walkCode::endsBeforeClose;
            if (*cursor != ']') return walkCode::neitherNumberNorClose;
            const std::int64_t resumeOffset = popStackLine(&stack);
            if (resumeOffset < 0) return static_cast<int>(resumeOffset);
            cursor = docStart + resumeOffset;
            --depth;
            continue;
        }

        const int generation = readNumber(reader, &cursor, docEnd);
        if (generation < 0) return walkCode::kidNoGeneration;
        if (!skipWhiteSpaceAndComments(reader, &cursor, docEnd)) return walkCode::kidEndsBeforeR;
        if (*cursor != 'R') return walkCode::kidNoR;
        ++cursor;
        if (++kidsHandled > kidLimit) return walkCode::cycleFound;

        const std::int64_t offset =
            lookupObjectOffset(reader, reader.tableStart, reader.tableEnd, objectNumber);
        if (offset < 0) return walkCode::kidNotInTable;
        const std::int64_t kidsOffset = readNode(reader, offset, objectNumber);
        if (kidsOffset < 0) return walkCode::kidNodeFails;

        if (kidsOffset > 0) {
            ++depth;
            if (const int code = makeRoomForLine(&stack, walkCode::stackNotAllocated,
                                                 walkCode::stackNotEnlarged))
                return code;
            stack.appendDecimal(cursor - docStart);
            stack.appendByte('\n');
            cursor = docStart + kidsOffset;
        } else if (const int code = onLeaf(objectNumber, generation, offset)) {
            return code;
        }
    }
}

}  // namespace ravoth
