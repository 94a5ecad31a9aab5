#include "molisting.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "commatext.h"
#include "cp932.h"
#include "diskinfo.h"
#include "mmio.h"

namespace viewer {

namespace fs = std::filesystem;
using bwf::CmcdField;

namespace {

unsigned char Fold(unsigned char c) { return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c; }

bool EndsWithNoCase(std::string_view name, std::string_view ext) {
  return name.size() >= ext.size() && SameText(name.substr(name.size() - ext.size()), ext);
}

// A regular file's size and time; false when it is not one (or vanished meanwhile).
bool StatFile(const fs::path& p, ListingEntry& out) {
  struct stat st;
  if (::stat(p.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  out.path = p;
  out.size = static_cast<uint64_t>(st.st_size);
  out.mtime = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return true;
}

// The eight comment fields, whose joined text decides the comment mark.
constexpr CmcdField kCommentFields[] = {
    CmcdField::Comment1,       CmcdField::Comment2,        CmcdField::RSComment,
    CmcdField::RSComment2,     CmcdField::ADComment,       CmcdField::ADComment2,
    CmcdField::StationComment, CmcdField::StationComment2,
};

// Whole milliseconds of a length in seconds. Lengths that are whole milliseconds (every stated
// one, and every measured one at 48 kHz) often land a hair below the value in binary, and cutting
// that would lose a millisecond; a nanosecond of slack keeps them whole.
int64_t WholeMillis(double seconds) {
  return static_cast<int64_t>(std::trunc(seconds * 1000.0 + 1e-6));
}

const std::string kMark = vant::text::ToCp932Lossy("●");

}  // namespace

int FileTypeOf(std::string_view name) {
  if (EndsWithNoCase(name, ".WAV")) return 1;
  if (EndsWithNoCase(name, ".BWF")) return 2;
  return 0;
}

int CompareText(std::string_view a, std::string_view b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const unsigned char x = Fold(static_cast<unsigned char>(a[i]));
    const unsigned char y = Fold(static_cast<unsigned char>(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool SameEntry(const ListingEntry& a, const ListingEntry& b) {
  return a.size == b.size && a.mtime == b.mtime && SameText(a.path.native(), b.path.native());
}

Listing ListWaveFiles(const fs::path& folder) {
  Listing out;
  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  if (ec) return out;
  for (const fs::directory_entry& e : it) {
    const std::string name = e.path().filename().string();
    if (FileTypeOf(name) == 0) continue;
    ListingEntry entry;
    if (StatFile(e.path(), entry)) out.push_back(std::move(entry));
  }
  std::sort(out.begin(), out.end(), [](const ListingEntry& a, const ListingEntry& b) {
    const int c = CompareText(a.path.filename().native(), b.path.filename().native());
    return c != 0 ? c < 0 : a.path.filename().native() < b.path.filename().native();
  });
  return out;
}

bool ListingChanged(const Listing& scan, const Listing& watch) {
  if (scan.size() != watch.size()) return true;
  for (size_t i = 0; i < watch.size(); ++i) {
    if (SameEntry(scan[i], watch[i])) continue;
    ListingEntry now;
    return StatFile(watch[i].path, now) && now.size > 2906;
  }
  return false;
}

WriteProgress WriteProgressOf(const ListingEntry& e, const vant::FolderWatch* watch,
                              const WriterCheck& writing) {
  using State = vant::FolderWatch::WriteState;
  const State notice =
      watch && watch->Active() ? watch->StateOf(e.path.filename().string()) : State::kUnknown;
  // The lease, where it answers, says whether a writer has the file open now.
  const std::optional<bool> open = writing ? writing(e.path) : std::nullopt;
  if (notice == State::kWriting)
    return open == false ? WriteProgress::kFinished : WriteProgress::kWriting;
  if (notice == State::kClosed)
    return open == true ? WriteProgress::kWriting : WriteProgress::kFinished;
  if (open) return *open ? WriteProgress::kWriting : WriteProgress::kFinished;
  return WriteProgress::kUnknown;
}

bool FileFinished(const ListingEntry& e, const Listing& previous, const vant::FolderWatch* watch,
                  const WriterCheck& writing) {
  switch (WriteProgressOf(e, watch, writing)) {
    case WriteProgress::kFinished:
      return true;
    case WriteProgress::kWriting:
      return false;
    case WriteProgress::kUnknown:
      break;
  }
  return HeldStill(e, previous);
}

bool WholeOrStill(const ListingEntry& e, int64_t now) {
  if (now - e.mtime >= kShortFileStillNanos) return true;
  const int fd = ::open(e.path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return true;  // the scan finds out what it is
  unsigned char h[8];
  const bool read = ::pread(fd, h, sizeof h, 0) == static_cast<ssize_t>(sizeof h);
  ::close(fd);
  if (!read || bwf::Le32(h) != vant::riff::kRiff) return true;
  // A size with its top bit set promises nothing: a pipe's unknown length, or a writer that
  // stored it big-endian (the chunk walk reads both).
  const uint32_t stated = bwf::Le32(h + 4);
  if (stated & 0x80000000u) return true;
  return 8 + uint64_t{stated} <= e.size;
}

bool HeldStill(const ListingEntry& e, const Listing& polled) {
  return std::any_of(polled.begin(), polled.end(),
                     [&](const ListingEntry& p) { return SameEntry(p, e); });
}

bool ListingSettled(const Listing& previous, const Listing& watch) {
  return std::all_of(watch.begin(), watch.end(), [&](const ListingEntry& e) {
    return FileFinished(e, previous, nullptr, vant::IsOpenForWriting);
  });
}

ScanResult ScanModels(const fs::path& folder,
                      const std::function<bool(const ListingEntry&)>& hold) {
  ScanResult r;
  r.listing = ListWaveFiles(folder);
  if (hold) std::erase_if(r.listing, hold);
  for (const ListingEntry& e : r.listing) {
    // One open per file for all its chunks; the file is closed again before the next.
    auto model = TBWFChunck::OpenAndRead(e.path, TBWFChunck::kReopenPerRead);
    if (model->GetState() == TBWFChunck::kNotOpen) continue;
    if (r.models.empty()) r.advertiser = model->CmcdInfo.Get(CmcdField::ClientName);
    if (model->WaveFormat.wFormatTag == bwf::kFormatPcm &&
        model->WaveFormat.nSamplesPerSec == bwf::kSampleRate) {
      r.models.push_back(std::move(model));
    }
  }
  return r;
}

ModelTexts TextsOf(const TBWFChunck& m) {
  ModelTexts t;
  const TCmcdInfo& c = m.CmcdInfo;
  t.fileName = m.GetPath().filename().string();
  t.title = c.Get(CmcdField::CMTitle);
  t.length = c.Get(CmcdField::CMLength);
  t.lengthRed = LengthMismatch(m.GetCMLength().value_or(0.0), t.length);
  t.stereo = m.WaveFormat.nChannels == 2;
  t.codes[0] = c.Get(CmcdField::ItemNumber);
  t.codes[1] = c.Get(CmcdField::CommonCode);
  t.codes[2] = c.Get(CmcdField::ProductionCode);
  t.codes[3] = c.Get(CmcdField::StationCode);
  t.limitation = c.Get(CmcdField::Limitation);
  t.attached = m.AttachCount > 0;
  for (CmcdField f : kCommentFields) t.commented = t.commented || !c.Get(f).empty();
  return t;
}

double StrToFloatDef(std::string_view text, double def) {
  auto blank = [](char ch) { return ch == ' ' || ch == '\t'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return def;
  double v = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(v)) return def;
  return v;
}

bool LengthMismatch(double measured_seconds, std::string_view stated) {
  const int64_t a = WholeMillis(measured_seconds);
  const int64_t b = WholeMillis(StrToFloatDef(stated, 0.0));
  return (a > b ? a - b : b - a) > 4;
}

std::vector<std::string> ListingCsvLines(const std::string& volume_label,
                                         const std::string& advertiser,
                                         const std::vector<std::unique_ptr<TBWFChunck>>& models) {
  using vant::text::JoinCommaText;
  using vant::text::ToCp932Lossy;
  std::vector<std::string> lines;
  lines.push_back(JoinCommaText({"MO:", volume_label, ToCp932Lossy("広告主:"), advertiser}));
  std::vector<std::string> heads;
  for (const char* h :
       {"No.:", "ファイル名:", "タイトル:", "秒数:", "S/M:", "素材略号:", "共通コード:",
        "企画･制作社内素材番号:", "放送局コード:", "CM有効期間:", "添付:", "コメント:"}) {
    heads.push_back(ToCp932Lossy(h));
  }
  lines.push_back(JoinCommaText(heads));
  for (size_t i = 0; i < models.size(); ++i) {
    if (!models[i]) continue;
    const ModelTexts t = TextsOf(*models[i]);
    char number[24];
    std::snprintf(number, sizeof number, "%02zu", i + 1);
    lines.push_back(
        JoinCommaText({number, ToCp932Lossy(t.fileName), t.title, t.length,
                       t.stereo ? "STEREO" : "MOMO", t.codes[0], t.codes[1], t.codes[2], t.codes[3],
                       t.limitation, t.attached ? kMark : "", t.commented ? kMark : ""}));
  }
  return lines;
}

bool WriteCsvFile(const fs::path& target, const std::vector<std::string>& lines) {
  mmio::ReplacingFile out(target, false);  // a write-protected list file is refused
  if (!out.IsOpen()) return false;
  std::string text;
  for (const std::string& l : lines) text += l + "\r\n";
  return out.Write(text.data(), text.size()) && out.Commit();
}

}  // namespace viewer
