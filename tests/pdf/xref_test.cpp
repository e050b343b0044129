#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "pdf/reader.h"
#include "platform/memory.h"
#include "tests/support/exact_buffer.h"
#include "tests/support/faults.h"
#include "tests/support/slowdown.h"

namespace ravoth {
namespace {

using testing::ExactBuffer;

std::string entry(long offset, int generation = 0, char flag = 'n')
{
    char text[32];
    std::snprintf(text, sizeof text, "%010ld %05d %c\r\n", offset, generation, flag);
    return text;
}

std::string padded(long value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%010ld", value);
    return text;
}

struct Subsection {
    long first;
    std::vector<std::string> entries;
};

// Entries for objects first .. first + count - 1 whose offsets are the object
// numbers times ten, so a line tells where it came from.
Subsection run(long first, long count, long offsetBase = 0)
{
    Subsection subsection{first, {}};
    for (long i = 0; i < count; ++i) subsection.entries.push_back(entry(offsetBase + (first + i) * 10));
    return subsection;
}

struct Section {
    explicit Section(std::vector<Subsection> list, std::string keys = "/Root 1 0 R")
        : subsections(std::move(list)), trailerKeys(std::move(keys))
    {
    }
    std::vector<Subsection> subsections;
    std::string trailerKeys;
};

// Lays a document out newest section first, behind a "startxref" block at
// the very start: every section and trailer then ends the file or is
// followed only by older ones, so a test can cut the file inside any entry.
// Each older section is reached by a /Prev in the one before it.
struct Layout {
    std::string text;
    std::vector<std::size_t> entryOffsets;  // of each entry, in file order
};

Layout layOut(const std::vector<Section>& newestFirst)
{
    const std::string head = "%PDF-1.4\nstartxref\n";
    Layout layout;
    std::string& text = layout.text;
    text = head + padded(0) + "\n%%EOF\n";
    std::vector<std::size_t> sectionOffsets;
    std::vector<std::size_t> prevFields;
    for (std::size_t s = 0; s < newestFirst.size(); ++s) {
        const Section& section = newestFirst[s];
        sectionOffsets.push_back(text.size());
        text += "xref\n";
        for (const Subsection& subsection : section.subsections) {
            text += std::to_string(subsection.first) + " " + std::to_string(subsection.entries.size()) + "\n";
            for (const std::string& e : subsection.entries) {
                layout.entryOffsets.push_back(text.size());
                text += e;
            }
        }
        text += "trailer\n<< /Size 99 " + section.trailerKeys;
        if (s + 1 < newestFirst.size()) {
            text += " /Prev ";
            prevFields.push_back(text.size());
            text += padded(0);
        }
        text += " >>\n";
    }
    text.replace(head.size(), 10, padded(static_cast<long>(sectionOffsets[0])));
    for (std::size_t k = 0; k < prevFields.size(); ++k)
        text.replace(prevFields[k], 10, padded(static_cast<long>(sectionOffsets[k + 1])));
    return layout;
}

struct TrailerResult {
    int result = 0;
    std::int32_t lastError = 0;
    std::int32_t root = 0;
    std::int32_t info = 0;
    std::string table;
};

TrailerResult read(const std::string& text)
{
    ExactBuffer document(text);
    DocumentReader reader(document.begin(), document.end());
    Byte* start = nullptr;
    Byte* end = nullptr;
    TrailerResult r;
    r.result = readTrailer(reader, &start, &end, &r.root);
    r.lastError = reader.lastError;
    r.info = reader.infoObjectNumber;
    if (r.result == 1) {
        r.table.assign(reinterpret_cast<const char*>(start), static_cast<std::size_t>(end - start));
        freeBlock(start);
    } else {
        EXPECT_EQ(start, nullptr);
    }
    return r;
}

TEST(ReadTrailer, OneSectionGivesOneLinePerObject)
{
    Section section{{{0, {entry(0, 65535, 'f'), entry(17), entry(81)}}}};
    const TrailerResult r = read(layOut({section}).text);
    ASSERT_EQ(r.result, 1) << r.lastError;
    EXPECT_EQ(r.table, "0 0 65535 f\n1 17 0 n\n2 81 0 n\n");
    EXPECT_EQ(r.root, 1);
    EXPECT_EQ(r.info, 0);
    EXPECT_EQ(r.lastError, 0);
}

TEST(ReadTrailer, MergesSubsectionsAndSectionsInOrderNewestWinning)
{
    struct Case {
        const char* name;
        std::vector<Section> sections;
        std::string table;
    };
    const Case cases[] = {
        {"subsections sorted",
         {Section{{run(0, 1), run(5, 2), run(3, 1)}}},
         "0 0 0 n\n3 30 0 n\n5 50 0 n\n6 60 0 n\n"},
        {"earlier subsection wins within a section",
         {Section{{{1, {entry(100)}}, {1, {entry(200)}}}}},
         "1 100 0 n\n"},
        {"newest section wins, older objects kept",
         {Section{{{5, {entry(900)}}}}, Section{{run(0, 4), {5, {entry(400)}}, run(7, 1)}}},
         "0 0 0 n\n1 10 0 n\n2 20 0 n\n3 30 0 n\n5 900 0 n\n7 70 0 n\n"},
        {"a newer free entry hides an older one",
         {Section{{{2, {entry(0, 1, 'f')}}}}, Section{{run(1, 2)}}},
         "1 10 0 n\n2 0 1 f\n"},
        {"any spacing and line end",
         {Section{{{0, {"17 0 n\n", "  18   3  f \n", "0000000019 00000 n\r\n"}}}}},
         "0 17 0 n\n1 18 3 f\n2 19 0 n\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TrailerResult r = read(layOut(c.sections).text);
        ASSERT_EQ(r.result, 1) << r.lastError;
        EXPECT_EQ(r.table, c.table);
    }
}

TEST(ReadTrailer, TakesRootAndInfoFromTheNewestTrailerThatHasThem)
{
    struct Case {
        std::string newestKeys;
        std::string olderKeys;
        std::int32_t root;
        std::int32_t info;
    };
    const Case cases[] = {
        {"/Root 3 0 R /Info 4 0 R", "/Root 1 0 R /Info 2 0 R", 3, 4},
        {"/Info 4 0 R", "/Root 1 0 R /Info 2 0 R", 1, 4},
        {"/Root 3 0 R /Info 0 0 R", "/Info 2 0 R", 3, 2},
        {"/Root x /Info y", "/Root 1 0 R", 1, 0},
        {"/Size 3", "/ID [<00><00>]", -1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.newestKeys + " | " + c.olderKeys);
        Section newest{{run(1, 1)}, c.newestKeys};
        Section older{{run(2, 1)}, c.olderKeys};
        const TrailerResult r = read(layOut({newest, older}).text);
        ASSERT_EQ(r.result, 1) << r.lastError;
        EXPECT_EQ(r.root, c.root);
        EXPECT_EQ(r.info, c.info);
    }
}

TEST(ReadTrailer, PrevChainThatComesBackEnds)
{
    // Sections at A, B, C; C's /Prev points back at A or at itself.
    for (int target : {0, 1, 2}) {
        SCOPED_TRACE(target);
        std::vector<Section> sections{Section{{run(1, 1)}}, Section{{run(2, 1)}}, Section{{run(3, 1)}}};
        std::string text = layOut(sections).text;
        std::vector<std::size_t> xrefs;
        for (std::size_t at = text.find("xref\n"); at != std::string::npos; at = text.find("xref\n", at + 1))
            if (text.compare(at - 5, 5, "start") != 0) xrefs.push_back(at);
        ASSERT_EQ(xrefs.size(), 3u);
        const std::size_t lastTrailer = text.rfind(">>");
        text.insert(lastTrailer, "/Prev " + std::to_string(xrefs[static_cast<std::size_t>(target)]) + " ");
        const TrailerResult r = read(text);
        ASSERT_EQ(r.result, 1) << r.lastError;
        EXPECT_EQ(r.table, "1 10 0 n\n2 20 0 n\n3 30 0 n\n");
    }
}

TEST(ReadTrailer, StartxrefInACommentIsSkipped)
{
    // One section, so only the startxref value moves with the insertion.
    std::string text = layOut({Section{{run(0, 2)}}}).text;
    const std::string comment = "% startxref 5\n";
    const long section = std::stol(text.substr(19, 10));
    text.replace(19, 10, padded(section + static_cast<long>(comment.size())));
    text.insert(text.find("%%EOF"), comment);
    const TrailerResult r = read(text);
    ASSERT_EQ(r.result, 1) << r.lastError;
    EXPECT_EQ(r.table, "0 0 0 n\n1 10 0 n\n");
}

// One entry of the layout cut short or spoiled.
enum class Spoil { Offset, Generation, EndBeforeFlag, Flag };

std::string spoilEntry(const Layout& layout, std::size_t entryIndex, Spoil spoil)
{
    std::string text = layout.text;
    const std::size_t at = layout.entryOffsets[entryIndex];
    switch (spoil) {
    case Spoil::Offset: text[at] = 'x'; break;
    case Spoil::Generation: text[at + 11] = 'x'; break;
    case Spoil::EndBeforeFlag: text.resize(at + 17); break;
    case Spoil::Flag: text[at + 17] = 'x'; break;
    }
    return text;
}

TEST(ReadTrailer, EveryMalformedEntryHasTheCodeOfItsPlace)
{
    // Newest: objects 10, 11; then 9..12 merged (9 inserted, 10 and 11
    // duplicates, 12 appended). Older: 8..13 (8 inserted, 9..12 duplicates,
    // 13 appended).
    const Layout layout = layOut({Section{{run(10, 2), run(9, 4)}}, Section{{run(8, 6)}}});
    ASSERT_EQ(read(layout.text).result, 1);
    struct Place {
        const char* name;
        std::size_t entryIndex;
        std::int32_t codes[4];  // offset, generation, end before flag, flag
    };
    const Place places[] = {
        {"newest, first subsection", 0, {-22, -24, -26, -27}},
        {"newest, inserted", 2, {-38, -40, -42, -43}},
        {"newest, duplicate", 3, {-33, -34, -35, -36}},
        {"newest, appended", 5, {-47, -49, -51, -52}},
        {"older, inserted", 6, {-64, -66, -68, -69}},
        {"older, duplicate", 7, {-59, -60, -61, -62}},
        {"older, appended", 11, {-73, -75, -77, -78}},
    };
    for (const Place& place : places) {
        for (int kind = 0; kind < 4; ++kind) {
            SCOPED_TRACE(std::string(place.name) + " spoil " + std::to_string(kind));
            const TrailerResult r = read(spoilEntry(layout, place.entryIndex, static_cast<Spoil>(kind)));
            EXPECT_EQ(r.result, 0);
            EXPECT_EQ(r.lastError, place.codes[kind]);
        }
    }
}

// Offsets past 2^31 and 2^32 are read whole, up to the ten digits a table
// line holds; one more is a bad table, as a value past 31 bits once was.
TEST(ReadTrailer, OffsetsUpToTenDigits)
{
    struct Case {
        long long offset;
        std::int32_t lastError;  // 0: read
    };
    const Case cases[] = {{2147483648LL, 0}, {4294967301LL, 0}, {9999999999LL, 0}, {10000000000LL, -22}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.offset);
        const Subsection subsection{0, {entry(0), std::to_string(c.offset) + " 00000 n\r\n"}};
        const TrailerResult r = read(layOut({Section{{subsection}}}).text);
        EXPECT_EQ(r.lastError, c.lastError);
        const std::string line = "1 " + std::to_string(c.offset) + " 0 n\n";
        EXPECT_EQ(r.table.find(line) != std::string::npos, c.lastError == 0) << r.table;
    }
}

TEST(ReadTrailer, StructuralFaultsHaveTheirCodes)
{
    const std::string good = layOut({Section{{run(0, 2), run(5, 1)}}, Section{{run(1, 3), run(20, 1)}}}).text;
    ASSERT_EQ(read(good).result, 1);
    auto replaced = [&](const std::string& from, const std::string& to, bool last = false) {
        std::string text = good;
        const std::size_t at = last ? text.rfind(from) : text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return text.replace(at, from.size(), to);
    };
    const std::size_t newestTrailer = good.find("trailer");
    struct Case {
        const char* name;
        std::string text;
        std::int32_t code;
    };
    const Case cases[] = {
        {"no %%EOF", replaced("%%EOF", "%%EOX"), -15},
        {"no startxref", replaced("startxref", "startxrex"), -16},
        {"startxref without a number", replaced("startxref\n", "startxref\nx"), -17},
        {"section beyond the end", replaced(good.substr(19, 10), "0000099999"), -18},
        {"section offset at an object", replaced(good.substr(19, 10), "0000000000"), -18},
        {"xref keyword spoiled", replaced("xref\n0 2", "xrex\n0 2"), -18},
        {"first subsection count", replaced("xref\n0 2", "xref\n0 x"), -19},
        {"newest further count", replaced("5 1\n", "5 x\n"), -29},
        {"older further count", replaced("20 1\n", "20 x\n"), -90},
        {"end before trailer", good.substr(0, newestTrailer) + "\n\n", -80},
        {"no trailer keyword", replaced("trailer", "trailor"), -81},
        {"bad byte after trailer", replaced("trailer\n", "trailerX"), -82},
        {"end before dictionary", good.substr(0, newestTrailer) + "trailer  ", -83},
        {"no dictionary", replaced("trailer\n<<", "trailer\n[ "), -84},
        {"older dictionary never closed", replaced(">>", "  ", true), -87},
        {"prev not a number", replaced("/Prev ", "/Prev x"), -89},
        {"prev runs into >>", replaced(" >>\nxref", ">>\nxref"), -89},
        {"newest trailer encrypted", replaced("/Size 99", "/Encrypt 9 0 R"), -1000},
        {"older trailer encrypted", replaced("/Size 99", "/Encrypt 9 0 R", true), -1000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TrailerResult r = read(c.text);
        EXPECT_EQ(r.result, 0);
        EXPECT_EQ(r.lastError, c.code);
    }
}

TEST(ReadTrailer, EveryPrefixOfAGoodDocumentFailsCleanly)
{
    const std::string good = layOut({Section{{run(0, 3), run(7, 2)}}, Section{{run(1, 4)}}}).text;
    for (std::size_t length = 0; length < good.size(); ++length) {
        const TrailerResult r = read(good.substr(0, length));
        if (r.result == 0) {
            EXPECT_LT(r.lastError, 0) << length;
        }
    }
}

// A failed allocation at any point gives the code of that point and leaves
// no block alive; the codes seen over all points are the document's
// allocation and growth codes.
std::set<std::int32_t> allocationFailureCodes(const std::string& text)
{
    std::set<std::int32_t> codes;
    for (long long n = 1;; ++n) {
        const long long before = liveBlockCount();
        failAllocationAt(n);
        const TrailerResult r = read(text);
        failAllocationAt(0);
        EXPECT_EQ(liveBlockCount(), before) << "allocation " << n;
        if (r.result == 1) break;
        codes.insert(r.lastError);
    }
    return codes;
}

TEST(ReadTrailer, AllocationFailuresHaveTheCodeOfTheirStep)
{
    struct Case {
        const char* name;
        std::vector<Section> sections;
        std::set<std::int32_t> codes;
    };
    // The entries of the whole chain are gathered in one list, sorted once
    // and written out as the table: the list's first block, its growth
    // (by section and subsection), and the table.
    const Case cases[] = {
        {"one small section", {Section{{run(0, 3)}}}, {-20, -91}},
        {"first subsection grows", {Section{{run(0, 1400)}}}, {-20, -21, -91}},
        {"a later subsection grows", {Section{{run(2000, 1), run(0, 1400)}}}, {-20, -46, -91}},
        {"an older section grows", {Section{{run(2000, 1)}}, Section{{run(0, 1400)}}}, {-20, -72, -91}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(allocationFailureCodes(layOut(c.sections).text), c.codes);
    }
}

// Gathering the entries must not cost the square of their number: a small
// file of many one-entry subsections, in an order that puts each before
// the last, once took minutes before the producer was even checked.
TEST(ReadTrailer, ManySmallSubsectionsAreReadInLinearTime)
{
    constexpr long subsections = 200000;
    std::vector<Subsection> list;
    list.reserve(subsections);
    for (long k = 0; k < subsections; ++k) list.push_back(run(subsections - k, 1));
    const std::string text = layOut({Section{std::move(list)}}).text;
    const auto start = std::chrono::steady_clock::now();
    const TrailerResult r = read(text);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    ASSERT_EQ(r.result, 1);
    EXPECT_EQ(r.table.substr(0, 12), "1 10 0 n\n2 2");
    EXPECT_EQ(std::count(r.table.begin(), r.table.end(), '\n'), subsections);
    EXPECT_LT(elapsed, std::chrono::seconds(1) * testing::sanitizerSlowdown);
}

}  // namespace
}  // namespace ravoth

namespace ravoth {
namespace {

// A table declared sorted is bisected; for every table readTrailer writes,
// every object number must give what the scan from the first line gives.
TEST(DeclaredXrefTable, BisectionAgreesWithTheScan)
{
    const std::vector<std::vector<Section>> documents = {
        {Section{{run(0, 1)}}},
        {Section{{run(0, 3), run(7, 2)}}, Section{{run(1, 4), run(20, 1)}}},
        {Section{{run(5, 1), run(0, 1400)}}, Section{{run(900, 1200), run(5000, 3)}}},
    };
    for (const auto& sections : documents) {
        ExactBuffer document(layOut(sections).text);
        DocumentReader reader(document.begin(), document.end());
        Byte* start = nullptr;
        Byte* end = nullptr;
        std::int32_t root = 0;
        ASSERT_EQ(readTrailer(reader, &start, &end, &root), 1);
        std::vector<std::pair<int, std::int32_t>> scanned;
        for (int n = 0; n <= 5010; ++n) {
            const int offset = lookupObjectOffset(reader, start, end, n);
            scanned.emplace_back(offset, reader.lastError);
        }
        reader.setSortedTable(start, end);
        for (int n = 0; n <= 5010; ++n) {
            const int offset = lookupObjectOffset(reader, start, end, n);
            ASSERT_EQ(std::make_pair(offset, reader.lastError), scanned[static_cast<std::size_t>(n)]) << n;
        }
        reader.setSortedTable(nullptr, nullptr);
        freeBlock(start);
    }
}

}  // namespace
}  // namespace ravoth
