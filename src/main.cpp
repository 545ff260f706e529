#include <QApplication>

#include "common/app_info.h"
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
    Form1 window(Workspace(QCoreApplication::applicationDirPath()), platform);
    if (!window.load())
        return 1;
    window.show();
    return QApplication::exec();
}
