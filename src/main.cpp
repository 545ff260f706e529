#include <QApplication>

#include "common/app_info.h"
#include "common/instance_lock.h"
#include "common/workspace.h"
#include "main_window/form1.h"
#include "platform/desktop_platform.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
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
    Form1 window(workspace, platform);
    if (!window.load())
        return 1;
    window.show();
    return QApplication::exec();
}
