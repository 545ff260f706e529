// The window's side of the program, loaded by main() only when the window is wanted, so
// that the command line starts without Qt's widget libraries.
#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "common/app_info.h"
#include "common/instance_lock.h"
#include "common/workspace.h"
#include "desktop/desktop_platform.h"
#include "main_window/font_warm_up.h"
#include "main_window/form1.h"
#include "window_main.h"

namespace {

// Qt ends a program that reaches no display with a fatal message and a core dump. Until the
// application stands, a fatal message is that, and the user gets one line and status 1.
void fatalMeansNoDisplay(QtMsgType type, const QMessageLogContext&, const QString&) {
    if (type == QtFatalMsg) {
        std::fputs(kNoDisplay, stderr);
        std::_Exit(1);
    }
}

}  // namespace

extern "C" int corvaneWindowMain(int argc, char* argv[]) {
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
