#include "app/win32/main_window.h"

#include <commctrl.h>
#include <commdlg.h>
#include <direct.h>
#include <shellapi.h>

#include <atomic>
#include <memory>
#include <string>
#include <system_error>
#include <thread>

#include "app/win32/window_texts.h"
#include "app/window_logic.h"
#include "job/extraction.h"
#include "platform/text.h"

namespace ravoth::win32 {
namespace {

constexpr const wchar_t* windowClassName = L"Ravoth";
constexpr const wchar_t* windowCaption = L"Ravoth";

// Paths from the system: 259 units and a NUL, the classic path limit.
constexpr int textBufferUnits = MAX_PATH;

// What the run's thread posts to the window: pages done (the counts are
// read from the job when the message is handled, so however fast pages
// go, one message at a time waits in the queue), and the end of the run.
constexpr UINT runProgressMessage = WM_APP + 1;
constexpr UINT runEndedMessage = WM_APP + 2;

// The Cancel button's command; no menu item or key gives it.
constexpr int commandCancel = 2060;

// While a run goes on, the progress row takes the drop hint's place (y 102
// to 130): the line "page N of M", the bar, and Cancel under Ref.
struct RowControl {
    int x;
    int y;
    int width;
    int height;
};
constexpr RowControl progressLabelLayout{14, 108, 170, 16};
constexpr RowControl progressBarLayout{186, 106, 132, 18};
constexpr RowControl cancelButtonLayout{326, 104, 58, 25};

// One extraction on its own thread. The window owns it from Extract until
// it handles the end message and has joined the thread; the thread touches
// only the run, the result and the counts.
struct Job {
    ExtractionRun run;
    std::string fileName;
    int firstPage = 0;
    int lastPage = 0;
    int result = 0;
    std::thread thread;
    std::atomic<int> pagesDone{0};
    std::atomic<int> pagesInRange{0};
    // True while a progress message waits in the queue.
    std::atomic<bool> progressPosted{false};
    // The window was asked to close: it does once the run has stopped.
    bool closing = false;
};

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
    HWND refButton = nullptr;
    HWND extractButton = nullptr;
    HWND dropHint = nullptr;
    // From Extract until the outcome box is answered: the progress row is
    // up and the inputs are closed to the user.
    bool busy = false;
    std::unique_ptr<Job> job;
    HWND progressLabel = nullptr;
    HWND progressBar = nullptr;
    HWND cancelButton = nullptr;
    HWND focusBeforeRun = nullptr;
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

// The system's message box has no buttons of its own naming: a Yes/No box
// is given the texts "OK" and "Extract anyway" as it opens. Yes/No rather
// than OK/Cancel, so that Esc and the close box cannot choose the second.
struct ButtonNames {
    HHOOK hook = nullptr;
    std::wstring yes;
    std::wstring no;
};
ButtonNames buttonNames;

LRESULT CALLBACK nameBoxButtons(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_ACTIVATE && buttonNames.hook) {
        const auto box = reinterpret_cast<HWND>(wParam);
        SetDlgItemTextW(box, IDYES, buttonNames.yes.c_str());
        SetDlgItemTextW(box, IDNO, buttonNames.no.c_str());
        UnhookWindowsHookEx(buttonNames.hook);
        buttonNames.hook = nullptr;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// The outcome box for another producer's document; true when the user
// chose to extract it anyway.
bool offerGeneralReader(HWND window, const std::wstring& text)
{
    buttonNames.yes = L"OK";
    buttonNames.no = windowText(texts::extractAnywayButton, state.language);
    buttonNames.hook = SetWindowsHookExW(WH_CBT, nameBoxButtons, nullptr, GetCurrentThreadId());
    const int answer = MessageBoxW(window, text.c_str(), windowCaption, MB_YESNO | MB_SETFOREGROUND);
    if (buttonNames.hook) UnhookWindowsHookEx(buttonNames.hook);
    buttonNames.hook = nullptr;
    // Without the hook the buttons keep the system's Yes and No, which
    // would not say what they do: only a named button counts.
    return answer == IDNO && !buttonNames.no.empty();
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
        case commandBrowse: state.refButton = control; break;
        case commandExtract: state.extractButton = control; break;
        default:
            if (layout.text.english == texts::dropHint.english) state.dropHint = control;
            break;
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

HWND createRowControl(HWND window, const wchar_t* windowClass, const std::wstring& text, DWORD style,
                      const RowControl& layout, int id)
{
    const HWND control = CreateWindowExW(0, windowClass, text.c_str(), WS_CHILD | WS_VISIBLE | style, layout.x,
                                         layout.y, layout.width, layout.height, window,
                                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), state.instance, nullptr);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(state.font), MAKELPARAM(TRUE, 0));
    return control;
}

// Closes the inputs (a second run, another file or other pages cannot
// start or change under the run) and puts the progress row in the drop
// hint's place; `running` false undoes it.
void showRunControls(HWND window, bool running)
{
    if (running) {
        state.focusBeforeRun = GetFocus();
        ShowWindow(state.dropHint, SW_HIDE);
        state.progressLabel = createRowControl(window, L"STATIC", L"", 0, progressLabelLayout, idNone);
        state.progressBar = createRowControl(window, PROGRESS_CLASSW, L"", 0, progressBarLayout, idNone);
        state.cancelButton = createRowControl(window, L"BUTTON", windowText(texts::cancelButton, state.language),
                                              WS_BORDER | BS_PUSHBUTTON, cancelButtonLayout, commandCancel);
        // Before the inputs are closed, so that the focus never falls out
        // of the window and Esc reaches the loop.
        SetFocus(state.cancelButton);
    }
    for (const HWND control : {state.fileNameEdit, state.firstPageEdit, state.lastPageEdit, state.outlineCheckBox,
                               state.refButton, state.extractButton})
        EnableWindow(control, running ? FALSE : TRUE);
    const HMENU menu = GetMenu(window);
    for (const int command : {commandBrowse, commandExtract})
        EnableMenuItem(menu, static_cast<UINT>(command), MF_BYCOMMAND | (running ? MF_GRAYED : MF_ENABLED));
    DrawMenuBar(window);
    DragAcceptFiles(window, running ? FALSE : TRUE);
    if (!running) {
        for (HWND* control : {&state.progressLabel, &state.progressBar, &state.cancelButton}) {
            DestroyWindow(*control);
            *control = nullptr;
        }
        ShowWindow(state.dropHint, SW_SHOW);
        SetFocus(IsWindow(state.focusBeforeRun) ? state.focusBeforeRun : state.extractButton);
    }
}

void showProgress(Job& job)
{
    // Cleared before the counts are read: a page done after this posts
    // again, so the last count always reaches the window.
    job.progressPosted.store(false);
    const int pagesInRange = job.pagesInRange.load();
    const int pagesDone = job.pagesDone.load();
    if (pagesInRange < 1) return;
    if (SendMessageW(state.progressBar, PBM_GETRANGE, FALSE, 0) != pagesInRange)
        SendMessageW(state.progressBar, PBM_SETRANGE32, 0, pagesInRange);
    SendMessageW(state.progressBar, PBM_SETPOS, static_cast<WPARAM>(pagesDone), 0);
    SetWindowTextW(state.progressLabel, progressText(state.language, pagesDone, pagesInRange).c_str());
}

// The run's thread.
void runJob(HWND window, Job* job)
{
    job->result = job->run.run(job->fileName.c_str(), job->firstPage, job->lastPage, job->fileName.c_str());
    // The window stays until it has this message, so only a full queue
    // can refuse it, and only for a while.
    while (!PostMessageW(window, runEndedMessage, 0, 0) && IsWindow(window)) Sleep(50);
}

// With anyProducer, what the exact reader refuses goes to the general one.
void extract(HWND window, bool anyProducer = false)
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

    auto job = std::make_unique<Job>();
    job->run.setOutlineNames(SendMessageW(state.outlineCheckBox, BM_GETCHECK, 0, 0) == BST_CHECKED);
    job->run.setAnyProducer(anyProducer);
    job->fileName = fileName;
    job->firstPage = request.firstPage;
    job->lastPage = request.lastPage;
    Job* const running = job.get();
    job->run.setProgress([running, window](const PageProgress& progress) {
        running->pagesInRange.store(progress.pagesInRange);
        running->pagesDone.store(progress.pagesDone);
        if (!running->progressPosted.exchange(true) && !PostMessageW(window, runProgressMessage, 0, 0))
            running->progressPosted.store(false);
    });
    state.job = std::move(job);
    state.busy = true;
    showRunControls(window, true);
    try {
        running->thread = std::thread(runJob, window, running);
    } catch (const std::system_error&) {
        // No thread to be had: the run takes this one, and the window
        // waits for it as it did before runs had their own.
        runJob(window, running);
    }
}

void cancelRun()
{
    if (!state.job) return;
    state.job->run.requestStop();
    // Stopping takes up to a page; the greyed button shows it was heard.
    EnableWindow(state.cancelButton, FALSE);
}

void endRun(HWND window)
{
    if (!state.job) return;
    const std::unique_ptr<Job> job = std::move(state.job);
    if (job->thread.joinable()) job->thread.join();
    if (job->closing) {
        DestroyWindow(window);
        return;
    }
    // The row shows where the run ended while the outcome box is up.
    showProgress(*job);
    EnableWindow(state.cancelButton, FALSE);
    const RunReport report = reportOf(job->run, job->result);
    const std::wstring text = outcomeText(state.language, report, job->run.filesWritten());
    // Another producer's document: the box offers to read it the general
    // way, with the same file, range and bookmark setting.
    const bool anyway = generalReaderWouldRead(report) ? offerGeneralReader(window, text)
                                                       : (showMessage(window, text), false);
    showRunControls(window, false);
    state.busy = false;
    if (anyway) extract(window, true);
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
    // The accelerators and a program's own messages reach past greyed
    // buttons and menu items.
    if (state.busy && (command == commandBrowse || command == commandExtract)) return;
    switch (command) {
    case commandExit: SendMessageW(window, WM_CLOSE, 0, 0); break;
    case commandBrowse: browse(window); break;
    case commandExtract: extract(window); break;
    case commandCancel: cancelRun(); break;
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
    case WM_DROPFILES:
        if (state.busy)
            DragFinish(reinterpret_cast<HDROP>(wParam));
        else
            acceptDrop(window, reinterpret_cast<HDROP>(wParam));
        return 0;
    case runProgressMessage:
        if (state.job) showProgress(*state.job);
        return 0;
    case runEndedMessage: endRun(window); return 0;
    case WM_CLOSE:
        // A run is never left behind: it is asked to stop, and its end
        // closes the window.
        if (state.job) {
            state.job->closing = true;
            cancelRun();
            return 0;
        }
        DestroyWindow(window);
        return 0;
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
    // The progress bar's class; without it a run shows no bar and goes on.
    INITCOMMONCONTROLSEX commonControls{sizeof commonControls, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&commonControls);

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
        // Esc stops a run wherever the focus is in the window.
        if (message.message == WM_KEYDOWN && message.wParam == VK_ESCAPE && state.job) {
            cancelRun();
            continue;
        }
        if (accelerators && TranslateAcceleratorW(window, accelerators, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    // Only a failing loop ends with a run still going; it is stopped, not
    // cut off half-way through a file.
    if (state.job) {
        state.job->run.requestStop();
        if (state.job->thread.joinable()) state.job->thread.join();
        state.job.reset();
    }
    if (state.font) DeleteObject(state.font);
    return got == 0 ? static_cast<int>(message.wParam) : 0;
}

}  // namespace ravoth::win32
