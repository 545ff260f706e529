#include "platform/platform.h"

#include <exception>
#include <new>

#include "common/app_info.h"
#include "common/errors.h"

void runHandler(Platform& platform, const std::function<void()>& handler) {
    QString failure;
    try {
        handler();
        return;
    } catch (const OperationError& error) {
        failure = error.message();
    } catch (const std::bad_alloc&) {
        failure = QStringLiteral("The operation ran out of memory and was stopped.");
    } catch (const std::exception& error) {
        failure =
            QStringLiteral("The operation failed: %1").arg(QString::fromLocal8Bit(error.what()));
    }
    platform.showMessage(kApplicationTitle, failure);
}
