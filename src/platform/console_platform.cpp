#include "platform/console_platform.h"

#include <cstdio>

ConsolePlatform::ConsolePlatform(QStringList terminals)
    : starter_(QStringLiteral("/bin/sh"), std::move(terminals)) {}

void ConsolePlatform::showMessage(const QString& caption, const QString& text) {
    std::fprintf(stderr, "%s: %s\n", qPrintable(caption), qPrintable(text));
}
