// Cost of playing through the wave-out layer against a bare SDL callback, and how late a
// completion arrives after the end of its header was heard.
#include <SDL2/SDL.h>
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "audiobackend.h"
#include "dispatch.h"
#include "mmpcmsup.h"
#include "mmwaveout.h"
#include "playbench.h"
#include "sdlbackend.h"
#include "waveout.h"

namespace {

using namespace vant::audio;
using namespace vant::bench;

void BM_SdlCallbackOnly(benchmark::State& state) {
  const int seconds = Seconds();
  const std::vector<char> sound = Sound(static_cast<size_t>(seconds) * kBytesPerSecond);
  struct Play {
    const std::vector<char>* sound;
    std::atomic<size_t> pos{0};
  } play{&sound};
  for (auto _ : state) {
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
      state.SkipWithError("no SDL audio");
      return;
    }
    SDL_AudioSpec want{};
    want.freq = kRate;
    want.format = AUDIO_S16LSB;
    want.channels = 2;
    want.samples = 1024;
    want.userdata = &play;
    want.callback = [](void* user, Uint8* out, int len) {
      auto* p = static_cast<Play*>(user);
      const size_t at = p->pos.load();
      const size_t n = std::min<size_t>(len, p->sound->size() - at);
      std::memcpy(out, p->sound->data() + at, n);
      std::memset(out + n, 0, len - n);
      p->pos = at + n;
    };
    SDL_AudioSpec have{};
    const SDL_AudioDeviceID id = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    const double cpu0 = ProcessCpuSeconds();
    SDL_PauseAudioDevice(id, 0);
    while (play.pos.load() < sound.size()) SDL_Delay(50);
    const double cpu = ProcessCpuSeconds() - cpu0;
    SDL_CloseAudioDevice(id);
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    state.counters["cpu_pct_core"] = 100.0 * cpu / seconds;
  }
}

void BM_WaveOutLayer(benchmark::State& state) {
  const int seconds = Seconds();
  const std::vector<char> sound = Sound(static_cast<size_t>(seconds) * kBytesPerSecond);
  constexpr int kHeaders = 10;
  constexpr uint32_t kHeaderBytes = 16000;
  for (auto _ : state) {
    SdlBackend backend;
    SetBackend(&backend);
    std::mutex mutex;
    std::condition_variable cv;
    size_t next = 0, done_bytes = 0, returned = 0;
    std::vector<double> lags;
    std::vector<WaveHdr> hdrs(kHeaders);
    HWAVEOUT h = nullptr;
    // Refills on the driver thread, as the completion comes.
    auto refill = [&](WaveHdr* hdr) {
      if (next >= sound.size()) return false;
      const uint32_t n = static_cast<uint32_t>(std::min<size_t>(kHeaderBytes, sound.size() - next));
      hdr->lpData = const_cast<char*>(sound.data() + next);
      hdr->dwBufferLength = n;
      next += n;
      return waveOutWrite(h, hdr) == MMSYSERR_NOERROR;
    };
    const WaveFormatEx f{vant::audio::WAVE_FORMAT_PCM, 2, kRate, kBytesPerSecond, 4, 16, 0};
    const double cpu0 = ProcessCpuSeconds();
    const MMRESULT r = waveOutOpen(
        &h, 0, &f,
        [&](HWAVEOUT dev, uint32_t msg, WaveHdr* hdr) {
          if (msg != MM_WOM_DONE) return;
          MMTime t;
          t.wType = TIME_BYTES;
          waveOutGetPosition(dev, &t);
          std::lock_guard lock(mutex);
          done_bytes += hdr->dwBufferLength;
          lags.push_back(1000.0 * (static_cast<double>(t.value) - done_bytes) / kBytesPerSecond);
          ++returned;
          refill(hdr);
          cv.notify_all();
        },
        CALLBACK_FUNCTION);
    if (r != MMSYSERR_NOERROR) {
      state.SkipWithError("no wave-out device");
      SetBackend(nullptr);
      return;
    }
    {
      std::lock_guard lock(mutex);
      for (WaveHdr& hdr : hdrs) {
        hdr = WaveHdr{};
        waveOutPrepareHeader(h, &hdr);
        refill(&hdr);
      }
    }
    const size_t total = (sound.size() + kHeaderBytes - 1) / kHeaderBytes;
    {
      std::unique_lock lock(mutex);
      cv.wait_for(lock, std::chrono::seconds(seconds * 2 + 10), [&] { return returned >= total; });
    }
    waveOutReset(h);
    waveOutClose(h);
    const double cpu = ProcessCpuSeconds() - cpu0;
    SetBackend(nullptr);
    Report(state, cpu, seconds, lags);
  }
}

// The head of the chain: hands out the sound in the sizes the device asks for.
class SoundSource : public TMMDSPComponent {
 public:
  SoundSource(const std::vector<char>& sound, const WAVEFORMATEX& f)
      : TMMDSPComponent(nullptr), sound_(sound) {
    PublishLinks(false, true);
    SetPWaveFormat(&f);
  }
  void BufferLoad(PMMWaveHdr h, bool& more) override {
    const size_t n = std::min<size_t>(h->wh.dwBufferLength, sound_.size() - pos_);
    std::memcpy(h->wh.lpData, sound_.data() + pos_, n);
    pos_ += n;
    h->wh.dwBytesRecorded = static_cast<uint32_t>(n);
    more = pos_ < sound_.size();
  }

 private:
  const std::vector<char>& sound_;
  size_t pos_ = 0;
};

// The player's setup: 10 buffers of 16,000 bytes, completions handled on the GUI thread (this
// thread, running the queue as a program's message loop would).
void BM_WaveOutChain(benchmark::State& state) {
  const int seconds = Seconds();
  const std::vector<char> sound = Sound(static_cast<size_t>(seconds) * kBytesPerSecond);
  for (auto _ : state) {
    vant::QueueDispatcher gui;
    vant::SetDispatcher(&gui);
    SdlBackend backend;
    SetBackend(&backend);
    {
      WAVEFORMATEX f{};
      pcmBuildWaveHeader(f, 16, 2, kRate);
      SoundSource source(sound, f);
      TMMWaveOut out(nullptr);
      out.SetBufferSize(16000);
      out.SetTimeFormat(tfByte);
      out.SetInput(&source);
      bool stopped = false;
      out.OnStop = [&](vant::TObject*) { stopped = true; };
      uint64_t done_bytes = 0;
      std::vector<double> lags;
      out.OnBufferReady = [&](vant::TObject*, PMMWaveHdr h) {
        done_bytes += h->wh.dwBytesRecorded;
        const int64_t heard = out.GetPosition();
        lags.push_back(1000.0 * (static_cast<double>(heard) - done_bytes) / kBytesPerSecond);
      };
      const double cpu0 = ProcessCpuSeconds();
      try {
        out.Start();
      } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        break;
      }
      for (int i = 0; i < seconds * 100 + 1000 && !stopped; ++i) gui.WaitAndProcess(10);
      out.Close();
      const double cpu = ProcessCpuSeconds() - cpu0;
      Report(state, cpu, seconds, lags);
    }
    SetBackend(nullptr);
    vant::SetDispatcher(nullptr);
  }
}

BENCHMARK(BM_SdlCallbackOnly)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_WaveOutLayer)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_WaveOutChain)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
