#pragma once

#include <QList>
#include <QString>
#include <QStringView>

// The servers of a collection text. CR LF, a lone CR and a lone LF each end a line, and
// the line end is not part of the line; a line of no characters is skipped; every other
// line is a server name exactly as written, blanks included.
class ServerLines {
  public:
    explicit ServerLines(QString text);
    ServerLines(const ServerLines&) = delete;  // the views point into this object's text
    ServerLines& operator=(const ServerLines&) = delete;

    // Whether `text` holds at least one server, without cutting it into lines.
    static bool anyServer(QStringView text);

    const QList<QStringView>& servers() const { return servers_; }
    // Whether empty lines follow the last server. Spawn Mode spends a number on the turn
    // that finds only those.
    bool emptyLinesAfterLast() const { return emptyLinesAfterLast_; }

  private:
    QString text_;
    QList<QStringView> servers_;
    bool emptyLinesAfterLast_ = false;
};
