#pragma once

#include <QString>
#include <exception>

#include "batch_engine/launch_options.h"
#include "model/launch_mode.h"

struct Run;

// All a launch needs, as a front end (the window, the command line) gathers it. The texts
// use the program's line end.
struct LaunchRequest {
    QString servers;  // the collection: one server name per line
    QString script;   // the template: %s stands for the server name
    LaunchMode mode = LaunchMode::Normal;
    QString delayText = QStringLiteral("0");  // the start delay in seconds, as typed
    // Server names the shell or the command would act on go ahead: the user said so.
    bool allowUnsafeNames = false;
    LaunchOptions options;
};

// What a launch tells its front end while it runs.
class LaunchProgress {
  public:
    virtual ~LaunchProgress() = default;

    // Whether the front end shows the log box's text; one that does not is spared it.
    virtual bool showsLog() const { return true; }
    // The log box's text replaced, and text added at its end. Taken by value: the front
    // end may change its copy, the launch keeps its own.
    virtual void setLogText(const QString& text) = 0;
    virtual void appendLogText(QString text) = 0;
    // A moment in the middle of a launch to show how it stands; the event loop draws it
    // when the launch next gives it back.
    virtual void keepAlive() = 0;
    // While a launch can be stopped, the front end offers it; its word is then read
    // before each start.
    virtual void setStoppable(bool stoppable) = 0;
    virtual bool stopRequested() const = 0;
    // A batch file has been started.
    virtual void started(const Run& run) = 0;
    // The Run Later file is complete under its name.
    virtual void savedForLater(const QString& path) = 0;
    // The launch has ended: done, stopped, or failed with `failure` after start() had
    // returned (what fails earlier is thrown by start() instead). Told once, possibly
    // before start() returns.
    virtual void finished(std::exception_ptr failure) = 0;
};

// What the template box holds until the user writes or picks a template.
inline const QString kPlaceholderText = QStringLiteral("Let the scripting begin ...");
