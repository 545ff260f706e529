#include "platform/desktop_platform.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <QCoreApplication>
#include <QDesktopServices>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QStandardPaths>
#include <QWidget>

#include "common/errors.h"
#include "common/text_file.h"

extern char** environ;

namespace {

// posix_spawn's arguments, kept alive for the call.
class Arguments {
  public:
    explicit Arguments(const QStringList& arguments) {
        for (const QString& argument : arguments)
            bytes_.append(QFile::encodeName(argument));
        for (QByteArray& argument : bytes_)
            pointers_.append(argument.data());
        pointers_.append(nullptr);
    }
    char* const* data() { return pointers_.data(); }

  private:
    QList<QByteArray> bytes_;
    QList<char*> pointers_;
};

}  // namespace

DesktopPlatform::DesktopPlatform(QString shell, QStringList terminals)
    : shell_(std::move(shell)), terminals_(std::move(terminals)) {
    reaper_.setInterval(5000);
    reaper_.callOnTimeout([this] { reapChildren(); });
}

DesktopPlatform::~DesktopPlatform() = default;

void DesktopPlatform::showMessage(const QString& caption, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok);
    box.exec();
}

void DesktopPlatform::prepareStarts() {
    terminal_ = QString();
    for (const QString& terminal : terminals_) {
        const QString found = QStandardPaths::findExecutable(terminal);
        if (!found.isEmpty()) {
            terminal_ = found;
            break;
        }
    }
}

void DesktopPlatform::startBatch(const QString& path) {
    // A terminal starts even when the shell it is asked to run is missing, so the shell
    // is looked at first: a start that cannot work is reported, never passed over.
    const QFileInfo shell(shell_);
    if (!shell.isFile() || !shell.isExecutable())
        throw OperationError(
            QStringLiteral("Cannot start %1: the shell %2 was not found.").arg(path, shell_));
    if (!terminal_)
        prepareStarts();

    // posix_spawn does not copy the program's address space the way fork does, which for
    // a desktop program is most of the cost of a start.
    Arguments arguments(terminal_->isEmpty()
                            ? QStringList{shell_, path}
                            : QStringList{*terminal_, QStringLiteral("-e"), shell_, path});
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
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
    const int result =
        posix_spawn(&child, arguments.data()[0], &actions, &attributes, arguments.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (result != 0)
        throw OperationError(QStringLiteral("Cannot start %1: %2").arg(path, systemReason(result)));
    children_.append(child);
    reapChildren();
}

void DesktopPlatform::reapChildren() {
    children_.removeIf([](pid_t child) { return waitpid(child, nullptr, WNOHANG) != 0; });
    if (children_.isEmpty())
        reaper_.stop();
    else if (!reaper_.isActive())
        reaper_.start();
}

void DesktopPlatform::pause(int milliseconds) {
    QEventLoop loop;
    pause_ = &loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(milliseconds);
    loop.exec();
    pause_ = nullptr;
}

void DesktopPlatform::interruptPause() {
    if (pause_)
        pause_->quit();
}

void DesktopPlatform::openWebPage(const QUrl& url) {
    QDesktopServices::openUrl(url);
}

QDateTime DesktopPlatform::now() {
    return QDateTime::currentDateTime();
}

void DesktopPlatform::repaint(QWidget& window) {
    window.repaint();
    // Answers the window manager's pings and exposes; the windows keep user input out.
    QCoreApplication::processEvents();
}
