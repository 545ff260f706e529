#include "batch_engine/log_box.h"

void LogBox::flush() {
    if (pending_.isEmpty())
        return;
    progress_.appendLogText(pending_);
    pending_.resize(0);  // keeps the memory for the next piece
}

void LogBox::showNow() {
    flush();
    progress_.keepAlive();
    sinceShown_.restart();
}

void LogBox::keepAlive() {
    if (sinceShown_.hasExpired(kShowEveryMs)) {
        progress_.keepAlive();
        sinceShown_.restart();
    }
}
