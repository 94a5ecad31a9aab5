#include "bwfattach.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <mutex>
#include <system_error>
#include <vector>

#include "bwfnotify.h"
#include "cp932.h"
#include "mmio.h"
#include "tempfiles.h"

namespace {

// The size of the bytes copied per read and write.
constexpr size_t kCopyBlock = 1 << 20;

void ShowPlain(const char* text) { GetBWFNotifier().Plain(text); }

// Names compare ignoring the case of single-byte Latin letters; the two bytes of a CP932
// character compare exactly, so a trail byte is never folded as if it were a letter.
bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (vant::text::IsLeadByte(x) && i + 1 < a.size()) {
      if (x != y || a[i + 1] != b[i + 1]) return false;
      ++i;
      continue;
    }
    auto fold = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; };
    if (fold(x) != fold(y)) return false;
  }
  return true;
}

// The converter's pending lines begin with "*"; a stored name may hold brackets of its own.
bool IsPendingLine(std::string_view name) { return name.starts_with('*'); }

std::string ExtractTo(TBWFChunck& chunk, std::string_view name, const std::filesystem::path& path,
                      uint8_t kind) {
  if (IsPendingLine(name)) return mmio::PendingPath(name);
  for (int i = 0; i < chunk.MarkerCount && i < bwf::kMaxMarkers; ++i) {
    const TBWFAttachInfo& a = chunk.Markers[i].attach;
    if (a.kind == kind && SameNameIgnoringCase(a.name, name)) {
      return SaveAttachData(chunk, path, a.dataOffset, a.size) ? path.string() : std::string();
    }
  }
  return {};
}

std::string ExtractToTemp(TBWFChunck& chunk, std::string_view name, uint8_t kind,
                          std::string_view extension) {
  if (IsPendingLine(name)) return mmio::PendingPath(name);
  std::string file = SafeAttachFileName(name);
  // The display program is chosen by the extension; a name like "a.pdf.bak" still gets one.
  std::string dot_ext = "." + std::string(extension);
  if (file.size() < dot_ext.size() ||
      !SameNameIgnoringCase(std::string_view(file).substr(file.size() - dot_ext.size()), dot_ext)) {
    file += dot_ext;
  }
  // Without the per-run folder there is nowhere safe to put the copy: a bare name would land in
  // the current folder and could replace a file of the user's there.
  const std::filesystem::path folder = AttachTempFolder();
  if (folder.empty()) {
    ShowPlain(kMsgOpenForWriteFailed);
    return {};
  }
  return ExtractTo(chunk, name, folder / file, kind);
}

// Reads exactly n bytes at the current position; false on an error or the end of the file.
bool ReadExactly(vant::riff::RiffFile& f, char* p, size_t n) {
  while (n > 0) {
    int64_t got = f.Read(p, n);
    if (got <= 0) return false;
    p += got;
    n -= static_cast<size_t>(got);
  }
  return true;
}

// The offset where the attachment's bytes begin: past cue id, media type and the name line
// (to its CR, then an LF when one follows). A name line without CR within the chunk and the
// longest name is no name line.
std::optional<uint64_t> AttachBytesStart(vant::riff::RiffFile& f, uint64_t data_offset,
                                         uint32_t size) {
  const uint64_t end = data_offset + size;
  const uint64_t line = data_offset + 8;
  if (line >= end) return end;
  const size_t span = static_cast<size_t>(std::min<uint64_t>(end - line, bwf::kAttachNameMax + 2));
  std::string head(span, '\0');
  if (f.Seek(static_cast<int64_t>(line)) < 0 || !ReadExactly(f, head.data(), span)) {
    return std::nullopt;
  }
  size_t cr = head.find('\r');
  if (cr == std::string::npos || cr > static_cast<size_t>(bwf::kAttachNameMax)) return line;
  uint64_t start = line + cr + 1;
  if (cr + 1 < span && head[cr + 1] == '\n') ++start;
  return std::min(start, end);
}

}  // namespace

bool AttachNameOf(const std::filesystem::path& file, std::string& cp932_name) {
  std::string name = file.filename().string();
  return !name.empty() && vant::text::ToCp932(name, cp932_name) &&
         cp932_name.size() <= static_cast<size_t>(bwf::kAttachNameMax) &&
         cp932_name.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos;
}

int AddAttachment(TBWFChunck& chunk, const std::filesystem::path& path, uint32_t& cue_id) {
  std::string stored_name;
  if (!AttachNameOf(path, stored_name)) {
    ShowPlain(kMsgAttachNameInvalid);
    return -1;
  }
  int n = 1;
  for (; n <= 9; ++n) {
    const std::string label = bwf::NoteLabel(n);
    // The cue id counts as well as the label: an attachment whose cue point was dropped (its
    // number freed and reused in one save) has a scan marker without label, and a second
    // attachment under the same cue id would hide it when the file is read back.
    bool taken =
        std::any_of(chunk.ScanMarkers.begin(), chunk.ScanMarkers.end(), [&](const TBWFMarker& m) {
          return m.scanDeleted == 0 &&
                 (SameNameIgnoringCase(m.Label(), label) || m.cue.dwName == bwf::NoteId(n));
        });
    // An attachment read without a cue point has no scan marker, yet its id is in use: sharing
    // it would hide one of the two attachments after the save.
    const uint32_t id = bwf::NoteId(n);
    for (int i = 0; !taken && i < chunk.MarkerCount && i < bwf::kMaxMarkers; ++i) {
      const TBWFMarker& m = chunk.Markers[i];
      taken = m.deleted == 0 && m.attach.kind != bwf::kAttachNone && m.attach.id == id;
    }
    if (!taken) break;
  }
  if (n > 9) return 0;
  const std::string label = bwf::NoteLabel(n);
  cue_id = bwf::NoteId(n);

  TBWFMarker marker;
  marker.SetLabel(label);
  marker.labelCueId = cue_id;
  marker.cue.dwName = cue_id;
  marker.cue.fccChunk = bwf::kData;
  chunk.ScanMarkers.push_back(marker);

  TChunkEntry labl;
  labl.id = bwf::kLabl;
  labl.kind = static_cast<uint32_t>(TBWFChunck::GetChunkKind(bwf::kLabl));
  labl.origin = TChunkEntry::kNew;
  bwf::PutLe32(labl.data.data(), cue_id);
  std::copy(label.begin(), label.end(), labl.data.begin() + 4);  // and a zero byte after it
  labl.size = static_cast<uint32_t>(4 + label.size() + 1);
  chunk.ListTable.push_back(labl);

  TChunkEntry file;
  file.id = bwf::kFile;
  file.kind = static_cast<uint32_t>(TBWFChunck::GetChunkKind(bwf::kFile));
  file.origin = TChunkEntry::kNew;
  file.mediaType = 0;
  bwf::PutLe32(file.data.data(), cue_id);
  file.path = path;
  chunk.ListTable.push_back(file);
  return n;
}

std::string DeleteAttachment(TBWFChunck& chunk, std::string_view name) {
  for (int i = 0; i < chunk.MarkerCount && i < bwf::kMaxMarkers; ++i) {
    TBWFMarker& m = chunk.Markers[i];
    // A mark without attachment has an empty name too; it is never deleted here.
    if (m.deleted == 0 && m.attach.kind != bwf::kAttachNone &&
        SameNameIgnoringCase(m.attach.name, name)) {
      m.deleted = 1;
      MarkScanMarkerDeleted(chunk, m.attach.id);
      return std::to_string(static_cast<int32_t>(m.attach.id));
    }
  }
  return {};
}

void MarkScanMarkerDeleted(TBWFChunck& chunk, uint32_t cue_id) {
  for (TBWFMarker& m : chunk.ScanMarkers) {
    if (m.cue.dwName == cue_id) m.scanDeleted = 1;
  }
}

void SetDeleteList(TBWFChunck& chunk, std::string_view text) {
  chunk.DeleteList.clear();
  size_t i = 0;
  while (i < text.size()) {
    size_t end = text.find_first_of("\r\n", i);
    if (end == std::string_view::npos) end = text.size();
    chunk.DeleteList.emplace_back(text.substr(i, end - i));
    i = end;
    if (i < text.size() && text[i] == '\r') ++i;
    if (i < text.size() && text[i] == '\n') ++i;
  }
}

bool IsDeleted(const TBWFChunck& chunk, uint32_t cue_id) {
  for (const std::string& line : chunk.DeleteList) {
    int64_t v = 0;
    const char* first = line.data();
    const char* last = line.data() + line.size();
    if (first != last && *first == '+') ++first;
    auto [end, ec] = std::from_chars(first, last, v);
    if (ec != std::errc() || end != last || first == last) continue;  // not a number
    if (v < INT32_MIN || v > UINT32_MAX) continue;
    if (static_cast<uint32_t>(v) == cue_id) return true;
  }
  return false;
}

std::string ExtractPdfTo(TBWFChunck& chunk, std::string_view name,
                         const std::filesystem::path& path) {
  return ExtractTo(chunk, name, path, bwf::kAttachPdf);
}

std::string ExtractCsvTo(TBWFChunck& chunk, std::string_view name,
                         const std::filesystem::path& path) {
  return ExtractTo(chunk, name, path, bwf::kAttachCsv);
}

std::string ExtractPdf(TBWFChunck& chunk, std::string_view name) {
  return ExtractToTemp(chunk, name, bwf::kAttachPdf, "pdf");
}

std::string ExtractCsv(TBWFChunck& chunk, std::string_view name) {
  return ExtractToTemp(chunk, name, bwf::kAttachCsv, "csv");
}

bool SaveAttachData(TBWFChunck& chunk, const std::filesystem::path& path, uint64_t data_offset,
                    uint32_t size) {
  mmio::ReplacingFile out(path);
  if (!out.IsOpen()) {
    ShowPlain(kMsgOpenForWriteFailed);
    return false;
  }
  const char* failure = nullptr;
  if (!chunk.BeginRead() || chunk.File() == nullptr) {
    failure = kMsgReadError;
  } else {
    vant::riff::RiffFile& f = *chunk.File();
    auto start = AttachBytesStart(f, data_offset, size);
    if (!start || f.Seek(static_cast<int64_t>(*start)) < 0) {
      failure = kMsgReadError;
    } else {
      uint64_t remaining = data_offset + size - *start;
      std::vector<char> buf(static_cast<size_t>(std::min<uint64_t>(remaining, kCopyBlock)));
      while (remaining > 0 && failure == nullptr) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(remaining, buf.size()));
        if (!ReadExactly(f, buf.data(), n)) {
          failure = kMsgReadError;
        } else if (!out.Write(buf.data(), n)) {
          failure = kMsgWriteError;
        }
        remaining -= n;
      }
    }
  }
  chunk.EndRead();
  if (failure == nullptr && !out.Commit()) failure = kMsgWriteError;
  if (failure != nullptr) {
    ShowPlain(failure);
    return false;
  }
  return true;
}

std::filesystem::path AttachTempFolder() {
  static std::once_flag once;
  static std::filesystem::path folder;
  std::call_once(once, [] {
    std::string pattern = (vant::TempFolder() / "vant-attach-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return;
    folder = pattern;
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(folder, ec);
    });
  });
  return folder;
}

std::string MakeTempFileName(std::string_view extension) {
  const std::string ext(extension);
  auto folder = AttachTempFolder();
  if (!folder.empty()) {
    if (auto made = vant::CreateTempFile(folder, ext, "." + ext)) return made->string();
  }
  return "temp~." + ext;
}

std::string SafeAttachFileName(std::string_view cp932_name) {
  std::string name = vant::text::ToUtf8(cp932_name);
  for (char& c : name) {
    unsigned char b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F || c == '/' || c == '\\') c = '_';
  }
  name = mmio::CutUtf8(name, 255);
  if (name.empty() || name == "." || name == "..") return "attachment";
  return name;
}
