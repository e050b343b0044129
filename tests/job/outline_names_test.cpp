#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>
#include <set>
#include <string>

#include "job/extraction.h"
#include "platform/path.h"
#include "platform/text.h"
#include "tests/fixture/pdf_builder.h"
#include "tests/support/ctype_locale.h"
#include "tests/support/run_once.h"
#include "tests/support/temp_folder.h"

namespace ravoth {
namespace {

using fixture::MeskerDocument;
using fixture::OutlineItem;
using testing::readFileBytes;
using testing::TempFolder;

// Extracts with bookmark titles as names, in a UTF-8 locale.
class OutlineNames : public ::testing::Test {
protected:
    // Bookmark titles as names, unless a test turns them off.
    bool outlineNames_ = true;

    std::set<std::string> extract(const MeskerDocument& document, int expectedResult = 0)
    {
        built_ = fixture::buildMesker(document);
        const std::string pdf = folder_.file("Book.pdf");
        EXPECT_TRUE(fixture::writeFile(pdf, built_.bytes));
        const testing::RunOnce once = testing::runOnce(pdf, 0, 0, {}, outlineNames_);
        EXPECT_EQ(once.result, expectedResult) << once.lastError;
        std::set<std::string> names = folder_.names();
        names.erase("Book.pdf");
        return names;
    }

    // Where the system takes names in the ANSI code page instead, the
    // locale does not matter to the ASCII titles that most cases use.
    testing::CtypeLocale utf8_{"C.UTF-8"};
    TempFolder folder_;
    fixture::BuiltPdf built_;
};

MeskerDocument pages(int count)
{
    MeskerDocument document;
    for (int k = 0; k < count; ++k) document.pages.push_back(fixture::flatePage(2, 2, 8, true, static_cast<unsigned>(k)));
    return document;
}

OutlineItem to(int page, std::string title) { return {std::move(title), fixture::destToPage(page), {}}; }

TEST_F(OutlineNames, FirstBookmarkNamesThePageAndOthersKeepNumbers)
{
    MeskerDocument document = pages(4);
    document.outline = {
        {"(Part One)", fixture::destToPage(0), {to(0, "(Never: a later bookmark)"), to(1, "(Chapter 1)")}},
        to(1, "(Also chapter 1)"),
        {"(Via GoTo)", "/A << /S /GoTo /D [{P3} 0 R /Fit] >>", {}},
    };
    EXPECT_EQ(extract(document), (std::set<std::string>{"Part One.bmp", "Chapter 1.bmp", "Book-3.bmp", "Via GoTo.bmp"}));
}

TEST_F(OutlineNames, TitlesInEveryFormDecode)
{
    ASSERT_STREQ(localEncodingName(), "UTF-8") << "the cases below expect UTF-8 names";
    struct Case {
        const char* name;
        std::string title;
        std::string fileName;
    };
    const Case cases[] = {
        {"escapes", R"((a\(b\) \101BC\8))", "a(b) ABC8.bmp"},
        {"hex", "<48 65 78 4>", "Hex@.bmp"},
        {"UTF-16 as octal escapes", R"((\376\377\0001\000a\000b))", "1ab.bmp"},
        {"UTF-16 hex", "<FEFF65E5672C8A9E>", "日本語.bmp"},
        {"UTF-16 as raw bytes", std::string("(\xFE\xFF\x30\x42\x30\x44\x30\x46)"), "あいう.bmp"},
        {"combining mark composed", "<FEFF00650301>", "\xC3\xA9.bmp"},
        {"empty literal", "()", "Book-1.bmp"},
        {"empty hex", "<>", "Book-1.bmp"},
        {"only a byte-order mark", R"((\376\377))", "Book-1.bmp"},
        {"a slash", "(a/b)", "Book-1.bmp"},
        {"parent folder", "(..)", "Book-1.bmp"},
        {"this folder", "(.)", "Book-1.bmp"},
        {"escaped slash in UTF-16", "<FEFF0061002F0062>", "Book-1.bmp"},
        {"a NUL", R"((a\000b))", "Book-1.bmp"},
        {"bad hex", "<4G>", "Book-1.bmp"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder other;
        MeskerDocument document = pages(1);
        document.outline = {to(0, c.title)};
        const std::string pdf = other.file("Book.pdf");
        ASSERT_TRUE(fixture::writeFile(pdf, fixture::buildMesker(document).bytes));
        EXPECT_EQ(testing::runOnce(pdf, 0, 0, {}, true).result, 0);
        EXPECT_EQ(other.names(), (std::set<std::string>{"Book.pdf", c.fileName}));
    }
}

// Also when the earlier page is far larger, so that its file, written on
// another thread, would be placed after the later one's had the later page
// not waited for it.
TEST_F(OutlineNames, SameTitleTwiceKeepsTheLaterPage)
{
    for (const std::size_t earlierExtraBytes : {std::size_t{0}, std::size_t{40} << 20}) {
        SCOPED_TRACE(earlierExtraBytes);
        MeskerDocument document;
        document.pages = {fixture::dctPage(8, 8, true, 1), fixture::dctPage(16, 8, true, 2)};
        document.pages[0].data.append(earlierExtraBytes, 'x');
        document.outline = {to(0, "(Same)"), to(1, "(Same)")};
        EXPECT_EQ(extract(document), (std::set<std::string>{"Same.jpg"}));
        EXPECT_EQ(readFileBytes(folder_.file("Same.jpg")), built_.imageStreams[1]);
        std::filesystem::remove(folder_.file("Same.jpg"));
    }
}

// Trying a title's name on the file system must not harm what is there: a
// file of that name survives when its page then fails, a symbolic link's
// target is never written, and a folder of that name sends the page to its
// numbered name.
TEST_F(OutlineNames, TryingANameLeavesWhatIsThereAlone)
{
    MeskerDocument document;
    document.pages = {fixture::dctPage(8, 8, true, 1), fixture::flatePage(2, 2, 8, true, 2),
                      fixture::dctPage(8, 8, true, 3), fixture::dctPage(8, 8, true, 4)};
    // Page 2's stream is no zlib stream at all: the page fails after its
    // name has been tried.
    document.pages[1].data = "not deflated";
    document.pages[1].precompressed = true;
    document.outline = {to(0, "(Holiday)"), to(1, "(Photo)"), to(2, "(Folder)"), to(3, "(Plain)")};
    const std::string mine = "the user's own photo";
    ASSERT_TRUE(fixture::writeFile(folder_.file("Photo.bmp"), mine));
    TempFolder elsewhere;
    ASSERT_TRUE(fixture::writeFile(elsewhere.file("target.jpg"), mine));
    std::error_code error;
    std::filesystem::create_symlink(elsewhere.file("target.jpg"), folder_.file("Holiday.jpg"), error);
    // Windows lets only some users make links; the rest holds without one.
    const bool linked = !error;
    if (!linked) RecordProperty("symlink", "not made: " + error.message());
    ASSERT_TRUE(std::filesystem::create_directory(folder_.file("Folder.jpg")));

    EXPECT_EQ(extract(document, -13),
              (std::set<std::string>{"Holiday.jpg", "Photo.bmp", "Folder.jpg", "Book-3.jpg", "Plain.jpg"}));
    EXPECT_EQ(readFileBytes(folder_.file("Photo.bmp")), mine);
    EXPECT_EQ(readFileBytes(elsewhere.file("target.jpg")), mine);
    // The link itself gave way to the page's picture.
    EXPECT_EQ(readFileBytes(folder_.file("Holiday.jpg")), built_.imageStreams[0]);
    if (linked) {
        EXPECT_FALSE(std::filesystem::is_symlink(folder_.file("Holiday.jpg")));
    }
    EXPECT_EQ(readFileBytes(folder_.file("Book-3.jpg")), built_.imageStreams[2]);
}

TEST_F(OutlineNames, IndirectTitleAndNamedDestinations)
{
    MeskerDocument document = pages(4);
    document.extraObjects = {"(Indirect)\n"};
    document.nameTreeDests = {{"(ch10)", "[{P3} 0 R /Fit]"}, {"(ch1)", "[{P1} 0 R /Fit]"}, {"(ch)", "[{P2} 0 R /Fit]"}};
    document.destsDictionary = {{"/named", "[{P3} 0 R /Fit]"}};
    document.outline = {
        {"{E0} 0 R", fixture::destToPage(0), {}},
        {"(By string)", "/Dest (ch1)", {}},
        {"(By hex)", "/Dest <6368>", {}},
        {"(By name)", "/Dest /named", {}},
    };
    EXPECT_EQ(extract(document),
              (std::set<std::string>{"Indirect.bmp", "By string.bmp", "Book-3.bmp", "By name.bmp"}));
}

TEST_F(OutlineNames, LongTitleIsCutToAWholeNameOf259Bytes)
{
    const std::string folder = folder_.file("");
    ASSERT_LT(folder.size(), 200u);
    const std::size_t fits = 259 - folder.size() - 4;
    struct Case {
        std::size_t titleBytes;
        std::size_t keptBytes;
    };
    for (const Case& c : {Case{fits, fits}, Case{fits + 30, fits}, Case{fits - 1, fits - 1}}) {
        SCOPED_TRACE(c.titleBytes);
        TempFolder other;
        const std::string otherFolder = other.file("");
        ASSERT_EQ(otherFolder.size(), folder.size());
        MeskerDocument document = pages(1);
        std::string title(c.titleBytes + 2, 't');
        title.front() = '(';
        title.back() = ')';
        document.outline = {to(0, title)};
        const std::string pdf = other.file("Book.pdf");
        ASSERT_TRUE(fixture::writeFile(pdf, fixture::buildMesker(document).bytes));
        EXPECT_EQ(testing::runOnce(pdf, 0, 0, {}, true).result, 0);
        const std::string expected = std::string(c.keptBytes, 't') + ".bmp";
        EXPECT_EQ(other.names(), (std::set<std::string>{"Book.pdf", expected}));
        EXPECT_LE(otherFolder.size() + expected.size(), 259u);
    }
}

// A base longer than the name buffer is cut; the title's name must not go
// to the folder in which the cut happens to end, one above the base's own.
TEST_F(OutlineNames, BaseCutShortWritesNoTitleNameAboveItsFolder)
{
    MeskerDocument document = pages(1);
    document.outline = {to(0, "(ab)")};
    const std::string pdf = folder_.file("Book.pdf");
    ASSERT_TRUE(fixture::writeFile(pdf, fixture::buildMesker(document).bytes));
    const std::string above = folder_.file(std::string(200, 'a'));
    ASSERT_LE(above.size() + std::string("/ab.bmp").size(), 259u);
    std::string folder = above;
    while (folder.size() <= maxPathBytes) folder += "/" + std::string(200, 'b');
    ASSERT_TRUE(std::filesystem::create_directories(folder));
    EXPECT_EQ(testing::runOnce(pdf, 0, 0, folder + "/Book.pdf", true).result, -13);
    EXPECT_FALSE(std::filesystem::exists(above + "/ab.bmp"));
    EXPECT_FALSE(std::filesystem::exists(folder + "/ab.bmp"));
}

TEST_F(OutlineNames, WithoutOutlineOrOptionPagesKeepNumbers)
{
    EXPECT_EQ(extract(pages(2)), (std::set<std::string>{"Book-1.bmp", "Book-2.bmp"}));
    MeskerDocument document = pages(2);
    document.outline = {to(0, "(Title)")};
    outlineNames_ = false;
    EXPECT_EQ(extract(document), (std::set<std::string>{"Book-1.bmp", "Book-2.bmp"}));
}

TEST_F(OutlineNames, BrokenOutlineFailsTheRunWithItsCode)
{
    struct Case {
        const char* name;
        std::string catalogExtra;
        std::vector<std::string> extraObjects;
        std::int32_t lastError;
    };
    const Case cases[] = {
        {"outline is not a dictionary", "/Outlines {E0} 0 R", {"[1 2 3]\n"}, -151},
        {"outline reference broken", "/Outlines 99 0 R", {}, -164},
        {"item loops back", "/Outlines {E0} 0 R",
         {"<< /First {E1} 0 R >>\n", "<< /Title (x) /Next {E1} 0 R >>\n"}, -148},
        {"name tree value malformed", "/Outlines {E0} 0 R /Names << /Dests {E2} 0 R >>\n",
         {"<< /First {E1} 0 R >>\n", "<< /Title (x) /Dest (k) >>\n", "<< /Names [(k) true] >>\n"}, -1624},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder other;
        MeskerDocument document = pages(1);
        document.catalogExtra = c.catalogExtra;
        document.extraObjects = c.extraObjects;
        const std::string pdf = other.file("Book.pdf");
        ASSERT_TRUE(fixture::writeFile(pdf, fixture::buildMesker(document).bytes));
        const testing::RunOnce once = testing::runOnce(pdf, 0, 0, {}, true);
        EXPECT_EQ(once.result, -11);
        EXPECT_EQ(once.lastError, c.lastError);
        EXPECT_FALSE(once.written);
    }
}

}  // namespace
}  // namespace ravoth
