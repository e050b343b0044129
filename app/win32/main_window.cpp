#include "app/win32/main_window.h"

#include <commdlg.h>
#include <direct.h>
#include <shellapi.h>

#include <string>

#include "app/win32/window_texts.h"
#include "app/window_logic.h"
#include "job/extraction.h"
#include "pdf/reader.h"
#include "platform/text.h"

namespace ravoth::win32 {
namespace {

constexpr const wchar_t* windowClassName = L"Ravoth";
constexpr const wchar_t* windowCaption = L"Ravoth";

// Paths from the system: 259 units and a NUL, the classic path limit.
constexpr int textBufferUnits = MAX_PATH;

// Fixed at start-up; the window procedure has no other way to reach it.
struct ProgramState {
    HINSTANCE instance = nullptr;
    Language language = Language::English;
    wchar_t helpFolder[textBufferUnits] = {};
    wchar_t programFolder[textBufferUnits] = {};
    HFONT font = nullptr;
    HWND fileNameEdit = nullptr;
    HWND firstPageEdit = nullptr;
    HWND lastPageEdit = nullptr;
    HWND outlineCheckBox = nullptr;
};

ProgramState state;

void showMessage(HWND window, const std::wstring& text)
{
    MessageBoxW(window, text.c_str(), windowCaption, MB_OK | MB_SETFOREGROUND);
}

void showMessage(HWND window, const Text& text)
{
    showMessage(window, windowText(text, state.language));
}

// The system's cursor identifiers are numbers dressed as text pointers, in
// the ANSI spelling unless the build defines UNICODE.
LPCWSTR systemCursor(LPCSTR identifier) { return reinterpret_cast<LPCWSTR>(identifier); }

const wchar_t* controlClass(ControlKind kind)
{
    switch (kind) {
    case ControlKind::Label: return L"STATIC";
    case ControlKind::Edit: return L"EDIT";
    case ControlKind::PushButton:
    case ControlKind::CheckBox: break;
    }
    return L"BUTTON";
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
    const std::wstring face = japanese ? windowText(japaneseFontFace) : std::wstring();
    state.font = CreateFontW(fontHeightPixels, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                             japanese ? SHIFTJIS_CHARSET : DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, PROOF_QUALITY, FIXED_PITCH | FF_MODERN, face.c_str());
    for (const ControlLayout& layout : mainWindowControls) {
        const std::wstring text = windowText(layout.text, state.language);
        // A child window's menu handle is its identifier; -1 marks a label.
        const HWND control = CreateWindowExW(
            0, controlClass(layout.kind), text.c_str(), controlStyle(layout.kind), layout.x, layout.y,
            layout.width, layout.height, window,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(layout.id)), state.instance, nullptr);
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(state.font), MAKELPARAM(TRUE, 0));
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

// A control's whole text in UTF-8. A file name longer than any buffer must
// not be cut: the shorter path could name another file.
std::string controlText(HWND control)
{
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
    return toUtf8(text);
}

void extract(HWND window)
{
    const std::string fileName = controlText(state.fileNameEdit);
    const std::string firstPage = controlText(state.firstPageEdit);
    const std::string lastPage = controlText(state.lastPageEdit);

    const ExtractRequest request = prepareExtraction(fileName, firstPage, lastPage);
    if (request.step == ExtractStep::PageInputError) {
        showMessage(window, texts::pageInputError);
        return;
    }
    if (request.step == ExtractStep::NoFileName) return;

    outlineOption = SendMessageW(state.outlineCheckBox, BM_GETCHECK, 0, 0) == BST_CHECKED;
    // The run holds the thread until it is over, so no message restores the
    // cursor in between.
    const HCURSOR previousCursor = SetCursor(LoadCursorW(nullptr, systemCursor(IDC_WAIT)));
    const int result = runExtraction(fileName.c_str(), request.firstPage, request.lastPage, fileName.c_str());
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

    const std::wstring filter = windowText(texts::browseFilter) + L'\0' + L"*.pdf" + L'\0';
    const std::wstring title = windowText(texts::browseTitle, state.language);
    wchar_t file[textBufferUnits] = {};
    OPENFILENAMEW dialog{};
    dialog.lStructSize = modern ? sizeof(OPENFILENAMEW) : OPENFILENAME_SIZE_VERSION_400W;
    dialog.hwndOwner = window;
    dialog.lpstrFilter = filter.c_str();  // the string's own NUL ends the list
    dialog.lpstrFile = file;
    dialog.nMaxFile = textBufferUnits;
    dialog.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
    dialog.lpstrDefExt = L"pdf";
    dialog.lpstrTitle = title.empty() ? nullptr : title.c_str();
    if (GetOpenFileNameW(&dialog)) SetWindowTextW(state.fileNameEdit, file);
}

void openHelp(HWND window)
{
    // Looked for in the working folder at start-up, then beside the program.
    for (const std::string& page : helpPageCandidates(toUtf8(state.helpFolder), toUtf8(state.programFolder),
                                                      state.language, '\\')) {
        const auto result = reinterpret_cast<INT_PTR>(
            ShellExecuteW(window, nullptr, toWide(page).c_str(), nullptr, nullptr, SW_SHOWNORMAL));
        if (result > 32) return;
    }
    showMessage(window, texts::helpNotFound);
}

void acceptDrop(HWND window, HDROP drop)
{
    if (DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0) != 1) showMessage(window, texts::onlyOneFile);
    // The whole path, however long: a cut one could name another file.
    std::wstring path(static_cast<std::size_t>(DragQueryFileW(drop, 0, nullptr, 0)) + 1, L'\0');
    path.resize(DragQueryFileW(drop, 0, path.data(), static_cast<UINT>(path.size())));
    if (isPdfFileName(toUtf8(path)))
        SetWindowTextW(state.fileNameEdit, path.c_str());
    else
        showMessage(window, notPdfText(state.language, path));
    DragFinish(drop);
}

void runCommand(HWND window, int command)
{
    switch (command) {
    case commandExit: SendMessageW(window, WM_CLOSE, 0, 0); break;
    case commandBrowse: browse(window); break;
    case commandExtract: extract(window); break;
    case commandHelp: openHelp(window); break;
    case commandAbout: showMessage(window, windowText(aboutText(state.language))); break;
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
    default: return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

int runMainWindow(HINSTANCE instance, const wchar_t* commandLine, int showState)
{
    state.instance = instance;
    state.language = GetUserDefaultLangID() == 0x0411 ? Language::Japanese : Language::English;
    state.language = languageFromCommandLine(toUtf8(commandLine ? commandLine : L""), state.language);

    WNDCLASSW windowClass{};
    windowClass.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
    windowClass.lpfnWndProc = mainWindowProcedure;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, L"RAVOTHICON");
    windowClass.hCursor = LoadCursorW(nullptr, systemCursor(IDC_ARROW));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszMenuName = state.language == Language::Japanese ? L"Ravoth" : L"RavothE";
    windowClass.lpszClassName = windowClassName;
    if (!RegisterClassW(&windowClass)) return 0;

    // A working folder longer than the buffer leaves no help folder; the
    // help command then finds no page and says so.
    if (!_wgetcwd(state.helpFolder, textBufferUnits)) state.helpFolder[0] = L'\0';
    // An unpacked copy keeps its help pages beside ravoth.exe; a path cut
    // short leaves no program folder.
    const DWORD programPathUnits = GetModuleFileNameW(nullptr, state.programFolder, textBufferUnits);
    wchar_t* programFolderEnd = state.programFolder;
    if (programPathUnits < textBufferUnits)
        for (wchar_t* p = state.programFolder; *p; ++p)
            if (*p == L'\\') programFolderEnd = p;
    *programFolderEnd = L'\0';

    const HWND window = CreateWindowExW(0, windowClassName, windowCaption,
                                        WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT,
                                        CW_USEDEFAULT, windowWidthPixels, windowHeightPixels,
                                        nullptr, nullptr, instance, nullptr);
    if (!window) return 0;
    ShowWindow(window, showState);
    UpdateWindow(window);

    const HACCEL accelerators = LoadAcceleratorsW(instance, L"MKACCEL");
    MSG message{};
    BOOL got;
    // GetMessageW gives -1 when it fails; that ends the loop as well.
    while ((got = GetMessageW(&message, nullptr, 0, 0)) > 0) {
        if (accelerators && TranslateAcceleratorW(window, accelerators, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    if (state.font) DeleteObject(state.font);
    return got == 0 ? static_cast<int>(message.wParam) : 0;
}

}  // namespace ravoth::win32
