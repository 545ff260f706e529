#include "batch_engine/start_delay.h"

#include <cmath>
#include <limits>

namespace {
constexpr double kMaxPauseMs = std::numeric_limits<int>::max();
}

std::optional<double> startDelayMs(const QString& text, const QLocale& locale) {
    bool ok = false;
    double seconds = locale.toDouble(text, &ok);
    if (!ok)
        seconds = QLocale::c().toDouble(text, &ok);
    if (!ok)
        return std::nullopt;
    const double ms = seconds * 1000 + 0.0;  // + 0.0 turns -0 into 0
    // Written so that NaN fails too.
    if (!(ms >= 0 && std::nearbyint(ms) <= kMaxPauseMs))
        return std::nullopt;
    return ms;
}

int pauseMs(double delayMs) {
    return static_cast<int>(std::nearbyint(delayMs));
}

QString delayMsText(double delayMs) {
    return QString::number(delayMs, 'g', 15);
}
