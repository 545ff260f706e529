#pragma once

#include "platform/batch_starter.h"
#include "platform/platform.h"

// The outside world of a program without windows: messages go to standard error, batch
// files start as on the desktop (see BatchStarter), waits are as asked.
class ConsolePlatform : public Platform {
  public:
    // Its messages begin with `name` ("corvane run").
    ConsolePlatform(QString name, QStringList terminals);

    void showMessage(const QString& caption, const QString& text) override;
    // Nobody is there to answer: the cautious answer.
    bool askToProceed(const QString&, const QString&, const QString&, const QString&) override {
        return false;
    }
    void prepareStarts(bool terminals) override { starter_.prepareStarts(terminals); }
    qint64 startBatch(const BatchStart& start) override { return starter_.startBatch(start); }
    int runDialog(QDialog&) override { return 0; }  // nobody to answer: rejected
    QString askSaveFile(const QString&, const QString&) override { return QString(); }
    int beginWait(int milliseconds) override { return milliseconds; }
    void openWebPage(const QUrl&) override {}
    void notify(const QString&, const QString&) override {}
    QDateTime now() override { return QDateTime::currentDateTime(); }
    void repaint(QWidget&) override {}

  private:
    QString name_;
    BatchStarter starter_;
};
