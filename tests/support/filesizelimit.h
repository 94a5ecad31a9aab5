#pragma once
// While alive, no file of this process may grow past `bytes` (RLIMIT_FSIZE): a write beyond
// fails with EFBIG, the way a full disk stops a writer halfway, whatever API the writer uses.
#include <signal.h>
#include <sys/resource.h>

namespace vant::testing {

class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    old_signal_ = ::signal(SIGXFSZ, SIG_IGN);  // the write fails instead of ending the process
    ::getrlimit(RLIMIT_FSIZE, &old_);
    rlimit lower = old_;
    lower.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &lower);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &old_);
    ::signal(SIGXFSZ, old_signal_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit old_{};
  sighandler_t old_signal_ = SIG_DFL;
};

}  // namespace vant::testing
