// Saving a 60-second and a 10-minute 48 kHz stereo VANT file, beside the floor of the design in
// the same run: the file copied twice with cp (once into the temporary folder, once over the
// target). The peak resident size is reported after each run, to show that it does not grow
// with the file.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bwfchunk.h"
#include "bwfsave.h"
#include "vantbuilder.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

// `seconds` of 48 kHz stereo 16-bit samples that are not silence (no holes for a copy to skip),
// with the four marks; the samples are written a second at a time.
void MakeVant(const fs::path& path, uint32_t seconds) {
  const uint32_t data_size = seconds * 192000u;
  vb::Bytes head = vb::Build({vb::Fmt(), vb::Bext("bench"), vb::Cmcd(100, {})});
  const vb::Bytes tail = vb::Serialize(vb::CueChunk({{1, 0}, {2, 48000}, {3, 96000}, {4, 144000}}));
  vb::Bytes data_header;
  vb::PutText(data_header, "data");
  vb::Put32(data_header, data_size);
  const uint32_t form = static_cast<uint32_t>(head.size() - 8 + 8 + data_size + tail.size());
  head[4] = static_cast<uint8_t>(form);
  head[5] = static_cast<uint8_t>(form >> 8);
  head[6] = static_cast<uint8_t>(form >> 16);
  head[7] = static_cast<uint8_t>(form >> 24);
  std::ofstream out(path, std::ios::binary);
  auto put = [&](const vb::Bytes& b) {
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
  };
  put(head);
  put(data_header);
  vb::Bytes second(192000);
  uint32_t x = 1;
  for (auto& b : second) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 24);
  for (uint32_t s = 0; s < seconds; ++s) put(second);
  put(tail);
}

struct Files {
  fs::path folder, source, target, temp;
};

Files Prepare(uint32_t seconds) {
  Files f;
  f.folder = fs::temp_directory_path() / ("vant-save-bench-" + std::to_string(seconds));
  fs::remove_all(f.folder);
  fs::create_directories(f.folder / "tmp");
  f.source = f.folder / "source.wav";
  f.target = f.folder / "target.wav";
  f.temp = f.folder / "tmp";
  MakeVant(f.source, seconds);
  fs::copy_file(f.source, f.target);
  return f;
}

int Run(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return status;
}

double PeakRssMiB() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_maxrss) / 1024.0;
}

void BM_SaveToFile(benchmark::State& state) {
  const Files f = Prepare(static_cast<uint32_t>(state.range(0)));
  TBWFChunck model(f.source, TBWFChunck::kKeepOpen);
  ReadModelInOrder(model);
  model.ScanChunks(f.source);
  model.TempFolder = f.temp;
  model.BextImage = model.BextInfo;
  model.CmcdImage = model.CmcdInfo;
  model.BextImage.SetDescription("saved by the benchmark");
  SetBWFViewerNotice([](const TBWFChunck&, int, const std::optional<vant::ipc::WindowRef>&) {});
  for (auto _ : state) {
    if (SaveToFile(model, f.target, f.source) != 0) state.SkipWithError("save failed");
  }
  SetBWFViewerNotice({});
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(fs::file_size(f.source)));
  state.counters["peak_rss_MiB"] = PeakRssMiB();
  fs::remove_all(f.folder);
}

// The floor: one copy into the temporary folder and one over the target.
void BM_CopyTwiceWithCp(benchmark::State& state) {
  const Files f = Prepare(static_cast<uint32_t>(state.range(0)));
  const fs::path staged = f.temp / "staged.wav";
  for (auto _ : state) {
    if (Run({"cp", f.source.string(), staged.string()}) != 0 ||
        Run({"cp", staged.string(), f.target.string()}) != 0) {
      state.SkipWithError("cp failed");
    }
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(fs::file_size(f.source)));
  fs::remove_all(f.folder);
}

}  // namespace

BENCHMARK(BM_CopyTwiceWithCp)->Arg(60)->Arg(600)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SaveToFile)->Arg(60)->Arg(600)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
