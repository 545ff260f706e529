#include "x_server.h"

#include <sys/prctl.h>

#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>
#include <csignal>

QProcessEnvironment environmentOn(const QString& display) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    return env;
}

void dieWithParent(QProcess& process) {
    process.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
}

namespace {

constexpr int kStartMs = 30000;

void stop(QProcess& process) {
    if (process.state() != QProcess::NotRunning) {
        process.terminate();
        if (!process.waitForFinished(5000))
            process.kill();
        process.waitForFinished(5000);
    }
}

}  // namespace

QString toolOutput(const QString& program, const QStringList& arguments, const QString& display) {
    QProcess tool;
    dieWithParent(tool);
    if (!display.isEmpty())
        tool.setProcessEnvironment(environmentOn(display));
    tool.start(program, arguments);
    if (!tool.waitForFinished(10000)) {
        // What needed it fails next; the caller goes on.
        qWarning("%s %s did not finish", qPrintable(program), qPrintable(arguments.join(' ')));
        tool.kill();
        tool.waitForFinished(1000);
        return QString();
    }
    return QString::fromLocal8Bit(tool.readAllStandardOutput()).trimmed();
}

XServer::~XServer() {
    stop(windowManager_);
    stop(process_);
}

bool XServer::start() {
    int attempts = 0;
    for (int number = 90; number < 140 && attempts < 3; ++number) {
        const QString socket = QStringLiteral("/tmp/.X11-unix/X%1").arg(number);
        if (QFileInfo::exists(socket) ||
            QFileInfo::exists(QStringLiteral("/tmp/.X%1-lock").arg(number)))
            continue;
        ++attempts;
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
        // The first start on a new machine builds the font caches, which takes long.
        const bool serving =
            waitUntil(
                [&] {
                    return QFileInfo::exists(socket) || process_.state() == QProcess::NotRunning;
                },
                kStartMs) &&
            process_.state() == QProcess::Running;
        if (serving && startWindowManager())
            return true;
        // Another display, once more: a start that fails here has been seen to pass at once
        // on the next try.
        qWarning("%s on display %s did not start; trying another display",
                 serving ? "openbox" : "Xvfb", qPrintable(display_));
        stop(windowManager_);
        stop(process_);
    }
    return false;
}

bool XServer::startWindowManager() {
    windowManager_.setProcessEnvironment(environmentOn(display_));
    dieWithParent(windowManager_);
    windowManager_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    windowManager_.setStandardOutputFile(QProcess::nullDevice());
    windowManager_.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
    if (!windowManager_.waitForStarted(5000))
        return false;
    // It manages the screen once it names itself on the root window.
    return waitUntil(
               [&] {
                   return windowManager_.state() == QProcess::NotRunning ||
                          toolOutput(
                              QStringLiteral("xprop"),
                              {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")},
                              display_)
                              .contains(QLatin1String("window id"));
               },
               kStartMs) &&
           windowManager_.state() == QProcess::Running;
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
