#pragma once

#include <QString>

#include "batch_engine/log_box.h"
#include "common/text_file.h"

class Platform;

// What every launch shares, from the header lines to the end lines: the run log record
// and the log box. The run log is the record of what ran: what reached it is handed to
// the system before anything it names is started.
class LaunchRecord {
  public:
    LaunchRecord(LaunchProgress& progress, Platform& platform, const QString& logPath,
                 const QString& logHeader);
    void addServer(QStringView batchText);
    void flush() { runLog_.flush(); }
    // A line of the run log after the servers' blocks.
    void note(const QString& line);
    void endLogBox();
    void close();
    // Ends the record of a launch that failed, with as much of it as the disk takes.
    void fail(const QString& message) noexcept;

    LogBox logBox;

  private:
    OutputFile runLog_;
};
