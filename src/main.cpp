#include <dlfcn.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <cstdio>

#include "command_line/run_command.h"
#include "window_main.h"

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
    const QByteArray module =
        QFile::encodeName(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath()) + '/' +
        kWindowModule;
    void* window = dlopen(module.constData(), RTLD_NOW | RTLD_LOCAL);
    const auto run =
        window ? reinterpret_cast<WindowMain>(dlsym(window, "corvaneWindowMain")) : nullptr;
    if (!run) {
        std::fprintf(stderr, "Corvane cannot load its window: %s\n", dlerror());
        return 1;
    }
    return run(argc, argv);
}
