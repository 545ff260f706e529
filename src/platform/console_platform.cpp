#include "platform/console_platform.h"

#include <cstdio>

ConsolePlatform::ConsolePlatform(QString name, QStringList terminals)
    : name_(std::move(name)), starter_(QStringLiteral("/bin/sh"), std::move(terminals)) {}

void ConsolePlatform::showMessage(const QString&, const QString& text) {
    std::fprintf(stderr, "%s: %s\n", qPrintable(name_), qPrintable(text));
}
