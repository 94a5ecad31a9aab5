// The audio file's pull through its stages with a fade list active against a plain read, and
// the pitch stage's resampling against libswresample by the same ratio.
#include <benchmark/benchmark.h>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "mmaudiofile.h"
#include "mmpcmsup.h"
#include "mmpitch.h"
#include "mmwavefmt.h"
#include "mmwaveio.h"

namespace {

constexpr uint32_t kRate = 48000;
constexpr int64_t kBytes = int64_t{kRate} * 4 * 60;
constexpr int32_t kBuffer = 16000;

WAVEFORMATEX Stereo16() { return {WAVE_FORMAT_PCM, 2, kRate, kRate * 4, 4, 16, 0}; }

std::vector<uint8_t> Minute() {
  std::vector<uint8_t> v(static_cast<size_t>(kBytes));
  for (size_t i = 0; i < v.size(); i += 2) {
    const auto s = static_cast<int16_t>(12000 * std::sin(double(i) / 37.0));
    std::memcpy(&v[i], &s, 2);
  }
  return v;
}

const std::string& MinuteFile() {
  static const std::string path = [] {
    const std::string p =
        (std::filesystem::temp_directory_path() / "vant-bench-minute.wav").string();
    const WAVEFORMATEX f = Stereo16();
    const std::vector<uint8_t> data = Minute();
    wioWaveSaveFile(p, &f, data.data(), kBytes);
    return p;
  }();
  return path;
}

// A reader that streams the file through the wave I/O layer, as a file reader does.
class StreamReader : public TMMCustomFile {
 public:
  explicit StreamReader(vant::TComponent* owner) : TMMCustomFile(owner) {
    PublishLinks(false, true);
    SetFileType(ftWave);
  }
  static bool IsValidFile(const std::string& name, const TMMDecryptProc&, int32_t, TMMDecryptMode) {
    return wioIsWaveFile(name, kWioFile);
  }
  static std::string GetFilter() { return "Wave Files(*.wav)|*.wav"; }

  int32_t GetOptimalReadSize() override { return kBuffer; }
  bool GetEmpty() override { return !cb_; }
  int32_t GetPlayTime() override {
    return cb_ ? static_cast<int32_t>(wioBytesToTimeEx(cb_.get(), cb_->dwDataBytes)) : 0;
  }
  std::string GetFileName() override { return name_; }
  void SetFileName(const std::string& name) override {
    cb_.reset();
    name_ = name;
    if (name.empty()) return;
    if (wioReadFileInfo(cb_, name, kWaveForm, kWioFile) != kWioOk || wioWaveOpen(cb_.get()) != 0) {
      throw EMMAudioError("cannot open " + name);
    }
    SetPWaveFormat(cb_->wfx.get());
  }
  int64_t GetPosition() override { return 0; }
  void SetPosition(int64_t) override {}
  int32_t GetPositionMs() override { return 0; }
  void SetPositionMs(int32_t ms) override {
    if (cb_) wioWaveSetPosition(cb_.get(), wioTimeToSamplesEx(cb_.get(), ms));
  }
  void BufferLoad(PMMWaveHdr h, bool& more) override {
    const int64_t n = wioWaveReadData(cb_.get(), h->wh.lpData, h->wh.dwBufferLength);
    h->wh.dwBytesRecorded = static_cast<uint32_t>(std::max<int64_t>(n, 0));
    more = n > 0;
  }

 private:
  std::string name_;
  PWAVEIOCB cb_;
};

void Rate(benchmark::State& state) {
  state.counters["MB_per_s"] =
      benchmark::Counter(double(kBytes) * state.iterations() / 1e6, benchmark::Counter::kIsRate);
}

void BM_PlainRead(benchmark::State& state) {
  std::vector<char> buf(kBuffer);
  for (auto _ : state) {
    PWAVEIOCB cb;
    wioReadFileInfo(cb, MinuteFile(), kWaveForm, kWioFile);
    wioWaveOpen(cb.get());
    int64_t total = 0, n;
    while ((n = wioWaveReadData(cb.get(), buf.data(), kBuffer)) > 0) total += n;
    if (total != kBytes) state.SkipWithError("short read");
    benchmark::DoNotOptimize(buf.data());
  }
  Rate(state);
}
BENCHMARK(BM_PlainRead)->Unit(benchmark::kMillisecond);

void BM_AudioFileChain(benchmark::State& state) {
  DoRegisterCustomAudioFile(FileClassOf<StreamReader>("StreamReader"), 5);
  std::vector<char> buf(kBuffer);
  TMMAudioFile file(nullptr);
  file.SetFileName(MinuteFile());
  file.SetFadeInDuration(5000);
  file.SetFadeOutDuration(5000);
  // Arg 1: a volume other than unity and panning, so every sample is scaled.
  if (state.range(0) == 1) {
    file.SetVolume(20000);
    file.SetPanning(-8000);
  }
  for (auto _ : state) {
    file.SetPosition(0);
    file.OpenFile(kBuffer);
    file.StartFile();
    int64_t total = 0;
    bool more = true;
    int32_t n;
    while ((n = file.ReadFileData(buf.data(), kBuffer, more)) > 0) total += n;
    file.StopFile();
    file.CloseFile();
    if (total != kBytes + 4) state.SkipWithError("short read");
    benchmark::DoNotOptimize(buf.data());
  }
  Rate(state);
  DoneRegisteredAudioFiles();
}
BENCHMARK(BM_AudioFileChain)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Pitch 10: the step of the pitch stage, and the output rate that ratio means.
uint32_t PitchStep() {
  TMMPitch p(nullptr);
  p.SetPitch(10);
  return p.GetStep();
}

void BM_SwrResample(benchmark::State& state) {
  const std::vector<uint8_t> in = Minute();
  const int out_rate = static_cast<int>(std::lround(double(kRate) * 65536 / PitchStep()));
  std::vector<uint8_t> out(size_t(kBuffer) * 2);
  AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
  for (auto _ : state) {
    SwrContext* swr = nullptr;
    swr_alloc_set_opts2(&swr, &stereo, AV_SAMPLE_FMT_S16, out_rate, &stereo, AV_SAMPLE_FMT_S16,
                        kRate, 0, nullptr);
    swr_init(swr);
    for (int64_t pos = 0; pos < kBytes; pos += kBuffer) {
      const uint8_t* src = in.data() + pos;
      uint8_t* dst = out.data();
      swr_convert(swr, &dst, kBuffer / 4 * 2, &src, kBuffer / 4);
    }
    swr_free(&swr);
    benchmark::DoNotOptimize(out.data());
  }
  Rate(state);
}
BENCHMARK(BM_SwrResample)->Unit(benchmark::kMillisecond);

void BM_PitchChange(benchmark::State& state) {
  const std::vector<uint8_t> in = Minute();
  const WAVEFORMATEX f = Stereo16();
  const uint32_t step = PitchStep();
  std::vector<uint8_t> out(size_t(kBuffer) * 2);
  for (auto _ : state) {
    uint32_t fraction = 0;
    for (int64_t pos = 0; pos < kBytes; pos += kBuffer) {
      int64_t source = kBuffer, target = int64_t(out.size());
      pcmPitchChange(&f, in.data() + pos, out.data(), source, target, fraction, step);
    }
    benchmark::DoNotOptimize(out.data());
  }
  Rate(state);
}
BENCHMARK(BM_PitchChange)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
