#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "pdf/reader.h"
#include "platform/memory.h"
#include "tests/support/faults.h"

namespace ravoth {
namespace {

struct Object {
    int number;
    std::string body;
};

struct Document {
    std::string text;
    std::string xref;  // "number offset 0 n" LF lines, ascending
};

// Lays the objects out in the order given. An alias {a, b} adds a table line
// for object a that points at object b's header.
Document build(const std::vector<Object>& objects,
               const std::vector<std::pair<int, int>>& aliases = {})
{
    Document d{"%PDF-1.3\n", ""};
    std::map<int, std::size_t> offsets;
    for (const Object& o : objects) {
        offsets[o.number] = d.text.size();
        d.text += std::to_string(o.number) + " 0 obj\n" + o.body + "\nendobj\n";
    }
    for (const auto& [alias, target] : aliases) offsets[alias] = offsets.at(target);
    for (const auto& [number, offset] : offsets)
        d.xref += std::to_string(number) + " " + std::to_string(offset) + " 0 n\n";
    return d;
}

const std::string catalogue = "<< /Type /Catalog /Pages 2 0 R >>";
const std::string leaf = "<< /Type /Page /Parent 2 0 R >>";

std::string pagesRoot(const std::string& kids, const std::string& count)
{
    return "<< /Type /Pages /Kids [" + kids + "] /Count " + count + " >>";
}
std::string pagesNode(const std::string& kids)
{
    return "<< /Type /Pages /Parent 2 0 R /Kids [" + kids + "] >>";
}

// The page-tree root 2, then the other objects (by default the leaves 3 and
// 4), then the catalogue 1 last, so that no later ">>" can close a dictionary
// a case leaves open.
std::vector<Object> tree(const std::string& cat, const std::string& root,
                         std::vector<Object> others = {{3, leaf}, {4, leaf}})
{
    others.insert(others.begin(), {2, root});
    others.push_back({1, cat});
    return others;
}

struct Outcome {
    int result;
    std::int32_t error;
    std::string pages;
};

// Runs collectPages over copies that end flush with their allocations.
Outcome collect(std::string_view text, std::string_view xref, int rootNumber = 1, bool outlineOption = false)
{
    auto doc = std::make_unique<Byte[]>(text.size());
    auto table = std::make_unique<Byte[]>(xref.size());
    std::copy(text.begin(), text.end(), doc.get());
    std::copy(xref.begin(), xref.end(), table.get());
    Byte* listStart = nullptr;
    Byte* listEnd = nullptr;
    OutlineEntry* outlines = nullptr;
    std::int32_t outlineCount = -7;
    Outcome o{};
    DocumentReader reader(doc.get(), doc.get() + text.size());
    reader.tableStart = table.get();
    reader.tableEnd = table.get() + xref.size();
    reader.outlineOption = outlineOption;
    o.result = collectPages(reader, rootNumber, &listStart, &listEnd, &outlines, &outlineCount);
    o.error = reader.lastError;
    EXPECT_EQ(outlines, nullptr);
    EXPECT_EQ(outlineCount, -7);
    if (listStart) {
        o.pages.assign(listStart, listEnd);
        freeBlock(listStart);
    }
    return o;
}
Outcome collect(const Document& d, int rootNumber = 1, bool outlineOption = false)
{
    return collect(d.text, d.xref, rootNumber, outlineOption);
}

void expectResultOrCode(const Outcome& o)
{
    if (o.result == -1) {
        EXPECT_LE(o.error, -111);
        EXPECT_GE(o.error, -150);
        EXPECT_TRUE(o.pages.empty());
    } else {
        EXPECT_GE(o.result, 0);
        EXPECT_EQ(o.error, 0);
    }
}

TEST(CollectPages, ListsPagesDepthFirst)
{
    const std::vector<Object> leaves = {{3, leaf}, {4, leaf}, {5, leaf}, {7, leaf}};
    auto with = [&](std::vector<Object> nodes) {
        nodes.insert(nodes.end(), leaves.begin(), leaves.end());
        return nodes;
    };
    const struct {
        const char* name;
        std::vector<Object> objects;
        int result;
        const char* pages;
    } cases[] = {
        {"flat", tree(catalogue, pagesRoot("3 0 R 4 0 R 5 0 R", "3"), leaves), 3,
         "3 0\n4 0\n5 0\n"},
        {"nested",
         tree(catalogue, pagesRoot("3 0 R 6 0 R 4 0 R", "4"),
              with({{6, pagesNode("8 0 R 5 0 R")}, {8, pagesNode("7 0 R")}})),
         4, "3 0\n7 0\n5 0\n4 0\n"},
        {"empty node inside", tree(catalogue, pagesRoot("3 0 R 6 0 R 4 0 R", "2"),
                                   with({{6, pagesNode("")}})),
         2, "3 0\n4 0\n"},
        {"count above lines", tree(catalogue, pagesRoot("3 0 R 4 0 R", "7")), 7, "3 0\n4 0\n"},
        {"count zero", tree(catalogue, pagesRoot("3 0 R 4 0 R", "0")), 0, "3 0\n4 0\n"},
        {"no count", tree(catalogue, "<< /Type /Pages /Kids [3 0 R 4 0 R 3 0 R] >>"), 3,
         "3 0\n4 0\n3 0\n"},
        {"null ends root kids", tree(catalogue, pagesRoot("3 0 R null 4 0 R", "2")), 2, "3 0\n"},
        {"comments in references", tree(catalogue, pagesRoot("3 % a\n0 %b\r R%c\n4 0 R", "2")),
         2, "3 0\n4 0\n"},
        {"generation kept", tree(catalogue, pagesRoot("3 7 R 4 0 R", "2")), 2, "3 7\n4 0\n"},
        {"names run into delimiters",
         tree("<</Type/Catalog/Pages 2 0 R>>", "<</Type/Pages/Kids[3 0 R]/Count 1>>"), 1,
         "3 0\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome o = collect(build(c.objects));
        EXPECT_EQ(o.result, c.result);
        EXPECT_EQ(o.error, 0);
        EXPECT_EQ(o.pages, c.pages);
    }
}

TEST(CollectPages, OutlineOptionLeavesOutlineOutputsForNow)
{
    const Outcome o = collect(build(tree(catalogue, pagesRoot("3 0 R 4 0 R", "2"))), 1, true);
    EXPECT_EQ(o.result, 2);
    EXPECT_EQ(o.pages, "3 0\n4 0\n");
}

// The outline phase fails the whole call: nothing may be handed out, or the
// caller would own a list it was told it did not get.
TEST(CollectPages, FailedOutlinePhaseHandsOutNoPageList)
{
    const Document d = build(tree("<< /Type /Catalog /Pages 2 0 R /Outlines 9 0 R >>",
                                  pagesRoot("3 0 R 4 0 R", "2")));
    Byte* listStart = nullptr;
    Byte* listEnd = nullptr;
    OutlineEntry* outlines = nullptr;
    std::int32_t outlineCount = 0;
    const Byte* doc = reinterpret_cast<const Byte*>(d.text.data());
    const Byte* table = reinterpret_cast<const Byte*>(d.xref.data());
    DocumentReader reader(doc, doc + d.text.size());
    reader.tableStart = table;
    reader.tableEnd = table + d.xref.size();
    reader.outlineOption = true;
    EXPECT_EQ(collectPages(reader, 1, &listStart, &listEnd, &outlines, &outlineCount), -1);
    EXPECT_EQ(reader.lastError, -164);
    EXPECT_EQ(listStart, nullptr);
    EXPECT_EQ(outlines, nullptr);
}

TEST(CollectPages, FailureCodes)
{
    const std::string root2 = pagesRoot("3 0 R 4 0 R", "2");
    auto withRoot = [&](const std::string& root) { return tree(catalogue, root); };
    auto withCatalogue = [&](const std::string& cat) { return tree(cat, root2); };
    const struct {
        const char* name;
        std::vector<Object> objects;
        int rootNumber;
        std::vector<std::pair<int, int>> aliases;
        std::int32_t error;
    } cases[] = {
        {"root not in table", withRoot(root2), 9, {}, -111},
        {"root header is another object", withRoot(root2), 9, {{9, 3}}, -112},
        {"catalogue not a dictionary", withCatalogue("[/Type /Catalog /Pages 2 0 R]"), 1, {}, -113},
        {"catalogue unclosed", withCatalogue("<< /Type /Catalog /Pages 2 0 R"), 1, {}, -114},
        {"catalogue without type", withCatalogue("<< /Pages 2 0 R >>"), 1, {}, -115},
        {"catalogue type case", withCatalogue("<< /Type /CATALOG /Pages 2 0 R >>"), 1, {}, -117},
        {"catalogue type other", withCatalogue("<< /Type /Outlines /Pages 2 0 R >>"), 1, {}, -117},
        {"catalogue type longer", withCatalogue("<< /Type /Catalogs /Pages 2 0 R >>"), 1, {}, -118},
        {"no pages key", withCatalogue("<< /Type /Catalog >>"), 1, {}, -119},
        {"pages not a number", withCatalogue("<< /Type /Catalog /Pages /X >>"), 1, {}, -120},
        {"pages number at extent end", withCatalogue("<< /Type /Catalog /Pages 2>>"), 1, {}, -120},
        {"pages without generation", withCatalogue("<< /Type /Catalog /Pages 2 R >>"), 1, {}, -121},
        {"pages without R", withCatalogue("<< /Type /Catalog /Pages 2 0 >>"), 1, {}, -123},
        {"tree root not in table", withCatalogue("<< /Type /Catalog /Pages 8 0 R >>"), 1, {}, -124},
        {"tree root header is another object", withCatalogue("<< /Type /Catalog /Pages 9 0 R >>"),
         1, {{9, 3}}, -125},
        {"tree root not a dictionary", withRoot("[/Type /Pages]"), 1, {}, -126},
        {"tree root unclosed", withRoot("<< /Type /Pages /Kids [3 0 R 4 0 R]"), 1, {}, -127},
        {"tree root without type", withRoot("<< /Kids [3 0 R] >>"), 1, {}, -128},
        {"tree root is a page", withRoot("<< /Type /Page /Kids [3 0 R] >>"), 1, {}, -130},
        {"tree root type longer", withRoot("<< /Type /Pagess /Kids [3 0 R] >>"), 1, {}, -130},
        {"count not a number", withRoot(pagesRoot("3 0 R", "x")), 1, {}, -131},
        {"count negative", withRoot(pagesRoot("3 0 R", "-2")), 1, {}, -131},
        {"tree root without kids", withRoot("<< /Type /Pages /Count 1 >>"), 1, {}, -132},
        {"tree root kids not array", withRoot("<< /Type /Pages /Kids 3 0 R >>"), 1, {}, -134},
        {"null in deeper kids",
         tree(catalogue, pagesRoot("6 0 R", "2"),
              {{6, pagesNode("3 0 R null 4 0 R")}, {3, leaf}, {4, leaf}}),
         1, {}, -136},
        {"kid without generation", withRoot(pagesRoot("3 R", "1")), 1, {}, -140},
        {"kid number alone", withRoot(pagesRoot("3", "1")), 1, {}, -140},
        {"kid without R", withRoot(pagesRoot("3 0 4 0 R", "2")), 1, {}, -142},
        {"kid not in table", withRoot(pagesRoot("8 0 R", "1")), 1, {}, -143},
        {"kid not a page node",
         tree(catalogue, pagesRoot("5 0 R", "1"), {{5, "<< /Type /Font >>"}}), 1, {}, -144},
        {"node lists itself", tree(catalogue, pagesRoot("6 0 R", "1"), {{6, pagesNode("6 0 R")}}),
         1, {}, -146},
        {"node lists its grandparent",
         tree(catalogue, pagesRoot("6 0 R", "1"),
              {{6, pagesNode("7 0 R")}, {7, pagesNode("2 0 R")}}),
         1, {}, -146},
        {"subtree listed more often than there are objects",
         tree(catalogue, pagesRoot("6 0 R 6 0 R", "4"),
              {{6, pagesNode("3 0 R 4 0 R")}, {3, leaf}, {4, leaf}}),
         1, {}, -146},
        {"no kids at all", withRoot(pagesRoot("", "0")), 1, {}, -149},
        {"root kids start with null", withRoot(pagesRoot("null 3 0 R", "1")), 1, {}, -149},
        {"only empty nodes", tree(catalogue, pagesRoot("6 0 R", "0"), {{6, pagesNode("")}}), 1,
         {}, -149},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome o = collect(build(c.objects, c.aliases), c.rootNumber);
        EXPECT_EQ(o.result, -1);
        EXPECT_EQ(o.error, c.error);
        EXPECT_EQ(o.pages, "");
    }
}

// Root 2 lists the chain 100, 101, ... and then leaf 4; the chain's last node
// lists leaf 3.
Document chain(int depth)
{
    std::vector<Object> objects = {{2, pagesRoot("100 0 R 4 0 R", "2")}};
    for (int i = 0; i < depth; ++i) {
        const bool last = i + 1 == depth;
        objects.push_back({100 + i, pagesNode(last ? "3 0 R" : std::to_string(101 + i) + " 0 R")});
    }
    objects.push_back({3, leaf});
    objects.push_back({4, leaf});
    objects.push_back({1, catalogue});
    return build(objects);
}

// Leaves 1000, 1001, ...: the first three referenced with generation 10, so
// 2303 of them make 2300 lines of 7 bytes and 3 of 8: exactly 16124 bytes.
Document manyLeaves(int count)
{
    std::vector<Object> objects = {{2, ""}};
    std::string kids;
    for (int i = 0; i < count; ++i) {
        objects.push_back({1000 + i, leaf});
        kids += std::to_string(1000 + i) + (i < 3 ? " 10 R " : " 0 R ");
    }
    objects.front().body = pagesRoot(kids, std::to_string(count));
    objects.push_back({1, catalogue});
    return build(objects);
}

TEST(CollectPages, BlocksGrowAtTheHeadroom)
{
    const Document deep50 = chain(50);
    const Document deep3000 = chain(3000);
    const Document lines16124 = manyLeaves(2303);
    const Document lines16131 = manyLeaves(2304);
    const struct {
        const char* name;
        const Document* document;
        long long failAt;
        int result;  // or the code when -1
        std::size_t pagesBytes;
    } cases[] = {
        {"depth 50", &deep50, 0, 2, 8},
        {"depth 50, second allocation is the page lines", &deep50, 2, -147, 0},
        {"depth 3000", &deep3000, 0, 2, 8},
        {"depth 3000, second allocation grows the stack", &deep3000, 2, -146, 0},
        {"16124 bytes of lines", &lines16124, 0, 2303, 16124},
        {"16124 bytes, no growth before the exact copy", &lines16124, 2, -150, 0},
        {"16131 bytes of lines", &lines16131, 0, 2304, 16131},
        {"16131 bytes, growth before the last line", &lines16131, 2, -148, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        failAllocationAt(c.failAt);
        const Outcome o = collect(*c.document);
        failAllocationAt(0);
        if (c.result < 0) {
            EXPECT_EQ(o.result, -1);
            EXPECT_EQ(o.error, c.result);
            continue;
        }
        EXPECT_EQ(o.result, c.result);
        ASSERT_EQ(o.pages.size(), c.pagesBytes);
        if (c.document == &deep50 || c.document == &deep3000) {
            EXPECT_EQ(o.pages, "3 0\n4 0\n");
        } else {
            EXPECT_EQ(o.pages.substr(0, 24), "1000 10\n1001 10\n1002 10\n");
            EXPECT_EQ(o.pages.substr(o.pages.size() - 14),
                      c.pagesBytes == 16124 ? "3301 0\n3302 0\n" : "3302 0\n3303 0\n");
        }
    }
}

TEST(CollectPages, AllocationFailuresFreeEverything)
{
    const Document flat = build(tree(catalogue, pagesRoot("3 0 R 4 0 R", "2")));
    const Document nested = build(
        tree(catalogue, pagesRoot("6 0 R 4 0 R", "2"), {{6, pagesNode("3 0 R")}, {3, leaf}, {4, leaf}}));
    const struct {
        const Document* document;
        long long failAt;
        std::int32_t error;
    } cases[] = {
        {&flat, 1, -147}, {&flat, 2, -150},   {&nested, 1, -145},
        {&nested, 2, -147}, {&nested, 3, -150},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.failAt);
        const long long liveBefore = liveBlockCount();
        failAllocationAt(c.failAt);
        const Outcome o = collect(*c.document);
        failAllocationAt(0);
        EXPECT_EQ(o.result, -1);
        EXPECT_EQ(o.error, c.error);
        EXPECT_EQ(liveBlockCount(), liveBefore);
    }
}

const Document& sweepDocument()
{
    static const Document d = build(tree(
        catalogue, pagesRoot("3 0 R % c\n 6 0 R 4 0 R", "3"),
        {{6, pagesNode("5 0 R % x\n")}, {3, leaf}, {4, leaf}, {5, "<< /Type /Page >>"}}));
    return d;
}

TEST(CollectPages, EveryTruncationGivesAResultOrACode)
{
    const Document& d = sweepDocument();
    const Outcome whole = collect(d);
    ASSERT_EQ(whole.result, 3);
    ASSERT_EQ(whole.pages, "3 0\n5 0\n4 0\n");
    for (std::size_t length = 0; length < d.text.size(); ++length) {
        SCOPED_TRACE(length);
        expectResultOrCode(collect(std::string_view(d.text).substr(0, length), d.xref));
    }
    for (std::size_t length = 0; length < d.xref.size(); ++length) {
        SCOPED_TRACE(length);
        expectResultOrCode(collect(d.text, std::string_view(d.xref).substr(0, length)));
    }
}

TEST(CollectPages, EverySingleByteChangeGivesAResultOrACode)
{
    const Document& d = sweepDocument();
    for (std::size_t at = 0; at < d.text.size(); ++at) {
        for (const char replacement : std::string_view(" ]0R2/%<>(")) {
            SCOPED_TRACE(at);
            std::string text = d.text;
            text[at] = replacement;
            expectResultOrCode(collect(text, d.xref));
        }
    }
}

}  // namespace
}  // namespace ravoth
