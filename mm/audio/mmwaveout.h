#pragma once
// TMMWaveOut: plays its chain's stream on a wave-out device of platform/audio. The ring of
// headers, the states and the completions are TMMRingWaveOut's; this class adds the device
// list, the counter that wraps, the mapped and hourglass properties and the thread priority.
#include <cstdint>
#include <string>

#include "mmringwaveout.h"
#include "waveout.h"

VANT_DECLARE_EXCEPTION(EMMWaveOutError, vant::Exception);

// While true, headers stay prepared for a whole run and a returned header is taken from the
// ring rather than from the completion.
extern bool FIX_BUFFERS;

class TMMWaveOut : public TMMRingWaveOut {
 public:
  explicit TMMWaveOut(vant::TComponent* owner);
  ~TMMWaveOut() override;
  std::string ClassName() const override { return "TMMWaveOut"; }

  // The upper 32 bits of GetPosition.
  int32_t GetPositionHigh() { return static_cast<int32_t>(GetPosition() >> 32); }
  // Error (inherited) fires OnError, then raises EMMWaveOutError.

  // Properties.
  void SetNumBuffers(int32_t value) override;
  void SetDeviceID(int32_t value) override;
  void SetCallBackMode(int value) override;
  uint32_t GetDriverVersion() const { return driver_version_; }
  bool GetShowHourGlass() const { return show_hourglass_; }
  void SetShowHourGlass(bool value) { show_hourglass_ = value; }
  bool GetMapped() const { return mapped_; }
  void SetMapped(bool value) { mapped_ = value; }
  TThreadPriority GetPriority() const { return priority_; }
  void SetPriority(TThreadPriority value);

  vant::audio::HWAVEOUT GetHandle() const { return static_cast<vant::audio::HWAVEOUT>(handle_); }
  // Whether `device` would play `format`, asked without opening it.
  bool QueryDevice(int32_t device, const WAVEFORMATEX* format);

 protected:
  bool HasDevices() const override { return num_devs_ > 0; }
  bool DeviceQuery() override;
  uint32_t DeviceOpen() override;
  uint32_t DeviceClose() override;
  uint32_t DevicePrepare(PMMWaveHdr hdr) override;
  uint32_t DeviceUnprepare(PMMWaveHdr hdr) override;
  uint32_t DeviceWrite(PMMWaveHdr hdr) override;
  uint32_t DevicePause() override;
  uint32_t DeviceRestart() override;
  uint32_t DeviceReset() override;
  uint32_t DevicePosition(uint32_t* samples) override;
  std::string Prefix(Op op) const override;
  std::string FailureText(Op op, uint32_t result) const override;
  std::exception_ptr OwnError(const std::string& text) const override;
  bool IsOwnError(const std::exception_ptr& e) const override { return Holds<EMMWaveOutError>(e); }

  bool FixedBuffers() const override { return FIX_BUFFERS; }
  bool ShowsHourGlass() const override { return show_hourglass_; }
  TThreadPriority ThreadPriority() const override { return priority_; }
  void CounterRead(uint32_t position) override;
  int64_t CounterLost() const override;
  void CounterRestarts() override;
  void AfterReset() override;

 private:
  uint32_t num_devs_ = 0;
  uint32_t driver_version_ = 0;
  uint32_t previous_position_ = 0;
  uint32_t wrap_count_ = 0;
  uint32_t wrap_period_ = 0;
  bool show_hourglass_ = true;
  bool mapped_ = false;
  TThreadPriority priority_ = tpHigher;
};

// Whether a device's sample counter went from `previous` to `now` by wrapping (it fell by
// 65,535 or more); then `*period` is the counter's period guessed from `previous`.
bool WaveOutCounterWrapped(uint32_t previous, uint32_t now, uint32_t* period);
// Whether `device` exists and opens for 8-bit mono 22,050 Hz PCM.
bool WaveOutReady(int32_t device);
// The product name of `device`; empty when there is none.
std::string WaveOutGetDeviceName(int32_t device);
