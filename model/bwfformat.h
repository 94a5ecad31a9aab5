#pragma once
// The layout of a VANT file in one place: chunk ids, the `bext` and `cmcd` field tables (offset,
// width, CSV column), the rules of fixed-width field text, the cue, play-list and format records,
// the mark labels and the NOTn attachment ids. Readers, the scan, the save and the CSV exchange all
// take their numbers from here.
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "riffio.h"

namespace bwf {

using vant::riff::FourCC;
using vant::riff::MakeFourCC;

// Chunk ids, lower case as written and upper case as also read.
inline constexpr FourCC kWave = MakeFourCC('W', 'A', 'V', 'E');
inline constexpr FourCC kFmt = MakeFourCC('f', 'm', 't', ' ');
inline constexpr FourCC kBext = MakeFourCC('b', 'e', 'x', 't');
inline constexpr FourCC kBextUpper = MakeFourCC('B', 'E', 'X', 'T');
inline constexpr FourCC kCmcd = MakeFourCC('c', 'm', 'c', 'd');
inline constexpr FourCC kCmcdUpper = MakeFourCC('C', 'M', 'C', 'D');
using vant::riff::kData;
using vant::riff::kDataUpper;
inline constexpr FourCC kCue = MakeFourCC('c', 'u', 'e', ' ');
inline constexpr FourCC kCueUpper = MakeFourCC('C', 'U', 'E', ' ');
inline constexpr FourCC kPlst = MakeFourCC('p', 'l', 's', 't');
inline constexpr FourCC kPlstUpper = MakeFourCC('P', 'L', 'S', 'T');
inline constexpr FourCC kLabl = MakeFourCC('l', 'a', 'b', 'l');
inline constexpr FourCC kLablUpper = MakeFourCC('L', 'A', 'B', 'L');
inline constexpr FourCC kFile = MakeFourCC('f', 'i', 'l', 'e');
inline constexpr FourCC kFileUpper = MakeFourCC('F', 'I', 'L', 'E');
inline constexpr FourCC kAdtl = MakeFourCC('a', 'd', 't', 'l');

// Sizes and limits.
inline constexpr uint32_t kBextSize = 858;
inline constexpr uint32_t kCmcdSize = 2048;
inline constexpr uint32_t kFmtReadSize = 18;
inline constexpr uint32_t kCuePointSize = 24;
inline constexpr uint32_t kPlayItemSize = 12;
inline constexpr int kMaxMarkers = 100;
inline constexpr int kLabelTextSize = 16;
inline constexpr int kAttachNameMax = 259;
// Entries per scan table (top-level chunks, list sub-chunks, scan markers): far beyond any real
// file, and a bound on what a hostile one can make the scan allocate.
inline constexpr uint32_t kScanTableLimit = 65536;
inline constexpr int32_t kMaxFormSize = 268435456;
inline constexpr uint32_t kSampleRate = 48000;
inline constexpr uint16_t kFormatPcm = 1;

// A form size is valid when, read as signed 32 bits, it lies in 0..268,435,456.
constexpr bool IsValidFormSize(uint32_t size) {
  const auto s = static_cast<int32_t>(size);
  return s >= 0 && s <= kMaxFormSize;
}

// Mark labels.
inline constexpr std::string_view kStartLabel = "BC$START";
inline constexpr std::string_view kStandbyLabel = "BC$STANDBY";
inline constexpr std::string_view kEndLabel = "BC$END";
inline constexpr std::string_view kStopLabel = "BC$STOP";

// Attachment n (1..9): cue id bytes 'N','O','T','0'+n and label "BC$NOTEn".
constexpr FourCC NoteId(int n) { return MakeFourCC('N', 'O', 'T', static_cast<char>('0' + n)); }
std::string NoteLabel(int n);

// Attachment kinds by name.
enum AttachKind : uint8_t { kAttachNone = 0, kAttachPdf = 1, kAttachCsv = 2, kAttachOther = 3 };
AttachKind GetAttachKind(std::string_view name);

// One fixed-width text field of a record.
struct FieldLayout {
  const char* name;
  uint16_t offset;
  uint16_t width;
  int csvColumn;  // -1: not in the CSV record
};

// The 36 text fields of `cmcd`, in record (and CSV column) order.
enum class CmcdField : int {
  ProductionCode,
  ItemNumber,
  CommonCode,
  StationCode,
  SpareCode,
  CreationDate,
  CreationTime,
  ClientName,
  ClientInfo1,
  ClientInfo2,
  AdCompany,
  AdCompanyInfo1,
  AdCompanyInfo2,
  Production,
  ProductionInfo1,
  ProductionInfo2,
  RecordingStudio,
  RecordingStudioInfo1,
  RecordingStudioInfo2,
  CMTitle,
  CMLength,
  CMSpare,
  Date1,
  Time1,
  Date2,
  Time2,
  Limitation,
  LimitationTime,
  Comment1,
  Comment2,
  RSComment,
  RSComment2,
  ADComment,
  ADComment2,
  StationComment,
  StationComment2,
};
inline constexpr int kCmcdFieldCount = 36;
inline constexpr int kCmcdVersionColumn = 0;
inline constexpr int kCmcdEndColumn = 37;
inline constexpr std::string_view kCmcdEndMarker = "// End of Data";
inline constexpr uint16_t kCmcdReservedOffset = 1968;
inline constexpr uint16_t kCmcdReservedSize = 80;
const std::array<FieldLayout, kCmcdFieldCount>& CmcdFields();
inline const FieldLayout& Layout(CmcdField f) { return CmcdFields()[static_cast<int>(f)]; }

// The fields of `bext` as EBU names them; the system edits Description only.
enum class BextField : int {
  Description,
  Originator,
  OriginatorReference,
  OriginationDate,
  OriginationTime,
  TimeReferenceLow,
  TimeReferenceHigh,
  Version,
  UMID,
  Reserved,
  CodingHistory,
};
inline constexpr int kBextFieldCount = 11;
const std::array<FieldLayout, kBextFieldCount>& BextFields();
inline const FieldLayout& Layout(BextField f) { return BextFields()[static_cast<int>(f)]; }

// Field text: the bytes up to the first zero or the field's end.
std::string ReadFieldText(std::span<const uint8_t> field);
// The first min(length, width) bytes of `text` (cut even inside a double-byte character), then
// zeros up to the width.
void StoreFieldText(std::span<uint8_t> field, std::string_view text);

using vant::riff::Le16;
using vant::riff::Le32;
using vant::riff::PutLe16;
using vant::riff::PutLe32;

}  // namespace bwf

// The 2,048-byte commercial-data record.
struct TCmcdInfo {
  std::array<uint8_t, bwf::kCmcdSize> bytes{};

  uint16_t GetCmcdVersion() const { return bwf::Le16(bytes.data()); }
  void SetCmcdVersion(uint16_t v) { bwf::PutLe16(bytes.data(), v); }
  std::string Get(bwf::CmcdField f) const;
  void Set(bwf::CmcdField f, std::string_view text);
  std::span<uint8_t> Field(bwf::CmcdField f);
  void Clear() { bytes.fill(0); }
};

// The 858-byte broadcast-extension block.
struct TBextInfo {
  std::array<uint8_t, bwf::kBextSize> bytes{};

  std::string GetDescription() const;
  void SetDescription(std::string_view text);
  std::span<const uint8_t> Field(bwf::BextField f) const;
  void Clear() { bytes.fill(0); }
};

// The wave format record (the first 18 bytes of `fmt `).
struct TWaveFormatRecord {
  uint16_t wFormatTag = 0;
  uint16_t nChannels = 0;
  uint32_t nSamplesPerSec = 0;
  uint32_t nAvgBytesPerSec = 0;
  uint16_t nBlockAlign = 0;
  uint16_t wBitsPerSample = 0;
  uint16_t cbSize = 0;

  static TWaveFormatRecord FromBytes(const uint8_t (&b)[bwf::kFmtReadSize]);
};

// The 12-byte RIFF header as read.
struct TRiffHeader {
  bwf::FourCC ckid = 0;
  uint32_t cksize = 0;
  bwf::FourCC fccType = 0;
};

// One cue point, 24 bytes in the file.
struct TBWFCuePoint {
  uint32_t dwName = 0;
  uint32_t dwPosition = 0;
  bwf::FourCC fccChunk = 0;
  uint32_t dwChunkStart = 0;
  uint32_t dwBlockStart = 0;
  uint32_t dwSampleOffset = 0;

  static TBWFCuePoint FromBytes(const uint8_t* b);
  void ToBytes(uint8_t* b) const;
};

// One play-list entry, 12 bytes in the file.
struct TBWFPlayItem {
  uint32_t dwName = 0;
  uint32_t dwLength = 0;
  uint32_t dwLoops = 0;

  static TBWFPlayItem FromBytes(const uint8_t* b);
  void ToBytes(uint8_t* b) const;
};
