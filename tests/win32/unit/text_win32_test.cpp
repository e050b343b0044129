#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "image/title_name.h"
#include "platform/memory.h"
#include "platform/text.h"
#include "tests/win32/unit/code_page.h"

namespace ravoth {
namespace {

using testing::inCodePage;

struct Case {
    const char* name;
    std::u16string units;
    std::string expected;  // the bytes before the NUL
};

void checkConversions(const std::vector<Case>& cases)
{
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        char output[64];
        std::memset(output, 'x', sizeof output);
        const int written = wideCharToMultiByte(c.units.c_str(), output, sizeof output);
        ASSERT_EQ(written, static_cast<int>(c.expected.size()) + 1);
        EXPECT_EQ(std::string(output, c.expected.size()), c.expected);
        EXPECT_EQ(output[c.expected.size()], '\0');
    }
}

TEST(WideCharToMultiByte, PlainTextAndBufferLimits)
{
    checkConversions({{"empty", u"", ""}, {"ASCII", u"Intro 1", "Intro 1"}});
    char output[4];
    EXPECT_EQ(wideCharToMultiByte(u"abc", output, 4), 4);  // exactly fits with its NUL
    EXPECT_EQ(wideCharToMultiByte(u"abcd", output, 4), 0);
    EXPECT_EQ(wideCharToMultiByte(u"a", output, 0), 0);
    EXPECT_EQ(wideCharToMultiByte(u"a", output, -1), 0);
    EXPECT_EQ(wideCharToMultiByte(nullptr, output, 4), 0);
    EXPECT_EQ(wideCharToMultiByte(u"a", nullptr, 4), 0);
}

TEST(WideCharToMultiByte, CodePage1252)
{
    if (!inCodePage(1252)) GTEST_SKIP() << "needs ANSI code page 1252";
    checkConversions({
        {"Latin-1 letter", u"caf\u00E9", "caf\xE9"},
        {"combining mark composed", u"cafe\u0301", "caf\xE9"},
        {"not in the code page", u"\u65E5\u672C", "??"},
        {"unpaired surrogate", u"a\xD800z", "a?z"},
    });
    EXPECT_STREQ(localEncodingName(), "CP1252");
}

TEST(WideCharToMultiByte, CodePage932)
{
    if (!inCodePage(932)) GTEST_SKIP() << "needs ANSI code page 932";
    checkConversions({
        {"kanji", u"\u65E5\u672C\u8A9E", "\x93\xFA\x96\x7B\x8C\xEA"},
        {"second byte 5C", u"\u8868", "\x95\x5C"},
        {"half-width katakana", u"\uFF7F", "\xBF"},
        {"combining sound mark composed", u"\u304B\u3099", "\x82\xAA"},
        {"ASCII", u"a-1", "a-1"},
    });
    EXPECT_STREQ(localEncodingName(), "CP932");
}

TEST(TitleToFileName, CodePage932TitlesBecomeDoubleByteText)
{
    if (!inCodePage(932)) GTEST_SKIP() << "needs ANSI code page 932";
    struct TitleCase {
        std::string title;
        std::string expected;
    };
    for (const TitleCase& c : {TitleCase{"<FEFF 8868 7D19>", "\x95\x5C\x8E\x86"},
                               TitleCase{"(\\376\\377\\210h)", "\x95\x5C"},
                               // Raw code-page bytes; a 5C byte must be escaped in a literal.
                               TitleCase{"(\x95\\\\)", "\x95\x5C"}}) {
        char output[32];
        const int length = titleToFileName(reinterpret_cast<const Byte*>(c.title.data()),
                                           static_cast<int>(c.title.size()), output, sizeof output);
        ASSERT_EQ(length, static_cast<int>(c.expected.size())) << c.title;
        EXPECT_EQ(std::string(output, static_cast<std::size_t>(length)), c.expected) << c.title;
    }
}

TEST(TitleToFileName, UnicodeTitleNeedsOnlyTheWorkBlock)
{
    const std::string title = "<FEFF0041>";
    char output[16];
    failAllocationAt(1);
    EXPECT_EQ(titleToFileName(reinterpret_cast<const Byte*>(title.data()), static_cast<int>(title.size()),
                              output, sizeof output),
              -7);
    EXPECT_EQ(titleToFileName(reinterpret_cast<const Byte*>(title.data()), static_cast<int>(title.size()),
                              output, sizeof output),
              1);
    EXPECT_STREQ(output, "A");
}

}  // namespace
}  // namespace ravoth
