#pragma once

#include <QString>
#include <QStringList>

#include "batch_engine/launch_request.h"

// `corvane run ...`, `corvane --help` and `corvane --version`: one launch without a window
// in the workspace `folder`, as the window would launch it, waiting for every batch file
// it started. Returns the program's exit status: 0 when every started batch file ended
// with exit 0 (or the Run Later file was saved), 1 when any did not, or the launch was
// stopped or failed once begun, 2 for a usage error or a launch refused before anything
// was written. Needs a QCoreApplication.
int runCommandLine(const QStringList& arguments, const QString& folder);

// Whether the program was started for the command line rather than for its window.
bool isCommandLine(const QStringList& arguments);

// The launch the command line makes of a collection file and a template file: their texts
// as the window's boxes give them back once loaded. Throws OperationError when a file
// cannot be read, or is too large for a box.
LaunchRequest requestFromFiles(const QString& collection, const QString& script, LaunchMode mode,
                               const QString& delayText);
