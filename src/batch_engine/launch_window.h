#pragma once

#include <QString>

// The main window's module-level values that live as long as the window.
struct ModuleVariables {
    QString FilePath;  // file a loader was last asked to load
    double DelayMs = 0;
    QString LogPath;
    QString BatchPath;
    QString BatchText;
    int ServerNumber = 0;  // numbers the batch files; never reset while the program runs
};

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
    virtual void appendLogText(const QString& text) = 0;
    virtual int checkSpawnValue() const = 0;  // 1 ticked, 0 not
    virtual int checkSaveValue() const = 0;
    virtual void repaintWindow() = 0;
    virtual ModuleVariables& variables() = 0;
};

// What the template box holds until the user writes or picks a template.
inline const QString kPlaceholderText = QStringLiteral("Let the scripting begin ...");
