#include <gtest/gtest.h>

#include <string>

#include "pdf/primitives.h"
#include "platform/memory.h"
#include "tests/support/exact_buffer.h"
#include "tests/support/faults.h"

namespace ravoth {
namespace {

using testing::ExactBuffer;
using namespace std::string_literals;

struct NumberCase {
    std::string text;
    int result;
    int lastError;
    std::size_t cursorAfter;
};

TEST(ReadNumber, ValuesCodesAndCursor)
{
    DocumentReader reader;
    const NumberCase cases[] = {
        {"  % note\r\n  12 0 R", 12, 0, 14},
        {"12]", 12, 0, 2},
        {"0000000017 ", 17, 0, 10},
        {"7/", 7, 0, 1},
        {"7\0"s, 7, 0, 1},
        {"2147483647 ", 2147483647, 0, 10},
        {"", -1, -9, 0},
        {"   ", -1, -10, 3},
        {"  % only a comment", -1, -10, 18},
        {"-3 ", -1, -11, 0},
        {"  x", -1, -11, 2},
        {"trailer", -1, -11, 0},
        {"12", -1, -12, 0},
        {" 12", -1, -12, 1},
        {"12.5 ", -1, -13, 0},
        {"12a ", -1, -13, 0},
        {"2147483648 ", -1, -13, 0},
        {"99999999999999999999999 ", -1, -13, 0},
    };
    for (const NumberCase& c : cases) {
        SCOPED_TRACE(c.text);
        ExactBuffer buffer(c.text);
        const Byte* cursor = buffer.begin();
        reader.lastError = 77;
        EXPECT_EQ(readNumber(reader, &cursor, buffer.end()), c.result);
        EXPECT_EQ(reader.lastError, c.lastError);
        EXPECT_EQ(static_cast<std::size_t>(cursor - buffer.begin()), c.cursorAfter);
    }
}

TEST(ReadNumber, SecondReadContinuesAfterFirst)
{
    DocumentReader reader;
    ExactBuffer buffer("  % note\r\n  12 0 R");
    const Byte* cursor = buffer.begin();
    EXPECT_EQ(readNumber(reader, &cursor, buffer.end()), 12);
    EXPECT_EQ(readNumber(reader, &cursor, buffer.end()), 0);
    EXPECT_EQ(*cursor, ' ');
}

struct KeyCase {
    std::string key;
    std::string text;
    long expectedOffset;  // -1: not found
    int lastError;
};

TEST(FindKey, FindsWholeTokensOutsideLiterals)
{
    DocumentReader reader;
    const KeyCase cases[] = {
        {"/Kids", "/Type /Pages /KidsX [1 0 R] /Kids [2 0 R]", 28, 0},
        {"/Root", "/Title (a /Root b) /Root 5 0 R", 19, 0},
        {"/Root", "/Title (a (nested /Root) \\) /Root) /Root 5 0 R", 35, 0},
        {"/Root", "% /Root 1\n/Root 2 ", 10, 0},
        {"/A", "/AB /A 1", 4, 0},
        {"/Root", "<< /X << /Root 1 >> >>", 9, 0},
        {"/Type", "/Type/Pages", 0, 0},
        {"/Type", "[/Type]", 1, 0},
        {"/Key", "/Key) ", -1, -3},
        {"/Key", "/Key)   /Key ", 8, 0},
        {"/Root", "/Root", -1, -2},
        {"/Root", "/Title (never closed /Root 1 0 R", -1, -2},
        {"/Root", "/Info 1 0 R % /Root 2 0 R", -1, -2},
        {"/Root", "/Info 1 0 R /Rootless", -1, -3},
        {"/Root", "", -1, -2},
    };
    for (const KeyCase& c : cases) {
        SCOPED_TRACE(c.key + " in " + c.text);
        ExactBuffer buffer(c.text);
        const Byte* found = findKey(reader, c.key, buffer.begin(), buffer.end());
        if (c.expectedOffset < 0)
            EXPECT_EQ(found, nullptr);
        else
            EXPECT_EQ(found, buffer.at(static_cast<std::size_t>(c.expectedOffset)));
        EXPECT_EQ(reader.lastError, c.lastError);
    }
}

struct CloseCase {
    std::string text;
    long expectedOffset;  // -1: none
};

TEST(FindMatchingClose, BalancesDictionariesAndSkipsLiterals)
{
    DocumentReader reader;
    const CloseCase cases[] = {
        {" /A << /B 1 >> /C (x>>y) >> rest", 25},
        {" /ID <0123ABCD>>>\n", 15},
        {" /A (a\\)b>>) >> ", 13},
        {" % >> in a comment\n >> ", 20},
        {"/Kids [1 0 R]>>\n", 13},
        {" /A 1 ", -1},
        {" /A 1 >>", -1},
        {" /A (never closed >> ", -1},
        {"", -1},
    };
    for (const CloseCase& c : cases) {
        SCOPED_TRACE(c.text);
        ExactBuffer buffer(c.text);
        reader.lastError = 55;
        const Byte* found = findMatchingClose(reader, buffer.begin(), buffer.end(), ">>", "<<");
        if (c.expectedOffset < 0)
            EXPECT_EQ(found, nullptr);
        else
            EXPECT_EQ(found, buffer.at(static_cast<std::size_t>(c.expectedOffset)));
        EXPECT_EQ(reader.lastError, 55) << "findMatchingClose must leave reader.lastError alone";
    }
}

struct KeywordCase {
    std::string keyword;
    std::string text;
    int result;
    long expectedOffset;  // where the cursor ends on success
    int lastError;
};

TEST(FindKeywordBackward, FindsTheLastStandaloneKeywordOutsideComments)
{
    DocumentReader reader;
    const KeywordCase cases[] = {
        {"%%EOF", "startxref\n9\n%%EOF", 1, 12, 0},
        {"%%EOF", "startxref\n9\n%%EOF\n", 1, 12, 0},
        {"%%EOF", "startxref\n9\n%%EOF\r\n", 1, 12, 0},
        {"%%EOF", "%%EOF\n% old %%EOF\n", 1, 0, 0},
        {"%%EOF", "%%EOF%comment", 1, 0, 0},
        {"startxref", "startxref\n1\n% startxref\n", 1, 0, 0},
        {"%%EOF", "x%%EOF", 0, -1, -14},
        {"%%EOF", "%%EOFX", 0, -1, -14},
        {"%%EOF", "%%EO", 0, -1, -14},
        {"", "%%EOF", 0, -1, -13},
    };
    for (const KeywordCase& c : cases) {
        SCOPED_TRACE(c.keyword + " in " + c.text);
        ExactBuffer buffer(c.text);
        const Byte* cursor = buffer.end();
        EXPECT_EQ(findKeywordBackward(reader, buffer.begin(), &cursor, c.keyword, buffer.end()), c.result);
        EXPECT_EQ(reader.lastError, c.lastError);
        if (c.result == 1) {
            EXPECT_EQ(cursor, buffer.at(static_cast<std::size_t>(c.expectedOffset)));
        }
    }
}

TEST(FindKeywordBackward, SearchesOnlyBeforeTheCursor)
{
    DocumentReader reader;
    ExactBuffer buffer("startxref\n1\n%%EOF\nstartxref\n2\n%%EOF\n");
    const Byte* cursor = buffer.at(18);  // the second "startxref"
    ASSERT_EQ(findKeywordBackward(reader, buffer.begin(), &cursor, "startxref", buffer.end()), 1);
    EXPECT_EQ(cursor, buffer.begin());
}

struct LookupCase {
    std::string table;
    int objectNumber;
    int result;
};

TEST(LookupObjectOffset, ScansLinesInOrder)
{
    DocumentReader reader;
    const std::string table = "0 0 65535 f\n1 17 0 n\n5 900 0 n\n12 4000 2 n\n";
    const LookupCase cases[] = {
        {table, 1, 17},
        {table, 5, 900},
        {table, 12, 4000},
        {table, 0, 0},  // a free entry yields its offset field like any other
        {table, 3, -92},
        {table, 13, -92},
        {"", 1, -92},
        {"1 10 0 n\n1 20 0 n\n", 1, 10},
        {"1 x 0 n\n", 1, -93},
        {"1 17 x n\n", 1, -94},
        {"1 17 ", 1, -94},
        {"1 17", 1, -93},
        {"2 5 0 n", 3, -95},
    };
    for (const LookupCase& c : cases) {
        SCOPED_TRACE(c.table + " for " + std::to_string(c.objectNumber));
        ExactBuffer buffer(c.table);
        EXPECT_EQ(lookupObjectOffset(reader, buffer.begin(), buffer.end(), c.objectNumber), c.result);
        EXPECT_EQ(reader.lastError, c.result < 0 ? c.result : 0);
    }
}

struct OpenCase {
    std::string text;
    std::int64_t offset;
    int objectNumber;
    long expectedBody;  // -1: null
    int lastError;
};

TEST(OpenObject, ChecksTheHeaderAndFindsTheBody)
{
    DocumentReader reader;
    const OpenCase cases[] = {
        {"7 0 obj\n<<", 0, 7, 8, 0},
        {"xx7 0 obj % note\n<<", 2, 7, 17, 0},
        {"7 0 obj<<", 0, 7, 7, 0},
        {"7 0 obj\n<<", 0, 8, -1, -97},
        {"7 0 obj\n<<", -92, 7, -1, -96},
        {"7 0 obj\n<<", 11, 7, -1, -96},
        {"7 0 obj\n<<", 10, 7, -1, -97},
        {"x 0 obj\n<<", 0, 7, -1, -97},
        {"7 R obj\n<<", 0, 7, -1, -98},
        {"7 0 ", 0, 7, -1, -99},
        {"7 0 obx <<", 0, 7, -1, -100},
        {"7 0 ob", 0, 7, -1, -100},
        {"7 0 obj  ", 0, 7, -1, -101},
        {"7 0 obj % to the end", 0, 7, -1, -101},
    };
    for (const OpenCase& c : cases) {
        SCOPED_TRACE(c.text + " at " + std::to_string(c.offset));
        ExactBuffer buffer(c.text);
        const Byte* body = openObject(reader, buffer.begin(), buffer.end(), c.offset, c.objectNumber);
        if (c.expectedBody < 0)
            EXPECT_EQ(body, nullptr);
        else
            EXPECT_EQ(body, buffer.at(static_cast<std::size_t>(c.expectedBody)));
        EXPECT_EQ(reader.lastError, c.lastError);
    }
}

TEST(OpenObject, TakesTheResultOfAFailedLookupWithoutReading)
{
    DocumentReader reader;
    ExactBuffer table("1 0 0 n\n");
    ExactBuffer document("1 0 obj\n<< >>\n");
    const int offset = lookupObjectOffset(reader, table.begin(), table.end(), 9);
    EXPECT_EQ(offset, -92);
    EXPECT_EQ(openObject(reader, document.begin(), document.end(), offset, 9), nullptr);
    EXPECT_EQ(reader.lastError, -96);
}

TEST(GrowBlock, CopiesContentAndKeepsTheOldBlockOnFailure)
{
    Byte* start = allocBlock(4);
    ASSERT_NE(start, nullptr);
    std::memcpy(start, "abcd", 4);
    Byte* capacityEnd = start + 4;

    failAllocationAt(1);
    EXPECT_EQ(growBlock(&start, &capacityEnd, 16384), 0);
    EXPECT_EQ(capacityEnd - start, 4);
    EXPECT_EQ(std::memcmp(start, "abcd", 4), 0);

    EXPECT_EQ(growBlock(&start, &capacityEnd, 16384), 1);
    EXPECT_EQ(capacityEnd - start, 4 + 16384);
    EXPECT_EQ(std::memcmp(start, "abcd", 4), 0);
    freeBlock(start);
}

}  // namespace
}  // namespace ravoth
