#include <QtTest>

#include "batch_engine/composer.h"
#include "batch_engine/run_command.h"
#include "batch_engine/start_delay.h"
#include "common/errors.h"
#include "platform/recording_platform.h"
#include "support/temp_workspace.h"

namespace {

// The launch's view of the main window, kept in plain strings.
class FakeWindow : public LaunchWindow {
  public:
    QString listBoxText() const override { return listBox; }
    QString scriptBoxText() const override { return scriptBox; }
    QString delayText() const override { return delay; }
    void setDelayText(const QString& text) override { delay = text; }
    void setLogText(const QString& text) override { logText = text; }
    void appendLogText(const QString& text) override { logText += text; }
    int checkSpawnValue() const override { return spawn; }
    int checkSaveValue() const override { return save; }
    void repaintWindow() override { ++repaints; }
    ModuleVariables& variables() override { return vars; }

    QString listBox;
    QString scriptBox;
    QString delay = QStringLiteral("0");
    QString logText;
    int spawn = 0;
    int save = 0;
    int repaints = 0;
    ModuleVariables vars;
};

const QString kStamp = QStringLiteral("12/6/2026 5:21:13 AM");
const QByteArray kSeparator(67, '-');

}  // namespace

class BatchEngineTest : public QObject {
    Q_OBJECT

  private slots:
    void init();

    void normalLaunchWritesExactFiles();
    void composition_data();
    void composition();
    void serverLines_data();
    void serverLines();
    void refusalsWriteNothing_data();
    void refusalsWriteNothing();
    void startDelay_data();
    void startDelay();
    void badStartDelayRefusedInEveryMode_data();
    void badStartDelayRefusedInEveryMode();
    void missingFolderRefused_data();
    void missingFolderRefused();
    void numberingAcrossLaunches();
    void olderBatchFileNeverAppendedTo();
    void fileFailureStopsAtThatStep();
    void failedStartIsReported();

    void spawnLaunch();
    void spawnPauses_data();
    void spawnPauses();
    void spawnTrailingLineBreakUsesNumber();
    void spawnWinsOverRunLater();
    void numberingAcrossModes();

    void runLaterSavesAndStartsNothing();
    void runLaterNeverAppendsAfterRestart();

  private:
    void launch() { RunCommand(window, ws->workspace(), platform); }
    void fill(const QString& servers, const QString& script = QStringLiteral("ping %s")) {
        window.listBox = servers;
        window.scriptBox = script;
    }

    std::unique_ptr<TempWorkspace> ws;
    FakeWindow window;
    RecordingPlatform platform;
};

void BatchEngineTest::init() {
    useTestLocale();
    ws = std::make_unique<TempWorkspace>();
    window = FakeWindow();
    platform = RecordingPlatform();
    platform.clock = QDateTime(QDate(2026, 12, 6), QTime(5, 21, 13));
}

void BatchEngineTest::normalLaunchWritesExactFiles() {
    window.delay.clear();
    fill(QStringLiteral("alpha\nbeta"), QStringLiteral("ping -c 1 %s"));
    launch();

    QCOMPARE(ws->read("temp/srvtemp.txt"), QByteArray("alpha\nbeta\n"));
    QCOMPARE(ws->read("temp/temp1.bat"), QByteArray("\nping -c 1 alpha\n\nping -c 1 beta\n"));
    QCOMPARE(ws->read("logs/log.txt"),
             "Corvane launched 12/6/2026 5:21:13 AM\n\n"
             "ping -c 1 alpha\n\nping -c 1 beta\n\n" +
                 kSeparator + "\n");
    QCOMPARE(window.logText, "0-- Batch (Spawn) Launched " + kStamp +
                                 "\n\nping -c 1 alpha\nping -c 1 beta-- End of Batch\n");
    QCOMPARE(window.delay, QStringLiteral("0"));
    QCOMPARE(window.vars.ServerNumber, 1);
    QCOMPARE(window.vars.LogPath, ws->path("logs/log.txt"));
    QCOMPARE(window.vars.BatchPath, ws->path("temp/temp1.bat"));
    QCOMPARE(window.vars.BatchText, QStringLiteral("ping -c 1 beta"));
    QCOMPARE(window.repaints, 0);

    // Started once, after the file was complete, and nothing else asked of the outside.
    QCOMPARE(platform.events.size(), 1);
    QCOMPARE(platform.startedPaths(), QStringList{ws->path("temp/temp1.bat")});
    QCOMPARE(platform.events[0].fileAtStart, ws->read("temp/temp1.bat"));

    // A second launch adds a complete record right below the first separator.
    launch();
    const QByteArray record =
        "Corvane launched 12/6/2026 5:21:13 AM\n\nping -c 1 alpha\n\n"
        "ping -c 1 beta\n\n" +
        kSeparator + "\n";
    QCOMPARE(ws->read("logs/log.txt"), record + record);
}

void BatchEngineTest::composition_data() {
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("composed");
    QTest::newRow("lower case only") << "echo %s %s %S"
                                     << "alpha"
                                     << "echo alpha alpha %S";
    QTest::newRow("name holding %s") << "ping %s"
                                     << "a%sb"
                                     << "ping a%sb";
    QTest::newRow("blanks kept") << "[%s]"
                                 << " alpha "
                                 << "[ alpha ]";
    QTest::newRow("no placeholder") << "uptime"
                                    << "alpha"
                                    << "uptime";
    QTest::newRow("%%s") << "%%s%"
                         << "x"
                         << "%x%";
    QTest::newRow("adjacent") << "%s%s"
                              << "ab"
                              << "abab";
    QTest::newRow("multi-line") << "echo %s\nping %s\n"
                                << "db1"
                                << "echo db1\nping db1\n";
}

void BatchEngineTest::composition() {
    QFETCH(QString, script);
    QFETCH(QString, server);
    QFETCH(QString, composed);
    QCOMPARE(Composer(script).compose(server), composed);

    // The same text reaches the batch file.
    fill(server, script);
    launch();
    QCOMPARE(QString::fromUtf8(ws->read("temp/temp1.bat")), "\n" + composed + "\n");
}

void BatchEngineTest::serverLines_data() {
    QTest::addColumn<QString>("servers");
    QTest::addColumn<QByteArray>("batch");
    QTest::newRow("empty line skipped")
        << "alpha\n\nbeta" << QByteArray("\nping alpha\n\nping beta\n");
    QTest::newRow("trailing break") << "alpha\nbeta\n" << QByteArray("\nping alpha\n\nping beta\n");
    QTest::newRow("cr lf, cr, lf")
        << "alpha\r\nbeta\rgamma\ndelta"
        << QByteArray("\nping alpha\n\nping beta\n\nping gamma\n\nping delta\n");
    QTest::newRow("blank line is a server")
        << "  \nalpha" << QByteArray("\nping   \n\nping alpha\n");
    QTest::newRow("leading breaks") << "\n\n\nalpha" << QByteArray("\nping alpha\n");
}

void BatchEngineTest::serverLines() {
    QFETCH(QString, servers);
    QFETCH(QByteArray, batch);
    fill(servers);
    launch();
    QCOMPARE(ws->read("temp/temp1.bat"), batch);
}

void BatchEngineTest::refusalsWriteNothing_data() {
    QTest::addColumn<QString>("servers");
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("message");
    QTest::newRow("no servers") << ""
                                << "ping %s"
                                << "You dummy. Add some servers!";
    QTest::newRow("only line breaks") << "\n\r\n\r"
                                      << "ping %s"
                                      << "You dummy. Add some servers!";
    QTest::newRow("no script") << "alpha"
                               << ""
                               << "You dummy. Add a Script!";
    QTest::newRow("placeholder") << "alpha"
                                 << "Let the scripting begin ..."
                                 << "You dummy. Add a script!";
}

void BatchEngineTest::refusalsWriteNothing() {
    QFETCH(QString, servers);
    QFETCH(QString, script);
    QFETCH(QString, message);
    for (int spawn : {0, 1}) {
        window.spawn = spawn;
        window.delay.clear();
        window.logText = QStringLiteral("earlier launch");
        window.vars.ServerNumber = 4;
        platform.clear();
        fill(servers, script);
        launch();
        QCOMPARE(platform.messages(), QStringList{message});
        QCOMPARE(platform.events[0].caption, QStringLiteral("Corvane"));
        QCOMPARE(window.logText, QStringLiteral("0"));
        QCOMPARE(window.delay, QStringLiteral("0"));
        QCOMPARE(window.vars.ServerNumber, 4);
        QVERIFY(window.vars.LogPath.isEmpty());
        QCOMPARE(ws->files("temp"), QStringList{});
        QCOMPARE(ws->files("logs"), QStringList{});
    }
}

void BatchEngineTest::startDelay_data() {
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("ms");
    QTest::addColumn<QString>("shown");
    const QLocale us(QLocale::English, QLocale::UnitedStates);
    const QLocale de(QLocale::German, QLocale::Germany);
    QTest::newRow("zero") << us << "0" << 0.0 << "0";
    QTest::newRow("seconds") << us << "5" << 5000.0 << "5000";
    QTest::newRow("fraction") << us << "2.5" << 2500.0 << "2500";
    QTest::newRow("half ms") << us << "2.5005" << 2500.5 << "2500.5";
    QTest::newRow("tenth without float noise") << us << "0.1" << 100.0 << "100";
    QTest::newRow("minus zero") << us << "-0" << 0.0 << "0";
    QTest::newRow("largest") << us << "2147483.647" << 2147483647.0 << "2147483647";
    QTest::newRow("locale comma") << de << "0,5" << 500.0 << "500";
    QTest::newRow("point in comma locale") << de << "0.5" << 500.0 << "500";
}

void BatchEngineTest::startDelay() {
    QFETCH(QLocale, locale);
    QFETCH(QString, text);
    QFETCH(double, ms);
    QFETCH(QString, shown);
    const std::optional<double> parsed = startDelayMs(text, locale);
    QVERIFY(parsed);
    QCOMPARE(*parsed, ms);
    QCOMPARE(delayMsText(*parsed), shown);

    QLocale::setDefault(locale);
    fill(QStringLiteral("alpha"));
    window.delay = text;
    launch();
    QCOMPARE(window.vars.DelayMs, ms);
    QVERIFY(window.logText.startsWith(shown + "-- Batch (Spawn) Launched "));
}

void BatchEngineTest::badStartDelayRefusedInEveryMode_data() {
    QTest::addColumn<QString>("text");
    QTest::newRow("word") << "five";
    QTest::newRow("trailing garbage") << "5s";
    QTest::newRow("negative") << "-1";
    QTest::newRow("tiny negative") << "-0.0001";
    QTest::newRow("one ms too many") << "2147483.648";
    QTest::newRow("huge") << "1e300";
    QTest::newRow("infinite") << "inf";
    QTest::newRow("not a number") << "nan";
}

void BatchEngineTest::badStartDelayRefusedInEveryMode() {
    QFETCH(QString, text);
    for (auto [spawn, save] : {std::pair{0, 0}, std::pair{1, 0}, std::pair{0, 1}}) {
        window.spawn = spawn;
        window.save = save;
        window.delay = text;
        window.logText = QStringLiteral("kept");
        window.vars.DelayMs = 7;
        platform.clear();
        fill(QStringLiteral("alpha"));
        launch();
        QCOMPARE(platform.messages(),
                 QStringList{"The start delay must be a number of seconds from 0 to 2147483.647."});
        QCOMPARE(window.logText, QStringLiteral("kept"));
        QCOMPARE(window.delay, text);
        QCOMPARE(window.vars.DelayMs, 7.0);
        QCOMPARE(window.vars.ServerNumber, 0);
        QCOMPARE(ws->files("temp"), QStringList{});
        QCOMPARE(ws->files("logs"), QStringList{});
        QCOMPARE(ws->files("."), (QStringList{"collections", "logs", "scripts", "temp"}));
    }
}

void BatchEngineTest::missingFolderRefused_data() {
    QTest::addColumn<QString>("folder");
    QTest::newRow("temp") << "temp";
    QTest::newRow("logs") << "logs";
}

void BatchEngineTest::missingFolderRefused() {
    QFETCH(QString, folder);
    ws->removeFolder(folder);
    for (auto [spawn, save] : {std::pair{0, 0}, std::pair{1, 0}, std::pair{0, 1}}) {
        window.spawn = spawn;
        window.save = save;
        platform.clear();
        fill(QStringLiteral("alpha"));
        launch();
        QCOMPARE(
            platform.messages(),
            QStringList{QStringLiteral("The folder %1 does not exist. Create it and launch again.")
                            .arg(ws->path(folder))});
        QCOMPARE(window.vars.ServerNumber, 0);
        QCOMPARE(ws->files("."), (QStringList{"collections", "logs", "scripts", "temp"}.filter(
                                     QRegularExpression("^(?!" + folder + "$)"))));
        QCOMPARE(ws->files("temp") + ws->files("logs"), QStringList{});
    }
}

void BatchEngineTest::numberingAcrossLaunches() {
    fill(QStringLiteral("alpha"));
    launch();
    launch();
    QCOMPARE(ws->files("temp"), (QStringList{"srvtemp.txt", "temp1.bat", "temp2.bat"}));
    QCOMPARE(platform.startedPaths(),
             (QStringList{ws->path("temp/temp1.bat"), ws->path("temp/temp2.bat")}));
}

void BatchEngineTest::olderBatchFileNeverAppendedTo() {
    // Left behind by an earlier run of the program: another launch's commands.
    ws->write("temp/temp1.bat", "\nrm -rf /srv/old\n");
    ws->makeFolder("temp/temp2.bat");
    fill(QStringLiteral("alpha"));
    launch();
    QCOMPARE(ws->read("temp/temp1.bat"), QByteArray("\nrm -rf /srv/old\n"));
    QCOMPARE(ws->read("temp/temp3.bat"), QByteArray("\nping alpha\n"));
    QCOMPARE(window.vars.ServerNumber, 3);
    QCOMPARE(platform.startedPaths(), QStringList{ws->path("temp/temp3.bat")});
}

void BatchEngineTest::fileFailureStopsAtThatStep() {
    ws->makeFolder("logs/log.txt");  // cannot be opened for appending, even by root
    fill(QStringLiteral("alpha"));
    try {
        launch();
        QFAIL("the launch did not fail");
    } catch (const OperationError& error) {
        QCOMPARE(error.message(), QStringLiteral("Cannot open %1 for appending: Is a directory")
                                      .arg(ws->path("logs/log.txt")));
    }
    // What came before stays; nothing after it happened.
    QCOMPARE(ws->read("temp/srvtemp.txt"), QByteArray("alpha\n"));
    QVERIFY(!ws->exists("temp/temp1.bat"));
    QCOMPARE(platform.startedPaths(), QStringList{});
    QCOMPARE(window.logText, QStringLiteral("0"));
}

void BatchEngineTest::failedStartIsReported() {
    platform.failStarts = true;
    fill(QStringLiteral("alpha"));
    QVERIFY_THROWS_EXCEPTION(OperationError, launch());
    // The batch file and the records are complete: only the start failed.
    QCOMPARE(ws->read("temp/temp1.bat"), QByteArray("\nping alpha\n"));
    QVERIFY(ws->read("logs/log.txt").endsWith(kSeparator + "\n"));
    QVERIFY(window.logText.endsWith("-- End of Batch\n"));
}

void BatchEngineTest::spawnLaunch() {
    window.spawn = 1;
    window.delay = QStringLiteral("5");
    fill(QStringLiteral("alpha\nbeta"));
    launch();
    QCOMPARE(window.logText,
             "5000-- Batch (Spawn) Launched " + kStamp +
                 "\nping alpha\nPausing 5 seconds ...\nping beta\n-- End of Batch\n");
    QCOMPARE(ws->read("temp/temp1.bat"), QByteArray("ping alpha\n"));
    QCOMPARE(ws->read("temp/temp2.bat"), QByteArray("ping beta\n"));
    QCOMPARE(ws->read("logs/log.txt"),
             "Corvane (SPAWN-MODE) launched 12/6/2026 5:21:13 AM\n\n"
             "ping alpha\n\nping beta\n\n" +
                 kSeparator + "\n");
    QCOMPARE(platform.pauses(), QList<int>{5000});
    // Each file is started right after it is written, and complete when started.
    const auto starts = platform.eventsOf(RecordingPlatform::Kind::Start);
    QCOMPARE(starts.size(), 2);
    QCOMPARE(starts[0].text, ws->path("temp/temp1.bat"));
    QCOMPARE(starts[0].fileAtStart, QByteArray("ping alpha\n"));
    QCOMPARE(starts[1].text, ws->path("temp/temp2.bat"));
    QCOMPARE(starts[1].fileAtStart, QByteArray("ping beta\n"));
    // The pause comes between the two starts.
    QStringList order;
    for (const auto& event : platform.events) {
        if (event.kind != RecordingPlatform::Kind::Repaint)
            order.append(event.kind == RecordingPlatform::Kind::Pause ? "pause" : event.text);
    }
    QCOMPARE(order, (QStringList{ws->path("temp/temp1.bat"), "pause", ws->path("temp/temp2.bat")}));
    QCOMPARE(window.repaints, 2 * 4);

    // Right after: the counter already stands at 2, so the first server waits too.
    platform.clear();
    launch();
    QCOMPARE(window.logText, "5000-- Batch (Spawn) Launched " + kStamp +
                                 "\nPausing 5 seconds ...\nping alpha\nPausing 5 seconds ...\n"
                                 "ping beta\n-- End of Batch\n");
    QCOMPARE(platform.pauses(), (QList<int>{5000, 5000}));
    QCOMPARE(platform.startedPaths(),
             (QStringList{ws->path("temp/temp3.bat"), ws->path("temp/temp4.bat")}));
}

void BatchEngineTest::spawnPauses_data() {
    QTest::addColumn<QString>("delay");
    QTest::addColumn<QList<int>>("pauses");
    QTest::addColumn<QString>("pauseLine");
    QTest::newRow("five") << "5" << QList<int>{5000, 5000} << "Pausing 5 seconds ...\n";
    QTest::newRow("fraction as typed")
        << "2.50" << QList<int>{2500, 2500} << "Pausing 2.50 seconds ...\n";
    QTest::newRow("zero: line, no pause") << "0" << QList<int>{} << "Pausing 0 seconds ...\n";
    QTest::newRow("empty is zero") << "" << QList<int>{} << "Pausing 0 seconds ...\n";
    QTest::newRow("half to even, down")
        << "0.0025" << QList<int>{2, 2} << "Pausing 0.0025 seconds ...\n";
    QTest::newRow("half to even, up")
        << "0.0035" << QList<int>{4, 4} << "Pausing 0.0035 seconds ...\n";
}

void BatchEngineTest::spawnPauses() {
    QFETCH(QString, delay);
    QFETCH(QList<int>, pauses);
    QFETCH(QString, pauseLine);
    window.spawn = 1;
    window.delay = delay;
    fill(QStringLiteral("a\nb\nc"));
    launch();
    QCOMPARE(platform.pauses(), pauses);
    QCOMPARE(window.logText.count(pauseLine), 2);
    QCOMPARE(platform.startedPaths().size(), 3);
}

void BatchEngineTest::spawnTrailingLineBreakUsesNumber() {
    window.spawn = 1;
    fill(QStringLiteral("a\nb\nc\n"));
    launch();
    QCOMPARE(platform.startedPaths().size(), 3);
    QCOMPARE(window.vars.ServerNumber, 4);  // the turn that found only the empty line
    QCOMPARE(ws->files("temp"),
             (QStringList{"srvtemp.txt", "temp1.bat", "temp2.bat", "temp3.bat"}));
    window.spawn = 0;
    launch();
    QVERIFY(ws->exists("temp/temp5.bat"));
}

void BatchEngineTest::spawnWinsOverRunLater() {
    window.spawn = 1;
    window.save = 1;
    fill(QStringLiteral("alpha"));
    launch();
    QCOMPARE(platform.messages(), QStringList{});
    QCOMPARE(platform.startedPaths(), QStringList{ws->path("temp/temp1.bat")});
    QCOMPARE(ws->files("."), (QStringList{"collections", "logs", "scripts", "temp"}));
}

void BatchEngineTest::numberingAcrossModes() {
    fill(QStringLiteral("a\nb\nc"));
    launch();
    window.spawn = 1;
    launch();
    window.spawn = 0;
    launch();
    QCOMPARE(ws->files("temp"), (QStringList{"srvtemp.txt", "temp1.bat", "temp2.bat", "temp3.bat",
                                             "temp4.bat", "temp5.bat"}));
    QCOMPARE(ws->read("temp/temp5.bat"), QByteArray("\nping a\n\nping b\n\nping c\n"));

    window.save = 1;
    launch();
    QCOMPARE(window.vars.BatchPath, ws->path("run_later_6.bat"));
}

void BatchEngineTest::runLaterSavesAndStartsNothing() {
    window.save = 1;
    fill(QStringLiteral("alpha\nbeta"));
    launch();
    const QString saved = ws->path("run_later_1.bat");
    QCOMPARE(ws->read("run_later_1.bat"), QByteArray("\nping alpha\n\nping beta\n"));
    QCOMPARE(ws->files("temp"), QStringList{"srvtemp.txt"});
    QCOMPARE(platform.startedPaths(), QStringList{});
    QCOMPARE(platform.messages(), QStringList{"File saved for later as " + saved + "."});
    QCOMPARE(platform.events[0].caption, QStringLiteral("Corvane"));
    QVERIFY(ws->read("logs/log.txt").startsWith("Corvane launched "));
    QVERIFY(window.logText.startsWith("0-- Batch (Spawn) Launched "));
    QVERIFY(window.logText.endsWith("ping beta-- End of Batch\n"));

    // The counter is shared with normal mode.
    window.save = 0;
    launch();
    QVERIFY(ws->exists("temp/temp2.bat"));
}

void BatchEngineTest::runLaterNeverAppendsAfterRestart() {
    window.save = 1;
    fill(QStringLiteral("alpha"));
    launch();
    // A new run of the program starts counting at 0 again.
    window.vars = ModuleVariables();
    fill(QStringLiteral("beta"));
    launch();
    QCOMPARE(ws->read("run_later_1.bat"), QByteArray("\nping alpha\n"));
    QCOMPARE(ws->read("run_later_2.bat"), QByteArray("\nping beta\n"));
    QCOMPARE(platform.messages().last(),
             "File saved for later as " + ws->path("run_later_2.bat") + ".");
}

QTEST_GUILESS_MAIN(BatchEngineTest)
#include "test_batch_engine.moc"
