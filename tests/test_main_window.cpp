#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProgressBar>
#include <QtTest>
#include <array>
#include <cmath>

#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTableView>

#include "about_window/frmabout.h"
#include "batch_engine/launch_options.h"
#include "command_line/run_command.h"
#include "main_window/form1.h"
#include "resources/background_picture.h"
#include "results_window/results_window.h"
#include "results_window/state_grid.h"
#include "support/dead_process.h"
#include "support/fake_window.h"
#include "support/recording_platform.h"
#include "support/temp_workspace.h"

namespace {

const QString kStamp = QStringLiteral("12/6/2026 5:21:13 AM");

// A table's rows as shown, its cells joined by " | "; `skip` leaves a column out.
QStringList rowsOf(const QTableView* table, int skip = -1) {
    QStringList rows;
    const QAbstractItemModel* model = table->model();
    for (int row = 0; row < model->rowCount(); ++row) {
        QStringList cells;
        for (int column = 0; column < model->columnCount(); ++column) {
            if (column != skip)
                cells.append(model->index(row, column).data().toString());
        }
        rows.append(cells.join(" | "));
    }
    return rows;
}

QString cellOf(const QTableView* table, int row, int column) {
    return table->model()->index(row, column).data().toString();
}

int selectedRowOf(const QTableView* table) {
    const QModelIndexList rows = table->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

// A started program: its workspace, the recording platform and the loaded main window.
// Writes a file at an absolute path, as a recorder or a test's stand-in for one would.
void writeAt(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
}

struct Program {
    explicit Program(std::unique_ptr<TempWorkspace> workspace = std::make_unique<TempWorkspace>())
        : ws(std::move(workspace)) {
        platform.clock = QDateTime(QDate(2026, 12, 6), QTime(5, 21, 13));
        form = std::make_unique<Form1>(ws->workspace(), platform);
    }
    bool load() { return form->load(); }

    template <typename T>
    T* child(const char* name) const {
        T* found = form->findChild<T*>(QString::fromLatin1(name));
        if (!found)
            qFatal("no control %s", name);
        return found;
    }
    QPlainTextEdit* box(const char* name) const { return child<QPlainTextEdit>(name); }
    QListWidget* listFile() const { return child<QListWidget>("ListFile"); }
    QComboBox* comboTask() const { return child<QComboBox>("ComboTask"); }
    QAction* action(const char* name) const { return child<QAction>(name); }
    void showActive() {
        form->show();
        form->activateWindow();
        if (!QTest::qWaitForWindowActive(form.get()))
            qFatal("the main window did not become active");
    }
    void selectCollection(const QString& name) const {
        QListWidget* list = listFile();
        list->setCurrentItem(list->findItems(name, Qt::MatchExactly).value(0));
    }
    // A Spawn Mode launch of `servers` with "ssh %s uptime", clicked; the starts it made.
    QList<RecordingPlatform::Event> launchSpawn(const QString& servers) {
        child<QCheckBox>("CheckSpawn")->setChecked(true);
        box("ListBox")->setPlainText(servers);
        box("ScriptBox")->setPlainText(QStringLiteral("ssh %s uptime"));
        child<QPushButton>("RunCommand")->click();
        waitForLaunch();
        return platform.eventsOf(RecordingPlatform::Kind::Start);
    }

    // Until the launch controls are back, as they are once a launch has ended.
    void waitForLaunch() const { QTRY_VERIFY(child<QCheckBox>("CheckSpawn")->isEnabled()); }

    std::unique_ptr<TempWorkspace> ws;
    RecordingPlatform platform;
    std::unique_ptr<Form1> form;
};

// The WCAG contrast ratio of two colours, 1 to 21.
double contrast(QColor a, QColor b) {
    auto luminance = [](QColor c) {
        auto channel = [](double v) {
            v /= 255.0;
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(c.red()) + 0.7152 * channel(c.green()) + 0.0722 * channel(c.blue());
    };
    const double x = luminance(a) + 0.05;
    const double y = luminance(b) + 0.05;
    return std::max(x, y) / std::min(x, y);
}

QStringList itemTexts(const QListWidget* list) {
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts.append(list->item(i)->text());
    return texts;
}

QStringList itemTexts(const QComboBox* combo) {
    QStringList texts;
    for (int i = 0; i < combo->count(); ++i)
        texts.append(combo->itemText(i));
    return texts;
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

  private slots:
    void init() { useTestLocale(); }

    void windowAndControls();
    void menus();
    void tabOrder();
    void namedForScreenReaders();
    void backgroundPictures();

    void launchThroughTheWindow();
    void fileFailureLeavesProgramRunning();
    void secondClickOfADoubleClickLaunchesNothing();
    void shiftEnterTypesALineEnd();
    void launchTakesNoInputButStop_data();
    void launchTakesNoInputButStop();
    void enterPressesFocusedLaunchButtonOnly();

    void startupFillsListsAndEmptiesTemp();
    void startupToleratesEmptyScriptsAndMissingTemp();
    void startupStopsWithoutFolder_data();
    void startupStopsWithoutFolder();
    void startDrawsTheWindowFilled();
    void refreshAndCleanup();
    void exitEmptiesTempAndEndsProgram();
    void closingWindowDoesWhatExitDoes();

    void collectionLoadKeepsEveryCharacter();
    void collectionPickedWithArrowKeys();
    void vanishedCollectionGivesMessage();
    void tooLargeFileRefused();
    void reload();
    void selectedCollectionChosenAgainReloads();
    void collectionListKeepsItsSelection();
    void templatePickedFromListOnly();
    void placeholderClearsOnExactMatch_data();
    void placeholderClearsOnExactMatch();

    void modeOptions();
    void warningShowsBothTicked();

    void aboutWindowLifecycle();
    void resultsWindow();
    void gridTellsStatesApart();
    void gridCellAtAPoint_data();
    void gridCellAtAPoint();
    void noticeWhenALongLaunchEndsUnseen_data();
    void noticeWhenALongLaunchEndsUnseen();
    void busyHistoryNeverHoldsALaunch_data();
    void busyHistoryNeverHoldsALaunch();
    void retryWithRunsStillGoing();
    void unsafeNamesAskFirst();
    void optionsDialog();
    void resultsComparedAndKeptAcrossARestart();
    void malformedOptionsReadAsDefaults_data();
    void malformedOptionsReadAsDefaults();
    void spawnWaitsForAFreeSlot();
    void endRunningAsksAndEnds();
    void commandLineWritesWhatTheWindowWrites_data();
    void commandLineWritesWhatTheWindowWrites();
};

void MainWindowTest::windowAndControls() {
    Program p;
    QVERIFY(p.load());
    Form1& form = *p.form;
    QCOMPARE(form.windowTitle(), QStringLiteral("corvane"));
    QCOMPARE(form.centralWidget()->size(), QSize(653, 366));
    form.show();
    QCOMPARE(form.minimumSize(), form.maximumSize());
    QCOMPARE(form.centralWidget()->size(), QSize(653, 366));
    QVERIFY(!(form.windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(!(form.windowFlags() & Qt::WindowMinimizeButtonHint));
    QVERIFY(!form.windowIcon().isNull());
    QCOMPARE(form.windowIcon().availableSizes(),
             (QList<QSize>{{16, 16}, {32, 32}, {48, 48}, {128, 128}}));
    QImageReader icon(QStringLiteral(":/icons/corvane.ico"));
    QList<int> depths;
    for (int i = 0; i < icon.imageCount(); ++i, icon.jumpToNextImage())
        depths.append(icon.read().depth());
    QCOMPARE(depths.size(), 6);  // 16 and 32 at 256 colours, and four at 32 bits

    // Places on the client area, in pixels.
    const QList<std::pair<const char*, QRect>> places = {
        {"Label2", {8, 8, 249, 17}},        {"ListFile", {8, 24, 249, 80}},
        {"Label3", {8, 112, 249, 17}},      {"ListBox", {8, 128, 249, 129}},
        {"ComboTask", {264, 8, 377, 21}},   {"Label1", {264, 32, 377, 17}},
        {"ScriptBox", {264, 48, 377, 161}}, {"CheckSpawn", {264, 216, 185, 17}},
        {"CheckSave", {456, 216, 185, 17}}, {"Label5", {264, 240, 129, 17}},
        {"DelayText", {400, 240, 49, 18}},  {"RunCommand", {456, 240, 185, 17}},
        {"Label4", {8, 264, 633, 17}},      {"LogText", {8, 280, 633, 81}},
        {"FileTask", {488, 304, 129, 15}},
    };
    for (const auto& [name, rect] : places) {
        QWidget* control = p.child<QWidget>(name);
        QCOMPARE(control->parentWidget(), form.centralWidget());
        QCOMPARE(control->geometry(), rect);
    }

    QCOMPARE(p.child<QLabel>("Label2")->text(), QStringLiteral(".:[ Collections ]:."));
    QCOMPARE(p.child<QLabel>("Label3")->text(), QStringLiteral(".:[ Items in Collection ]:."));
    QCOMPARE(p.child<QLabel>("Label1")->text(),
             QStringLiteral(".:[ Batch File -- Substitute %s for Server Name ]:."));
    QCOMPARE(p.child<QLabel>("Label4")->text(), QStringLiteral(".:[ Log Commands ]:."));
    QCOMPARE(p.child<QLabel>("Label5")->text(), QStringLiteral("Start Delay (in seconds):"));
    QCOMPARE(p.child<QPushButton>("RunCommand")->text(), QStringLiteral("LAUNCH CORVANE"));
    QCOMPARE(p.child<QCheckBox>("CheckSpawn")->text(), QStringLiteral("Spawn Mode"));
    QCOMPARE(p.child<QCheckBox>("CheckSave")->text(), QStringLiteral("Run Later (Save Batch)"));

    // Initial values after start-up.
    QCOMPARE(p.child<QLineEdit>("DelayText")->text(), QStringLiteral("0"));
    QVERIFY(!p.child<QCheckBox>("CheckSpawn")->isChecked());
    QVERIFY(!p.child<QCheckBox>("CheckSave")->isChecked());
    QCOMPARE(p.box("ListBox")->toPlainText(), QString());
    QCOMPARE(p.box("LogText")->toPlainText(), QString());
    QCOMPARE(p.box("ScriptBox")->toPlainText(), QStringLiteral("Let the scripting begin ..."));
    QCOMPARE(p.comboTask()->currentText(), QStringLiteral("Common Tasks ..."));
    QCOMPARE(p.comboTask()->currentIndex(), -1);
    QVERIFY(p.comboTask()->isEditable());
    QCOMPARE(p.comboTask()->insertPolicy(), QComboBox::NoInsert);
    for (const char* name : {"ListBox", "ScriptBox", "LogText"}) {
        QCOMPARE(p.box(name)->lineWrapMode(), QPlainTextEdit::NoWrap);
        QVERIFY(!p.box(name)->isReadOnly());
    }

    QWidget* fileTask = p.child<QWidget>("FileTask");
    QVERIFY(!fileTask->isVisible());
    QCOMPARE(fileTask->focusPolicy(), Qt::NoFocus);
}

void MainWindowTest::menus() {
    Program p;
    QVERIFY(p.load());
    const QList<QAction*> bar = p.form->menuBar()->actions();
    QCOMPARE(bar.size(), 4);
    QCOMPARE(bar[0]->text(), QStringLiteral("&Tools"));
    QVERIFY(bar[0]->menu());
    QCOMPARE(bar[1], p.action("MenuAbout"));
    QCOMPARE(bar[1]->text(), QStringLiteral("&About"));
    QVERIFY(!bar[1]->menu());
    QCOMPARE(bar[2], p.action("MenuResults"));
    QCOMPARE(bar[2]->text(), QStringLiteral("&Results"));
    QVERIFY(!bar[2]->menu());
    QCOMPARE(bar[3], p.action("MenuOptions"));
    QCOMPARE(bar[3]->text(), QStringLiteral("&Options"));
    QVERIFY(!bar[3]->menu());

    QStringList items;
    for (QAction* item : bar[0]->menu()->actions()) {
        items.append(item->isSeparator() ? QStringLiteral("-") : item->text());
        QVERIFY(item->isEnabled() && item->isVisible());
        QVERIFY(item->shortcut().isEmpty());
    }
    QCOMPARE(items, (QStringList{"Refresh &File List", "Reload &Selected File",
                                 "&Clean Up Temp Files", "-", "E&xit"}));
    QCOMPARE(bar[0]->menu()->actions()[3], p.action("Space"));
}

void MainWindowTest::tabOrder() {
    Program p;
    p.ws->write("collections/a.txt", "alpha");
    QVERIFY(p.load());
    p.showActive();
    QCOMPARE(QApplication::focusWidget(), p.listFile());   // first shown: lowest tab index
    QCOMPARE(p.box("ListBox")->toPlainText(), QString());  // focus alone loads nothing

    const QStringList order{"ListFile",  "ListBox",    "LogText",    "ComboTask", "ScriptBox",
                            "CheckSave", "CheckSpawn", "RunCommand", "DelayText", "ListFile"};
    // The controls the focus visits, from ListFile on, pressing `key` each time.
    auto visit = [&](Qt::Key key, Qt::KeyboardModifiers modifiers) {
        QStringList visited{"ListFile"};
        for (int i = 1; i < order.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), key, modifiers);
            QWidget* focus = QApplication::focusWidget();
            // The combo box's edit field stands for the combo box.
            if (focus && focus->parentWidget() == p.comboTask())
                focus = p.comboTask();
            visited.append(focus ? focus->objectName() : QStringLiteral("<none>"));
        }
        return visited;
    };
    QCOMPARE(visit(Qt::Key_Tab, Qt::NoModifier), order);
    QCOMPARE(visit(Qt::Key_Backtab, Qt::ShiftModifier), QStringList(order.rbegin(), order.rend()));
}

void MainWindowTest::namedForScreenReaders() {
    Program p;
    QVERIFY(p.load());
    p.showActive();
    const QList<std::pair<const char*, QString>> named{{"ListFile", "Collections"},
                                                       {"ListBox", "Servers in the collection"},
                                                       {"ScriptBox", "Batch template"},
                                                       {"DelayText", "Start delay in seconds"},
                                                       {"LogText", "Log"},
                                                       {"CheckSpawn", "Spawn Mode"},
                                                       {"CheckSave", "Run Later (Save Batch)"},
                                                       {"RunCommand", "LAUNCH CORVANE"}};
    for (const auto& [name, text] : named) {
        QAccessibleInterface* control =
            QAccessible::queryAccessibleInterface(p.child<QWidget>(name));
        QVERIFY(control);
        QCOMPARE(control->text(QAccessible::Name), text);
    }
    // An editable combo box speaks its text; its edit field carries the name.
    QCOMPARE(
        QAccessible::queryAccessibleInterface(p.comboTask()->lineEdit())->text(QAccessible::Name),
        QStringLiteral("Templates"));
    // Every control the keyboard reaches says what it is.
    for (QWidget* widget : p.form->findChildren<QWidget*>()) {
        if (widget->isVisible() && widget->focusPolicy() != Qt::NoFocus &&
            widget->isWindow() == false && !widget->objectName().startsWith("qt_")) {
            QAccessibleInterface* control = QAccessible::queryAccessibleInterface(widget);
            QVERIFY2(control && !control->text(QAccessible::Name).isEmpty(),
                     qPrintable(widget->objectName()));
        }
    }
    // Focus on the button and the check boxes shows in a frame of 3:1 or more against the
    // face inside it, and the unticked box's outline stands out as much.
    for (const char* name : {"RunCommand", "CheckSpawn"}) {
        QWidget* control = p.child<QWidget>(name);
        p.listFile()->setFocus();
        const QImage plain = control->grab().toImage();
        control->setFocus();
        QTRY_VERIFY(control->hasFocus());
        const QImage focused = control->grab().toImage();
        const QColor frame = focused.pixelColor(0, focused.height() / 2);
        const QColor face = focused.pixelColor(focused.width() - 6, focused.height() / 2);
        QVERIFY2(contrast(frame, face) >= 3,
                 qPrintable(QStringLiteral("%1: %2 on %3").arg(name, frame.name(), face.name())));
        QVERIFY(plain.pixelColor(1, plain.height() / 2) !=
                focused.pixelColor(1, focused.height() / 2));
    }
    const QImage box = p.child<QWidget>("CheckSave")->grab().toImage();
    QColor outline;
    for (int x = 0; x < 20 && !outline.isValid(); ++x) {
        const QColor pixel = box.pixelColor(x, box.height() / 2);
        if (contrast(pixel, QColor(255, 192, 128)) >= 3)
            outline = pixel;
    }
    QVERIFY2(outline.isValid(), "no outline of 3:1 on the unticked box");

    // Each heading labels its box.
    for (auto [label, box] : {std::pair{"Label2", "ListFile"}, std::pair{"Label3", "ListBox"},
                              std::pair{"Label1", "ScriptBox"}, std::pair{"Label5", "DelayText"},
                              std::pair{"Label4", "LogText"}})
        QCOMPARE(p.child<QLabel>(label)->buddy(), p.child<QWidget>(box));
}

// Wherever no control covers a window, it shows its picture pixel for pixel from the
// top-left corner; where the picture ends, the background colour shows.
void MainWindowTest::backgroundPictures() {
    auto showsPicture = [](QWidget* area, const QString& path, QWidget* underneath) {
        const QImage picture = QImage(path).convertToFormat(QImage::Format_RGB32);
        QVERIFY(!picture.isNull());
        const QImage shown = area->grab().toImage().convertToFormat(QImage::Format_RGB32);
        int compared = 0;
        for (int y = 0; y < shown.height(); ++y) {
            for (int x = 0; x < shown.width(); ++x) {
                if (area->childAt(x, y) != underneath)
                    continue;
                const QRgb expected =
                    picture.rect().contains(x, y) ? picture.pixel(x, y) : qRgb(0, 0, 0);
                if (shown.pixel(x, y) != expected)
                    QFAIL(qPrintable(QStringLiteral("%1 at %2,%3").arg(path).arg(x).arg(y)));
                ++compared;
            }
        }
        QVERIFY2(compared > 1000, qPrintable(path));
    };
    Program p;
    QVERIFY(p.load());
    p.showActive();
    showsPicture(p.form->centralWidget(), QStringLiteral(":/images/form1_background.jpg"), nullptr);

    frmabout* about = p.form->aboutWindow();
    about->show();
    QVERIFY(QTest::qWaitForWindowExposed(about));
    QWidget* picture = about->findChild<QWidget*>(QStringLiteral("picture"));
    QCOMPARE(picture->geometry(), about->rect());
    showsPicture(about, QStringLiteral(":/images/about_background.jpg"), picture);

    // A picture smaller than its area: the rest shows the area's background colour, not
    // the window's below. Decoded either when named or when shown, and a window drawn
    // without being shown has it too.
    for (bool whenShown : {false, true}) {
        QWidget window;
        auto* large = new BackgroundPicture(&window);
        large->setStyleSheet(QStringLiteral("background-color: rgb(0, 0, 0);"));
        large->setDecodedWhenShown(whenShown);
        large->setPicture(QStringLiteral(":/images/about_background.jpg"));
        large->resize(450, 320);
        window.resize(500, 400);
        showsPicture(large, large->picture(), nullptr);
    }
}

void MainWindowTest::launchThroughTheWindow() {
    Program p;
    QVERIFY(p.load());
    p.child<QLineEdit>("DelayText")->clear();
    p.box("ListBox")->setPlainText(QStringLiteral("alpha\r\nbeta"));
    p.box("ScriptBox")->setPlainText(QStringLiteral("ping %s"));
    p.child<QPushButton>("RunCommand")->click();

    QCOMPARE(p.box("LogText")->toPlainText(),
             "0-- Batch (Spawn) Launched " + kStamp + "\n\nping alpha\nping beta-- End of Batch\n");
    QCOMPARE(p.child<QLineEdit>("DelayText")->text(), QStringLiteral("0"));
    QCOMPARE(p.ws->read("temp/srvtemp.txt"), QByteArray("alpha\nbeta\n"));
    QCOMPARE(p.ws->read("temp/temp1.bat"), QByteArray("\nping alpha\n\nping beta\n"));
    QCOMPARE(p.platform.startedPaths(), QStringList{p.ws->path("temp/temp1.bat")});

    // A refused launch shows its message, and the log box keeps only the delay.
    p.box("ScriptBox")->clear();
    p.child<QPushButton>("RunCommand")->click();
    QCOMPARE(p.platform.messages(), QStringList{"You dummy. Add a Script!"});
    QCOMPARE(p.box("LogText")->toPlainText(), QStringLiteral("0"));

    // Characters a text box could turn into others reach the batch file unchanged.
    p.box("ScriptBox")->setPlainText(QString::fromUtf8("echo \xc2\xa0%s\t\xe2\x80\xa8!"));
    p.child<QPushButton>("RunCommand")->click();
    // The line separator Shift+Enter types is a line end.
    QCOMPARE(p.ws->read("temp/temp2.bat"), QByteArray("\necho \xc2\xa0"
                                                      "alpha\t\n!\n\necho \xc2\xa0"
                                                      "beta\t\n!\n"));

    // A log of many pieces reaches the box whole, each piece joined where the last ended.
    QString servers;
    QString log = "0-- Batch (Spawn) Launched " + kStamp + "\n";
    for (int i = 0; i < 60000; ++i) {
        servers += QStringLiteral("s%1\n").arg(i);
        log += QStringLiteral("\nping s%1").arg(i);
    }
    p.box("ListBox")->setPlainText(servers);
    p.box("ScriptBox")->setPlainText(QStringLiteral("ping %s"));
    p.child<QPushButton>("RunCommand")->click();
    p.waitForLaunch();  // written in slices, the window drawn between them
    QCOMPARE(p.box("LogText")->toPlainText(), log + "-- End of Batch\n");

    // Run Later says where it saved the file.
    p.child<QCheckBox>("CheckSave")->setChecked(true);
    p.platform.clear();
    p.child<QPushButton>("RunCommand")->click();
    p.waitForLaunch();
    QCOMPARE(p.platform.messages(),
             QStringList{"File saved for later as " + p.ws->path("run_later_4.bat") + "."});
    QCOMPARE(p.platform.events.last().caption, QStringLiteral("Corvane"));
}

void MainWindowTest::fileFailureLeavesProgramRunning() {
    Program p;
    QVERIFY(p.load());
    p.ws->makeFolder("logs/log.txt");
    p.box("ListBox")->setPlainText(QStringLiteral("alpha"));
    p.box("ScriptBox")->setPlainText(QStringLiteral("ping %s"));
    p.child<QPushButton>("RunCommand")->click();
    QCOMPARE(p.platform.messages(),
             QStringList{QStringLiteral("Cannot open %1 for appending: Is a directory")
                             .arg(p.ws->path("logs/log.txt"))});
    QCOMPARE(p.platform.events[0].caption, QStringLiteral("Corvane"));
    QCOMPARE(p.platform.startedPaths(), QStringList{});

    p.ws->removeFolder("logs/log.txt");
    p.child<QPushButton>("RunCommand")->click();
    QCOMPARE(p.platform.messages().size(), 1);
    QCOMPARE(p.box("LogText")->toPlainText(),
             "0-- Batch (Spawn) Launched " + kStamp + "\n\nping alpha-- End of Batch\n");
    QCOMPARE(p.platform.startedPaths().size(), 1);
}

void MainWindowTest::launchTakesNoInputButStop_data() {
    QTest::addColumn<bool>("byEsc");
    QTest::newRow("STOP button") << false;
    QTest::newRow("Esc") << true;
}

void MainWindowTest::launchTakesNoInputButStop() {
    QFETCH(bool, byEsc);
    Program p;
    QVERIFY(p.load());
    p.showActive();
    QPushButton* button = p.child<QPushButton>("RunCommand");
    QCheckBox* save = p.child<QCheckBox>("CheckSave");
    QLineEdit* delay = p.child<QLineEdit>("DelayText");
    p.child<QCheckBox>("CheckSpawn")->setChecked(true);
    delay->setText(QStringLiteral("5"));
    p.box("ListBox")->setPlainText(QStringLiteral("s1\ns2\ns3\ns4\ns5"));
    p.box("ScriptBox")->setPlainText(QStringLiteral("ping %s"));

    // The launch runs on the event loop: the click returns as the second server's delay
    // begins, and the test is the user from then on.
    p.platform.realWaits = true;
    QElapsedTimer clicked;
    clicked.start();
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(p.platform.startedPaths().size(), 1);
    QCOMPARE(p.platform.pauses(), QList<int>{5000});
    QVERIFY2(clicked.elapsed() < 1000, qPrintable(QString::number(clicked.elapsed())));
    QCOMPARE(button->text(), QStringLiteral("STOP"));
    // What the user does to the launch controls meanwhile changes nothing...
    QTest::mouseClick(save, Qt::LeftButton);
    delay->setFocus();
    QTest::keyClicks(delay, "9");
    QTest::keyClicks(p.box("ListBox"), "x");
    p.action("Exit")->trigger();
    p.form->close();  // the launch ends first
    QTest::qWait(100);
    QVERIFY(!save->isChecked());
    QCOMPARE(delay->text(), QStringLiteral("5"));
    QCOMPARE(p.box("ListBox")->toPlainText(), QStringLiteral("s1\ns2\ns3\ns4\ns5"));
    QVERIFY(p.form->isVisible());
    // ...but the stop, which cuts the delay short.
    if (byEsc)
        QTest::keyClick(p.box("ListBox"), Qt::Key_Escape);
    else
        QTest::mouseClick(button, Qt::LeftButton);
    QTRY_COMPARE(button->text(), QStringLiteral("LAUNCH CORVANE"));
    QVERIFY2(clicked.elapsed() < 4000, qPrintable(QString::number(clicked.elapsed())));
    QCOMPARE(p.platform.startedPaths().size(), 1);
    QVERIFY(p.box("LogText")->toPlainText().endsWith("-- Stopped after 1 of 5 servers\n"));

    // After the launch the window takes input again, and a click launches.
    QTest::qWait(QApplication::doubleClickInterval() + 50);
    QTest::mouseClick(save, Qt::LeftButton);
    QVERIFY(save->isChecked());
}

void MainWindowTest::secondClickOfADoubleClickLaunchesNothing() {
    Program p;
    QVERIFY(p.load());
    p.showActive();
    QPushButton* button = p.child<QPushButton>("RunCommand");
    p.box("ListBox")->setPlainText(QStringLiteral("alpha"));
    p.box("ScriptBox")->setPlainText(QStringLiteral("ping %s"));
    QTest::mouseClick(button, Qt::LeftButton);
    QTest::mouseDClick(button, Qt::LeftButton);
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(p.platform.startedPaths().size(), 1);
    QTest::qWait(QApplication::doubleClickInterval() + 100);
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(p.platform.startedPaths().size(), 2);
}

void MainWindowTest::shiftEnterTypesALineEnd() {
    Program p;
    QVERIFY(p.load());
    p.showActive();
    auto type = [](QPlainTextEdit* box, const char* first, const char* second) {
        box->setFocus();
        box->selectAll();
        QTest::keyClicks(box, first);
        QTest::keyClick(box, Qt::Key_Return, Qt::ShiftModifier);
        QTest::keyClicks(box, second);
    };
    type(p.box("ListBox"), "alpha", "beta");
    type(p.box("ScriptBox"), "echo %s", "ping %s");
    p.child<QPushButton>("RunCommand")->click();
    QCOMPARE(p.ws->read("temp/temp1.bat"),
             QByteArray("\necho alpha\nping alpha\n\necho beta\nping beta\n"));
}

void MainWindowTest::enterPressesFocusedLaunchButtonOnly() {
    Program p;
    QVERIFY(p.load());
    p.showActive();
    for (const char* name : {"DelayText", "ListBox", "ComboTask"}) {
        QWidget* control = p.child<QWidget>(name);
        control->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    }
    QCOMPARE(p.platform.messages(), QStringList{});
    QPushButton* button = p.child<QPushButton>("RunCommand");
    button->setFocus();
    QTest::keyClick(button, Qt::Key_Return);
    QTest::keyClick(button, Qt::Key_Enter);
    QCOMPARE(p.platform.messages(),
             (QStringList{"You dummy. Add some servers!", "You dummy. Add some servers!"}));
}

void MainWindowTest::startupFillsListsAndEmptiesTemp() {
    auto ws = std::make_unique<TempWorkspace>();
    for (const char* name : {"web.txt", "Alpha.TXT", "db.Txt", "notes.csv", "readme"})
        ws->write(QStringLiteral("collections/") + name, "x\n");
    ws->makeFolder("collections/folder.txt");
    for (const char* name : {"ping.txt", "NSLOOKUP.TXT", "a-first.txt", "skip.bat"})
        ws->write(QStringLiteral("scripts/") + name, "ping %s\n");
    for (const char* name : {"temp1.bat", "srvtemp.txt", "other.log", ".hidden"})
        ws->write(QStringLiteral("temp/") + name, "old");
    ws->write("run_later_1.bat", "saved");
    Program p(std::move(ws));
    QVERIFY(p.load());

    QCOMPARE(itemTexts(p.listFile()), (QStringList{"Alpha.TXT", "db.Txt", "web.txt"}));
    QCOMPARE(itemTexts(p.comboTask()), (QStringList{"a-first.txt", "NSLOOKUP.TXT", "ping.txt"}));
    QCOMPARE(p.comboTask()->currentText(), QStringLiteral("Common Tasks ..."));
    QCOMPARE(p.ws->files("temp"), QStringList{});
    QVERIFY(p.ws->exists("run_later_1.bat"));
    // Nothing is loaded or selected.
    QCOMPARE(p.listFile()->selectedItems().size(), 0);
    QCOMPARE(p.box("ListBox")->toPlainText(), QString());
    QCOMPARE(p.platform.events.size(), 0);
}

void MainWindowTest::startupToleratesEmptyScriptsAndMissingTemp() {
    auto ws = std::make_unique<TempWorkspace>(QStringList{"collections", "scripts"});
    Program p(std::move(ws));
    QVERIFY(p.load());
    QCOMPARE(p.comboTask()->count(), 0);
    QCOMPARE(p.platform.events.size(), 0);
    p.action("MenuCleanup")->trigger();
    QCOMPARE(p.platform.events.size(), 0);
}

void MainWindowTest::startupStopsWithoutFolder_data() {
    QTest::addColumn<QString>("missing");
    QTest::newRow("collections") << "collections";
    QTest::newRow("scripts") << "scripts";
}

void MainWindowTest::startupStopsWithoutFolder() {
    QFETCH(QString, missing);
    auto ws = std::make_unique<TempWorkspace>();
    ws->removeFolder(missing);
    Program p(std::move(ws));
    QVERIFY(!p.load());
    const QString folder = p.ws->path(missing);
    QCOMPARE(p.platform.messages(),
             QStringList{QStringLiteral("The folder %1 does not exist. Create the folder %1 and "
                                        "start again.")
                             .arg(folder)});
    QVERIFY(!p.ws->exists(missing));  // never created by the program
}

// Notes what the main window holds when it is first drawn, and whether it was ever shown.
class FirstDrawing : public QObject {
  public:
    explicit FirstDrawing(Program& p) : p_(p) { qApp->installEventFilter(this); }
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (!widget || widget->window() != p_.form.get())
            return false;
        if (event->type() == QEvent::Show)
            shown = true;
        if (event->type() == QEvent::Paint && !drawn) {
            drawn = true;
            collections = itemTexts(p_.listFile());
            templates = itemTexts(p_.comboTask());
            script = p_.box("ScriptBox")->toPlainText();
        }
        return false;
    }
    bool shown = false;
    bool drawn = false;
    QStringList collections;
    QStringList templates;
    QString script;

  private:
    Program& p_;
};

void MainWindowTest::startDrawsTheWindowFilled() {
    {
        Program p;
        p.ws->write("collections/web.txt", "x\n");
        p.ws->write("scripts/ping.txt", "ping %s\n");
        FirstDrawing first(p);
        QVERIFY(p.form->start());
        QVERIFY(p.form->isVisible());
        QTRY_VERIFY(first.drawn);
        QCOMPARE(first.collections, QStringList{"web.txt"});
        QCOMPARE(first.templates, QStringList{"ping.txt"});
        QCOMPARE(first.script, kPlaceholderText);
    }
    // Without a folder there is the message and no window at all.
    auto ws = std::make_unique<TempWorkspace>();
    ws->removeFolder("scripts");
    Program p(std::move(ws));
    FirstDrawing first(p);
    QVERIFY(!p.form->start());
    QCOMPARE(p.platform.messages().size(), 1);
    QCoreApplication::processEvents();
    QVERIFY(!first.shown);
    QVERIFY(!first.drawn);
}

void MainWindowTest::refreshAndCleanup() {
    Program p;
    p.ws->write("collections/a.txt", "alpha");
    QVERIFY(p.load());
    p.selectCollection("a.txt");
    p.ws->write("collections/b.txt", "beta");
    p.ws->write("scripts/later.txt", "uptime");
    p.box("ListBox")->setPlainText(QStringLiteral("edited"));

    p.action("MenuRefresh")->trigger();
    QCOMPARE(itemTexts(p.listFile()), (QStringList{"a.txt", "b.txt"}));
    QCOMPARE(p.comboTask()->count(), 0);  // templates are listed at start-up only
    QCOMPARE(p.box("ListBox")->toPlainText(), QStringLiteral("edited"));
    QCOMPARE(p.listFile()->currentItem()->text(), QStringLiteral("a.txt"));

    p.ws->write("temp/temp9.bat", "x");
    p.ws->write("temp/notes", "x");
    p.action("MenuCleanup")->trigger();
    QCOMPARE(p.ws->files("temp"), QStringList{});
    QCOMPARE(p.platform.events.size(), 0);
}

void MainWindowTest::exitEmptiesTempAndEndsProgram() {
    Program p;
    QVERIFY(p.load());
    p.form->show();
    p.action("MenuAbout")->trigger();
    p.ws->write("temp/temp1.bat", "x");
    QTimer::singleShot(0, p.action("Exit"), &QAction::trigger);
    QTimer::singleShot(5000, [] { QCoreApplication::exit(99); });  // in case Exit does not end it
    QCOMPARE(QCoreApplication::exec(), 0);
    QCOMPARE(p.ws->files("temp"), QStringList{});
    QVERIFY(!p.form->isVisible());
    QVERIFY(!p.form->aboutWindow() || !p.form->aboutWindow()->isVisible());
}

void MainWindowTest::closingWindowDoesWhatExitDoes() {
    Program p;
    QVERIFY(p.load());
    p.form->show();
    p.ws->write("temp/temp1.bat", "x");
    QTimer::singleShot(0, p.form.get(), &QWidget::close);
    QTimer::singleShot(5000, [] { QCoreApplication::exit(99); });
    QCOMPARE(QCoreApplication::exec(), 0);
    QCOMPARE(p.ws->files("temp"), QStringList{});
}

void MainWindowTest::collectionLoadKeepsEveryCharacter() {
    Program p;
    const QByteArray text = "web01  \n\n  web02\nweb03";  // trailing blanks, blank line, no end
    p.ws->write("collections/web.txt", text);
    p.ws->write("collections/empty.txt", "");
    p.ws->write("collections/latin1.txt", "caf\xe9\x01");
    QVERIFY(p.load());
    p.showActive();

    QListWidget* list = p.listFile();
    QTest::mouseClick(
        list->viewport(), Qt::LeftButton, {},
        list->visualItemRect(list->findItems("web.txt", Qt::MatchExactly)[0]).center());
    QCOMPARE(p.box("ListBox")->toPlainText().toUtf8(), text);

    p.selectCollection("latin1.txt");
    QCOMPARE(p.box("ListBox")->toPlainText(), QString::fromLatin1("caf\xe9\x01"));
    p.selectCollection("empty.txt");
    QCOMPARE(p.box("ListBox")->toPlainText(), QString());
    QCOMPARE(p.platform.events.size(), 0);
}

void MainWindowTest::collectionPickedWithArrowKeys() {
    Program p;
    p.ws->write("collections/a.txt", "alpha");
    p.ws->write("collections/b.txt", "beta");
    QVERIFY(p.load());
    p.showActive();
    p.listFile()->setFocus();
    QTest::keyClick(p.listFile(), Qt::Key_Down);
    QTest::keyClick(p.listFile(), Qt::Key_Down);
    QCOMPARE(p.box("ListBox")->toPlainText(), QStringLiteral("beta"));
    QTest::keyClick(p.listFile(), Qt::Key_Up);
    QCOMPARE(p.box("ListBox")->toPlainText(), QStringLiteral("alpha"));
}

void MainWindowTest::vanishedCollectionGivesMessage() {
    Program p;
    p.ws->write("collections/a.txt", "alpha");
    p.ws->write("collections/gone.txt", "beta");
    QVERIFY(p.load());
    p.selectCollection("a.txt");
    QFile::remove(p.ws->path("collections/gone.txt"));
    p.selectCollection("gone.txt");
    const QString path = p.ws->path("collections/gone.txt");
    QCOMPARE(
        p.platform.messages(),
        QStringList{
            QStringLiteral("Cannot open %1 for reading: No such file or directory").arg(path)});
    QCOMPARE(p.box("ListBox")->toPlainText(), QStringLiteral("alpha"));
    // The program goes on: the next pick works.
    p.selectCollection("a.txt");
    QCOMPARE(p.box("ListBox")->toPlainText(), QStringLiteral("alpha"));
}

void MainWindowTest::tooLargeFileRefused() {
    Program p;
    p.ws->write("collections/a.txt", "alpha");
    p.ws->write("collections/huge.txt", "");
    QVERIFY(p.load());
    QFile(p.ws->path("collections/huge.txt")).resize(16LL * 1024 * 1024 + 1);
    p.selectCollection("a.txt");
    p.selectCollection("huge.txt");
    QCOMPARE(p.platform.messages(),
             QStringList{QStringLiteral("Cannot load %1: the file is 16.0 MiB, larger than the 16 "
                                        "MiB a text box takes.")
                             .arg(p.ws->path("collections/huge.txt"))});
    QCOMPARE(p.box("ListBox")->toPlainText(), QStringLiteral("alpha"));
    p.action("MenuReload")->trigger();  // a reload is refused the same way
    QCOMPARE(p.platform.messages().size(), 2);
    QCOMPARE(p.box("ListBox")->toPlainText(), QStringLiteral("alpha"));
}

void MainWindowTest::reload() {
    Program p;
    p.ws->write("collections/a.txt", "alpha\r\n");
    QVERIFY(p.load());
    p.box("ListBox")->setPlainText(QStringLiteral("typed"));
    p.action("MenuReload")->trigger();  // nothing selected: nothing happens
    QCOMPARE(p.box("ListBox")->toPlainText(), QStringLiteral("typed"));

    p.selectCollection("a.txt");
    p.box("ListBox")->setPlainText(QStringLiteral("edited"));
    p.box("ScriptBox")->setPlainText(QStringLiteral("ping %s"));
    p.action("MenuReload")->trigger();
    QCOMPARE(p.box("ListBox")->toPlainText(), QStringLiteral("alpha\n"));
    QCOMPARE(p.box("ScriptBox")->toPlainText(), QStringLiteral("ping %s"));

    p.box("ListBox")->setPlainText(QStringLiteral("edited"));
    QFile::remove(p.ws->path("collections/a.txt"));
    p.action("MenuReload")->trigger();  // the file has gone: quietly nothing
    QCOMPARE(p.box("ListBox")->toPlainText(), QStringLiteral("edited"));
    QCOMPARE(p.platform.events.size(), 0);
}

void MainWindowTest::selectedCollectionChosenAgainReloads() {
    Program p;
    p.ws->write("collections/a.txt", "alpha");
    p.ws->write("collections/b.txt", "beta");
    QVERIFY(p.load());
    p.showActive();
    QListWidget* list = p.listFile();
    const QPoint first = list->visualItemRect(list->item(0)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, first);
    QCOMPARE(p.box("ListBox")->toPlainText(), QStringLiteral("alpha"));

    // A click on the selected file loads it again, with what changed on disk.
    p.box("ListBox")->setPlainText(QStringLiteral("edited"));
    p.ws->write("collections/a.txt", "alpha\ngamma");
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, first);
    QCOMPARE(p.box("ListBox")->toPlainText(), QStringLiteral("alpha\ngamma"));

    // So does Space on it.
    p.box("ListBox")->setPlainText(QStringLiteral("edited"));
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Space);
    QCOMPARE(p.box("ListBox")->toPlainText(), QStringLiteral("alpha\ngamma"));
    QCOMPARE(p.platform.messages(), QStringList{});
}

void MainWindowTest::collectionListKeepsItsSelection() {
    Program p;
    p.ws->write("collections/a.txt", "alpha");
    QVERIFY(p.load());
    p.showActive();
    QListWidget* list = p.listFile();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(0)).center());
    QCOMPARE(list->selectedItems().size(), 1);

    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier,
                      list->visualItemRect(list->item(0)).center());
    QCOMPARE(list->selectedItems().size(), 1);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      QPoint(10, list->viewport()->height() - 5));  // below the rows
    QCOMPARE(list->selectedItems().size(), 1);
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Space, Qt::ControlModifier);
    QCOMPARE(list->selectedItems().size(), 1);

    // So the reload still knows its file.
    p.box("ListBox")->setPlainText(QStringLiteral("edited"));
    p.action("MenuReload")->trigger();
    QCOMPARE(p.box("ListBox")->toPlainText(), QStringLiteral("alpha"));
}

void MainWindowTest::templatePickedFromListOnly() {
    Program p;
    p.ws->write("scripts/nslookup.txt", "nslookup %s\n");
    p.ws->write("scripts/ping.txt", "ping %s");
    QVERIFY(p.load());
    p.showActive();
    QComboBox* combo = p.comboTask();

    // Typing a name, Enter, leaving the field: nothing loads, nothing is added.
    combo->setFocus();
    combo->lineEdit()->selectAll();
    QTest::keyClicks(combo->lineEdit(), "ping.txt");
    QTest::keyClick(combo->lineEdit(), Qt::Key_Return);
    p.box("LogText")->setFocus();
    QCOMPARE(p.box("ScriptBox")->toPlainText(), QStringLiteral("Let the scripting begin ..."));
    QCOMPARE(itemTexts(combo), (QStringList{"nslookup.txt", "ping.txt"}));

    // A pick from the open list loads the template whole.
    combo->showPopup();
    QAbstractItemView* view = combo->view();
    QTRY_VERIFY(view->isVisible());
    const QRect second = view->visualRect(view->model()->index(1, 0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, second.center());
    QCOMPARE(p.box("ScriptBox")->toPlainText(), QStringLiteral("ping %s"));

    // So does moving through the list with the arrow keys.
    combo->setFocus();
    QTest::keyClick(combo, Qt::Key_Up);
    QCOMPARE(p.box("ScriptBox")->toPlainText(), QStringLiteral("nslookup %s\n"));
    QCOMPARE(combo->count(), 2);
}

void MainWindowTest::placeholderClearsOnExactMatch_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("after");
    QTest::newRow("placeholder") << "Let the scripting begin ..."
                                 << "";
    QTest::newRow("other case") << "let the scripting begin ..."
                                << "let the scripting begin ...";
    QTest::newRow("extra blank") << "Let the scripting begin ... "
                                 << "Let the scripting begin ... ";
    QTest::newRow("line break") << "Let the scripting begin ...\n"
                                << "Let the scripting begin ...\n";
    QTest::newRow("template") << "ping %s"
                              << "ping %s";
}

void MainWindowTest::placeholderClearsOnExactMatch() {
    QFETCH(QString, text);
    QFETCH(QString, after);
    Program p;
    QVERIFY(p.load());
    p.showActive();
    QPlainTextEdit* script = p.box("ScriptBox");
    script->setPlainText(text);
    p.listFile()->setFocus();
    script->setFocus();
    QTRY_VERIFY(script->hasFocus());
    QCOMPARE(script->toPlainText(), after);
    // Focus again later: an emptied box stays empty, and nothing writes the placeholder back.
    p.listFile()->setFocus();
    script->setFocus();
    QCOMPARE(script->toPlainText(), after);
}

void MainWindowTest::modeOptions() {
    Program p;
    QVERIFY(p.load());
    QCheckBox* spawn = p.child<QCheckBox>("CheckSpawn");
    QCheckBox* save = p.child<QCheckBox>("CheckSave");
    auto state = [&] { return std::pair{spawn->isChecked(), save->isChecked()}; };

    save->click();  // Run Later alone: no message
    QCOMPARE(state(), std::pair(false, true));
    spawn->click();  // Spawn over Run Later: Run Later cleared, no message
    QCOMPARE(state(), std::pair(true, false));
    QCOMPARE(p.platform.messages(), QStringList{});
    save->click();  // Run Later over Spawn: the warning, then Spawn cleared
    QCOMPARE(state(), std::pair(false, true));
    QCOMPARE(p.platform.messages(),
             QStringList{"This feature is not compatible with spawning. Enabling 'Run Later' "
                         "automatically unselects Spawn Mode."});
    QCOMPARE(p.platform.events[0].caption, QStringLiteral("Warning!"));
    save->click();  // clearing by hand changes nothing else
    QCOMPARE(state(), std::pair(false, false));
    spawn->click();
    spawn->click();
    QCOMPARE(state(), std::pair(false, false));
    // A handler setting a box runs its rule as a click does.
    spawn->setChecked(true);
    save->setChecked(true);
    QCOMPARE(state(), std::pair(false, true));
    QCOMPARE(p.platform.messages().size(), 2);
}

void MainWindowTest::warningShowsBothTicked() {
    Program p;
    QVERIFY(p.load());
    QCheckBox* spawn = p.child<QCheckBox>("CheckSpawn");
    QCheckBox* save = p.child<QCheckBox>("CheckSave");
    QList<std::pair<bool, bool>> whileOpen;
    p.platform.whileMessageOpen = [&](const QString&, const QString&) {
        whileOpen.append({spawn->isChecked(), save->isChecked()});
    };
    spawn->click();
    save->click();
    QCOMPARE(whileOpen, (QList<std::pair<bool, bool>>{{true, true}}));
    QCOMPARE(std::pair(spawn->isChecked(), save->isChecked()), std::pair(false, true));
}

void MainWindowTest::aboutWindowLifecycle() {
    Program p;
    QVERIFY(p.load());
    const QPointer<frmabout> first = p.form->aboutWindow();
    QVERIFY(first);
    QVERIFY(!first->isVisible());  // created hidden at start-up
    auto texts = [](const frmabout* about) {
        return QStringList{about->windowTitle(), about->findChild<QLabel*>("lblTitle")->text(),
                           about->findChild<QLabel*>("lblVersion")->text(),
                           about->findChild<QLabel*>("lblDescription")->text()};
    };
    const QStringList startup = texts(first);
    QCOMPARE(startup.mid(0, 3), (QStringList{"About Corvane", "corvane", "version 1.0"}));
    QCOMPARE(startup[3].split('\n').size(), 3);

    p.action("MenuAbout")->trigger();
    p.action("MenuAbout")->trigger();
    QVERIFY(first->isVisible());
    const QWidgetList windows = QApplication::topLevelWidgets();
    QCOMPARE(std::count_if(windows.begin(), windows.end(),
                           [](QWidget* w) { return qobject_cast<frmabout*>(w) != nullptr; }),
             1);
    QVERIFY(!first->parentWidget());  // no owner window

    // The second web button hides the window, which comes back as it was.
    first->findChild<QPushButton*>("buttony")->click();
    QVERIFY(!first->isVisible());
    p.action("MenuAbout")->trigger();
    QCOMPARE(p.form->aboutWindow(), first.data());
    QVERIFY(first->isVisible());
    first->findChild<QPushButton*>("buttonx")->click();
    QVERIFY(first->isVisible());
    QCOMPARE(p.platform.openedPages(),
             (QStringList{frmabout::kSecondPage.toString(), frmabout::kFirstPage.toString()}));

    // Close destroys it; the next About builds it anew with the same texts.
    first->findChild<QPushButton*>("cmdOK")->click();
    QTRY_VERIFY(!first);
    p.action("MenuAbout")->trigger();
    QVERIFY(p.form->aboutWindow());
    QVERIFY(p.form->aboutWindow()->isVisible());
    QCOMPARE(texts(p.form->aboutWindow()), startup);
}

void MainWindowTest::gridTellsStatesApart() {
    // Two states alike in colour for a reader with protanopia or deuteranopia (Machado et
    // al.'s full-severity matrices on linear RGB) must differ in their marks.
    const double kinds[2][3][3] = {{{0.152286, 1.052583, -0.204868},
                                    {0.114503, 0.786281, 0.099216},
                                    {-0.003882, -0.048116, 1.051998}},
                                   {{0.367322, 0.860646, -0.227968},
                                    {0.280085, 0.672501, 0.047413},
                                    {-0.011820, 0.042940, 0.968881}}};
    auto linear = [](double v) {
        return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    auto seen = [&](const QColor& c, int kind) {
        const double rgb[3] = {linear(c.redF()), linear(c.greenF()), linear(c.blueF())};
        std::array<double, 3> out{};
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                out[i] += kinds[kind][i][j] * rgb[j];
        return out;
    };
    for (int a = 0; a < StateGrid::Shades; ++a) {
        for (int b = a + 1; b < StateGrid::Shades; ++b) {
            const auto sa = StateGrid::Shade(a), sb = StateGrid::Shade(b);
            if (StateGrid::markOf(sa) != StateGrid::markOf(sb))
                continue;
            for (int kind = 0; kind < 2; ++kind) {
                const auto x = seen(StateGrid::colourOf(sa), kind);
                const auto y = seen(StateGrid::colourOf(sb), kind);
                const double distance = std::hypot(x[0] - y[0], x[1] - y[1], x[2] - y[2]);
                QVERIFY2(distance > 0.1,
                         qPrintable(StateGrid::nameOf(sa) + " and " + StateGrid::nameOf(sb) + ": " +
                                    QString::number(distance)));
            }
        }
    }
    // As drawn: a state's colour at each cell's corner; failed, timed out and unknown each
    // with a mark of its own in white: a cross, a slash, a dot. White or not, at a point
    // of one diagonal, the centre and a point of the other.
    const QList<std::pair<RunState, QString>> drawn{{{RunState::Exited, 0}, "---"},
                                                    {{RunState::Exited, 2}, "www"},
                                                    {{RunState::TimedOut, 30}, "-ww"},
                                                    {{RunState::Unknown, 0}, "-w-"}};
    QList<BatchResult> results;
    for (const auto& [state, marks] : drawn) {
        results.append(BatchResult{});
        results.last().serverText = "s";
        results.last().serverCount = 1;
        results.last().state = state;
    }
    StateGrid grid;
    grid.setResults(results);
    grid.resize(100, 10);
    const QImage image = grid.grab().toImage();
    for (int i = 0; i < drawn.size(); ++i) {
        const QPoint corner = grid.cellRect(i).topLeft();
        QCOMPARE(image.pixelColor(corner), StateGrid::colourOf(StateGrid::shadeOf(drawn[i].first)));
        QString marks;
        for (const QPoint at : {QPoint(2, 2), QPoint(4, 4), QPoint(2, 6)})
            marks += image.pixelColor(corner + at) == Qt::white ? 'w' : '-';
        QCOMPARE(marks, drawn[i].second);
    }
}

void MainWindowTest::gridCellAtAPoint_data() {
    // 25 cells on a grid 100 pixels wide: ten to a row, 9 pixels and a gap of 1.
    QTest::addColumn<QPoint>("point");
    QTest::addColumn<int>("cell");
    QTest::newRow("first") << QPoint(4, 4) << 0;
    QTest::newRow("its last pixel") << QPoint(8, 8) << 0;
    QTest::newRow("the gap after it") << QPoint(9, 4) << -1;
    QTest::newRow("the gap under it") << QPoint(4, 9) << -1;
    QTest::newRow("second row") << QPoint(15, 12) << 11;
    QTest::newRow("the last cell") << QPoint(45, 25) << 24;
    QTest::newRow("after the last cell") << QPoint(55, 25) << -1;
    QTest::newRow("below the grid") << QPoint(5, 35) << -1;
    QTest::newRow("left of the grid") << QPoint(-1, 4) << -1;
    QTest::newRow("right of the columns") << QPoint(100, 4) << -1;
}

void MainWindowTest::gridCellAtAPoint() {
    QFETCH(QPoint, point);
    QFETCH(int, cell);
    QList<BatchResult> results(25);
    for (BatchResult& result : results) {
        result.serverText = "s";
        result.serverCount = 1;
    }
    StateGrid grid;
    grid.setResults(results);
    grid.resize(100, grid.heightForWidth(100));
    QCOMPARE(grid.height(), 30);
    QCOMPARE(grid.cellAt(point), cell);
    if (cell >= 0)
        QVERIFY(grid.cellRect(cell).contains(point));
}

void MainWindowTest::noticeWhenALongLaunchEndsUnseen_data() {
    QTest::addColumn<int>("tookS");
    QTest::addColumn<bool>("windowActive");
    QTest::addColumn<QStringList>("notices");
    QTest::newRow("long, unseen") << 11 << false
                                  << QStringList{"Launch 1 ended: 1 ok \u00b7 1 failed"};
    QTest::newRow("short") << 9 << false << QStringList{};
    QTest::newRow("long, the window active") << 11 << true << QStringList{};
}

void MainWindowTest::noticeWhenALongLaunchEndsUnseen() {
    QFETCH(int, tookS);
    QFETCH(bool, windowActive);
    QFETCH(QStringList, notices);
    Program p;
    QVERIFY(p.load());
    if (windowActive)
        p.showActive();
    const QList<RecordingPlatform::Event> starts = p.launchSpawn(QStringLiteral("alpha\nbeta"));
    for (const auto& start : starts)
        writeAt(start.start.pidPath, QByteArray::number(deadProcessId()));
    p.platform.clock = p.platform.clock.addSecs(tookS);
    writeAt(starts[0].start.statusPath, "0\n");
    writeAt(starts[1].start.statusPath, "4\n");
    auto* progress = p.form->findChild<QProgressBar*>();
    // Told by the tracker's own look, at most a second later.
    QTRY_COMPARE_WITH_TIMEOUT(progress->accessibleDescription(),
                              QStringLiteral("1 ok \u00b7 1 failed"), 3000);
    QStringList told;
    for (const auto& notice : p.platform.eventsOf(RecordingPlatform::Kind::Notice))
        told += notice.caption;
    QCOMPARE(told, notices);
}

void MainWindowTest::resultsWindow() {
    Program p;
    QVERIFY(p.load());
    p.showActive();
    const QList<RecordingPlatform::Event> starts =
        p.launchSpawn(QStringLiteral("alpha\nbeta\ngamma"));
    QCOMPARE(starts.size(), 3);
    QCOMPARE(starts[1].start.title, QStringLiteral("corvane: beta (temp2.bat)"));
    // The status bar counts as the tracker tells, then shows the summary.
    auto* progress = p.form->findChild<QProgressBar*>();
    QCOMPARE(progress->accessibleName(), QStringLiteral("Launch progress"));
    QTRY_COMPARE(progress->accessibleDescription(),
                 QStringLiteral("3 of 3 started \u00b7 3 running \u00b7 0 failed"));
    QCOMPARE(progress->value(), 0);
    // The recorder's files beside the batch file carry the program run's own mark.
    const QRegularExpression recordName(QStringLiteral("/temp/temp2\\.[0-9a-f]{8}\\.out$"));
    QVERIFY2(recordName.match(starts[1].start.outputPath).hasMatch(),
             qPrintable(starts[1].start.outputPath));
    QCOMPARE(starts[1].start.statusPath, starts[1].start.outputPath.chopped(4) + ".status");
    QCOMPARE(starts[1].start.pidPath, starts[1].start.outputPath.chopped(4) + ".pid");
    auto bytesAt = [](const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<none>");
    };

    // What the recorders leave: alpha ended well, beta with 2, gamma's terminal closed.
    const qint64 gone = deadProcessId();
    for (int i = 0; i < 3; ++i) {
        writeAt(starts[i].start.outputPath,
                QStringLiteral("Script started on today\nup %1 days\r\n").arg(i + 1).toUtf8());
        writeAt(starts[i].start.pidPath, QByteArray::number(gone));
    }
    writeAt(starts[0].start.statusPath, "0\n");
    writeAt(starts[1].start.statusPath, "2\n");

    p.action("MenuResults")->trigger();
    QTRY_COMPARE(progress->accessibleDescription(), QStringLiteral("1 ok \u00b7 2 failed"));
    QCOMPARE(progress->value(), 3);
    ResultsWindow* results = p.form->resultsWindow();
    QVERIFY(results && results->isVisible());
    QVERIFY(QTest::qWaitForWindowActive(results));
    QCOMPARE(results->windowTitle(), QStringLiteral("Results"));
    auto* launches = results->findChild<QTableView*>("LaunchTable");
    QCOMPARE(rowsOf(launches),
             QStringList{kStamp + " | Spawn Mode | 3 | 1 ok \u00b7 2 failed | this run"});
    QCOMPARE(selectedRowOf(launches), 0);  // the newest
    // The launch's batch files in launch order; their durations come from the real clock.
    auto* table = results->findChild<QTableView*>("RunTable");
    QCOMPARE(rowsOf(table, 4),
             (QStringList{"alpha | 1 | exit 0 | 0 | up 1 days", "beta | 1 | exit 2 | 2 | up 2 days",
                          "gamma | 1 | ended, status unknown |  | up 3 days"}));
    QCOMPARE(selectedRowOf(table), 0);
    auto* output = results->findChild<QPlainTextEdit*>("OutputText");
    QCOMPARE(output->toPlainText(), QStringLiteral("up 1 days\n"));

    // The grid: a cell for each server and a legend; a click on beta's failed cell selects
    // its row, a drag over the cells selects their rows.
    auto* grid = results->findChild<StateGrid*>("Grid");
    QCOMPARE(grid->accessibleName(), QStringLiteral("State grid"));
    QCOMPARE(grid->cellCount(), 3);
    QCOMPARE(results->findChild<QLabel*>("StateLegend")->text(),
             QStringLiteral("1 ok \u00b7 1 failed \u00b7 1 unknown"));
    QCOMPARE(grid->cellAt(grid->cellRect(1).center()), 1);
    QTest::mouseClick(grid, Qt::LeftButton, {}, grid->cellRect(1).center());
    QCOMPARE(selectedRowOf(table), 1);
    QCOMPARE(output->toPlainText(), QStringLiteral("up 2 days\n"));
    QTest::mousePress(grid, Qt::LeftButton, {}, grid->cellRect(0).center());
    QMouseEvent drag(QEvent::MouseMove, QPointF(grid->cellRect(1).center()),
                     grid->mapToGlobal(QPointF(grid->cellRect(1).center())), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(grid, &drag);
    QTest::mouseRelease(grid, Qt::LeftButton, {}, grid->cellRect(1).center());
    QCOMPARE(table->selectionModel()->selectedRows().size(), 2);

    // Copy servers and Retry failed (Alt+R) act on the rows picked, and say so; with one
    // row selected, on every row shown and the whole launch.
    auto* retry = results->findChild<QPushButton*>("RetryButton");
    auto* copy = results->findChild<QPushButton*>("CopyButton");
    auto* save = results->findChild<QPushButton*>("SaveButton");
    QCOMPARE(retry->text(), QStringLiteral("&Retry failed (selected)"));
    copy->click();
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("alpha\nbeta\n"));
    retry->click();
    QCOMPARE(p.box("ListBox")->toPlainText(), QStringLiteral("beta"));
    table->selectRow(0);
    QCOMPARE(copy->text(), QStringLiteral("&Copy servers"));
    QCOMPARE(retry->shortcut(), QKeySequence(QStringLiteral("Alt+R")));
    QCOMPARE(save->shortcut(), QKeySequence(QStringLiteral("Alt+S")));
    p.box("ListBox")->setPlainText(QStringLiteral("something else"));
    retry->click();
    QCOMPARE(p.box("ListBox")->toPlainText(), QStringLiteral("beta\ngamma"));

    // Save output: the selected run's output where the user says; never into the
    // program's own folders.
    table->selectRow(1);
    QCOMPARE(output->toPlainText(), QStringLiteral("up 2 days\n"));
    QTemporaryDir elsewhere;
    p.platform.saveFileAnswer = elsewhere.filePath("beta.txt");
    save->click();
    QTRY_VERIFY(save->isEnabled());  // copied on a thread of its own
    QFile saved(elsewhere.filePath("beta.txt"));
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), QByteArray("up 2 days\n"));
    p.platform.saveFileAnswer = p.ws->path("collections/web.txt");
    save->click();
    QVERIFY(p.platform.messages().last().startsWith("Cannot save the output as "));
    QVERIFY(!p.ws->exists("collections/web.txt"));
    for (const QString& own : {p.ws->path(".corvane.lock"), p.ws->path("corvane.ini"),
                               QCoreApplication::applicationFilePath()}) {
        p.platform.saveFileAnswer = own;
        const QByteArray before = bytesAt(own);
        save->click();
        QCOMPARE(p.platform.messages().last(),
                 "Cannot save the output as " + own +
                     ": it is one of the program's own files. Choose another place.");
        QCOMPARE(bytesAt(own), before);
    }

    // Save report: a CSV row for each server, or the JSON document for a name in .json;
    // never into the program's own folders either.
    auto* report = results->findChild<QPushButton*>("SaveReportButton");
    QCOMPARE(report->shortcut(), QKeySequence(QStringLiteral("Alt+P")));  // Alt+R retries
    p.platform.saveFileAnswer = elsewhere.filePath("launch.csv");
    report->click();
    const QList<QByteArray> rows = bytesAt(elsewhere.filePath("launch.csv")).split('\n');
    QCOMPARE(rows.size(), 5);  // the header, three servers, nothing after the last line end
    QVERIFY2(rows[2].startsWith("beta,exit 2,2,") && rows[2].endsWith(",up 2 days\r"),
             rows[2].constData());
    p.platform.saveFileAnswer = elsewhere.filePath("launch.json");
    report->click();
    const QJsonObject document =
        QJsonDocument::fromJson(bytesAt(elsewhere.filePath("launch.json"))).object();
    QCOMPARE(document["summary"].toString(), QStringLiteral("1 ok \u00b7 2 failed"));
    QCOMPARE(document["results"].toArray().size(), 3);
    p.platform.saveFileAnswer = p.ws->path("logs/report.csv");
    report->click();
    QVERIFY(p.platform.messages().last().startsWith("Cannot save the report as "));
    QVERIFY(!p.ws->exists("logs/report.csv"));

    // Clean Up empties the temp folder; the rows stay, and the outputs are those the
    // history kept.
    p.action("MenuCleanup")->trigger();
    results->showNewest();
    QCOMPARE(rowsOf(table, 4).size(), 3);
    QCOMPARE(cellOf(table, 1, 2), QStringLiteral("exit 2"));
    table->selectRow(2);
    QCOMPARE(output->toPlainText(), QStringLiteral("up 3 days\n"));
    p.platform.saveFileAnswer = elsewhere.filePath("gamma.txt");
    save->click();
    QFile kept(elsewhere.filePath("gamma.txt"));
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), QByteArray("up 3 days\n"));

    // A normal launch whose middle server's check failed: its one batch file ended with
    // its last command's status, and the summary says no more than that.
    p.child<QCheckBox>("CheckSpawn")->setChecked(false);
    p.box("ListBox")->setPlainText(QStringLiteral("alpha\nbeta\ngamma"));
    p.box("ScriptBox")->setPlainText(QStringLiteral("echo checking %s; [ %s != beta ]"));
    p.child<QPushButton>("RunCommand")->click();
    const RecordingPlatform::Event normal =
        p.platform.eventsOf(RecordingPlatform::Kind::Start).last();
    writeAt(normal.start.outputPath, "Script started on today\nchecking alpha\r\n");
    writeAt(normal.start.pidPath, QByteArray::number(gone));
    writeAt(normal.start.statusPath, "0\n");
    results->showNewest();
    QTRY_COMPARE(rowsOf(launches).value(0),
                 kStamp + " | normal | 3 | 1 batch file of 3 servers: exit 0 | this run");
    QCOMPARE(rowsOf(table, 4), QStringList{"3 servers | 3 | exit 0 | 0 | checking alpha"});

    QTest::keyClick(results, Qt::Key_Escape);
    QVERIFY(!results->isVisible());
    p.action("MenuResults")->trigger();
    QCOMPARE(p.form->resultsWindow(), results);  // one window, made once
}

void MainWindowTest::busyHistoryNeverHoldsALaunch_data() {
    QTest::addColumn<bool>("midLaunch");
    QTest::newRow("held before the launch") << false;
    QTest::newRow("taken in the middle of it") << true;
}

void MainWindowTest::busyHistoryNeverHoldsALaunch() {
    // Another program holds the history's write lock, as sqlite3 or a backup would, for
    // longer than SQLite's usual busy wait.
    QFETCH(bool, midLaunch);
    Program p;
    QVERIFY(p.load());
    p.launchSpawn(QStringLiteral("alpha"));  // the history made
    QProcess holder;
    QElapsedTimer held;
    auto hold = [&] {
        held.start();
        holder.start("sqlite3", {p.ws->path("logs/results.sqlite")});
        holder.write("BEGIN IMMEDIATE;\nSELECT 'held';\n");
        QVERIFY(holder.waitForReadyRead(5000));
    };
    int pauses = 0;
    if (!midLaunch)
        hold();
    else
        p.platform.whilePaused = [&](int) {
            if (++pauses == 2)
                hold();  // beta started, gamma's delay begun
        };
    p.child<QLineEdit>("DelayText")->setText(QStringLiteral("0.2"));
    p.platform.realWaits = true;
    const qsizetype before = p.platform.eventsOf(RecordingPlatform::Kind::Start).size();
    QElapsedTimer clicked;
    clicked.start();
    p.launchSpawn(QStringLiteral("beta\ngamma"));
    p.waitForLaunch();
    const QList<RecordingPlatform::Event> starts =
        p.platform.eventsOf(RecordingPlatform::Kind::Start).mid(before);
    QCOMPARE(starts.size(), 2);
    // Each start on time: after its 200 ms delay, within 100 ms more.
    const qint64 firstMs = (starts[0].atNs - clicked.msecsSinceReference() * 1000000) / 1000000;
    const qint64 secondMs = (starts[1].atNs - starts[0].atNs) / 1000000;
    QVERIFY2(firstMs < 300, qPrintable(QString::number(firstMs)));
    QVERIFY2(secondMs < 300, qPrintable(QString::number(secondMs)));
    // Said in the log box, not in a box to answer; written once the file is free, with the
    // runs' true states.
    QTRY_VERIFY(p.box("LogText")->toPlainText().contains("is busy (database is locked)"));
    QCOMPARE(p.platform.messages(), QStringList{});
    for (const auto& start : starts) {
        writeAt(start.start.pidPath, QByteArray::number(deadProcessId()));
        writeAt(start.start.statusPath, start.start.path.endsWith("3.bat") ? "0\n" : "4\n");
    }
    // Held for 8 s in all, longer than any busy wait: the launch waits in the queue.
    QTest::qWait(std::max<qint64>(0, 8000 - held.elapsed()));
    holder.write("COMMIT;\n");
    holder.closeWriteChannel();
    QVERIFY(holder.waitForFinished(5000));
    QTRY_COMPARE(ResultsHistory(p.ws->path("logs/results.sqlite")).launches().size(), 2);
    p.action("MenuResults")->trigger();  // a look at the runs, as Results takes it
    QTRY_COMPARE(
        ResultsHistory(p.ws->path("logs/results.sqlite")).launches().value(0).launch.summary(),
        QStringLiteral("1 ok \u00b7 1 failed"));
}

void MainWindowTest::retryWithRunsStillGoing() {
    // Beside a history of a later version of Corvane, which this window leaves as it is.
    auto ws = std::make_unique<TempWorkspace>();
    QCOMPARE(QProcess::execute("sqlite3", {ws->path("logs/results.sqlite"),
                                           "PRAGMA journal_mode=WAL; CREATE TABLE t(x); "
                                           "PRAGMA user_version=99;"}),
             0);
    const QByteArray later = ws->read("logs/results.sqlite");
    Program p(std::move(ws));
    QVERIFY(p.load());
    const QList<RecordingPlatform::Event> starts =
        p.launchSpawn(QStringLiteral("alpha\nbeta\ngamma"));
    // alpha and beta still going, gamma ended well.
    for (const auto& start : starts)
        writeAt(start.start.pidPath, QByteArray::number(getpid()));
    writeAt(starts[2].start.statusPath, "0\n");
    p.action("MenuResults")->trigger();
    auto* retry = p.form->resultsWindow()->findChild<QPushButton*>("RetryButton");
    p.box("ListBox")->setPlainText(QStringLiteral("unchanged"));
    retry->click();
    QCOMPARE(p.platform.messages().last(),
             QStringLiteral("2 runs of this launch are still running. Every run of it that has "
                            "ended ended with exit 0."));
    QCOMPARE(p.box("ListBox")->toPlainText(), QStringLiteral("unchanged"));
    auto* table = p.form->resultsWindow()->findChild<QTableView*>("RunTable");
    auto pick = [table](int a, int b) {
        table->selectRow(a);
        table->selectionModel()->select(table->model()->index(b, 0),
                                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
    };
    pick(0, 2);
    // beta fails while alpha goes on: the rows are made anew, and the rows picked stay
    // picked, the first of them current.
    writeAt(starts[1].start.statusPath, "3\n");
    QTRY_VERIFY(rowsOf(table).value(1).contains("exit 3"));
    QCOMPARE(table->selectionModel()->selectedRows().size(), 2);
    QCOMPARE(table->selectionModel()->currentIndex().row(), 0);
    QCOMPARE(retry->text(), QStringLiteral("&Retry failed (selected)"));
    retry->click();
    QCOMPARE(p.platform.messages().last(),
             QStringLiteral("1 selected run is still running. Every selected run that has "
                            "ended ended with exit 0."));
    // beta alone is retried, and the message says so.
    const qsizetype told = p.platform.messages().size();
    pick(1, 2);
    retry->click();
    QCOMPARE(p.box("ListBox")->toPlainText(), QStringLiteral("beta"));
    QCOMPARE(p.platform.messages().size(), told);  // nothing picked is still running
    p.box("ListBox")->setPlainText(QStringLiteral("unchanged"));
    table->selectRow(0);
    retry->click();
    QCOMPARE(p.box("ListBox")->toPlainText(), QStringLiteral("beta"));
    QCOMPARE(p.platform.messages().last(),
             QStringLiteral("1 run of this launch is still running and left out: the "
                            "collection box holds the servers of the runs that ended other "
                            "than with exit 0."));
    QCOMPARE(p.platform.messages().filter("written by a later version of Corvane").size(), 1);
    QCOMPARE(p.ws->read("logs/results.sqlite"), later);
}

void MainWindowTest::commandLineWritesWhatTheWindowWrites_data() {
    QTest::addColumn<QByteArray>("collection");
    QTest::addColumn<QByteArray>("script");
    const QList<std::pair<const char*, std::pair<QByteArray, QByteArray>>> files{
        {"plain", {"web01\nweb02\n", "ping -c 1 %s\n"}},
        {"no last line end", {"web01\nweb02", "echo %s; ssh %s uptime"}},
        {"CR LF and lone CR", {"web01\r\nweb02\rweb03\r\n", "echo %s\r\nexit 0\r\n"}},
        {"blank lines and blanks", {"\n\n  web01  \n\n\t\nweb02\n\n", "echo '%s'\n\n"}},
        {"line separator",
         {"web01\xe2\x80\xa8web02",
          "echo %s\xe2\x80\xa8"
          "echo again"}},
        {"byte order mark",
         {"\xef\xbb\xbfweb01\n",
          "\xef\xbb\xbf"
          "echo %s\n"}},
        {"not UTF-8", {"caf\xe9\nna\xefve\n", "echo %s \xa7\n"}},
        {"no percent", {"web01\nweb02\n", "uptime\n"}},
    };
    for (const auto& [name, texts] : files) {
        for (const char* mode : {"normal", "spawn", "later"})
            QTest::addRow("%s, %s", name, mode) << texts.first << texts.second;
    }
}

void MainWindowTest::commandLineWritesWhatTheWindowWrites() {
    // The same files launched through the window, as a user picks them, and through the
    // request the command line makes of them, each in a workspace of its own.
    QFETCH(QByteArray, collection);
    QFETCH(QByteArray, script);
    const QString tag = QString::fromLatin1(QTest::currentDataTag());
    const LaunchMode mode = tag.endsWith("spawn")   ? LaunchMode::Spawn
                            : tag.endsWith("later") ? LaunchMode::RunLater
                                                    : LaunchMode::Normal;
    Program window;
    window.ws->write("collections/web.txt", collection);
    window.ws->write("scripts/task.txt", script);
    QVERIFY(window.load());
    window.platform.proceedAnswer = true;  // blanks in names launched anyway, both routes
    window.selectCollection("web.txt");
    window.comboTask()->setCurrentIndex(0);
    emit window.comboTask()->activated(0);
    window.child<QCheckBox>("CheckSpawn")->setChecked(mode == LaunchMode::Spawn);
    window.child<QCheckBox>("CheckSave")->setChecked(mode == LaunchMode::RunLater);
    window.child<QPushButton>("RunCommand")->click();
    QCOMPARE(window.platform.messages().size(), mode == LaunchMode::RunLater ? 1 : 0);

    TempWorkspace alone;
    alone.write("collections/web.txt", collection);
    alone.write("scripts/task.txt", script);
    RecordingPlatform platform;
    platform.clock = window.platform.clock;
    Launcher launcher(alone.workspace(), platform);
    FakeWindow progress;
    LaunchRequest request =
        requestFromFiles(alone.path("collections/web.txt"), alone.path("scripts/task.txt"), mode,
                         QStringLiteral("0"));
    request.allowUnsafeNames = true;
    launchToTheEnd(launcher, std::move(request), progress);

    for (const QString& folder :
         {QStringLiteral("."), QStringLiteral("temp"), QStringLiteral("logs")}) {
        const QStringList files = window.ws->files(folder);
        QCOMPARE(alone.files(folder), files);
        for (const QString& file : files) {
            const QString path = folder + u'/' + file;
            // The history holds the program run's own mark and times: its rows are compared.
            if (QFileInfo(window.ws->path(path)).isFile() && !file.startsWith("results.sqlite"))
                QCOMPARE(alone.read(path), window.ws->read(path));
        }
    }
    auto stored = [](const TempWorkspace& ws) {
        ResultsHistory history(ws.workspace().historyFile());
        QStringList rows;
        for (const auto& launch : history.launches()) {
            rows += QString::number(launch.launch.servers) + ' ' + launch.launch.summary();
            for (const BatchResult& result : history.results(launch.launch.historyId, false))
                rows += result.servers().join(',') + ' ' + result.batchName;
        }
        return rows;
    };
    QCOMPARE(stored(alone), stored(*window.ws));
    QCOMPARE(platform.startedPaths().size(), window.platform.startedPaths().size());
    QCOMPARE(progress.logText, window.box("LogText")->toPlainText());
}

void MainWindowTest::unsafeNamesAskFirst() {
    Program p;
    QVERIFY(p.load());
    p.box("ListBox")->setPlainText(QStringLiteral("web01\nweb07; rm -rf ~/old\n-oProxyCommand=x"));
    p.box("ScriptBox")->setPlainText(QStringLiteral("ssh %s uptime"));
    p.box("LogText")->setPlainText(QStringLiteral("the last launch"));
    for (const char* box : {"CheckSpawn", "CheckSave"})
        p.child<QCheckBox>(box)->setChecked(false);

    // Cancel: nothing written, nothing logged, the log box and the numbering as they were.
    p.child<QPushButton>("RunCommand")->click();
    const QList<RecordingPlatform::Event> asked =
        p.platform.eventsOf(RecordingPlatform::Kind::Question);
    QCOMPARE(asked.size(), 1);
    QCOMPARE(asked[0].caption, QStringLiteral("Corvane"));
    QCOMPARE(asked[0].text,
             QStringLiteral("2 server name(s) hold characters that the shell or the command would "
                            "act on:\nline 2: web07; rm -rf ~/old\nline 3: -oProxyCommand=x\n"
                            "Launch anyway?"));
    QCOMPARE(p.platform.lastButtons, (QStringList{"&Launch anyway", "Cancel"}));
    QCOMPARE(p.ws->files("temp") + p.ws->files("logs"), QStringList{});
    QCOMPARE(p.box("LogText")->toPlainText(), QStringLiteral("the last launch"));
    QCOMPARE(p.platform.startedPaths(), QStringList{});

    // Launch anyway: what a launch of the same boxes writes without the question, in a
    // workspace of its own.
    p.platform.proceedAnswer = true;
    p.child<QPushButton>("RunCommand")->click();
    Program plain;
    QVERIFY(plain.load());
    plain.box("ListBox")->setPlainText(p.box("ListBox")->toPlainText());
    plain.box("ScriptBox")->setPlainText(p.box("ScriptBox")->toPlainText());
    plain.platform.proceedAnswer = true;
    plain.child<QPushButton>("RunCommand")->click();
    for (const char* file : {"temp/temp1.bat", "temp/srvtemp.txt", "logs/log.txt"})
        QCOMPARE(p.ws->read(file), plain.ws->read(file));
    QCOMPARE(p.ws->read("temp/temp1.bat"),
             QByteArray("\nssh web01 uptime\n\nssh web07; rm -rf ~/old uptime\n\n"
                        "ssh -oProxyCommand=x uptime\n"));
    QCOMPARE(p.box("LogText")->toPlainText(), plain.box("LogText")->toPlainText());
    QCOMPARE(p.platform.startedPaths(), QStringList{p.ws->path("temp/temp1.bat")});
}

void MainWindowTest::optionsDialog() {
    Program p;
    QVERIFY(p.load());
    p.showActive();
    // Cancel, whatever was changed: nothing is written.
    QStringList seen;
    p.platform.whileDialogOpen = [&](QDialog& dialog) {
        seen.append(dialog.windowTitle());
        auto* most = dialog.findChild<QSpinBox*>("MaxRunning");
        auto* timeout = dialog.findChild<QSpinBox*>("TimeoutSeconds");
        auto* terminals = dialog.findChild<QCheckBox*>("Terminals");
        seen.append(QStringLiteral("%1 %2 %3 %4")
                        .arg(most->value())
                        .arg(timeout->value())
                        .arg(terminals->isChecked())
                        .arg(QApplication::focusWidget() == most || dialog.focusWidget() == most));
        seen.append(QStringLiteral("%1-%2 %3-%4")
                        .arg(most->minimum())
                        .arg(most->maximum())
                        .arg(timeout->minimum())
                        .arg(timeout->maximum()));
        most->setValue(20);
        timeout->setValue(604801);  // beyond the bound: the bound
        terminals->setChecked(false);
    };
    p.platform.dialogAnswer = QDialog::Rejected;
    p.action("MenuOptions")->trigger();
    QCOMPARE(seen, (QStringList{"Options", "0 0 1 1", "0-10000 0-604800"}));
    QVERIFY(!p.ws->exists("corvane.ini"));

    // OK writes the three keys, and the next launch and start-up take them.
    p.platform.dialogAnswer = QDialog::Accepted;
    p.action("MenuOptions")->trigger();
    QSettings ini(p.ws->path("corvane.ini"), QSettings::IniFormat);
    QCOMPARE(ini.value("launch/maxRunning").toInt(), 20);
    QCOMPARE(ini.value("launch/timeoutSeconds").toInt(), 604800);
    QCOMPARE(ini.value("launch/terminals").toString(), QStringLiteral("false"));
    p.box("ListBox")->setPlainText(QStringLiteral("alpha"));
    p.box("ScriptBox")->setPlainText(QStringLiteral("ping %s"));
    p.child<QPushButton>("RunCommand")->click();
    QCOMPARE(p.platform.preparedWithTerminals, false);
    const LaunchOptions read = readLaunchOptions(p.ws->path("corvane.ini"));
    QCOMPARE(read, (LaunchOptions{20, 604800, false, 100}));

    // How many launches the history keeps: 1 to 100,000, else the default.
    for (const auto& [text, kept] :
         {std::pair{"7", 7}, {"100000", 100000}, {"0", 100}, {"100001", 100}, {"many", 100}}) {
        ini.setValue("history/keepLaunches", text);
        ini.sync();
        QCOMPARE(readLaunchOptions(p.ws->path("corvane.ini")).keepLaunches, kept);
    }
    p.platform.whileDialogOpen = [&](QDialog& dialog) {
        auto* keep = dialog.findChild<QSpinBox*>("KeepLaunches");
        seen = QStringList{QString::number(keep->value()), QString::number(keep->minimum()),
                           QString::number(keep->maximum())};
        keep->setValue(2);
    };
    p.form->load();  // the options are read as the program starts
    p.action("MenuOptions")->trigger();
    QCOMPARE(seen, (QStringList{"100", "1", "100000"}));
    ini.sync();
    QCOMPARE(ini.value("history/keepLaunches").toInt(), 2);
}

void MainWindowTest::resultsComparedAndKeptAcrossARestart() {
    auto program = std::make_unique<Program>();
    Program& p = *program;
    QVERIFY(p.load());
    p.showActive();
    const QList<RecordingPlatform::Event> starts =
        p.launchSpawn(QStringLiteral("alpha\nbeta\ngamma"));
    const QByteArray outputs[] = {"nginx 1.24\r\nactive\r\n", "nginx 1.22\r\nactive\r\n",
                                  "nginx 1.24\r\nactive\r\n"};
    for (int i = 0; i < 3; ++i) {
        writeAt(starts[i].start.outputPath, "Script started on today\n" + outputs[i]);
        writeAt(starts[i].start.pidPath, QByteArray::number(deadProcessId()));
        writeAt(starts[i].start.statusPath, i == 1 ? "2\n" : "0\n");
    }
    p.action("MenuResults")->trigger();
    ResultsWindow* results = p.form->resultsWindow();
    auto* table = results->findChild<QTableView*>("RunTable");
    auto* group = results->findChild<QCheckBox*>("GroupBox");
    auto* compare = results->findChild<QPushButton*>("CompareButton");
    auto* diff = results->findChild<QPlainTextEdit*>("DiffText");
    group->setChecked(true);
    QCOMPARE(rowsOf(table, 4), (QStringList{"alpha, gamma | 2 | exit 0 | 0 | active",
                                            "beta | 1 | exit 2 | 2 | active"}));
    // The largest group itself has nothing to compare with.
    table->selectRow(0);
    compare->click();
    QVERIFY(p.platform.messages().last().startsWith("The selected row is of the largest group"));
    QVERIFY(!diff->isVisible());
    table->selectRow(1);
    compare->click();
    QVERIFY(diff->isVisible());
    QCOMPARE(diff->toPlainText(),
             QStringLiteral("--- the largest group: alpha, gamma (2 batch files, exit 0)\n"
                            "+++ the selected row: beta (exit 2)\n"
                            "@@ -1,2 +1,2 @@\n-nginx 1.24\n+nginx 1.22\n active\n"));
    // The filter narrows the rows; Copy servers gives the servers of those shown.
    auto* filter = results->findChild<QComboBox*>("FilterBox");
    QCOMPARE(itemTexts(filter), (QStringList{"All", "Failed", "Running", "OK"}));
    filter->setCurrentIndex(3);
    results->findChild<QPushButton*>("CopyButton")->click();
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("alpha\ngamma\n"));
    // With every row picked the buttons say so; a filter that shows none takes it back.
    auto* copy = results->findChild<QPushButton*>("CopyButton");
    filter->setCurrentIndex(0);
    table->selectAll();
    QCOMPARE(copy->text(), QStringLiteral("&Copy servers (selected)"));
    filter->setCurrentIndex(2);
    QCOMPARE(table->model()->rowCount(), 0);
    QCOMPARE(copy->text(), QStringLiteral("&Copy servers"));

    // The program ends; started again in the same folder, the launch is an earlier one,
    // read from the history, and its failed server can be retried.
    std::unique_ptr<TempWorkspace> workspace = std::move(p.ws);
    program.reset();
    Program again(std::move(workspace));
    QVERIFY(again.load());
    again.showActive();
    again.action("MenuResults")->trigger();
    ResultsWindow* reopened = again.form->resultsWindow();
    auto* launches = reopened->findChild<QTableView*>("LaunchTable");
    QCOMPARE(rowsOf(launches),
             QStringList{kStamp + " | Spawn Mode | 3 | 2 ok \u00b7 1 failed | earlier"});
    table = reopened->findChild<QTableView*>("RunTable");
    QCOMPARE(rowsOf(table, 4),
             (QStringList{"alpha | 1 | exit 0 | 0 | active", "beta | 1 | exit 2 | 2 | active",
                          "gamma | 1 | exit 0 | 0 | active"}));
    table->selectRow(1);
    QCOMPARE(reopened->findChild<QPlainTextEdit*>("OutputText")->toPlainText(),
             QStringLiteral("nginx 1.22\nactive\n"));
    again.box("ListBox")->setPlainText(QStringLiteral("something else"));
    reopened->findChild<QPushButton*>("RetryButton")->click();
    QCOMPARE(again.box("ListBox")->toPlainText(), QStringLiteral("beta"));
    table->selectRow(0);
    table->selectionModel()->select(table->model()->index(2, 0),
                                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
    reopened->findChild<QPushButton*>("RetryButton")->click();
    QCOMPARE(again.platform.messages().last(),
             QStringLiteral("Every selected run ended with exit 0."));

    // Clear history asks first.
    auto* clear = reopened->findChild<QAction*>("ClearHistoryAction");
    QCOMPARE(clear->text(), QStringLiteral("Clear &history..."));
    clear->trigger();
    QCOMPARE(launches->model()->rowCount(), 1);
    again.platform.proceedAnswer = true;
    clear->trigger();
    QCOMPARE(launches->model()->rowCount(), 0);
    QCOMPARE(table->model()->rowCount(), 0);
}

void MainWindowTest::malformedOptionsReadAsDefaults_data() {
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<int>("maxRunning");
    QTest::addColumn<int>("timeoutSeconds");
    QTest::addColumn<bool>("terminals");
    QTest::newRow("all three") << QByteArray(
                                      "[launch]\nmaxRunning=3\ntimeoutSeconds=60\n"
                                      "terminals=false\n")
                               << 3 << 60 << false;
    QTest::newRow("most not a number")
        << QByteArray("[launch]\nmaxRunning=many\ntimeoutSeconds=60\n") << 0 << 60 << true;
    QTest::newRow("most too large") << QByteArray("[launch]\nmaxRunning=10001\n") << 0 << 0 << true;
    QTest::newRow("most negative") << QByteArray("[launch]\nmaxRunning=-1\n") << 0 << 0 << true;
    QTest::newRow("time limit too large")
        << QByteArray("[launch]\nmaxRunning=5\ntimeoutSeconds=604801\n") << 5 << 0 << true;
    QTest::newRow("time limit a fraction")
        << QByteArray("[launch]\ntimeoutSeconds=1.5\n") << 0 << 0 << true;
    QTest::newRow("terminals not a truth")
        << QByteArray("[launch]\nterminals=maybe\n") << 0 << 0 << true;
    QTest::newRow("another group") << QByteArray("[other]\nmaxRunning=3\n") << 0 << 0 << true;
    QTest::newRow("not an ini file") << QByteArray("\x00\xff garbage [[[") << 0 << 0 << true;
}

void MainWindowTest::malformedOptionsReadAsDefaults() {
    QFETCH(QByteArray, ini);
    QFETCH(int, maxRunning);
    QFETCH(int, timeoutSeconds);
    QFETCH(bool, terminals);
    auto ws = std::make_unique<TempWorkspace>();
    ws->write("corvane.ini", ini);
    Program p(std::move(ws));
    QVERIFY(p.load());
    QCOMPARE(readLaunchOptions(p.ws->path("corvane.ini")),
             (LaunchOptions{maxRunning, timeoutSeconds, terminals}));
    // Read, never written back.
    QCOMPARE(p.ws->read("corvane.ini"), ini);
}

void MainWindowTest::spawnWaitsForAFreeSlot() {
    // At most 2 at once: the third start waits, through pauses that keep the window alive,
    // until a run has ended; a stop during that wait starts nothing more.
    Program p;
    p.ws->write("corvane.ini", "[launch]\nmaxRunning=2\n");
    QVERIFY(p.load());
    p.child<QCheckBox>("CheckSpawn")->setChecked(true);
    p.box("ListBox")->setPlainText(QStringLiteral("s1\ns2\ns3\ns4\ns5"));
    p.box("ScriptBox")->setPlainText(QStringLiteral("ping %s"));
    int pauses = 0;
    QStringList statesWhileWaiting;
    p.platform.whilePaused = [&](int) {
        // Every run started goes on (its recorder is this process) until it has a status.
        const QList<RecordingPlatform::Event> starts =
            p.platform.eventsOf(RecordingPlatform::Kind::Start);
        for (const auto& start : starts) {
            if (!QFile::exists(start.start.pidPath))
                writeAt(start.start.pidPath, QByteArray::number(getpid()));
        }
        ++pauses;
        if (pauses == 3) {  // s1 and s2 run, s3 waits for a slot
            p.action("MenuResults")->trigger();
            auto* table = p.form->resultsWindow()->findChild<QTableView*>("RunTable");
            for (int row = 0; row < table->model()->rowCount(); ++row)
                statesWhileWaiting.append(cellOf(table, row, 0) + ": " + cellOf(table, row, 2));
        } else if (pauses == 4) {
            writeAt(starts[0].start.statusPath, "0\n");  // a slot comes free: s3 starts
        } else if (pauses == 6) {
            QTest::keyClick(p.box("ListBox"), Qt::Key_Escape);  // s4 waits: the stop
        }
    };
    p.child<QLineEdit>("DelayText")->setText(QStringLiteral("1"));
    p.child<QPushButton>("RunCommand")->click();
    p.waitForLaunch();
    QCOMPARE(statesWhileWaiting, (QStringList{"s1: running", "s2: running", "s3: waiting",
                                              "s4: waiting", "s5: waiting"}));
    QCOMPARE(p.platform.startedPaths().size(), 3);
    QCOMPARE(p.platform.pauses(), (QList<int>{1000, 1000, 1000, 1000, 1000, 1000}));
    QVERIFY(p.ws->read("logs/log.txt")
                .endsWith("Not started: s4\nStopped by the user after 3 of 5 servers.\n" +
                          QByteArray(67, '-') + "\n"));
    auto* table = p.form->resultsWindow()->findChild<QTableView*>("RunTable");
    p.form->resultsWindow()->showNewest();
    QCOMPARE(cellOf(table, 4, 2), QStringLiteral("not started"));
    QCOMPARE(cellOf(table, 3, 2), QStringLiteral("not started"));
    QCOMPARE(cellOf(table, 0, 2), QStringLiteral("exit 0"));
    table->selectRow(3);
    p.form->resultsWindow()->findChild<QPushButton*>("SaveButton")->click();
    QCOMPARE(p.platform.messages().last(),
             QStringLiteral("s4 has not started: there is no output to save."));
    QCOMPARE(p.platform.eventsOf(RecordingPlatform::Kind::AskSaveFile).size(), 0);
}

void MainWindowTest::endRunningAsksAndEnds() {
    Program p;
    QVERIFY(p.load());
    const QList<RecordingPlatform::Event> starts = p.launchSpawn(QStringLiteral("alpha\nbeta"));
    // alpha's recorder: a process in a session of its own, as the real recorder's shell is;
    // beta has ended.
    qint64 recorder = 0;
    QVERIFY(QProcess::startDetached("setsid", {"sleep", "30"}, QString(), &recorder));
    QTRY_VERIFY(QFile::exists(QStringLiteral("/proc/%1").arg(recorder)));
    writeAt(starts[0].start.pidPath, QByteArray::number(recorder));
    writeAt(starts[1].start.statusPath, "0\n");
    p.action("MenuResults")->trigger();
    auto* end = p.form->resultsWindow()->findChild<QPushButton*>("EndButton");
    QCOMPARE(end->text(), QStringLiteral("&End running"));

    end->click();  // answered Cancel
    QCOMPARE(p.platform.eventsOf(RecordingPlatform::Kind::Question).last().text,
             QStringLiteral("End the 1 running batch file of this launch?"));
    QCOMPARE(p.platform.lastButtons, (QStringList{"&End", "Cancel"}));
    QCOMPARE(::kill(static_cast<pid_t>(recorder), 0), 0);

    p.platform.proceedAnswer = true;
    end->click();
    auto* table = p.form->resultsWindow()->findChild<QTableView*>("RunTable");
    QCOMPARE(cellOf(table, 0, 2), QStringLiteral("ended by the user"));
    QTRY_VERIFY(!QFile::exists(QStringLiteral("/proc/%1").arg(recorder)));  // its group ended
    end->click();                                                           // nothing runs any more
    QCOMPARE(p.platform.messages().last(),
             QStringLiteral("No batch file of this launch is running."));
}

QTEST_MAIN(MainWindowTest)
#include "test_main_window.moc"
