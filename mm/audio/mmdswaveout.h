#pragma once
// TMMDSWaveOut: the second playback device. Towards its chain it is a TMMRingWaveOut like
// TMMWaveOut, but it plays through the stream-buffer layer (mmdswavelayer.h), with a volume in
// hundredths of a decibel, a pan and a playback rate of its own.
#include <cstdint>
#include <string>
#include <vector>

#include "mmdswavelayer.h"
#include "mmringwaveout.h"

VANT_DECLARE_EXCEPTION(EMMDSWaveOutError, vant::Exception);

enum TMMDSWaveOutState : uint8_t { dssClose = 1, dssOpen = 2, dssPlay = 4, dssPause = 8 };
using TMMDSWaveOutStates = uint8_t;
static_assert(+dssClose == +wosClose && +dssOpen == +wosOpen && +dssPlay == +wosPlay &&
              +dssPause == +wosPause);

// Priority of the completion thread in cmThread.
extern TThreadPriority DSWAVEOUT_PRIORITY;

class TMMDSWaveOut : public TMMRingWaveOut {
 public:
  explicit TMMDSWaveOut(vant::TComponent* owner);
  ~TMMDSWaveOut() override;
  std::string ClassName() const override { return "TMMDSWaveOut"; }

  // Error (inherited) fires OnError, then raises EMMDSWaveOutError.

  // Properties.
  void SetNumBuffers(int32_t value) override;
  // An index into the driver list; one outside it is kept as -2.
  void SetDeviceID(int32_t value) override;
  void SetCallBackMode(int value) override;
  // Hundredths of a decibel, -10,000..0.
  void SetVolume(int32_t value);
  int32_t GetVolume();
  // -10,000 (left) .. 10,000 (right).
  void SetPan(int32_t value);
  int32_t GetPan();
  // Samples per second, at most 100,000; 0 plays at the format's own rate.
  void SetRate(int32_t value);
  int32_t GetRate();

  const std::vector<vant::audio::StreamDriver>& Drivers() const { return drivers_; }
  HDSWAVEOUT GetHandle() const { return static_cast<HDSWAVEOUT>(handle_); }

 protected:
  bool HasDevices() const override { return !drivers_.empty(); }
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
  bool IsOwnError(const std::exception_ptr& e) const override {
    return Holds<EMMDSWaveOutError>(e);
  }

  // Reported only once heard: the header itself is what plays now.
  PMMWaveHdr NowPlaying(PMMWaveHdr, PMMWaveHdr) const override { return nullptr; }
  TThreadPriority ThreadPriority() const override { return DSWAVEOUT_PRIORITY; }

 private:
  // Raises `prefix` + library message `message` unless `result` is success.
  void CheckStream(const char* prefix, uint32_t result, int message);
  void ApplyStreamSettings();

  std::vector<vant::audio::StreamDriver> drivers_;
  int32_t volume_ = 0;
  int32_t pan_ = 0;
  int32_t rate_ = 0;
};
