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
#include "runs/results_history.h"
#include "runs/run_list.h"
#include "runs/run_watch.h"

namespace Ui {
class ResultsWindow;
}

// The launches of this run of the program, newest first, then those the history keeps
// of earlier runs; the selected launch's batch files with their states as they change,
// filtered and grouped by output; the selected one's output as its terminal showed it,
// or how it differs from the largest group's; a retry of a launch's failed servers and
// a copy of an output. It only shows what the run list and the history hold.
class ResultsWindow : public QDialog {
    Q_OBJECT

  public:
    ResultsWindow(RunList& runs, RunWatch& watch, ResultsHistory& history,
                  const Workspace& workspace, Platform& platform, QWidget* parent = nullptr);
    ~ResultsWindow() override;

    // The launches brought up to date, the history read, the newest launch selected.
    void showNewest();

  signals:
    // The servers to put into the collection box, one per line.
    void retryRequested(const QStringList& servers);

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    void refresh();
    void loadLaunch();
    QList<BatchResult> currentResults(int launch) const;
    void showOutput(bool always);
    const LaunchResult* selectedLaunch() const;
    // The first batch file of the selected row, nullptr when none is selected.
    const BatchResult* selectedResult() const;
    // A batch file's output: from its file while the temp folder has it, else as the
    // history kept it.
    QString outputOf(const BatchResult& result) const;
    bool hasOutputFile(const BatchResult& result) const;
    void RetryButtonClick();
    void SaveButtonClick();
    void EndButtonClick();
    void CopyButtonClick();
    void CompareButtonClick();
    void ClearHistoryClick();

    std::unique_ptr<Ui::ResultsWindow> ui_;
    RunList& runs_;
    RunWatch& watch_;
    ResultsHistory& history_;
    Workspace workspace_;
    Platform& platform_;
    LaunchListModel launches_;
    BatchTableModel batches_;
    QTimer updates_;
    // This program run's launches as last counted; a launch whose runs have all ended
    // for good is not counted again.
    QList<LaunchResult> current_;
    QList<bool> settled_;
    int earlierReadAt_ = -1;  // this program run's launches when the history was last read
    QString shownKey_;        // what the output box shows
    std::optional<OutputFollower> follower_;
    qsizetype tailLength_ = 0;  // the line being written, at the end of the output box
    // A run that prints without end must not take the program's time: after an update of
    // its output that took t, the next waits until 19 t have passed: 5% of a core at most.
    QElapsedTimer sinceOutput_;
    qint64 outputCostMs_ = 0;
    QThread* saving_ = nullptr;  // the copy of a Save output under way
};
