#include "platform/batch_starter.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include "common/errors.h"
#include "common/text_file.h"

extern char** environ;

// A list of C strings ending in a null pointer, as posix_spawn takes its arguments and
// environment, kept alive with the bytes they point into.
class CStrings {
  public:
    explicit CStrings(QList<QByteArray> strings) : bytes_(std::move(strings)) {
        for (QByteArray& string : bytes_)
            pointers_.append(string.data());
        pointers_.append(nullptr);
    }
    CStrings(const CStrings&) = delete;
    CStrings& operator=(const CStrings&) = delete;
    char* const* data() { return pointers_.data(); }

  private:
    QList<QByteArray> bytes_;
    QList<char*> pointers_;
};

namespace {

QList<QByteArray> encodedNames(const QStringList& words) {
    QList<QByteArray> names;
    for (const QString& word : words)
        names.append(QFile::encodeName(word));
    return names;
}

// `text` as one word of the shell's command language.
QString shellQuoted(QString text) {
    text.replace(QLatin1String("'"), QLatin1String("'\\''"));
    return u'\'' + text + u'\'';
}

}  // namespace

BatchStarter::BatchStarter(QString shell, QStringList terminals, QString recorder)
    : shell_(std::move(shell)), terminals_(std::move(terminals)), recorder_(std::move(recorder)) {
    reaper_.setInterval(1000);
    reaper_.callOnTimeout([this] { reapChildren(); });
}

BatchStarter::~BatchStarter() = default;  // CStrings is complete here

void BatchStarter::prepareStarts(bool terminals) {
    environment_ = std::make_unique<CStrings>(recorderEnvironment());
    terminal_ = QString();
    for (const QString& terminal : terminals ? terminals_ : QStringList()) {
        const QString found = QStandardPaths::findExecutable(terminal);
        if (!found.isEmpty()) {
            terminal_ = found;
            break;
        }
    }
}

QStringList BatchStarter::recordedCommand(const QString& shell, const QString& recorder,
                                          const BatchStart& start) {
    // The recorder runs this with /bin/sh (see recorderEnvironment): it notes its process,
    // runs the batch file and writes the exit status when the batch file has ended.
    const QString run = QStringLiteral("echo $$ > %1; %2 %3; echo $? > %4")
                            .arg(shellQuoted(start.pidPath), shellQuoted(shell),
                                 shellQuoted(start.path), shellQuoted(start.statusPath));
    return {recorder,
            QStringLiteral("--quiet"),
            QStringLiteral("--return"),
            QStringLiteral("--flush"),
            QStringLiteral("--echo"),
            QStringLiteral("never"),
            QStringLiteral("--command"),
            run,
            start.outputPath};
}

QList<QByteArray> BatchStarter::recorderEnvironment() {
    // The recorder runs its command with $SHELL, which may be any shell the user likes.
    QList<QByteArray> environment{QByteArrayLiteral("SHELL=/bin/sh")};
    for (char** entry = environ; *entry; ++entry) {
        if (qstrncmp(*entry, "SHELL=", 6) != 0)
            environment.append(QByteArray(*entry));
    }
    return environment;
}

qint64 BatchStarter::startBatch(const BatchStart& start) {
    const QString& path = start.path;
    // A terminal starts even when the shell it is asked to run is missing, so the shell
    // and the recorder are looked at first: a start that cannot work is reported, never
    // passed over.
    for (const auto& [what, needed] : {std::pair{QStringLiteral("the shell"), shell_},
                                       std::pair{QStringLiteral("the recorder"), recorder_}}) {
        const QFileInfo program(needed);
        if (!program.isFile() || !program.isExecutable())
            throw OperationError(
                QStringLiteral("Cannot start %1: %2 %3 was not found.").arg(path, what, needed));
    }
    if (!terminal_)
        prepareStarts();

    QStringList command = recordedCommand(shell_, recorder_, start);
    if (!terminal_->isEmpty())
        command = QStringList{*terminal_, QStringLiteral("-T"), start.title, QStringLiteral("-e")} +
                  command;
    // posix_spawn does not copy the program's address space the way fork does, which for
    // a desktop program is most of the cost of a start.
    CStrings arguments(encodedNames(command));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // Detached from the program's own terminal, if it has one: what a run shows is on its
    // own terminal and in its record.
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // Its own session, so that nothing the program's own terminal does reaches it, and the
    // signal settings of a new program.
    sigset_t signalSet;
    sigemptyset(&signalSet);
    posix_spawnattr_setsigmask(&attributes, &signalSet);
    sigfillset(&signalSet);
    posix_spawnattr_setsigdefault(&attributes, &signalSet);
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t child = 0;
    const int result = posix_spawn(&child, arguments.data()[0], &actions, &attributes,
                                   arguments.data(), environment_->data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (result != 0)
        throw OperationError(QStringLiteral("Cannot start %1: %2").arg(path, systemReason(result)));
    children_.append(child);
    // Those that ended are collected within a second: a look at each child at every start
    // would cost a launch of thousands at once more than its starts.
    if (!reaper_.isActive())
        reaper_.start();
    return child;
}

void BatchStarter::reapChildren() {
    children_.removeIf([](pid_t child) { return waitpid(child, nullptr, WNOHANG) != 0; });
    if (children_.isEmpty())
        reaper_.stop();
    else if (!reaper_.isActive())
        reaper_.start();
}
