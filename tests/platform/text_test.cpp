#include "platform/text.h"
#include "tests/support/ctype_locale.h"

#include <gtest/gtest.h>

#include <clocale>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/memory.h"
#include "tests/support/faults.h"

namespace ravoth {
namespace {

using Bytes = std::vector<unsigned char>;

using ravoth::testing::CtypeLocale;

struct Case {
    const char* what;
    std::u16string units;
    int outputBytes;
    int expected;
    Bytes text;  // what the result must start with, NUL included
};

void checkCases(const std::vector<Case>& cases)
{
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // Exactly as large as promised, so a write past it trips ASan.
        std::vector<char> output(static_cast<std::size_t>(c.outputBytes > 0 ? c.outputBytes : 1));
        const int result = wideCharToMultiByte(c.units.c_str(), output.data(), c.outputBytes);
        ASSERT_EQ(result, c.expected);
        if (result > 0) {
            EXPECT_EQ(Bytes(output.begin(), output.begin() + result), c.text);
        }
    }
}

TEST(WideCharToMultiByte, Utf8Locale)
{
    CtypeLocale locale({"C.UTF-8", "C.utf8", "en_US.UTF-8"});
    if (!locale.active()) GTEST_SKIP() << "no UTF-8 locale; install one (locale C.UTF-8)";
    EXPECT_STREQ(localEncodingName(), "UTF-8");
    const char16_t loneLead[] = {u'a', 0xD83D, 0};
    const char16_t swappedPair[] = {0xDE00, 0xD83D, u'b', 0};
    checkCases({
        {"empty text", u"", 1, 1, {0}},
        {"exact fit", u"日本", 7, 7, {0xE6, 0x97, 0xA5, 0xE6, 0x9C, 0xAC, 0}},
        {"no room for the NUL", u"日本", 6, 0, {}},
        {"no room at all", u"ab", 0, 0, {}},
        {"base and mark composed", u"e\u0301", 16, 3, {0xC3, 0xA9, 0}},
        {"precomposed kept", u"\u00E9", 16, 3, {0xC3, 0xA9, 0}},
        {"two marks, one composes", u"e\u0301\u0302", 16, 5, {0xC3, 0xA9, 0xCC, 0x82, 0}},
        {"mark without base kept", u"\u0301a", 16, 4, {0xCC, 0x81, 'a', 0}},
        {"singleton not replaced", u"\u212B", 16, 4, {0xE2, 0x84, 0xAB, 0}},
        {"surrogate pair", u"\U0001F600", 16, 5, {0xF0, 0x9F, 0x98, 0x80, 0}},
        {"unpaired lead at the end", loneLead, 16, 3, {'a', '?', 0}},
        {"pair in the wrong order", swappedPair, 16, 4, {'?', '?', 'b', 0}},
    });
}

TEST(WideCharToMultiByte, AsciiLocale)
{
    CtypeLocale locale({"C", "POSIX"});
    ASSERT_TRUE(locale.active());
    EXPECT_STREQ(localEncodingName(), "ANSI_X3.4-1968");
    checkCases({
        {"precomposed letter", u"\u00E9", 4, 2, {'?', 0}},
        {"base survives, mark does not", u"e\u0301", 4, 3, {'e', '?', 0}},
        {"each unmappable character once", u"日本", 4, 3, {'?', '?', 0}},
        {"surrogate pair is one character", u"\U0001F600x", 4, 3, {'?', 'x', 0}},
    });
}

TEST(WideCharToMultiByte, ShiftJisLocale)
{
    CtypeLocale locale({"ja_JP.SJIS", "ja_JP.sjis", "ja_JP.SHIFT_JIS", "ja_JP.CP932",
                        "ja_JP.cp932"});
    if (!locale.active())
        GTEST_SKIP() << "no Shift_JIS locale; create one with "
                        "localedef -f SHIFT_JIS -i ja_JP ja_JP.SJIS";
    checkCases({
        {"kanji", u"日本", 8, 5, {0x93, 0xFA, 0x96, 0x7B, 0}},
        {"half-width katakana", u"\uFF71", 8, 2, {0xB1, 0}},
        {"backslash stays a backslash", u"a\\b", 8, 4, {'a', 0x5C, 'b', 0}},
        {"outside the code page", u"\uD55C", 8, 2, {'?', 0}},
        {"kana and voicing mark composed", u"\u30AB\u3099", 8, 3, {0x83, 0x4B, 0}},
        {"composed form missing", u"\u30F0\u3099", 8, 4, {0x83, 0x90, '?', 0}},
    });
}

TEST(WideCharToMultiByte, FailsWithoutMemoryAndFreesAll)
{
    CtypeLocale locale({"C"});
    failAllocationAt(1);
    char output[8];
    EXPECT_EQ(wideCharToMultiByte(u"abc", output, sizeof output), 0);
    EXPECT_EQ(allocationsAttempted(), 1);
}

// A title's own bytes are already in the locale's encoding, which is also
// the path encoding: they stay as they are, whatever they are.
TEST(LocalTextToPathText, BytesStandAsTheyAre)
{
    char text[4] = {'\xFF', '\xFE', 'a', 'x'};
    failAllocationAt(1);
    EXPECT_EQ(localTextToPathText(text, 3, 4), 4);
    EXPECT_EQ(std::string(text, 4), std::string("\xFF\xFE" "a\0", 4));
    EXPECT_EQ(localTextToPathText(text, 3, 3), 0);  // no room for the NUL
    failAllocationAt(0);
}

}  // namespace
}  // namespace ravoth
