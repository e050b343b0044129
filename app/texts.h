// Every text the program shows, Japanese and English side by side. The
// Japanese texts are UTF-8 here; the Windows build converts them to UTF-16
// for its wide calls.
#pragma once

#include <cstdio>
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

// Other messages; "%s" stands for the dropped path, or for the help page
// that exists but that no program on the desktop would open.
inline constexpr Text onlyOneFile{"一度にドラッグ 入力できるファイルは一つです",
                                  "Only One PDF File is Available"};
inline constexpr Text notPdfFile{"ドラッグされたファイルはＰＤＦファイルではありません\n\n%s",
                                 "Not PDF File\n\n%s"};
inline constexpr Text pageInputError{"ページの入力値に誤りがあります", "Page Input Error"};
inline constexpr Text helpNotFound{"ヘルプファイルの起動に失敗しました", "Can't Find Help File"};
inline constexpr Text helpNotOpened{"ヘルプファイルを開くプログラムがありません\n\n%s",
                                   "Can't Open Help File\n\n%s"};

// The command line's own reports, after "ravoth-cli: FILE: "; "%d" stands
// for a count.
inline constexpr Text interrupted{"中断されました。書き出したページファイルは %d 件です",
                                  "interrupted; %d page files were written"};
inline constexpr Text cannotWriteOutput{"標準出力に書き込めません", "cannot write to standard output"};

// The main window's controls, in the order they are created.
inline constexpr Text fileNameLabel{"ファイル名", "File Name"};
inline constexpr Text refButton{"参照", "Ref"};
inline constexpr Text pageLabel{"ページ", "Page"};
inline constexpr Text pageRangeDash{"-", "-"};
inline constexpr Text outlineCheckBox{"しおりをファイル名に", "Outline to File Name"};
inline constexpr Text dropHint{"※このウィンドウにファイルをドラッグしても\n  ファイル名の入力が可能です",
                               "* You can drag PDF File into this window"};
inline constexpr Text extractButton{"BMP/JPG抽出", "Extract"};
inline constexpr Text endButton{"終了", "End"};

// Menus. "&" marks the mnemonic; the text after a tab is the shortcut shown.
inline constexpr Text fileMenu{"ファイル(&F)", "&File"};
inline constexpr Text refMenuItem{"参照(&R)", "&Ref"};
inline constexpr Text exitMenuItem{"終了(&X)\tCtrl+E", "E&xit\tCtrl+E"};
inline constexpr Text extractMenuItem{"BMP/JPG抽出(&E)", "&Extract"};
inline constexpr Text helpMenu{"ヘルプ(&H)", "&Help"};
inline constexpr Text readHelpMenuItem{"ヘルプを読む(&H)\tF1", "&Help\tF1"};
inline constexpr Text aboutMenuItem{"バージョン情報(&A)", "&About Ravoth"};

// The browse dialog. An empty title leaves the dialog's own default.
inline constexpr Text browseTitle{"ファイルを参照", ""};
inline constexpr std::string_view browseFilter = "pdf(*.pdf)";

// The About box: "<caption> <label> <version>", a blank line, the description.
inline constexpr Text versionLabel{"バージョン", "Version"};

inline constexpr std::string_view caption = "Ravoth";
inline constexpr std::string_view version = "0.84";
inline constexpr std::string_view description = "Extract BMP/JPG File from PDF File";

}  // namespace texts

// The user's language: on Linux Japanese when the first of LC_ALL,
// LC_MESSAGES and LANG that is set and not empty names Japanese ("ja",
// "ja_JP.UTF-8", ...), on Windows when the user's default language is
// Japanese (0x0411); else English.
Language localeLanguage();

// Writes UTF-8 text (a text of the table, a path) to a terminal or file: as
// it is on Linux; on Windows as UTF-16 to a console, whatever its code page,
// and as it is to a file or pipe.
void printText(std::string_view utf8, std::FILE* stream);

}  // namespace ravoth
