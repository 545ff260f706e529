#include "platform/platform.h"

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
