#pragma once
// The pitch stage: plays its input faster or slower (-50 % to +50 %) by resampling it through
// a private read-ahead block. At pitch 0 it stays out of the way and the pull passes through.
#include <cstdint>
#include <vector>

#include "exceptions.h"
#include "mmdspcomponent.h"

VANT_DECLARE_EXCEPTION(EMMPitchError, vant::Exception);

class TMMPitch : public TMMDSPComponent {
 public:
  explicit TMMPitch(vant::TComponent* owner);
  ~TMMPitch() override;
  std::string ClassName() const override { return "TMMPitch"; }

  bool GetEnabled() const { return enabled_; }
  void SetEnabled(bool value);
  float GetPitch() const { return pitch_; }
  // Percent, held in -50..50.
  void SetPitch(float value);
  // The speed factor in 16.16 fixed point (65,536 unchanged).
  uint32_t GetStep() const { return step_; }

  // Only PCM formats the sample routines handle (any at design time).
  void SetPWaveFormat(const WAVEFORMATEX* format) override;

  void Open();
  void Close();
  void Reset();

  void Opened() override;
  void Closed() override;
  void Started() override;
  void Reseting() override;
  void BufferLoad(PMMWaveHdr lpWaveHdr, bool& MoreBuffers) override;

 private:
  void ReadFromInput(PMMWaveHdr lpWaveHdr, bool& MoreBuffers);
  int64_t Unread() const { return int64_t{hdr_.wh.dwBytesRecorded} - read_offset_; }

  bool enabled_ = true;
  bool open_ = false;
  float pitch_ = 0;
  uint32_t step_ = 65536;
  TMMWaveHdr hdr_{};
  std::vector<char> block_;
  int64_t read_offset_ = 0;
  uint32_t fraction_ = 0;
  bool more_ = true;
  bool end_of_input_ = false;
};
