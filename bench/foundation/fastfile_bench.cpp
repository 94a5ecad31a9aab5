// The multi-file container against a folder of the same small files: finding names (lookup
// against stat) and reading every file (handles against open/read/close).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "mmffile.h"

namespace fs = std::filesystem;

namespace {

constexpr int kFiles = 10000;

struct Fixture {
  fs::path folder = fs::temp_directory_path() / ("bench-fastfile-" + std::to_string(getpid()));
  std::vector<std::string> names;
  TMMFastFile box{nullptr};

  Fixture() {
    fs::remove_all(folder);
    fs::create_directories(folder / "files");
    box.SetMaxFiles(kFiles);
    box.SetFileName((folder / "box.ff").string());
    for (int i = 0; i < kFiles; ++i) {
      names.push_back("F" + std::to_string(i) + ".DAT");
      const fs::path p = folder / "files" / names.back();
      std::ofstream(p, std::ios::binary) << std::string(200 + i % 700, char('a' + i % 26));
      box.AddFile(p.string());
    }
  }
  ~Fixture() { fs::remove_all(folder); }
};

Fixture& Data() {
  static Fixture f;
  return f;
}

void BM_ContainerLookup(benchmark::State& state) {
  Fixture& f = Data();
  for (auto _ : state)
    for (const auto& n : f.names) benchmark::DoNotOptimize(f.box.FileExists(n));
  state.SetItemsProcessed(state.iterations() * kFiles);
}

void BM_FolderStat(benchmark::State& state) {
  Fixture& f = Data();
  std::vector<std::string> paths;
  for (const auto& n : f.names) paths.push_back((f.folder / "files" / n).string());
  struct stat st;
  for (auto _ : state)
    for (const auto& p : paths) benchmark::DoNotOptimize(::stat(p.c_str(), &st));
  state.SetItemsProcessed(state.iterations() * kFiles);
}

void BM_ContainerReadAll(benchmark::State& state) {
  Fixture& f = Data();
  char buffer[4096];
  for (auto _ : state)
    for (const auto& n : f.names) {
      const TFastFileHandle h = f.box.FileOpen(n);
      benchmark::DoNotOptimize(f.box.FileRead(h, buffer, sizeof buffer));
      f.box.FileClose(h);
    }
  state.SetItemsProcessed(state.iterations() * kFiles);
}

void BM_FolderReadAll(benchmark::State& state) {
  Fixture& f = Data();
  std::vector<std::string> paths;
  for (const auto& n : f.names) paths.push_back((f.folder / "files" / n).string());
  char buffer[4096];
  for (auto _ : state)
    for (const auto& p : paths) {
      const int fd = ::open(p.c_str(), O_RDONLY);
      benchmark::DoNotOptimize(::read(fd, buffer, sizeof buffer));
      ::close(fd);
    }
  state.SetItemsProcessed(state.iterations() * kFiles);
}

BENCHMARK(BM_ContainerLookup)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FolderStat)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ContainerReadAll)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FolderReadAll)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
