#pragma once

#include <QLockFile>
#include <QString>

#include "common/workspace.h"

// One program per workspace: the spool file, the numbering of the batch files and the
// temp clean-up all take it for granted. A lock left by a program that has died never
// stands in the way.
class InstanceLock {
  public:
    explicit InstanceLock(const Workspace& workspace);

    // True when this program now holds the workspace; otherwise refusal() says why.
    bool acquire();
    QString refusal() const { return refusal_; }

  private:
    QLockFile lock_;
    QString refusal_;
};
