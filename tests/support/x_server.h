#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <functional>

// An X server of our own with a window manager on it, as every desktop has one (frames,
// focus, placement and the round trip that maps a window behave only then), started on a
// free display and stopped again.
class XServer {
  public:
    XServer() = default;
    XServer(const XServer&) = delete;
    ~XServer();
    // False when Xvfb or openbox is missing or does not come up.
    bool start();
    QString display() const { return display_; }

  private:
    bool startWindowManager();

    QProcess process_;
    QProcess windowManager_;
    QString display_;
};

// Polls `done` until it holds or `ms` pass; true when it held.
bool waitUntil(const std::function<bool()>& done, int ms = 10000);

// This process's environment with DISPLAY naming `display`.
QProcessEnvironment environmentOn(const QString& display);

// Whatever ends this process, also a crash, ends `process` too.
void dieWithParent(QProcess& process);

// What `program` writes to its standard output, trimmed, run to its end on `display` (or
// this process's own); empty, with a warning, when it does not end within ten seconds.
QString toolOutput(const QString& program, const QStringList& arguments,
                   const QString& display = QString());
