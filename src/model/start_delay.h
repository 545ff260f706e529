#pragma once

#include <QLocale>
#include <QString>
#include <optional>

inline const QString kBadDelayMessage =
    QStringLiteral("The start delay must be a number of seconds from 0 to 2147483.647.");

// The start delay typed in seconds, as milliseconds; nothing when the text is not a
// number, is negative, or its milliseconds do not fit a pause (at most 2147483647).
// The number is read in `locale`, without thousands separators; a "." decimal point is
// accepted too.
std::optional<double> startDelayMs(const QString& text, const QLocale& locale);

// The pause for a delay: the milliseconds rounded to the nearest whole number, an
// exact half going to the even neighbour.
int pauseMs(double delayMs);

// The milliseconds in general form: 0, 5000, 2500.5.
QString delayMsText(double delayMs);
