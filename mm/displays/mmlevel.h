#pragma once
// TMMLevel: a segmented level bar. It takes slices of the sound being heard from a connector,
// reduces each to its peak magnitude, maps that to lit segments (see TMMLevelCore) and draws the
// segments in three colour zones into its DIB canvas over a background of unlit segments that
// is drawn once. The peak mark is held and lowered by the shared 25 ms timer.
#include <cstdint>
#include <functional>
#include <memory>

#include "exceptions.h"
#include "mmdibcv.h"
#include "mmdisplaydata.h"
#include "mmlevelcore.h"
#include "mmpeaktimer.h"

VANT_DECLARE_EXCEPTION(EMMLevelError, vant::Exception);

// Segments drawn on each side of the value in dirSymetric.
inline int SYNCBARS = 2;

class TMMCustomLevel;
using TMMLevelDrawBar = std::function<void(vant::TObject* Sender, TMMDIBCanvas& Canvas,
                                           const vant::TRect& Rect, int Peak, int Value)>;

class TMMCustomLevel : public TMMDIBGraphicControl, public TMMDisplayData {
 public:
  explicit TMMCustomLevel(vant::TComponent* owner);
  ~TMMCustomLevel() override;
  std::string ClassName() const override { return "TMMCustomLevel"; }

  // ---- the display data interface ----
  void SetPCMWaveFormat(const WAVEFORMATEX& format) override;
  void RefreshPCMData(const void* slice) override;
  void ResetData() override;
  vant::TComponent* DisplayComponent() override { return this; }
  // PCM with the bar's bits and channels at 11,025 Hz.
  WAVEFORMATEX GetPCMWaveFormat() const;

  // ---- properties ----
  // Enabled (the control's): false clears the bar and suspends the peak timer.
  TMMLevelKind GetKind() const { return kind_; }
  void SetKind(TMMLevelKind value);
  int GetSpotSpace() const { return spot_space_; }
  void SetSpotSpace(int value);
  int GetSpotWidth() const { return spot_width_; }
  void SetSpotWidth(int value);
  vant::TColor GetBarColor(int zone) const { return bar_colors_[Zone(zone)]; }
  void SetBarColor(int zone, vant::TColor value);
  vant::TColor GetInactiveColor(int zone) const { return inactive_colors_[Zone(zone)]; }
  void SetInactiveColor(int zone, vant::TColor value);
  bool GetInactiveDoted() const { return inactive_doted_; }
  void SetInactiveDoted(bool value);
  bool GetActiveDoted() const { return active_doted_; }
  void SetActiveDoted(bool value);
  int GetPoint1() const { return point1_; }
  void SetPoint1(int value);
  int GetPoint2() const { return point2_; }
  void SetPoint2(int value);
  TMMLevelDirection GetDirection() const { return core_.Direction; }
  void SetDirection(TMMLevelDirection value);
  TMMBits GetBitLength() const { return core_.GetBits(); }
  void SetBitLength(TMMBits value);
  TMMChannel GetChannel() const { return core_.Channel; }
  void SetChannel(TMMChannel value);
  TMMMode GetMode() const { return core_.GetMode(); }
  void SetMode(TMMMode value);
  int32_t GetGain() const { return core_.Gain; }
  // -8 .. 32; other values are ignored.
  void SetGain(int32_t value);
  int32_t GetSamples() const { return core_.GetSamples(); }
  void SetSamples(int32_t value);
  int32_t GetSensitivy() const { return core_.Sensitivity; }
  void SetSensitivy(int32_t value);
  bool GetLogAmp() const { return core_.LogAmp; }
  void SetLogAmp(bool value);
  int GetNumPeaks() const { return core_.NumPeaks; }
  void SetNumPeaks(int value);
  int GetPeakDelay() const { return core_.PeakDelay; }
  void SetPeakDelay(int value);
  int GetPeakSpeed() const { return core_.PeakSpeed; }
  void SetPeakSpeed(int value);
  TMMDecayMode GetDecayMode() const { return core_.GetDecayMode(); }
  void SetDecayMode(TMMDecayMode value);
  int GetDecay() const { return core_.GetDecay(); }
  void SetDecay(int value);
  int32_t GetDCOffsetL() const { return core_.GetDCOffsetL(); }
  void SetDCOffsetL(int32_t value);
  int32_t GetDCOffsetR() const { return core_.GetDCOffsetR(); }
  void SetDCOffsetR(int32_t value);
  // Percent of full scale shown now; setting it shows that share of full scale.
  int GetValue() const { return core_.SegmentsToPercent(core_.Value()); }
  void SetValue(int percent);

  // ---- operations ----
  void SetData(int32_t magnitude);
  // The peak in percent, and as a magnitude.
  int GetPeak() const { return core_.SegmentsToPercent(core_.Peak()); }
  int32_t GetPeakValue() const { return GetPeak() * kLevelFullScale / 100; }
  void ResetDecayBuffers() { core_.ResetDecay(); }
  void CalcNumSpots();
  void DrawInactiveSpots();
  void DrawLevel();
  // Segments 1 .. n lit (or, for the background, unlit) with the peak mark at p.
  void DrawLevelHorizontal(TMMDIBCanvas& canvas, int n, bool unlit, int p);
  void DrawLevelVertical(TMMDIBCanvas& canvas, int n, bool unlit, int p);

  // What the bar computes with; for tests and benchmarks.
  const TMMLevelCore& Core() const { return core_; }
  // The area inside the bevel the segments are drawn in.
  vant::TRect DrawingRect() const { return BeveledRect(); }

  void SetBounds(int left, int top, int width, int height) override;
  void SetBPP(int value) override;
  void Loaded() override;
  void ChangeDesigning(bool value) override;

  TMMLevelDrawBar OnDrawBar;
  vant::TNotifyEvent OnPaint, OnGainOverflow, OnPcmOverflow;

 protected:
  void Paint() override;
  void Changed() override;
  void ColorChanged() override;
  void EnabledChanged() override;
  virtual void GainOverflow();
  virtual void PcmOverflow();

 private:
  static int Zone(int zone) { return zone < 1 ? 0 : zone > 3 ? 2 : zone - 1; }
  void LayoutChanged();
  void DrawSegments(TMMDIBCanvas& canvas, int n, bool unlit, int p);
  vant::TRect SegmentRect(int i) const;
  void CreatePeakTimer();
  void UpdatePeakTimer();
  bool PeakTimerWanted() const {
    return GetEnabled() && core_.NumPeaks > 0 && core_.PeakFalling();
  }
  // Stores a changed value; then lays the segments out again, or only redraws them.
  template <class T, class V>
  void Set(T& field, V value, bool layout);

  TMMLevelCore core_;
  TMMLevelGeometry geometry_;
  TMMLevelKind kind_ = lkHorizontal;
  int spot_space_ = 1;
  int spot_width_ = 1;
  vant::TColor bar_colors_[3] = {0xFFFF00, 0xFFFF00, 0xFF};
  vant::TColor inactive_colors_[3] = {0x808000, 0x808000, 0x80};
  bool inactive_doted_ = false;
  bool active_doted_ = false;
  int point1_ = 50;
  int point2_ = 85;
  int length_ = 1;     // along the bar
  int thickness_ = 1;  // across it
  std::unique_ptr<TMMDIBCanvas> background_;
  TMMPeakTimer peak_timer_;
};

class TMMLevel : public TMMCustomLevel {
 public:
  using TMMCustomLevel::TMMCustomLevel;
  std::string ClassName() const override { return "TMMLevel"; }
};
