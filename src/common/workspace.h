#pragma once

#include <QString>

// The program's folder and the fixed places inside it.
class Workspace {
  public:
    explicit Workspace(const QString& root);

    const QString& root() const { return root_; }
    // The workspace followed by one separator and `relative` ("temp/srvtemp.txt").
    QString path(const QString& relative) const;

    QString collectionsFolder() const { return path(QStringLiteral("collections")); }
    QString scriptsFolder() const { return path(QStringLiteral("scripts")); }
    QString tempFolder() const { return path(QStringLiteral("temp")); }
    QString logsFolder() const { return path(QStringLiteral("logs")); }
    QString spoolFile() const { return path(QStringLiteral("temp/srvtemp.txt")); }
    QString logFile() const { return path(QStringLiteral("logs/log.txt")); }
    QString historyFile() const { return path(QStringLiteral("logs/results.sqlite")); }
    QString lockFile() const { return path(QStringLiteral(".corvane.lock")); }
    QString settingsFile() const { return path(QStringLiteral("corvane.ini")); }
    QString collectionFile(const QString& name) const;
    QString templateFile(const QString& name) const;
    QString tempBatch(int number) const;
    QString runLaterBatch(int number) const;
    // Where a Run Later file is written before it takes its name.
    QString partialRunLaterBatch(int number) const;

  private:
    QString root_;
};
