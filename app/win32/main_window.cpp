#include "app/win32/main_window.h"

#include <commdlg.h>
#include <direct.h>
#include <shellapi.h>

#include <string>

#include "app/win32/window_texts.h"
#include "app/window_logic.h"
#include "job/extraction.h"
#include "pdf/reader.h"

namespace ravoth::win32 {
namespace {

constexpr const char* windowClassName = "Ravoth";
constexpr const char* windowCaption = "Ravoth";

// Texts read from the controls and paths from the system: 259 bytes and a NUL.
constexpr int textBufferBytes = 260;

// Fixed at start-up; the window procedure has no other way to reach it.
struct ProgramState {
    HINSTANCE instance = nullptr;
    Language language = Language::English;
    char helpFolder[textBufferBytes] = {};
    char programFolder[textBufferBytes] = {};
    HFONT font = nullptr;
    HWND fileNameEdit = nullptr;
    HWND firstPageEdit = nullptr;
    HWND lastPageEdit = nullptr;
    HWND outlineCheckBox = nullptr;
};

ProgramState state;

void showMessage(HWND window, const std::string& text)
{
    MessageBoxA(window, text.c_str(), windowCaption, MB_OK | MB_SETFOREGROUND);
}

void showMessage(HWND window, const Text& text)
{
    showMessage(window, windowText(text, state.language));
}

const char* controlClass(ControlKind kind)
{
    switch (kind) {
    case ControlKind::Label: return "STATIC";
    case ControlKind::Edit: return "EDIT";
    case ControlKind::PushButton:
    case ControlKind::CheckBox: break;
    }
    return "BUTTON";
}

DWORD controlStyle(ControlKind kind)
{
    switch (kind) {
    case ControlKind::Label: return WS_CHILD | WS_VISIBLE;
    case ControlKind::Edit: return WS_CHILD | WS_VISIBLE | WS_BORDER | ES_AUTOHSCROLL;
    case ControlKind::PushButton: return WS_CHILD | WS_VISIBLE | WS_BORDER | BS_PUSHBUTTON;
    case ControlKind::CheckBox: break;
    }
    return WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX;
}

void createControls(HWND window)
{
    const bool japanese = state.language == Language::Japanese;
    const std::string face = japanese ? windowText(japaneseFontFace, state.language) : std::string();
    state.font = CreateFontA(fontHeightPixels, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                             japanese ? SHIFTJIS_CHARSET : DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, PROOF_QUALITY, FIXED_PITCH | FF_MODERN, face.c_str());
    for (const ControlLayout& layout : mainWindowControls) {
        const std::string text = windowText(layout.text, state.language);
        // A child window's menu handle is its identifier; -1 marks a label.
        const HWND control = CreateWindowExA(
            0, controlClass(layout.kind), text.c_str(), controlStyle(layout.kind), layout.x, layout.y,
            layout.width, layout.height, window,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(layout.id)), state.instance, nullptr);
        SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(state.font), MAKELPARAM(TRUE, 0));
        switch (layout.id) {
        case idFileNameEdit: state.fileNameEdit = control; break;
        case idFirstPageEdit: state.firstPageEdit = control; break;
        case idLastPageEdit: state.lastPageEdit = control; break;
        case idOutlineCheckBox: state.outlineCheckBox = control; break;
        default: break;
        }
    }
    DragAcceptFiles(window, TRUE);
}

void extract(HWND window)
{
    char fileName[textBufferBytes] = {};
    char firstPage[textBufferBytes] = {};
    char lastPage[textBufferBytes] = {};
    GetWindowTextA(state.fileNameEdit, fileName, textBufferBytes);
    GetWindowTextA(state.firstPageEdit, firstPage, textBufferBytes);
    GetWindowTextA(state.lastPageEdit, lastPage, textBufferBytes);

    const ExtractRequest request = prepareExtraction(fileName, firstPage, lastPage);
    if (request.step == ExtractStep::PageInputError) {
        showMessage(window, texts::pageInputError);
        return;
    }
    if (request.step == ExtractStep::NoFileName) return;

    outlineOption = SendMessageA(state.outlineCheckBox, BM_GETCHECK, 0, 0) == BST_CHECKED;
    // The run holds the thread until it is over, so no message restores the
    // cursor in between.
    const HCURSOR previousCursor = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
    const int result = runExtraction(fileName, request.firstPage, request.lastPage, fileName);
    SetCursor(previousCursor);
    showMessage(window, resultMessage(result, filesWritten));
}

void browse(HWND window)
{
    // The record grew with Windows 2000; older systems refuse the larger
    // size. Both sizes follow the build's pointer width.
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    const bool modern = GetVersionExA(&version) && version.dwMajorVersion >= 5;

    const std::string filter = std::string(texts::browseFilter) + '\0' + "*.pdf" + '\0';
    const std::string title = windowText(texts::browseTitle, state.language);
    char file[textBufferBytes] = {};
    OPENFILENAMEA dialog{};
    dialog.lStructSize = modern ? sizeof(OPENFILENAMEA) : OPENFILENAME_SIZE_VERSION_400A;
    dialog.hwndOwner = window;
    dialog.lpstrFilter = filter.c_str();  // the string's own NUL ends the list
    dialog.lpstrFile = file;
    dialog.nMaxFile = textBufferBytes;
    dialog.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
    dialog.lpstrDefExt = "pdf";
    dialog.lpstrTitle = title.empty() ? nullptr : title.c_str();
    if (GetOpenFileNameA(&dialog)) SetWindowTextA(state.fileNameEdit, file);
}

void openHelp(HWND window)
{
    for (const std::string& page :
         helpPageCandidates(state.helpFolder, state.programFolder, state.language, '\\')) {
        const auto result = reinterpret_cast<INT_PTR>(
            ShellExecuteA(window, nullptr, page.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
        if (result > 32) return;
    }
    showMessage(window, texts::helpNotFound);
}

void acceptDrop(HWND window, HDROP drop)
{
    if (DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0) != 1) showMessage(window, texts::onlyOneFile);
    char path[textBufferBytes] = {};
    DragQueryFileA(drop, 0, path, textBufferBytes);
    if (isPdfFileName(path))
        SetWindowTextA(state.fileNameEdit, path);
    else
        showMessage(window, notPdfText(state.language, path));
    DragFinish(drop);
}

void runCommand(HWND window, int command)
{
    switch (command) {
    case commandExit: SendMessageA(window, WM_CLOSE, 0, 0); break;
    case commandBrowse: browse(window); break;
    case commandExtract: extract(window); break;
    case commandHelp: openHelp(window); break;
    case commandAbout: showMessage(window, windowText(aboutText(state.language), state.language)); break;
    default: break;
    }
}

LRESULT CALLBACK mainWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE: createControls(window); return 0;
    case WM_COMMAND: runCommand(window, LOWORD(wParam)); return 0;
    case WM_DROPFILES: acceptDrop(window, reinterpret_cast<HDROP>(wParam)); return 0;
    case WM_CLOSE: DestroyWindow(window); return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    default: return DefWindowProcA(window, message, wParam, lParam);
    }
}

}  // namespace

int runMainWindow(HINSTANCE instance, const char* commandLine, int showState)
{
    state.instance = instance;
    state.language = GetUserDefaultLangID() == 0x0411 ? Language::Japanese : Language::English;
    state.language = languageFromCommandLine(commandLine ? commandLine : "", state.language);

    WNDCLASSA windowClass{};
    windowClass.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
    windowClass.lpfnWndProc = mainWindowProcedure;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, "RAVOTHICON");
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszMenuName = state.language == Language::Japanese ? "Ravoth" : "RavothE";
    windowClass.lpszClassName = windowClassName;
    if (!RegisterClassA(&windowClass)) return 0;

    // A working folder longer than the buffer leaves no help folder; the
    // help command then finds no page and says so.
    if (!_getcwd(state.helpFolder, textBufferBytes)) state.helpFolder[0] = '\0';
    // An unpacked copy keeps its help pages beside ravoth.exe; a path cut
    // short leaves no program folder. CharNextA steps over double-byte
    // characters, whose second byte may look like a backslash.
    const DWORD programPathBytes =
        GetModuleFileNameA(nullptr, state.programFolder, textBufferBytes);
    char* programFolderEnd = state.programFolder;
    if (programPathBytes < textBufferBytes)
        for (char* p = state.programFolder; *p; p = CharNextA(p))
            if (*p == '\\') programFolderEnd = p;
    *programFolderEnd = '\0';

    const HWND window = CreateWindowExA(0, windowClassName, windowCaption,
                                        WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT,
                                        CW_USEDEFAULT, windowWidthPixels, windowHeightPixels,
                                        nullptr, nullptr, instance, nullptr);
    if (!window) return 0;
    ShowWindow(window, showState);
    UpdateWindow(window);

    const HACCEL accelerators = LoadAcceleratorsA(instance, "MKACCEL");
    MSG message{};
    BOOL got;
    // GetMessageA gives -1 when it fails; that ends the loop as well.
    while ((got = GetMessageA(&message, nullptr, 0, 0)) > 0) {
        if (accelerators && TranslateAcceleratorA(window, accelerators, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    if (state.font) DeleteObject(state.font);
    return got == 0 ? static_cast<int>(message.wParam) : 0;
}

}  // namespace ravoth::win32
