// The window's output choices and batches of documents, end to end: what
// each choice writes, a batch with a bad document, a batch cancelled half
// way, and the choices kept between starts.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>
#include <chrono>
#include <thread>

#include "app/qt/main_window.h"
#include "app/window_choices.h"
#include "tests/fixture/general_pdf.h"
#include "tests/fixture/pdf_builder.h"
#include "tests/qt/recording_seams.h"

using ravoth::Language;
using ravoth::MainWindow;
using ravoth::OutputPlace;
using ravoth::WindowChoices;
using ravoth::WindowFormat;
using ravoth::testing::Recorder;
namespace fixture = ravoth::fixture;

Q_DECLARE_METATYPE(ravoth::WindowChoices)

namespace {

QString u8(const char* text)
{
    return QString::fromUtf8(text);
}

// A Flate page and a JPEG page in Mesker's layout; with `pages` more, slow
// JPEG pages to watch a run go by.
std::string meskerBytes(int slowPages = 0)
{
    fixture::MeskerDocument document;
    document.pages = {fixture::flatePage(4, 3, 8, false, 1), fixture::dctPage(8, 8, false, 2)};
    for (int k = 0; k < slowPages; ++k) document.pages.push_back(fixture::dctPage(8, 8, false, 3 + k));
    return fixture::buildMesker(document).bytes;
}

std::string generalBytes()
{
    ravoth::testing::DocumentPlan plan;
    plan.pages.push_back({{{"/Width 1 /Height 1 /ColorSpace /DeviceGray /BitsPerComponent 8", "\x7F", "", ""}}});
    return ravoth::testing::generalPdfBytes(plan);
}

bool write(const QString& path, const std::string& bytes)
{
    return fixture::writeFile(QFile::encodeName(path).toStdString(), bytes);
}

// Every file under `folder` but the PDFs, as paths relative to it, sorted.
QStringList filesUnder(const QString& folder)
{
    QStringList files;
    for (QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();) {
        const QString path = QDir(folder).relativeFilePath(it.next());
        if (!path.endsWith(u8(".pdf"))) files.append(path);
    }
    files.sort();
    return files;
}

struct BatchWindow {
    Recorder recorder;
    MainWindow window;

    BatchWindow(Language language, const WindowChoices& stored, std::function<void()> pageDone = {})
        : recorder(withStored(stored)), window(language, QByteArray(), QByteArray(), seams(std::move(pageDone)))
    {
    }

    static Recorder withStored(const WindowChoices& stored)
    {
        Recorder recorder;
        recorder.storedChoices = stored;
        return recorder;
    }

    ravoth::WindowSeams seams(std::function<void()> pageDone)
    {
        ravoth::WindowSeams seams = recorder.seams();
        seams.pageDone = std::move(pageDone);
        return seams;
    }

    template <typename Widget>
    Widget* control(int id)
    {
        for (Widget* widget : window.findChildren<Widget*>())
            if (widget->property("controlId").toInt() == id) return widget;
        return nullptr;
    }

    void extract(const QString& field)
    {
        control<QLineEdit>(ravoth::idFileNameEdit)->setText(field);
        window.show();
        window.runCommand(ravoth::commandExtract);
    }
};

}  // namespace

class WindowBatchTest : public QObject {
    Q_OBJECT

private slots:
    void choicesDecideTheFilesWritten_data();
    void choicesDecideTheFilesWritten();
    void aBadDocumentInTheMiddleIsNamed();
    void cancelStopsTheWholeBatch();
    void choicesAreKeptBetweenStarts();
};

void WindowBatchTest::choicesDecideTheFilesWritten_data()
{
    QTest::addColumn<WindowChoices>("choices");
    QTest::addColumn<bool>("general");  // the document is another producer's
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("messages");

    const auto choices = [](OutputPlace place, WindowFormat format, bool anyProducer = false) {
        WindowChoices c;
        c.place = place;
        c.folder = place == OutputPlace::Folder ? "out/new" : "";
        c.format = format;
        c.anyProducer = anyProducer;
        return c;
    };
    const QStringList complete{u8("Complete")};
    const auto beside = OutputPlace::BesidePdf;
    const auto folder = OutputPlace::Folder;
    QTest::newRow("beside, BMP") << choices(beside, WindowFormat::Bmp) << false
                                 << QStringList{u8("Book-1.bmp"), u8("Book-2.jpg")} << complete;
    QTest::newRow("beside, PNG") << choices(beside, WindowFormat::Png) << false
                                 << QStringList{u8("Book-1.png"), u8("Book-2.jpg")} << complete;
    QTest::newRow("folder, TIFF") << choices(folder, WindowFormat::Tiff) << false
                                  << QStringList{u8("out/new/Book-1.tif"), u8("out/new/Book-2.jpg")} << complete;
    QTest::newRow("folder, CBZ") << choices(folder, WindowFormat::Cbz) << false
                                 << QStringList{u8("out/new/Book.cbz")} << complete;
    QTest::newRow("beside, CBZ") << choices(beside, WindowFormat::Cbz) << false << QStringList{u8("Book.cbz")}
                                 << complete;
    QTest::newRow("any producer, folder, PNG")
        << choices(folder, WindowFormat::Png, true) << true << QStringList{u8("out/new/Book-1.png")} << complete;
    QTest::newRow("any producer off") << choices(beside, WindowFormat::Bmp) << true << QStringList{}
                                      << QStringList{u8("Failure")};
}

void WindowBatchTest::choicesDecideTheFilesWritten()
{
    QFETCH(WindowChoices, choices);
    QFETCH(bool, general);
    QFETCH(QStringList, files);
    QFETCH(QStringList, messages);

    QTemporaryDir folder;
    QVERIFY(write(folder.filePath(u8("Book.pdf")), general ? generalBytes() : meskerBytes()));
    // A folder is given as typed: from the working folder.
    QVERIFY(QDir::setCurrent(folder.path()));
    BatchWindow w(Language::English, choices);
    QCOMPARE(w.window.choices(), choices);

    w.extract(folder.filePath(u8("Book.pdf")));
    QTRY_COMPARE_WITH_TIMEOUT(w.recorder.messages.size(), messages.size(), 30000);
    QTRY_VERIFY(!w.window.isRunning());

    QCOMPARE(w.recorder.messages, messages);
    QCOMPARE(filesUnder(folder.path()), files);
    // Only a refused document is offered the general reader.
    QCOMPARE(w.recorder.offeredButtons.size(), general && !choices.anyProducer ? 1 : 0);
}

void WindowBatchTest::aBadDocumentInTheMiddleIsNamed()
{
    QTemporaryDir folder;
    const QString a = folder.filePath(u8("a.pdf")), b = folder.filePath(u8("b.pdf")),
                  c = folder.filePath(u8("c.pdf"));
    QVERIFY(write(a, meskerBytes()));
    QVERIFY(write(b, "%PDF-1.4 nothing more"));
    QVERIFY(write(c, meskerBytes()));
    BatchWindow w(Language::English, WindowChoices{});
    QStringList formats;
    auto* progress = w.window.findChild<QProgressBar*>();
    connect(progress, &QProgressBar::valueChanged, this, [&] {
        if (!formats.contains(progress->format())) formats.append(progress->format());
    });

    w.extract(QStringLiteral("\"%1\" \"%2\" \"%3\"").arg(a, b, c));
    QTRY_VERIFY_WITH_TIMEOUT(!w.window.isRunning(), 30000);

    QCOMPARE(w.recorder.messages, QStringList{u8("Complete\n\nBut Partly")});
    QCOMPARE(w.recorder.reasons, QStringList{b + u8(": damaged cross-reference table")});
    QCOMPARE(filesUnder(folder.path()),
             (QStringList{u8("a-1.bmp"), u8("a-2.jpg"), u8("c-1.bmp"), u8("c-2.jpg")}));
    QCOMPARE(formats.first(), u8("document 1 of 3, page %v of %m"));
    QCOMPARE(formats.last(), u8("document 3 of 3, page %v of %m"));
}

void WindowBatchTest::cancelStopsTheWholeBatch()
{
    QTemporaryDir folder;
    QStringList paths;
    for (const char* name : {"a.pdf", "b.pdf", "c.pdf"}) {
        paths.append(folder.filePath(u8(name)));
        QVERIFY(write(paths.last(), meskerBytes(300)));
    }
    BatchWindow w(Language::Japanese, WindowChoices{}, [] { std::this_thread::sleep_for(std::chrono::milliseconds(2)); });
    auto* progress = w.window.findChild<QProgressBar*>();
    QPushButton* cancel = nullptr;
    for (auto* button : w.window.findChildren<QPushButton*>())
        if (button->parentWidget() == progress->parentWidget()) cancel = button;
    bool cancelled = false;
    connect(progress, &QProgressBar::valueChanged, this, [&](int value) {
        if (cancelled || value < 3 || !progress->format().startsWith(u8("3 件中 2 件目"))) return;
        cancelled = true;
        QTest::mouseClick(cancel, Qt::LeftButton);
    });

    w.extract(QStringLiteral("\"%1\" \"%2\" \"%3\"").arg(paths[0], paths[1], paths[2]));
    QTRY_VERIFY_WITH_TIMEOUT(!w.window.isRunning(), 60000);

    QVERIFY(cancelled);
    QCOMPARE(w.recorder.messages, QStringList{u8("中止しました")});
    const QStringList reasons = w.recorder.reasons.value(0).split(u8("\n"));
    QCOMPARE(reasons.size(), 2);
    QVERIFY2(reasons[0].startsWith(paths[1] + u8(": 中断されました。")), qPrintable(reasons[0]));
    QCOMPARE(reasons[1], paths[2] + u8(": 中止したため抽出していません"));
    int first = 0, second = 0, third = 0;
    for (const QString& file : filesUnder(folder.path())) {
        first += file.startsWith(u8("a-"));
        second += file.startsWith(u8("b-"));
        third += file.startsWith(u8("c-"));
    }
    QCOMPARE(first, 302);
    QVERIFY(second >= 3 && second < 302);
    QCOMPARE(third, 0);
}

void WindowBatchTest::choicesAreKeptBetweenStarts()
{
    // The window saves what it shows as a run starts and as it closes.
    WindowChoices choices;
    choices.place = OutputPlace::Folder;
    choices.folder = "/tmp/\xE6\x9C\xAC";
    choices.format = WindowFormat::Tiff;
    choices.anyProducer = true;
    BatchWindow w(Language::English, WindowChoices{});
    w.control<QRadioButton>(ravoth::idOutputFolderRadio)->setChecked(true);
    w.control<QLineEdit>(ravoth::idOutputFolderEdit)->setText(u8("/tmp/本"));
    w.control<QComboBox>(ravoth::idFormatList)->setCurrentIndex(2);
    w.control<QCheckBox>(ravoth::idAnyProducerCheckBox)->setChecked(true);
    w.window.show();
    w.window.close();
    QCOMPARE(w.recorder.storedChoices, std::optional<WindowChoices>(choices));

    // The desktop's store, in a folder of the test's own.
    QTemporaryDir home;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, home.path());
    const ravoth::WindowSeams desktop = ravoth::desktopSeams();
    QCOMPARE(desktop.loadChoices(), WindowChoices{});
    desktop.saveChoices(choices);
    QCOMPARE(desktop.loadChoices(), choices);
}

QTEST_MAIN(WindowBatchTest)
#include "tst_window_batch.moc"
