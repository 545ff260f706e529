#include "batch_engine/run_command.h"

#include <QFileInfo>
#include <QLocale>

#include "batch_engine/composer.h"
#include "batch_engine/start_delay.h"
#include "common/app_info.h"
#include "common/date_time_format.h"
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

QString stamp(Platform& platform) {
    return formatLogDateTime(QLocale(), platform.now());
}

// What every launch shares, from the header lines to the end lines: the spool file read
// back, the run log record and the log box.
class LaunchRecord {
  public:
    LaunchRecord(LaunchWindow& window, Platform& platform, const QString& spoolPath,
                 const QString& logPath, const QString& logHeader)
        : spool(LineReader::fromFile(spoolPath)), runLog(logPath), logBox(window) {
        runLog.write(logHeader + stamp(platform) + kLineEnd + kLineEnd);
        logBox.append(kLogBoxHeader + stamp(platform) + kLineEnd);
    }
    void finish() {
        runLog.write(kRunLogSeparator + kLineEnd);
        runLog.close();
        logBox.append(kLogBoxEnd + kLineEnd);
        logBox.flush();
    }

    LineReader spool;
    AppendFile runLog;
    LogBox logBox;
};

class Launch {
  public:
    Launch(LaunchWindow& window, const Workspace& workspace, Platform& platform)
        : window_(window), vars_(window.variables()), workspace_(workspace), platform_(platform) {}

    void run();

  private:
    bool passesChecks(const QString& servers, const QString& script);
    bool foldersExist();
    void runCombined(const QString& script, bool saveForLater);
    void runSpawn(const QString& script, const QString& delayText);
    void refuse(const QString& message) { platform_.showMessage(kApplicationTitle, message); }
    // Moves ServerNumber on to the next number whose batch file does not exist yet, so
    // that no launch adds its commands to an older launch's file.
    QString nextBatchPath(bool saveForLater);

    LaunchWindow& window_;
    ModuleVariables& vars_;
    const Workspace& workspace_;
    Platform& platform_;
};

void Launch::run() {
    if (window_.delayText().isEmpty())
        window_.setDelayText(QStringLiteral("0"));
    const QString delayText = window_.delayText();
    const std::optional<double> delayMs = startDelayMs(delayText, QLocale());
    if (!delayMs) {
        refuse(kBadDelayMessage);
        return;
    }
    vars_.DelayMs = *delayMs;
    window_.setLogText(delayMsText(vars_.DelayMs));

    const QString servers = window_.listBoxText();
    // Nothing can change the template box while the launch runs, so one read serves
    // every server.
    const QString script = window_.scriptBoxText();
    if (!passesChecks(servers, script) || !foldersExist())
        return;

    vars_.LogPath = workspace_.logFile();
    writeWholeFile(workspace_.spoolFile(), servers + kLineEnd);
    if (window_.checkSpawnValue() == 1)
        runSpawn(script, delayText);
    else
        runCombined(script, window_.checkSaveValue() == 1);
}

bool Launch::passesChecks(const QString& servers, const QString& script) {
    if (!hasNonEmptyLine(servers)) {
        refuse(kNoServersMessage);
        return false;
    }
    if (script.isEmpty()) {
        refuse(kNoScriptMessage);
        return false;
    }
    if (script == kPlaceholderText) {
        refuse(kPlaceholderScriptMessage);
        return false;
    }
    return true;
}

bool Launch::foldersExist() {
    for (const QString& folder : {workspace_.tempFolder(), workspace_.logsFolder()}) {
        if (!QFileInfo(folder).isDir()) {
            refuse(QStringLiteral("The folder %1 does not exist. Create it and launch again.")
                       .arg(folder));
            return false;
        }
    }
    return true;
}

QString Launch::nextBatchPath(bool saveForLater) {
    QString path;
    do {
        ++vars_.ServerNumber;
        path = saveForLater ? workspace_.runLaterBatch(vars_.ServerNumber)
                            : workspace_.tempBatch(vars_.ServerNumber);
    } while (QFileInfo::exists(path));
    return path;
}

void Launch::runCombined(const QString& script, bool saveForLater) {
    vars_.BatchPath = nextBatchPath(saveForLater);
    LaunchRecord record(window_, platform_, workspace_.spoolFile(), vars_.LogPath,
                        kNormalLogHeader);

    // One open for the whole launch: the same blocks as one open per server, without
    // paying a system call round per server.
    AppendFile batch(vars_.BatchPath);
    const Composer composer(script);
    while (!record.spool.atEnd()) {
        const QStringView server = record.spool.readLine();
        if (server.isEmpty())
            continue;
        vars_.BatchText = composer.compose(server);
        batch.write(kLineEnd + vars_.BatchText + kLineEnd);
        record.runLog.write(vars_.BatchText + kLineEnd + kLineEnd);
        record.logBox.append(kLineEnd + vars_.BatchText);
    }
    batch.close();
    record.finish();

    if (saveForLater) {
        platform_.showMessage(kApplicationTitle,
                              QStringLiteral("File saved for later as %1.").arg(vars_.BatchPath));
    } else {
        platform_.startBatch(vars_.BatchPath);
    }
}

void Launch::runSpawn(const QString& script, const QString& delayText) {
    LaunchRecord record(window_, platform_, workspace_.spoolFile(), vars_.LogPath, kSpawnLogHeader);
    const Composer composer(script);
    const QString pauseLine =
        QStringLiteral("Pausing ") + delayText + QStringLiteral(" seconds ...");
    const int pause = pauseMs(vars_.DelayMs);
    LineReader& spool = record.spool;
    LogBox& logBox = record.logBox;
    while (!spool.atEnd()) {
        logBox.repaint();
        vars_.BatchPath = nextBatchPath(false);
        QStringView server;
        while (!spool.atEnd() && server.isEmpty())
            server = spool.readLine();
        if (server.isEmpty())
            break;  // only trailing empty lines were left; the number stays used up

        vars_.BatchText = composer.compose(server);
        appendToFile(vars_.BatchPath, vars_.BatchText + kLineEnd);
        record.runLog.write(vars_.BatchText + kLineEnd + kLineEnd);
        // The counter, not the place in the collection, decides: every launch after the
        // first pauses before its first server too.
        if (vars_.ServerNumber > 1) {
            if (pause > 0)
                platform_.pause(pause);
            logBox.append(pauseLine + kLineEnd);
        }
        logBox.append(vars_.BatchText + kLineEnd);
        logBox.repaint();
        logBox.repaint();
        platform_.startBatch(vars_.BatchPath);
        logBox.repaint();
    }
    record.finish();
}

}  // namespace

void RunCommand(LaunchWindow& window, const Workspace& workspace, Platform& platform) {
    Launch(window, workspace, platform).run();
}
