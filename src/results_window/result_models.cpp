#include "result_models.h"

#include <QFont>
#include <QLocale>

#include "common/date_time_format.h"
#include "runs/name_ranges.h"

namespace {

QString modeText(LaunchMode mode) {
    switch (mode) {
        case LaunchMode::Normal:
            return QStringLiteral("normal");
        case LaunchMode::Spawn:
            return QStringLiteral("Spawn Mode");
        case LaunchMode::RunLater:
            break;
    }
    return QStringLiteral("Run Later");
}

}  // namespace

QString serversText(const BatchResult& result) {
    if (result.serverCount == 1)
        return result.servers().value(0);
    return QStringLiteral("%1 servers").arg(result.serverCount);
}

QString durationText(const QDateTime& from, const QDateTime& to) {
    if (!from.isValid() || !to.isValid())
        return QString();
    const qint64 ms = std::max<qint64>(0, from.msecsTo(to));
    if (ms < 60 * 1000)
        return QStringLiteral("%1 s").arg(QLocale().toString(ms / 1000.0, 'f', 1));
    const qint64 s = ms / 1000;
    if (s < 3600)
        return QStringLiteral("%1 min %2 s").arg(s / 60).arg(s % 60);
    return QStringLiteral("%1 h %2 min").arg(s / 3600).arg(s / 60 % 60);
}

int LaunchListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(launches_.size());
}

int LaunchListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : Columns;
}

QVariant LaunchListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const char* const names[Columns] = {"Started", "Mode", "Servers", "States",
                                               "Launched by"};
    return QString::fromLatin1(names[section]);
}

QVariant LaunchListModel::data(const QModelIndex& index, int role) const {
    const LaunchResult& launch = launches_[index.row()];
    if (role == Qt::ToolTipRole && launch.number == 0)
        return QStringLiteral("Launched by an earlier run of Corvane; kept in the history.");
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
        case Started:
            return formatLogDateTime(QLocale(), launch.started);
        case Mode:
            return modeText(launch.mode);
        case Servers:
            return QString::number(launch.servers);
        case States:
            return launch.summary();
        case Launched:
            return launch.number > 0 ? QStringLiteral("this run") : QStringLiteral("earlier");
    }
    return {};
}

void LaunchListModel::setCurrent(const QList<LaunchResult>& launches) {
    const qsizetype added = launches.size() - current_;
    if (added > 0) {
        beginInsertRows({}, 0, static_cast<int>(added - 1));
        launches_.insert(0, added, LaunchResult{});
        current_ = launches.size();
        std::copy(launches.begin(), launches.begin() + added, launches_.begin());
        endInsertRows();
    }
    for (qsizetype row = added > 0 ? added : 0; row < launches.size(); ++row) {
        LaunchResult& shown = launches_[row];
        if (std::equal(std::begin(shown.counts), std::end(shown.counts),
                       std::begin(launches[row].counts)) &&
            shown.batchState.kind == launches[row].batchState.kind &&
            shown.batchState.exitStatus == launches[row].batchState.exitStatus &&
            shown.started == launches[row].started && shown.historyId == launches[row].historyId)
            continue;
        shown = launches[row];
        emit dataChanged(index(static_cast<int>(row), 0),
                         index(static_cast<int>(row), Columns - 1));
    }
}

void LaunchListModel::setEarlier(const QList<LaunchResult>& launches) {
    beginResetModel();
    launches_.resize(current_);
    launches_ += launches;
    endResetModel();
}

int BatchTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int BatchTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : Columns;
}

QVariant BatchTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const char* const names[Columns] = {"Servers",     "Count",    "State",
                                               "Exit status", "Duration", "Last line"};
    return QString::fromLatin1(names[section]);
}

QVariant BatchTableModel::data(const QModelIndex& index, int role) const {
    const Row& row = rows_[index.row()];
    const BatchResult& first = results_[row.members.front()];
    if (role == Qt::ToolTipRole && index.column() == Servers) {
        if (grouped_)
            return row.names;
        if (first.serverCount > 1) {
            return QStringLiteral(
                "One batch file for all of its servers, with one exit status: when it fails, "
                "Retry failed takes all of its servers.");
        }
        return {};
    }
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
        case Servers:
            return grouped_ ? row.shownNames : serversText(first);
        case Count:
            return QString::number(row.servers);
        case State:
            return first.state.text();
        case Exit:
            return first.state.kind == RunState::Exited ? QString::number(first.state.exitStatus)
                                                        : QString();
        case Duration:
            if (row.members.size() > 1)
                return QString();
            return durationText(first.started,
                                first.state.kind == RunState::Running ? now_ : first.ended);
        case LastLine:
            return first.lastLine;
    }
    return {};
}

void BatchTableModel::setResults(QList<BatchResult> results, const QDateTime& now) {
    now_ = now;
    bool sameRows = results.size() == results_.size();
    for (qsizetype i = 0; sameRows && i < results.size(); ++i) {
        const RunState& was = results_[i].state;
        const RunState& is = results[i].state;
        sameRows = was.kind == is.kind && was.exitStatus == is.exitStatus &&
                   results_[i].digest == results[i].digest;
    }
    results_ = std::move(results);
    if (sameRows) {
        if (!rows_.isEmpty())
            emit dataChanged(index(0, 0), index(static_cast<int>(rows_.size() - 1), Columns - 1));
        return;
    }
    beginResetModel();
    rebuild();
    endResetModel();
}

void BatchTableModel::setFilter(ResultFilter filter) {
    beginResetModel();
    filter_ = filter;
    rebuild();
    endResetModel();
}

void BatchTableModel::setGrouped(bool grouped) {
    beginResetModel();
    grouped_ = grouped;
    rebuild();
    endResetModel();
}

void BatchTableModel::rebuild() {
    rows_.clear();
    if (!grouped_) {
        for (qsizetype i = 0; i < results_.size(); ++i) {
            if (passes(filter_, results_[i].state))
                rows_.append(Row{{i}, results_[i].serverCount, QString(), QString()});
        }
        return;
    }
    for (ResultGroup& group : groupResults(results_)) {
        if (!passes(filter_, results_[group.members.front()].state))
            continue;
        QStringList names;
        for (qsizetype member : group.members)
            names += results_[member].servers();
        Row row{std::move(group.members), group.servers, foldServerNames(names), QString()};
        // A cell shows the beginning of a long list; its tooltip and Copy servers give all.
        constexpr qsizetype kShownChars = 200;
        row.shownNames = row.names.size() <= kShownChars
                             ? row.names
                             : row.names.left(kShownChars) + QStringLiteral("\u2026");
        rows_.append(std::move(row));
    }
}

int BatchTableModel::rowOf(qsizetype place) const {
    for (int row = 0; row < rows_.size(); ++row) {
        if (rows_[row].members.contains(place))
            return row;
    }
    return -1;
}

QStringList BatchTableModel::shownServers() const {
    QStringList servers;
    for (const Row& row : rows_) {
        for (qsizetype member : row.members)
            servers += results_[member].servers();
    }
    return servers;
}

ResultGroup BatchTableModel::largestGroup() const {
    const QList<ResultGroup> groups = groupResults(results_);
    return groups.isEmpty() ? ResultGroup{} : groups.front();
}
