#pragma once
// A file layer for tests that notes every open of a file whose path ends with a chosen name, with
// its flags, and otherwise behaves as the POSIX one. Installed while alive.
#include <fcntl.h>

#include <filesystem>
#include <string>
#include <vector>

#include "filelayer.h"

namespace vant::testing {

class OpenRecorder : public PosixFileLayer {
 public:
  explicit OpenRecorder(std::string name) : name_(std::move(name)) { SetFileLayer(this); }
  ~OpenRecorder() override { SetFileLayer(nullptr); }
  OpenRecorder(const OpenRecorder&) = delete;
  OpenRecorder& operator=(const OpenRecorder&) = delete;

  int Open(const std::filesystem::path& path, int flags, int mode) override {
    const std::string p = path.string();
    if (p.size() >= name_.size() && p.compare(p.size() - name_.size(), name_.size(), name_) == 0)
      opens.push_back(flags);
    return PosixFileLayer::Open(path, flags, mode);
  }
  // Opens that may write.
  int Writable() const {
    int n = 0;
    for (int flags : opens) n += (flags & O_ACCMODE) != O_RDONLY;
    return n;
  }

  std::vector<int> opens;

 private:
  std::string name_;
};

}  // namespace vant::testing
