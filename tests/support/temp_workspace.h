#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include "common/workspace.h"

// A workspace of its own for one test: collections/, scripts/, temp/ and logs/ in a
// temporary folder that is removed afterwards.
class TempWorkspace {
  public:
    explicit TempWorkspace(const QStringList& folders = {
                               QStringLiteral("collections"), QStringLiteral("scripts"),
                               QStringLiteral("temp"), QStringLiteral("logs")});

    const Workspace& workspace() const { return workspace_; }
    QString path(const QString& relative) const { return workspace_.path(relative); }

    void write(const QString& relative, const QByteArray& bytes) const;
    QByteArray read(const QString& relative) const;
    bool exists(const QString& relative) const;
    void makeFolder(const QString& relative) const;
    void removeFolder(const QString& relative) const;
    // The names in a folder, sorted, hidden ones and links that lead nowhere included.
    QStringList files(const QString& relative) const;

  private:
    QTemporaryDir dir_;
    Workspace workspace_;
};

// The fixed locale and clock the tests work in.
void useTestLocale();
