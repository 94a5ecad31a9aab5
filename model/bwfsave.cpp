// The save: a plan of the new file (every byte accounted for before anything is written), the
// plan written into the temporary folder, the result walked, and the target replaced.
#include "bwfsave.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "bwfattach.h"
#include "bwffilelayer.h"
#include "bwfnotify.h"
#include "mmio.h"
#include "tempfiles.h"
#include "trace.h"

namespace fs = std::filesystem;

namespace {

// The new file in the temporary folder: "vant-save-PID.XXXXXX.tmp".
constexpr std::string_view kSaveTempStem = "vant-save-";
// The old target between the save's two renames: ".NAME.PID.XXXXXX.bak" beside it.
constexpr const char* kBackupSuffix = ".bak";
// The longest target name that a backup's name holds whole (PartFilePrefix cuts longer ones to
// 200 bytes, on a character boundary).
constexpr size_t kBackupNameUncut = 196;

// Bytes per copy call; the message loop runs on the first block and every 30th after it.
constexpr size_t kCopyBlock = 256 * 1024;
constexpr uint64_t kPumpEvery = 30;
// Source ranges up to this size go through the write buffer rather than a copy call of their own.
constexpr uint64_t kSmallRange = 64 * 1024;
constexpr size_t kWriteBuffer = 256 * 1024;
constexpr uint32_t kListEntryData = sizeof(TChunkEntry{}.data);

TBWFViewerNotice& ViewerNotice() {
  static TBWFViewerNotice notice;
  return notice;
}

uint64_t EvenUp(uint64_t n) { return n + (n & 1u); }

void PutHeader(std::vector<uint8_t>& b, bwf::FourCC id, uint32_t size) {
  uint8_t h[8];
  bwf::PutLe32(h, id);
  bwf::PutLe32(h + 4, size);
  b.insert(b.end(), h, h + 8);
}

// Thrown inside the save to stop it; carries the message and its kind of box.
struct Stop {
  explicit Stop(const char* m, std::string d = {}, bool w = false)
      : message(m), detail(std::move(d)), warning(w) {}
  const char* message;
  std::string detail;  // appended on a line of its own (a file's name)
  bool warning;
};

bool IsOutOfSpace(int error) { return error == ENOSPC || error == EDQUOT; }

// A failed write: the space message of the file system that filled up (a warning, like the
// check before the save), otherwise the general write error.
Stop WriteFailed(const char* space_message) {
  if (IsOutOfSpace(errno)) return Stop{space_message, {}, true};
  return Stop{kMsgSaveWriteError};
}

// One run of bytes of the new file.
struct Piece {
  enum Kind { kBytes, kSource, kAttach } kind = kBytes;
  std::vector<uint8_t> bytes;
  uint64_t offset = 0;  // kSource: offset in the source
  uint64_t length = 0;
  int fd = -1;        // kAttach: the attachment's descriptor
  bool copy = false;  // part of the copied source range (its progress band)
  int stage = 0;      // progress shown when this piece starts (0: none)
};

// The new file as a list of pieces, with its length so far.
class Plan {
 public:
  uint64_t size = 0;
  std::vector<Piece> pieces;

  void Bytes(const uint8_t* p, size_t n, int stage = 0) {
    if (n == 0 && stage == 0) return;
    if (stage != 0 || pieces.empty() || pieces.back().kind != Piece::kBytes) {
      pieces.push_back({});
      pieces.back().stage = stage;
    }
    auto& b = pieces.back().bytes;
    b.insert(b.end(), p, p + n);
    pieces.back().length = b.size();
    size += n;
  }
  void Bytes(const std::vector<uint8_t>& b, int stage = 0) { Bytes(b.data(), b.size(), stage); }
  void Header(bwf::FourCC id, uint64_t n, int stage = 0) {
    std::vector<uint8_t> b;
    PutHeader(b, id, static_cast<uint32_t>(n));
    Bytes(b, stage);
  }
  void Pad(uint64_t n) {
    static const uint8_t zero = 0;
    if (n & 1u) Bytes(&zero, 1);
  }
  void Source(uint64_t offset, uint64_t length, bool copy) {
    if (length == 0) return;
    Piece p;
    p.kind = Piece::kSource;
    p.offset = offset;
    p.length = length;
    p.copy = copy;
    pieces.push_back(std::move(p));
    size += length;
  }
  void Attach(int fd, uint64_t length) {
    if (length == 0) return;
    Piece p;
    p.kind = Piece::kAttach;
    p.fd = fd;
    p.length = length;
    pieces.push_back(std::move(p));
    size += length;
  }
};

// A chunk of the source's directory, checked against the source itself.
struct SourceChunk {
  bwf::FourCC id = 0;
  uint32_t size = 0;
  uint64_t dataOffset = 0;
  bwf::FourCC listType = 0;
};

int IndexOf(const std::vector<TChunkEntry>& table, bwf::FourCC lower, bwf::FourCC upper) {
  for (bwf::FourCC id : {lower, upper}) {
    for (size_t i = 0; i < table.size(); ++i) {
      if (table[i].id == id) return static_cast<int>(i);
    }
  }
  return -1;
}

class Saver {
 public:
  Saver(TBWFChunck& chunk, const fs::path& target, const fs::path& source)
      : chunk_(chunk),
        io_(GetBWFFileLayer()),
        progress_(GetBWFProgress()),
        target_(target),
        source_(source) {}
  ~Saver() {
    CloseFd(source_fd_);
    for (int& fd : attach_fds_) CloseFd(fd);
    CloseFd(temp_fd_);
    CloseFd(part_fd_);
    if (!temp_.empty()) io_.Remove(temp_);
    if (!part_.empty()) io_.Remove(part_);
  }

  // Everything up to and including the finished copy beside the target; throws Stop.
  void Build();
  // The replacement; the number of errors met.
  int Replace();
  // The length of the new file, planned without writing anything; throws Stop.
  uint64_t PlanOnly();

 private:
  void CloseFd(int& fd) {
    if (fd >= 0) io_.Close(fd);
    fd = -1;
  }
  void CheckTarget();
  void OpenSource();
  void OpenAttachments();
  SourceChunk ReadSourceHeader(const TChunkEntry& e);
  void PlanFile();
  void PlanOverlay(const SourceChunk& c, const uint8_t* image, uint32_t image_size, bool copy);
  void PlanAnew(int index, bwf::FourCC id, const uint8_t* image, uint32_t image_size);
  void PlanCueChunks();
  void WriteTemp();
  void WritePiece(const Piece& p);
  void CopyBlocks(int in, uint64_t offset, uint64_t length, int out, bool copy);
  void Flush();
  void CheckTemp();
  void CopyBesideTarget();
  void Pump();
  void SetProgress(int percent) { progress_.SetProgress(percent); }

  TBWFChunck& chunk_;
  TBWFFileLayer& io_;
  TBWFProgress& progress_;
  fs::path target_, source_;
  fs::path temp_, part_;
  vant::StagedHold temp_hold_, part_hold_, backup_hold_;  // their locks, until the names are gone
  int source_fd_ = -1, temp_fd_ = -1, part_fd_ = -1;
  uint64_t source_size_ = 0;
  std::vector<int> attach_fds_;  // in the order of the new `file` entries
  std::vector<std::string> attach_names_;
  Plan plan_;
  uint64_t copy_total_ = 0, copied_ = 0;
  int band_from_ = 20, band_width_ = 30;
  uint64_t blocks_ = 0;
  std::vector<uint8_t> out_;
  bool quiet_ = false;  // planning only: no message
  bool target_exists_ = false;
  mode_t target_mode_ = 0;
  uint64_t temp_size_ = 0;
};

void Saver::Pump() {
  if (blocks_++ % kPumpEvery == 0) progress_.ProcessMessages();
}

void Saver::CheckTarget() {
  struct stat st;
  if (io_.Stat(target_, st) != 0) {
    if (errno != ENOENT) throw Stop{kMsgSaveCopy, target_.string()};
    target_mode_ = mmio::NewFileMode();
    return;
  }
  if (!S_ISREG(st.st_mode)) throw Stop{kMsgSaveCopy, target_.string()};
  // The mode bits, not access(2): a file without write bits stays protected for root too.
  if (mmio::IsWriteProtected(st.st_mode)) throw Stop{kMsgSaveReadOnly, {}, true};
  target_exists_ = true;
  target_mode_ = st.st_mode & 07777;
}

void Saver::OpenSource() {
  struct stat st;
  if (io_.Stat(source_, st) != 0 && !quiet_) GetBWFNotifier().Warning(kMsgSaveSourceMissing);
  source_fd_ = io_.Open(source_, O_RDONLY | O_NONBLOCK);  // a FIFO must not hold the save
  if (source_fd_ < 0 || io_.Fstat(source_fd_, st) != 0 || !S_ISREG(st.st_mode)) {
    throw Stop{kMsgSaveSourceOpen, {}, true};
  }
  source_size_ = static_cast<uint64_t>(st.st_size);
}

// Every new attachment is opened before anything is written, so a file that has vanished or
// cannot be read stops the save with its name and nothing half done.
void Saver::OpenAttachments() {
  for (const TChunkEntry& e : chunk_.ListTable) {
    if (e.kind != 6 || e.origin != TChunkEntry::kNew) continue;
    std::string name;
    if (!AttachNameOf(e.path, name)) throw Stop{kMsgAttachNameInvalid, e.path.string()};
    struct stat st;
    if (io_.Stat(e.path, st) != 0) throw Stop{kMsgSaveAttachMissing, e.path.string()};
    const int fd = io_.Open(e.path, O_RDONLY | O_NONBLOCK);
    if (fd >= 0) attach_fds_.push_back(fd);
    if (fd < 0 || io_.Fstat(fd, st) != 0 || !S_ISREG(st.st_mode)) {
      throw Stop{kMsgSaveAttachOpen, e.path.string()};
    }
    attach_names_.push_back(std::move(name));
  }
}

// The chunk's header as the source holds it now, its size cut to the file as the scan cut it; a
// source that changed since the scan, or is shorter than the chunk, stops the save.
SourceChunk Saver::ReadSourceHeader(const TChunkEntry& e) {
  SourceChunk c;
  uint8_t h[12] = {};
  if (e.dataOffset < 8 || e.dataOffset + e.size > source_size_ ||
      io_.ReadAt(source_fd_, h, 8, e.dataOffset - 8) != 8 || bwf::Le32(h) != e.id ||
      std::min<uint64_t>(bwf::Le32(h + 4), source_size_ - e.dataOffset) != e.size) {
    throw Stop{kMsgSaveReadError};
  }
  c.id = e.id;
  c.size = e.size;
  c.dataOffset = e.dataOffset;
  if (e.id == vant::riff::kList && e.size >= 4) {
    if (io_.ReadAt(source_fd_, h + 8, 4, e.dataOffset) != 4) throw Stop{kMsgSaveReadError};
    c.listType = bwf::Le32(h + 8);
  }
  return c;
}

// A chunk whose data begins with an image of the model's: the image over the first
// min(size, image) bytes, the source's bytes after it, the size as it was.
void Saver::PlanOverlay(const SourceChunk& c, const uint8_t* image, uint32_t image_size,
                        bool copy) {
  const uint32_t over = std::min(c.size, image_size);
  plan_.Header(c.id, c.size);
  plan_.Bytes(image, over);
  plan_.Source(c.dataOffset + over, c.size - over, copy);
  plan_.Pad(c.size);
}

// A chunk made anew from an image, with a lower-case id and at least the image's size. A source
// chunk of its kind that lies beyond the copy (`index`) lends it its size and the bytes after the
// image, so that nothing of it is lost.
void Saver::PlanAnew(int index, bwf::FourCC id, const uint8_t* image, uint32_t image_size) {
  SourceChunk c;
  if (index >= 0) c = ReadSourceHeader(chunk_.ChunkTable[index]);
  c.id = id;
  c.size = std::max(c.size, image_size);
  PlanOverlay(c, image, image_size, false);
}

void Saver::PlanFile() {
  const auto& table = chunk_.ChunkTable;
  const int bext = IndexOf(table, bwf::kBext, bwf::kBextUpper);
  const int cmcd = IndexOf(table, bwf::kCmcd, bwf::kCmcdUpper);
  const int data = IndexOf(table, bwf::kData, bwf::kDataUpper);
  const int cue = IndexOf(table, bwf::kCue, bwf::kCueUpper);
  // No samples in the directory: the model was not scanned, or its source is no wave. Saving
  // would replace the target with a file without them. A source with more chunks than the scan
  // could note would lose some.
  if (data < 0 || chunk_.ScanOverflow) throw Stop{kMsgSaveReadError};

  // The copy end: the `cue ` chunk's header, or the end of the samples; never before the end of
  // the samples, so a `cue ` chunk ahead of the data cannot cut them off. Without `cue ` and
  // without `bext` the whole source is copied.
  const uint64_t data_end = EvenUp(table[data].dataOffset + table[data].size);
  uint64_t end = data_end;
  if (cue >= 0 && table[cue].dataOffset - 8 >= data_end) end = table[cue].dataOffset - 8;
  if (cue < 0 && bext < 0) end = UINT64_MAX;
  auto in_range = [&](int i) { return i >= 0 && table[i].dataOffset - 8 < end; };

  const uint8_t header[12] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'};
  plan_.Bytes(header, sizeof header, 10);

  // A `bext` first when the copy brings none; one that lies beyond the copy keeps its other
  // bytes and its size (at least 858).
  const uint8_t* bext_image = chunk_.BextImage.bytes.data();
  if (!in_range(bext)) PlanAnew(bext, bwf::kBext, bext_image, bwf::kBextSize);

  // The copied range, chunk by chunk, each with its pad byte; old cue points, play lists and
  // associated-data lists are left out, since new ones follow. Every other chunk beyond the copy
  // end (an INFO list or a tool's own chunk appended after the samples or the lists) is carried
  // too, in its place among the others: only what the save writes anew may be left behind. Its
  // progress runs from 20 to 50, or, when the source brings a `bext`, from 50 to 70.
  const std::vector<uint8_t> none;
  plan_.Bytes(none, 20);
  const size_t copy_start = plan_.pieces.size();
  for (size_t i = 0; i < table.size(); ++i) {
    const TChunkEntry& e = table[i];
    const int at = static_cast<int>(i);
    if (e.origin == TChunkEntry::kSourceRun) {
      if (e.dataOffset + e.size > source_size_) throw Stop{kMsgSaveReadError};
      plan_.Source(e.dataOffset, e.size, true);
      continue;
    }
    if (e.origin != TChunkEntry::kSource || (!in_range(at) && (at == bext || at == cmcd))) {
      continue;
    }
    const SourceChunk c = ReadSourceHeader(e);
    if (e.kind == 3 || e.kind == 4 || (c.id == vant::riff::kList && c.listType == bwf::kAdtl)) {
      continue;
    }
    if (at == bext) {
      PlanOverlay(c, bext_image, bwf::kBextSize, true);
    } else if (at == cmcd) {
      PlanOverlay(c, chunk_.CmcdImage.bytes.data(), bwf::kCmcdSize, true);
    } else {
      plan_.Header(c.id, c.size);
      plan_.Source(c.dataOffset, c.size, true);
      plan_.Pad(c.size);
    }
  }
  for (size_t i = copy_start; i < plan_.pieces.size(); ++i) {
    if (plan_.pieces[i].kind == Piece::kSource) copy_total_ += plan_.pieces[i].length;
  }
  if (bext >= 0) band_from_ = 50, band_width_ = 20;
  if (copy_start < plan_.pieces.size()) plan_.pieces[copy_start].stage = band_from_;
  plan_.Bytes(none, band_from_ + band_width_);

  // `cmcd` after the copy when the copy brings none, keeping what a larger source chunk held
  // beyond the image.
  plan_.Bytes(none, 70);
  if (!in_range(cmcd)) PlanAnew(cmcd, bwf::kCmcd, chunk_.CmcdImage.bytes.data(), bwf::kCmcdSize);
  plan_.Bytes(none, 80);
  PlanCueChunks();

  if (plan_.size - 8 > static_cast<uint64_t>(bwf::kMaxFormSize)) throw Stop{kMsgSaveTooLarge};
  bwf::PutLe32(plan_.pieces.front().bytes.data() + 4, static_cast<uint32_t>(plan_.size - 8));
}

void Saver::PlanCueChunks() {
  std::vector<uint8_t> b;
  // Cue points and play list of every scan marker not deleted, in table order.
  auto count_at = [&](size_t at, uint32_t n) { bwf::PutLe32(b.data() + at, n); };
  PutHeader(b, bwf::kCue, 0);
  b.resize(b.size() + 4);
  uint32_t n = 0;
  for (const TBWFMarker& m : chunk_.ScanMarkers) {
    if (IsDeleted(chunk_, m.cue.dwName)) continue;
    uint8_t r[bwf::kCuePointSize];
    m.cue.ToBytes(r);
    b.insert(b.end(), r, r + sizeof r);
    ++n;
  }
  count_at(4, static_cast<uint32_t>(b.size() - 8));
  count_at(8, n);

  const size_t plst = b.size();
  PutHeader(b, bwf::kPlst, 0);
  b.resize(b.size() + 4);
  n = 0;
  for (const TBWFMarker& m : chunk_.ScanMarkers) {
    if (m.play.dwName == 0 || IsDeleted(chunk_, m.play.dwName)) continue;
    uint8_t r[bwf::kPlayItemSize];
    m.play.ToBytes(r);
    b.insert(b.end(), r, r + sizeof r);
    ++n;
  }
  count_at(plst + 4, static_cast<uint32_t>(b.size() - plst - 8));
  count_at(plst + 8, n);
  plan_.Bytes(b);

  // The associated-data list: every label, then every attachment. Its size is known once its
  // pieces are planned, so its header is patched afterwards.
  const size_t list_piece = plan_.pieces.size();
  const uint64_t list_start = plan_.size;
  b.clear();
  PutHeader(b, vant::riff::kList, 0);
  b.resize(12);
  bwf::PutLe32(b.data() + 8, bwf::kAdtl);
  plan_.Bytes(b, 85);
  const size_t list_header_at = plan_.pieces[list_piece].bytes.size() - 12;

  auto source_sub = [&](const TChunkEntry& e, bwf::FourCC id) {
    const SourceChunk c = ReadSourceHeader(e);
    plan_.Header(id, c.size);
    plan_.Source(c.dataOffset, c.size, false);
    plan_.Pad(c.size);
  };
  for (const TChunkEntry& e : chunk_.ListTable) {
    if (e.kind != 5) continue;
    if (e.origin == TChunkEntry::kNew) {
      const uint32_t size = std::min(e.size, kListEntryData);
      plan_.Header(e.id, size);
      plan_.Bytes(e.data.data(), size);
      plan_.Pad(size);
    } else if (!IsDeleted(chunk_, bwf::Le32(e.data.data()))) {
      source_sub(e, e.id);  // whole, however long the label
    }
  }
  size_t next_attach = 0;
  for (const TChunkEntry& e : chunk_.ListTable) {
    if (e.kind != 6) continue;
    if (e.origin != TChunkEntry::kNew) {
      if (!IsDeleted(chunk_, bwf::Le32(e.data.data()))) source_sub(e, bwf::kFile);
      continue;
    }
    const int fd = attach_fds_[next_attach];
    const std::string& name = attach_names_[next_attach++];
    struct stat st;
    if (io_.Fstat(fd, st) != 0) throw Stop{kMsgSaveAttachOpen, e.path.string()};
    const auto bytes = static_cast<uint64_t>(st.st_size);
    const uint64_t size = 8 + name.size() + 2 + bytes;
    if (size > static_cast<uint64_t>(bwf::kMaxFormSize)) throw Stop{kMsgSaveTooLarge};
    std::vector<uint8_t> head;
    PutHeader(head, bwf::kFile, static_cast<uint32_t>(size));
    head.insert(head.end(), e.data.begin(), e.data.begin() + 4);
    head.insert(head.end(), 4, 0);  // media type
    head.insert(head.end(), name.begin(), name.end());
    head.push_back('\r');
    head.push_back('\n');
    plan_.Bytes(head);
    plan_.Attach(fd, bytes);
    plan_.Pad(size);
  }
  const uint64_t list_size = plan_.size - list_start - 8;
  if (list_size > UINT32_MAX) throw Stop{kMsgSaveTooLarge};
  bwf::PutLe32(plan_.pieces[list_piece].bytes.data() + list_header_at + 4,
               static_cast<uint32_t>(list_size));
}

void Saver::Flush() {
  if (out_.empty()) return;
  if (!io_.Write(temp_fd_, out_.data(), out_.size())) throw WriteFailed(kMsgSaveTempShort);
  out_.clear();
}

// Copies in blocks, reporting the copied range's progress and letting the message loop run.
void Saver::CopyBlocks(int in, uint64_t offset, uint64_t length, int out, bool copy) {
  while (length > 0) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(length, kCopyBlock));
    if (copy && copy_total_ > 0) {
      SetProgress(band_from_ + static_cast<int>(copied_ * band_width_ / copy_total_));
    }
    Pump();
    if (!io_.CopyRange(in, offset, out, n)) {
      if (errno == ENODATA) throw Stop{kMsgSaveReadError};
      throw WriteFailed(out == part_fd_ ? kMsgSaveTargetShort : kMsgSaveTempShort);
    }
    offset += n;
    length -= n;
    if (copy) copied_ += n;
  }
}

void Saver::WritePiece(const Piece& p) {
  if (p.stage != 0) SetProgress(p.stage);
  if (p.kind == Piece::kBytes) {
    out_.insert(out_.end(), p.bytes.begin(), p.bytes.end());
  } else if (p.kind == Piece::kSource && p.length <= kSmallRange) {
    const size_t at = out_.size();
    out_.resize(at + p.length);
    if (io_.ReadAt(source_fd_, out_.data() + at, p.length, p.offset) !=
        static_cast<int64_t>(p.length)) {
      throw Stop{kMsgSaveReadError};
    }
    if (p.copy) copied_ += p.length;
  } else {
    Flush();
    const int in = p.kind == Piece::kSource ? source_fd_ : p.fd;
    CopyBlocks(in, p.offset, p.length, temp_fd_, p.copy);
  }
  if (out_.size() >= kWriteBuffer) Flush();
}

void Saver::WriteTemp() {
  fs::path folder = chunk_.TempFolder.empty() ? fs::path("/tmp") : chunk_.TempFolder;
  // A name of its own, never the source's nor the target's, even when the target lies in the
  // temporary folder.
  temp_fd_ = io_.CreateTemp(folder, vant::OwnedTempPrefix(kSaveTempStem), ".tmp", temp_);
  if (temp_fd_ < 0) {
    temp_.clear();
    throw Stop{kMsgSaveTempOpen, {}, true};
  }
  temp_hold_ = vant::StagedHold(temp_fd_);
  SetProgress(5);
  out_.reserve(kWriteBuffer + kSmallRange);
  for (const Piece& p : plan_.pieces) WritePiece(p);
  Flush();
  if (io_.Close(temp_fd_) != 0) {
    temp_fd_ = -1;
    throw WriteFailed(kMsgSaveTempShort);
  }
  temp_fd_ = -1;
}

// The new file as written: one form whose size is its length minus 8, a chain of chunks that
// ends exactly at the end of the file, and the source's number of sample bytes.
void Saver::CheckTemp() {
  temp_fd_ = io_.Open(temp_, O_RDONLY);
  struct stat st;
  if (temp_fd_ < 0 || io_.Fstat(temp_fd_, st) != 0) throw Stop{kMsgSaveNoTemp};
  temp_size_ = static_cast<uint64_t>(st.st_size);
  if (temp_size_ < 1) throw Stop{kMsgSaveBadTemp};
  uint8_t h[12];
  bool ok = temp_size_ == plan_.size && io_.ReadAt(temp_fd_, h, 12, 0) == 12 &&
            bwf::Le32(h) == vant::riff::kRiff && bwf::Le32(h + 4) == temp_size_ - 8 &&
            bwf::Le32(h + 8) == bwf::kWave;
  uint64_t at = 12;
  vant::riff::SamplesPick samples;  // as every reader picks them
  while (ok && at + 8 <= temp_size_) {
    if (io_.ReadAt(temp_fd_, h, 8, at) != 8) {
      ok = false;
      break;
    }
    vant::riff::ChunkInfo ck;
    ck.id = bwf::Le32(h);
    ck.size = bwf::Le32(h + 4);
    samples.See(ck);
    at += 8 + EvenUp(ck.size);
  }
  ok = ok && at == temp_size_;
  const int source_data = IndexOf(chunk_.ChunkTable, bwf::kData, bwf::kDataUpper);
  ok = ok && samples.found && samples.chunk.size == chunk_.ChunkTable[source_data].size;
  if (!ok) throw Stop{kMsgSaveBadTemp};
}

// The new file copied into the target's folder under a name of its own and synced there, so that
// the replacement itself is two renames.
void Saver::CopyBesideTarget() {
  fs::path folder = target_.parent_path();
  if (folder.empty()) folder = ".";
  mmio::RemoveStaleParts(folder);
  // A full file system is named as such; any other failure keeps the general message.
  auto failed = [] {
    return IsOutOfSpace(errno) ? Stop{kMsgSaveTargetShort, {}, true} : Stop{kMsgSaveCopy};
  };
  part_fd_ = io_.CreateTemp(folder, mmio::PartFilePrefix(target_), ".part", part_);
  blocks_ = 0;  // the message loop runs on this copy's first block too
  if (part_fd_ < 0) {
    const Stop stop = failed();
    part_.clear();
    throw stop;
  }
  part_hold_ = vant::StagedHold(part_fd_);
  try {
    CopyBlocks(temp_fd_, 0, temp_size_, part_fd_, false);
  } catch (const Stop& stop) {
    throw stop.message == kMsgSaveTargetShort ? stop : Stop{kMsgSaveCopy};
  }
  if (io_.Fchmod(part_fd_, target_mode_) != 0 || io_.Fsync(part_fd_) != 0) throw failed();
  const int close_result = io_.Close(part_fd_);
  part_fd_ = -1;
  if (close_result != 0) throw failed();
}

void Saver::Build() {
  progress_.SetCaption(kSaveCaption);
  progress_.Show();
  SetProgress(0);
  progress_.ProcessMessages();
  RecoverSaveBackups(target_.parent_path());
  CheckTarget();
  OpenSource();
  OpenAttachments();
  PlanFile();
  WriteTemp();
  CheckTemp();
  SetProgress(90);
  CopyBesideTarget();
}

uint64_t Saver::PlanOnly() {
  quiet_ = true;
  OpenSource();
  OpenAttachments();
  PlanFile();
  return plan_.size;
}

int Saver::Replace() {
  const fs::path folder = target_.parent_path().empty() ? fs::path(".") : target_.parent_path();
  auto error = [](const char* m) {
    GetBWFNotifier().Error(m);
    return 1;
  };
  int errors = 0;
  chunk_.CloseFile();
  if (!target_exists_) {
    if (io_.Rename(part_, target_, true) != 0) {
      errors += error(kMsgSaveCopy);
    } else if (io_.SyncFolder(folder) != 0) {
      io_.Remove(target_);  // not durable: the folder is left as it was
      errors += error(kMsgSaveCopy);
    }
  } else {
    // The old file waits under a name of this save's own, locked through the old file before it
    // leaves its name, so that the next save can tell a backup that a killed save left. A file
    // that already has the name is never overwritten.
    if (const int fd = io_.Open(target_, O_RDONLY); fd >= 0) {
      if (vant::LockStagedFile(fd)) backup_hold_ = vant::StagedHold(fd);
      io_.Close(fd);
    }
    fs::path backup;
    int r = -1;
    for (int n = 0; n < 100 && (n == 0 || errno == EEXIST); ++n) {
      const auto name = vant::MakeTempName(folder, mmio::PartFilePrefix(target_), kBackupSuffix);
      if (!name) break;
      backup = *name;
      r = io_.Rename(target_, backup, true);
      if (r == 0) break;
    }
    if (r != 0) {
      errors += error(kMsgSaveRename);
    } else if (io_.Rename(part_, target_, false) != 0 || io_.SyncFolder(folder) != 0) {
      // Put the old file back; a failed rename back leaves it whole under the backup's name.
      if (io_.Rename(backup, target_, false) != 0) ++errors;
      io_.SyncFolder(folder);
      errors += error(kMsgSaveCopy);
    } else if (io_.Remove(backup) != 0) {
      errors += error(kMsgSaveRename);
    } else if (io_.SyncFolder(folder) != 0) {
      vant::Trace("save: the removal of the backup may not be durable");
    }
  }
  // Moved into place or not, the staged copy is no longer wanted under its own name.
  if (io_.Remove(part_) != 0 && errno != ENOENT) vant::Trace("save: staged copy left behind");
  part_.clear();
  part_hold_.Release();
  backup_hold_.Release();
  return errors;
}

}  // namespace

int RecoverSaveBackups(const fs::path& target_folder) {
  const fs::path folder = target_folder.empty() ? fs::path(".") : target_folder;
  TBWFFileLayer& io = GetBWFFileLayer();
  auto beside = [](std::string_view stem) {
    return stem.size() > 2 && stem.front() == '.' && stem.back() == '.';
  };
  return vant::DisposeStaleOwnedTemps(
      folder, kBackupSuffix, beside, [&](const fs::path& backup, std::string_view stem) {
        const std::string name(stem.substr(1, stem.size() - 2));
        // A name cut to fit the folder entry (see PartFilePrefix) no longer tells its target.
        if (name.size() > kBackupNameUncut || name == "." || name == "..") return false;
        if (io.Rename(backup, folder / name, true) == 0) {
          io.SyncFolder(folder);
          return true;
        }
        return errno == EEXIST && io.Remove(backup) == 0;
      });
}

int RemoveStaleSaveTemps(const fs::path& folder) {
  return vant::RemoveStaleOwnedTemps(folder, ".tmp",
                                     [](std::string_view stem) { return stem == kSaveTempStem; });
}

int SaveToFile(TBWFChunck& chunk, const fs::path& target, const fs::path& source,
               const std::optional<vant::ipc::WindowRef>& window, int edition) {
  TBWFProgress& progress = GetBWFProgress();
  int errors = 0;
  {
    Saver saver(chunk, target, source);
    try {
      saver.Build();
    } catch (const Stop& stop) {
      std::string text = stop.message;
      if (!stop.detail.empty()) text += "\n" + stop.detail;
      if (stop.warning) {
        GetBWFNotifier().Warning(text);
      } else {
        GetBWFNotifier().Error(text);
      }
      progress.SetProgress(100);
      const bool no_room = stop.message == kMsgSaveTargetShort || stop.message == kMsgSaveTempShort;
      return no_room ? kSaveNoRoom : -1;
    }
    errors = saver.Replace();
  }
  chunk.ReopenFile();
  progress.SetProgress(99);
  progress.Hide();
  progress.ProcessMessages();
  if (errors == 0) {
    if (ViewerNotice()) {
      ViewerNotice()(chunk, edition, window);
    } else {
      NotifyViewer(chunk, edition, window);
    }
    GetBWFNotifier().Information(kMsgSaved);
  }
  progress.StartDelayTimer();
  return errors;
}

int64_t PlannedSaveSize(TBWFChunck& chunk, const fs::path& source,
                        const std::vector<fs::path>& pending) {
  // The pending files are registered as the save will register them, then taken back out.
  const size_t markers = chunk.ScanMarkers.size();
  const size_t entries = chunk.ListTable.size();
  for (const fs::path& path : pending) {
    std::string name;
    uint32_t cue_id = 0;
    if (AttachNameOf(path, name)) AddAttachment(chunk, path, cue_id);
  }
  int64_t size = -1;
  try {
    size = static_cast<int64_t>(Saver(chunk, {}, source).PlanOnly());
  } catch (const Stop&) {
  }
  chunk.ScanMarkers.resize(markers);
  chunk.ListTable.resize(entries);
  return size;
}

void SetBWFViewerNotice(TBWFViewerNotice notice) { ViewerNotice() = std::move(notice); }
