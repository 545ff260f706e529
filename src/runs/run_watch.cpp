#include "runs/run_watch.h"

#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QTimer>

namespace {

constexpr int kKillAfterMs = 5000;

// The process groups of a run: both were begun by the run's own processes. A pid of 0 or
// 1 is never one: kill(-0) and kill(-1) reach far more than the run.
QList<int> groupsOf(const RunList& runs, qsizetype index) {
    QList<int> groups;
    for (qint64 pid : {runs.runs()[index].startedPid, runs.recorderPid(index)}) {
        if (pid > 1)
            groups.append(static_cast<pid_t>(pid));
    }
    return groups;
}

}  // namespace

RunWatch::RunWatch(RunList& runs, const QString& tempFolder)
    : runs_(runs), tempFolder_(tempFolder) {}

RunWatch::~RunWatch() = default;

void RunWatch::watch(qsizetype index, int timeoutSeconds) {
    const qint64 pid = runs_.runs()[index].startedPid;
    const int process = pid > 1 ? static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)) : -1;
    if (process >= 0) {
        auto* exit = new QSocketNotifier(process, QSocketNotifier::Read, &context_);
        QObject::connect(exit, &QSocketNotifier::activated, &context_,
                         [this, exit, process, pid, index] {
                             exit->setEnabled(false);
                             exit->deleteLater();
                             ::close(process);
                             // The program's own child: collected now, so that it no longer counts
                             // as alive.
                             ::waitpid(static_cast<pid_t>(pid), nullptr, WNOHANG);
                             notify(index);
                         });
    }
    if (!temp_) {
        temp_ = new QFileSystemWatcher(&context_);
        QObject::connect(temp_, &QFileSystemWatcher::directoryChanged, &context_,
                         [this] { notify(-1); });
    }
    if (temp_->directories().isEmpty())
        temp_->addPath(tempFolder_);
    if (timeoutSeconds > 0) {
        QTimer::singleShot(timeoutSeconds * 1000LL, &context_, [this, index, timeoutSeconds] {
            if (runs_.look(index).kind == RunState::Running)
                endRun(index, RunState{RunState::TimedOut, timeoutSeconds});
        });
    }
}

void RunWatch::end(const QList<qsizetype>& indices) {
    for (qsizetype index : indices) {
        if (runs_.look(index).kind == RunState::Running)
            endRun(index, RunState{RunState::EndedByUser, 0});
    }
}

void RunWatch::endRun(qsizetype index, RunState as) {
    const QList<int> groups = groupsOf(runs_, index);
    // The batch file's own group first: the recorder then ends as after any run. The
    // recorder itself takes SIGTERM as a hang-up and lingers; it gets SIGTERM only while
    // it has noted no process of the run's, and SIGKILL with the rest 5 s later.
    const qint64 recorder = runs_.recorderPid(index);
    const qint64 first = recorder > 1 ? recorder : groups.value(0, 0);
    if (first > 1)  // kill(-0) and kill(-1) would reach far more than the run
        ::kill(-static_cast<pid_t>(first), SIGTERM);
    runs_.ended(index, as);
    ending_.append(groups);
    QTimer::singleShot(kKillAfterMs, &context_, [this, groups] {
        for (pid_t group : groups)
            ::kill(-group, SIGKILL);  // a group that has gone takes nothing
        ending_.removeOne(groups);
        notify(-1);
        if (endingDone)
            endingDone();
    });
    notify(index);
}

qsizetype RunWatch::endingsPending() {
    ending_.removeIf([](const QList<int>& groups) {
        for (pid_t group : groups) {
            if (::kill(-group, 0) == 0)
                return false;
        }
        return true;
    });
    return ending_.size();
}
