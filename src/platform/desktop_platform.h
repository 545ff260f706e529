#pragma once

#include <QStringList>

#include "platform/platform.h"

// The real outside world on a Linux desktop.
class DesktopPlatform : public Platform {
  public:
    // `shell` runs the batch files; the first of `terminals` found on the PATH shows
    // each run in a window of its own, as the user expects. With none found the batch
    // file runs without a window.
    explicit DesktopPlatform(QString shell = QStringLiteral("/bin/sh"),
                             QStringList terminals = {QStringLiteral("x-terminal-emulator"),
                                                      QStringLiteral("xterm")});

    void showMessage(const QString& caption, const QString& text) override;
    void startBatch(const QString& path) override;
    void pause(int milliseconds) override;
    void openWebPage(const QUrl& url) override;
    QDateTime now() override;
    void repaint(QWidget& window) override;

  private:
    QString shell_;
    QStringList terminals_;
};
