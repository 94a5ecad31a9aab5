#include "progstart.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <thread>

extern char** environ;

namespace vant {

StartResult StartResultFromErrno(int err, const std::string& program) {
  switch (err) {
    case ENOENT: {
      std::filesystem::path parent = std::filesystem::path(program).parent_path();
      struct stat st;
      if (!parent.empty() && (::stat(parent.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)))
        return kStartPathNotFound;
      return kStartFileNotFound;
    }
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
      return kStartPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR:
    case ETXTBSY:
      return kStartAccessDenied;
    case ENOEXEC:
    case ELIBBAD:
    case ELIBACC:
      return kStartBadFormat;
    default:
      return kStartOutOfResources;
  }
}

ChildProcess::~ChildProcess() { Release(); }

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(other.pid_), exited_(other.exited_), exit_code_(other.exit_code_) {
  other.pid_ = -1;
}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
  if (this != &other) {
    Release();
    pid_ = other.pid_;
    exited_ = other.exited_;
    exit_code_ = other.exit_code_;
    other.pid_ = -1;
  }
  return *this;
}

void ChildProcess::Release() {
  if (IsRunning()) {
    pid_t pid = pid_;
    std::thread([pid] {
      int status;
      while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
    }).detach();
  }
  pid_ = -1;
  exited_ = false;
}

StartResult ChildProcess::Start(const std::vector<std::string>& argv) {
  Release();
  if (argv.empty() || argv[0].empty()) return kStartFileNotFound;
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid;
  const bool search = argv[0].find('/') == std::string::npos;
  int err = search ? ::posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ)
                   : ::posix_spawn(&pid, args[0], nullptr, nullptr, args.data(), environ);
  if (err != 0) return StartResultFromErrno(err, argv[0]);
  pid_ = pid;
  exited_ = false;
  exit_code_ = -1;
  return kStartOk;
}

namespace {
int DecodeStatus(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}
}  // namespace

bool ChildProcess::WaitFor(int64_t timeout_ms) {
  if (pid_ <= 0) return false;
  if (exited_) return true;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  // A pidfd lets us sleep until the child ends instead of polling.
  int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
  for (;;) {
    int status;
    pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      exited_ = true;
      exit_code_ = DecodeStatus(status);
      break;
    }
    if (r < 0 && errno != EINTR) {  // not our child any more: nothing to wait for
      exited_ = true;
      break;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    if (left <= 0) break;
    if (pidfd >= 0) {
      pollfd p{pidfd, POLLIN, 0};
      ::poll(&p, 1, static_cast<int>(std::min<int64_t>(left, 1000)));
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::min<int64_t>(left, 5)));
    }
  }
  if (pidfd >= 0) ::close(pidfd);
  return exited_;
}

void ChildProcess::Kill() {
  if (!IsRunning()) return;
  ::kill(pid_, SIGKILL);
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  exited_ = true;
  exit_code_ = DecodeStatus(status);
}

StartResult StartProgram(const std::vector<std::string>& argv) {
  ChildProcess child;
  return child.Start(argv);  // the destructor hands the running child to a reaper
}

std::vector<std::string> SplitCommandLine(const std::string& line) {
  std::vector<std::string> out;
  std::string cur;
  bool quoted = false, any = false;
  for (char c : line) {
    if (c == '"') {
      quoted = !quoted;
      any = true;
    } else if ((c == ' ' || c == '\t') && !quoted) {
      if (any) out.push_back(cur);
      cur.clear();
      any = false;
    } else {
      cur += c;
      any = true;
    }
  }
  if (any) out.push_back(cur);
  return out;
}

}  // namespace vant
