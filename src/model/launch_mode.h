#pragma once

// How the launch button works, chosen by the two mode check boxes.
enum class LaunchMode {
    Normal,    // one batch file for every server, started once
    Spawn,     // one batch file per server, each started after the start delay
    RunLater,  // the normal batch file, saved in the workspace folder and not started
};

// Spawn Mode wins when both boxes are ticked.
constexpr LaunchMode launchModeFor(bool spawnTicked, bool saveTicked) {
    if (spawnTicked)
        return LaunchMode::Spawn;
    return saveTicked ? LaunchMode::RunLater : LaunchMode::Normal;
}

// The mode's name where a program reads it: the command line's output and the results
// history.
constexpr const char* launchModeKey(LaunchMode mode) {
    switch (mode) {
        case LaunchMode::Normal:
            return "normal";
        case LaunchMode::Spawn:
            return "spawn";
        case LaunchMode::RunLater:
            break;
    }
    return "later";
}
