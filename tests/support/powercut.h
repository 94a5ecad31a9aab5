#pragma once
// Power cuts, replayed. `PowerCutRecorder` is the programs' file layer with a log: every
// operation that changes what the disk holds (creations, writes, size changes, renames, removals,
// new folders) and every sync, with its data. `PowerCutReplay` rebuilds the disk after a cut at
// each point of that log, the way a journalling file system in its default ordering may leave it:
// whatever a sync made durable is there; of the rest, any subset may be missing (every subset when
// few are open, else none, all, each one alone, all but each one, and each start of them). File
// data is durable once its file is synced; a creation, rename or removal once its folder is.
//
// A replay is made once the writer has reported success: the end of the log is that moment, and
// every cut from there on must show the writer's result. `Prove` also replays broken twins of the
// writer (its log with one sync left out, the rename done early, or nothing going through the
// layer) and requires the same check to reject each, so a check that passes by accident shows.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "filelayer.h"

namespace vant::testing {

using DiskBytes = std::vector<uint8_t>;

struct DiskOp {
  enum Kind { kCreate, kMakeFolder, kRename, kUnlink, kWrite, kSetSize, kFileSync, kFolderSync };
  DiskOp(Kind k, std::filesystem::path p = {}, std::filesystem::path t = {}, int i = -1,
         uint64_t at = 0, DiskBytes b = {})
      : kind(k), path(std::move(p)), to(std::move(t)), id(i), offset(at), bytes(std::move(b)) {}
  Kind kind;
  std::filesystem::path path, to;  // the name (kRename: from `path` to `to`; kFolderSync: folder)
  int id = -1;                     // the file
  uint64_t offset = 0;             // kWrite: where; kSetSize: the new size
  DiskBytes bytes;                 // kWrite

  bool Data() const { return kind == kWrite || kind == kSetSize; }
  bool Names() const { return kind <= kUnlink; }
  std::string Describe() const {
    static const char* const names[] = {"create", "mkdir",    "rename", "unlink",
                                        "write",  "set size", "fsync",  "sync folder"};
    std::string s = std::string(names[kind]) + " " + path.filename().string();
    if (kind == kRename) s += " -> " + to.filename().string();
    if (kind == kWrite) {
      s += " [" + std::to_string(offset) + "+" + std::to_string(bytes.size()) + "]";
    }
    if (kind == kSetSize) s += " " + std::to_string(offset);
    if (id >= 0) s += " #" + std::to_string(id);
    return s;
  }
};

// The disk after one replayed cut.
class DiskState {
 public:
  // How many operations of the log had been made when the power went.
  size_t Cut() const { return cut_; }
  // Whether the writer had reported success when the power went.
  bool AfterSuccess() const { return cut_ >= done_; }
  // The bytes under `name`, nothing when the name (or a folder made during the run above it) is
  // missing.
  std::optional<DiskBytes> Read(const std::filesystem::path& name) const {
    const std::filesystem::path p = std::filesystem::absolute(name).lexically_normal();
    for (auto a = p.parent_path(); a != a.root_path() && !a.empty(); a = a.parent_path()) {
      if (made_folders_->count(a) && !folders_.count(a)) return std::nullopt;
    }
    const auto it = names_.find(p);
    if (it == names_.end()) return std::nullopt;
    const auto f = files_.find(it->second);
    return f == files_.end() ? DiskBytes{} : f->second;
  }
  // The names present in `folder` (whatever the folders above it).
  std::vector<std::filesystem::path> NamesIn(const std::filesystem::path& folder) const {
    const std::filesystem::path f = std::filesystem::absolute(folder).lexically_normal();
    std::vector<std::filesystem::path> out;
    for (const auto& [name, id] : names_) {
      if (name.parent_path() == f) out.push_back(name);
    }
    return out;
  }

 private:
  friend class PowerCutReplay;
  std::map<std::filesystem::path, int> names_;
  std::map<int, DiskBytes> files_;
  std::set<std::filesystem::path> folders_;
  const std::set<std::filesystem::path>* made_folders_ = nullptr;
  size_t cut_ = 0;
  size_t done_ = 0;
};

class PowerCutRecorder : public PosixFileLayer {
 public:
  // Records what happens under `root`; the files there now count as durable. Installed as the
  // programs' file layer while alive.
  explicit PowerCutRecorder(const std::filesystem::path& root) : root_(Norm(root)) {
    for (const auto& e : std::filesystem::recursive_directory_iterator(root_)) {
      if (e.is_regular_file()) Adopt(Norm(e.path()));
    }
    SetFileLayer(this);
  }
  ~PowerCutRecorder() override { SetFileLayer(nullptr); }
  PowerCutRecorder(const PowerCutRecorder&) = delete;
  PowerCutRecorder& operator=(const PowerCutRecorder&) = delete;

  const std::vector<DiskOp>& Ops() const { return ops_; }
  const std::map<std::filesystem::path, int>& InitialNames() const { return initial_names_; }
  const std::map<int, DiskBytes>& InitialFiles() const { return initial_; }
  const std::set<std::filesystem::path>& MadeFolders() const { return made_folders_; }

  int Open(const std::filesystem::path& path, int flags, int mode) override {
    const std::filesystem::path p = Norm(path);
    struct stat st;
    const bool existed = ::stat(p.c_str(), &st) == 0;
    const bool tracked = Under(p) && (!existed || S_ISREG(st.st_mode));
    if (tracked && existed && !live_.count(p)) Adopt(p);
    const int fd = PosixFileLayer::Open(path, flags, mode);
    if (fd < 0 || !tracked) return fd;
    if (!existed) {
      live_[p] = next_id_++;
      Log({DiskOp::kCreate, p, {}, live_[p]});
    } else if (flags & O_TRUNC) {
      Log({DiskOp::kSetSize, p, {}, live_[p], 0});
    }
    fds_[fd] = live_[p];
    return fd;
  }
  int CreateTemp(const std::filesystem::path& folder, const std::string& prefix,
                 const std::string& suffix, std::filesystem::path& made) override {
    const int fd = PosixFileLayer::CreateTemp(folder, prefix, suffix, made);
    const std::filesystem::path p = Norm(made);
    if (fd >= 0 && Under(p)) {
      live_[p] = next_id_++;
      Log({DiskOp::kCreate, p, {}, live_[p]});
      fds_[fd] = live_[p];
    }
    return fd;
  }
  bool Write(int fd, const void* buffer, size_t count) override {
    const bool ok = PosixFileLayer::Write(fd, buffer, count);
    if (ok && fds_.count(fd) && count > 0) {
      const auto* b = static_cast<const uint8_t*>(buffer);
      LogWrite(fd, DiskBytes(b, b + count));
    }
    return ok;
  }
  bool CopyRange(int in, uint64_t offset, int out, size_t count) override {
    const bool ok = PosixFileLayer::CopyRange(in, offset, out, count);
    if (ok && fds_.count(out) && count > 0) {
      DiskBytes b(count);
      const off_t end = ::lseek(out, 0, SEEK_CUR);
      if (PosixFileLayer::ReadAt(out, b.data(), count, static_cast<uint64_t>(end) - count) ==
          static_cast<int64_t>(count)) {
        LogWrite(out, std::move(b));
      }
    }
    return ok;
  }
  int Allocate(int fd, int64_t size) override {
    const int r = PosixFileLayer::Allocate(fd, size);
    struct stat st;
    if (r == 0 && fds_.count(fd) && ::fstat(fd, &st) == 0) {
      Log({DiskOp::kSetSize, {}, {}, fds_[fd], static_cast<uint64_t>(st.st_size)});
    }
    return r;
  }
  // What the mapping stored is recorded when it is written back: before that it was only memory.
  int SyncMapping(int fd, void* view, size_t length) override {
    const int r = PosixFileLayer::SyncMapping(fd, view, length);
    if (r == 0 && fds_.count(fd)) {
      const auto* b = static_cast<const uint8_t*>(view);
      Log({DiskOp::kWrite, {}, {}, fds_[fd], 0, DiskBytes(b, b + length)});
      Log({DiskOp::kFileSync, {}, {}, fds_[fd]});
    }
    return r;
  }
  int Fsync(int fd) override {
    const int r = PosixFileLayer::Fsync(fd);
    if (r == 0 && fds_.count(fd)) Log({DiskOp::kFileSync, {}, {}, fds_[fd]});
    return r;
  }
  int Close(int fd) override {
    fds_.erase(fd);
    return PosixFileLayer::Close(fd);
  }
  int Rename(const std::filesystem::path& from, const std::filesystem::path& to,
             bool noReplace) override {
    const std::filesystem::path f = Norm(from), t = Norm(to);
    if (Under(f) && !live_.count(f)) Adopt(f);
    const int r = PosixFileLayer::Rename(from, to, noReplace);
    if (r == 0 && (Under(f) || Under(t)) && live_.count(f)) {
      const int id = live_[f];
      Log({DiskOp::kRename, f, t, id});
      live_.erase(f);
      live_[t] = id;
    }
    return r;
  }
  int Remove(const std::filesystem::path& path) override {
    const std::filesystem::path p = Norm(path);
    if (Under(p) && !live_.count(p)) Adopt(p);
    const int r = PosixFileLayer::Remove(path);
    if (r == 0 && live_.count(p)) {
      Log({DiskOp::kUnlink, p, {}, live_[p]});
      live_.erase(p);
    }
    return r;
  }
  int MakeFolder(const std::filesystem::path& path, mode_t mode) override {
    const int r = PosixFileLayer::MakeFolder(path, mode);
    const std::filesystem::path p = Norm(path);
    if (r == 0 && Under(p)) {
      made_folders_.insert(p);
      Log({DiskOp::kMakeFolder, p});
    }
    return r;
  }
  int SyncFolder(const std::filesystem::path& folder) override {
    const int r = PosixFileLayer::SyncFolder(folder);
    if (r == 0) Log({DiskOp::kFolderSync, Norm(folder.empty() ? "." : folder)});
    return r;
  }

 private:
  static std::filesystem::path Norm(const std::filesystem::path& p) {
    return std::filesystem::absolute(p).lexically_normal();
  }
  bool Under(const std::filesystem::path& p) const {
    const auto [r, q] = std::mismatch(root_.begin(), root_.end(), p.begin(), p.end());
    return r == root_.end() && q != p.end();
  }
  // A file that was there before the recording began (or was made around the layer): durable.
  void Adopt(const std::filesystem::path& p) {
    struct stat st;
    if (::stat(p.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
    std::ifstream in(p, std::ios::binary);
    const int id = next_id_++;
    initial_[id] = DiskBytes(std::istreambuf_iterator<char>(in), {});
    initial_names_[p] = id;
    live_[p] = id;
  }
  void LogWrite(int fd, DiskBytes bytes) {
    const off_t end = ::lseek(fd, 0, SEEK_CUR);
    const uint64_t at = static_cast<uint64_t>(end) - bytes.size();
    Log({DiskOp::kWrite, {}, {}, fds_[fd], at, std::move(bytes)});
  }
  void Log(DiskOp op) { ops_.push_back(std::move(op)); }

  std::filesystem::path root_;
  int next_id_ = 0;
  std::map<std::filesystem::path, int> live_, initial_names_;
  std::map<int, DiskBytes> initial_;
  std::map<int, int> fds_;
  std::set<std::filesystem::path> made_folders_;
  std::vector<DiskOp> ops_;
};

class PowerCutReplay {
 public:
  // Judges one replayed disk: empty when it is acceptable, else what is wrong.
  using Check = std::function<std::string(const DiskState&)>;
  // Names whose contents the check reads; operations that can never reach them are left out of
  // the subsets, which keeps their number small.
  using Watched = std::function<bool(const std::filesystem::path&)>;

  // The log recorded so far; the writer has just reported success.
  explicit PowerCutReplay(const PowerCutRecorder& r) : PowerCutReplay(r, r.Ops()) {}
  // Another log over the same starting disk (a broken twin's).
  PowerCutReplay(const PowerCutRecorder& r, std::vector<DiskOp> ops)
      : ops_(std::move(ops)),
        initial_names_(r.InitialNames()),
        initial_(r.InitialFiles()),
        made_folders_(r.MadeFolders()) {}

  // Every cut point and every subset of what was open there; the faults found (at most `limit`).
  // A log without the writer's data, syncs and renames is a fault in itself: the writer did not
  // go through the layer, and the replay would judge a disk that never changed.
  std::vector<std::string> Run(const Watched& watched, const Check& check, size_t limit = 8) {
    std::vector<std::string> faults = Unrecorded(watched);
    std::set<int> ids;
    for (const auto& [name, id] : initial_names_) {
      if (watched(name)) ids.insert(id);
    }
    for (const DiskOp& op : ops_) {
      if ((op.kind == DiskOp::kCreate && watched(op.path)) ||
          (op.kind == DiskOp::kRename && watched(op.to))) {
        ids.insert(op.id);
      }
    }
    std::vector<size_t> relevant;
    for (size_t i = 0; i < ops_.size(); ++i) {
      const DiskOp& op = ops_[i];
      if (op.kind == DiskOp::kMakeFolder || op.kind == DiskOp::kFolderSync || ids.count(op.id) ||
          (op.Names() && (watched(op.path) || watched(op.to)))) {
        relevant.push_back(i);
      }
    }
    states_ = 0;
    for (size_t cut = 0; cut <= ops_.size(); ++cut) {
      std::vector<size_t> open;
      for (size_t i : relevant) {
        if (i < cut && !Durable(i, cut)) open.push_back(i);
      }
      for (const std::vector<bool>& lost : Subsets(open.size())) {
        const DiskState s = Replay(relevant, cut, open, lost, ids);
        ++states_;
        const std::string fault = check(s);
        if (fault.empty()) continue;
        std::string text = "cut after " + std::to_string(cut) + " ops";
        if (cut > 0) text += " (" + ops_[cut - 1].Describe() + ")";
        text += ", lost:";
        for (size_t j = 0; j < open.size(); ++j) {
          if (lost[j]) text += " {" + ops_[open[j]].Describe() + "}";
        }
        faults.push_back(text + ": " + fault);
        if (faults.size() >= limit) return faults;
      }
    }
    return faults;
  }
  // The states checked by the last run.
  size_t States() const { return states_; }
  const std::vector<DiskOp>& Ops() const { return ops_; }

 private:
  std::vector<std::string> Unrecorded(const Watched& watched) const {
    std::set<int> ids;
    bool renamed = false, written = false, synced = false;
    for (const DiskOp& op : ops_) {
      if (op.kind == DiskOp::kRename && watched(op.to)) {
        ids.insert(op.id);
        renamed = true;
      }
    }
    for (const DiskOp& op : ops_) {
      written = written || (op.Data() && ids.count(op.id));
      synced = synced || (op.kind == DiskOp::kFileSync && ids.count(op.id));
    }
    std::vector<std::string> out;
    if (!renamed) out.push_back("no rename onto a watched name was recorded");
    if (!written) out.push_back("no data of a watched file was recorded");
    if (!synced) out.push_back("no sync of a watched file was recorded");
    return out;
  }

  // Whether a sync before `cut` made operation `i` durable.
  bool Durable(size_t i, size_t cut) const {
    const DiskOp& op = ops_[i];
    if (op.kind == DiskOp::kFileSync || op.kind == DiskOp::kFolderSync) return true;
    auto synced = [&](auto match) {
      for (size_t j = i + 1; j < cut; ++j) {
        if (match(ops_[j])) return true;
      }
      return false;
    };
    if (op.Data()) {
      return synced([&](const DiskOp& s) { return s.kind == DiskOp::kFileSync && s.id == op.id; });
    }
    auto folder = [&](const std::filesystem::path& f) {
      return synced([&](const DiskOp& s) { return s.kind == DiskOp::kFolderSync && s.path == f; });
    };
    return folder(op.path.parent_path()) &&
           (op.kind != DiskOp::kRename || folder(op.to.parent_path()));
  }

  static std::vector<std::vector<bool>> Subsets(size_t n) {
    std::set<std::vector<bool>> out;
    if (n <= 8) {
      for (uint32_t m = 0; m < (1u << n); ++m) {
        std::vector<bool> lost(n);
        for (size_t j = 0; j < n; ++j) lost[j] = (m >> j) & 1u;
        out.insert(lost);
      }
    } else {
      out.insert(std::vector<bool>(n, false));
      out.insert(std::vector<bool>(n, true));
      for (size_t j = 0; j < n; ++j) {
        std::vector<bool> one(n, false), all_but(n, true), start(n, true);
        one[j] = true;
        all_but[j] = false;
        for (size_t k = 0; k < j; ++k) start[k] = false;
        out.insert(one);
        out.insert(all_but);
        out.insert(start);
      }
    }
    return {out.begin(), out.end()};
  }

  DiskState Replay(const std::vector<size_t>& relevant, size_t cut, const std::vector<size_t>& open,
                   const std::vector<bool>& lost, const std::set<int>& ids) const {
    DiskState s;
    s.made_folders_ = &made_folders_;
    s.cut_ = cut;
    s.done_ = ops_.size();
    s.names_ = initial_names_;
    for (int id : ids) {
      const auto it = initial_.find(id);
      if (it != initial_.end()) s.files_[id] = it->second;
    }
    size_t next_open = 0;
    for (size_t i : relevant) {
      if (i >= cut) break;
      if (next_open < open.size() && open[next_open] == i) {
        if (lost[next_open++]) continue;
      }
      const DiskOp& op = ops_[i];
      switch (op.kind) {
        case DiskOp::kCreate:
          s.names_[op.path] = op.id;
          s.files_.try_emplace(op.id);
          break;
        case DiskOp::kMakeFolder:
          s.folders_.insert(op.path);
          break;
        case DiskOp::kRename: {
          s.names_[op.to] = op.id;
          const auto it = s.names_.find(op.path);
          if (it != s.names_.end() && it->second == op.id) s.names_.erase(it);
          break;
        }
        case DiskOp::kUnlink: {
          const auto it = s.names_.find(op.path);
          if (it != s.names_.end() && it->second == op.id) s.names_.erase(it);
          break;
        }
        case DiskOp::kWrite: {
          DiskBytes& f = s.files_[op.id];
          if (f.size() < op.offset + op.bytes.size()) f.resize(op.offset + op.bytes.size());
          std::copy(op.bytes.begin(), op.bytes.end(),
                    f.begin() + static_cast<ptrdiff_t>(op.offset));
          break;
        }
        case DiskOp::kSetSize:
          s.files_[op.id].resize(op.offset);
          break;
        case DiskOp::kFileSync:
        case DiskOp::kFolderSync:
          break;
      }
    }
    return s;
  }

  std::vector<DiskOp> ops_;
  std::map<std::filesystem::path, int> initial_names_;
  std::map<int, DiskBytes> initial_;
  std::set<std::filesystem::path> made_folders_;
  size_t states_ = 0;
};

// Whether `name` is one a writer sets the old `target` aside under: ".TARGET." ... ".bak" beside
// it.
inline bool IsBackupName(const std::filesystem::path& target, const std::filesystem::path& name) {
  const std::string n = name.filename().string();
  return n.starts_with("." + target.filename().string() + ".") && n.ends_with(".bak");
}

// The check of a writer that replaces `target`: until the writer reported success it holds
// `before` (nothing: it did not exist) or `after`, whole, and with `backups` a missing target may
// instead have its old bytes under a backup's name (IsBackupName); from then on it holds `after`.
inline PowerCutReplay::Check ReplacedWhole(const std::filesystem::path& target,
                                           std::optional<DiskBytes> before, DiskBytes after,
                                           bool backups = false) {
  return [=](const DiskState& s) -> std::string {
    const auto now = s.Read(target);
    if (s.AfterSuccess()) {
      if (!now) return "the new file is gone after the writer reported success";
      return *now == after ? "" : "the target is not the new file after the writer's success";
    }
    if (now) return *now == after || now == before ? "" : "the target is torn";
    if (!before) return "";
    if (backups) {
      for (const auto& name : s.NamesIn(target.parent_path())) {
        if (IsBackupName(target, name) && s.Read(name) == before) return "";
      }
    }
    return "the target is gone";
  };
}

// Watches the target and, with `backups`, the names of its backups.
inline PowerCutReplay::Watched TargetNames(const std::filesystem::path& target,
                                           bool backups = false) {
  const auto t = std::filesystem::absolute(target).lexically_normal();
  return [=](const std::filesystem::path& p) {
    return p == t || (backups && p.parent_path() == t.parent_path() && IsBackupName(t, p));
  };
}

// The logs of three broken twins of the writer that recorded `ops`, each with one fault of its
// own in the last file it moved onto a watched name: its data never synced, the rename made
// before its data was written, the folder not synced after the rename; and a fourth that went
// around the layer, so that nothing was recorded. Empty ops where a twin cannot be formed.
struct BrokenTwin {
  std::string name;
  std::vector<DiskOp> ops;
};
inline std::vector<BrokenTwin> BrokenTwins(const std::vector<DiskOp>& ops,
                                           const PowerCutReplay::Watched& watched) {
  std::optional<size_t> rename;
  for (size_t i = 0; i < ops.size(); ++i) {
    if (ops[i].kind == DiskOp::kRename && watched(ops[i].to)) rename = i;
  }
  std::vector<BrokenTwin> twins{{"never syncs the data", {}},
                                {"renames before writing", {}},
                                {"leaves the folder unsynced after the rename", {}},
                                {"bypasses the file layer", {}}};
  if (!rename) return twins;
  const DiskOp& moved = ops[*rename];
  // No sync of the file's data at all before it takes the name.
  for (size_t i = 0; i < ops.size(); ++i) {
    if (!(i < *rename && ops[i].kind == DiskOp::kFileSync && ops[i].id == moved.id)) {
      twins[0].ops.push_back(ops[i]);
    }
  }
  if (twins[0].ops.size() == ops.size()) twins[0].ops.clear();
  // The rename moved to just after the file was made, before any of its data.
  size_t made = 0;
  for (size_t i = 0; i < *rename; ++i) {
    if (ops[i].id == moved.id &&
        (ops[i].kind == DiskOp::kCreate || ops[i].kind == DiskOp::kRename)) {
      made = i + 1;
    }
  }
  bool data_between = false;
  for (size_t i = made; i < *rename; ++i)
    data_between = data_between || (ops[i].Data() && ops[i].id == moved.id);
  if (data_between) {
    twins[1].ops = ops;
    twins[1].ops.erase(twins[1].ops.begin() + static_cast<ptrdiff_t>(*rename));
    twins[1].ops.insert(twins[1].ops.begin() + static_cast<ptrdiff_t>(made), moved);
  }
  // The first sync of the target's folder after the rename left out.
  for (size_t i = *rename + 1; i < ops.size(); ++i) {
    if (ops[i].kind == DiskOp::kFolderSync && ops[i].path == moved.to.parent_path()) {
      twins[2].ops = ops;
      twins[2].ops.erase(twins[2].ops.begin() + static_cast<ptrdiff_t>(i));
      break;
    }
  }
  return twins;
}

// Replays the writer's log and those of its broken twins: what is wrong, empty when the writer
// passes the check at every cut and the check rejects every twin.
inline std::vector<std::string> Prove(const PowerCutRecorder& r,
                                      const PowerCutReplay::Watched& watched,
                                      const PowerCutReplay::Check& check) {
  PowerCutReplay replay(r);
  std::vector<std::string> out = replay.Run(watched, check);
  if (replay.States() <= r.Ops().size()) out.push_back("fewer disks replayed than cut points");
  const std::vector<BrokenTwin> twins = BrokenTwins(r.Ops(), watched);
  for (const BrokenTwin& twin : twins) {
    if (twin.ops.empty() && &twin != &twins.back()) {
      out.push_back("no twin that " + twin.name + ": the writer has no such step");
      continue;
    }
    if (PowerCutReplay(r, twin.ops).Run(watched, check, 1).empty()) {
      out.push_back("the twin that " + twin.name + " passes the check");
    }
  }
  return out;
}

}  // namespace vant::testing
