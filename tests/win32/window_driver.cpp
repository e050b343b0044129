// Drives ravoth.exe from outside, as a person at the screen would: checks
// its resources, its window and the eleven controls, then gives the
// commands and answers the message boxes, and compares the files an
// extraction leaves with reference folders.
//
//   window_driver RAVOTH_EXE SWITCH LANGUAGE PDF NUMBERED_REFERENCE TITLE_REFERENCE
//
// SWITCH is the start-up switch ("/jp", "/us") or "-" for none; LANGUAGE
// ("en" or "ja") is the language the window must come up in. The reference
// folders hold the files an extraction of PDF gives with numbered names and
// with outline titles as names.
//
//   window_driver --progress RAVOTH_EXE SWITCH LANGUAGE WORK_FOLDER
//
// writes a document of many large pages into WORK_FOLDER and watches runs
// of it: the progress row, the window answering while a run goes on,
// Cancel (the button in English, Esc in Japanese), and closing the window
// in the middle of a run.
//
// Prints one line per check and "N passed, M failed"; exits 0 only when
// every check passed.
//
// Texts and paths cross to the program through the wide calls and are
// compared in UTF-8 with the shared table's texts as they stand: an ANSI
// call on either side would lose what the code page lacks, and two ANSI
// calls would hide it from each other.
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "app/command_line.h"
#include "app/window_choices.h"
#include "app/window_logic.h"
#include "platform/text.h"
#include "tests/fixture/general_pdf.h"
#include "tests/fixture/pdf_builder.h"

namespace {

using namespace ravoth;

int passed = 0;
int failed = 0;

bool check(bool ok, const std::string& what, const std::string& detail = {})
{
    (ok ? passed : failed)++;
    std::printf("%s %s%s%s\n", ok ? "ok  " : "FAIL", what.c_str(), detail.empty() ? "" : ": ",
                detail.c_str());
    std::fflush(stdout);
    return ok;
}

std::string quoted(const std::string& text)
{
    std::string out = "\"";
    for (const unsigned char c : text) {
        if (c == '\n') out += "\\n";
        else if (c == '\t') out += "\\t";
        else if (c < 0x20 || c >= 0x80) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else out += static_cast<char>(c);
    }
    return out + "\"";
}

void checkEqual(const std::string& actual, const std::string& expected, const std::string& what)
{
    check(actual == expected, what, actual == expected ? quoted(actual)
                                                       : quoted(actual) + " instead of " + quoted(expected));
}

void checkEqual(long long actual, long long expected, const std::string& what)
{
    check(actual == expected, what,
          std::to_string(actual) + (actual == expected ? "" : " instead of " + std::to_string(expected)));
}

std::wstring wide(std::string_view utf8) { return toWide(utf8); }

template <typename Condition>
bool waitFor(Condition condition, DWORD timeoutMs = 20000)
{
    const ULONGLONG until = GetTickCount64() + timeoutMs;
    do {
        if (condition()) return true;
        Sleep(50);
    } while (GetTickCount64() < until);
    return condition();
}

// WM_GETTEXT, not GetWindowTextW: for a window of another process that
// gives only the text the window was created with.
std::string windowText(HWND window)
{
    wchar_t text[1024] = {};
    SendMessageW(window, WM_GETTEXT, std::size(text), reinterpret_cast<LPARAM>(text));
    return toUtf8(text);
}

// The text a control was created with.
std::string createdText(HWND window)
{
    wchar_t text[1024] = {};
    GetWindowTextW(window, text, static_cast<int>(std::size(text)));
    return toUtf8(text);
}

std::string className(HWND window)
{
    char name[256] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

std::vector<HWND> children(HWND parent)
{
    std::vector<HWND> found;
    EnumChildWindows(
        parent,
        [](HWND child, LPARAM list) {
            reinterpret_cast<std::vector<HWND>*>(list)->push_back(child);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

bool sameTextIgnoringCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && _stricmp(a.c_str(), b.c_str()) == 0;
}

// ------------------------------------------------------------- resources

// The menu as the resource holds it, flattened in the order of the shared
// menu table: pop-ups, their items and separators, the bar's own items.
void checkMenu(HMENU menu, Language language, const std::string& name)
{
    std::vector<std::pair<std::wstring, int>> actual;  // text, id (-2 pop-up, 0 separator)
    const int barItems = GetMenuItemCount(menu);
    for (int i = 0; i < barItems; ++i) {
        wchar_t text[256] = {};
        GetMenuStringW(menu, i, text, 256, MF_BYPOSITION);
        if (const HMENU popup = GetSubMenu(menu, i)) {
            actual.push_back({text, -2});
            const int items = GetMenuItemCount(popup);
            for (int k = 0; k < items; ++k) {
                wchar_t itemText[256] = {};
                GetMenuStringW(popup, k, itemText, 256, MF_BYPOSITION);
                const UINT id = GetMenuItemID(popup, k);
                actual.push_back({itemText, GetMenuState(popup, k, MF_BYPOSITION) & MF_SEPARATOR ? 0 : static_cast<int>(id)});
            }
            actual.push_back({L"", -3});
        } else {
            actual.push_back({text, static_cast<int>(GetMenuItemID(menu, i))});
        }
    }
    std::vector<std::pair<std::wstring, int>> expected;
    for (const MenuEntry& entry : mainMenu) {
        switch (entry.kind) {
        case MenuEntryKind::Popup: expected.push_back({wide(entry.text.in(language)), -2}); break;
        case MenuEntryKind::Item:
        case MenuEntryKind::BarItem: expected.push_back({wide(entry.text.in(language)), entry.commandId}); break;
        case MenuEntryKind::Separator: expected.push_back({L"", 0}); break;
        case MenuEntryKind::EndPopup: expected.push_back({L"", -3}); break;
        }
    }
    check(actual == expected, "menu " + name + " has the shared table's entries, texts and ids",
          std::to_string(actual.size()) + " entries");
}

void checkResources(const std::string& exe)
{
    const HMODULE module = LoadLibraryExW(wide(exe).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    check(module != nullptr, "the program's resources load");
    if (!module) return;

    // The window class names its menus "Ravoth" and "RavothE"; resource
    // names match without regard to case.
    for (const auto& [name, language] : {std::pair{"Ravoth", Language::Japanese}, {"RavothE", Language::English}}) {
        const HMENU menu = LoadMenuA(module, name);
        check(menu != nullptr, std::string("menu ") + name + " loads");
        if (menu) {
            checkMenu(menu, language, name);
            DestroyMenu(menu);
        }
    }

    const HACCEL table = LoadAcceleratorsA(module, "MKACCEL");
    ACCEL entries[8] = {};
    const int count = table ? CopyAcceleratorTableA(table, entries, 8) : 0;
    checkEqual(count, 3, "MKACCEL entries");
    const ACCEL expected[] = {{FVIRTKEY | FCONTROL | FNOINVERT, 'E', commandExit},
                              {FVIRTKEY | FCONTROL | FNOINVERT, 'R', commandBrowse},
                              {FVIRTKEY | FNOINVERT, VK_F1, commandHelp}};
    for (int i = 0; i < 3 && i < count; ++i) {
        // The resource marks its last entry with 0x80, which is no key flag.
        const bool same = (entries[i].fVirt & 0x7F) == expected[i].fVirt && entries[i].key == expected[i].key &&
                          entries[i].cmd == expected[i].cmd;
        check(same, "MKACCEL entry " + std::to_string(i + 1) + " is " + std::string(accelerators[i].keys) +
                        " -> " + std::to_string(accelerators[i].commandId));
        check(expected[i].cmd == accelerators[i].commandId, "the shared table agrees on entry " + std::to_string(i + 1));
    }
    if (table) DestroyAcceleratorTable(table);

    // The icon group's directory: 6 bytes, then 14 bytes per image.
    const HRSRC group = FindResourceA(module, "RAVOTHICON", RT_GROUP_ICON);
    const auto* directory = group ? static_cast<const BYTE*>(LockResource(LoadResource(module, group))) : nullptr;
    check(directory != nullptr, "icon group RAVOTHICON exists");
    if (directory) {
        const int images = directory[4] | directory[5] << 8;
        checkEqual(images, 6, "RAVOTHICON images");
        std::string sizes;
        for (int i = 0; i < images && i < 6; ++i) {
            const BYTE* entry = directory + 6 + 14 * i;
            const int bitCount = entry[6] | entry[7] << 8;
            // A side of 256 does not fit the byte and is written as 0.
            const int width = entry[0] ? entry[0] : 256, height = entry[1] ? entry[1] : 256;
            // Appended piece by piece: g++ 12 warns of a false overlap in one long sum.
            sizes.append(i ? " " : "").append(std::to_string(width)).append("x").append(std::to_string(height));
            sizes.append("/").append(std::to_string(entry[2])).append(" colours/");
            sizes.append(std::to_string(bitCount)).append(" bits");
        }
        checkEqual(sizes,
                   "32x32/16 colours/4 bits 16x16/16 colours/4 bits 48x48/0 colours/32 bits "
                   "64x64/0 colours/32 bits 128x128/0 colours/32 bits 256x256/0 colours/32 bits",
                   "RAVOTHICON sizes and colours");
    }
    FreeLibrary(module);

    DWORD ignored = 0;
    const DWORD infoBytes = GetFileVersionInfoSizeW(wide(exe).c_str(), &ignored);
    std::vector<char> info(infoBytes);
    const bool haveInfo = infoBytes && GetFileVersionInfoW(wide(exe).c_str(), 0, infoBytes, info.data());
    check(haveInfo, "version information exists");
    if (!haveInfo) return;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedBytes = 0;
    if (VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &fixedBytes) && fixed) {
        checkEqual(fixed->dwFileVersionMS, 84, "file version 0.84 (major.minor word)");
        checkEqual(fixed->dwProductVersionMS, 84, "product version 0.84");
    }
    for (const auto& [key, value] : {std::pair{"FileDescription", "Extract BMP/JPG File from PDF File"},
                                     {"InternalName", "Ravoth"},
                                     {"FileVersion", "0.84"}}) {
        char* text = nullptr;
        UINT length = 0;
        const std::string path = std::string("\\StringFileInfo\\040904b0\\") + key;
        const bool found = VerQueryValueA(info.data(), path.c_str(), reinterpret_cast<void**>(&text), &length);
        checkEqual(found && text ? std::string(text) : "", value, std::string("version ") + key);
    }
}

// ---------------------------------------------------------------- window

struct Program {
    PROCESS_INFORMATION process{};
    HWND window = nullptr;
};

HWND findTopWindow(DWORD processId, const char* windowClass, const char* caption)
{
    HWND candidate = nullptr;
    while ((candidate = FindWindowExA(nullptr, candidate, windowClass, caption))) {
        DWORD owner = 0;
        GetWindowThreadProcessId(candidate, &owner);
        if (owner == processId && IsWindowVisible(candidate)) return candidate;
    }
    return nullptr;
}

HWND childWithId(HWND parent, int id)
{
    for (const HWND child : children(parent))
        if (GetDlgCtrlID(child) == id) return child;
    return nullptr;
}

// The next message box of the program, with its text; null, and the text
// "(no message box)", when none comes.
HWND nextMessageBox(const Program& program, std::string* text)
{
    HWND box = nullptr;
    if (!waitFor([&] { return (box = findTopWindow(program.process.dwProcessId, "#32770", "Ravoth")) != nullptr; })) {
        *text = "(no message box)";
        return nullptr;
    }
    text->clear();
    for (const HWND child : children(box))
        if (sameTextIgnoringCase(className(child), "Static") && !windowText(child).empty()) *text = windowText(child);
    return box;
}

// Presses the box's button `id` and waits for the box to go.
void pressBoxButton(HWND box, int id)
{
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(childWithId(box, id)));
    waitFor([&] { return !IsWindow(box); });
}

// The next message box of the program: its text, after pressing OK.
std::string answerMessageBox(const Program& program)
{
    std::string text;
    if (const HWND box = nextMessageBox(program, &text)) pressBoxButton(box, IDOK);
    return text;
}

// The outcome box for another producer's document: its text and its two
// buttons' texts, "text [first|second]", after pressing the button `id`.
std::string answerOfferBox(const Program& program, int id)
{
    std::string text;
    const HWND box = nextMessageBox(program, &text);
    if (!box) return text;
    text += " [" + windowText(childWithId(box, IDYES)) + "|" + windowText(childWithId(box, IDNO)) + "]";
    pressBoxButton(box, id);
    return text;
}

// Writes `bytes` at a path of any characters; false when that failed.
bool writeWholeFile(const std::string& path, const std::string& bytes)
{
    const HANDLE file = CreateFileW(wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool whole = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                       written == bytes.size();
    return CloseHandle(file) && whole;
}

void command(const Program& program, int id) { PostMessageW(program.window, WM_COMMAND, MAKEWPARAM(id, 0), 0); }

struct ControlState {
    std::string windowClass;
    std::string text;
    int x, y, width, height, id;
};

void checkWindow(const Program& program, Language language)
{
    const HWND window = program.window;
    checkEqual(createdText(window), "Ravoth", "caption");
    RECT frame{};
    GetWindowRect(window, &frame);
    checkEqual(frame.right - frame.left, windowWidthPixels, "window width");
    checkEqual(frame.bottom - frame.top, windowHeightPixels, "window height");
    const LONG style = GetWindowLongA(window, GWL_STYLE);
    check((style & (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX)) == (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX) &&
              !(style & (WS_THICKFRAME | WS_MAXIMIZEBOX)),
          "window has caption, system menu and minimise box only");
    check((GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_ACCEPTFILES) != 0, "window accepts dropped files");
    checkEqual(static_cast<long long>(GetClassLongPtrA(window, GCL_STYLE)), CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS,
               "class styles");

    const std::vector<HWND> controls = children(window);
    checkEqual(static_cast<long long>(controls.size()), std::size(mainWindowControls), "child controls");
    for (std::size_t i = 0; i < controls.size() && i < std::size(mainWindowControls); ++i) {
        const ControlLayout& layout = mainWindowControls[i];
        RECT box{};
        GetWindowRect(controls[i], &box);
        POINT corner{box.left, box.top};
        ScreenToClient(window, &corner);
        const ControlState actual{className(controls[i]), createdText(controls[i]), corner.x, corner.y,
                                  box.right - box.left, box.bottom - box.top, GetDlgCtrlID(controls[i])};
        const char* expectedClass = layout.kind == ControlKind::Label          ? "Static"
                                    : layout.kind == ControlKind::Edit         ? "Edit"
                                    : layout.kind == ControlKind::DropDownList ? "ComboBox"
                                                                               : "Button";
        const std::string expectedText(layout.text.in(language));
        const std::string label = "control " + std::to_string(i + 1);
        check(sameTextIgnoringCase(actual.windowClass, expectedClass), label + " class", actual.windowClass);
        checkEqual(actual.text, expectedText, label + " text");
        const std::string where = std::to_string(actual.x) + "," + std::to_string(actual.y) + " " +
                                  std::to_string(actual.width) + "x" + std::to_string(actual.height) + " id " +
                                  std::to_string(actual.id);
        // A closed drop-down list is as high as its font makes it.
        const int expectedHeight = layout.kind == ControlKind::DropDownList ? actual.height : layout.height;
        const std::string expectedWhere = std::to_string(layout.x) + "," + std::to_string(layout.y) + " " +
                                          std::to_string(layout.width) + "x" + std::to_string(expectedHeight) +
                                          " id " + std::to_string(layout.id);
        checkEqual(where, expectedWhere, label + " position, size and id");
        const LONG controlStyle = GetWindowLongA(controls[i], GWL_STYLE);
        // An edit control takes WS_BORDER out of its style and draws the
        // border itself, so it cannot be seen from here.
        LONG expectedStyle = WS_CHILD | WS_VISIBLE;
        if (layout.kind == ControlKind::Edit) expectedStyle |= ES_AUTOHSCROLL;
        if (layout.kind == ControlKind::PushButton) expectedStyle |= WS_BORDER | BS_PUSHBUTTON;
        if (layout.kind == ControlKind::CheckBox) expectedStyle |= BS_AUTOCHECKBOX;
        if (layout.kind == ControlKind::RadioButton) expectedStyle |= BS_AUTORADIOBUTTON;
        // Every input is a stop of the Tab key; of the two places, the
        // system keeps it for the one that is chosen.
        if (layout.id != idNone && layout.kind != ControlKind::RadioButton) expectedStyle |= WS_TABSTOP;
        char styles[32];
        std::snprintf(styles, sizeof styles, "%08lX", static_cast<unsigned long>(controlStyle));
        const bool typed = layout.kind == ControlKind::DropDownList
                               ? (controlStyle & 0x3) == CBS_DROPDOWNLIST
                               : (controlStyle & BS_TYPEMASK) == (expectedStyle & BS_TYPEMASK);
        check((controlStyle & expectedStyle) == expectedStyle && typed, label + " styles", styles);
    }
    // With nothing stored, the first version's choices.
    for (const int id : {idOutlineCheckBox, idAnyProducerCheckBox, idOutputFolderRadio})
        checkEqual(SendMessageA(childWithId(window, id), BM_GETCHECK, 0, 0), BST_UNCHECKED,
                   "control " + std::to_string(id) + " starts unticked");
    checkEqual(SendMessageA(childWithId(window, idBesidePdfRadio), BM_GETCHECK, 0, 0), BST_CHECKED,
               "files beside the PDF is the first choice");
    checkEqual(SendMessageA(childWithId(window, idFormatList), CB_GETCURSEL, 0, 0), 0, "BMP is the first format");
}

// ----------------------------------------------------------------- files

// The folder part as the system sees it, with its last backslash.
std::string folderOf(const std::string& path)
{
    wchar_t full[MAX_PATH] = {};
    wchar_t* filePart = nullptr;
    if (!GetFullPathNameW(wide(path).c_str(), MAX_PATH, full, &filePart) || !filePart) return {};
    return toUtf8(std::wstring_view(full, static_cast<std::size_t>(filePart - full)));
}

std::map<std::string, std::string> filesIn(const std::string& folder, const std::string& skip)
{
    std::map<std::string, std::string> files;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(wide(folder + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return files;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        const std::string name = toUtf8(found.cFileName);
        if (name == skip) continue;
        std::string bytes;
        const HANDLE file = CreateFileW(wide(folder + name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            char chunk[65536];
            DWORD got = 0;
            while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) bytes.append(chunk, got);
            CloseHandle(file);
        }
        files[name] = std::move(bytes);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return files;
}

void removeOutputs(const std::string& folder, const std::string& keep)
{
    for (const auto& [name, bytes] : filesIn(folder, keep)) DeleteFileW(wide(folder + name).c_str());
}

void checkOutputs(const std::string& pdf, const std::string& referenceFolder, const std::string& what)
{
    const std::string folder = folderOf(pdf);
    const std::string pdfName = pdf.substr(folder.size());
    const auto actual = filesIn(folder, pdfName);
    const auto expected = filesIn(referenceFolder, pdfName);
    std::string names;
    for (const auto& [name, bytes] : actual) names += (names.empty() ? "" : ", ") + name;
    check(!expected.empty() && actual.size() == expected.size(), what + ": the reference's files", names);
    for (const auto& [name, bytes] : expected) {
        const auto it = actual.find(name);
        check(it != actual.end() && it->second == bytes, what + ": " + name + " byte for byte");
    }
    removeOutputs(folder, pdfName);
}

void setText(HWND parent, int id, const std::string& text) { SetWindowTextW(childWithId(parent, id), wide(text).c_str()); }

void runCommands(const Program& program, Language language, const std::string& pdf,
                 const std::string& numberedReference, const std::string& titleReference)
{
    const HWND window = program.window;
    auto expect = [&](const std::string& message, const std::string& what) {
        checkEqual(answerMessageBox(program), message, what);
    };

    command(program, commandAbout);
    expect(aboutText(language), "About");

    // The working folder holds no help page.
    command(program, commandHelp);
    expect(std::string(texts::helpNotFound.in(language)), "Help without a help page");

    setText(window, idFileNameEdit, pdf);
    setText(window, idFirstPageEdit, "0");
    command(program, commandExtract);
    expect(std::string(texts::pageInputError.in(language)), "Extract with page 0");
    setText(window, idFirstPageEdit, "");
    setText(window, idLastPageEdit, "1a");
    command(program, commandExtract);
    expect(std::string(texts::pageInputError.in(language)), "Extract with page 1a");
    setText(window, idLastPageEdit, "");

    // The reason comes below the fixed text, after a blank line.
    setText(window, idFileNameEdit, folderOf(pdf) + "missing.pdf");
    command(program, commandExtract);
    expect(std::string(texts::failure.in(language)) + "\n\n" + std::string(texts::reasonNoSuchFile.in(language)),
           "Extract of a missing file");

    // Another producer's document: the box says why and offers the general
    // reader, whose button runs the same file again that way.
    const std::string other = folderOf(pdf) + "other.pdf";
    testing::DocumentPlan plan;
    plan.pages.push_back({{{"/Width 1 /Height 1 /ColorSpace /DeviceGray /BitsPerComponent 8", "\x7F", "", ""}}});
    check(writeWholeFile(other, testing::generalPdfBytes(plan)), "another producer's document written");
    setText(window, idFileNameEdit, other);
    command(program, commandExtract);
    checkEqual(answerOfferBox(program, IDNO),
               std::string(texts::failure.in(language)) + "\n\n" + std::string(texts::reasonForeign.in(language)) +
                   " [OK|" + std::string(texts::extractAnywayButton.in(language)) + "]",
               "Extract of another producer's document");
    expect(std::string(texts::complete.in(language)), "Extract anyway");
    const std::map<std::string, std::string> written = filesIn(folderOf(pdf), "");
    check(written.count("other-1.bmp") == 1, "Extract anyway wrote the page's image");
    DeleteFileW(wide(folderOf(pdf) + "other-1.bmp").c_str());
    DeleteFileW(wide(other).c_str());

    // An empty name is passed over without a word: the next box is About's.
    setText(window, idFileNameEdit, "");
    command(program, commandExtract);
    command(program, commandAbout);
    expect(aboutText(language), "Extract with no file name says nothing");

    setText(window, idFileNameEdit, pdf);
    command(program, commandExtract);
    expect(std::string(texts::complete.in(language)), "Extract");
    checkOutputs(pdf, numberedReference, "numbered names");

    SendMessageW(childWithId(window, idOutlineCheckBox), BM_SETCHECK, BST_CHECKED, 0);
    command(program, commandExtract);
    expect(std::string(texts::complete.in(language)), "Extract with outline names");
    checkOutputs(pdf, titleReference, "outline names");
    checkEqual(windowText(childWithId(window, idFileNameEdit)), pdf, "file name kept after the run");

    // The browse dialog opens with the title for the language and, when
    // cancelled, leaves the file name alone.
    command(program, commandBrowse);
    HWND dialog = nullptr;
    const bool opened = waitFor([&] {
        HWND candidate = nullptr;
        while ((candidate = FindWindowExA(nullptr, candidate, "#32770", nullptr))) {
            DWORD owner = 0;
            GetWindowThreadProcessId(candidate, &owner);
            if (owner == program.process.dwProcessId && IsWindowVisible(candidate) &&
                windowText(candidate) != "Ravoth")
                return (dialog = candidate) != nullptr;
        }
        return false;
    });
    check(opened, "Ref opens the browse dialog", opened ? quoted(windowText(dialog)) : "");
    if (opened) {
        if (language == Language::Japanese)
            checkEqual(windowText(dialog), std::string(texts::browseTitle.japanese), "browse title");
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        check(waitFor([&] { return !IsWindow(dialog); }), "browse dialog cancelled");
        checkEqual(windowText(childWithId(window, idFileNameEdit)), pdf, "file name unchanged after cancel");
    }
}

// ------------------------------------------------------------- programs

// Starts ravoth.exe with `startSwitch` in `workFolder` and looks for its
// window; false when the program did not start.
bool startProgram(Program& program, const std::string& exe, const std::string& startSwitch,
                  const std::string& workFolder)
{
    std::wstring commandLine = wide("\"" + exe + "\"" + (startSwitch.empty() ? "" : " " + startSwitch));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (!CreateProcessW(wide(exe).c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        wide(workFolder).c_str(), &startup, &program.process)) {
        check(false, "ravoth.exe starts", std::to_string(GetLastError()));
        return false;
    }
    WaitForInputIdle(program.process.hProcess, 20000);
    check(waitFor([&] { return (program.window = findTopWindow(program.process.dwProcessId, "Ravoth", nullptr)); }),
          "window of class Ravoth appears");
    return true;
}

// Waits for the program to end, with 0; ends it when it does not.
void checkProgramEnds(Program& program, const std::string& what)
{
    const bool ended = WaitForSingleObject(program.process.hProcess, 20000) == WAIT_OBJECT_0;
    DWORD exitCode = 1;
    GetExitCodeProcess(program.process.hProcess, &exitCode);
    check(ended && exitCode == 0, what, ended ? std::to_string(exitCode) : "still running");
    if (!ended) TerminateProcess(program.process.hProcess, 1);
    CloseHandle(program.process.hThread);
    CloseHandle(program.process.hProcess);
}

// ------------------------------------------------------------- progress

// A document whose runs last long enough to watch and to stop, with pages
// that each take long against a message's way between two processes: a
// large colour picture to inflate and write as a bitmap, the same on every
// page. JPEG pages, only copied, go by too fast for "a page or so" to mean
// anything.
constexpr int slowPages = 24;
constexpr int slowWidth = 1500;  // rows of 4500 bytes need no padding
constexpr int slowHeight = 1500;
constexpr const char* slowName = "slow";

// The controls a run puts in the drop hint's place, in creation order
// after the layout's eleven; all null when they are not there.
struct ProgressRow {
    HWND label = nullptr;
    HWND bar = nullptr;
    HWND cancel = nullptr;
};

ProgressRow progressRow(HWND window)
{
    const std::vector<HWND> controls = children(window);
    const std::size_t first = std::size(mainWindowControls);
    if (controls.size() != first + 3) return {};
    return {controls[first], controls[first + 1], controls[first + 2]};
}

// A message to the window's thread; -1 when it does not answer in time.
LRESULT ask(HWND window, UINT message, WPARAM wParam = 0, DWORD timeoutMs = 5000)
{
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, message, wParam, 0, SMTO_ABORTIFHUNG, timeoutMs, &result)) return -1;
    return static_cast<LRESULT>(result);
}

HWND outcomeBox(const Program& program) { return findTopWindow(program.process.dwProcessId, "#32770", "Ravoth"); }

// What watching a run saw of it.
struct RunWatch {
    std::vector<int> positions;  // the bar's positions as they changed
    // Answered while the run went on: the bar between 0 and the end before
    // and after, and no outcome box yet.
    int probesMidRun = 0;
    ULONGLONG slowestProbeMs = 0;
    int unansweredProbes = 0;
};

// Watches the bar and probes the window with a message it must answer at
// once, until `enough` holds or an outcome box comes. False when neither
// happens within two minutes.
template <typename Condition>
bool watchRun(const Program& program, const ProgressRow& row, RunWatch& watch, Condition enough)
{
    const ULONGLONG until = GetTickCount64() + 120000;
    while (GetTickCount64() < until) {
        if (enough() || outcomeBox(program)) return true;
        const auto before = static_cast<int>(ask(row.bar, PBM_GETPOS));
        const ULONGLONG sent = GetTickCount64();
        const bool answered = ask(program.window, WM_NULL, 0, 10000) != -1;
        const ULONGLONG took = GetTickCount64() - sent;
        const auto after = static_cast<int>(ask(row.bar, PBM_GETPOS));
        if (!answered) ++watch.unansweredProbes;
        watch.slowestProbeMs = std::max(watch.slowestProbeMs, took);
        if (answered && before > 0 && after < slowPages && !outcomeBox(program)) ++watch.probesMidRun;
        if (watch.positions.empty() || watch.positions.back() != after) watch.positions.push_back(after);
        Sleep(10);
    }
    return false;
}

// Starts a run of the slow document and waits for its progress row.
ProgressRow startRun(const Program& program, const std::string& what)
{
    command(program, commandExtract);
    ProgressRow row;
    check(waitFor([&] { return (row = progressRow(program.window)).bar != nullptr; }), what + ": the progress row appears");
    return row;
}

// Waits until the run has done `pages` pages; false when it ends first.
bool waitForPages(const Program& program, const ProgressRow& row, int pages)
{
    return waitFor([&] { return ask(row.bar, PBM_GETPOS) >= pages || outcomeBox(program); }) && !outcomeBox(program) &&
           ask(row.bar, PBM_GETPOS) < slowPages;
}

// The page files a run of the slow document left.
struct PageFiles {
    int count = 0;
    int lastPage = 0;  // the highest page with a file
};

// Checks the page files beside the slow document and removes them: each
// must be the page's picture whole, and no temporary file may be left.
// A stopped run may keep a page that a writer finished after one that was
// given up, so the pages need not run without a gap.
PageFiles checkPageFiles(const std::string& folder, const std::string& what, const std::string& samples)
{
    // A whole file: a 54-byte header, then the rows bottom-up, each pixel
    // blue, green, red.
    constexpr std::size_t headerBytes = 54;
    constexpr std::size_t rowBytes = slowWidth * 3;
    std::string pixels(samples.size(), '\0');
    for (std::size_t row = 0; row < slowHeight; ++row)
        for (std::size_t x = 0; x < slowWidth; ++x)
            for (std::size_t c = 0; c < 3; ++c)
                pixels[(slowHeight - 1 - row) * rowBytes + x * 3 + c] = samples[row * rowBytes + x * 3 + 2 - c];
    PageFiles pageFiles;
    std::vector<std::string> faults;
    const auto files = [&] {
        std::vector<std::string> names;
        WIN32_FIND_DATAW found;
        const HANDLE search = FindFirstFileW(wide(folder + "*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) return names;
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(toUtf8(found.cFileName));
        } while (FindNextFileW(search, &found));
        FindClose(search);
        return names;
    }();
    for (const std::string& name : files) {
        if (name == std::string(slowName) + ".pdf") continue;
        int page = 0;
        char rest = 0;
        char expectedName[32];
        if (std::sscanf(name.c_str(), "slow-%d.bmp%c", &page, &rest) == 1 && page >= 1 && page <= slowPages &&
            (std::snprintf(expectedName, sizeof expectedName, "slow-%02d.bmp", page), name == expectedName)) {
            const HANDLE file = CreateFileW(wide(folder + name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                            OPEN_EXISTING, 0, nullptr);
            std::string bytes;
            if (file != INVALID_HANDLE_VALUE) {
                std::vector<char> chunk(1 << 16);
                DWORD got = 0;
                while (ReadFile(file, chunk.data(), static_cast<DWORD>(chunk.size()), &got, nullptr) && got > 0)
                    bytes.append(chunk.data(), got);
                CloseHandle(file);
            }
            ++pageFiles.count;
            pageFiles.lastPage = std::max(pageFiles.lastPage, page);
            if (bytes.size() != headerBytes + pixels.size() || bytes.compare(0, 2, "BM") != 0 ||
                bytes.compare(headerBytes, pixels.size(), pixels) != 0)
                faults.push_back(name + " is not whole (" + std::to_string(bytes.size()) + " bytes)");
        } else {
            faults.push_back((name[0] == '~' || name.rfind(".ravoth-", 0) == 0 ? "temporary file " : "stray file ") + name);
        }
        DeleteFileW(wide(folder + name).c_str());
    }
    std::string detail = std::to_string(pageFiles.count) + " page files, the last page " +
                         std::to_string(pageFiles.lastPage);
    for (const std::string& fault : faults) detail += "; " + fault;
    check(faults.empty(), what + ": the page files are whole and no temporary file is left", detail);
    return pageFiles;
}

void checkInputsOpen(HWND window, bool open, const std::string& what)
{
    // The controls (and the drop) that are not as they should be.
    std::string wrong;
    for (const int id : {idFileNameEdit, idFirstPageEdit, idLastPageEdit, idOutlineCheckBox, commandBrowse, commandExtract})
        if ((IsWindowEnabled(childWithId(window, id)) != FALSE) != open) wrong += ' ' + std::to_string(id);
    if (((GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_ACCEPTFILES) != 0) != open) wrong += " drop";
    check(wrong.empty(), what + (open ? ": the inputs and dropping are open again" : ": the inputs and dropping are closed"),
          wrong.empty() ? std::string() : (open ? "closed:" : "open:") + wrong);
}

// The line beside the bar, written out for each language.
std::string pagesLine(Language language, int page, int pages)
{
    return language == Language::Japanese
               ? std::to_string(pages) + " \xE3\x83\x9A\xE3\x83\xBC\xE3\x82\xB8\xE4\xB8\xAD " + std::to_string(page) +
                     " \xE3\x83\x9A\xE3\x83\xBC\xE3\x82\xB8\xE7\x9B\xAE"
               : "page " + std::to_string(page) + " of " + std::to_string(pages);
}

void runProgressChecks(const std::string& exe, const std::string& startSwitch, Language language,
                       const std::string& work)
{
    const std::string folder = work + "\\";
    const std::string pdf = folder + slowName + ".pdf";
    fixture::MeskerDocument document;
    document.pages.assign(slowPages, fixture::flatePage(slowWidth, slowHeight, 8, false, 1));
    const std::string samples = document.pages[0].data;
    if (!check(fixture::writeFile(pdf, fixture::buildMesker(document)), "the slow document is written", pdf)) return;

    Program program;
    if (!startProgram(program, exe, startSwitch, work)) return;
    const HWND window = program.window;
    if (!window) {
        checkProgramEnds(program, "Exit ends the program with 0");
        return;
    }
    setText(window, idFileNameEdit, pdf);

    // A whole run: the row, progress in order up to the end, the window
    // answering all along, and the inputs closed until the box is answered.
    ProgressRow row = startRun(program, "whole run");
    if (row.bar) {
        check(sameTextIgnoringCase(className(row.label), "Static") &&
                  sameTextIgnoringCase(className(row.bar), PROGRESS_CLASSA) &&
                  sameTextIgnoringCase(className(row.cancel), "Button") &&
                  windowText(row.cancel) == texts::cancelButton.in(language),
              "whole run: the row is a line, a progress bar and Cancel",
              className(row.label) + ", " + className(row.bar) + ", " + className(row.cancel) + " " +
                  quoted(windowText(row.cancel)));
        std::string outside;
        for (const HWND control : {row.label, row.bar, row.cancel}) {
            RECT box{};
            GetWindowRect(control, &box);
            POINT corners[2] = {{box.left, box.top}, {box.right, box.bottom}};
            MapWindowPoints(nullptr, window, corners, 2);
            if (corners[0].x < 0 || corners[0].y < 102 || corners[1].x > clientWidthPixels || corners[1].y > 130)
                outside += " " + className(control);
        }
        const std::vector<HWND> controls = children(window);
        const HWND hint = controls.size() > 8 ? controls[8] : nullptr;
        check(outside.empty() && !IsWindowVisible(hint), "whole run: the row takes the drop hint's place",
              outside.empty() ? "" : "outside:" + outside);
        RunWatch watch;
        bool inputsChecked = false;
        const bool ended = watchRun(program, row, watch, [&] {
            if (!inputsChecked && ask(row.bar, PBM_GETPOS) > 0) {
                inputsChecked = true;
                checkInputsOpen(window, false, "whole run");
                // The menu's Extract reaches the window even when greyed;
                // a second run must not start over the first.
                command(program, commandExtract);
            }
            return false;
        });
        const int position = static_cast<int>(ask(row.bar, PBM_GETPOS));
        const int range = static_cast<int>(ask(row.bar, PBM_GETRANGE, FALSE));
        const std::string line = windowText(row.label);
        bool ordered = true;
        int between = 0;
        for (std::size_t i = 0; i < watch.positions.size(); ++i) {
            if (i > 0 && watch.positions[i] < watch.positions[i - 1]) ordered = false;
            if (watch.positions[i] > 0 && watch.positions[i] < slowPages) ++between;
        }
        check(ended && ordered && between >= 3, "whole run: progress arrives in page order",
              std::to_string(watch.positions.size()) + " positions, " + std::to_string(between) + " between 0 and " +
                  std::to_string(slowPages));
        // Generous: other programs may hold the processors for a while.
        check(watch.unansweredProbes == 0 && watch.probesMidRun >= 3 && watch.slowestProbeMs < 5000,
              "whole run: the window answers while the run goes on",
              std::to_string(watch.probesMidRun) + " probes mid-run, " + std::to_string(watch.unansweredProbes) +
                  " unanswered, slowest " + std::to_string(watch.slowestProbeMs) + " ms");
        checkEqual(std::to_string(position) + " of " + std::to_string(range) + ", " + line,
                   std::to_string(slowPages) + " of " + std::to_string(slowPages) + ", " +
                       pagesLine(language, slowPages, slowPages),
                   "whole run: the bar and its line reach the end");
        checkEqual(answerMessageBox(program), std::string(texts::complete.in(language)), "whole run: outcome");
        check(waitFor([&] { return progressRow(window).bar == nullptr; }) && IsWindowVisible(hint),
              "whole run: the row gives the drop hint back");
        checkInputsOpen(window, true, "whole run");
        checkEqual(checkPageFiles(folder, "whole run", samples).count, slowPages, "whole run: page files");
    }

    // Stopped: by the Cancel button in English, by Esc in Japanese.
    const bool byEsc = language == Language::Japanese;
    const std::string stopped = byEsc ? "stopped by Esc" : "stopped by Cancel";
    row = startRun(program, stopped);
    if (row.bar && check(waitForPages(program, row, 3), stopped + ": the run is under way")) {
        const int before = static_cast<int>(ask(row.bar, PBM_GETPOS));
        if (byEsc)
            PostMessageW(row.cancel, WM_KEYDOWN, VK_ESCAPE, 1);
        else
            ask(row.cancel, BM_CLICK);
        check(waitFor([&] { return !IsWindowEnabled(row.cancel) || outcomeBox(program); }),
              stopped + ": the window takes the stop");
        checkEqual(answerMessageBox(program), std::string(texts::cancelled.in(language)), stopped + ": outcome");
        waitFor([&] { return progressRow(window).bar == nullptr; });
        const PageFiles pageFiles = checkPageFiles(folder, stopped, samples);
        const std::string detail = std::to_string(pageFiles.count) + " page files, the last page " +
                                   std::to_string(pageFiles.lastPage) + ", the bar at " + std::to_string(before) +
                                   " before the stop";
        // The bar may trail the run by a page, and the writers may finish
        // the pages they are on.
        check(pageFiles.lastPage < slowPages && pageFiles.lastPage <= before + 3,
              stopped + ": the run stops within a page or so", detail);
        // Every page the bar counted before the stop was written whole.
        check(pageFiles.count >= before, stopped + ": the pages done before the stop stay", detail);
    }

    // Closing in the middle of a run stops it, waits for it and ends the
    // program without a box.
    row = startRun(program, "closed");
    if (row.bar && check(waitForPages(program, row, 3), "closed: the run is under way")) {
        command(program, commandExit);
        checkProgramEnds(program, "closed: End in the middle of a run ends the program with 0");
        checkPageFiles(folder, "closed", samples);
    } else {
        command(program, commandExit);
        checkProgramEnds(program, "Exit ends the program with 0");
    }
}

// ---------------------------------------------------------------- batch

bool fileExists(const std::string& path) { return GetFileAttributesW(wide(path).c_str()) != INVALID_FILE_ATTRIBUTES; }

// The choices as the controls hold them, set from outside as a user would.
void setChoices(HWND window, OutputPlace place, const std::string& folder, int format, bool anyProducer)
{
    setText(window, idOutputFolderEdit, folder);
    SendMessageW(childWithId(window, idBesidePdfRadio), BM_SETCHECK, place == OutputPlace::BesidePdf, 0);
    SendMessageW(childWithId(window, idOutputFolderRadio), BM_SETCHECK, place == OutputPlace::Folder, 0);
    SendMessageW(childWithId(window, idFormatList), CB_SETCURSEL, static_cast<WPARAM>(format), 0);
    SendMessageW(childWithId(window, idAnyProducerCheckBox), BM_SETCHECK, anyProducer, 0);
}

std::string shownChoices(HWND window)
{
    return std::to_string(SendMessageW(childWithId(window, idBesidePdfRadio), BM_GETCHECK, 0, 0)) + " " +
           std::to_string(SendMessageW(childWithId(window, idOutputFolderRadio), BM_GETCHECK, 0, 0)) + " " +
           windowText(childWithId(window, idOutputFolderEdit)) + " " +
           std::to_string(SendMessageW(childWithId(window, idFormatList), CB_GETCURSEL, 0, 0)) + " " +
           std::to_string(SendMessageW(childWithId(window, idAnyProducerCheckBox), BM_GETCHECK, 0, 0));
}

// Each choice of the window against the files it writes.
void checkChoices(const Program& program, Language language, const std::string& folder, const std::string& pdf)
{
    const struct {
        const char* what;
        OutputPlace place;
        const char* subfolder;
        int format;
        std::vector<std::string> files;
    } rows[] = {
        {"beside, PNG", OutputPlace::BesidePdf, "", 1, {"a-1.png", "a-2.jpg"}},
        {"a new folder, TIFF", OutputPlace::Folder, "out\\new", 2, {"out\\new\\a-1.tif", "out\\new\\a-2.jpg"}},
        {"a folder, one CBZ", OutputPlace::Folder, "cbz", 3, {"cbz\\a.cbz"}},
        {"beside, one CBZ", OutputPlace::BesidePdf, "", 3, {"a.cbz"}},
    };
    for (const auto& row : rows) {
        setChoices(program.window, row.place, *row.subfolder ? folder + row.subfolder : "", row.format, false);
        setText(program.window, idFileNameEdit, pdf);
        command(program, commandExtract);
        checkEqual(answerMessageBox(program), std::string(texts::complete.in(language)), std::string(row.what) + ": outcome");
        std::string missing;
        for (const std::string& file : row.files)
            if (!fileExists(folder + file)) missing += " " + file;
        check(missing.empty(), std::string(row.what) + ": the files are where the choice says", missing);
        for (const std::string& file : row.files) DeleteFileW(wide(folder + file).c_str());
        checkEqual(static_cast<long long>(filesIn(folder, "").size()), 3, std::string(row.what) + ": nothing else beside");
    }
    setChoices(program.window, OutputPlace::BesidePdf, "", 0, false);
}

// Keys: Tab visits every input in creation order, and Alt with a control's
// marked letter reaches it. Names: what a screen reader is told.
void checkKeysAndNames(const Program& program)
{
    const HWND window = program.window;
    std::string order;
    std::string expected;
    for (const ControlLayout& layout : mainWindowControls)
        if (layout.id != idNone && layout.id != idOutputFolderRadio) expected.append(" ").append(std::to_string(layout.id));
    HWND control = childWithId(window, idFileNameEdit);
    for (std::size_t step = 0; step < std::size(mainWindowControls) && control; ++step) {
        order.append(" ").append(std::to_string(GetDlgCtrlID(control)));
        control = GetNextDlgTabItem(window, control, FALSE);
        if (control == childWithId(window, idFileNameEdit)) break;
    }
    checkEqual(order, expected, "Tab visits every input in order");
    // And the key itself moves the focus so.
    GUITHREADINFO thread{};
    thread.cbSize = sizeof thread;
    const DWORD threadId = GetWindowThreadProcessId(window, nullptr);
    const auto focus = [&] { return GetGUIThreadInfo(threadId, &thread) ? thread.hwndFocus : nullptr; };
    PostMessageW(childWithId(window, idFileNameEdit), WM_SYSCHAR, L'o', 1 << 29);
    waitFor([&] { return focus() == childWithId(window, idOutputFolderRadio); }, 5000);
    PostMessageW(focus(), WM_KEYDOWN, VK_TAB, 1);
    check(waitFor([&] { return focus() == childWithId(window, idOutputFolderEdit); }, 5000),
          "the Tab key moves from the folder choice to its field");

    const struct {
        wchar_t letter;
        int focus;
        int ticked;  // the control the key leaves ticked, or idNone
    } keys[] = {
        {L'o', idOutputFolderRadio, idOutputFolderRadio},
        {L'b', idBesidePdfRadio, idBesidePdfRadio},
        {L'a', idAnyProducerCheckBox, idAnyProducerCheckBox},
        {L't', idFormatList, idNone},
    };
    for (const auto& key : keys) {
        PostMessageW(childWithId(window, idFileNameEdit), WM_SYSCHAR, key.letter, 1 << 29);
        const bool focused = waitFor([&] { return focus() == childWithId(window, key.focus); }, 5000);
        check(focused && (key.ticked == idNone ||
                          SendMessageW(childWithId(window, key.ticked), BM_GETCHECK, 0, 0) == BST_CHECKED),
              std::string("Alt+") + static_cast<char>(key.letter) + " reaches control " + std::to_string(key.focus));
    }
    // The name a screen reader gives each input, found as the system's
    // accessibility layer finds it: a button's own text, a field's or a
    // list's from the label just before it. (Wine's layer makes no object
    // for another process's controls, so it is read here from the windows.)
    std::string unnamed;
    for (const ControlLayout& layout : mainWindowControls) {
        if (layout.id == idNone) continue;
        const HWND control = childWithId(window, layout.id);
        const bool field = layout.kind == ControlKind::Edit || layout.kind == ControlKind::DropDownList;
        const HWND label = field ? GetWindow(control, GW_HWNDPREV) : control;
        const bool named = label && (!field || sameTextIgnoringCase(className(label), "Static")) &&
                           !windowText(label).empty();
        if (!named) unnamed.append(" ").append(std::to_string(layout.id));
    }
    check(unnamed.empty(), "every input has a name for screen readers", unnamed);
    setChoices(window, OutputPlace::BesidePdf, "", 0, false);
}

// Several documents, one of them bad; then a batch cancelled half way; then
// the choices kept from one start to the next.
void runBatchChecks(const std::string& exe, const std::string& startSwitch, Language language, const std::string& work)
{
    const std::string folder = work + "\\";
    fixture::MeskerDocument small;
    small.pages = {fixture::flatePage(4, 3, 8, false, 1), fixture::dctPage(8, 8, false, 2)};
    const std::string a = folder + "a.pdf", b = folder + "b.pdf", c = folder + "c.pdf";
    check(fixture::writeFile(a, fixture::buildMesker(small)) && writeWholeFile(b, "%PDF-1.4 nothing more") &&
              fixture::writeFile(c, fixture::buildMesker(small)),
          "the documents are written");

    Program program;
    if (!startProgram(program, exe, startSwitch, work) || !program.window) return;
    const HWND window = program.window;
    checkChoices(program, language, folder, a);
    checkKeysAndNames(program);

    // Browse opens the folder dialog with the language's title; cancelled,
    // it leaves the choice alone.
    command(program, commandBrowseFolder);
    HWND dialog = nullptr;
    const std::string title(texts::chooseFolderTitle.in(language));
    const bool opened = waitFor([&] {
        dialog = findTopWindow(program.process.dwProcessId, "#32770", nullptr);
        return dialog && IsWindowVisible(dialog) && windowText(dialog) != "Ravoth";
    });
    check(opened, "Browse opens the folder dialog", opened ? quoted(windowText(dialog)) : "");
    if (opened) {
        std::string texts;
        for (const HWND child : children(dialog)) texts.append(windowText(child)).append("|");
        check(texts.find(title) != std::string::npos, "the folder dialog says what it is for", quoted(texts));
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        check(waitFor([&] { return !IsWindow(dialog); }), "the folder dialog cancelled");
        checkEqual(shownChoices(window), "1 0  0 0", "the choices unchanged after cancel");
    }

    setText(window, idFileNameEdit, "\"" + a + "\" \"" + b + "\" \"" + c + "\"");
    command(program, commandExtract);
    checkEqual(answerMessageBox(program),
               std::string(texts::completePartly.in(language)) + "\n\n" + b + ": " +
                   std::string(texts::reasonDamagedXref.in(language)),
               "a batch with a bad document in the middle: the box names it");
    std::string missing;
    for (const char* file : {"a-1.bmp", "a-2.jpg", "c-1.bmp", "c-2.jpg"})
        if (!fileExists(folder + file)) missing += std::string(" ") + file;
    check(missing.empty(), "a batch with a bad document: the others are written", missing);

    // Cancelled in the second of three slow documents.
    fixture::MeskerDocument slow;
    slow.pages.assign(slowPages, fixture::flatePage(slowWidth, slowHeight, 8, false, 1));
    const fixture::BuiltPdf built = fixture::buildMesker(slow);
    std::string field;
    for (const char* name : {"s1", "s2", "s3"}) {
        CreateDirectoryW(wide(folder + name).c_str(), nullptr);
        fixture::writeFile(folder + name + "\\" + slowName + ".pdf", built);
        field += "\"" + folder + name + "\\" + slowName + ".pdf\" ";
    }
    setText(window, idFileNameEdit, field);
    const ProgressRow row = startRun(program, "a batch cancelled");
    std::string second = progressFormat(language, 2, 3);
    second = second.substr(0, second.find('%'));
    const bool inSecond = row.bar && waitFor([&] {
        return windowText(row.label).rfind(second, 0) == 0 && ask(row.bar, PBM_GETPOS) >= 2;
    }, 120000);
    check(inSecond, "a batch cancelled: the line names the second document", windowText(row.label));
    ask(row.cancel, BM_CLICK);
    const std::string box = answerMessageBox(program);
    const std::string expectedStart = std::string(texts::cancelled.in(language)) + "\n\n" + folder + "s2\\slow.pdf: ";
    const std::string expectedEnd = "\n" + folder + "s3\\slow.pdf: " + std::string(texts::reasonNotStarted.in(language));
    check(box.rfind(expectedStart, 0) == 0 && box.size() > expectedEnd.size() &&
              box.compare(box.size() - expectedEnd.size(), expectedEnd.size(), expectedEnd) == 0,
          "a batch cancelled: the box names the stopped and the unstarted document", quoted(box));
    const std::string samples = slow.pages[0].data;
    checkEqual(checkPageFiles(folder + "s1\\", "a batch cancelled, first", samples).count, slowPages,
               "a batch cancelled: the first document is whole");
    const int stopped = checkPageFiles(folder + "s2\\", "a batch cancelled, second", samples).count;
    check(stopped >= 2 && stopped < slowPages, "a batch cancelled: the second stopped part way", std::to_string(stopped));
    checkEqual(checkPageFiles(folder + "s3\\", "a batch cancelled, third", samples).count, 0,
               "a batch cancelled: the third never started");

    // Kept between starts, a folder of any characters included.
    const std::string kept = folder + "\xE6\x9C\xAC \xC3\xA9t\xC3\xA9";
    setChoices(window, OutputPlace::Folder, kept, 2, true);
    const std::string shown = shownChoices(window);
    command(program, commandExit);
    checkProgramEnds(program, "Exit ends the program with 0");
    Program again;
    if (!startProgram(again, exe, startSwitch, work) || !again.window) return;
    checkEqual(shownChoices(again.window), shown, "the choices are kept between starts");
    command(again, commandExit);
    checkProgramEnds(again, "Exit ends the program with 0");
}

}  // namespace

int main(int argc, char** argv)
{
    // The paths hold characters that the ANSI code page may lack.
    const std::vector<std::string> arguments = commandLineArguments(argc, argv);
    const bool progress = !arguments.empty() && arguments[0] == "--progress";
    const bool batch = !arguments.empty() && arguments[0] == "--batch";
    if (arguments.size() != (progress || batch ? 5 : 6)) {
        std::fprintf(stderr, "usage: window_driver RAVOTH_EXE SWITCH|- en|ja PDF NUMBERED_REF TITLE_REF\n"
                             "       window_driver --progress|--batch RAVOTH_EXE SWITCH|- en|ja WORK_FOLDER\n");
        return 2;
    }
    auto fullPath = [](const std::string& path) {
        wchar_t full[MAX_PATH] = {};
        GetFullPathNameW(wide(path).c_str(), MAX_PATH, full, nullptr);
        return toUtf8(full);
    };
    const std::size_t first = progress || batch ? 1 : 0;
    const std::string exe = fullPath(arguments[first]);
    const std::string startSwitch = arguments[first + 1] == "-" ? "" : arguments[first + 1];
    const Language language = arguments[first + 2] == "ja" ? Language::Japanese : Language::English;
    // The PDF, or the work folder.
    const std::string pdf = fullPath(arguments[first + 3]);
    std::printf("ravoth.exe %s, language %s, ANSI code page %u, %s\n", startSwitch.c_str(),
                arguments[first + 2].c_str(), GetACP(), pdf.c_str());

    // The settings the programs keep go to a folder of this run's own, in
    // the work folder (the PDF's is one below it), so that no run starts
    // with another's choices.
    const std::wstring appData = wide(fullPath(pdf + (progress || batch ? "" : "\\..\\..") + "\\appdata"));
    CreateDirectoryW(appData.c_str(), nullptr);
    SetEnvironmentVariableW(L"APPDATA", appData.c_str());
    if (progress) {
        runProgressChecks(exe, startSwitch, language, pdf);
    } else if (batch) {
        runBatchChecks(exe, startSwitch, language, pdf);
    } else {
        const std::string numberedReference = fullPath(arguments[4]) + "\\";
        const std::string titleReference = fullPath(arguments[5]) + "\\";
        checkResources(exe);
        Program program;
        // The PDF's folder, whose name the code page may lack, is the working
        // folder and so the help folder.
        if (startProgram(program, exe, startSwitch, folderOf(pdf))) {
            if (program.window) {
                checkWindow(program, language);
                runCommands(program, language, pdf, numberedReference, titleReference);
                command(program, commandExit);
            }
            checkProgramEnds(program, "Exit ends the program with 0");
        }
    }
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 && passed > 0 ? 0 : 1;
}
