#include "common/app_info.h"

VersionNumbers programVersion() {
    return {CORVANE_VERSION_MAJOR, CORVANE_VERSION_MINOR, CORVANE_VERSION_PATCH};
}

QString versionText(const VersionNumbers& version) {
    return QStringLiteral("%1.%2.%3").arg(version.major).arg(version.minor).arg(version.revision);
}
