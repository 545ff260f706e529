#include "batch_engine/launcher.h"

#include <QFileInfo>
#include <QLocale>
#include <limits>

#include "batch_engine/composer.h"
#include "batch_engine/server_lines.h"
#include "batch_engine/start_delay.h"
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

// Collects what a launch appends to the log box and hands it over in one piece, so
// that a launch costs one widget update instead of one per server. Whatever was
// collected reaches the box also when the launch fails half-way.
class LogBox {
  public:
    explicit LogBox(LaunchWindow& window) : window_(window) {}
    ~LogBox() { flush(); }
    void append(QStringView text) { pending_ += text; }
    void flush() {
        if (!pending_.isEmpty())
            window_.appendLogText(pending_);
        pending_.clear();
    }
    void repaint() {
        flush();
        window_.repaintWindow();
    }

  private:
    LaunchWindow& window_;
    QString pending_;
};

// The server spool file read back: the launch works from what reached the disk.
ServerLines readSpool(const Workspace& workspace) {
    return ServerLines(readWholeFile(workspace.spoolFile(), std::numeric_limits<qint64>::max()));
}

QString stamp(Platform& platform) {
    return formatLogDateTime(QLocale(), platform.now());
}

}  // namespace

// What every launch shares, from the header lines to the end lines: the run log record
// and the log box.
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
        runLog_.write(kLineEnd + kLineEnd);
    }
    void finish() {
        runLog_.write(kRunLogSeparator + kLineEnd);
        runLog_.close();
        logBox.append(kLogBoxEnd + kLineEnd);
        logBox.flush();
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

    const QString servers = window.listBoxText();
    // Nothing can change the template box while the launch runs, so one read serves
    // every server.
    const QString script = window.scriptBoxText();
    if (!ServerLines::anyServer(servers))
        throw OperationError(kNoServersMessage);
    if (script.isEmpty())
        throw OperationError(kNoScriptMessage);
    if (script == kPlaceholderText)
        throw OperationError(kPlaceholderScriptMessage);
    for (const QString& folder : {workspace_.tempFolder(), workspace_.logsFolder()}) {
        if (!QFileInfo(folder).isDir()) {
            throw OperationError(
                QStringLiteral("The folder %1 does not exist. Create it and launch again.")
                    .arg(folder));
        }
    }

    LogPath = workspace_.logFile();
    writeWholeFile(workspace_.spoolFile(), servers + kLineEnd);
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

QString Launcher::nextBatchPath(LaunchMode mode) {
    QString path;
    do {
        ++ServerNumber;
        path = mode == LaunchMode::RunLater ? workspace_.runLaterBatch(ServerNumber)
                                            : workspace_.tempBatch(ServerNumber);
    } while (QFileInfo::exists(path));
    return path;
}

void Launcher::writeCombined(LaunchWindow& window, const QString& script) {
    const ServerLines servers = readSpool(workspace_);
    LaunchRecord record(window, platform_, LogPath, kNormalLogHeader);
    // One open for the whole launch: the same blocks as one open per server, without
    // paying a system call round per server.
    OutputFile batch(BatchPath, OutputFile::Mode::Append);
    const Composer composer(script);
    for (QStringView server : servers.servers()) {
        BatchText = composer.compose(server);
        batch.write(kLineEnd + BatchText + kLineEnd);
        record.addServer(BatchText);
        record.logBox.append(kLineEnd + BatchText);
    }
    batch.close();
    record.finish();
}

void Launcher::runNormal(LaunchWindow& window, const QString& script) {
    BatchPath = nextBatchPath(LaunchMode::Normal);
    writeCombined(window, script);
    platform_.startBatch(BatchPath);
}

void Launcher::runRunLater(LaunchWindow& window, const QString& script) {
    BatchPath = nextBatchPath(LaunchMode::RunLater);
    writeCombined(window, script);
    platform_.showMessage(kApplicationTitle,
                          QStringLiteral("File saved for later as %1.").arg(BatchPath));
}

void Launcher::runSpawn(LaunchWindow& window, const QString& script, const QString& delayText) {
    const ServerLines servers = readSpool(workspace_);
    LaunchRecord record(window, platform_, LogPath, kSpawnLogHeader);
    LogBox& logBox = record.logBox;
    const Composer composer(script);
    const QString pauseLine =
        QStringLiteral("Pausing ") + delayText + QStringLiteral(" seconds ...");
    const int pause = pauseMs(DelayMs);
    for (QStringView server : servers.servers()) {
        logBox.repaint();
        BatchPath = nextBatchPath(LaunchMode::Spawn);
        BatchText = composer.compose(server);
        OutputFile batch(BatchPath, OutputFile::Mode::Append);
        batch.write(BatchText + kLineEnd);
        batch.close();
        record.addServer(BatchText);
        // The counter, not the place in the collection, decides: every launch after the
        // first pauses before its first server too.
        if (ServerNumber > 1) {
            if (pause > 0)
                platform_.pause(pause);
            logBox.append(pauseLine + kLineEnd);
        }
        logBox.append(BatchText + kLineEnd);
        // Two repaints in a row before the start, as the launch has always made them.
        logBox.repaint();
        logBox.repaint();
        platform_.startBatch(BatchPath);
        logBox.repaint();
    }
    if (servers.emptyLinesAfterLast()) {
        // The turn that finds only empty lines still uses up a number.
        logBox.repaint();
        BatchPath = nextBatchPath(LaunchMode::Spawn);
    }
    record.finish();
}
