#include "runs/terminal_text.h"

namespace {

const QLatin1StringView kRecorderStart("Script started on ");
const QLatin1StringView kRecorderDone("Script done on ");

bool isFinal(QChar c) {
    return c.unicode() >= 0x40 && c.unicode() <= 0x7e;
}

bool isIntermediate(QChar c) {
    return c.unicode() >= 0x20 && c.unicode() <= 0x2f;
}

}  // namespace

TerminalText::TerminalText(bool fromStart) : firstLine_(fromStart) {}

void TerminalText::add(QByteArrayView bytes) {
    const QString text = utf8_(bytes);
    for (QChar c : text)
        addChar(c);
}

void TerminalText::addChar(QChar c) {
    switch (state_) {
        case State::Text:
            break;
        case State::Escape:
            if (c == u'[') {
                state_ = State::ControlSequence;
            } else if (c == u']' || c == u'P' || c == u'X' || c == u'^' || c == u'_') {
                state_ = State::String;  // OSC, DCS, SOS, PM, APC: a string up to ST
            } else if (isIntermediate(c)) {
                state_ = State::EscapeIntermediate;  // ESC ( B and the like
            } else if (c.unicode() >= 0x30 && c.unicode() <= 0x7e) {
                state_ = State::Text;
            } else {
                state_ = State::Text;  // a broken sequence: the character counts
                break;
            }
            return;
        case State::EscapeIntermediate:
            if (isIntermediate(c))
                return;
            state_ = State::Text;
            if (c.unicode() >= 0x30 && c.unicode() <= 0x7e)
                return;
            break;
        case State::ControlSequence:
            if (c.unicode() >= 0x20 && c.unicode() <= 0x3f)
                return;
            state_ = State::Text;
            if (isFinal(c))
                return;
            break;
        case State::String:
        case State::StringEscape:
            // Ended by BEL or ESC \; a string that never ends ends with its line, so that
            // it cannot hide the rest of the output.
            if (c == u'\a' || (state_ == State::StringEscape && c == u'\\')) {
                state_ = State::Text;
                return;
            }
            if (c != u'\n') {
                state_ = c == u'\x1b' ? State::StringEscape : State::String;
                return;
            }
            state_ = State::Text;
            break;
    }
    if (c == u'\x1b') {
        state_ = State::Escape;
    } else if (c == u'\r') {
        column_ = 0;
    } else if (c == u'\n') {
        finishLine();
    } else if (c == u'\b') {
        column_ = std::max<qsizetype>(0, column_ - 1);
    } else if (c.unicode() < 0x20 && c != u'\t') {
        // other control characters show nothing
    } else {
        if (column_ < line_.size())
            line_[column_] = c;
        else
            line_ += c;
        ++column_;
    }
}

void TerminalText::finishLine() {
    const bool first = std::exchange(firstLine_, false);
    if (first && line_.startsWith(kRecorderStart)) {
        // the recorder's first line
    } else if (line_.startsWith(kRecorderDone)) {
        // Maybe the recorder's trailer, which follows an empty line of its own when the
        // output ended with a line end.
        if (!(held_.size() == 1 && held_.front().isEmpty()))
            putHeld();
        held_.append(line_);
    } else {
        putHeld();
        if (line_.isEmpty()) {
            held_.append(line_);
        } else {
            finished_ += line_;
            finished_ += u'\n';
        }
    }
    line_.clear();
    column_ = 0;
}

void TerminalText::putHeld() {
    for (const QString& held : std::as_const(held_)) {
        finished_ += held;
        finished_ += u'\n';
    }
    held_.clear();
}

QString TerminalText::takeFinished() {
    return std::exchange(finished_, QString());
}

QString TerminalText::heldBack(bool ended) const {
    // While the run goes, the held lines show once a line follows them.
    const bool trailer = !held_.isEmpty() && held_.back().startsWith(kRecorderDone);
    if (ended ? trailer : line_.isEmpty())
        return QString();
    QString text;
    for (const QString& held : held_)
        text += held + u'\n';
    return text;
}

QString TerminalText::of(QByteArrayView recorded, bool ended) {
    TerminalText text;
    text.add(recorded);
    return text.takeFinished() + text.heldBack(ended) + text.currentLine();
}
