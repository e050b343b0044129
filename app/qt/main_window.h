// The main window: one fixed-size window with the file-name and page fields,
// the outline check box, the buttons, the menu and the accelerators. The
// Extract command runs the job on a thread of its own, while the window
// shows its progress and can stop it.
#pragma once

#include <QByteArray>
#include <QList>
#include <QMainWindow>
#include <QString>
#include <functional>
#include <memory>
#include <thread>

#include "app/texts.h"
#include "app/window_batch.h"
#include "app/window_choices.h"
#include "app/window_logic.h"

class QAction;
class QCheckBox;
class QCloseEvent;
class QComboBox;
class QRadioButton;
class QEventLoop;
class QProgressBar;
class QPushButton;
class QDragEnterEvent;
class QDropEvent;
class QLineEdit;

namespace ravoth {

// What the window hands to the desktop. Tests replace these to read what
// would be shown or opened without anyone at the screen.
struct WindowSeams {
    // A modal box with the caption "Ravoth", an OK button and no icon.
    std::function<void(QWidget* parent, const QString& text)> showMessage;
    // The box that ends a run: as showMessage, with `reason` (why the run did
    // not end Complete; may be empty) in smaller words below the text.
    std::function<void(QWidget* parent, const QString& text, const QString& reason)> showOutcome;
    // The same box for a document refused as another producer's, with a
    // second button `anyway` beside OK; true when the user chose it.
    std::function<bool(QWidget* parent, const QString& text, const QString& reason, const QString& anyway)>
        offerGeneralReader;
    // Opens an existing help page with the desktop's program for it; false
    // when no program took it. An opener that says only after it started
    // that it found no program calls `refused` then.
    std::function<bool(const QString& path, std::function<void()> refused)> openHelpPage;
    // An open-file dialog; an empty title keeps the dialog's own. Returns
    // the chosen path, or an empty string when the user cancelled.
    std::function<QString(QWidget* parent, const QString& title, const QString& filter)>
        chooseFile;
    // The same dialog taking several files; when empty, chooseFile is asked
    // for one.
    std::function<QStringList(QWidget* parent, const QString& title, const QString& filter)> chooseFiles;
    // A folder dialog; an empty string when the user cancelled.
    std::function<QString(QWidget* parent, const QString& title, const QString& start)> chooseFolder;
    // The output choices kept between starts: read once as the window is
    // built, written as a run starts and as the window closes. Without
    // them the window starts with the first version's choices.
    std::function<WindowChoices()> loadChoices;
    std::function<void(const WindowChoices&)> saveChoices;
    // Called on the run's thread after each page; empty on the desktop. A
    // test slows a run down with it, to watch it go.
    std::function<void()> pageDone;
};

WindowSeams desktopSeams();

class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    // helpFolder is the working directory at start-up; installedHelpFolder
    // is where the installed help pages are, tried after it (may be empty).
    // Both are paths in the file system's encoding.
    MainWindow(Language language, QByteArray helpFolder, QByteArray installedHelpFolder,
               WindowSeams seams = desktopSeams(), QWidget* parent = nullptr);

    // Carries out one command of the window (commandExit, commandBrowse, ...).
    // Other identifiers are ignored.
    void runCommand(int commandId);

    // Handles files and folders dropped onto the window, as local paths:
    // PDFs go to the file field, a folder becomes the output folder.
    void dropFiles(const QStringList& paths);

    // The output choices as the controls show them.
    WindowChoices choices() const;

    // Whether an extraction is going on. It runs on a thread of its own, so
    // the window stays alive meanwhile: it shows the run's progress and a
    // Cancel button, and takes no other file until the run is over. Several
    // documents run one after another in the same run.
    bool isRunning() const { return worker_.joinable(); }
    // Asks a run in progress to stop (Cancel, Esc); it ends with the
    // cancelled box after the page it is on.
    void cancelRun();

    ~MainWindow() override;

signals:
    // Sent by the run's thread; see the constructor.
    void runProgressed(int document, int documents, int done, int total, QPrivateSignal);
    void runEnded(QPrivateSignal);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    // Closing while a run goes on asks it to stop and waits for it, the
    // window handling its events meanwhile.
    void closeEvent(QCloseEvent* event) override;

private:
    void createMenus();
    void connectCommand(QAction* action, int commandId);
    void createControls();
    void createAccelerators();
    void createControl(const ControlLayout& control, QWidget* client, QObject* acceleratorsFirst);
    void createRunArea(QWidget* client);
    void showChoices(const WindowChoices& choices);
    void saveChoices() const;
    // With anyProducer, what the exact reader refuses goes to the general
    // one; `documents` replaces those of the file field when given.
    void extract(bool anyProducer = false, std::vector<std::string> documents = {});
    // Shows the run's progress: `done` pages of `total` of the document in hand.
    void showProgress(int document, int documents, int done, int total);
    void showBatchOutcome(const WindowBatch& batch);
    // Takes the run back once its thread has ended, and shows its outcome.
    void finishRun();
    // Switches the window between taking input and showing a run.
    void setRunning(bool running);
    void browse();
    void browseFolder();
    // The file field's text for the chosen documents.
    void setDocuments(const QStringList& paths);
    void showHelp();
    void showText(const QString& text);

    Language language_;
    QByteArray helpFolder_;
    QByteArray installedHelpFolder_;
    WindowSeams seams_;
    QLineEdit* fileNameEdit_ = nullptr;
    QLineEdit* firstPageEdit_ = nullptr;
    QLineEdit* lastPageEdit_ = nullptr;
    QCheckBox* outlineCheckBox_ = nullptr;
    QRadioButton* besidePdfRadio_ = nullptr;
    QRadioButton* outputFolderRadio_ = nullptr;
    QLineEdit* outputFolderEdit_ = nullptr;
    QComboBox* formatList_ = nullptr;
    QCheckBox* anyProducerCheckBox_ = nullptr;
    // Disabled while a run goes on.
    QList<QWidget*> inputs_;
    QList<QAction*> inputActions_;
    QWidget* dropHint_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    QWidget* runArea_ = nullptr;
    QWidget* previousControl_ = nullptr;  // while the controls are made
    std::unique_ptr<WindowBatch> batch_;
    std::thread worker_;
    bool closing_ = false;
    // Turns while a close waits for the run to stop; null otherwise.
    QEventLoop* closeWait_ = nullptr;
};

// A message box is never narrower than this, so that its title bar shows
// the caption.
inline constexpr int messageBoxMinimumWidthPixels = 240;

// Loads Qt's own catalogue for the language, so that the standard dialogs
// (the file dialog's labels, buttons and file types) speak it as the
// window does, and makes the language's locale the default when the
// desktop's speaks another. False when the system has no catalogue (Debian
// ships it in qt6-translations-l10n): those dialogs then stay in English.
bool installQtTranslation(Language language);

// Texts of the shared table as Qt strings.
QString qtText(std::string_view utf8);
QString qtText(const Text& text, Language language);

}  // namespace ravoth
