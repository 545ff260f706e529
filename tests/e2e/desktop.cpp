#include "desktop.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QThread>

#include <sys/prctl.h>
#include <csignal>

#ifndef CORVANE_PROGRAM
#error "CORVANE_PROGRAM must name the built program"
#endif

namespace {

// Whatever ends the test process, also a crash, ends what it started too.
void dieWithParent(QProcess& process) {
    process.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
}

}  // namespace

XServer::~XServer() {
    if (process_.state() != QProcess::NotRunning) {
        process_.terminate();
        if (!process_.waitForFinished(5000))
            process_.kill();
        process_.waitForFinished(5000);
    }
}

bool XServer::start() {
    for (int number = 90; number < 140; ++number) {
        const QString socket = QStringLiteral("/tmp/.X11-unix/X%1").arg(number);
        if (QFileInfo::exists(socket) ||
            QFileInfo::exists(QStringLiteral("/tmp/.X%1-lock").arg(number)))
            continue;
        display_ = QStringLiteral(":%1").arg(number);
        dieWithParent(process_);
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.setStandardOutputFile(QProcess::nullDevice());
        process_.start(
            QStringLiteral("Xvfb"),
            {display_, QStringLiteral("-screen"), QStringLiteral("0"),
             QStringLiteral("1280x1024x24"), QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        if (!process_.waitForStarted(5000))
            return false;  // no Xvfb at all
        if (waitUntil([&] {
                return QFileInfo::exists(socket) || process_.state() == QProcess::NotRunning;
            }) &&
            process_.state() == QProcess::Running)
            return true;
        process_.kill();
        process_.waitForFinished(5000);
    }
    return false;
}

bool waitUntil(const std::function<bool()>& done, int ms) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms)
            return false;
        QThread::msleep(50);
    }
    return true;
}

namespace desktop {

QString run(const QStringList& arguments) {
    QProcess xdotool;
    dieWithParent(xdotool);
    xdotool.start(QStringLiteral("xdotool"), arguments);
    if (!xdotool.waitForFinished(10000)) {
        // The check that needed it fails next; the run goes on to the other tests.
        qWarning("xdotool %s did not finish", qPrintable(arguments.join(' ')));
        xdotool.kill();
        xdotool.waitForFinished(1000);
        return QString();
    }
    return QString::fromLocal8Bit(xdotool.readAllStandardOutput()).trimmed();
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
    QRect rect;
    const QString shell = run({"getwindowgeometry", "--shell", QString::number(window)});
    for (const QString& line : shell.split('\n')) {
        const QString value = line.section('=', 1);
        if (line.startsWith("X="))
            rect.moveLeft(value.toInt());
        else if (line.startsWith("Y="))
            rect.moveTop(value.toInt());
        else if (line.startsWith("WIDTH="))
            rect.setWidth(value.toInt());
        else if (line.startsWith("HEIGHT="))
            rect.setHeight(value.toInt());
    }
    return rect;
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
    if (!QFile::copy(QStringLiteral(CORVANE_PROGRAM), path("corvane")))
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
    menuBarHeight_ = frame.height() - 366;
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
