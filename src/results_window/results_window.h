#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>
#include <memory>
#include <optional>

#include "common/workspace.h"
#include "platform/platform.h"
#include "result_models.h"
#include "runs/output_follower.h"
#include "runs/run_tracker.h"

namespace Ui {
class ResultsWindow;
}

// The launches of this run of the program, newest first, then those the history keeps
// of earlier runs; the selected launch's batch files with their states as they change,
// filtered and grouped by output; the selected one's output as its terminal showed it,
// or how it differs from the largest group's; a retry of a launch's failed servers and
// a copy of an output. It only shows what the run tracker holds, and is told of each
// change of a run by it.
class ResultsWindow : public QDialog {
    Q_OBJECT

  public:
    ResultsWindow(RunTracker& tracker, const Workspace& workspace, Platform& platform,
                  QWidget* parent = nullptr);
    ~ResultsWindow() override;

    // The launches brought up to date, the history read, the newest launch selected.
    void showNewest();

  signals:
    // The servers to put into the collection box, one per line.
    void retryRequested(const QStringList& servers);

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void refresh();
    void loadLaunch();
    // The batch files in the grid and the table.
    void showResults(const QList<BatchResult>& results, const QDateTime& now);
    // The grid's area as high as its rows, up to its most; beyond, it scrolls.
    void fitGrid();
    // Selects the rows of the batch files from `first` to `last` (places in the results).
    void selectPlaces(qsizetype first, qsizetype last);
    void showOutput(bool always);
    const LaunchResult* selectedLaunch() const;
    // The first batch file of the selected row, nullptr when none is selected.
    const BatchResult* selectedResult() const;
    // The batch files (places in the results, in their order) of the selected rows when
    // more than one is selected: Copy servers and Retry failed then act on these alone.
    QList<qsizetype> pickedPlaces() const;
    void showPicked();
    // The batch files of the selected rows (one place each, in the selection's order) and of
    // the current one; selected again after a change made the table's rows anew.
    struct Selected {
        QList<qsizetype> places;
        qsizetype current = -1;
    };
    Selected selectedPlaces() const;
    void keepSelected(const Selected& selected);
    // A batch file's output: from its file while the temp folder has it, else as the
    // history kept it.
    QString outputOf(const BatchResult& result) const;
    bool hasOutputFile(const BatchResult& result) const;
    void RetryButtonClick();
    void SaveButtonClick();
    void SaveReportButtonClick();
    // Refuses a place among the program's own folders and files for a copy the user saves.
    void refuseOwnFile(const QString& path, const QString& what) const;
    void EndButtonClick();
    void CopyButtonClick();
    void CompareButtonClick();
    void ClearHistoryClick();

    std::unique_ptr<Ui::ResultsWindow> ui_;
    RunTracker& tracker_;
    Workspace workspace_;
    Platform& platform_;
    LaunchListModel launches_;
    BatchTableModel batches_;
    // The durations of running batch files and the output box, while the window shows.
    QTimer updates_;
    // A change the tracker told of is shown within a tenth of a second, however many come.
    QTimer changed_;
    QSet<int> changedLaunches_;   // this program run's launches whose runs changed since
    QList<qint64> earlierShown_;  // the earlier program runs' launches in the list
    QString shownKey_;            // what the output box shows
    std::optional<OutputFollower> follower_;
    qsizetype tailLength_ = 0;  // the line being written, at the end of the output box
    // A run that prints without end must not take the program's time: after an update of
    // its output that took t, the next waits until 19 t have passed: 5% of a core at most.
    QElapsedTimer sinceOutput_;
    qint64 outputCostMs_ = 0;
    QThread* saving_ = nullptr;  // the copy of a Save output under way
    int gridMostHeight_ = 0;
};
