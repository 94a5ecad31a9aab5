#include "windowlink.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "ipcfolder.h"
#include "trace.h"

namespace vant::ipc {
namespace {

using Clock = std::chrono::steady_clock;

struct Local {
  LocalReceiver receiver;
  std::thread::id thread;
};

std::mutex& LocalMutex() {
  static std::mutex m;
  return m;
}
std::map<std::filesystem::path, Local>& Locals() {
  static std::map<std::filesystem::path, Local> m;
  return m;
}

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

int RemainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<int>(std::max<int64_t>(0, left.count()));
}

// Connects with a bounded wait (a listener whose backlog is full blocks the connect).
// Returns the socket, or -1 with the result to report.
int Connect(const std::filesystem::path& socket_path, Clock::time_point deadline,
            SendResult& failure) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const std::string& p = socket_path.native();
  if (p.size() >= sizeof addr.sun_path) {
    failure = SendResult::kFailed;
    return -1;
  }
  std::memcpy(addr.sun_path, p.c_str(), p.size() + 1);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    failure = SendResult::kFailed;
    return -1;
  }
  int ms = std::max(1, RemainingMs(deadline));
  timeval tv{ms / 1000, (ms % 1000) * 1000};
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    int e = errno;
    close(fd);
    failure = (e == ECONNREFUSED || e == ENOENT)                    ? SendResult::kNoReceiver
              : (e == EAGAIN || e == EINPROGRESS || e == ETIMEDOUT) ? SendResult::kTimeout
                                                                    : SendResult::kFailed;
    return -1;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  return fd;
}

// Waits for `events` on fd until the deadline; false on timeout.
bool WaitFor(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    pollfd p{fd, events, 0};
    int r = poll(&p, 1, RemainingMs(deadline));
    if (r > 0) return true;
    if (r == 0) return false;
    if (errno != EINTR) return false;
  }
}

std::optional<Local> FindLocal(const std::filesystem::path& socket_path) {
  std::lock_guard lock(LocalMutex());
  auto it = Locals().find(socket_path);
  if (it == Locals().end()) return std::nullopt;
  return it->second;
}

// The pid encoded in a socket name "w<key>.<pid>.<serial>".
pid_t PidOf(const std::string& name) {
  size_t a = name.find('.');
  if (a == std::string::npos) return 0;
  return static_cast<pid_t>(std::strtol(name.c_str() + a + 1, nullptr, 10));
}

}  // namespace

std::string TitleKey(std::string_view title) {
  uint64_t h = 1469598103934665603ull;  // FNV-1a
  for (char c : title) {
    unsigned char b = static_cast<unsigned char>(c);
    if (b >= 'A' && b <= 'Z') b = static_cast<unsigned char>(b - 'A' + 'a');
    h = (h ^ b) * 1099511628211ull;
  }
  char buf[20];
  std::snprintf(buf, sizeof buf, "w%016llx", static_cast<unsigned long long>(h));
  return buf;
}

std::optional<WindowRef> FindWindowByTitle(std::string_view title) {
  if (title.empty()) return std::nullopt;
  std::filesystem::path folder;
  try {
    folder = RuntimeFolder();
  } catch (const EIpcError& e) {
    Trace(e.what());
    return std::nullopt;
  }
  const std::string prefix = TitleKey(title) + ".";
  struct Candidate {
    std::filesystem::path path;
    timespec mtime;
  };
  std::vector<Candidate> candidates;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    std::string name = entry.path().filename().native();
    if (name.compare(0, prefix.size(), prefix) != 0) continue;
    struct stat st;
    if (lstat(entry.path().c_str(), &st) != 0 || !S_ISSOCK(st.st_mode)) continue;
    candidates.push_back({entry.path(), st.st_mtim});
  }
  std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
    if (a.mtime.tv_sec != b.mtime.tv_sec) return a.mtime.tv_sec > b.mtime.tv_sec;
    if (a.mtime.tv_nsec != b.mtime.tv_nsec) return a.mtime.tv_nsec > b.mtime.tv_nsec;
    return a.path > b.path;
  });
  for (const auto& c : candidates) {
    WindowRef w{c.path};
    if (IsWindow(w)) return w;
    // Nobody listens: when its program is gone too, the socket is a leftover of a crash.
    pid_t pid = PidOf(c.path.filename().native());
    if (pid > 0 && kill(pid, 0) != 0 && errno == ESRCH) {
      std::filesystem::remove(c.path, ec);
    }
  }
  return std::nullopt;
}

bool IsWindow(const WindowRef& window) {
  if (FindLocal(window.socket)) return true;
  SendResult failure;
  int fd = Connect(window.socket, Clock::now() + std::chrono::milliseconds(1000), failure);
  if (fd < 0) return failure == SendResult::kTimeout;  // alive but busy
  close(fd);
  return true;
}

SendResult SendFrame(const WindowRef& window, MessageKind kind, std::string_view bytes,
                     std::chrono::milliseconds bound) {
  if (auto local = FindLocal(window.socket); local && local->thread == std::this_thread::get_id()) {
    return local->receiver(kind, bytes) == kAckHandled ? SendResult::kDelivered
                                                       : SendResult::kRefused;
  }
  const auto deadline = Clock::now() + bound;
  SendResult failure;
  Fd fd(Connect(window.socket, deadline, failure));
  if (fd.get() < 0) return failure;
  const std::string frame = EncodeFrame(kind, bytes);
  size_t sent = 0;
  while (sent < frame.size()) {
    ssize_t n = send(fd.get(), frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && errno == EAGAIN) {
      if (!WaitFor(fd.get(), POLLOUT, deadline)) return SendResult::kTimeout;
    } else {
      return SendResult::kFailed;
    }
  }
  for (;;) {
    if (!WaitFor(fd.get(), POLLIN, deadline)) return SendResult::kTimeout;
    char ack;
    ssize_t n = recv(fd.get(), &ack, 1, 0);
    if (n == 1) return ack == kAckHandled ? SendResult::kDelivered : SendResult::kRefused;
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    return SendResult::kFailed;
  }
}

SendResult SendCopyData(const WindowRef& window, std::string_view path,
                        std::chrono::milliseconds bound) {
  if (!IsValidPathPayload(path)) return SendResult::kRefused;
  return SendFrame(window, MessageKind::kCopyData, path, bound);
}

SendResult ActivateWindow(const WindowRef& window, std::chrono::milliseconds bound) {
  return SendFrame(window, MessageKind::kActivate, {}, bound);
}

void RegisterLocalReceiver(const std::filesystem::path& socket, LocalReceiver receiver) {
  std::lock_guard lock(LocalMutex());
  Locals()[socket] = Local{std::move(receiver), std::this_thread::get_id()};
}

void UnregisterLocalReceiver(const std::filesystem::path& socket) {
  std::lock_guard lock(LocalMutex());
  Locals().erase(socket);
}

}  // namespace vant::ipc
