#pragma once

#include <QLockFile>
#include <QString>

#include "common/workspace.h"

// One program per workspace: the spool file, the numbering of the batch files and the
// temp clean-up all take it for granted. A lock left by a program that has died, or an
// empty one that a power cut left between creating and writing it, never stands in the
// way.
class InstanceLock {
  public:
    explicit InstanceLock(const Workspace& workspace);

    // True when this program now holds the workspace; otherwise refusal() says why.
    bool acquire();
    QString refusal() const { return refusal_; }

    // The process of a running program that holds the workspace, 0 when none does; found
    // without taking the lock, so that a reader never keeps a launch out.
    static qint64 holder(const Workspace& workspace);

  private:
    QLockFile lock_;
    QString refusal_;
};
