#include "platform/text.h"

#include <windows.h>

#include <climits>
#include <cstring>

#include "platform/memory.h"

namespace ravoth {
namespace {

bool isLeadSurrogate(wchar_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isTrailSurrogate(wchar_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// A mark that composition may fold into the character before it.
bool isMark(wchar_t unit)
{
    WORD type = 0;
    return GetStringTypeW(CT_CTYPE3, &unit, 1, &type) &&
           (type & (C3_NONSPACING | C3_DIACRITIC | C3_VOWELMARK)) != 0;
}

// Copies the `count` units into `chosen` (room for `count`), each character
// with the marks after it composed where that makes the run shorter ("e"
// and U+0301 become "é"), every other run as written. Returns the units
// written.
std::size_t composeWhereShorter(const wchar_t* units, std::size_t count, wchar_t* chosen)
{
    std::size_t written = 0;
    std::size_t i = 0;
    while (i < count) {
        const std::size_t start = i;
        i += isLeadSurrogate(units[i]) && i + 1 < count && isTrailSurrogate(units[i + 1]) ? 2 : 1;
        while (i < count && isMark(units[i])) ++i;
        const int length = static_cast<int>(i - start);
        // The precomposed form is normalization form C, which would also
        // trade a compatibility ideograph for its unified twin; taking only
        // runs that get shorter leaves a character precomposed in the
        // source as it is.
        const int composed = length > 1 ? FoldStringW(MAP_PRECOMPOSED, units + start, length,
                                                      chosen + written, length)
                                        : 0;
        if (composed <= 0 || composed >= length) {
            std::memcpy(chosen + written, units + start, static_cast<std::size_t>(length) * sizeof(wchar_t));
            written += static_cast<std::size_t>(length);
        } else {
            written += static_cast<std::size_t>(composed);
        }
    }
    return written;
}

}  // namespace

int wideCharToMultiByte(const char16_t* units, char* output, int outputBytes)
{
    if (!units || !output || outputBytes <= 0) return 0;
    std::size_t count = 0;
    while (units[count] != 0) ++count;
    if (count >= INT_MAX / sizeof(wchar_t)) return 0;
    OwnedBlock<wchar_t> chosen(
        static_cast<wchar_t*>(static_cast<void*>(allocBlock((count + 1) * sizeof(wchar_t)))));
    if (!chosen) return 0;
    wchar_t* text = chosen.get();
    const std::size_t length =
        composeWhereShorter(reinterpret_cast<const wchar_t*>(units), count, text);

    // UTF-8 has no form for an unpaired surrogate. The system would write
    // U+FFFD, which names accept, so a damaged title would pass for a good
    // one; "?" costs the one character, as in any other encoding.
    for (std::size_t i = 0; i < length; ++i) {
        if (isLeadSurrogate(text[i]) && i + 1 < length && isTrailSurrogate(text[i + 1]))
            ++i;
        else if (isLeadSurrogate(text[i]) || isTrailSurrogate(text[i]))
            text[i] = L'?';
    }
    text[length] = L'\0';
    // UTF-8 refuses WC_COMPOSITECHECK and the default-character arguments;
    // the composition is done above.
    return WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length) + 1, output, outputBytes,
                               nullptr, nullptr);
}

int localTextToPathText(char* text, int bytes, int capacity)
{
    if (!text || bytes < 0 || bytes >= capacity) return 0;
    bool ascii = true;
    for (int i = 0; i < bytes && ascii; ++i) ascii = static_cast<unsigned char>(text[i]) < 0x80;
    if (ascii) {
        text[bytes] = '\0';
        return bytes + 1;
    }
    // No byte of any ANSI code page gives more than one UTF-16 unit.
    OwnedBlock<wchar_t> wide(static_cast<wchar_t*>(
        static_cast<void*>(allocBlock(static_cast<std::size_t>(bytes) * sizeof(wchar_t)))));
    if (!wide) return 0;
    const int units = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text, bytes, wide.get(), bytes);
    if (units <= 0) return 0;
    const int written =
        WideCharToMultiByte(CP_UTF8, 0, wide.get(), units, text, capacity - 1, nullptr, nullptr);
    if (written <= 0) return 0;
    text[written] = '\0';
    return written + 1;
}

const char* localEncodingName() { return "UTF-8"; }

std::wstring toWide(std::string_view utf8)
{
    if (utf8.empty() || utf8.size() > INT_MAX) return {};
    const int bytes = static_cast<int>(utf8.size());
    const int units = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), bytes, nullptr, 0);
    if (units <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(units), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), bytes, wide.data(), units);
    return wide;
}

std::string toUtf8(std::wstring_view wide)
{
    if (wide.empty() || wide.size() > INT_MAX) return {};
    const int units = static_cast<int>(wide.size());
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return {};
    std::string utf8(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, utf8.data(), bytes, nullptr, nullptr);
    return utf8;
}

}  // namespace ravoth
