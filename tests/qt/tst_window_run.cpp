// A run as the window shows it: on a thread of its own, with its progress,
// a Cancel button, and a window that goes on answering meanwhile.
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "app/qt/main_window.h"
#include "app/window_logic.h"
#include "tests/fixture/general_pdf.h"
#include "tests/fixture/pdf_builder.h"
#include "tests/qt/recording_seams.h"

using ravoth::Language;
using ravoth::MainWindow;
using ravoth::testing::Recorder;
namespace fixture = ravoth::fixture;

namespace {

QString u8(const char* text)
{
    return QString::fromUtf8(text);
}

// A document slow enough to watch: many pages of large JPEG streams (their
// bytes are only copied, so they need not be pictures).
struct SlowDocument {
    fixture::BuiltPdf built;
    int pages = 0;
};

SlowDocument slowDocument(int pages, std::size_t pageBytes)
{
    fixture::MeskerDocument document;
    for (int k = 0; k < pages; ++k) {
        fixture::MeskerPage page;
        page.filter = fixture::PageFilter::DCT;
        page.width = 100;
        page.height = 100;
        page.data = std::string(pageBytes, static_cast<char>('A' + k % 26));
        page.data[0] = static_cast<char>(k);
        document.pages.push_back(std::move(page));
    }
    return {fixture::buildMesker(document), pages};
}

// Every page takes a few milliseconds more, so that a run lasts long enough
// to be watched and stopped however fast the machine is; `also` then runs on
// the run's thread (may be empty).
ravoth::WindowSeams slowSeams(Recorder& recorder, std::function<void()> also)
{
    ravoth::WindowSeams seams = recorder.seams();
    seams.pageDone = [also = std::move(also)] {
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
        if (also) also();
    };
    return seams;
}

struct RunWindow {
    Recorder recorder;
    MainWindow window;
    QProgressBar* progress;
    QPushButton* cancel;
    QLineEdit* fileName;
    QPushButton* extract;

    explicit RunWindow(Language language, std::function<void()> pageDone = {})
        : window(language, QByteArray(), QByteArray(), slowSeams(recorder, std::move(pageDone))),
          progress(window.findChild<QProgressBar*>()),
          cancel(nullptr),
          fileName(window.findChild<QLineEdit*>()),
          extract(nullptr)
    {
        for (QPushButton* button : window.findChildren<QPushButton*>()) {
            if (button->property("controlId").toInt() == ravoth::commandExtract) extract = button;
            if (button->parentWidget() == progress->parentWidget()) cancel = button;
        }
    }

    // Writes the document as Book.pdf in `folder`, names it in the window and
    // shows the window; false when the file cannot be written.
    bool open(const QTemporaryDir& folder, const SlowDocument& document)
    {
        const QString pdf = folder.filePath(u8("Book.pdf"));
        if (!fixture::writeFile(QFile::encodeName(pdf).toStdString(), document.built.bytes)) return false;
        fileName->setText(pdf);
        window.show();
        return true;
    }
};

// Every file in the folder but the PDF: each must be a page's whole stream
// under its page's name; nothing else may be left.
int checkWholeFiles(const QString& folder, const SlowDocument& document)
{
    int whole = 0;
    for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden)) {
        if (name == u8("Book.pdf")) continue;
        if (!name.startsWith(u8("Book-"))) {
            qWarning() << "left behind:" << name;
            return -1;
        }
        const int page = name.mid(5, name.indexOf(u8(".")) - 5).toInt();
        QFile file(QDir(folder).filePath(name));
        if (!file.open(QIODevice::ReadOnly) ||
            file.readAll().toStdString() != document.built.imageStreams[static_cast<std::size_t>(page - 1)]) {
            qWarning() << "not whole:" << name;
            return -1;
        }
        ++whole;
    }
    return whole;
}

}  // namespace

class WindowRunTest : public QObject {
    Q_OBJECT

private slots:
    void progressInPageOrderWhileTheWindowAnswers();
    void cancelKeepsWholeFilesAndSaysSo_data();
    void cancelKeepsWholeFilesAndSaysSo();
    void closingStopsTheRunAndWaitsForIt();
    void closingWaitsWithTheEventLoopTurning();
    void anotherProducersDocumentIsExtractedAnyway_data();
    void anotherProducersDocumentIsExtractedAnyway();
};

void WindowRunTest::progressInPageOrderWhileTheWindowAnswers()
{
    QTemporaryDir folder;
    const SlowDocument document = slowDocument(300, 4000);
    RunWindow w(Language::English);
    QVERIFY(w.open(folder, document));

    QList<int> values;
    connect(w.progress, &QProgressBar::valueChanged, this, [&](int value) { values.append(value); });
    int ticksWhileRunning = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, [&] { ticksWhileRunning += w.window.isRunning() ? 1 : 0; });
    ticker.start(1);

    QTest::mouseClick(w.extract, Qt::LeftButton);
    QVERIFY(w.window.isRunning());
    // Nothing else may start or be changed meanwhile.
    QVERIFY(!w.extract->isEnabled());
    QVERIFY(!w.fileName->isEnabled());
    QVERIFY(!w.window.acceptDrops());
    QVERIFY(w.progress->isVisible());
    QCOMPARE(w.progress->format(), u8("page %v of %m"));
    QTRY_VERIFY_WITH_TIMEOUT(!w.window.isRunning(), 60000);

    QCOMPARE(w.recorder.messages, QStringList{u8("Complete")});
    QVERIFY(!values.isEmpty());
    QCOMPARE(values.last(), document.pages);
    QCOMPARE(w.progress->maximum(), document.pages);
    for (int i = 1; i < values.size(); ++i) QVERIFY2(values[i] > values[i - 1], "progress out of page order");
    // The window handled its events while the pages went by.
    QVERIFY(ticksWhileRunning > 1);
    QVERIFY(w.extract->isEnabled());
    QVERIFY(!w.progress->isVisible());
    QCOMPARE(checkWholeFiles(folder.path(), document), document.pages);
}

void WindowRunTest::cancelKeepsWholeFilesAndSaysSo_data()
{
    QTest::addColumn<Language>("language");
    QTest::addColumn<bool>("byEscape");
    QTest::addColumn<QString>("message");
    QTest::newRow("English, Cancel") << Language::English << false << u8("Cancelled");
    QTest::newRow("Japanese, Esc") << Language::Japanese << true << u8("中止しました");
}

void WindowRunTest::cancelKeepsWholeFilesAndSaysSo()
{
    QFETCH(Language, language);
    QFETCH(bool, byEscape);
    QFETCH(QString, message);

    QTemporaryDir folder;
    const SlowDocument document = slowDocument(300, 20000);
    RunWindow w(language);
    QVERIFY(w.open(folder, document));
    bool cancelled = false;
    connect(w.progress, &QProgressBar::valueChanged, this, [&](int value) {
        if (value < 3 || cancelled) return;
        cancelled = true;
        if (byEscape)
            QTest::keyClick(&w.window, Qt::Key_Escape);
        else
            QTest::mouseClick(w.cancel, Qt::LeftButton);
    });

    QTest::mouseClick(w.extract, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!w.window.isRunning(), 60000);

    QVERIFY(cancelled);
    QCOMPARE(w.recorder.messages, QStringList{message});
    const int whole = checkWholeFiles(folder.path(), document);
    QVERIFY(whole >= 3);
    QVERIFY2(whole < document.pages, "the run went on to the end");
}

void WindowRunTest::closingStopsTheRunAndWaitsForIt()
{
    QTemporaryDir folder;
    const SlowDocument document = slowDocument(300, 20000);
    RunWindow w(Language::English);
    QVERIFY(w.open(folder, document));
    QTest::mouseClick(w.extract, Qt::LeftButton);
    QTRY_VERIFY(w.progress->value() >= 1);

    w.window.runCommand(ravoth::commandExit);

    // close() came back only once the run had stopped.
    QVERIFY(!w.window.isRunning());
    QVERIFY(!w.window.isVisible());
    QCOMPARE(w.recorder.messages, QStringList{});
    const int whole = checkWholeFiles(folder.path(), document);
    QVERIFY(whole >= 1);
    QVERIFY(whole < document.pages);
}

void WindowRunTest::closingWaitsWithTheEventLoopTurning()
{
    QTemporaryDir folder;
    const SlowDocument document = slowDocument(300, 20000);
    // Once `hold` is set the run waits after its page until the window has
    // handled an event during the close; ten seconds at most, for a window
    // that handles none.
    std::atomic<bool> hold{false};
    std::atomic<bool> held{false};
    RunWindow w(Language::English, [&] {
        if (!hold.load()) return;
        held.store(true);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (hold.load() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    QVERIFY(w.open(folder, document));
    QTest::mouseClick(w.extract, Qt::LeftButton);
    hold.store(true);
    QTRY_VERIFY(held.load());
    bool handledWhileRunning = false;
    QTimer::singleShot(0, &w.window, [&] {
        handledWhileRunning = w.window.isRunning();
        hold.store(false);
    });

    w.window.runCommand(ravoth::commandExit);

    QVERIFY(handledWhileRunning);
    QVERIFY(!w.window.isRunning());
    QVERIFY(!w.window.isVisible());
}

QTEST_MAIN(WindowRunTest)
// A document of another producer's layout is refused with a box that offers
// the general reader; choosing it runs the same file again that way.
void WindowRunTest::anotherProducersDocumentIsExtractedAnyway_data()
{
    QTest::addColumn<bool>("anyway");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QStringList>("files");
    QTest::newRow("OK") << false << QStringList{u8("Failure")} << QStringList{u8("Book.pdf")};
    QTest::newRow("Extract anyway") << true << QStringList{u8("Failure"), u8("Complete")}
                                    << QStringList{u8("Book-1.bmp"), u8("Book.pdf")};
}

void WindowRunTest::anotherProducersDocumentIsExtractedAnyway()
{
    QFETCH(bool, anyway);
    QFETCH(QStringList, messages);
    QFETCH(QStringList, files);
    QTemporaryDir folder;
    ravoth::testing::DocumentPlan plan;
    plan.pages.push_back({{{"/Width 1 /Height 1 /ColorSpace /DeviceGray /BitsPerComponent 8", "\x7F", "", ""}}});
    const QString pdf = folder.filePath(u8("Book.pdf"));
    QVERIFY(ravoth::testing::writeGeneralPdf(plan, QFile::encodeName(pdf).toStdString()));
    RunWindow w(Language::English);
    w.recorder.answerAnyway = anyway;
    w.fileName->setText(pdf);
    w.window.show();
    QTest::mouseClick(w.extract, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(w.recorder.messages.size(), messages.size(), 30000);
    QTRY_VERIFY_WITH_TIMEOUT(!w.window.isRunning(), 30000);
    QCOMPARE(w.recorder.messages, messages);
    QCOMPARE(w.recorder.offeredButtons, QStringList{u8("Extract anyway")});
    QCOMPARE(w.recorder.reasons.first(), u8("not a PDF made by Mesker, Tolvin or Dravel"));
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files), files);
}

#include "tst_window_run.moc"
