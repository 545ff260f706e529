#include "platform/platform.h"

#include <QEventLoop>
#include <QTimer>
#include <exception>
#include <new>

#include "common/app_info.h"
#include "common/errors.h"

QString failureText(const std::exception& error) {
    if (const auto* operation = dynamic_cast<const OperationError*>(&error))
        return operation->message();
    if (dynamic_cast<const std::bad_alloc*>(&error))
        return QStringLiteral("The operation ran out of memory and was stopped.");
    return QStringLiteral("The operation failed: %1").arg(QString::fromLocal8Bit(error.what()));
}

void runHandler(Platform& platform, const std::function<void()>& handler) {
    QString failure;
    try {
        handler();
        return;
    } catch (const std::exception& error) {
        failure = failureText(error);
    }
    platform.showMessage(kApplicationTitle, failure);
}

void Pause::wait(int milliseconds) {
    QEventLoop loop;
    loop_ = &loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(milliseconds);
    loop.exec();
    loop_ = nullptr;
}

void Pause::interrupt() {
    if (loop_)
        loop_->quit();
}
