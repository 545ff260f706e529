#include "runs/output_follower.h"

#include <QFile>
#include <QLocale>

#include "common/text_file.h"

OutputFollower::OutputFollower(QString path, qint64 maxBytes)
    : path_(std::move(path)), maxBytes_(maxBytes) {}

std::optional<OutputFollower::Change> OutputFollower::look(bool ended) {
    QFile file(path_);
    const bool opened = file.open(QIODevice::ReadOnly);
    const qint64 size = opened ? file.size() : 0;
    if (read_ >= 0 && size == read_ && ended == ended_)
        return std::nullopt;
    ended_ = ended;
    Change change;
    if (read_ < 0 || size < read_ || size - shownFrom_ > maxBytes_) {
        change.restart = true;
        qint64 leftOut = 0;
        const QByteArray tail =
            readFileTail(path_, read_ < 0 ? maxBytes_ : maxBytes_ / 2, &leftOut);
        screen_ = TerminalText(leftOut == 0);
        screen_.add(tail);
        shownFrom_ = leftOut;
        read_ = leftOut + tail.size();
        if (leftOut > 0) {
            change.added = QStringLiteral("[%1 bytes before this were left out]\n")
                               .arg(QLocale().toString(leftOut));
        }
    } else if (size > read_ && file.seek(read_)) {
        const QByteArray added = file.read(size - read_);
        screen_.add(added);
        read_ += added.size();
    }
    change.added += screen_.takeFinished();
    change.tail = screen_.heldBack(ended) + screen_.currentLine();
    return change;
}
