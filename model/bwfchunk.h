#pragma once
// TBWFChunck: the model of one VANT or WAV file. Reading (header, format, `bext`, `cmcd`, data
// position, cue points with their play-list entries, labels and attachments), the mark lookup and
// the derived values live in bwfchunk.cpp; the chunk directory scan that the save rests on lives
// in bwfscan.cpp.
//
// Every read is bounded by its chunk and the file: a damaged size can make a chunk look missing or
// short, never make the model read or write past a chunk, a table or the file.
#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bwfformat.h"
#include "riffio.h"

// What the model knows of one attached document.
struct TBWFAttachInfo {
  uint32_t id = 0;  // the cue id of its marker when it belongs to a cue point
  uint32_t mediaType = 0;
  uint64_t dataOffset = 0;  // file offset of the `file` sub-chunk's data
  uint32_t size = 0;        // the sub-chunk's data size
  std::string name;         // the name line up to its CR (CP932, at most 259 bytes)
  uint8_t kind = bwf::kAttachNone;
};

// One cue point with everything joined to it; also the record of the scan markers.
struct TBWFMarker {
  uint64_t labelPos = 0;     // file offset of this marker's `labl` data (scan only)
  uint32_t scanDeleted = 0;  // set on scan markers by the attachment deletion
  TBWFCuePoint cue;
  TBWFPlayItem play;
  uint32_t labelCueId = 0;
  std::array<char, bwf::kLabelTextSize> labelText{};  // zero-terminated when shorter than 16
  TBWFAttachInfo attach;
  uint32_t deleted = 0;  // set by DeleteAttachment

  std::string_view Label() const;
  void SetLabel(std::string_view text);
};

// One entry of the chunk directories.
struct TChunkEntry {
  // kSourceRun: once the directory is full, a stretch of the source's top-level chunks that a
  // save carries as they are, as one entry: `dataOffset` is its first header, `size` its length.
  enum Origin : uint32_t { kSource = 0, kSourceList = 1, kNew = 2, kSourceRun = 3 };
  bwf::FourCC id = 0;
  uint32_t size = 0;
  std::array<uint8_t, 264> data{};  // list sub-chunks: first four data bytes (the cue id)
  uint32_t mediaType = 0;
  uint64_t dataOffset = 0;  // in the source; 0 for new entries
  uint32_t kind = 0;        // GetChunkKind
  uint32_t origin = kSource;
  std::filesystem::path path;  // a new attachment's file
};

// Presence flags of the scanned chunk kinds.
struct TChunkPresence {
  bool bext = false;
  bool cmcd = false;
  bool cue = false;
  bool plst = false;
  bool labelOrFile = false;
  bool data = false;
};

// File offset and size of the sample data.
struct TDataPos {
  uint64_t offset = 0;
  uint32_t size = 0;
};

class TBWFChunck {
 public:
  enum AccessMode : int { kKeepOpen = 0, kReopenPerRead = 1 };
  enum State : int { kNotOpen = 0, kOpen = 1, kClosed = 2 };
  enum ReadBit : uint32_t { kFormatRead = 1, kBextRead = 2, kCmcdRead = 4 };

  TBWFChunck(std::filesystem::path path, int accessMode);
  ~TBWFChunck();
  // Builds the model and reads it in the order both programs follow (ReadModelInOrder). In
  // reopen-per-read mode the file is opened once for all of it and closed at the end.
  static std::unique_ptr<TBWFChunck> OpenAndRead(std::filesystem::path path, int accessMode);
  TBWFChunck(const TBWFChunck&) = delete;
  TBWFChunck& operator=(const TBWFChunck&) = delete;

  int GetState() const { return state_; }
  int GetAccessMode() const { return accessMode_; }
  const std::filesystem::path& GetPath() const { return path_; }

  // Brackets around every file access. BeginRead is false when the file could not be opened.
  bool BeginRead();
  void EndRead();
  // Closes the model's file (before a save replaces it) and opens it again by its path.
  void CloseFile();
  int ReopenFile();
  vant::riff::RiffFile* File() { return file_.get(); }

  // -1 refuses the file (broken RIFF size, not PCM), 0 goes on; messages go to the notifier.
  int CheckFormat();

  // Readers: Read fills the model's own field through the Get of the same pair.
  int ReadRiffHeader();
  int GetRiffHeader(TRiffHeader& header);  // 1, or -1 for an invalid form size
  int ReadFmtChunk();
  int GetFmtChunk(TWaveFormatRecord& format);  // 1 found, 0 not
  int ReadBextChunk();
  int GetBextChunk(TBextInfo& bext);  // 1 found, 0 not
  int ReadCmcdChunk();
  int GetCmcdChunk(TCmcdInfo& cmcd);  // 1 found, 0 not
  int ReadDataChunk();
  int GetDataChunk(TDataPos& data);  // 1 found, 0 not
  int ReadCueChunks();
  // 1 when the cue, play-list, label and attachment passes ran through the form, 0 when there
  // is no readable RIFF form "WAVE".
  int GetCueChunks(std::array<TBWFMarker, bwf::kMaxMarkers>& markers);
  // Makes marker CuePointCount for an attachment without cue point; -1 when the table is full.
  int AddNoteMarker(std::array<TBWFMarker, bwf::kMaxMarkers>& markers, uint32_t id);

  // Queries.
  int FindMarker(std::string_view label) const;
  int64_t GetStartPos() const { return MarkPos(bwf::kStartLabel); }
  int64_t GetStandbyPos() const { return MarkPos(bwf::kStandbyLabel); }
  int64_t GetEndPos() const { return MarkPos(bwf::kEndLabel); }
  int64_t GetStopPos() const { return MarkPos(bwf::kStopLabel); }
  // The length between "BC$STANDBY" and "BC$END" in seconds; none when a mark is missing.
  void CalcCMLength();
  std::optional<double> GetCMLength() const { return cmLength_; }
  // Milliseconds of a sample position, rounded up; 0 when the sample rate is 0.
  uint64_t SamplesToMSec(uint32_t position) const;
  int GetFileKind() const;
  static int GetAttachKind(std::string_view name) { return bwf::GetAttachKind(name); }
  int GetPdfList(std::vector<std::string>& list) const;
  int GetCsvList(std::vector<std::string>& list) const;
  // A fixed-width field's text: its bytes up to the first zero.
  static std::string GetFieldText(std::span<const uint8_t> field) {
    return bwf::ReadFieldText(field);
  }

  // Chunk directory scan.
  void ScanChunks(const std::filesystem::path& path);
  void ClearChunkTable();
  int FindChunkEntry(bwf::FourCC id) const;
  int FindScanMarker(uint32_t cueId, bool create);
  uint64_t GetCueChunkPos() const;
  uint64_t GetDataChunkPos() const;
  uint32_t GetDataChunkSize() const;
  static int GetChunkKind(bwf::FourCC id);
  void SetChunkPresent(int kind);

  // The model's data, read by the owner and the save.
  uint32_t CuePointCount = 0;  // cue points read, plus markers made for attachments
  uint32_t PlayCount = 0;
  uint32_t LabelCount = 0;
  uint32_t AttachCount = 0;
  uint32_t ReadBits = 0;
  int MarkerCount = 0;  // valid markers; the owner sets it to CuePointCount after reading
  std::array<TBWFMarker, bwf::kMaxMarkers> Markers{};
  TRiffHeader RiffHeader;
  TWaveFormatRecord WaveFormat;
  TBextInfo BextInfo;
  TCmcdInfo CmcdInfo;
  TDataPos DataPos;
  std::vector<std::string> DeleteList;  // decimal cue ids of attachments marked for deletion
  TBextInfo BextImage;                  // filled by the owner before a save
  TCmcdInfo CmcdImage;
  std::filesystem::path TempFolder;
  std::string FileName;  // the path's file-name part in CP932, at most 259 bytes

  // Scan tables.
  std::vector<TChunkEntry> ChunkTable;
  std::vector<TChunkEntry> ListTable;
  std::vector<TBWFMarker> ScanMarkers;
  TChunkPresence Present;
  // More chunks, sub-chunks or cue points than the tables hold: a save would lose some.
  bool ScanOverflow = false;

 private:
  TBWFChunck(std::filesystem::path path, int accessMode, bool held);
  int64_t MarkPos(std::string_view label) const;
  int AppendScanMarker(uint32_t cueId);
  int ReadFixedChunk(bwf::FourCC id, bwf::FourCC upper, std::span<uint8_t> dest, uint32_t bit);
  int GetList(uint8_t kind, std::vector<std::string>& list) const;
  bool OpenFile();

  std::filesystem::path path_;
  int state_ = kNotOpen;
  // While set, reopen-per-read mode keeps the file open across reads (OpenAndRead).
  bool held_ = false;
  int accessMode_ = kKeepOpen;
  std::unique_ptr<vant::riff::RiffFile> file_;
  std::optional<double> cmLength_;
};

// The reading order both programs follow after construction: header, format, `bext`, cue points
// (then the marker count is set to the cue-point count), `cmcd`, data position and length.
void ReadModelInOrder(TBWFChunck& model);
