#include "desktop/desktop_platform.h"

#include <QDBusConnection>
#include <QDBusMessage>

#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QWidget>

DesktopPlatform::DesktopPlatform(QString shell, QStringList terminals, QString recorder)
    : starter_(std::move(shell), std::move(terminals), std::move(recorder)) {}

void DesktopPlatform::showMessage(const QString& caption, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok);
    box.exec();
}

bool DesktopPlatform::askToProceed(const QString& caption, const QString& text,
                                   const QString& proceed, const QString& cancel) {
    QMessageBox box(QMessageBox::NoIcon, caption, text);
    QPushButton* go = box.addButton(proceed, QMessageBox::AcceptRole);
    QPushButton* no = box.addButton(cancel, QMessageBox::RejectRole);
    box.setDefaultButton(no);
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() == go;
}

void DesktopPlatform::prepareStarts(bool terminals) {
    starter_.prepareStarts(terminals);
}

qint64 DesktopPlatform::startBatch(const BatchStart& start) {
    return starter_.startBatch(start);
}

int DesktopPlatform::runDialog(QDialog& dialog) {
    return dialog.exec();
}

QString DesktopPlatform::askSaveFile(const QString& caption, const QString& suggestedName) {
    return QFileDialog::getSaveFileName(nullptr, caption, suggestedName);
}

void DesktopPlatform::notify(const QString& summary, const QString& body) {
    // The freedesktop notification service, asked without waiting for its answer: a
    // desktop without one, or without a session bus, shows nothing.
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    call << QStringLiteral("Corvane") << 0u << QStringLiteral("corvane") << summary << body
         << QStringList() << QVariantMap() << -1;
    bus.send(call);  // its answer, the notice's number, is of no use here
}

void DesktopPlatform::openWebPage(const QUrl& url) {
    QDesktopServices::openUrl(url);
}

QDateTime DesktopPlatform::now() {
    return QDateTime::currentDateTime();
}

void DesktopPlatform::repaint(QWidget& widget) {
    widget.update();
}
