#pragma once
// TMMMeter: an analog level meter. A needle pivoting below the face sweeps an arc scale drawn in
// three colour zones; a second needle holds the recent peak. Slices reach it from a connector
// along the level bar's data path (see TMMMeterCore); the face with its scale and caption is
// drawn once into a cache and only the needles are drawn again per slice.
#include <cstdint>
#include <memory>

#include "exceptions.h"
#include "mmdisplaydata.h"
#include "mmenums.h"
#include "mmmetercore.h"
#include "mmobj.h"
#include "mmpeaktimer.h"

VANT_DECLARE_EXCEPTION(EMMMeterError, vant::Exception);

class TMMCustomMeter : public TMMGraphicControl, public TMMDisplayData {
 public:
  explicit TMMCustomMeter(vant::TComponent* owner);
  ~TMMCustomMeter() override;
  std::string ClassName() const override { return "TMMCustomMeter"; }

  // ---- the display data interface ----
  void SetPCMWaveFormat(const WAVEFORMATEX& format) override;
  void RefreshPCMData(const void* slice) override;
  void ResetData() override;
  vant::TComponent* DisplayComponent() override { return this; }
  // PCM with the meter's bits and channels at 11,025 Hz (the meter keeps no rate).
  WAVEFORMATEX GetPCMWaveFormat() const;

  // ---- properties ----
  vant::TColor GetScaleColor(int zone) const { return scale_colors_[Zone(zone)]; }
  void SetScaleColor(int zone, vant::TColor value);
  vant::TColor GetNeedleColor() const { return needle_color_; }
  void SetNeedleColor(vant::TColor value);
  vant::TColor GetPeakColor() const { return peak_color_; }
  void SetPeakColor(vant::TColor value);
  int GetNeedleOffset() const { return geometry_.NeedleOffset; }
  void SetNeedleOffset(int value);
  int GetNeedleWidth() const { return needle_width_; }
  void SetNeedleWidth(int value);
  TMMScaleOrigin GetScaleOrigin() const { return scale_origin_; }
  void SetScaleOrigin(TMMScaleOrigin value);
  int GetScaleHeight1() const { return scale_height1_; }
  void SetScaleHeight1(int value);
  int GetScaleHeight2() const { return scale_height2_; }
  void SetScaleHeight2(int value);
  int GetScaleAngle() const { return geometry_.ScaleAngle; }
  void SetScaleAngle(int value);
  int GetScaleTicks() const { return scale_ticks_; }
  void SetScaleTicks(int value);
  int GetScaleTicksEnlargeEvery() const { return enlarge_every_; }
  void SetScaleTicksEnlargeEvery(int value);
  int GetScaleTicksTextEvery() const { return text_every_; }
  void SetScaleTicksTextEvery(int value);
  bool GetDrawScale() const { return draw_scale_; }
  void SetDrawScale(bool value);
  int GetTopSpace() const { return geometry_.TopSpace; }
  void SetTopSpace(int value);
  int GetPoint1() const { return point1_; }
  void SetPoint1(int value);
  int GetPoint2() const { return point2_; }
  void SetPoint2(int value);
  TMMBits GetBitLength() const { return core_.Level.GetBits(); }
  void SetBitLength(TMMBits value);
  TMMChannel GetChannel() const { return core_.Level.Channel; }
  void SetChannel(TMMChannel value) { core_.Level.Channel = value; }
  TMMMode GetMode() const { return core_.Level.GetMode(); }
  void SetMode(TMMMode value);
  int32_t GetGain() const { return core_.Level.Gain; }
  // -8 .. 32; other values are ignored.
  void SetGain(int32_t value);
  int32_t GetSamples() const { return core_.Level.GetSamples(); }
  void SetSamples(int32_t value);
  int32_t GetSensitivy() const { return core_.Level.Sensitivity; }
  void SetSensitivy(int32_t value);
  bool GetLogAmp() const { return core_.Level.LogAmp; }
  void SetLogAmp(bool value);
  TMMDecayMode GetDecayMode() const { return core_.Level.GetDecayMode(); }
  void SetDecayMode(TMMDecayMode value) { core_.Level.SetDecayMode(value); }
  int GetDecay() const { return core_.Level.GetDecay(); }
  void SetDecay(int value) { core_.Level.SetDecay(value); }
  bool GetShowPeak() const { return core_.ShowPeak; }
  void SetShowPeak(bool value);
  int GetPeakSpeed() const { return core_.PeakSpeed; }
  void SetPeakSpeed(int value);
  int GetPeakDelay() const { return core_.PeakDelay; }
  void SetPeakDelay(int value);
  // Stretched over the face instead of Color when not empty.
  vant::TBitmap& BackGroundDIB() { return *background_; }
  void SetBackGround(const vant::TBitmap& bitmap);
  // The needle in percent of full scale; setting it moves the needle like a slice level.
  int GetValue() const { return core_.NeedlePercent(); }
  void SetValue(int percent);

  // ---- operations ----
  void SetData(int32_t level);
  // Index 0 is the left (or mono) channel, 1 the right one; other indices are ignored.
  void SetDCOffset(int index, int32_t value);
  int32_t GetDCOffset(int index) const;
  void ComputeNeedleEnd(vant::TPoint& point, int32_t value, int radius) const;

  // What the meter computes with; for tests and benchmarks.
  const TMMMeterCore& Core() const { return core_; }
  const TMMMeterGeometry& Geometry() const { return geometry_; }
  // The face inside the bevel.
  vant::TRect FaceRect() const { return BeveledRect(); }

  void SetBounds(int left, int top, int width, int height) override;
  void ChangeDesigning(bool value) override;

  vant::TNotifyEvent OnGainOverflow, OnPcmOverflow, OnPostPaint;

 protected:
  void Paint() override;
  void Changed() override;
  void EnabledChanged() override;
  void TextChanged() override;
  void FontChanged() override;
  virtual void GainOverflow();
  virtual void PcmOverflow();
  // Composes face and needles and shows them; `fast` takes the face from the cache.
  void DrawMeter(bool fast);
  void FastDraw();
  void DrawBackGround(vant::TCanvas& c);
  void DrawText(vant::TCanvas& c);

 private:
  static int Zone(int zone) { return zone < 1 ? 0 : zone > 3 ? 2 : zone - 1; }
  void UpdateSlice();
  void CreatePeakTimer();
  void UpdatePeakTimer();
  bool PeakTimerWanted() const { return GetEnabled() && core_.ShowPeak && core_.PeakFalling(); }
  // Stores a changed value and repaints.
  template <class T, class V>
  void Set(T& field, V value);

  TMMMeterCore core_;
  TMMMeterGeometry geometry_;
  vant::TColor scale_colors_[3] = {0x8000, 0xFFFF, 0xFF};
  vant::TColor needle_color_ = 0xFFFFFF;
  vant::TColor peak_color_ = 0xFF;
  int needle_width_ = 1;
  TMMScaleOrigin scale_origin_ = soInner;
  int scale_height1_ = 4, scale_height2_ = 8;
  int scale_ticks_ = 41;
  int enlarge_every_ = 4;
  int text_every_ = 8;
  bool draw_scale_ = true;
  int point1_ = 60, point2_ = 80;
  std::unique_ptr<vant::TBitmap> background_, buffer_, cache_;
  TMMPeakTimer peak_timer_;
  // The needles' ends as last drawn: a value that leaves both on their pixels draws nothing.
  struct DrawnNeedles {
    bool valid = false, peak_shown = false;
    TMMMeterPoint needle, peak;
  } drawn_;
  DrawnNeedles NeedlesNow() const;
};

class TMMMeter : public TMMCustomMeter {
 public:
  using TMMCustomMeter::TMMCustomMeter;
  std::string ClassName() const override { return "TMMMeter"; }
};
