// A settings value read from a usual file and from a 100 MB one, kept and afresh.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "settingsstore.h"
#include "tempfiles.h"

namespace fs = std::filesystem;

namespace {

// A settings file of `bytes` bytes holding the value "Value" among comment lines.
fs::path MakeFile(size_t bytes) {
  const fs::path file = *vant::MakeTempName(vant::TempFolder(), "bench-settings-", ".conf");
  std::ofstream out(file, std::ios::binary);
  std::string text = "Value=i:7\n";
  const std::string line = "# " + std::string(77, '-') + "\n";
  while (text.size() + line.size() <= bytes) text += line;
  out << text;
  return file;
}

// state.range(0): the file's size in KiB; state.range(1): 1 when the file changes before each read.
void BM_SettingsGet(benchmark::State& state) {
  const fs::path file = MakeFile(static_cast<size_t>(state.range(0)) * 1024);
  const bool afresh = state.range(1) != 0;
  vant::SettingsStore store(file);
  int64_t tick = 0;
  for (auto _ : state) {
    if (afresh) {
      // Another modification time: the store must look at the file again.
      const timespec t[2] = {{0, UTIME_OMIT}, {1000000000 + ++tick, 0}};
      ::utimensat(AT_FDCWD, file.c_str(), t, 0);
    }
    benchmark::DoNotOptimize(store.GetInteger("Value"));
  }
  fs::remove(file);
}

}  // namespace

BENCHMARK(BM_SettingsGet)
    ->ArgNames({"KiB", "afresh"})
    ->Args({1, 0})
    ->Args({100 * 1024, 0})
    ->Args({1, 1})
    ->Args({100 * 1024, 1})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
