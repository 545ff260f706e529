#include "support/temp_workspace.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QtTest>

TempWorkspace::TempWorkspace(const QStringList& folders) : workspace_(dir_.path()) {
    if (!dir_.isValid())
        qFatal("cannot create a temporary workspace");
    for (const QString& folder : folders)
        makeFolder(folder);
}

void TempWorkspace::write(const QString& relative, const QByteArray& bytes) const {
    QFile file(path(relative));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(file.fileName()));
}

QByteArray TempWorkspace::read(const QString& relative) const {
    QFile file(path(relative));
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return file.readAll();
}

bool TempWorkspace::exists(const QString& relative) const {
    return QFileInfo::exists(path(relative));
}

void TempWorkspace::makeFolder(const QString& relative) const {
    QDir().mkpath(path(relative));
}

void TempWorkspace::removeFolder(const QString& relative) const {
    QDir(path(relative)).removeRecursively();
}

QStringList TempWorkspace::files(const QString& relative) const {
    return QDir(path(relative))
        .entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::Dirs | QDir::NoDotAndDotDot,
                   QDir::Name);
}

void useTestLocale() {
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}
