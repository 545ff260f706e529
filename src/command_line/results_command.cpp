#include "command_line/results_command.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <cstdio>

#include "common/date_time_format.h"
#include "common/instance_lock.h"
#include "common/printable_text.h"
#include "common/workspace.h"
#include "runs/launch_report.h"
#include "runs/run_tracker.h"

namespace {

const char kResultsUsage[] =
    "Usage: corvane results [--last | --launch ID] [--json | --output | --group | --csv]\n"
    "\n"
    "Prints what a launch did, as the workspace's results history (logs/results.sqlite)\n"
    "keeps it: its summary, then each server and its state. A normal launch's one batch\n"
    "file has one exit status, that of its last command: it is printed for the batch file,\n"
    "with its servers below it. Without --launch, the latest launch. --json prints one JSON\n"
    "document instead (an error too). It reads the history only, never waits for a running\n"
    "Corvane and works in a folder it may not write.\n"
    "\n"
    "--output prints what each server's batch file showed, each line after \"server: \".\n"
    "--group prints each distinct output once, largest group first, under its servers\n"
    "(folded: web[01-03]), their count and state; then the servers that have no output.\n"
    "--csv prints one row for each server: server, state, exit status, start, end,\n"
    "duration in seconds, last line (RFC 4180, UTF-8).\n"
    "\n"
    "Exit status: 0 when every batch file of the launch ended with exit 0, 1 when any did\n"
    "not or still runs, 2 for a usage error or a launch the history does not hold.\n";

void print(FILE* stream, const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

// A file format of its own: UTF-8 whatever the locale.
void printUtf8(FILE* stream, const QString& text) {
    std::fputs(text.toUtf8().constData(), stream);
    std::fflush(stream);
}

// Says why nothing is printed, with --json as a document too; the status is 2.
int refused(bool json, const QString& message) {
    print(stderr, QStringLiteral("corvane results: ") + message + u'\n');
    if (json) {
        print(stdout,
              QString::fromUtf8(QJsonDocument(QJsonObject{{"error", message}, {"exitStatus", 2}})
                                    .toJson(QJsonDocument::Indented)));
    }
    return 2;
}

QString textOf(const LaunchResult& launch, const QList<BatchResult>& results) {
    const QString servers =
        QStringLiteral("%1 %2")
            .arg(launch.servers)
            .arg(launch.servers == 1 ? QStringLiteral("server") : QStringLiteral("servers"));
    QString text = QStringLiteral("Launch %1, %2, %3, ")
                       .arg(launch.historyId)
                       .arg(formatLogDateTime(QLocale(), launch.started),
                            QString::fromLatin1(launchModeKey(launch.mode)));
    if (launch.mode == LaunchMode::Normal) {
        // "temp7.bat (3 servers): exit 0", and its servers under it.
        text += launch.summary() + u'\n';
        for (const BatchResult& result : results) {
            text +=
                QStringLiteral("%1 (%2): %3\n").arg(result.batchName, servers, result.state.text());
            for (const QString& server : result.servers())
                text += QStringLiteral("  ") + printableText(server) + u'\n';
        }
        return text;
    }
    text += servers + QStringLiteral(": ") + launch.summary() + u'\n';
    for (const BatchResult& result : results) {
        for (const QString& server : result.servers())
            text += printableText(server) + QStringLiteral(": ") + result.state.text() + u'\n';
    }
    return text;
}

}  // namespace

int runResultsCommand(const QStringList& arguments, const QString& folder) {
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption jsonOption(QStringLiteral("json"));
    const QCommandLineOption lastOption(QStringLiteral("last"));
    const QCommandLineOption launchOption(QStringLiteral("launch"), QString(),
                                          QStringLiteral("ID"));
    const QCommandLineOption helpOption(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption outputOption(QStringLiteral("output"));
    const QCommandLineOption groupOption(QStringLiteral("group"));
    const QCommandLineOption csvOption(QStringLiteral("csv"));
    parser.addOptions(
        {jsonOption, lastOption, launchOption, helpOption, outputOption, groupOption, csvOption});
    const bool json = arguments.contains(QStringLiteral("--json"));
    if (!parser.parse(QStringList{arguments.value(0)} + arguments.mid(2)))
        return refused(json, parser.errorText() + QStringLiteral(" (see corvane results --help)"));
    if (parser.isSet(helpOption)) {
        print(stdout, QString::fromLatin1(kResultsUsage));
        return 0;
    }
    if (!parser.positionalArguments().isEmpty()) {
        return refused(json, QStringLiteral("unexpected argument %1 (see corvane results --help)")
                                 .arg(parser.positionalArguments().first()));
    }
    int forms = 0;
    for (const QCommandLineOption* form : {&jsonOption, &outputOption, &groupOption, &csvOption})
        forms += parser.isSet(*form) ? 1 : 0;
    if (forms > 1) {
        return refused(json, QStringLiteral("--json, --output, --group and --csv each print the "
                                            "launch in a form of their own: give one of them"));
    }
    qint64 wanted = 0;  // 0: the latest
    if (parser.isSet(launchOption)) {
        const QString value = parser.value(launchOption);
        bool number = false;
        wanted = value.toLongLong(&number);
        if (!number || wanted <= 0) {
            return refused(json, QStringLiteral("--launch takes a launch's number as corvane "
                                                "results lists it, not \"%1\"")
                                     .arg(value));
        }
    }
    const Workspace workspace(folder);
    if (!QFileInfo::exists(workspace.historyFile())) {
        return refused(json, QStringLiteral("no launch is kept yet: %1 does not exist")
                                 .arg(workspace.historyFile()));
    }
    // While no program holds the workspace, what the history says still runs ended with
    // the program that started it. The lock is only looked at: taking it, even for a
    // moment, would refuse a launch started at that moment.
    const bool programRunning = InstanceLock::holder(workspace) != 0;
    RunTracker tracker(workspace.tempFolder(), workspace.historyFile(),
                       ResultsHistory::Access::ReadOnly);
    tracker.setEarlierRunning(programRunning);
    QString problem;
    tracker.report = [&problem](const QString& message) { problem = message; };
    const QList<LaunchResult> launches = tracker.launches();
    if (!problem.isEmpty())
        return refused(json, problem.section(QStringLiteral(" Results keeps"), 0, 0));
    const LaunchResult* found = nullptr;
    for (const LaunchResult& stored : launches) {
        if (wanted == 0 || stored.historyId == wanted) {
            found = &stored;
            break;
        }
    }
    if (!found) {
        return refused(json, wanted == 0
                                 ? QStringLiteral("the history holds no launch")
                                 : QStringLiteral("the history holds no launch %1").arg(wanted));
    }
    const QList<BatchResult> results = tracker.results(*found);
    // The summary as the history keeps it, as the rows read.
    const LaunchResult& launch = *found;
    const bool allOk = launch.counts[LaunchResult::Ok] == launch.servers;
    const OutputOf outputOf = [&](const BatchResult& result) {
        return tracker.output(launch, result);
    };
    if (json)
        writeLaunchJson(launch, results, [](QByteArrayView bytes) {
            std::fwrite(bytes.data(), 1, size_t(bytes.size()), stdout);
            std::fflush(stdout);
        });
    else if (parser.isSet(outputOption))
        print(stdout, prefixedOutputs(results, outputOf));
    else if (parser.isSet(groupOption))
        print(stdout, groupedOutputs(results, outputOf));
    else if (parser.isSet(csvOption))
        printUtf8(stdout, csvReport(results));
    else
        print(stdout, textOf(launch, results));
    return allOk ? 0 : 1;
}
