#pragma once
// A child process for cross-process tests: started with an argument vector and extra environment,
// its stdin and stdout on pipes, read line by line. Every wait has a generous fail-safe bound so
// a broken child fails the test instead of hanging it; no test asserts on elapsed time.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace vant::testing {

// Bytes as lower-case hex, so a child can report any path on one line of output.
inline std::string HexBytes(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

class ChildProcess {
 public:
  ChildProcess(const std::vector<std::string>& argv, const std::vector<std::string>& extra_env) {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, in[0], 0);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
      std::string s = *e;
      bool replaced = false;
      for (const auto& x : extra_env)
        replaced |= s.substr(0, s.find('=')) == x.substr(0, x.find('='));
      if (!replaced) env.push_back(s);
    }
    env.insert(env.end(), extra_env.begin(), extra_env.end());
    std::vector<char*> args, envp;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    if (posix_spawn(&pid_, args[0], &fa, nullptr, args.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&fa);
    close(in[0]);
    close(out[1]);
    stdin_ = in[1];
    stdout_ = out[0];
  }
  ~ChildProcess() {
    CloseStdin();
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (stdout_ >= 0) close(stdout_);
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t Pid() const { return pid_; }

  // The next line of output without its newline; nullopt at the end of output or on the
  // fail-safe bound.
  std::optional<std::string> ReadLine(int failsafe_ms = 30000) {
    for (;;) {
      size_t nl = buffer_.find('\n');
      if (nl != std::string::npos) {
        std::string line = buffer_.substr(0, nl);
        buffer_.erase(0, nl + 1);
        return line;
      }
      pollfd p{stdout_, POLLIN, 0};
      if (poll(&p, 1, failsafe_ms) <= 0) return std::nullopt;
      char buf[4096];
      ssize_t n = read(stdout_, buf, sizeof buf);
      if (n <= 0) return std::nullopt;
      buffer_.append(buf, static_cast<size_t>(n));
    }
  }

  // Lines up to and including the first that starts with `prefix`.
  std::vector<std::string> ReadUntil(const std::string& prefix) {
    std::vector<std::string> lines;
    while (auto line = ReadLine()) {
      lines.push_back(*line);
      if (line->rfind(prefix, 0) == 0) break;
    }
    return lines;
  }

  void CloseStdin() {
    if (stdin_ >= 0) close(stdin_);
    stdin_ = -1;
  }

  void Kill() {
    kill(pid_, SIGKILL);
    Wait();
  }

  // The exit code, or 128 + signal.
  int Wait() {
    if (pid_ <= 0) return -1;
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

 private:
  pid_t pid_ = -1;
  int stdin_ = -1;
  int stdout_ = -1;
  std::string buffer_;
};

}  // namespace vant::testing
