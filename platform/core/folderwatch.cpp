#include "folderwatch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cstring>

namespace vant {

namespace {

constexpr uint32_t kEvents = IN_CREATE | IN_OPEN | IN_MODIFY | IN_CLOSE | IN_MOVED_TO |
                             IN_MOVED_FROM | IN_DELETE | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

}  // namespace

FolderWatch::FolderWatch(const std::filesystem::path& folder)
    : folder_(folder), fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
  if (fd_ >= 0 && !folder.empty()) wd_ = inotify_add_watch(fd_, folder.c_str(), kEvents);
}

FolderWatch::~FolderWatch() {
  if (fd_ >= 0) ::close(fd_);
}

void FolderWatch::Poll() {
  if (!Active()) return;
  alignas(inotify_event) char buf[16384];
  for (;;) {
    const ssize_t got = ::read(fd_, buf, sizeof buf);
    if (got <= 0) return;  // nothing more queued (EAGAIN), or the watch is gone
    for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= got;) {
      inotify_event e;
      std::memcpy(&e, buf + at, sizeof e);
      const char* name = buf + at + sizeof e;
      at += static_cast<ssize_t>(sizeof e + e.len);
      if (e.mask & IN_Q_OVERFLOW) {
        states_.clear();  // events were lost: nothing is known any more
        opens_.clear();
        continue;
      }
      if (e.mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT)) {
        wd_ = -1;  // the folder or its medium went away
        states_.clear();
        opens_.clear();
        return;
      }
      if (e.len == 0 || (e.mask & IN_ISDIR)) continue;
      const std::string n(name, strnlen(name, e.len));
      if (e.mask & (IN_DELETE | IN_MOVED_FROM)) {
        states_.erase(n);
        opens_.erase(n);
      }
      if (e.mask & IN_OPEN) ++opens_[n];
      if ((e.mask & IN_CLOSE) && opens_[n] > 0) --opens_[n];
      // A write through an open file; a time set by name (touch) changes nothing.
      if ((e.mask & IN_CREATE) || ((e.mask & IN_MODIFY) && opens_[n] > 0)) {
        states_[n] = WriteState::kWriting;
      }
      if (e.mask & (IN_CLOSE_WRITE | IN_MOVED_TO)) states_[n] = WriteState::kClosed;
    }
  }
}

FolderWatch::WriteState FolderWatch::StateOf(const std::string& name) const {
  auto it = states_.find(name);
  return it == states_.end() ? WriteState::kUnknown : it->second;
}

}  // namespace vant
