// Real sound: the player plays a file on either device, through SDL's pulse driver or the sound
// server's own library (the default), into a null sink of a sound server the test starts, and
// what the sink's monitor recorded is compared with the file and with the moments the test acted.
// Where no such server can be started the tests fail in CI and are skipped elsewhere.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <vector>

#include "audiobackend.h"
#include "dispatch.h"
#include "mmaudioplayer.h"
#include "mmpcmsup.h"
#include "mmwaveio.h"
#include "pulsebackend.h"
#include "pulsesink.h"
#include "scratchfolder.h"
#include "sdlbackend.h"
#include "sdlplay.h"
#include "soundcheck.h"
#include "testreader.h"

namespace vant {
namespace {

constexpr int kRate = 48000;

// Two unrelated voices, so no lag but the right one correlates; a second and a half unless
// asked for longer.
std::vector<int16_t> Music(double seconds = 1.5) {
  const int frames = static_cast<int>(kRate * seconds);
  std::vector<int16_t> s(2 * static_cast<size_t>(frames));
  for (int i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / kRate;
    const double sweep = std::sin(2 * M_PI * (200 * t + 900 * t * t));
    s[2 * i] = static_cast<int16_t>(6000 * sweep + 3000 * std::sin(2 * M_PI * 443 * t));
    s[2 * i + 1] = static_cast<int16_t>(7000 * std::sin(2 * M_PI * 1234.5 * t) - 2000 * sweep);
  }
  return s;
}

// Parameter: the stream-buffer device; whether the sound server's own library plays (else SDL).
class PlayerOnPulse : public ::testing::TestWithParam<std::tuple<bool, bool>> {};

TEST_P(PlayerOnPulse, WhatTheSinkHeardMatchesTheFile) {
  const auto [dsound, library] = GetParam();
  testing::PulseNullSink sink;
  START_OR_SKIP(sink.Start(kRate, 2));
  setenv("PULSE_SERVER", sink.Server().c_str(), 1);
  setenv("SDL_AUDIODRIVER", "pulseaudio", 1);

  testing::ScratchFolder dir;
  const std::vector<int16_t> music = Music();
  WAVEFORMATEX f{};
  pcmBuildWaveHeader(f, 16, 2, kRate);
  const std::string wave = (dir.path() / "music.wav").string();
  ASSERT_EQ(wioWaveSaveFile(wave, &f, music.data(), static_cast<int64_t>(music.size() * 2)),
            kWioOk);
  const auto recording = dir.path() / "heard.raw";
  ASSERT_TRUE(sink.StartRecording(recording, kRate, 2));

  std::unique_ptr<audio::Backend> backend;
  if (library) {
    backend = audio::PulseBackend::Connect();
    ASSERT_TRUE(backend) << "the server does not answer the library";
  }
  PlayFileOnSdl(wave, dsound, {}, false, std::move(backend));
  sink.StopRecording();

  std::ifstream in(recording, std::ios::binary);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
  std::vector<int16_t> heard(bytes.size() / 2);
  std::memcpy(heard.data(), bytes.data(), heard.size() * 2);
  EXPECT_GE(MatchingShare(music, heard, kRate, 2, 0.99), 0.9);
}

INSTANTIATE_TEST_SUITE_P(Devices, PlayerOnPulse,
                         ::testing::Combine(::testing::Bool(), ::testing::Bool()),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param) ? "Stream" : "WaveOut") +
                                  (std::get<1>(info.param) ? "OnLibrary" : "OnSdl");
                         });

// What a listener hears of the process's default backend: the server's own library, which the
// test's private server answers. Each test records the sink while the player plays a file.
class Listener {
 public:
  // Starts the server (with `daemon_conf` lines in its configuration) and the recording; empty,
  // or why it could not.
  std::string Start(double seconds, const std::string& daemon_conf = "") {
    if (std::string why = sink_.Start(kRate, 2, daemon_conf); !why.empty()) return why;
    setenv("PULSE_SERVER", sink_.Server().c_str(), 1);
    setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
    music_ = Music(seconds);
    WAVEFORMATEX f{};
    pcmBuildWaveHeader(f, 16, 2, kRate);
    wave_ = (dir_.path() / "music.wav").string();
    if (wioWaveSaveFile(wave_, &f, music_.data(), static_cast<int64_t>(music_.size() * 2)) !=
        kWioOk) {
      return "the file could not be written";
    }
    if (!sink_.StartRecording(dir_.path() / "heard.raw", kRate, 2)) return "parec did not record";
    return "";
  }
  const std::string& Wave() const { return wave_; }
  const std::vector<int16_t>& Source() const { return music_; }
  testing::PulseNullSink& Sink() { return sink_; }
  testing::RecordingClock& Clock() { return clock_; }

  // Lets the player run for `ms`, looking at the recording all along.
  void RunFor(QueueDispatcher& gui, int ms) {
    const int64_t end = testing::RecordingClock::NowMicros() + int64_t{ms} * 1000;
    while (testing::RecordingClock::NowMicros() < end) {
      gui.WaitAndProcess(5);
      clock_.Mark();
    }
  }

  // Ends the recording and reads it.
  std::vector<int16_t> Heard() {
    sink_.StopRecording();
    std::ifstream in(dir_.path() / "heard.raw", std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    std::vector<int16_t> heard(bytes.size() / 2);
    std::memcpy(heard.data(), bytes.data(), heard.size() * 2);
    return heard;
  }

 private:
  testing::PulseNullSink sink_;
  testing::RecordingClock clock_{sink_, kRate, 4};
  testing::ScratchFolder dir_;
  std::string wave_;
  std::vector<int16_t> music_;
};

constexpr long kMs = kRate / 1000;

// Normalised correlation of `frames` first-channel frames of the source from `src` and the
// recording from `rec`; 0 where either is silent or out of range.
double Correlation(const std::vector<int16_t>& source, long src, const std::vector<int16_t>& heard,
                   long rec, long frames) {
  if (src < 0 || rec < 0 || 2 * (src + frames) > static_cast<long>(source.size()) ||
      2 * (rec + frames) > static_cast<long>(heard.size())) {
    return 0;
  }
  double xy = 0, xx = 0, yy = 0;
  for (long i = 0; i < frames; ++i) {
    const double x = source[2 * (src + i)], y = heard[2 * (rec + i)];
    xy += x * y;
    xx += x * x;
    yy += y * y;
  }
  return xx > 0 && yy > 0 ? xy / std::sqrt(xx * yy) : 0;
}

// The lag (recording frame less source frame) that best matches 50 ms of the recording from
// `rec`, searched within `range` of `guess`.
long BestLag(const std::vector<int16_t>& source, const std::vector<int16_t>& heard, long rec,
             long guess, long range) {
  long best_lag = guess;
  double best = -1;
  for (long lag = guess - range; lag <= guess + range; ++lag) {
    const double c = Correlation(source, rec - lag, heard, rec, 50 * kMs);
    if (c > best) {
      best = c;
      best_lag = lag;
    }
  }
  return best_lag;
}

long FirstSound(const std::vector<int16_t>& v, long from = 0) {
  for (long i = from; 2 * i + 1 < static_cast<long>(v.size()); ++i) {
    if (v[2 * i] != 0 || v[2 * i + 1] != 0) return i;
  }
  return -1;
}

// Where the sound heard up to `from` stops going on as the file does (it stops, or jumps
// elsewhere), in recording frames, looked for from 20 ms before it; `lag` is set to where it was
// in the file as it stopped. A busy machine's dropout or repeat moves the lag on: where the sound
// still goes on as the file does within 300 ms of where it was, it is the old sound still.
long OldSoundEnds(const std::vector<int16_t>& source, const std::vector<int16_t>& heard, long from,
                  long* lag) {
  const long onset = FirstSound(heard);
  const long guess = BestLag(source, heard, onset + 20 * kMs, onset, 50 * kMs);
  *lag = BestLag(source, heard, from - 80 * kMs, guess, 300 * kMs);
  for (long k = from - 20 * kMs; 2 * k < static_cast<long>(heard.size()); k += kMs) {
    if (Correlation(source, k - *lag, heard, k, 2 * kMs) >= 0.9) continue;
    const long moved = BestLag(source, heard, k, *lag, 300 * kMs);
    if (Correlation(source, k - moved, heard, k, 10 * kMs) < 0.99) return k;
    *lag = moved;
  }
  return static_cast<long>(heard.size() / 2);
}

// A call of the player, placed by readings of the clock just before it and just after it
// returned (RecordingClock readings).
struct Call {
  int64_t began = 0;
  int64_t returned = 0;
  long recorded = 0;  // frames recorded as it began: all mixed before it
};

// Plays the listener's file on the process's default backend and, a second in, makes the call
// `act`, then lets `then` (when given) drive the player; answers when the call was made.
Call PlayAndAct(Listener& listener, bool dsound, const PlayerDriver& act,
                const PlayerDriver& then = {}) {
  Call call;
  PlayFile(
      listener.Wave(), dsound,
      [&](TMMAudioPlayer& player, QueueDispatcher& gui) {
        listener.RunFor(gui, 1000);
        call.recorded = static_cast<long>(listener.Sink().RecordedBytes() / 4);
        call.began = testing::RecordingClock::NowMicros();
        act(player, gui);
        call.returned = testing::RecordingClock::NowMicros();
        if (then) then(player, gui);
        listener.RunFor(gui, 200);
      },
      false, nullptr);
  return call;
}

// What a call promises is measured in recording frames, the sink's own clock, from the frame the
// sink played as the call returned (how long the call took on a busy machine is the scheduler's
// doing), with the margin of one recorder fragment within which the recording places that frame.
constexpr double kPlacedMs = testing::PulseNullSink::kFragmentMs;

// Where the sound heard before a call stopped going on as the file does.
struct Cutoff {
  long returned;  // recording frames
  long ends;
  long lag;         // recording frame less file frame before the call
  double after_ms;  // of the old sound after the call returned
  double early_ms;  // of the old sound cut before the call began (negative: none)
};
Cutoff OldSoundAfter(Listener& listener, const std::vector<int16_t>& heard, const Call& call) {
  Cutoff c{};
  c.returned = listener.Clock().FrameAt(call.returned);
  c.ends = OldSoundEnds(listener.Source(), heard, call.recorded, &c.lag);
  c.after_ms = static_cast<double>(c.ends - c.returned) / kMs;
  // What was recorded before the call began was mixed before it: the old sound goes on through
  // it, to the frame.
  c.early_ms = static_cast<double>(call.recorded - c.ends) / kMs;
  return c;
}

enum class Cut { kPause, kStop, kSeek };

// Parameter: the stream-buffer device; what the listener does a second into the play.
class OnTheServer : public ::testing::TestWithParam<std::tuple<bool, Cut>> {};

// The old sound is heard at most 50 ms after a pause, stop or seek, however deep the server's
// queue; a paused position stands still; the restart goes on where the sound stopped.
TEST_P(OnTheServer, TheSoundStopsAtTheCall) {
  const auto [dsound, cut] = GetParam();
  Listener listener;
  START_OR_SKIP(listener.Start(4));
  constexpr int kSeekMs = 3000;
  int32_t paused = -1, paused_later = -1;
  const Call called = PlayAndAct(
      listener, dsound,
      [&](TMMAudioPlayer& player, QueueDispatcher&) {
        switch (cut) {
          case Cut::kPause:
            player.Pause();
            break;
          case Cut::kStop:
            player.Stop();
            break;
          case Cut::kSeek:
            player.SetPosition(kSeekMs);
            break;
        }
      },
      [&](TMMAudioPlayer& player, QueueDispatcher& gui) {
        if (cut != Cut::kPause) return;
        paused = player.GetPosition();
        listener.RunFor(gui, 400);
        paused_later = player.GetPosition();
        player.Restart();
      });
  const std::vector<int16_t> heard = listener.Heard();
  const Cutoff cutoff = OldSoundAfter(listener, heard, called);
  const long ends = cutoff.ends, lag = cutoff.lag;
  EXPECT_LE(cutoff.after_ms, 50 + kPlacedMs) << "of the old sound after the call returned";
  EXPECT_LE(cutoff.early_ms, 2) << "the sound stopped before the call";
  const long resumed = FirstSound(heard, ends + 20 * kMs);
  switch (cut) {
    case Cut::kPause:
      EXPECT_EQ(paused, paused_later) << "the position moved while paused";
      ASSERT_GT(resumed, 0);
      // The first sample not heard comes next: the file goes on where the sound stopped.
      EXPECT_NEAR(
          BestLag(listener.Source(), heard, resumed + 10 * kMs, resumed - (ends - lag), 50 * kMs),
          resumed - (ends - lag), 10 * kMs);
      break;
    case Cut::kStop:
      EXPECT_EQ(resumed, -1) << "sound after the stop";
      break;
    case Cut::kSeek: {
      // The new place is heard from its first sample, within 50 ms of the call's return.
      long start = -1;
      double best = 0;
      for (long k = ends - 20 * kMs; k < std::max(ends, cutoff.returned) + 300 * kMs; ++k) {
        const double c = Correlation(listener.Source(), kSeekMs * kMs, heard, k, 20 * kMs);
        if (c > best) {
          best = c;
          start = k;
        }
      }
      EXPECT_GT(best, 0.95) << "the new place is not heard from its first sample";
      EXPECT_LE(static_cast<double>(start - cutoff.returned) / kMs, 50 + kPlacedMs)
          << "before the new place is heard";
      break;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Devices, OnTheServer,
                         ::testing::Combine(::testing::Bool(),
                                            ::testing::Values(Cut::kPause, Cut::kStop, Cut::kSeek)),
                         [](const auto& info) {
                           const Cut cut = std::get<1>(info.param);
                           return std::string(std::get<0>(info.param) ? "Stream" : "WaveOut") +
                                  (cut == Cut::kPause  ? "Pause"
                                   : cut == Cut::kStop ? "Stop"
                                                       : "Seek");
                         });

// The end of a play is told with its last sample heard, however deep the server's queue.
class EndOnTheServer : public ::testing::TestWithParam<bool> {};

TEST_P(EndOnTheServer, OnStopComesWithTheLastSample) {
  Listener listener;
  START_OR_SKIP(listener.Start(3));
  setenv("VANT_AUDIO_QUEUE_MS", "1000", 1);
  int64_t stopped = 0;
  PlayFile(
      listener.Wave(), GetParam(),
      [&](TMMAudioPlayer& player, QueueDispatcher& gui) {
        auto told = player.OnStop;
        player.OnStop = [&stopped, told](TObject* sender) {
          stopped = testing::RecordingClock::NowMicros();
          told(sender);
        };
        for (int i = 0; i < 1000 && stopped == 0; ++i) listener.RunFor(gui, 10);
      },
      false, nullptr);
  unsetenv("VANT_AUDIO_QUEUE_MS");
  const std::vector<int16_t> heard = listener.Heard();
  long last = static_cast<long>(heard.size() / 2) - 1;
  while (last > 0 && heard[2 * last] == 0 && heard[2 * last + 1] == 0) --last;
  const double ms = static_cast<double>(listener.Clock().FrameAt(stopped) - last) / kMs;
  EXPECT_LE(std::abs(ms), 100 + kPlacedMs) << "OnStop against the last sample heard";
}

INSTANTIATE_TEST_SUITE_P(Devices, EndOnTheServer, ::testing::Bool(), [](const auto& info) {
  return std::string(info.param ? "Stream" : "WaveOut");
});

// A volume change is heard within 50 ms however deep the server's queue: the volume goes to 0 a
// second into the play, and the sound ends with it.
class VolumeOnTheServer : public ::testing::TestWithParam<bool> {};

TEST_P(VolumeOnTheServer, AChangeIsHeardAtOnce) {
  Listener listener;
  START_OR_SKIP(listener.Start(3));
  const Call called = PlayAndAct(
      listener, GetParam(), [](TMMAudioPlayer& player, QueueDispatcher&) { player.SetVolume(0); });
  const std::vector<int16_t> heard = listener.Heard();
  const Cutoff cutoff = OldSoundAfter(listener, heard, called);
  EXPECT_LE(cutoff.after_ms, 50 + kPlacedMs)
      << "of sound at the old volume after the call returned";
  EXPECT_LE(cutoff.early_ms, 2) << "the sound changed before the call";
  EXPECT_EQ(FirstSound(heard, cutoff.ends + 20 * kMs), -1) << "sound after the volume went to 0";
}

// Plays the listener's file and reads a level of the server (`level`) 0.7 s in and again once
// the player's volume was halved; answers the readings.
std::vector<int> LevelAroundAChange(Listener& listener, bool dsound,
                                    const std::function<int()>& level) {
  std::vector<int> seen;
  PlayFile(
      listener.Wave(), dsound,
      [&](TMMAudioPlayer& player, QueueDispatcher& gui) {
        listener.RunFor(gui, 700);
        seen.push_back(level());
        player.SetVolume(8192);
        listener.RunFor(gui, 300);
        seen.push_back(level());
      },
      false, nullptr);
  return seen;
}

// The program never sets a volume on the server. With flat volumes (a stream's volume moves its
// sink's) a sink the user set to 30 % stays there while the player opens, plays, changes its own
// volume and closes.
TEST_P(VolumeOnTheServer, TheSinkKeepsTheUsersVolume) {
  Listener listener;
  START_OR_SKIP(listener.Start(2, "flat-volumes = yes"));
  testing::PulseNullSink& sink = listener.Sink();
  ASSERT_TRUE(sink.SetVolumePercent(30));
  std::vector<int> seen =
      LevelAroundAChange(listener, GetParam(), [&] { return sink.VolumePercent(); });
  seen.push_back(sink.VolumePercent());
  EXPECT_EQ(seen, std::vector<int>({30, 30, 30})) << "playing, after a change, after the close";
}

// The level the user gave this program in the desktop's mixer, which the server remembers, is
// the one the next play starts with, and the player's own volume changes leave it alone.
TEST_P(VolumeOnTheServer, TheProgramsLevelInTheMixerIsKept) {
  Listener listener;
  START_OR_SKIP(listener.Start(1.5));
  testing::PulseNullSink& sink = listener.Sink();
  sink.LoadModule("module-stream-restore");
  bool set = false;
  PlayFile(
      listener.Wave(), GetParam(),
      [&](TMMAudioPlayer&, QueueDispatcher& gui) {
        listener.RunFor(gui, 300);
        set = sink.SetStreamVolumePercent(50);
      },
      false, nullptr);
  ASSERT_TRUE(set);
  EXPECT_EQ(LevelAroundAChange(listener, GetParam(), [&] { return sink.StreamVolumePercent(); }),
            std::vector<int>({50, 50}))
      << "as the play began, after a change";
}

INSTANTIATE_TEST_SUITE_P(Devices, VolumeOnTheServer, ::testing::Bool(), [](const auto& info) {
  return std::string(info.param ? "Stream" : "WaveOut");
});

// The sound does not hang on the player's process being run in time: a process stopped for
// 400 ms mid-play (as a loaded machine may leave it unscheduled) leaves no gap.
TEST(OnTheServerStalled, NoGapWhileTheProcessStands) {
  Listener listener;
  START_OR_SKIP(listener.Start(3));
  std::string wave = listener.Wave();
  char* argv[] = {const_cast<char*>(PLAY_FILE), wave.data(), nullptr};
  pid_t child = -1;
  ASSERT_EQ(posix_spawn(&child, PLAY_FILE, nullptr, nullptr, argv, environ), 0);
  // Once the sound is heard, a second on, the child stands still for 400 ms.
  const int64_t bound = testing::RecordingClock::NowMicros() + 10'000'000;
  bool sounding = false;
  while (!sounding && testing::RecordingClock::NowMicros() < bound) {
    usleep(5000);
    std::ifstream in(std::filesystem::path(listener.Wave()).parent_path() / "heard.raw",
                     std::ios::binary);
    in.seekg(-4096, std::ios::end);
    std::vector<char> tail(4096);
    in.read(tail.data(), 4096);
    sounding = std::any_of(tail.begin(), tail.begin() + in.gcount(), [](char c) { return c; });
  }
  ASSERT_TRUE(sounding);
  usleep(1'000'000);
  kill(child, SIGSTOP);
  usleep(400'000);
  kill(child, SIGCONT);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  const std::vector<int16_t> heard = listener.Heard();
  const long first = FirstSound(heard);
  long last = static_cast<long>(heard.size() / 2) - 1;
  while (last > first && heard[2 * last] == 0 && heard[2 * last + 1] == 0) --last;
  int gaps = 0;
  for (long i = first, run = 0; i <= last; ++i) {
    run = heard[2 * i] == 0 && heard[2 * i + 1] == 0 ? run + 1 : 0;
    if (run == 2 * kMs) ++gaps;
  }
  EXPECT_EQ(gaps, 0) << "runs of 2 ms of silence inside the play";
  EXPECT_GE(MatchingShare(listener.Source(), heard, kRate, 2, 0.99), 0.9);
}

}  // namespace
}  // namespace vant
