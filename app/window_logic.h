// What the main window decides without needing a window: the language
// switch, the page fields, a dropped file's name, where help is looked for,
// which message ends a run, the About text, and the window's layout, menus
// and accelerators as data. Every window front end builds itself from this,
// so the rules stay the same on every platform.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/texts.h"
#include "job/extraction.h"

namespace ravoth {

// Command identifiers. Buttons, menu items and accelerators that share an
// identifier do the same thing.
inline constexpr int commandExit = 2010;
inline constexpr int commandBrowse = 2020;
inline constexpr int commandExtract = 2030;
inline constexpr int commandHelp = 2040;
inline constexpr int commandAbout = 2050;
inline constexpr int commandBrowseFolder = 2070;

// Identifiers of the controls that carry input; labels have none.
inline constexpr int idFileNameEdit = 1000;
inline constexpr int idFirstPageEdit = 1010;
inline constexpr int idLastPageEdit = 1020;
inline constexpr int idOutlineCheckBox = 1030;
inline constexpr int idAnyProducerCheckBox = 1040;
inline constexpr int idBesidePdfRadio = 1050;
inline constexpr int idOutputFolderRadio = 1060;
inline constexpr int idOutputFolderEdit = 1070;
inline constexpr int idFormatList = 1080;
inline constexpr int idNone = -1;

// The whole window, frame and menu included, as the layout was drawn for.
// The first version's window was 400 x 220 and its controls keep their
// places; the output choices were added below them.
inline constexpr int windowWidthPixels = 400;
inline constexpr int windowHeightPixels = 334;

// The client area below the menu that holds the controls: the rightmost
// control ends at 384 and the lowest at 275, and this leaves the margins a
// window with a caption and a menu bar has around them.
inline constexpr int clientWidthPixels = 392;
inline constexpr int clientHeightPixels = 282;

// While a run goes on, its progress bar and a Cancel button stand in the
// drop hint's place (no file can be dropped then). A batch of several
// documents says more and takes the whole row.
inline constexpr int runAreaLeftPixels = 60;
inline constexpr int runAreaTopPixels = 102;
inline constexpr int runAreaWidthPixels = 260;
inline constexpr int runAreaHeightPixels = 25;
inline constexpr int cancelWidthPixels = 64;
inline constexpr int batchRunAreaLeftPixels = 14;
inline constexpr int batchRunAreaWidthPixels = 370;

// The controls' font height in pixels and, for Japanese, its face. English
// names no face and asks for a fixed-pitch one instead.
inline constexpr int fontHeightPixels = 12;
inline constexpr std::string_view japaneseFontFace = "ＭＳ Ｐ ゴシック";

// A drop-down list's height is that of its closed box; the list it opens
// is the system's to size.
enum class ControlKind { Label, Edit, PushButton, CheckBox, RadioButton, DropDownList };

// One control: position and size in pixels of the client area.
struct ControlLayout {
    ControlKind kind;
    Text text;
    int x;
    int y;
    int width;
    int height;
    int id;
};

// In creation order, which is also the order focus moves in. The first
// eleven are the first version's; each later label names the control after
// it, whose key it gives.
inline constexpr ControlLayout mainWindowControls[] = {
    {ControlKind::Label, texts::fileNameLabel, 14, 14, 80, 20, idNone},
    {ControlKind::Edit, {}, 94, 12, 230, 19, idFileNameEdit},
    {ControlKind::PushButton, texts::refButton, 334, 10, 50, 25, commandBrowse},
    {ControlKind::Label, texts::pageLabel, 14, 45, 100, 20, idNone},
    {ControlKind::Edit, {}, 94, 43, 50, 19, idFirstPageEdit},
    {ControlKind::Label, texts::pageRangeDash, 150, 45, 20, 12, idNone},
    {ControlKind::Edit, {}, 162, 43, 50, 19, idLastPageEdit},
    {ControlKind::CheckBox, texts::outlineCheckBox, 94, 72, 250, 20, idOutlineCheckBox},
    {ControlKind::Label, texts::dropHint, 60, 102, 260, 28, idNone},
    {ControlKind::PushButton, texts::extractButton, 90, 136, 88, 25, commandExtract},
    {ControlKind::PushButton, texts::endButton, 230, 136, 88, 25, commandExit},
    {ControlKind::RadioButton, texts::besidePdfRadio, 14, 172, 300, 20, idBesidePdfRadio},
    {ControlKind::RadioButton, texts::outputFolderRadio, 14, 196, 96, 20, idOutputFolderRadio},
    {ControlKind::Label, texts::folderFieldName, 112, 196, 0, 0, idNone},
    {ControlKind::Edit, {}, 112, 196, 212, 19, idOutputFolderEdit},
    {ControlKind::PushButton, texts::folderButton, 334, 194, 50, 25, commandBrowseFolder},
    {ControlKind::Label, texts::formatLabel, 14, 228, 78, 20, idNone},
    {ControlKind::DropDownList, {}, 94, 225, 150, 22, idFormatList},
    {ControlKind::CheckBox, texts::anyProducerCheckBox, 14, 254, 370, 20, idAnyProducerCheckBox},
};

// How many of mainWindowControls the first version had.
inline constexpr int firstVersionControlCount = 11;

enum class MenuEntryKind {
    Popup,     // opens a pop-up menu on the bar; the items up to EndPopup are in it
    Item,      // a command inside the open pop-up
    Separator, // a line inside the open pop-up
    EndPopup,
    BarItem,   // a command on the bar itself
};

struct MenuEntry {
    MenuEntryKind kind;
    Text text;
    int commandId;  // 0 where the entry gives no command
};

inline constexpr MenuEntry mainMenu[] = {
    {MenuEntryKind::Popup, texts::fileMenu, 0},
    {MenuEntryKind::Item, texts::refMenuItem, commandBrowse},
    {MenuEntryKind::Separator, {}, 0},
    {MenuEntryKind::Item, texts::exitMenuItem, commandExit},
    {MenuEntryKind::EndPopup, {}, 0},
    {MenuEntryKind::BarItem, texts::extractMenuItem, commandExtract},
    {MenuEntryKind::Popup, texts::helpMenu, 0},
    {MenuEntryKind::Item, texts::readHelpMenuItem, commandHelp},
    {MenuEntryKind::Separator, {}, 0},
    {MenuEntryKind::Item, texts::aboutMenuItem, commandAbout},
    {MenuEntryKind::EndPopup, {}, 0},
};

// Keys that give a command wherever the focus is in the window, even inside
// an edit that would otherwise take the key for itself. Keys are written as
// "Ctrl+E" or "F1".
struct Accelerator {
    std::string_view keys;
    int commandId;
};

inline constexpr Accelerator accelerators[] = {
    {"Ctrl+E", commandExit},
    {"Ctrl+R", commandBrowse},
    {"F1", commandHelp},
};

// The help pages: English looks for its own page first, then the Japanese
// one; Japanese for its own only.
inline constexpr std::string_view englishHelpPage = "RavothE.htm";
inline constexpr std::string_view japaneseHelpPage = "Ravoth.htm";

// The start-up switch: "/us" forces English and "/jp" Japanese, letters in
// either case, judged on the first three bytes only ("/usa" is English).
// Anything else leaves `current`.
Language languageFromCommandLine(std::string_view commandLine, Language current);

// One page field: empty stands for 0; otherwise ASCII digits only, and the
// one-character text "0" is refused while "00" is 0. A number too large for
// an int reads as the largest int, which no document's page count reaches.
// No value when the text is refused.
std::optional<int> pageFieldValue(std::string_view text);

enum class ExtractStep {
    PageInputError,  // show texts::pageInputError and stop
    NoFileName,      // stop without a word
    Run,             // run the job with firstPage and lastPage
};

struct ExtractRequest {
    ExtractStep step = ExtractStep::Run;
    int firstPage = 0;
    int lastPage = 0;
};

// The checks of the Extract command, in their order: the first page field,
// the last page field, then the file name.
ExtractRequest prepareExtraction(std::string_view fileName, std::string_view firstPageText,
                                 std::string_view lastPageText);

// A dropped file is taken when its name is at least five bytes long and ends
// in a dot and "pdf" in any case.
bool isPdfFileName(std::string_view path);

// The not-a-PDF message with `path` (UTF-8, for display) in place of "%s".
std::string notPdfMessage(Language language, std::string_view path);

// Every help page worth trying, in order: the pages of `helpFolder` for the
// language, then the same pages of `installedFolder`. An empty folder is
// skipped, and a page both folders give is listed once. `separator` joins a
// folder and a page's name ('\\' for Windows paths).
std::vector<std::string> helpPageCandidates(std::string_view helpFolder,
                                            std::string_view installedFolder, Language language,
                                            char separator = '/');

// The message for a help page that exists but that no program opened, with
// `path` (UTF-8, for display) in place of "%s".
std::string helpNotOpenedMessage(Language language, std::string_view path);

// The message that ends a run, from runExtraction's result and filesWritten;
// a run that was stopped on request ends with texts::cancelled.
const Text& resultMessage(int result, bool filesWritten);

// What a finished run leaves for telling the user why it did not end
// Complete.
struct RunReport {
    int result = 0;
    RunFailure failure = RunFailure::None;
    OpenFailure openFailure = OpenFailure::None;
    int pageCount = 0;          // the document's, 0 when not known
    int pagesInRange = 0;
    int pagesNotWritten = 0;
    int pageFilesWritten = 0;
};

RunReport reportOf(const ExtractionRun& run, int result);

// Why the run did not end Complete, in words, in `language`; empty for a
// run that did.
std::string failureReason(Language language, const RunReport& report);

// Whether the run refused a document as another producer's that the
// general reader reads: the windows then offer to extract it anyway, the
// command line names -a.
bool generalReaderWouldRead(const RunReport& report);

// `text` with each "%d" replaced by the next of `counts`.
std::string withCounts(std::string_view text, std::initializer_list<long> counts);

// "Ravoth Version 0.84", a blank line, then the program's description.
std::string aboutText(Language language);

}  // namespace ravoth
