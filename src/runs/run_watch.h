#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <functional>

#include "runs/run_list.h"

// The run tracker's part that watches the runs a launch started: tells when one may have ended,
// ends one that reaches its time limit, and ends those the user stops. A run ends with SIGTERM to
// the process group of the recorder's shell (the recorder began a session for it), and SIGKILL 5 s
// later to what is left of it and of the process the program started (which began a
// session of its own).
class RunWatch {
  public:
    RunWatch(RunList& runs, const QString& tempFolder);
    ~RunWatch();
    RunWatch(const RunWatch&) = delete;
    RunWatch& operator=(const RunWatch&) = delete;

    // From the run's start. Its end is learnt from the process the program started, and
    // from the temp folder for a terminal that hands the run over and returns at once.
    // `timeoutSeconds` after the start a run still going is ended (0: never).
    void watch(qsizetype index, int timeoutSeconds);
    // Ends the runs still going, as the user asked.
    void end(const QList<qsizetype>& indices);
    // Runs ended of which a process is still left for the SIGKILL to come.
    qsizetype endingsPending();

    // Called whenever a run may have ended: the run `index`, or -1 for any of them.
    std::function<void(qsizetype index)> changed;
    // Called when the processes of a run that was ended are gone.
    std::function<void()> endingDone;

  private:
    void endRun(qsizetype index, RunState as);
    void notify(qsizetype index) {
        if (changed)
            changed(index);
    }

    RunList& runs_;
    QString tempFolder_;
    QObject context_;  // the notifiers and timers: they go with the watch
    QFileSystemWatcher* temp_ = nullptr;
    QList<QList<int>> ending_;  // the process groups of each run ended, until they have gone
};
