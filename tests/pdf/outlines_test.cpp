#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "pdf/reader.h"
#include "platform/memory.h"
#include "tests/support/exact_buffer.h"
#include "tests/support/faults.h"
#include "tests/support/mini_document.h"

namespace ravoth {
namespace {

using Obj = testing::ObjectText;
using testing::closedForScanOnly;
using testing::compose;
using testing::ExactBuffer;
using testing::last;
using testing::MiniDocument;
using testing::PreparedDocument;

const std::string outlineCatalogue = "<< /Type /Catalog /Pages 2 0 R /Outlines 10 0 R >>";
const Obj outlineRoot{10, "<< /Type /Outlines /First 11 0 R /Count 1 >>"};
// Page objects 3, 12, 4, 5 in this order.
const std::string fourPages = "3 0\n12 0\n4 0\n5 0\n";

MiniDocument outline(const std::vector<Obj>& objects,
                     const std::string& catalogue = outlineCatalogue)
{
    return compose(catalogue, objects);
}

// The root and its only item 11 holding `keys`, then `more`.
MiniDocument oneItem(const std::string& keys, std::vector<Obj> more = {},
                     const std::string& catalogue = outlineCatalogue)
{
    more.insert(more.begin(), {outlineRoot, {11, "<< " + keys + " >>"}});
    return compose(catalogue, more);
}

struct Item {
    std::string title;
    std::int32_t page;
    bool operator==(const Item&) const = default;
};
void PrintTo(const Item& i, std::ostream* os) { *os << "{" << i.title << ", " << i.page << "}"; }

struct Read {
    int result = 0;
    std::int32_t error = 0;
    std::int32_t count = 0;
    std::vector<Item> items;                // records 1 to count - 1
    std::vector<std::ptrdiff_t> titleAt;    // their titles' offsets, -1 for none
};

// Checks what every handed-out outline array must satisfy, whatever the input.
void expectSoundRecords(const PreparedDocument& p, const OutlineEntry* records, std::int32_t count,
                        std::int32_t pageLines)
{
    ASSERT_GE(count, 1);
    EXPECT_EQ(records[0].titleLength, 0);
    EXPECT_EQ(records[0].titleText, nullptr);
    EXPECT_EQ(records[0].pageIndex, -1);
    for (std::int32_t i = 0; i < count; ++i) {
        const OutlineEntry& r = records[i];
        EXPECT_EQ(r.titleText == nullptr, r.titleLength == 0) << "record " << i;
        if (r.titleText) {
            EXPECT_TRUE(p.holds(r.titleText)) << "record " << i;
            EXPECT_LE(r.titleLength, p.end() - r.titleText) << "record " << i;
        }
        EXPECT_GE(r.pageIndex, -1) << "record " << i;
        EXPECT_LT(r.pageIndex, pageLines) << "record " << i;
    }
}

Read readOutline(const MiniDocument& d, const std::string& pageList = fourPages,
                 std::size_t length = std::string::npos)
{
    const long long liveBefore = liveBlockCount();
    PreparedDocument p(d, 1, length);
    ExactBuffer list(pageList);
    OutlineEntry* records = nullptr;
    Read r;
    r.result = collectOutlines(p.reader(), p.catalogueStart(),
                               p.catalogueEnd(), list.begin(), list.end(), 7, &records, &r.count);
    r.error = p.reader().lastError;
    if (r.result == -1) {
        EXPECT_NE(r.error, 0) << "a failure without a reason";
        EXPECT_EQ(records, nullptr) << "a failure handed out the outline array";
        freeBlock(records);
    } else {
        EXPECT_EQ(r.result, 7);
        EXPECT_EQ(r.error, 0);
        if (records) {
            const auto lines =
                static_cast<std::int32_t>(std::count(pageList.begin(), pageList.end(), '\n'));
            expectSoundRecords(p, records, r.count, lines);
            for (std::int32_t i = 1; i < r.count; ++i) {
                const OutlineEntry& e = records[i];
                r.items.push_back({std::string(reinterpret_cast<const char*>(e.titleText),
                                               static_cast<std::size_t>(e.titleLength)),
                                   e.pageIndex});
                r.titleAt.push_back(e.titleText ? e.titleText - p.begin() : -1);
            }
        }
        freeBlock(records);
    }
    EXPECT_EQ(liveBlockCount(), liveBefore) << "blocks left alive";
    return r;
}

TEST(OutlineList, TakesTheTitleAndThePageOfEachItem)
{
    const struct {
        const char* name;
        std::string keys;
        std::vector<Obj> more;
        Item item;
    } cases[] = {
        {"explicit destination", "/Title (A) /Parent 10 0 R /Dest [12 0 R /XYZ 0 792 0]", {},
         {"(A)", 1}},
        {"explicit destination without ]", "/Title (A) /Dest [12 0 R /XYZ 0 792 0", {},
         {"(A)", -1}},
        {"comments inside the array", "/Title (A) /Dest [ 12 %c]\n0 %c\rR %]\n/Fit]", {},
         {"(A)", 1}},
        {"generation missing", "/Title (A) /Dest [12 R /Fit]", {}, {"(A)", -1}},
        {"R missing", "/Title (A) /Dest [12 0 Q /Fit]", {}, {"(A)", -1}},
        {"page object first", "/Title (A) /Dest [/Fit 12 0 R]", {}, {"(A)", -1}},
        {"page object 0", "/Title (A) /Dest [0 0 R]", {}, {"(A)", -1}},
        {"page object on no page line", "/Title (A) /Dest [99 0 R]", {}, {"(A)", -1}},
        {"destination by reference", "/Title (A) /Dest 21 0 R", {{21, "[4 0 R /Fit]"}}, {"(A)", 2}},
        {"GoTo action", "/Title (A) /A << /S /GoTo /D [12 0 R /Fit] >>", {}, {"(A)", 1}},
        {"GoTo action and its /D by reference", "/Title (A) /A 20 0 R",
         {{20, "<< /S /GoTo /D 21 0 R >>"}, {21, "[5 0 R /Fit]"}}, {"(A)", 3}},
        {"URI action, /Dest not consulted",
         "/Title (A) /A << /S /URI /URI (http://example.org/GoTo) >> /Dest [12 0 R /Fit]", {},
         {"(A)", -1}},
        {"remote GoTo action: its /D is in another file",
         "/Title (A) /A << /S /GoToR /F (other.pdf) /D [12 0 R /Fit] >>", {}, {"(A)", -1}},
        {"GoTo action without /D, /Dest not consulted",
         "/Title (A) /A << /S /GoTo >> /Dest [12 0 R /Fit]", {}, {"(A)", -1}},
        {"no destination", "/Title (A)", {}, {"(A)", -1}},
        {"destination of another kind", "/Title (A) /Dest 0", {}, {"(A)", -1}},
        {"nested and escaped parentheses", "/Title (a(b)c\\)) /Dest [3 0 R]", {},
         {"(a(b)c\\))", 0}},
        {"hex title", "/Title <41 42> /Dest [3 0 R]", {}, {"<41 42>", 0}},
        {"title is a name", "/Title /Name /Dest [3 0 R]", {}, {"", 0}},
        {"no title", "/Dest [3 0 R]", {}, {"", 0}},
        {"string destination runs to the end", "/Title (A) /Dest 21 0 R", {last(21, "(ch1")},
         {"(A)", -1}},
        {"hex destination runs to the end", "/Title (A) /Dest 21 0 R", {last(21, "<6368")},
         {"(A)", -1}},
        {"name destination runs to the end", "/Title (A) /Dest 21 0 R", {last(21, "/ch1")},
         {"(A)", -1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Read r = readOutline(oneItem(c.keys, c.more));
        EXPECT_EQ(r.result, 7) << r.error;
        EXPECT_EQ(r.count, 2);
        EXPECT_EQ(r.items, std::vector<Item>{c.item});
    }
}

TEST(OutlineList, FollowsAnIndirectTitleIntoItsObject)
{
    const MiniDocument d = oneItem("/Title 15 0 R /Dest [3 0 R]", {{15, "(Three)"}});
    const Read r = readOutline(d);
    ASSERT_EQ(r.result, 7) << r.error;
    EXPECT_EQ(r.items, (std::vector<Item>{{"(Three)", 0}}));
    ASSERT_EQ(r.titleAt.size(), 1u);
    EXPECT_EQ(r.titleAt[0], static_cast<std::ptrdiff_t>(d.bodyOffset(15)));
}

TEST(OutlineList, VisitsItemsDepthFirstWithChildrenInNextOrder)
{
    const struct {
        const char* name;
        std::vector<Obj> objects;
        std::vector<Item> items;
    } cases[] = {
        {"no /First: the root only", {{10, "<< /Type /Outlines /Count 0 >>"}}, {}},
        {"the root's /Title, /Dest, /A and /Next are never read",
         {{10, "<< /Title 97 0 R /Dest 98 0 R /A 96 0 R /Next 95 0 R /First 11 0 R >>"},
          {11, "<< /Title (A) /Dest [3 0 R] >>"}},
         {{"(A)", 0}}},
        {"two items on the same page",
         {outlineRoot, {11, "<< /Title (A) /Next 12 0 R /Dest [4 0 R] >>"},
          {12, "<< /Title (B) /Dest [4 0 R /Fit] >>"}},
         {{"(A)", 2}, {"(B)", 2}}},
        {"nested",
         {outlineRoot,
          {11, "<< /Title (A) /First 13 0 R /Next 12 0 R /Last 14 0 R >>"},
          {13, "<< /Title (A1) /Next 14 0 R /Dest [3 0 R] >>"},
          {14, "<< /Title (A2) /First 16 0 R /Dest [4 0 R] >>"},
          {16, "<< /Title (A2a) >>"},
          {12, "<< /Title (B) /First 15 0 R /Dest [5 0 R] >>"},
          {15, "<< /Title (B1) /Dest [12 0 R] >>"}},
         {{"(A)", -1}, {"(A1)", 0}, {"(A2)", 2}, {"(A2a)", -1}, {"(B)", 3}, {"(B1)", 1}}},
        {"direct items",
         {{10, "<< /First << /Title (A) /Dest [5 0 R] >> >>"}},
         {{"(A)", 3}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Read r = readOutline(outline(c.objects));
        EXPECT_EQ(r.result, 7) << r.error;
        EXPECT_EQ(r.count, static_cast<std::int32_t>(c.items.size() + 1));
        EXPECT_EQ(r.items, c.items);
    }
}

TEST(OutlineList, LeavesTheOutputsAloneWithoutOutlines)
{
    const MiniDocument d = compose("<< /Type /Catalog /Pages 2 0 R >>", {outlineRoot});
    for (const char* pageList : {"3 0\n", ""}) {
        SCOPED_TRACE(pageList);
        PreparedDocument p(d, 1);
        ExactBuffer list(pageList);
        OutlineEntry sentinel{};
        OutlineEntry* records = &sentinel;
        std::int32_t count = 42;
        p.reader().lastError = -99;
        EXPECT_EQ(collectOutlines(p.reader(), p.catalogueStart(), p.catalogueEnd(), list.begin(), list.end(), 7,
                                  &records, &count),
                  7);
        EXPECT_EQ(p.reader().lastError, 0);
        EXPECT_EQ(records, &sentinel);
        EXPECT_EQ(count, 42);
    }
}

TEST(OutlineList, TurnsPageObjectsIntoPageIndexesThroughThePageList)
{
    const struct {
        const char* name;
        std::string pageList;
        std::string destination;
        std::int32_t page;
    } cases[] = {
        {"a later line for the same object wins", "12 0\n3 0\n12 0\n", "[12 0 R]", 2},
        {"a huge object number", "3 0\n2000000000 0\n", "[2000000000 0 R /Fit]", 1},
        {"a line for object 0 still counts", "0 0\n12 0\n", "[12 0 R]", 1},
        {"reading stops at a line without a number", "3 0\nx\n12 0\n", "[12 0 R]", -1},
        {"reading stops at a line without LF", "3 0\n12 0", "[12 0 R]", -1},
        {"the first line", "12 0\n3 0\n", "[12 0 R]", 0},
        {"object 1 on a one-line list", "1 0\n", "[1 0 R]", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Read r = readOutline(oneItem("/Title (A) /Dest " + c.destination), c.pageList);
        EXPECT_EQ(r.result, 7) << r.error;
        EXPECT_EQ(r.items, (std::vector<Item>{{"(A)", c.page}}));
    }
}

// Catalogue 1 with /Names 3 -> 4, a one-leaf name tree, and /Dests 30.
MiniDocument namedDestinations(const std::vector<std::string>& destinations,
                               const std::string& catalogue)
{
    std::vector<Obj> objects = {
        {10, "<< /First 100 0 R >>"},
        {3, "<< /Dests 4 0 R >>"},
        {4, "<< /Names [(ch10) [3 0 R] (ch1) [4 0 R] <6368> [5 0 R] (gone) null] >>"},
        {30, "<< /ch1 [5 0 R] /intro 31 0 R >>"},
        {31, "<< /D [3 0 R /Fit] >>"},
        {40, "(ch10)"},
    };
    for (std::size_t i = 0; i < destinations.size(); ++i) {
        const std::string next =
            i + 1 < destinations.size() ? " /Next " + std::to_string(101 + i) + " 0 R" : "";
        const std::string title = "/Title (" + std::to_string(i) + ") ";
        const int number = static_cast<int>(100 + i);
        objects.push_back({number, "<< " + title + destinations[i] + next + " >>"});
    }
    return compose(catalogue, objects);
}

TEST(OutlineList, LooksNamedDestinationsUpInTheirTables)
{
    // Pages: object 3 -> 0, 4 -> 1, 5 -> 2.
    const std::string pages = "3 0\n4 0\n5 0\n";
    const std::vector<std::string> destinations = {
        "/Dest (ch1)",        // the string table's ch1, not ch10 before it
        "/Dest <6368>",       // the hex key as written
        "/Dest <636831>",     // ch1 in hex is no literal ch1
        "/Dest (ch)",         // a prefix of keys
        "/Dest /ch1",         // the name table's ch1
        "/Dest /intro",       // by reference to a dictionary with /D
        "/Dest /ch10",        // only in the string table
        "/Dest (gone)",       // an entry without page
        "/A << /S /GoTo /D (ch1) >>",
        "/Dest 40 0 R",       // a string by reference
        "/Dest (ch1%)",       // the comment sign is part of a string
    };
    const std::vector<std::int32_t> withTables = {1, 2, -1, -1, 2, 0, -1, -1, 1, 0, -1};
    const struct {
        const char* name;
        std::string catalogue;
        std::vector<std::int32_t> pages;
    } cases[] = {
        {"both tables", "<< /Outlines 10 0 R /Names 3 0 R /Dests 30 0 R >>", withTables},
        {"neither table in the catalogue", "<< /Outlines 10 0 R >>",
         std::vector<std::int32_t>(destinations.size(), -1)},
        {"names match /Dests keys only", "<< /Outlines 10 0 R /Dests 30 0 R >>",
         {-1, -1, -1, -1, 2, 0, -1, -1, -1, -1, -1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Read r = readOutline(namedDestinations(destinations, c.catalogue), pages);
        ASSERT_EQ(r.result, 7) << r.error;
        ASSERT_EQ(r.items.size(), destinations.size());
        for (std::size_t i = 0; i < destinations.size(); ++i)
            EXPECT_EQ(r.items[i].page, c.pages[i]) << destinations[i];
    }
}

TEST(OutlineList, BuildsOnlyTheDestinationTablesItsItemsUse)
{
    // A table that is read from a broken source fails the run, so success
    // shows it was not built.
    const std::string brokenNames = "<< /Outlines 10 0 R /Names 99 0 R >>";
    const struct {
        const char* name;
        std::string catalogue;
        std::string keys;
        std::int32_t page;
        std::int32_t code;  // 0: success
    } cases[] = {
        {"explicit arrays only", "<< /Outlines 10 0 R /Names 99 0 R /Dests [ >>", "/Dest [4 0 R]",
         1, 0},
        {"strings only", "<< /Outlines 10 0 R /Names 3 0 R /Dests 99 0 R >>", "/Dest (ch1)", 1, 0},
        {"names only", "<< /Outlines 10 0 R /Names 99 0 R /Dests 30 0 R >>", "/Dest /ch1", 2, 0},
        {"a string reads /Names", brokenNames, "/Dest (ch1)", 0, -164},
        {"a hex string reads /Names", brokenNames, "/Dest <6368>", 0, -164},
        {"a string behind a GoTo action reads /Names", brokenNames,
         "/A << /S /GoTo /D (ch1) >>", 0, -164},
        {"the /Dest beside a URI action is not looked at", brokenNames,
         "/A << /S /URI >> /Dest (ch1)", -1, 0},
        {"a name reads /Dests", "<< /Outlines 10 0 R /Dests [ >>", "/Dest /ch1", 0, -151},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Read r = readOutline(namedDestinations({c.keys}, c.catalogue), "3 0\n4 0\n5 0\n");
        if (c.code == 0) {
            EXPECT_EQ(r.result, 7) << r.error;
            EXPECT_EQ(r.items, (std::vector<Item>{{"(0)", c.page}}));
        } else {
            EXPECT_EQ(r.result, -1);
            EXPECT_EQ(r.error, c.code);
        }
    }
}

TEST(OutlineList, FailsWithTheCodeOfTheBrokenPart)
{
    const struct {
        const char* name;
        MiniDocument document;
        std::int32_t code;
    } cases[] = {
        {"title runs to the end", oneItem("/Title 15 0 R", {last(15, "(abc")}), -2},
        {"hex title runs to the end", oneItem("/Title 15 0 R", {last(15, "<6162 %>")}), -2},
        {"/Outlines is no dictionary", outline({}, "<< /Type /Catalog /Outlines (x) >>"), -151},
        {"root is no dictionary", outline({{10, "[11 0 R]"}}), -151},
        {"item is no dictionary", outline({outlineRoot, {11, "(A)"}}), -151},
        {"action is no dictionary", oneItem("/A (x)"), -151},
        {"ends inside <<", outline({last(10, "<")}), -152},
        {"ends right behind <<", outline({last(10, "<<")}), -152},
        {"action ends inside <<", oneItem("/A 20 0 R", {last(20, "<")}), -152},
        {"second byte of <<", outline({{10, "<x /First 11 0 R >>"}}), -153},
        {"root without >>", outline({{10, "<< /First 11 0 R"}}), -154},
        {"action without >>", oneItem("/A 20 0 R", {{20, "<< /S /GoTo /D [3 0 R]"}}), -154},
        {"/Outlines reference without generation",
         outline({outlineRoot}, "<< /Type /Catalog /Outlines 10 /x >>"), -161},
        {"/First reference without generation", outline({{10, "<< /First 11 /x >>"}}), -161},
        {"white space to the end behind /Dest",
         outline({outlineRoot, last(11, closedForScanOnly("/Dest ", true))}), -161},
        {"white space to the end behind /Next",
         outline({outlineRoot, last(11, closedForScanOnly("/Next ", true))}), -161},
        {"white space to the end behind /D",
         oneItem("/A 20 0 R", {last(20, closedForScanOnly("/S /GoTo /D ", true))}), -161},
        {"comment to the end behind /First", outline({last(10, closedForScanOnly("/First "))}),
         -162},
        {"comment to the end behind /Dest",
         outline({outlineRoot, last(11, closedForScanOnly("/Dest "))}), -162},
        {"comment to the end behind /A", outline({outlineRoot, last(11, closedForScanOnly("/A "))}),
         -162},
        {"comment to the end behind /Title",
         outline({outlineRoot, last(11, closedForScanOnly("/Title "))}), -162},
        {"comment to the end behind /D",
         oneItem("/A 20 0 R", {last(20, closedForScanOnly("/S /GoTo /D "))}), -162},
        {"/Outlines reference without R",
         outline({outlineRoot}, "<< /Type /Catalog /Outlines 10 0 /x >>"), -163},
        {"/First reference without R", outline({{10, "<< /First 11 0 /x >>"}}), -163},
        {"/Outlines object missing",
         outline({outlineRoot}, "<< /Type /Catalog /Outlines 99 0 R >>"), -164},
        {"/First object missing", outline({{10, "<< /First 99 0 R >>"}}), -164},
        {"/Title object missing", oneItem("/Title 99 0 R"), -164},
        {"/Dest object missing", oneItem("/Dest 99 0 R"), -164},
        {"/A object missing", oneItem("/A 99 0 R"), -164},
        {"/D object missing", oneItem("/A 20 0 R", {{20, "<< /S /GoTo /D 99 0 R >>"}}), -164},
        {"a destination table's code passes through",
         oneItem("/Dest (ch1)", {{3, "<< /Dests 4 0 R >>"}, {4, "<< /Kids (x) >>"}},
                 "<< /Outlines 10 0 R /Names 3 0 R >>"),
         -155},
        {"a value code of a deeper name tree passes through",
         oneItem("/Dest (ch1)",
                 {{3, "<< /Dests 4 0 R >>"}, {4, "<< /Kids [6 0 R] >>"},
                  {6, "<< /Names [(ch1) true] >>"}},
                 "<< /Outlines 10 0 R /Names 3 0 R >>"),
         -1624},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Read r = readOutline(c.document);
        EXPECT_EQ(r.result, -1);
        EXPECT_EQ(r.error, c.code);
    }
}

TEST(OutlineList, FailsWithoutAPageToMapTo)
{
    for (const char* pageList : {"", "0 0\n", "x 0\n", "3 0"}) {
        SCOPED_TRACE(pageList);
        const Read r = readOutline(oneItem("/Title (A) /Dest [3 0 R]"), pageList);
        EXPECT_EQ(r.result, -1);
        EXPECT_EQ(r.error, -1);
    }
}

// Thirty items, each one's /First and /Next the following item: no cycle,
// but 2^30 visits of the last one if nothing bounds the walk.
std::vector<Obj> sharedChildren()
{
    std::vector<Obj> objects = {outlineRoot};
    for (int i = 0; i < 30; ++i) {
        const std::string next = std::to_string(12 + i) + " 0 R";
        objects.push_back(
            {11 + i, i + 1 < 30 ? "<< /First " + next + " /Next " + next + " >>" : "<< >>"});
    }
    return objects;
}

TEST(OutlineList, EndsOutlinesThatLeadBackToAnItem)
{
    const struct {
        const char* name;
        std::vector<Obj> objects;
    } cases[] = {
        {"/Next is the item itself", {outlineRoot, {11, "<< /Title (A) /Next 11 0 R >>"}}},
        {"/Next leads back to an earlier item",
         {outlineRoot, {11, "<< /Next 12 0 R >>"}, {12, "<< /Next 13 0 R >>"},
          {13, "<< /Next 11 0 R >>"}}},
        {"/First is the item itself", {outlineRoot, {11, "<< /First 11 0 R >>"}}},
        {"/First leads to the root", {outlineRoot, {11, "<< /First 10 0 R >>"}}},
        {"a child's /Next is its parent",
         {outlineRoot, {11, "<< /First 12 0 R >>"}, {12, "<< /Next 11 0 R >>"}}},
        {"a direct item names itself", {{10, "<< /First << /Next 10 0 R >> >>"}}},
        {"items that share their children", sharedChildren()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Read r = readOutline(outline(c.objects));
        EXPECT_EQ(r.result, -1);
        EXPECT_EQ(r.error, -148);
    }
}

// `count` items 11, 12, ... under the root, each the next one's sibling
// (/Next) or its parent (/First).
MiniDocument chain(int count, const char* link)
{
    std::vector<Obj> objects = {outlineRoot};
    for (int i = 0; i < count; ++i) {
        const std::string next =
            i + 1 < count ? std::string(link) + " " + std::to_string(12 + i) + " 0 R" : "";
        objects.push_back({11 + i, "<< /Title (t) /Dest [3 0 R] " + next + " >>"});
    }
    return outline(objects);
}

TEST(OutlineList, FailsWhenMemoryRunsOutAndFreesWhatItTook)
{
    const MiniDocument explicitOnly = oneItem("/Title (A) /Dest [3 0 R]");
    const MiniDocument named =
        oneItem("/Title (A) /Dest (a)",
                {{3, "<< /Dests 4 0 R >>"}, {4, "<< /Names [(a) [3 0 R]] >>"}},
                "<< /Outlines 10 0 R /Names 3 0 R >>");
    // 24-byte records and 16-byte stack frames, with 260 bytes kept free:
    // the 673rd record and the 1009th frame no longer fit in 16384 bytes.
    static_assert(sizeof(OutlineEntry) == 24, "the counts below assume 64-bit pointers");
    const MiniDocument fullArray = chain(671, "/Next");
    const MiniDocument siblings = chain(672, "/Next");
    const MiniDocument fullStack = chain(1008, "/First");
    const MiniDocument deep = chain(1009, "/First");
    const struct {
        const char* name;
        const MiniDocument& document;
        long long failAt;
        std::int32_t code;
    } cases[] = {
        {"walk stack of the first pass", explicitOnly, 1, -147},
        {"page index map", explicitOnly, 2, -1},
        {"outline array", explicitOnly, 3, -147},
        {"walk stack of the second pass", explicitOnly, 4, -147},
        {"destination table", named, 2, -147},
        {"destination table copy", named, 3, -150},
        {"page index map behind the table", named, 4, -1},
        {"outline array growth", siblings, 5, -148},
        {"walk stack growth", deep, 2, -148},
        {"no walk stack growth", fullStack, 2, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        failAllocationAt(c.failAt);
        const Read r = readOutline(c.document, "3 0\n");
        failAllocationAt(0);
        EXPECT_EQ(r.result, -1);
        EXPECT_EQ(r.error, c.code);
    }
    failAllocationAt(5);
    EXPECT_EQ(readOutline(fullArray, "3 0\n").result, 7) << "no outline array growth";
    failAllocationAt(0);
    EXPECT_EQ(readOutline(siblings, "3 0\n").items, std::vector<Item>(672, {"(t)", 0}));
    EXPECT_EQ(readOutline(deep, "3 0\n").items, std::vector<Item>(1009, {"(t)", 0}));
}

// Everything at once: a nested outline, titles direct, hex and indirect,
// destinations explicit, by GoTo action, by string in a two-level name tree
// and by name in /Dests.
MiniDocument fullDocument()
{
    return compose(
        "<< /Type /Catalog /Pages 2 0 R /Outlines 10 0 R /Names 20 0 R /Dests 30 0 R >>",
        {{10, "<< /Type /Outlines /First 11 0 R /Last 12 0 R /Count 4 >>"},
         {11, "<< /Title (One) /Parent 10 0 R /Next 12 0 R /First 13 0 R "
              "/Dest [3 0 R /XYZ 0 792 0] >>"},
         {13, "<< /Title <54776F> /Parent 11 0 R /Dest (ch1) >>"},
         {12, "<< /Title 15 0 R /Parent 10 0 R /Prev 11 0 R /Next 14 0 R "
              "/A << /S /GoTo /D /intro >> >>"},
         {14, "<< /Title (F\\(our\\)) /Parent 10 0 R /Prev 12 0 R /A 16 0 R >>"},
         {15, "(Three)"},
         {16, "<< /S /GoTo /D <636832> >>"},
         {20, "<< /Dests 21 0 R >>"},
         {21, "<< /Kids [22 0 R 23 0 R] >>"},
         {22, "<< /Limits [(ch1) (ch1)] /Names [(ch1) [4 0 R /Fit]] >>"},
         {23, "<< /Names [<636832> 24 0 R (ch3) << /D [5 0 R /Fit] >>] >>"},
         {24, "[5 0 R /XYZ null null 0]"},
         {30, "<< /intro [4 0 R /Fit] /other null >>"}});
}
const std::string fullPages = "3 0\n4 0\n5 0\n";

bool isDocumentedCode(std::int32_t code)
{
    return code == -1 || code == -2 || (code <= -135 && code >= -164) ||
           (code <= -1620 && code >= -1629);
}

TEST(OutlineList, ReadsTheFullDocument)
{
    const Read r = readOutline(fullDocument(), fullPages);
    ASSERT_EQ(r.result, 7) << r.error;
    const std::vector<Item> expected = {
        {"(One)", 0}, {"<54776F>", 1}, {"(Three)", 1}, {"(F\\(our\\))", 2}};
    EXPECT_EQ(r.items, expected);
}

TEST(OutlineList, SurvivesEveryTruncation)
{
    const MiniDocument d = fullDocument();
    // The catalogue's extent must lie inside whatever is left.
    const std::size_t from = d.bodyOffset(1) + d.bodyLength(1) + 1;
    for (std::size_t length = from; length < d.text().size(); ++length) {
        SCOPED_TRACE(length);
        const Read r = readOutline(d, fullPages, length);
        if (r.result == -1) {
            EXPECT_TRUE(isDocumentedCode(r.error)) << r.error;
        }
    }
}

TEST(OutlineList, SurvivesEverySingleByteChange)
{
    const MiniDocument d = fullDocument();
    const char replacements[] = {'\0', ' ', '\n', '%', '(', ')', '<', '>',
                                 '[', ']', '/', '\\', '0', 'R', 'x'};
    for (std::size_t at = 0; at < d.text().size(); ++at) {
        for (const char b : replacements) {
            if (d.text()[at] == b) continue;
            SCOPED_TRACE(::testing::Message() << "byte " << at << " -> " << static_cast<int>(b));
            MiniDocument changed = d;
            changed.setByte(at, b);
            const Read r = readOutline(changed, fullPages);
            if (r.result == -1) {
            EXPECT_TRUE(isDocumentedCode(r.error)) << r.error;
        }
        }
    }
}

TEST(OutlineList, FailsCleanlyWhereverMemoryRunsOut)
{
    const MiniDocument d = fullDocument();
    resetAllocationCount();
    ASSERT_EQ(readOutline(d, fullPages).result, 7);
    const long long allocations = allocationsAttempted();
    EXPECT_GE(allocations, 8);  // two stacks, two tables and their copies, map, array
    for (long long n = 1; n <= allocations; ++n) {
        SCOPED_TRACE(n);
        failAllocationAt(n);
        const Read r = readOutline(d, fullPages);
        failAllocationAt(0);
        EXPECT_EQ(r.result, -1);
        EXPECT_TRUE(r.error == -1 || r.error == -145 || r.error == -147 || r.error == -150)
            << r.error;
    }
}

}  // namespace
}  // namespace ravoth
