#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>
#include <memory>
#include <optional>

#include "common/workspace.h"
#include "platform/platform.h"
#include "runs/output_follower.h"
#include "runs/run_list.h"
#include "runs/run_watch.h"

namespace Ui {
class ResultsWindow;
}

// Every batch file this run of the program started, newest first, with its state as it
// changes, the selected run's output as its terminal showed it, a retry of the failed
// servers of its launch and a copy of its output. It only shows what the run list holds.
class ResultsWindow : public QDialog {
    Q_OBJECT

  public:
    ResultsWindow(RunList& runs, RunWatch& watch, const Workspace& workspace, Platform& platform,
                  QWidget* parent = nullptr);
    ~ResultsWindow() override;

    // The rows brought up to date and the newest run selected.
    void showNewest();

  signals:
    // The servers to put into the collection box, one per line.
    void retryRequested(const QStringList& servers);

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    void refresh();
    void showOutput(bool always);
    qsizetype selectedRun() const;
    void RetryButtonClick();
    void SaveButtonClick();
    void EndButtonClick();

    std::unique_ptr<Ui::ResultsWindow> ui_;
    RunList& runs_;
    RunWatch& watch_;
    Workspace workspace_;
    Platform& platform_;
    QTimer updates_;
    qsizetype shownRun_ = -1;
    std::optional<OutputFollower> follower_;
    qsizetype tailLength_ = 0;  // the line being written, at the end of the output box
    // A run that prints without end must not take the program's time: after an update of
    // its output that took t, the next waits until 19 t have passed: 5% of a core at most.
    QElapsedTimer sinceOutput_;
    qint64 outputCostMs_ = 0;
};
