// The viewer's two folder passes over a disc of 256 commercials: the quick listing that the watch
// takes every 5 seconds (beside a bare directory walk with stat, its floor) and the full scan that
// reads every file's chunks (beside reading each file's first 4 KiB, a floor for touching them).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "molisting.h"

namespace {

namespace fs = std::filesystem;

void Put32(std::string& b, uint32_t v) { b.append(reinterpret_cast<const char*>(&v), 4); }
void Put16(std::string& b, uint16_t v) { b.append(reinterpret_cast<const char*>(&v), 2); }
void Chunk(std::string& b, const char* id, const std::string& data) {
  b.append(id, 4);
  Put32(b, static_cast<uint32_t>(data.size()));
  b += data;
  if (data.size() & 1) b.push_back('\0');
}

// 256 files of 30 seconds of 48 kHz stereo (sparse data) with `cmcd`, cue points and labels.
const fs::path& Disc() {
  static const fs::path dir = [] {
    fs::path d = fs::temp_directory_path() / ("vant-viewer-bench-" + std::to_string(getpid()));
    fs::create_directories(d);
    for (int i = 0; i < 256; ++i) {
      std::string fmt, cue, adtl, body = "WAVE";
      Put16(fmt, 1), Put16(fmt, 2), Put32(fmt, 48000), Put32(fmt, 192000), Put16(fmt, 4),
          Put16(fmt, 16);
      Chunk(body, "fmt ", fmt);
      Chunk(body, "cmcd", std::string(2048, '\0'));
      Put32(cue, 2);
      for (uint32_t id : {2u, 3u}) {
        Put32(cue, id), Put32(cue, 0), cue += "data", Put32(cue, 0), Put32(cue, 0);
        Put32(cue, id == 2 ? 0 : 1440000);
      }
      Chunk(body, "cue ", cue);
      adtl = "adtl";
      std::string l1, l2;
      Put32(l1, 2), l1 += std::string("BC$STANDBY") + '\0';
      Put32(l2, 3), l2 += std::string("BC$END") + '\0';
      Chunk(adtl, "labl", l1);
      Chunk(adtl, "labl", l2);
      Chunk(body, "LIST", adtl);
      const uint32_t data_size = 48000 * 4 * 30;
      body += "data";
      Put32(body, data_size);
      std::string file = "RIFF";
      Put32(file, static_cast<uint32_t>(body.size() + data_size));
      file += body;
      const fs::path p = d / ("CM" + std::to_string(1000 + i) + ".wav");
      std::ofstream(p, std::ios::binary)
          .write(file.data(), static_cast<std::streamsize>(file.size()));
      fs::resize_file(p, file.size() + data_size);
    }
    std::atexit([] { fs::remove_all(Disc()); });
    return d;
  }();
  return dir;
}

void BM_WatchListing(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(viewer::ListWaveFiles(Disc()));
}
BENCHMARK(BM_WatchListing);

void BM_Reference_DirectoryWalkWithStat(benchmark::State& state) {
  for (auto _ : state) {
    size_t n = 0;
    for (const auto& e : fs::directory_iterator(Disc())) {
      struct stat st;
      n += ::stat(e.path().c_str(), &st) == 0;
    }
    benchmark::DoNotOptimize(n);
  }
}
BENCHMARK(BM_Reference_DirectoryWalkWithStat);

void BM_FullScan(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(viewer::ScanModels(Disc()));
}
BENCHMARK(BM_FullScan);

void BM_Reference_ReadFirst4KiBOfEachFile(benchmark::State& state) {
  std::vector<char> buf(4096);
  for (auto _ : state) {
    for (const auto& e : fs::directory_iterator(Disc())) {
      int fd = ::open(e.path().c_str(), O_RDONLY);
      benchmark::DoNotOptimize(::read(fd, buf.data(), buf.size()));
      ::close(fd);
    }
  }
}
BENCHMARK(BM_Reference_ReadFirst4KiBOfEachFile);

}  // namespace

BENCHMARK_MAIN();
