#include "font_warm_up.h"

#include <fontconfig/fontconfig.h>

// Fontconfig sets its configuration up once, atomically; whoever asks second, Qt included,
// finds it there.
FontWarmUp::FontWarmUp() : thread_([] { FcInit(); }) {}

FontWarmUp::~FontWarmUp() {
    wait();
}

void FontWarmUp::wait() {
    if (thread_.joinable())
        thread_.join();
}
