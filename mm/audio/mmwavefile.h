#pragma once
// The wave object as a chain component and as the registry's wave reader. Without an Input a
// wave file is a source that fills the chain's buffers from its wave (looping when the device
// asks); with an Input it records what flows through it into its wave's file. The memory wave
// is the same component over a wave held as a RIFF image in memory.
#include <cstdint>
#include <memory>
#include <string>

#include "mmcustomfile.h"
#include "mmobsrv.h"
#include "mmwave.h"

class TMMCustomWaveFile : public TMMCustomFile {
 public:
  explicit TMMCustomWaveFile(vant::TComponent* owner) : TMMCustomWaveFile(owner, false) {}
  ~TMMCustomWaveFile() override;
  std::string ClassName() const override { return "TMMCustomWaveFile"; }

  // The reader class's operations.
  static bool IsValidFile(const std::string& name, const TMMDecryptProc& decrypt = {},
                          int32_t decrypt_value = 0, TMMDecryptMode mode = dmAll);
  // Valid, the length of all data in milliseconds and the name without its folder.
  static bool GetFileInfoEx(const std::string& name, TMMAudioFileInfo& info, bool flag = false,
                            const TMMDecryptProc& decrypt = {}, int32_t decrypt_value = 0,
                            TMMDecryptMode mode = dmAll);
  static std::string GetFilter();
  static std::string GetExtensions() { return "*.wav"; }

  void SetPWaveFormat(const WAVEFORMATEX* format) override;
  void Opened() override;
  void Closed() override;
  void Started() override;
  void Stopped() override;
  void Reseting() override;
  void BufferReady(PMMWaveHdr lpWaveHdr) override;
  void BufferLoad(PMMWaveHdr lpWaveHdr, bool& MoreBuffers) override;

  int32_t GetOptimalReadSize() override;
  bool GetEmpty() override { return !wave_ || wave_->GetEmpty(); }
  int32_t GetPlayTime() override;
  std::string GetFileName() override { return wave_->GetFileName(); }
  void SetFileName(const std::string& name) override { wave_->SetFileName(name); }
  // In the wave's time unit.
  int64_t GetPosition() override { return wave_->GetPosition(); }
  void SetPosition(int64_t t) override { wave_->SetPosition(t); }
  int32_t GetPositionMs() override;
  void SetPositionMs(int32_t ms) override;

  TMMWave* GetWave() const { return wave_.get(); }
  // Copies the other wave into this one.
  void SetWave(const TMMWave* wave) { wave_->Assign(wave); }
  void LoadFromFile(const std::string& name) { SetFileName(name); }
  void SaveToFile(const std::string& name) { wave_->SaveToFile(name); }
  bool PlaySound(TMMPlayMode mode) { return wave_->PlaySound(mode); }
  void StopSound() { wave_->StopSound(); }
  bool GetOverwriteExisting() const { return overwrite_; }
  void SetOverwriteExisting(bool value) { overwrite_ = value; }

  vant::TNotifyEvent OnOpen;
  vant::TNotifyEvent OnClose;
  vant::TNotifyEvent OnLooping;

 protected:
  TMMCustomWaveFile(vant::TComponent* owner, bool memoryWave);

 private:
  // The wave changed: OnChange, its format down the chain, OnChanged.
  void DoChanged();
  void WriteBuffer(PMMWaveHdr lpWaveHdr);

  std::unique_ptr<TMMWave> wave_;
  vant::TMMObserver observer_;
  int64_t saved_position_ = 0;
  uint8_t silence_ = 128;
  bool open_ = false;
  bool started_ = false;
  bool overwrite_ = true;
};

// Publishes Input and Output: a source or a recorder.
class TMMWaveFile : public TMMCustomWaveFile {
 public:
  explicit TMMWaveFile(vant::TComponent* owner) : TMMCustomWaveFile(owner) {
    PublishLinks(true, true);
  }
  std::string ClassName() const override { return "TMMWaveFile"; }
};

class TMMCustomMemoryWave : public TMMCustomWaveFile {
 public:
  explicit TMMCustomMemoryWave(vant::TComponent* owner) : TMMCustomWaveFile(owner, true) {}
  std::string ClassName() const override { return "TMMCustomMemoryWave"; }
};

// Publishes Output only: a source.
class TMMMemoryWave : public TMMCustomMemoryWave {
 public:
  explicit TMMMemoryWave(vant::TComponent* owner) : TMMCustomMemoryWave(owner) {
    PublishLinks(false, true);
  }
  std::string ClassName() const override { return "TMMMemoryWave"; }
};

// Registers the system's audio file readers (the wave reader, priority 5); once at start-up.
void RegisterAudioFileReaders();
