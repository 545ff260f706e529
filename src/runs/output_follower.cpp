#include "runs/output_follower.h"

#include <QFile>
#include <QLocale>

#include "common/text_file.h"

OutputFollower::OutputFollower(QString path, qint64 maxBytes)
    : path_(std::move(path)), maxBytes_(maxBytes) {}

std::optional<OutputFollower::Change> OutputFollower::look(bool ended) {
    Change change;
    // Begins anew from the last `bytes` of the file.
    auto restart = [&](qint64 bytes) {
        change.restart = true;
        qint64 leftOut = 0;
        const QByteArray tail = readFileTail(path_, bytes, &leftOut);
        screen_ = TerminalText(leftOut == 0);
        screen_.add(tail);
        shownFrom_ = leftOut;
        read_ = leftOut + tail.size();
        if (leftOut > 0) {
            change.added = QStringLiteral("[%1 bytes before this were left out]\n")
                               .arg(QLocale().toString(leftOut));
        }
    };
    if (read_ < 0) {
        // The first look is one read of the file's end.
        ended_ = ended;
        restart(maxBytes_);
    } else {
        QFile file(path_);
        const bool opened = file.open(QIODevice::ReadOnly);
        const qint64 size = opened ? file.size() : 0;
        if (size == read_ && ended == ended_)
            return std::nullopt;
        ended_ = ended;
        if (size < read_ || size - shownFrom_ > maxBytes_) {
            restart(maxBytes_ / 2);
        } else if (size > read_ && file.seek(read_)) {
            const QByteArray added = file.read(size - read_);
            screen_.add(added);
            read_ += added.size();
        }
    }
    change.added += screen_.takeFinished();
    change.tail = screen_.heldBack(ended) + screen_.currentLine();
    return change;
}
