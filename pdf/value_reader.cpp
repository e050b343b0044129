#include "pdf/value_reader.h"

namespace ravoth {

SkipEnd skipNotingEnd(const Byte** cursor, const Byte* end)
{
    const Byte* p = *cursor;
    bool inComment = false;
    while (p < end) {
        if (isWhiteSpace(*p)) {
            inComment = false;
            ++p;
        } else if (*p == '%') {
            inComment = true;
            while (p < end && *p != '\r' && *p != '\n') ++p;
        } else {
            break;
        }
    }
    *cursor = p;
    if (p < end) return SkipEnd::NotAtEnd;
    return inComment ? SkipEnd::InComment : SkipEnd::InSpace;
}

int resolveValue(const Document& document, const Byte** cursor, const Byte* numberBound)
{
    const Byte* p = *cursor;
    switch (skipNotingEnd(&p, document.end)) {
    case SkipEnd::InSpace: return valueCode::endInSpace;
    case SkipEnd::InComment: return valueCode::endInComment;
    case SkipEnd::NotAtEnd: break;
    }
    const Byte* valueStart = p;
    const int number = readNumber(&p, numberBound);
    LastError = 0;
    if (number < 1) {
        *cursor = valueStart;
        return 0;
    }
    if (readNumber(&p, document.end) < 0) return valueCode::endInSpace;
    switch (skipNotingEnd(&p, document.end)) {
    case SkipEnd::InSpace: return valueCode::endInSpace;
    case SkipEnd::InComment: return valueCode::endInComment;
    case SkipEnd::NotAtEnd: break;
    }
    if (*p != 'R') return valueCode::referenceNoR;
    const int offset = lookupObjectOffset(document.tableStart, document.tableEnd, number);
    const Byte* body = openObject(document.start, document.end, offset, number);
    if (!body) return valueCode::referenceNotOpened;
    *cursor = body;
    return 0;
}

int openDictionary(const Byte* cursor, const Byte* docEnd, Dictionary* dictionary)
{
    if (cursor >= docEnd || *cursor != '<') return valueCode::notDictionary;
    if (docEnd - cursor < 2) return valueCode::endInsideOpener;
    if (cursor[1] != '<') return valueCode::secondByteNotOpener;
    if (docEnd - cursor < 3) return valueCode::endInsideOpener;
    dictionary->start = cursor + 2;
    dictionary->end = findMatchingClose(dictionary->start, docEnd, ">>", "<<");
    if (!dictionary->end) return valueCode::dictionaryUnclosed;
    return 0;
}

const Byte* findHexStringEnd(const Byte* open, const Byte* end)
{
    const Byte* p = open + 1;
    while (p < end) {
        if (*p == '>') return p;
        if (*p == '%') {
            while (p < end && *p != '\r' && *p != '\n') ++p;
            continue;
        }
        ++p;
    }
    return nullptr;
}

const Byte* findStringTokenEnd(const Byte* open, const Byte* end)
{
    if (open >= end) return nullptr;
    if (*open == '<') return findHexStringEnd(open, end);
    if (*open != '(') return nullptr;
    const Byte* p = open;
    return skipStringLiteral(&p, end) ? p : nullptr;
}

}  // namespace ravoth
