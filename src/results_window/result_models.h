#pragma once

#include <QAbstractTableModel>
#include <QDateTime>
#include <QList>

#include "runs/launch_results.h"

// The launches of the Results window: this program run's, newest first, then those of
// earlier program runs from the history.
class LaunchListModel : public QAbstractTableModel {
    Q_OBJECT

  public:
    enum Column { Started, Mode, Servers, States, Launched, Columns };
    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    const LaunchResult& at(int row) const { return launches_[row]; }
    // This program run's launches, newest first: new ones go on top, changed ones are
    // updated in place.
    void setCurrent(const QList<LaunchResult>& launches);
    void setEarlier(const QList<LaunchResult>& launches);

  private:
    QList<LaunchResult> launches_;
    qsizetype current_ = 0;  // the first rows are this program run's
};

// The batch files of one launch, filtered, and folded into groups of identical output.
class BatchTableModel : public QAbstractTableModel {
    Q_OBJECT

  public:
    enum Column { Servers, Count, State, Exit, Duration, LastLine, Columns };
    struct Row {
        QList<qsizetype> members;  // places in results()
        qsizetype servers = 0;
        QString names;  // folded, for a group
        QString shownNames;
    };
    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // A launch's batch files, `now` the end of the durations of those running. The rows
    // stay when no state or output changed (their cells are updated), else are made anew.
    void setResults(QList<BatchResult> results, const QDateTime& now);
    void setFilter(ResultFilter filter);
    void setGrouped(bool grouped);
    const QList<BatchResult>& results() const { return results_; }
    const Row& row(int row) const { return rows_[row]; }
    // The row showing the batch file at `place`, -1 when none does.
    int rowOf(qsizetype place) const;
    // Every server of the rows shown, in their order.
    QStringList shownServers() const;
    // The largest group of identical output of the whole launch, filter or not.
    ResultGroup largestGroup() const;

  private:
    void rebuild();

    QList<BatchResult> results_;
    QList<Row> rows_;
    ResultFilter filter_ = ResultFilter::All;
    bool grouped_ = false;
    QDateTime now_;
};

// A batch file's server, or "N servers" for a normal launch's one batch file.
QString serversText(const BatchResult& result);

// "2.5 s", "3 min 12 s", "1 h 4 min"; empty without both ends.
QString durationText(const QDateTime& from, const QDateTime& to);
