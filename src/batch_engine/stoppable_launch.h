#pragma once

#include "batch_engine/launch_request.h"

// Offers the launch to be stopped for as long as it lives.
class StoppableLaunch {
  public:
    explicit StoppableLaunch(LaunchProgress& progress) : progress_(progress) {
        progress_.setStoppable(true);
    }
    ~StoppableLaunch() { progress_.setStoppable(false); }
    StoppableLaunch(const StoppableLaunch&) = delete;
    StoppableLaunch& operator=(const StoppableLaunch&) = delete;

  private:
    LaunchProgress& progress_;
};
