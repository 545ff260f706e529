#pragma once

#include <sys/types.h>

#include <QList>
#include <QStringList>
#include <QTimer>
#include <memory>
#include <optional>

#include "platform/platform.h"

class CStrings;

// Starts batch files as the program's own processes: each under `recorder` (util-linux
// script), which keeps it on a terminal of its own and records what it shows, and, where
// one of `terminals` is found on the PATH, in a terminal window of its own. With none
// found, or none given, the batch file runs, recorded, without a window.
class BatchStarter {
  public:
    explicit BatchStarter(QString shell = QStringLiteral("/bin/sh"),
                          QStringList terminals = {QStringLiteral("x-terminal-emulator"),
                                                   QStringLiteral("xterm")},
                          QString recorder = QStringLiteral("/usr/bin/script"));
    ~BatchStarter();

    // The command line that runs a batch file under `recorder`, without a terminal, and
    // the environment it needs.
    static QStringList recordedCommand(const QString& shell, const QString& recorder,
                                       const BatchStart& start);
    static QList<QByteArray> recorderEnvironment();

    // Looks up, once for the starts of one launch, the terminal (none unless `terminals`)
    // and the environment.
    void prepareStarts(bool terminals = true);
    // Starts the batch file and does not wait for it; its process id. Throws
    // OperationError when the start fails at once.
    qint64 startBatch(const BatchStart& start);

  private:
    // Collects the exit of the processes started so far, so none lingers as a zombie.
    void reapChildren();

    QString shell_;
    QStringList terminals_;
    QString recorder_;
    std::optional<QString> terminal_;  // empty when there is none
    std::unique_ptr<CStrings> environment_;
    QList<pid_t> children_;
    QTimer reaper_;
};
