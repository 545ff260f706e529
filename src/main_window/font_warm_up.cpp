#include "font_warm_up.h"

#include <fontconfig/fontconfig.h>
#include <sys/resource.h>
#include <unistd.h>

// Fontconfig sets its configuration up once, atomically; whoever asks second, Qt included,
// finds it there. The reading runs while the application connects to the display, when the
// X server and the window manager need a processor too: at the lowest priority (a thread's
// own on Linux) it takes only what they leave free.
FontWarmUp::FontWarmUp()
    : thread_([] {
          setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 19);
          FcInit();
      }) {}

FontWarmUp::~FontWarmUp() {
    wait();
}

void FontWarmUp::wait() {
    if (thread_.joinable())
        thread_.join();
}
