#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "pdf/reader.h"
#include "platform/memory.h"
#include "tests/support/faults.h"
#include "tests/support/mini_document.h"

namespace ravoth {
namespace {

using Obj = testing::ObjectText;
using testing::closedForScanOnly;
using testing::compose;
using testing::last;
using testing::MiniDocument;
using testing::PreparedDocument;

constexpr const char* closed = testing::objectEnd;

// Catalogue 1 -> /Names 3 -> /Dests 4, the name-tree root, then `more`.
MiniDocument nameTree(const std::string& root, std::vector<Obj> more = {},
                      std::string rootTail = closed)
{
    more.insert(more.begin(), {{3, "<< /Dests 4 0 R >>"}, {4, root, rootTail}});
    return compose("<< /Type /Catalog /Pages 2 0 R /Names 3 0 R >>", more);
}

// The same with the root's only kid 6 as the leaf.
MiniDocument twoLevelTree(const std::string& leaf, std::vector<Obj> more = {},
                          std::string leafTail = closed)
{
    more.insert(more.begin(), {6, leaf, leafTail});
    return nameTree("<< /Kids [6 0 R] >>", more);
}

// Catalogue 1 -> /Dests 30, then `more`.
MiniDocument destsDictionary(const std::string& dests, std::vector<Obj> more = {},
                             std::string destsTail = closed)
{
    more.insert(more.begin(), {30, dests, destsTail});
    return compose("<< /Type /Catalog /Pages 2 0 R /Dests 30 0 R >>", more);
}

struct Entry {
    std::string key;
    std::int32_t page;
    bool operator==(const Entry&) const = default;
};
void PrintTo(const Entry& e, std::ostream* os) { *os << "{" << e.key << ", " << e.page << "}"; }

struct Built {
    int result = 0;
    std::int32_t error = 0;
    std::vector<Entry> strings;
    std::vector<Entry> names;
    bool stringTable = false;  // a block was handed out
    bool nameTable = false;
};

std::vector<Entry> entriesOf(const PreparedDocument& p, const DestinationEntry* table,
                             std::int32_t count)
{
    std::vector<Entry> entries;
    for (std::int32_t i = 0; i < count; ++i) {
        const DestinationEntry& e = table[i];
        EXPECT_TRUE(p.holds(e.keyText) || e.keyLength == 0) << "key outside the document";
        entries.push_back({std::string(reinterpret_cast<const char*>(e.keyText),
                                       static_cast<std::size_t>(e.keyLength)),
                           e.pageObject});
    }
    return entries;
}

Built build(const MiniDocument& d, bool strings = true, bool names = false)
{
    const long long liveBefore = liveBlockCount();
    PreparedDocument p(d, 1);
    DestinationTables tables;
    Built b;
    b.result = collectDestinations(p.reader(), p.catalogueStart(), p.catalogueEnd(), strings, names, &tables);
    b.error = p.reader().lastError;
    b.stringTable = tables.stringKeyed != nullptr;
    b.nameTable = tables.nameKeyed != nullptr;
    b.strings = entriesOf(p, tables.stringKeyed, tables.stringCount);
    b.names = entriesOf(p, tables.nameKeyed, tables.nameCount);
    if (b.result != 0) {
        EXPECT_EQ(b.result, -1);
        EXPECT_FALSE(b.stringTable || b.nameTable || tables.stringCount || tables.nameCount)
            << "a failure handed out a table";
    }
    freeDestinationTables(&tables);
    EXPECT_EQ(liveBlockCount(), liveBefore);
    return b;
}

TEST(DestinationTables, ReadsEveryFormOfValueInALeaf)
{
    const std::vector<Obj> targets = {{5, "[12 0 R /Fit]"}, {6, "<< /S /GoTo /D [13 0 R /Fit] >>"}};
    const struct {
        const char* name;
        std::string root;
        std::vector<Entry> entries;
    } cases[] = {
        {"direct array, reference, dictionary, null; reading goes on behind each",
         "<< /Names [(a) [3 0 R /Fit] (b) 5 0 R (c) << /D [7 0 R /XYZ 0 0 0] >> (d) null "
         "(e) 6 0 R (f)[8 0 R](g)null(h)5 0 R] >>",
         {{"a", 3}, {"b", 12}, {"c", 7}, {"d", noPageObject}, {"e", 13}, {"f", 8},
          {"g", noPageObject}, {"h", 12}}},
        {"keys as written: hex, escaped, nested",
         "<< /Names [<6368> [3 0 R] (x\\)y) [4 0 R] (p(q)r) [5 0 R] () [6 0 R]] >>",
         {{"6368", 3}, {"x\\)y", 4}, {"p(q)r", 5}, {"", 6}}},
        {"comments and line ends between the parts",
         "<< /Names [ % first\n(a)%k\r[3 %n\n0 %g\nR %r\n/Fit]%v\n(b) 5 %x\n0 %y\nR%z\n] >>",
         {{"a", 3}, {"b", 12}}},
        {"page object 0", "<< /Names [(a) [0 0 R]] >>", {{"a", 0}}},
        {"empty array", "<< /Names [ ] >>", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Built b = build(nameTree(c.root, targets));
        EXPECT_EQ(b.result, 0) << b.error;
        EXPECT_EQ(b.error, 0);
        EXPECT_EQ(b.strings, c.entries);
        EXPECT_EQ(b.stringTable, !c.entries.empty());
        EXPECT_TRUE(b.names.empty());
    }
}

TEST(DestinationTables, TakesEveryLeafOfATreeInDepthFirstOrder)
{
    const MiniDocument d = nameTree(
        "<< /Kids [6 0 R 7 0 R] >>",
        {{6, "<< /Limits [(a) (c)] /Kids [8 0 R 9 0 R] >>"},
         {8, "<< /Names [(a) [3 0 R] (b) [4 0 R]] /Limits [(a) (b)] >>"},
         {9, "<< /Limits [(z) (z)] /Names [(c) [5 0 R]] >>"},
         {7, "<< /Names [(a) [10 0 R] (d) null] >>"}});
    const Built b = build(d);
    ASSERT_EQ(b.result, 0) << b.error;
    const std::vector<Entry> expected = {{"a", 3}, {"b", 4}, {"c", 5}, {"a", 10}, {"d", -1}};
    EXPECT_EQ(b.strings, expected);

    PreparedDocument p(d, 1);
    DestinationTables tables;
    ASSERT_EQ(collectDestinations(p.reader(), p.catalogueStart(), p.catalogueEnd(), true, false, &tables),
              0);
    const Byte a[] = {'a'};
    const DestinationEntry* found = findDestination(tables.stringKeyed, tables.stringCount, a, 1);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->pageObject, 3) << "a key that occurs twice is found at its first occurrence";
    freeDestinationTables(&tables);
}

TEST(DestinationTables, TakesATreeWithoutLeavesAsEmpty)
{
    for (const MiniDocument& d : {nameTree("<< /Kids [] >>"),
                                  nameTree("<< /Kids [6 0 R] >>", {{6, "<< /Kids [ ] >>"}})}) {
        const Built b = build(d);
        EXPECT_EQ(b.result, 0) << b.error;
        EXPECT_FALSE(b.stringTable);
        EXPECT_TRUE(b.strings.empty());
    }
}

TEST(DestinationTables, ReadsTheCatalogueDestsDictionaryByName)
{
    const struct {
        const char* name;
        std::string dests;
        std::vector<Entry> entries;
    } cases[] = {
        {"every form of value",
         "<< /ch1 [3 0 R /Fit] /ch2 5 0 R /ch3 << /D [4 0 R] >> /ch4 null /x/y[6 0 R]%c\n"
         "/ch10 6 0 R>>",
         {{"ch1", 3}, {"ch2", 12}, {"ch3", 4}, {"ch4", -1}, {"x/y", 6}, {"ch10", 13}}},
        {"empty", "<< >>", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Built b = build(
            destsDictionary(c.dests, {{5, "[12 0 R]"}, {6, "<< /D [13 0 R] >>"}}), false, true);
        EXPECT_EQ(b.result, 0) << b.error;
        EXPECT_EQ(b.names, c.entries);
        EXPECT_TRUE(b.strings.empty());
    }
}

TEST(DestinationTables, BuildsOnlyTheTablesAskedFor)
{
    const std::vector<Obj> both = {{3, "<< /Dests 4 0 R >>"},
                                   {4, "<< /Names [(s) [3 0 R]] >>"},
                                   {30, "<< /n [4 0 R] >>"}};
    const struct {
        const char* name;
        std::string catalogue;
        bool strings, names;
        std::vector<Entry> stringEntries, nameEntries;
        long long allocations;
    } cases[] = {
        {"both", "<< /Names 3 0 R /Dests 30 0 R >>", true, true, {{"s", 3}}, {{"n", 4}}, 4},
        {"strings only, /Dests not read", "<< /Names 3 0 R /Dests 99 0 R >>", true, false,
         {{"s", 3}}, {}, 2},
        {"names only, /Names not read", "<< /Names 99 0 R /Dests 30 0 R >>", false, true, {},
         {{"n", 4}}, 2},
        {"none, nothing read", "<< /Names 99 0 R /Dests [ >>", false, false, {}, {}, 0},
        {"neither /Names nor /Dests", "<< /Type /Catalog /Pages 2 0 R >>", true, true, {}, {}, 0},
        {"/Names without /Dests", "<< /Names << /JavaScript 9 0 R >> >>", true, true, {}, {}, 0},
        {"/Names written in place ahead of /Dests", "<< /Names << /Dests 4 0 R >> /Dests 30 0 R >>",
         true, true, {{"s", 3}}, {{"n", 4}}, 4},
        {"the name tree's /Dests is no /Dests dictionary", "<< /Names << /Dests 4 0 R >> >>",
         false, true, {}, {}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        resetAllocationCount();
        const Built b = build(compose(c.catalogue, both), c.strings, c.names);
        EXPECT_EQ(allocationsAttempted(), c.allocations);
        EXPECT_EQ(b.result, 0) << b.error;
        EXPECT_EQ(b.error, 0);
        EXPECT_EQ(b.strings, c.stringEntries);
        EXPECT_EQ(b.names, c.nameEntries);
        EXPECT_EQ(b.stringTable, !c.stringEntries.empty());
        EXPECT_EQ(b.nameTable, !c.nameEntries.empty());
    }
}

TEST(DestinationTables, FindsTheFirstKeyWithTheSameBytes)
{
    const std::string text = "ch10ch1ch1636831";
    const Byte* t = reinterpret_cast<const Byte*>(text.data());
    const DestinationEntry table[] = {{4, t, 10}, {3, t + 4, 11}, {3, t + 7, 12}, {6, t + 10, 13}};
    const struct {
        const char* name;
        std::string key;
        std::int32_t count;
        std::int32_t page;  // 0: none found
    } cases[] = {
        {"ch1 behind ch10", "ch1", 4, 11},
        {"ch10", "ch10", 4, 10},
        {"prefix of a key", "ch", 4, 0},
        {"longer than every key", "ch100", 4, 0},
        {"hex digits as written", "636831", 4, 13},
        {"the count bounds the search", "636831", 3, 0},
        {"empty table", "ch1", 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const DestinationEntry* found =
            findDestination(table, c.count, reinterpret_cast<const Byte*>(c.key.data()),
                            static_cast<std::int32_t>(c.key.size()));
        EXPECT_EQ(found ? found->pageObject : 0, c.page);
    }
    EXPECT_EQ(findDestination(nullptr, 0, t, 3), nullptr);
}

struct CodeCase {
    const char* name;
    MiniDocument document;
    std::int32_t code;
};

void expectCodes(const std::vector<CodeCase>& cases, bool strings, bool names)
{
    for (const CodeCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Built b = build(c.document, strings, names);
        EXPECT_EQ(b.result, -1);
        EXPECT_EQ(b.error, c.code);
    }
}

TEST(DestinationTables, FailsOnAMalformedNamesDictionaryOrTreeRoot)
{
    auto withCatalogue = [](const std::string& catalogue) {
        return compose("<< /Type /Catalog " + catalogue + " >>", {{3, "<< /Dests 4 0 R >>"}});
    };
    auto withNames = [](const std::string& names, std::string tail = closed) {
        return compose("<< /Type /Catalog /Names 3 0 R >>",
                       {{4, "<< /Names [(a) null] >>"}, {3, names, tail}});
    };
    expectCodes(
        {
            {"/Names is no dictionary", withCatalogue("/Names [/Dests]"), -151},
            {"/Names reference without generation", withCatalogue("/Names 3 /x"), -161},
            {"/Names reference without R", withCatalogue("/Names 3 0 /x"), -163},
            {"/Names object missing", withCatalogue("/Names 9 0 R"), -164},
            {"ends inside <<", withNames("<", ""), -152},
            {"ends right behind <<", withNames("<<", ""), -152},
            {"second byte of << ", withNames("<x /Dests 4 0 R >>"), -153},
            {"no matching >>", withNames("<< /Dests 4 0 R"), -154},
            {"/Dests glued to its value", withNames("<< /Dests<< /Names [] >> >>"), -158},
            {"/Dests then white space to the end",
             withNames(closedForScanOnly("/Dests ", true), ""), -154},
            {"/Dests then a comment to the end", withNames(closedForScanOnly("/Dests "), ""), -155},
            {"/Dests reference without generation", withNames("<< /Dests 4 >>"), -157},
            {"white space to the end before R",
             withNames(closedForScanOnly("/Dests 4 0 ", true), ""), -158},
            {"comment to the end before R", withNames(closedForScanOnly("/Dests 4 0 "), ""), -159},
            {"/Dests reference without R", withNames("<< /Dests 4 0 >>"), -160},
            {"/Dests object missing", withNames("<< /Dests 9 0 R >>"), -164},
            {"root is no dictionary", withNames("<< /Dests [(a) null] >>"), -151},
            {"/Kids glued to its value", nameTree("<< /Kids[6 0 R] >>"), -158},
            {"/Kids then white space to the end",
             nameTree(closedForScanOnly("/Kids ", true), {}, ""), -154},
            {"/Kids then a comment to the end", nameTree(closedForScanOnly("/Kids "), {}, ""),
             -155},
            {"/Kids is no array", nameTree("<< /Kids (6 0 R) >>"), -155},
        },
        true, false);
    // -156 is assigned to no condition.
}

// Thirty levels of nodes, each listing the next one twice: no cycle, but
// 2^30 visits of the leaf at the bottom if nothing bounds the walk.
MiniDocument shareKids()
{
    std::vector<Obj> nodes;
    for (int i = 0; i < 30; ++i) {
        const std::string kid = std::to_string(i + 1 < 30 ? 101 + i : 7) + " 0 R ";
        nodes.push_back({100 + i, "<< /Kids [" + kid + kid + "] >>"});
    }
    nodes.push_back({7, "<< /Names [(a) null] >>"});
    return nameTree("<< /Kids [100 0 R] >>", nodes);
}

TEST(DestinationTables, FailsOnABrokenNameTreeWalk)
{
    const Obj leaf7{7, "<< /Names [(a) null] >>"};
    expectCodes(
        {
            {"document ends before a deeper ]",
             nameTree("<< /Kids [6 0 R] >>", {leaf7, last(6, closedForScanOnly("/Kids [7 0 R "))}),
             -135},
            {"neither number nor ] in a deeper node",
             nameTree("<< /Kids [6 0 R] >>", {{6, "<< /Kids [7 0 R null] >>"}, leaf7}), -136},
            {"kid without generation", nameTree("<< /Kids [6] >>"), -140},
            {"document ends before a kid's R",
             nameTree(closedForScanOnly("/Kids [7 0 "), {}, ""), -141},
            {"kid without R", nameTree("<< /Kids [7 0 Q] >>", {leaf7}), -142},
            {"kid not in the table", nameTree("<< /Kids [9 0 R] >>"), -143},
            {"kid is no dictionary", nameTree("<< /Kids [6 0 R] >>", {{6, "[7 0 R]"}}), -144},
            {"kid lists itself", nameTree("<< /Kids [6 0 R] >>", {{6, "<< /Kids [6 0 R] >>"}}),
             -146},
            {"kid lists the root", nameTree("<< /Kids [6 0 R] >>", {{6, "<< /Kids [4 0 R] >>"}}),
             -146},
            {"two nodes list each other",
             nameTree("<< /Kids [6 0 R] >>",
                      {{6, "<< /Kids [7 0 R] >>"}, {7, "<< /Kids [6 0 R] >>"}}),
             -146},
            {"nodes that share their kids", shareKids(), -146},
        },
        true, false);
    // -137 and -138 cannot come from any input: every level the walk goes
    // down pushes one line holding an offset the walk wrote itself, and it
    // pops only at depth 1 or more. -139 is assigned to no condition, and a
    // tree without leaves is an empty table, not -149.
}

TEST(DestinationTables, FailsOnAMalformedNamesArray)
{
    expectCodes(
        {
            {"leaf without /Names", nameTree("<< /Limits [(a) (b)] >>"), -154},
            {"/Names is no array", nameTree("<< /Names (a) >>"), -151},
            {"key is no string", nameTree("<< /Names [/a null] >>"), -151},
            // "null(" is one token to the dictionary scan, so it closes the
            // leaf at the ">>" inside what the array reader takes as a key.
            {"key runs to the end", nameTree("<< /Names [(a) null(b >> x", {}, ""), -2},
            {"key closes at the last byte", nameTree("<< /Names [(a) null(b >> )", {}, ""), -2},
            {"hex key runs to the end", nameTree(closedForScanOnly("/Names [<61 "), {}, ""), -2},
            {"white space to the end behind a key",
             nameTree("<< /Names [(a) null(b >> ) ", {}, ""), -141},
            {"comment to the end behind a key", nameTree("<< /Names [(a) null(b >> ) %c", {}, ""),
             -141},
            {"white space to the end behind a value",
             nameTree("<< /Names [(a) null(b >> ) null ", {}, ""), -141},
        },
        true, false);
}

// The codes of a broken value differ between a tree that is one leaf and one
// of several levels.
TEST(DestinationTables, FailsOnAMalformedValueWithTheCodeOfTheTreeShape)
{
    const std::string ref5 = "<< /Names [(a) 5 0 R] >>";
    const struct {
        const char* name;
        std::string leaf;
        std::vector<Obj> more;
        std::string leafTail;
        std::int32_t singleLeafCode;
        std::int32_t multiLevelCode;
    } cases[] = {
        {"reference without generation", "<< /Names [(a) 5 ] >>", {}, closed, -161, -161},
        {"comment to the end behind a reference", closedForScanOnly("/Names [(a) 5 0 "), {}, "",
         -162, -1620},
        {"reference without R", "<< /Names [(a) 5 0 ] >>", {}, closed, -163, -163},
        {"object number 0 is no reference", "<< /Names [(a) 0 0 R] >>", {}, closed, -1624, -1624},
        {"referenced object missing", "<< /Names [(a) 9 0 R] >>", {}, closed, -164, -164},
        {"< without a second <", "<< /Names [(a) <x] >>", {}, closed, -162, -1621},
        {"< at the very end", ref5, {last(5, "<")}, closed, -162, -1621},
        {"nothing behind <<", ref5, {last(5, "<<")}, closed, -162, -1622},
        {"dictionary without >>", ref5, {{5, "<< /D [3 0 R]"}}, closed, -154, -154},
        {"dictionary without /D", "<< /Names [(a) << /S /GoTo >>] >>", {}, closed, -154, -154},
        {"white space to the end behind /D", ref5, {last(5, closedForScanOnly("/D ", true))},
         closed, -161, -161},
        {"comment to the end behind /D", ref5, {last(5, closedForScanOnly("/D "))}, closed, -162,
         -1623},
        {"/D value is a reference", "<< /Names [(a) << /D 5 0 R >>] >>", {{5, "[3 0 R]"}}, closed,
         -1624, -1624},
        {"neither dictionary, array nor null", "<< /Names [(a) true] >>", {}, closed, -1624,
         -1624},
        {"nul instead of null", "<< /Names [(a) nul] >>", {}, closed, -1624, -1624},
        {"white space to the end behind [", ref5, {last(5, "[ ")}, closed, -161, -161},
        {"comment to the end behind [", ref5, {last(5, "[ %c")}, closed, -162, -1625},
        {"no page object", "<< /Names [(a) [/XYZ 3 0 R]] >>", {}, closed, -162, -1626},
        {"no generation", "<< /Names [(a) [3 /XYZ]] >>", {}, closed, -162, -1627},
        {"white space to the end behind the generation", ref5, {last(5, "[3 0 ")}, closed, -161,
         -161},
        {"comment to the end behind the generation", ref5, {last(5, "[3 0 %c")}, closed, -162,
         -1628},
        {"no R", "<< /Names [(a) [3 0 /XYZ]] >>", {}, closed, -162, -1629},
        {"R as the last byte", ref5, {last(5, "[3 0 R")}, closed, -162, -1629},
        {"white space to the end behind R", ref5, {last(5, "[3 0 R ")}, closed, -161, -161},
        {"comment to the end behind R", ref5, {last(5, "[3 0 R %c")}, closed, -162, -1629},
        {"no ]", ref5, {last(5, "[3 0 R /Fit")}, closed, -162, -1629},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Built single = build(nameTree(c.leaf, c.more, c.leafTail));
        EXPECT_EQ(single.result, -1);
        EXPECT_EQ(single.error, c.singleLeafCode) << "single leaf";
        const Built multi = build(twoLevelTree(c.leaf, c.more, c.leafTail));
        EXPECT_EQ(multi.result, -1);
        EXPECT_EQ(multi.error, c.multiLevelCode) << "several levels";
    }
}

TEST(DestinationTables, FailsOnAMalformedDestsDictionary)
{
    auto withCatalogue = [](const std::string& catalogue) {
        return compose("<< /Type /Catalog " + catalogue + " >>", {{30, "<< /a null >>"}});
    };
    expectCodes(
        {
            {"/Dests is no dictionary", withCatalogue("/Dests [/a]"), -151},
            {"reference without generation", withCatalogue("/Dests 30 /x"), -161},
            {"reference without R", withCatalogue("/Dests 30 0 /x"), -163},
            {"object missing", withCatalogue("/Dests 99 0 R"), -164},
            {"ends inside <<", destsDictionary("<", {}, ""), -152},
            {"second byte of <<", destsDictionary("<x /a null >>"), -153},
            {"white space to the end behind <<", destsDictionary("<< ", {}, ""), -154},
            {"comment to the end behind <<", destsDictionary("<<%c", {}, ""), -155},
            {"key is no name", destsDictionary("<< (a) [3 0 R] >>"), -155},
            {"/ as the last byte", destsDictionary("<< /", {}, ""), -155},
            {"key runs to the end", destsDictionary("<< /abc", {}, ""), -2},
            {"white space to the end behind a key", destsDictionary("<< /a ", {}, ""), -141},
            {"white space to the end behind a value", destsDictionary("<< /a null ", {}, ""), -141},
            {"value reference without generation", destsDictionary("<< /a 5 >>"), -161},
            {"comment to the end behind a value reference", destsDictionary("<< /a 5 0 %c", {}, ""),
             -162},
            {"value reference without R", destsDictionary("<< /a 5 0 >>"), -163},
            {"value object missing", destsDictionary("<< /a 9 0 R >>"), -164},
            {"malformed dictionary value", destsDictionary("<< /a <x> >>"), -162},
            {"malformed array value", destsDictionary("<< /a [/XYZ] >>"), -162},
            {"value dictionary without >>", destsDictionary("<< /a << /D [3 0 R]"), -154},
            {"neither dictionary, array nor null", destsDictionary("<< /a true >>"), -1624},
        },
        false, true);
}

// n entries "<open>k<i><close> [3 0 R]".
std::string manyEntries(int n, const char* open, const char* close)
{
    std::string text;
    for (int i = 0; i < n; ++i)
        text += std::string(open) + "k" + std::to_string(i) + close + " [3 0 R] ";
    return text;
}

// A chain of `levels` intermediate nodes below the root, the last one
// listing the leaf 7.
MiniDocument deepTree(int levels)
{
    std::vector<Obj> nodes;
    for (int i = 0; i < levels; ++i) {
        const int kid = i + 1 < levels ? 100 + i + 1 : 7;
        nodes.push_back({100 + i, "<< /Kids [" + std::to_string(kid) + " 0 R] >>"});
    }
    nodes.push_back({7, "<< /Names [(a) null] >>"});
    return nameTree("<< /Kids [100 0 R] >>", nodes);
}

TEST(DestinationTables, FailsWhenMemoryRunsOutAndFreesWhatItTook)
{
    const MiniDocument oneLeaf = nameTree("<< /Names [(a) [3 0 R]] >>");
    const MiniDocument threeLevels =
        nameTree("<< /Kids [6 0 R] >>",
                 {{6, "<< /Kids [7 0 R] >>"}, {7, "<< /Names [(a) [3 0 R]] >>"}});
    // 24-byte entries: the 672nd one finds less than 280 bytes left.
    static_assert(sizeof(DestinationEntry) == 24, "the counts below assume 64-bit pointers");
    const MiniDocument fullLeaf = nameTree("<< /Names [" + manyEntries(671, "(", ")") + "] >>");
    const MiniDocument bigLeaf = nameTree("<< /Names [" + manyEntries(672, "(", ")") + "] >>");
    const MiniDocument bigDests = destsDictionary("<< " + manyEntries(700, "/", "") + ">>");
    const MiniDocument both = compose("<< /Names 3 0 R /Dests 30 0 R >>",
                                      {{3, "<< /Dests 4 0 R >>"},
                                       {4, "<< /Names [(a) [3 0 R]] >>"},
                                       {30, "<< /b [4 0 R] >>"}});
    // Each line of the walk stack holds an offset of 4 to 6 digits; 3000
    // levels need more than the first 16384 bytes.
    const MiniDocument deep = deepTree(3000);
    const struct {
        const char* name;
        const MiniDocument& document;
        bool strings, names;
        long long failAt;
        std::int32_t code;
    } cases[] = {
        {"working block", oneLeaf, true, false, 1, -147},
        {"exact-size copy", oneLeaf, true, false, 2, -150},
        {"walk stack", threeLevels, true, false, 1, -145},
        {"working block behind the walk", threeLevels, true, false, 2, -147},
        {"copy behind the walk", threeLevels, true, false, 3, -150},
        {"walk stack growth", deep, true, false, 2, -146},
        {"no growth for 671 entries", fullLeaf, true, false, 2, -150},
        {"working block growth", bigLeaf, true, false, 2, -148},
        {"name table working block", both, false, true, 1, -147},
        {"name table copy", both, false, true, 2, -150},
        {"name table growth", bigDests, false, true, 2, -148},
        {"name table after a finished string table", both, true, true, 3, -147},
        {"name table copy after a finished string table", both, true, true, 4, -150},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Built whole = build(c.document, c.strings, c.names);
        EXPECT_EQ(whole.result, 0) << whole.error;
        failAllocationAt(c.failAt);
        const Built b = build(c.document, c.strings, c.names);
        failAllocationAt(0);
        EXPECT_EQ(b.result, -1);
        EXPECT_EQ(b.error, c.code);
    }
    const Built grown = build(bigLeaf);
    ASSERT_EQ(grown.strings.size(), 672u);
    EXPECT_EQ(grown.strings[671], (Entry{"k671", 3})) << "entries survive the growth";
    EXPECT_EQ(grown.strings[0], (Entry{"k0", 3}));
    EXPECT_EQ(build(deep).strings, (std::vector<Entry>{{"a", -1}}));
}

}  // namespace
}  // namespace ravoth
