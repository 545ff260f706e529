#include "batch_engine/launcher.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QScopeGuard>
#include <algorithm>
#include <limits>

#include "model/composer.h"
#include "model/server_lines.h"
#include "model/start_delay.h"
#include "common/app_info.h"
#include "common/date_time_format.h"
#include "common/errors.h"
#include "common/line_end.h"
#include "common/text_file.h"

namespace {

const QString kNormalLogHeader = QStringLiteral("Corvane launched ");
const QString kSpawnLogHeader = QStringLiteral("Corvane (SPAWN-MODE) launched ");
const QString kLogBoxHeader = QStringLiteral("-- Batch (Spawn) Launched ");
const QString kLogBoxEnd = QStringLiteral("-- End of Batch");
const QString kRunLogSeparator(67, u'-');

// Offers the launch button as a stop button for as long as it lives.
class StoppableLaunch {
  public:
    explicit StoppableLaunch(LaunchWindow& window) : window_(window) { window_.setStoppable(true); }
    ~StoppableLaunch() { window_.setStoppable(false); }
    StoppableLaunch(const StoppableLaunch&) = delete;
    StoppableLaunch& operator=(const StoppableLaunch&) = delete;

  private:
    LaunchWindow& window_;
};

// The server spool file read back: the launch works from what reached the disk.
ServerLines readSpool(const Workspace& workspace, QString storage) {
    return ServerLines(readWholeFileInto(workspace.spoolFile(), std::move(storage)));
}

QString stamp(Platform& platform) {
    return formatLogDateTime(QLocale(), platform.now());
}

}  // namespace

// Collects what a launch appends to the log box and hands it over at the moments the
// window is drawn: one widget update per drawing instead of one per server, and at most
// one drawing every 50 ms unless the launch is about to wait or ends. Whatever was
// collected reaches the box also when the launch fails half-way. A large launch hands it
// over in pieces of the same memory: a text of the whole log beside the box's own copy
// would cost a second copy of the largest thing the launch makes.
class LogBox {
  public:
    explicit LogBox(LaunchWindow& window) : window_(window) { sinceShown_.start(); }
    ~LogBox() { flush(); }
    void reserve(qsizetype size) { pending_.reserve(std::min(size, kPieceChars)); }
    void append(QStringView text) {
        pending_ += text;
        if (pending_.size() >= kPieceChars)
            flush();
    }
    void append(QLatin1StringView text) { pending_ += text; }
    void flush() {
        if (pending_.isEmpty())
            return;
        window_.appendLogText(pending_);
        pending_.resize(0);  // keeps the memory for the next piece
    }
    // Draws the window when the last drawing is 50 ms old.
    void show() {
        if (sinceShown_.hasExpired(kShowEveryMs))
            showNow();
    }
    void showNow() {
        flush();
        window_.repaintWindow();
        sinceShown_.restart();
    }
    // Lets the window answer the desktop every 50 ms without handing over the text: a
    // normal launch shows its log box when it is done.
    void keepAlive() {
        if (sinceShown_.hasExpired(kShowEveryMs)) {
            window_.repaintWindow();
            sinceShown_.restart();
        }
    }

  private:
    static constexpr qint64 kShowEveryMs = 50;
    static constexpr qsizetype kPieceChars = 512 * 1024;
    LaunchWindow& window_;
    QString pending_;
    QElapsedTimer sinceShown_;
};

// What every launch shares, from the header lines to the end lines: the run log record
// and the log box. The run log is the record of what ran: what reached it is handed to
// the system before anything it names is started.
class LaunchRecord {
  public:
    LaunchRecord(LaunchWindow& window, Platform& platform, const QString& logPath,
                 const QString& logHeader)
        : logBox(window), runLog_(logPath, OutputFile::Mode::Append) {
        runLog_.write(logHeader + stamp(platform) + kLineEnd + kLineEnd);
        logBox.append(kLogBoxHeader + stamp(platform) + kLineEnd);
    }
    void addServer(QStringView batchText) {
        runLog_.write(batchText);
        runLog_.write(kLineEnd);
        runLog_.write(kLineEnd);
    }
    void flush() { runLog_.flush(); }
    // A line of the run log after the servers' blocks.
    void note(const QString& line) { runLog_.write(line + kLineEnd); }
    void endLogBox() {
        logBox.append(kLogBoxEnd + kLineEnd);
        logBox.flush();
    }
    void close() {
        runLog_.write(kRunLogSeparator + kLineEnd);
        runLog_.close();
    }
    // Ends the record of a launch that failed, with as much of it as the disk takes.
    void fail(const QString& message) noexcept {
        try {
            runLog_.write(QStringLiteral("Launch failed: ") + message + kLineEnd);
            close();
        } catch (...) {
            // The run log itself is what fails; the message box still says why.
        }
    }

    LogBox logBox;

  private:
    OutputFile runLog_;
};

Launcher::Launcher(const Workspace& workspace, Platform& platform)
    : workspace_(workspace), platform_(platform) {}

void Launcher::run(LaunchWindow& window) {
    if (window.delayText().isEmpty())
        window.setDelayText(QStringLiteral("0"));
    const QString delayText = window.delayText();
    const std::optional<double> delayMs = startDelayMs(delayText, QLocale());
    if (!delayMs)
        throw OperationError(kBadDelayMessage);
    DelayMs = *delayMs;
    window.setLogText(delayMsText(DelayMs));

    // Nothing can change the template box while the launch runs, so one read serves
    // every server.
    const QString script = window.scriptBoxText();
    {
        // The collection as the box holds it is needed only until it is in the spool
        // file; the launch works from what it reads back, in the same memory.
        QString servers = window.listBoxText();
        if (!ServerLines::anyServer(servers))
            throw OperationError(kNoServersMessage);
        if (script.isEmpty())
            throw OperationError(kNoScriptMessage);
        if (script == kPlaceholderText)
            throw OperationError(kPlaceholderScriptMessage);
        if (!QFileInfo(workspace_.root()).isDir()) {
            // Creating temp there would not help: the program's own folder has gone.
            throw OperationError(QStringLiteral("The folder %1, where Corvane was started, was "
                                                "moved or deleted while Corvane was running. "
                                                "Start Corvane again from where it is now.")
                                     .arg(workspace_.root()));
        }
        for (const QString& folder : {workspace_.tempFolder(), workspace_.logsFolder()}) {
            if (!QFileInfo(folder).isDir()) {
                throw OperationError(
                    QStringLiteral("The folder %1 does not exist. Create it and launch again.")
                        .arg(folder));
            }
        }

        LogPath = workspace_.logFile();
        refuseOutsideLink(workspace_.spoolFile());
        refuseOutsideLink(LogPath);
        OutputFile spool(workspace_.spoolFile(), OutputFile::Mode::Overwrite);
        spool.write(servers);
        spool.write(kLineEnd);
        spool.close();
        written_ = std::move(servers);
    }
    const auto forget = qScopeGuard([this] { written_ = QString(); });
    switch (window.launchMode()) {
        case LaunchMode::Normal:
            runNormal(window, script);
            break;
        case LaunchMode::Spawn:
            runSpawn(window, script, delayText);
            break;
        case LaunchMode::RunLater:
            runRunLater(window, script);
            break;
    }
}

void Launcher::refuseOutsideLink(const QString& path) const {
    const QFileInfo file(path);
    if (!file.isSymLink())
        return;
    const QString real = realPath(file.symLinkTarget());
    const QString root = QFileInfo(workspace_.root()).canonicalFilePath() + u'/';
    if (real.startsWith(root))
        return;
    throw OperationError(QStringLiteral("%1 is a link to %2, outside the workspace. Remove the "
                                        "link and launch again.")
                             .arg(path, file.symLinkTarget()));
}

template <typename Body>
void Launcher::recorded(LaunchWindow& window, const QString& logHeader, Body body) {
    ServerLines lines = readSpool(workspace_, std::exchange(written_, QString()));
    LaunchRecord record(window, platform_, LogPath, logHeader);
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

OutputFile Launcher::createBatch(LaunchMode mode) {
    for (;;) {
        if (std::optional<OutputFile> batch = OutputFile::createNew(BatchPath))
            return std::move(*batch);
        BatchPath = nextBatchPath(mode);  // taken since it was looked at
    }
}

void Launcher::writeBlocks(OutputFile& batch, LaunchRecord& record, const ServerLines& lines,
                           const QString& script) {
    const Composer composer(script);
    if (lines.count() > 0) {
        const qsizetype averageServer = lines.serverCharacters() / lines.count() + 1;
        record.logBox.reserve(lines.count() * (kLineEnd.size() + composer.length(averageServer)));
    }
    for (QStringView server : lines) {
        composer.composeInto(BatchText, server);
        batch.write(kLineEnd);
        batch.write(BatchText);
        batch.write(kLineEnd);
        record.addServer(BatchText);
        record.logBox.append(kLineEnd);
        record.logBox.append(BatchText);
        record.logBox.keepAlive();
    }
}

void Launcher::startRecorded(LaunchMode mode, int launch, const QString& title,
                             QByteArray serverText, qsizetype serverCount) {
    Run run{launch, platform_.now(),       mode,       BatchPath, runs_.tag(),
            0,      std::move(serverText), serverCount};
    run.startedPid = platform_.startBatch(
        BatchStart{run.batchPath, title, run.outputPath(), run.statusPath(), run.pidPath()});
    runs_.add(std::move(run));
}

void Launcher::runNormal(LaunchWindow& window, const QString& script) {
    BatchPath = nextBatchPath(LaunchMode::Normal);
    recorded(window, kNormalLogHeader, [&](LaunchRecord& record, ServerLines& lines) {
        // Written under its final name: it is started only once complete, so a part of it
        // never runs.
        OutputFile batch = createBatch(LaunchMode::Normal);
        writeBlocks(batch, record, lines, script);
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
        platform_.prepareStarts();
        startRecorded(LaunchMode::Normal, runs_.beginLaunch(),
                      QStringLiteral("corvane: %1 (%2 %3)")
                          .arg(QFileInfo(BatchPath).fileName())
                          .arg(servers)
                          .arg(servers == 1 ? QStringLiteral("server") : QStringLiteral("servers")),
                      serverText, servers);
    });
}

void Launcher::runRunLater(LaunchWindow& window, const QString& script) {
    BatchPath = nextBatchPath(LaunchMode::RunLater);
    recorded(window, kNormalLogHeader, [&](LaunchRecord& record, ServerLines& lines) {
        // A user runs this file by hand, maybe much later: it takes its name only once it
        // is complete, so it is whole or absent.
        const QString partial = workspace_.partialRunLaterBatch(ServerNumber);
        QFile::remove(partial);  // left by a launch that was killed
        OutputFile saved(partial, OutputFile::Mode::CreateNew);
        try {
            writeBlocks(saved, record, lines, script);
            lines.release();
            saved.close();
            while (!renameToFreeName(partial, BatchPath))
                BatchPath = nextBatchPath(LaunchMode::RunLater);
        } catch (...) {
            QFile::remove(partial);
            throw;
        }
        record.endLogBox();
    });
    platform_.showMessage(kApplicationTitle,
                          QStringLiteral("File saved for later as %1.").arg(BatchPath));
}

void Launcher::runSpawn(LaunchWindow& window, const QString& script, const QString& delayText) {
    recorded(window, kSpawnLogHeader, [&](LaunchRecord& record, ServerLines& lines) {
        const StoppableLaunch stoppable(window);
        LogBox& logBox = record.logBox;
        const Composer composer(script);
        const QString pauseLine =
            QStringLiteral("Pausing ") + delayText + QStringLiteral(" seconds ...");
        const int pause = pauseMs(DelayMs);
        const qsizetype servers = lines.count();
        qsizetype started = 0;
        bool stopped = false;
        const int launch = runs_.beginLaunch();
        platform_.prepareStarts();
        for (QStringView server : lines) {
            logBox.show();
            BatchPath = nextBatchPath(LaunchMode::Spawn);
            composer.composeInto(BatchText, server);
            OutputFile batch = createBatch(LaunchMode::Spawn);
            batch.write(BatchText);
            batch.write(kLineEnd);
            batch.close();
            record.addServer(BatchText);
            record.flush();
            // The counter, not the place in the collection, decides: every launch after the
            // first pauses before its first server too.
            const bool pauses = ServerNumber > 1;
            if (pauses && pause > 0 && !window.stopRequested()) {
                logBox.showNow();
                platform_.pause(pause);
            }
            if (window.stopRequested()) {
                // Written and recorded, but it will not run: neither its file nor the
                // record may let it pass for started.
                QFile::remove(BatchPath);
                record.note(QStringLiteral("Not started: ") + server.toString());
                stopped = true;
                break;
            }
            if (pauses)
                logBox.append(pauseLine + kLineEnd);
            logBox.append(BatchText + kLineEnd);
            logBox.show();
            startRecorded(
                LaunchMode::Spawn, launch,
                QStringLiteral("corvane: %1 (%2)").arg(server, QFileInfo(BatchPath).fileName()),
                encodeText(server), 1);
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
            BatchPath = nextBatchPath(LaunchMode::Spawn);
        }
        record.endLogBox();
        logBox.showNow();
    });
}
