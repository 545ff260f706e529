#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

// The date-and-time text of the run log and the log box: the locale's short date with a
// four-digit year, one blank, and its time of day with seconds and without a time zone.
// At exactly midnight only the date. en_US gives "12/6/2026 5:21:13 AM".
QString formatLogDateTime(const QLocale& locale, const QDateTime& moment);
