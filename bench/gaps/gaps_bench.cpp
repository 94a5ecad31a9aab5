// Gaps in the sound on a loaded machine. The sample is played VANT_BENCH_PLAYS times (20 by
// default) into the null sink of a private sound server while twice as many busy processes as
// cores run, and the sink's monitor is recorded. A gap is a run of at least 2 ms of digital
// silence inside a play: the sample has none, and a client that falls behind leaves exactly that
// in the sink. Cases, in one run: paplay (the reference), the player on SDL with the 20 ms
// queue it once asked for and with SDL's own 100 ms, the player as the programs play now (on the
// sound server's own library), and the player on its second device, the stream buffer.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "audiobackend.h"
#include "dispatch.h"
#include "heard.h"
#include "mmaudioplayer.h"
#include "mmwavefile.h"
#include "pulsesink.h"
#include "sdlbackend.h"

namespace {

namespace fs = std::filesystem;

using namespace vant::bench;

constexpr int kRate = kHeardRate;
constexpr int kBetweenPlaysMs = 500;

int Plays() {
  const char* s = std::getenv("VANT_BENCH_PLAYS");
  const int v = s ? std::atoi(s) : 20;
  return v > 0 ? v : 20;
}

fs::path Sample() { return fs::path(VANT_SOURCE_DIR) / "resources/samples/commercial.wav"; }

void WaitMs(vant::QueueDispatcher& gui, int ms) {
  for (int i = 0; i < ms / 10; ++i) gui.WaitAndProcess(10);
}

// `on_sdl`: on SDL's pulse driver rather than the process's default backend.
bool PlayWithPlayer(int plays, bool use_dsound, bool on_sdl, std::string* why) {
  vant::QueueDispatcher gui;
  vant::SetDispatcher(&gui);
  std::unique_ptr<vant::audio::Backend> backend;
  if (on_sdl) backend = std::make_unique<vant::audio::SdlBackend>();
  vant::audio::SetBackend(backend.get());
  RegisterAudioFileReaders();
  bool ok = true;
  {
    // As the converter's player window sets it up.
    TMMAudioPlayer player(nullptr);
    player.SetUseDSound(use_dsound);
    player.SetBufferSize(16000);
    player.SetNumBuffers(10);
    player.SetVolume(32768 / 2);
    player.SetFileName(Sample().string());
    int stops = 0;
    player.OnStop = [&](vant::TObject*) { ++stops; };
    for (int p = 0; p < plays && ok; ++p) {
      try {
        player.Play();
      } catch (const std::exception& e) {
        *why = e.what();
        ok = false;
        break;
      }
      // A safety bound for a real-time driver.
      for (int i = 0; i < 3000 && stops == p; ++i) gui.WaitAndProcess(10);
      if (stops != p + 1) {
        *why = "a play did not end";
        ok = false;
      }
      WaitMs(gui, kBetweenPlaysMs);
    }
  }
  DoneRegisteredAudioFiles();
  vant::audio::SetBackend(nullptr);
  backend.reset();
  vant::SetDispatcher(nullptr);
  return ok;
}

enum Case { kPaplay = 0, kSdlShortQueue = 1, kSdl = 2, kPlayer = 3, kStreamPlayer = 4 };

void BM_GapsUnderLoad(benchmark::State& state) {
  const int plays = Plays();
  for (auto _ : state) {
    vant::testing::PulseNullSink sink;
    if (const std::string why = sink.Start(kRate, 1); !why.empty()) {
      state.SkipWithError(why.c_str());
      return;
    }
    setenv("PULSE_SERVER", sink.Server().c_str(), 1);
    setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
    if (state.range(0) == kSdlShortQueue) {
      setenv("VANT_AUDIO_QUEUE_MS", "20", 1);
    } else {
      unsetenv("VANT_AUDIO_QUEUE_MS");
    }
    char pattern[] = "/tmp/vant-gaps-XXXXXX";
    if (!mkdtemp(pattern)) {
      state.SkipWithError("no temporary folder");
      return;
    }
    const fs::path raw = fs::path(pattern) / "heard.raw";
    if (!sink.StartRecording(raw, kRate, 1)) {
      state.SkipWithError("parec could not be started");
      return;
    }
    std::string why;
    bool ok;
    size_t busy;
    {
      Load load;
      busy = load.Size();
      ok = state.range(0) == kPaplay
               ? PlayWithPaplay(Sample().string(), plays, kBetweenPlaysMs, &why)
               : PlayWithPlayer(plays, state.range(0) == kStreamPlayer,
                                state.range(0) == kSdlShortQueue || state.range(0) == kSdl, &why);
    }
    sink.StopRecording();
    unsetenv("VANT_AUDIO_QUEUE_MS");
    const std::vector<int16_t> rec = ReadRaw(raw.string());
    std::error_code ec;
    fs::remove_all(pattern, ec);
    if (!ok) {
      state.SkipWithError(why.c_str());
      return;
    }
    const Findings f = Analyse(rec);
    state.counters["busy_processes"] = static_cast<double>(busy);
    state.counters["plays_heard"] = f.plays;
    state.counters["gaps"] = f.gaps;
    state.counters["gap_ms_longest"] = f.longest_ms;
    state.counters["gap_ms_total"] = f.total_ms;
  }
}

BENCHMARK(BM_GapsUnderLoad)
    ->ArgName("case")
    ->Arg(kPaplay)
    ->Arg(kSdlShortQueue)
    ->Arg(kSdl)
    ->Arg(kPlayer)
    ->Arg(kStreamPlayer)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
