#include "runs/run_tracker.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <algorithm>

RunTracker::RunTracker(const QString& tempFolder, const QString& historyFile,
                       ResultsHistory::Access access, QString tag)
    : runs_(std::move(tag)),
      watch_(runs_, tempFolder),
      history_(historyFile, ResultsHistory::kDefaultKeepLaunches, access) {
    history_.report = [this](const QString& message) {
        if (report)
            report(message);
    };
    history_.notice = [this](const QString& message) {
        if (notice)
            notice(message);
    };
    watch_.changed = [this](qsizetype index) { mayHaveEnded(index); };
    watch_.endingDone = [this] { emit endingsDone(); };
    look_.setSingleShot(true);
    look_.setInterval(kLookMs);
    look_.callOnTimeout(this, [this] {
        QElapsedTimer cost;
        cost.start();
        lookNow();
        // A look at very many runs takes its time: at most a twentieth of the program's.
        look_.setInterval(std::max<qint64>(kLookMs, 19 * cost.elapsed()));
        // What nothing told of is found on the next look, while a run is going.
        if (runs_.runningCount() > 0)
            look_.start();
    });
}

RunTracker::~RunTracker() = default;

int RunTracker::beginLaunch(const QDateTime& at) {
    const int launch = runs_.beginLaunch(at);
    recount_.insert(launch);
    return launch;
}

qsizetype RunTracker::plan(Run run) {
    recount_.insert(run.launch);
    return runs_.plan(std::move(run));
}

void RunTracker::addLaunch(int launch, int keepLaunches) {
    history_.setKeepLaunches(keepLaunches);
    history_.addLaunch(runs_, launch);
}

void RunTracker::started(qsizetype index, const QString& batchPath, qint64 pid, const QDateTime& at,
                         int timeoutSeconds) {
    runs_.start(index, batchPath, pid, at);
    settle();
    watch_.watch(index, timeoutSeconds);
    if (!look_.isActive())
        look_.start();
}

void RunTracker::notStarted(qsizetype index) {
    runs_.notStarted(index);
    settle();
}

void RunTracker::beforeCleanUp() {
    runs_.noteStatesBeforeCleanUp();
    settle();  // the outputs, before they go
}

void RunTracker::mayHaveEnded(qsizetype index) {
    if (index >= 0) {
        // The process the program started has ended: the run is decided now.
        runs_.look(index);
        settle();
    } else if (!look_.isActive()) {
        look_.start();
    }
}

void RunTracker::end(const QList<qsizetype>& indices) {
    watch_.end(indices);
    settle();
}

qsizetype RunTracker::endingsPending() {
    return watch_.endingsPending();
}

bool RunTracker::clearHistory() {
    if (!history_.clear())
        return false;
    earlierReadAt_ = -1;
    return true;
}

bool RunTracker::finishHistory(int waitMs) {
    lookNow();
    return history_.finish(waitMs);
}

QList<RunList::Change> recordChanges(RunList& runs, ResultsHistory& history) {
    const QList<RunList::Change> changes = runs.takeChanged();
    if (changes.isEmpty())
        return changes;
    // What ended is read once, before anyone is told: its last line and output digest
    // are then known to every reader, and its output goes into the history.
    QHash<qsizetype, QString> outputs;
    for (const RunList::Change& change : changes) {
        const qsizetype index = change.index;
        if (!runs.finalState(index).final() || outputs.contains(index))
            continue;
        bool whole = false;
        QString output = runs.output(index, RunList::kShownOutputBytes, &whole);
        runs.noteOutcome(index, output, whole);
        outputs.insert(index, std::move(output));
    }
    history.recordChanges(runs, changes, outputs);
    return changes;
}

void RunTracker::lookNow() {
    runs_.lookAtRunning();
    settle();
}

void RunTracker::settle() {
    const QList<RunList::Change> changes = recordChanges(runs_, history_);
    for (const RunList::Change& change : changes) {
        recount_.insert(runs_.runs()[change.index].launch);
        emit runChanged(change.index);
    }
}

LaunchResult RunTracker::counted(int launch) {
    // Only the launches whose runs changed since are counted again.
    counted_.resize(runs_.launches());
    for (int changed : std::as_const(recount_))
        counted_[changed - 1] = launchOf(runs_, changed);
    recount_.clear();
    return counted_.value(launch - 1);
}

QList<LaunchResult> RunTracker::launches() {
    QList<LaunchResult> all;
    for (int launch = runs_.launches(); launch >= 1; --launch) {
        all.append(counted(launch));
        all.back().historyId = history_.idOf(launch);
    }
    if (earlierReadAt_ != runs_.launches()) {
        earlierReadAt_ = runs_.launches();
        earlier_.clear();
        for (const ResultsHistory::StoredLaunch& stored : history_.launches()) {
            if (stored.programRun == runs_.tag())
                continue;
            earlier_.append(stored.launch);
            if (!earlierRunning_)
                earlier_.back().asEnded();
        }
    }
    return all + earlier_;
}

QList<BatchResult> RunTracker::results(const LaunchResult& launch) {
    if (launch.number == 0)
        return history_.results(launch.historyId, !earlierRunning_);
    const RunList::Range range = runs_.launchRuns(launch.number);
    QList<BatchResult> results;
    results.reserve(range.count);
    for (qsizetype i = range.first; i < range.first + range.count; ++i) {
        const Run& run = runs_.runs()[i];
        results.append(
            BatchResult{.index = i,
                        .batchName = run.batchPath.mid(run.batchPath.lastIndexOf(u'/') + 1),
                        .serverText = run.serverText,
                        .serverCount = run.serverCount,
                        .state = runs_.finalState(i),
                        .started = run.started,
                        .ended = run.ended,
                        .lastLine = run.lastLine,
                        .digest = run.outputDigest});
    }
    return results;
}

bool RunTracker::hasOutputFile(const LaunchResult& launch, const BatchResult& result) const {
    if (launch.number == 0)
        return false;
    return result.state.going() || QFileInfo::exists(runs_.runs()[result.index].outputPath());
}

QString RunTracker::output(const LaunchResult& launch, const BatchResult& result) {
    if (hasOutputFile(launch, result))
        return runs_.output(result.index);
    if (launch.number == 0)
        return history_.output(launch.historyId, result.index);
    return history_.output(history_.idOf(launch.number),
                           result.index - runs_.launchRuns(launch.number).first);
}

RunList::Retry RunTracker::retry(const LaunchResult& launch, const QList<qsizetype>& places) {
    // What is acted on is what the runs' files say now.
    if (launch.number > 0) {
        lookNow();
        return runs_.retry(launch.number, places);
    }
    RunList::Retry retry;
    const QList<BatchResult> all = results(launch);
    const qsizetype count = places.isEmpty() ? all.size() : places.size();
    for (qsizetype n = 0; n < count; ++n) {
        const BatchResult& result = all[places.isEmpty() ? n : places[n]];
        if (result.state.failed())
            retry.servers += result.servers();
    }
    return retry;
}

QList<qsizetype> RunTracker::running(const LaunchResult& launch) {
    lookNow();
    QList<qsizetype> running;
    const RunList::Range range = runs_.launchRuns(launch.number);
    for (qsizetype i = range.first; i < range.first + range.count; ++i) {
        if (runs_.state(i).kind == RunState::Running)
            running.append(i);
    }
    return running;
}
