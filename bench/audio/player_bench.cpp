// The player on either playback device, as the programs set it up: cost per second of audio,
// and how late a played buffer is reported after its end was heard.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <vector>

#include "audiobackend.h"
#include "dispatch.h"
#include "mmaudioplayer.h"
#include "mmpcmsup.h"
#include "mmwaveio.h"
#include "playbench.h"
#include "sdlbackend.h"
#include "testreader.h"

namespace {

using namespace vant::bench;

void PlayerRun(benchmark::State& state, bool use_dsound) {
  const int seconds = Seconds();
  const std::vector<char> sound = Sound(static_cast<size_t>(seconds) * kBytesPerSecond);
  const auto wave = std::filesystem::temp_directory_path() / "vant-player-bench.wav";
  WAVEFORMATEX f{};
  pcmBuildWaveHeader(f, 16, 2, kRate);
  if (wioWaveSaveFile(wave.string(), &f, sound.data(), static_cast<int64_t>(sound.size())) !=
      kWioOk) {
    state.SkipWithError("no scratch file");
    return;
  }
  DoRegisterCustomAudioFile(FileClassOf<TestWaveReader>("TestWaveReader"), 5);
  for (auto _ : state) {
    vant::QueueDispatcher gui;
    vant::SetDispatcher(&gui);
    vant::audio::SdlBackend backend;
    vant::audio::SetBackend(&backend);
    {
      TMMAudioPlayer player(nullptr);
      player.SetUseDSound(use_dsound);
      player.SetBufferSize(16000);
      player.SetNumBuffers(10);
      player.SetFileName(wave.string());
      bool stopped = false;
      player.OnStop = [&](vant::TObject*) { stopped = true; };
      int64_t done_bytes = 0;
      std::vector<double> lags;
      player.OnData = [&](vant::TObject*, PMMWaveHdr h) {
        done_bytes += h->wh.dwBytesRecorded;
        const double done_ms = 1000.0 * static_cast<double>(done_bytes) / kBytesPerSecond;
        lags.push_back(player.GetPosition() - done_ms);
      };
      const double cpu0 = ProcessCpuSeconds();
      try {
        player.Play();
      } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        break;
      }
      for (int i = 0; i < seconds * 100 + 1000 && !stopped; ++i) gui.WaitAndProcess(10);
      const double cpu = ProcessCpuSeconds() - cpu0;
      player.Stop();
      Report(state, cpu, seconds, lags);
    }
    vant::audio::SetBackend(nullptr);
    vant::SetDispatcher(nullptr);
  }
  DoneRegisteredAudioFiles();
  std::filesystem::remove(wave);
}

void BM_PlayerWaveOut(benchmark::State& state) { PlayerRun(state, false); }
void BM_PlayerStreamBuffer(benchmark::State& state) { PlayerRun(state, true); }

BENCHMARK(BM_PlayerWaveOut)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_PlayerStreamBuffer)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
