#include "mmffile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "filelayer.h"
#include "replacingfile.h"
#include "tempfiles.h"
#include "trace.h"

namespace fs = std::filesystem;

std::function<void(int step)> TMMFastFile::PackStepHook;

namespace {

constexpr char kSignature[] = "FASTFILE";
// The start of the names of packs' new containers.
constexpr std::string_view kPackStem = "FAST";
constexpr int64_t kMaxContainerSize = INT32_MAX;  // offsets and sizes are 32-bit signed

[[noreturn]] void Fail(int id) { throw EMMFastFileError(LoadResStr(id)); }

[[noreturn]] void FailWith(int id, const std::string& tail) {
  throw EMMFastFileError(LoadResStr(id) + tail);
}

[[noreturn]] void FailSystem(const char* what, int error) {
  throw EMMFastFileError(std::string(what) + " failed with Error Code: " + std::to_string(error));
}

std::string Replace(std::string text, const std::string& value) {
  const size_t at = text.find("%s");
  if (at != std::string::npos) text.replace(at, 2, value);
  return text;
}

int64_t DirectoryEnd(int64_t max_files) { return TMMFastFile::kHeaderSize + 22 * (max_files + 1); }

std::string ShortName(const std::string& name) {
  return name.substr(0, TMMFastFile::kMaxNameLength);
}

// Names compare without regard to ASCII letter case.
std::string Key(const std::string& name) {
  std::string k = ShortName(name);
  for (char& c : k)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return k;
}

// Opens a regular file only: a FIFO or device picked as a file would block or never end.
int OpenRegular(const std::string& path, int flags) {
  vant::FileLayer& io = vant::GetFileLayer();
  const int fd = io.Open(path, flags | O_NONBLOCK);
  if (fd < 0) return -1;
  struct stat st;
  if (io.Fstat(fd, st) != 0 || !S_ISREG(st.st_mode)) {
    io.Close(fd);
    errno = EINVAL;
    return -1;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

// Reserves real blocks, so a full disk is an error here and never a fault on a mapped page.
bool Grow(int fd, int64_t size) { return vant::GetFileLayer().Allocate(fd, size) == 0; }

void SyncFolder(const fs::path& folder) { vant::GetFileLayer().SyncFolder(folder); }

void StoreName(TFileEntry& e, const std::string& name) {
  const std::string s = ShortName(name);
  std::memset(e.name, 0, sizeof e.name);
  std::memcpy(e.name, s.data(), s.size());
  e.name_length = static_cast<uint8_t>(s.size());
}

void Step(int step) {
  if (TMMFastFile::PackStepHook) TMMFastFile::PackStepHook(step);
}

}  // namespace

std::string TFileEntry::Name() const {
  return std::string(name, std::min<size_t>(name_length, sizeof name));
}

TMMFastFile::TMMFastFile(vant::TComponent* owner) : TMMNonVisualComponent(owner) {}

TMMFastFile::~TMMFastFile() {
  try {
    Done();
  } catch (const std::exception& e) {
    vant::Trace(std::string("FastFile: not packed on close: ") + e.what());
  }
  Unmap();
}

// ---- properties ----

void TMMFastFile::SetFileName(const std::string& name) {
  std::string path;
  if (!name.empty()) {
    std::error_code ec;
    path = fs::absolute(fs::path(name), ec).lexically_normal().string();
  }
  if (path == file_name_) return;
  std::error_code ec;
  const bool exists = !path.empty() && fs::exists(path, ec);
  if (exists && !IsFastFile(path)) Fail(101);
  Done();
  if (!path.empty() && !exists) CreateFastFile(path, max_files_);
  file_name_ = path;
  if (file_name_.empty()) return;
  Init();
  if (HasState(vant::csDesigning)) Done();
}

void TMMFastFile::SetMaxFiles(int32_t n) {
  if (n == max_files_) return;
  if (!file_name_.empty()) Fail(100);
  max_files_ = std::max(n, 2);
}

void TMMFastFile::SetMaxHandles(int32_t n) {
  n = std::max(n, 0);
  if (n == max_handles_) return;
  const bool shrinking = n < max_handles_;
  if (IsOpen()) {
    handles_.resize(static_cast<size_t>(n));
    if (shrinking) HandlesLost();
  }
  max_handles_ = n;
}

void TMMFastFile::Change() {
  if (!HasState(vant::csDesigning) && OnChange) OnChange(this);
}

void TMMFastFile::HandlesLost() {
  if (HasState(vant::csDesigning) || HasState(vant::csLoading) || HasState(vant::csDestroying))
    return;
  if (OnHandlesLost) OnHandlesLost(this);
}

void TMMFastFile::Loaded() {
  TMMNonVisualComponent::Loaded();
  if (!HasState(vant::csDesigning) && !file_name_.empty()) Init();
}

// ---- opening and closing ----

bool TMMFastFile::IsFastFile(const std::string& path) {
  const int fd = OpenRegular(path, O_RDONLY);
  if (fd < 0) return false;
  char sig[kSignatureSize];
  const bool ok = ::pread(fd, sig, sizeof sig, 0) == kSignatureSize &&
                  std::memcmp(sig, kSignature, kSignatureSize) == 0;
  vant::GetFileLayer().Close(fd);
  return ok;
}

std::vector<uint8_t> TMMFastFile::EmptyContainer(int32_t max_files) {
  max_files = std::clamp<int32_t>(max_files, 2, (kMaxContainerSize - kHeaderSize) / 22 - 1);
  const int64_t dir_end = DirectoryEnd(max_files);
  std::vector<uint8_t> image(static_cast<size_t>(dir_end), 0);
  std::memcpy(image.data(), kSignature, kSignatureSize);
  std::memcpy(image.data() + 8, &max_files, 4);
  const int32_t first = static_cast<int32_t>(dir_end);
  std::memcpy(image.data() + kHeaderSize + offsetof(TFileEntry, offset), &first, 4);
  return image;
}

void TMMFastFile::CreateFastFile(const std::string& path, int32_t max_files) {
  if (path.empty()) return;
  // A file of that name is replaced whole or not at all: a failed write leaves it as it was.
  vant::ReplacingFile out(path);
  if (!out.IsOpen()) throw EMMFastFileError(Replace(LoadResStr(105), "FastFile"));
  const std::vector<uint8_t> image = EmptyContainer(max_files);
  if (!out.Write(image.data(), image.size()) || !out.Commit()) Fail(106);
}

void TMMFastFile::Init() {
  std::error_code ec;
  if (file_name_.empty() || !fs::is_regular_file(file_name_, ec)) Fail(104);
  Done();
  try {
    handles_.assign(static_cast<size_t>(max_handles_), Handle{});
    fd_ = OpenRegular(file_name_, O_RDWR);
    if (fd_ < 0) FailSystem("CreateFile", errno);
    struct stat st;
    if (::fstat(fd_, &st) != 0) FailSystem("CreateFile", errno);
    if (st.st_size < kHeaderSize || st.st_size > kMaxContainerSize) Fail(101);
    Map(fd_, st.st_size);
    ValidateMapping();
  } catch (...) {
    Unmap();
    throw;
  }
  max_files_ = *reinterpret_cast<const int32_t*>(base_ + 8);
  deleted_count_ = 0;  // only memory keeps it, so a container closed by a crash is recounted
  for (int i = 0; i < Count(); ++i) deleted_count_ += Entry(i).deleted != 0;
  BuildIndex();
}

void TMMFastFile::Done() {
  Pack();
  Unmap();
}

void TMMFastFile::Map(int fd, int64_t size) {
  void* view = ::mmap(nullptr, static_cast<size_t>(size), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (view == MAP_FAILED) FailSystem("MapViewOfFile", errno);
  base_ = static_cast<uint8_t*>(view);
  mapped_size_ = size;
}

void TMMFastFile::UnmapView() {
  if (base_ != nullptr) ::munmap(base_, static_cast<size_t>(mapped_size_));
  base_ = nullptr;
  mapped_size_ = 0;
}

void TMMFastFile::Unmap() {
  UnmapView();
  if (fd_ >= 0) vant::GetFileLayer().Close(fd_);
  fd_ = -1;
  handles_.clear();
  index_.clear();
}

// Every field is checked against the mapped size before anything trusts it.
void TMMFastFile::ValidateMapping() const {
  const int64_t size = mapped_size_;
  if (size < kHeaderSize || std::memcmp(base_, kSignature, kSignatureSize) != 0) Fail(101);
  int32_t max_files, count;
  std::memcpy(&max_files, base_ + 8, 4);
  std::memcpy(&count, base_ + 12, 4);
  if (max_files < 0 || DirectoryEnd(max_files) > size) Fail(101);
  if (count < 0 || count > max_files) Fail(101);
  const int64_t dir_end = DirectoryEnd(max_files);
  int64_t previous_end = dir_end;
  for (int i = 0; i <= count; ++i) {
    TFileEntry e;
    std::memcpy(&e, base_ + kHeaderSize + 22 * static_cast<int64_t>(i), sizeof e);
    if (e.offset < previous_end || e.offset > size) Fail(101);
    if (i == count) break;
    TFileEntry next;
    std::memcpy(&next, base_ + kHeaderSize + 22 * static_cast<int64_t>(i + 1), sizeof next);
    if (e.name_length > kMaxNameLength || e.deleted > 1 || e.size < 0) Fail(101);
    if (static_cast<int64_t>(e.offset) + e.size > next.offset) Fail(101);
    previous_end = e.offset;
  }
}

void TMMFastFile::UpdateFastFile(int64_t size) {
  RequireOpen();
  UnmapView();  // the file and the handles stay: handles name their entries by index
  try {
    if (size > kMaxContainerSize) FailSystem("CreateFileMapping", EFBIG);
    if (!Grow(fd_, size)) FailSystem("CreateFileMapping", errno);
    struct stat st;
    if (::fstat(fd_, &st) != 0) FailSystem("CreateFileMapping", errno);
    Map(fd_, st.st_size);
    ValidateMapping();
  } catch (...) {
    Unmap();
    throw;
  }
  max_files_ = *reinterpret_cast<const int32_t*>(base_ + 8);
  HandlesLost();
}

void TMMFastFile::Pack() {
  if (!IsOpen() || deleted_count_ == 0) return;
  const fs::path target(file_name_);
  const fs::path folder = target.parent_path();
  Step(1);
  vant::FileLayer& io = vant::GetFileLayer();
  fs::path temp;
  // The new container's name carries this process's id, so that what a killed pack left is
  // found and removed by the next one into this folder.
  const fs::path here = folder.empty() ? fs::path(".") : folder;
  vant::RemoveStaleOwnedTemps(here, "", [](std::string_view stem) { return stem == kPackStem; });
  int fd = io.CreateTemp(folder, vant::OwnedTempPrefix(kPackStem), "", temp);
  if (fd < 0) Fail(113);
  // Its lock stays until it has taken the old container's name or is removed.
  vant::StagedHold hold(fd);
  const std::string temp_path = temp.string();
  uint8_t* view = nullptr;
  int64_t new_size = DirectoryEnd(max_files_);
  try {
    const std::vector<uint8_t> empty = EmptyContainer(max_files_);
    if (!io.Write(fd, empty.data(), empty.size())) Fail(113);
    for (int i = 0; i < Count(); ++i)
      if (!Entry(i).deleted) new_size += Entry(i).size;
    if (!Grow(fd, new_size)) Fail(114);
    // The packed container takes the old one's place with its permissions, not the private
    // ones of a temporary file.
    struct stat old_st;
    if (io.Fstat(fd_, old_st) != 0 || io.Fchmod(fd, old_st.st_mode & 07777) != 0) Fail(114);
    void* v =
        ::mmap(nullptr, static_cast<size_t>(new_size), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (v == MAP_FAILED) Fail(114);
    view = static_cast<uint8_t*>(v);
    Step(2);
    auto* dir = reinterpret_cast<TFileEntry*>(view + kHeaderSize);
    int32_t data_end = static_cast<int32_t>(DirectoryEnd(max_files_));
    int32_t n = 0;
    for (int i = 0; i < Count(); ++i) {
      const TFileEntry& e = Entry(i);
      if (e.deleted) continue;
      TFileEntry out{};
      out.name_length = e.name_length;
      std::memcpy(out.name, e.name, sizeof out.name);
      out.size = e.size;
      out.offset = data_end;
      std::memcpy(&dir[n], &out, sizeof out);
      std::memcpy(view + data_end, base_ + e.offset, static_cast<size_t>(e.size));
      data_end += e.size;
      ++n;
    }
    TFileEntry end{};
    end.offset = data_end;
    std::memcpy(&dir[n], &end, sizeof end);
    std::memcpy(view + 12, &n, 4);
    HandlesLost();
    // The new container is whole on the disk before it takes the old one's name.
    const bool synced =
        io.SyncMapping(fd, view, static_cast<size_t>(new_size)) == 0 && io.Fsync(fd) == 0;
    ::munmap(view, static_cast<size_t>(new_size));
    view = nullptr;
    io.Close(fd);
    fd = -1;
    if (!synced) Fail(114);
    Step(3);
  } catch (...) {
    if (view != nullptr) ::munmap(view, static_cast<size_t>(new_size));
    if (fd >= 0) io.Close(fd);
    io.Remove(temp_path);
    throw;
  }
  deleted_count_ = 0;
  Unmap();
  // One step: whatever moment the process ends, the old container or the packed one is there.
  if (io.Rename(temp_path, target, false) != 0) {
    const int error = errno;
    io.Remove(temp_path);
    Init();
    FailSystem("MoveFile", error);
  }
  Step(4);
  SyncFolder(folder);
  Init();
}

// ---- directory ----

void TMMFastFile::RequireOpen() const {
  if (!IsOpen()) Fail(102);
}

int32_t TMMFastFile::Count() const { return *reinterpret_cast<const int32_t*>(base_ + 12); }

void TMMFastFile::SetCount(int32_t n) { std::memcpy(base_ + 12, &n, 4); }

TFileEntry& TMMFastFile::Entry(int index) const {
  return *reinterpret_cast<TFileEntry*>(base_ + kHeaderSize + 22 * static_cast<int64_t>(index));
}

int TMMFastFile::FindEntry(const std::string& name) const {
  const auto it = index_.find(Key(name));
  return it == index_.end() ? -1 : it->second;
}

void TMMFastFile::BuildIndex() {
  index_.clear();
  names_repeat_ = false;
  for (int i = 0; i < Count(); ++i)
    if (!Entry(i).deleted) names_repeat_ |= !index_.emplace(Key(Entry(i).Name()), i).second;
}

void TMMFastFile::Unindex(int slot) {
  if (names_repeat_) return BuildIndex();  // another entry of the same name may take its place
  index_.erase(Key(Entry(slot).Name()));
}

int TMMFastFile::LiveIndex(int index) const {
  if (index < 0 || index >= GetCount()) return -1;
  for (int i = 0; i < Count(); ++i)
    if (!Entry(i).deleted && index-- == 0) return i;
  return -1;
}

int TMMFastFile::GetCount() const { return IsOpen() ? Count() - deleted_count_ : 0; }

TFileEntry TMMFastFile::GetFileEntries(int index) const {
  RequireOpen();
  const int slot = LiveIndex(index);
  if (slot < 0) Fail(103);
  return Entry(slot);
}

std::string TMMFastFile::GetFiles(int index) const { return GetFileEntries(index).Name(); }

std::string TMMFastFile::GetFilesByName(const std::string& name) const {
  RequireOpen();
  if (name.empty()) Fail(104);
  const int slot = FindEntry(name);
  return slot < 0 ? std::string() : Entry(slot).Name();
}

bool TMMFastFile::FileExists(const std::string& name) const {
  if (name.empty()) return false;
  RequireOpen();
  return FindEntry(name) >= 0;
}

int32_t TMMFastFile::FileSize(const std::string& name) {
  if (!FileExists(name)) return 0;
  return Entry(FindEntry(name)).size;
}

std::string TMMFastFile::AddFile(const std::string& path) {
  RequireOpen();
  if (Count() >= max_files_) Fail(107);
  const std::string stored = ShortName(GetShortFileName(path));
  if (stored.empty()) Fail(104);
  if (FindEntry(stored) >= 0) Fail(108);
  const int source = OpenRegular(path, O_RDONLY);
  if (source < 0) Fail(110);
  struct stat st;
  const int32_t start = Entry(Count()).offset;
  if (::fstat(source, &st) != 0 || start + static_cast<int64_t>(st.st_size) > kMaxContainerSize) {
    vant::GetFileLayer().Close(source);
    Fail(106);
  }
  // Exactly the size seen now is copied, whatever the source does meanwhile.
  const int32_t size = static_cast<int32_t>(st.st_size);
  try {
    UpdateFastFile(static_cast<int64_t>(start) + size);
    int32_t copied = 0;
    while (copied < size) {
      const size_t piece = static_cast<size_t>(std::min(size - copied, kCopyPiece));
      const ssize_t n = ::pread(source, base_ + start + copied, piece, copied);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) Fail(110);
      if (n == 0) break;  // the source shrank: the rest stays zero
      copied += static_cast<int32_t>(n);
    }
  } catch (...) {
    vant::GetFileLayer().Close(source);
    if (IsOpen() && ::ftruncate(fd_, start) == 0) UpdateFastFile(start);
    throw;
  }
  vant::GetFileLayer().Close(source);
  const int slot = Count();
  TFileEntry& e = Entry(slot);
  StoreName(e, stored);
  e.deleted = 0;
  e.size = size;
  e.offset = start;
  Entry(slot + 1) = TFileEntry{};
  Entry(slot + 1).offset = start + size;
  SetCount(slot + 1);
  index_.emplace(Key(stored), slot);
  Change();
  return stored;
}

void TMMFastFile::RemoveFile(const std::string& name) {
  RequireOpen();
  if (name.empty()) Fail(104);
  const int slot = FindEntry(name);
  if (slot < 0) throw EMMFastFileError(Replace(LoadResStr(111), name));
  for (Handle& h : handles_)
    if (h.in_use && h.entry == slot) h.in_use = false;
  Entry(slot).deleted = 1;
  ++deleted_count_;
  Unindex(slot);
  Change();
}

void TMMFastFile::RenameFile(const std::string& old_name, const std::string& new_name) {
  RequireOpen();
  if (old_name.empty() || new_name.empty()) Fail(104);
  if (FindEntry(new_name) >= 0) Fail(108);
  const int slot = FindEntry(old_name);
  if (slot < 0) throw EMMFastFileError(Replace(LoadResStr(111), old_name));
  Unindex(slot);
  StoreName(Entry(slot), new_name);
  if (names_repeat_) BuildIndex();
  else index_.emplace(Key(new_name), slot);
  Change();
}

void TMMFastFile::ExtractFile(const std::string& name, const std::string& target) {
  RequireOpen();
  const int slot = FindEntry(name);
  if (name.empty() || slot < 0) Fail(104);
  if (target.empty()) Fail(112);
  std::error_code ec;
  fs::path path = fs::absolute(fs::path(target), ec).lexically_normal();
  if (!path.has_filename() || fs::is_directory(path, ec)) {
    // The stored name comes from the container: it may only ever name a file in this folder.
    const std::string stored = Entry(slot).Name();
    if (stored.empty() || stored == "." || stored == ".." ||
        stored.find_first_of(std::string("/\0", 2)) != std::string::npos)
      Fail(104);
    path /= stored;
  }
  const std::string quoted = " \"" + path.string() + "\"";
  if (fs::exists(path, ec) && !fs::is_regular_file(path, ec)) FailWith(106, quoted);
  // Written beside the target and renamed over it, so a failure never leaves half a file.
  vant::ReplacingFile out(path);
  const TFastFileHandle h = FileOpen(Entry(slot).Name());
  std::vector<uint8_t> buffer(kCopyPiece);
  bool ok = out.IsOpen();
  try {
    for (;;) {
      if (!ok) break;
      const int32_t n = FileRead(h, buffer.data(), kCopyPiece);
      if (n > 0) ok = out.Write(buffer.data(), static_cast<size_t>(n));
      if (n < kCopyPiece) break;
    }
  } catch (...) {
    ok = false;
  }
  FileClose(h);
  if (!ok || !out.Commit()) FailWith(106, quoted);
}

// ---- files ----

TMMFastFile::Handle& TMMFastFile::ValidHandle(TFastFileHandle h) {
  if (!IsOpen() || h < 1 || h > static_cast<int>(handles_.size())) Fail(116);
  Handle& handle = handles_[static_cast<size_t>(h - 1)];
  if (!handle.in_use || handle.entry >= Count() || Entry(handle.entry).deleted) Fail(116);
  return handle;
}

TFastFileHandle TMMFastFile::FileOpen(const std::string& name) {
  RequireOpen();
  if (name.empty()) Fail(104);
  const int slot = FindEntry(name);
  if (slot < 0) throw EMMFastFileError(Replace(LoadResStr(111), name));
  for (size_t i = 0; i < handles_.size(); ++i) {
    Handle& h = handles_[i];
    if (h.in_use) continue;
    h = Handle{true, Entry(slot).offset, Entry(slot).size, slot};
    return static_cast<TFastFileHandle>(i + 1);
  }
  Fail(115);
}

void TMMFastFile::FileClose(TFastFileHandle h) {
  if (h >= 1 && h <= static_cast<int>(handles_.size())) handles_[static_cast<size_t>(h - 1)].in_use = false;
}

int32_t TMMFastFile::FileRead(TFastFileHandle h, void* buffer, int32_t count) {
  Handle& handle = ValidHandle(h);
  const int32_t n = std::min(count, EntryEnd(handle.entry) - handle.position);
  if (n <= 0) return 0;
  std::memcpy(buffer, base_ + handle.position, static_cast<size_t>(n));
  handle.position += n;
  return n;
}

int32_t TMMFastFile::FileSeek(TFastFileHandle h, int32_t offset, int origin) {
  Handle& handle = ValidHandle(h);
  const int64_t start = Entry(handle.entry).offset, end = EntryEnd(handle.entry);
  int64_t position;
  switch (origin) {
    case 0:
      if (offset < 0 || offset >= handle.size) Fail(118);
      position = start + offset;
      break;
    case 2:
      if (offset < 0 || offset >= handle.size) Fail(118);
      position = end - offset;
      break;
    case 1:
      position = static_cast<int64_t>(handle.position) + offset;
      if (position < start || position >= end) Fail(118);
      break;
    default:
      Fail(119);
  }
  handle.position = static_cast<int32_t>(position);
  return static_cast<int32_t>(position - start);
}

const uint8_t* TMMFastFile::FileLock(TFastFileHandle h, int32_t offset, int32_t count) {
  Handle& handle = ValidHandle(h);
  if (count < 1) return nullptr;
  if (offset < 0 || static_cast<int64_t>(offset) + count > handle.size) Fail(117);
  return base_ + Entry(handle.entry).offset + offset;
}

void TMMFastFile::FileUnlock(TFastFileHandle h, int32_t offset, int32_t count) {
  const Handle& handle = ValidHandle(h);
  if (count >= 1 && (offset < 0 || static_cast<int64_t>(offset) + count > handle.size)) Fail(117);
}
