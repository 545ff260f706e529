#pragma once

#include <QString>

// The lines of `from` removed and those of `to` added, as a unified diff: hunks headed
// "@@ -a,b +c,d @@", lines starting with ' ', '-' or '+', `context` unchanged lines
// around each change. Empty when the texts are the same. Outputs that differ in more
// than `maxChanges` lines are shown as all of `from` removed and all of `to` added.
QString unifiedDiff(const QString& from, const QString& to, int context = 3, int maxChanges = 2000);
