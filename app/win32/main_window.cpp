#include "app/win32/main_window.h"

#include <commctrl.h>
#include <commdlg.h>
#include <direct.h>
#include <shellapi.h>
#include <shlobj.h>

#include <atomic>
#include <memory>
#include <string>
#include <system_error>
#include <thread>

#include "app/win32/window_texts.h"
#include "app/window_batch.h"
#include "app/window_choices.h"
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
// A batch's line says which document too, and takes room from the bar.
constexpr RowControl batchProgressLabelLayout{14, 108, 236, 16};
constexpr RowControl batchProgressBarLayout{252, 106, 66, 18};

// The drop-down list is made this much taller than its closed box: the
// room its open list takes.
constexpr int dropDownListRoomPixels = 100;

// The file dialog's buffer when several files may be chosen: the folder
// and every name, each with its NUL.
constexpr DWORD multipleChoiceUnits = 32768;

// One extraction on its own thread. The window owns it from Extract until
// it handles the end message and has joined the thread; the thread touches
// only the run, the result and the counts.
struct Job {
    explicit Job(std::unique_ptr<WindowBatch> documents) : batch(std::move(documents)) {}
    std::unique_ptr<WindowBatch> batch;
    std::thread thread;
    std::atomic<int> document{1};
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
    HWND besidePdfRadio = nullptr;
    HWND outputFolderRadio = nullptr;
    HWND outputFolderEdit = nullptr;
    HWND folderButton = nullptr;
    HWND formatList = nullptr;
    HWND anyProducerCheckBox = nullptr;
    // While the stored choices are put into the controls, the folder's
    // edit changing is not the user typing.
    bool showingChoices = false;
    // The per-user settings file; empty when the system names no place.
    std::wstring settingsFile;
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
    case ControlKind::DropDownList: return L"COMBOBOX";
    case ControlKind::PushButton:
    case ControlKind::CheckBox:
    case ControlKind::RadioButton: break;
    }
    return L"BUTTON";
}

DWORD controlStyle(const ControlLayout& layout)
{
    // Every control that takes input is a stop of the Tab key; the first of
    // the two places opens their group and the folder's edit closes it, so
    // that the arrow keys move between the two.
    const DWORD input = layout.id == idNone ? 0 : WS_TABSTOP;
    const DWORD group = layout.id == idBesidePdfRadio || layout.id == idOutputFolderEdit ? WS_GROUP : 0;
    switch (layout.kind) {
    case ControlKind::Label: return WS_CHILD | WS_VISIBLE;
    case ControlKind::Edit: return WS_CHILD | WS_VISIBLE | WS_BORDER | ES_AUTOHSCROLL | input | group;
    case ControlKind::PushButton: return WS_CHILD | WS_VISIBLE | WS_BORDER | BS_PUSHBUTTON | input;
    case ControlKind::RadioButton: return WS_CHILD | WS_VISIBLE | BS_AUTORADIOBUTTON | input | group;
    case ControlKind::DropDownList: return WS_CHILD | WS_VISIBLE | WS_VSCROLL | CBS_DROPDOWNLIST | input;
    case ControlKind::CheckBox: break;
    }
    return WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX | input;
}

void keepControl(const ControlLayout& layout, HWND control)
{
    switch (layout.id) {
    case idFileNameEdit: state.fileNameEdit = control; break;
    case idFirstPageEdit: state.firstPageEdit = control; break;
    case idLastPageEdit: state.lastPageEdit = control; break;
    case idOutlineCheckBox: state.outlineCheckBox = control; break;
    case commandBrowse: state.refButton = control; break;
    case commandExtract: state.extractButton = control; break;
    case idBesidePdfRadio: state.besidePdfRadio = control; break;
    case idOutputFolderRadio: state.outputFolderRadio = control; break;
    case idOutputFolderEdit: state.outputFolderEdit = control; break;
    case commandBrowseFolder: state.folderButton = control; break;
    case idFormatList: state.formatList = control; break;
    case idAnyProducerCheckBox: state.anyProducerCheckBox = control; break;
    default:
        if (layout.text.english == texts::dropHint.english) state.dropHint = control;
        break;
    }
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
        const int height = layout.height + (layout.kind == ControlKind::DropDownList ? dropDownListRoomPixels : 0);
        // A child window's menu handle is its identifier; -1 marks a label.
        const HWND control = CreateWindowExW(
            0, controlClass(layout.kind), text.c_str(), controlStyle(layout), layout.x, layout.y, layout.width,
            height, window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(layout.id)), state.instance, nullptr);
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(state.font), MAKELPARAM(TRUE, 0));
        keepControl(layout, control);
    }
    for (const Text& name : windowFormatNames)
        SendMessageW(state.formatList, CB_ADDSTRING, 0,
                     reinterpret_cast<LPARAM>(windowText(name, state.language).c_str()));
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

bool isChecked(HWND control) { return SendMessageW(control, BM_GETCHECK, 0, 0) == BST_CHECKED; }

void setChecked(HWND control, bool on)
{
    SendMessageW(control, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
}

WindowChoices shownChoices()
{
    WindowChoices choices;
    choices.place = isChecked(state.outputFolderRadio) ? OutputPlace::Folder : OutputPlace::BesidePdf;
    choices.folder = controlText(state.outputFolderEdit);
    choices.format = windowFormatAt(static_cast<int>(SendMessageW(state.formatList, CB_GETCURSEL, 0, 0)));
    choices.anyProducer = isChecked(state.anyProducerCheckBox);
    return choices;
}

void showChoices(const WindowChoices& choices)
{
    state.showingChoices = true;
    setChecked(state.besidePdfRadio, choices.place == OutputPlace::BesidePdf);
    setChecked(state.outputFolderRadio, choices.place == OutputPlace::Folder);
    SetWindowTextW(state.outputFolderEdit, toWide(choices.folder).c_str());
    SendMessageW(state.formatList, CB_SETCURSEL, static_cast<WPARAM>(choices.format), 0);
    setChecked(state.anyProducerCheckBox, choices.anyProducer);
    state.showingChoices = false;
}

// The settings live in %APPDATA%\Ravoth\Ravoth.ini, section [window]. The
// file is made UTF-16 (its byte order mark first), so that the system keeps
// a folder's name whole whatever the ANSI code page.
constexpr const wchar_t* settingsSection = L"window";

std::wstring settingsFilePath()
{
    const wchar_t* appData = _wgetenv(L"APPDATA");
    if (!appData || !*appData) return {};
    return std::wstring(appData) + L"\\Ravoth\\Ravoth.ini";
}

WindowChoices loadChoices()
{
    if (state.settingsFile.empty()) return {};
    return choicesFromSettings([](std::string_view key) -> std::optional<std::string> {
        wchar_t value[textBufferUnits * 4] = {};
        GetPrivateProfileStringW(settingsSection, toWide(key).c_str(), L"", value, std::size(value),
                                 state.settingsFile.c_str());
        if (!value[0]) return std::nullopt;
        return toUtf8(value);
    });
}

void saveChoices()
{
    if (state.settingsFile.empty()) return;
    const std::wstring folder = state.settingsFile.substr(0, state.settingsFile.rfind(L'\\'));
    CreateDirectoryW(folder.c_str(), nullptr);
    const HANDLE file = CreateFileW(state.settingsFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        const wchar_t byteOrderMark = 0xFEFF;
        DWORD written = 0;
        WriteFile(file, &byteOrderMark, sizeof byteOrderMark, &written, nullptr);
        CloseHandle(file);
    }
    for (const auto& [key, value] : settingsOf(shownChoices()))
        WritePrivateProfileStringW(settingsSection, toWide(key).c_str(), toWide(value).c_str(),
                                   state.settingsFile.c_str());
}

// Closes the inputs (a second run, another file or other pages cannot
// start or change under the run) and puts the progress row in the drop
// hint's place; `running` false undoes it. A batch's row has a longer line.
void showRunControls(HWND window, bool running, bool batch = false)
{
    if (running) {
        state.focusBeforeRun = GetFocus();
        ShowWindow(state.dropHint, SW_HIDE);
        state.progressLabel = createRowControl(window, L"STATIC", L"", 0,
                                               batch ? batchProgressLabelLayout : progressLabelLayout, idNone);
        state.progressBar = createRowControl(window, PROGRESS_CLASSW, L"", 0,
                                             batch ? batchProgressBarLayout : progressBarLayout, idNone);
        state.cancelButton = createRowControl(window, L"BUTTON", windowText(texts::cancelButton, state.language),
                                              WS_BORDER | BS_PUSHBUTTON | WS_TABSTOP, cancelButtonLayout,
                                              commandCancel);
        // Before the inputs are closed, so that the focus never falls out
        // of the window and Esc reaches the loop.
        SetFocus(state.cancelButton);
    }
    for (const HWND control : {state.fileNameEdit, state.firstPageEdit, state.lastPageEdit, state.outlineCheckBox,
                               state.refButton, state.extractButton, state.besidePdfRadio, state.outputFolderRadio,
                               state.outputFolderEdit, state.folderButton, state.formatList,
                               state.anyProducerCheckBox})
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
    const int document = job.document.load();
    const int documents = job.batch->documentCount();
    const int pagesInRange = job.pagesInRange.load();
    const int pagesDone = job.pagesDone.load();
    if (pagesInRange < 1) return;
    if (SendMessageW(state.progressBar, PBM_GETRANGE, FALSE, 0) != pagesInRange)
        SendMessageW(state.progressBar, PBM_SETRANGE32, 0, pagesInRange);
    SendMessageW(state.progressBar, PBM_SETPOS, static_cast<WPARAM>(pagesDone), 0);
    SetWindowTextW(state.progressLabel,
                   progressText(state.language, document, documents, pagesDone, pagesInRange).c_str());
}

// The run's thread.
void runJob(HWND window, Job* job)
{
    job->batch->run();
    // The window stays until it has this message, so only a full queue
    // can refuse it, and only for a while.
    while (!PostMessageW(window, runEndedMessage, 0, 0) && IsWindow(window)) Sleep(50);
}

// With anyProducer, what the exact reader refuses goes to the general one;
// `documents` replaces those of the file field when given.
void extract(HWND window, bool anyProducer = false, std::vector<std::string> documents = {})
{
    const std::string fileName = controlText(state.fileNameEdit);
    const std::string firstPage = controlText(state.firstPageEdit);
    const std::string lastPage = controlText(state.lastPageEdit);

    const ExtractRequest request = prepareExtraction(fileName, firstPage, lastPage);
    if (request.step == ExtractStep::PageInputError) {
        showMessage(window, texts::pageInputError);
        return;
    }
    if (request.step == ExtractStep::NoFileName && documents.empty()) return;
    if (documents.empty()) documents = documentsInField(fileName);

    saveChoices();
    BatchStart start = startBatch(state.language, std::move(documents), shownChoices(), anyProducer,
                                  isChecked(state.outlineCheckBox), request);
    if (!start.batch) {
        showMessage(window, windowText(start.message));
        return;
    }
    auto job = std::make_unique<Job>(std::move(start.batch));
    Job* const running = job.get();
    running->batch->setProgress([running, window](const BatchProgress& progress) {
        running->document.store(progress.document);
        running->pagesInRange.store(progress.pagesInRange);
        running->pagesDone.store(progress.pagesDone);
        if (!running->progressPosted.exchange(true) && !PostMessageW(window, runProgressMessage, 0, 0))
            running->progressPosted.store(false);
    });
    state.job = std::move(job);
    state.busy = true;
    showRunControls(window, true, running->batch->documentCount() > 1);
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
    state.job->batch->requestStop();
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
    std::wstring text;
    std::vector<std::string> readableAnyway;
    if (job->batch->documentCount() == 1) {
        const DocumentEnd& end = job->batch->ends().front();
        text = outcomeText(state.language, end.report, end.filesWritten);
        // Another producer's document: the box offers to read it the
        // general way, with the same file, range and bookmark setting.
        if (generalReaderWouldRead(end.report)) readableAnyway.push_back(end.path);
    } else {
        BatchSummary summary = summarizeBatch(state.language, job->batch->ends());
        text = batchOutcomeText(state.language, summary);
        readableAnyway = std::move(summary.readableAnyway);
    }
    const bool anyway = !readableAnyway.empty() ? offerGeneralReader(window, text)
                                                : (showMessage(window, text), false);
    showRunControls(window, false);
    state.busy = false;
    if (anyway) extract(window, true, std::move(readableAnyway));
}

// The paths an open dialog that takes several files gave: one whole path,
// or the folder and then each name, every part ended by a NUL.
std::vector<std::string> chosenPaths(const wchar_t* buffer)
{
    std::vector<std::wstring> parts;
    for (const wchar_t* part = buffer; *part; part += parts.back().size() + 1) parts.emplace_back(part);
    std::vector<std::string> paths;
    if (parts.size() == 1) paths.push_back(toUtf8(parts.front()));
    for (std::size_t index = 1; index < parts.size(); ++index) {
        std::wstring folder = parts.front();
        if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
        paths.push_back(toUtf8(folder + parts[index]));
    }
    return paths;
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
    std::wstring files(multipleChoiceUnits, L'\0');
    OPENFILENAMEW dialog{};
    dialog.lStructSize = modern ? sizeof(OPENFILENAMEW) : OPENFILENAME_SIZE_VERSION_400W;
    dialog.hwndOwner = window;
    dialog.lpstrFilter = filter.c_str();  // the string's own NUL ends the list
    dialog.lpstrFile = files.data();
    dialog.nMaxFile = multipleChoiceUnits;
    dialog.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY | OFN_ALLOWMULTISELECT | OFN_EXPLORER;
    dialog.lpstrDefExt = L"pdf";
    dialog.lpstrTitle = title.empty() ? nullptr : title.c_str();
    if (GetOpenFileNameW(&dialog))
        SetWindowTextW(state.fileNameEdit, toWide(documentFieldText(chosenPaths(files.c_str()))).c_str());
}

void chooseOutputFolder(HWND window)
{
    const std::wstring title = windowText(texts::chooseFolderTitle, state.language);
    wchar_t chosen[MAX_PATH] = {};
    BROWSEINFOW dialog{};
    dialog.hwndOwner = window;
    dialog.pszDisplayName = chosen;
    dialog.lpszTitle = title.c_str();
    dialog.ulFlags = BIF_RETURNONLYFSDIRS;
    PIDLIST_ABSOLUTE folder = SHBrowseForFolderW(&dialog);
    if (!folder) return;
    const bool named = SHGetPathFromIDListW(folder, chosen);
    CoTaskMemFree(folder);
    if (!named) return;
    SetWindowTextW(state.outputFolderEdit, chosen);
    setChecked(state.besidePdfRadio, false);
    setChecked(state.outputFolderRadio, true);
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
    std::vector<DroppedItem> items;
    const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT index = 0; index < count; ++index) {
        // The whole path, however long: a cut one could name another file.
        std::wstring path(static_cast<std::size_t>(DragQueryFileW(drop, index, nullptr, 0)) + 1, L'\0');
        path.resize(DragQueryFileW(drop, index, path.data(), static_cast<UINT>(path.size())));
        const DWORD attributes = GetFileAttributesW(path.c_str());
        const bool folder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
        items.push_back({toUtf8(path), folder});
    }
    DragFinish(drop);
    const DropPlan plan = planDrop(items);
    if (plan.notPdf) showMessage(window, notPdfText(state.language, toWide(*plan.notPdf)));
    if (!plan.pdfs.empty()) SetWindowTextW(state.fileNameEdit, toWide(documentFieldText(plan.pdfs)).c_str());
    if (plan.folder) {
        SetWindowTextW(state.outputFolderEdit, toWide(*plan.folder).c_str());
        setChecked(state.besidePdfRadio, false);
        setChecked(state.outputFolderRadio, true);
    }
}

// Typing a folder means it is to be used.
void folderEdited(int notification)
{
    if (notification != EN_CHANGE || state.showingChoices || isChecked(state.outputFolderRadio)) return;
    setChecked(state.besidePdfRadio, false);
    setChecked(state.outputFolderRadio, true);
}

void runCommand(HWND window, int command)
{
    // The accelerators and a program's own messages reach past greyed
    // buttons and menu items.
    if (state.busy && (command == commandBrowse || command == commandExtract || command == commandBrowseFolder))
        return;
    switch (command) {
    case commandExit: SendMessageW(window, WM_CLOSE, 0, 0); break;
    case commandBrowse: browse(window); break;
    case commandBrowseFolder: chooseOutputFolder(window); break;
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
    case WM_COMMAND:
        if (LOWORD(wParam) == idOutputFolderEdit)
            folderEdited(HIWORD(wParam));
        else
            runCommand(window, LOWORD(wParam));
        return 0;
    case WM_DROPFILES:
        if (state.busy)
            DragFinish(reinterpret_cast<HDROP>(wParam));
        else
            acceptDrop(window, reinterpret_cast<HDROP>(wParam));
        return 0;
    case WM_NEXTDLGCTL:
        // What the dialog keys ask of the window they move about in: the
        // Tab key the next or the previous control, a label's letter the
        // control after the label.
        if (LOWORD(lParam))
            SetFocus(reinterpret_cast<HWND>(wParam));
        else
            SetFocus(GetNextDlgTabItem(window, GetFocus(), wParam != 0));
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
    case WM_DESTROY:
        // The controls are still there: children go after their parent.
        saveChoices();
        PostQuitMessage(0);
        return 0;
    default: return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

int runMainWindow(HINSTANCE instance, const wchar_t* commandLine, int showState)
{
    state.instance = instance;
    // The folder dialog is the shell's, which wants the thread in a
    // single-threaded apartment; without one it still opens, plainer.
    const bool comReady = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
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
    state.settingsFile = settingsFilePath();
    showChoices(loadChoices());
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
        // Tab, the arrow keys between the two places, and Alt with a
        // control's marked letter move about the window as in a dialog.
        if (IsDialogMessageW(window, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    // Only a failing loop ends with a run still going; it is stopped, not
    // cut off half-way through a file.
    if (state.job) {
        state.job->batch->requestStop();
        if (state.job->thread.joinable()) state.job->thread.join();
        state.job.reset();
    }
    if (state.font) DeleteObject(state.font);
    if (comReady) CoUninitialize();
    return got == 0 ? static_cast<int>(message.wParam) : 0;
}

}  // namespace ravoth::win32
