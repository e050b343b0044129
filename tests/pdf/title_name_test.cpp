#include "pdf/title_name.h"

#include <gtest/gtest.h>

#include <clocale>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "platform/memory.h"
#include "tests/support/ctype_locale.h"
#include "tests/support/exact_buffer.h"
#include "tests/support/faults.h"

namespace ravoth {
namespace {

using Bytes = std::vector<unsigned char>;
using ravoth::testing::ExactBuffer;
using namespace std::string_view_literals;

using ravoth::testing::CtypeLocale;
using ravoth::testing::Utf8PathText;

struct Decoded {
    int result;
    Bytes text;  // the text before the NUL, when result >= 0
};

// Decodes `title` from a block of exactly its length into a buffer of
// exactly `capacity` bytes, so ASan catches a byte read or written past
// either.
Decoded decode(std::string_view title, int capacity)
{
    const ExactBuffer input(title);
    std::vector<char> output(static_cast<std::size_t>(capacity > 0 ? capacity : 1));
    const int result = titleToFileName(input.begin(), static_cast<int>(input.size()),
                                       output.data(), capacity);
    Decoded decoded{result, {}};
    if (result >= 0) {
        EXPECT_LT(result, capacity);
        EXPECT_EQ(output[result], '\0');
        decoded.text.assign(output.begin(), output.begin() + result);
    }
    return decoded;
}

Decoded decode(std::string_view title)
{
    return decode(title, static_cast<int>(title.size()) + 2);
}

struct Case {
    const char* what;
    std::string_view title;
    int capacity;  // 0: the title's length + 2
    int expected;
    Bytes text;
};

void checkCases(const std::vector<Case>& cases)
{
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Decoded d = c.capacity ? decode(c.title, c.capacity) : decode(c.title);
        EXPECT_EQ(d.result, c.expected);
        if (d.result >= 0) {
            EXPECT_EQ(d.text, c.text);
        }
    }
}

TEST(TitleToFileName, LiteralStrings)
{
    checkCases({
        {"plain", "(Intro)", 0, 5, {'I', 'n', 't', 'r', 'o'}},
        {"escaped parentheses", "(a\\(b\\))", 0, 4, {'a', '(', 'b', ')'}},
        {"octal then letters", "(\\101BC)", 0, 3, {'A', 'B', 'C'}},
        {"not octal: backslash dropped", "(\\8)", 0, 1, {'8'}},
        {"octal stops after three digits", "(\\1234)", 0, 2, {'S', '4'}},
        {"short octal", "(\\0053)", 0, 2, {0x05, '3'}},
        {"octal keeps the low 8 bits", "(\\501)", 0, 1, {'A'}},
        {"named escapes", "(\\n\\r\\t\\b\\f\\\\)", 0, 6, {0x0A, 0x0D, 0x09, 0x08, 0x0C, 0x5C}},
        {"backslash before end of line", "(a\\\nb)", 0, 3, {'a', 0x0A, 'b'}},
        {"unbalanced open", "(a(b)", 0, 3, {'a', '(', 'b'}},
        {"backslash before the closer", "(ab\\)", 0, 2, {'a', 'b'}},
        {"empty", "()", 0, 0, {}},
        {"no closer", "(abc", 0, -2, {}},
        {"byte after the closer", "(abc)x", 0, -2, {}},
    });
}

TEST(TitleToFileName, HexStrings)
{
    checkCases({
        {"odd final digit", "<41 42 4>", 0, 3, {0x41, 0x42, 0x40}},
        {"odd digit then white space", "<4 >", 0, 1, {0x40}},
        {"white space inside pairs", "<4\n1\t4 2\f4\r3\0>"sv, 0, 3, {'A', 'B', 'C'}},
        {"lower and upper case", "<6a6B>", 0, 2, {'j', 'k'}},
        {"empty", "<>", 0, 0, {}},
        {"not a digit", "<41G2>", 0, -5, {}},
        {"no closer", "<4142", 0, -4, {}},
        {"only the opener", "<", 0, -4, {}},
    });
    // The lone byte is text of the system's byte encoding, whose path text
    // differs between systems; taken for UTF-16 it would give no text.
    EXPECT_GT(decode("<FE>").result, 0);
}

TEST(TitleToFileName, NoTitleAndCapacity)
{
    checkCases({
        {"empty title", "", 0, -1, {}},
        {"name object", "/Intro", 0, -1, {}},
        {"text and NUL fit exactly", "(abcd)", 5, 4, {'a', 'b', 'c', 'd'}},
        {"no room for the NUL", "(abcd)", 4, -3, {}},
        {"hex without room for the NUL", "<414243>", 3, -3, {}},
        {"hex odd digit without room", "<41424>", 2, -3, {}},
        {"empty without room for the NUL", "()", -1, -3, {}},
    });
    char output[4];
    EXPECT_EQ(titleToFileName(nullptr, 0, output, sizeof output), -1);
}

TEST(TitleToFileName, Utf16ToUtf8)
{
    const Utf8PathText utf8;
    if (!utf8.active()) GTEST_SKIP() << "no UTF-8 locale; install one (locale C.UTF-8)";
    const Bytes nihongo = {0xE6, 0x97, 0xA5, 0xE6, 0x9C, 0xAC, 0xE8, 0xAA, 0x9E};
    checkCases({
        {"only the mark, hex", "<FEFF>", 0, 0, {}},
        {"only the mark, octal", "(\\376\\377)", 0, 0, {}},
        {"mark and an odd byte", "<FEFF41>", 0, 0, {}},
        {"odd final byte ignored", "<FEFF004100>", 0, 1, {'A'}},
        {"Japanese in hex", "<FEFF 65E5 672C 8A9E>", 0, 9, nihongo},
        {"Japanese in octal escapes", "(\\376\\377e\\345g,\\212\\236)", 0, 9, nihongo},
        {"Japanese as raw bytes", "(\xFE\xFF\x65\xE5\x67\x2C\x8A\x9E)", 0, 9, nihongo},
        {"zero unit ends the text", "<FEFF0041000000420043>", 0, 1, {'A'}},
        {"converted text does not fit", "(\xFE\xFF\x65\xE5\x67\x2C\x8A\x9E)", 9, -1, {}},
    });
}

// Raw UTF-16 bytes in a literal string expand most when converted to UTF-8:
// 2 bytes of title become 3 bytes of text.
TEST(TitleToFileName, BufferOfTitleBufferBytesAlwaysSuffices)
{
    const Utf8PathText utf8;
    if (!utf8.active()) GTEST_SKIP() << "no UTF-8 locale; install one (locale C.UTF-8)";
    std::string raw = "(\xFE\xFF", octal = "(\\376\\377", hex = "<FEFF";
    for (int i = 0; i < 20; ++i) {  // U+65E5, three bytes in UTF-8
        raw += "\x65\xE5";
        octal += "e\\345";
        hex += "65E5";
    }
    raw += ")", octal += ")", hex += ">";
    for (const std::string& title : {raw, octal, hex}) {
        SCOPED_TRACE(title);
        const Decoded d = decode(title, titleBufferBytes(static_cast<int>(title.size())));
        ASSERT_EQ(d.result, 60);
        EXPECT_EQ(d.text[57], 0xE6);
        EXPECT_EQ(d.text[58], 0x97);
        EXPECT_EQ(d.text[59], 0xA5);
    }
    // The title's length + 2 is not enough for the raw form: 46 bytes for 61.
    EXPECT_EQ(decode(raw).result, -1);
    EXPECT_EQ(titleBufferBytes(-5), titleBufferBytes(0));
    EXPECT_GT(titleBufferBytes(0), 0);
    EXPECT_EQ(titleBufferBytes(INT_MAX), INT_MAX);
}

TEST(TitleToFileName, AllocationFailures)
{
    CtypeLocale locale({"C"});
    failAllocationAt(1);
    EXPECT_EQ(decode("<FEFF0041>").result, -7);  // the work block
    failAllocationAt(2);
    EXPECT_EQ(decode("<FEFF0041>").result, -1);  // the conversion's own block
    failAllocationAt(1);
    EXPECT_EQ(decode("(Intro)").result, 5);  // plain titles allocate nothing
}

}  // namespace
}  // namespace ravoth
