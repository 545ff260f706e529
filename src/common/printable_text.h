#pragma once

#include <QString>
#include <QStringView>

// `text` as it may go to a terminal or a message box: control and format characters
// (ESC, BEL, a tab, C1 controls, bidirectional overrides, line separators) written as
// escapes (`\e`, `\t`, `\x07`, `\u202e`) and the backslash as `\\`, so that a server
// name cannot retitle or clear the administrator's terminal, nor pass for another name.
QString printableText(QStringView text);
