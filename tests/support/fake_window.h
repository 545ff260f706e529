#pragma once

#include <QCoreApplication>
#include <QEventLoop>
#include <QList>
#include <QString>
#include <QStringList>

#include "batch_engine/launch_request.h"
#include "batch_engine/launcher.h"

// A front end kept in plain strings: the controls a launch request is made of, and what
// the launch reports back, as a window would show it.
class FakeWindow : public LaunchProgress {
  public:
    LaunchRequest request() const {
        LaunchRequest request;
        request.servers = listBox;
        request.script = scriptBox;
        request.mode = mode;
        request.delayText = delay;
        request.options = options;
        return request;
    }

    void setLogText(const QString& text) override { logText = text; }
    void appendLogText(QString text) override {
        logText += text;
        ++appends;
        largestAppend = std::max(largestAppend, text.size());
    }
    void keepAlive() override {
        ++repaints;
        logTextAtRepaint.append(logText);
    }
    void setStoppable(bool on) override {
        stoppable = on;
        stoppableChanges.append(on);
    }
    bool stopRequested() const override { return stop; }
    void started(const Run&) override {}
    void savedForLater(const QString& path) override { saved.append(path); }
    void finished(std::exception_ptr error) override {
        ++finishes;
        failure = error;
    }

    QString listBox;
    QString scriptBox;
    QString delay = QStringLiteral("0");
    LaunchMode mode = LaunchMode::Normal;
    LaunchOptions options;
    QString logText;
    int appends = 0;
    qsizetype largestAppend = 0;
    int repaints = 0;
    QStringList logTextAtRepaint;
    bool stoppable = false;
    QList<bool> stoppableChanges;
    bool stop = false;
    QStringList saved;
    int finishes = 0;
    std::exception_ptr failure;
};

// A launch from start to end, as a front end sees it through the event loop; a failure
// after the start is thrown as the start would have thrown it.
inline void launchToTheEnd(Launcher& launcher, LaunchRequest request, FakeWindow& window) {
    const int before = window.finishes;
    launcher.start(std::move(request), window);
    while (window.finishes == before)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (window.failure)
        std::rethrow_exception(std::exchange(window.failure, nullptr));
}
