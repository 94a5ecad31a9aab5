#pragma once
// TMMWave: one wave held in a file (read through a TWAVEIOCB) or as a whole RIFF WAVE image in
// memory. It converts between the library's time units, keeps the part that plays (start and
// end sample less the regions of a cut list), reads that part in order, writes new data, and
// loads, saves, converts and imports whole files. Observers and OnChange hear of every change.
//
// Whole-file writes never touch their target until the new file is complete: they build it
// beside the target under a temporary name and rename it over the target in one step.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "exceptions.h"
#include "mmcutlist.h"
#include "mmfade.h"
#include "mmobj.h"
#include "mmobsrv.h"
#include "mmwaveio.h"

VANT_DECLARE_EXCEPTION(EMMWaveError, vant::Exception);

// How often (by the process clock) a wave that reads on asks its open file whether it was
// changed or replaced: the question costs a system call as dear as a read, and a player asks at
// every buffer anyway (a buffer lasts longer than this).
inline constexpr int64_t kWaveFileCheckMillis = 20;

using TMMWaveProgress =
    std::function<void(vant::TObject* Sender, int64_t CurByte, int64_t NumBytes, bool& Cancel)>;

// The file operations of the whole-file writes, behind one interface so that tests can make a
// write, the final close, the rename or the space check fail and see that the target survives.
class TMMWaveFileLayer {
 public:
  virtual ~TMMWaveFileLayer() = default;
  // Bytes written (all of them on success).
  virtual int64_t WriteData(TWAVEIOCB* block, const void* data, int64_t bytes);
  // Writes the sizes and trailing chunks and closes: kWioOk or a wio result code.
  virtual int CloseWave(TWAVEIOCB* block);
  // Replaces `to` by `from` in one step that survives a power cut (wioFileReplace).
  virtual bool Rename(const std::string& from, const std::string& to);
  virtual bool DiskFree(const std::string& path, int64_t needed);
};
// The layer the whole-file writes use: the real one unless a test installed another (not owned);
// nullptr restores the real one.
TMMWaveFileLayer& GetWaveFileLayer();
void SetWaveFileLayer(TMMWaveFileLayer* layer);

enum TMMPlayMode { pmSync, pmAsync, pmLoop };

class TMMWave : public TMMObject {
 public:
  // A memory wave holds its data as a RIFF image (the memory-wave component makes one).
  explicit TMMWave(bool memoryWave = false);
  ~TMMWave() override;
  std::string ClassName() const override { return "TMMWave"; }

  // Hooks between file samples and play samples; every region and seek computation goes
  // through them.
  virtual int64_t ReadInternal(void* buffer, int64_t bytes);
  virtual WAVEFORMATEX* GetPWaveFormat() const;
  virtual void SetPosition(int64_t t);
  virtual int64_t SamplesToBytes(int64_t samples) const;
  virtual int64_t BytesToSamples(int64_t bytes) const;
  virtual int64_t RealSamplesToSamples(int64_t samples) const { return samples; }
  virtual int64_t SamplesToRealSamples(int64_t samples) const { return samples; }
  virtual int64_t SamplesToTimeFormat(int64_t samples) const;
  virtual int64_t TimeFormatToSamples(int64_t t) const;
  virtual void SetCutList(TMMCutList* list);
  virtual void SetFileName(const std::string& name);
  // The stored "Data" of a memory wave.
  virtual void ReadData(std::istream& stream) { LoadFromStream(stream); }
  virtual void WriteData(std::ostream& stream) { SaveToStream(stream); }
  // Fills the play fade list for the coming reads; `reset` after a seek. Nothing here.
  virtual void InitPlayFadeList(bool reset);
  virtual void LoadFromStream(std::istream& stream);
  virtual void SaveToStream(std::ostream& stream);
  virtual void OpenFile();
  virtual void CloseFile();
  virtual void ResetFile() {}

  void Assign(const vant::TPersistent* source) override;

  // Identity and loading.
  bool IsMemWave() const { return image_ != nullptr; }
  void LoadFromFile(const std::string& name) { SetFileName(name); }
  const std::string& GetFileName() const { return file_name_; }
  void SetPWaveFormat(const WAVEFORMATEX* format);
  // Takes the block (nothing when it is the one already held).
  void SetPWaveIOCB(PWAVEIOCB block);
  TWAVEIOCB* GetPWaveIOCB() const { return block_.get(); }
  // The first data byte inside the memory image.
  const uint8_t* GetPWaveData() const;
  bool GetEmpty() const { return GetDataSize() == 0; }
  int64_t GetDataOffset() const { return block_ ? block_->dwDataOffset : 0; }
  void FreeWave();
  bool GetFileMustExist() const { return file_must_exist_; }
  void SetFileMustExist(bool v) { file_must_exist_ = v; }
  int64_t GetIOBufferSize() const { return io_buffer_size_; }
  void SetIOBufSize(int64_t n);
  TMMTimeFormats GetTimeFormat() const { return time_format_; }
  void SetTimeFormat(TMMTimeFormats f);
  TMMCutList* GetCutList() const { return cut_list_; }
  void ClearPlayFadeList() {
    if (play_fade_list_) play_fade_list_->Clear();
  }
  bool GetIgnoreFades() const { return ignore_fades_; }
  void SetIgnoreFades(bool b);
  void AddObserver(vant::TMMObserver* o) { observable_.AddObserver(o); }
  void RemoveObserver(vant::TMMObserver* o) { observable_.RemoveObserver(o); }

  // Read-only values (0, mMono, "Unknown" or 11,025 without a format).
  int GetBitLength() const;
  TMMMode GetMode() const;
  int GetFormatTag() const;
  std::string GetFormatString() const;
  int GetSampleRate() const;
  int64_t GetFileSize() const;
  int64_t GetDataSize() const;  // in the time unit

  // Playing range and position, in the time unit (-1 without a block).
  void SetStartPos(int64_t t);
  void SetEndPos(int64_t t);
  int64_t GetStartPos() const;
  int64_t GetEndPos() const;
  int64_t GetLengthSamples() const;
  int64_t GetLengthBytes() const { return SamplesToBytes(GetLengthSamples()); }
  int64_t GetLength() const { return SamplesToTimeFormat(GetLengthSamples()); }
  int64_t GetPosition() const;
  int64_t GetBytesLeft() const { return bytes_left_; }
  bool IsOpened() const { return opened_; }

  // Plays the whole wave through the simple sound call (pmSync waits, pmAsync returns at once,
  // pmLoop repeats until stopped); a memory wave plays from its image. False for an empty wave or
  // one the simple call cannot play (only PCM).
  bool PlaySound(TMMPlayMode mode);
  void StopSound();

  int64_t ReadDataBytes(void* buffer, int64_t bytes);
  int64_t ReadDataSamples(void* buffer, int64_t samples);
  int64_t WriteDataBytes(const void* data, int64_t bytes);
  int64_t WriteDataSamples(const void* data, int64_t samples);

  // Whole files.
  void CreateFile(const std::string& name, const WAVEFORMATEX* format);
  void CreateFileC(const std::string& name, const WAVEFORMATEX* format) {
    CreateFile(name, format);
  }
  void SaveToFile(const std::string& name);
  void ConvertFile(const std::string& name, const WAVEFORMATEX* format);
  void ImportFromRaw(const std::string& name, int bits, int channels, int rate);
  void GetInfoChunk(const std::string& id, std::string& text) const;
  void SetInfoChunk(const std::string& id, const std::string& text);
  // The bitmap only switches the DIB entry on: its pixels are never stored.
  void SetDispChunk(const std::string& text, const void* bitmap);

  TMMWaveProgress OnProgress;

 protected:
  void Changed() override;
  // The play fade list (nil unless a derived wave fills it in InitPlayFadeList); its positions
  // are bytes of the playing part.
  std::unique_ptr<TMMFadeList> play_fade_list_;
  void InitRegionList();

 private:
  struct Region {
    int64_t startSample, startByte, lengthSamples, lengthBytes;
  };
  struct FileStamp {
    int64_t size = -1;
    int64_t mtime = 0;
    bool operator==(const FileStamp&) const = default;
  };
  static FileStamp StampOf(const std::string& name);

  void ClearWave();
  // SetPosition in samples of the playing part.
  void SeekToSample(int64_t sample);
  // The cut list's regions as (start sample, length), in order.
  std::vector<std::pair<int64_t, int64_t>> CutRegions() const;
  // Scales read data by the play fade list, when one applies.
  void ApplyPlayFades(uint8_t* data, int64_t bytes);
  void TakeBlock(PWAVEIOCB block);
  [[noreturn]] void Fail(int message) const;
  void ApplyIOBufferSize(int message);
  // A wave whose file was changed or replaced on disk takes the new file before reading on.
  // Without `byPath` the open file is asked, at most once per kWaveFileCheckMillis; the name is
  // looked up only when that file changed or lost its name.
  void ReloadIfReplaced(bool byPath);
  bool IsOwnFile(const std::string& full) const;
  // The copy loop of the whole-file writes: reads chunks with `read`, transforms them with
  // `convert` (may be empty), and writes them into a new file that replaces `target`.
  using ChunkReader = std::function<int64_t(uint8_t* buffer, int64_t bytes)>;
  using ChunkConverter = std::function<int64_t(const uint8_t* in, int64_t bytes, uint8_t*& out)>;
  // SaveToFile and ConvertFile: the playing part, in `format`, into a new file `name`.
  void SavePlayingPart(const std::string& name, const WAVEFORMATEX* format, int failMessage,
                       int abortMessage);
  void CopyToFile(const std::string& target, TWAVEIOCB* block, int64_t chunk, int64_t total,
                  const ChunkReader& read, const ChunkConverter& convert, int failMessage,
                  int abortMessage);

  std::unique_ptr<std::vector<uint8_t>> image_;
  bool sound_started_ = false;
  PWAVEIOCB block_;
  std::string file_name_;
  FileStamp stamp_;
  int64_t stamp_asked_ms_ = 0;  // when the open file was last asked (process clock)
  bool file_must_exist_ = true;
  int64_t io_buffer_size_ = 32768;
  TMMTimeFormats time_format_ = tfSample;
  int64_t start_sample_ = 0;
  int64_t end_sample_ = 0;
  int64_t position_ = 0;
  int64_t bytes_left_ = 0;
  int64_t total_play_bytes_ = 0;
  TMMCutList* cut_list_ = nullptr;
  std::vector<Region> regions_;
  size_t region_ = 0;
  int64_t region_bytes_ = 0;
  bool opened_ = false;
  bool assigning_ = false;
  bool changed_while_assigning_ = false;
  bool end_block_ = false;  // the last read gave the silence block that ends the data
  bool ignore_fades_ = false;
  vant::TMMObservable observable_;
};
