#include "common/printable_text.h"

#include <algorithm>

namespace {

bool needsEscape(char32_t c) {
    if (c < 0x20 || c == 0x7f || c == u'\\')
        return true;
    if (c < 0x80)
        return false;
    switch (QChar::category(c)) {
        case QChar::Other_Control:
        case QChar::Other_Format:
        case QChar::Separator_Line:
        case QChar::Separator_Paragraph:
            return true;
        default:
            return false;
    }
}

}  // namespace

QString printableText(QStringView text) {
    // Most names are plain ASCII, given back without a second look.
    const bool plain = std::all_of(text.begin(), text.end(), [](QChar c) {
        return c.unicode() >= 0x20 && c.unicode() < 0x7f && c != u'\\';
    });
    if (plain)
        return text.toString();
    QString shown;
    shown.reserve(text.size());
    for (char32_t c : text.toUcs4()) {
        if (!needsEscape(c)) {
            shown += QString::fromUcs4(&c, 1);
        } else if (c == u'\\') {
            shown += QStringLiteral("\\\\");
        } else if (c == 0x1b) {
            shown += QStringLiteral("\\e");
        } else if (c == u'\t') {
            shown += QStringLiteral("\\t");
        } else if (c < 0x100) {
            shown += QStringLiteral("\\x%1").arg(uint(c), 2, 16, QLatin1Char('0'));
        } else {
            shown += QStringLiteral("\\u%1").arg(uint(c), 4, 16, QLatin1Char('0'));
        }
    }
    return shown;
}
