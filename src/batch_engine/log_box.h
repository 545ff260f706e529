#pragma once

#include <QElapsedTimer>
#include <QString>

#include "batch_engine/launch_request.h"

// Collects what a launch appends to the log box and hands it over at the moments the
// window is drawn: one widget update per drawing instead of one per server, and at most
// one drawing every 50 ms unless the launch is about to wait or ends. Whatever was
// collected reaches the box also when the launch fails half-way. A large launch hands it
// over in pieces of the same memory: a text of the whole log beside the box's own copy
// would cost a second copy of the largest thing the launch makes.
class LogBox {
  public:
    explicit LogBox(LaunchProgress& progress) : progress_(progress), shown_(progress.showsLog()) {
        sinceShown_.start();
    }
    ~LogBox() { flush(); }
    LogBox(const LogBox&) = delete;
    LogBox& operator=(const LogBox&) = delete;

    void reserve(qsizetype size) {
        if (shown_)
            pending_.reserve(std::min(size, kPieceChars));
    }
    void append(QStringView text) {
        if (!shown_)
            return;
        pending_ += text;
        if (pending_.size() >= kPieceChars)
            flush();
    }
    void append(QLatin1StringView text) {
        if (shown_)
            pending_ += text;
    }
    void flush();
    // Draws the window when the last drawing is 50 ms old.
    void show() {
        if (sinceShown_.hasExpired(kShowEveryMs))
            showNow();
    }
    void showNow();
    // Lets the window answer the desktop every 50 ms without handing over the text: a
    // normal launch shows its log box when it is done.
    void keepAlive();

  private:
    static constexpr qint64 kShowEveryMs = 50;
    static constexpr qsizetype kPieceChars = 512 * 1024;
    LaunchProgress& progress_;
    const bool shown_;
    QString pending_;
    QElapsedTimer sinceShown_;
};
