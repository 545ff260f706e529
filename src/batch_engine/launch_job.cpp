#include "batch_engine/launch_job.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QScopeGuard>

#include "batch_engine/launcher.h"
#include "batch_engine/unsafe_names.h"
#include "common/line_end.h"
#include "model/start_delay.h"

namespace {

// The wait for a free slot ends when the tracker tells of an end; and after a second, for
// what nothing told of.
constexpr int kSlotLookMs = 1000;

const QString kNormalLogHeader = QStringLiteral("Corvane launched ");
const QString kSpawnLogHeader = QStringLiteral("Corvane (SPAWN-MODE) launched ");

}  // namespace

LaunchJob::LaunchJob(Launcher& launcher, LaunchRequest request, LaunchProgress& progress)
    : launcher_(launcher), request_(std::move(request)), progress_(progress) {
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.callOnTimeout([this] {
        waitingForSlot_ = false;
        if (running_)
            resume();
    });
}

LaunchJob::~LaunchJob() = default;

void LaunchJob::begin() {
    beginning_ = true;
    const auto returned = qScopeGuard([this] { beginning_ = false; });
    const std::optional<double> delayMs = startDelayMs(delayText(), QLocale());
    if (!delayMs)
        throw LaunchRefused(kBadDelayMessage);
    DelayMs = *delayMs;
    LogPath = launcher_.workspace_.logFile();
    // A refused launch leaves the delay in the log box; the question about the server
    // names comes after the refusals and leaves the box as it was.
    try {
        launcher_.refuse(request_);
    } catch (...) {
        progress_.setLogText(delayMsText(DelayMs));
        throw;
    }
    if (!request_.allowUnsafeNames) {
        const UnsafeNames unsafe = findUnsafeServerNames(request_.servers);
        if (unsafe.count > 0)
            throw UnsafeServerNames(unsafe);
    }
    progress_.setLogText(delayMsText(DelayMs));
    Launcher::notBegun([&] {
        // The collection is needed only until it is in the spool file; the launch works
        // from what it reads back, in the same memory.
        QString servers = std::move(request_.servers);
        OutputFile spool(launcher_.workspace_.spoolFile(), OutputFile::Mode::Overwrite);
        spool.write(servers);
        spool.write(kLineEnd);
        spool.close();
        written_ = std::move(servers);
    });
    running_ = true;
    try {
        prepare();
    } catch (...) {
        end(std::current_exception());
        return;
    }
    resume();
}

void LaunchJob::prepare() {
    Launcher& l = launcher_;
    const LaunchMode mode = request_.mode;
    if (mode != LaunchMode::Spawn)
        BatchPath = l.nextBatchPath(mode);
    // The launch works from what reached the disk.
    lines_.emplace(readWholeFileInto(l.workspace_.spoolFile(), std::exchange(written_, QString())));
    Launcher::notBegun([&] {
        record_.emplace(progress_, l.platform_, LogPath,
                        mode == LaunchMode::Spawn ? kSpawnLogHeader : kNormalLogHeader);
    });
    recordOpen_ = true;
    composer_.emplace(request_.script);
    next_.emplace(lines_->begin());
    if (mode == LaunchMode::Normal) {
        // Written under its final name: it is started only once complete, so a part of it
        // never runs.
        batch_.emplace(l.createBatch(BatchPath, mode));
    } else if (mode == LaunchMode::RunLater) {
        // A user runs this file by hand, maybe much later: it takes its name only once it
        // is complete, so it is whole or absent.
        partial_ = l.workspace_.partialRunLaterBatch(l.ServerNumber);
        QFile::remove(partial_);  // left by a launch that was killed
        batch_.emplace(partial_, OutputFile::Mode::CreateNew);
    }
    if (mode != LaunchMode::Spawn) {
        if (lines_->count() > 0) {
            const qsizetype averageServer = lines_->serverCharacters() / lines_->count() + 1;
            record_->logBox.reserve(lines_->count() *
                                    (kLineEnd.size() + composer_->length(averageServer)));
        }
        return;
    }
    stoppable_.emplace(progress_);
    pauseLine_ = QStringLiteral("Pausing ") + delayText() + QStringLiteral(" seconds ...");
    pauseMs_ = pauseMs(DelayMs);
    servers_ = lines_->count();
    // Every server is listed, waiting, once the launch starts; those whose turn never
    // comes end as not started.
    const int number = l.tracker_.beginLaunch(l.platform_.now());
    planned_.reserve(servers_);
    for (QStringView server : *lines_) {
        planned_.append(l.tracker_.plan(Run{.launch = number,
                                            .mode = LaunchMode::Spawn,
                                            .tag = l.tracker_.tag(),
                                            .serverText = encodeText(server),
                                            .serverCount = 1}));
    }
    l.tracker_.addLaunch(number, request_.options.keepLaunches);
    l.platform_.prepareStarts(request_.options.terminals);
}

void LaunchJob::resume() {
    slice_.start();
    try {
        if (request_.mode == LaunchMode::Spawn)
            spawnSlice();
        else
            writeSlice();
    } catch (...) {
        end(std::current_exception());
    }
}

void LaunchJob::giveBack() {
    record_->logBox.keepAlive();
    timer_.start(0);
}

bool LaunchJob::waitFor(int ms, bool forSlot) {
    const int wait = launcher_.platform_.beginWait(ms);
    if (wait <= 0) {
        // Over as soon as begun: the launch goes on in a new slice, as after a wait on the
        // timer, so that the slice measures the launch's own work.
        slice_.start();
        return false;
    }
    waitingForSlot_ = forSlot;
    woken_ = false;
    timer_.start(wait);
    return true;
}

void LaunchJob::wake() {
    if (waitingForSlot_ && timer_.isActive()) {
        woken_ = true;
        timer_.start(0);
    }
}

void LaunchJob::stop() {
    if (running_ && timer_.isActive())
        timer_.start(0);
}

// One block per server, the content of the normal and Run Later batch file.
void LaunchJob::writeSlice() {
    LogBox& logBox = record_->logBox;
    // The clock is read after every 16 KiB of blocks, not after each one: for a collection
    // of short blocks, reading it is a good part of the work.
    constexpr qsizetype kLookAtClockChars = 16 * 1024;
    qsizetype sinceLook = 0;
    while (*next_ != lines_->end()) {
        composer_->composeInto(BatchText, **next_);
        batch_->write(kLineEnd);
        batch_->write(BatchText);
        batch_->write(kLineEnd);
        record_->addServer(BatchText);
        logBox.append(kLineEnd);
        logBox.append(BatchText);
        ++*next_;
        sinceLook += BatchText.size();
        if (sinceLook < kLookAtClockChars)
            continue;
        sinceLook = 0;
        logBox.keepAlive();
        if (*next_ != lines_->end() && sliceUsedUp()) {
            giveBack();
            return;
        }
    }
    lines_->release();  // before the servers are read again below
    batch_->close();
    batch_.reset();
    if (request_.mode == LaunchMode::Normal)
        startNormal();
    else
        saveRunLater();
}

void LaunchJob::startNormal() {
    Launcher& l = launcher_;
    record_->flush();
    const qsizetype servers = lines_->count();
    record_->endLogBox();
    // The run keeps its servers for a retry; read back only now, when the collection's
    // own text is gone, so that a large launch never holds both at once.
    QFile spool(l.workspace_.spoolFile());
    const QByteArray serverText = spool.open(QIODevice::ReadOnly) ? spool.readAll() : QByteArray();
    l.platform_.prepareStarts(request_.options.terminals);
    const int number = l.tracker_.beginLaunch(l.platform_.now());
    const qsizetype index = l.tracker_.plan(Run{.launch = number,
                                                .mode = LaunchMode::Normal,
                                                .tag = l.tracker_.tag(),
                                                .serverText = serverText,
                                                .serverCount = servers});
    // Kept once it runs (or failed to start): the copy of a large collection does not hold
    // up its start.
    const auto kept =
        qScopeGuard([&] { l.tracker_.addLaunch(number, request_.options.keepLaunches); });
    l.startRecorded(request_, progress_, index, BatchPath,
                    QStringLiteral("corvane: %1 (%2 %3)")
                        .arg(QFileInfo(BatchPath).fileName())
                        .arg(servers)
                        .arg(servers == 1 ? QStringLiteral("server") : QStringLiteral("servers")));
    done();
}

void LaunchJob::saveRunLater() {
    while (!renameToFreeName(partial_, BatchPath))
        BatchPath = launcher_.nextBatchPath(LaunchMode::RunLater);
    partial_.clear();
    record_->endLogBox();
    record_->close();
    recordOpen_ = false;
    progress_.savedForLater(BatchPath);  // told once the record is closed, before the end
    end(nullptr);
}

bool LaunchJob::slotFree() {
    const int most = request_.options.maxRunning;
    going_.removeIf([this](qsizetype index) {
        return launcher_.tracker_.state(index).kind != RunState::Running;
    });
    return going_.size() < most;
}

void LaunchJob::spawnSlice() {
    Launcher& l = launcher_;
    LogBox& logBox = record_->logBox;
    const bool limited = request_.options.maxRunning > 0;
    for (;;) {
        switch (step_) {
            case Step::Compose: {
                if (*next_ == lines_->end()) {
                    endSpawn();
                    return;
                }
                logBox.show();
                BatchPath = l.nextBatchPath(LaunchMode::Spawn);
                composer_->composeInto(BatchText, **next_);
                OutputFile batch = l.createBatch(BatchPath, LaunchMode::Spawn);
                batch.write(BatchText);
                batch.write(kLineEnd);
                batch.close();
                record_->addServer(BatchText);
                record_->flush();
                // The counter, not the place in the collection, decides: every launch after
                // the first pauses before its first server too.
                pauses_ = l.ServerNumber > 1;
                step_ = Step::Delay;
                if (pauses_ && pauseMs_ > 0 && !progress_.stopRequested()) {
                    logBox.showNow();
                    if (waitFor(pauseMs_, false))
                        return;
                }
                break;
            }
            case Step::Delay:
                step_ = Step::Slot;
                if (limited && !progress_.stopRequested() && !slotFree())
                    logBox.showNow();
                break;
            case Step::Slot:
                // Woken when a run may have ended; a look every second finds what nothing
                // told of.
                if (limited && !progress_.stopRequested() &&
                    going_.size() >= request_.options.maxRunning) {
                    step_ = Step::Look;
                    if (waitFor(kSlotLookMs, true))
                        return;
                    break;
                }
                step_ = Step::Start;
                break;
            case Step::Look:
                // Told of a change, the tracker has looked at that run already; when nothing
                // told of an end for a second, it looks at them all. A look at every run
                // for every end would cost a launch of thousands more than its starts.
                if (!std::exchange(woken_, false))
                    l.tracker_.lookNow();
                slotFree();
                step_ = Step::Slot;
                break;
            case Step::Start: {
                if (progress_.stopRequested()) {
                    stopSpawn();
                    return;
                }
                if (pauses_)
                    logBox.append(pauseLine_ + kLineEnd);
                logBox.append(BatchText + kLineEnd);
                logBox.show();
                l.startRecorded(request_, progress_, planned_[started_], BatchPath,
                                QStringLiteral("corvane: %1 (%2)")
                                    .arg((**next_).toString(), QFileInfo(BatchPath).fileName()));
                going_.append(planned_[started_]);
                ++started_;
                ++*next_;
                step_ = Step::Compose;
                if (sliceUsedUp()) {
                    giveBack();
                    return;
                }
                break;
            }
        }
    }
}

void LaunchJob::stopSpawn() {
    // Written and recorded, but it will not run: neither its file nor the record may let
    // it pass for started.
    QFile::remove(BatchPath);
    record_->note(QStringLiteral("Not started: ") + (**next_).toString());
    record_->note(
        QStringLiteral("Stopped by the user after %1 of %2 servers.").arg(started_).arg(servers_));
    LogBox& logBox = record_->logBox;
    logBox.append(QStringLiteral("-- Stopped after %1 of %2 servers").arg(started_).arg(servers_) +
                  kLineEnd);
    logBox.showNow();
    done();
}

void LaunchJob::endSpawn() {
    if (lines_->emptyLinesAfterLast()) {
        // The turn that finds only empty lines still uses up a number.
        BatchPath = launcher_.nextBatchPath(LaunchMode::Spawn);
    }
    record_->endLogBox();
    record_->logBox.showNow();
    done();
}

void LaunchJob::done() {
    stoppable_.reset();
    record_->close();
    recordOpen_ = false;
    end(nullptr);
}

void LaunchJob::end(std::exception_ptr failure) {
    timer_.stop();
    Launcher& l = launcher_;
    stoppable_.reset();
    for (qsizetype turn = started_; turn < planned_.size(); ++turn)
        l.tracker_.notStarted(planned_[turn]);
    planned_.clear();
    batch_.reset();
    if (!partial_.isEmpty())
        QFile::remove(std::exchange(partial_, QString()));
    if (failure && recordOpen_) {
        try {
            std::rethrow_exception(failure);
        } catch (const std::exception& error) {
            record_->fail(failureText(error));
        } catch (...) {
            record_->fail(QStringLiteral("The launch failed."));
        }
        recordOpen_ = false;
    }
    record_.reset();  // what the log box still collects is handed over
    next_.reset();
    lines_.reset();
    written_ = QString();
    running_ = false;
    if (beginning_ && failure)
        std::rethrow_exception(failure);
    progress_.finished(failure);  // last: the front end may begin the next launch
}
