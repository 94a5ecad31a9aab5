#pragma once
// TMMRawAudioFile: a chain component over a headerless audio file (PCM samples, or µ-law bytes
// that stand for 16-bit samples). Without an Input it is a source that the device pulls from,
// looping when the device asks; with an Input it writes what flows through it into the file.
// The format is not in the file: it comes from the properties or from the Input.
#include <cstdint>
#include <fstream>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "replacingfile.h"

#include "exceptions.h"
#include "mmdspcomponent.h"

VANT_DECLARE_EXCEPTION(EMMRawAudioFileError, vant::Exception);

enum TMMRawEncoding { reNone, reuLaw };

class TMMRawAudioFile : public TMMDSPComponent {
 public:
  explicit TMMRawAudioFile(vant::TComponent* owner);
  ~TMMRawAudioFile() override;
  std::string ClassName() const override { return "TMMRawAudioFile"; }

  void SetPWaveFormat(const WAVEFORMATEX* format) override;
  void Opened() override;
  void Closed() override;
  void Started() override;
  void Stopped() override;
  void BufferLoad(PMMWaveHdr lpWaveHdr, bool& MoreBuffers) override;
  void BufferReady(PMMWaveHdr lpWaveHdr) override;

  // Each setter is refused while the file is open and rebuilds the format.
  TMMRawEncoding GetEncoding() const { return encoding_; }
  void SetEncoding(TMMRawEncoding value);
  int GetBitLength() const { return bits_; }
  void SetBitLength(int value);  // 8 or 16; µ-law always stands for 16
  int GetChannels() const { return channels_; }
  void SetChannels(int value);  // 1 or 2
  int GetSampleRate() const { return rate_; }
  void SetSampleRate(int value);  // 8,000 .. 88,200
  int64_t GetOffset() const { return offset_; }
  void SetOffset(int64_t value);
  bool GetEnabled() const { return enabled_; }
  void SetEnabled(bool value) { enabled_ = value; }
  bool GetOverwriteExisting() const { return overwrite_; }
  void SetOverwriteExisting(bool value) { overwrite_ = value; }

  const std::string& GetFileName() const { return file_name_; }
  void SetFileName(const std::string& name);
  void LoadFromFile(const std::string& name) { SetFileName(name); }
  // The stream stays the caller's and must outlive its use here.
  void LoadFromStream(std::iostream& stream);
  void FreeFile();

  // Milliseconds.
  int64_t GetPlayLength() const;
  bool GetEmpty() const { return GetPlayLength() < 1; }
  int64_t GetPosition() const;
  void SetPosition(int64_t ms);

  vant::TNotifyEvent OnChanged;
  vant::TNotifyEvent OnOpen;
  vant::TNotifyEvent OnClose;
  vant::TNotifyEvent OnLooping;

 private:
  void CheckClosed() const;
  void BuildFormat();
  // Conversions between bytes of the file's data and milliseconds.
  int64_t FileBytesToTime(int64_t bytes) const;
  int64_t TimeToFileBytes(int64_t ms) const;
  void SeekToPosition();
  void WriteBuffer(PMMWaveHdr lpWaveHdr);
  void Fire(const vant::TNotifyEvent& event);

  TMMRawEncoding encoding_ = reNone;
  int bits_ = 16;
  int channels_ = 2;
  int rate_ = 44100;
  int64_t offset_ = 0;
  std::string file_name_;
  int64_t file_size_ = 0;
  int64_t position_ = 0;        // bytes of file data after the offset
  int64_t start_position_ = 0;  // milliseconds
  uint8_t silence_ = 0;
  bool open_ = false;
  bool started_ = false;
  bool overwrite_ = true;
  bool enabled_ = true;
  std::iostream* given_ = nullptr;
  std::unique_ptr<std::fstream> own_;
  // A recording that replaces the file goes to a new file beside it, which takes the file's
  // place when the recording closes without a write error.
  std::unique_ptr<vant::ReplacingFile> staged_;
  std::iostream* stream_ = nullptr;
  std::vector<uint8_t> scratch_;
};
