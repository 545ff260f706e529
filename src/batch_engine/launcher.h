#pragma once

#include "batch_engine/launch_window.h"
#include "common/workspace.h"
#include "platform/platform.h"

inline const QString kNoServersMessage = QStringLiteral("You dummy. Add some servers!");
inline const QString kNoScriptMessage = QStringLiteral("You dummy. Add a Script!");
inline const QString kPlaceholderScriptMessage = QStringLiteral("You dummy. Add a script!");

class LaunchRecord;
class ServerLines;

// The launch button's engine, owned by the main window for the life of the program. A
// launch checks the window's input, writes the server spool file, composes the batch
// file(s) in the window's mode, records the run in the run log and the log box, and
// starts or saves the result. A refusal and a failure leave it the same way: thrown as
// OperationError, with what was written left in place.
class Launcher {
  public:
    Launcher(const Workspace& workspace, Platform& platform);

    void run(LaunchWindow& window);

  private:
    void runNormal(LaunchWindow& window, const QString& script);
    void runSpawn(LaunchWindow& window, const QString& script, const QString& delayText);
    void runRunLater(LaunchWindow& window, const QString& script);

    // The next batch file name no earlier launch has used, numbered from ServerNumber.
    QString nextBatchPath(LaunchMode mode);
    // One block per server in one file, the normal and Run Later batch file.
    void writeCombined(LaunchWindow& window, const QString& script);

    Workspace workspace_;
    Platform& platform_;

    // Numbers the batch files; never reset while the program runs.
    int ServerNumber = 0;
    // The working values of the launch that runs or ran last.
    double DelayMs = 0;
    QString LogPath;
    QString BatchPath;
    QString BatchText;
};
