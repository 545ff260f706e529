#pragma once

#include "batch_engine/launch_window.h"
#include "common/workspace.h"
#include "platform/platform.h"

inline const QString kNoServersMessage = QStringLiteral("You dummy. Add some servers!");
inline const QString kNoScriptMessage = QStringLiteral("You dummy. Add a Script!");
inline const QString kPlaceholderScriptMessage = QStringLiteral("You dummy. Add a script!");

// The launch button: checks the window's input, writes the server spool file, composes
// the batch file(s) in the mode the check boxes choose, records the run in the run log
// and the log box, and starts or saves the result. Errors it does not handle itself are
// thrown as OperationError, with what was written left in place.
void RunCommand(LaunchWindow& window, const Workspace& workspace, Platform& platform);
