#include "pdf/value_reader.h"

namespace ravoth {

int resolveValue(DocumentReader& reader, const Byte** cursor, const Byte* numberBound)
{
    const Byte* p = *cursor;
    switch (skipNotingEnd(reader, &p, reader.end)) {
    case SkipEnd::InSpace: return valueCode::endInSpace;
    case SkipEnd::InComment: return valueCode::endInComment;
    case SkipEnd::NotAtEnd: break;
    }
    const Byte* valueStart = p;
    const int number = readNumber(reader, &p, numberBound);
    reader.lastError = 0;
    if (number < 1) {
        *cursor = valueStart;
        return 0;
    }
    if (readNumber(reader, &p, reader.end) < 0) return valueCode::endInSpace;
    switch (skipNotingEnd(reader, &p, reader.end)) {
    case SkipEnd::InSpace: return valueCode::endInSpace;
    case SkipEnd::InComment: return valueCode::endInComment;
    case SkipEnd::NotAtEnd: break;
    }
    if (*p != 'R') return valueCode::referenceNoR;
    const std::int64_t offset = lookupObjectOffset(reader, reader.tableStart, reader.tableEnd, number);
    const Byte* body = openObject(reader, reader.start, reader.end, offset, number);
    if (!body) return valueCode::referenceNotOpened;
    *cursor = body;
    return 0;
}

int openDictionary(DocumentReader& reader, const Byte* cursor, Dictionary* dictionary)
{
    const Byte* const docEnd = reader.end;
    if (cursor >= docEnd || *cursor != '<') return valueCode::notDictionary;
    if (docEnd - cursor < 2) return valueCode::endInsideOpener;
    if (cursor[1] != '<') return valueCode::secondByteNotOpener;
    if (docEnd - cursor < 3) return valueCode::endInsideOpener;
    dictionary->start = cursor + 2;
    dictionary->end = findMatchingClose(reader, dictionary->start, docEnd, ">>", "<<");
    if (!dictionary->end) return valueCode::dictionaryUnclosed;
    return 0;
}

const Byte* findNameKeyEnd(DocumentReader& reader, const Byte* key, const Byte* end)
{
    const Byte* const limit = scanLimit(reader, key, end);
    const Byte* p = key;
    while (p < limit && !endsNameKey(*p)) ++p;
    chargeScan(reader, static_cast<std::size_t>(p - key));
    return p < limit ? p : nullptr;
}

ArrayBreak readDestinationArray(DocumentReader& reader, const Byte* open, const Byte* end,
                                DestinationArray* array)
{
    const Byte* p = open + 1;
    if ((array->ending = skipNotingEnd(reader, &p, end)) != SkipEnd::NotAtEnd) return ArrayBreak::EndAfterOpen;
    const int page = readNumber(reader, &p, end);
    if (page < 0) return ArrayBreak::NoPageObject;
    if (readNumber(reader, &p, end) < 0) return ArrayBreak::NoGeneration;
    if ((array->ending = skipNotingEnd(reader, &p, end)) != SkipEnd::NotAtEnd)
        return ArrayBreak::EndAfterGeneration;
    if (*p != 'R' || end - p < 2) return ArrayBreak::NoR;
    ++p;
    if ((array->ending = skipNotingEnd(reader, &p, end)) != SkipEnd::NotAtEnd) return ArrayBreak::EndAfterR;
    const Byte* const limit = scanLimit(reader, p, end);
    const Byte* const rest = p;
    while (p < limit && *p != ']') p = *p == '%' ? skipComment(p, limit) : p + 1;
    chargeScan(reader, static_cast<std::size_t>(p - rest));
    if (p >= limit) return ArrayBreak::NoClose;
    array->pageObject = page;
    array->close = p;
    return ArrayBreak::None;
}

const Byte* findHexStringEnd(DocumentReader& reader, const Byte* open, const Byte* end)
{
    const Byte* const limit = scanLimit(reader, open, end);
    const Byte* p = open + 1;
    while (p < limit && *p != '>') p = *p == '%' ? skipComment(p, limit) : p + 1;
    chargeScan(reader, static_cast<std::size_t>(p - open));
    return p < limit ? p : nullptr;
}

const Byte* findStringTokenEnd(DocumentReader& reader, const Byte* open, const Byte* end)
{
    if (open >= end) return nullptr;
    if (*open == '<') return findHexStringEnd(reader, open, end);
    if (*open != '(') return nullptr;
    const Byte* p = open;
    return skipStringLiteral(reader, &p, end) ? p : nullptr;
}

}  // namespace ravoth
