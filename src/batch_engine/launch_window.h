#pragma once

#include <QString>

#include "model/launch_mode.h"

// What a launch reads and writes of the main window, named after its controls. The
// texts use the program's line end, whatever the widgets keep inside.
class LaunchWindow {
  public:
    virtual ~LaunchWindow() = default;

    virtual QString listBoxText() const = 0;
    virtual QString scriptBoxText() const = 0;
    virtual QString delayText() const = 0;
    virtual void setDelayText(const QString& text) = 0;
    virtual void setLogText(const QString& text) = 0;
    // Taken by value: the window may change its copy, the launch keeps its own.
    virtual void appendLogText(QString text) = 0;
    // What the check boxes CheckSpawn and CheckSave choose.
    virtual LaunchMode launchMode() const = 0;
    // Draws the window as it stands, in the middle of a launch.
    virtual void repaintWindow() = 0;
    // While a launch can be stopped, the launch button offers it; the user's word is
    // then read before each start.
    virtual void setStoppable(bool stoppable) = 0;
    virtual bool stopRequested() const = 0;
};

// What the template box holds until the user writes or picks a template.
inline const QString kPlaceholderText = QStringLiteral("Let the scripting begin ...");
