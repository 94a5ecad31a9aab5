// Opening, reading and scanning VANT files: a 10-second and a 10-minute file must cost about the
// same (the model touches headers, not samples), and a folder of 200 files is read beside the
// time `sndfile-info` takes for the same folder. The viewer's read of those 200 files stays
// within 10 times the floor of open, read 4 KiB, close (BM_Folder200_Floor).
// A 4 GiB file of zeros, read as the disc viewer reads each file, must cost no more than the
// 10-second file: it is refused at its first header.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bwfchunk.h"
#include "riffio.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using vant::riff::ChunkInfo;
using vant::riff::RiffFile;
using vant::riff::Search;

void Chunk(RiffFile& f, bwf::FourCC id, const void* data, size_t n) {
  ChunkInfo ck{.id = id};
  f.CreateChunk(ck);
  f.Write(data, n);
  f.Ascend(ck);
}

// A VANT file of `seconds` of 48 kHz stereo 16-bit silence (sparse), with the four marks and
// nine attachments of 20 KiB each, written through the RIFF layer.
void MakeVant(const fs::path& path, uint32_t seconds) {
  auto f = RiffFile::Open(path, vant::riff::Mode::kCreate);
  ChunkInfo form{.type = bwf::kWave};
  f->CreateChunk(form, Search::kRiff);
  uint8_t fmt[16];
  bwf::PutLe16(fmt, 1);
  bwf::PutLe16(fmt + 2, 2);
  bwf::PutLe32(fmt + 4, 48000);
  bwf::PutLe32(fmt + 8, 192000);
  bwf::PutLe16(fmt + 12, 4);
  bwf::PutLe16(fmt + 14, 16);
  Chunk(*f, bwf::kFmt, fmt, sizeof fmt);
  TBextInfo bext;
  bext.SetDescription("bench");
  Chunk(*f, bwf::kBext, bext.bytes.data(), bext.bytes.size());
  TCmcdInfo cmcd;
  cmcd.SetCmcdVersion(100);
  cmcd.Set(bwf::CmcdField::CMTitle, "bench");
  Chunk(*f, bwf::kCmcd, cmcd.bytes.data(), cmcd.bytes.size());
  ChunkInfo data{.id = bwf::kData};
  f->CreateChunk(data);
  f->Seek(static_cast<int64_t>(seconds) * 192000, vant::riff::Whence::kCur);
  f->Ascend(data);

  struct Mark {
    uint32_t id, offset;
    std::string label;
  };
  std::vector<Mark> marks = {{1, 0, "BC$START"},
                             {2, 48000, "BC$STANDBY"},
                             {3, (seconds - 1) * 48000, "BC$END"},
                             {4, seconds * 48000 - 1, "BC$STOP"}};
  for (int n = 1; n <= 9; ++n) marks.push_back({bwf::NoteId(n), 0, bwf::NoteLabel(n)});
  std::vector<uint8_t> cue(4);
  bwf::PutLe32(cue.data(), static_cast<uint32_t>(marks.size()));
  for (const Mark& m : marks) {
    TBWFCuePoint p{m.id, 0, bwf::kData, 0, 0, m.offset};
    cue.resize(cue.size() + 24);
    p.ToBytes(cue.data() + cue.size() - 24);
  }
  Chunk(*f, bwf::kCue, cue.data(), cue.size());
  uint8_t plst[4] = {};
  Chunk(*f, bwf::kPlst, plst, 4);

  ChunkInfo list{.type = bwf::kAdtl};
  f->CreateChunk(list, Search::kList);
  for (const Mark& m : marks) {
    std::vector<uint8_t> l(4 + m.label.size() + 1, 0);
    bwf::PutLe32(l.data(), m.id);
    std::copy(m.label.begin(), m.label.end(), l.begin() + 4);
    Chunk(*f, bwf::kLabl, l.data(), l.size());
  }
  for (int n = 1; n <= 9; ++n) {
    std::string name = "doc" + std::to_string(n) + (n % 2 ? ".pdf" : ".csv") + "\r\n";
    std::vector<uint8_t> file(8 + name.size() + 20 * 1024, 'x');
    bwf::PutLe32(file.data(), bwf::NoteId(n));
    bwf::PutLe32(file.data() + 4, 0);
    std::copy(name.begin(), name.end(), file.begin() + 8);
    Chunk(*f, bwf::kFile, file.data(), file.size());
  }
  f->Ascend(list);
  form.flags |= ChunkInfo::kDirty;
  f->Ascend(form);
}

// What the converter does on open: check, read, scan.
void OpenReadScan(const fs::path& path) {
  TBWFChunck m(path, TBWFChunck::kKeepOpen);
  m.CheckFormat();
  ReadModelInOrder(m);
  m.ScanChunks(path);
  if (!m.GetCMLength() || m.AttachCount != 9) throw std::runtime_error("bench file misread");
  benchmark::DoNotOptimize(m.GetCMLength());
}

const fs::path& Dir() {
  static const fs::path dir = [] {
    fs::path d = fs::temp_directory_path() / ("bench_model_" + std::to_string(::getpid()));
    fs::create_directories(d / "folder");
    MakeVant(d / "ten-seconds.wav", 10);
    MakeVant(d / "ten-minutes.wav", 600);
    for (int i = 0; i < 200; ++i) MakeVant(d / "folder" / ("cm" + std::to_string(i) + ".wav"), 10);
    std::atexit([] { fs::remove_all(Dir()); });
    return d;
  }();
  return dir;
}

void BM_OpenReadScan(benchmark::State& state) {
  const fs::path path = Dir() / (state.range(0) == 10 ? "ten-seconds.wav" : "ten-minutes.wav");
  state.SetLabel(std::to_string(fs::file_size(path) / 1024) + " KiB");
  for (auto _ : state) OpenReadScan(path);
}
BENCHMARK(BM_OpenReadScan)->Arg(10)->Arg(600)->Unit(benchmark::kMicrosecond);

// The disc viewer's reading of one file (each reader opens it anew); 0: the 10-second file,
// 1: 4 GiB of zeros (sparse).
void BM_ViewerRead(benchmark::State& state) {
  const fs::path path = Dir() / (state.range(0) == 0 ? "ten-seconds.wav" : "zeros.wav");
  if (state.range(0) == 1 && !fs::exists(path)) {
    std::error_code ec;
    { std::ofstream(path, std::ios::binary); }
    fs::resize_file(path, uint64_t{4} << 30, ec);
    if (ec) {
      state.SkipWithError("no sparse files here");
      return;
    }
  }
  state.SetLabel(std::to_string(fs::file_size(path) >> 20) + " MiB");
  for (auto _ : state) {
    TBWFChunck m(path, TBWFChunck::kReopenPerRead);
    ReadModelInOrder(m);
    benchmark::DoNotOptimize(m.GetFileKind());
  }
}
BENCHMARK(BM_ViewerRead)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_Folder200_Model(benchmark::State& state) {
  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(Dir() / "folder")) files.push_back(e.path());
  for (auto _ : state) {
    for (const auto& p : files) OpenReadScan(p);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(files.size()));
}
BENCHMARK(BM_Folder200_Model)->Unit(benchmark::kMillisecond)->UseRealTime();

// What the viewer's listing does with each file: one open, every chunk it shows, one close.
void BM_Folder200_ViewerRead(benchmark::State& state) {
  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(Dir() / "folder")) files.push_back(e.path());
  for (auto _ : state) {
    for (const auto& p : files) {
      auto m = TBWFChunck::OpenAndRead(p, TBWFChunck::kReopenPerRead);
      if (m->AttachCount != 9) throw std::runtime_error("bench file misread");
      benchmark::DoNotOptimize(m->GetCMLength());
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(files.size()));
}
BENCHMARK(BM_Folder200_ViewerRead)->Unit(benchmark::kMillisecond)->UseRealTime();

// The floor of any reader of those files: open, read the first 4 KiB, close.
void BM_Folder200_Floor(benchmark::State& state) {
  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(Dir() / "folder")) files.push_back(e.path());
  char head[4096];
  for (auto _ : state) {
    for (const auto& p : files) {
      const int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
      benchmark::DoNotOptimize(::read(fd, head, sizeof head));
      ::close(fd);
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(files.size()));
}
BENCHMARK(BM_Folder200_Floor)->Unit(benchmark::kMillisecond)->UseRealTime();

// The reference: `sndfile-info` over the same 200 files in one process.
void BM_Folder200_SndfileInfo(benchmark::State& state) {
  std::vector<std::string> args = {"sndfile-info"};
  for (const auto& e : fs::directory_iterator(Dir() / "folder")) args.push_back(e.path());
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (auto _ : state) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid;
    if (posix_spawnp(&pid, "sndfile-info", &actions, nullptr, argv.data(), environ) != 0) {
      posix_spawn_file_actions_destroy(&actions);
      state.SkipWithError("sndfile-info not found");
      return;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    posix_spawn_file_actions_destroy(&actions);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(args.size() - 1));
}
BENCHMARK(BM_Folder200_SndfileInfo)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
