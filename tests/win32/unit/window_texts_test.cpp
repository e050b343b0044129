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

// The Japanese line names the pages of the range first.
TEST(WindowTexts, ProgressLinePutsEachCountInItsPlace)
{
    EXPECT_EQ(progressText(en, 7, 240), L"page 7 of 240");
    EXPECT_EQ(progressText(ja, 7, 240), L"240 \u30DA\u30FC\u30B8\u4E2D 7 \u30DA\u30FC\u30B8\u76EE");
}

// The window tests see Complete, Failure with its reason and Cancelled;
// only a run with pages missing ends here.
TEST(WindowTexts, PartlyCompleteBoxGivesTheReasonBelowItsText)
{
    RunReport report;
    report.result = somePageNotWritten;
    report.failure = RunFailure::PagesMissing;
    report.pagesNotWritten = 2;
    report.pagesInRange = 40;
    report.pageFilesWritten = 38;
    EXPECT_EQ(outcomeText(en, report, true), L"Complete\n\nBut Partly\n\n2 of 40 pages could not be written");
    EXPECT_EQ(outcomeText(ja, report, true),
              L"\u5B8C\u4E86\n\n\u4F46\u3057\u62BD\u51FA\u3067\u304D\u306A\u304B\u3063\u305F\u30DA\u30FC"
              L"\u30B8\u304C\u3042\u308A\u307E\u3059\n\n2 / 40 \u30DA\u30FC\u30B8\u3092\u66F8\u304D\u51FA"
              L"\u305B\u307E\u305B\u3093\u3067\u3057\u305F");
}

}  // namespace
}  // namespace ravoth::win32
