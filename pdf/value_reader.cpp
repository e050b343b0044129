#include "pdf/value_reader.h"

namespace ravoth {

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
    const std::int64_t offset = lookupObjectOffset(document.tableStart, document.tableEnd, number);
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

const Byte* findNameKeyEnd(const Byte* key, const Byte* end)
{
    const Byte* const limit = scanLimit(key, end);
    const Byte* p = key;
    while (p < limit && !endsNameKey(*p)) ++p;
    chargeScan(static_cast<std::size_t>(p - key));
    return p < limit ? p : nullptr;
}

ArrayBreak readDestinationArray(const Byte* open, const Byte* end, DestinationArray* array)
{
    const Byte* p = open + 1;
    if ((array->ending = skipNotingEnd(&p, end)) != SkipEnd::NotAtEnd) return ArrayBreak::EndAfterOpen;
    const int page = readNumber(&p, end);
    if (page < 0) return ArrayBreak::NoPageObject;
    if (readNumber(&p, end) < 0) return ArrayBreak::NoGeneration;
    if ((array->ending = skipNotingEnd(&p, end)) != SkipEnd::NotAtEnd) return ArrayBreak::EndAfterGeneration;
    if (*p != 'R' || end - p < 2) return ArrayBreak::NoR;
    ++p;
    if ((array->ending = skipNotingEnd(&p, end)) != SkipEnd::NotAtEnd) return ArrayBreak::EndAfterR;
    const Byte* const limit = scanLimit(p, end);
    const Byte* const rest = p;
    while (p < limit && *p != ']') p = *p == '%' ? skipComment(p, limit) : p + 1;
    chargeScan(static_cast<std::size_t>(p - rest));
    if (p >= limit) return ArrayBreak::NoClose;
    array->pageObject = page;
    array->close = p;
    return ArrayBreak::None;
}

const Byte* findHexStringEnd(const Byte* open, const Byte* end)
{
    const Byte* const limit = scanLimit(open, end);
    const Byte* p = open + 1;
    while (p < limit && *p != '>') p = *p == '%' ? skipComment(p, limit) : p + 1;
    chargeScan(static_cast<std::size_t>(p - open));
    return p < limit ? p : nullptr;
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
