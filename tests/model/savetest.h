#pragma once
// Helpers of the save's tests: a model opened as the converter opens it, edits of every field, an
// independent walk of a saved file, recorders for progress and the viewer notice, and a file
// layer that fails one chosen call.
#include <fcntl.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bwfattach.h"
#include "bwfchunk.h"
#include "bwffilelayer.h"
#include "bwfnotify.h"
#include "bwfsave.h"
#include "vantbuilder.h"

namespace st {

namespace fs = std::filesystem;

inline vb::Bytes ReadBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return vb::Bytes(std::istreambuf_iterator<char>(in), {});
}

inline void WriteBytes(const fs::path& p, const vb::Bytes& b) {
  std::ofstream(p, std::ios::binary)
      .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

// The model as the converter has it before a save: read in order, scanned, temporary folder set.
inline std::unique_ptr<TBWFChunck> OpenModel(const fs::path& path, const fs::path& temp_folder,
                                             int mode = TBWFChunck::kKeepOpen) {
  auto m = std::make_unique<TBWFChunck>(path, mode);
  ReadModelInOrder(*m);
  m->ScanChunks(path);
  m->TempFolder = temp_folder;
  m->BextImage = m->BextInfo;
  m->CmcdImage = m->CmcdInfo;
  return m;
}

// A distinct text for every `cmcd` field (as wide as the field allows) and a new Description.
inline std::string FieldEdit(int field) {
  return "E" + std::to_string(field) + "-edited-text-that-runs-past-narrow-fields";
}
inline const std::string kDescription = "new remarks for the saved file";
inline void EditEverything(TBWFChunck& m) {
  m.BextImage.SetDescription(kDescription);
  m.CmcdImage.SetCmcdVersion(123);
  for (int f = 0; f < bwf::kCmcdFieldCount; ++f) {
    m.CmcdImage.Set(static_cast<bwf::CmcdField>(f), FieldEdit(f));
  }
}
inline std::string Cut(const std::string& s, int field) {
  return s.substr(0, bwf::CmcdFields()[field].width);
}

// One top-level chunk of a file, read without the model.
struct TopChunk {
  std::string id;
  uint32_t size;
  uint64_t dataOffset;
};
// The chain of top-level chunks; `whole` tells that the form size is the length minus 8 and the
// chain ends exactly at the end of the bytes.
inline std::vector<TopChunk> Walk(const vb::Bytes& b, bool* whole = nullptr) {
  std::vector<TopChunk> out;
  auto le32 = [&](size_t at) {
    return static_cast<uint32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16 | b[at + 3] << 24);
  };
  size_t at = 12;
  while (b.size() >= 12 && at + 8 <= b.size()) {
    const uint32_t size = le32(at + 4);
    out.push_back({std::string(b.begin() + at, b.begin() + at + 4), size, at + 8});
    at += 8 + size + (size & 1u);
  }
  if (whole) {
    *whole = b.size() >= 12 && std::string(b.begin(), b.begin() + 4) == "RIFF" &&
             le32(4) == b.size() - 8 && at == b.size();
  }
  return out;
}
inline std::vector<std::string> Ids(const std::vector<TopChunk>& chunks) {
  std::vector<std::string> ids;
  for (const auto& c : chunks) ids.push_back(c.id);
  return ids;
}
// The data bytes of the first chunk with that id (case as given).
inline vb::Bytes ChunkData(const vb::Bytes& file, const std::string& id) {
  for (const auto& c : Walk(file)) {
    if (c.id == id) {
      const size_t end = std::min<size_t>(file.size(), c.dataOffset + c.size);
      return vb::Bytes(file.begin() + c.dataOffset, file.begin() + end);
    }
  }
  return {};
}

// Progress values and message-loop turns, while alive.
class ProgressRecorder : public TBWFProgress {
 public:
  ProgressRecorder() { SetBWFProgress(this); }
  ~ProgressRecorder() override { SetBWFProgress(nullptr); }
  void SetCaption(std::string_view t) override { caption = t; }
  void Show() override { shown = true; }
  void Hide() override { shown = false; }
  void SetProgress(int p) override { values.push_back(p); }
  void ProcessMessages() override { ++pumps; }
  void StartDelayTimer() override { ++timers; }
  std::string caption;
  bool shown = false;
  std::vector<int> values;
  int pumps = 0, timers = 0;
};

// Counts the notices a save sends to the viewer, while alive.
class NoticeRecorder {
 public:
  NoticeRecorder() {
    SetBWFViewerNotice(
        [this](const TBWFChunck&, int edition, const std::optional<vant::ipc::WindowRef>&) {
          editions.push_back(edition);
        });
  }
  ~NoticeRecorder() { SetBWFViewerNotice({}); }
  std::vector<int> editions;
};

// The POSIX layer, except that the `nth` call of `op` whose file's path contains `match` fails
// with `error`. Installed while alive.
class FaultyLayer : public TBWFPosixFileLayer {
 public:
  enum Op {
    kNone,
    kOpen,
    kCreateTemp,
    kRead,
    kWrite,
    kCopy,
    kFsync,
    kClose,
    kStat,
    kRename,
    kRemove,
    kSyncFolder
  };
  FaultyLayer(Op op = kNone, int nth = 1, std::string match = {}, int error = EIO)
      : op_(op), nth_(nth), match_(std::move(match)), error_(error) {
    SetBWFFileLayer(this);
  }
  ~FaultyLayer() override { SetBWFFileLayer(nullptr); }

  int Open(const fs::path& p, int flags, int mode) override {
    if (Fails(kOpen, p)) return -1;
    return Track(TBWFPosixFileLayer::Open(p, flags, mode), p);
  }
  int CreateTemp(const fs::path& folder, const std::string& prefix, const std::string& suffix,
                 fs::path& made) override {
    ++temps;
    if (Fails(kCreateTemp, folder / prefix)) return -1;
    const int fd = TBWFPosixFileLayer::CreateTemp(folder, prefix, suffix, made);
    return Track(fd, made);
  }
  int64_t ReadAt(int fd, void* b, size_t n, uint64_t off) override {
    if (Fails(kRead, paths_[fd])) return -1;
    return TBWFPosixFileLayer::ReadAt(fd, b, n, off);
  }
  bool Write(int fd, const void* b, size_t n) override {
    if (Fails(kWrite, paths_[fd])) return false;
    return TBWFPosixFileLayer::Write(fd, b, n);
  }
  bool CopyRange(int in, uint64_t off, int out, size_t n) override {
    if (Fails(kCopy, paths_[out])) return false;
    return TBWFPosixFileLayer::CopyRange(in, off, out, n);
  }
  int Fsync(int fd) override {
    if (Fails(kFsync, paths_[fd])) return -1;
    return TBWFPosixFileLayer::Fsync(fd);
  }
  int Close(int fd) override {
    const fs::path p = paths_[fd];
    paths_.erase(fd);
    const int r = TBWFPosixFileLayer::Close(fd);  // released either way, as Linux does
    if (Fails(kClose, p)) return -1;
    return r;
  }
  int Stat(const fs::path& p, struct stat& s) override {
    if (Fails(kStat, p)) return -1;
    return TBWFPosixFileLayer::Stat(p, s);
  }
  int Rename(const fs::path& from, const fs::path& to, bool noReplace) override {
    if (Fails(kRename, from.string() + ">" + to.string())) return -1;
    return TBWFPosixFileLayer::Rename(from, to, noReplace);
  }
  int Remove(const fs::path& p) override {
    if (Fails(kRemove, p)) return -1;
    return TBWFPosixFileLayer::Remove(p);
  }
  int SyncFolder(const fs::path& folder) override {
    if (Fails(kSyncFolder, folder)) return -1;
    return TBWFPosixFileLayer::SyncFolder(folder);
  }

  int temps = 0;  // CreateTemp calls
  bool fired = false;

 private:
  int Track(int fd, const fs::path& p) {
    if (fd >= 0) paths_[fd] = p.string();
    return fd;
  }
  bool Fails(Op op, const fs::path& p) {
    if (op != op_ || p.string().find(match_) == std::string::npos) return false;
    if (++seen_ != nth_) return false;
    fired = true;
    errno = error_;
    return true;
  }
  Op op_;
  int nth_;
  std::string match_;
  int error_;
  int seen_ = 0;
  std::map<int, std::string> paths_;
};

}  // namespace st
