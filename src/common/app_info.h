#pragma once

#include <QString>

// The program's short title: caption of message boxes and part of the About caption.
inline const QString kApplicationTitle = QStringLiteral("Corvane");

struct VersionNumbers {
    int major = 0;
    int minor = 0;
    int revision = 0;
};

// The numbers of this build, taken from the build's project version.
VersionNumbers programVersion();

// "2.10.7" for 2, 10 and 7.
QString versionText(const VersionNumbers& version);
