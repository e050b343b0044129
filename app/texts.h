// Every text the program shows, Japanese and English side by side. The
// Japanese texts are UTF-8 here; the Windows build converts them for its
// ANSI calls.
#pragma once

#include <string_view>

namespace ravoth {

enum class Language { English, Japanese };

struct Text {
    std::string_view japanese;
    std::string_view english;
    constexpr std::string_view in(Language language) const
    {
        return language == Language::Japanese ? japanese : english;
    }
};

namespace texts {

// Outcome messages of one extraction.
inline constexpr Text complete{"完了", "Complete"};
inline constexpr Text completePartly{"完了\n\n但し抽出できなかったページがあります",
                                     "Complete\n\nBut Partly"};
inline constexpr Text failure{"ファイル抽出に失敗しました", "Failure"};

// Other messages; "%s" stands for the dropped path.
inline constexpr Text onlyOneFile{"一度にドラッグ 入力できるファイルは一つです",
                                  "Only One PDF File is Available"};
inline constexpr Text notPdfFile{"ドラッグされたファイルはＰＤＦファイルではありません\n\n%s",
                                 "Not PDF File\n\n%s"};
inline constexpr Text pageInputError{"ページの入力値に誤りがあります", "Page Input Error"};
inline constexpr Text helpNotFound{"ヘルプファイルの起動に失敗しました", "Can't Find Help File"};

inline constexpr std::string_view caption = "Ravoth";
inline constexpr std::string_view version = "0.84";
inline constexpr std::string_view description = "Extract BMP/JPG File from PDF File";

}  // namespace texts

// The language of the user's locale: Japanese when the first of LC_ALL,
// LC_MESSAGES and LANG that is set and not empty names Japanese ("ja",
// "ja_JP.UTF-8", ...), else English.
Language localeLanguage();

}  // namespace ravoth
