#include "batch_engine/launcher.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>

#include "batch_engine/launch_job.h"
#include "common/app_info.h"
#include "common/errors.h"
#include "common/line_end.h"
#include "common/text_file.h"
#include "model/server_lines.h"

Launcher::Launcher(const Workspace& workspace, Platform& platform)
    : workspace_(workspace),
      platform_(platform),
      tracker_(workspace.tempFolder(), workspace.historyFile()) {
    tracker_.report = [this](const QString& message) {
        platform_.showMessage(kApplicationTitle, message);
    };
    // A busy history must not hold up a launch with a box to answer.
    tracker_.notice = [this](const QString& message) {
        if (notice)
            notice(message);
        else if (launching())
            job_->progress().appendLogText(message + kLineEnd);
        else
            platform_.showMessage(kApplicationTitle, message);
    };
    // A slot the launch waits for may have come free.
    QObject::connect(&tracker_, &RunTracker::runChanged, &tracker_, [this] {
        if (launching())
            job_->wake();
    });
}

Launcher::~Launcher() = default;

void Launcher::start(LaunchRequest request, LaunchProgress& progress) {
    if (launching())
        throw LaunchRefused(QStringLiteral("A launch is under way."));
    job_ = std::make_unique<LaunchJob>(*this, std::move(request), progress);
    job_->begin();
}

bool Launcher::launching() const {
    return job_ && job_->running();
}

void Launcher::stop() {
    if (launching())
        job_->stop();
}

void Launcher::refuse(const LaunchRequest& request) const {
    if (!ServerLines::anyServer(request.servers))
        throw LaunchRefused(kNoServersMessage);
    if (request.script.isEmpty())
        throw LaunchRefused(kNoScriptMessage);
    if (request.script == kPlaceholderText)
        throw LaunchRefused(kPlaceholderScriptMessage);
    if (!QFileInfo(workspace_.root()).isDir()) {
        // Creating temp there would not help: the program's own folder has gone.
        throw LaunchNotBegun(QStringLiteral("The folder %1, where Corvane was started, was "
                                            "moved or deleted while Corvane was running. "
                                            "Start Corvane again from where it is now.")
                                 .arg(workspace_.root()));
    }
    for (const QString& folder : {workspace_.tempFolder(), workspace_.logsFolder()}) {
        if (!QFileInfo(folder).isDir()) {
            throw LaunchNotBegun(
                QStringLiteral("The folder %1 does not exist. Create it and launch again.")
                    .arg(folder));
        }
    }
    refuseOutsideLink(workspace_.spoolFile());
    refuseOutsideLink(workspace_.logFile());
}

void Launcher::CleanupTemp() {
    tracker_.beforeCleanUp();
    removeFilesIn(workspace_.tempFolder());
}

void Launcher::emptyTempAtExit() {
    // What a busy history still keeps, with a bounded wait: the window is gone already.
    tracker_.finishHistory(kExitHistoryWaitMs);
    removeFilesIn(workspace_.tempFolder());
}

void Launcher::refuseOutsideLink(const QString& path) const {
    const QFileInfo file(path);
    // Inside the workspace, not the workspace folder itself.
    if (!file.isSymLink() || (isWithin(file.symLinkTarget(), workspace_.root()) &&
                              realPath(file.symLinkTarget()) != realPath(workspace_.root())))
        return;
    throw LaunchNotBegun(QStringLiteral("%1 is a link to %2, outside the workspace. Remove the "
                                        "link and launch again.")
                             .arg(path, file.symLinkTarget()));
}

void Launcher::notBegun(const std::function<void()>& step) {
    try {
        step();
    } catch (const LaunchNotBegun&) {
        throw;
    } catch (const OperationError& error) {
        throw LaunchNotBegun(error.message());
    }
}

QString Launcher::nextBatchPath(LaunchMode mode) {
    QString path;
    do {
        ++ServerNumber;
        path = mode == LaunchMode::RunLater ? workspace_.runLaterBatch(ServerNumber)
                                            : workspace_.tempBatch(ServerNumber);
    } while (pathTaken(path));
    return path;
}

OutputFile Launcher::createBatch(QString& path, LaunchMode mode) {
    for (;;) {
        if (std::optional<OutputFile> batch = OutputFile::createNew(path))
            return std::move(*batch);
        path = nextBatchPath(mode);  // taken since it was looked at
    }
}

void Launcher::startRecorded(const LaunchRequest& request, LaunchProgress& progress,
                             qsizetype index, const QString& path, const QString& title) {
    Run run = tracker_.runList()[index];
    run.batchPath = path;
    const QDateTime at = platform_.now();
    qint64 pid = 0;
    try {
        pid = platform_.startBatch(
            BatchStart{run.batchPath, title, run.outputPath(), run.statusPath(), run.pidPath()});
    } catch (...) {
        tracker_.notStarted(index);
        throw;
    }
    tracker_.started(index, run.batchPath, pid, at, request.options.timeoutSeconds);
    progress.started(tracker_.runList()[index]);
}
