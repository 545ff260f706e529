#pragma once

#include <QString>
#include <QStringList>

// Puts a server name in place of every "%s" of a template: exact and case-sensitive,
// left to right, non-overlapping, and the inserted name is never searched again.
class Composer {
  public:
    explicit Composer(const QString& batchTemplate);
    QString compose(QStringView server) const;

  private:
    QStringList pieces_;  // the template cut at each "%s"
    qsizetype fixedLength_ = 0;
};
