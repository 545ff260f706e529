#pragma once

#include <QImage>
#include <QProcess>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>

#include "x_server.h"

// Real input and window look-ups on that display, through xdotool.
namespace desktop {
QString run(const QStringList& arguments);
void click(int x, int y);
void tripleClick(int x, int y);
void keys(const QStringList& keys);
void type(const QString& text);
void moveTo(int x, int y);
QList<qulonglong> visibleWindows(qint64 pid);
QString windowName(qulonglong window);
// The window's own area on the screen, without the window manager's frame.
QRect windowGeometry(qulonglong window);
QImage grab(const QRect& area);
// What the window manager offers for the window (_NET_WM_ACTION_CLOSE and the like).
QStringList allowedActions(qulonglong window);
}  // namespace desktop

// The built program copied into a fresh workspace of its own and started there.
class Program {
  public:
    explicit Program(const QStringList& folders = {"collections", "scripts", "temp", "logs"});
    // A second start of `first`'s program, in its folder.
    struct SameFolder {
        const Program& as;
    };
    explicit Program(SameFolder first);
    Program(const Program&) = delete;
    ~Program();

    QString path(const QString& relative) const;
    void write(const QString& relative, const QByteArray& bytes) const;
    QByteArray read(const QString& relative) const;
    bool exists(const QString& relative) const;
    QStringList files(const QString& folder) const;
    // Folders put first on the program's PATH (no terminal emulator is on it otherwise).
    void setExtraPath(const QString& folder) { extraPath_ = folder; }

    // Starts the program and waits for its main window; false when none showed.
    bool start() { return launch() && waitForMainWindow(); }
    bool launch();
    bool waitForMainWindow();
    qint64 pid() const { return process_.processId(); }
    bool running() const { return process_.state() != QProcess::NotRunning; }
    bool waitForExit(int ms);
    int exitCode() const { return process_.exitCode(); }
    QString output();

    qulonglong mainWindow() const { return main_; }
    // Top left of the main window's client area (below the menu bar), on the screen.
    QPoint origin() const { return origin_; }
    int menuBarHeight() const { return menuBarHeight_; }
    // Clicks at a point of the client area, in its own pixels.
    void click(int x, int y) const { desktop::click(origin_.x() + x, origin_.y() + y); }
    // Keys to the main window, made active by a click on a heading first.
    void keysToMain(const QStringList& keys) const;
    // Waits for a window other than the main one, of any name when `name` is null; 0 when
    // none came.
    qulonglong waitForOtherWindow(const QString& name, int ms = 10000) const;
    bool windowGone(qulonglong window, int ms = 10000) const;
    // Presses keys over a window that is not the main window.
    void keysTo(qulonglong window, const QStringList& keys) const;

  private:
    QTemporaryDir dir_;
    QString root_;
    QString extraPath_;
    QProcess process_;
    qulonglong main_ = 0;
    QPoint origin_;
    int menuBarHeight_ = 0;
};
