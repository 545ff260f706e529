#include "support/recording_platform.h"

#include <QFile>

#include "common/errors.h"

namespace {

RecordingPlatform::Event event(RecordingPlatform::Kind kind, const QString& text = {}) {
    RecordingPlatform::Event recorded;
    recorded.kind = kind;
    recorded.text = text;
    QElapsedTimer clock;
    clock.start();
    recorded.atNs = clock.msecsSinceReference() * 1000000;
    return recorded;
}

}  // namespace

void RecordingPlatform::showMessage(const QString& caption, const QString& text) {
    Event message = event(Kind::Message, text);
    message.caption = caption;
    events.append(message);
    if (whileMessageOpen)
        whileMessageOpen(caption, text);
}

bool RecordingPlatform::askToProceed(const QString& caption, const QString& text,
                                     const QString& proceed, const QString& cancel) {
    Event question = event(Kind::Question, text);
    question.caption = caption;
    events.append(question);
    lastButtons = {proceed, cancel};
    if (whileMessageOpen)
        whileMessageOpen(caption, text);
    return proceedAnswer;
}

qint64 RecordingPlatform::startBatch(const BatchStart& batch) {
    if (failStarts)
        throw OperationError(QStringLiteral("Cannot start %1: no shell").arg(batch.path));
    QFile file(batch.path);
    Event start = event(Kind::Start, batch.path);
    if (keepsStartedFiles && file.open(QIODevice::ReadOnly))
        start.fileAtStart = file.readAll();
    start.start = batch;
    events.append(start);
    return 0;
}

int RecordingPlatform::runDialog(QDialog& dialog) {
    events.append(event(Kind::Dialog));
    if (whileDialogOpen)
        whileDialogOpen(dialog);
    return dialogAnswer;
}

QString RecordingPlatform::askSaveFile(const QString& caption, const QString& suggestedName) {
    Event ask = event(Kind::AskSaveFile, suggestedName);
    ask.caption = caption;
    events.append(ask);
    return saveFileAnswer;
}

int RecordingPlatform::beginWait(int milliseconds) {
    Event pause = event(Kind::Pause);
    pause.milliseconds = milliseconds;
    events.append(pause);
    if (whilePaused)
        whilePaused(milliseconds);
    return realWaits ? milliseconds : 0;
}

void RecordingPlatform::openWebPage(const QUrl& url) {
    events.append(event(Kind::OpenPage, url.toString()));
}

void RecordingPlatform::notify(const QString& summary, const QString& body) {
    Event notice = event(Kind::Notice, body);
    notice.caption = summary;
    events.append(notice);
}

void RecordingPlatform::repaint(QWidget&) {
    events.append(event(Kind::Repaint));
}

QList<RecordingPlatform::Event> RecordingPlatform::eventsOf(Kind kind) const {
    QList<Event> found;
    for (const Event& event : events) {
        if (event.kind == kind)
            found.append(event);
    }
    return found;
}

QStringList RecordingPlatform::messages() const {
    return valuesOf(Kind::Message, &Event::text);
}

QStringList RecordingPlatform::startedPaths() const {
    return valuesOf(Kind::Start, &Event::text);
}

QList<int> RecordingPlatform::pauses() const {
    return valuesOf(Kind::Pause, &Event::milliseconds);
}

QStringList RecordingPlatform::openedPages() const {
    return valuesOf(Kind::OpenPage, &Event::text);
}
