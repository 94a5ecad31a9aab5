#pragma once
// Everything a playback test drives by hand, installed for its lifetime: the Manual backend
// (16 frames of latency), a clock that moves only when told, the timer service on that clock
// and a GUI queue. Step renders a millisecond, moves the clock and runs what fell due.
#include <gtest/gtest.h>

#include "audiobackend.h"
#include "clock.h"
#include "dispatch.h"
#include "manualbackend.h"
#include "timerservice.h"

namespace vant {

struct PlaybackRig {
  PlaybackRig() {
    SetClock(&clock);
    SetTimerService(&service);
    SetDispatcher(&gui);
    audio::SetBackend(&backend);
    backend.SetLatencyFrames(16);
  }
  ~PlaybackRig() {
    audio::SetBackend(nullptr);
    SetDispatcher(nullptr);
    SetTimerService(nullptr);
    SetClock(nullptr);
  }
  // `ms` milliseconds of `frames_per_ms` frames each; the GUI queue runs after each.
  void Step(int ms, int frames_per_ms) {
    for (int i = 0; i < ms; ++i) {
      backend.Render(frames_per_ms);
      clock.AdvanceMillis(1);
      ASSERT_TRUE(service.Settle());
      gui.ProcessMessages();
    }
  }

  ManualClock clock;
  ThreadTimerService service{clock};
  QueueDispatcher gui;
  audio::ManualBackend backend;
};

}  // namespace vant
