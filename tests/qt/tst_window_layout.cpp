// The window as built: its controls, menus, size and accelerators.
#include <QAbstractButton>
#include <QAccessible>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QTimer>
#include <QtTest>

#include "app/qt/main_window.h"
#include "app/window_logic.h"
#include "tests/qt/recording_seams.h"

using ravoth::Language;
using ravoth::MainWindow;
using ravoth::testing::Recorder;

Q_DECLARE_METATYPE(ravoth::Language)

namespace {

QString u8(const char* text)
{
    return QString::fromUtf8(text);
}

// The controls a window shows when no run goes on (a run's progress and
// its Cancel button stand hidden until then).
QList<QWidget*> controlsOf(MainWindow& window)
{
    QList<QWidget*> shown;
    for (QWidget* child : window.centralWidget()->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        if (!child->isHidden()) shown.append(child);
    return shown;
}

QString textOf(QWidget* control)
{
    if (auto* label = qobject_cast<QLabel*>(control)) return label->text();
    if (auto* edit = qobject_cast<QLineEdit*>(control)) return edit->text();
    if (auto* button = qobject_cast<QAbstractButton*>(control)) return button->text();
    if (auto* list = qobject_cast<QComboBox*>(control)) return list->currentText();
    return QStringLiteral("<unknown control>");
}

// A menu as "text|text|-|text", separators as "-".
QString describe(const QList<QAction*>& actions)
{
    QStringList parts;
    for (QAction* action : actions)
        parts.append(action->isSeparator() ? QStringLiteral("-") : action->text());
    return parts.join(QLatin1Char('|'));
}

// On X11 desktops a line edit takes Ctrl+E (end of line) for itself before
// any shortcut sees it; the offscreen platform's edits do not. This plays
// that edit's part, so the window must still win the key here.
class ClaimsCtrlE : public QObject {
protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        const QKeyCombination ctrlE(Qt::ControlModifier, Qt::Key_E);
        if (event->type() == QEvent::ShortcutOverride &&
            static_cast<QKeyEvent*>(event)->keyCombination() == ctrlE)
            event->accept();
        return false;
    }
};

}  // namespace

class WindowLayoutTest : public QObject {
    Q_OBJECT

private slots:
    void controls_data();
    void controls();
    void menus_data();
    void menus();
    void fixedSizeCaptionAndFont_data();
    void fixedSizeCaptionAndFont();
    void accelerators_data();
    void accelerators();
    void menuCommands_data();
    void menuCommands();
    void messageBoxHasCaptionOkAndNoIcon();
    void everyInputIsNamedAndReachedByKey();
    void altKeysReachTheOutputChoices_data();
    void altKeysReachTheOutputChoices();
};

void WindowLayoutTest::controls_data()
{
    QTest::addColumn<Language>("language");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<int>("id");

    struct Row {
        const char* className;
        const char* english;
        const char* japanese;
        QRect geometry;
        int id;
    };
    const Row rows[] = {
        {"QLabel", "File Name", "ファイル名", QRect(14, 14, 80, 20), -1},
        {"QLineEdit", "", "", QRect(94, 12, 230, 19), 1000},
        {"QPushButton", "Ref", "参照", QRect(334, 10, 50, 25), 2020},
        {"QLabel", "Page", "ページ", QRect(14, 45, 100, 20), -1},
        {"QLineEdit", "", "", QRect(94, 43, 50, 19), 1010},
        {"QLabel", "-", "-", QRect(150, 45, 20, 12), -1},
        {"QLineEdit", "", "", QRect(162, 43, 50, 19), 1020},
        {"QCheckBox", "Outline to File Name", "しおりをファイル名に", QRect(94, 72, 250, 20), 1030},
        {"QLabel", "* You can drag PDF File into this window",
         "※このウィンドウにファイルをドラッグしても\n  ファイル名の入力が可能です", QRect(60, 102, 260, 28), -1},
        {"QPushButton", "Extract", "BMP/JPG抽出", QRect(90, 136, 88, 25), 2030},
        {"QPushButton", "End", "終了", QRect(230, 136, 88, 25), 2010},
        {"QRadioButton", "Files &beside the PDF", "PDF と同じ場所にファイル(&B)", QRect(14, 172, 300, 20), 1050},
        {"QRadioButton", "F&older", "フォルダー(&O)", QRect(14, 196, 96, 20), 1060},
        {"QLabel", "Output folder", "出力フォルダー", QRect(112, 196, 0, 0), -1},
        {"QLineEdit", "", "", QRect(112, 196, 212, 19), 1070},
        {"QPushButton", "Bro&wse", "選択(&W)", QRect(334, 194, 50, 25), 2070},
        {"QLabel", "Forma&t", "形式(&T)", QRect(14, 228, 78, 20), -1},
        {"QComboBox", "BMP", "BMP", QRect(94, 225, 150, 22), 1080},
        {"QCheckBox", "Read PDFs of &any producer", "どの作成元の PDF も読む(&A)", QRect(14, 254, 370, 20), 1040},
    };
    int index = 0;
    for (const Row& row : rows) {
        QTest::addRow("en %d %s", index, row.className)
            << Language::English << index << u8(row.className) << u8(row.english)
            << row.geometry << row.id;
        QTest::addRow("ja %d %s", index, row.className)
            << Language::Japanese << index << u8(row.className) << u8(row.japanese)
            << row.geometry << row.id;
        ++index;
    }
}

void WindowLayoutTest::controls()
{
    QFETCH(Language, language);
    QFETCH(int, index);
    QFETCH(QString, className);
    QFETCH(QString, text);
    QFETCH(QRect, geometry);
    QFETCH(int, id);

    Recorder recorder;
    MainWindow window(language, QByteArray(), QByteArray(), recorder.seams());
    const QList<QWidget*> controls = controlsOf(window);
    QCOMPARE(controls.size(), 19);
    QWidget* control = controls.at(index);
    QCOMPARE(QString::fromLatin1(control->metaObject()->className()), className);
    QCOMPARE(textOf(control), text);
    QCOMPARE(control->geometry(), geometry);
    QCOMPARE(control->property("controlId").toInt(), id);
    // With nothing stored, the first version's choices: only "beside" is on.
    if (auto* checkBox = qobject_cast<QAbstractButton*>(control); checkBox && checkBox->isCheckable())
        QCOMPARE(checkBox->isChecked(), id == 1050);
}

void WindowLayoutTest::menus_data()
{
    QTest::addColumn<Language>("language");
    QTest::addColumn<QString>("bar");
    QTest::addColumn<QString>("fileMenu");
    QTest::addColumn<QString>("helpMenu");

    QTest::newRow("English") << Language::English << u8("&File|&Extract|&Help")
                             << u8("&Ref|-|E&xit\tCtrl+E") << u8("&Help\tF1|-|&About Ravoth");
    QTest::newRow("Japanese") << Language::Japanese << u8("ファイル(&F)|BMP/JPG抽出(&E)|ヘルプ(&H)")
                              << u8("参照(&R)|-|終了(&X)\tCtrl+E")
                              << u8("ヘルプを読む(&H)\tF1|-|バージョン情報(&A)");
}

void WindowLayoutTest::menus()
{
    QFETCH(Language, language);
    QFETCH(QString, bar);
    QFETCH(QString, fileMenu);
    QFETCH(QString, helpMenu);

    Recorder recorder;
    MainWindow window(language, QByteArray(), QByteArray(), recorder.seams());
    const QList<QAction*> barActions = window.menuBar()->actions();
    QCOMPARE(describe(barActions), bar);
    QVERIFY(barActions.at(0)->menu());
    QVERIFY(!barActions.at(1)->menu());
    QVERIFY(barActions.at(2)->menu());
    QCOMPARE(describe(barActions.at(0)->menu()->actions()), fileMenu);
    QCOMPARE(describe(barActions.at(2)->menu()->actions()), helpMenu);
    // The menus show the shortcut text only; the keys belong to the window.
    for (QAction* action : barActions.at(0)->menu()->actions()) QVERIFY(action->shortcut().isEmpty());
}

void WindowLayoutTest::fixedSizeCaptionAndFont_data()
{
    QTest::addColumn<Language>("language");
    QTest::addColumn<QString>("family");
    QTest::newRow("English") << Language::English << QString();
    QTest::newRow("Japanese") << Language::Japanese << u8("ＭＳ Ｐ ゴシック");
}

void WindowLayoutTest::fixedSizeCaptionAndFont()
{
    QFETCH(Language, language);
    QFETCH(QString, family);

    Recorder recorder;
    MainWindow window(language, QByteArray(), QByteArray(), recorder.seams());
    QCOMPARE(window.windowTitle(), u8("Ravoth"));
    QCOMPARE(window.minimumSize(), window.maximumSize());
    QCOMPARE(window.centralWidget()->size(), QSize(392, 282));
    QCOMPARE(window.width(), 392);
    QCOMPARE(window.height(), 282 + window.menuBar()->sizeHint().height());
    const Qt::WindowFlags flags = window.windowFlags();
    QVERIFY(flags & Qt::WindowMinimizeButtonHint);
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
    const QList<QSize> iconSizes{{16, 16}, {32, 32}, {48, 48}, {64, 64}, {128, 128}, {256, 256}};
    QCOMPARE(window.windowIcon().availableSizes(), iconSizes);
    QVERIFY(window.acceptDrops());
    for (QWidget* control : controlsOf(window)) {
        QCOMPARE(control->font().pixelSize(), 12);
        QCOMPARE(control->font().weight(), QFont::Normal);
        if (!family.isEmpty()) QCOMPARE(control->font().family(), family);
    }
}

void WindowLayoutTest::accelerators_data()
{
    QTest::addColumn<int>("focusIndex");  // control that has the focus
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("effect");

    const struct {
        int focusIndex;
        const char* focusName;
    } focuses[] = {{1, "file name"}, {4, "first page"}, {7, "check box"}};
    for (const auto& focus : focuses) {
        QTest::addRow("Ctrl+E in %s", focus.focusName)
            << focus.focusIndex << int(Qt::Key_E) << int(Qt::ControlModifier) << u8("closed");
        QTest::addRow("Ctrl+R in %s", focus.focusName)
            << focus.focusIndex << int(Qt::Key_R) << int(Qt::ControlModifier) << u8("browse");
        QTest::addRow("F1 in %s", focus.focusName)
            << focus.focusIndex << int(Qt::Key_F1) << int(Qt::NoModifier) << u8("help");
        QTest::addRow("plain E in %s", focus.focusName)
            << focus.focusIndex << int(Qt::Key_E) << int(Qt::NoModifier) << u8("nothing");
    }
}

void WindowLayoutTest::accelerators()
{
    QFETCH(int, focusIndex);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QString, effect);

    Recorder recorder;
    MainWindow window(Language::English, QByteArray(), QByteArray(), recorder.seams());
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QWidget* focus = controlsOf(window).at(focusIndex);
    focus->setFocus();
    QTRY_VERIFY(focus->hasFocus());
    ClaimsCtrlE claim;
    if (qobject_cast<QLineEdit*>(focus)) focus->installEventFilter(&claim);

    QTest::keyClick(focus, Qt::Key(key), Qt::KeyboardModifiers(modifiers));

    QString seen = QStringLiteral("nothing");
    if (!window.isVisible()) seen = QStringLiteral("closed");
    else if (recorder.browseCalls == 1) seen = QStringLiteral("browse");
    else if (recorder.messages == QStringList{u8("Can't Find Help File")})
        seen = QStringLiteral("help");
    QCOMPARE(seen, effect);
    if (effect != u8("help")) QVERIFY(recorder.messages.isEmpty());
}

void WindowLayoutTest::menuCommands_data()
{
    QTest::addColumn<Language>("language");
    QTest::addColumn<int>("barIndex");
    QTest::addColumn<int>("itemIndex");  // -1: the bar item itself
    QTest::addColumn<QString>("effect");

    QTest::newRow("File Ref") << Language::English << 0 << 0 << u8("browse");
    QTest::newRow("File Exit") << Language::English << 0 << 2 << u8("closed");
    QTest::newRow("Extract") << Language::English << 1 << -1 << u8("Page Input Error");
    QTest::newRow("Help Help") << Language::English << 2 << 0 << u8("Can't Find Help File");
    QTest::newRow("Help About") << Language::English << 2 << 2
                                << u8("Ravoth Version 0.84\n\nExtract BMP/JPG File from PDF File");
    QTest::newRow("ja Extract") << Language::Japanese << 1 << -1 << u8("ページの入力値に誤りがあります");
    QTest::newRow("ja About") << Language::Japanese << 2 << 2
                              << u8("Ravoth バージョン 0.84\n\nExtract BMP/JPG File from PDF File");
    QTest::newRow("ja Help") << Language::Japanese << 2 << 0 << u8("ヘルプファイルの起動に失敗しました");
}

void WindowLayoutTest::menuCommands()
{
    QFETCH(Language, language);
    QFETCH(int, barIndex);
    QFETCH(int, itemIndex);
    QFETCH(QString, effect);

    Recorder recorder;
    MainWindow window(language, QByteArray(), QByteArray(), recorder.seams());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // A lone "0" makes Extract answer without running the job.
    qobject_cast<QLineEdit*>(controlsOf(window).at(4))->setText(QStringLiteral("0"));

    QAction* barAction = window.menuBar()->actions().at(barIndex);
    QAction* action = itemIndex < 0 ? barAction : barAction->menu()->actions().at(itemIndex);
    action->trigger();

    if (effect == u8("closed")) {
        QVERIFY(!window.isVisible());
    } else if (effect == u8("browse")) {
        QCOMPARE(recorder.browseCalls, 1);
    } else {
        QCOMPARE(recorder.messages, QStringList{effect});
    }
}

void WindowLayoutTest::messageBoxHasCaptionOkAndNoIcon()
{
    MainWindow window(Language::English, QByteArray(), QByteArray(), Recorder().seams());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QString title, text;
    QMessageBox::StandardButtons buttons;
    QMessageBox::Icon icon = QMessageBox::Warning;
    Qt::TextFormat format = Qt::AutoText;
    bool found = false;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        found = true;
        title = box->windowTitle();
        text = box->text();
        buttons = box->standardButtons();
        icon = box->icon();
        format = box->textFormat();
        box->button(QMessageBox::Ok)->click();
    });
    ravoth::desktopSeams().showMessage(&window, u8("Not PDF File\n\n/tmp/<b>x</b>.txt"));

    QVERIFY(found);
    QCOMPARE(title, u8("Ravoth"));
    QCOMPARE(text, u8("Not PDF File\n\n/tmp/<b>x</b>.txt"));
    QCOMPARE(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(icon, QMessageBox::NoIcon);
    // A path is shown as it is, never read as markup.
    QCOMPARE(format, Qt::PlainText);
}

void WindowLayoutTest::everyInputIsNamedAndReachedByKey()
{
    // What the accessibility bridge hands a screen reader, and the order Tab
    // takes: the checked radio button stands for both places.
    const struct {
        int id;
        const char* name;
        bool tabStop;
    } inputs[] = {
        {1000, "File Name", true}, {2020, "Ref", true},
        {1010, "Page", true}, {1020, "Last Page", true},
        {1030, "Outline to File Name", true}, {2030, "Extract", true},
        {2010, "End", true}, {1050, "Files beside the PDF", true},
        {1060, "Folder", false}, {1070, "Output folder", true},
        {2070, "Browse", true}, {1080, "Format", true},
        {1040, "Read PDFs of any producer", true},
    };
    Recorder recorder;
    MainWindow window(Language::English, QByteArray(), QByteArray(), recorder.seams());
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QMap<int, QWidget*> byId;
    for (QWidget* control : controlsOf(window)) byId.insert(control->property("controlId").toInt(), control);
    QList<int> tabOrder;
    for (const auto& input : inputs) {
        QWidget* control = byId.value(input.id);
        QVERIFY2(control, qPrintable(QString::number(input.id)));
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(control);
        QVERIFY(accessible);
        // A list's name on Linux is its current entry; its label is a relation.
        QString name = accessible->text(QAccessible::Name);
        for (const auto& [label, relation] : accessible->relations(QAccessible::Label))
            if (qobject_cast<QComboBox*>(control)) name = label->text(QAccessible::Name);
        QCOMPARE(name, u8(input.name));
        if (input.tabStop) tabOrder.append(input.id);
    }
    byId.value(1000)->setFocus();
    QTRY_VERIFY(byId.value(1000)->hasFocus());
    QList<int> visited{1000};
    for (int step = 1; step < tabOrder.size(); ++step) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited.append(QApplication::focusWidget()->property("controlId").toInt());
    }
    QCOMPARE(visited, tabOrder);
}

void WindowLayoutTest::altKeysReachTheOutputChoices_data()
{
    QTest::addColumn<Language>("language");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("focusId");  // the control that has the focus after the key
    QTest::addColumn<QString>("effect");

    for (const Language language : {Language::English, Language::Japanese}) {
        const char* tag = language == Language::English ? "en" : "ja";
        QTest::addRow("%s Alt+O", tag) << language << int(Qt::Key_O) << 1060 << u8("folder");
        QTest::addRow("%s Alt+T", tag) << language << int(Qt::Key_T) << 1080 << u8("nothing");
        QTest::addRow("%s Alt+A", tag) << language << int(Qt::Key_A) << 1040 << u8("any producer");
        // A push button's key clicks it and leaves the focus where it was.
        QTest::addRow("%s Alt+W", tag) << language << int(Qt::Key_W) << 1000 << u8("folder dialog");
        QTest::addRow("%s Alt+B", tag) << language << int(Qt::Key_B) << 1050 << u8("nothing");
    }
}

void WindowLayoutTest::altKeysReachTheOutputChoices()
{
    QFETCH(Language, language);
    QFETCH(int, key);
    QFETCH(int, focusId);
    QFETCH(QString, effect);

    Recorder recorder;
    MainWindow window(language, QByteArray(), QByteArray(), recorder.seams());
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QWidget* fileName = controlsOf(window).at(1);
    fileName->setFocus();
    QTRY_VERIFY(fileName->hasFocus());

    QTest::keyClick(fileName, Qt::Key(key), Qt::AltModifier);

    // A button's key clicks it a moment later, as the mouse would.
    const auto seen = [&] {
        if (recorder.folderCalls == 1) return QStringLiteral("folder dialog");
        if (window.choices().anyProducer) return QStringLiteral("any producer");
        if (window.choices().place == ravoth::OutputPlace::Folder) return QStringLiteral("folder");
        return QStringLiteral("nothing");
    };
    QTRY_COMPARE(seen(), effect);
    QCOMPARE(QApplication::focusWidget()->property("controlId").toInt(), focusId);
}

QTEST_MAIN(WindowLayoutTest)
#include "tst_window_layout.moc"
