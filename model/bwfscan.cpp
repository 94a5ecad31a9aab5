// The chunk directory scan: the tables the save rests on, and one trace line per item.
#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "bwfchunk.h"
#include "bwfwalk.h"
#include "trace.h"

using vant::riff::ChunkInfo;
using vant::riff::FourCCToString;
using vant::riff::RiffFile;

namespace {

// Trace line of a chunk or record: offset in hex and decimal, id, size and the step to the next.
void TraceItem(uint64_t offset, bwf::FourCC id, uint32_t size, uint64_t next,
               const char* tail = "") {
  if (!vant::TraceOn()) return;
  vant::TraceF("%08llX[%12llu] : %s ,size:%08X -> next:%08llX%s",
               static_cast<unsigned long long>(offset), static_cast<unsigned long long>(offset),
               FourCCToString(id).c_str(), size, static_cast<unsigned long long>(next), tail);
}

uint32_t EvenUp(uint32_t n) { return n + (n & 1u); }

// Visits the chunk headers from `p` to `end` as every reader walks them, with the position at
// each chunk's data. fn returns false to end the walk.
template <class Fn>
void WalkHeaders(RiffFile& f, uint64_t p, uint64_t end, uint32_t origin, Fn&& fn) {
  vant::riff::ChunkWalk walk(f, p, end);
  ChunkInfo ck;
  while (walk.Next(ck)) {
    TChunkEntry e;
    e.id = ck.id;
    e.dataOffset = ck.dataOffset;
    e.size = ck.size;
    e.kind = static_cast<uint32_t>(TBWFChunck::GetChunkKind(e.id));
    e.origin = origin;
    f.Seek(static_cast<int64_t>(e.dataOffset));
    if (!fn(e)) return;
  }
}

// Top-level chunks past the directory's limit. The first of each id that the save and the readers
// look up gets an entry of its own, and so does a chunk that reaches the end of the file (cut, or
// without its pad byte: the save writes its real size and pad); later cue points, play lists and
// associated-data lists are left out, as the save writes them anew; every other chunk joins the
// run of chunks before it, which the save carries byte for byte.
class Overflow {
 public:
  Overflow(RiffFile& f, std::vector<TChunkEntry>& table) : f_(f), table_(table) {}

  // False when even the runs fill the table.
  bool Add(const TChunkEntry& e) {
    const uint64_t start = e.dataOffset - 8;
    const uint64_t next = e.dataOffset + e.size + (e.size & 1u);
    const int slot = Slot(e);
    if (slot >= 0 && !seen_[slot]) {
      seen_[slot] = true;
      return Append(e);
    }
    if (e.kind == 3 || e.kind == 4 || slot == 0) return true;
    if (next > f_.Size()) return Append(e);
    TChunkEntry& last = table_.back();
    if (last.origin == TChunkEntry::kSourceRun && last.dataOffset + last.size == start &&
        next - last.dataOffset <= UINT32_MAX) {
      last.size = static_cast<uint32_t>(next - last.dataOffset);
      return true;
    }
    TChunkEntry run;
    run.origin = TChunkEntry::kSourceRun;
    run.dataOffset = start;
    run.size = static_cast<uint32_t>(next - start);
    return Append(run);
  }

  // What the directory already holds counts as seen.
  void Seen(const TChunkEntry& e) {
    if (const int slot = Slot(e); slot >= 0) seen_[slot] = true;
  }

 private:
  // The slot of an id that is looked up: kinds 1 to 7 in lower and upper case from 1, the
  // associated-data list 0; -1 for any other.
  int Slot(const TChunkEntry& e) {
    if (e.kind != 0) return static_cast<int>(e.kind * 2) - (static_cast<uint8_t>(e.id) >= 'a');
    if (e.id != vant::riff::kList || e.size < 4) return -1;
    uint8_t t[4] = {};
    f_.Seek(static_cast<int64_t>(e.dataOffset));
    return f_.Read(t, 4) == 4 && bwf::Le32(t) == bwf::kAdtl ? 0 : -1;
  }
  bool Append(const TChunkEntry& e) {
    if (table_.size() >= 2 * bwf::kScanTableLimit) return false;
    table_.push_back(e);
    return true;
  }

  RiffFile& f_;
  std::vector<TChunkEntry>& table_;
  bool seen_[15] = {};
};

}  // namespace

int TBWFChunck::GetChunkKind(bwf::FourCC id) {
  struct Kind {
    bwf::FourCC lower, upper;
    int kind;
  };
  static constexpr Kind kinds[] = {
      {bwf::kBext, bwf::kBextUpper, 1}, {bwf::kCmcd, bwf::kCmcdUpper, 2},
      {bwf::kCue, bwf::kCueUpper, 3},   {bwf::kPlst, bwf::kPlstUpper, 4},
      {bwf::kLabl, bwf::kLablUpper, 5}, {bwf::kFile, bwf::kFileUpper, 6},
      {bwf::kData, bwf::kDataUpper, 7},
  };
  for (const Kind& k : kinds) {
    if (id == k.lower || id == k.upper) return k.kind;
  }
  return 0;
}

void TBWFChunck::SetChunkPresent(int kind) {
  switch (kind) {
    case 1:
      Present.bext = true;
      break;
    case 2:
      Present.cmcd = true;
      break;
    case 3:
      Present.cue = true;
      break;
    case 4:
      Present.plst = true;
      break;
    case 5:
    case 6:
      Present.labelOrFile = true;
      break;
    case 7:
      Present.data = true;
      break;
    default:
      break;
  }
}

void TBWFChunck::ClearChunkTable() {
  ChunkTable.clear();
  ListTable.clear();
  ScanMarkers.clear();
  Present = {};
  ScanOverflow = false;
}

int TBWFChunck::FindChunkEntry(bwf::FourCC id) const {
  for (size_t i = 0; i < ChunkTable.size(); ++i) {
    if (ChunkTable[i].id == id) return static_cast<int>(i);
  }
  return -1;
}

int TBWFChunck::FindScanMarker(uint32_t cueId, bool create) {
  for (size_t i = 0; i < ScanMarkers.size(); ++i) {
    if (ScanMarkers[i].cue.dwName == cueId) return static_cast<int>(i);
  }
  return create ? AppendScanMarker(cueId) : -1;
}

int TBWFChunck::AppendScanMarker(uint32_t cueId) {
  if (ScanMarkers.size() >= bwf::kScanTableLimit) return -1;
  TBWFMarker m;
  m.cue.dwName = cueId;
  m.cue.fccChunk = bwf::kData;
  ScanMarkers.push_back(std::move(m));
  return static_cast<int>(ScanMarkers.size() - 1);
}

uint64_t TBWFChunck::GetCueChunkPos() const {
  int i = FindChunkEntry(bwf::kCue);
  if (i < 0) i = FindChunkEntry(bwf::kCueUpper);
  return i < 0 ? 0 : ChunkTable[i].dataOffset;
}

uint64_t TBWFChunck::GetDataChunkPos() const {
  int i = FindChunkEntry(bwf::kData);
  if (i < 0) i = FindChunkEntry(bwf::kDataUpper);
  return i < 0 ? 0 : ChunkTable[i].dataOffset;
}

uint32_t TBWFChunck::GetDataChunkSize() const {
  int i = FindChunkEntry(bwf::kData);
  if (i < 0) i = FindChunkEntry(bwf::kDataUpper);
  return i < 0 ? 0 : ChunkTable[i].size;
}

void TBWFChunck::ScanChunks(const std::filesystem::path& path) {
  ClearChunkTable();
  // The model's own file, when it is open, serves: what the readers read is read already.
  std::unique_ptr<RiffFile> handle;
  if (!file_ || path != path_) handle = RiffFile::Open(path, vant::riff::Mode::kRead);
  if (!handle && !(file_ && path == path_)) return;
  RiffFile& f = handle ? *handle : *file_;
  ChunkInfo form;
  if (!bwf::FindWaveForm(f, form)) return;
  // Top-level walk, bounded by the form and the file; a chunk that runs past the file is
  // recorded with what it holds and ends the walk.
  const uint64_t fileEnd = f.Size();
  const uint64_t formEnd = std::min<uint64_t>(form.DataEnd(), fileEnd);
  uint32_t lastSize = 0;
  Overflow overflow(f, ChunkTable);
  WalkHeaders(f, 12, formEnd, TChunkEntry::kSource, [&](TChunkEntry& e) {
    SetChunkPresent(static_cast<int>(e.kind));
    TraceItem(e.dataOffset, e.id, e.size, EvenUp(e.size));
    lastSize = e.size;
    if (ChunkTable.size() < bwf::kScanTableLimit) {
      overflow.Seen(e);
      ChunkTable.push_back(std::move(e));
      return true;
    }
    if (overflow.Add(e)) return true;
    ScanOverflow = true;
    return false;
  });

  // FindScanMarker's answers, kept in a map: a hostile file can hold very many records.
  std::unordered_map<uint32_t, int> firstById;
  auto findScan = [&](uint32_t cueId, bool create) {
    if (auto it = firstById.find(cueId); it != firstById.end()) return it->second;
    const int i = create ? AppendScanMarker(cueId) : -1;
    if (i >= 0) firstById.emplace(cueId, i);
    return i;
  };

  const uint64_t formStart = form.dataOffset + 4;
  ChunkInfo ck;
  if (bwf::FindEither(f, form, formStart, bwf::kCue, bwf::kCueUpper, ck)) {
    // One record past the table tells that the file holds more cue points than a save would keep.
    const uint32_t read = bwf::ForEachRecord(
        f, ck, bwf::kCuePointSize, bwf::kScanTableLimit + 1, "cue %u ->",
        [&](const uint8_t* b, uint64_t at) {
          if (ScanMarkers.size() >= bwf::kScanTableLimit) return;
          TBWFMarker m;
          m.cue = TBWFCuePoint::FromBytes(b);
          TraceItem(at, m.cue.dwName, lastSize, bwf::kCuePointSize, " ");
          firstById.try_emplace(m.cue.dwName, static_cast<int>(ScanMarkers.size()));
          ScanMarkers.push_back(std::move(m));
        });
    if (read > bwf::kScanTableLimit) ScanOverflow = true;
  }

  if (bwf::FindEither(f, form, formStart, bwf::kPlst, bwf::kPlstUpper, ck)) {
    bwf::ForEachRecord(f, ck, bwf::kPlayItemSize, UINT32_MAX, "plst %u ->",
                       [&](const uint8_t* b, uint64_t at) {
                         const TBWFPlayItem item = TBWFPlayItem::FromBytes(b);
                         const int m = findScan(item.dwName, false);
                         if (m >= 0) ScanMarkers[m].play = item;
                         TraceItem(at, item.dwName, lastSize, bwf::kPlayItemSize);
                       });
  }

  ChunkInfo list;
  if (!bwf::FindAdtl(f, form, list)) return;
  vant::Trace("adtl->");
  // Sub-chunks while a whole header fits in the list and the file; a list smaller than its type
  // holds none.
  const uint64_t listEnd = std::min<uint64_t>(list.DataEnd(), fileEnd);
  WalkHeaders(f, list.dataOffset + 4, listEnd, TChunkEntry::kSourceList, [&](TChunkEntry& e) {
    if (ListTable.size() >= bwf::kScanTableLimit) {
      // Other sub-chunks are not kept by a save anyway.
      if (e.kind == 5 || e.kind == 6) ScanOverflow = true;
      return !ScanOverflow;
    }
    // The first data bytes (the cue id), no more than the sub-chunk and the list hold.
    const auto room = static_cast<size_t>(std::min<uint64_t>({e.size, 4, listEnd - e.dataOffset}));
    f.Read(e.data.data(), room);
    SetChunkPresent(static_cast<int>(e.kind));
    const uint32_t cueId = bwf::Le32(e.data.data());
    if (e.kind == 6) findScan(cueId, true);
    if (e.kind == 5) {
      const int m = findScan(cueId, false);
      if (m >= 0) ScanMarkers[m].labelPos = e.dataOffset;
    }
    const uint32_t skip = e.size >= 4 ? EvenUp(e.size - 4) : 0;
    if (vant::TraceOn()) {
      const std::string firstBytes(reinterpret_cast<const char*>(e.data.data()), 4);
      vant::TraceF("%08llX[%12llu] : %s(%s) ,size:%08X -> next:%08X",
                   static_cast<unsigned long long>(e.dataOffset),
                   static_cast<unsigned long long>(e.dataOffset), FourCCToString(e.id).c_str(),
                   firstBytes.c_str(), e.size, skip);
    }
    ListTable.push_back(std::move(e));
    return true;
  });

  // Labels again in full: the cue id and at most 16 bytes of text.
  for (TBWFMarker& m : ScanMarkers) {
    if (m.labelPos == 0) continue;
    ChunkInfo labl;
    uint8_t h[8];
    f.Seek(static_cast<int64_t>(m.labelPos - 8));
    if (f.Read(h, 8) != 8) continue;
    labl.id = bwf::Le32(h);
    labl.size = bwf::Le32(h + 4);
    labl.dataOffset = m.labelPos;
    uint8_t b[4 + bwf::kLabelTextSize] = {};
    f.ReadIn(labl, b, sizeof b);
    m.labelCueId = bwf::Le32(b);
    std::memcpy(m.labelText.data(), b + 4, bwf::kLabelTextSize);
  }
}
