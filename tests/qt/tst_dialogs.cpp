// What the window hands to the desktop: message boxes wide enough for their
// caption and text, the file dialog in the window's language, and the help
// page's opener, whose failure must be seen.
#include <QAbstractButton>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QLabel>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include "app/qt/main_window.h"
#include "app/window_logic.h"
#include "tests/qt/recording_seams.h"

using ravoth::Language;
using ravoth::MainWindow;
using ravoth::testing::Recorder;

namespace {

QString u8(const char* text)
{
    return QString::fromUtf8(text);
}

// Texts of the visible labels and buttons of a dialog, in no set order.
QStringList visibleTexts(QWidget* dialog)
{
    QStringList texts;
    for (QLabel* label : dialog->findChildren<QLabel*>())
        if (label->isVisible() && !label->text().isEmpty()) texts.append(label->text());
    for (QAbstractButton* button : dialog->findChildren<QPushButton*>())
        if (button->isVisible() && !button->text().isEmpty()) texts.append(button->text());
    return texts;
}

}  // namespace

class DialogsTest : public QObject {
    Q_OBJECT

private slots:
    void messageBoxesShowCaptionAndWholeText_data();
    void messageBoxesShowCaptionAndWholeText();
    void japaneseFileDialogSpeaksJapanese();
    void helpOpenerFailureIsSeen_data();
    void helpOpenerFailureIsSeen();
};

void DialogsTest::messageBoxesShowCaptionAndWholeText_data()
{
    QTest::addColumn<QString>("text");
    // The shortest texts are the ones that left the caption no room.
    QTest::newRow("Complete") << u8("Complete");
    QTest::newRow("Failure") << u8("Failure");
    QTest::newRow("Page Input Error") << u8("Page Input Error");
    QTest::newRow("Complete But Partly") << u8("Complete\n\nBut Partly");
    QTest::newRow("ja complete") << u8("完了");
    QTest::newRow("ja partly") << u8("完了\n\n但し抽出できなかったページがあります");
    QTest::newRow("ja failure") << u8("ファイル抽出に失敗しました");
    QTest::newRow("ja page input error") << u8("ページの入力値に誤りがあります");
    QTest::newRow("ja help not opened")
        << u8("ヘルプファイルを開くプログラムがありません\n\n/usr/share/ravoth/help/Ravoth.htm");
}

void DialogsTest::messageBoxesShowCaptionAndWholeText()
{
    QFETCH(QString, text);

    MainWindow window(Language::English, QByteArray(), QByteArray(), Recorder().seams());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    bool found = false;
    QString title, shown;
    int boxWidth = 0;
    QStringList cutLines;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        found = true;
        title = box->windowTitle();
        boxWidth = box->width();
        auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
        if (label) {
            shown = label->text();
            // Each line on a line of its own, neither cut nor wrapped.
            const QFontMetrics metrics(label->font());
            for (const QString& line : label->text().split(QLatin1Char('\n')))
                if (metrics.horizontalAdvance(line) > label->width()) cutLines.append(line);
            if (label->height() < metrics.lineSpacing() * int(label->text().count(QLatin1Char('\n')) + 1))
                cutLines.append(QStringLiteral("<lines cut off at the bottom>"));
        }
        box->button(QMessageBox::Ok)->click();
    });
    ravoth::desktopSeams().showMessage(&window, text);

    QVERIFY(found);
    QCOMPARE(title, u8("Ravoth"));
    QCOMPARE(shown, text);
    QVERIFY2(boxWidth >= 240, qPrintable(QStringLiteral("%1 px wide").arg(boxWidth)));
    QCOMPARE(cutLines, QStringList{});
}

void DialogsTest::japaneseFileDialogSpeaksJapanese()
{
    const QString catalogue =
        QLibraryInfo::path(QLibraryInfo::TranslationsPath) + QStringLiteral("/qtbase_ja.qm");
    if (!QFileInfo::exists(catalogue))
        QSKIP("No qtbase_ja.qm: Debian's qt6-translations-l10n ships it (scripts/install-deps.sh)");
    QVERIFY(ravoth::installQtTranslation(Language::Japanese));

    // The dialog opens in the working folder: one folder and one PDF there.
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    QVERIFY(QDir(folder.path()).mkdir(u8("Scans")));
    QFile pdf(folder.filePath(u8("Book.pdf")));
    QVERIFY(pdf.open(QIODevice::WriteOnly));
    pdf.write("%PDF-1.3\n");
    pdf.close();
    const QString before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(folder.path()));

    Recorder recorder;
    ravoth::WindowSeams seams = recorder.seams();
    seams.chooseFile = ravoth::desktopSeams().chooseFile;
    MainWindow window(Language::Japanese, QByteArray(), QByteArray(), seams);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    bool found = false;
    QString title, folderType, pdfType;
    QStringList texts;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog) return;
        found = true;
        title = dialog->windowTitle();
        texts = visibleTexts(dialog);
        // The list is filled by a thread of the model's own.
        auto* model = dialog->findChild<QFileSystemModel*>();
        if (model && QTest::qWaitFor([&] { return model->rowCount(model->index(folder.path())) == 2; })) {
            folderType = model->index(folder.filePath(u8("Scans")), 2).data().toString();
            pdfType = model->index(folder.filePath(u8("Book.pdf")), 2).data().toString();
        }
        dialog->reject();
    });
    window.runCommand(ravoth::commandBrowse);
    QDir::setCurrent(before);

    QVERIFY(found);
    QCOMPARE(title, u8("ファイルを参照"));
    // "Look in:", "Files of type:", "File &name:", "&Open" and "Cancel" when
    // Qt's catalogue is not loaded.
    texts.sort();
    QCOMPARE(texts, (QStringList{u8("アドレス:"), u8("キャンセル"), u8("ファイルの種類:"),
                                 u8("ファイル名(&N):"), u8("開く(&O)")}));
    // A folder's type comes from the window's own words, a file's from the
    // MIME database in the default locale's language. Dates follow the
    // desktop's locale, as everywhere on it.
    QCOMPARE(folderType, u8("フォルダー"));
    QCOMPARE(pdfType, u8("PDF ドキュメント"));
}

void DialogsTest::helpOpenerFailureIsSeen_data()
{
    QTest::addColumn<QString>("opener");  // the script standing in for xdg-open; empty: none
    QTest::addColumn<bool>("taken");      // what the seam returns
    QTest::addColumn<bool>("refused");    // whether it calls back later
    QTest::newRow("hands the page over") << u8("exit 0") << true << false;
    QTest::newRow("finds no browser")
        << u8("echo \"xdg-open: no method available for opening '$1'\" >&2; exit 3") << true << true;
    // Without a desktop, xdg-open runs the browser and waits for it.
    QTest::newRow("waits for the browser") << u8("exec /bin/sleep 5") << true << false;
    QTest::newRow("no opener and no browser") << QString() << false << false;
}

void DialogsTest::helpOpenerFailureIsSeen()
{
    QFETCH(QString, opener);
    QFETCH(bool, taken);
    QFETCH(bool, refused);

    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString page = folder.filePath(u8("RavothE.htm"));
    QFile pageFile(page);
    QVERIFY(pageFile.open(QIODevice::WriteOnly));
    pageFile.close();
    QVERIFY(QDir(folder.path()).mkdir(u8("bin")));
    if (!opener.isEmpty()) {
        QFile script(folder.filePath(u8("bin/xdg-open")));
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write(("#!/bin/sh\n" + opener + "\n").toUtf8());
        script.close();
        QVERIFY(script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }
    // Only the stand-in, and no browser for Qt to find on its own.
    const QByteArray path = qgetenv("PATH");
    const QByteArray browser = qgetenv("BROWSER");
    qputenv("PATH", QFile::encodeName(folder.filePath(u8("bin"))));
    qunsetenv("BROWSER");

    bool calledBack = false;
    const bool result = ravoth::desktopSeams().openHelpPage(page, [&] { calledBack = true; });
    qputenv("PATH", path);
    if (!browser.isNull()) qputenv("BROWSER", browser);
    // Long enough for the stand-in to end, unless it waits for a browser.
    const bool ended = QTest::qWaitFor(
        [] { return QCoreApplication::instance()->findChildren<QProcess*>().isEmpty(); }, 2000);
    const bool refusedInTime = calledBack;
    for (QProcess* process : QCoreApplication::instance()->findChildren<QProcess*>()) {
        process->kill();
        process->waitForFinished();
    }

    QCOMPARE(result, taken);
    QCOMPARE(refusedInTime, refused);
    QCOMPARE(ended, opener != u8("exec /bin/sleep 5"));
}

QTEST_MAIN(DialogsTest)
#include "tst_dialogs.moc"
