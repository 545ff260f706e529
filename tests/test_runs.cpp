#include <unistd.h>

#include <QtTest>

#include "runs/run_list.h"
#include "support/dead_process.h"
#include "support/temp_workspace.h"

namespace {

Run runOf(const TempWorkspace& ws, int launch, int number, LaunchMode mode,
          const QByteArray& servers, qsizetype count) {
    return Run{launch, QDateTime(), mode, ws.workspace().tempBatch(number), 0, servers, count};
}

}  // namespace

class RunsTest : public QObject {
    Q_OBJECT

  private slots:
    void spawnLaunchStatesAndRetry();
    void failedNormalLaunchRetriesAll();
    void cleanUpKeepsRows();
    void terminalText_data();
    void terminalText();
    void largeOutputShowsItsEnd();
    void recordLiesBesideTheBatchFile();
};

void RunsTest::spawnLaunchStatesAndRetry() {
    TempWorkspace ws;
    RunList runs;
    const int launch = runs.beginLaunch();
    const QStringList servers{"alpha", "beta", "gamma"};
    for (int i = 0; i < 3; ++i) {
        runs.add(runOf(ws, launch, i + 1, LaunchMode::Spawn, servers[i].toUtf8(), 1));
        ws.write(QStringLiteral("temp/temp%1.out").arg(i + 1), "output\n");
        ws.write(QStringLiteral("temp/temp%1.pid").arg(i + 1),
                 QByteArray::number(i == 2 ? deadProcessId() : getpid()));
    }
    QCOMPARE(runs.state(0).text(), QStringLiteral("running"));  // its recorder is alive
    ws.write("temp/temp1.status", "0\n");
    ws.write("temp/temp2.status", "2\n");
    QCOMPARE(runs.state(0).text(), QStringLiteral("exit 0"));
    QCOMPARE(runs.state(1).text(), QStringLiteral("exit 2"));
    QCOMPARE(runs.state(2).text(), QStringLiteral("ended, status unknown"));
    QCOMPARE(runs.retryServers(launch), (QStringList{"beta", "gamma"}));

    // A status file that holds no number tells nothing.
    ws.write("temp/temp1.status", "garbage");
    QCOMPARE(runs.state(0).text(), QStringLiteral("ended, status unknown"));
}

void RunsTest::failedNormalLaunchRetriesAll() {
    TempWorkspace ws;
    RunList runs;
    const int first = runs.beginLaunch();
    runs.add(runOf(ws, first, 1, LaunchMode::Normal, "web1\n\nweb2\r\nweb3\n", 3));
    const int second = runs.beginLaunch();
    runs.add(runOf(ws, second, 2, LaunchMode::Normal, "db1\n", 1));
    ws.write("temp/temp1.out", "");
    ws.write("temp/temp1.status", "255\n");
    ws.write("temp/temp2.out", "");
    ws.write("temp/temp2.status", "0\n");
    QCOMPARE(runs.retryServers(first), (QStringList{"web1", "web2", "web3"}));
    QCOMPARE(runs.retryServers(second), QStringList{});
}

void RunsTest::cleanUpKeepsRows() {
    TempWorkspace ws;
    RunList runs;
    const int launch = runs.beginLaunch();
    runs.add(runOf(ws, launch, 1, LaunchMode::Spawn, "alpha", 1));
    runs.add(runOf(ws, launch, 2, LaunchMode::Spawn, "beta", 1));
    for (const char* name : {"temp/temp1.out", "temp/temp2.out"})
        ws.write(name, "x\n");
    ws.write("temp/temp1.status", "0\n");
    ws.write("temp/temp2.status", "1\n");
    runs.noteStates();  // as the clean-up does first
    ws.removeFolder("temp");
    ws.makeFolder("temp");
    QCOMPARE(runs.runs().size(), 2);
    QCOMPARE(runs.state(0).text(), QStringLiteral("output cleaned up"));
    QCOMPARE(runs.state(1).text(), QStringLiteral("output cleaned up"));
    QCOMPARE(runs.output(1), QString());
    // What they ended as still decides a retry.
    QCOMPARE(runs.retryServers(launch), QStringList{"beta"});
}

void RunsTest::terminalText_data() {
    QTest::addColumn<QByteArray>("recorded");
    QTest::addColumn<QString>("shown");
    QTest::newRow("recorder's lines") << QByteArray(
                                             "Script started on 2026-12-07 [COMMAND=\"x\"]\n"
                                             "up 3 days\r\n\nScript done on 2026-12-07\n")
                                      << "up 3 days\n";
    QTest::newRow("colours") << QByteArray("\x1b[1;31mFAILED\x1b[0m ok\r\n") << "FAILED ok\n";
    QTest::newRow("window title") << QByteArray("\x1b]0;title\x07text\n") << "text\n";
    QTest::newRow("progress") << QByteArray("10%\r50%\r100%\r\n") << "100%\n";
    QTest::newRow("overwrite keeps the rest") << QByteArray("abcd\rXY\n") << "XYcd\n";
    QTest::newRow("backspace") << QByteArray("ab\bc\n") << "ac\n";
    QTest::newRow("no final line end") << QByteArray("partial") << "partial";
}

void RunsTest::terminalText() {
    QFETCH(QByteArray, recorded);
    QFETCH(QString, shown);
    QCOMPARE(::terminalText(recorded), shown);
}

void RunsTest::largeOutputShowsItsEnd() {
    useTestLocale();
    TempWorkspace ws;
    RunList runs;
    runs.add(runOf(ws, runs.beginLaunch(), 1, LaunchMode::Spawn, "alpha", 1));
    QByteArray big(3 * 1024 * 1024, 'x');
    big += "\nlast line\n";
    ws.write("temp/temp1.out", big);
    const QString shown = runs.output(0);
    QVERIFY(shown.startsWith("[2,097,163 bytes before this were left out]\n"));
    QVERIFY(shown.endsWith("\nlast line\n"));
    QVERIFY(shown.size() < 1024 * 1024 + 100);
}

void RunsTest::recordLiesBesideTheBatchFile() {
    // Where the run list looks is where the launch tells the recorder to write.
    TempWorkspace ws;
    const Run run = runOf(ws, 1, 12, LaunchMode::Spawn, "alpha", 1);
    QCOMPARE(run.outputPath(), ws.workspace().tempOutput(12));
    QCOMPARE(run.statusPath(), ws.workspace().tempStatus(12));
    QCOMPARE(run.pidPath(), ws.workspace().tempPid(12));
}

QTEST_GUILESS_MAIN(RunsTest)
#include "test_runs.moc"
