#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QUrl>
#include <exception>
#include <functional>

class QDialog;
class QWidget;

// A batch file to start, and where its run is recorded.
struct BatchStart {
    QString path;
    QString title;       // of its terminal window
    QString outputPath;  // what it writes to its terminal, recorded
    QString statusPath;  // its exit status and a line end, once it has ended
    QString pidPath;     // the recorder's process id while it runs
};

// Everything the program does outside itself goes through here, so that tests can
// record it instead of opening boxes, sleeping, starting processes or browsers.
class Platform {
  public:
    virtual ~Platform() = default;

    // A modal box with an OK button only and no icon; returns when the user closes it.
    virtual void showMessage(const QString& caption, const QString& text) = 0;
    // A modal box with two buttons and no icon; true when the user chose `proceed`.
    // `cancel` is the default button and the one Esc presses.
    virtual bool askToProceed(const QString& caption, const QString& text, const QString& proceed,
                              const QString& cancel) = 0;
    // Looks up, once for the starts of one launch, what starting a batch file takes
    // (the shell, a terminal window unless `terminals` is false).
    virtual void prepareStarts(bool terminals = true) = 0;
    // Starts the batch file as a separate process, on a terminal of its own whose
    // output is recorded, and does not wait for it. Returns the started process's id.
    // Throws OperationError when the start fails at once.
    virtual qint64 startBatch(const BatchStart& start) = 0;
    // Shows a modal dialog until the user closes it; its result (QDialog::Accepted or
    // QDialog::Rejected).
    virtual int runDialog(QDialog& dialog) = 0;
    // Asks where to save a file; empty when the user cancels.
    virtual QString askSaveFile(const QString& caption, const QString& suggestedName) = 0;
    // A launch is about to wait `milliseconds` on a timer (a start delay, a look for a
    // free slot): how long the wait is to be. The program's platforms wait as asked; one
    // that returns 0 lets the launch go on at once.
    virtual int beginWait(int milliseconds) = 0;
    // Opens a web page with the system's default action; the outcome is not reported.
    virtual void openWebPage(const QUrl& url) = 0;
    // A desktop notification, without waiting for it; nothing when no notification
    // service answers.
    virtual void notify(const QString& summary, const QString& body) = 0;
    virtual QDateTime now() = 0;
    // Has `widget` (a window, or the part of one that shows progress) drawn as the event
    // loop next turns.
    virtual void repaint(QWidget& widget) = 0;
};

// What the user is told of a failure: an OperationError's own text, or plain words.
QString failureText(const std::exception& error);

// Runs a handler so that an error it does not catch ends the handler, not the program:
// the error's text is shown in a message box and the program goes on.
void runHandler(Platform& platform, const std::function<void()>& handler);

// Connects `signal` of `sender` to the handler `handler` of `receiver`, run through
// runHandler: the one way every window wires its events.
template <typename Sender, typename Signal, typename Receiver>
void connectHandler(Platform& platform, Sender* sender, Signal signal, Receiver* receiver,
                    void (Receiver::*handler)()) {
    QObject::connect(sender, signal, receiver, [&platform, receiver, handler] {
        runHandler(platform, [receiver, handler] { (receiver->*handler)(); });
    });
}
