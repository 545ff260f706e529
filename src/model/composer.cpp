#include "model/composer.h"

Composer::Composer(const QString& batchTemplate)
    : pieces_(batchTemplate.split(QStringLiteral("%s"), Qt::KeepEmptyParts, Qt::CaseSensitive)) {
    for (const QString& piece : pieces_)
        fixedLength_ += piece.size();
}

void Composer::composeInto(QString& text, QStringView server) const {
    text.resize(0);  // keeps the memory, which clear() would let go
    text.reserve(length(server.size()));
    text += pieces_.first();
    for (qsizetype i = 1; i < pieces_.size(); ++i) {
        text += server;
        text += pieces_[i];
    }
}
