#include "common/instance_lock.h"

#include <signal.h>

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>
#include <cerrno>

namespace {

bool processAlive(qint64 pid) {
    return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

// A lock file that names no process: left empty or cut short by a crash between creating
// and writing it. One younger than this may be a program writing it at this moment.
bool unreadableAndOld(const QString& path) {
    const QFileInfo file(path);
    return file.exists() && file.lastModified().msecsTo(QDateTime::currentDateTime()) > 2000;
}

}  // namespace

InstanceLock::InstanceLock(const Workspace& workspace) : lock_(workspace.lockFile()) {
    lock_.setStaleLockTime(0);  // only a lock whose program has gone is stale
}

bool InstanceLock::acquire() {
    if (lock_.tryLock(0))
        return true;
    qint64 pid = 0;
    QString host;
    QString application;
    const bool named = lock_.getLockInfo(&pid, &host, &application);
    if (!named && unreadableAndOld(lock_.fileName()) && QFile::remove(lock_.fileName()) &&
        lock_.tryLock(0))
        return true;
    if (lock_.error() == QLockFile::LockFailedError &&
        lock_.getLockInfo(&pid, &host, &application)) {
        refusal_ =
            QStringLiteral("Corvane is already running in this folder (process %1).").arg(pid);
    } else {
        refusal_ = QStringLiteral(
                       "Cannot create the lock file %1, which keeps a second Corvane "
                       "out of this folder. Check that the folder is writable.")
                       .arg(lock_.fileName());
    }
    return false;
}

qint64 InstanceLock::holder(const Workspace& workspace) {
    const QLockFile lock(workspace.lockFile());
    qint64 pid = 0;
    QString host;
    QString application;
    if (!lock.getLockInfo(&pid, &host, &application))
        return 0;
    if (!host.isEmpty() && host != QSysInfo::machineHostName())
        return pid;  // another machine's program, as far as can be told still there
    return processAlive(pid) ? pid : 0;
}
