#pragma once

// The file, beside the program, that holds the window's side of it.
inline constexpr char kWindowModule[] = "corvane-window.so";

inline constexpr char kNoDisplay[] =
    "Corvane needs a graphical session: DISPLAY (X11) or WAYLAND_DISPLAY (Wayland) must name "
    "a display it can reach.\n";

// Runs the window until the program ends; its exit status.
extern "C" int corvaneWindowMain(int argc, char* argv[]);
using WindowMain = int (*)(int argc, char* argv[]);
