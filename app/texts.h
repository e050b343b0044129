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

// A run that was stopped before its end, in the window.
inline constexpr Text cancelled{"中止しました", "Cancelled"};

// While a run goes on: "%v" stands for the page being done, "%m" for the
// pages of the range (as a progress bar writes its value and maximum).
inline constexpr Text progressPages{"%m ページ中 %v ページ目", "page %v of %m"};
inline constexpr Text cancelButton{"中止", "Cancel"};
// The same for a batch of several documents: "%k" is the document in hand,
// "%n" the documents of the batch.
inline constexpr Text progressDocuments{"%n 件中 %k 件目、%m ページ中 %v ページ目",
                                        "document %k of %n, page %v of %m"};

// Why a run did not end Complete: the line the command line prints after
// "ravoth-cli: FILE: ", and the window's failure box gives below its text.
// "%d" stands for a count, in order.
inline constexpr Text reasonCannotOpen{"開けません", "cannot be opened"};
inline constexpr Text reasonNoSuchFile{"開けません: ファイルがありません",
                                       "cannot be opened: no such file or folder"};
inline constexpr Text reasonAccessDenied{"開けません: アクセスが許可されていません",
                                         "cannot be opened: permission denied"};
inline constexpr Text reasonNotRegularFile{"開けません: 通常のファイルではありません",
                                           "cannot be opened: not a regular file"};
inline constexpr Text reasonCannotRead{"読み込めません", "cannot be read"};
inline constexpr Text reasonNoMemory{"メモリが足りません", "not enough memory"};
inline constexpr Text reasonEncrypted{"暗号化されています", "encrypted"};
inline constexpr Text reasonNotPdf{"PDF ファイルではありません", "not a PDF file"};
inline constexpr Text reasonDamagedXref{"相互参照表が壊れています", "damaged cross-reference table"};
inline constexpr Text reasonDamagedInfo{"文書情報が壊れています", "damaged document information"};
inline constexpr Text reasonForeign{"Mesker、Tolvin、Dravel で作られた PDF ではありません",
                                    "not a PDF made by Mesker, Tolvin or Dravel"};
// What follows the reason for another producer's document on the command
// line, and the button of the window's box that reads it that way.
inline constexpr Text hintAnyProducer{"-a (--any-producer) を付けると読み込めます",
                                      "-a (--any-producer) reads it"};
inline constexpr Text extractAnywayButton{"それでも抽出", "Extract anyway"};
inline constexpr Text reasonDamagedPageTree{"ページツリーかしおりが壊れています",
                                            "damaged page tree or bookmarks"};
inline constexpr Text reasonPageRange{"ページ範囲が文書の外にあります (全 %d ページ)",
                                      "page range outside the document (%d pages)"};
inline constexpr Text reasonPagesMissing{"%d / %d ページを書き出せませんでした",
                                         "%d of %d pages could not be written"};
inline constexpr Text reasonChanged{"読み込み中に PDF が変更されました", "the PDF changed while it was read"};
inline constexpr Text reasonFolderNotMade{"出力フォルダーを作成できません", "the output folder cannot be made"};
inline constexpr Text reasonArchive{"アーカイブを書き出せませんでした", "the archive could not be written"};
// A document of the window's batch that a Cancel kept from starting.
inline constexpr Text reasonNotStarted{"中止したため抽出していません", "not extracted: the run was cancelled"};

// The command line's own reports, after "ravoth-cli: FILE: "; "%d" stands
// for a count.
inline constexpr Text interrupted{"中断されました。書き出したページファイルは %d 件です",
                                  "interrupted; %d page files were written"};
inline constexpr Text cannotWriteOutput{"標準出力に書き込めません", "cannot write to standard output"};
// The command line's progress line while a long run goes on.
inline constexpr Text progressLine{"%d / %d ページ、書き出したファイル %d 件",
                                   "page %d of %d, %d files written"};

// The main window's controls, in the order they are created.
inline constexpr Text fileNameLabel{"ファイル名", "File Name"};
inline constexpr Text refButton{"参照", "Ref"};
inline constexpr Text pageLabel{"ページ", "Page"};
inline constexpr Text pageRangeDash{"-", "-"};
// What screen readers call the last page's field, which has no label.
inline constexpr Text lastPageName{"最終ページ", "Last Page"};
inline constexpr Text outlineCheckBox{"しおりをファイル名に", "Outline to File Name"};
inline constexpr Text dropHint{"※このウィンドウにファイルをドラッグしても\n  ファイル名の入力が可能です",
                               "* You can drag PDF File into this window"};
inline constexpr Text extractButton{"BMP/JPG抽出", "Extract"};
inline constexpr Text endButton{"終了", "End"};
// Below them, the output choices; "&" marks the key that reaches each with Alt.
inline constexpr Text besidePdfRadio{"PDF と同じ場所にファイル(&B)", "Files &beside the PDF"};
inline constexpr Text outputFolderRadio{"フォルダー(&O)", "F&older"};
inline constexpr Text folderButton{"選択(&W)", "Bro&wse"};
// The name screen readers give the folder's field: a label of no size stands
// before it, where a reader looks for a field's label.
inline constexpr Text folderFieldName{"出力フォルダー", "Output folder"};
inline constexpr Text formatLabel{"形式(&T)", "Forma&t"};
inline constexpr Text anyProducerCheckBox{"どの作成元の PDF も読む(&A)", "Read PDFs of &any producer"};
// The folder dialog's title, and the message for the folder choice with no folder.
inline constexpr Text chooseFolderTitle{"出力フォルダーを選択", "Choose the Output Folder"};
inline constexpr Text noOutputFolder{"出力フォルダーを指定してください", "No Output Folder is Given"};

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
