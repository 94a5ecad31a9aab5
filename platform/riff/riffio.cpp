#include "riffio.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "filelayer.h"

namespace vant::riff {

namespace {
// The read cache holds pages: the headers a walk visits lie far apart (past the samples, from
// one attachment to the next), and a page holds each of them with its neighbours.
constexpr size_t kBufferSize = 4096;
constexpr size_t kCachedBlocks = 32;  // 128 KiB per open handle at most

// A descriptor of the regular file at `path`, or -1 with `error` (when given) set to errno, EISDIR
// for a folder, EINVAL for another kind of file; its length goes to `size`. Opened without waiting:
// opening a FIFO would block until some writer appears. Only a regular file holds RIFF chunks;
// anything else is refused before it is read.
int OpenRegular(const std::filesystem::path& path, int flags, int* error,
                uint64_t* size = nullptr) {
  FileLayer& io = GetFileLayer();
  int fd = io.Open(path, flags | O_NONBLOCK, 0666);
  if (fd < 0) {
    if (error) *error = errno;
    return -1;
  }
  struct stat st {};
  const bool stated = io.Fstat(fd, st) == 0;
  if (!stated || !S_ISREG(st.st_mode) ||
      ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    if (error) *error = !stated ? errno : S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    io.Close(fd);
    return -1;
  }
  if (error) *error = 0;
  if (size) *size = static_cast<uint64_t>(st.st_size);
  return fd;
}

}  // namespace

FourCC StringToFourCC(std::string_view s) {
  char c[4] = {' ', ' ', ' ', ' '};
  for (size_t i = 0; i < 4 && i < s.size(); ++i) c[i] = s[i];
  return MakeFourCC(c[0], c[1], c[2], c[3]);
}

std::string FourCCToString(FourCC id) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>((id >> (8 * i)) & 0xFF);
  return s;
}

const char* ResultText(Result r) {
  switch (r) {
    case Result::kOk:
      return "no error";
    case Result::kChunkNotFound:
      return "chunk not found";
    case Result::kCannotRead:
      return "cannot read";
    case Result::kCannotWrite:
      return "cannot write";
    case Result::kCannotSeek:
      return "cannot seek";
    case Result::kCannotExpand:
      return "cannot expand the memory image";
    case Result::kReadOnly:
      return "opened read-only";
  }
  return "unknown";
}

// Positional byte access to what lies under a handle. A file is reached through the programs'
// file layer, so that what a writer stores in a RIFF file can be made to fail or be recorded.
class RiffFile::Backend {
 public:
  virtual ~Backend() = default;
  // Bytes read at `at` (short only at the end), or -1.
  virtual int64_t ReadAt(uint64_t at, void* buffer, size_t count) = 0;
  // True when all bytes were written.
  virtual bool WriteAt(uint64_t at, const void* buffer, size_t count) = 0;
  virtual uint64_t Size() const = 0;
  virtual bool Writable() const = 0;
  virtual bool MakeWritable() { return Writable(); }
  virtual std::span<const uint8_t> Image() const { return {}; }
  virtual bool Stamp(FileStamp&) const { return false; }
};

class RiffFile::FileBackend final : public Backend {
 public:
  FileBackend(int fd, bool writable, uint64_t size, std::filesystem::path path)
      : fd_(fd), writable_(writable), size_(size), path_(std::move(path)) {}
  ~FileBackend() override { GetFileLayer().Close(fd_); }

  int64_t ReadAt(uint64_t at, void* buffer, size_t count) override {
    return GetFileLayer().ReadAt(fd_, buffer, count, at);
  }

  bool WriteAt(uint64_t at, const void* buffer, size_t count) override {
    if (!writable_) return false;
    if (::lseek(fd_, static_cast<off_t>(at), SEEK_SET) < 0) return false;
    if (count > 0 && !GetFileLayer().Write(fd_, buffer, count)) return false;
    size_ = std::max(size_, at + count);
    return true;
  }

  uint64_t Size() const override { return size_; }
  bool Writable() const override { return writable_; }
  bool MakeWritable() override {
    if (writable_) return true;
    FileLayer& io = GetFileLayer();
    const int fd = OpenRegular(path_, O_RDWR | O_CLOEXEC, nullptr);
    if (fd < 0) return false;
    struct stat now {
    }, was{};
    if (io.Fstat(fd, now) != 0 || io.Fstat(fd_, was) != 0 || now.st_dev != was.st_dev ||
        now.st_ino != was.st_ino) {
      io.Close(fd);
      return false;
    }
    io.Close(fd_);
    fd_ = fd;
    writable_ = true;
    return true;
  }
  bool Stamp(FileStamp& stamp) const override {
    struct stat st {};
    if (GetFileLayer().Fstat(fd_, st) != 0) return false;
    stamp.size = static_cast<int64_t>(st.st_size);
    stamp.mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    stamp.links = static_cast<int64_t>(st.st_nlink);
    return true;
  }

 private:
  int fd_;
  bool writable_;
  uint64_t size_;
  std::filesystem::path path_;
};

class RiffFile::MemoryBackend final : public Backend {
 public:
  explicit MemoryBackend(std::span<const uint8_t> bytes) : view_(bytes) {}
  explicit MemoryBackend(std::span<uint8_t> bytes) : view_(bytes), fixed_(bytes) {}
  explicit MemoryBackend(std::vector<uint8_t> owned) : owned_(std::move(owned)), growable_(true) {}

  int64_t ReadAt(uint64_t at, void* buffer, size_t count) override {
    auto bytes = Image();
    if (at >= bytes.size()) return 0;
    size_t n = static_cast<size_t>(std::min<uint64_t>(count, bytes.size() - at));
    std::memcpy(buffer, bytes.data() + at, n);
    return static_cast<int64_t>(n);
  }

  bool WriteAt(uint64_t at, const void* buffer, size_t count) override {
    if (growable_) {
      if (at + count > owned_.max_size()) return false;
      if (at + count > owned_.size()) owned_.resize(at + count);
      std::memcpy(owned_.data() + at, buffer, count);
      return true;
    }
    if (fixed_.empty() || at > fixed_.size() || count > fixed_.size() - at) return false;
    std::memcpy(fixed_.data() + at, buffer, count);
    return true;
  }

  uint64_t Size() const override { return Image().size(); }
  bool Writable() const override { return growable_ || !fixed_.empty(); }
  std::span<const uint8_t> Image() const override {
    if (growable_) return owned_;
    return view_;
  }

 private:
  std::span<const uint8_t> view_;
  std::span<uint8_t> fixed_;
  std::vector<uint8_t> owned_;
  bool growable_ = false;
};

RiffFile::RiffFile(std::unique_ptr<Backend> backend) : backend_(std::move(backend)) {}
RiffFile::~RiffFile() = default;

std::unique_ptr<RiffFile> RiffFile::Open(const std::filesystem::path& path, Mode mode, int* error) {
  int flags = O_CLOEXEC;
  switch (mode) {
    case Mode::kRead:
      flags |= O_RDONLY;
      break;
    case Mode::kReadWrite:
      flags |= O_RDWR;
      break;
    case Mode::kCreate:
      flags |= O_RDWR | O_CREAT | O_TRUNC;
      break;
  }
  uint64_t size = 0;
  const int fd = OpenRegular(path, flags, error, &size);
  if (fd < 0) return nullptr;
  auto backend = std::make_unique<FileBackend>(fd, mode != Mode::kRead, size, path);
  return std::unique_ptr<RiffFile>(new RiffFile(std::move(backend)));
}

std::unique_ptr<RiffFile> RiffFile::OpenMemory(std::span<const uint8_t> bytes) {
  return std::unique_ptr<RiffFile>(new RiffFile(std::make_unique<MemoryBackend>(bytes)));
}

std::unique_ptr<RiffFile> RiffFile::OpenMemory(std::span<uint8_t> bytes) {
  return std::unique_ptr<RiffFile>(new RiffFile(std::make_unique<MemoryBackend>(bytes)));
}

std::unique_ptr<RiffFile> RiffFile::CreateMemory(std::vector<uint8_t> initial) {
  return std::unique_ptr<RiffFile>(
      new RiffFile(std::make_unique<MemoryBackend>(std::move(initial))));
}

uint64_t RiffFile::Size() const { return backend_->Size(); }
bool RiffFile::Writable() const { return backend_->Writable(); }
bool RiffFile::MakeWritable() {
  // Blocks read so far stay valid: the file is the same.
  return backend_->MakeWritable();
}
bool RiffFile::Stamp(FileStamp& stamp) const { return backend_->Stamp(stamp); }
std::span<const uint8_t> RiffFile::Image() const { return backend_->Image(); }

const std::vector<uint8_t>* RiffFile::BlockAt(uint64_t at) {
  const uint64_t start = at - at % kBufferSize;
  Block* slot = nullptr;
  for (Block& b : blocks_) {
    if (b.start != start) continue;
    // The file's last block is read again past its end: the file may have grown since.
    if (at - start < b.bytes.size()) return &b.bytes;
    slot = &b;
  }
  if (!slot) {
    // Once the cache is full its last slot takes each new block in turn: the blocks met first
    // (the file's head, the chunk lists) stay, however long a walk goes on.
    if (blocks_.size() < kCachedBlocks) blocks_.emplace_back();
    slot = &blocks_.back();
  }
  slot->bytes.resize(kBufferSize);
  const int64_t n = backend_->ReadAt(start, slot->bytes.data(), kBufferSize);
  if (n < 0) {
    blocks_.clear();
    return nullptr;
  }
  slot->bytes.resize(static_cast<size_t>(n));
  slot->start = start;
  return &slot->bytes;
}

int64_t RiffFile::Read(void* buffer, size_t count) {
  auto* out = static_cast<uint8_t*>(buffer);
  size_t done = 0;
  while (done < count) {
    const uint64_t at = pos_ + done;
    if (count - done >= kBufferSize) {
      // Large reads bypass the cache, wherever they start: one call of the file (a wave's data
      // rarely starts on a page boundary).
      int64_t n = backend_->ReadAt(at, out + done, count - done);
      if (n < 0) return -1;
      done += static_cast<size_t>(n);
      break;
    }
    const std::vector<uint8_t>* block = BlockAt(at);
    if (!block) return -1;
    const size_t off = static_cast<size_t>(at % kBufferSize);
    if (off >= block->size()) break;  // end of file
    const size_t n = std::min(count - done, block->size() - off);
    std::memcpy(out + done, block->data() + off, n);
    done += n;
  }
  pos_ += done;
  return static_cast<int64_t>(done);
}

int64_t RiffFile::ReadIn(const ChunkInfo& ck, void* buffer, size_t count) {
  const uint64_t end = ck.DataEnd();
  if (pos_ >= end) return 0;
  return Read(buffer, static_cast<size_t>(std::min<uint64_t>(count, end - pos_)));
}

bool RiffFile::WriteAt(uint64_t at, const void* buffer, size_t count) {
  blocks_.clear();  // what was cached may be stale now
  return backend_->WriteAt(at, buffer, count);
}

int64_t RiffFile::Write(const void* buffer, size_t count) {
  if (!WriteAt(pos_, buffer, count)) return -1;
  pos_ += count;
  return static_cast<int64_t>(count);
}

int64_t RiffFile::Seek(int64_t offset, Whence whence) {
  int64_t base = 0;
  if (whence == Whence::kCur) base = static_cast<int64_t>(pos_);
  if (whence == Whence::kEnd) base = static_cast<int64_t>(Size());
  if ((offset > 0 && base > std::numeric_limits<int64_t>::max() - offset) || base + offset < 0)
    return -1;
  pos_ = static_cast<uint64_t>(base + offset);
  return static_cast<int64_t>(pos_);
}

bool RiffFile::ReadExact(uint64_t at, void* buffer, size_t count) {
  const uint64_t saved = pos_;
  pos_ = at;
  int64_t n = Read(buffer, count);
  pos_ = saved;
  return n == static_cast<int64_t>(count);
}

ChunkWalk::ChunkWalk(RiffFile& f, uint64_t from, uint64_t end)
    : f_(f), p_(from), end_(std::min(end, f.Size())), fileEnd_(f.Size()) {}

bool ChunkWalk::Next(ChunkInfo& ck) {
  if (p_ >= end_ || end_ - p_ < 8) return false;
  uint8_t h[8];
  if (!f_.ReadExact(p_, h, 8)) return false;
  const uint32_t size = Le32(h + 4);
  if (Le32(h) == 0 && size == 0) {
    p_ = end_;
    return false;
  }
  ck = {};
  ck.id = Le32(h);
  ck.dataOffset = p_ + 8;
  ck.size = static_cast<uint32_t>(std::min<uint64_t>(size, fileEnd_ - ck.dataOffset));
  // The step takes the stated size: past the file's end it ends the walk all the same.
  p_ = ck.dataOffset + size + (size & 1u);
  return true;
}

Result RiffFile::Descend(ChunkInfo& ck, const ChunkInfo* parent, Search search) {
  const uint64_t fileEnd = Size();
  const uint64_t end = parent ? std::min(parent->DataEnd(), fileEnd) : fileEnd;
  ChunkWalk walk(*this, pos_, end);
  ChunkInfo found;
  for (uint64_t p = pos_; walk.Next(found); p = walk.Position()) {
    const bool form = found.id == kRiff || found.id == kList;
    // A form outside any parent has the size its own rule gives, whatever it states.
    if (found.id == kRiff && !parent) {
      uint8_t stated[4];
      if (!ReadExact(p + 4, stated, 4)) return Result::kCannotRead;
      found.size = FormSize(p, Le32(stated));
    }
    bool haveType = false;
    uint8_t t[4];
    if (form && found.size >= 4 && ReadExact(found.dataOffset, t, 4)) {
      haveType = true;
      found.type = Le32(t);
    }
    bool match = false;
    switch (search) {
      case Search::kHere:
        match = !form || haveType;
        break;
      case Search::kChunk:
        match = found.id == ck.id;
        break;
      case Search::kRiff:
        match = found.id == kRiff && haveType && found.type == ck.type;
        break;
      case Search::kList:
        match = found.id == kList && haveType && found.type == ck.type;
        break;
    }
    if (match) {
      ck = found;
      pos_ = found.dataOffset + (haveType ? 4 : 0);
      return Result::kOk;
    }
    if (search == Search::kHere) break;
  }
  return Result::kChunkNotFound;
}

uint32_t RiffFile::FormSize(uint64_t header, uint32_t stated) {
  const uint64_t fileEnd = Size();
  if (header + 8 > fileEnd) return 0;
  if (static_cast<int32_t>(stated) < 0) stated = __builtin_bswap32(stated);
  const uint64_t held = fileEnd - (header + 8);
  auto cut = [](uint64_t n) { return static_cast<uint32_t>(std::min<uint64_t>(n, UINT32_MAX)); };
  if (stated >= held) return cut(held);
  // The walk stays below the stated end, so a small size costs no more than the chunks it counts.
  const uint64_t end = header + 8 + stated;
  ChunkWalk walk(*this, header + 12, fileEnd);
  SamplesPick samples;
  ChunkInfo ck;
  while (walk.Position() < end && walk.Next(ck)) {
    if (walk.Position() > end) return cut(held);
    samples.See(ck);
  }
  return samples.found ? stated : cut(held);
}

Result RiffFile::Ascend(ChunkInfo& ck) {
  if (ck.flags & ChunkInfo::kDirty) {
    if (!Writable()) return Result::kReadOnly;
    if (pos_ < ck.dataOffset || pos_ - ck.dataOffset > std::numeric_limits<uint32_t>::max())
      return Result::kCannotWrite;
    // Written even when it equals `ck.size`: a found chunk's size may have been cut to the file,
    // and its header still claims more.
    const auto size = static_cast<uint32_t>(pos_ - ck.dataOffset);
    uint8_t le[4];
    PutLe32(le, size);
    if (!WriteAt(ck.dataOffset - 4, le, 4)) return Result::kCannotWrite;
    ck.size = size;
    if (size & 1u) {
      const uint8_t pad = 0;
      if (!WriteAt(ck.dataOffset + size, &pad, 1)) return Result::kCannotWrite;
    }
    ck.flags &= ~ChunkInfo::kDirty;
  }
  pos_ = ck.NextOffset();
  return Result::kOk;
}

Result RiffFile::CreateChunk(ChunkInfo& ck, Search kind) {
  if (!Writable()) return Result::kReadOnly;
  const bool form = kind == Search::kRiff || kind == Search::kList;
  if (kind == Search::kRiff) ck.id = kRiff;
  if (kind == Search::kList) ck.id = kList;
  uint8_t header[12];
  PutLe32(header, ck.id);
  PutLe32(header + 4, ck.size);
  PutLe32(header + 8, ck.type);
  const size_t n = form ? 12 : 8;
  if (!WriteAt(pos_, header, n)) return Result::kCannotWrite;
  ck.dataOffset = pos_ + 8;
  ck.flags = ChunkInfo::kDirty;
  pos_ += n;
  return Result::kOk;
}

}  // namespace vant::riff
