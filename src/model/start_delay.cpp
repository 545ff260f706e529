#include "model/start_delay.h"

#include <cmath>
#include <limits>

namespace {

constexpr double kMaxPauseMs = std::numeric_limits<int>::max();

// A delay is never written with thousands separators: "1,000" is no number of seconds
// in English, and "1.000" in German is read with the "." as a decimal point.
QLocale withoutGroups(QLocale locale) {
    locale.setNumberOptions(locale.numberOptions() | QLocale::RejectGroupSeparator);
    return locale;
}

}  // namespace

std::optional<double> startDelayMs(const QString& text, const QLocale& locale) {
    bool ok = false;
    double seconds = withoutGroups(locale).toDouble(text, &ok);
    if (!ok)
        seconds = withoutGroups(QLocale::c()).toDouble(text, &ok);
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
