#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QtTest>

#include "common/errors.h"
#include "common/text_file.h"
#include "desktop/desktop_platform.h"
#include "runs/output_follower.h"
#include "runs/run_list.h"
#include "runs/terminal_text.h"
#include "support/dead_process.h"
#include "support/temp_workspace.h"

namespace {

const QString kTag = QStringLiteral("t");

Run runOf(const TempWorkspace& ws, int launch, int number, LaunchMode mode,
          const QByteArray& servers, qsizetype count, qint64 startedPid = 0) {
    return Run{.launch = launch,
               .mode = mode,
               .batchPath = ws.workspace().tempBatch(number),
               .tag = kTag,
               .startedPid = startedPid,
               .serverText = servers,
               .serverCount = count};
}

// What the recorder of temp<number>.bat leaves, in this test's program run.
QString recordOf(int number, const char* suffix) {
    return QStringLiteral("temp/temp%1.t.%2").arg(number).arg(QLatin1String(suffix));
}

// The batch file `number` started on the real recorder, noted in `runs`.
void startRecorded(DesktopPlatform& platform, RunList& runs, const TempWorkspace& ws, int number,
                   const QByteArray& script) {
    ws.write(QStringLiteral("temp/temp%1.bat").arg(number), script);
    Run run{runs.beginLaunch(), QDateTime(), LaunchMode::Spawn, ws.workspace().tempBatch(number),
            runs.tag(),         0,           "alpha",           1};
    run.startedPid = platform.startBatch(
        BatchStart{run.batchPath, QString(), run.outputPath(), run.statusPath(), run.pidPath()});
    runs.add(std::move(run));
}

QString stateText(RunList& runs, qsizetype index) {
    return runs.state(index).text();
}

}  // namespace

class RunsTest : public QObject {
    Q_OBJECT

  private slots:
    void spawnLaunchStatesAndRetry();
    void failedNormalLaunchRetriesAll();
    void retryLeavesRunningRunsOut();
    void cleanUpKeepsRows();
    void terminalThatNeverRanTheBatchFile();
    void earlierProgramRunsRecorderIsNotRead();
    void terminalText_data();
    void terminalText();
    void terminalTextPieceByPiece();
    void largeOutputShowsItsEnd();
    void followerReadsOnlyWhatWasAdded();
    void savedOutputIsTheWholeOutput();
    void failedSaveLeavesTheOldFile();
    void savingCleanedUpOutputSaysSo();
};

void RunsTest::spawnLaunchStatesAndRetry() {
    TempWorkspace ws;
    RunList runs(kTag);
    const int launch = runs.beginLaunch();
    const QStringList servers{"alpha", "beta", "gamma"};
    for (int i = 0; i < 3; ++i) {
        runs.add(runOf(ws, launch, i + 1, LaunchMode::Spawn, servers[i].toUtf8(), 1));
        ws.write(recordOf(i + 1, "out"), "output\n");
        ws.write(recordOf(i + 1, "pid"), QByteArray::number(i == 2 ? deadProcessId() : getpid()));
    }
    QCOMPARE(stateText(runs, 0), QStringLiteral("running"));  // its recorder is alive
    // A status file being written, still empty, while the recorder lives.
    ws.write(recordOf(1, "status"), "");
    QCOMPARE(stateText(runs, 0), QStringLiteral("running"));
    ws.write(recordOf(1, "status"), "0\n");
    ws.write(recordOf(2, "status"), "2\n");
    QCOMPARE(stateText(runs, 0), QStringLiteral("exit 0"));
    QCOMPARE(stateText(runs, 1), QStringLiteral("exit 2"));
    QCOMPARE(stateText(runs, 2), QStringLiteral("ended, status unknown"));
    QCOMPARE(runs.retry(launch).servers, (QStringList{"beta", "gamma"}));

    // A status that holds no number, from a recorder that has gone, tells nothing.
    runs.add(runOf(ws, launch, 4, LaunchMode::Spawn, "delta", 1));
    ws.write(recordOf(4, "pid"), QByteArray::number(deadProcessId()));
    ws.write(recordOf(4, "status"), "garbage");
    QCOMPARE(stateText(runs, 3), QStringLiteral("ended, status unknown"));
}

void RunsTest::failedNormalLaunchRetriesAll() {
    TempWorkspace ws;
    RunList runs(kTag);
    const int first = runs.beginLaunch();
    runs.add(runOf(ws, first, 1, LaunchMode::Normal, "web1\n\nweb2\r\nweb3\n", 3));
    const int second = runs.beginLaunch();
    runs.add(runOf(ws, second, 2, LaunchMode::Normal, "db1\n", 1));
    ws.write(recordOf(1, "out"), "");
    ws.write(recordOf(1, "status"), "255\n");
    ws.write(recordOf(2, "out"), "");
    ws.write(recordOf(2, "status"), "0\n");
    QCOMPARE(runs.retry(first).servers, (QStringList{"web1", "web2", "web3"}));
    QCOMPARE(runs.retry(second).servers, QStringList{});
}

void RunsTest::retryLeavesRunningRunsOut() {
    TempWorkspace ws;
    RunList runs(kTag);
    const int launch = runs.beginLaunch();
    const QByteArray alive = QByteArray::number(getpid());
    for (int i = 1; i <= 4; ++i) {
        runs.add(runOf(ws, launch, i, LaunchMode::Spawn, "s" + QByteArray::number(i), 1));
        ws.write(recordOf(i, "pid"), alive);
    }
    ws.write(recordOf(1, "status"), "0\n");
    ws.write(recordOf(3, "status"), "1\n");
    const RunList::Retry retry = runs.retry(launch);
    QCOMPARE(retry.running, 2);
    QCOMPARE(retry.servers, QStringList{"s3"});
    ws.write(recordOf(2, "status"), "0\n");
    ws.write(recordOf(4, "status"), "0\n");
    ws.write(recordOf(3, "status"), "0\n");  // read once: what it ended as stays
    QCOMPARE(runs.retry(launch).running, 0);
    QCOMPARE(runs.retry(launch).servers, QStringList{"s3"});
}

void RunsTest::cleanUpKeepsRows() {
    TempWorkspace ws;
    RunList runs(kTag);
    const int launch = runs.beginLaunch();
    runs.add(runOf(ws, launch, 1, LaunchMode::Spawn, "alpha", 1));
    runs.add(runOf(ws, launch, 2, LaunchMode::Spawn, "beta", 1));
    for (int i = 1; i <= 2; ++i)
        ws.write(recordOf(i, "out"), "x\n");
    ws.write(recordOf(1, "status"), "0\n");
    ws.write(recordOf(2, "status"), "1\n");
    runs.noteStatesBeforeCleanUp();  // as the clean-up does first
    ws.removeFolder("temp");
    ws.makeFolder("temp");
    QCOMPARE(runs.runs().size(), 2);
    QCOMPARE(stateText(runs, 0), QStringLiteral("output cleaned up"));
    QCOMPARE(stateText(runs, 1), QStringLiteral("output cleaned up"));
    QCOMPARE(runs.output(1), QString());
    // What they ended as still decides a retry.
    QCOMPARE(runs.retry(launch).servers, QStringList{"beta"});

    // A run started after the clean-up has files of its own again.
    runs.add(runOf(ws, launch, 3, LaunchMode::Spawn, "gamma", 1));
    ws.write(recordOf(3, "out"), "x\n");
    ws.write(recordOf(3, "status"), "0\n");
    QCOMPARE(stateText(runs, 2), QStringLiteral("exit 0"));
}

void RunsTest::terminalThatNeverRanTheBatchFile() {
    TempWorkspace ws;
    RunList runs(kTag);
    const int launch = runs.beginLaunch();
    // The started terminal has ended, and no recorder ever left a trace.
    runs.add(runOf(ws, launch, 1, LaunchMode::Spawn, "alpha", 1, deadProcessId()));
    QCOMPARE(stateText(runs, 0), QStringLiteral("not run: its terminal ended without running it"));
    QCOMPARE(runs.retry(launch).servers, QStringList{"alpha"});
    // A terminal that handed the run over and returned: the trace comes later.
    ws.write(recordOf(1, "pid"), QByteArray::number(getpid()));
    QCOMPARE(stateText(runs, 0), QStringLiteral("running"));
    // The terminal of a run still starting is alive.
    runs.add(runOf(ws, launch, 2, LaunchMode::Spawn, "beta", 1, getpid()));
    QCOMPARE(stateText(runs, 1), QStringLiteral("running"));
}

void RunsTest::earlierProgramRunsRecorderIsNotRead() {
    // A program run leaves runs going and ends; the next program run empties the temp
    // folder and numbers its batch files from 1 again. The earlier recorders write their
    // exit statuses while the new runs go, and after one of them has ended.
    TempWorkspace ws;
    DesktopPlatform platform(QStringLiteral("/bin/sh"), {});
    RunList earlier;
    const QByteArray started = "touch '" + ws.path("started").toUtf8() + "%1'\n";
    startRecorded(platform, earlier, ws, 1,
                  QString::fromUtf8(started).arg(1).toUtf8() + "sleep 1\nexit 7\n");
    startRecorded(platform, earlier, ws, 2,
                  QString::fromUtf8(started).arg(2).toUtf8() + "sleep 2\nexit 0\n");
    // Both earlier batch files have been read by their shells.
    QTRY_VERIFY_WITH_TIMEOUT(ws.exists("started1") && ws.exists("started2"), 5000);
    removeFilesIn(ws.path("temp"));

    RunList later;
    QVERIFY(later.tag() != earlier.tag());
    startRecorded(platform, later, ws, 1, "sleep 5\nexit 0\n");
    startRecorded(platform, later, ws, 2, "echo failing\nexit 3\n");
    // Until both earlier recorders have written, nothing of the later runs is read.
    QTRY_COMPARE_WITH_TIMEOUT(stateText(earlier, 0), QStringLiteral("exit 7"), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(stateText(earlier, 1), QStringLiteral("exit 0"), 10000);
    QCOMPARE(stateText(later, 0), QStringLiteral("running"));
    QTRY_COMPARE_WITH_TIMEOUT(stateText(later, 1), QStringLiteral("exit 3"), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(stateText(later, 0), QStringLiteral("exit 0"), 10000);
    QCOMPARE(later.retry(later.runs()[1].launch).servers, QStringList{"alpha"});
    QVERIFY(later.output(1).contains("failing"));
}

void RunsTest::terminalText_data() {
    QTest::addColumn<QByteArray>("recorded");
    QTest::addColumn<bool>("ended");
    QTest::addColumn<QString>("shown");
    const QByteArray done = "\nScript done on 2026-12-07 [COMMAND_EXIT_CODE=\"0\"]\n";
    QTest::newRow("recorder's lines")
        << QByteArray("Script started on 2026-12-07 [COMMAND=\"x\"]\nup 3 days\r\n") + done << true
        << "up 3 days\n";
    QTest::newRow("colours") << QByteArray("\x1b[1;31mFAILED\x1b[0m ok\r\n") << true
                             << "FAILED ok\n";
    QTest::newRow("window title") << QByteArray("\x1b]0;title\x07text\n") << true << "text\n";
    QTest::newRow("window title ended by ESC \\")
        << QByteArray("\x1b]2;title\x1b\\text\n") << true << "text\n";
    QTest::newRow("title without its end mark ends with the line")
        << QByteArray("\x1b]0;title\nline two\nline three\n") << true << "\nline two\nline three\n";
    QTest::newRow("character set selection")
        << QByteArray("\x1b(Bplain\x1b)0 text\x1b#8\n") << true << "plain text\n";
    QTest::newRow("keypad mode and cursor save") << QByteArray(
                                                        "\x1b=a\x1b>b\x1b"
                                                        "7c\x1b"
                                                        "8\n")
                                                 << true << "abc\n";
    QTest::newRow("device control string")
        << QByteArray("a\x1bPq#0;2;0\x1b\\b\n") << true << "ab\n";
    QTest::newRow("progress") << QByteArray("10%\r50%\r100%\r\n") << true << "100%\n";
    QTest::newRow("overwrite keeps the rest") << QByteArray("abcd\rXY\n") << true << "XYcd\n";
    QTest::newRow("backspace") << QByteArray("ab\bc\n") << true << "ac\n";
    QTest::newRow("no final line end") << QByteArray("partial") << true << "partial";
    QTest::newRow("command's own 'Script done on', running")
        << QByteArray("one\nScript done on Monday\nthree\n") << false
        << "one\nScript done on Monday\nthree\n";
    QTest::newRow("command's own 'Script done on' last, ended")
        << QByteArray("one\n\nScript done on Monday\n") + done << true
        << "one\n\nScript done on Monday\n";
    QTest::newRow("a trailer-like last line waits while the run goes")
        << QByteArray("one\nScript done on Monday\n") << false << "one\n";
    QTest::newRow("empty lines kept once ended") << QByteArray("one\n\n") << true << "one\n\n";
    QTest::newRow("one bad byte") << QByteArray("caf\xc3\xa9 \xff ok\n") << true
                                  << QString::fromUtf8("café \xef\xbf\xbd ok\n");
}

void RunsTest::terminalText() {
    QFETCH(QByteArray, recorded);
    QFETCH(bool, ended);
    QFETCH(QString, shown);
    QCOMPARE(TerminalText::of(recorded, ended), shown);
}

void RunsTest::terminalTextPieceByPiece() {
    // Cut anywhere, an escape sequence or a character still reads as in one piece.
    const QByteArray recorded =
        "Script started on x\n\x1b[1;31mred\x1b[0m caf\xc3\xa9\x1b]0;t\x07 \xe2\x82\xac\r\n"
        "100%\rdone\n\nScript done on y\n";
    const QString whole = TerminalText::of(recorded);
    QCOMPARE(whole, QString::fromUtf8("red café €\ndone\n"));
    for (qsizetype cut = 0; cut <= recorded.size(); ++cut) {
        TerminalText text;
        text.add(QByteArrayView(recorded).first(cut));
        QString shown = text.takeFinished();
        text.add(QByteArrayView(recorded).sliced(cut));
        shown += text.takeFinished() + text.heldBack(true) + text.currentLine();
        QCOMPARE(shown, whole);
    }
}

void RunsTest::largeOutputShowsItsEnd() {
    useTestLocale();
    TempWorkspace ws;
    RunList runs(kTag);
    runs.add(runOf(ws, runs.beginLaunch(), 1, LaunchMode::Spawn, "alpha", 1));
    // The cut falls inside a three-byte character: it is left out whole.
    QByteArray big(3 * 1024 * 1024 - 2, 'x');
    big += "\xe2\x82\xac";
    big += QByteArray(1024 * 1024 - 10 - 1, 'y');
    big += "\nlast line\n";
    ws.write(recordOf(1, "out"), big);
    const QString shown = runs.output(0);
    QVERIFY2(shown.startsWith("[3,145,729 bytes before this were left out]\ny"),
             qPrintable(shown.left(60)));
    QVERIFY(!shown.contains(QChar::ReplacementCharacter));
    QVERIFY(shown.endsWith("\nlast line\n"));
    QVERIFY(shown.size() < 1024 * 1024 + 100);
}

void RunsTest::followerReadsOnlyWhatWasAdded() {
    useTestLocale();
    TempWorkspace ws;
    const QString path = ws.path("temp/run.out");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    OutputFollower follower(path, 100);
    file.write("Script started on x\none\ntw");
    std::optional<OutputFollower::Change> change = follower.look(false);
    QVERIFY(change && change->restart);
    QCOMPARE(change->added, QStringLiteral("one\n"));
    QCOMPARE(change->tail, QStringLiteral("tw"));
    QVERIFY(!follower.look(false));  // nothing added, nothing to do

    file.write("o\nthree\rTHREE");
    change = follower.look(false);
    QVERIFY(change && !change->restart);
    QCOMPARE(change->added, QStringLiteral("two\n"));
    QCOMPARE(change->tail, QStringLiteral("THREE"));

    // More than is shown: it begins anew from the last half.
    file.write("\n" + QByteArray(60, 'a') + "\n" + QByteArray(30, 'b') + "\n");
    change = follower.look(false);
    QVERIFY(change && change->restart);
    QCOMPARE(change->added, QStringLiteral("[82 bytes before this were left out]\n") +
                                QString(18, u'a') + u'\n' + QString(30, u'b') + u'\n');
    QCOMPARE(change->tail, QString());

    // The end of the run takes the recorder's trailer away and shows nothing more.
    file.write("\nScript done on y\n");
    change = follower.look(false);
    QVERIFY(change && !change->restart && change->added.isEmpty() && change->tail.isEmpty());
    change = follower.look(true);
    QVERIFY(change && change->added.isEmpty() && change->tail.isEmpty());
}

void RunsTest::savedOutputIsTheWholeOutput() {
    TempWorkspace ws;
    RunList runs(kTag);
    runs.add(runOf(ws, runs.beginLaunch(), 1, LaunchMode::Spawn, "alpha", 1));
    ws.write(recordOf(1, "pid"), QByteArray::number(deadProcessId()));
    ws.write(recordOf(1, "status"), "0\n");
    // Larger than the pieces it is copied in, a character across each cut.
    QByteArray recorded = "Script started on x\n";
    for (int i = 0; recorded.size() < 1024 * 1024; ++i)
        recorded += "line " + QByteArray::number(i) + " \xe2\x82\xac\x1b[0m\r\n";
    recorded += "\nScript done on y\n";
    ws.write(recordOf(1, "out"), recorded);
    QTemporaryDir elsewhere;
    const QString saved = elsewhere.filePath("saved.txt");
    runs.saveOutput(0, saved);
    QFile file(saved);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(file.readAll()), TerminalText::of(recorded));
}

void RunsTest::failedSaveLeavesTheOldFile() {
    TempWorkspace ws;
    RunList runs(kTag);
    runs.add(runOf(ws, runs.beginLaunch(), 1, LaunchMode::Spawn, "alpha", 1));
    ws.write(recordOf(1, "out"), QByteArray(512 * 1024, 'x') + "\n");
    QTemporaryDir elsewhere;
    const QString saved = elsewhere.filePath("saved.txt");
    {
        QFile old(saved);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("the old file\n");
    }
    // A disk that takes no more than 64 KiB of a file.
    const sighandler_t usual = signal(SIGXFSZ, SIG_IGN);
    rlimit before{};
    getrlimit(RLIMIT_FSIZE, &before);
    rlimit small = before;
    small.rlim_cur = 64 * 1024;
    setrlimit(RLIMIT_FSIZE, &small);
    QString message;
    try {
        runs.saveOutput(0, saved);
    } catch (const OperationError& error) {
        message = error.message();
    }
    setrlimit(RLIMIT_FSIZE, &before);
    signal(SIGXFSZ, usual);
    QVERIFY2(message.startsWith("Cannot save the output as " + saved + ": "), qPrintable(message));
    QFile old(saved);
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), QByteArray("the old file\n"));
    QCOMPARE(QDir(elsewhere.path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{"saved.txt"});
}

void RunsTest::savingCleanedUpOutputSaysSo() {
    TempWorkspace ws;
    RunList runs(kTag);
    runs.add(runOf(ws, runs.beginLaunch(), 1, LaunchMode::Spawn, "alpha", 1));
    QTemporaryDir elsewhere;
    const QString saved = elsewhere.filePath("saved.txt");
    try {
        runs.saveOutput(0, saved);
        QFAIL("an output that is gone was saved");
    } catch (const OperationError& error) {
        QCOMPARE(error.message(), QStringLiteral("There is no output of temp1.bat to save: it was "
                                                 "cleaned up from the temp folder, or the run "
                                                 "never began."));
    }
    QVERIFY(!QFileInfo::exists(saved));
}

QTEST_GUILESS_MAIN(RunsTest)
#include "test_runs.moc"
