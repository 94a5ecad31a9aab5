#pragma once
// TMMAudioPlayer: plays a file by name. It owns its whole chain (audio file -> pitch stage ->
// wave-out device, or audio file -> stream-buffer device when UseDSound is set) and stands itself
// behind the active device, so every played buffer passes through it to its Output.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "mmaudiofile.h"
#include "mmdswaveout.h"
#include "mmpitch.h"
#include "mmwaveout.h"

VANT_DECLARE_EXCEPTION(EMMAudioPlayerError, vant::Exception);

class TMMAudioPlayer : public TMMBaseAudioFile {
 public:
  explicit TMMAudioPlayer(vant::TComponent* owner);
  ~TMMAudioPlayer() override;
  std::string ClassName() const override { return "TMMAudioPlayer"; }

  // The audio file's.
  void SetFileName(const std::string& name) override;
  std::string GetFileName() override;
  std::string GetFilters() override;
  void LoadFromFile(const std::string& name);
  void FreeFile();
  bool GetEmpty();
  int32_t GetSampleRate();
  int32_t GetChannels();
  int32_t GetBitRate();
  TMMAudioFileType GetFileType();
  void SetFileType(TMMAudioFileType type);
  bool ReadID3Tag(TTAGInfo& info);
  bool ScanFile();
  bool ScanFileEx(bool fast);
  bool EncryptFile(const std::string& target);
  void SetDecryptCallback(const TMMDecryptProc& decrypt, int32_t value);
  void SetDecryptMode(TMMDecryptMode mode);
  // The audio file's current reader, or nullptr.
  TMMCustomFile* GetInputFile();
  // Milliseconds.
  int32_t GetFileLength();
  int32_t GetPlayLength();
  void SetPlayLength(int32_t ms);
  int32_t GetFadeInDuration();
  void SetFadeInDuration(int32_t ms);
  int32_t GetFadeOutDuration();
  void SetFadeOutDuration(int32_t ms);
  int32_t GetFadeOutPosition();
  void SetFadeOutPosition(int32_t ms);
  // Fades out from here over `ms` and ends the stream.
  void StopFade(int32_t ms);

  // The active device's.
  void SetBufferSize(int32_t size) override;
  int32_t GetBufferSize() override;
  void SetNumBuffers(int32_t value);
  int32_t GetNumBuffers();
  void SetDeviceID(int32_t value);
  int32_t GetDeviceID();
  void SetProductName(const std::string&) {}
  std::string GetProductName();
  void SetCallBackMode(int value);
  int GetCallBackMode();
  // TMMWaveOutStates bits: 1 closed, 2 open, 4 playing, 8 paused.
  TMMWaveOutStates GetState();

  // Asks for a file with the open dialog; true when one was chosen (and set).
  bool SelectFile();

  void Play();
  void Stop();
  void Pause();
  void Restart();
  // Milliseconds from the start of the file.
  int32_t GetPosition();
  // Clamped into 0 .. the play length; a paused stream moves and stays paused.
  void SetPosition(int32_t ms);

  // Wave-out: 0..32,768 (16,384 unity), applied with the panning by the audio file. Stream
  // buffer: 0..16,384, turned into the device's attenuation. Both heard at once.
  int32_t GetVolume() const { return volume_; }
  void SetVolume(int32_t value);
  // -32,768 (left) .. 32,768 (right).
  int32_t GetPanning() const { return panning_; }
  void SetPanning(int32_t value);
  // Percent, -50..50: the pitch stage's, or the stream buffer's playback rate.
  float GetPitch() const { return pitch_; }
  void SetPitch(float value);
  bool GetResetPosition() const { return reset_position_; }
  void SetResetPosition(bool value) { reset_position_ = value; }
  bool GetUseDSound() const { return use_dsound_; }
  // Refused (EMMAudioPlayerError) while the active device is open.
  void SetUseDSound(bool value);

  TMMAudioFile* AudioFile() const { return audio_.get(); }
  TMMPitch* PitchStage() const { return pitch_stage_.get(); }
  TMMWaveOut* WaveOut() const { return wave_.get(); }
  TMMDSWaveOut* DSWaveOut() const { return ds_.get(); }
  TMMCustomWaveOutComponent* ActiveDevice() const { return active_; }

  vant::TNotifyEvent OnStart, OnStop, OnPause, OnRestart, OnChange;
  TMMBufferEvent OnData;

 private:
  template <class Device>
  void BindDevice(Device& device);
  // Makes this component `device`'s Output (it publishes no Input of its own).
  void AttachTo(TMMDSPComponent* device);
  // Volume and panning to the audio file; what the device holds is loaded again.
  void LevelsChanged();
  // Drops what the device holds and loads again from `ms`; without `ms` from where the listener
  // is, within the same play.
  void LoadAgainFrom(std::optional<int32_t> ms);
  void DeviceStopped();
  void DeviceClosed();
  void FileChanged();

  std::unique_ptr<TMMAudioFile> audio_;
  std::unique_ptr<TMMPitch> pitch_stage_;
  std::unique_ptr<TMMWaveOut> wave_;
  std::unique_ptr<TMMDSWaveOut> ds_;
  TMMCustomWaveOutComponent* active_ = nullptr;

  float pitch_ = 0;
  int32_t volume_ = 16384;
  int32_t panning_ = 0;
  int32_t start_offset_ = 0;
  int32_t stop_position_ = -1;
  bool seeking_ = false;
  bool reset_position_ = true;
  bool use_dsound_ = false;
};
