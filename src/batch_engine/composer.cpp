#include "batch_engine/composer.h"

Composer::Composer(const QString& batchTemplate)
    : pieces_(batchTemplate.split(QStringLiteral("%s"), Qt::KeepEmptyParts, Qt::CaseSensitive)) {
    for (const QString& piece : pieces_)
        fixedLength_ += piece.size();
}

QString Composer::compose(QStringView server) const {
    QString text;
    composeInto(text, server);
    return text;
}

void Composer::composeInto(QString& text, QStringView server) const {
    text.clear();  // keeps the memory
    text.reserve(length(server.size()));
    text += pieces_.first();
    for (qsizetype i = 1; i < pieces_.size(); ++i) {
        text += server;
        text += pieces_[i];
    }
}
