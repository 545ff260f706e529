#include "batch_engine/server_lines.h"

namespace {

bool isLineEnd(QChar c) {
    return c == u'\r' || c == u'\n';
}

}  // namespace

ServerLines::ServerLines(QString text) : text_(std::move(text)) {
    const QChar* data = text_.constData();
    const qsizetype size = text_.size();
    qsizetype pos = 0;
    qsizetype afterLastServer = 0;
    while (pos < size) {
        const qsizetype start = pos;
        while (pos < size && !isLineEnd(data[pos]))
            ++pos;
        const qsizetype length = pos - start;
        if (pos < size)
            pos += (data[pos] == u'\r' && pos + 1 < size && data[pos + 1] == u'\n') ? 2 : 1;
        if (length > 0) {
            servers_.append(QStringView(data + start, length));
            afterLastServer = pos;
        }
    }
    emptyLinesAfterLast_ = afterLastServer < size;
}

bool ServerLines::anyServer(QStringView text) {
    for (QChar c : text) {
        if (!isLineEnd(c))
            return true;
    }
    return false;
}
