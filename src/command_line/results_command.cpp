#include "command_line/results_command.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <cstdio>

#include "common/date_time_format.h"
#include "common/instance_lock.h"
#include "common/workspace.h"
#include "runs/results_history.h"

namespace {

const char kResultsUsage[] =
    "Usage: corvane results [--last | --launch ID] [--json]\n"
    "\n"
    "Prints what a launch did, as the workspace's results history (logs/results.sqlite)\n"
    "keeps it: its summary, then each server and its state. Without --launch, the latest\n"
    "launch. --json prints one JSON document instead.\n"
    "\n"
    "Exit status: 0 when every server of the launch ended with exit 0, 1 when any did not\n"
    "or still runs, 2 for a usage error or a launch the history does not hold.\n";

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

}  // namespace

int runResultsCommand(const QStringList& arguments, const QString& folder) {
    bool json = false;
    qint64 wanted = 0;  // 0: the latest
    for (qsizetype i = 2; i < arguments.size(); ++i) {
        const QString& option = arguments[i];
        if (option == u"--json") {
            json = true;
        } else if (option == u"--last") {
            wanted = 0;
        } else if (option == u"--help" || option == u"-h") {
            print(stdout, QString::fromLatin1(kResultsUsage));
            return 0;
        } else if (option == u"--launch" || option.startsWith(u"--launch=")) {
            const QString value =
                option.contains(u'=') ? option.section(u'=', 1) : arguments.value(++i);
            bool number = false;
            wanted = value.toLongLong(&number);
            if (!number || wanted <= 0) {
                print(stderr, QStringLiteral("corvane results: --launch takes a launch's number "
                                             "as corvane results lists it, not \"%1\"\n")
                                  .arg(value));
                return 2;
            }
        } else {
            print(stderr, QStringLiteral(
                              "corvane results: unknown option %1 (see corvane results --help)\n")
                              .arg(option));
            return 2;
        }
    }
    const Workspace workspace(folder);
    if (!QFileInfo::exists(workspace.historyFile())) {
        print(stderr, QStringLiteral("corvane results: no launch is kept yet: %1 does not exist\n")
                          .arg(workspace.historyFile()));
        return 2;
    }
    // While no program holds the workspace, what the history says still runs ended with
    // the program that started it.
    bool programRunning = false;
    {
        InstanceLock lock(workspace);
        programRunning = !lock.acquire();
    }
    ResultsHistory history(workspace.historyFile());
    QString problem;
    history.report = [&problem](const QString& message) { problem = message; };
    const QList<ResultsHistory::StoredLaunch> launches = history.launches();
    if (!problem.isEmpty()) {
        print(stderr, QStringLiteral("corvane results: ") + problem + u'\n');
        return 2;
    }
    const ResultsHistory::StoredLaunch* found = nullptr;
    for (const ResultsHistory::StoredLaunch& stored : launches) {
        if (wanted == 0 || stored.launch.historyId == wanted) {
            found = &stored;
            break;
        }
    }
    if (!found) {
        print(stderr, wanted == 0 ? QStringLiteral("corvane results: the history holds no launch\n")
                                  : QStringLiteral("corvane results: the history holds no launch "
                                                   "%1\n")
                                        .arg(wanted));
        return 2;
    }
    const QList<BatchResult> results = history.results(found->launch.historyId, !programRunning);
    // The summary as the history keeps it, as the rows read.
    LaunchResult launch = found->launch;
    if (!programRunning)
        launch.asEnded();
    const bool allOk = launch.counts[LaunchResult::Ok] == launch.servers;

    if (json) {
        static const char* const countNames[LaunchResult::Counts] = {
            "ok", "failed", "timedOut", "endedByUser", "notStarted", "running", "waiting"};
        QJsonObject counts;
        for (int count = 0; count < LaunchResult::Counts; ++count)
            counts.insert(QLatin1String(countNames[count]), launch.counts[count]);
        QJsonArray servers;
        for (const BatchResult& result : results) {
            for (const QString& server : result.servers()) {
                servers.append(QJsonObject{{"server", server},
                                           {"batchFile", result.batchName},
                                           {"state", result.state.text()},
                                           {"exitStatus", result.state.kind == RunState::Exited
                                                              ? QJsonValue(result.state.exitStatus)
                                                              : QJsonValue(QJsonValue::Null)},
                                           {"started", momentValue(result.started)},
                                           {"ended", momentValue(result.ended)},
                                           {"lastLine", result.lastLine}});
            }
        }
        const QJsonObject document{{"launch", launch.historyId},
                                   {"started", momentValue(launch.started)},
                                   {"mode", QString::fromLatin1(launchModeKey(launch.mode))},
                                   {"servers", launch.servers},
                                   {"summary", launch.summary()},
                                   {"counts", counts},
                                   {"results", servers}};
        print(stdout, QString::fromUtf8(QJsonDocument(document).toJson(QJsonDocument::Indented)));
        return allOk ? 0 : 1;
    }
    QString text =
        QStringLiteral("Launch %1, %2, %3, %4 %5: %6\n")
            .arg(launch.historyId)
            .arg(formatLogDateTime(QLocale(), launch.started),
                 QString::fromLatin1(launchModeKey(launch.mode)))
            .arg(launch.servers)
            .arg(launch.servers == 1 ? QStringLiteral("server") : QStringLiteral("servers"),
                 launch.summary());
    for (const BatchResult& result : results) {
        for (const QString& server : result.servers())
            text += server + QStringLiteral(": ") + result.state.text() + u'\n';
    }
    print(stdout, text);
    return allOk ? 0 : 1;
}
