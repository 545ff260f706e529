#include "common/instance_lock.h"

InstanceLock::InstanceLock(const Workspace& workspace) : lock_(workspace.lockFile()) {
    lock_.setStaleLockTime(0);  // only a lock whose program has gone is stale
}

bool InstanceLock::acquire() {
    if (lock_.tryLock(0))
        return true;
    qint64 pid = 0;
    QString host;
    QString application;
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
