#include "batch_engine/unsafe_names.h"

#include <array>

#include "common/printable_text.h"

namespace {

// Which ASCII characters flag a name wherever they stand.
constexpr std::array<bool, 128> kActedOn = [] {
    std::array<bool, 128> table{};
    for (int c = 0; c < 0x20; ++c)
        table[c] = true;  // control characters, and the tab
    table[0x7f] = true;
    for (char c : std::string_view(" |&;<>()$`\\\"'*?[]{}!"))
        table[static_cast<unsigned char>(c)] = true;
    return table;
}();

QString listingOf(const UnsafeNames& names) {
    QString text = QStringLiteral(
                       "%1 server name(s) hold characters that the shell or the "
                       "command would act on:")
                       .arg(names.count);
    for (const UnsafeLine& line : names.lines)
        text += QStringLiteral("\nline %1: %2").arg(line.number).arg(printableText(line.text));
    if (names.count > names.lines.size())
        text += QStringLiteral("\n... and %1 more").arg(names.count - names.lines.size());
    return text;
}

}  // namespace

bool isUnsafeServerName(QStringView line) {
    if (line.isEmpty())
        return false;  // an empty line is skipped, never a server
    const QChar first = line[0];
    if (first == u'-' || first == u'#' || first == u'~')
        return true;
    for (QChar character : line) {
        const char16_t c = character.unicode();
        if (c < 128 ? kActedOn[c] : QChar::category(c) == QChar::Other_Control)
            return true;
    }
    return false;
}

UnsafeNames findUnsafeServerNames(QStringView servers, qsizetype keep) {
    UnsafeNames names;
    qsizetype number = 0;
    const qsizetype size = servers.size();
    for (qsizetype start = 0; start < size;) {
        qsizetype end = start;
        while (end < size && servers[end] != u'\n' && servers[end] != u'\r')
            ++end;
        ++number;
        const QStringView line = servers.sliced(start, end - start);
        if (isUnsafeServerName(line)) {
            if (names.lines.size() < keep)
                names.lines.append({number, line.toString()});
            ++names.count;
        }
        start = end;
        if (start < size)
            start +=
                servers[start] == u'\r' && start + 1 < size && servers[start + 1] == u'\n' ? 2 : 1;
    }
    return names;
}

UnsafeServerNames::UnsafeServerNames(const UnsafeNames& names)
    : OperationError(listingOf(names)), listing_(listingOf(names)) {}
