#include "desktop.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QThread>

#ifndef CORVANE_PROGRAM
#error "CORVANE_PROGRAM must name the built program"
#endif

// Under the client area: the launch's status bar, of a fixed height.
constexpr int kStatusBarHeight = 22;

namespace desktop {

QString run(const QStringList& arguments) {
    return toolOutput(QStringLiteral("xdotool"), arguments);
}

void moveTo(int x, int y) {
    // Without --sync, which waits for ever when the pointer is there already.
    run({"mousemove", QString::number(x), QString::number(y)});
    QThread::msleep(100);
}

void click(int x, int y) {
    moveTo(x, y);
    run({"click", "1"});
    QThread::msleep(150);
}

void tripleClick(int x, int y) {
    moveTo(x, y);
    run({"click", "--repeat", "3", "--delay", "60", "1"});
    QThread::msleep(150);
}

void keys(const QStringList& keys) {
    for (const QString& key : keys) {
        run({"key", "--delay", "40", key});
        QThread::msleep(150);
    }
}

void type(const QString& text) {
    run({"type", "--delay", "30", text});
    QThread::msleep(100);
}

QList<qulonglong> visibleWindows(qint64 pid) {
    QList<qulonglong> windows;
    const QString found = run({"search", "--onlyvisible", "--pid", QString::number(pid)});
    for (const QString& id : found.split('\n', Qt::SkipEmptyParts))
        windows.append(id.toULongLong());
    return windows;
}

QString windowName(qulonglong window) {
    return run({"getwindowname", QString::number(window)});
}

QRect windowGeometry(qulonglong window) {
    // xwininfo, not xdotool: in a frame, xdotool adds the window's offset inside the frame
    // to its place on the screen once more.
    QRect rect;
    const QString info =
        toolOutput(QStringLiteral("xwininfo"), {QStringLiteral("-id"), QString::number(window)});
    for (const QString& line : info.split('\n')) {
        const QString field = line.section(':', 0, 0).trimmed();
        const int value = line.section(':', 1).trimmed().toInt();
        if (field == QLatin1String("Absolute upper-left X"))
            rect.moveLeft(value);
        else if (field == QLatin1String("Absolute upper-left Y"))
            rect.moveTop(value);
        else if (field == QLatin1String("Width"))
            rect.setWidth(value);
        else if (field == QLatin1String("Height"))
            rect.setHeight(value);
    }
    return rect;
}

QStringList allowedActions(qulonglong window) {
    const QString property =
        toolOutput(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(window),
                                             QStringLiteral("_NET_WM_ALLOWED_ACTIONS")});
    QStringList actions = property.section('=', 1).split(',', Qt::SkipEmptyParts);
    for (QString& action : actions)
        action = action.trimmed();
    return actions;
}

QImage grab(const QRect& area) {
    QThread::msleep(300);  // let the program finish drawing
    return QGuiApplication::primaryScreen()
        ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
        .toImage();
}

}  // namespace desktop

Program::Program(const QStringList& folders) : root_(dir_.path()) {
    if (!dir_.isValid())
        qFatal("cannot create a workspace");
    for (const QString& folder : folders)
        QDir(dir_.path()).mkpath(folder);
    if (!QFile::copy(QStringLiteral(CORVANE_PROGRAM), path("corvane")) ||
        !QFile::copy(QStringLiteral(CORVANE_WINDOW_MODULE), path("corvane-window.so")))
        qFatal("cannot copy the program from %s", CORVANE_PROGRAM);
}

Program::Program(SameFolder first) : root_(first.as.root_) {}

Program::~Program() {
    if (running()) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

QString Program::path(const QString& relative) const {
    return QDir(root_).filePath(relative);
}

void Program::write(const QString& relative, const QByteArray& bytes) const {
    QFile file(path(relative));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(file.fileName()));
}

QByteArray Program::read(const QString& relative) const {
    QFile file(path(relative));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool Program::exists(const QString& relative) const {
    return QFileInfo::exists(path(relative));
}

QStringList Program::files(const QString& folder) const {
    return QDir(path(folder)).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

bool Program::launch() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    // The batch files use shell built-ins only; a PATH without a terminal emulator makes
    // the program run them without a window, so nothing covers the main window.
    env.insert(QStringLiteral("PATH"), extraPath_.isEmpty() ? path("no-tools") : extraPath_);
    process_.setProcessEnvironment(env);
    dieWithParent(process_);
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.start(path("corvane"), {});
    return process_.waitForStarted(10000);
}

bool Program::waitForMainWindow() {
    const bool shown = waitUntil([&] {
        for (qulonglong window : desktop::visibleWindows(pid())) {
            if (desktop::windowName(window) == QLatin1String("corvane")) {
                main_ = window;
                return true;
            }
        }
        return !running();
    });
    if (!shown || main_ == 0)
        return false;
    const QRect frame = desktop::windowGeometry(main_);
    menuBarHeight_ = frame.height() - 366 - kStatusBarHeight;
    origin_ = QPoint(frame.x(), frame.y() + menuBarHeight_);
    return true;
}

bool Program::waitForExit(int ms) {
    return process_.state() == QProcess::NotRunning || process_.waitForFinished(ms);
}

QString Program::output() {
    return QString::fromLocal8Bit(process_.readAll());
}

void Program::keysToMain(const QStringList& keys) const {
    // A click on the log box heading, where it does nothing, makes the window active.
    click(320, 272);
    desktop::keys(keys);
}

qulonglong Program::waitForOtherWindow(const QString& name, int ms) const {
    qulonglong found = 0;
    waitUntil(
        [&] {
            for (qulonglong window : desktop::visibleWindows(pid())) {
                if (window != main_ && (name.isNull() || desktop::windowName(window) == name)) {
                    found = window;
                    return true;
                }
            }
            return false;
        },
        ms);
    return found;
}

bool Program::windowGone(qulonglong window, int ms) const {
    return waitUntil([&] { return !desktop::visibleWindows(pid()).contains(window); }, ms);
}

void Program::keysTo(qulonglong window, const QStringList& keys) const {
    const QRect rect = desktop::windowGeometry(window);
    desktop::click(rect.x() + 4, rect.y() + 4);  // a corner, clear of any button
    desktop::keys(keys);
}
