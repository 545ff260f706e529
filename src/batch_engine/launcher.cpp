#include "batch_engine/launcher.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QScopeGuard>
#include <algorithm>

#include "batch_engine/launch_record.h"
#include "batch_engine/stoppable_launch.h"
#include "batch_engine/unsafe_names.h"
#include "common/app_info.h"
#include "common/errors.h"
#include "common/line_end.h"
#include "common/text_file.h"
#include "model/composer.h"
#include "model/server_lines.h"
#include "model/start_delay.h"

namespace {

const QString kNormalLogHeader = QStringLiteral("Corvane launched ");
const QString kSpawnLogHeader = QStringLiteral("Corvane (SPAWN-MODE) launched ");

// The server spool file read back: the launch works from what reached the disk.
ServerLines readSpool(const Workspace& workspace, QString storage) {
    return ServerLines(readWholeFileInto(workspace.spoolFile(), std::move(storage)));
}

}  // namespace

Launcher::Launcher(const Workspace& workspace, Platform& platform)
    : workspace_(workspace),
      platform_(platform),
      watch_(runs_, workspace.tempFolder()),
      history_(workspace.historyFile()) {
    history_.report = [this](const QString& message) {
        platform_.showMessage(kApplicationTitle, message);
    };
    // A busy history must not hold up a launch with a box to answer.
    history_.notice = [this](const QString& message) {
        if (notice)
            notice(message);
        else if (launching_)
            launching_->appendLogText(message + kLineEnd);
        else
            platform_.showMessage(kApplicationTitle, message);
    };
    look_.setSingleShot(true);
    look_.setInterval(kSlotLookMs);
    look_.callOnTimeout([this] {
        QElapsedTimer cost;
        cost.start();
        runs_.lookAtRunning();
        recordChanges();
        // A look at very many runs takes its time: at most a twentieth of the program's.
        look_.setInterval(std::max<qint64>(kSlotLookMs, 19 * cost.elapsed()));
    });
    watch_.changed = [this](qsizetype index) {
        // A run whose process ended is written at once, in a transaction of its own.
        if (index >= 0) {
            runs_.state(index);
            recordChanges();
        } else if (!look_.isActive()) {
            look_.start();
        }
        if (waitingForSlot_)
            platform_.interruptPause();
    };
}

void Launcher::run(LaunchRequest request, LaunchProgress& progress) {
    launching_ = &progress;
    const auto done = qScopeGuard([this] { launching_ = nullptr; });
    Launch launch{request, progress};
    const std::optional<double> delayMs = startDelayMs(launch.delayText(), QLocale());
    if (!delayMs)
        throw LaunchRefused(kBadDelayMessage);
    launch.DelayMs = *delayMs;
    launch.LogPath = workspace_.logFile();
    // A refused launch leaves the delay in the log box; the question about the server
    // names comes after the refusals and leaves the box as it was.
    try {
        refuse(request);
    } catch (...) {
        progress.setLogText(delayMsText(launch.DelayMs));
        throw;
    }
    if (!request.allowUnsafeNames) {
        const UnsafeNames unsafe = findUnsafeServerNames(request.servers);
        if (unsafe.count > 0)
            throw UnsafeServerNames(unsafe);
    }
    progress.setLogText(delayMsText(launch.DelayMs));

    notBegun([&] {
        // The collection is needed only until it is in the spool file; the launch works
        // from what it reads back, in the same memory.
        QString servers = std::move(request.servers);
        OutputFile spool(workspace_.spoolFile(), OutputFile::Mode::Overwrite);
        spool.write(servers);
        spool.write(kLineEnd);
        spool.close();
        written_ = std::move(servers);
    });
    const auto forget = qScopeGuard([this] {
        written_ = QString();
        recordChanges();
    });
    history_.setKeepLaunches(request.options.keepLaunches);
    switch (request.mode) {
        case LaunchMode::Normal:
            runNormal(launch);
            break;
        case LaunchMode::Spawn:
            runSpawn(launch);
            break;
        case LaunchMode::RunLater:
            runRunLater(launch);
            break;
    }
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
    runs_.noteStatesBeforeCleanUp();
    recordChanges();  // the outputs, before they go
    removeFilesIn(workspace_.tempFolder());
}

void Launcher::emptyTempAtExit() {
    runs_.lookAtRunning();
    recordChanges();
    // What a busy history still keeps, with a bounded wait: the window is gone already.
    history_.finish(kExitHistoryWaitMs);
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

template <typename Body>
void Launcher::recorded(Launch& launch, const QString& logHeader, Body body) {
    ServerLines lines = readSpool(workspace_, std::exchange(written_, QString()));
    std::optional<LaunchRecord> opened;
    notBegun([&] { opened.emplace(launch.progress, platform_, launch.LogPath, logHeader); });
    LaunchRecord& record = *opened;
    try {
        body(record, lines);
        record.close();
    } catch (const std::exception& error) {
        record.fail(failureText(error));
        throw;
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

OutputFile Launcher::createBatch(Launch& launch) {
    for (;;) {
        if (std::optional<OutputFile> batch = OutputFile::createNew(launch.BatchPath))
            return std::move(*batch);
        launch.BatchPath = nextBatchPath(launch.request.mode);  // taken since it was looked at
    }
}

void Launcher::writeBlocks(Launch& launch, OutputFile& batch, LaunchRecord& record,
                           const ServerLines& lines) {
    const Composer composer(launch.request.script);
    if (lines.count() > 0) {
        const qsizetype averageServer = lines.serverCharacters() / lines.count() + 1;
        record.logBox.reserve(lines.count() * (kLineEnd.size() + composer.length(averageServer)));
    }
    for (QStringView server : lines) {
        composer.composeInto(launch.BatchText, server);
        batch.write(kLineEnd);
        batch.write(launch.BatchText);
        batch.write(kLineEnd);
        record.addServer(launch.BatchText);
        record.logBox.append(kLineEnd);
        record.logBox.append(launch.BatchText);
        record.logBox.keepAlive();
    }
}

void Launcher::startRecorded(Launch& launch, qsizetype index, const QString& title) {
    Run run = runs_.runs()[index];
    run.batchPath = launch.BatchPath;
    const QDateTime at = platform_.now();
    qint64 pid = 0;
    try {
        pid = platform_.startBatch(
            BatchStart{run.batchPath, title, run.outputPath(), run.statusPath(), run.pidPath()});
    } catch (...) {
        runs_.notStarted(index);
        throw;
    }
    runs_.start(index, run.batchPath, pid, at);
    recordChanges();
    watch_.watch(index, launch.request.options.timeoutSeconds);
    launch.progress.started(runs_.runs()[index]);
}

void Launcher::waitForSlot(Launch& launch, QList<qsizetype>& going, LogBox& logBox) {
    const int most = launch.request.options.maxRunning;
    auto ended = [this](qsizetype index) { return runs_.state(index).kind != RunState::Running; };
    going.removeIf(ended);
    if (going.size() < most)
        return;
    logBox.showNow();
    // Woken when a run may have ended; a look every second finds what nothing told of.
    waitingForSlot_ = true;
    const auto done = qScopeGuard([this] { waitingForSlot_ = false; });
    while (going.size() >= most && !launch.progress.stopRequested()) {
        platform_.pause(kSlotLookMs);
        going.removeIf(ended);
    }
}

void Launcher::runNormal(Launch& launch) {
    launch.BatchPath = nextBatchPath(LaunchMode::Normal);
    recorded(launch, kNormalLogHeader, [&](LaunchRecord& record, ServerLines& lines) {
        // Written under its final name: it is started only once complete, so a part of it
        // never runs.
        OutputFile batch = createBatch(launch);
        writeBlocks(launch, batch, record, lines);
        lines.release();  // before the servers are read again below
        batch.close();
        record.flush();
        const qsizetype servers = lines.count();
        record.endLogBox();
        // The run keeps its servers for a retry; read back only now, when the collection's
        // own text is gone, so that a large launch never holds both at once.
        QFile spool(workspace_.spoolFile());
        const QByteArray serverText =
            spool.open(QIODevice::ReadOnly) ? spool.readAll() : QByteArray();
        platform_.prepareStarts(launch.request.options.terminals);
        const int number = runs_.beginLaunch(platform_.now());
        const qsizetype index = runs_.plan(Run{.launch = number,
                                               .mode = LaunchMode::Normal,
                                               .tag = runs_.tag(),
                                               .serverText = serverText,
                                               .serverCount = servers});
        history_.addLaunch(runs_, number);
        startRecorded(
            launch, index,
            QStringLiteral("corvane: %1 (%2 %3)")
                .arg(QFileInfo(launch.BatchPath).fileName())
                .arg(servers)
                .arg(servers == 1 ? QStringLiteral("server") : QStringLiteral("servers")));
    });
}

void Launcher::runRunLater(Launch& launch) {
    launch.BatchPath = nextBatchPath(LaunchMode::RunLater);
    recorded(launch, kNormalLogHeader, [&](LaunchRecord& record, ServerLines& lines) {
        // A user runs this file by hand, maybe much later: it takes its name only once it
        // is complete, so it is whole or absent.
        const QString partial = workspace_.partialRunLaterBatch(ServerNumber);
        QFile::remove(partial);  // left by a launch that was killed
        OutputFile saved(partial, OutputFile::Mode::CreateNew);
        try {
            writeBlocks(launch, saved, record, lines);
            lines.release();
            saved.close();
            while (!renameToFreeName(partial, launch.BatchPath))
                launch.BatchPath = nextBatchPath(LaunchMode::RunLater);
        } catch (...) {
            QFile::remove(partial);
            throw;
        }
        record.endLogBox();
    });
    launch.progress.savedForLater(launch.BatchPath);
}

void Launcher::runSpawn(Launch& launch) {
    recorded(launch, kSpawnLogHeader, [&](LaunchRecord& record, ServerLines& lines) {
        LaunchProgress& progress = launch.progress;
        const StoppableLaunch stoppable(progress);
        LogBox& logBox = record.logBox;
        const Composer composer(launch.request.script);
        const QString pauseLine =
            QStringLiteral("Pausing ") + launch.delayText() + QStringLiteral(" seconds ...");
        const int pause = pauseMs(launch.DelayMs);
        const qsizetype servers = lines.count();
        qsizetype started = 0;
        bool stopped = false;
        // Every server is listed, waiting, once the launch starts; those whose turn never
        // comes end as not started.
        const int number = runs_.beginLaunch(platform_.now());
        QList<qsizetype> planned;
        planned.reserve(servers);
        for (QStringView server : lines) {
            planned.append(runs_.plan(Run{.launch = number,
                                          .mode = LaunchMode::Spawn,
                                          .tag = runs_.tag(),
                                          .serverText = encodeText(server),
                                          .serverCount = 1}));
        }
        history_.addLaunch(runs_, number);
        const auto notStarted = qScopeGuard([&] {
            for (qsizetype turn = started; turn < planned.size(); ++turn)
                runs_.notStarted(planned[turn]);
        });
        QList<qsizetype> going;  // this launch's runs last seen running
        platform_.prepareStarts(launch.request.options.terminals);
        for (QStringView server : lines) {
            logBox.show();
            launch.BatchPath = nextBatchPath(LaunchMode::Spawn);
            composer.composeInto(launch.BatchText, server);
            OutputFile batch = createBatch(launch);
            batch.write(launch.BatchText);
            batch.write(kLineEnd);
            batch.close();
            record.addServer(launch.BatchText);
            record.flush();
            // The counter, not the place in the collection, decides: every launch after the
            // first pauses before its first server too.
            const bool pauses = ServerNumber > 1;
            if (pauses && pause > 0 && !progress.stopRequested()) {
                logBox.showNow();
                platform_.pause(pause);
            }
            if (launch.request.options.maxRunning > 0 && !progress.stopRequested())
                waitForSlot(launch, going, logBox);
            if (progress.stopRequested()) {
                // Written and recorded, but it will not run: neither its file nor the
                // record may let it pass for started.
                QFile::remove(launch.BatchPath);
                record.note(QStringLiteral("Not started: ") + server.toString());
                stopped = true;
                break;
            }
            if (pauses)
                logBox.append(pauseLine + kLineEnd);
            logBox.append(launch.BatchText + kLineEnd);
            logBox.show();
            startRecorded(launch, planned[started],
                          QStringLiteral("corvane: %1 (%2)")
                              .arg(server, QFileInfo(launch.BatchPath).fileName()));
            going.append(planned[started]);
            ++started;
        }
        if (stopped) {
            record.note(QStringLiteral("Stopped by the user after %1 of %2 servers.")
                            .arg(started)
                            .arg(servers));
            logBox.append(
                QStringLiteral("-- Stopped after %1 of %2 servers").arg(started).arg(servers) +
                kLineEnd);
            logBox.showNow();
            return;
        }
        if (lines.emptyLinesAfterLast()) {
            // The turn that finds only empty lines still uses up a number.
            launch.BatchPath = nextBatchPath(LaunchMode::Spawn);
        }
        record.endLogBox();
        logBox.showNow();
    });
}
