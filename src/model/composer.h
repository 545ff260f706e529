#pragma once

#include <QString>
#include <QStringList>

// Puts a server name in place of every "%s" of a template: exact and case-sensitive,
// left to right, non-overlapping, and the inserted name is never searched again.
class Composer {
  public:
    explicit Composer(const QString& batchTemplate);
    // The template with `server` for each "%s", into `text`, whose memory is used again:
    // a launch composes once per server.
    void composeInto(QString& text, QStringView server) const;
    // The length of a composed text for a server name of `serverLength` characters.
    qsizetype length(qsizetype serverLength) const {
        return fixedLength_ + (pieces_.size() - 1) * serverLength;
    }

  private:
    QStringList pieces_;  // the template cut at each "%s"
    qsizetype fixedLength_ = 0;
};
