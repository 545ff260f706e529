#pragma once

#include <QString>
#include <optional>

#include "runs/terminal_text.h"

// What a run shows, followed while its recorder writes: each look reads only the bytes
// added since the last one, so that a run printing without end costs its new bytes and
// nothing more. At most `maxBytes` of the end are shown: once more than that is shown,
// or more than that was added at once, the text begins anew from the last half of it.
class OutputFollower {
  public:
    OutputFollower(QString path, qint64 maxBytes);
    const QString& path() const { return path_; }
    // Bytes at the file's start that the text shown leaves out; 0 when it shows them all.
    qint64 leftOut() const { return shownFrom_; }

    struct Change {
        // The text begins anew: `added` is all of it, else it goes after the lines
        // finished so far.
        bool restart = false;
        QString added;  // finished lines
        QString tail;   // the line being written, replacing the last look's
    };
    // What changed since the last look; nothing when no byte was added and the run did
    // not end meanwhile. `ended`: the run has ended, so the recorder's trailer goes.
    std::optional<Change> look(bool ended);

  private:
    QString path_;
    qint64 maxBytes_;
    qint64 read_ = -1;      // bytes of the file read so far; -1 before the first look
    qint64 shownFrom_ = 0;  // where the shown text begins in the file
    bool ended_ = false;
    TerminalText screen_;
};
