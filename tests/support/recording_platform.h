#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QStringList>
#include <functional>

#include "platform/platform.h"

// Records what the program asks of the outside world, in order, and does none of it.
class RecordingPlatform : public Platform {
  public:
    enum class Kind {
        Message,
        Start,
        Pause,
        OpenPage,
        Repaint,
        AskSaveFile,
        Question,
        Dialog,
        Notice
    };
    struct Event {
        Kind kind = Kind::Message;
        QString caption;  // message boxes
        QString text;     // message text, started path, page address
        int milliseconds = 0;
        QByteArray fileAtStart;  // a started file's bytes at the moment of its start
        BatchStart start;        // what a start was given
        qint64 atNs = 0;         // when it happened, on the monotonic clock
    };

    void showMessage(const QString& caption, const QString& text) override;
    bool askToProceed(const QString& caption, const QString& text, const QString& proceed,
                      const QString& cancel) override;
    void prepareStarts(bool terminals) override {
        ++preparedStarts;
        preparedWithTerminals = terminals;
    }
    qint64 startBatch(const BatchStart& start) override;
    // Records the dialog, lets `whileDialogOpen` work it as a user would, and answers
    // `dialogAnswer`.
    int runDialog(QDialog& dialog) override;
    QString askSaveFile(const QString& caption, const QString& suggestedName) override;
    // Records the wait and runs `whilePaused`; the wait is then none, unless `realWaits`.
    int beginWait(int milliseconds) override;
    void openWebPage(const QUrl& url) override;
    void notify(const QString& summary, const QString& body) override;
    QDateTime now() override { return clock; }
    void repaint(QWidget& widget) override;

    QList<Event> eventsOf(Kind kind) const;
    QStringList messages() const;
    QStringList startedPaths() const;
    QList<int> pauses() const;
    QStringList openedPages() const;
    void clear() { events.clear(); }

    // One field of every event of one kind, in order.
    template <typename T>
    QList<T> valuesOf(Kind kind, T Event::*field) const {
        QList<T> values;
        for (const Event& event : events) {
            if (event.kind == kind)
                values.append(event.*field);
        }
        return values;
    }

    QList<Event> events;
    QDateTime clock;
    // Runs while a message box would be open, to look at the program at that moment.
    std::function<void(const QString& caption, const QString& text)> whileMessageOpen;
    // Runs during each pause, as the user's clicks would.
    std::function<void(int milliseconds)> whilePaused;
    // Makes every start fail, as a missing shell would.
    bool failStarts = false;
    // Whether a start keeps its file's bytes in `fileAtStart`; a benchmark's batch file of
    // a million servers would cost it a read of 30 MB that no real start makes.
    bool keepsStartedFiles = true;
    std::function<void(QDialog& dialog)> whileDialogOpen;
    int dialogAnswer = 0;  // QDialog::Rejected
    // The answer to every question whether to go ahead; the buttons of the last one.
    bool proceedAnswer = false;
    QStringList lastButtons;
    // The answer to the next question where to save a file.
    QString saveFileAnswer;
    int preparedStarts = 0;
    bool preparedWithTerminals = true;
    // Waits as long as asked, on the launch's timer, as the program's platforms do.
    bool realWaits = false;
};
