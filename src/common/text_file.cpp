#include "common/text_file.h"

#include <QStringDecoder>
#include <limits>

#include "common/errors.h"

namespace {

[[noreturn]] void fail(const QString& what, const QString& path, const QFile& file) {
    throw OperationError(QStringLiteral("%1 %2: %3").arg(what, path, file.errorString()));
}

}  // namespace

QString decodeText(const QByteArray& bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = utf8(bytes);
    if (!utf8.hasError())
        return text;
    return QString::fromLatin1(bytes);
}

QByteArray encodeText(QStringView text) {
    return text.toUtf8();
}

QString readWholeFile(const QString& path, qint64 maxBytes) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        fail(QStringLiteral("Cannot open"), path + QStringLiteral(" for reading"), file);
    if (file.size() > maxBytes) {
        throw FileTooLargeError(QStringLiteral("Cannot load %1: the file is larger than %2 MiB.")
                                    .arg(path)
                                    .arg(maxBytes / (1024 * 1024)));
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        fail(QStringLiteral("Cannot read"), path, file);
    return decodeText(bytes);
}

void writeWholeFile(const QString& path, QStringView text) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        fail(QStringLiteral("Cannot open"), path + QStringLiteral(" for writing"), file);
    const QByteArray bytes = encodeText(text);
    if (file.write(bytes) != bytes.size() || !file.flush())
        fail(QStringLiteral("Cannot write to"), path, file);
}

AppendFile::AppendFile(const QString& path) : file_(path) {
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Append))
        fail(QStringLiteral("Cannot open"), path + QStringLiteral(" for appending"), file_);
}

AppendFile::~AppendFile() = default;  // QFile closes itself on every path

void AppendFile::write(QStringView text) {
    const QByteArray bytes = encodeText(text);
    if (file_.write(bytes) != bytes.size())
        fail(QStringLiteral("Cannot write to"), file_.fileName(), file_);
}

void AppendFile::close() {
    if (!file_.isOpen())
        return;
    if (!file_.flush())
        fail(QStringLiteral("Cannot write to"), file_.fileName(), file_);
    file_.close();
}

void appendToFile(const QString& path, QStringView text) {
    AppendFile file(path);
    file.write(text);
    file.close();
}

LineReader LineReader::fromFile(const QString& path) {
    return LineReader(readWholeFile(path, std::numeric_limits<qint64>::max()));
}

QStringView LineReader::readLine() {
    const qsizetype start = pos_;
    const qsizetype size = text_.size();
    const QChar* data = text_.constData();
    qsizetype end = start;
    while (end < size && data[end] != u'\r' && data[end] != u'\n')
        ++end;
    pos_ = end;
    if (pos_ < size) {
        const bool crLf = data[pos_] == u'\r' && pos_ + 1 < size && data[pos_ + 1] == u'\n';
        pos_ += crLf ? 2 : 1;
    }
    return QStringView(text_).mid(start, end - start);
}

bool hasNonEmptyLine(QStringView text) {
    for (QChar c : text) {
        if (c != u'\r' && c != u'\n')
            return true;
    }
    return false;
}
