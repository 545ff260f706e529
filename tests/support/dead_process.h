#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <QtGlobal>

// A process id that no process has any more: a child that has ended and been reaped.
inline qint64 deadProcessId() {
    const pid_t child = fork();
    if (child == 0)
        _exit(0);
    waitpid(child, nullptr, 0);
    return child;
}
