#pragma once
// A new empty folder under /tmp for one test, removed with everything in it at the end.
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <stdexcept>
#include <string>

namespace vant::testing {

class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& prefix = "vant-test") {
    std::string pattern = "/tmp/" + prefix + "-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp " + pattern);
    path_ = pattern;
  }
  ~ScratchFolder() {
    chmod(path_.c_str(), 0700);  // a test may have made it read-only
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace vant::testing
