#pragma once

#include <QTimer>
#include <functional>

#include "batch_engine/launch_request.h"
#include "common/errors.h"
#include "common/text_file.h"
#include "common/workspace.h"
#include "platform/platform.h"
#include "runs/results_history.h"
#include "runs/run_list.h"
#include "runs/run_watch.h"

inline const QString kNoServersMessage = QStringLiteral("You dummy. Add some servers!");
inline const QString kNoScriptMessage = QStringLiteral("You dummy. Add a Script!");
inline const QString kPlaceholderScriptMessage = QStringLiteral("You dummy. Add a script!");

// A launch refused before anything was written: the request itself is not one to run.
class LaunchRefused : public OperationError {
  public:
    using OperationError::OperationError;
};

// A launch that failed before anything of it was written or started: a folder that is
// missing, moved or not writable, a link out of the workspace, a spool file or run log that
// cannot be opened. Nothing ran, nothing is recorded.
class LaunchNotBegun : public OperationError {
  public:
    using OperationError::OperationError;
};

class LaunchRecord;
class LogBox;
class ServerLines;

// The launch engine, owned by a front end for the life of the program. A launch checks
// the request, writes the server spool file, composes the batch file(s) in the request's
// mode, records the run in the run log and the log box, and starts or saves the result.
// A refusal (LaunchRefused), a failure before the launch began (LaunchNotBegun) and a
// failure (OperationError) leave it the same way: thrown, with what was written left in
// place.
class Launcher {
  public:
    Launcher(const Workspace& workspace, Platform& platform);

    // Takes the request over: the collection of a large launch is not kept twice.
    void run(LaunchRequest request, LaunchProgress& progress);

    // Every batch file the launches of this program run started, or are to start.
    RunList& runs() { return runs_; }
    // Their end, their time limits, and the user's end of them.
    RunWatch& watch() { return watch_; }
    // The results of the launches, kept across program runs.
    ResultsHistory& history() { return history_; }
    static constexpr int kExitHistoryWaitMs = 2000;
    // Told, without an answer to wait for, when the history is busy and free again; without
    // a receiver, the launch under way has it in its log box, and a message otherwise.
    std::function<void(const QString& message)> notice;
    // Writes what became known of the runs since the last time into the history.
    void recordChanges() { history_.recordChanges(runs_); }

    // Empties the temp folder; what the runs ended as is read first, so that it outlives
    // their files.
    void CleanupTemp();
    // The same as the program ends: only the runs not yet known to have ended are read
    // first, for the history.
    void emptyTempAtExit();

  private:
    LaunchProgress* launching_ = nullptr;  // the progress of the launch under way
    // The working values of one launch.
    struct Launch {
        Launch(const LaunchRequest& request, LaunchProgress& progress)
            : request(request), progress(progress) {}
        // An empty delay is no delay, and reads as 0 where it is shown.
        QString delayText() const {
            return request.delayText.isEmpty() ? QStringLiteral("0") : request.delayText;
        }
        const LaunchRequest& request;
        LaunchProgress& progress;
        double DelayMs = 0;
        QString LogPath;
        QString BatchPath;
        QString BatchText;
    };

    void runNormal(Launch& launch);
    void runSpawn(Launch& launch);
    void runRunLater(Launch& launch);

    // Reads the spool file back and runs `body` between the header and the separator of
    // the launch's record; a failure in `body` ends the record with the failure.
    template <typename Body>
    void recorded(Launch& launch, const QString& logHeader, Body body);
    // The next batch file name that nothing stands at, numbered from ServerNumber.
    QString nextBatchPath(LaunchMode mode);
    // Creates the file at BatchPath, moving on to the next free name when it was taken.
    OutputFile createBatch(Launch& launch);
    // One block per server, the content of the normal and Run Later batch file.
    void writeBlocks(Launch& launch, OutputFile& batch, LaunchRecord& record,
                     const ServerLines& lines);
    // Starts the batch file at BatchPath on a recorded terminal titled `title` as the run
    // `index` of the run list, and watches it.
    void startRecorded(Launch& launch, qsizetype index, const QString& title);
    // Waits until fewer than the options' most of `going`, this launch's runs, still run;
    // the window stays alive as during a pause, and a stop ends the wait.
    void waitForSlot(Launch& launch, QList<qsizetype>& going, LogBox& logBox);
    // Throws the refusal or failure that stops the request before anything is written.
    void refuse(const LaunchRequest& request) const;
    // Runs `step`, whose failure means that nothing of the launch was written yet.
    static void notBegun(const std::function<void()>& step);
    // Refuses to write through a link that leads out of the workspace.
    void refuseOutsideLink(const QString& path) const;

    Workspace workspace_;
    Platform& platform_;
    RunList runs_;
    RunWatch watch_;
    ResultsHistory history_;
    // A look at every run still running, after the temp folder changed: at most one a
    // second, however many files a launch writes, and rarer the longer a look takes.
    QTimer look_;
    bool waitingForSlot_ = false;
    static constexpr int kSlotLookMs = 1000;
    // The collection as the launch wrote it to the spool file; the text read back from
    // the file takes over its memory.
    QString written_;
    // Numbers the batch files; never reset while the program runs.
    int ServerNumber = 0;
};
