#include "runs/launch_results.h"

#include <QHash>
#include <algorithm>
#include <utility>

LaunchResult launchOf(const RunList& runs, int launch, bool* going) {
    LaunchResult counted;
    counted.number = launch;
    counted.started = runs.launchStarted(launch);
    const RunList::Range range = runs.launchRuns(launch);
    bool changing = false;
    for (qsizetype i = range.first; i < range.first + range.count; ++i) {
        const Run& run = runs.runs()[i];
        if (i == range.first)
            counted.mode = run.mode;
        if (!counted.started.isValid() && run.started.isValid())
            counted.started = run.started;
        const RunState state = runs.finalState(i);
        // A terminal that ended without running its batch file may still hand it over.
        changing = changing || state.going() || state.kind == RunState::NotRun;
        counted.servers += run.serverCount;
        counted.count(state, run.serverCount);
        counted.batchState = state;
    }
    if (going)
        *going = changing;
    return counted;
}

LaunchResult::Count countOf(const RunState& state) {
    switch (state.kind) {
        case RunState::Running:
            return LaunchResult::Running;
        case RunState::Waiting:
            return LaunchResult::Waiting;
        case RunState::NotStarted:
            return LaunchResult::NotStarted;
        case RunState::TimedOut:
            return LaunchResult::TimedOut;
        case RunState::EndedByUser:
            return LaunchResult::EndedByUser;
        case RunState::Exited:
            return state.exitStatus == 0 ? LaunchResult::Ok : LaunchResult::Failed;
        case RunState::Unknown:
        case RunState::CleanedUp:
        case RunState::NotRun:
            break;
    }
    return LaunchResult::Failed;
}

void LaunchResult::count(const RunState& state, qsizetype servers) {
    counts[countOf(state)] += servers;
}

RunState asEndedState(RunState state) {
    if (state.kind == RunState::Running || state.kind == RunState::NotRun)
        return RunState{RunState::Unknown, 0};
    if (state.kind == RunState::Waiting)
        return RunState{RunState::NotStarted, 0};
    return state;
}

void LaunchResult::asEnded() {
    counts[Failed] += std::exchange(counts[Running], 0);
    counts[NotStarted] += std::exchange(counts[Waiting], 0);
    batchState = asEndedState(batchState);
}

QString LaunchResult::summary() const {
    if (mode == LaunchMode::Normal && servers > 0) {
        return QStringLiteral("1 batch file of %1 %2: %3")
            .arg(servers)
            .arg(servers == 1 ? QStringLiteral("server") : QStringLiteral("servers"),
                 batchState.text());
    }
    static const char* const names[Counts] = {
        "ok", "failed", "timed out", "ended by the user", "not started", "running", "waiting"};
    QStringList parts;
    for (int count = 0; count < Counts; ++count) {
        if (counts[count] > 0)
            parts += QStringLiteral("%1 %2").arg(counts[count]).arg(QLatin1String(names[count]));
    }
    return parts.join(QStringLiteral(" \u00b7 "));
}

QString LaunchResult::progress(qint64 elapsedMs, const QLocale& locale) const {
    const qsizetype started = servers - counts[Waiting] - counts[NotStarted];
    const qsizetype failed = counts[Failed] + counts[TimedOut] + counts[EndedByUser];
    QString text = QStringLiteral("%1 of %2 started \u00b7 %3 running \u00b7 %4 failed")
                       .arg(locale.toString(started), locale.toString(servers),
                            locale.toString(counts[Running]), locale.toString(failed));
    const qsizetype done = ended();
    if (done == 0 || done >= servers || done * 20 < servers)
        return text;
    // The ends so far at the pace so far: the rest take as long again, in proportion.
    const qint64 leftS = (elapsedMs * (servers - done) / done + 999) / 1000;
    QString left;
    if (leftS < 60)
        left = QStringLiteral("%1 s").arg(leftS);
    else if (leftS < 3600)
        left = QStringLiteral("%1 min").arg((leftS + 30) / 60);
    else
        left = QStringLiteral("%1 h %2 min").arg(leftS / 3600).arg(leftS / 60 % 60);
    return text + QStringLiteral(" \u00b7 about %1 left").arg(left);
}

namespace {

// What makes batch files alike: their state, exit status and output.
struct Likeness {
    RunState::Kind kind;
    int exitStatus;
    QByteArrayView digest;
    bool operator==(const Likeness& other) const {
        return kind == other.kind && exitStatus == other.exitStatus && digest == other.digest;
    }
};

size_t qHash(const Likeness& likeness, size_t seed = 0) {
    return qHashMulti(seed, likeness.digest, int(likeness.kind), likeness.exitStatus);
}

}  // namespace

QList<ResultGroup> groupResults(const QList<BatchResult>& results) {
    QList<ResultGroup> groups;
    QHash<Likeness, qsizetype> groupOf;
    groupOf.reserve(64);
    for (qsizetype i = 0; i < results.size(); ++i) {
        const BatchResult& result = results[i];
        if (result.state.kind == RunState::Running) {
            groups.append(ResultGroup{{i}, result.serverCount});
            continue;
        }
        const Likeness key{result.state.kind, result.state.exitStatus, result.digest};
        auto found = groupOf.constFind(key);
        if (found == groupOf.constEnd()) {
            found = groupOf.insert(key, groups.size());
            groups.append(ResultGroup{});
        }
        ResultGroup& group = groups[*found];
        group.members.append(i);
        group.servers += result.serverCount;
    }
    std::stable_sort(groups.begin(), groups.end(), [](const ResultGroup& a, const ResultGroup& b) {
        return a.members.size() > b.members.size();
    });
    return groups;
}

bool passes(ResultFilter filter, const RunState& state) {
    switch (filter) {
        case ResultFilter::All:
            return true;
        case ResultFilter::Failed:
            return state.failed();
        case ResultFilter::Running:
            return state.going();
        case ResultFilter::Ok:
            break;
    }
    return state.kind == RunState::Exited && state.exitStatus == 0;
}
