#pragma once

#include <QString>

// How a launch fans out, kept in the workspace's corvane.ini (group "launch"), and how
// much of the results history is kept (group "history"). The defaults launch as the
// program always has.
struct LaunchOptions {
    static constexpr int kMaxRunningLimit = 10000;
    static constexpr int kTimeoutLimit = 604800;  // a week
    static constexpr int kKeepLaunchesLimit = 100000;

    int maxRunning = 0;      // Spawn Mode: batch files of a launch running at once; 0: no limit
    int timeoutSeconds = 0;  // a batch file still running then is ended; 0: never
    bool terminals = true;   // a terminal window for each batch file, where one is found
    int keepLaunches = 100;  // the results history keeps the newest this many launches

    bool operator==(const LaunchOptions&) const = default;
};

// The options the file holds; a missing file, a missing key or a value out of range gives
// that key's default.
LaunchOptions readLaunchOptions(const QString& path);
// Writes all the keys. Throws OperationError when the file cannot be written.
void writeLaunchOptions(const QString& path, const LaunchOptions& options);
