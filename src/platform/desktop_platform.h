#pragma once

#include <sys/types.h>

#include <QList>
#include <QStringList>
#include <QTimer>
#include <memory>
#include <optional>

#include "platform/platform.h"

class QEventLoop;
class CStrings;

// The real outside world on a Linux desktop.
class DesktopPlatform : public Platform {
  public:
    // `shell` runs the batch files, under `recorder` (util-linux script), which keeps
    // them on a terminal of their own and records what they show; the first of
    // `terminals` found on the PATH shows each run in a window of its own, as the user
    // expects. With none found the batch file runs, recorded, without a window.
    explicit DesktopPlatform(QString shell = QStringLiteral("/bin/sh"),
                             QStringList terminals = {QStringLiteral("x-terminal-emulator"),
                                                      QStringLiteral("xterm")},
                             QString recorder = QStringLiteral("/usr/bin/script"));
    ~DesktopPlatform() override;

    // The command line that runs a batch file under `recorder`, without a terminal, and
    // the environment it needs.
    static QStringList recordedCommand(const QString& shell, const QString& recorder,
                                       const BatchStart& start);
    static QList<QByteArray> recorderEnvironment();

    void showMessage(const QString& caption, const QString& text) override;
    void prepareStarts() override;
    qint64 startBatch(const BatchStart& start) override;
    QString askSaveFile(const QString& caption, const QString& suggestedName) override;
    void pause(int milliseconds) override;
    void interruptPause() override;
    void openWebPage(const QUrl& url) override;
    QDateTime now() override;
    void repaint(QWidget& window) override;

  private:
    // Collects the exit of the processes started so far, so none lingers as a zombie.
    void reapChildren();

    QString shell_;
    QStringList terminals_;
    QString recorder_;
    // Found by prepareStarts(), once per launch: the terminal (empty when there is none)
    // and the environment the recorder runs in.
    std::optional<QString> terminal_;
    std::unique_ptr<CStrings> environment_;
    QEventLoop* pause_ = nullptr;
    QList<pid_t> children_;
    QTimer reaper_;
};
