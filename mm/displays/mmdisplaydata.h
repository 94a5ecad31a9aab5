#pragma once
// The data side every audio display offers the connector: the PCM format of what it will be
// given, one slice at a time, and a reset. Only the connector calls it.
#include <atomic>
#include <cstdint>

#include "mmwaveformat.h"
#include "ui_component.h"

class TMMDisplayData {
 public:
  virtual ~TMMDisplayData() = default;

  // Takes the PCM format of the slices to come; an invalid one raises the display's own
  // exception class with library message 62.
  virtual void SetPCMWaveFormat(const WAVEFORMATEX& format) = 0;
  // Computes and shows the display's value from exactly one slice (SliceBytes() bytes).
  virtual void RefreshPCMData(const void* slice) = 0;
  // Clears what the display shows.
  virtual void ResetData() = 0;

  // Bytes of one slice, kept current by the display whenever a value it depends on changes.
  // Read by the connector on whichever thread releases slices.
  int64_t SliceBytes() const { return slice_bytes_.load(std::memory_order_relaxed); }
  // How far the connector moves on after releasing a slice to a display that looks at
  // overlapping slices; 0 (the rule) moves on by the largest slice of the display's kind.
  virtual int64_t StepBytes() const { return 0; }

  // The component the display is, so that a connector learns when it is freed.
  virtual vant::TComponent* DisplayComponent() = 0;

 protected:
  void SetSliceBytes(int64_t bytes) { slice_bytes_.store(bytes, std::memory_order_relaxed); }

 private:
  std::atomic<int64_t> slice_bytes_{0};
};
