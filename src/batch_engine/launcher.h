#pragma once

#include "batch_engine/launch_window.h"
#include "common/text_file.h"
#include "common/workspace.h"
#include "platform/platform.h"
#include "runs/run_list.h"

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

    // Every batch file the launches of this program run started.
    RunList& runs() { return runs_; }

  private:
    void runNormal(LaunchWindow& window, const QString& script);
    void runSpawn(LaunchWindow& window, const QString& script, const QString& delayText);
    void runRunLater(LaunchWindow& window, const QString& script);

    // Reads the spool file back and runs `body` between the header and the separator of
    // the launch's record; a failure in `body` ends the record with the failure.
    template <typename Body>
    void recorded(LaunchWindow& window, const QString& logHeader, Body body);
    // The next batch file name that nothing stands at, numbered from ServerNumber.
    QString nextBatchPath(LaunchMode mode);
    // Creates the file at BatchPath, moving on to the next free name when it was taken.
    OutputFile createBatch(LaunchMode mode);
    // One block per server, the content of the normal and Run Later batch file.
    void writeBlocks(OutputFile& batch, LaunchRecord& record, const ServerLines& lines,
                     const QString& script);
    // Starts the batch file at BatchPath on a recorded terminal titled `title`, and
    // notes the run.
    void startRecorded(LaunchMode mode, int launch, const QString& title, QByteArray serverText,
                       qsizetype serverCount);
    // Refuses to write through a link that leads out of the workspace.
    void refuseOutsideLink(const QString& path) const;

    Workspace workspace_;
    Platform& platform_;
    RunList runs_;
    // The collection as the launch wrote it to the spool file; the text read back from
    // the file takes over its memory.
    QString written_;

    // Numbers the batch files; never reset while the program runs.
    int ServerNumber = 0;
    // The working values of the launch that runs or ran last.
    double DelayMs = 0;
    QString LogPath;
    QString BatchPath;
    QString BatchText;
};
