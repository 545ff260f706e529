#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QtTest>
#include <algorithm>
#include <csignal>

#include "batch_engine/launcher.h"
#include "batch_engine/unsafe_names.h"
#include "common/errors.h"
#include "model/composer.h"
#include "model/server_lines.h"
#include "model/start_delay.h"
#include "support/fake_window.h"
#include "support/recording_platform.h"
#include "support/temp_workspace.h"

namespace {

const QList<LaunchMode> kEveryMode{LaunchMode::Normal, LaunchMode::Spawn, LaunchMode::RunLater};

// Lowers a resource limit of this process for as long as it lives, as a full disk or an
// exhausted process would: with RLIMIT_FSIZE a write past the limit fails with EFBIG.
class ResourceLimit {
  public:
    ResourceLimit(int resource, rlim_t limit) : resource_(resource) {
        getrlimit(resource_, &saved_);
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = saved_;
        lowered.rlim_cur = limit;
        if (setrlimit(resource_, &lowered) != 0)
            qFatal("cannot lower a resource limit");
    }
    ~ResourceLimit() {
        setrlimit(resource_, &saved_);
        std::signal(SIGXFSZ, previousHandler_);
    }

  private:
    int resource_;
    rlimit saved_{};
    void (*previousHandler_)(int) = nullptr;
};

// The lowest file descriptor number the next open will get.
int nextDescriptor() {
    const int probe = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ::close(probe);
    return probe;
}

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
    void serverLineRules_data();
    void serverLineRules();
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
    void movedWorkspaceSaysSo();
    void unsafeServerName_data();
    void unsafeServerName();
    void unsafeNamesStopBeforeAnythingIsWritten();
    void longNormalLaunchStaysAlive();
    void olderBatchFileNeverAppendedTo();
    void fileFailureStopsAtThatStep();
    void failedStartIsReported();

    void spawnLaunch();
    void spawnPauses_data();
    void spawnPauses();
    void spawnTrailingLineBreakUsesNumber();
    void spawnWinsOverRunLater();
    void spawnStoppedDuringPause();
    void spawnStoppedWithoutPause();
    void numberingAcrossModes();

    void runLaterSavesAndStartsNothing();
    void runLaterNeverAppendsAfterRestart();

    void runLogKeepsUpWithStarts();
    void failedLaunchEndsItsRecord_data();
    void failedLaunchEndsItsRecord();
    void batchFileFailureEndsTheRecord();
    void runLaterWholeOrAbsent();
    void plantedLinksNeverWrittenThrough_data();
    void plantedLinksNeverWrittenThrough();
    void linksOutOfTheWorkspaceRefused_data();
    void linksOutOfTheWorkspaceRefused();

  private:
    // A click of the launch button: refusals and failures end up as message boxes.
    // `allowUnsafeNames`: as when the user answered "Launch anyway".
    void launch(bool allowUnsafeNames = false) {
        LaunchRequest request = window.request();
        request.allowUnsafeNames = allowUnsafeNames;
        runHandler(platform, [&] { launchToTheEnd(*launcher, std::move(request), window); });
    }
    void fill(const QString& servers, const QString& script = QStringLiteral("ping %s")) {
        window.listBox = servers;
        window.scriptBox = script;
    }

    std::unique_ptr<TempWorkspace> ws;
    FakeWindow window;
    RecordingPlatform platform;
    std::unique_ptr<Launcher> launcher;
};

void BatchEngineTest::init() {
    useTestLocale();
    ws = std::make_unique<TempWorkspace>();
    window = FakeWindow();
    platform = RecordingPlatform();
    platform.clock = QDateTime(QDate(2026, 12, 6), QTime(5, 21, 13));
    launcher = std::make_unique<Launcher>(ws->workspace(), platform);
}

void BatchEngineTest::normalLaunchWritesExactFiles() {
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
    // Into a text that held a longer composition before, as a launch reuses its text.
    QString text(200, u'x');
    const qsizetype room = text.capacity();
    Composer(script).composeInto(text, server);
    QCOMPARE(text, composed);
    QVERIFY(text.capacity() >= room);  // its memory kept, not given back and taken anew

    // The same text reaches the batch file, blanks and all once allowed.
    fill(server, script);
    launch(true);
    QCOMPARE(QString::fromUtf8(ws->read("temp/temp1.bat")), "\n" + composed + "\n");
}

void BatchEngineTest::serverLineRules_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("servers");
    QTest::addColumn<bool>("emptyLinesAfterLast");
    QTest::newRow("lf") << "a\nb" << QStringList{"a", "b"} << false;
    QTest::newRow("cr lf is one end") << "a\r\nb\r\n" << QStringList{"a", "b"} << false;
    QTest::newRow("lone cr") << "a\rb" << QStringList{"a", "b"} << false;
    QTest::newRow("mixed") << "a\r\n\rb\n\nc" << QStringList{"a", "b", "c"} << false;
    QTest::newRow("lf cr is two ends") << "a\n\rb\n" << QStringList{"a", "b"} << false;
    QTest::newRow("blanks kept") << " a \n\t" << QStringList{" a ", "\t"} << false;
    QTest::newRow("two trailing ends") << "a\n\n" << QStringList{"a"} << true;
    QTest::newRow("trailing cr lf pair") << "a\r\n\r\n" << QStringList{"a"} << true;
    QTest::newRow("only line ends") << "\n\r\n" << QStringList{} << true;
    QTest::newRow("empty") << "" << QStringList{} << false;
}

void BatchEngineTest::serverLineRules() {
    QFETCH(QString, text);
    QFETCH(QStringList, servers);
    QFETCH(bool, emptyLinesAfterLast);
    const ServerLines lines(text);
    QStringList read;
    for (QStringView server : lines)
        read.append(server.toString());
    QCOMPARE(read, servers);
    QCOMPARE(lines.count(), servers.size());
    QCOMPARE(lines.emptyLinesAfterLast(), emptyLinesAfterLast);
    QCOMPARE(ServerLines::anyServer(text), !servers.isEmpty());
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
    launch(true);
    QCOMPARE(ws->read("temp/temp1.bat"), batch);
}

void BatchEngineTest::refusalsWriteNothing_data() {
    QTest::addColumn<QString>("servers");
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("message");
    QTest::addColumn<LaunchMode>("mode");
    const QList<LaunchMode> modes{LaunchMode::Normal, LaunchMode::Spawn};
    for (LaunchMode mode : modes) {
        const char* name = launchModeKey(mode);
        QTest::addRow("no servers, %s", name) << ""
                                              << "ping %s"
                                              << "You dummy. Add some servers!" << mode;
        QTest::addRow("only line breaks, %s", name) << "\n\r\n\r"
                                                    << "ping %s"
                                                    << "You dummy. Add some servers!" << mode;
        QTest::addRow("no script, %s", name) << "alpha"
                                             << ""
                                             << "You dummy. Add a Script!" << mode;
        QTest::addRow("placeholder, %s", name) << "alpha"
                                               << "Let the scripting begin ..."
                                               << "You dummy. Add a script!" << mode;
    }
}

void BatchEngineTest::refusalsWriteNothing() {
    QFETCH(QString, servers);
    QFETCH(QString, script);
    QFETCH(QString, message);
    QFETCH(LaunchMode, mode);
    window.mode = mode;
    window.logText = QStringLiteral("earlier launch");
    fill(servers, script);
    launch();
    QCOMPARE(platform.messages(), QStringList{message});
    QCOMPARE(platform.events[0].caption, QStringLiteral("Corvane"));
    QCOMPARE(window.logText, QStringLiteral("0"));
    QCOMPARE(ws->files("temp"), QStringList{});
    QCOMPARE(ws->files("logs"), QStringList{});

    // No number was used up: the next launch writes the first batch file.
    fill(QStringLiteral("alpha"));
    launch();
    QVERIFY(ws->exists("temp/temp1.bat"));
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
    QTest::newRow("point is no thousands separator") << de << "1.000" << 1000.0 << "1000";
    QTest::newRow("comma in comma locale") << de << "2,5" << 2500.0 << "2500";
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
    QVERIFY(window.logText.startsWith(shown + "-- Batch (Spawn) Launched "));
}

void BatchEngineTest::badStartDelayRefusedInEveryMode_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<LaunchMode>("mode");
    const QList<std::pair<const char*, const char*>> texts{{"word", "five"},
                                                           {"trailing garbage", "5s"},
                                                           {"negative", "-1"},
                                                           {"tiny negative", "-0.0001"},
                                                           {"one ms too many", "2147483.648"},
                                                           {"huge", "1e300"},
                                                           {"infinite", "inf"},
                                                           {"not a number", "nan"}};
    for (const auto& [name, text] : texts) {
        for (LaunchMode mode : kEveryMode)
            QTest::addRow("%s, %s", name, launchModeKey(mode)) << QString::fromLatin1(text) << mode;
    }
}

void BatchEngineTest::badStartDelayRefusedInEveryMode() {
    QFETCH(QString, text);
    QFETCH(LaunchMode, mode);
    window.mode = mode;
    window.delay = text;
    window.logText = QStringLiteral("kept");
    fill(QStringLiteral("alpha"));
    launch();
    QCOMPARE(platform.messages(),
             QStringList{"The start delay must be a number of seconds from 0 to 2147483.647."});
    QCOMPARE(window.logText, QStringLiteral("kept"));
    QCOMPARE(window.delay, text);
    QCOMPARE(ws->files("temp"), QStringList{});
    QCOMPARE(ws->files("logs"), QStringList{});
    QCOMPARE(ws->files("."), (QStringList{"collections", "logs", "scripts", "temp"}));
}

void BatchEngineTest::missingFolderRefused_data() {
    QTest::addColumn<QString>("folder");
    QTest::addColumn<LaunchMode>("mode");
    for (const char* folder : {"temp", "logs"}) {
        for (LaunchMode mode : kEveryMode)
            QTest::addRow("%s, %s", folder, launchModeKey(mode))
                << QString::fromLatin1(folder) << mode;
    }
}

void BatchEngineTest::missingFolderRefused() {
    QFETCH(QString, folder);
    QFETCH(LaunchMode, mode);
    ws->removeFolder(folder);
    window.mode = mode;
    fill(QStringLiteral("alpha"));
    launch();
    QCOMPARE(platform.messages(),
             QStringList{QStringLiteral("The folder %1 does not exist. Create it and launch again.")
                             .arg(ws->path(folder))});
    QCOMPARE(ws->files("."), (QStringList{"collections", "logs", "scripts", "temp"}.filter(
                                 QRegularExpression("^(?!" + folder + "$)"))));
    QCOMPARE(ws->files("temp") + ws->files("logs"), QStringList{});
}

void BatchEngineTest::unsafeServerName_data() {
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("flagged");
    for (const char* quiet : {"web01", "db-01.example.org", "10.0.0.1", "10.0.0.1:2222",
                              "fe80::1%eth0", "[::1]x", "root@db-01.example.org", "user+ops@host",
                              "a_b/c,d=e", "", "host-", "web01.", "ÜBER-host", "сервер", "主机"}) {
        const bool bracketed = QByteArray(quiet).contains('[');
        QTest::addRow("quiet: %s", quiet) << QString::fromUtf8(quiet) << bracketed;
    }
    for (const char* shell :
         {" ",  "\t", "|", "&", ";", "<", ">", "(", ")", "$",    "`",    "\\",
          "\"", "'",  "*", "?", "[", "]", "{", "}", "!", "\x01", "\x1b", "\x7f"}) {
        QTest::addRow("inside: %s", shell) << "web" + QString::fromLatin1(shell) + "01" << true;
    }
    // A blank anywhere changes the command: `rm -rf backups/%s/old` of "web01 " removes
    // backups/web01 and /old.
    for (const char* blanks : {"web01 ", "\tweb02", "   ", "web 01", "  web01  ", "\t"})
        QTest::addRow("blanks: '%s'", blanks) << QString::fromLatin1(blanks) << true;
    for (const char* first : {"-", "#", "~"}) {
        QTest::addRow("first: %s", first) << QString::fromLatin1(first) + "web01" << true;
        QTest::addRow("later: %s", first) << "web" + QString::fromLatin1(first) + "01" << false;
    }
    QTest::newRow("a note in the name column") << "web07; rm -rf ~/old" << true;
    QTest::newRow("an option for ssh") << "-oProxyCommand=touch /tmp/owned" << true;
    QTest::newRow("C1 control") << QString::fromUtf8(
                                       "web\xc2\x85"
                                       "01")
                                << true;
}

void BatchEngineTest::unsafeServerName() {
    QFETCH(QString, line);
    QFETCH(bool, flagged);
    QCOMPARE(isUnsafeServerName(line), flagged);
}

void BatchEngineTest::unsafeNamesStopBeforeAnythingIsWritten() {
    QString servers = QStringLiteral("web01\r\n\nweb02; reboot\rweb03\nevil\x1b]2;PWNED\a\n");
    for (int i = 0; i < 25; ++i)
        servers += QStringLiteral("-x%1\n").arg(i);
    for (LaunchMode mode : kEveryMode) {
        window.mode = mode;
        window.logText = QStringLiteral("earlier launch");
        fill(servers);
        try {
            launchToTheEnd(*launcher, window.request(), window);
            QFAIL("flagged names were launched");
        } catch (const UnsafeServerNames& unsafe) {
            QStringList lines = unsafe.listing().split(u'\n');
            QCOMPARE(lines.size(), 22);
            QCOMPARE(lines[0], QStringLiteral("27 server name(s) hold characters that the shell "
                                              "or the command would act on:"));
            QCOMPARE(lines[1], QStringLiteral("line 3: web02; reboot"));
            // Shown escaped: raw, it would retitle and clear the terminal it is printed on.
            QCOMPARE(lines[2], QStringLiteral("line 5: evil\\e]2;PWNED\\x07"));
            QCOMPARE(lines[3], QStringLiteral("line 6: -x0"));
            QCOMPARE(lines[20], QStringLiteral("line 23: -x17"));
            QCOMPARE(lines[21], QStringLiteral("... and 7 more"));
        }
        QCOMPARE(window.logText, QStringLiteral("earlier launch"));
        QCOMPARE(ws->files("temp") + ws->files("logs"), QStringList{});
    }
    // Allowed, the launch goes on as any other, its numbering untouched by the refusals.
    window.mode = LaunchMode::Normal;
    LaunchRequest request = window.request();
    request.allowUnsafeNames = true;
    launchToTheEnd(*launcher, request, window);
    QVERIFY(ws->read("temp/temp1.bat").startsWith("\nping web01\n\nping web02; reboot\n"));

    // A refusal still wins over the question.
    fill(servers, QString());
    launch();
    QCOMPARE(platform.messages(), QStringList{"You dummy. Add a Script!"});
}

void BatchEngineTest::movedWorkspaceSaysSo() {
    const QString root = ws->workspace().root();
    QVERIFY(QDir(root).removeRecursively());
    window.mode = LaunchMode::Spawn;
    fill(QStringLiteral("alpha"));
    launch();
    QCOMPARE(platform.messages(),
             QStringList{QStringLiteral("The folder %1, where Corvane was started, was moved or "
                                        "deleted while Corvane was running. Start Corvane again "
                                        "from where it is now.")
                             .arg(root)});
    QVERIFY(!QFileInfo::exists(root));
}

void BatchEngineTest::longNormalLaunchStaysAlive() {
    // A launch long enough to be noticed lets the window answer the desktop every 50 ms.
    // The log box takes its text in pieces, never a copy of the whole log at once; what a
    // drawing shows is the start of the final text.
    QString servers;
    QString expected = "0-- Batch (Spawn) Launched " + kStamp + "\n";
    for (int i = 0; i < 200000; ++i) {
        servers += QStringLiteral("server-%1\n").arg(i);
        expected += QStringLiteral("\nping server-%1").arg(i);
    }
    expected += "-- End of Batch\n";
    fill(servers);
    QElapsedTimer took;
    took.start();
    launch();
    if (took.elapsed() > 150)
        QVERIFY(window.repaints >= 1);
    QCOMPARE(window.logText, expected);
    QVERIFY(window.appends > 4);
    QVERIFY(window.largestAppend < expected.size() / 4);
    for (const QString& shown : window.logTextAtRepaint)
        QVERIFY(expected.startsWith(shown));
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
    QCOMPARE(platform.startedPaths(), QStringList{ws->path("temp/temp3.bat")});
}

void BatchEngineTest::fileFailureStopsAtThatStep() {
    ws->makeFolder("logs/log.txt");  // cannot be opened for appending, even by root
    fill(QStringLiteral("alpha"));
    launch();
    QCOMPARE(platform.messages(),
             QStringList{QStringLiteral("Cannot open %1 for appending: Is a directory")
                             .arg(ws->path("logs/log.txt"))});
    // What came before stays; nothing after it happened.
    QCOMPARE(ws->read("temp/srvtemp.txt"), QByteArray("alpha\n"));
    QVERIFY(!ws->exists("temp/temp1.bat"));
    QCOMPARE(platform.startedPaths(), QStringList{});
    QCOMPARE(window.logText, QStringLiteral("0"));
}

void BatchEngineTest::failedStartIsReported() {
    platform.failStarts = true;
    fill(QStringLiteral("alpha"));
    launch();
    QCOMPARE(platform.messages(),
             QStringList{"Cannot start " + ws->path("temp/temp1.bat") + ": no shell"});
    // The batch file and the records are complete: only the start failed.
    QCOMPARE(ws->read("temp/temp1.bat"), QByteArray("\nping alpha\n"));
    QVERIFY(ws->read("logs/log.txt").endsWith(kSeparator + "\n"));
    QVERIFY(window.logText.endsWith("-- End of Batch\n"));
}

void BatchEngineTest::spawnLaunch() {
    window.mode = LaunchMode::Spawn;
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
    // Drawn right before the pause and at the end; between them no 50 ms passed.
    QCOMPARE(window.repaints, 2);
    QCOMPARE(window.stoppableChanges, (QList<bool>{true, false}));

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
    window.mode = LaunchMode::Spawn;
    window.delay = delay;
    fill(QStringLiteral("a\nb\nc"));
    launch();
    QCOMPARE(platform.pauses(), pauses);
    QCOMPARE(window.logText.count(pauseLine), 2);
    QCOMPARE(platform.startedPaths().size(), 3);
}

void BatchEngineTest::spawnTrailingLineBreakUsesNumber() {
    window.mode = LaunchMode::Spawn;
    fill(QStringLiteral("a\nb\nc\n"));
    launch();
    QCOMPARE(platform.startedPaths().size(), 3);
    QCOMPARE(ws->files("temp"),
             (QStringList{"srvtemp.txt", "temp1.bat", "temp2.bat", "temp3.bat"}));
    window.mode = LaunchMode::Normal;
    launch();
    QVERIFY(ws->exists("temp/temp5.bat"));  // the turn that found only the empty line took 4
}

void BatchEngineTest::spawnStoppedDuringPause() {
    window.mode = LaunchMode::Spawn;
    window.delay = QStringLiteral("5");
    fill(QStringLiteral("s1\ns2\ns3\ns4\ns5"));
    int pauses = 0;
    platform.whilePaused = [&](int) {
        if (++pauses == 2)
            window.stop = true;  // the user stops while the third server waits
    };
    launch();
    QCOMPARE(platform.startedPaths(),
             (QStringList{ws->path("temp/temp1.bat"), ws->path("temp/temp2.bat")}));
    QCOMPARE(platform.pauses(), (QList<int>{5000, 5000}));
    QCOMPARE(ws->files("temp"), (QStringList{"srvtemp.txt", "temp1.bat", "temp2.bat"}));
    QCOMPARE(ws->read("logs/log.txt"),
             "Corvane (SPAWN-MODE) launched 12/6/2026 5:21:13 AM\n\n"
             "ping s1\n\nping s2\n\nping s3\n\nNot started: s3\n"
             "Stopped by the user after 2 of 5 servers.\n" +
                 kSeparator + "\n");
    QCOMPARE(window.logText, "5000-- Batch (Spawn) Launched " + kStamp +
                                 "\nping s1\nPausing 5 seconds ...\nping s2\n"
                                 "-- Stopped after 2 of 5 servers\n");
    QCOMPARE(window.stoppableChanges, (QList<bool>{true, false}));
    QCOMPARE(platform.messages(), QStringList{});
}

void BatchEngineTest::spawnStoppedWithoutPause() {
    // With no delay the stop is taken before the next start all the same.
    window.mode = LaunchMode::Spawn;
    fill(QStringLiteral("s1\ns2\ns3"));
    launch();
    window.stop = true;  // asked for during the first server of the next launch
    platform.clear();
    launch();
    QCOMPARE(platform.startedPaths(), QStringList{});
    QVERIFY(!ws->exists("temp/temp4.bat"));
    QVERIFY(ws->read("logs/log.txt")
                .endsWith("ping s1\n\nNot started: s1\n"
                          "Stopped by the user after 0 of 3 servers.\n" +
                          kSeparator + "\n"));
    QVERIFY(window.logText.endsWith("-- Stopped after 0 of 3 servers\n"));
}

void BatchEngineTest::spawnWinsOverRunLater() {
    window.mode = launchModeFor(true, true);
    fill(QStringLiteral("alpha"));
    launch();
    QCOMPARE(platform.messages(), QStringList{});
    QCOMPARE(platform.startedPaths(), QStringList{ws->path("temp/temp1.bat")});
    QCOMPARE(ws->files("."), (QStringList{"collections", "logs", "scripts", "temp"}));
}

void BatchEngineTest::numberingAcrossModes() {
    fill(QStringLiteral("a\nb\nc"));
    launch();
    window.mode = LaunchMode::Spawn;
    launch();
    window.mode = LaunchMode::Normal;
    launch();
    QCOMPARE(ws->files("temp"), (QStringList{"srvtemp.txt", "temp1.bat", "temp2.bat", "temp3.bat",
                                             "temp4.bat", "temp5.bat"}));
    QCOMPARE(ws->read("temp/temp5.bat"), QByteArray("\nping a\n\nping b\n\nping c\n"));

    window.mode = LaunchMode::RunLater;
    launch();
    QVERIFY(ws->exists("run_later_6.bat"));
}

void BatchEngineTest::runLaterSavesAndStartsNothing() {
    window.mode = LaunchMode::RunLater;
    fill(QStringLiteral("alpha\nbeta"));
    launch();
    const QString saved = ws->path("run_later_1.bat");
    QCOMPARE(ws->read("run_later_1.bat"), QByteArray("\nping alpha\n\nping beta\n"));
    QCOMPARE(ws->files("temp"), QStringList{"srvtemp.txt"});
    QCOMPARE(platform.startedPaths(), QStringList{});
    QCOMPARE(window.saved, QStringList{saved});
    QCOMPARE(platform.messages(), QStringList{});
    QVERIFY(ws->read("logs/log.txt").startsWith("Corvane launched "));
    QVERIFY(window.logText.startsWith("0-- Batch (Spawn) Launched "));
    QVERIFY(window.logText.endsWith("ping beta-- End of Batch\n"));

    // The counter is shared with normal mode.
    window.mode = LaunchMode::Normal;
    launch();
    QVERIFY(ws->exists("temp/temp2.bat"));
}

void BatchEngineTest::runLaterNeverAppendsAfterRestart() {
    window.mode = LaunchMode::RunLater;
    fill(QStringLiteral("alpha"));
    launch();
    // A new run of the program starts counting at 0 again.
    launcher = std::make_unique<Launcher>(ws->workspace(), platform);
    fill(QStringLiteral("beta"));
    launch();
    QCOMPARE(ws->read("run_later_1.bat"), QByteArray("\nping alpha\n"));
    QCOMPARE(ws->read("run_later_2.bat"), QByteArray("\nping beta\n"));
    QCOMPARE(window.saved.last(), ws->path("run_later_2.bat"));
}

void BatchEngineTest::runLogKeepsUpWithStarts() {
    // The run log's disk fills up during a Spawn Mode launch: every started server has
    // its whole block on disk, and the launch ends at the first block that did not fit.
    window.mode = LaunchMode::Spawn;
    QStringList servers;
    for (int i = 1; i <= 50; ++i)
        servers.append(QStringLiteral("server-%1").arg(i, 2, 10, QChar(u'0')));
    fill(servers.join('\n'), QStringLiteral("echo %s"));
    {
        const ResourceLimit fullDisk(RLIMIT_FSIZE, 600);
        launch();
        QTest::qWait(200);  // the history's next group
    }
    const QString log = QString::fromUtf8(ws->read("logs/log.txt"));
    // The results history on the same disk is reported once, and the launch goes on.
    QStringList messages = platform.messages();
    QCOMPARE(messages.size(), 2);
    QVERIFY2(messages.takeLast().startsWith("The results history " +
                                            ws->path("logs/results.sqlite") + " cannot be"),
             qPrintable(platform.messages().join('\n')));
    QCOMPARE(messages,
             QStringList{"Cannot write to " + ws->path("logs/log.txt") + ": File too large"});
    const QStringList started = platform.startedPaths();
    QVERIFY(!started.isEmpty() && started.size() < 50);
    for (int i = 0; i < started.size(); ++i) {
        QCOMPARE(started[i], ws->path(QStringLiteral("temp/temp%1.bat").arg(i + 1)));
        QVERIFY(log.contains("echo " + servers[i] + "\n\n"));
    }
    QVERIFY(!log.contains("echo " + servers[started.size()] + "\n\n"));
}

void BatchEngineTest::failedLaunchEndsItsRecord_data() {
    QTest::addColumn<LaunchMode>("mode");
    QTest::addColumn<bool>("afterAWait");  // the start fails once the launch has waited
    QTest::addColumn<QByteArray>("record");
    QTest::newRow("normal") << LaunchMode::Normal << false
                            << QByteArray(
                                   "Corvane launched 12/6/2026 5:21:13 AM\n\nping alpha\n\n"
                                   "ping beta\n\nLaunch failed: Cannot start TEMP1: no "
                                   "shell\n");
    QTest::newRow("spawn") << LaunchMode::Spawn << false
                           << QByteArray(
                                  "Corvane (SPAWN-MODE) launched 12/6/2026 5:21:13 AM\n\n"
                                  "ping alpha\n\nLaunch failed: Cannot start TEMP1: no "
                                  "shell\n");
    // Told by finished(), on a later turn of the event loop than the start.
    QTest::newRow("spawn, after its delay")
        << LaunchMode::Spawn << true
        << QByteArray(
               "Corvane (SPAWN-MODE) launched 12/6/2026 5:21:13 AM\n\nping alpha\n\n"
               "ping beta\n\nLaunch failed: Cannot start TEMP2: no shell\n");
}

void BatchEngineTest::failedLaunchEndsItsRecord() {
    QFETCH(LaunchMode, mode);
    QFETCH(bool, afterAWait);
    QFETCH(QByteArray, record);
    window.mode = mode;
    platform.failStarts = !afterAWait;
    platform.realWaits = afterAWait;
    platform.whilePaused = [&](int) { platform.failStarts = true; };
    window.delay = QStringLiteral("0.05");
    fill(QStringLiteral("alpha\nbeta"));
    launch();
    record.replace("TEMP1", ws->path("temp/temp1.bat").toUtf8());
    record.replace("TEMP2", ws->path("temp/temp2.bat").toUtf8());
    QCOMPARE(ws->read("logs/log.txt"), record + kSeparator + "\n");
    QCOMPARE(platform.messages().size(), 1);
    QCOMPARE(window.finishes, afterAWait ? 1 : 0);
}

void BatchEngineTest::batchFileFailureEndsTheRecord() {
    // The batch file cannot be created: the record says so, and no command is claimed
    // to have run without that word after it.
    fill(QStringLiteral("alpha\nbeta"));
    {
        // One more file than the spool file and the run log leaves no room for the batch.
        const ResourceLimit exhausted(RLIMIT_NOFILE, nextDescriptor() + 1);
        launch();
    }
    const QString message = "Cannot create " + ws->path("temp/temp1.bat") + ": Too many open files";
    QCOMPARE(platform.messages(), QStringList{message});
    QCOMPARE(ws->read("logs/log.txt"), "Corvane launched 12/6/2026 5:21:13 AM\n\nLaunch failed: " +
                                           message.toUtf8() + "\n" + kSeparator + "\n");
    QCOMPARE(platform.startedPaths(), QStringList{});
}

void BatchEngineTest::runLaterWholeOrAbsent() {
    window.mode = LaunchMode::RunLater;
    QStringList servers;
    for (int i = 1; i <= 100; ++i)
        servers.append(QStringLiteral("server-%1").arg(i));
    fill(servers.join('\n'), QStringLiteral("echo %s"));
    {
        const ResourceLimit fullDisk(RLIMIT_FSIZE, 1000);
        launch();
    }
    QCOMPARE(
        platform.messages(),
        QStringList{"Cannot write to " + ws->path(".run_later_1.bat.part") + ": File too large"});
    QCOMPARE(ws->files("."), (QStringList{"collections", "logs", "scripts", "temp"}));

    // With room on the disk the same launch saves the whole file.
    platform.clear();
    launch();
    QCOMPARE(platform.messages(), QStringList{});
    QCOMPARE(window.saved, QStringList{ws->path("run_later_2.bat")});
    QCOMPARE(QString::fromUtf8(ws->read("run_later_2.bat")).count("echo server-"), 100);
    QCOMPARE(ws->files("."),
             (QStringList{"collections", "logs", "run_later_2.bat", "scripts", "temp"}));
}

void BatchEngineTest::plantedLinksNeverWrittenThrough_data() {
    QTest::addColumn<LaunchMode>("mode");
    QTest::addColumn<QString>("written");
    QTest::newRow("normal") << LaunchMode::Normal << "temp/temp2.bat";
    QTest::newRow("spawn") << LaunchMode::Spawn << "temp/temp2.bat";
    QTest::newRow("run later") << LaunchMode::RunLater << "run_later_2.bat";
}

void BatchEngineTest::plantedLinksNeverWrittenThrough() {
    QFETCH(LaunchMode, mode);
    QFETCH(QString, written);
    // Links named like the next batch files, leading nowhere yet.
    QTemporaryDir elsewhere;
    QFile::link(elsewhere.filePath("temp-target"), ws->path("temp/temp1.bat"));
    QFile::link(elsewhere.filePath("saved-target"), ws->path("run_later_1.bat"));
    window.mode = mode;
    fill(QStringLiteral("alpha"));
    launch();
    QVERIFY(ws->exists(written));
    QVERIFY(QFileInfo(ws->path(written)).isFile() && !QFileInfo(ws->path(written)).isSymLink());
    QCOMPARE(QDir(elsewhere.path()).entryList(QDir::Files), QStringList{});
}

void BatchEngineTest::linksOutOfTheWorkspaceRefused_data() {
    QTest::addColumn<QString>("link");
    QTest::newRow("spool file") << "temp/srvtemp.txt";
    QTest::newRow("run log") << "logs/log.txt";
}

void BatchEngineTest::linksOutOfTheWorkspaceRefused() {
    QFETCH(QString, link);
    QTemporaryDir elsewhere;
    const QString target = elsewhere.filePath("target.txt");
    QFile::link(target, ws->path(link));
    fill(QStringLiteral("alpha"));
    launch();
    QCOMPARE(platform.messages(),
             QStringList{ws->path(link) + " is a link to " + target +
                         ", outside the workspace. Remove the link and launch again."});
    QVERIFY(!QFileInfo::exists(target));
    QCOMPARE(ws->files("temp") + ws->files("logs"), QStringList{QFileInfo(link).fileName()});

    // A link that stays inside the workspace is written through.
    QFile::remove(ws->path(link));
    QFile::link(ws->path("logs/kept.txt"), ws->path(link));
    platform.clear();
    launch();
    QCOMPARE(platform.messages(), QStringList{});
    QVERIFY(ws->exists("logs/kept.txt"));
}

QTEST_GUILESS_MAIN(BatchEngineTest)
#include "test_batch_engine.moc"
