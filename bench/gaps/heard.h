#pragma once
// What a listener hears on a loaded machine, shared by the benchmarks that record a sound
// server's null sink: the load (twice as many busy processes as cores), the reading of the
// recording (plays and the gaps inside them), and the reference player, paplay.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace vant::bench {

constexpr int kHeardRate = 48000;  // the sample's, and the null sink's
// A gap is a run of at least 2 ms of digital silence inside a play.
constexpr long kGapFrames = kHeardRate * 2 / 1000;
// Plays are parted by more than 300 ms of silence.
constexpr long kPartFrames = kHeardRate * 3 / 10;

inline pid_t SpawnQuiet(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  return pid;
}

// Twice as many busy processes as cores, for as long as it lives.
class Load {
 public:
  Load() {
    const unsigned n = 2 * std::max(1u, std::thread::hardware_concurrency());
    for (unsigned i = 0; i < n; ++i) {
      const pid_t p = SpawnQuiet({"/bin/sh", "-c", "while :; do :; done"});
      if (p > 0) pids_.push_back(p);
    }
  }
  ~Load() {
    for (pid_t p : pids_) kill(p, SIGKILL);
    for (pid_t p : pids_) waitpid(p, nullptr, 0);
  }
  Load(const Load&) = delete;
  Load& operator=(const Load&) = delete;
  size_t Size() const { return pids_.size(); }

 private:
  std::vector<pid_t> pids_;
};

// The one-minute load average of the machine.
inline double LoadAverage() {
  std::ifstream in("/proc/loadavg");
  double v = 0;
  in >> v;
  return v;
}

struct Findings {
  int plays = 0, gaps = 0;
  double longest_ms = 0, total_ms = 0;
  std::vector<long> onsets;  // the first sounding frame of each play
  struct Gap {
    int play;
    double at_ms, ms;  // from the play's onset; its length
  };
  std::vector<Gap> each;
};

inline Findings Analyse(const std::vector<int16_t>& rec) {
  Findings f;
  long i = 0;
  const long n = static_cast<long>(rec.size());
  while (i < n) {
    while (i < n && rec[i] == 0) ++i;
    if (i >= n) break;
    ++f.plays;
    f.onsets.push_back(i);
    // Through this play: a run of zeros longer than a parting ends it, a shorter one is a gap.
    for (;;) {
      while (i < n && rec[i] != 0) ++i;
      long run = 0;
      while (i + run < n && rec[i + run] == 0) ++run;
      if (i + run >= n || run > kPartFrames) {
        i += run;
        break;
      }
      if (run >= kGapFrames) {
        ++f.gaps;
        const double ms = 1000.0 * run / kHeardRate;
        f.each.push_back({f.plays, 1000.0 * double(i - f.onsets.back()) / kHeardRate, ms});
        f.longest_ms = std::max(f.longest_ms, ms);
        f.total_ms += ms;
      }
      i += run;
    }
  }
  return f;
}

// A raw recording (s16le, one channel) as samples.
inline std::vector<int16_t> ReadRaw(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  std::vector<int16_t> rec(static_cast<size_t>(std::max<std::streamoff>(in.tellg(), 0)) / 2);
  in.seekg(0);
  in.read(reinterpret_cast<char*>(rec.data()), static_cast<std::streamsize>(rec.size() * 2));
  return rec;
}

// `file` played `plays` times by paplay through the server PULSE_SERVER names, `between_ms` apart.
inline bool PlayWithPaplay(const std::string& file, int plays, int between_ms, std::string* why) {
  for (int p = 0; p < plays; ++p) {
    const pid_t pid = SpawnQuiet({"paplay", file});
    int status = 0;
    if (pid <= 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
      *why = "paplay failed";
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(between_ms));
  }
  return true;
}

}  // namespace vant::bench
