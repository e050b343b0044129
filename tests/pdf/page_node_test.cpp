#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "pdf/reader.h"

namespace ravoth {
namespace {

// Object 5 at offset 0, its "[" offsets counted by hand from the "5 0 obj\n"
// header of 8 bytes.
struct Reading {
    int pageNode;
    int kidsArray;
    std::int32_t pageNodeError;
    std::int32_t kidsArrayError;
};

Reading readBoth(const std::string& text, int objectNumber = 5)
{
    // Flush against the end of its allocation, so an over-read trips ASan.
    auto copy = std::make_unique<Byte[]>(text.size());
    std::copy(text.begin(), text.end(), copy.get());
    const Byte* end = copy.get() + text.size();
    DocumentReader reader(copy.get(), end);
    Reading r{};
    reader.lastError = 12345;
    r.pageNode = readPageNode(reader, 0, objectNumber);
    r.pageNodeError = reader.lastError;
    reader.lastError = 12345;
    r.kidsArray = findKidsArray(reader, 0, objectNumber);
    r.kidsArrayError = reader.lastError;
    return r;
}

std::string object5(const std::string& body) { return "5 0 obj\n" + body + "\nendobj\n"; }

TEST(PageNode, ResultsOfBothReaders)
{
    const struct {
        const char* body;
        int pageNode;
        int kidsArray;
    } cases[] = {
        {"<< /Type /Page >>", 0, 0},
        {"<< /Type /Page/Rotate 0 >>", 0, 0},
        {"<< /Type /Page>>", 0, 0},
        {"<< /Type %c\n/Page >>", 0, 0},
        {"<< /Type /PageLabel >>", -110, 0},
        {"<< /Type /Catalog >>", -107, 0},
        {"<< /Type /page >>", -107, 0},
        {"<< /Type /Pages >>", -108, 0},
        {"<< /Type /Page /Kids [1 0 R] >>", 0, 30},
        {"<< /Type /Pagesfoo /Kids [1 0 R] >>", 34, 34},
        {"<< /Type /Pages /Kids%c\n[1 0 R] >>", 33, 33},
        {"<< /Kids [1 0 R] >>", -105, 18},
        {"<< /Type /Pages /Kids 1 0 R >>", -109, -109},
        {"<< /Type /Pages /KidsX [1 0 R] >>", -108, 0},
        // The first "/Type" in byte order decides, nested or not.
        {"<< /Resources << /Type /Page >> /Type /Pages /Kids [1 0 R] >>", 0, 60},
        {"[ /Type /Page ]", -103, -103},
        {"<< /Type /Page", -104, -104},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        const Reading r = readBoth(object5(c.body));
        EXPECT_EQ(r.pageNode, c.pageNode);
        EXPECT_EQ(r.kidsArray, c.kidsArray);
        EXPECT_EQ(r.pageNodeError, c.pageNode < 0 ? c.pageNode : 0);
        EXPECT_EQ(r.kidsArrayError, c.kidsArray < 0 ? c.kidsArray : 0);
    }
    const Reading otherObject = readBoth(object5("<< /Type /Page >>"), 6);
    EXPECT_EQ(otherObject.pageNode, -102);
    EXPECT_EQ(otherObject.kidsArray, -102);
}

TEST(PageNode, KidsArrayFarIntoTheDocument)
{
    // "5 0 obj\n<< /Type /Pages /Kids" is 29 bytes; the padding puts "[" at 1000.
    const std::string head = "5 0 obj\n<< /Type /Pages /Kids";
    const std::string fillers[] = {std::string(971, ' '), "%" + std::string(969, 'x') + "\n"};
    for (const std::string& filler : fillers) {
        const Reading r = readBoth(head + filler + "[3 0 R 4 0 R] >>\nendobj\n");
        EXPECT_EQ(r.pageNode, 1001);
        EXPECT_EQ(r.kidsArray, 1001);
    }
}

TEST(PageNode, EveryTruncationFailsCleanlyOrReadsTheSame)
{
    const std::string text = object5("<< /Type /Pages % x\n /Count 2 /Kids [3 0 R 4 0 R] >>");
    const Reading whole = readBoth(text);
    ASSERT_EQ(whole.pageNode, 45);
    ASSERT_EQ(whole.kidsArray, 45);
    for (std::size_t length = 0; length < text.size(); ++length) {
        SCOPED_TRACE(length);
        const Reading r = readBoth(text.substr(0, length));
        EXPECT_TRUE(r.pageNode == whole.pageNode || r.pageNode < 0);
        EXPECT_TRUE(r.kidsArray == whole.kidsArray || r.kidsArray < 0);
        EXPECT_EQ(r.pageNodeError, r.pageNode < 0 ? r.pageNode : 0);
        EXPECT_EQ(r.kidsArrayError, r.kidsArray < 0 ? r.kidsArray : 0);
    }
}

}  // namespace
}  // namespace ravoth
