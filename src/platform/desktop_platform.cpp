#include "platform/desktop_platform.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <QWidget>

#include "common/errors.h"

DesktopPlatform::DesktopPlatform(QString shell, QStringList terminals)
    : shell_(std::move(shell)), terminals_(std::move(terminals)) {}

void DesktopPlatform::showMessage(const QString& caption, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok);
    box.exec();
}

void DesktopPlatform::startBatch(const QString& path) {
    // A terminal starts even when the shell it is asked to run is missing, so the shell
    // is looked at first: a start that cannot work is reported, never passed over.
    const QFileInfo shell(shell_);
    if (!shell.isFile() || !shell.isExecutable())
        throw OperationError(
            QStringLiteral("Cannot start %1: the shell %2 was not found.").arg(path, shell_));

    QString program = shell_;
    QStringList arguments{path};
    for (const QString& terminal : terminals_) {
        const QString found = QStandardPaths::findExecutable(terminal);
        if (!found.isEmpty()) {
            program = found;
            arguments = QStringList{QStringLiteral("-e"), shell_, path};
            break;
        }
    }
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    if (!process.startDetached())
        throw OperationError(
            QStringLiteral("Cannot start %1: %2").arg(path, process.errorString()));
}

void DesktopPlatform::pause(int milliseconds) {
    QThread::msleep(static_cast<unsigned long>(milliseconds));
}

void DesktopPlatform::openWebPage(const QUrl& url) {
    QDesktopServices::openUrl(url);
}

QDateTime DesktopPlatform::now() {
    return QDateTime::currentDateTime();
}

void DesktopPlatform::repaint(QWidget& window) {
    window.repaint();
}
