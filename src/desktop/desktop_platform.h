#pragma once

#include "platform/batch_starter.h"
#include "platform/platform.h"

// The real outside world on a Linux desktop: message boxes and file dialogs, batch files
// started on recorded terminals (see BatchStarter), waits as asked.
class DesktopPlatform : public Platform {
  public:
    explicit DesktopPlatform(QString shell = QStringLiteral("/bin/sh"),
                             QStringList terminals = {QStringLiteral("x-terminal-emulator"),
                                                      QStringLiteral("xterm")},
                             QString recorder = QStringLiteral("/usr/bin/script"));

    void showMessage(const QString& caption, const QString& text) override;
    bool askToProceed(const QString& caption, const QString& text, const QString& proceed,
                      const QString& cancel) override;
    void prepareStarts(bool terminals) override;
    qint64 startBatch(const BatchStart& start) override;
    int runDialog(QDialog& dialog) override;
    QString askSaveFile(const QString& caption, const QString& suggestedName) override;
    int beginWait(int milliseconds) override { return milliseconds; }
    void openWebPage(const QUrl& url) override;
    void notify(const QString& summary, const QString& body) override;
    QDateTime now() override;
    void repaint(QWidget& widget) override;

  private:
    BatchStarter starter_;
};
