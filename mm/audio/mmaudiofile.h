#pragma once
// The audio file component: the head of a playback chain that plays any file a registered
// reader accepts. It creates the reader and places it in front of its two decoder stages
// (reader -> ADPCM stage -> PCM stage -> this), so what leaves its Output is PCM. On the way
// it cuts the stream at the play length, applies the software volume, panning, fade-in and
// fade-out through a fade list, ends the stream with one short silence block, and loops on
// behalf of the device.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "mmcustomfile.h"
#include "mmfade.h"

class TMMADPCMConverter;
class TMMPCMConverter;

// Raised by a load; a handler that sets Handled lets the load end with a 4-byte buffer.
using TMMErrorEvent = std::function<void(vant::TObject* Sender, bool& Handled)>;

class TMMCustomAudioFile : public TMMBaseAudioFile {
 public:
  explicit TMMCustomAudioFile(vant::TComponent* owner);
  ~TMMCustomAudioFile() override;
  std::string ClassName() const override { return "TMMCustomAudioFile"; }

  virtual void SetFileType(TMMAudioFileType) {}
  virtual TMMAudioFileType GetFileType();
  virtual bool GetEmpty();
  virtual int32_t GetOptimalReadSize();
  virtual void InitNewFile();
  virtual void SetEnabled(bool value);
  // Milliseconds. While started this is a seek.
  virtual void SetPosition(int32_t ms);
  // While started, moves back to `ms` within the same play: no rise from silence there. What
  // follows is loaded again at the present volume and panning (the next reset goes on from it).
  void ContinueAt(int32_t ms);
  virtual int32_t GetPosition();
  virtual void SetFadeParams(int32_t fade_in, int32_t fade_out, int32_t position);
  virtual void InitFadeList();
  // Standalone use without a device (no Output): the component drives its own chain.
  virtual void OpenFile(int32_t buffer_size);
  virtual void StartFile();
  virtual void StopFile();
  virtual void ResetFile();
  virtual void CloseFile();
  // Fills the caller's buffer; answers the bytes delivered (0 when not opened and started).
  virtual int32_t ReadFileData(void* buffer, int32_t size, bool& MoreBuffers);
  virtual void AbortFileReading();
  virtual void FreeFile();
  // Fades out from the present position over `ms` and ends the stream there.
  virtual void FadeOut(int32_t ms);

  void SetFileName(const std::string& name) override;
  std::string GetFileName() override;
  std::string GetFilters() override;
  void LoadFromFile(const std::string& name) { SetFileName(name); }

  void Opened() override;
  void Closed() override;
  void Started() override;
  void Reseting() override;
  void Stopped() override;
  void BufferLoad(PMMWaveHdr lpWaveHdr, bool& MoreBuffers) override;

  bool GetEnabled() const { return enabled_; }
  // The loaded reader, or nullptr.
  TMMCustomFile* GetFile() const { return file_; }
  int32_t GetSampleRate();
  int32_t GetChannels();
  int32_t GetBitRate();

  // Compressed stream readers only (ftMpeg; ID3 tags also ftWMA).
  bool GetTrailingHeader();
  void SetTrailingHeader(bool value);
  bool ScanFile();
  bool ScanFileEx(bool fast);
  bool EncryptFile(const std::string& target);
  bool ReadID3Tag(TTAGInfo& info);
  void SetDecryptCallback(const TMMDecryptProc& decrypt, int32_t value);
  void SetDecryptMode(TMMDecryptMode mode) { decrypt_mode_ = mode; }

  // Milliseconds.
  int32_t GetFileLength() const { return file_length_; }
  int32_t GetPlayLength() const { return play_length_; }
  void SetPlayLength(int32_t ms);
  int32_t GetFadeInDuration() const { return fade_in_; }
  void SetFadeInDuration(int32_t ms);
  int32_t GetFadeOutDuration() const { return fade_out_; }
  void SetFadeOutDuration(int32_t ms);
  int32_t GetFadeOutPosition() const { return fade_out_position_; }
  // A negative position lets the fade-out follow the play length again.
  void SetFadeOutPosition(int32_t ms);

  // 0..32,768, 16,384 unity.
  int32_t GetVolume() const { return volume_; }
  void SetVolume(int32_t value);
  // -32,768 (left only) .. 32,768 (right only).
  int32_t GetPanning() const { return panning_; }
  void SetPanning(int32_t value);
  bool GetSoftwareVolume() const { return software_volume_; }
  void SetSoftwareVolume(bool value) { software_volume_ = value; }

  vant::TNotifyEvent OnChange;
  TMMErrorEvent OnError;

 protected:
  // The reader's OnChanged.
  void FileChanged(vant::TObject* sender);

 private:
  void Load(PMMWaveHdr lpWaveHdr, bool& MoreBuffers);
  // One pull from the stages up to the play length, with the end test and the wrap; answers
  // whether it wrapped.
  bool Pull(PMMWaveHdr lpWaveHdr, bool& MoreBuffers);
  void RestoreFadeOut();
  // Marks and counters a start or a reset begins with.
  void BeginRun();
  // The head of the chain down to this component, each told by `note`.
  template <class Note>
  void ForChain(Note note);
  int64_t TimeToBytes(int64_t ms) const;
  void MoveTo(int32_t ms, bool continuing);

  TMMCustomFile* file_ = nullptr;
  TMMADPCMConverter* adpcm_ = nullptr;
  TMMPCMConverter* pcm_ = nullptr;
  TMMFadeList fade_list_;
  TMMCriticalSection lock_;

  bool enabled_ = true;
  int32_t file_length_ = 0;
  int32_t play_length_ = 0;
  int32_t start_position_ = 0;
  int32_t fade_from_ = 0;    // where the present play rose from silence
  bool continuing_ = false;  // the next run goes on with the present play's fade
  int32_t fade_in_ = 0;
  int32_t fade_out_ = 0;
  int32_t fade_out_position_ = 0;
  bool auto_fade_out_ = true;
  int32_t saved_fade_out_position_ = 0;
  int32_t saved_fade_out_ = 0;
  int64_t bytes_to_play_ = 0;
  int64_t bytes_delivered_ = 0;
  int32_t volume_ = 16384;
  int32_t panning_ = 0;
  bool software_volume_ = true;

  bool file_opened_ = false;
  bool file_started_ = false;
  bool end_reached_ = false;
  bool silence_sent_ = false;
  bool fading_out_ = false;
  bool stop_at_fade_end_ = false;

  TMMDecryptProc decrypt_;
  int32_t decrypt_value_ = 0;
  TMMDecryptMode decrypt_mode_ = dmAll;
};

class TMMAudioFile : public TMMCustomAudioFile {
 public:
  explicit TMMAudioFile(vant::TComponent* owner);
  std::string ClassName() const override { return "TMMAudioFile"; }
};
