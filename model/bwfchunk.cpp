#include "bwfchunk.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bwfnotify.h"
#include "bwfwalk.h"
#include "cp932.h"

using vant::riff::ChunkInfo;
using vant::riff::Mode;
using vant::riff::RiffFile;

namespace {

bool SameTextIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::filesystem::path TemporaryFolder() {
  const char* t = std::getenv("TMPDIR");
  if (t && *t) return t;
  return "/tmp";
}

}  // namespace

std::string_view TBWFMarker::Label() const {
  const auto end = std::find(labelText.begin(), labelText.end(), '\0');
  return std::string_view(labelText.data(), static_cast<size_t>(end - labelText.begin()));
}

void TBWFMarker::SetLabel(std::string_view text) {
  bwf::StoreFieldText(
      std::span<uint8_t>(reinterpret_cast<uint8_t*>(labelText.data()), labelText.size()), text);
}

TBWFChunck::TBWFChunck(std::filesystem::path path, int accessMode)
    : TBWFChunck(std::move(path), accessMode, false) {}

TBWFChunck::TBWFChunck(std::filesystem::path path, int accessMode, bool held)
    : path_(std::move(path)), held_(held), accessMode_(accessMode) {
  state_ = OpenFile() ? kOpen : kNotOpen;
  // CP932 like every text of the model (the owner shows it through the CP932 conversion).
  const std::string name = vant::text::ToCp932Lossy(path_.filename().string());
  FileName = name.substr(0, vant::text::CharBoundary(name, bwf::kAttachNameMax));
  TempFolder = TemporaryFolder();
  EndRead();
}

TBWFChunck::~TBWFChunck() = default;

std::unique_ptr<TBWFChunck> TBWFChunck::OpenAndRead(std::filesystem::path path, int accessMode) {
  auto m = std::unique_ptr<TBWFChunck>(new TBWFChunck(std::move(path), accessMode, true));
  if (m->state_ != kNotOpen) ReadModelInOrder(*m);
  m->held_ = false;
  m->EndRead();
  return m;
}

bool TBWFChunck::OpenFile() {
  file_ = RiffFile::Open(path_, Mode::kRead);
  return file_ != nullptr;
}

void TBWFChunck::CloseFile() {
  file_.reset();
  if (state_ == kOpen) state_ = kClosed;
}

int TBWFChunck::ReopenFile() {
  state_ = OpenFile() ? kOpen : kNotOpen;
  return state_;
}

bool TBWFChunck::BeginRead() {
  if (accessMode_ == kReopenPerRead && !(held_ && file_)) {
    state_ = OpenFile() ? kOpen : kNotOpen;
    if (state_ == kNotOpen) return false;
  }
  if (!file_) return false;
  file_->Seek(0);
  return true;
}

void TBWFChunck::EndRead() {
  if (accessMode_ != kReopenPerRead || held_) return;
  state_ = file_ ? kClosed : kNotOpen;
  file_.reset();
}

int TBWFChunck::CheckFormat() {
  if (ReadRiffHeader() == -1) {
    GetBWFNotifier().Warning(
        "RIFF情報に異常があるか、処理できないファイルサイズです。処理を中止します。");
    return -1;
  }
  TWaveFormatRecord format;
  GetFmtChunk(format);
  if (format.wFormatTag != bwf::kFormatPcm) {
    GetBWFNotifier().Warning("規定外のフォーマットです。処理を中止します。");
    return -1;
  }
  if (format.nSamplesPerSec != bwf::kSampleRate) {
    GetBWFNotifier().Warning("規定外のサンプリング周波数です。処理を続けます。");
  }
  return 0;
}

int TBWFChunck::ReadRiffHeader() { return GetRiffHeader(RiffHeader); }

int TBWFChunck::GetRiffHeader(TRiffHeader& header) {
  if (!BeginRead()) return -1;
  uint8_t b[12] = {};
  const bool whole = file_->Read(b, sizeof b) == static_cast<int64_t>(sizeof b);
  EndRead();
  header.ckid = bwf::Le32(b);
  header.cksize = bwf::Le32(b + 4);
  header.fccType = bwf::Le32(b + 8);
  if (!whole) return -1;
  if (!bwf::IsValidFormSize(header.cksize)) {
    header.cksize = __builtin_bswap32(header.cksize);
    return -1;
  }
  return 1;
}

int TBWFChunck::ReadFmtChunk() { return GetFmtChunk(WaveFormat); }

int TBWFChunck::GetFmtChunk(TWaveFormatRecord& format) {
  if (!BeginRead()) return 0;
  ChunkInfo form, ck;
  int found = 0;
  if (bwf::FindWaveForm(*file_, form) &&
      bwf::FindEither(*file_, form, form.dataOffset + 4, bwf::kFmt, bwf::kFmt, ck)) {
    uint8_t b[bwf::kFmtReadSize] = {};  // a 16-byte record reads with a zero extra size
    file_->ReadIn(ck, b, sizeof b);
    format = TWaveFormatRecord::FromBytes(b);
    ReadBits |= kFormatRead;
    found = 1;
  }
  EndRead();
  return found;
}

// Clears `dest`, then reads as much of the chunk (lower- or upper-case id) as fits into it.
int TBWFChunck::ReadFixedChunk(bwf::FourCC id, bwf::FourCC upper, std::span<uint8_t> dest,
                               uint32_t bit) {
  if (!BeginRead()) return 0;
  std::fill(dest.begin(), dest.end(), uint8_t{0});
  ChunkInfo form, ck;
  int found = 0;
  if (bwf::FindWaveForm(*file_, form) &&
      bwf::FindEither(*file_, form, form.dataOffset + 4, id, upper, ck)) {
    file_->ReadIn(ck, dest.data(), dest.size());
    ReadBits |= bit;
    found = 1;
  }
  EndRead();
  return found;
}

int TBWFChunck::ReadBextChunk() { return GetBextChunk(BextInfo); }

int TBWFChunck::GetBextChunk(TBextInfo& bext) {
  return ReadFixedChunk(bwf::kBext, bwf::kBextUpper, bext.bytes, kBextRead);
}

int TBWFChunck::ReadCmcdChunk() { return GetCmcdChunk(CmcdInfo); }

int TBWFChunck::GetCmcdChunk(TCmcdInfo& cmcd) {
  return ReadFixedChunk(bwf::kCmcd, bwf::kCmcdUpper, cmcd.bytes, kCmcdRead);
}

int TBWFChunck::ReadDataChunk() { return GetDataChunk(DataPos); }

int TBWFChunck::GetDataChunk(TDataPos& data) {
  if (!BeginRead()) return 0;
  data = {};
  ChunkInfo form, ck;
  int found = 0;
  if (bwf::FindWaveForm(*file_, form) &&
      bwf::FindEither(*file_, form, form.dataOffset + 4, bwf::kData, bwf::kDataUpper, ck)) {
    data.offset = ck.dataOffset;
    data.size = ck.size;
    found = 1;
  }
  EndRead();
  return found;
}

int TBWFChunck::ReadCueChunks() { return GetCueChunks(Markers); }

int TBWFChunck::GetCueChunks(std::array<TBWFMarker, bwf::kMaxMarkers>& markers) {
  CuePointCount = PlayCount = LabelCount = AttachCount = 0;
  if (!BeginRead()) return 0;
  RiffFile& f = *file_;
  ChunkInfo form, ck;
  if (!bwf::FindWaveForm(f, form)) {
    EndRead();
    return 0;
  }
  const uint64_t formStart = form.dataOffset + 4;
  auto firstWithId = [&](uint32_t id) {
    for (uint32_t i = 0; i < CuePointCount; ++i) {
      if (markers[i].cue.dwName == id) return static_cast<int>(i);
    }
    return -1;
  };

  // Cue points; those beyond the table are ignored.
  uint64_t plstFrom = formStart;
  if (bwf::FindEither(f, form, formStart, bwf::kCue, bwf::kCueUpper, ck)) {
    uint32_t n = 0;
    bwf::ForEachRecord(
        f, ck, bwf::kCuePointSize, bwf::kMaxMarkers, nullptr,
        [&](const uint8_t* b, uint64_t) { markers[n++].cue = TBWFCuePoint::FromBytes(b); });
    CuePointCount = n;
    plstFrom = ck.NextOffset();
  }

  // Play list, searched after the cue chunk.
  if (bwf::FindEither(f, form, plstFrom, bwf::kPlst, bwf::kPlstUpper, ck)) {
    PlayCount = bwf::ForEachRecord(f, ck, bwf::kPlayItemSize, UINT32_MAX, nullptr,
                                   [&](const uint8_t* b, uint64_t) {
                                     const TBWFPlayItem item = TBWFPlayItem::FromBytes(b);
                                     const int m = firstWithId(item.dwName);
                                     if (m >= 0) markers[m].play = item;
                                   });
  }

  ChunkInfo list;
  if (bwf::FindAdtl(f, form, list)) {
    // Labels: the cue id and at most 16 bytes of text.
    ChunkInfo sub;
    while (bwf::NextSubChunk(f, list, bwf::kLabl, bwf::kLablUpper, sub)) {
      uint8_t b[4 + bwf::kLabelTextSize] = {};
      f.ReadIn(sub, b, sizeof b);
      const int m = firstWithId(bwf::Le32(b));
      if (m >= 0) {
        markers[m].labelCueId = bwf::Le32(b);
        std::memcpy(markers[m].labelText.data(), b + 4, bwf::kLabelTextSize);
        ++LabelCount;
      }
      f.Ascend(sub);
    }
  }
  if (bwf::FindAdtl(f, form, list)) {
    // Attachments: the name line runs to its CR, within the chunk and 259 bytes.
    ChunkInfo sub;
    while (bwf::NextSubChunk(f, list, bwf::kFile, bwf::kFileUpper, sub)) {
      uint8_t head[8] = {};
      f.ReadIn(sub, head, sizeof head);
      char line[bwf::kAttachNameMax + 1];
      const int64_t got = f.ReadIn(sub, line, sizeof line);
      const char* cr = got > 0 ? static_cast<const char*>(std::memchr(line, '\r', got)) : nullptr;
      TBWFAttachInfo info;
      info.id = bwf::Le32(head);
      info.mediaType = bwf::Le32(head + 4);
      info.dataOffset = sub.dataOffset;
      info.size = sub.size;
      if (cr) info.name.assign(line, static_cast<size_t>(cr - line));
      info.kind = bwf::GetAttachKind(info.name);
      int m = firstWithId(info.id);
      if (m < 0) m = AddNoteMarker(markers, info.id);
      if (m >= 0) {
        markers[m].attach = std::move(info);
        markers[m].deleted = 0;
        ++AttachCount;
      }
      f.Ascend(sub);
    }
  }
  EndRead();
  return 1;
}

int TBWFChunck::AddNoteMarker(std::array<TBWFMarker, bwf::kMaxMarkers>& markers, uint32_t id) {
  if (CuePointCount >= static_cast<uint32_t>(bwf::kMaxMarkers)) return -1;
  const int i = static_cast<int>(CuePointCount);
  TBWFMarker& m = markers[i];
  m.cue = {};
  m.cue.dwName = id;
  m.cue.dwPosition = 1;
  m.cue.fccChunk = bwf::kData;
  m.labelCueId = id;
  char label[16];
  std::snprintf(label, sizeof label, "BC$NOTE%c", static_cast<char>(id >> 24));
  m.SetLabel(label);
  ++CuePointCount;
  ++LabelCount;
  return i;
}

int TBWFChunck::FindMarker(std::string_view label) const {
  const int count = std::clamp(MarkerCount, 0, bwf::kMaxMarkers);
  int matches = 0;
  int kept = -1;
  for (int i = 0; i < count; ++i) {
    if (!SameTextIgnoringCase(Markers[i].Label(), label)) continue;
    ++matches;
    if (kept < 0 || Markers[i].cue.dwSampleOffset < Markers[kept].cue.dwSampleOffset) kept = i;
  }
  if (matches == 0) return -1;
  if (matches == 1) {
    for (int i = 0; i < count; ++i) {
      if (SameTextIgnoringCase(Markers[i].Label(), label) &&
          Markers[i].labelCueId == Markers[i].cue.dwName)
        return i;
    }
    return -1;
  }
  return Markers[kept].labelCueId == Markers[kept].cue.dwName ? kept : -1;
}

int64_t TBWFChunck::MarkPos(std::string_view label) const {
  const int i = FindMarker(label);
  return i < 0 ? -1 : static_cast<int64_t>(Markers[i].cue.dwSampleOffset);
}

void TBWFChunck::CalcCMLength() {
  const int64_t standby = GetStandbyPos();
  const int64_t end = GetEndPos();
  if (standby < 0 || end < 0) {
    cmLength_.reset();
    return;
  }
  const uint32_t rate = WaveFormat.nSamplesPerSec;
  if (rate == 0) {
    cmLength_ = 0.0;
    return;
  }
  // Modulo 2^32, as the positions are 32-bit sample offsets.
  const uint32_t d = static_cast<uint32_t>(end) - static_cast<uint32_t>(standby);
  cmLength_ = static_cast<double>(d) / rate;
}

uint64_t TBWFChunck::SamplesToMSec(uint32_t position) const {
  const uint64_t r = WaveFormat.nSamplesPerSec;
  if (r == 0) return 0;
  const uint64_t whole = position / r;
  const uint64_t rest = position % r;
  return whole * 1000 + (rest * 1000 + r - 1) / r;
}

int TBWFChunck::GetFileKind() const {
  if (ReadBits & kCmcdRead) return 1;
  if (ReadBits & kBextRead) return 2;
  if (ReadBits & kFormatRead) return 3;
  return 0;
}

int TBWFChunck::GetList(uint8_t kind, std::vector<std::string>& list) const {
  list.clear();
  const int count = std::clamp(MarkerCount, 0, bwf::kMaxMarkers);
  for (int i = 0; i < count; ++i) {
    const TBWFMarker& m = Markers[i];
    if (m.attach.kind == kind && m.attach.id == m.cue.dwName) list.push_back(m.attach.name);
  }
  return static_cast<int>(list.size());
}

int TBWFChunck::GetPdfList(std::vector<std::string>& list) const {
  return GetList(bwf::kAttachPdf, list);
}

int TBWFChunck::GetCsvList(std::vector<std::string>& list) const {
  return GetList(bwf::kAttachCsv, list);
}

void ReadModelInOrder(TBWFChunck& m) {
  m.ReadRiffHeader();
  m.ReadFmtChunk();
  m.ReadBextChunk();
  m.ReadCueChunks();
  m.MarkerCount = static_cast<int>(m.CuePointCount);
  m.ReadCmcdChunk();
  m.ReadDataChunk();
  m.CalcCMLength();
}
