#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "command_line/run_command.h"
#include "common/app_info.h"
#include "common/instance_lock.h"
#include "common/workspace.h"
#include "desktop/desktop_platform.h"
#include "main_window/font_warm_up.h"
#include "main_window/form1.h"

namespace {

const char kNoDisplay[] =
    "Corvane needs a graphical session: DISPLAY (X11) or WAYLAND_DISPLAY (Wayland) must name "
    "a display it can reach.\n";

// Qt ends a program that reaches no display with a fatal message and a core dump. Until the
// application stands, a fatal message is that, and the user gets one line and status 1.
void fatalMeansNoDisplay(QtMsgType type, const QMessageLogContext&, const QString&) {
    if (type == QtFatalMsg) {
        std::fputs(kNoDisplay, stderr);
        std::_Exit(1);
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    if (isCommandLine(arguments)) {
        // No window and no display: Qt Core alone.
        QCoreApplication app(argc, argv);
        return runCommandLine(arguments, QCoreApplication::applicationDirPath());
    }
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        std::fputs(kNoDisplay, stderr);
        return 1;
    }
    FontWarmUp fonts;
    const QtMessageHandler usual = qInstallMessageHandler(fatalMeansNoDisplay);
    QApplication app(argc, argv);
    qInstallMessageHandler(usual);
    QApplication::setApplicationName(kApplicationTitle);
    QApplication::setApplicationVersion(versionText(programVersion()));
    // Exit (or closing the main window) ends the program, also with the About window open.
    QApplication::setQuitOnLastWindowClosed(false);

    DesktopPlatform platform;
    const Workspace workspace(QCoreApplication::applicationDirPath());
    InstanceLock lock(workspace);
    if (!lock.acquire()) {
        platform.showMessage(kApplicationTitle, lock.refusal());
        return 1;
    }
    fonts.wait();
    Form1 window(workspace, platform);
    if (!window.start())
        return 1;
    return QApplication::exec();
}
