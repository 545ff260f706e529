#pragma once

#include <QLatin1StringView>

// Every line the program writes ends in the platform's own line end, so that the
// shell that runs a batch file sees no stray carriage return.
#ifdef Q_OS_WIN
inline constexpr QLatin1StringView kLineEnd{"\r\n"};
#else
inline constexpr QLatin1StringView kLineEnd{"\n"};
#endif
