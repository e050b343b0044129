#include "pdf/page_image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/memory.h"

namespace ravoth {
namespace {

// The two objects as Mesker writes them; rows edit them one piece at a time.
const std::string goodPage =
    "3 0 obj\n<<\n/Type /Page\n/Parent 1 0 R\n/Resources << /XObject << /Im0 4 0 R >>\n"
    "/ProcSet [ /PDF /ImageC ] >>\n/MediaBox [ 0 0 612 792 ]\n/Contents 5 0 R\n>>\nendobj\n";
const std::string goodImage =
    "4 0 obj\n<< /Type /XObject /Subtype /Image /Name /Im0 /Width 2 /Height 3\n"
    "/BitsPerComponent 8 /Filter /FlateDecode /ColorSpace /DeviceGray\n/Length 6 >>\n"
    "stream\r\nABCDEF\r\nendstream\nendobj\n";

struct Case {
    const char* name;
    std::vector<std::pair<std::string, std::string>> edits = {};  // first hit: page, image
    int pageIndex = 1;
    std::string pageList = "8 0\n3 0\n";
    // {P}, {I}: the objects' offsets; {E}: the document's length.
    std::string table = "1 9 0 n\n3 {P} 0 n\n4 {I} 0 n\n";
    bool imageLast = false;
    std::string cutAfter = {};  // the document ends right after this text
};

void replaceAll(std::string& text, const std::string& from, const std::string& to)
{
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

// Builds the case's document and lists, each in a block of exactly its size,
// so that ASan catches a read of one byte past any of them.
struct Built {
    std::unique_ptr<Byte[]> doc, table, pageList;
    std::size_t docBytes = 0, tableBytes = 0, pageListBytes = 0;
};

std::unique_ptr<Byte[]> exactCopy(const std::string& text)
{
    std::unique_ptr<Byte[]> block(new Byte[text.size()]);
    std::memcpy(block.get(), text.data(), text.size());
    return block;
}

Built build(const Case& c)
{
    std::string page = goodPage, image = goodImage;
    for (const auto& [from, to] : c.edits) {
        std::string& target = page.find(from) != std::string::npos ? page : image;
        const auto at = target.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        if (at != std::string::npos) target.replace(at, from.size(), to);
    }
    std::string doc = "%PDF-1.3\n";
    std::size_t pageOffset, imageOffset;
    if (c.imageLast) {
        pageOffset = doc.size();
        doc += page;
        imageOffset = doc.size();
        doc += image;
    } else {
        imageOffset = doc.size();
        doc += image;
        pageOffset = doc.size();
        doc += page;
    }
    // An object needs a byte after it before the end, whichever comes last.
    doc += "xref\n";
    if (!c.cutAfter.empty()) {
        const auto at = doc.find(c.cutAfter);
        EXPECT_NE(at, std::string::npos) << c.cutAfter;
        if (at != std::string::npos) doc.resize(at + c.cutAfter.size());
    }
    std::string table = c.table;
    replaceAll(table, "{P}", std::to_string(pageOffset));
    replaceAll(table, "{I}", std::to_string(imageOffset));
    replaceAll(table, "{E}", std::to_string(doc.size()));
    Built b;
    b.doc = exactCopy(doc);
    b.docBytes = doc.size();
    b.table = exactCopy(table);
    b.tableBytes = table.size();
    b.pageList = exactCopy(c.pageList);
    b.pageListBytes = c.pageList.size();
    return b;
}

int locate(const Built& b, int pageIndex, ImageInfo* info)
{
    DocumentReader reader(b.doc.get(), b.doc.get() + b.docBytes);
    reader.tableStart = b.table.get();
    reader.tableEnd = b.table.get() + b.tableBytes;
    return locatePageImage(reader, pageIndex, b.pageList.get(), b.pageList.get() + b.pageListBytes, info);
}

TEST(PageImage, AcceptsMeskerPages)
{
    struct Good {
        Case c;
        Filter filter;
        bool isGray;
        std::string data;
    };
    const Good goods[] = {
        {{.name = "flate grey"}, Filter::Flate, true, "ABCDEF"},
        {{.name = "dct rgb",
          .edits = {{"/FlateDecode /ColorSpace /DeviceGray", "/DCTDecode /ColorSpace /DeviceRGB"}}},
         Filter::DCT, false, "ABCDEF"},
        {{.name = "a lone LF after stream keeps the first byte",
          .edits = {{"stream\r\nABCDEF", "stream\nABCDEF"}}},
         Filter::Flate, true, "ABCDEF"},
        {{.name = "extra entries on the height's line",
          .edits = {{"/Height 3\n", "/Height 3 /Decode [1 0]\n"}}},
         Filter::Flate, true, "ABCDEF"},
        {{.name = "parent and media box are not read",
          .edits = {{"/Parent 1 ", "/Parent x( "}, {"0 0 612 792", "0 0 a b"}}},
         Filter::Flate, true, "ABCDEF"},
        {{.name = "empty stream", .edits = {{"/Length 6", "/Length 0"}}}, Filter::Flate, true, ""},
        {{.name = "the first table line wins", .table = "3 {P} 0 n\n3 5 0 n\n4 {I} 0 n\n"},
         Filter::Flate, true, "ABCDEF"},
        {{.name = "first page of a list without final LF",
          .pageIndex = 0,
          .pageList = "3 0",
          .table = "3 {P}\n4 {I}"},
         Filter::Flate, true, "ABCDEF"},
        {{.name = "data ending one byte before the end", .imageLast = true, .cutAfter = "ABCDEF\r"},
         Filter::Flate, true, "ABCDEF"},
    };
    for (const Good& g : goods) {
        SCOPED_TRACE(g.c.name);
        const Built b = build(g.c);
        ImageInfo info;
        info.filter = Filter::DCT;
        ASSERT_EQ(locate(b, g.c.pageIndex, &info), 0);
        EXPECT_EQ(info.width, 2);
        EXPECT_EQ(info.height, 3);
        EXPECT_EQ(info.bitsPerComponent, 8);
        EXPECT_EQ(info.filter, g.filter);
        EXPECT_EQ(info.isGray, g.isGray);
        ASSERT_EQ(info.streamLength, static_cast<int>(g.data.size()));
        ASSERT_NE(info.streamStart, nullptr);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(info.streamStart), g.data.size()), g.data);
    }
}

TEST(PageImage, EachDeviationHasItsCode)
{
    struct Bad {
        Case c;
        int code;
    };
    const Bad bads[] = {
        {{.name = "page index past the list", .pageIndex = 2}, -1},
        {{.name = "negative page index", .pageIndex = -1}, -1},
        {{.name = "page number 0", .pageList = "8 0\n0 0\n"}, -1},
        {{.name = "list ends inside the line before", .pageList = "8 0"}, -1},
        {{.name = "empty page list", .pageIndex = 0, .pageList = ""}, -1},
        {{.name = "page not in table", .pageList = "8 0\n6 0\n"}, -2},
        {{.name = "table line without offset", .table = "3\n4 {I} 0 n\n"}, -2},
        {{.name = "table line with blank offset", .table = "3 \n4 {I} 0 n\n"}, -2},
        {{.name = "negative page offset", .table = "3 -5 0 n\n4 {I} 0 n\n"}, -3},
        {{.name = "page offset at end", .table = "3 {E} 0 n\n4 {I} 0 n\n"}, -3},
        {{.name = "page offset saturates", .table = "3 99999999999 0 n\n4 {I} 0 n\n"}, -3},
        {{.name = "no room after page number", .cutAfter = "/Type /Page\n/Parent "}, -3},
        {{.name = "page header", .edits = {{"<<\n/Type /Page", "<< /Type /Page"}}}, -4},
        {{.name = "no room after parent", .cutAfter = "/Parent 1"}, -5},
        {{.name = "resources", .edits = {{"<< /Im0", "<</Im0"}}}, -6},
        {{.name = "no room after image number", .cutAfter = "/Im0 4"}, -7},
        {{.name = "procset", .edits = {{"/ImageC ]", "/ImageB ]"}}}, -8},
        {{.name = "no room after media box width", .cutAfter = "0 0 612"}, -9},
        {{.name = "no room after media box height", .cutAfter = "612 792"}, -10},
        {{.name = "contents", .edits = {{"/Contents", "/Kontents"}}}, -11},
        {{.name = "contents not image + 1", .edits = {{"/Contents 5", "/Contents 6"}}}, -12},
        {{.name = "image + 1 does not wrap",
          .edits = {{"/Im0 4 ", "/Im0 2147483647 "}, {"/Contents 5", "/Contents -2147483648"}}},
         -12},
        {{.name = "no room after contents number", .cutAfter = "/Contents 5"}, -13},
        {{.name = "page closing", .edits = {{"5 0 R\n>>", "5 0 R >>"}}}, -14},
        {{.name = "image not in table",
          .edits = {{"/Im0 4", "/Im0 6"}, {"/Contents 5", "/Contents 7"}}},
         -15},
        {{.name = "image line without offset", .table = "3 {P} 0 n\n4\n"}, -15},
        {{.name = "negative image offset", .table = "3 {P} 0 n\n4 -1 0 n\n"}, -16},
        {{.name = "image offset at end", .table = "3 {P} 0 n\n4 {E} 0 n\n"}, -16},
        {{.name = "no room after image's number", .imageLast = true, .cutAfter = "/Im0 /Width "},
         -16},
        {{.name = "image header", .edits = {{"/Subtype /Image", "/Subtype /Imagf"}}}, -17},
        {{.name = "no room after width", .imageLast = true, .cutAfter = "/Width 2"}, -18},
        {{.name = "height", .edits = {{"/Height", "/height"}}}, -19},
        {{.name = "no room after height line", .imageLast = true, .cutAfter = "/Height 3"}, -20},
        {{.name = "bits per component", .edits = {{"/BitsPerComponent", "/BitsperComponent"}}},
         -21},
        {{.name = "no room for filter and colour", .imageLast = true, .cutAfter = "/DeviceGray"},
         -22},
        {{.name = "filter", .edits = {{"/FlateDecode", "/LZWDecode"}}}, -23},
        {{.name = "colour space", .edits = {{"/DeviceGray", "/DeviceCMYK"}}}, -24},
        {{.name = "length", .edits = {{"\n/Length", " /Length"}}}, -25},
        {{.name = "no room after length", .imageLast = true, .cutAfter = "stream\r\n"}, -26},
        {{.name = "stream keyword", .edits = {{"stream\r\n", "Stream\r\n"}}}, -27},
        {{.name = "data reaching the end", .imageLast = true, .cutAfter = "ABCDEF"}, -28},
        {{.name = "huge length", .edits = {{"/Length 6", "/Length 2147483647"}}}, -28},
        {{.name = "length beyond int32", .edits = {{"/Length 6", "/Length 99999999999"}}}, -28},
        {{.name = "negative length", .edits = {{"/Length 6", "/Length -1"}}}, -29},
    };
    for (const Bad& bad : bads) {
        SCOPED_TRACE(bad.c.name);
        const Built b = build(bad.c);
        ImageInfo info;
        EXPECT_EQ(locate(b, bad.c.pageIndex, &info), bad.code);
        EXPECT_EQ(info.streamStart, nullptr);
    }
}

// A failing step leaves what earlier steps read, and nothing later.
TEST(PageImage, FieldsReadBeforeAFailureStaySet)
{
    const Built b = build({.name = "colour", .edits = {{"/DeviceGray", "/DeviceCMYK"}}});
    ImageInfo info;
    info.filter = Filter::DCT;
    info.isGray = true;
    info.streamLength = 77;
    ASSERT_EQ(locate(b, 1, &info), -24);
    EXPECT_EQ(info.width, 2);
    EXPECT_EQ(info.height, 3);
    EXPECT_EQ(info.bitsPerComponent, 8);
    EXPECT_EQ(info.filter, Filter::Flate);
    EXPECT_TRUE(info.isGray);
    EXPECT_EQ(info.streamLength, 77);
}

// Every truncation and every single-byte change of a good document gives 0
// or a code, and never reads outside the buffer (run under ASan).
TEST(PageImage, TruncationsAndMutationsStayInside)
{
    const Case c{.name = "good", .imageLast = true};
    const Built whole = build(c);
    const std::string_view text(reinterpret_cast<const char*>(whole.doc.get()), whole.docBytes);
    // The data must be followed by one byte at least.
    const std::size_t shortestGood = text.find("ABCDEF") + 7;
    for (std::size_t length = 0; length < whole.docBytes; ++length) {
        std::unique_ptr<Byte[]> doc(new Byte[length]);
        std::memcpy(doc.get(), whole.doc.get(), length);
        ImageInfo info;
        DocumentReader reader(doc.get(), doc.get() + length);
        reader.tableStart = whole.table.get();
        reader.tableEnd = whole.table.get() + whole.tableBytes;
        const int code = locatePageImage(reader, 1, whole.pageList.get(),
                                         whole.pageList.get() + whole.pageListBytes, &info);
        if (length < shortestGood)
            EXPECT_LT(code, 0) << length;
        else
            EXPECT_EQ(code, 0) << length;
    }
    for (std::size_t at = 0; at < whole.docBytes; ++at) {
        for (Byte value : {Byte{0}, Byte{' '}, Byte{'\n'}, Byte{'9'}, Byte{'-'}}) {
            const Byte saved = whole.doc[at];
            whole.doc[at] = value;
            ImageInfo info;
            const int code = locate(whole, 1, &info);
            EXPECT_LE(code, 0);
            EXPECT_GE(code, -29);
            whole.doc[at] = saved;
        }
    }
}

}  // namespace
}  // namespace ravoth
