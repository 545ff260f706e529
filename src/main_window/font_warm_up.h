#pragma once

#include <thread>

// The first font the program asks for makes fontconfig read its configuration and font
// cache: a good part of the time to the first window. Started before the application
// connects to the display, that reading is done on a thread of its own meanwhile, and
// wait() before the window is built has it ready for the window's fonts.
class FontWarmUp {
  public:
    FontWarmUp();
    ~FontWarmUp();
    FontWarmUp(const FontWarmUp&) = delete;
    FontWarmUp& operator=(const FontWarmUp&) = delete;

    void wait();

  private:
    std::thread thread_;
};
