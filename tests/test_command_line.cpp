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
    // Starts `corvane` with `arguments` in the workspace, without a display (or with the
    // `display` given).
    void start(QProcess& process, const QStringList& arguments, const QString& program = QString(),
               const QString& display = QString()) const {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(QString::fromLatin1(name));
        if (!display.isEmpty())
            environment.insert("DISPLAY", display);
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(dir_.path());
        process.start(program.isEmpty() ? path("corvane") : program, arguments);
    }

    struct Result {
        int status = -1;
        QString out;
        QString err;
    };
    Result run(const QStringList& arguments, const QString& display = QString()) const {
        QProcess process;
        start(process, arguments, QString(), display);
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
    void resultsNeverKeepALaunchOut();
    void resultsTellWhatTheLastLaunchDid();
    void interruptStopsTheLaunch_data();
    void interruptStopsTheLaunch();
    void closedOutputStopsTheLaunch();
    void secondRunInTheSameFolderRefused();
    void unsafeNamesRefusedUnlessAllowed();
    void atMostNAtOnce();
    void everyEndIsSeenUnderLoad();
    void progressLineOnlyOnATerminal();
    void timeLimitEndsTheWholeGroup_data();
    void timeLimitEndsTheWholeGroup();
    void hangingServerTimesOut();
    void stopWhileWaitingForASlot();
};

void CommandLineTest::allPassAndOneFails() {
    Workspace ws;
    ws.write("collections/web.txt", "web01\nweb02\nweb03\n");
    ws.write("scripts/check.txt", "echo checked %s\n[ %s = web02 ] && exit 2\nexit 0\n");
    ws.write("scripts/fine.txt", "echo fine %s\n");
    ws.write("temp/left-over.txt", "kept");

    // The names the window lists, without .txt.
    Workspace::Result result =
        ws.run({"run", "--collection", "web", "--template", "fine", "--spawn"});
    QCOMPARE(result.status, 0);
    QCOMPARE(sortedLines(result.out), (QStringList{"web01: exit 0", "web02: exit 0",
                                                   "web03: exit 0", "3 servers: 3 ok, 0 failed"}));
    QCOMPARE(lines(result.err),
             QStringList{"corvane run: no display, so the batch files run without terminal "
                         "windows; their output is kept in " +
                         ws.path("temp") + "."});
    // A display that does not answer is none; without terminals nothing needs saying.
    result = ws.run({"run", "--collection", "web", "--template", "fine", "--spawn"}, ":1097");
    QCOMPARE(result.status, 0);
    QVERIFY2(result.err.startsWith("corvane run: the display :1097 does not answer, so the batch "
                                   "files run without terminal windows"),
             qPrintable(result.err));
    result = ws.run({"run", "--collection", "web", "--template", "fine", "--no-terminal"});
    QCOMPARE(result.status, 0);
    QCOMPARE(result.err, QString());

    result = ws.run({"run", "--collection=web.txt", "--template", "check.txt", "--spawn"});
    QCOMPARE(result.status, 1);
    QVERIFY2(result.out.contains("web02: exit 2\n"), qPrintable(result.out));
    QVERIFY(result.out.endsWith("3 servers: 2 ok, 1 failed\n"));
    // The next free numbers; the temp folder as it was found, its files kept.
    QCOMPARE(ws.read("temp/temp10.bat"),
             QByteArray("echo checked web03\n[ web03 = web02 ] && exit 2\nexit 0\n\n"));
    QCOMPARE(ws.read("temp/left-over.txt"), QByteArray("kept"));
    QVERIFY(ws.read("logs/log.txt").contains("Corvane (SPAWN-MODE) launched "));

    // A path to any file; normal mode: one batch file for every server.
    ws.write("elsewhere.txt", "db01\ndb02\n");
    result = ws.run({"run", "--collection", ws.path("elsewhere.txt"), "--template", "fine.txt"});
    QCOMPARE(result.status, 0);
    QCOMPARE(lines(result.out),
             (QStringList{"temp11.bat (2 servers): exit 0", "1 batch file of 2 servers: exit 0"}));
}

void CommandLineTest::usageErrorsAndRefusals_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("prepare");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("said");  // the last line on stderr; with status 0, stdout's first
    const QStringList both{"run", "--collection", "web.txt", "--template", "fine.txt"};
    QTest::newRow("unknown option")
        << (both + QStringList{"--fast"}) << "" << 2
        << "corvane run: Unknown option 'fast'. (see corvane run --help)";
    QTest::newRow("spawn and later") << (both + QStringList{"--spawn", "--later"}) << "" << 2
                                     << "corvane run: --spawn and --later cannot go together";
    QTest::newRow("output and group") << (both + QStringList{"--output", "--group"}) << "" << 2
                                      << "corvane run: --json, --output and --group cannot go "
                                         "together";
    QTest::newRow("group of a later launch")
        << (both + QStringList{"--later", "--group"}) << "" << 2
        << "corvane run: --later starts no batch file: it has no output to print";
    QTest::newRow("results: two forms")
        << QStringList{"results", "--csv", "--group"} << "" << 2
        << "corvane results: --json, --output, --group and --csv each print the launch in a form "
           "of their own: give one of them";
    QTest::newRow("no collection")
        << QStringList{"run", "--template", "fine.txt"} << "" << 2
        << "corvane run: --collection NAME is missing (see corvane run --help)";
    QTest::newRow("delay without value")
        << (both + QStringList{"--delay"}) << "" << 2
        << "corvane run: Missing value after '--delay'. (see corvane run --help)";
    QTest::newRow("no such collection")
        << QStringList{"run", "--collection", "nope", "--template", "fine.txt"} << "" << 2
        << "corvane run: no collection nope: there is no nope or nope.txt in "
           "%1/collections, and nope is no path of a file";
    QTest::newRow("not a file") << QStringList{"run", "--collection", "/etc", "--template",
                                               "fine.txt"}
                                << "" << 2 << "corvane run: no collection /etc: it is not a file";
    QTest::newRow("no servers") << QStringList{"run", "--collection", "empty.txt", "--template",
                                               "fine.txt"}
                                << "" << 2 << "corvane run: You dummy. Add some servers!";
    QTest::newRow("no template") << QStringList{"run", "--collection", "web.txt", "--template",
                                                "empty.txt"}
                                 << "" << 2 << "corvane run: You dummy. Add a Script!";
    QTest::newRow("bad delay") << (both + QStringList{"--spawn", "--delay", "soon"}) << "" << 2
                               << "corvane run: The start delay must be a number of seconds "
                                  "from 0 to 2147483.647.";
    QTest::newRow("temp missing") << both << "no temp" << 2
                                  << "corvane run: The folder %1/temp does not exist. Create it "
                                     "and launch again.";
    // A lock naming this test's own process: a program that holds the folder.
    QTest::newRow("lock held") << both << "lock" << 2
                               << "corvane run: Corvane is already running in this folder "
                                  "(process %2).";
    QTest::newRow("results: unknown launch")
        << QStringList{"results", "--launch", "x"} << "" << 2
        << "corvane results: --launch takes a launch's number as corvane results lists it, not "
           "\"x\"";
    QTest::newRow("results: no history")
        << QStringList{"results"} << "" << 2
        << "corvane results: no launch is kept yet: %1/logs/results.sqlite does not exist";
    for (const QStringList& help :
         {QStringList{"--help"}, QStringList{"-h"}, QStringList{"run", "--help"},
          QStringList{"run", "-h"}, QStringList{"results", "--help"}}) {
        QTest::addRow("%s", qPrintable(help.join(' ')))
            << help << "" << 0
            << (help.size() == 1   ? "Usage: corvane                      the window"
                : help[0] == "run" ? "Usage: corvane run --collection NAME --template NAME "
                                     "[--spawn | --later]"
                                   : "Usage: corvane results [--last | --launch ID] [--json | "
                                     "--output | --group | --csv]");
    }
}

void CommandLineTest::usageErrorsAndRefusals() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, prepare);
    QFETCH(int, status);
    QFETCH(QString, said);
    Workspace ws;
    ws.write("collections/web.txt", "web01\n");
    ws.write("collections/empty.txt", "\n\n");
    ws.write("scripts/fine.txt", "echo %s\n");
    ws.write("scripts/empty.txt", "");
    if (prepare == "no temp")
        QVERIFY(QDir(ws.path("temp")).removeRecursively());
    if (prepare == "lock") {
        ws.write(".corvane.lock", QByteArray::number(QCoreApplication::applicationPid()) + "\n" +
                                      QCoreApplication::applicationName().toUtf8() + "\n" +
                                      QSysInfo::machineHostName().toUtf8() + "\n");
    }
    said = said.replace("%1", ws.path(".").chopped(2))
               .replace("%2", QString::number(QCoreApplication::applicationPid()));
    // As a script reads it: the line on stderr, and with --json one document on stdout.
    for (bool json : {false, true}) {
        const Workspace::Result result = ws.run(
            json ? arguments.first(1) + QStringList{"--json"} + arguments.mid(1) : arguments);
        QCOMPARE(result.status, status);
        if (status == 0) {
            QCOMPARE(lines(result.out).value(0), said);
            QCOMPARE(result.err, QString());
            break;
        }
        QCOMPARE(lines(result.err).last(), said);
        if (json) {
            QJsonParseError error;
            const QJsonObject document =
                QJsonDocument::fromJson(result.out.toUtf8(), &error).object();
            QCOMPARE(error.error, QJsonParseError::NoError);
            QCOMPARE(document["exitStatus"].toInt(), 2);
            QCOMPARE(document["error"].toString(), said.section(": ", 1));
        } else {
            QCOMPARE(result.out, QString());
        }
    }
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

void CommandLineTest::resultsTellWhatTheLastLaunchDid() {
    Workspace ws;
    QCOMPARE(ws.run({"results"}).status, 2);  // nothing kept yet
    ws.write("collections/web.txt", "web01\nweb02\nweb03\n");
    ws.write("scripts/check.txt", "echo checked %s\n[ %s = web02 ] && exit 3\nexit 0\n");
    const Workspace::Result first =
        ws.run({"run", "--collection", "web.txt", "--template", "check.txt", "--spawn", "--json"});
    QCOMPARE(first.status, 1);
    const qint64 firstId =
        QJsonDocument::fromJson(first.out.toUtf8()).object()["launch"].toInteger();
    QCOMPARE(firstId, 1);
    // A normal launch whose middle server's check fails: its one batch file ends with the
    // status of its last command, and no server of it is said to be ok.
    ws.write("collections/a.txt", "a1\na2\na3\n");
    ws.write("scripts/middle.txt", "echo checking %s; [ %s != a2 ]\n");
    const Workspace::Result normal = ws.run({"run", "--collection", "a", "--template", "middle"});
    QCOMPARE(normal.status, 0);
    QCOMPARE(lines(normal.out),
             (QStringList{"temp4.bat (3 servers): exit 0", "1 batch file of 3 servers: exit 0"}));

    // The latest launch, as a script reads it.
    Workspace::Result latest = ws.run({"results", "--json"});
    QCOMPARE(latest.status, 0);
    QJsonObject launch = QJsonDocument::fromJson(latest.out.toUtf8()).object();
    QCOMPARE(launch["launch"].toInteger(), 2);
    QCOMPARE(launch["mode"].toString(), QStringLiteral("normal"));
    QCOMPARE(launch["summary"].toString(), QStringLiteral("1 batch file of 3 servers: exit 0"));
    QCOMPARE(launch["counts"].toObject()["ok"].toInt(), 1);  // batch files
    const QJsonObject batch = launch["batchFiles"].toArray()[0].toObject();
    QCOMPARE(batch["exitStatus"].toInt(), 0);
    QCOMPARE(batch["servers"].toArray().size(), 3);
    for (const QJsonValue& server : launch["results"].toArray()) {
        QVERIFY(!server.toObject().contains("exitStatus"));
        QVERIFY(!server.toObject().contains("state"));
    }
    QCOMPARE(lines(ws.run({"results"}).out).mid(1),
             (QStringList{"temp4.bat (3 servers): exit 0", "  a1", "  a2", "  a3"}));

    // An earlier one by its number: each server's state, the summary and the counts.
    latest = ws.run({"results", "--launch", "1", "--json"});
    QCOMPARE(latest.status, 1);
    launch = QJsonDocument::fromJson(latest.out.toUtf8()).object();
    QCOMPARE(launch["servers"].toInt(), 3);
    QCOMPARE(launch["summary"].toString(), QStringLiteral("2 ok \u00b7 1 failed"));
    QCOMPARE(launch["counts"].toObject()["failed"].toInt(), 1);
    QStringList servers;
    for (const QJsonValue& value : launch["results"].toArray()) {
        const QJsonObject server = value.toObject();
        servers += server["server"].toString() + ": " + server["state"].toString() + ", " +
                   server["lastLine"].toString();
    }
    QCOMPARE(servers, (QStringList{"web01: exit 0, checked web01", "web02: exit 3, checked web02",
                                   "web03: exit 0, checked web03"}));
    const Workspace::Result text = ws.run({"results", "--launch=1"});
    QCOMPARE(lines(text.out).first().section(':', -1), QStringLiteral(" 2 ok \u00b7 1 failed"));
    QCOMPARE(lines(text.out).mid(1),
             (QStringList{"web01: exit 0", "web02: exit 3", "web03: exit 0"}));
    QCOMPARE(ws.run({"results", "--launch", "9"}).status, 2);

    // What the servers said: each line after its server, and each distinct output once.
    QCOMPARE(ws.run({"results", "--launch", "1", "--output"}).out,
             QStringLiteral("web01: checked web01\nweb02: checked web02\nweb03: checked web03\n"));
    ws.write("scripts/same.txt", "echo same\n[ %s != web02 ]\n");
    const Workspace::Result grouped =
        ws.run({"run", "--collection", "web", "--template", "same", "--spawn", "--group"});
    QCOMPARE(grouped.status, 1);
    const QString groups = QStringLiteral(
        "web[01,03] (2): exit 0\n----------------\nsame\n\n"
        "web02 (1): exit 1\n----------------\nsame\n\n");
    QCOMPARE(grouped.out, groups + QStringLiteral("3 servers: 2 ok, 1 failed\n"));
    QCOMPARE(ws.run({"results", "--group"}).out, groups);

    // A history of a later version is read by nothing here, and changed by nothing.
    QCOMPARE(
        QProcess::execute("sqlite3", {ws.path("logs/results.sqlite"), "PRAGMA user_version = 99"}),
        0);
    const QByteArray later = ws.read("logs/results.sqlite");
    const Workspace::Result refused = ws.run({"results"});
    QCOMPARE(refused.status, 2);
    QVERIFY2(refused.err.contains("written by a later version of Corvane"),
             qPrintable(refused.err));
    QCOMPARE(ws.read("logs/results.sqlite"), later);
}

void CommandLineTest::resultsNeverKeepALaunchOut() {
    Workspace ws;
    ws.write("collections/web.txt", "web01\nweb02\n");
    ws.write("scripts/fine.txt", "echo %s\n");
    QCOMPARE(ws.run({"run", "--collection", "web", "--template", "fine"}).status, 0);
    // Read as fast as it goes beside 20 launches: none of them is refused.
    QProcess reader;
    ws.start(reader, {"-c", "while :; do ./corvane results >/dev/null 2>&1; done"}, "bash");
    QVERIFY(reader.waitForStarted());
    for (int i = 0; i < 20; ++i) {
        const Workspace::Result launched =
            ws.run({"run", "--collection", "web", "--template", "fine"});
        QVERIFY2(launched.status == 0, qPrintable(launched.err));
    }
    reader.kill();
    reader.waitForFinished();

    // A copy of the workspace that its reader may not write (a backup, another user's).
    QTemporaryDir copy;
    QVERIFY(QProcess::execute("cp", {"-a", ws.path("."), copy.filePath("ws")}) == 0);
    QVERIFY(QProcess::execute("chmod", {"-R", "a+rX,a-w", copy.path()}) == 0);
    QStringList command{copy.filePath("ws/corvane"), "results", "--json"};
    if (::geteuid() == 0)  // root writes anywhere: read as nobody
        command = QStringList{"--reuid=65534", "--regid=65534", "--clear-groups"} + command;
    QProcess readOnly;
    readOnly.start(::geteuid() == 0 ? "setpriv" : command.takeFirst(), command);
    QVERIFY(readOnly.waitForFinished(10000));
    QCOMPARE(readOnly.readAllStandardError(), QByteArray());
    QCOMPARE(readOnly.exitCode(), 0);
    const QJsonObject launch = QJsonDocument::fromJson(readOnly.readAllStandardOutput()).object();
    QCOMPARE(launch["launch"].toInteger(), 21);
    QProcess::execute("chmod", {"-R", "u+w", copy.path()});
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
    // Nothing started, nothing kept in the results history.
    const QJsonObject json =
        QJsonDocument::fromJson(ws.run({"run", "--collection", "web.txt", "--template", "ping.txt",
                                        "--later", "--json"})
                                    .out.toUtf8())
            .object();
    QCOMPARE(json["saved"].toString(), ws.path("run_later_2.bat"));
    QCOMPARE(json["servers"].toInt(), 2);
    QVERIFY(json["launch"].isNull());
}

void CommandLineTest::interruptStopsTheLaunch_data() {
    QTest::addColumn<int>("signal");
    QTest::newRow("Ctrl-C") << int(SIGINT);
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("hang-up") << int(SIGHUP);  // a closed ssh session
}

void CommandLineTest::interruptStopsTheLaunch() {
    QFETCH(int, signal);
    Workspace ws;
    ws.write("collections/web.txt", "web01\nweb02\nweb03\n");
    ws.write("scripts/slow.txt", "echo $$ > '" + ws.path("shell-%s").toUtf8() + "'\nsleep 60\n");
    QProcess process;
    ws.start(process, {"run", "--collection", "web.txt", "--template", "slow.txt", "--spawn",
                       "--delay", "3"});
    // The first server starts at once; the signal while the second one waits for its turn.
    QTRY_VERIFY_WITH_TIMEOUT(ws.read("shell-web01") != "<missing>", 10000);
    const pid_t shell = ws.read("shell-web01").trimmed().toInt();
    QVERIFY(shell > 0 && ::kill(shell, 0) == 0);
    ::kill(static_cast<pid_t>(process.processId()), signal);
    QVERIFY(process.waitForFinished(20000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 1);
    QString out = QString::fromUtf8(process.readAllStandardOutput());
    // After a hang-up nobody may read standard output: the summary goes to stderr.
    if (signal == SIGHUP)
        out += lines(QString::fromUtf8(process.readAllStandardError())).last();
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

void CommandLineTest::closedOutputStopsTheLaunch() {
    // `corvane run ... | head -1`: the reader goes after the first line, and the next line
    // written stops the launch in order instead of ending the program under its batch files.
    Workspace ws;
    ws.write("collections/web.txt", "web01\nweb02\nweb03\n");
    ws.write("scripts/steps.txt", "echo $$ > '" + ws.path("shell-%s").toUtf8() +
                                      "'\n[ %s = web01 ] && exit 0\n[ %s = web02 ] && sleep 1 && "
                                      "exit 0\nsleep 60\n");
    QProcess pipeline;
    ws.start(pipeline,
             {"-c",
              "./corvane run --collection web --template steps --spawn --no-terminal | "
              "head -1; echo \"status ${PIPESTATUS[0]}\" >&2"},
             "bash");
    QVERIFY(pipeline.waitForFinished(20000));
    QCOMPARE(QString::fromUtf8(pipeline.readAllStandardOutput()),
             QStringLiteral("web01: exit 0\n"));
    const QStringList err = lines(QString::fromUtf8(pipeline.readAllStandardError()));
    QCOMPARE(err.mid(err.size() - 2),
             (QStringList{"3 servers: 2 ok, 1 failed, stopped", "status 1"}));
    const pid_t shell = ws.read("shell-web03").trimmed().toInt();
    QVERIFY(shell > 0);
    QTRY_VERIFY_WITH_TIMEOUT(::kill(shell, 0) != 0, 5000);
    QVERIFY(lines(ws.run({"results"}).out).contains("web03: ended by the user"));
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
    QCOMPARE(second.status, 2);
    QCOMPARE(lines(second.err),
             QStringList{QStringLiteral("corvane run: Corvane is already running in this folder "
                                        "(process %1).")
                             .arg(first.processId())});
    QVERIFY(first.waitForFinished(20000));
    QCOMPARE(first.exitCode(), 0);
    QCOMPARE(ws.read("logs/log.txt").count("launched"), 1);
}

void CommandLineTest::unsafeNamesRefusedUnlessAllowed() {
    Workspace ws;
    const QString owning = "web07; echo owned > '" + ws.path("owned") + "'";
    const QString quoted = QStringLiteral("\"q\\b\tt\"");
    ws.write("collections/web.txt",
             (QStringLiteral("web01\U0001F600\n") + owning + u'\n' + quoted + u'\n').toUtf8());
    ws.write("scripts/echo.txt", "echo %s\n");
    Workspace::Result result = ws.run({"run", "--collection", "web.txt", "--template", "echo.txt"});
    QCOMPARE(result.status, 2);
    const QStringList said = lines(result.err);
    QVERIFY2(said.contains("corvane run: 2 server name(s) hold characters that the shell or "
                           "the command would act on:"),
             qPrintable(result.err));
    QVERIFY(said.contains("line 2: web07; echo owned > '" + ws.path("owned") + "'"));
    QCOMPARE(ws.read("logs/log.txt"), QByteArray("<missing>"));
    QCOMPARE(QDir(ws.path("temp")).entryList(QDir::Files), QStringList{});

    result = ws.run(
        {"run", "--collection", "web.txt", "--template", "echo.txt", "--allow-unsafe-names"});
    QCOMPARE(result.status, 0);
    QCOMPARE(ws.read("owned"), QByteArray("owned\n"));  // what the user allowed
    // Kept and given back as they were; printed for a terminal, escaped.
    QStringList names;
    for (const QJsonValue& server :
         QJsonDocument::fromJson(ws.run({"results", "--json"}).out.toUtf8())["results"].toArray())
        names += server["server"].toString();
    QCOMPARE(names, (QStringList{QStringLiteral("web01\U0001F600"), owning, quoted}));
    QCOMPARE(lines(ws.run({"results"}).out).last(), QStringLiteral("  \"q\\\\b\\tt\""));
}

void CommandLineTest::atMostNAtOnce() {
    Workspace ws;
    QByteArray servers;
    for (int i = 1; i <= 12; ++i)
        servers += QStringLiteral("s%1\n").arg(i, 2, 10, QChar(u'0')).toUtf8();
    ws.write("collections/twelve.txt", servers);
    ws.write("scripts/second.txt", "sleep 1\n");
    QProcess process;
    QElapsedTimer timer;
    timer.start();
    ws.start(process, {"run", "--collection", "twelve.txt", "--template", "second.txt", "--spawn",
                       "--max-running", "3", "--no-terminal"});
    // Sampled as it runs: the runs begun (a pid file) and not ended (no status).
    const QDir temp(ws.path("temp"));
    int most = 0;
    while (!process.waitForFinished(20)) {
        const QStringList pids = temp.entryList({"*.pid"});
        const QStringList statuses = temp.entryList({"*.status"});
        most = std::max(most, int(pids.size() - statuses.size()));
        QVERIFY(timer.elapsed() < 20000);
    }
    const qint64 ms = timer.elapsed();
    QCOMPARE(process.exitCode(), 0);
    QVERIFY2(most <= 3, qPrintable(QString::number(most)));
    QCOMPARE(most, 3);
    QCOMPARE(temp.entryList({"*.status"}).size(), 12);
    QVERIFY2(ms > 3500 && ms < 8000, qPrintable(QString::number(ms)));
    QVERIFY(QString::fromUtf8(process.readAllStandardOutput())
                .endsWith("12 servers: 12 ok, 0 failed\n"));
}

void CommandLineTest::everyEndIsSeenUnderLoad() {
    // A recorder writes its status and ends in one moment; a look between the two must not
    // take a run that exited 0 for one of unknown end. Two busy loops make the moment last.
    Workspace ws;
    QByteArray servers;
    for (int i = 1; i <= 2000; ++i)
        servers += (i == 1000 ? QByteArray("victim") : "s" + QByteArray::number(i)) + '\n';
    ws.write("collections/many.txt", servers);
    // The victim's recorder is killed before it writes a status.
    ws.write("scripts/one.txt",
             "[ %s = victim ] && kill -9 $PPID $(ps -o ppid= -p $PPID)\necho %s\n");
    std::vector<std::unique_ptr<QProcess>> load;
    for (int i = 0; i < 2; ++i) {
        load.push_back(std::make_unique<QProcess>());
        load.back()->start("bash", {"-c", "while :; do :; done"});
    }
    for (int round = 0; round < 3; ++round) {
        QProcess process;
        ws.start(process, {"run", "--collection", "many", "--template", "one", "--spawn",
                           "--max-running", "100", "--no-terminal"});
        QVERIFY(process.waitForFinished(60000));
        const QStringList said = lines(QString::fromUtf8(process.readAllStandardOutput()));
        QCOMPARE(said.filter(": exit 0").size(), 1999);
        QCOMPARE(said.filter("victim: ended, status unknown").size(), 1);
        QCOMPARE(said.last(), QStringLiteral("2000 servers: 1999 ok, 1 failed"));
    }
    for (auto& loop : load) {
        loop->kill();
        loop->waitForFinished();
    }
}

void CommandLineTest::progressLineOnlyOnATerminal() {
    Workspace ws;
    QByteArray servers;
    for (int i = 1; i <= 12; ++i)
        servers += "s" + QByteArray::number(i) + '\n';
    ws.write("collections/twelve.txt", servers);
    ws.write("scripts/slow.txt", "sleep 0.3\n");
    const QStringList launch{"run",     "--collection",  "twelve", "--template",   "slow",
                             "--spawn", "--max-running", "4",      "--no-terminal"};
    // On a terminal (script gives it one): drawn in place, and erased before each line.
    QProcess terminal;
    ws.start(terminal, {"-qec", "./corvane " + launch.join(' '), "/dev/null"}, "script");
    QVERIFY(terminal.waitForFinished(30000));
    const QString shown = QString::fromUtf8(terminal.readAllStandardOutput());
    QVERIFY2(shown.contains(QRegularExpression("\r\\d+ of 12 started \u00b7 \\d+ running "
                                               "\u00b7 0 failed[^\r]*\x1b\\[K\r\x1b\\[K")),
             qPrintable(shown));
    // Erased at the end: nothing of it after the summary.
    const QString after = shown.section("\x1b[K", -1);
    QVERIFY2(after.contains("12 servers: 12 ok, 0 failed") && !after.contains("started"),
             qPrintable(after));
    // Never when stderr is not a terminal.
    const Workspace::Result piped = ws.run(launch);
    QCOMPARE(piped.status, 0);
    QVERIFY2(!piped.err.contains("started"), qPrintable(piped.err));
}

void CommandLineTest::timeLimitEndsTheWholeGroup_data() {
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<int>("within");
    QTest::newRow("sleeps") << QByteArray("echo $$ > '%1'\nsleep 60\n") << 3000;
    // SIGTERM taken for nothing: the SIGKILL 5 s later ends it.
    QTest::newRow("ignores SIGTERM")
        << QByteArray("trap '' TERM\necho $$ > '%1'\nsleep 60 & wait\nsleep 60\n") << 9000;
}

void CommandLineTest::timeLimitEndsTheWholeGroup() {
    QFETCH(QByteArray, script);
    QFETCH(int, within);
    Workspace ws;
    ws.write("collections/one.txt", "web01\n");
    ws.write("scripts/hang.txt", QString::fromUtf8(script).arg(ws.path("shell")).toUtf8());
    QProcess process;
    QElapsedTimer timer;
    timer.start();
    ws.start(process, {"run", "--collection", "one.txt", "--template", "hang.txt", "--timeout", "2",
                       "--no-terminal"});
    QString out;
    while (!out.contains("timed out") && timer.elapsed() < 10000) {
        process.waitForReadyRead(100);
        out += QString::fromUtf8(process.readAllStandardOutput());
    }
    QVERIFY2(out.startsWith("temp1.bat (1 server): timed out after 2 s\n"), qPrintable(out));
    QVERIFY2(timer.elapsed() < 3000, qPrintable(QString::number(timer.elapsed())));
    QVERIFY(process.waitForFinished(within + 2000));
    QCOMPARE(process.exitCode(), 1);
    // Nothing of the run is left: the batch file's shell, its group, the recorder's.
    const pid_t shell = ws.read("shell").trimmed().toInt();
    const QStringList pidFile = QDir(ws.path("temp")).entryList({"temp1.*.pid"});
    QCOMPARE(pidFile.size(), 1);
    const pid_t recorder = ws.read("temp/" + pidFile[0]).trimmed().toInt();
    QVERIFY(shell > 1 && recorder > 1);
    QTRY_VERIFY_WITH_TIMEOUT(
        ::kill(shell, 0) != 0 && ::kill(-recorder, 0) != 0 && ::kill(recorder, 0) != 0, within);
}

void CommandLineTest::hangingServerTimesOut() {
    Workspace ws;
    ws.write("collections/four.txt", "a1\na2\nhangs\na4\n");
    ws.write("scripts/maybe.txt", "[ %s = hangs ] && sleep 60\nexit 0\n");
    const Workspace::Result result =
        ws.run({"run", "--collection", "four.txt", "--template", "maybe.txt", "--spawn",
                "--max-running", "2", "--timeout", "1", "--no-terminal"});
    QCOMPARE(result.status, 1);
    QCOMPARE(sortedLines(result.out),
             (QStringList{"a1: exit 0", "a2: exit 0", "a4: exit 0", "hangs: timed out after 1 s",
                          "4 servers: 3 ok, 1 failed"}));
}

void CommandLineTest::stopWhileWaitingForASlot() {
    Workspace ws;
    ws.write("collections/three.txt", "web01\nweb02\nweb03\n");
    ws.write("scripts/slow.txt", "touch '" + ws.path("started-%s").toUtf8() + "'\nsleep 60\n");
    QProcess process;
    ws.start(process, {"run", "--collection", "three.txt", "--template", "slow.txt", "--spawn",
                       "--max-running", "1", "--no-terminal"});
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(ws.path("started-web01")), 10000);
    QTest::qWait(500);  // web02 waits for the slot web01 holds
    ::kill(static_cast<pid_t>(process.processId()), SIGINT);
    QVERIFY(process.waitForFinished(15000));
    QCOMPARE(process.exitCode(), 1);
    QCOMPARE(sortedLines(QString::fromUtf8(process.readAllStandardOutput())),
             (QStringList{"web01: ended by the user", "web02: not started", "web03: not started",
                          "3 servers: 0 ok, 3 failed, stopped"}));
    QVERIFY(!QFileInfo::exists(ws.path("started-web02")));
    QVERIFY2(ws.read("logs/log.txt")
                 .endsWith("Not started: web02\nStopped by the user after 1 of 3 servers.\n" +
                           QByteArray(67, '-') + "\n"),
             ws.read("logs/log.txt").constData());
}

QTEST_GUILESS_MAIN(CommandLineTest)
#include "test_command_line.moc"
