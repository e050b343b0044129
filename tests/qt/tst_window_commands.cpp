// The window's commands end to end: Extract on real PDFs, dropping files,
// browsing and help, with the desktop replaced by a recorder.
#include <QCheckBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

#include "app/qt/main_window.h"
#include "app/window_logic.h"
#include "job/extraction.h"
#include "platform/memory.h"
#include "tests/fixture/pdf_builder.h"
#include "tests/qt/recording_seams.h"

using ravoth::Language;
using ravoth::MainWindow;
using ravoth::testing::Recorder;
namespace fixture = ravoth::fixture;

Q_DECLARE_METATYPE(ravoth::Language)

namespace {

QString u8(const char* text)
{
    return QString::fromUtf8(text);
}

// The window's controls in creation order, by role.
struct Controls {
    QLineEdit* fileName;
    QLineEdit* firstPage;
    QLineEdit* lastPage;
    QCheckBox* outline;
    QPushButton* extract;
};

Controls controlsOf(MainWindow& window)
{
    const QList<QWidget*> all =
        window.centralWidget()->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
    return {qobject_cast<QLineEdit*>(all.at(1)), qobject_cast<QLineEdit*>(all.at(4)),
            qobject_cast<QLineEdit*>(all.at(6)), qobject_cast<QCheckBox*>(all.at(7)),
            qobject_cast<QPushButton*>(all.at(9))};
}

enum class Sample { TwoPages, FirstPageBroken, AllPagesBroken, NoFile };

// Page 1 is a Flate page and page 2 a JPEG page; a broken page's object no
// longer matches what Mesker writes, so its image cannot be found.
void writeSample(Sample sample, const QString& path)
{
    if (sample == Sample::NoFile) return;
    fixture::MeskerDocument document;
    document.pages = {fixture::flatePage(4, 3, 8, false, 1), fixture::dctPage(8, 8, false, 2)};
    if (sample != Sample::TwoPages) {
        const bool all = sample == Sample::AllPagesBroken;
        document.editPageObject = [all](int pageIndex, std::string& text) {
            if (all || pageIndex == 0) fixture::replaceOnce(text, "/ProcSet", "/ProcSek");
        };
    }
    const fixture::BuiltPdf built = fixture::buildMesker(document);
    QVERIFY(fixture::writeFile(QFile::encodeName(path).toStdString(), built.bytes));
}

QStringList filesIn(const QString& folder, const QString& except)
{
    QStringList names = QDir(folder).entryList(QDir::Files, QDir::Name);
    names.removeAll(except);
    return names;
}

// Drags `urls` over the window and lets go, the way the desktop does: the
// drop reaches only a widget that took the drag when it entered. Returns
// whether the window took it.
bool dragAndDrop(MainWindow& window, const QList<QUrl>& urls)
{
    QMimeData data;
    data.setUrls(urls);
    QDragEnterEvent enter(QPoint(200, 60), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    enter.setAccepted(false);
    QApplication::sendEvent(&window, &enter);
    if (!enter.isAccepted()) return false;
    QDropEvent drop(QPointF(200, 60), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &drop);
    QCoreApplication::processEvents();
    return true;
}

}  // namespace

class WindowCommandsTest : public QObject {
    Q_OBJECT

private slots:
    void extract_data();
    void extract();
    void pageFieldErrors_data();
    void pageFieldErrors();
    void emptyFileNameSaysNothing();
    void outlineOptionFollowsCheckBox_data();
    void outlineOptionFollowsCheckBox();
    void drop_data();
    void drop();
    void browse_data();
    void browse();
    void help_data();
    void help();
    void helpRefusedAfterItStarted();
};

void WindowCommandsTest::extract_data()
{
    QTest::addColumn<Language>("language");
    QTest::addColumn<int>("sample");
    QTest::addColumn<QString>("pdfName");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("last");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QString>("reason");

    const Language en = Language::English;
    const Language ja = Language::Japanese;
    const int two = int(Sample::TwoPages);
    const QString book = u8("Book.pdf");
    const QString range = u8("page range outside the document (2 pages)");
    QTest::newRow("every page") << en << two << book << u8("") << u8("") << u8("Complete")
                                << QStringList{u8("Book-1.bmp"), u8("Book-2.jpg")} << u8("");
    QTest::newRow("from page 2") << en << two << book << u8("2") << u8("") << u8("Complete")
                                 << QStringList{u8("Book-2.jpg")} << u8("");
    QTest::newRow("backwards range") << en << two << book << u8("2") << u8("1") << u8("Complete")
                                     << QStringList{u8("Book-1.bmp"), u8("Book-2.jpg")} << u8("");
    QTest::newRow("past the last page") << en << two << book << u8("") << u8("3") << u8("Failure")
                                        << QStringList{} << range;
    QTest::newRow("huge page number") << en << two << book << u8("99999999999") << u8("")
                                      << u8("Failure") << QStringList{} << range;
    QTest::newRow("one page broken") << en << int(Sample::FirstPageBroken) << book << u8("") << u8("")
                                     << u8("Complete\n\nBut Partly") << QStringList{u8("Book-2.jpg")}
                                     << u8("1 of 2 pages could not be written");
    QTest::newRow("every page broken") << en << int(Sample::AllPagesBroken) << book << u8("") << u8("")
                                       << u8("Failure") << QStringList{} << u8("2 of 2 pages could not be written");
    QTest::newRow("no such file") << en << int(Sample::NoFile) << book << u8("") << u8("")
                                  << u8("Failure") << QStringList{} << u8("cannot be opened: no such file or folder");
    QTest::newRow("name in Japanese, upper-case extension")
        << en << two << u8("本 Book.PDF") << u8("") << u8("") << u8("Complete")
        << QStringList{u8("本 Book-1.bmp"), u8("本 Book-2.jpg")} << u8("");
    QTest::newRow("ja complete") << ja << two << book << u8("") << u8("") << u8("完了")
                                 << QStringList{u8("Book-1.bmp"), u8("Book-2.jpg")} << u8("");
    QTest::newRow("ja partly") << ja << int(Sample::FirstPageBroken) << book << u8("") << u8("")
                               << u8("完了\n\n但し抽出できなかったページがあります")
                               << QStringList{u8("Book-2.jpg")} << u8("1 / 2 ページを書き出せませんでした");
}

void WindowCommandsTest::extract()
{
    QFETCH(Language, language);
    QFETCH(int, sample);
    QFETCH(QString, pdfName);
    QFETCH(QString, first);
    QFETCH(QString, last);
    QFETCH(QString, message);
    QFETCH(QStringList, files);
    QFETCH(QString, reason);

    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString pdf = folder.filePath(pdfName);
    writeSample(Sample(sample), pdf);

    Recorder recorder;
    MainWindow window(language, QByteArray(), QByteArray(), recorder.seams());
    const Controls controls = controlsOf(window);
    controls.fileName->setText(pdf);
    controls.firstPage->setText(first);
    controls.lastPage->setText(last);
    const long long blocksBefore = ravoth::liveBlockCount();

    QTest::mouseClick(controls.extract, Qt::LeftButton);

    // The run goes on its own thread; the box comes once it has ended.
    QTRY_VERIFY(!window.isRunning());
    QCOMPARE(recorder.messages, QStringList{message});
    QCOMPARE(recorder.reasons, QStringList{reason});
    QCOMPARE(filesIn(folder.path(), pdfName), files);
    QCOMPARE(ravoth::liveBlockCount(), blocksBefore);
    QVERIFY(!QApplication::overrideCursor());
    // The fields keep what the user typed.
    QCOMPARE(controls.fileName->text(), pdf);
    QCOMPARE(controls.firstPage->text(), first);
}

void WindowCommandsTest::pageFieldErrors_data()
{
    QTest::addColumn<Language>("language");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("last");
    QTest::addColumn<QString>("message");

    const QString error = u8("Page Input Error");
    const QString name = u8("Book.pdf");
    QTest::newRow("lone 0 first") << Language::English << name << u8("0") << u8("") << error;
    QTest::newRow("lone 0 last") << Language::English << name << u8("1") << u8("0") << error;
    QTest::newRow("letter") << Language::English << name << u8("1a") << u8("") << error;
    QTest::newRow("full-width digit") << Language::English << name << u8("") << u8("２") << error;
    QTest::newRow("checked before the name")
        << Language::English << u8("") << u8("0") << u8("") << error;
    QTest::newRow("ja") << Language::Japanese << name << u8("x") << u8("")
                        << u8("ページの入力値に誤りがあります");
}

void WindowCommandsTest::pageFieldErrors()
{
    QFETCH(Language, language);
    QFETCH(QString, fileName);
    QFETCH(QString, first);
    QFETCH(QString, last);
    QFETCH(QString, message);

    QTemporaryDir folder;
    const QString pdf = fileName.isEmpty() ? QString() : folder.filePath(fileName);
    if (!pdf.isEmpty()) writeSample(Sample::TwoPages, pdf);

    Recorder recorder;
    MainWindow window(language, QByteArray(), QByteArray(), recorder.seams());
    const Controls controls = controlsOf(window);
    controls.fileName->setText(pdf);
    controls.firstPage->setText(first);
    controls.lastPage->setText(last);
    QTest::mouseClick(controls.extract, Qt::LeftButton);

    QCOMPARE(recorder.messages, QStringList{message});
    QCOMPARE(filesIn(folder.path(), fileName), QStringList{});
}

void WindowCommandsTest::emptyFileNameSaysNothing()
{
    Recorder recorder;
    MainWindow window(Language::English, QByteArray(), QByteArray(), recorder.seams());
    const Controls controls = controlsOf(window);
    controls.firstPage->setText(u8("1"));
    QTest::mouseClick(controls.extract, Qt::LeftButton);
    QCOMPARE(recorder.messages, QStringList{});
    QVERIFY(!window.isRunning());
    QVERIFY(controls.extract->isEnabled());
}

void WindowCommandsTest::outlineOptionFollowsCheckBox_data()
{
    QTest::addColumn<bool>("ticked");
    QTest::newRow("ticked") << true;
    QTest::newRow("not ticked") << false;
}

void WindowCommandsTest::outlineOptionFollowsCheckBox()
{
    QFETCH(bool, ticked);

    QTemporaryDir folder;
    const QString pdf = folder.filePath(u8("Book.pdf"));
    fixture::MeskerDocument document;
    document.pages = {fixture::flatePage(4, 3, 8, false, 1), fixture::dctPage(8, 8, false, 2)};
    document.outline = {{"(Cover)", fixture::destToPage(0), {}}};
    QVERIFY(fixture::writeFile(QFile::encodeName(pdf).toStdString(), fixture::buildMesker(document).bytes));
    Recorder recorder;
    MainWindow window(Language::English, QByteArray(), QByteArray(), recorder.seams());
    const Controls controls = controlsOf(window);
    controls.fileName->setText(pdf);
    if (ticked) QTest::mouseClick(controls.outline, Qt::LeftButton, {}, QPoint(6, 10));
    QCOMPARE(controls.outline->isChecked(), ticked);

    QTest::mouseClick(controls.extract, Qt::LeftButton);

    QTRY_VERIFY(!window.isRunning());
    QCOMPARE(recorder.messages, QStringList{u8("Complete")});
    const QStringList expected = ticked ? QStringList{u8("Book-2.jpg"), u8("Cover.bmp")}
                                        : QStringList{u8("Book-1.bmp"), u8("Book-2.jpg")};
    QCOMPARE(filesIn(folder.path(), u8("Book.pdf")), expected);
}

void WindowCommandsTest::drop_data()
{
    QTest::addColumn<Language>("language");
    QTest::addColumn<QStringList>("paths");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QString>("field");

    const QString before = u8("/before.pdf");
    const Language en = Language::English;
    QTest::newRow("one pdf") << en << QStringList{u8("/home/u/b.pdf")} << QStringList{}
                             << u8("/home/u/b.pdf");
    QTest::newRow("mixed case") << en << QStringList{u8("/home/u/b.Pdf")} << QStringList{}
                                << u8("/home/u/b.Pdf");
    QTest::newRow("two pdfs") << en << QStringList{u8("/home/u/b.pdf"), u8("/home/u/c d.pdf")}
                              << QStringList{} << u8("\"/home/u/b.pdf\" \"/home/u/c d.pdf\"");
    QTest::newRow("two files, first is not pdf")
        << en << QStringList{u8("/home/u/notes.txt"), u8("/home/u/c.pdf")}
        << QStringList{u8("Not PDF File\n\n/home/u/notes.txt")} << u8("/home/u/c.pdf");
    QTest::newRow("a folder and a pdf") << en << QStringList{QDir::tempPath(), u8("/home/u/b.pdf")}
                                        << QStringList{} << u8("/home/u/b.pdf");
    QTest::newRow("pdfx") << en << QStringList{u8("/home/u/b.pdfx")}
                          << QStringList{u8("Not PDF File\n\n/home/u/b.pdfx")} << before;
    QTest::newRow("folder") << en << QStringList{u8("/home/u")}
                            << QStringList{u8("Not PDF File\n\n/home/u")} << before;
    QTest::newRow("ja two files")
        << Language::Japanese << QStringList{u8("/home/u/本.pdf"), u8("/home/u/c.pdf")} << QStringList{}
        << u8("\"/home/u/本.pdf\" \"/home/u/c.pdf\"");
    QTest::newRow("ja not pdf")
        << Language::Japanese << QStringList{u8("/home/u/写真.jpg")}
        << QStringList{u8("ドラッグされたファイルはＰＤＦファイルではありません\n\n/home/u/写真.jpg")}
        << before;
}

void WindowCommandsTest::drop()
{
    QFETCH(Language, language);
    QFETCH(QStringList, paths);
    QFETCH(QStringList, messages);
    QFETCH(QString, field);

    Recorder recorder;
    MainWindow window(language, QByteArray(), QByteArray(), recorder.seams());
    const Controls controls = controlsOf(window);
    controls.fileName->setText(u8("/before.pdf"));
    QList<QUrl> urls;
    for (const QString& path : paths) urls.append(QUrl::fromLocalFile(path));

    QVERIFY(dragAndDrop(window, urls));

    QCOMPARE(recorder.messages, messages);
    QCOMPARE(controls.fileName->text(), field);
    // A folder that is there is the output folder; one that is not, nothing.
    const bool folderDropped = paths.contains(QDir::tempPath());
    QCOMPARE(window.choices().place == ravoth::OutputPlace::Folder, folderDropped);
    QCOMPARE(QString::fromStdString(window.choices().folder), folderDropped ? QDir::tempPath() : QString());
}

void WindowCommandsTest::browse_data()
{
    QTest::addColumn<Language>("language");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("field");

    QTest::newRow("English, chosen")
        << Language::English << u8("/x/a.pdf") << QString() << u8("/x/a.pdf");
    QTest::newRow("English, cancelled") << Language::English << QString() << QString() << u8("keep");
    QTest::newRow("Japanese, chosen") << Language::Japanese << u8("/x/本.pdf") << u8("ファイルを参照")
                                      << u8("/x/本.pdf");
}

void WindowCommandsTest::browse()
{
    QFETCH(Language, language);
    QFETCH(QString, answer);
    QFETCH(QString, title);
    QFETCH(QString, field);

    Recorder recorder;
    recorder.browseAnswer = answer;
    MainWindow window(language, QByteArray(), QByteArray(), recorder.seams());
    const Controls controls = controlsOf(window);
    controls.fileName->setText(u8("keep"));
    window.runCommand(ravoth::commandBrowse);

    QCOMPARE(recorder.browseCalls, 1);
    QCOMPARE(recorder.browseTitle, title);
    QCOMPARE(recorder.browseFilter, u8("pdf(*.pdf)"));
    QCOMPARE(controls.fileName->text(), field);
    QCOMPARE(recorder.messages, QStringList{});
}

void WindowCommandsTest::help_data()
{
    QTest::addColumn<Language>("language");
    // "work/NAME" or "installed/NAME"; a trailing "/" makes a folder of that name.
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QStringList>("refused");  // pages the desktop cannot open
    QTest::addColumn<QString>("opened");       // empty: none
    QTest::addColumn<QString>("message");

    const Language en = Language::English;
    const Language ja = Language::Japanese;
    const QString bothWork = u8("work/RavothE.htm,work/Ravoth.htm");
    auto list = [](const QString& text) { return text.split(u8(",")); };
    QTest::newRow("en own page")
        << en << list(bothWork) << QStringList{} << u8("work/RavothE.htm") << QString();
    QTest::newRow("en falls back to Japanese page")
        << en << list(u8("work/Ravoth.htm")) << QStringList{} << u8("work/Ravoth.htm") << QString();
    QTest::newRow("en page cannot be opened")
        << en << list(bothWork) << list(u8("work/RavothE.htm")) << u8("work/Ravoth.htm") << QString();
    QTest::newRow("en installed page")
        << en << list(u8("installed/RavothE.htm,installed/Ravoth.htm")) << QStringList{}
        << u8("installed/RavothE.htm") << QString();
    QTest::newRow("en working folder before installed")
        << en << list(u8("work/Ravoth.htm,installed/RavothE.htm")) << QStringList{}
        << u8("work/Ravoth.htm") << QString();
    QTest::newRow("en folder named like the page")
        << en << list(u8("work/RavothE.htm/,work/Ravoth.htm")) << QStringList{} << u8("work/Ravoth.htm")
        << QString();
    QTest::newRow("en none")
        << en << QStringList{} << QStringList{} << QString() << u8("Can't Find Help File");
    // A page that is there but that nothing opens is named, never called missing.
    QTest::newRow("en none opens") << en << list(u8("work/RavothE.htm")) << list(u8("work/RavothE.htm"))
                                   << QString() << u8("Can't Open Help File\n\n%root/work/RavothE.htm");
    QTest::newRow("en none of three opens, the first is named")
        << en << list(u8("work/Ravoth.htm,installed/RavothE.htm,installed/Ravoth.htm"))
        << list(u8("work/Ravoth.htm,installed/RavothE.htm,installed/Ravoth.htm")) << QString()
        << u8("Can't Open Help File\n\n%root/work/Ravoth.htm");
    QTest::newRow("ja none opens")
        << ja << list(u8("installed/Ravoth.htm")) << list(u8("installed/Ravoth.htm")) << QString()
        << u8("ヘルプファイルを開くプログラムがありません\n\n%root/installed/Ravoth.htm");
    QTest::newRow("ja own page")
        << ja << list(bothWork) << QStringList{} << u8("work/Ravoth.htm") << QString();
    QTest::newRow("ja never the English page")
        << ja << list(u8("work/RavothE.htm")) << QStringList{} << QString()
        << u8("ヘルプファイルの起動に失敗しました");
    QTest::newRow("ja installed page")
        << ja << list(u8("work/RavothE.htm,installed/Ravoth.htm")) << QStringList{}
        << u8("installed/Ravoth.htm") << QString();
}

void WindowCommandsTest::help()
{
    QFETCH(Language, language);
    QFETCH(QStringList, present);
    QFETCH(QStringList, refused);
    QFETCH(QString, opened);
    QFETCH(QString, message);

    QTemporaryDir root;
    QVERIFY(root.isValid());
    QVERIFY(QDir(root.path()).mkpath(u8("work")));
    QVERIFY(QDir(root.path()).mkpath(u8("installed")));
    for (const QString& item : present) {
        if (item.endsWith(u8("/"))) {
            QVERIFY(QDir(root.path()).mkpath(item));
            continue;
        }
        QFile page(root.filePath(item));
        QVERIFY(page.open(QIODevice::WriteOnly));
        page.write("<html></html>");
    }

    Recorder recorder;
    for (const QString& item : refused) recorder.helpPagesRefused.append(root.filePath(item));
    MainWindow window(language, QFile::encodeName(root.filePath(u8("work"))),
                      QFile::encodeName(root.filePath(u8("installed"))), recorder.seams());
    window.runCommand(ravoth::commandHelp);

    QCOMPARE(recorder.helpPagesOpened,
             opened.isEmpty() ? QStringList{} : QStringList{root.filePath(opened)});
    QCOMPARE(recorder.messages, message.isEmpty()
                                    ? QStringList{}
                                    : QStringList{QString(message).replace(u8("%root"), root.path())});
}

void WindowCommandsTest::helpRefusedAfterItStarted()
{
    QTemporaryDir root;
    QVERIFY(root.isValid());
    QVERIFY(QDir(root.path()).mkpath(u8("work")));
    const QString page = root.filePath(u8("work/RavothE.htm"));
    QFile pageFile(page);
    QVERIFY(pageFile.open(QIODevice::WriteOnly));
    pageFile.close();
    Recorder recorder;
    recorder.helpPagesRefusedLater = QStringList{page};

    MainWindow window(Language::English, QFile::encodeName(root.filePath(u8("work"))), QByteArray(),
                      recorder.seams());
    window.runCommand(ravoth::commandHelp);
    QCOMPARE(recorder.messages, QStringList{});
    QTRY_COMPARE(recorder.messages, QStringList{u8("Can't Open Help File\n\n") + page});

    // The opener may answer after the window has gone; nothing is left to tell.
    recorder.messages.clear();
    auto* closed = new MainWindow(Language::English, QFile::encodeName(root.filePath(u8("work"))),
                                  QByteArray(), recorder.seams());
    closed->runCommand(ravoth::commandHelp);
    delete closed;
    QTest::qWait(20);
    QCOMPARE(recorder.messages, QStringList{});
}

QTEST_MAIN(WindowCommandsTest)
#include "tst_window_commands.moc"
