#pragma once

#include <QString>
#include <QStringView>
#include <iterator>

// The servers of a collection text. CR LF, a lone CR and a lone LF each end a line, and
// the line end is not part of the line; a line of no characters is skipped; every other
// line is a server name exactly as written, blanks included. The names are found as they
// are walked, so a collection of a million servers costs no list of its own.
class ServerLines {
  public:
    explicit ServerLines(QString text);
    ServerLines(const ServerLines&) = delete;  // the names point into this object's text
    ServerLines& operator=(const ServerLines&) = delete;

    // Whether `text` holds at least one server, without cutting it into lines.
    static bool anyServer(QStringView text);

    class Iterator {
      public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = QStringView;
        using difference_type = qsizetype;
        using pointer = const QStringView*;
        using reference = const QStringView&;

        Iterator(QStringView text, qsizetype position);
        reference operator*() const { return server_; }
        Iterator& operator++();
        bool operator==(const Iterator& other) const { return start_ == other.start_; }

      private:
        void findServer();
        QStringView text_;
        qsizetype start_;  // where the current server starts; the text's size at the end
        qsizetype next_ = 0;
        QStringView server_;
    };

    Iterator begin() const { return Iterator(text_, 0); }
    Iterator end() const { return Iterator(text_, text_.size()); }
    qsizetype count() const { return count_; }
    // The characters of all server names together.
    qsizetype serverCharacters() const { return serverCharacters_; }
    // Whether empty lines follow the last server. Spawn Mode spends a number on the turn
    // that finds only those.
    bool emptyLinesAfterLast() const { return emptyLinesAfterLast_; }
    // Lets go of the text once the names have been walked; the counts stay.
    void release() { text_ = QString(); }

  private:
    QString text_;
    qsizetype count_ = 0;
    qsizetype serverCharacters_ = 0;
    bool emptyLinesAfterLast_ = false;
};
