// The built program in a real window under an X server of its own, driven with real
// mouse and keyboard input.
#include <QtTest>

#include <QApplication>
#include <QSettings>
#include <QStandardPaths>
#include <cstdio>

#include "desktop.h"

namespace {

// Points of the main window's client area, in pixels.
const QPoint kFirstCollection(30, 32);
const QPoint kTemplateArrow(632, 18);
const QPoint kCheckSpawn(280, 224);
const QPoint kCheckSave(472, 224);
const QPoint kDelayText(424, 249);
const QPoint kRunCommand(548, 248);

// The temp folder without what the recorder leaves beside each started batch file.
QStringList launchFiles(const Program& p) {
    const QRegularExpression recorded(QStringLiteral("\\.(out|status|pid)$"));
    QStringList files = p.files("temp");
    files.removeIf([&](const QString& name) { return recorded.match(name).hasMatch(); });
    return files;
}

// What the recorder of temp<number>.bat left with `suffix` ("status", "out"), whatever the
// program run's mark in its name; "<missing>" while there is none.
QByteArray recorded(const Program& p, int number, const QString& suffix) {
    const QStringList found =
        QDir(p.path("temp")).entryList({QStringLiteral("temp%1.*.%2").arg(number).arg(suffix)});
    return found.isEmpty() ? QByteArray("<missing>") : p.read("temp/" + found.first());
}

QStringList lines(const QByteArray& bytes) {
    return QString::fromUtf8(bytes).split('\n', Qt::SkipEmptyParts);
}

void saveScreenshot(const QImage& image, const char* name) {
    const QString folder = qEnvironmentVariable("CORVANE_SCREENSHOT_DIR");
    if (!folder.isEmpty())
        image.save(QDir(folder).filePath(QString::fromLatin1(name)));
}

bool near(QRgb pixel, QColor expected) {
    return std::abs(qRed(pixel) - expected.red()) < 24 &&
           std::abs(qGreen(pixel) - expected.green()) < 24 &&
           std::abs(qBlue(pixel) - expected.blue()) < 24;
}

}  // namespace

class EndToEndTest : public QObject {
    Q_OBJECT

  private slots:
    void startupAndNormalWorkflow();
    void spawnModeStaggersStarts();
    void spawnModeStoppedByEsc();
    void doubleClickOnStopLaunchesNothing();
    void runLaterSavesWithoutRunning();
    void modeWarning();
    void toolsMenuByAccessKeys();
    void aboutWindow();
    void badInputThenFixed();
    void missingCollectionsFolder();
    void noDisplayOneLine_data();
    void noDisplayOneLine();
    void secondProgramInTheSameFolder();
    void terminalWindowWhenInstalled();
    void xtermShowsTheRunsTitle();
    void resultsAndRetryFailed();
    void resultsGroupedFilteredCopied();
    void progressAndGridOfAFleet();
    void optionsKeptAcrossARestart();
    void savedSessionAsShown();

  private:
    // A workspace with one collection and a template that appends each server's name,
    // and the process id of the shell running it, to out.txt.
    void prepare(Program& p, const QByteArray& servers = "alpha\nbeta\ngamma\n") {
        p.write("collections/a-servers.txt", servers);
        p.write("scripts/append.txt", "echo %s $$ >> '" + p.path("out.txt").toUtf8() + "'\n");
    }
    // A workspace with one collection and a template that appends each server's name, and
    // the seconds since boot when it ran, to spawn.txt.
    void prepareStamped(Program& p, const QByteArray& servers) {
        p.write("collections/a-servers.txt", servers);
        p.write("scripts/stamp.txt", "read up rest < /proc/uptime; echo %s $up >> '" +
                                         p.path("spawn.txt").toUtf8() + "'\n");
    }
    // Clicks the first collection, opens the template list and clicks row `row` of the
    // `rows` it shows.
    void pickFirstCollectionAndTemplate(const Program& p, int row = 0, int rows = 1) {
        p.click(kFirstCollection.x(), kFirstCollection.y());
        p.click(kTemplateArrow.x(), kTemplateArrow.y());
        const qulonglong popup = p.waitForOtherWindow(QString());
        QVERIFY2(popup, "the template list did not open");
        const QRect list = desktop::windowGeometry(popup);
        const int rowHeight = list.height() / rows;
        desktop::click(list.x() + 40, list.y() + row * rowHeight + rowHeight / 2);
        QVERIFY(p.windowGone(popup));
    }
    void setDelay(const Program& p, const QString& text) {
        p.click(kDelayText.x(), kDelayText.y());
        desktop::keys({"ctrl+a", "BackSpace"});
        desktop::type(text);
    }
    // A click on the launch button, later than the double-click interval after the last
    // launch ended: a click sooner than that is taken for the rest of a double click.
    void launch(const Program& p) {
        QTest::qWait(QApplication::doubleClickInterval() + 100);
        p.click(kRunCommand.x(), kRunCommand.y());
    }
    // Waits for a message box, closes it with Enter and waits for it to go.
    void answerMessage(const Program& p, const QString& caption) {
        const qulonglong box = p.waitForOtherWindow(caption);
        QVERIFY2(box, qPrintable("no message box \"" + caption + "\" appeared"));
        p.keysTo(box, {"Return"});
        QVERIFY(p.windowGone(box));
    }
};

void EndToEndTest::startupAndNormalWorkflow() {
    Program p;
    prepare(p);
    p.write("collections/b-more.txt", "delta\n");
    p.write("scripts/zz-other.txt", "echo other\n");
    p.write("temp/temp1.bat", "echo stale\n");
    p.write("temp/.left-over", "x");
    QVERIFY(p.start());

    const QRect frame = desktop::windowGeometry(p.mainWindow());
    QCOMPARE(frame.width(), 653);
    // The window manager frames the window and offers to move and close it, never to
    // resize or maximise it.
    const QStringList actions = desktop::allowedActions(p.mainWindow());
    QVERIFY2(actions.contains("_NET_WM_ACTION_CLOSE"), qPrintable(actions.join(' ')));
    for (const QString& action : actions)
        QVERIFY2(!action.contains("RESIZE") && !action.contains("MAXIMIZE"), qPrintable(action));
    QVERIFY2(p.menuBarHeight() >= 15 && p.menuBarHeight() <= 40,
             qPrintable(QStringLiteral("menu bar %1 px high").arg(p.menuBarHeight())));
    // The client area below the bar is 366 high: the edges of the launch button and of
    // the log box heading stand to the pixel where the layout puts them.
    const QImage shot = desktop::grab(QRect(p.origin(), QSize(653, 366)));
    QVERIFY(near(shot.pixel(548, 241), QColor(255, 255, 0)));
    QVERIFY(!near(shot.pixel(548, 238), QColor(255, 255, 0)));
    QVERIFY(near(shot.pixel(10, 265), QColor(128, 0, 0)));
    QVERIFY(!near(shot.pixel(10, 262), QColor(128, 0, 0)));
    QVERIFY(near(shot.pixel(20, 300), QColor(255, 255, 192)));  // the empty log box
    QCOMPARE(p.files("temp"), QStringList{});

    pickFirstCollectionAndTemplate(p, 0, 2);
    launch(p);
    QVERIFY2(waitUntil([&] { return lines(p.read("out.txt")).size() == 3; }),
             (p.read("out.txt") + "|" + p.read("logs/log.txt") + "|" +
              p.files("temp").join(",").toUtf8())
                 .constData());
    const QStringList out = lines(p.read("out.txt"));
    QCOMPARE(out[0].section(' ', 0, 0), QStringLiteral("alpha"));
    QCOMPARE(out[1].section(' ', 0, 0), QStringLiteral("beta"));
    QCOMPARE(out[2].section(' ', 0, 0), QStringLiteral("gamma"));
    // One batch file, started once, by a process of its own.
    const QString shell = out[0].section(' ', 1);
    QVERIFY(out[1].endsWith(' ' + shell) && out[2].endsWith(' ' + shell));
    QVERIFY(shell.toLongLong() != p.pid());
    QVERIFY(p.running());
    QCOMPARE(launchFiles(p), (QStringList{"srvtemp.txt", "temp1.bat"}));

    // The second collection of the list, reached with the arrow key.
    p.click(kFirstCollection.x(), kFirstCollection.y());
    desktop::keys({"Down"});
    launch(p);
    QVERIFY(waitUntil([&] { return lines(p.read("out.txt")).size() == 4; }));
    QVERIFY(lines(p.read("out.txt"))[3].startsWith("delta "));
}

void EndToEndTest::spawnModeStaggersStarts() {
    Program p;
    prepareStamped(p, "s1\ns2\ns3");
    QVERIFY(p.start());
    pickFirstCollectionAndTemplate(p);
    p.click(kCheckSpawn.x(), kCheckSpawn.y());
    setDelay(p, "1");
    launch(p);
    QVERIFY2(waitUntil([&] { return lines(p.read("spawn.txt")).size() == 3; }, 20000),
             p.read("spawn.txt").constData());
    const QStringList out = lines(p.read("spawn.txt"));
    QList<double> times;
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(out[i].section(' ', 0, 0), QStringLiteral("s%1").arg(i + 1));
        times.append(out[i].section(' ', 1).toDouble());
    }
    QVERIFY2(times[1] - times[0] >= 0.9 && times[2] - times[1] >= 0.9, qPrintable(out.join(" | ")));
    QCOMPARE(launchFiles(p), (QStringList{"srvtemp.txt", "temp1.bat", "temp2.bat", "temp3.bat"}));
}

void EndToEndTest::spawnModeStoppedByEsc() {
    Program p;
    prepareStamped(p, "s1\ns2\ns3\ns4\ns5");
    QVERIFY(p.start());
    pickFirstCollectionAndTemplate(p);
    p.click(kCheckSpawn.x(), kCheckSpawn.y());
    setDelay(p, "2");
    launch(p);
    QVERIFY(waitUntil([&] { return lines(p.read("spawn.txt")).size() == 2; }, 10000));

    // While the third server waits: a click on Run Later and typing into the delay box
    // change nothing; Esc stops the launch.
    p.click(kCheckSave.x(), kCheckSave.y());
    p.click(kDelayText.x(), kDelayText.y());
    desktop::type("9");
    p.keysToMain({"Escape"});
    QTest::qWait(3000);
    QCOMPARE(lines(p.read("spawn.txt")).size(), 2);
    QCOMPARE(launchFiles(p), (QStringList{"srvtemp.txt", "temp1.bat", "temp2.bat"}));
    QVERIFY2(p.read("logs/log.txt")
                 .endsWith("Not started: s3\nStopped by the user after 2 of 5 servers.\n" +
                           QByteArray(67, '-') + "\n"),
             p.read("logs/log.txt").constData());

    // The same launch again: still Spawn Mode with a delay of 2, the first server after
    // one pause, as the counter stands above 1.
    const double before = lines(p.read("spawn.txt")).size();
    launch(p);
    QVERIFY(waitUntil([&] { return lines(p.read("spawn.txt")).size() == before + 1; }, 6000));
    QVERIFY(p.read("logs/log.txt").contains("Corvane (SPAWN-MODE) launched"));
    p.keysToMain({"Escape"});
    QVERIFY(p.running());
}

void EndToEndTest::doubleClickOnStopLaunchesNothing() {
    Program p;
    prepare(p, "s1\ns2\ns3\ns4\ns5\n");
    QVERIFY(p.start());
    pickFirstCollectionAndTemplate(p);
    p.click(kCheckSpawn.x(), kCheckSpawn.y());
    setDelay(p, "1");
    launch(p);
    QVERIFY(waitUntil([&] { return lines(p.read("out.txt")).size() == 2; }, 10000));
    // A user's double click on STOP: the first click stops the launch, and what follows
    // it, also once the launch has ended, must not launch again.
    desktop::moveTo(p.origin().x() + kRunCommand.x(), p.origin().y() + kRunCommand.y());
    desktop::run({"click", "--repeat", "2", "--delay", "120", "1"});
    QTest::qWait(3000);
    const QByteArray log = p.read("logs/log.txt");
    QCOMPARE(log.count("Corvane (SPAWN-MODE) launched"), 1);
    QVERIFY2(log.contains("Stopped by the user after "), log.constData());
    QVERIFY2(lines(p.read("out.txt")).size() <= 3, p.read("out.txt").constData());
    QVERIFY(p.running());

    // Later, a click launches as always.
    launch(p);
    QVERIFY(waitUntil([&] { return p.read("logs/log.txt").count("launched") == 2; }));
    p.keysToMain({"Escape"});
}

void EndToEndTest::runLaterSavesWithoutRunning() {
    Program p;
    prepare(p);
    QVERIFY(p.start());
    pickFirstCollectionAndTemplate(p);
    p.click(kCheckSave.x(), kCheckSave.y());
    launch(p);
    answerMessage(p, "Corvane");
    QVERIFY(p.exists("run_later_1.bat"));
    QCOMPARE(lines(p.read("run_later_1.bat")).size(), 3);
    QTest::qWait(1000);
    QVERIFY(!p.exists("out.txt"));
    QCOMPARE(p.files("temp"), QStringList{"srvtemp.txt"});
    QVERIFY(p.running());
}

void EndToEndTest::modeWarning() {
    Program p;
    prepare(p);
    QVERIFY(p.start());
    pickFirstCollectionAndTemplate(p);
    p.click(kCheckSpawn.x(), kCheckSpawn.y());
    p.click(kCheckSave.x(), kCheckSave.y());
    answerMessage(p, "Warning!");
    // Run Later is in force and Spawn Mode was cleared: the launch saves for later.
    launch(p);
    answerMessage(p, "Corvane");
    QVERIFY(p.exists("run_later_1.bat"));
    QCOMPARE(p.files("temp"), QStringList{"srvtemp.txt"});
}

void EndToEndTest::toolsMenuByAccessKeys() {
    Program p;
    QVERIFY(p.start());
    p.write("temp/temp7.bat", "x");
    p.write("temp/notes.txt", "x");
    p.keysToMain({"alt+t", "c"});
    QVERIFY(waitUntil([&] { return p.files("temp").isEmpty(); }));
    QVERIFY(p.running());

    p.write("temp/temp8.bat", "x");
    p.keysToMain({"alt+t", "x"});
    QVERIFY(p.waitForExit(10000));
    QCOMPARE(p.exitCode(), 0);
    QCOMPARE(p.files("temp"), QStringList{});
}

void EndToEndTest::aboutWindow() {
    Program p;
    QVERIFY(p.start());
    p.keysToMain({"alt+a"});
    const qulonglong about = p.waitForOtherWindow("About Corvane");
    QVERIFY2(about, "no About window appeared");
    const QRect rect = desktop::windowGeometry(about);
    QCOMPARE(rect, QRect(156, 129, 400, 300));
    const QImage shot = desktop::grab(rect);
    QVERIFY(near(shot.pixel(160 + 8, 216 + 4), QColor(128, 0, 0)));  // Close
    QVERIFY(near(shot.pixel(8 + 8, 256 + 6), QColor(128, 0, 0)));    // first web button
    saveScreenshot(shot, "about-window.png");

    p.keysTo(about, {"Escape"});
    QVERIFY(p.windowGone(about));
    QVERIFY(p.running());
    p.keysToMain({"alt+a"});
    QVERIFY(p.waitForOtherWindow("About Corvane"));
}

void EndToEndTest::badInputThenFixed() {
    Program p;
    prepare(p, "alpha\n");
    QVERIFY(p.start());
    pickFirstCollectionAndTemplate(p);
    setDelay(p, "abc");
    launch(p);
    answerMessage(p, "Corvane");
    QVERIFY(p.running());
    QVERIFY(!p.exists("logs/log.txt"));

    setDelay(p, "0");
    launch(p);
    QVERIFY(waitUntil([&] { return lines(p.read("out.txt")).size() == 1; }));

    QDir(p.path("logs")).removeRecursively();
    launch(p);
    answerMessage(p, "Corvane");
    QVERIFY(p.running());
    QVERIFY(!p.exists("logs"));
    QDir(p.path(".")).mkdir("logs");
    launch(p);
    QVERIFY(waitUntil([&] { return lines(p.read("out.txt")).size() == 2; }));
    QVERIFY(p.exists("logs/log.txt"));
}

void EndToEndTest::missingCollectionsFolder() {
    Program p({"scripts", "temp", "logs"});
    QVERIFY(p.launch());
    answerMessage(p, "Corvane");
    QVERIFY(p.waitForExit(10000));
    QVERIFY(p.exitCode() != 0);
    QVERIFY(!p.exists("collections"));
}

void EndToEndTest::noDisplayOneLine_data() {
    QTest::addColumn<QString>("display");
    QTest::newRow("none named") << QString();
    QTest::newRow("one that is not there") << QStringLiteral(":987");
}

void EndToEndTest::noDisplayOneLine() {
    QFETCH(QString, display);
    Program p;
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    if (!display.isEmpty())
        environment.insert(QStringLiteral("DISPLAY"), display);
    program.setProcessEnvironment(environment);
    program.start(p.path("corvane"), {QStringLiteral("--ignored-argument")});
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 1);
    const QStringList said =
        QString::fromLocal8Bit(program.readAllStandardError()).split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(said.size(), 1);
    QVERIFY(said[0].contains("DISPLAY") && said[0].contains("WAYLAND_DISPLAY"));
    QCOMPARE(p.files("temp"), QStringList{});  // nothing touched
}

void EndToEndTest::secondProgramInTheSameFolder() {
    Program first;
    prepare(first);
    QVERIFY(first.start());
    first.write("temp/temp1.bat", "echo pending\n");  // a batch file the first still needs

    Program second(Program::SameFolder{first});
    QVERIFY(second.launch());
    answerMessage(second, "Corvane");
    QVERIFY(second.waitForExit(10000));
    QCOMPARE(second.exitCode(), 1);
    QVERIFY(first.running());
    QCOMPARE(first.read("temp/temp1.bat"), QByteArray("echo pending\n"));

    // Once the first has ended, the folder is free again.
    first.keysToMain({"alt+t", "x"});
    QVERIFY(first.waitForExit(10000));
    Program third(Program::SameFolder{first});
    QVERIFY(third.start());
}

void EndToEndTest::terminalWindowWhenInstalled() {
    Program p;
    prepare(p, "alpha\n");
    // A stand-in terminal: notes how it was asked to run the batch file, then runs it.
    QDir(p.path(".")).mkdir("bin");
    p.write("bin/x-terminal-emulator", "#!/bin/sh\necho \"$@\" >> '" +
                                           p.path("terminal.log").toUtf8() +
                                           "'\nshift 3\nexec \"$@\"\n");
    QFile::setPermissions(p.path("bin/x-terminal-emulator"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    p.setExtraPath(p.path("bin"));
    QVERIFY(p.start());
    pickFirstCollectionAndTemplate(p);
    launch(p);
    QVERIFY(waitUntil([&] { return lines(p.read("out.txt")).size() == 1; }));
    // Titled, and run under the recorder, which keeps what the batch file showed.
    QVERIFY2(
        p.read("terminal.log").startsWith("-T corvane: temp1.bat (1 server) -e /usr/bin/script "),
        p.read("terminal.log").constData());
    QVERIFY(p.read("terminal.log").contains(p.path("temp/temp1.bat").toUtf8()));
    QVERIFY(waitUntil([&] { return recorded(p, 1, "status") == "0\n"; }));
}

void EndToEndTest::xtermShowsTheRunsTitle() {
    Program p;
    p.write("collections/a-one.txt", "alpha\n");
    p.write("scripts/wait.txt", "sleep 4\n");
    // xterm and nothing else a terminal could be found as; and sleep for the batch file.
    QDir(p.path(".")).mkdir("bin");
    QFile::link(QStringLiteral("/usr/bin/xterm"), p.path("bin/xterm"));
    QFile::link(QStringLiteral("/bin/sleep"), p.path("bin/sleep"));
    p.setExtraPath(p.path("bin"));
    QVERIFY(p.start());
    pickFirstCollectionAndTemplate(p);
    p.click(kCheckSpawn.x(), kCheckSpawn.y());
    launch(p);
    QVERIFY(waitUntil([] {
        return !desktop::run({"search", "--name", "^corvane: alpha \\(temp1\\.bat\\)$"}).isEmpty();
    }));
}

void EndToEndTest::resultsAndRetryFailed() {
    Program p;
    p.write("collections/a-three.txt", "alpha\nbeta\ngamma\n");
    p.write("scripts/fail-beta.txt", "echo %s >> '" + p.path("out.txt").toUtf8() +
                                         "'\n[ %s = beta ] && exit 2\necho done with %s\n");
    QVERIFY(p.start());
    pickFirstCollectionAndTemplate(p);
    p.click(kCheckSpawn.x(), kCheckSpawn.y());
    launch(p);
    QVERIFY(waitUntil([&] {
        return recorded(p, 1, "status") != "<missing>" && recorded(p, 2, "status") != "<missing>" &&
               recorded(p, 3, "status") != "<missing>";
    }));
    QCOMPARE(recorded(p, 2, "status"), QByteArray("2\n"));
    QVERIFY(recorded(p, 3, "out").contains("done with gamma"));

    // Alt+R opens Results; there Alt+R puts the failed server into the collection box.
    QVERIFY(waitUntil([&] { return lines(p.read("out.txt")).size() == 3; }));
    p.keysToMain({"alt+r"});
    const qulonglong results = p.waitForOtherWindow("Results");
    QVERIFY2(results, "the Results window did not open");
    p.keysTo(results, {"alt+r"});
    p.keysTo(results, {"Escape"});
    QVERIFY(p.windowGone(results));
    launch(p);
    QVERIFY(waitUntil([&] { return lines(p.read("out.txt")).size() == 4; }));
    QTest::qWait(500);
    QCOMPARE(lines(p.read("out.txt")).size(), 4);
    QCOMPARE(lines(p.read("out.txt")).last(), QStringLiteral("beta"));
}

// Six servers, two outputs: grouped, they are two rows of folded names; the filter keeps
// the failed; Copy servers gives their names to whatever is pasted into next.
void EndToEndTest::resultsGroupedFilteredCopied() {
    Program p;
    p.write("collections/a-six.txt", "s1\ns2\ns3\ns4\ns5\ns6\n");
    p.write("scripts/version.txt",
            "case %s in s2|s5) echo 'nginx 1.22'; exit 1;; *) echo 'nginx 1.24';; esac\n");
    p.write("corvane.ini", "[launch]\nterminals=false\n");
    QVERIFY(p.start());
    pickFirstCollectionAndTemplate(p);
    p.click(kCheckSpawn.x(), kCheckSpawn.y());
    launch(p);
    QVERIFY(waitUntil([&] { return recorded(p, 6, "status") != "<missing>"; }));
    p.keysToMain({"alt+r"});
    const qulonglong results = p.waitForOtherWindow("Results");
    QVERIFY2(results, "the Results window did not open");
    // As xclip gives it, trimmed.
    auto clipboard = [] { return toolOutput("xclip", {"-o", "-selection", "clipboard"}); };
    // Ctrl+C copies the selected row's first cell: its servers.
    auto rowsShown = [&] {
        QStringList rows;
        desktop::keys({"ctrl+Home"});
        for (int row = 0; row < 4; ++row) {
            desktop::keys({"ctrl+c"});
            const QString copied = clipboard();
            if (!rows.isEmpty() && rows.last() == copied)
                break;  // the last row
            rows += copied;
            desktop::keys({"Down"});
        }
        return rows;
    };
    // The states become known within a refresh; Alt+G groups, Tab Tab reaches the rows.
    QTest::qWait(1200);
    p.keysTo(results, {"alt+g", "Tab", "Tab"});
    QCOMPARE(rowsShown(), (QStringList{"s[1,3-4,6]", "s[2,5]"}));
    // Show: Failed (the second entry) keeps the failed group; Alt+C copies its servers.
    p.keysTo(results, {"alt+w", "Down", "alt+c"});
    QCOMPARE(clipboard(), QStringLiteral("s2\ns5"));
    p.keysTo(results, {"alt+g", "alt+c"});
    QCOMPARE(clipboard(), QStringLiteral("s2\ns5"));
    p.keysTo(results, {"alt+w", "Up", "alt+c"});
    QCOMPARE(clipboard(), QStringLiteral("s1\ns2\ns3\ns4\ns5\ns6"));
    p.keysTo(results, {"Escape"});
    QVERIFY(p.windowGone(results));
}

// 40 servers, 4 at once, two of them failing: the status bar's progress bar fills as they
// end; Results shows a cell for each server in collection order, and a click on a failed
// cell selects that server's row.
void EndToEndTest::progressAndGridOfAFleet() {
    Program p;
    QByteArray servers;
    for (int i = 1; i <= 40; ++i)
        servers += QStringLiteral("s%1\n").arg(i, 2, 10, QLatin1Char('0')).toLatin1();
    p.write("collections/a-fleet.txt", servers);
    p.write("scripts/slow.txt", "sleep 0.4\ncase %s in s07|s23) exit 3;; esac\n");
    p.write("corvane.ini", "[launch]\nterminals=false\nmaxRunning=4\n");
    QDir(p.path(".")).mkpath("bin");
    QFile::link(QStringLiteral("/bin/sleep"), p.path("bin/sleep"));
    p.setExtraPath(p.path("bin"));
    QVERIFY(p.start());
    pickFirstCollectionAndTemplate(p);
    p.click(kCheckSpawn.x(), kCheckSpawn.y());
    setDelay(p, "0");

    // The bar's filled part: the columns of its middle row in the highlight's blue.
    const QRect bar(p.origin() + QPoint(0, 366), QSize(200, 22));
    auto filled = [&bar] {
        const QImage shot = desktop::grab(bar);
        int columns = 0;
        for (int x = 0; x < shot.width(); ++x) {
            const QRgb pixel = shot.pixel(x, shot.height() / 2);
            columns += qBlue(pixel) - qRed(pixel) > 60 ? 1 : 0;
        }
        return columns;
    };
    QCOMPARE(filled(), 0);
    launch(p);
    QList<int> seen;
    QVERIFY(waitUntil(
        [&] {
            seen.append(filled());
            return recorded(p, 40, "status") != "<missing>";
        },
        30000));
    QTest::qWait(300);
    seen.append(filled());
    const QByteArray told = QDebug::toString(seen).toUtf8();
    QVERIFY2(std::is_sorted(seen.begin(), seen.end()), told.constData());
    QVERIFY2(QSet<int>(seen.begin(), seen.end()).size() >= 4, told.constData());
    QVERIFY2(seen.last() >= 150, told.constData());  // full, as the launch has ended

    p.keysToMain({"alt+r"});
    const qulonglong results = p.waitForOtherWindow("Results");
    QVERIFY2(results, "the Results window did not open");
    QTest::qWait(600);
    const QRect area = desktop::windowGeometry(results);
    const QImage shot = desktop::grab(area);
    saveScreenshot(shot, "grid.png");
    const QColor ok(0x00, 0x9E, 0x73), failed(0xD5, 0x5E, 0x00);
    // The grid's first cell is the topmost, leftmost pixel in a state's colour.
    QPoint first(-1, -1);
    for (int y = 0; y < shot.height() && first.x() < 0; ++y) {
        for (int x = 0; x < shot.width(); ++x) {
            if (near(shot.pixel(x, y), ok) || near(shot.pixel(x, y), failed)) {
                first = QPoint(x, y);
                break;
            }
        }
    }
    QVERIFY(first.x() >= 0);
    // Cells 10 pixels apart, row by row; each cell's top left corner carries no mark.
    QString cells;
    int columns = 0;
    for (int row = 0;; ++row) {
        QString line;
        for (int x = first.x(); x < shot.width(); x += 10) {
            const QRgb corner = shot.pixel(x, first.y() + row * 10);
            if (!near(corner, ok) && !near(corner, failed))
                break;
            line += near(corner, ok) ? 'o' : 'x';
        }
        if (line.isEmpty())
            break;
        columns = std::max(columns, int(line.size()));
        cells += line;
    }
    QCOMPARE(cells, QString(6, 'o') + 'x' + QString(15, 'o') + 'x' + QString(17, 'o'));

    // A click on s23's cell selects its row; Ctrl+C copies the row's servers.
    const QPoint cell =
        area.topLeft() + first + QPoint((22 % columns) * 10 + 4, (22 / columns) * 10 + 4);
    desktop::click(cell.x(), cell.y());
    desktop::keys({"ctrl+c"});
    QCOMPARE(toolOutput("xclip", {"-o", "-selection", "clipboard"}), QStringLiteral("s23"));
    p.keysTo(results, {"Escape"});
    QVERIFY(p.windowGone(results));
}

void EndToEndTest::optionsKeptAcrossARestart() {
    QSettings::Format ini = QSettings::IniFormat;
    {
        Program p;
        QVERIFY(p.start());
        p.keysToMain({"alt+o"});
        const qulonglong dialog = p.waitForOtherWindow("Options");
        QVERIFY2(dialog, "the Options dialog did not open");
        // The first spin box has the focus; Tab goes on to the time limit, then the box.
        desktop::keys({"ctrl+a"});
        desktop::type("3");
        desktop::keys({"Tab", "ctrl+a"});
        desktop::type("90");
        desktop::keys({"Tab", "space", "Return"});
        QVERIFY(p.windowGone(dialog));
        const QSettings saved(p.path("corvane.ini"), ini);
        QCOMPARE(saved.value("launch/maxRunning").toInt(), 3);
        QCOMPARE(saved.value("launch/timeoutSeconds").toInt(), 90);
        QCOMPARE(saved.value("launch/terminals").toString(), QStringLiteral("false"));

        // Started again in the same folder, the dialog shows what the file holds: OK
        // writes it back unchanged, Esc writes nothing.
        p.keysToMain({"alt+t", "x"});
        QVERIFY(p.waitForExit(10000));
        Program again(Program::SameFolder{p});
        QVERIFY(again.start());
        QFile::remove(p.path("corvane.ini"));
        again.keysToMain({"alt+o"});
        const qulonglong reopened = again.waitForOtherWindow("Options");
        QVERIFY(reopened);
        again.keysTo(reopened, {"Escape"});
        QVERIFY(again.windowGone(reopened));
        QVERIFY(!QFileInfo::exists(p.path("corvane.ini")));
        again.keysToMain({"alt+o"});
        const qulonglong third = again.waitForOtherWindow("Options");
        QVERIFY(third);
        again.keysTo(third, {"Return"});
        QVERIFY(again.windowGone(third));
        const QSettings kept(p.path("corvane.ini"), ini);
        QCOMPARE(kept.value("launch/maxRunning").toInt(), 3);
        QCOMPARE(kept.value("launch/timeoutSeconds").toInt(), 90);
        QCOMPARE(kept.value("launch/terminals").toString(), QStringLiteral("false"));
    }
}

// A session as an administrator has it, saved for later so that nothing runs; it is
// also the picture of the main window in the README.
void EndToEndTest::savedSessionAsShown() {
    Program p;
    p.write("collections/web-servers.txt", "web01\nweb02\nweb03\nweb04\n");
    p.write("collections/database-servers.txt", "db01\ndb02\n");
    p.write("scripts/ping.txt", "ping -c 1 %s");
    QVERIFY(p.start());
    pickFirstCollectionAndTemplate(p);
    p.click(kFirstCollection.x(), kFirstCollection.y() + 13);  // the second row
    p.click(kCheckSave.x(), kCheckSave.y());
    launch(p);
    answerMessage(p, "Corvane");
    QCOMPARE(
        p.read("run_later_1.bat"),
        QByteArray("\nping -c 1 web01\n\nping -c 1 web02\n\nping -c 1 web03\n\nping -c 1 web04\n"));
    const QRect frame = desktop::windowGeometry(p.mainWindow());
    saveScreenshot(desktop::grab(frame), "main-window.png");
}

int main(int argc, char* argv[]) {
    for (const char* tool : {"Xvfb", "openbox", "xdotool", "xwininfo", "xprop"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty()) {
            std::fprintf(stderr, "FAIL: %s is not installed\n", tool);
            return 1;
        }
    }
    XServer server;
    if (!server.start()) {
        std::fprintf(stderr, "FAIL: cannot start Xvfb with openbox\n");
        return 1;
    }
    qputenv("DISPLAY", server.display().toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    EndToEndTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_end_to_end.moc"
