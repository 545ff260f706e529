#include "command_line/results_command.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <cstdio>

#include "common/date_time_format.h"
#include "common/instance_lock.h"
#include "common/printable_text.h"
#include "common/workspace.h"
#include "runs/results_history.h"

namespace {

const char kResultsUsage[] =
    "Usage: corvane results [--last | --launch ID] [--json]\n"
    "\n"
    "Prints what a launch did, as the workspace's results history (logs/results.sqlite)\n"
    "keeps it: its summary, then each server and its state. A normal launch's one batch\n"
    "file has one exit status, that of its last command: it is printed for the batch file,\n"
    "with its servers below it. Without --launch, the latest launch. --json prints one JSON\n"
    "document instead (an error too). It reads the history only, never waits for a running\n"
    "Corvane and works in a folder it may not write.\n"
    "\n"
    "Exit status: 0 when every batch file of the launch ended with exit 0, 1 when any did\n"
    "not or still runs, 2 for a usage error or a launch the history does not hold.\n";

void print(FILE* stream, const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

QJsonValue momentValue(const QDateTime& moment) {
    return moment.isValid()
               ? QJsonValue(
                     moment.toOffsetFromUtc(moment.offsetFromUtc()).toString(Qt::ISODateWithMs))
               : QJsonValue(QJsonValue::Null);
}

QJsonValue exitStatusValue(const RunState& state) {
    return state.kind == RunState::Exited ? QJsonValue(state.exitStatus)
                                          : QJsonValue(QJsonValue::Null);
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

QJsonDocument jsonOf(const LaunchResult& launch, const QList<BatchResult>& results) {
    static const char* const countNames[LaunchResult::Counts] = {
        "ok", "failed", "timedOut", "endedByUser", "notStarted", "running", "waiting"};
    const bool normal = launch.mode == LaunchMode::Normal;
    // Counted in batch files: a normal launch's servers share its one status.
    QJsonObject counts;
    for (int count = 0; count < LaunchResult::Counts; ++count) {
        counts.insert(
            QLatin1String(countNames[count]),
            normal ? qsizetype(countOf(launch.batchState) == count ? 1 : 0) : launch.counts[count]);
    }
    QJsonArray servers;
    QJsonArray batchFiles;
    for (const BatchResult& result : results) {
        const QStringList names = result.servers();
        QJsonObject file{{"batchFile", result.batchName},
                         {"servers", QJsonArray::fromStringList(names)},
                         {"state", result.state.text()},
                         {"exitStatus", exitStatusValue(result.state)},
                         {"started", momentValue(result.started)},
                         {"ended", momentValue(result.ended)},
                         {"lastLine", result.lastLine}};
        batchFiles.append(file);
        for (const QString& server : names) {
            QJsonObject entry{{"server", server},
                              {"batchFile", result.batchName},
                              {"started", momentValue(result.started)},
                              {"ended", momentValue(result.ended)}};
            // A server of a combined batch file has no state of its own.
            if (!normal) {
                entry.insert(QStringLiteral("state"), result.state.text());
                entry.insert(QStringLiteral("exitStatus"), exitStatusValue(result.state));
                entry.insert(QStringLiteral("lastLine"), result.lastLine);
            }
            servers.append(entry);
        }
    }
    return QJsonDocument(QJsonObject{{"launch", launch.historyId},
                                     {"started", momentValue(launch.started)},
                                     {"mode", QString::fromLatin1(launchModeKey(launch.mode))},
                                     {"servers", launch.servers},
                                     {"summary", launch.summary()},
                                     {"counts", counts},
                                     {"batchFiles", batchFiles},
                                     {"results", servers}});
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
    parser.addOptions({jsonOption, lastOption, launchOption, helpOption});
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
    ResultsHistory history(workspace.historyFile(), ResultsHistory::kDefaultKeepLaunches,
                           ResultsHistory::Access::ReadOnly);
    QString problem;
    history.report = [&problem](const QString& message) { problem = message; };
    const QList<ResultsHistory::StoredLaunch> launches = history.launches();
    if (!problem.isEmpty())
        return refused(json, problem.section(QStringLiteral(" Results keeps"), 0, 0));
    const ResultsHistory::StoredLaunch* found = nullptr;
    for (const ResultsHistory::StoredLaunch& stored : launches) {
        if (wanted == 0 || stored.launch.historyId == wanted) {
            found = &stored;
            break;
        }
    }
    if (!found) {
        return refused(json, wanted == 0
                                 ? QStringLiteral("the history holds no launch")
                                 : QStringLiteral("the history holds no launch %1").arg(wanted));
    }
    const QList<BatchResult> results = history.results(found->launch.historyId, !programRunning);
    // The summary as the history keeps it, as the rows read.
    LaunchResult launch = found->launch;
    if (!programRunning)
        launch.asEnded();
    const bool allOk = launch.counts[LaunchResult::Ok] == launch.servers;
    if (json)
        print(stdout, QString::fromUtf8(jsonOf(launch, results).toJson(QJsonDocument::Indented)));
    else
        print(stdout, textOf(launch, results));
    return allOk ? 0 : 1;
}
