// The checked copy of a save (new file beside the target, fsync, rename) beside the standard
// library's copy with the same fsync, and without it, on a 64 MiB file in the temporary folder.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "mmio.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kBytes = 64 << 20;

struct Files {
  Files() {
    dir = fs::temp_directory_path() / ("vant-bench-files-" + std::to_string(getpid()));
    fs::create_directories(dir);
    source = dir / "source.wav";
    target = dir / "target.wav";
    std::ofstream out(source, std::ios::binary);
    std::string block(1 << 20, '\x5A');
    for (size_t i = 0; i < kBytes; i += block.size()) out << block;
  }
  ~Files() { fs::remove_all(dir); }
  fs::path dir, source, target;
};

Files& Shared() {
  static Files files;
  return files;
}

void SyncFile(const fs::path& p) {
  int fd = open(p.c_str(), O_RDONLY);
  fsync(fd);
  close(fd);
}

void BM_ShellCopyFile(benchmark::State& state) {
  Files& f = Shared();
  for (auto _ : state) {
    if (mmio::ShellCopyFile(f.source, f.target) != 1) state.SkipWithError("copy failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytes));
}

void BM_StdCopyWithFsync(benchmark::State& state) {
  Files& f = Shared();
  for (auto _ : state) {
    fs::copy_file(f.source, f.target, fs::copy_options::overwrite_existing);
    SyncFile(f.target);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytes));
}

void BM_StdCopyWithoutFsync(benchmark::State& state) {
  Files& f = Shared();
  for (auto _ : state) fs::copy_file(f.source, f.target, fs::copy_options::overwrite_existing);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytes));
}

}  // namespace

BENCHMARK(BM_ShellCopyFile)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StdCopyWithFsync)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StdCopyWithoutFsync)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
