#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringEncoder>
#include <QStringView>
#include <optional>

// Text on disk is UTF-8; bytes that are not valid UTF-8 are taken as Latin-1 so that
// every byte reaches the window and nothing is lost.
QString decodeText(const QByteArray& bytes);
QByteArray encodeText(QStringView text);

// The text with every line end the program's own: CR LF, a lone CR, and the line and
// paragraph separators a text box keeps, as the window's boxes give their text back.
QString withProgramLineEnds(QString text);

// Largest file the program loads into a text box: over a million server names, and
// still a load the user hardly waits for.
inline constexpr qint64 kMaxLoadBytes = 16LL * 1024 * 1024;

// The whole file in one read. Throws OperationError naming the file and the reason,
// also when the file is larger than `maxBytes`.
QString readWholeFile(const QString& path, qint64 maxBytes = kMaxLoadBytes);

// The same text as readWholeFile(path) gives, without a size limit, read and decoded
// piece by piece into the memory `storage` holds (its text is dropped). A large file then
// costs no copy of its bytes, and no fresh memory for its text when `storage` was about
// as large.
QString readWholeFileInto(const QString& path, QString storage);

// At most the last `maxBytes` bytes of the file, cut so that they begin with a whole
// UTF-8 character; `leftOut` gets the number of bytes before them. Empty when the file
// cannot be read.
// `modified` gets the time the file was last written, when given.
QByteArray readFileTail(const QString& path, qint64 maxBytes, qint64* leftOut = nullptr,
                        QDateTime* modified = nullptr);

// A file being written. What is written collects in a buffer that goes to the disk when
// it grows large, on flush() and on close(); every failure is thrown as OperationError
// naming the file and the system's own reason, whatever the failing call was.
class OutputFile {
  public:
    enum class Mode {
        Append,     // created when absent, written after the old content
        Overwrite,  // created when absent, emptied when present
        CreateNew,  // must not exist in any form: not as a file, folder or link
    };

    OutputFile(const QString& path, Mode mode);
    OutputFile(OutputFile&& other) noexcept;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();  // closes without a word, as after a failure

    // A new file at `path`, or nothing when the name is taken; other failures throw.
    static std::optional<OutputFile> createNew(const QString& path);

    const QString& path() const { return path_; }
    void write(QStringView text);
    void write(QLatin1StringView text);
    // Hands everything written so far to the system, so that it survives the program.
    void flush();
    void close();

  private:
    struct Opened {};
    OutputFile(const QString& path, int descriptor, Opened);
    [[noreturn]] void fail(const QString& what, int error) const;

    QString path_;
    int descriptor_ = -1;
    QByteArray buffer_;
    QStringEncoder utf8_{QStringEncoder::Utf8, QStringEncoder::Flag::Stateless};
};

// Creates or overwrites the file with `text`.
void writeWholeFile(const QString& path, QStringView text);

// Gives the file at `from` the name `to` when nothing stands at `to`; false, with
// nothing changed, when something does. Other failures throw.
bool renameToFreeName(const QString& from, const QString& to);

// Whether anything at all stands at `path`: a file, a folder, or a link, even one that
// leads nowhere.
bool pathTaken(const QString& path);

// Where `path` really lies, every link on the way followed; for a file not there yet, its
// folder's real place and its name ("/name" alone when the folder is missing).
QString realPath(const QString& path);

// Removes every file of `folder`, whatever its name, links included, in one pass over
// the folder; what cannot be removed, a folder inside it, or a missing folder is passed
// over without a word.
void removeFilesIn(const QString& folder);

// Whether `path` is `folder` or lies in it, every link on the way followed.
bool isWithin(const QString& path, const QString& folder);

// The system's words for an error number ("No space left on device").
QString systemReason(int error);
