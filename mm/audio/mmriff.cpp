#include "mmriff.h"

#include <algorithm>
#include <cstring>

using vant::riff::ChunkInfo;
using vant::riff::RiffFile;

uint32_t mmioFourCC(char a, char b, char c, char d) { return vant::riff::MakeFourCC(a, b, c, d); }

namespace {

constexpr uint32_t Id(const char (&s)[5]) { return vant::riff::MakeFourCC(s[0], s[1], s[2], s[3]); }

// The INFO ids of the published RIFF standard.
constexpr TInfoId kInfoIds[kInfoIdCount] = {
    {Id("IARL"), "Archival Location", "Indicates where the subject of the file is archived."},
    {Id("IART"), "Artist", "Lists the artist of the original subject of the file."},
    {Id("ICMS"), "Commissioned",
     "Lists the name of the person or organization that commissioned the subject of the file."},
    {Id("ICMT"), "Comments",
     "Provides general comments about the file or the subject of the file."},
    {Id("ICOP"), "Copyright", "Records the copyright information for the file."},
    {Id("ICRD"), "Creation date", "Specifies the date the subject of the file was created."},
    {Id("ICRP"), "Cropped", "Describes whether an image has been cropped and, if so, how."},
    {Id("IDIM"), "Dimensions", "Specifies the size of the original subject of the file."},
    {Id("IDPI"), "Dots Per Inch",
     "Stores dots per inch setting of the digitizer used to produce the file."},
    {Id("IENG"), "Engineer", "Stores the name of the engineer who worked on the file."},
    {Id("IGNR"), "Genre", "Describes the original work, such as landscape or portrait."},
    {Id("IKEY"), "Keywords", "Provides a list of keywords that refer to the file or subject."},
    {Id("ILGT"), "Lightness",
     "Describes the changes in lightness settings on the digitizer required to produce the file."},
    {Id("IMED"), "Medium", "Describes the original subject of the file."},
    {Id("INAM"), "Name", "Stores the title of the subject of the file."},
    {Id("IPLT"), "Palette Setting",
     "Specifies the number of colors requested when digitizing an image."},
    {Id("IPRD"), "Product",
     "Specifies the name of the title the file was originally intended for."},
    {Id("ISBJ"), "Subject", "Describes the contents of the file."},
    {Id("ISFT"), "Software",
     "Identifies the name of the software package used to create the file."},
    {Id("ISHP"), "Sharpness",
     "Identifies the changes in sharpness for the digitizer required to produce the file."},
    {Id("ISRC"), "Source",
     "Identifies the name of the person or organization who supplied the original subject."},
    {Id("ISRF"), "Source Form", "Identifies the original form of the material that was digitized."},
    {Id("ITCH"), "Technician", "Identifies the technician who digitized the subject file."},
};

constexpr uint32_t kListId = Id("LIST");
constexpr uint32_t kInfoType = Id("INFO");
constexpr uint32_t kDispId = Id("DISP");

void AppendLe32(std::vector<uint8_t>& out, uint32_t v) {
  uint8_t b[4];
  vant::riff::PutLe32(b, v);
  out.insert(out.end(), b, b + 4);
}

// id, size, bytes and the pad byte of an odd size.
void AppendChunk(std::vector<uint8_t>& out, uint32_t id, const uint8_t* data, uint32_t size) {
  AppendLe32(out, id);
  AppendLe32(out, size);
  out.insert(out.end(), data, data + size);
  if (size & 1u) out.push_back(0);
}

bool IsEmptyData(const std::vector<uint8_t>* v) {
  return v == nullptr || v->empty() || (*v)[0] == 0;
}

// Reads `size` bytes at `offset`, never past the file's real end.
bool ReadAt(RiffFile& file, uint64_t offset, uint64_t size, std::vector<uint8_t>& out) {
  if (offset > file.Size() || size > file.Size() - offset) return false;
  out.resize(size);
  if (file.Seek(static_cast<int64_t>(offset)) < 0) return false;
  return size == 0 || file.Read(out.data(), size) == static_cast<int64_t>(size);
}

bool WriteAll(RiffFile& file, const std::vector<uint8_t>& bytes) {
  return bytes.empty() ||
         file.Write(bytes.data(), bytes.size()) == static_cast<int64_t>(bytes.size());
}

}  // namespace

const TInfoId& RiffInfoId(int index) { return kInfoIds[index]; }

std::string RiffInfoText(const TInfoChunk& info, const TInfoData& entry) {
  if (entry.changed) return *entry.changed;
  if (entry.offset == 0 || entry.offset >= info.raw.size()) return {};
  const size_t limit = std::min<size_t>(info.raw.size(), size_t{entry.offset} + entry.length);
  const auto* begin = info.raw.data() + entry.offset;
  const auto* end = std::find(begin, info.raw.data() + limit, uint8_t{0});
  return std::string(begin, end);
}

const std::vector<uint8_t>* RiffDispData(const TDisp& entry) {
  if (entry.changed) return &*entry.changed;
  if (entry.flags == kRiffChanged) return nullptr;
  return entry.read ? &*entry.read : nullptr;
}

// ---------------------------------------------------------------------------------------------
// INFO

int RiffInitINFO(std::unique_ptr<TInfoChunk>& info) {
  info = std::make_unique<TInfoChunk>();
  for (int i = 0; i < kInfoIdCount; ++i) {
    info->entries.push_back(RiffCreateINFO(kRiffRead, static_cast<uint16_t>(i), 0, std::nullopt));
  }
  return kRiffOk;
}

void RiffParseINFO(TInfoChunk* info) {
  if (info == nullptr) return;
  for (auto& e : info->entries) {
    e->offset = 0;
    e->length = 0;
  }
  const auto& raw = info->raw;
  // Sub-chunks are trusted only as far as the body reaches: a header that does not fit ends the
  // walk, and a text is cut at the body's end.
  uint64_t off = 0;
  while (off + 8 <= raw.size()) {
    const uint32_t id = vant::riff::Le32(raw.data() + off);
    const uint32_t size = vant::riff::Le32(raw.data() + off + 4);
    const int index = RiffFindaINFO(id);
    if (index >= 0) {
      if (TInfoData* e = RiffFindPIINFO(info, id)) {
        e->offset = static_cast<uint32_t>(off + 8);
        e->length = static_cast<uint32_t>(std::min<uint64_t>(size, raw.size() - (off + 8)));
      }
    }
    off += uint64_t{size} + (size & 1u) + 8;
  }
}

int RiffReadINFOBody(std::span<const uint8_t> body, TInfoChunk* info) {
  if (info == nullptr) return kRiffNilArgument;
  info->raw.assign(body.begin(), body.end());
  RiffParseINFO(info);
  return kRiffOk;
}

int RiffReadINFO(RiffFile& file, const ChunkInfo& ck, TInfoChunk* info) {
  if (info == nullptr) return kRiffNilArgument;
  if (ck.size < 5) return kRiffOk;  // a list without entries
  std::vector<uint8_t> body;
  if (!ReadAt(file, ck.dataOffset + 4, ck.size - 4u, body)) return kRiffIOError;
  return RiffReadINFOBody(body, info);
}

std::vector<uint8_t> RiffBuildINFO(const TInfoChunk& info) {
  std::vector<uint8_t> subs;
  for (int index = 0; index < kInfoIdCount; ++index) {
    for (const auto& e : info.entries) {
      if (e->index != index) continue;
      const std::string text = RiffInfoText(info, *e);
      if (text.empty()) continue;
      AppendChunk(subs, kInfoIds[index].id, reinterpret_cast<const uint8_t*>(text.c_str()),
                  static_cast<uint32_t>(text.size() + 1));
      break;
    }
  }
  if (subs.empty()) return {};
  std::vector<uint8_t> out;
  AppendLe32(out, kListId);
  AppendLe32(out, static_cast<uint32_t>(subs.size() + 4));
  AppendLe32(out, kInfoType);
  out.insert(out.end(), subs.begin(), subs.end());
  return out;
}

int RiffWriteINFO(RiffFile& file, const TInfoChunk* info) {
  if (info == nullptr) return kRiffNilArgument;
  return WriteAll(file, RiffBuildINFO(*info)) ? kRiffOk : kRiffIOError;
}

int RiffCopyInfo(TInfoChunk* target, const TInfoChunk* source) {
  if (target == nullptr || source == nullptr) return kRiffNilArgument;
  for (const auto& e : source->entries) {
    const std::string text = RiffInfoText(*source, *e);
    if (text.empty() || e->index >= kInfoIdCount) continue;
    if (TInfoData* t = RiffFindPIINFO(target, kInfoIds[e->index].id)) {
      t->changed = text;
      t->flags = kRiffChanged;
    }
  }
  return kRiffOk;
}

std::unique_ptr<TInfoData> RiffCreateINFO(uint16_t flags, uint16_t index, uint32_t offset,
                                          std::optional<std::string> text) {
  auto e = std::make_unique<TInfoData>();
  e->flags = flags;
  e->index = index;
  e->offset = offset;
  e->changed = std::move(text);
  return e;
}

void RiffInsertINFO(TInfoChunk* info, std::unique_ptr<TInfoData> entry) {
  if (info != nullptr && entry) info->entries.push_back(std::move(entry));
}

TInfoData* RiffFindPIINFO(TInfoChunk* info, uint32_t id) {
  if (info == nullptr) return nullptr;
  for (auto& e : info->entries) {
    if (e->index < kInfoIdCount && kInfoIds[e->index].id == id) return e.get();
  }
  return nullptr;
}

int RiffFindaINFO(uint32_t id) {
  for (int i = 0; i < kInfoIdCount; ++i) {
    if (kInfoIds[i].id == id) return i;
  }
  return -1;
}

void RiffModifyINFO(TInfoChunk* info, TInfoData* entry, uint16_t flags, uint32_t offset,
                    std::optional<std::string> text) {
  if (entry == nullptr) return;
  if ((flags & 3u) == 0) {
    entry->offset = offset;  // how the parser records a text read
    if (info != nullptr && offset != 0 && offset < info->raw.size()) {
      entry->length = static_cast<uint32_t>(info->raw.size() - offset);
    }
  }
  if (entry->changed) {
    if (!text) {
      if (flags & 2u) {
        entry->changed.reset();
        entry->flags = flags;
      }
      return;
    }
    if (*text == *entry->changed) return;
    if (text->empty()) {
      entry->changed.reset();
      entry->flags = kRiffDropped;
      return;
    }
    entry->changed = std::move(text);
    entry->flags = flags;
    return;
  }
  if (!text) return;
  const bool hasRead = info != nullptr && !info->raw.empty() && entry->offset != 0;
  if (!hasRead) {
    if (text->empty()) return;
    entry->changed = std::move(text);
    entry->flags = flags;
    return;
  }
  TInfoData readOnly = *entry;
  readOnly.changed.reset();
  const std::string readText = RiffInfoText(*info, readOnly);
  if (*text == readText) return;
  if (text->empty() && readText.empty()) return;
  // An empty text over a non-empty read text is kept: it removes the entry on the next write.
  entry->changed = std::move(text);
  entry->flags = flags;
}

int RiffFreeINFO(std::unique_ptr<TInfoChunk>& info) {
  if (!info) return kRiffNilArgument;
  info.reset();
  return kRiffOk;
}

// ---------------------------------------------------------------------------------------------
// DISP

int RiffInitDISP(std::unique_ptr<TDispList>& list) {
  list = std::make_unique<TDispList>();
  return kRiffOk;
}

int RiffReadDISPBody(std::span<const uint8_t> body, TDispList* list) {
  if (list == nullptr) return kRiffNilArgument;
  if (body.size() < 5) return kRiffOk;
  std::vector<uint8_t> data(body.begin() + 4, body.end());
  RiffInsertDISP(list, RiffCreateDISP(kRiffRead, vant::riff::Le32(body.data()), std::move(data),
                                      std::nullopt));
  return kRiffOk;
}

int RiffReadDISP(RiffFile& file, const ChunkInfo& ck, TDispList* list) {
  if (list == nullptr) return kRiffNilArgument;
  if (ck.size < 5) return kRiffOk;
  std::vector<uint8_t> body;
  if (!ReadAt(file, ck.dataOffset, ck.size, body)) return kRiffIOError;
  return RiffReadDISPBody(body, list);
}

std::vector<uint8_t> RiffBuildDISP(const TDispList& list) {
  std::vector<uint8_t> out;
  for (const auto& e : list.entries) {
    if (e->format != kDispText && e->format != kDispDIB) continue;
    const std::vector<uint8_t>* data = RiffDispData(*e);
    if (IsEmptyData(data)) continue;
    std::vector<uint8_t> body;
    AppendLe32(body, e->format);
    if (e->format == kDispText) {
      // The text up to its first zero, then the zero.
      const auto end = std::find(data->begin(), data->end(), uint8_t{0});
      body.insert(body.end(), data->begin(), end);
      body.push_back(0);
    } else {
      // The whole packed bitmap as held: a header that understates its size must not cut it.
      body.insert(body.end(), data->begin(), data->end());
    }
    AppendChunk(out, kDispId, body.data(), static_cast<uint32_t>(body.size()));
  }
  return out;
}

int RiffWriteDISP(RiffFile& file, const TDispList* list) {
  if (list == nullptr) return kRiffNilArgument;
  return WriteAll(file, RiffBuildDISP(*list)) ? kRiffOk : kRiffIOError;
}

int RiffCopyDISP(TDispList* target, const TDispList* source) {
  if (target == nullptr || source == nullptr) return kRiffNilArgument;
  target->entries.clear();
  for (const auto& e : source->entries) {
    const std::vector<uint8_t>* data = RiffDispData(*e);
    if (e->format == 0 || data == nullptr || data->empty()) continue;
    RiffInsertDISP(target, RiffCreateDISP(kRiffRead, e->format, std::nullopt, *data));
  }
  return kRiffOk;
}

std::unique_ptr<TDisp> RiffCreateDISP(uint16_t flags, uint32_t format,
                                      std::optional<std::vector<uint8_t>> read,
                                      std::optional<std::vector<uint8_t>> changed) {
  auto e = std::make_unique<TDisp>();
  e->flags = flags;
  e->format = format;
  e->read = std::move(read);
  e->changed = std::move(changed);
  return e;
}

void RiffInsertDISP(TDispList* list, std::unique_ptr<TDisp> entry) {
  if (list != nullptr && entry) list->entries.push_back(std::move(entry));
}

void RiffModifyDISP(TDispList*, TDisp* entry, uint16_t flags,
                    std::optional<std::vector<uint8_t>> data) {
  if (entry == nullptr) return;
  const std::vector<uint8_t>* given = data ? &*data : nullptr;
  if (entry->changed) {
    if (given != nullptr && *given == *entry->changed) return;
    entry->changed.reset();
    if (!IsEmptyData(given)) {
      entry->changed = std::move(data);
      entry->flags = flags;
    } else {
      entry->flags = kRiffDropped;
    }
    return;
  }
  entry->flags = flags;
  if (given == nullptr) return;
  const std::vector<uint8_t>* read = entry->read ? &*entry->read : nullptr;
  const bool sameAsRead = read != nullptr && read->size() >= given->size() &&
                          std::equal(given->begin(), given->end(), read->begin());
  if (sameAsRead || (IsEmptyData(given) && IsEmptyData(read))) return;
  entry->changed = std::move(data);
}

void RiffFreeDISP(std::unique_ptr<TDispList>& list, bool freeList) {
  if (!list) return;
  list->entries.clear();
  if (freeList) list.reset();
}

// ---------------------------------------------------------------------------------------------
// Plain chunk copies

namespace {
bool CopyChunkBody(RiffFile& source, RiffFile& target, uint32_t id, const uint8_t* prefix,
                   size_t prefixBytes, uint64_t size) {
  std::vector<uint8_t> body(prefix, prefix + prefixBytes);
  std::vector<uint8_t> rest;
  const uint64_t at = source.Tell();
  if (!ReadAt(source, at, size, rest)) return false;
  body.insert(body.end(), rest.begin(), rest.end());
  std::vector<uint8_t> out;
  AppendChunk(out, id, body.data(), static_cast<uint32_t>(body.size()));
  return WriteAll(target, out);
}
}  // namespace

bool RiffCopyChunk(RiffFile& source, RiffFile& target, const ChunkInfo& ck) {
  return CopyChunkBody(source, target, ck.id, nullptr, 0, ck.size);
}

bool RiffCopyList(RiffFile& source, RiffFile& target, const ChunkInfo& ck) {
  if (ck.size < 4) return false;
  uint8_t type[4];
  vant::riff::PutLe32(type, ck.type);
  return CopyChunkBody(source, target, ck.id, type, 4, ck.size - 4u);
}
