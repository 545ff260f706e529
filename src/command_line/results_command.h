#pragma once

#include <QString>
#include <QStringList>

// `corvane results [--last | --launch ID] [--json]`: what a launch kept in the workspace
// `folder`'s results history did: its summary and each server's state. Returns 0 when every
// server of it ended with exit 0, 1 when any did not (or still runs), 2 for a usage error,
// a launch the history does not hold, or a history that cannot be read.
int runResultsCommand(const QStringList& arguments, const QString& folder);
