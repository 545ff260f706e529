#include "common/workspace.h"

#include <QDir>

Workspace::Workspace(const QString& root) : root_(QDir::toNativeSeparators(root)) {}

QString Workspace::path(const QString& relative) const {
    return root_ + QDir::separator() + QDir::toNativeSeparators(relative);
}

QString Workspace::collectionFile(const QString& name) const {
    return collectionsFolder() + QDir::separator() + name;
}

QString Workspace::templateFile(const QString& name) const {
    return scriptsFolder() + QDir::separator() + name;
}

QString Workspace::tempBatch(int number) const {
    return path(QStringLiteral("temp/temp%1.bat").arg(number));
}

QString Workspace::runLaterBatch(int number) const {
    return path(QStringLiteral("run_later_%1.bat").arg(number));
}

QString Workspace::partialRunLaterBatch(int number) const {
    return path(QStringLiteral(".run_later_%1.bat.part").arg(number));
}
