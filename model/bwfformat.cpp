#include "bwfformat.h"

#include <algorithm>
#include <cstring>

namespace bwf {

const std::array<FieldLayout, kCmcdFieldCount>& CmcdFields() {
  static const std::array<FieldLayout, kCmcdFieldCount> fields = {{
      {"ProductionCode", 2, 16, 1},
      {"ItemNumber", 18, 16, 2},
      {"CommonCode", 34, 24, 3},
      {"StationCode", 58, 16, 4},
      {"SpareCode", 74, 16, 5},
      {"CreationDate", 90, 10, 6},
      {"CreationTime", 100, 8, 7},
      {"ClientName", 108, 64, 8},
      {"ClientInfo1", 172, 32, 9},
      {"ClientInfo2", 204, 64, 10},
      {"AdCompany", 268, 64, 11},
      {"AdCompanyInfo1", 332, 32, 12},
      {"AdCompanyInfo2", 364, 64, 13},
      {"Production", 428, 64, 14},
      {"ProductionInfo1", 492, 32, 15},
      {"ProductionInfo2", 524, 64, 16},
      {"RecordingStudio", 588, 64, 17},
      {"RecordingStudioInfo1", 652, 32, 18},
      {"RecordingStudioInfo2", 684, 64, 19},
      {"CMTitle", 748, 128, 20},
      {"CMLength", 876, 6, 21},
      {"CMSpare", 882, 8, 22},
      {"Date1", 890, 10, 23},
      {"Time1", 900, 8, 24},
      {"Date2", 908, 10, 25},
      {"Time2", 918, 8, 26},
      {"Limitation", 926, 10, 27},
      {"LimitationTime", 936, 8, 28},
      {"Comment1", 944, 128, 29},
      {"Comment2", 1072, 128, 30},
      {"RSComment", 1200, 128, 31},
      {"RSComment2", 1328, 128, 32},
      {"ADComment", 1456, 128, 33},
      {"ADComment2", 1584, 128, 34},
      {"StationComment", 1712, 128, 35},
      {"StationComment2", 1840, 128, 36},
  }};
  return fields;
}

const std::array<FieldLayout, kBextFieldCount>& BextFields() {
  static const std::array<FieldLayout, kBextFieldCount> fields = {{
      {"Description", 0, 256, -1},
      {"Originator", 256, 32, -1},
      {"OriginatorReference", 288, 32, -1},
      {"OriginationDate", 320, 10, -1},
      {"OriginationTime", 330, 8, -1},
      {"TimeReferenceLow", 338, 4, -1},
      {"TimeReferenceHigh", 342, 4, -1},
      {"Version", 346, 2, -1},
      {"UMID", 348, 64, -1},
      {"Reserved", 412, 190, -1},
      {"CodingHistory", 602, 256, -1},
  }};
  return fields;
}

std::string NoteLabel(int n) { return "BC$NOTE" + std::to_string(n); }

AttachKind GetAttachKind(std::string_view name) {
  std::string upper(name);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  if (upper.find(".PDF") != std::string::npos) return kAttachPdf;
  if (upper.find(".CSV") != std::string::npos) return kAttachCsv;
  return kAttachOther;
}

std::string ReadFieldText(std::span<const uint8_t> field) {
  const auto zero = std::find(field.begin(), field.end(), uint8_t{0});
  return std::string(field.begin(), zero);
}

void StoreFieldText(std::span<uint8_t> field, std::string_view text) {
  const size_t n = std::min(text.size(), field.size());
  std::memcpy(field.data(), text.data(), n);
  std::fill(field.begin() + static_cast<std::ptrdiff_t>(n), field.end(), uint8_t{0});
}

}  // namespace bwf

std::span<uint8_t> TCmcdInfo::Field(bwf::CmcdField f) {
  const auto& l = bwf::Layout(f);
  return std::span<uint8_t>(bytes).subspan(l.offset, l.width);
}

std::string TCmcdInfo::Get(bwf::CmcdField f) const {
  const auto& l = bwf::Layout(f);
  return bwf::ReadFieldText(std::span<const uint8_t>(bytes).subspan(l.offset, l.width));
}

void TCmcdInfo::Set(bwf::CmcdField f, std::string_view text) {
  bwf::StoreFieldText(Field(f), text);
}

std::span<const uint8_t> TBextInfo::Field(bwf::BextField f) const {
  const auto& l = bwf::Layout(f);
  return std::span<const uint8_t>(bytes).subspan(l.offset, l.width);
}

std::string TBextInfo::GetDescription() const {
  return bwf::ReadFieldText(Field(bwf::BextField::Description));
}

void TBextInfo::SetDescription(std::string_view text) {
  bwf::StoreFieldText(std::span<uint8_t>(bytes).first(256), text);
}

TWaveFormatRecord TWaveFormatRecord::FromBytes(const uint8_t (&b)[bwf::kFmtReadSize]) {
  TWaveFormatRecord r;
  r.wFormatTag = bwf::Le16(b);
  r.nChannels = bwf::Le16(b + 2);
  r.nSamplesPerSec = bwf::Le32(b + 4);
  r.nAvgBytesPerSec = bwf::Le32(b + 8);
  r.nBlockAlign = bwf::Le16(b + 12);
  r.wBitsPerSample = bwf::Le16(b + 14);
  r.cbSize = bwf::Le16(b + 16);
  return r;
}

TBWFCuePoint TBWFCuePoint::FromBytes(const uint8_t* b) {
  return {bwf::Le32(b),      bwf::Le32(b + 4),  bwf::Le32(b + 8),
          bwf::Le32(b + 12), bwf::Le32(b + 16), bwf::Le32(b + 20)};
}

void TBWFCuePoint::ToBytes(uint8_t* b) const {
  const uint32_t v[6] = {dwName, dwPosition, fccChunk, dwChunkStart, dwBlockStart, dwSampleOffset};
  for (int i = 0; i < 6; ++i) bwf::PutLe32(b + 4 * i, v[i]);
}

TBWFPlayItem TBWFPlayItem::FromBytes(const uint8_t* b) {
  return {bwf::Le32(b), bwf::Le32(b + 4), bwf::Le32(b + 8)};
}

void TBWFPlayItem::ToBytes(uint8_t* b) const {
  bwf::PutLe32(b, dwName);
  bwf::PutLe32(b + 4, dwLength);
  bwf::PutLe32(b + 8, dwLoops);
}
