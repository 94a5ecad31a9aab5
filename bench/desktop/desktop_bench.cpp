// The programs as a person meets them on a desktop: each started on an X server of its own (Xvfb)
// with a window manager; the converter playing the sample after a click on its volume bar and on
// its play button, and both programs waiting with a file (or a listing) shown. The CPU time of
// the program and of the X server is the run time the scheduler counts in nanoseconds for each
// thread (/proc/<pid>/task/<tid>/schedstat; utime + stime of /proc/<pid>/stat, in ticks, where
// that is missing), as a percentage of one core. The reference, in the same run, is the same desktop without a program.
//
// The converter is also heard: played through a private sound server's null sink on a loaded
// machine, its recorded sound is searched for gaps, against paplay's.
//
// VANT_BENCH_PLAYS (default 3) sets how many plays are measured; VANT_BENCH_GAP_PLAYS (default 20)
// how many are recorded under load; VANT_BENCH_IDLE_SECONDS (default 60) how long the programs are
// watched while they wait.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "heard.h"
#include "pulsesink.h"
#include "regeditbw.h"
#include "scopedenv.h"
#include "settingsstore.h"

extern char** environ;

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

int EnvInt(const char* name, int fallback) {
  const char* s = std::getenv(name);
  return s && std::atoi(s) > 0 ? std::atoi(s) : fallback;
}

// The environment of this process with `changes` ("NAME=value") put over it.
std::vector<std::string> Environment(const std::vector<std::string>& changes) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string kv = *e;
    const std::string name = kv.substr(0, kv.find('='));
    bool replaced = false;
    for (const std::string& c : changes) replaced |= c.substr(0, c.find('=')) == name;
    if (!replaced) env.push_back(kv);
  }
  env.insert(env.end(), changes.begin(), changes.end());
  return env;
}

std::vector<char*> Pointers(std::vector<std::string>& v) {
  std::vector<char*> p;
  for (std::string& s : v) p.push_back(s.data());
  p.push_back(nullptr);
  return p;
}

// Starts `argv` with its output to `out` (a pipe's write end) or nowhere, its errors to the file
// `errors` or nowhere.
pid_t Spawn(std::vector<std::string> argv, std::vector<std::string> env, int out = -1,
            const std::string& errors = {}) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (out >= 0) {
    posix_spawn_file_actions_adddup2(&actions, out, 1);
  } else {
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  }
  posix_spawn_file_actions_addopen(&actions, 2, errors.empty() ? "/dev/null" : errors.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = 0;
  const int err = posix_spawnp(&pid, argv[0].c_str(), &actions, nullptr, Pointers(argv).data(),
                               Pointers(env).data());
  posix_spawn_file_actions_destroy(&actions);
  return err == 0 ? pid : -1;
}

// A child process ended (terminated, then killed if it lingers) when it goes out of scope.
class Child {
 public:
  Child() = default;
  explicit Child(pid_t pid) : pid_(pid) {}
  Child(Child&& o) noexcept : pid_(std::exchange(o.pid_, -1)) {}
  Child& operator=(Child&& o) noexcept {
    Stop();
    pid_ = std::exchange(o.pid_, -1);
    return *this;
  }
  ~Child() { Stop(); }
  pid_t Pid() const { return pid_; }
  bool Alive() const { return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }
  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    for (int i = 0; i < 100 && waitpid(pid_, nullptr, WNOHANG) == 0; ++i)
      std::this_thread::sleep_for(50ms);
    if (waitpid(pid_, nullptr, WNOHANG) == 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
};

// Runs `argv` to its end (at most 10 s) and answers what it printed.
std::string Capture(std::vector<std::string> argv, const std::vector<std::string>& env) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  const pid_t pid = Spawn(std::move(argv), env, fds[1]);
  close(fds[1]);
  std::string out;
  char buf[4096];
  fcntl(fds[0], F_SETFL, O_NONBLOCK);
  const auto end = std::chrono::steady_clock::now() + 10s;
  for (;;) {
    const ssize_t n = read(fds[0], buf, sizeof buf);
    if (n > 0) {
      out.append(buf, size_t(n));
      continue;
    }
    if (n == 0 || std::chrono::steady_clock::now() > end) break;
    std::this_thread::sleep_for(5ms);
  }
  close(fds[0]);
  if (pid > 0) Child{pid};
  return out;
}

// CPU time of a process (all its threads), and the run time and context switches of each of
// its threads: the voluntary ones are its wake-ups (each a wait that ended), the others
// preemptions. A waiting program spends a fraction of a tick a minute: the run time in
// nanoseconds tells what ticks cannot.
struct ThreadUsage {
  std::string name;
  int64_t wakeups = 0, preempted = 0;
  int64_t run_ns = -1;  // -1: no schedstat
};
struct Usage {
  double cpu_s = 0;
  std::map<std::string, ThreadUsage> threads;  // by thread id
};
Usage Read(pid_t pid) {
  Usage u;
  const std::string proc = "/proc/" + std::to_string(pid);
  std::ifstream stat(proc + "/stat");
  std::string line;
  std::getline(stat, line);
  std::istringstream rest(line.substr(line.rfind(')') + 2));
  std::string field;
  int64_t utime = 0, stime = 0;
  for (int i = 3; i <= 15 && rest >> field; ++i) {
    if (i == 14) utime = std::stoll(field);
    if (i == 15) stime = std::stoll(field);
  }
  u.cpu_s = double(utime + stime) / double(sysconf(_SC_CLK_TCK));
  std::error_code ec;
  for (const auto& task : fs::directory_iterator(proc + "/task", ec)) {
    ThreadUsage& t = u.threads[task.path().filename()];
    std::ifstream schedstat(task.path() / "schedstat");
    if (!(schedstat >> t.run_ns)) t.run_ns = -1;
    std::ifstream status(task.path() / "status");
    while (std::getline(status, line)) {
      const std::string value = line.substr(line.find(':') + 1);
      if (line.starts_with("Name:")) t.name = value.substr(value.find_first_not_of(" \t"));
      if (line.starts_with("voluntary_ctxt_switches:")) t.wakeups = std::stoll(value);
      if (line.starts_with("nonvoluntary_ctxt_switches:")) t.preempted = std::stoll(value);
    }
  }
  return u;
}

// What a program and the X server spent over a stretch of time; the program's wake-ups by
// thread ("tid name"). Threads that ended in between are not counted.
struct Cost {
  double seconds = 0, program_s = 0, x_s = 0;
  int64_t switches = 0, wakeups = 0, gui_wakeups = 0;
  std::map<std::string, int64_t> thread_wakeups;
  void Add(const Cost& c) {
    seconds += c.seconds;
    program_s += c.program_s;
    x_s += c.x_s;
    switches += c.switches;
    wakeups += c.wakeups;
    gui_wakeups += c.gui_wakeups;
    for (const auto& [thread, n] : c.thread_wakeups) thread_wakeups[thread] += n;
  }
};
// The CPU time between two readings: the threads' run times where every thread has one (a
// thread that ended in between is not counted), else the ticks.
double CpuSeconds(const Usage& before, const Usage& after) {
  int64_t ns = 0;
  for (const auto& [tid, t] : after.threads) {
    if (t.run_ns < 0) return after.cpu_s - before.cpu_s;
    const auto it = before.threads.find(tid);
    ns += t.run_ns - (it == before.threads.end() ? 0 : std::max<int64_t>(it->second.run_ns, 0));
  }
  return after.threads.empty() ? after.cpu_s - before.cpu_s : double(ns) / 1e9;
}

Cost Measure(pid_t program, pid_t x, std::chrono::milliseconds length) {
  const Usage p0 = program > 0 ? Read(program) : Usage{}, x0 = Read(x);
  const auto t0 = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(length);
  const Usage p1 = program > 0 ? Read(program) : Usage{}, x1 = Read(x);
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  Cost c;
  c.seconds = s;
  c.program_s = CpuSeconds(p0, p1);
  c.x_s = CpuSeconds(x0, x1);
  for (const auto& [tid, after] : p1.threads) {
    const auto it = p0.threads.find(tid);
    const ThreadUsage before = it == p0.threads.end() ? ThreadUsage{} : it->second;
    const int64_t woke = after.wakeups - before.wakeups;
    c.switches += woke + after.preempted - before.preempted;
    c.wakeups += woke;
    if (tid == std::to_string(program)) c.gui_wakeups += woke;
    c.thread_wakeups[tid + " " + after.name] += woke;
  }
  return c;
}

void Report(benchmark::State& state, const Cost& c) {
  if (c.seconds <= 0) return;
  state.counters["cpu_pct_core"] = 100 * c.program_s / c.seconds;
  state.counters["x_pct_core"] = 100 * c.x_s / c.seconds;
  state.counters["switches_per_s"] = double(c.switches) / c.seconds;
  state.counters["wakeups_per_s"] = double(c.wakeups) / c.seconds;
  state.counters["gui_wakeups_per_s"] = double(c.gui_wakeups) / c.seconds;
  state.counters["other_wakeups_per_s"] = double(c.wakeups - c.gui_wakeups) / c.seconds;
  state.counters["seconds"] = c.seconds;
  // Who woke, for finding the cause (the case is the one reported next); threads that never
  // woke are left out.
  for (const auto& [thread, n] : c.thread_wakeups) {
    if (n > 0)
      std::fprintf(stderr, "thread %s woke %lld times (%.2f/s)\n", thread.c_str(),
                   static_cast<long long>(n), double(n) / c.seconds);
  }
}

// An X server of its own with a window manager, and a folder for the programs' settings.
class Desktop {
 public:
  Desktop() {
    char pattern[] = "/tmp/vant-desktop-XXXXXX";
    if (mkdtemp(pattern)) home_ = pattern;
    for (int n = 70; n < 100 && !x_.Alive(); ++n) {
      if (fs::exists("/tmp/.X11-unix/X" + std::to_string(n)) ||
          fs::exists("/tmp/.X" + std::to_string(n) + "-lock"))
        continue;
      display_ = ":" + std::to_string(n);
      x_ = Child(Spawn({"Xvfb", display_, "-screen", "0", "1280x800x24", "-nolisten", "tcp"},
                       Environment({})));
      for (int i = 0; i < 200 && x_.Alive() && !fs::exists("/tmp/.X11-unix/X" + std::to_string(n));
           ++i)
        std::this_thread::sleep_for(50ms);
    }
    if (!x_.Alive()) return;
    wm_ = Child(Spawn({"openbox"}, Env()));
    std::this_thread::sleep_for(1500ms);
  }
  ~Desktop() {
    program_.Stop();
    wm_.Stop();
    x_.Stop();
    std::error_code ec;
    fs::remove_all(home_, ec);
  }
  bool Ready() const { return x_.Alive() && wm_.Alive() && !home_.empty(); }
  const fs::path& Home() const { return home_; }
  pid_t X() const { return x_.Pid(); }
  pid_t Program() const { return program_.Pid(); }
  bool ProgramAlive() const { return program_.Alive(); }

  std::vector<std::string> Env() const {
    const char* sdl = std::getenv("SDL_AUDIODRIVER");
    return Environment({"DISPLAY=" + display_, "QT_QPA_PLATFORM=xcb",
                        "XDG_CONFIG_HOME=" + home_.string(), "XDG_RUNTIME_DIR=" + home_.string(),
                        std::string("SDL_AUDIODRIVER=") + (sdl && *sdl ? sdl : "dummy")});
  }
  // Starts the program (its errors and trace lines to the file `err`) and answers its main window
  // (the first shown one at least `min_width` wide), or nothing when none comes within 30 s.
  std::optional<std::string> Start(std::vector<std::string> argv, int min_width,
                                   const std::string& err = {}) {
    program_ = Child(Spawn(std::move(argv), Env(), -1, err));
    for (int i = 0; i < 300 && program_.Alive(); ++i) {
      std::istringstream ids(Capture(
          {"xdotool", "search", "--onlyvisible", "--pid", std::to_string(program_.Pid())}, Env()));
      std::string id;
      while (ids >> id) {
        const std::string g = Capture({"xdotool", "getwindowgeometry", id}, Env());
        const size_t at = g.find("Geometry: ");
        if (at != std::string::npos && std::atoi(g.c_str() + at + 10) >= min_width) return id;
      }
      std::this_thread::sleep_for(100ms);
    }
    return std::nullopt;
  }
  void Click(const std::string& window, int x, int y) {
    Capture({"xdotool", "mousemove", "--window", window, std::to_string(x), std::to_string(y),
             "click", "1"},
            Env());
  }

 private:
  fs::path home_;
  std::string display_;
  Child x_, wm_, program_;
};

const fs::path kSample = fs::path(VANT_SOURCE_DIR) / "resources/samples/commercial.wav";
// The converter's main window: its base picture and, on it, the volume bar and the play button.
constexpr int kConverterWidth = 1000;
constexpr int kVolumeX = 768 + 58, kVolumeY = 65 + 12;
constexpr int kPlayX = 658 + 10, kPlayY = 65 + 12;
// The item number field of the main page (the page at 15, 123, the field at 638, 16 on it).
constexpr int kFieldX = 15 + 638 + 100, kFieldY = 123 + 16 + 11;
constexpr auto kSampleLength = 6000ms;

// Whether the desktop came up; else the case is skipped with the reason.
bool Ready(benchmark::State& state, const Desktop& d) {
  if (d.Ready()) return true;
  state.SkipWithError("no Xvfb or window manager (scripts/setup-deps installs them)");
  return false;
}

// Starts a program on the desktop and answers its main window; else skips the case.
std::optional<std::string> Start(benchmark::State& state, Desktop& d, std::vector<std::string> argv,
                                 int min_width, const std::string& err = {}) {
  auto window = d.Start(std::move(argv), min_width, err);
  if (!window) state.SkipWithError("the program showed no main window");
  return window;
}

// Reports what the program cost, unless it ended on the way (its figures would be void).
void ReportLiving(benchmark::State& state, const Desktop& d, const Cost& c) {
  if (d.ProgramAlive())
    Report(state, c);
  else
    state.SkipWithError("the program ended during the measurement");
}

// The busy machine every cost case is measured on: twice as many busy processes as cores,
// where a wake-up that a quiet machine hides costs a scheduling round. Its counters go to the
// case when it ends.
class Loaded {
 public:
  explicit Loaded(benchmark::State& state) : state_(state) {}
  ~Loaded() {
    state_.counters["busy_loops"] = double(load_.Size());
    state_.counters["load_average"] = vant::bench::LoadAverage();
  }
  Loaded(const Loaded&) = delete;
  Loaded& operator=(const Loaded&) = delete;

 private:
  benchmark::State& state_;
  vant::bench::Load load_;
};

// Lets the program settle, then watches it wait on the busy machine.
void ReportWaiting(benchmark::State& state, Desktop& d) {
  std::this_thread::sleep_for(3s);
  Loaded loaded(state);
  std::this_thread::sleep_for(1s);
  ReportLiving(
      state, d,
      Measure(d.Program(), d.X(), std::chrono::seconds(EnvInt("VANT_BENCH_IDLE_SECONDS", 60))));
}

// The sample copied beside the program's settings.
fs::path Sample(const Desktop& d) {
  const fs::path sample = d.Home() / "commercial.wav";
  fs::copy_file(kSample, sample, fs::copy_options::overwrite_existing);
  return sample;
}

// The reference of the X server: it and its window manager with no program on them.
void BM_DesktopAlone(benchmark::State& state) {
  for (auto _ : state) {
    Desktop d;
    if (!Ready(state, d)) return;
    Loaded loaded(state);
    Report(state, Measure(-1, d.X(), 10s));
  }
}

// The reference of the programs: a plain toolkit window with a focused text field, waiting.
void BM_MinimalWindowWaits(benchmark::State& state) {
  for (auto _ : state) {
    Desktop d;
    if (Ready(state, d) && Start(state, d, {VANT_MINIMAL_WINDOW}, 600)) ReportWaiting(state, d);
  }
}

// The converter playing the sample: from 300 ms after the click on play to 300 ms before the end.
void BM_ConverterPlays(benchmark::State& state) {
  for (auto _ : state) {
    Desktop d;
    if (!Ready(state, d)) return;
    const auto window = Start(state, d, {VANT_ORLUNE, Sample(d).string()}, kConverterWidth);
    if (!window) return;
    std::this_thread::sleep_for(2s);
    d.Click(*window, kVolumeX, kVolumeY);
    Loaded loaded(state);
    Cost total;
    for (int play = 0; play < EnvInt("VANT_BENCH_PLAYS", 3); ++play) {
      std::this_thread::sleep_for(500ms);
      d.Click(*window, kPlayX, kPlayY);
      std::this_thread::sleep_for(300ms);
      total.Add(Measure(d.Program(), d.X(), kSampleLength - 600ms));
      std::this_thread::sleep_for(300ms);
    }
    ReportLiving(state, d, total);
  }
}

// The converter waiting with the sample shown.
void BM_ConverterWaits(benchmark::State& state) {
  for (auto _ : state) {
    Desktop d;
    if (!Ready(state, d)) return;
    const auto window = Start(state, d, {VANT_ORLUNE, Sample(d).string()}, kConverterWidth);
    if (!window) return;
    // Into a field, as the user who reads or edits the data: its text cursor blinks, as the
    // minimal window's does.
    std::this_thread::sleep_for(2s);
    d.Click(*window, kFieldX, kFieldY);
    ReportWaiting(state, d);
  }
}

// The disc viewer waiting with a listing of one commercial shown.
void BM_ViewerWaits(benchmark::State& state) {
  for (auto _ : state) {
    Desktop d;
    if (!Ready(state, d)) return;
    const fs::path disc = d.Home() / "disc";
    fs::create_directories(disc);
    fs::copy_file(kSample, disc / "commercial.wav");
    // The folder the viewer lists, where its folder choice stores it.
    setenv("XDG_CONFIG_HOME", d.Home().c_str(), 1);
    vant::SettingsStore(vant::SettingsStore::DefaultFile())
        .SetString(TSysRegVANT::WorkValueName(100), disc.string());
    if (Start(state, d, {VANT_DESSAN}, 600)) ReportWaiting(state, d);
  }
}

// How far the position the window showed ran ahead of (positive) or behind (negative) what the
// sink had played of that play. The window's trace lines are parted into plays where the shown
// position falls back; each play is set against its onset in the recording.
struct Shown {
  double ahead_ms = 0, behind_ms = 0;
  int plays = 0, readings = 0, over_50ms = 0;
};
Shown CompareShown(const fs::path& trace, const vant::testing::RecordingClock& clock,
                   const std::vector<long>& onsets) {
  Shown r;
  std::ifstream in(trace);
  std::string line;
  int play = -1, previous = 0;
  while (std::getline(in, line)) {
    int ms = 0;
    long long us = 0;
    if (std::sscanf(line.c_str(), "player: shows %d ms at %lld us", &ms, &us) != 2) continue;
    if (play < 0 || ms < previous) ++play;
    previous = ms;
    r.plays = play + 1;
    // The frame the sink played then, placed by the tightest of the recording's readings.
    const long frames = clock.Covers(us) ? clock.FrameAt(us) : -1;
    if (ms <= 0 || frames < 0 || play >= int(onsets.size())) continue;
    const double heard_ms =
        1000.0 * double(std::max(0L, frames - onsets[size_t(play)])) / vant::bench::kHeardRate;
    r.ahead_ms = std::max(r.ahead_ms, ms - heard_ms);
    r.behind_ms = std::max(r.behind_ms, heard_ms - ms);
    if (std::abs(ms - heard_ms) > 50) {
      ++r.over_50ms;
      std::fprintf(stderr, "shown: play %d, %d ms shown, %.1f ms heard\n", play, ms, heard_ms);
    }
    ++r.readings;
  }
  return r;
}

// Records the sink's monitor while `play` runs on a machine loaded with twice as many busy
// processes as cores, looking at how the recording grows (`clock`) where `play` asks; answers
// what was heard.
template <typename Play>
vant::bench::Findings Listen(vant::testing::PulseNullSink& sink, const fs::path& raw,
                             vant::testing::RecordingClock* clock, double* load_average,
                             Play play) {
  if (!sink.StartRecording(raw, vant::bench::kHeardRate, 1)) return {};
  {
    vant::bench::Load load;
    play([&] {
      if (clock) clock->Mark();
    });
    if (load_average) *load_average = vant::bench::LoadAverage();
  }
  sink.StopRecording();
  return vant::bench::Analyse(vant::bench::ReadRaw(raw.string()));
}

// The converter playing the sample VANT_BENCH_GAP_PLAYS times (default 20) through SDL into a
// private sound server's null sink while twice as many busy processes as cores run; the sink's
// monitor recorded; play is clicked again once the last play has ended. Reference, in the same run:
// paplay of the same file through the same server under the same load.
void BM_ConverterGapsUnderLoad(benchmark::State& state) {
  using namespace vant::bench;
  const int plays = EnvInt("VANT_BENCH_GAP_PLAYS", 20);
  constexpr auto kBetween = 1000ms;
  for (auto _ : state) {
    vant::testing::PulseNullSink sink;
    if (const std::string why = sink.Start(kHeardRate, 1); !why.empty()) {
      state.SkipWithError(why.c_str());
      return;
    }
    vant::testing::ScopedEnv server("PULSE_SERVER", sink.Server()),
        driver("SDL_AUDIODRIVER", "pulseaudio"), trace_on("VANT_TRACE", "1");
    Desktop d;
    if (!Ready(state, d)) return;
    const fs::path trace = d.Home() / "trace.txt";
    const auto window =
        Start(state, d, {VANT_ORLUNE, Sample(d).string()}, kConverterWidth, trace.string());
    if (!window) return;
    std::this_thread::sleep_for(2s);
    d.Click(*window, kVolumeX, kVolumeY);
    vant::testing::RecordingClock clock(sink, kHeardRate, 2);
    double load_average = 0;
    const fs::path raw = d.Home() / "heard.raw";
    const Findings heard = Listen(sink, raw, &clock, &load_average, [&](const auto& note) {
      std::ifstream tail;
      for (int p = 0; p < plays && d.ProgramAlive(); ++p) {
        d.Click(*window, kPlayX, kPlayY);
        // Until the play has sounded and ended (a parting's silence after it), at most 30 s: a
        // click that comes late on the loaded machine must not run two plays together.
        bool sounded = false;
        long silent = 0;
        const auto end = std::chrono::steady_clock::now() + 30s;
        while (!(sounded && silent > kPartFrames) && std::chrono::steady_clock::now() < end) {
          note();
          if (!tail.is_open()) tail.open(raw, std::ios::binary);
          tail.clear();
          int16_t v;
          while (tail.read(reinterpret_cast<char*>(&v), sizeof v)) {
            sounded |= v != 0;
            silent = v == 0 ? silent + 1 : 0;
          }
          // Half a sample written so far: read it whole next time.
          if (tail.gcount() == 1) {
            tail.clear();
            tail.seekg(-1, std::ios::cur);
          }
          std::this_thread::sleep_for(20ms);
        }
        std::this_thread::sleep_for(kBetween);
      }
    });
    if (!d.ProgramAlive()) {
      state.SkipWithError("the program ended during the measurement");
      return;
    }
    std::string why;
    bool paplay_ok = true;
    const Findings reference =
        Listen(sink, d.Home() / "reference.raw", nullptr, nullptr, [&](const auto&) {
          paplay_ok = PlayWithPaplay(kSample.string(), plays, int(kBetween.count()), &why);
        });
    if (!paplay_ok || heard.plays == 0) {
      state.SkipWithError(paplay_ok ? "nothing was heard" : why.c_str());
      return;
    }
    const Shown shown = CompareShown(trace, clock, heard.onsets);
    for (const auto& g : heard.each)
      std::fprintf(stderr, "gap: play %d, %.0f ms in, %.1f ms long\n", g.play, g.at_ms, g.ms);
    state.counters["plays_heard"] = heard.plays;
    state.counters["gaps"] = heard.gaps;
    state.counters["gaps_per_play"] = heard.plays ? double(heard.gaps) / heard.plays : 0;
    state.counters["gap_ms_longest"] = heard.longest_ms;
    state.counters["gap_ms_total"] = heard.total_ms;
    state.counters["paplay_plays_heard"] = reference.plays;
    state.counters["paplay_gaps"] = reference.gaps;
    state.counters["paplay_gap_ms_longest"] = reference.longest_ms;
    state.counters["load_average"] = load_average;
    state.counters["shown_plays"] = shown.plays;
    state.counters["shown_readings"] = shown.readings;
    state.counters["shown_ahead_ms_max"] = shown.ahead_ms;
    state.counters["shown_behind_ms_max"] = shown.behind_ms;
    state.counters["shown_readings_over_50ms"] = shown.over_50ms;
  }
}

BENCHMARK(BM_DesktopAlone)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_MinimalWindowWaits)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_ConverterPlays)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_ConverterWaits)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_ViewerWaits)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_ConverterGapsUnderLoad)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
BENCHMARK_MAIN();
