#include "app/texts.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "app/window_logic.h"

namespace {

using ravoth::Language;
using ravoth::MenuEntryKind;

// The letter after the one "&" of a menu text; 0 when there is not exactly one.
char mnemonicOf(std::string_view text)
{
    const std::size_t at = text.find('&');
    if (at == std::string_view::npos || at + 1 >= text.size()) return 0;
    if (text.find('&', at + 1) != std::string_view::npos) return 0;
    const char c = text[at + 1];
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string_view shortcutOf(std::string_view text)
{
    const std::size_t tab = text.find('\t');
    return tab == std::string_view::npos ? std::string_view() : text.substr(tab + 1);
}

TEST(Texts, MenuMnemonicsAgreeAcrossLanguagesAndShortcutsMatchAccelerators)
{
    int entries = 0;
    for (const ravoth::MenuEntry& entry : ravoth::mainMenu) {
        if (entry.kind == MenuEntryKind::Separator || entry.kind == MenuEntryKind::EndPopup) continue;
        ++entries;
        const std::string_view japanese = entry.text.japanese;
        const std::string_view english = entry.text.english;
        EXPECT_NE(mnemonicOf(english), 0) << english;
        EXPECT_EQ(mnemonicOf(japanese), mnemonicOf(english)) << english;
        EXPECT_EQ(shortcutOf(japanese), shortcutOf(english)) << english;
        std::string_view accelerator;
        for (const ravoth::Accelerator& a : ravoth::accelerators)
            if (a.commandId == entry.commandId && entry.kind == MenuEntryKind::Item)
                accelerator = a.keys;
        // Ref has Ctrl+R without showing it in the menu; the others show theirs.
        if (entry.commandId == ravoth::commandBrowse) EXPECT_EQ(shortcutOf(english), "");
        else EXPECT_EQ(shortcutOf(english), accelerator) << english;
    }
    EXPECT_EQ(entries, 7);
}

TEST(Texts, JapaneseTextsKeepTheirExactBytes)
{
    struct Case {
        ravoth::Text text;
        const char* japanese;
    };
    // Written out as bytes so that a change of the source file's encoding,
    // or a full-width character swapped for a half-width one, shows here.
    const Case cases[] = {
        {ravoth::texts::dropHint,
         "\xE2\x80\xBB\xE3\x81\x93\xE3\x81\xAE\xE3\x82\xA6\xE3\x82\xA3\xE3\x83\xB3\xE3\x83\x89"
         "\xE3\x82\xA6\xE3\x81\xAB\xE3\x83\x95\xE3\x82\xA1\xE3\x82\xA4\xE3\x83\xAB\xE3\x82\x92"
         "\xE3\x83\x89\xE3\x83\xA9\xE3\x83\x83\xE3\x82\xB0\xE3\x81\x97\xE3\x81\xA6\xE3\x82\x82"
         "\n  "
         "\xE3\x83\x95\xE3\x82\xA1\xE3\x82\xA4\xE3\x83\xAB\xE5\x90\x8D\xE3\x81\xAE\xE5\x85\xA5"
         "\xE5\x8A\x9B\xE3\x81\x8C\xE5\x8F\xAF\xE8\x83\xBD\xE3\x81\xA7\xE3\x81\x99"},
        {ravoth::texts::onlyOneFile,
         "\xE4\xB8\x80\xE5\xBA\xA6\xE3\x81\xAB\xE3\x83\x89\xE3\x83\xA9\xE3\x83\x83\xE3\x82\xB0 "
         "\xE5\x85\xA5\xE5\x8A\x9B\xE3\x81\xA7\xE3\x81\x8D\xE3\x82\x8B\xE3\x83\x95\xE3\x82\xA1"
         "\xE3\x82\xA4\xE3\x83\xAB\xE3\x81\xAF\xE4\xB8\x80\xE3\x81\xA4\xE3\x81\xA7\xE3\x81\x99"},
        {ravoth::texts::exitMenuItem, "\xE7\xB5\x82\xE4\xBA\x86(&X)\tCtrl+E"},
        {ravoth::texts::extractMenuItem, "BMP/JPG\xE6\x8A\xBD\xE5\x87\xBA(&E)"},
        {ravoth::texts::browseTitle,
         "\xE3\x83\x95\xE3\x82\xA1\xE3\x82\xA4\xE3\x83\xAB\xE3\x82\x92\xE5\x8F\x82\xE7\x85\xA7"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.text.japanese, c.japanese) << c.text.english;
    EXPECT_EQ(ravoth::japaneseFontFace,
              "\xEF\xBC\xAD\xEF\xBC\xB3 \xEF\xBC\xB0 \xE3\x82\xB4\xE3\x82\xB7\xE3\x83\x83\xE3\x82\xAF");
}

}  // namespace
