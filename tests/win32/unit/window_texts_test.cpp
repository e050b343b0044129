#include "app/win32/window_texts.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/window_logic.h"

namespace ravoth::win32 {
namespace {

constexpr Language en = Language::English;
constexpr Language ja = Language::Japanese;

// The wide calls get UTF-16 in both languages, whatever the ANSI code page.
TEST(WindowTexts, BothLanguagesReachTheWideCallsAsUtf16InEveryCodePage)
{
    struct Case {
        const Text& text;
        std::wstring japanese;
    };
    const Case cases[] = {
        {texts::complete, L"\u5B8C\u4E86"},
        {texts::fileNameLabel, L"\u30D5\u30A1\u30A4\u30EB\u540D"},
        {texts::extractButton, L"BMP/JPG\u62BD\u51FA"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(windowText(c.text, ja), c.japanese) << c.text.english;
        EXPECT_EQ(windowText(c.text, en), std::wstring(c.text.english.begin(), c.text.english.end()));
    }
    EXPECT_EQ(windowText(japaneseFontFace), L"\uFF2D\uFF33 \uFF30 \u30B4\u30B7\u30C3\u30AF");
    for (const ControlLayout& control : mainWindowControls)
        EXPECT_EQ(windowText(control.text, ja).empty(), control.text.japanese.empty()) << control.text.english;
}

TEST(WindowTexts, NotPdfMessageKeepsThePath)
{
    const std::wstring path = L"C:\\\u65E5\u672C \u30C6\u30B9\u30C8\\\uD55C%s.txt";
    EXPECT_EQ(notPdfText(en, path), L"Not PDF File\n\n" + path);
    const std::wstring japanese = notPdfText(ja, path);
    EXPECT_EQ(japanese.substr(japanese.size() - path.size() - 2), L"\n\n" + path);
}

}  // namespace
}  // namespace ravoth::win32
