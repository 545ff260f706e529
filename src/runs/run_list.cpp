#include "runs/run_list.h"

#include <signal.h>
#include <sys/wait.h>

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>
#include <cerrno>

#include "common/errors.h"
#include "common/text_file.h"
#include "model/server_lines.h"
#include "runs/output_follower.h"
#include "runs/terminal_text.h"

namespace {

bool processAlive(qint64 pid) {
    if (pid <= 0)
        return false;
    // A child of this program that has ended is there until it is collected, and the
    // signal reaches it; it has ended all the same. It is left for its starter to collect.
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
        info.si_pid == pid)
        return false;
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

// The number a small file holds, as the recorder writes it; `written`, when the file was
// last written (invalid when there is no file).
std::optional<qint64> numberIn(const QString& path, QDateTime* written = nullptr) {
    bool number = false;
    const qint64 value =
        QString::fromLatin1(readFileTail(path, 64, nullptr, written)).trimmed().toLongLong(&number);
    return number ? std::optional(value) : std::nullopt;
}

// Writes all of `bytes`: a disk that takes only a part of them takes the part without an
// error, and the error comes with the next write.
void writeAll(QSaveFile& file, const QByteArray& bytes) {
    for (qint64 done = 0; done < bytes.size();) {
        const qint64 wrote = file.write(bytes.constData() + done, bytes.size() - done);
        if (wrote <= 0) {
            throw OperationError(QStringLiteral("Cannot save the output as %1: %2")
                                     .arg(file.fileName(), file.errorString()));
        }
        done += wrote;
    }
}

// Hands `sink` the cleaned text of the whole recording, piece by piece, as it is read:
// memory stays that of one piece whatever the recording's size.
void cleanRecording(QFile& recorded, bool ended, const std::function<void(const QString&)>& sink) {
    TerminalText screen;
    QByteArray piece(256 * 1024, Qt::Uninitialized);
    for (;;) {
        const qint64 read = recorded.read(piece.data(), piece.size());
        if (read < 0)
            throw OperationError(QStringLiteral("Cannot read %1: %2")
                                     .arg(recorded.fileName(), recorded.errorString()));
        if (read == 0)
            break;
        screen.add(QByteArrayView(piece.constData(), read));
        sink(screen.takeFinished());
    }
    sink(screen.heldBack(ended) + screen.currentLine());
}

}  // namespace

QByteArray outputDigest(const QString& output) {
    return QCryptographicHash::hash(output.toUtf8(), QCryptographicHash::Sha256);
}

QByteArray wholeOutputDigest(const QString& recording) {
    QFile recorded(recording);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (recorded.open(QIODevice::ReadOnly)) {
        try {
            cleanRecording(recorded, true,
                           [&hash](const QString& text) { hash.addData(text.toUtf8()); });
        } catch (const OperationError&) {
            // What could be read is what is known of it; its text says as much.
        }
    }
    return hash.result();
}

QStringList serverNamesOf(const QByteArray& serverText, qsizetype count) {
    // A Spawn Mode batch file's server is its whole text.
    if (count == 1 && !serverText.contains('\n') && !serverText.contains('\r'))
        return {decodeText(serverText)};
    const ServerLines lines(decodeText(serverText));
    QStringList names;
    names.reserve(lines.count());
    for (QStringView name : lines)
        names.append(name.toString());
    return names;
}

QString RunState::text() const {
    switch (kind) {
        case Running:
            return QStringLiteral("running");
        case Exited:
            return QStringLiteral("exit %1").arg(exitStatus);
        case CleanedUp:
            return QStringLiteral("output cleaned up");
        case NotRun:
            return QStringLiteral("not run: its terminal ended without running it");
        case Waiting:
            return QStringLiteral("waiting");
        case NotStarted:
            return QStringLiteral("not started");
        case TimedOut:
            return QStringLiteral("timed out after %1 s").arg(exitStatus);
        case EndedByUser:
            return QStringLiteral("ended by the user");
        case Unknown:
            break;
    }
    return QStringLiteral("ended, status unknown");
}

RunList::RunList(QString tag) : tag_(std::move(tag)) {}

QString RunList::newTag() {
    return QString::number(QRandomGenerator::system()->generate(), 16).rightJustified(8, u'0');
}

void RunList::add(Run run) {
    const qsizetype index = plan(std::move(run));
    becomes(index, RunState{RunState::Running, 0});
    running_.append(index);
}

RunList::Range RunList::launchRuns(int launch) const {
    if (launch < 1 || launch > launchStarts_.size())
        return {};
    const qsizetype first = launchStarts_[launch - 1];
    const qsizetype end = launch < launchStarts_.size() ? launchStarts_[launch] : runs_.size();
    return {first, end - first};
}

void RunList::becomes(qsizetype index, RunState state) {
    RunState& known = lastKnown_[index];
    if (known.kind == state.kind && known.exitStatus == state.exitStatus)
        return;
    changed_.append(Change{index, known});
    known = state;
}

void RunList::changesWritten(int launch) {
    const Range range = launchRuns(launch);
    changed_.removeIf([&range](const Change& change) {
        return change.index >= range.first && change.index < range.first + range.count;
    });
}

void RunList::lookAtRunning() {
    running_.removeIf([this](qsizetype index) {
        look(index);
        const RunState::Kind kind = lastKnown_[index].kind;
        return kind != RunState::Running && kind != RunState::NotRun;
    });
}

void RunList::noteOutcome(qsizetype index, const QString& output, bool whole) {
    Run& run = runs_[index];
    // An exit status tells when it was written; the other ends are noted as they come.
    if (!run.ended.isValid())
        run.ended = QDateTime::currentDateTime();
    QStringView text(output);
    while (text.endsWith(u'\n'))
        text.chop(1);
    run.lastLine = text.mid(text.lastIndexOf(u'\n') + 1).toString();
    // The text shown is the whole output unless the recording was longer than what is
    // shown of it: then the whole recording is read once more, as a stream, so that two
    // outputs that differ only before their last MiB are still told apart.
    run.outputDigest = whole ? outputDigest(output) : wholeOutputDigest(run.outputPath());
}

qsizetype RunList::plan(Run run) {
    runs_.append(std::move(run));
    lastKnown_.append(RunState{RunState::Waiting, 0});
    cleanedUp_.append(false);
    return runs_.size() - 1;
}

void RunList::start(qsizetype index, const QString& batchPath, qint64 startedPid,
                    const QDateTime& at) {
    Run& run = runs_[index];
    run.batchPath = batchPath;
    run.startedPid = startedPid;
    run.started = at;
    becomes(index, RunState{RunState::Running, 0});
    running_.append(index);
}

void RunList::notStarted(qsizetype index) {
    becomes(index, RunState{RunState::NotStarted, 0});
}

void RunList::ended(qsizetype index, RunState as) {
    runs_[index].ended = QDateTime::currentDateTime();
    becomes(index, as);
}

RunState RunList::look(qsizetype index) {
    const Run& run = runs_[index];
    const RunState known = lastKnown_[index];
    if (!known.final() && known.kind != RunState::Waiting) {
        // The recorder notes its process first and its exit status last; until it has
        // noted its process, the process the program started stands for it. The status
        // is read first: for a run that has ended it is all there is to read.
        QDateTime written;
        std::optional<qint64> exitStatus = numberIn(run.statusPath(), &written);
        const bool statusThere = written.isValid();
        std::optional<qint64> recorder;
        auto recorderAlive = [&] {
            recorder = numberIn(run.pidPath());
            return processAlive(recorder.value_or(run.startedPid));
        };
        bool gone = false;
        if (exitStatus) {
            // The status comes before the recorder has copied the last output: the run
            // has ended once the process the program started (the recorder, or the
            // terminal it runs in) has ended too.
            gone = !(processAlive(run.startedPid) && numberIn(run.pidPath()));
        } else if (!recorderAlive()) {
            // Gone, maybe since the status was read: it writes its status and ends in one
            // moment, so the status is read once more before the run counts as unknown.
            exitStatus = numberIn(run.statusPath(), &written);
            gone = true;
        }
        if (gone && exitStatus) {
            runs_[index].ended = written;
            becomes(index, RunState{RunState::Exited, static_cast<int>(*exitStatus)});
        } else if (gone) {
            // An empty status was being written when its writer ended. Without any trace
            // of its recorder, the terminal ended without starting it (a terminal may also
            // hand the run over and return: the trace comes later).
            const bool begun =
                statusThere || written.isValid() || recorder || QFileInfo::exists(run.outputPath());
            becomes(index,
                    RunState{begun || cleanedUp_[index] ? RunState::Unknown : RunState::NotRun, 0});
        } else if (!exitStatus) {
            becomes(index, RunState{RunState::Running, 0});
        }
    }
    return state(index);
}

RunState RunList::state(qsizetype index) const {
    const RunState now = lastKnown_[index];
    if (cleanedUp_[index] && (now.kind == RunState::Exited || now.kind == RunState::Unknown))
        return RunState{RunState::CleanedUp, 0};
    return now;
}

qint64 RunList::recorderPid(qsizetype index) const {
    return numberIn(runs_[index].pidPath()).value_or(0);
}

void RunList::noteStatesBeforeCleanUp() {
    // Only the runs still going at the last look need a look now; once ended, a run's
    // state is kept without its files.
    for (qsizetype i = notCleanedFrom_; i < runs_.size(); ++i) {
        if (lastKnown_[i].kind == RunState::Waiting)
            continue;  // its files come after the clean-up
        if (!lastKnown_[i].final())
            look(i);
        cleanedUp_[i] = true;
    }
    notCleanedFrom_ = runs_.size();
    while (notCleanedFrom_ > 0 && lastKnown_[notCleanedFrom_ - 1].kind == RunState::Waiting)
        --notCleanedFrom_;
}

QString RunList::output(qsizetype index, qint64 maxBytes, bool* whole) const {
    // A first look of the follower is what the Results window shows of it.
    OutputFollower follower(runs_[index].outputPath(), maxBytes);
    const OutputFollower::Change shown = *follower.look(state(index).kind != RunState::Running);
    if (whole)
        *whole = follower.leftOut() == 0;
    return shown.added + shown.tail;
}

void RunList::saveOutput(qsizetype index, const QString& path) const {
    const Run& run = runs_[index];
    saveRecording(run.outputPath(), run.batchPath, state(index).kind != RunState::Running, path);
}

void RunList::saveRecording(const QString& outputPath, const QString& batchPath, bool ended,
                            const QString& path) {
    QFile recorded(outputPath);
    if (!recorded.open(QIODevice::ReadOnly)) {
        throw OperationError(QStringLiteral("There is no output of %1 to save: %2")
                                 .arg(QFileInfo(batchPath).fileName(),
                                      recorded.exists()
                                          ? recorded.errorString()
                                          : QStringLiteral("it was cleaned up from the temp "
                                                           "folder, or the run never began.")));
    }
    QSaveFile saved(path);
    if (!saved.open(QIODevice::WriteOnly))
        throw OperationError(
            QStringLiteral("Cannot save the output as %1: %2").arg(path, saved.errorString()));
    cleanRecording(recorded, ended,
                   [&saved](const QString& text) { writeAll(saved, encodeText(text)); });
    // Until the commit the old file stays whole; a copy that failed is removed.
    if (!saved.commit()) {
        throw OperationError(
            QStringLiteral("Cannot save the output as %1: %2").arg(path, saved.errorString()));
    }
}

RunList::Retry RunList::retry(int launch, const QList<qsizetype>& places) const {
    Retry retry;
    const Range range = launchRuns(launch);
    const qsizetype count = places.isEmpty() ? range.count : places.size();
    for (qsizetype n = 0; n < count; ++n) {
        const qsizetype i = range.first + (places.isEmpty() ? n : places[n]);
        const RunState& known = lastKnown_[i];
        if (known.going())
            ++retry.running;
        else if (known.failed())
            retry.servers += runs_[i].servers();
    }
    return retry;
}
