#include "app/qt/main_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QLocale>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPointer>
#include <QProgressBar>
#include <QCloseEvent>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QShortcut>
#include <QSpacerItem>
#include <QStandardPaths>
#include <QTextLayout>
#include <QTranslator>
#include <QUrl>
#include <algorithm>
#include <system_error>

#include "app/window_logic.h"
#include "job/extraction.h"

namespace ravoth {

namespace {

QKeySequence keySequenceOf(const Accelerator& accelerator)
{
    return QKeySequence::fromString(qtText(accelerator.keys), QKeySequence::PortableText);
}

// An edit claims some keys for itself (on X11, Ctrl+E moves to the end of
// the line). The window's accelerators come first wherever the focus is, so
// this declines those keys on the edit's behalf and lets the shortcut fire.
class AcceleratorsFirst : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::ShortcutOverride) return QObject::eventFilter(watched, event);
        const auto* keyEvent = static_cast<QKeyEvent*>(event);
        const QKeySequence pressed(keyEvent->keyCombination());
        for (const Accelerator& accelerator : accelerators) {
            if (keySequenceOf(accelerator) == pressed) {
                event->ignore();
                return true;
            }
        }
        return false;
    }
};

// A static text: plain text from the top left, a line too long for the box
// broken at a space onto the next, as a plain static control does. A face
// standing in for a missing one may want more height per line than the box
// was drawn for (CJK faces with a tall ascent and descent cut the second line
// of the drop hint in half); then the lines are set one em plus an even share
// of the spare height apart, so that every line stays inside the box.
class StaticText : public QLabel {
public:
    StaticText(const QString& text, QWidget* parent) : QLabel(text, parent)
    {
        setTextFormat(Qt::PlainText);
        setAlignment(Qt::AlignLeft | Qt::AlignTop);
        setWordWrap(true);
    }

protected:
    void paintEvent(QPaintEvent* event) override
    {
        const QFontMetricsF metrics(font());
        const QRectF natural = metrics.boundingRect(
            QRectF(rect()), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, text());
        if (natural.height() <= height()) {
            QLabel::paintEvent(event);
            return;
        }
        QString lines = text();
        lines.replace(QLatin1Char('\n'), QChar::LineSeparator);
        QTextLayout layout(lines, font());
        QTextOption option(Qt::AlignLeft);
        option.setWrapMode(QTextOption::WordWrap);
        layout.setTextOption(option);
        layout.beginLayout();
        QList<QTextLine> laidOut;
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(width());
            laidOut.append(line);
        }
        layout.endLayout();
        const qreal em = QFontInfo(font()).pixelSize();
        const qreal gap = std::max<qreal>(0, (height() - laidOut.size() * em) / laidOut.size());
        // Ideographs fill the em box from 0.88 em above the baseline to 0.12 em below it.
        const qreal baselineInEm = 0.88 * em;
        for (int index = 0; index < laidOut.size(); ++index) {
            const qreal baseline = gap / 2 + index * (em + gap) + baselineInEm;
            laidOut[index].setPosition(QPointF(0, baseline - laidOut[index].ascent()));
        }
        QPainter painter(this);
        painter.setPen(palette().color(foregroundRole()));
        layout.draw(&painter, QPointF(0, 0));
    }
};

QFont controlFont(Language language)
{
    // Without a face name the request is for a fixed-pitch font, so English
    // gets the desktop's fixed font; the Japanese face falls back to what the
    // font configuration offers for it when it is not installed.
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    if (language == Language::Japanese) {
        // The same face is installed under its Latin name on some systems.
        font = QFont();
        font.setFamilies({qtText(japaneseFontFace), QStringLiteral("MS PGothic")});
    }
    font.setPixelSize(fontHeightPixels);
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    return font;
}

// The type column of Qt's file dialog names what is not a file with words
// that Qt 6.4's Japanese catalogue lacks; a file's type is its MIME comment,
// which follows the default locale.
class FileTypeNamesInJapanese : public QTranslator {
public:
    using QTranslator::QTranslator;

    bool isEmpty() const override { return false; }

    QString translate(const char* context, const char* sourceText, const char*, int) const override
    {
        struct Name {
            const char* english;
            std::string_view japanese;
        };
        static constexpr Name names[] = {
            {"Drive", "ドライブ"},
            {"Folder", "フォルダー"},
            {"Shortcut", "ショートカット"},
            {"Unknown", "不明"},
        };
        if (qstrcmp(context, "QAbstractFileIconProvider") != 0) return QString();
        for (const Name& name : names)
            if (qstrcmp(sourceText, name.english) == 0) return qtText(name.japanese);
        return QString();
    }
};

QStringList droppedLocalFiles(const QMimeData* data)
{
    QStringList paths;
    if (!data || !data->hasUrls()) return paths;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile()) paths.append(url.toLocalFile());
    return paths;
}

}  // namespace

bool installQtTranslation(Language language)
{
    // The file dialog names a file's type in the default locale's language,
    // which is the desktop's unless the window was told to speak another.
    const QLocale::Language wanted =
        language == Language::Japanese ? QLocale::Japanese : QLocale::English;
    if (QLocale::system().language() != wanted) QLocale::setDefault(QLocale(wanted));
    if (language == Language::English) return true;
    auto* catalogue = new QTranslator(QCoreApplication::instance());
    if (!catalogue->load(QStringLiteral("qtbase_ja"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete catalogue;
        return false;
    }
    QCoreApplication::installTranslator(catalogue);
    // Installed last, so asked first; it answers only what the catalogue lacks.
    QCoreApplication::installTranslator(new FileTypeNamesInJapanese(QCoreApplication::instance()));
    return true;
}

QString qtText(std::string_view utf8)
{
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

QString qtText(const Text& text, Language language)
{
    return qtText(text.in(language));
}

namespace {

// A modal box with the caption "Ravoth", an OK button and no icon; `detail`
// stands below the text when given.
bool showBox(QWidget* parent, const QString& text, const QString& detail, const QString& second = QString())
{
    QMessageBox box(QMessageBox::NoIcon, qtText(texts::caption), text, QMessageBox::Ok, parent);
    QAbstractButton* secondButton = second.isEmpty() ? nullptr : box.addButton(second, QMessageBox::AcceptRole);
    box.setTextFormat(Qt::PlainText);
    if (!detail.isEmpty()) box.setInformativeText(detail);
    // The box is as wide as its text, and "Complete" leaves the title bar
    // no room for the caption: the window manager cuts it to "R…h" or
    // drops it. The title bar also holds an icon and up to three buttons,
    // each about one and a half lines high and as wide. The box sizes
    // itself from its layout's minimum, so the room is a spacer there.
    const QFontMetrics metrics(box.font());
    const int captionRoom = metrics.horizontalAdvance(qtText(texts::caption)) + 6 * metrics.height();
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
        grid->addItem(new QSpacerItem(std::max(messageBoxMinimumWidthPixels, captionRoom), 0,
                                      QSizePolicy::Minimum, QSizePolicy::Fixed),
                      grid->rowCount(), 0, 1, grid->columnCount());
    box.exec();
    return secondButton && box.clickedButton() == secondButton;
}

}  // namespace

// The desktop's own dialogs speak the desktop's language; when the window
// was told to speak another, Qt's dialogs speak the window's.
static QFileDialog::Options dialogOptions()
{
    QFileDialog::Options options;
    if (QLocale().language() != QLocale::system().language()) options |= QFileDialog::DontUseNativeDialog;
    return options;
}

WindowSeams desktopSeams()
{
    WindowSeams seams;
    seams.showMessage = [](QWidget* parent, const QString& text) { showBox(parent, text, QString()); };
    seams.showOutcome = [](QWidget* parent, const QString& text, const QString& reason) {
        showBox(parent, text, reason);
    };
    seams.offerGeneralReader = [](QWidget* parent, const QString& text, const QString& reason,
                                  const QString& anyway) { return showBox(parent, text, reason, anyway); };
    seams.openHelpPage = [](const QString& path, std::function<void()> refused) {
        // Qt hands the page to xdg-open without looking back, so an xdg-open
        // that finds no browser would pass for success. It is started here
        // instead and watched: it fails within seconds when it finds nothing,
        // while one that found a browser may run as long as the browser does
        // (without a desktop it waits for it). Without xdg-open, Qt tries the
        // usual browsers itself and says at once when none is there.
        const QUrl url = QUrl::fromLocalFile(path);
        const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
        if (opener.isEmpty()) return QDesktopServices::openUrl(url);
        auto* process = new QProcess(QCoreApplication::instance());
        process->setProcessChannelMode(QProcess::ForwardedChannels);
        QObject::connect(process, &QProcess::finished, process,
                         [process, refused](int exitCode, QProcess::ExitStatus status) {
                             if (status != QProcess::NormalExit || exitCode != 0) refused();
                             process->deleteLater();
                         });
        process->start(opener, {url.toString()});
        if (process->waitForStarted()) return true;
        delete process;
        return QDesktopServices::openUrl(url);
    };
    seams.chooseFile = [](QWidget* parent, const QString& title, const QString& filter) {
        return QFileDialog::getOpenFileName(parent, title, QString(), filter, nullptr, dialogOptions());
    };
    seams.chooseFiles = [](QWidget* parent, const QString& title, const QString& filter) {
        return QFileDialog::getOpenFileNames(parent, title, QString(), filter, nullptr, dialogOptions());
    };
    seams.chooseFolder = [](QWidget* parent, const QString& title, const QString& start) {
        return QFileDialog::getExistingDirectory(parent, title, start,
                                                 dialogOptions() | QFileDialog::ShowDirsOnly);
    };
    // ~/.config/Ravoth/Ravoth.conf; values as the file system spells paths.
    seams.loadChoices = [] {
        const QSettings settings(QSettings::NativeFormat, QSettings::UserScope, qtText(texts::caption),
                                 qtText(texts::caption));
        return choicesFromSettings([&](std::string_view key) -> std::optional<std::string> {
            const QVariant value = settings.value(QStringLiteral("window/") + qtText(key));
            if (!value.isValid()) return std::nullopt;
            return QFile::encodeName(value.toString()).toStdString();
        });
    };
    seams.saveChoices = [](const WindowChoices& choices) {
        QSettings settings(QSettings::NativeFormat, QSettings::UserScope, qtText(texts::caption),
                           qtText(texts::caption));
        for (const auto& [key, value] : settingsOf(choices))
            settings.setValue(QStringLiteral("window/") + qtText(key), QFile::decodeName(QByteArray::fromStdString(value)));
    };
    return seams;
}

MainWindow::MainWindow(Language language, QByteArray helpFolder, QByteArray installedHelpFolder,
                       WindowSeams seams, QWidget* parent)
    : QMainWindow(parent),
      language_(language),
      helpFolder_(std::move(helpFolder)),
      installedHelpFolder_(std::move(installedHelpFolder)),
      seams_(std::move(seams))
{
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setWindowTitle(qtText(texts::caption));
    // Every size, so a dock or task switcher asking for a large icon is
    // not given the 32-pixel one blown up.
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256}) icon.addFile(QStringLiteral(":/icons/ravoth-%1.png").arg(size));
    setWindowIcon(icon);
    createMenus();
    createControls();
    createAccelerators();
    if (seams_.loadChoices) showChoices(seams_.loadChoices());
    setAcceptDrops(true);
    // The run's thread only sends these, and Qt queues each to the window's
    // thread with a copy of its arguments. A queued lambda would instead be
    // built on the run's thread and read on this one, handed over under the
    // lock of Qt's event queue, which the thread checker cannot see.
    connect(this, &MainWindow::runProgressed, this, &MainWindow::showProgress, Qt::QueuedConnection);
    connect(this, &MainWindow::runEnded, this, &MainWindow::finishRun, Qt::QueuedConnection);
    // No sizing border: the window is as large as its menu and controls.
    setFixedSize(clientWidthPixels, clientHeightPixels + menuBar()->sizeHint().height());
}

void MainWindow::createMenus()
{
    QMenuBar* bar = menuBar();
    // Kept inside the window so the window's size does not depend on the desktop.
    bar->setNativeMenuBar(false);
    QMenu* popup = nullptr;
    for (const MenuEntry& entry : mainMenu) {
        const QString text = qtText(entry.text, language_);
        switch (entry.kind) {
        case MenuEntryKind::Popup:
            popup = bar->addMenu(text);
            break;
        case MenuEntryKind::Item:
            if (popup) {
                QAction* action = popup->addAction(text);
                connectCommand(action, entry.commandId);
                if (entry.commandId == commandBrowse) inputActions_.append(action);
            }
            break;
        case MenuEntryKind::Separator:
            if (popup) popup->addSeparator();
            break;
        case MenuEntryKind::EndPopup:
            popup = nullptr;
            break;
        case MenuEntryKind::BarItem: {
            QAction* action = bar->addAction(text);
            connectCommand(action, entry.commandId);
            if (entry.commandId == commandExtract) inputActions_.append(action);
            break;
        }
        }
    }
}

void MainWindow::connectCommand(QAction* action, int commandId)
{
    connect(action, &QAction::triggered, this, [this, commandId] { runCommand(commandId); });
}

void MainWindow::createControls()
{
    auto* client = new QWidget(this);
    client->setFixedSize(clientWidthPixels, clientHeightPixels);
    setCentralWidget(client);
    auto* acceleratorsFirst = new AcceleratorsFirst(this);
    for (const ControlLayout& control : mainWindowControls) createControl(control, client, acceleratorsFirst);
    // The two places exclude each other, as radio buttons of one parent do;
    // the folder's edit and button serve the folder only.
    // Typing a folder means it is to be used.
    connect(outputFolderEdit_, &QLineEdit::textEdited, outputFolderRadio_, [this] { outputFolderRadio_->setChecked(true); });
    // Edits without a label of their own are named for those who cannot
    // see where they stand.
    lastPageEdit_->setAccessibleName(qtText(texts::lastPageName, language_));
    createRunArea(client);
}

void MainWindow::createControl(const ControlLayout& control, QWidget* client, QObject* acceleratorsFirst)
{
    const QString text = qtText(control.text, language_);
    QWidget* widget = nullptr;
    switch (control.kind) {
    case ControlKind::Label:
        widget = new StaticText(text, client);
        break;
    case ControlKind::Edit: {
        auto* edit = new QLineEdit(text, client);
        // A file dropped on an edit is meant for the window, not pasted
        // into the edit as text.
        edit->setAcceptDrops(false);
        edit->installEventFilter(acceleratorsFirst);
        if (control.id == idFileNameEdit) fileNameEdit_ = edit;
        if (control.id == idFirstPageEdit) firstPageEdit_ = edit;
        if (control.id == idLastPageEdit) lastPageEdit_ = edit;
        if (control.id == idOutputFolderEdit) outputFolderEdit_ = edit;
        widget = edit;
        break;
    }
    case ControlKind::PushButton: {
        auto* button = new QPushButton(text, client);
        button->setAutoDefault(false);
        const int command = control.id;
        connect(button, &QPushButton::clicked, this, [this, command] { runCommand(command); });
        widget = button;
        break;
    }
    case ControlKind::CheckBox: {
        auto* checkBox = new QCheckBox(text, client);
        if (control.id == idOutlineCheckBox) outlineCheckBox_ = checkBox;
        if (control.id == idAnyProducerCheckBox) anyProducerCheckBox_ = checkBox;
        widget = checkBox;
        break;
    }
    case ControlKind::RadioButton: {
        auto* radio = new QRadioButton(text, client);
        if (control.id == idBesidePdfRadio) besidePdfRadio_ = radio;
        if (control.id == idOutputFolderRadio) outputFolderRadio_ = radio;
        widget = radio;
        break;
    }
    case ControlKind::DropDownList: {
        auto* list = new QComboBox(client);
        for (const Text& name : windowFormatNames) list->addItem(qtText(name, language_));
        list->installEventFilter(acceleratorsFirst);
        formatList_ = list;
        widget = list;
        break;
    }
    }
    widget->setProperty("controlId", control.id);
    widget->setFont(controlFont(language_));
    widget->setGeometry(control.x, control.y, control.width, control.height);
    // A label gives its key and its name to the control after it; the
    // first version's labels name their edits the same way.
    if (auto* label = qobject_cast<QLabel*>(previousControl_)) label->setBuddy(widget);
    previousControl_ = widget;
    if (control.kind == ControlKind::Label && control.id == idNone && control.y == runAreaTopPixels)
        dropHint_ = widget;
    else if (control.kind != ControlKind::Label && control.id != commandExit)
        inputs_.append(widget);
}

void MainWindow::createRunArea(QWidget* client)
{
    // While a run goes on, its progress and the Cancel button stand where
    // the drop hint does, which says nothing then: no file can be dropped.
    const QFont font = controlFont(language_);
    runArea_ = new QWidget(client);
    progress_ = new QProgressBar(runArea_);
    progress_->setFont(font);
    progress_->setTextVisible(true);
    cancelButton_ = new QPushButton(qtText(texts::cancelButton, language_), runArea_);
    cancelButton_->setFont(font);
    cancelButton_->setAutoDefault(false);
    connect(cancelButton_, &QPushButton::clicked, this, &MainWindow::cancelRun);
    runArea_->hide();
}

void MainWindow::createAccelerators()
{
    for (const Accelerator& accelerator : accelerators) {
        auto* shortcut = new QShortcut(keySequenceOf(accelerator), this);
        shortcut->setContext(Qt::WindowShortcut);
        const int command = accelerator.commandId;
        connect(shortcut, &QShortcut::activated, this, [this, command] { runCommand(command); });
    }
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WindowShortcut);
    connect(escape, &QShortcut::activated, this, &MainWindow::cancelRun);
}

void MainWindow::runCommand(int commandId)
{
    switch (commandId) {
    case commandExit:
        close();
        return;
    case commandBrowse:
        if (!isRunning()) browse();
        return;
    case commandBrowseFolder:
        if (!isRunning()) browseFolder();
        return;
    case commandExtract:
        if (!isRunning()) extract();
        return;
    case commandHelp:
        showHelp();
        return;
    case commandAbout:
        showText(qtText(aboutText(language_)));
        return;
    default:
        return;
    }
}

WindowChoices MainWindow::choices() const
{
    WindowChoices choices;
    choices.place = outputFolderRadio_->isChecked() ? OutputPlace::Folder : OutputPlace::BesidePdf;
    choices.folder = QFile::encodeName(outputFolderEdit_->text()).toStdString();
    choices.format = windowFormatAt(formatList_->currentIndex());
    choices.anyProducer = anyProducerCheckBox_->isChecked();
    return choices;
}

void MainWindow::showChoices(const WindowChoices& choices)
{
    (choices.place == OutputPlace::Folder ? outputFolderRadio_ : besidePdfRadio_)->setChecked(true);
    outputFolderEdit_->setText(QFile::decodeName(QByteArray::fromStdString(choices.folder)));
    formatList_->setCurrentIndex(static_cast<int>(choices.format));
    anyProducerCheckBox_->setChecked(choices.anyProducer);
}

void MainWindow::saveChoices() const
{
    if (seams_.saveChoices) seams_.saveChoices(choices());
}

void MainWindow::extract(bool anyProducer, std::vector<std::string> documents)
{
    const QByteArray fileName = QFile::encodeName(fileNameEdit_->text());
    const QByteArray firstPageText = firstPageEdit_->text().toUtf8();
    const QByteArray lastPageText = lastPageEdit_->text().toUtf8();
    const ExtractRequest request =
        prepareExtraction(std::string_view(fileName.constData(), fileName.size()),
                          std::string_view(firstPageText.constData(), firstPageText.size()),
                          std::string_view(lastPageText.constData(), lastPageText.size()));
    if (request.step == ExtractStep::PageInputError) {
        showText(qtText(texts::pageInputError, language_));
        return;
    }
    if (request.step == ExtractStep::NoFileName && documents.empty()) return;
    if (documents.empty()) documents = documentsInField(std::string_view(fileName.constData(), fileName.size()));

    saveChoices();
    BatchStart start = startBatch(language_, std::move(documents), choices(), anyProducer,
                                  outlineCheckBox_->isChecked(), request);
    if (!start.batch) {
        showText(qtText(start.message));
        return;
    }
    batch_ = std::move(start.batch);
    // Each page is shown from the window's own thread; the run's thread
    // only signals it.
    batch_->setProgress([this](const BatchProgress& page) {
        emit runProgressed(page.document, page.documents, page.pagesDone, page.pagesInRange, QPrivateSignal());
        if (seams_.pageDone) seams_.pageDone();
    });
    const bool several = batch_->documentCount() > 1;
    runArea_->setGeometry(several ? batchRunAreaLeftPixels : runAreaLeftPixels, runAreaTopPixels,
                          several ? batchRunAreaWidthPixels : runAreaWidthPixels, runAreaHeightPixels);
    progress_->setGeometry(0, 2, runArea_->width() - cancelWidthPixels - 6, runAreaHeightPixels - 4);
    cancelButton_->setGeometry(runArea_->width() - cancelWidthPixels, 0, cancelWidthPixels, runAreaHeightPixels);
    progress_->setFormat(qtText(progressFormat(language_, 1, batch_->documentCount())));
    progress_->setRange(0, 1);
    progress_->setValue(0);
    setRunning(true);
    try {
        worker_ = std::thread([this] {
            batch_->run();
            emit runEnded(QPrivateSignal());
        });
    } catch (const std::system_error&) {
        // No thread to be had: the run goes on here, the window waiting.
        setRunning(false);
        QApplication::setOverrideCursor(Qt::WaitCursor);
        batch_->run();
        QApplication::restoreOverrideCursor();
        finishRun();
    }
}

void MainWindow::showProgress(int document, int documents, int done, int total)
{
    if (!isRunning()) return;
    if (documents > 1) progress_->setFormat(qtText(progressFormat(language_, document, documents)));
    progress_->setRange(0, total);
    progress_->setValue(done);
}

void MainWindow::finishRun()
{
    if (worker_.joinable()) worker_.join();
    setRunning(false);
    if (closeWait_) closeWait_->quit();
    if (closing_ || !batch_) return;
    const std::unique_ptr<WindowBatch> batch = std::move(batch_);
    if (batch->documentCount() > 1) {
        showBatchOutcome(*batch);
        return;
    }
    const DocumentEnd& end = batch->ends().front();
    const QString reason = qtText(failureReason(language_, end.report));
    const QString message = qtText(resultMessage(end.report.result, end.filesWritten), language_);
    // Another producer's document: the box offers to read it the general
    // way, with the same file, range and bookmark setting.
    if (generalReaderWouldRead(end.report) && seams_.offerGeneralReader) {
        if (seams_.offerGeneralReader(this, message, reason, qtText(texts::extractAnywayButton, language_)))
            extract(true, {end.path});
        return;
    }
    // A cancelled run is what the user asked for: nothing more to explain.
    seams_.showOutcome(this, message, end.report.result == extractionStopped ? QString() : reason);
}

void MainWindow::showBatchOutcome(const WindowBatch& batch)
{
    const BatchSummary summary = summarizeBatch(language_, batch.ends());
    const QString message = qtText(*summary.message, language_);
    const QString reasons = qtText(summary.reasons);
    if (!summary.readableAnyway.empty() && seams_.offerGeneralReader) {
        if (seams_.offerGeneralReader(this, message, reasons, qtText(texts::extractAnywayButton, language_)))
            extract(true, summary.readableAnyway);
        return;
    }
    seams_.showOutcome(this, message, reasons);
}

void MainWindow::setRunning(bool running)
{
    for (QWidget* input : inputs_) input->setEnabled(!running);
    for (QAction* action : inputActions_) action->setEnabled(!running);
    setAcceptDrops(!running);
    if (dropHint_) dropHint_->setVisible(!running);
    runArea_->setVisible(running);
    if (running) cancelButton_->setFocus();
}

void MainWindow::cancelRun()
{
    if (batch_ && isRunning()) batch_->requestStop();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (isRunning()) {
        closing_ = true;
        batch_->requestStop();
        // The run stops after the page it is on and leaves nothing half
        // written; the window waits for that rather than pull the files
        // away from under it. A join here would freeze the window for as
        // long as the page takes: it goes on repainting instead, greyed
        // out, as it takes nothing more.
        setEnabled(false);
        QEventLoop wait;
        closeWait_ = &wait;
        wait.exec();
        closeWait_ = nullptr;
        // The loop also ends when the application is told to quit.
        if (worker_.joinable()) worker_.join();
        setRunning(false);
        setEnabled(true);
    }
    saveChoices();
    QMainWindow::closeEvent(event);
}

MainWindow::~MainWindow()
{
    if (batch_) batch_->requestStop();
    if (worker_.joinable()) worker_.join();
}

void MainWindow::browse()
{
    const QString title = qtText(texts::browseTitle, language_);
    const QString filter = qtText(texts::browseFilter);
    QStringList chosen;
    if (seams_.chooseFiles)
        chosen = seams_.chooseFiles(this, title, filter);
    else if (const QString one = seams_.chooseFile(this, title, filter); !one.isEmpty())
        chosen.append(one);
    if (!chosen.isEmpty()) setDocuments(chosen);
}

void MainWindow::browseFolder()
{
    if (!seams_.chooseFolder) return;
    const QString chosen =
        seams_.chooseFolder(this, qtText(texts::chooseFolderTitle, language_), outputFolderEdit_->text());
    if (chosen.isEmpty()) return;
    outputFolderEdit_->setText(chosen);
    outputFolderRadio_->setChecked(true);
}

void MainWindow::setDocuments(const QStringList& paths)
{
    std::vector<std::string> documents;
    for (const QString& path : paths) documents.push_back(QFile::encodeName(path).toStdString());
    fileNameEdit_->setText(QFile::decodeName(QByteArray::fromStdString(documentFieldText(documents))));
}

void MainWindow::showHelp()
{
    const std::vector<std::string> candidates = helpPageCandidates(
        std::string_view(helpFolder_.constData(), helpFolder_.size()),
        std::string_view(installedHelpFolder_.constData(), installedHelpFolder_.size()), language_);
    // A page that is there but that nothing opens (no browser, no opener) is
    // not missing: the user is told where it is, to open it by hand. An
    // opener may say so after this has returned, perhaps after the window
    // has gone.
    const auto tellNotOpened = [](MainWindow* window, const QString& path) {
        const QByteArray shown = path.toUtf8();
        const std::string_view shownPath(shown.constData(), shown.size());
        window->showText(qtText(helpNotOpenedMessage(window->language_, shownPath)));
    };
    QString unopened;
    for (const std::string& candidate : candidates) {
        const QString path = QFile::decodeName(QByteArray::fromStdString(candidate));
        if (!QFileInfo(path).isFile()) continue;
        const auto refused = [window = QPointer<MainWindow>(this), path, tellNotOpened] {
            if (window) tellNotOpened(window, path);
        };
        if (seams_.openHelpPage(path, refused)) return;
        if (unopened.isEmpty()) unopened = path;
    }
    if (unopened.isEmpty())
        showText(qtText(texts::helpNotFound, language_));
    else
        tellNotOpened(this, unopened);
}

void MainWindow::dropFiles(const QStringList& paths)
{
    if (isRunning()) return;
    std::vector<DroppedItem> items;
    for (const QString& path : paths)
        items.push_back({QFile::encodeName(path).toStdString(), QFileInfo(path).isDir()});
    const DropPlan plan = planDrop(items);
    if (plan.notPdf) {
        const QByteArray shown = QFile::decodeName(QByteArray::fromStdString(*plan.notPdf)).toUtf8();
        showText(qtText(notPdfMessage(language_, std::string_view(shown.constData(), shown.size()))));
    }
    if (!plan.pdfs.empty())
        fileNameEdit_->setText(QFile::decodeName(QByteArray::fromStdString(documentFieldText(plan.pdfs))));
    if (plan.folder) {
        outputFolderEdit_->setText(QFile::decodeName(QByteArray::fromStdString(*plan.folder)));
        outputFolderRadio_->setChecked(true);
    }
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event)
{
    if (!droppedLocalFiles(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event)
{
    const QStringList paths = droppedLocalFiles(event->mimeData());
    if (paths.isEmpty()) return;
    event->acceptProposedAction();
    // Finish the drag first: a message box opened inside the drop would keep
    // the program the file came from waiting for it.
    QMetaObject::invokeMethod(this, [this, paths] { dropFiles(paths); }, Qt::QueuedConnection);
}

void MainWindow::showText(const QString& text)
{
    seams_.showMessage(this, text);
}

}  // namespace ravoth
