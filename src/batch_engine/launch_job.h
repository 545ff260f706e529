#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QTimer>
#include <exception>
#include <optional>

#include "batch_engine/launch_record.h"
#include "batch_engine/launch_request.h"
#include "batch_engine/stoppable_launch.h"
#include "common/text_file.h"
#include "model/composer.h"
#include "model/server_lines.h"

class Launcher;

// One launch, from the checks of its request to its last start, as a job of the event
// loop. begin() runs it as far as it goes without waiting; a start delay and the wait for
// a free slot are a timer, and the writing and the starts give the event loop back every
// 50 ms, so that the front end draws, answers the desktop and takes the user's stop while
// the launch runs. The run log record, the batch files and the log box are written in the
// same order and with the same texts whichever way it is cut.
class LaunchJob {
  public:
    LaunchJob(Launcher& launcher, LaunchRequest request, LaunchProgress& progress);
    ~LaunchJob();
    LaunchJob(const LaunchJob&) = delete;
    LaunchJob& operator=(const LaunchJob&) = delete;

    // Throws what fails or is refused before it returns; later failures reach the
    // progress's finished().
    void begin();
    bool running() const { return running_; }
    // A run may have ended: a wait for a free slot looks again at once.
    void wake();
    // The user's stop: any wait ends at once.
    void stop();
    LaunchProgress& progress() const { return progress_; }

  private:
    enum class Step { Compose, Delay, Slot, Look, Start };
    // An empty delay is no delay, and reads as 0 where it is shown.
    QString delayText() const {
        return request_.delayText.isEmpty() ? QStringLiteral("0") : request_.delayText;
    }
    // The spool file, the run log record and what the mode begins with.
    void prepare();
    // Runs the launch on until it waits, gives the event loop back, or ends.
    void resume();
    void writeSlice();
    void spawnSlice();
    // Whether the launch waits `ms` on its timer; false when the platform makes it none.
    bool waitFor(int ms, bool forSlot);
    void giveBack();
    bool sliceUsedUp() const { return slice_.hasExpired(kSliceMs); }
    bool slotFree();
    void startNormal();
    void saveRunLater();
    void stopSpawn();
    void endSpawn();
    // The record closed, and the job ended as done.
    void done();
    // Ends the job: done when `failure` is null.
    void end(std::exception_ptr failure);

    static constexpr qint64 kSliceMs = 50;
    Launcher& launcher_;
    LaunchRequest request_;
    LaunchProgress& progress_;
    // The working values of the launch.
    double DelayMs = 0;
    QString LogPath;
    QString BatchPath;
    QString BatchText;

    std::optional<ServerLines> lines_;
    std::optional<ServerLines::Iterator> next_;
    std::optional<LaunchRecord> record_;
    std::optional<Composer> composer_;
    std::optional<OutputFile> batch_;  // the normal or Run Later file being written
    QString partial_;                  // Run Later's file until it is complete
    // The collection as the launch wrote it to the spool file; the text read back from
    // the file takes over its memory.
    QString written_;
    bool recordOpen_ = false;
    QTimer timer_;
    QElapsedTimer slice_;
    bool running_ = false;
    bool beginning_ = false;  // begin() has not returned yet
    bool waitingForSlot_ = false;
    bool woken_ = false;  // the slot wait was cut short by a change the tracker told of
    // Spawn Mode.
    std::optional<StoppableLaunch> stoppable_;
    Step step_ = Step::Compose;
    QList<qsizetype> planned_;
    QList<qsizetype> going_;  // this launch's runs last seen running
    qsizetype started_ = 0;
    qsizetype servers_ = 0;
    QString pauseLine_;
    int pauseMs_ = 0;
    bool pauses_ = false;
};
