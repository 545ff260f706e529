#include "common/text_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QStringDecoder>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "common/errors.h"
#include "common/line_end.h"

namespace {

// Large enough that a launch of a million servers makes a few hundred system calls,
// small enough that a failing disk is noticed early.
constexpr qsizetype kBufferBytes = 256 * 1024;

[[noreturn]] void failRead(const QString& what, const QString& path, const QFile& file) {
    throw OperationError(QStringLiteral("%1 %2: %3").arg(what, path, file.errorString()));
}

QString openVerb(OutputFile::Mode mode) {
    switch (mode) {
        case OutputFile::Mode::Append:
            return QStringLiteral("Cannot open %1 for appending");
        case OutputFile::Mode::Overwrite:
            return QStringLiteral("Cannot open %1 for writing");
        case OutputFile::Mode::CreateNew:
            break;
    }
    return QStringLiteral("Cannot create %1");
}

int openFlags(OutputFile::Mode mode) {
    const int flags = O_WRONLY | O_CLOEXEC;
    switch (mode) {
        case OutputFile::Mode::Append:
            return flags | O_CREAT | O_APPEND;
        case OutputFile::Mode::Overwrite:
            return flags | O_CREAT | O_TRUNC;
        case OutputFile::Mode::CreateNew:
            break;
    }
    // O_EXCL never follows a link, dangling or not.
    return flags | O_CREAT | O_EXCL;
}

int openFile(const QString& path, OutputFile::Mode mode) {
    const QByteArray name = QFile::encodeName(path);
    int descriptor;
    do {
        descriptor = ::open(name.constData(), openFlags(mode), 0666);
    } while (descriptor < 0 && errno == EINTR);
    return descriptor;
}

}  // namespace

bool isWithin(const QString& path, const QString& folder) {
    const QString real = realPath(path);
    const QString root = QFileInfo(folder).canonicalFilePath();
    return !root.isEmpty() && (real == root || real.startsWith(root + u'/'));
}

QString systemReason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

void removeFilesIn(const QString& folder) {
    DIR* entries = opendir(QFile::encodeName(folder).constData());
    if (!entries)
        return;
    const int descriptor = dirfd(entries);
    while (const dirent* entry = readdir(entries)) {
        // A folder is refused by unlink without being looked at first.
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            unlinkat(descriptor, entry->d_name, 0);
    }
    closedir(entries);
}

QString decodeText(const QByteArray& bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = utf8(bytes);
    if (!utf8.hasError())
        return text;
    return QString::fromLatin1(bytes);
}

QByteArray readFileTail(const QString& path, qint64 maxBytes, qint64* leftOut,
                        QDateTime* modified) {
    if (leftOut)
        *leftOut = 0;
    // One open, one fstat and one read: the state of ten thousand runs is read this way.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return QByteArray();
    const auto closeFile = qScopeGuard([fd] { ::close(fd); });
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return QByteArray();
    if (modified) {
        *modified = QDateTime::fromMSecsSinceEpoch(qint64(info.st_mtim.tv_sec) * 1000 +
                                                   info.st_mtim.tv_nsec / 1000000);
    }
    const qint64 size = info.st_size;
    const qint64 start = std::max<qint64>(0, size - maxBytes);
    QByteArray bytes(size - start, Qt::Uninitialized);
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t got = ::pread(fd, bytes.data() + done, bytes.size() - done, start + done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;  // the file was cut short meanwhile
        done += got;
    }
    bytes.truncate(done);
    // A cut inside a character drops its continuation bytes, at most three.
    qsizetype skip = 0;
    while (start > 0 && skip < 3 && skip < bytes.size() &&
           (static_cast<unsigned char>(bytes[skip]) & 0xc0) == 0x80)
        ++skip;
    bytes.remove(0, skip);
    if (leftOut)
        *leftOut = start + skip;
    return bytes;
}

QString withProgramLineEnds(QString text) {
    if constexpr (kLineEnd.size() == 1) {
        // One pass in place: a collection of a million servers is read this way.
        const QChar lineEnd = QLatin1Char(kLineEnd.front());
        QChar* to = text.data();
        const QChar* from = text.constData();
        const QChar* end = from + text.size();
        while (from < end) {
            const QChar c = *from++;
            if (c == u'\r') {
                if (from < end && *from == u'\n')
                    ++from;
                *to++ = lineEnd;
            } else if (c == QChar::LineSeparator || c == QChar::ParagraphSeparator) {
                *to++ = lineEnd;
            } else {
                *to++ = c;
            }
        }
        text.truncate(to - text.constData());
    } else {
        text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
        for (QChar end :
             {QChar(u'\r'), QChar(QChar::LineSeparator), QChar(QChar::ParagraphSeparator)})
            text.replace(end, u'\n');
        text.replace(QLatin1String("\n"), kLineEnd);
    }
    return text;
}

QByteArray encodeText(QStringView text) {
    return text.toUtf8();
}

QString readWholeFile(const QString& path, qint64 maxBytes) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        failRead(QStringLiteral("Cannot open"), path + QStringLiteral(" for reading"), file);
    if (file.size() > maxBytes) {
        constexpr double kMiB = 1024.0 * 1024.0;
        throw OperationError(QStringLiteral("Cannot load %1: the file is %2 MiB, larger than "
                                            "the %3 MiB a text box takes.")
                                 .arg(path)
                                 .arg(file.size() / kMiB, 0, 'f', 1)
                                 .arg(maxBytes / kMiB));
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        failRead(QStringLiteral("Cannot read"), path, file);
    return decodeText(bytes);
}

QString readWholeFileInto(const QString& path, QString storage) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        failRead(QStringLiteral("Cannot open"), path + QStringLiteral(" for reading"), file);
    // Each piece ends on a whole character and is decoded on its own, so a file that is
    // not UTF-8 is found as readWholeFile finds it, also at its very end.
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    constexpr qint64 kPieceBytes = 1024 * 1024;
    QByteArray piece(kPieceBytes, Qt::Uninitialized);
    qsizetype carried = 0;  // bytes of a character cut by the previous read
    qsizetype used = 0;
    storage.resize(std::max<qint64>(file.size(), 0) + 1);
    for (;;) {
        const qint64 got = file.read(piece.data() + carried, kPieceBytes - carried);
        if (got < 0)
            failRead(QStringLiteral("Cannot read"), path, file);
        const qsizetype filled = carried + got;
        qsizetype whole = filled;
        if (got > 0) {
            // Back to the start of a character the piece holds only in part.
            qsizetype lead = filled;
            while (lead > 0 && filled - lead < 4 && (uchar(piece[lead - 1]) & 0xC0) == 0x80)
                --lead;
            if (lead > 0) {
                const uchar first = uchar(piece[lead - 1]);
                const qsizetype length = first >= 0xF0   ? 4
                                         : first >= 0xE0 ? 3
                                         : first >= 0xC0 ? 2
                                                         : 1;
                if (filled - (lead - 1) < length)
                    whole = lead - 1;
            }
        }
        const QByteArrayView bytes(piece.constData(), whole);
        if (storage.size() - used < utf8.requiredSpace(whole))
            storage.resize(used + utf8.requiredSpace(whole) + storage.size() / 2);
        used = utf8.appendToBuffer(storage.data() + used, bytes) - storage.constData();
        if (utf8.hasError())
            return readWholeFile(path, std::numeric_limits<qint64>::max());
        if (got == 0)
            break;
        carried = filled - whole;
        std::memmove(piece.data(), piece.constData() + whole, carried);
    }
    storage.truncate(used);
    return storage;
}

OutputFile::OutputFile(const QString& path, Mode mode) : path_(path) {
    buffer_.reserve(kBufferBytes + kBufferBytes / 4);
    descriptor_ = openFile(path, mode);
    if (descriptor_ < 0)
        throw OperationError(openVerb(mode).arg(path) + QStringLiteral(": ") + systemReason(errno));
}

OutputFile::OutputFile(const QString& path, int descriptor, Opened)
    : path_(path), descriptor_(descriptor) {
    buffer_.reserve(kBufferBytes + kBufferBytes / 4);
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : path_(std::move(other.path_)),
      descriptor_(std::exchange(other.descriptor_, -1)),
      buffer_(std::move(other.buffer_)),
      utf8_(std::move(other.utf8_)) {}

OutputFile::~OutputFile() {
    if (descriptor_ >= 0)
        ::close(descriptor_);
}

std::optional<OutputFile> OutputFile::createNew(const QString& path) {
    const int descriptor = openFile(path, Mode::CreateNew);
    if (descriptor >= 0)
        return OutputFile(path, descriptor, Opened{});
    if (errno == EEXIST)
        return std::nullopt;
    throw OperationError(openVerb(Mode::CreateNew).arg(path) + QStringLiteral(": ") +
                         systemReason(errno));
}

void OutputFile::fail(const QString& what, int error) const {
    throw OperationError(what.arg(path_) + QStringLiteral(": ") + systemReason(error));
}

void OutputFile::write(QStringView text) {
    // Encoded straight into the buffer, a piece at a time, so that neither a write per
    // server nor the write of a whole collection makes a text of its own.
    constexpr qsizetype kPiece = kBufferBytes / 4;
    while (!text.isEmpty()) {
        qsizetype piece = std::min(text.size(), kPiece);
        if (piece < text.size() && text[piece - 1].isHighSurrogate())
            --piece;  // a surrogate pair stays in one piece
        const qsizetype used = buffer_.size();
        buffer_.resize(used + utf8_.requiredSpace(piece));
        char* end = utf8_.appendToBuffer(buffer_.data() + used, text.first(piece));
        buffer_.resize(end - buffer_.constData());
        if (buffer_.size() >= kBufferBytes)
            flush();
        text = text.sliced(piece);
    }
}

void OutputFile::write(QLatin1StringView text) {
    buffer_.append(text.data(), text.size());
    if (buffer_.size() >= kBufferBytes)
        flush();
}

void OutputFile::flush() {
    const char* data = buffer_.constData();
    qsizetype left = buffer_.size();
    while (left > 0) {
        const ssize_t written = ::write(descriptor_, data, static_cast<size_t>(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            const int error = errno;
            buffer_.resize(0);  // what did not reach the disk never will
            fail(QStringLiteral("Cannot write to %1"), error);
        }
        data += written;
        left -= written;
    }
    buffer_.resize(0);  // keeps the memory
}

void OutputFile::close() {
    if (descriptor_ < 0)
        return;
    flush();
    const int descriptor = std::exchange(descriptor_, -1);
    if (::close(descriptor) != 0 && errno != EINTR)
        fail(QStringLiteral("Cannot write to %1"), errno);
}

void writeWholeFile(const QString& path, QStringView text) {
    OutputFile file(path, OutputFile::Mode::Overwrite);
    file.write(text);
    file.close();
}

QString realPath(const QString& path) {
    const QFileInfo file(path);
    if (file.exists())
        return file.canonicalFilePath();
    return QFileInfo(file.absolutePath()).canonicalFilePath() + u'/' + file.fileName();
}

bool pathTaken(const QString& path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 || errno != ENOENT;
}

bool renameToFreeName(const QString& from, const QString& to) {
    if (::renameat2(AT_FDCWD, QFile::encodeName(from).constData(), AT_FDCWD,
                    QFile::encodeName(to).constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno == EEXIST)
        return false;
    throw OperationError(
        QStringLiteral("Cannot rename %1 to %2: %3").arg(from, to, systemReason(errno)));
}
