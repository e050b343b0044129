#include "pdf/title_name.h"

#include <string>
#include <string_view>

#include "platform/memory.h"
#include "platform/text.h"

namespace ravoth {
namespace {

constexpr int codeNoTitle = -1;
constexpr int codeLiteralUnclosed = -2;
constexpr int codeNoRoom = -3;
constexpr int codeHexUnclosed = -4;
constexpr int codeHexBadByte = -5;
constexpr int codeNoWorkMemory = -7;

constexpr bool isOctalDigit(Byte b) { return b >= '0' && b <= '7'; }

// The value of a hex digit, or -1.
constexpr int hexValue(Byte b)
{
    if (b >= '0' && b <= '9') return b - '0';
    if (b >= 'A' && b <= 'F') return b - 'A' + 10;
    if (b >= 'a' && b <= 'f') return b - 'a' + 10;
    return -1;
}

// Stores decoded bytes into the caller's buffer, refusing the one that
// would not fit.
class DecodedText {
public:
    DecodedText(char* output, int capacity) : output_(output), capacity_(capacity) {}
    bool put(Byte b)
    {
        if (count_ >= capacity_) return false;
        output_[count_++] = static_cast<char>(b);
        return true;
    }
    int count() const { return count_; }
    const char* bytes() const { return output_; }

private:
    char* output_;
    int capacity_;
    int count_ = 0;
};

// The bytes between "(" and ")"; returns 0 or a negative code.
int decodeLiteral(const Byte* p, const Byte* end, DecodedText* text)
{
    while (p < end) {
        Byte b = *p++;
        if (b == '\\') {
            // A backslash just before the closing ")" escapes nothing that
            // belongs to the title, so it is dropped.
            if (p == end) break;
            if (isOctalDigit(*p)) {
                int value = 0;
                for (int digits = 0; digits < 3 && p < end && isOctalDigit(*p); ++digits)
                    value = value * 8 + (*p++ - '0');
                b = static_cast<Byte>(value & 0xFF);
            } else {
                switch (*p) {
                case 'n': b = '\n'; ++p; break;
                case 'r': b = '\r'; ++p; break;
                case 't': b = '\t'; ++p; break;
                case 'b': b = 0x08; ++p; break;
                case 'f': b = 0x0C; ++p; break;
                case '(': case ')': case '\\': b = *p++; break;
                default: continue;  // the next byte stands for itself
                }
            }
        }
        if (!text->put(b)) return codeNoRoom;
    }
    return 0;
}

// The digits between "<" and ">"; returns 0 or a negative code.
int decodeHex(const Byte* p, const Byte* end, DecodedText* text)
{
    int high = -1;
    for (; p < end; ++p) {
        if (isWhiteSpace(*p)) continue;
        const int digit = hexValue(*p);
        if (digit < 0) return codeHexBadByte;
        if (high < 0) {
            high = digit;
        } else {
            if (!text->put(static_cast<Byte>(high << 4 | digit))) return codeNoRoom;
            high = -1;
        }
    }
    if (high >= 0 && !text->put(static_cast<Byte>(high << 4))) return codeNoRoom;
    return 0;
}

// The decoded bytes begin with FE FF: converts the big-endian units after
// the mark, in place of the decoded bytes.
int convertUtf16(const Byte* decoded, int decodedLength, char* output, int capacity)
{
    OwnedBlock<char16_t> units(static_cast<char16_t*>(
        static_cast<void*>(allocBlock(static_cast<std::size_t>(decodedLength) + 2))));
    if (!units) return codeNoWorkMemory;
    const int unitCount = decodedLength / 2 - 1;
    for (int i = 0; i < unitCount; ++i)
        units.get()[i] = static_cast<char16_t>(decoded[2 + 2 * i] << 8 | decoded[3 + 2 * i]);
    units.get()[unitCount] = 0;
    return wideCharToMultiByte(units.get(), output, capacity) - 1;
}

// Big-endian UTF-16 units as UTF-8; a unit of a pair without its partner
// becomes U+FFFD.
std::string utf16ToUtf8(const Byte* units, std::size_t count)
{
    std::string text;
    auto put = [&](char32_t c) {
        if (c < 0x80) {
            text.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            text.push_back(static_cast<char>(0xC0 | c >> 6));
            text.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            text.push_back(static_cast<char>(0xE0 | c >> 12));
            text.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
            text.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            text.push_back(static_cast<char>(0xF0 | c >> 18));
            text.push_back(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
            text.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
            text.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    };
    for (std::size_t i = 0; i < count; ++i) {
        const char32_t unit = static_cast<char32_t>(units[2 * i] << 8 | units[2 * i + 1]);
        if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < count) {
            const char32_t low = static_cast<char32_t>(units[2 * i + 2] << 8 | units[2 * i + 3]);
            if (low >= 0xDC00 && low < 0xE000) {
                put(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        put(unit >= 0xD800 && unit < 0xE000 ? 0xFFFD : unit);
    }
    return text;
}

// The decoded bytes in `output` as path text there.
int decodedToPathText(DecodedText& text, char* output, int capacity)
{
    const int decodedLength = text.count();
    const auto* decoded = reinterpret_cast<const Byte*>(text.bytes());
    if (decodedLength >= 2 && decoded[0] == 0xFE && decoded[1] == 0xFF)
        return convertUtf16(decoded, decodedLength, output, capacity);
    // The NUL needs its own byte: a title that fills the buffer exactly
    // would otherwise end one byte past it.
    if (!text.put(0)) return codeNoRoom;
    return localTextToPathText(output, decodedLength, capacity) - 1;
}

// The decoded bytes as text; `pathText` makes those that are not UTF-16.
template <typename PathText>
std::optional<std::string> decodedToText(std::string_view decoded, PathText pathText)
{
    const auto* bytes = reinterpret_cast<const Byte*>(decoded.data());
    if (decoded.size() >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF)
        return utf16ToUtf8(bytes + 2, (decoded.size() - 2) / 2);
    // Other titles are the system's bytes, as their file names take them.
    const int capacity = titleBufferBytes(static_cast<int>(decoded.size()) + 2);
    std::string local(static_cast<std::size_t>(capacity), '\0');
    const int bytesOut = pathText(local.data(), capacity);
    if (bytesOut < 0) return std::nullopt;
    local.resize(static_cast<std::size_t>(bytesOut));
    return local;
}

}  // namespace

std::optional<std::string> titleToText(const Byte* titleText, int titleLength)
{
    if (titleLength <= 0 || titleLength > maxTextTitleBytes) return std::nullopt;
    std::string decoded(static_cast<std::size_t>(titleLength), '\0');
    DecodedText text(decoded.data(), titleLength);
    const Byte* end = titleText + titleLength;
    int result;
    if (titleText[0] == '(' && end[-1] == ')') result = decodeLiteral(titleText + 1, end - 1, &text);
    else if (titleText[0] == '<' && end[-1] == '>') result = decodeHex(titleText + 1, end - 1, &text);
    else return std::nullopt;
    if (result < 0) return std::nullopt;
    decoded.resize(static_cast<std::size_t>(text.count()));
    return decodedToText(decoded, [&](char* output, int capacity) {
        return titleToFileName(titleText, titleLength, output, capacity);
    });
}

std::optional<std::string> titleBytesToText(std::string_view bytes)
{
    if (bytes.size() > static_cast<std::size_t>(maxTextTitleBytes)) return std::nullopt;
    return decodedToText(bytes, [&](char* output, int capacity) {
        return titleBytesToFileName(reinterpret_cast<const Byte*>(bytes.data()), static_cast<int>(bytes.size()),
                                    output, capacity);
    });
}

int titleBytesToFileName(const Byte* bytes, int length, char* output, int capacity)
{
    DecodedText text(output, capacity);
    for (int i = 0; i < length; ++i)
        if (!text.put(bytes[i])) return codeNoRoom;
    return decodedToPathText(text, output, capacity);
}

int titleToFileName(const Byte* titleText, int titleLength, char* output, int capacity)
{
    if (titleLength <= 0) return codeNoTitle;
    const Byte* end = titleText + titleLength;
    DecodedText text(output, capacity);
    int result;
    if (titleText[0] == '(') {
        if (end[-1] != ')') return codeLiteralUnclosed;
        result = decodeLiteral(titleText + 1, end - 1, &text);
    } else if (titleText[0] == '<') {
        if (end[-1] != '>') return codeHexUnclosed;
        result = decodeHex(titleText + 1, end - 1, &text);
    } else {
        return codeNoTitle;
    }
    if (result < 0) return result;
    return decodedToPathText(text, output, capacity);
}

}  // namespace ravoth
