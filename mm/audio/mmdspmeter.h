#pragma once
// The DSP meter: the share of time the playback devices spend filling and finishing buffers,
// measured by the devices around each buffer and averaged every 100 ms on the shared timer.
// The first meter created is the process-wide one that the free functions feed.
#include <cstdint>
#include <mutex>

#include "mmobj.h"
#include "mmtimer.h"

class TMMDSPMeter : public TMMNonVisualComponent {
 public:
  explicit TMMDSPMeter(vant::TComponent* owner);
  ~TMMDSPMeter() override;
  std::string ClassName() const override { return "TMMDSPMeter"; }

  // Percent of the time spent in buffer processing; 0 while no device plays.
  int32_t GetValue();

  // Fed through the free functions below.
  void Init();
  void Done();
  void Start();
  void Stop();

 private:
  void Period();

  std::mutex lock_;
  vant::PMMTimeEvent event_ = nullptr;
  int32_t users_ = 0;
  int64_t total_ms_ = 0;
  int64_t start_ms_ = 0;
  int32_t nesting_ = 0;
  float smoothed_ = 0;
  int32_t shown_ = 0;
};

// The process-wide meter, or nullptr.
TMMDSPMeter* GetDSPMeter();
// A device started or stopped.
void InitDSPMeter();
void DoneDSPMeter();
// Around every buffer load and every completed buffer of a device.
void StartDSPMeter();
void StopDSPMeter();
