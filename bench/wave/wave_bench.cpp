// The wave object's reading and saving beside plain reads and a synced cp of the same file.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "mmdspcomponent.h"
#include "mmpcmsup.h"
#include "mmwave.h"

namespace fs = std::filesystem;

namespace {

constexpr int64_t kRate = 48000;
constexpr int64_t kSeconds = 600;
constexpr int64_t kDataBytes = kRate * kSeconds * 4;

struct Files {
  Files() {
    dir = fs::temp_directory_path() / ("vant-bench-wave-" + std::to_string(getpid()));
    fs::create_directories(dir);
    source = (dir / "source.wav").string();
    target = (dir / "target.wav").string();
    WAVEFORMATEX f{};
    pcmBuildWaveHeader(f, 16, 2, int(kRate));
    TMMWave w;
    w.CreateFile(source, &f);
    std::vector<uint8_t> second(size_t(kRate * 4));
    for (size_t i = 0; i < second.size(); ++i) second[i] = uint8_t(i * 31);
    for (int64_t s = 0; s < kSeconds; ++s) w.WriteDataBytes(second.data(), int64_t(second.size()));
    w.CloseFile();
    w.SetFileName(source);
    dataOffset = w.GetDataOffset();
  }
  ~Files() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  fs::path dir;
  std::string source, target;
  int64_t dataOffset = 0;
};

Files& Shared() {
  static Files files;
  return files;
}

void BM_WaveReadDataBytes(benchmark::State& state) {
  Files& f = Shared();
  TMMWave w;
  w.SetFileName(f.source);
  const int64_t piece = state.range(0);
  std::vector<uint8_t> buffer(static_cast<size_t>(piece));
  for (auto _ : state) {
    w.OpenFile();
    w.SetPosition(0);
    int64_t total = 0;
    for (int64_t n; (n = w.ReadDataBytes(buffer.data(), piece)) > 0;) total += n;
    w.CloseFile();
    if (total != kDataBytes) state.SkipWithError("short read");
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kDataBytes);
}

void BM_PlainRead(benchmark::State& state) {
  Files& f = Shared();
  const int64_t piece = state.range(0);
  std::vector<uint8_t> buffer(static_cast<size_t>(piece));
  for (auto _ : state) {
    const int fd = ::open(f.source.c_str(), O_RDONLY);
    ::lseek(fd, f.dataOffset, SEEK_SET);
    int64_t total = 0;
    for (ssize_t n; total < kDataBytes && (n = ::read(fd, buffer.data(), size_t(piece))) > 0;)
      total += n;
    ::close(fd);
    if (total < kDataBytes) state.SkipWithError("short read");
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kDataBytes);
}

void BM_WaveSaveToFile(benchmark::State& state) {
  Files& f = Shared();
  TMMWave w;
  w.SetFileName(f.source);
  for (auto _ : state) w.SaveToFile(f.target);
  state.SetBytesProcessed(int64_t(state.iterations()) * kDataBytes);
}

// The fair reference of the save: a copy made as safely as the save makes its file (cp to a new
// name beside the target, its data synced, renamed over the target, the folder synced).
void BM_CpSynced(benchmark::State& state) {
  Files& f = Shared();
  const std::string staged = (f.dir / "staged.wav").string();
  const std::string command = "cp '" + f.source + "' '" + staged + "'";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) state.SkipWithError("cp failed");
    const int fd = ::open(staged.c_str(), O_RDONLY);
    const bool synced = fd >= 0 && ::fsync(fd) == 0;
    if (fd >= 0) ::close(fd);
    const int dir = ::open(f.dir.c_str(), O_RDONLY | O_DIRECTORY);
    const bool renamed = ::rename(staged.c_str(), f.target.c_str()) == 0;
    const bool folder = dir >= 0 && ::fsync(dir) == 0;
    if (dir >= 0) ::close(dir);
    if (!synced || !renamed || !folder) state.SkipWithError("sync or rename failed");
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kDataBytes);
}

void BM_Cp(benchmark::State& state) {
  Files& f = Shared();
  const std::string command = "cp '" + f.source + "' '" + f.target + "'";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) state.SkipWithError("cp failed");
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kDataBytes);
}

}  // namespace

// Pieces of the chain's read-ahead block and of one second (the whole-file copies' chunk).
BENCHMARK(BM_WaveReadDataBytes)
    ->Arg(QUEUE_READ_SIZE)
    ->Arg(kRate * 4)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_PlainRead)
    ->Arg(QUEUE_READ_SIZE)
    ->Arg(kRate * 4)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_WaveSaveToFile)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CpSynced)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Cp)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
