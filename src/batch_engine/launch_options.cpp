#include "batch_engine/launch_options.h"

#include <QSettings>

#include "common/errors.h"

namespace {

const QString kMaxRunning = QStringLiteral("launch/maxRunning");
const QString kTimeout = QStringLiteral("launch/timeoutSeconds");
const QString kTerminals = QStringLiteral("launch/terminals");
const QString kKeepLaunches = QStringLiteral("history/keepLaunches");

int numberIn(const QSettings& settings, const QString& key, int limit, int fallback) {
    bool number = false;
    const int value = settings.value(key).toString().trimmed().toInt(&number);
    return number && value >= 0 && value <= limit ? value : fallback;
}

}  // namespace

LaunchOptions readLaunchOptions(const QString& path) {
    const QSettings settings(path, QSettings::IniFormat);
    LaunchOptions options;
    options.maxRunning =
        numberIn(settings, kMaxRunning, LaunchOptions::kMaxRunningLimit, options.maxRunning);
    options.timeoutSeconds =
        numberIn(settings, kTimeout, LaunchOptions::kTimeoutLimit, options.timeoutSeconds);
    const int keep = numberIn(settings, kKeepLaunches, LaunchOptions::kKeepLaunchesLimit, 0);
    if (keep > 0)
        options.keepLaunches = keep;
    const QString terminals = settings.value(kTerminals).toString().trimmed().toLower();
    if (terminals == u"true" || terminals == u"false")
        options.terminals = terminals == u"true";
    return options;
}

void writeLaunchOptions(const QString& path, const LaunchOptions& options) {
    QSettings settings(path, QSettings::IniFormat);
    settings.setValue(kMaxRunning, options.maxRunning);
    settings.setValue(kTimeout, options.timeoutSeconds);
    settings.setValue(kTerminals, options.terminals);
    settings.setValue(kKeepLaunches, options.keepLaunches);
    settings.sync();
    if (settings.status() != QSettings::NoError) {
        throw OperationError(
            QStringLiteral("Cannot write the options to %1: the file cannot be written.")
                .arg(path));
    }
}
