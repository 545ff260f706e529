#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringDecoder>
#include <QStringList>

// A terminal's recorded output turned into the text that stood on its screen, read piece
// by piece as the recorder writes it: escape sequences removed, a carriage return going
// back to the line's start and a backspace one character back. The recorder's own first
// line ("Script started on ...") and its trailer ("Script done on ..." after an empty
// line) are not part of the run's output. The bytes are UTF-8; a byte that is not shows
// as U+FFFD and takes nothing else with it.
class TerminalText {
  public:
    // `fromStart`: the pieces begin at the recording's first byte, where the recorder's
    // first line stands; false for a tail cut from a larger recording.
    explicit TerminalText(bool fromStart = true);

    void add(QByteArrayView bytes);

    // The lines finished since the last call, each with its line end, handed over once.
    QString takeFinished();
    // The line the terminal is writing, not finished yet.
    const QString& currentLine() const { return line_; }
    // What is held back at the end of what was added: lines that may be the recorder's
    // trailer. Once the run has ended, `ended`, a trailer is dropped and anything else
    // given; while it runs they wait for what follows.
    QString heldBack(bool ended) const;

    // Everything at once: the text of a whole recording.
    static QString of(QByteArrayView recorded, bool ended = true);

  private:
    enum class State { Text, Escape, EscapeIntermediate, ControlSequence, String, StringEscape };

    void addChar(QChar c);
    void finishLine();
    void putHeld();

    QStringDecoder utf8_{QStringDecoder::Utf8};
    State state_ = State::Text;
    bool firstLine_;  // in the recording's first line, which may be the recorder's
    QString finished_;
    QStringList held_;
    QString line_;
    qsizetype column_ = 0;
};
