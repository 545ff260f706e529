#include "runs/run_list.h"

#include <signal.h>

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <cerrno>

#include "batch_engine/server_lines.h"
#include "common/text_file.h"

namespace {

QByteArray readFile(const QString& path, qint64 maxBytes, qint64* leftOut = nullptr) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    const qint64 size = file.size();
    if (leftOut)
        *leftOut = std::max<qint64>(0, size - maxBytes);
    if (size > maxBytes)
        file.seek(size - maxBytes);
    return file.read(std::min(size, maxBytes));
}

bool processAlive(qint64 pid) {
    return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

}  // namespace

QStringList Run::servers() const {
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
        case Unknown:
            break;
    }
    return QStringLiteral("ended, status unknown");
}

void RunList::add(Run run) {
    runs_.append(std::move(run));
    lastKnown_.append(RunState{RunState::Running, 0});
}

RunState RunList::state(qsizetype index) {
    const Run& run = runs_[index];
    RunState& known = lastKnown_[index];
    if (QFile::exists(run.statusPath())) {
        bool number = false;
        const int status =
            QString::fromLatin1(readFile(run.statusPath(), 64)).trimmed().toInt(&number);
        known = number ? RunState{RunState::Exited, status} : RunState{RunState::Unknown, 0};
        return known;
    }
    if (!QFile::exists(run.outputPath()) && !QFile::exists(run.pidPath())) {
        // Emptied by a clean-up, or never begun. A run that was still running counts as
        // ended without a status.
        if (known.kind == RunState::Running && !processAlive(run.startedPid))
            known = RunState{RunState::Unknown, 0};
        if (known.kind != RunState::Running)
            return RunState{RunState::CleanedUp, 0};
        return known;
    }
    bool number = false;
    const qint64 recorder =
        QString::fromLatin1(readFile(run.pidPath(), 64)).trimmed().toLongLong(&number);
    known = processAlive(number ? recorder : run.startedPid) ? RunState{RunState::Running, 0}
                                                             : RunState{RunState::Unknown, 0};
    return known;
}

QString RunList::output(qsizetype index, qint64 maxBytes) const {
    qint64 leftOut = 0;
    const QByteArray recorded = readFile(runs_[index].outputPath(), maxBytes, &leftOut);
    QString text = terminalText(recorded);
    if (leftOut > 0) {
        text.prepend(QStringLiteral("[%1 bytes before this were left out]\n")
                         .arg(QLocale().toString(leftOut)));
    }
    return text;
}

void RunList::noteStates() {
    for (qsizetype i = 0; i < runs_.size(); ++i)
        state(i);
}

QStringList RunList::retryServers(int launch) {
    QStringList servers;
    for (qsizetype i = 0; i < runs_.size(); ++i) {
        if (runs_[i].launch == launch) {
            RunState now = state(i);
            if (now.kind == RunState::CleanedUp)
                now = lastKnown_[i];
            if (now.failed())
                servers += runs_[i].servers();
        }
    }
    return servers;
}

QString terminalText(const QByteArray& recorded) {
    QString raw = decodeText(recorded);
    // The recorder's own lines: "Script started on ..." first, "Script done on ..." last.
    if (raw.startsWith(QLatin1String("Script started on "))) {
        const qsizetype lineEnd = raw.indexOf(u'\n');
        raw = lineEnd < 0 ? QString() : raw.sliced(lineEnd + 1);
    }
    const qsizetype done = raw.lastIndexOf(QLatin1String("\nScript done on "));
    if (done >= 0)
        raw.truncate(done);  // the recorder begins its last line on a line of its own

    QString text;
    text.reserve(raw.size());
    QString line;
    qsizetype column = 0;
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const QChar c = raw[i];
        if (c == u'\x1b') {
            // CSI: ESC [ parameters final; OSC: ESC ] ... BEL or ESC \; else ESC and one.
            if (i + 1 < raw.size() && raw[i + 1] == u'[') {
                i += 2;
                while (i < raw.size() && !(raw[i].unicode() >= 0x40 && raw[i].unicode() <= 0x7e))
                    ++i;
            } else if (i + 1 < raw.size() && raw[i + 1] == u']') {
                i += 2;
                while (i < raw.size() && raw[i] != u'\a' &&
                       !(raw[i] == u'\x1b' && i + 1 < raw.size() && raw[i + 1] == u'\\'))
                    ++i;
                if (i < raw.size() && raw[i] == u'\x1b')
                    ++i;
            } else {
                ++i;
            }
            continue;
        }
        if (c == u'\r') {
            column = 0;
        } else if (c == u'\n') {
            text += line;
            text += u'\n';
            line.clear();
            column = 0;
        } else if (c == u'\b') {
            column = std::max<qsizetype>(0, column - 1);
        } else if (c.unicode() < 0x20 && c != u'\t') {
            // other control characters show nothing
        } else {
            if (column < line.size())
                line[column] = c;
            else
                line += c;
            ++column;
        }
    }
    return text + line;
}
