#include "common/date_time_format.h"

#include <QRegularExpression>

namespace {

// Applies `edit` to the unquoted stretches of a Qt date/time format, so that literal
// text in quotes is never taken for a format letter.
template <typename Edit>
QString editUnquoted(const QString& format, Edit edit) {
    QString result;
    QString stretch;
    bool quoted = false;
    for (QChar c : format) {
        if (c == u'\'') {
            if (!quoted) {
                result += edit(stretch);
                stretch.clear();
            }
            quoted = !quoted;
            result += c;
        } else if (quoted) {
            result += c;
        } else {
            stretch += c;
        }
    }
    return result + edit(stretch);
}

QString dateFormatWithFullYear(const QLocale& locale) {
    return editUnquoted(locale.dateFormat(QLocale::ShortFormat), [](QString part) {
        if (!part.contains(QLatin1String("yyyy")))
            part.replace(QLatin1String("yy"), QLatin1String("yyyy"));
        return part;
    });
}

// The time zone goes together with what only served to set it off: the brackets around
// it and the commas and blanks beside it ("HH:mm:ss (t)", "h:mm:ss AP, t", "t APh:mm:ss").
QString timeFormatWithoutZone(const QLocale& locale) {
    static const QRegularExpression zone(QStringLiteral("[\\s,]*[(\\[]?t+[)\\]]?[\\s,]*"));
    const QString format = editUnquoted(locale.timeFormat(QLocale::LongFormat), [](QString part) {
        part.replace(zone, QStringLiteral(" "));
        return part;
    });
    return format.trimmed();
}

}  // namespace

QString formatLogDateTime(const QLocale& locale, const QDateTime& moment) {
    const QString date = locale.toString(moment.date(), dateFormatWithFullYear(locale));
    const QTime time = moment.time();
    if (time.hour() == 0 && time.minute() == 0 && time.second() == 0)
        return date;
    return date + u' ' + locale.toString(time, timeFormatWithoutZone(locale));
}
