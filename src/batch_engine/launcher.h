#pragma once

#include <functional>

#include "batch_engine/launch_request.h"
#include "common/errors.h"
#include "common/text_file.h"
#include "common/workspace.h"
#include "platform/platform.h"
#include "runs/run_tracker.h"

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

class LaunchJob;
class LaunchRecord;
class LogBox;
class OutputFile;

// The launch engine, owned by a front end for the life of the program. A launch checks
// the request, writes the server spool file, composes the batch file(s) in the request's
// mode, records the run in the run log and the log box, and starts or saves the result.
// It runs as a job of the event loop (LaunchJob): its start delays and its waits for a
// free slot are timers, and a large collection is written in slices, so that the front
// end's event loop turns all along. A refusal (LaunchRefused), a failure before the launch
// began (LaunchNotBegun) and a failure (OperationError) leave it the same way, with what
// was written left in place: thrown by start() while it runs, or handed to the progress's
// finished() after that.
class Launcher {
  public:
    Launcher(const Workspace& workspace, Platform& platform);
    ~Launcher();

    // Takes the request over (the collection of a large launch is not kept twice), and
    // runs the launch as far as it goes without waiting; the rest follows as the event loop
    // turns, and progress.finished() tells its end. One launch at a time.
    void start(LaunchRequest request, LaunchProgress& progress);
    // Whether a launch is under way.
    bool launching() const;
    // The user's stop: a wait of the launch under way ends at once, and the progress's
    // stopRequested() decides what follows.
    void stop();

    // The runs of every launch, this program run's and earlier ones': the front ends
    // read them, and ask for runs to be ended, there; only the launch reports to it.
    RunTracker& tracker() { return tracker_; }
    static constexpr int kExitHistoryWaitMs = 2000;
    // Told, without an answer to wait for, when the history is busy and free again; without
    // a receiver, the launch under way has it in its log box, and a message otherwise.
    std::function<void(const QString& message)> notice;

    // Empties the temp folder; what the runs ended as is read first, so that it outlives
    // their files.
    void CleanupTemp();
    // The same as the program ends: only the runs not yet known to have ended are read
    // first, for the history.
    void emptyTempAtExit();

  private:
    friend class LaunchJob;
    // The next batch file name that nothing stands at, numbered from ServerNumber.
    QString nextBatchPath(LaunchMode mode);
    // Creates the file at `path`, moving on to the next free name when it was taken.
    OutputFile createBatch(QString& path, LaunchMode mode);
    // Starts the batch file at `path` on a recorded terminal titled `title` as the run
    // `index` of the run list, and watches it.
    void startRecorded(const LaunchRequest& request, LaunchProgress& progress, qsizetype index,
                       const QString& path, const QString& title);
    // Throws the refusal or failure that stops the request before anything is written.
    void refuse(const LaunchRequest& request) const;
    // Runs `step`, whose failure means that nothing of the launch was written yet.
    static void notBegun(const std::function<void()>& step);
    // Refuses to write through a link that leads out of the workspace.
    void refuseOutsideLink(const QString& path) const;

    Workspace workspace_;
    Platform& platform_;
    RunTracker tracker_;
    // The launch under way, or the last one; kept until the next begins.
    std::unique_ptr<LaunchJob> job_;
    // Numbers the batch files; never reset while the program runs.
    int ServerNumber = 0;
};
