#pragma once

#include <QFile>
#include <QString>
#include <QStringView>

// Text on disk is UTF-8; bytes that are not valid UTF-8 are taken as Latin-1 so that
// every byte reaches the window and nothing is lost.
QString decodeText(const QByteArray& bytes);
QByteArray encodeText(QStringView text);

// Largest file the program loads into a text box.
inline constexpr qint64 kMaxLoadBytes = 64LL * 1024 * 1024;

// The whole file in one read. Throws OperationError naming the file and the reason,
// also when the file is larger than `maxBytes`.
QString readWholeFile(const QString& path, qint64 maxBytes = kMaxLoadBytes);

// Creates or overwrites the file with `text`.
void writeWholeFile(const QString& path, QStringView text);

// A file opened for appending (created when absent) for as long as the object lives.
class AppendFile {
  public:
    explicit AppendFile(const QString& path);
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;
    ~AppendFile();

    void write(QStringView text);
    // Flushes and closes; throws when what was written did not reach the disk.
    void close();

  private:
    QFile file_;
};

// Appends `text` to the file in one open, write and close.
void appendToFile(const QString& path, QStringView text);

// Hands out the lines of a text one at a time. CR LF, a lone CR and a lone LF each end
// a line; the line end is not part of the line. A text that ends in a line end has no
// further (empty) line after it.
class LineReader {
  public:
    explicit LineReader(QString text) : text_(std::move(text)) {}
    static LineReader fromFile(const QString& path);

    bool atEnd() const { return pos_ >= text_.size(); }
    // The next line; call only while !atEnd().
    QStringView readLine();

  private:
    QString text_;
    qsizetype pos_ = 0;
};

// Whether any line of `text` has at least one character.
bool hasNonEmptyLine(QStringView text);
