#include "app/win32/window_texts.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/window_logic.h"

namespace ravoth::win32 {
namespace {

constexpr Language en = Language::English;
constexpr Language ja = Language::Japanese;

TEST(WindowTexts, JapaneseReachesTheAnsiCallsInCodePage932)
{
    struct Case {
        const Text& text;
        std::string cp932;
    };
    const Case cases[] = {
        {texts::complete, "\x8A\xAE\x97\xB9"},
        {texts::fileNameLabel, "\x83t\x83@\x83""C\x83\x8B\x96\xBC"},
        {texts::refButton, "\x8EQ\x8F\xC6"},
        {texts::extractButton, "BMP/JPG\x92\x8A\x8Fo"},
        {texts::pageRangeDash, "-"},
        {texts::dropHint, "\x81\xA6\x82\xB1\x82\xCC\x83""E\x83""B\x83\x93\x83""h\x83""E\x82\xC9\x83t\x83@\x83""C"
                          "\x83\x8B\x82\xF0\x83h\x83\x89\x83""b\x83O\x82\xB5\x82\xC4\x82\xE0\n  \x83t\x83@"
                          "\x83""C\x83\x8B\x96\xBC\x82\xCC\x93\xFC\x97\xCD\x82\xAA\x89\xC2\x94\\\x82\xC5\x82\xB7"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(windowText(c.text, ja), c.cp932) << c.text.english;
        EXPECT_EQ(windowText(c.text, en), c.text.english);
    }
    EXPECT_EQ(windowText(japaneseFontFace, ja), "\x82l\x82r \x82o \x83S\x83V\x83""b\x83N");
}

TEST(WindowTexts, EveryJapaneseTextConverts)
{
    for (const ControlLayout& control : mainWindowControls)
        EXPECT_EQ(windowText(control.text, ja).empty(), control.text.japanese.empty()) << control.text.english;
    for (const MenuEntry& entry : mainMenu)
        EXPECT_EQ(windowText(entry.text, ja).empty(), entry.text.japanese.empty()) << entry.text.english;
    for (const Text* text : {&texts::completePartly, &texts::failure, &texts::onlyOneFile, &texts::notPdfFile,
                             &texts::pageInputError, &texts::helpNotFound, &texts::browseTitle})
        EXPECT_FALSE(windowText(*text, ja).empty()) << text->english;
    EXPECT_EQ(toCodePage("\xFF", japaneseCodePage), "");  // not UTF-8
}

TEST(WindowTexts, NotPdfMessageKeepsThePathBytes)
{
    const std::string path = "C:\\\x95\x5C\\a.txt";  // C:\表\a.txt in code page 932
    EXPECT_EQ(notPdfText(en, path), "Not PDF File\n\n" + path);
    EXPECT_EQ(notPdfText(ja, path).substr(notPdfText(ja, path).size() - path.size() - 2), "\n\n" + path);
    EXPECT_EQ(notPdfText(en, "100%s %d"), "Not PDF File\n\n100%s %d");
}

TEST(WindowTexts, HelpPagesFollowTheWorkingFolderWithABackslash)
{
    EXPECT_EQ(helpPagePaths("C:\\tools", en),
              (std::vector<std::string>{"C:\\tools\\RavothE.htm", "C:\\tools\\Ravoth.htm"}));
    EXPECT_EQ(helpPagePaths("C:\\tools", ja), (std::vector<std::string>{"C:\\tools\\Ravoth.htm"}));
    EXPECT_EQ(helpPagePaths("", ja), (std::vector<std::string>{"\\Ravoth.htm"}));
}

}  // namespace
}  // namespace ravoth::win32
