// corvane run as a user's script runs it: the built program in a workspace of its own,
// with the real recorder and no display.
#include <signal.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

namespace {

// The built program copied into a fresh workspace.
class Workspace {
  public:
    Workspace() {
        for (const char* folder : {"collections", "scripts", "temp", "logs"})
            QDir(dir_.path()).mkdir(QString::fromLatin1(folder));
        QFile::copy(QStringLiteral(CORVANE_PROGRAM), path("corvane"));
    }
    QString path(const QString& relative) const { return dir_.filePath(relative); }
    void write(const QString& relative, const QByteArray& bytes) const {
        QFile file(path(relative));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    }
    QByteArray read(const QString& relative) const {
        QFile file(path(relative));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    // Starts `corvane run` with `arguments`, without a display.
    void start(QProcess& process, const QStringList& arguments) const {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(QString::fromLatin1(name));
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(dir_.path());
        process.start(path("corvane"), arguments);
    }

    struct Result {
        int status = -1;
        QString out;
        QString err;
    };
    Result run(const QStringList& arguments) const {
        QProcess process;
        start(process, arguments);
        if (!process.waitForFinished(30000))
            return {};
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromUtf8(process.readAllStandardOutput()),
                QString::fromUtf8(process.readAllStandardError())};
    }

  private:
    QTemporaryDir dir_;
};

QStringList lines(const QString& text) {
    return text.split(u'\n', Qt::SkipEmptyParts);
}

// The lines of the batch files, in the order of their names (they come as the batch files
// end), and the summary last.
QStringList sortedLines(const QString& text) {
    QStringList all = lines(text);
    const QString summary = all.isEmpty() ? QString() : all.takeLast();
    all.sort();
    return all << summary;
}

}  // namespace

class CommandLineTest : public QObject {
    Q_OBJECT

  private slots:
    void allPassAndOneFails();
    void usageErrorsAndRefusals_data();
    void usageErrorsAndRefusals();
    void jsonHoldsEachBatchFile();
    void runLaterPrintsThePath();
    void interruptStopsTheLaunch();
    void secondRunInTheSameFolderRefused();
    void unsafeNamesRefusedUnlessAllowed();
};

void CommandLineTest::allPassAndOneFails() {
    Workspace ws;
    ws.write("collections/web.txt", "web01\nweb02\nweb03\n");
    ws.write("scripts/check.txt", "echo checked %s\n[ %s = web02 ] && exit 2\nexit 0\n");
    ws.write("scripts/fine.txt", "echo fine %s\n");
    ws.write("temp/left-over.txt", "kept");

    Workspace::Result result =
        ws.run({"run", "--collection", "web.txt", "--template", "fine.txt", "--spawn"});
    QCOMPARE(result.status, 0);
    QCOMPARE(sortedLines(result.out), (QStringList{"web01: exit 0", "web02: exit 0",
                                                   "web03: exit 0", "3 servers: 3 ok, 0 failed"}));
    QVERIFY2(result.err.contains("without terminal windows"), qPrintable(result.err));

    result = ws.run({"run", "--collection=web.txt", "--template", "check.txt", "--spawn"});
    QCOMPARE(result.status, 1);
    QVERIFY2(result.out.contains("web02: exit 2\n"), qPrintable(result.out));
    QVERIFY(result.out.endsWith("3 servers: 2 ok, 1 failed\n"));
    // The next free numbers; the temp folder as it was found, its files kept.
    QCOMPARE(ws.read("temp/temp6.bat"),
             QByteArray("echo checked web03\n[ web03 = web02 ] && exit 2\nexit 0\n\n"));
    QCOMPARE(ws.read("temp/left-over.txt"), QByteArray("kept"));
    QVERIFY(ws.read("logs/log.txt").contains("Corvane (SPAWN-MODE) launched "));

    // A path to any file; normal mode: one batch file for every server.
    ws.write("elsewhere.txt", "db01\ndb02\n");
    result = ws.run({"run", "--collection", ws.path("elsewhere.txt"), "--template", "fine.txt"});
    QCOMPARE(result.status, 0);
    QCOMPARE(lines(result.out),
             (QStringList{"temp7.bat (2 servers): exit 0", "2 servers: 2 ok, 0 failed"}));
}

void CommandLineTest::usageErrorsAndRefusals_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("said");
    const QStringList both{"run", "--collection", "web.txt", "--template", "fine.txt"};
    QTest::newRow("unknown option") << (both + QStringList{"--fast"})
                                    << "corvane run: unknown option --fast (see corvane --help)";
    QTest::newRow("spawn and later") << (both + QStringList{"--spawn", "--later"})
                                     << "corvane run: --spawn and --later cannot go together";
    QTest::newRow("no collection")
        << QStringList{"run", "--template", "fine.txt"}
        << "corvane run: --collection NAME is missing (see corvane --help)";
    QTest::newRow("delay without value")
        << (both + QStringList{"--delay"}) << "corvane run: --delay needs a value";
    QTest::newRow("no such collection")
        << QStringList{"run", "--collection", "nope.txt", "--template", "fine.txt"}
        << "corvane run: no collection nope.txt: neither %1/collections/nope.txt nor nope.txt "
           "is a file";
    QTest::newRow("no servers") << QStringList{"run", "--collection", "empty.txt", "--template",
                                               "fine.txt"}
                                << "You dummy. Add some servers!";
    QTest::newRow("no template") << QStringList{"run", "--collection", "web.txt", "--template",
                                                "empty.txt"}
                                 << "You dummy. Add a Script!";
    QTest::newRow("bad delay") << (both + QStringList{"--spawn", "--delay", "soon"})
                               << "The start delay must be a number of seconds from 0 to "
                                  "2147483.647.";
}

void CommandLineTest::usageErrorsAndRefusals() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, said);
    Workspace ws;
    ws.write("collections/web.txt", "web01\n");
    ws.write("collections/empty.txt", "\n\n");
    ws.write("scripts/fine.txt", "echo %s\n");
    ws.write("scripts/empty.txt", "");
    const Workspace::Result result = ws.run(arguments);
    QCOMPARE(result.status, 2);
    QCOMPARE(lines(result.err).last(),
             said.contains("%1") ? said.arg(ws.path(".").chopped(2)) : said);
    QCOMPARE(result.out, QString());
    QCOMPARE(ws.read("logs/log.txt"), QByteArray("<missing>"));
    QCOMPARE(QDir(ws.path("temp")).entryList(QDir::Files), QStringList{});
}

void CommandLineTest::jsonHoldsEachBatchFile() {
    Workspace ws;
    ws.write("collections/web.txt", "web01\nweb02\n");
    ws.write("scripts/check.txt", "echo output of %s\n[ %s = web02 ] && exit 3\nexit 0\n");
    const Workspace::Result result =
        ws.run({"run", "--collection", "web.txt", "--template", "check.txt", "--spawn", "--json"});
    QCOMPARE(result.status, 1);
    QJsonParseError error;
    const QJsonObject launch = QJsonDocument::fromJson(result.out.toUtf8(), &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(launch["mode"].toString(), QStringLiteral("spawn"));
    QCOMPARE(launch["servers"].toInt(), 2);
    QCOMPARE(launch["failedServers"].toInt(), 1);
    const QJsonArray files = launch["batchFiles"].toArray();
    QCOMPARE(files.size(), 2);
    QStringList states;
    for (const QJsonValue& value : files) {
        const QJsonObject file = value.toObject();
        const QString server = file["servers"].toArray()[0].toString();
        states.append(server + ": " + file["state"].toString() + " " +
                      QString::number(file["exitStatus"].toInt()));
        QFile output(file["output"].toString());
        QVERIFY(output.open(QIODevice::ReadOnly));
        QVERIFY(output.readAll().contains("output of " + server.toUtf8()));
        QVERIFY(file["batchFile"].toString().startsWith(ws.path("temp/temp")));
    }
    states.sort();
    QCOMPARE(states, (QStringList{"web01: exit 0 0", "web02: exit 3 3"}));
}

void CommandLineTest::runLaterPrintsThePath() {
    Workspace ws;
    ws.write("collections/web.txt", "web01\nweb02\n");
    ws.write("scripts/ping.txt", "ping -c 1 %s");
    const Workspace::Result result =
        ws.run({"run", "--collection", "web.txt", "--template", "ping.txt", "--later"});
    QCOMPARE(result.status, 0);
    QCOMPARE(result.out, ws.path("run_later_1.bat") + "\n");
    QCOMPARE(ws.read("run_later_1.bat"), QByteArray("\nping -c 1 web01\n\nping -c 1 web02\n"));
    QCOMPARE(result.err, QString());
}

void CommandLineTest::interruptStopsTheLaunch() {
    Workspace ws;
    ws.write("collections/web.txt", "web01\nweb02\nweb03\n");
    ws.write("scripts/slow.txt", "echo $$ > '" + ws.path("shell-%s").toUtf8() + "'\nsleep 60\n");
    QProcess process;
    ws.start(process, {"run", "--collection", "web.txt", "--template", "slow.txt", "--spawn",
                       "--delay", "3"});
    // The first server starts at once; SIGINT while the second one waits for its turn.
    QTRY_VERIFY_WITH_TIMEOUT(ws.read("shell-web01") != "<missing>", 10000);
    const pid_t shell = ws.read("shell-web01").trimmed().toInt();
    QVERIFY(shell > 0 && ::kill(shell, 0) == 0);
    ::kill(static_cast<pid_t>(process.processId()), SIGINT);
    QVERIFY(process.waitForFinished(20000));
    QCOMPARE(process.exitCode(), 1);
    const QString out = QString::fromUtf8(process.readAllStandardOutput());
    QCOMPARE(sortedLines(out),
             (QStringList{"web01: ended by the user", "web02: not started", "web03: not started",
                          "3 servers: 0 ok, 3 failed, stopped"}));
    QVERIFY2(ws.read("logs/log.txt")
                 .endsWith("Not started: web02\nStopped by the user after 1 of 3 servers.\n" +
                           QByteArray(67, '-') + "\n"),
             ws.read("logs/log.txt").constData());
    QVERIFY(ws.read("shell-web02") == "<missing>");
    // The batch file's shell was ended with its process group.
    QTRY_VERIFY_WITH_TIMEOUT(::kill(shell, 0) != 0, 5000);
}

void CommandLineTest::secondRunInTheSameFolderRefused() {
    Workspace ws;
    ws.write("collections/web.txt", "web01\n");
    ws.write("scripts/slow.txt", "sleep 3\n");
    QProcess first;
    ws.start(first, {"run", "--collection", "web.txt", "--template", "slow.txt"});
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(ws.path("temp/temp1.bat")), 10000);
    const Workspace::Result second =
        ws.run({"run", "--collection", "web.txt", "--template", "slow.txt"});
    QCOMPARE(second.status, 1);
    QCOMPARE(lines(second.err),
             QStringList{QStringLiteral("Corvane is already running in this folder (process %1).")
                             .arg(first.processId())});
    QVERIFY(first.waitForFinished(20000));
    QCOMPARE(first.exitCode(), 0);
    QCOMPARE(ws.read("logs/log.txt").count("launched"), 1);
}

void CommandLineTest::unsafeNamesRefusedUnlessAllowed() {
    Workspace ws;
    ws.write("collections/web.txt",
             "web01\nweb07; echo owned > '" + ws.path("owned").toUtf8() + "'\n");
    ws.write("scripts/echo.txt", "echo %s\n");
    Workspace::Result result = ws.run({"run", "--collection", "web.txt", "--template", "echo.txt"});
    QCOMPARE(result.status, 2);
    const QStringList said = lines(result.err);
    QVERIFY2(said.contains("1 server name(s) hold characters that the shell or the command "
                           "would act on:"),
             qPrintable(result.err));
    QVERIFY(said.contains("line 2: web07; echo owned > '" + ws.path("owned") + "'"));
    QCOMPARE(ws.read("logs/log.txt"), QByteArray("<missing>"));
    QCOMPARE(QDir(ws.path("temp")).entryList(QDir::Files), QStringList{});

    result = ws.run(
        {"run", "--collection", "web.txt", "--template", "echo.txt", "--allow-unsafe-names"});
    QCOMPARE(result.status, 0);
    QCOMPARE(ws.read("owned"), QByteArray("owned\n"));  // what the user allowed
}

QTEST_GUILESS_MAIN(CommandLineTest)
#include "test_command_line.moc"
