#pragma once

#include <QElapsedTimer>
#include <QLabel>
#include <QMainWindow>
#include <QPointer>
#include <QProgressBar>
#include <QTimer>
#include <memory>

#include "batch_engine/launch_request.h"
#include "batch_engine/launcher.h"
#include "common/workspace.h"
#include "platform/platform.h"

namespace Ui {
class Form1;
}
class frmabout;
class ResultsWindow;
class QPlainTextEdit;

// The program's working window. It holds the whole working state in its controls and
// owns the launch engine; each handler below is one event of one control or menu item.
class Form1 : public QMainWindow, public LaunchProgress {
    Q_OBJECT

  public:
    Form1(const Workspace& workspace, Platform& platform, QWidget* parent = nullptr);
    ~Form1() override;

    // The start-up steps, run once before the window is first drawn. False, after a
    // message saying which folder to create, when the workspace lacks one it needs.
    bool load();
    // The program's start: load() and the window shown, its first drawing filled as load()
    // leaves it. False as load() gives it; a start that lacks a folder shows no window.
    bool start();

    // The About window while it exists (hidden or shown), else null.
    frmabout* aboutWindow() const;
    // The Results window once the Results menu has made it, else null.
    ResultsWindow* resultsWindow() const;

    // LaunchProgress
    void setLogText(const QString& text) override;
    void appendLogText(QString text) override;
    void keepAlive() override;
    void setStoppable(bool stoppable) override;
    bool stopRequested() const override { return stopRequested_; }
    void started(const Run&) override {}
    void savedForLater(const QString& path) override;
    void finished(std::exception_ptr failure) override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Esc stops a launch that can be stopped.
    void keyPressEvent(QKeyEvent* event) override;
    // Exit and the frame's close button end the program here, the temp folder emptied.
    void closeEvent(QCloseEvent* event) override;

  private:
    void ListFileClick();
    void ComboTaskClick();
    void ScriptBoxGotFocus();
    void CheckSpawnClick();
    void CheckSaveClick();
    void RunCommandClick();
    void MenuRefreshClick();
    void MenuReloadClick();
    void MenuCleanupClick();
    void ExitClick();
    void MenuAboutClick();
    void MenuResultsClick();
    void MenuOptionsClick();
    void CleanupTemp();

    void loadWholeFile(const QString& path, QPlainTextEdit* box);
    // What the controls ask a launch to do; an empty delay box becomes "0" on the way.
    LaunchRequest launchRequest();
    // Starts the launch with the launch controls off until it has ended; a launch that
    // does not begin gives them back at once.
    void beginLaunch(LaunchRequest request);
    // What the user could change of a launch, on again when it ends or off while it runs:
    // the lists and boxes are read-only then, the rest disabled.
    void setLaunchControlsEnabled(bool enabled);
    // A click aimed at STOP, or the second click of a double click, that reaches the
    // launch button after the launch has ended must not launch again.
    bool clickTooSoonAfterLaunch(const QEvent* event) const;
    void requestStop();
    frmabout& ensureAboutWindow();
    // The temp folder emptied and the history written after the window has closed; false
    // when that was done already.
    bool finishExit();
    // The status bar under the log box: how far the launch under way is, then its summary
    // until the next launch. Drawn at most ten times a second, as the tracker tells of
    // changes.
    void showProgress();

    std::unique_ptr<Ui::Form1> ui_;
    Workspace workspace_;
    Platform& platform_;
    Launcher launcher_;
    QString FilePath;  // the file a loader was last asked to load
    QPointer<frmabout> about_;
    QPointer<ResultsWindow> results_;
    QProgressBar* progressBar_ = nullptr;
    QLabel* progressText_ = nullptr;
    QTimer progressDue_;
    int launchesBefore_ = 0;  // the tracker's launches before the one shown
    bool noticeDue_ = false;  // the launch shown has not ended yet
    static constexpr qint64 kNoticeAfterMs = 10000;
    bool launching_ = false;
    bool stoppable_ = false;
    bool stopRequested_ = false;
    bool exitPending_ = false;
    LaunchOptions options_;      // as corvane.ini holds them, read at start-up
    QElapsedTimer sinceLaunch_;  // since the last launch ended
};
