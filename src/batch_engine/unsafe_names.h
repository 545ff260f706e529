#pragma once

#include <QList>
#include <QString>
#include <QStringView>

#include "common/errors.h"

// A server line that the shell, or the command a template runs, would act on rather than
// take as a name: it holds a blank anywhere (a trailing one splits `backups/%s/old` in
// two), a control character or one of | & ; < > ( ) $ ` \ " ' * ? [ ] { } !, or it begins
// with -, # or ~. Host names, IPv4 and IPv6 addresses (with a zone), user@host and
// host:port are quiet; an empty line is no server and is quiet too.
bool isUnsafeServerName(QStringView line);

struct UnsafeLine {
    qsizetype number = 0;  // counted from 1, every line of the text
    QString text;          // as written
};

// The flagged lines of a collection text, at most `keep` of them, and how many in all.
struct UnsafeNames {
    QList<UnsafeLine> lines;
    qsizetype count = 0;
};
UnsafeNames findUnsafeServerNames(QStringView servers, qsizetype keep = 20);

// A launch whose servers hold flagged lines, stopped before anything was written; what()
// says which, for the user to decide.
class UnsafeServerNames : public OperationError {
  public:
    explicit UnsafeServerNames(const UnsafeNames& names);
    // "<N> server name(s) hold characters ...:", a line for each kept line (its control
    // characters escaped), "... and <K> more" when lines were left out.
    const QString& listing() const { return listing_; }

  private:
    QString listing_;
};
