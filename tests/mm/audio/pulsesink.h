#pragma once
// A private sound server with one null sink, for tests that play real sound and record what the
// server mixed from the sink's monitor. Nothing of the desktop's own server is touched: the
// daemon lives in a temporary folder and listens on a socket there.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace vant::testing {

class PulseNullSink {
 public:
  // The recorder takes the sink's sound in fragments of this many milliseconds, so a moment
  // placed by the recording is known to within one fragment.
  static constexpr int kFragmentMs = 20;

  PulseNullSink() = default;
  PulseNullSink(const PulseNullSink&) = delete;
  PulseNullSink& operator=(const PulseNullSink&) = delete;
  ~PulseNullSink() {
    StopRecording();
    if (daemon_ > 0) {
      kill(daemon_, SIGTERM);
      WaitGone(daemon_, 5000);
    }
    std::error_code ec;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
  }

  // Starts the daemon, with `daemon_conf` lines in its configuration; returns why it could not
  // (empty on success).
  std::string Start(int rate, int channels, const std::string& daemon_conf = "") {
    char pattern[] = "/tmp/vant-pulse-XXXXXX";
    if (!mkdtemp(pattern)) return "no temporary folder";
    dir_ = pattern;
    std::filesystem::create_directories(dir_ / "run");
    std::filesystem::create_directories(dir_ / "state");
    std::filesystem::create_directories(dir_ / ".config" / "pulse");
    std::ofstream(dir_ / ".config" / "pulse" / "daemon.conf") << daemon_conf << "\n";
    {
      std::ofstream script(dir_ / "script.pa");
      script << "load-module module-null-sink sink_name=vanttest norewinds=1 rate=" << rate
             << " channels=" << channels << "\n"
             << "load-module module-native-protocol-unix socket=" << (dir_ / "native").string()
             << " auth-anonymous=1\n"
             << "set-default-sink vanttest\n";
    }
    // Daemonised, the first process returns only once the server is up (or failed).
    const pid_t starter =
        Spawn({"pulseaudio", "--daemonize=yes", "--system=false", "-n", "--exit-idle-time=-1",
               "--use-pid-file=yes", "--log-target=file:" + (dir_ / "log").string(), "-F",
               (dir_ / "script.pa").string()},
              Env());
    if (starter <= 0) return "pulseaudio could not be started";
    int status = 0;
    if (waitpid(starter, &status, 0) != starter || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      return "pulseaudio did not come up";
    }
    std::ifstream pid_file(dir_ / "run" / "pulse" / "pid");
    if (!(pid_file >> daemon_)) return "pulseaudio left no pid file";
    server_ = "unix:" + (dir_ / "native").string();
    return "";
  }

  // Sends `sig` to the daemon (SIGSTOP and SIGCONT stall it); SIGKILL also waits until it is
  // gone and forgets it.
  void Signal(int sig) {
    if (daemon_ <= 0) return;
    kill(daemon_, sig);
    if (sig != SIGKILL) return;
    WaitGone(daemon_, 5000);
    daemon_ = -1;
  }

  // For the clients of this process (SDL's pulse driver reads it when it starts).
  const std::string& Server() const { return server_; }

  // Returns once the recorder writes (the monitor of a null sink gives silence while nothing
  // plays), so what is played after it is recorded from its first sample.
  bool StartRecording(const std::filesystem::path& raw, int rate, int channels) {
    std::vector<std::string> env = Env();
    env.push_back("PULSE_SERVER=" + server_);
    const int watch = inotify_init1(IN_CLOEXEC);
    if (watch < 0) return false;
    inotify_add_watch(watch, raw.parent_path().c_str(), IN_MODIFY);
    parec_ = Spawn({"parec", "--device=vanttest.monitor", "--format=s16le",
                    "--rate=" + std::to_string(rate), "--channels=" + std::to_string(channels),
                    "--raw", "--latency-msec=" + std::to_string(kFragmentMs), raw.string()},
                   env);
    bool writing = false;
    for (int events = 0; parec_ > 0 && !writing && events < 1000; ++events) {
      pollfd p{watch, POLLIN, 0};
      if (poll(&p, 1, 5000) != 1) break;
      char buffer[4096];
      if (read(watch, buffer, sizeof buffer) <= 0) break;
      std::error_code ec;
      writing = std::filesystem::file_size(raw, ec) > 0 && !ec;
    }
    close(watch);
    if (writing) recording_ = raw;
    return writing;
  }

  // Bytes the recorder has written so far.
  int64_t RecordedBytes() const {
    std::error_code ec;
    const auto size = std::filesystem::file_size(recording_, ec);
    return ec ? 0 : static_cast<int64_t>(size);
  }

  // The sink's volume in percent as the server reports it (its first channel); -1 when it
  // cannot be read. Set with SetVolumePercent, as a user would in the desktop's mixer.
  int VolumePercent() const {
    return FirstPercent(Ask({"pactl", "get-sink-volume", "vanttest"}), 0);
  }
  bool SetVolumePercent(int percent) const {
    Ask({"pactl", "set-sink-volume", "vanttest", std::to_string(percent) + "%"});
    return VolumePercent() == percent;
  }
  // The same for the first stream playing to the sink (-1: none), as the desktop's mixer shows
  // and sets the level of one program.
  int StreamVolumePercent() const {
    const std::string out = Ask({"pactl", "list", "sink-inputs"});
    const size_t volume = out.find("\tVolume:");
    return volume == std::string::npos ? -1 : FirstPercent(out, volume);
  }
  bool SetStreamVolumePercent(int percent) const {
    const std::string out = Ask({"pactl", "list", "sink-inputs"});
    const size_t hash = out.find("Sink Input #");
    if (hash == std::string::npos) return false;
    const std::string index = std::to_string(std::atoi(out.c_str() + hash + 12));
    Ask({"pactl", "set-sink-input-volume", index, std::to_string(percent) + "%"});
    return StreamVolumePercent() == percent;
  }
  // Loads a module into the running server, as the desktop's configuration would.
  void LoadModule(const std::string& name) const { Ask({"pactl", "load-module", name}); }

  void StopRecording() {
    if (parec_ <= 0) return;
    kill(parec_, SIGTERM);
    if (!WaitGone(parec_, 5000)) kill(parec_, SIGKILL);
    waitpid(parec_, nullptr, 0);
    parec_ = -1;
  }

 private:
  std::vector<std::string> Env() const {
    return {"HOME=" + dir_.string(), "XDG_RUNTIME_DIR=" + (dir_ / "run").string(),
            "PULSE_RUNTIME_PATH=" + (dir_ / "run" / "pulse").string(),
            "PULSE_STATE_PATH=" + (dir_ / "state").string(), "PATH=/usr/bin:/bin"};
  }

  // `out_fd`, when given, becomes the process's standard output.
  static pid_t Spawn(const std::vector<std::string>& args, const std::vector<std::string>& env,
                     int out_fd = -1) {
    std::vector<char*> argv, envp;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (out_fd >= 0) posix_spawn_file_actions_adddup2(&actions, out_fd, STDOUT_FILENO);
    pid_t pid = -1;
    const int failed = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return failed ? -1 : pid;
  }

  // The number before the first '%' of `text` from `from` on; -1 when there is none.
  static int FirstPercent(const std::string& text, size_t from) {
    const size_t percent = text.find('%', from);
    if (percent == std::string::npos) return -1;
    size_t begin = percent;
    while (begin > from && std::isdigit(static_cast<unsigned char>(text[begin - 1]))) --begin;
    return begin < percent ? std::stoi(text.substr(begin, percent - begin)) : -1;
  }

  // Runs a client of the server to its end; answers what it printed.
  std::string Ask(const std::vector<std::string>& args) const {
    std::vector<std::string> env = Env();
    env.push_back("PULSE_SERVER=" + server_);
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return "";
    const pid_t pid = Spawn(args, env, fds[1]);
    close(fds[1]);
    std::string out;
    char buffer[512];
    for (ssize_t n; pid > 0 && (n = read(fds[0], buffer, sizeof buffer)) > 0;)
      out.append(buffer, n);
    close(fds[0]);
    if (pid > 0) waitpid(pid, nullptr, 0);
    return out;
  }

  // Waits, without polling a clock, until the process has ended; false after `timeout_ms`.
  static bool WaitGone(pid_t pid, int timeout_ms) {
    const int fd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (fd < 0) return true;  // gone already
    pollfd p{fd, POLLIN, 0};
    const bool gone = poll(&p, 1, timeout_ms) == 1;
    close(fd);
    return gone;
  }

  std::filesystem::path dir_;
  std::filesystem::path recording_;
  std::string server_;
  pid_t daemon_ = -1;
  pid_t parec_ = -1;
};

// Maps a moment to the frame of a recording the sink mixed then. The recorder writes what the
// sink mixed a little later, never earlier, so each look at how much it wrote bounds when the
// recording began; looked at often, the tightest bound is within a few milliseconds.
class RecordingClock {
 public:
  RecordingClock(const PulseNullSink& sink, int rate, int frame_bytes)
      : sink_(sink), rate_(rate), frame_bytes_(frame_bytes) {}

  static int64_t NowMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }

  // Looks at the recording now.
  void Mark() {
    const int64_t now = NowMicros();
    const int64_t frames = sink_.RecordedBytes() / frame_bytes_;
    origin_us_ = std::min(origin_us_, now - frames * 1000000 / rate_);
    first_us_ = std::min(first_us_, now);
    last_us_ = now;
  }

  // The frame mixed at `us` (a NowMicros reading).
  long FrameAt(int64_t us) const { return static_cast<long>((us - origin_us_) * rate_ / 1000000); }
  // Whether `us` lies between the first and the last look.
  bool Covers(int64_t us) const { return us >= first_us_ && us <= last_us_; }

 private:
  const PulseNullSink& sink_;
  const int rate_;
  const int frame_bytes_;
  int64_t origin_us_ = INT64_MAX;
  int64_t first_us_ = INT64_MAX;
  int64_t last_us_ = INT64_MIN;
};

}  // namespace vant::testing

// A private server that cannot start fails the test where one must (CI=true), and skips it
// elsewhere.
#define START_OR_SKIP(start)                            \
  if (const std::string why = (start); !why.empty()) {  \
    const char* ci = std::getenv("CI");                 \
    if (ci && std::string(ci) == "true") FAIL() << why; \
    GTEST_SKIP() << why;                                \
  }
