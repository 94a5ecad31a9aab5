#pragma once
// TMMWavePlayer: plays one wave file with the surface of a player. It owns its chain (wave file
// -> ADPCM decoder -> compression-manager stage -> wave-out device) and stands behind the device
// itself, so every played buffer passes through it to its Output. Positions are in the time
// format of the device and the wave.
#include <cstdint>
#include <memory>
#include <string>

#include "mmacmsup.h"
#include "mmdspcomponent.h"
#include "mmwavefile.h"
#include "mmwaveout.h"

class TMMWavePlayer : public TMMDSPComponent {
 public:
  explicit TMMWavePlayer(vant::TComponent* owner);
  ~TMMWavePlayer() override;
  std::string ClassName() const override { return "TMMWavePlayer"; }

  TMMWave* GetWave() const { return file_->GetWave(); }
  void SetWave(const TMMWave* wave) { file_->SetWave(wave); }
  void SetFileName(const std::string& name);
  std::string GetFileName() { return file_->GetFileName(); }
  void LoadFromFile(const std::string& name) { SetFileName(name); }
  // Asks for a file with the wave open dialog; true when one was chosen (and set).
  bool SelectFile();

  // The device's.
  void SetBufferSize(int32_t size) override { device_->SetBufferSize(size); }
  int32_t GetBufferSize() override { return device_->GetBufferSize(); }
  void SetNumBuffers(int32_t n) { device_->SetNumBuffers(n); }
  int32_t GetNumBuffers() { return device_->GetNumBuffers(); }
  void SetDeviceID(int32_t id) { device_->SetDeviceID(id); }
  int32_t GetDeviceID() { return device_->GetDeviceID(); }
  void SetProductName(const std::string&) {}
  std::string GetProductName() { return device_->GetProductName(); }
  void SetCallBackMode(int mode) { device_->SetCallBackMode(mode); }
  int GetCallBackMode() { return device_->GetCallBackMode(); }
  void SetLooping(bool v) { device_->SetLooping(v); }
  bool GetLooping() const { return device_->GetLooping(); }
  void SetLoopCount(uint16_t n) { device_->SetLoopCount(n); }
  uint16_t GetLoopCount() const { return device_->GetLoopCount(); }
  void SetTimeFormat(TMMTimeFormats f);
  TMMTimeFormats GetTimeFormat() const { return device_->GetTimeFormat(); }
  TMMWaveOutStates GetState() const { return device_->GetState(); }

  bool GetResetPosition() const { return reset_position_; }
  void SetResetPosition(bool v) { reset_position_ = v; }
  bool GetAutoConvert() const { return auto_convert_; }
  // Refused with message 60 while the device is open.
  void SetAutoConvert(bool v);

  void Play();
  void Stop();
  void Pause();
  void Restart();
  int32_t GetPosition();
  // A paused run moves and stays paused.
  void SetPosition(int32_t position);

  TMMWaveFile* WaveFile() const { return file_.get(); }
  TMMWaveOut* WaveOut() const { return device_.get(); }

  vant::TNotifyEvent OnStart, OnStop, OnPause, OnRestart, OnChange;
  TMMBufferEvent OnData;

 private:
  void UpdateDecoder();
  void DeviceStopped();
  void DeviceClosed();

  std::unique_ptr<TMMWaveFile> file_;
  std::unique_ptr<TMMADPCMConverter> adpcm_;
  std::unique_ptr<TMMPCMConverter> pcm_;
  std::unique_ptr<TMMWaveOut> device_;
  int32_t start_offset_ = 0;
  int32_t stop_position_ = -1;
  bool seeking_ = false;
  bool reset_position_ = true;
  bool auto_convert_ = true;
};
