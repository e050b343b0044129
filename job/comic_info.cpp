#include "job/comic_info.h"

#include <cstdint>

namespace ravoth {

namespace {

constexpr char32_t replacement = 0xFFFD;

// The code point at `at` of `text`, moving `at` past it; U+FFFD for a byte
// that begins no well-formed UTF-8 sequence (overlong forms and surrogates
// included), which is then passed alone.
char32_t nextCodePoint(std::string_view text, std::size_t& at)
{
    const auto lead = static_cast<unsigned char>(text[at++]);
    if (lead < 0x80) return lead;
    int more = 0;
    char32_t point = 0;
    char32_t least = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        more = 1, point = lead & 0x1F, least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        more = 2, point = lead & 0x0F, least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        more = 3, point = lead & 0x07, least = 0x10000;
    } else {
        return replacement;
    }
    std::size_t next = at;
    for (int k = 0; k < more; ++k, ++next) {
        if (next >= text.size()) return replacement;
        const auto byte = static_cast<unsigned char>(text[next]);
        if ((byte & 0xC0) != 0x80) return replacement;
        point = point << 6 | (byte & 0x3F);
    }
    if (point < least || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return replacement;
    at = next;
    return point;
}

// Whether XML 1.0 has the character at all.
bool isXmlChar(char32_t c)
{
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0x10FFFF);
}

void appendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out += {static_cast<char>(0xC0 | c >> 6), static_cast<char>(0x80 | (c & 0x3F))};
    } else if (c < 0x10000) {
        out += {static_cast<char>(0xE0 | c >> 12), static_cast<char>(0x80 | (c >> 6 & 0x3F)),
                static_cast<char>(0x80 | (c & 0x3F))};
    } else {
        out += {static_cast<char>(0xF0 | c >> 18), static_cast<char>(0x80 | (c >> 12 & 0x3F)),
                static_cast<char>(0x80 | (c >> 6 & 0x3F)), static_cast<char>(0x80 | (c & 0x3F))};
    }
}

// `text` as an attribute's value between double quotes. A parser turns a
// tab or line break written as itself into a space: they go as references.
void appendAttributeValue(std::string& out, std::string_view text)
{
    for (std::size_t at = 0; at < text.size();) {
        const char32_t c = nextCodePoint(text, at);
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\t': out += "&#9;"; break;
        case '\n': out += "&#10;"; break;
        case '\r': out += "&#13;"; break;
        default:
            if (isXmlChar(c)) appendUtf8(out, c);
        }
    }
}

}  // namespace

std::string comicInfoXml(std::size_t images, const std::vector<ComicBookmark>& bookmarks)
{
    std::string text =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
        "<ComicInfo xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
        "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n"
        "  <PageCount>";
    text += std::to_string(images);
    text += "</PageCount>\n";
    if (!bookmarks.empty()) {
        text += "  <Pages>\n";
        for (const ComicBookmark& bookmark : bookmarks) {
            text += "    <Page Image=\"";
            text += std::to_string(bookmark.image);
            text += "\" Bookmark=\"";
            appendAttributeValue(text, bookmark.title);
            text += "\"/>\n";
        }
        text += "  </Pages>\n";
    }
    text += "</ComicInfo>\n";
    return text;
}

}  // namespace ravoth
