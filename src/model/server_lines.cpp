#include "model/server_lines.h"

namespace {

bool isLineEnd(QChar c) {
    return c == u'\r' || c == u'\n';
}

// The end of the line that starts at `start`, and where the next line starts.
std::pair<qsizetype, qsizetype> lineAt(QStringView text, qsizetype start) {
    qsizetype end = start;
    const qsizetype size = text.size();
    while (end < size && !isLineEnd(text[end]))
        ++end;
    qsizetype next = end;
    if (next < size)
        next += (text[next] == u'\r' && next + 1 < size && text[next + 1] == u'\n') ? 2 : 1;
    return {end, next};
}

}  // namespace

ServerLines::ServerLines(QString text) : text_(std::move(text)) {
    qsizetype afterLastServer = 0;
    for (qsizetype start = 0; start < text_.size();) {
        const auto [end, next] = lineAt(text_, start);
        if (end > start) {
            ++count_;
            serverCharacters_ += end - start;
            afterLastServer = next;
        }
        start = next;
    }
    emptyLinesAfterLast_ = afterLastServer < text_.size();
}

bool ServerLines::anyServer(QStringView text) {
    for (QChar c : text) {
        if (!isLineEnd(c))
            return true;
    }
    return false;
}

ServerLines::Iterator::Iterator(QStringView text, qsizetype position)
    : text_(text), start_(position) {
    findServer();
}

ServerLines::Iterator& ServerLines::Iterator::operator++() {
    start_ = next_;
    findServer();
    return *this;
}

void ServerLines::Iterator::findServer() {
    while (start_ < text_.size()) {
        const auto [end, next] = lineAt(text_, start_);
        next_ = next;
        if (end > start_) {
            server_ = text_.sliced(start_, end - start_);
            return;
        }
        start_ = next;
    }
    start_ = text_.size();
}
