#include <signal.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QtTest>

#include "common/errors.h"
#include "common/text_file.h"
#include "desktop/desktop_platform.h"
#include "runs/launch_report.h"
#include "runs/launch_results.h"
#include "runs/name_ranges.h"
#include "runs/output_diff.h"
#include "runs/output_follower.h"
#include "runs/results_history.h"
#include "runs/run_list.h"
#include "runs/run_tracker.h"
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
    return runs.look(index).text();
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
    void foldedNames_data();
    void foldedNames();
    void groupsOfALaunch();
    void summaryCountsServers();
    void diffOfOutputs_data();
    void diffOfOutputs();
    void historyOutlivesTheProgram();
    void historyKeepsTheNewestLaunches();
    void changesAreWrittenInGroups_data();
    void changesAreWrittenInGroups();
    void busyHistoryDelaysOnlyTheWriting_data();
    void busyHistoryDelaysOnlyTheWriting();
    void earlierLayoutsAreMigrated_data();
    void earlierLayoutsAreMigrated();
    void killedWriterLeavesASoundHistory();
    void unreadableHistoryIsRenamedAside();
    void trackerTellsEachChangeOnce_data();
    void trackerTellsEachChangeOnce();
    void reportsOfALaunch_data();
    void reportsOfALaunch();
    void progressOfALaunch_data();
    void progressOfALaunch();
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

    // A process the program started that has ended, not yet collected, has ended: the
    // signal still reaches it, but its end is not held up until it is collected.
    const pid_t ended = fork();
    if (ended == 0)
        _exit(0);
    siginfo_t info{};
    QCOMPARE(waitid(P_PID, ended, &info, WEXITED | WNOWAIT), 0);  // ended, left uncollected
    runs.add(runOf(ws, launch, 5, LaunchMode::Spawn, "epsilon", 1, ended));
    ws.write(recordOf(5, "pid"), QByteArray::number(ended));
    ws.write(recordOf(5, "status"), "0\n");
    QCOMPARE(stateText(runs, 4), QStringLiteral("exit 0"));
    QCOMPARE(waitpid(ended, nullptr, 0), ended);  // and left for its starter to collect
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
    runs.lookAtRunning();
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
    runs.lookAtRunning();
    const RunList::Retry retry = runs.retry(launch);
    QCOMPARE(retry.running, 2);
    QCOMPARE(retry.servers, QStringList{"s3"});
    ws.write(recordOf(2, "status"), "0\n");
    ws.write(recordOf(4, "status"), "0\n");
    ws.write(recordOf(3, "status"), "0\n");  // read once: what it ended as stays
    runs.lookAtRunning();
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

void RunsTest::foldedNames_data() {
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("folded");
    QStringList web;
    for (int i = 1; i <= 297; ++i) {
        if (i != 42 && i != 100)
            web += QStringLiteral("web%1").arg(i, 3, 10, QChar(u'0'));
    }
    QTest::newRow("297 with two holes") << web << "web[001-041,043-099,101-297]";
    QTest::newRow("widths without padding") << QStringList{"n10", "n9", "n11", "n8"} << "n[8-11]";
    QTest::newRow("padded and not") << QStringList{"n9", "n010", "n011"} << "n[9,010-011]";
    QTest::newRow("padding across a power of ten")
        << QStringList{"db098", "db099", "db100", "db101"} << "db[098-101]";
    QTest::newRow("no numbers") << QStringList{"alpha", "beta"} << "alpha, beta";
    QTest::newRow("one of a stem") << QStringList{"web7", "mail"} << "web7, mail";
    QTest::newRow("suffix kept") << QStringList{"web1.example.com", "web2.example.com",
                                                "web3.example.org"}
                                 << "web[1-2].example.com, web3.example.org";
    QTest::newRow("IPv4 addresses")
        << QStringList{"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.1.1", "10.0.0.9"}
        << "10.0.0.[1-3,9], 10.0.1.1";
    QTest::newRow("duplicates") << QStringList{"web2", "web1", "web2", "app", "app"}
                                << "web[1-2], app";
    QTest::newRow("none") << QStringList{} << "";
}

void RunsTest::foldedNames() {
    QFETCH(QStringList, names);
    QFETCH(QString, folded);
    QCOMPARE(foldServerNames(names), folded);
}

namespace {

// A launch of runs that have ended (or not), their outputs as their recorders left them,
// written to `history`: what Results reads back.
struct RecordedLaunch {
    struct Ending {
        const char* server;
        QByteArray output;
        int status;  // -1: still running
    };
    RecordedLaunch(const TempWorkspace& ws, RunList& runs, ResultsHistory& history,
                   const QList<Ending>& endings, int firstNumber = 1) {
        number = runs.beginLaunch();
        for (int i = 0; i < endings.size(); ++i) {
            const int batch = firstNumber + i;
            runs.add(runOf(ws, number, batch, LaunchMode::Spawn, endings[i].server, 1));
            ws.write(recordOf(batch, "out"), "Script started on today\n" + endings[i].output);
            const bool running = endings[i].status < 0;
            ws.write(recordOf(batch, "pid"),
                     QByteArray::number(running ? getpid() : deadProcessId()));
            if (!running)
                ws.write(recordOf(batch, "status"), QByteArray::number(endings[i].status));
        }
        history.addLaunch(runs, number);
        runs.lookAtRunning();
        recordChanges(runs, history);
        history.writeNow();  // as the program does a moment later
    }
    int number = 0;
};

QStringList groupsText(const QList<BatchResult>& results) {
    QStringList text;
    for (const ResultGroup& group : groupResults(results)) {
        QStringList servers;
        for (qsizetype member : group.members)
            servers += results[member].servers();
        text += servers.join(',') + ": " + results[group.members.front()].state.text();
    }
    return text;
}

}  // namespace

void RunsTest::groupsOfALaunch() {
    TempWorkspace ws;
    RunList runs(kTag);
    ResultsHistory history(ws.workspace().historyFile());
    const QByteArray usual = "Linux 6.1.0\r\nactive\r\n";
    // Longer than what is kept and shown of them: they differ only in their first byte.
    QByteArray large;
    for (int line = 0; large.size() < 2200 * 1000; ++line)
        large += "line " + QByteArray::number(line) + "\n";
    const RecordedLaunch launch(ws, runs, history,
                                {{"c", "Linux 6.1.0\r\nactive", 0},  // no last line end
                                 {"a", usual, 0},
                                 {"d", usual, 3},  // same output, another exit status
                                 {"b", usual, 0},
                                 {"e", usual, 0},
                                 {"f", usual, -1},  // still running: its output changes
                                 {"g", usual, -1},
                                 {"h", "\x1b[32mLinux 6.1.0\x1b[0m\r\nactive\r\n", 0},
                                 {"i", "A" + large, 0},
                                 {"j", "B" + large, 0},
                                 {"k", "B" + large, 0}});
    const QList<BatchResult> results =
        history.results(history.idOf(launch.number), /*asEnded=*/false);
    QCOMPARE(groupsText(results),
             (QStringList{"a,b,e,h: exit 0", "j,k: exit 0", "c: exit 0", "d: exit 3", "f: running",
                          "g: running", "i: exit 0"}));
    QCOMPARE(results[1].lastLine, QStringLiteral("active"));
    QCOMPARE(results[0].lastLine, QStringLiteral("active"));
    QVERIFY(results[0].digest != results[1].digest);
    // The run list notes the same outcome for this program run's launches.
    QCOMPARE(runs.runs()[1].outputDigest, results[1].digest);
    QCOMPARE(runs.runs()[7].outputDigest, results[1].digest);
}

void RunsTest::summaryCountsServers() {
    LaunchResult launch;
    launch.count(RunState{RunState::Exited, 0}, 297);
    launch.count(RunState{RunState::Exited, 1}, 1);
    launch.count(RunState{RunState::Unknown, 0}, 1);
    launch.count(RunState{RunState::TimedOut, 30}, 1);
    QCOMPARE(launch.summary(), QStringLiteral("297 ok \u00b7 2 failed \u00b7 1 timed out"));
    LaunchResult going;
    going.count(RunState{RunState::Running, 0}, 2);
    going.count(RunState{RunState::Waiting, 0}, 5);
    going.count(RunState{RunState::NotStarted, 0}, 1);
    QCOMPARE(going.summary(), QStringLiteral("1 not started \u00b7 2 running \u00b7 5 waiting"));
    QCOMPARE(LaunchResult().summary(), QString());
    // A normal launch's one batch file speaks for none of its servers alone.
    LaunchResult normal;
    normal.mode = LaunchMode::Normal;
    normal.servers = 3;
    normal.count(RunState{RunState::Running, 0}, 3);
    normal.batchState = RunState{RunState::Running, 0};
    QCOMPARE(normal.summary(), QStringLiteral("1 batch file of 3 servers: running"));
    normal.asEnded();
    QCOMPARE(normal.summary(), QStringLiteral("1 batch file of 3 servers: ended, status unknown"));
}

void RunsTest::diffOfOutputs_data() {
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<QString>("diff");
    QTest::newRow("same") << "a\nb\n"
                          << "a\nb\n"
                          << "";
    QTest::newRow("one line changed") << "1\n2\n3\n4\n5\n6\n7\n8\n9\n"
                                      << "1\n2\n3\n4\nfive\n6\n7\n8\n9\n"
                                      << "@@ -2,7 +2,7 @@\n 2\n 3\n 4\n-5\n+five\n 6\n 7\n 8\n";
    QTest::newRow("lines added at the end")
        << "up\n"
        << "up\nerror: disk full\nretrying\n"
        << "@@ -1,1 +1,3 @@\n up\n+error: disk full\n+retrying\n";
    QTest::newRow("from empty") << ""
                                << "x\ny\n"
                                << "@@ -0,0 +1,2 @@\n+x\n+y\n";
    QTest::newRow("to empty") << "x\n"
                              << ""
                              << "@@ -1,1 +0,0 @@\n-x\n";
    QTest::newRow("last line end only")
        << "a\n"
        << "a"
        << "@@ -1,1 +1,1 @@\n-a\n+a\n\\ No newline at end of output\n";
    QTest::newRow("two hunks")
        << "a\n1\n2\n3\n4\n5\n6\n7\n8\nb\n"
        << "A\n1\n2\n3\n4\n5\n6\n7\n8\nB\n"
        << "@@ -1,4 +1,4 @@\n-a\n+A\n 1\n 2\n 3\n@@ -7,4 +7,4 @@\n 6\n 7\n 8\n-b\n+B\n";
}

void RunsTest::diffOfOutputs() {
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(QString, diff);
    QCOMPARE(unifiedDiff(from, to), diff);
}

void RunsTest::historyOutlivesTheProgram() {
    TempWorkspace ws;
    qint64 id = 0;
    QByteArray digest;
    {
        RunList runs(kTag);
        ResultsHistory history(ws.workspace().historyFile());
        const RecordedLaunch launch(
            ws, runs, history,
            {{"web01", "ok\n", 0}, {"web02", "no such unit\n", 4}, {"web03", "still going\n", -1}});
        id = history.idOf(launch.number);
        digest = runs.runs()[1].outputDigest;
        QVERIFY(history.onDisk());
    }
    // The next program run, over the same file.
    ResultsHistory history(ws.workspace().historyFile());
    const QList<ResultsHistory::StoredLaunch> launches = history.launches();
    QCOMPARE(launches.size(), 1);
    QCOMPARE(launches[0].programRun, kTag);
    QCOMPARE(launches[0].launch.historyId, id);
    QCOMPARE(launches[0].launch.mode, LaunchMode::Spawn);
    QCOMPARE(launches[0].launch.servers, 3);
    QCOMPARE(launches[0].launch.summary(), QStringLiteral("1 ok \u00b7 1 failed \u00b7 1 running"));
    const QList<BatchResult> results = history.results(id, /*asEnded=*/true);
    QCOMPARE(results.size(), 3);
    QCOMPARE(results[0].servers(), QStringList{"web01"});
    QCOMPARE(results[1].state.text(), QStringLiteral("exit 4"));
    QCOMPARE(results[1].batchName, QStringLiteral("temp2.bat"));
    QCOMPARE(results[1].digest, digest);
    QVERIFY(results[1].ended.isValid());
    // What still ran when its program ended has no known end.
    QCOMPARE(results[2].state.text(), QStringLiteral("ended, status unknown"));
    QCOMPARE(history.output(id, 1), QStringLiteral("no such unit\n"));
}

void RunsTest::historyKeepsTheNewestLaunches() {
    TempWorkspace ws;
    RunList runs(kTag);
    const QString path = ws.workspace().historyFile();
    const QByteArray bulk(300 * 1000, 'x');
    {
        ResultsHistory history(path, 2);
        for (int launch = 0; launch < 4; ++launch) {
            RecordedLaunch(ws, runs, history,
                           {{"a", QByteArray::number(launch) + "\n", 0}, {"b", bulk + "\n", 0}},
                           2 * launch + 1);
        }
        QList<qint64> kept;
        for (const auto& stored : history.launches())
            kept += stored.launch.historyId;
        QCOMPARE(kept, (QList<qint64>{4, 3}));
        QVERIFY(history.results(1, true).isEmpty());
        QCOMPARE(history.output(3, 0), QStringLiteral("2\n"));
        // Fewer kept from now on: the next launch takes the older ones with it.
        history.setKeepLaunches(1);
        RecordedLaunch(ws, runs, history, {{"c", "c\n", 0}}, 9);
        QCOMPARE(history.launches().size(), 1);
        QVERIFY(history.results(4, true).isEmpty());
        history.clear();
        QVERIFY(history.launches().isEmpty());
    }
    // The space of what went is given back, and its numbers are never given again: a
    // ticket that names launch 5 names no other launch.
    QVERIFY2(QFileInfo(path).size() < 64 * 1024,
             qPrintable(QString::number(QFileInfo(path).size())));
    ResultsHistory next(path);
    RecordedLaunch(ws, runs, next, {{"d", "d\n", 0}}, 10);
    QCOMPARE(next.launches().value(0).launch.historyId, 6);
}

void RunsTest::changesAreWrittenInGroups_data() {
    QTest::addColumn<int>("runCount");
    QTest::addColumn<bool>("atOnce");
    QTest::newRow("a small launch waits for its group") << 3 << false;
    QTest::newRow("a thousand changes are written at once") << 1000 << true;
}

void RunsTest::changesAreWrittenInGroups() {
    QFETCH(int, runCount);
    QFETCH(bool, atOnce);
    TempWorkspace ws;
    const QString path = ws.workspace().historyFile();
    RunList runs(kTag);
    ResultsHistory history(path);
    QVERIFY(history.launches().isEmpty());
    const int number = runs.beginLaunch();
    for (int i = 0; i < runCount; ++i)
        runs.plan(Run{.launch = number, .serverText = "web", .serverCount = 1});
    history.addLaunch(runs, number);
    auto written = [&path] {
        return ResultsHistory(path, 100, ResultsHistory::Access::ReadOnly).launches().size();
    };
    QCOMPARE(written(), atOnce ? 1 : 0);
    QTRY_COMPARE_WITH_TIMEOUT(written(), 1, 1000);  // within a tenth of a second
}

void RunsTest::busyHistoryDelaysOnlyTheWriting_data() {
    QTest::addColumn<bool>("heldBeforeOpening");
    QTest::newRow("held as the launch is written") << false;
    QTest::newRow("held before the history is opened") << true;
}

void RunsTest::busyHistoryDelaysOnlyTheWriting() {
    // Another program (a backup, sqlite3) holds the write lock while a launch is written.
    QFETCH(bool, heldBeforeOpening);
    TempWorkspace ws;
    const QString path = ws.workspace().historyFile();
    RunList runs(kTag);
    ResultsHistory history(path);
    QStringList said;
    history.notice = [&said](const QString& message) { said += message; };
    history.report = [](const QString& message) { QFAIL(qPrintable(message)); };
    if (!heldBeforeOpening)
        QVERIFY(history.launches().isEmpty());  // opened, and the file made
    else
        ResultsHistory(path).launches();
    sqlite3* other = nullptr;
    QCOMPARE(sqlite3_open(QFile::encodeName(path).constData(), &other), SQLITE_OK);
    QCOMPARE(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    QElapsedTimer taken;
    taken.start();
    const RecordedLaunch launch(ws, runs, history, {{"a", "one\n", 0}, {"b", "two\n", 3}});
    QVERIFY2(taken.elapsed() < 500, qPrintable(QString::number(taken.elapsed())));
    QVERIFY(history.pending());
    QCOMPARE(said.size(), 1);
    QVERIFY2(said[0].contains("is busy"), qPrintable(said[0]));
    QTest::qWait(1000);  // still held: tried again, kept
    QVERIFY(history.pending());
    QCOMPARE(sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(other);
    // Written once the file is free, with the runs' true states; earlier launches stay.
    QTRY_VERIFY(!history.pending());
    QCOMPARE(said.size(), 2);
    ResultsHistory reader(path);
    QCOMPARE(reader.launches().value(0).launch.summary(), QStringLiteral("1 ok \u00b7 1 failed"));
    QCOMPARE(reader.output(history.idOf(launch.number), 1), QStringLiteral("two\n"));
}

void RunsTest::earlierLayoutsAreMigrated_data() {
    QTest::addColumn<QByteArray>("layout");
    const QByteArray launches =
        "CREATE TABLE launches(id INTEGER PRIMARY KEY, program_run TEXT NOT NULL, started_ms "
        "INTEGER NOT NULL, mode TEXT NOT NULL, servers INTEGER NOT NULL";
    const QByteArray counts =
        ", ok INTEGER NOT NULL DEFAULT 0, failed INTEGER NOT NULL DEFAULT 0, timed_out INTEGER NOT "
        "NULL DEFAULT 0, ended_by_user INTEGER NOT NULL DEFAULT 0, not_started INTEGER NOT NULL "
        "DEFAULT 0, running INTEGER NOT NULL DEFAULT 0, waiting INTEGER NOT NULL DEFAULT 0";
    const QByteArray runs =
        "CREATE TABLE runs(id INTEGER PRIMARY KEY, launch INTEGER NOT NULL, place INTEGER NOT "
        "NULL, batch TEXT NOT NULL DEFAULT '', server_count INTEGER NOT NULL, state TEXT NOT NULL, "
        "exit_status INTEGER NOT NULL DEFAULT 0, started_ms INTEGER, ended_ms INTEGER, last_line "
        "TEXT NOT NULL DEFAULT '', digest BLOB";
    const QByteArray index = "CREATE UNIQUE INDEX runs_of_launch ON runs(launch, place);";
    // Launch 7: web01 ended with exit 0 and "up", web02 with exit 3 and "down".
    const QByteArray textsInRuns =
        runs + ", servers TEXT NOT NULL, output TEXT);" + index +
        "INSERT INTO runs(id, launch, place, batch, server_count, state, exit_status, servers, "
        "output) VALUES(1, 7, 0, 'temp1.bat', 1, 'exited', 0, 'web01', 'up\n'), (2, 7, 1, "
        "'temp2.bat', 1, 'exited', 3, 'web02', 'down\n');";
    QTest::newRow("texts in runs, no counts")
        << launches + ");INSERT INTO launches VALUES(7, 'old', 0, 'spawn', 2);" + textsInRuns;
    QTest::newRow("texts in runs")
        << launches + counts +
               ");INSERT INTO launches VALUES(7, 'old', 0, 'spawn', 2, 1, 1, 0, 0, "
               "0, 0, 0);" +
               textsInRuns;
    QTest::newRow("version 1, numbers given again after a clear")
        << launches + counts +
               ");INSERT INTO launches VALUES(7, 'old', 0, 'spawn', 2, 1, 1, 0, 0, "
               "0, 0, 0);" +
               runs + ");" + index +
               "CREATE TABLE servers(run INTEGER PRIMARY KEY, text TEXT NOT NULL);"
               "CREATE TABLE outputs(run INTEGER PRIMARY KEY, text TEXT NOT NULL);"
               "INSERT INTO runs(id, launch, place, batch, server_count, state, exit_status) "
               "VALUES(1, 7, 0, 'temp1.bat', 1, 'exited', 0), (2, 7, 1, 'temp2.bat', 1, "
               "'exited', 3);"
               "INSERT INTO servers VALUES(1, 'web01'), (2, 'web02');"
               "INSERT INTO outputs VALUES(1, 'up\n'), (2, 'down\n');"
               "PRAGMA user_version = 1;";
}

void RunsTest::earlierLayoutsAreMigrated() {
    QFETCH(QByteArray, layout);
    TempWorkspace ws;
    const QString path = ws.workspace().historyFile();
    sqlite3* db = nullptr;
    QCOMPARE(sqlite3_open(QFile::encodeName(path).constData(), &db), SQLITE_OK);
    QCOMPARE(sqlite3_exec(db, layout.constData(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    // Its launches as they were, and from now on new ones written beside them, under
    // numbers never given before.
    RunList runs(kTag);
    ResultsHistory history(path);
    history.report = [](const QString& message) { QFAIL(qPrintable(message)); };
    QCOMPARE(history.launches().value(0).launch.summary(), QStringLiteral("1 ok \u00b7 1 failed"));
    const QList<BatchResult> results = history.results(7, true);
    QCOMPARE(results.size(), 2);
    QCOMPARE(results[1].servers(), QStringList{"web02"});
    QCOMPARE(results[1].state.text(), QStringLiteral("exit 3"));
    QCOMPARE(history.output(7, 1), QStringLiteral("down\n"));
    history.clear();
    RecordedLaunch(ws, runs, history, {{"e", "e\n", 0}}, 11);
    QCOMPARE(history.launches().value(0).launch.historyId, 8);
    QCOMPARE(history.output(8, 0), QStringLiteral("e\n"));
}

void RunsTest::killedWriterLeavesASoundHistory() {
    TempWorkspace ws;
    const QString path = ws.workspace().historyFile();
    int ready[2];
    QCOMPARE(::pipe(ready), 0);
    const pid_t writer = ::fork();
    if (writer == 0) {
        // Writes launches of 20,000 runs, one transaction each, until it is killed.
        ::close(ready[0]);
        RunList runs(kTag);
        ResultsHistory history(path);
        for (int launch = 1;; ++launch) {
            runs.beginLaunch();
            for (int i = 0; i < 20000; ++i)
                runs.plan(Run{.launch = launch, .serverText = "web", .serverCount = 1});
            history.addLaunch(runs, launch);
            if (launch == 1 && ::write(ready[1], "1", 1) != 1)
                ::_exit(1);
        }
    }
    ::close(ready[1]);
    char byte = 0;
    QCOMPARE(::read(ready[0], &byte, 1), 1);
    ::close(ready[0]);
    QTest::qWait(150);  // well inside one of the next transactions
    ::kill(writer, SIGKILL);
    int status = 0;
    ::waitpid(writer, &status, 0);
    QVERIFY(WIFSIGNALED(status));

    sqlite3* db = nullptr;
    QCOMPARE(sqlite3_open(QFile::encodeName(path).constData(), &db), SQLITE_OK);
    auto answer = [db](const char* sql) {
        sqlite3_stmt* statement = nullptr;
        QString text;
        if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) == SQLITE_OK &&
            sqlite3_step(statement) == SQLITE_ROW)
            text =
                QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)));
        sqlite3_finalize(statement);
        return text;
    };
    QCOMPARE(answer("PRAGMA integrity_check"), QStringLiteral("ok"));
    // Each launch kept is whole: a transaction cut short left nothing of itself.
    QVERIFY(answer("SELECT COUNT(*) FROM launches").toInt() >= 1);
    QCOMPARE(answer("SELECT COUNT(*) FROM (SELECT launch FROM runs GROUP BY launch HAVING "
                    "COUNT(*) <> 20000)"),
             QStringLiteral("0"));
    QCOMPARE(answer("SELECT COUNT(*) FROM runs WHERE launch NOT IN (SELECT id FROM launches)"),
             QStringLiteral("0"));
    sqlite3_close(db);
}

void RunsTest::unreadableHistoryIsRenamedAside() {
    TempWorkspace ws;
    QByteArray noise(64 * 1024, Qt::Uninitialized);
    for (char& byte : noise)
        byte = static_cast<char>(QRandomGenerator::global()->bounded(256));
    ws.write("logs/results.sqlite", noise);
    RunList runs(kTag);
    ResultsHistory history(ws.workspace().historyFile());
    QStringList messages;
    history.report = [&messages](const QString& message) { messages += message; };
    const RecordedLaunch first(ws, runs, history, {{"a", "one\n", 0}});
    const RecordedLaunch second(ws, runs, history, {{"b", "two\n", 1}}, 2);
    QCOMPARE(messages.size(), 1);
    const QStringList aside = QDir(ws.path("logs")).entryList({"results.sqlite.broken-*"});
    QCOMPARE(aside.size(), 1);
    QCOMPARE(messages[0],
             "The results history " + ws.path("logs/results.sqlite") +
                 " cannot be read: file is not a database. It was renamed to " +
                 ws.path("logs/" + aside[0]) +
                 ". Results keeps the results of this run of Corvane only; the launches "
                 "themselves are not affected.");
    QCOMPARE(ws.read("logs/" + aside[0]), noise);
    // This program run's results are still there, for this run only.
    QVERIFY(!history.onDisk());
    QVERIFY(!ws.exists("logs/results.sqlite"));
    QCOMPARE(history.launches().size(), 2);
    QCOMPARE(history.output(history.idOf(second.number), 0), QStringLiteral("two\n"));

    // A history of a later version of the program is neither read nor changed.
    TempWorkspace later;
    const QString path = later.workspace().historyFile();
    {
        RunList earlierRuns(kTag);
        ResultsHistory written(path);
        RecordedLaunch(later, earlierRuns, written, {{"a", "one\n", 0}});
    }
    sqlite3* db = nullptr;
    QCOMPARE(sqlite3_open(QFile::encodeName(path).constData(), &db), SQLITE_OK);
    QCOMPARE(sqlite3_exec(db, "PRAGMA user_version = 99", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    const QByteArray before = later.read("logs/results.sqlite");
    ResultsHistory newer(path);
    messages.clear();
    newer.report = [&messages](const QString& message) { messages += message; };
    QVERIFY(newer.launches().isEmpty());
    QCOMPARE(messages.size(), 1);
    QVERIFY2(messages[0].contains("it was written by a later version of Corvane, and is left as "
                                  "it is."),
             qPrintable(messages[0]));
    QCOMPARE(later.read("logs/results.sqlite"), before);
}

void RunsTest::trackerTellsEachChangeOnce_data() {
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<bool>("endedByUser");
    QTest::addColumn<QString>("state");
    QTest::newRow("exit 0") << QByteArray("echo up\n") << false << "exit 0";
    QTest::newRow("exit 3") << QByteArray("echo down\nexit 3\n") << false << "exit 3";
    QTest::newRow("ended by the user") << QByteArray("sleep 30\n") << true << "ended by the user";
}

void RunsTest::trackerTellsEachChangeOnce() {
    // Real recorded runs: their ends come from the processes, and each change is told once,
    // read by every reader and written into the history with the same state.
    QFETCH(QByteArray, script);
    QFETCH(bool, endedByUser);
    QFETCH(QString, state);
    TempWorkspace ws;
    DesktopPlatform platform(QStringLiteral("/bin/sh"), {});
    const QString path = ws.workspace().historyFile();
    RunTracker tracker(ws.path("temp"), path, ResultsHistory::Access::ReadWrite, kTag);
    QHash<qsizetype, QStringList> told;
    connect(&tracker, &RunTracker::runChanged, this,
            [&](qsizetype index) { told[index] += tracker.state(index).text(); });
    const int launch = tracker.beginLaunch(QDateTime::currentDateTime());
    constexpr int kRuns = 3;
    for (int i = 0; i < kRuns; ++i)
        tracker.plan(runOf(ws, launch, i + 1, LaunchMode::Spawn, "s" + QByteArray::number(i), 1));
    tracker.addLaunch(launch, 100);
    for (int i = 0; i < kRuns; ++i) {
        ws.write(QStringLiteral("temp/temp%1.bat").arg(i + 1), script);
        const Run& run = tracker.runList()[i];
        const qint64 pid = platform.startBatch(BatchStart{
            run.batchPath, QString(), run.outputPath(), run.statusPath(), run.pidPath()});
        tracker.started(i, run.batchPath, pid, QDateTime::currentDateTime(), 0);
    }
    if (endedByUser) {
        QTRY_VERIFY_WITH_TIMEOUT(ws.exists(recordOf(kRuns, "pid")), 5000);
        tracker.end({0, 1, 2});
    }
    const QStringList once{"running", state};
    for (int i = 0; i < kRuns; ++i)
        QTRY_COMPARE_WITH_TIMEOUT(told.value(i), once, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(tracker.endingsPending(), 0, 10000);
    QCOMPARE(told.size(), kRuns);
    const LaunchResult shown = tracker.launches().value(0);
    QCOMPARE(shown.counts[state == "exit 0" ? LaunchResult::Ok
                          : endedByUser     ? LaunchResult::EndedByUser
                                            : LaunchResult::Failed],
             kRuns);
    QVERIFY(tracker.finishHistory(2000));
    ResultsHistory reader(path, 100, ResultsHistory::Access::ReadOnly);
    for (const BatchResult& result : reader.results(shown.historyId, false))
        QCOMPARE(result.state.text(), state);
}

void RunsTest::reportsOfALaunch_data() {
    QTest::addColumn<QString>("form");
    QTest::addColumn<QString>("expected");
    QTest::newRow("output") << "output"
                            << "web01: Linux 6.1\nweb01: active\nweb02: Linux 6.1\nweb02: active\n"
                               "web03: Linux 6.1\nweb03: inactive\nweb04: a,\"b\"\nweb04: c\n";
    QTest::newRow("group") << "group"
                           << "web[01-02] (2): exit 0\n----------------\nLinux 6.1\nactive\n\n"
                              "web03 (1): exit 0\n----------------\nLinux 6.1\ninactive\n\n"
                              "web04 (1): exit 3\n----------------\na,\"b\"\nc\n\n"
                              "db[1-2] (2): waiting\n";
    // The last line holds what CSV must quote: a comma, quotes and a line end.
    QTest::newRow("csv") << "csv"
                         << "server,state,exit status,start,end,duration,last line\r\n"
                            "web01,exit 0,0,2026-12-10T09:00:00.000Z,2026-12-10T09:00:02.500Z,"
                            "2.500,active\r\n"
                            "web02,exit 0,0,2026-12-10T09:00:00.000Z,2026-12-10T09:00:02.500Z,"
                            "2.500,active\r\n"
                            "web03,exit 0,0,2026-12-10T09:00:00.000Z,2026-12-10T09:00:02.500Z,"
                            "2.500,inactive\r\n"
                            "web04,exit 3,3,2026-12-10T09:00:00.000Z,2026-12-10T09:00:02.500Z,"
                            "2.500,\"a,\"\"b\"\"\nc\"\r\n"
                            "db1,waiting,,,,,\r\ndb2,waiting,,,,,\r\n";
}

void RunsTest::reportsOfALaunch() {
    QFETCH(QString, form);
    QFETCH(QString, expected);
    const QDateTime start(QDate(2026, 12, 10), QTime(9, 0), Qt::UTC);
    const QHash<QByteArray, QString> outputs{{"web01", "Linux 6.1\nactive\n"},
                                             {"web02", "Linux 6.1\nactive\n"},
                                             {"web03", "Linux 6.1\ninactive\n"},
                                             {"web04", "a,\"b\"\nc\n"}};
    QList<BatchResult> results;
    for (const QByteArray server : {"web01", "web02", "web03", "web04", "db1", "db2"}) {
        BatchResult result;
        result.serverText = server;
        result.serverCount = 1;
        if (outputs.contains(server)) {
            result.state = RunState{RunState::Exited, server == "web04" ? 3 : 0};
            result.started = start;
            result.ended = start.addMSecs(2500);
            const QString output = outputs[server];
            result.lastLine = server == "web04" ? "a,\"b\"\nc" : output.section(u'\n', -2, -2);
            result.digest = outputDigest(output);
        } else {
            result.state = RunState{RunState::Waiting, 0};
        }
        results.append(result);
    }
    const OutputOf outputOf = [&](const BatchResult& result) {
        return outputs.value(result.serverText);
    };
    const QString text = form == "output"  ? prefixedOutputs(results, outputOf)
                         : form == "group" ? groupedOutputs(results, outputOf)
                                           : csvReport(results);
    QCOMPARE(text, expected);
}

void RunsTest::progressOfALaunch_data() {
    // A launch of 1,000 servers as its ends come: ok, failed, running, waiting; the clock.
    QTest::addColumn<QList<int>>("counts");
    QTest::addColumn<int>("elapsedS");
    QTest::addColumn<QString>("text");
    const QString dot = QStringLiteral(" \u00b7 ");
    QTest::newRow("none ended") << QList<int>{0, 0, 20, 980} << 10
                                << "20 of 1,000 started" + dot + "20 running" + dot + "0 failed";
    QTest::newRow("fewer than 5% ended: no estimate")
        << QList<int>{37, 3, 20, 940} << 30
        << "60 of 1,000 started" + dot + "20 running" + dot + "3 failed";
    QTest::newRow("minutes left") << QList<int>{289, 3, 20, 688} << 100
                                  << "312 of 1,000 started" + dot + "20 running" + dot +
                                         "3 failed" + dot + "about 4 min left";
    QTest::newRow("seconds left") << QList<int>{987, 3, 10, 0} << 99
                                  << "1,000 of 1,000 started" + dot + "10 running" + dot +
                                         "3 failed" + dot + "about 1 s left";
    QTest::newRow("hours left") << QList<int>{50, 0, 20, 930} << 600
                                << "70 of 1,000 started" + dot + "20 running" + dot + "0 failed" +
                                       dot + "about 3 h 10 min left";
    QTest::newRow("all ended") << QList<int>{997, 3, 0, 0} << 120
                               << "1,000 of 1,000 started" + dot + "0 running" + dot + "3 failed";
}

void RunsTest::progressOfALaunch() {
    QFETCH(QList<int>, counts);
    QFETCH(int, elapsedS);
    QFETCH(QString, text);
    LaunchResult launch;
    launch.servers = 1000;
    const RunState states[] = {{RunState::Exited, 0},
                               {RunState::Exited, 2},
                               {RunState::Running, 0},
                               {RunState::Waiting, 0}};
    for (int i = 0; i < 4; ++i)
        launch.count(states[i], counts[i]);
    QCOMPARE(launch.progress(elapsedS * 1000LL, QLocale(QLocale::English, QLocale::UnitedStates)),
             text);
}

QTEST_GUILESS_MAIN(RunsTest)
#include "test_runs.moc"
