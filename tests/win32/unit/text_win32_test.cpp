#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "pdf/title_name.h"
#include "platform/memory.h"
#include "platform/text.h"
#include "tests/support/faults.h"
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
    EXPECT_EQ(wideCharToMultiByte(u"\u65E5", output, 3), 0);  // three bytes and the NUL
    EXPECT_EQ(wideCharToMultiByte(u"a", output, 0), 0);
    EXPECT_EQ(wideCharToMultiByte(u"a", output, -1), 0);
    EXPECT_EQ(wideCharToMultiByte(nullptr, output, 4), 0);
    EXPECT_EQ(wideCharToMultiByte(u"a", nullptr, 4), 0);
}

// UTF-8 whatever the ANSI code page: the run again in 932 gives the same.
TEST(WideCharToMultiByte, Utf8InEveryCodePage)
{
    checkConversions({
        {"Latin", u"caf\u00E9", "café"},
        {"Japanese", u"\u65E5\u672C", "日本"},
        {"Korean", u"\uD55C\uAD6D", "한국"},
        {"surrogate pair", u"\U0001F600", "😀"},
        {"full-width solidus, no look-alike", u"a\uFF0Fb", "a\xEF\xBC\x8F" "b"},
        {"combining mark composed", u"cafe\u0301", "café"},
        {"voiced sound mark composed", u"\u304B\u3099", "が"},
        {"two marks composed", u"a\u0323\u0302", "\xE1\xBA\xAD"},
        {"mark with no composed form", u"q\u0301", "q\xCC\x81"},
        {"compatibility ideograph kept", u"\uFA10", "\xEF\xA8\x90"},
        {"angstrom sign kept", u"\u212B", "\xE2\x84\xAB"},
        {"unpaired lead surrogate", u"a\xD800z", "a?z"},
        {"unpaired trail surrogate", u"a\xDC00", "a?"},
    });
    EXPECT_STREQ(localEncodingName(), "UTF-8");
}

struct LocalCase {
    const char* name;
    std::string bytes;
    int capacity;
    int result;            // bytes written with the NUL, or 0
    std::string expected;  // before the NUL
};

void checkLocalText(const std::vector<LocalCase>& cases)
{
    for (const LocalCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<char> text(static_cast<std::size_t>(c.capacity));
        std::memcpy(text.data(), c.bytes.data(), c.bytes.size());
        const int result = localTextToPathText(text.data(), static_cast<int>(c.bytes.size()), c.capacity);
        EXPECT_EQ(result, c.result);
        if (result > 0) {
            EXPECT_EQ(std::string(text.data(), static_cast<std::size_t>(result - 1)), c.expected);
            EXPECT_EQ(text[static_cast<std::size_t>(result - 1)], '\0');
        }
    }
}

TEST(LocalTextToPathText, AsciiStaysAndNeedsRoomForItsNul)
{
    checkLocalText({
        {"ASCII", "Intro", 6, 6, "Intro"},
        {"no room for the NUL", "Intro", 5, 0, ""},
        {"empty", "", 1, 1, ""},
    });
    failAllocationAt(1);
    checkLocalText({{"ASCII needs no work block", "a\\b", 4, 4, "a\\b"}});
    failAllocationAt(0);
}

TEST(LocalTextToPathText, CodePage1252)
{
    if (!inCodePage(1252)) GTEST_SKIP() << "needs ANSI code page 1252";
    checkLocalText({
        {"Latin-1 letter", "caf\xE9", 6, 6, "café"},
        // The euro sign: one byte, three in UTF-8.
        {"widest byte", "\x80\x80", 7, 7, "€€"},
        {"no room", "\x80\x80", 6, 0, ""},
    });
    failAllocationAt(1);
    checkLocalText({{"no work block", "caf\xE9", 6, 0, ""}});
    failAllocationAt(0);
}

TEST(TitleToFileName, CodePage932UnmarkedTitlesBecomeUtf8)
{
    if (!inCodePage(932)) GTEST_SKIP() << "needs ANSI code page 932";
    struct TitleCase {
        std::string title;
        std::string expected;
    };
    // Raw code-page bytes; a 5C byte must be escaped in a literal. Six
    // half-width katakana take 18 bytes from a title of 8.
    for (const TitleCase& c : {TitleCase{"(\x95\\\\)", "表"}, TitleCase{"(\xBF\xBF\xBF\xBF\xBF\xBF)", "ｿｿｿｿｿｿ"}}) {
        std::vector<char> output(static_cast<std::size_t>(titleBufferBytes(static_cast<int>(c.title.size()))));
        const int length = titleToFileName(reinterpret_cast<const Byte*>(c.title.data()),
                                           static_cast<int>(c.title.size()), output.data(),
                                           static_cast<int>(output.size()));
        ASSERT_EQ(length, static_cast<int>(c.expected.size())) << c.title;
        EXPECT_EQ(std::string(output.data(), static_cast<std::size_t>(length)), c.expected) << c.title;
    }
}

}  // namespace
}  // namespace ravoth
