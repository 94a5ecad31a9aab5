// The converter playing the sample with both meters and the position timer running, on SDL's
// driver of the environment (dummy by default): process CPU per second of audio. VANT_BENCH_SECONDS
// sets the length of the run (20 s by default here).
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <filesystem>
#include <memory>

#include "aabcresources.h"
#include "bsplash.h"
#include "bwfmainaa.h"
#include "comresources.h"
#include "dispatch.h"
#include "mmplayer.h"
#include "mmwavefile.h"
#include "playerlink.h"
#include "progform.h"
#include "ui_application.h"
#include "verformaa.h"

namespace fs = std::filesystem;
using namespace vant;

namespace {

double ProcessCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  auto sec = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return sec(u.ru_utime) + sec(u.ru_stime);
}

void BM_ConverterPlays(benchmark::State& state) {
  const char* s = std::getenv("VANT_BENCH_SECONDS");
  const int seconds = s && std::atoi(s) > 0 ? std::atoi(s) : 20;
  char pattern[] = "/tmp/vant-bench-XXXXXX";
  if (!mkdtemp(pattern)) {
    state.SkipWithError("no temporary folder");
    return;
  }
  const fs::path dir = pattern;
  setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
  setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
  const fs::path sample = dir / "commercial.wav";
  fs::copy_file(fs::path(VANT_SOURCE_DIR) / "resources/samples/commercial.wav", sample);
  Application->Initialize();
  RegisterAudioFileReaders();
  for (auto _ : state) {
    TComDataRes com(nullptr);
    TAABCDataRes aabc(nullptr);
    TVANTSplash splash(nullptr);
    TVersionConv version(nullptr);
    TPROGForm progress(nullptr);
    progress.DoCreate();
    TMOPlayer player(nullptr);
    orlune::TMOPlayerLink link(player);
    TVANTMainAA::CommandLine = {sample.string()};
    auto w = std::make_unique<TVANTMainAA>(nullptr);
    w->ProgressForm = &progress;
    w->DoCreate();
    w->SetPlayer(&link);
    w->Show();
    w->FormActivate(w.get());
    Application->ProcessMessages();
    w->BTValumeMouseDown(58, 12);

    const double cpu0 = ProcessCpuSeconds();
    double audio_ms = 0;
    int32_t last = 0;
    while (audio_ms + last < seconds * 1000.0) {
      if (link.GetState() == 0) {
        audio_ms += last;
        last = 0;
        w->ExecPlayerButton(18);  // from START, the file's beginning
      }
      GetDispatcher().WaitForMessages(10);
      Application->ProcessMessages();
      if (link.GetState() != 0) last = std::max(last, player.MMAudioPlayer->GetPosition());
    }
    const double cpu = ProcessCpuSeconds() - cpu0;
    audio_ms += last;
    w->ExecPlayerButton(2);
    state.counters["cpu_pct_core"] = 100.0 * cpu / (audio_ms / 1000.0);
    state.counters["audio_s"] = audio_ms / 1000.0;
    w.reset();
    Application->ProcessMessages();
  }
  DoneRegisteredAudioFiles();
  std::error_code ec;
  fs::remove_all(dir, ec);
}

BENCHMARK(BM_ConverterPlays)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
BENCHMARK_MAIN();
