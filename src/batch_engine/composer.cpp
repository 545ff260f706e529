#include "batch_engine/composer.h"

Composer::Composer(const QString& batchTemplate)
    : pieces_(batchTemplate.split(QStringLiteral("%s"), Qt::KeepEmptyParts, Qt::CaseSensitive)) {
    for (const QString& piece : pieces_)
        fixedLength_ += piece.size();
}

QString Composer::compose(QStringView server) const {
    QString text;
    text.reserve(fixedLength_ + (pieces_.size() - 1) * server.size());
    text += pieces_.first();
    for (qsizetype i = 1; i < pieces_.size(); ++i) {
        text += server;
        text += pieces_[i];
    }
    return text;
}
