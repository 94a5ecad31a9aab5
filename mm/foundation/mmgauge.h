#pragma once
// TMMCustomGauge / TMMGauge: a windowless progress gauge (text, bar, pie or needle) with the
// percentage written over it, optionally after a caption. The percentage is computed in 64 bits,
// so the full integer range never overflows; the gauge repaints at once only when the whole
// percentage changes.
#include <cstdint>
#include <string>

#include "mmobj.h"

enum TMMGaugeKind { gkText, gkHorizontalBar, gkVerticalBar, gkPie, gkNeedle };

class TMMCustomGauge : public TMMGraphicControl {
 public:
  explicit TMMCustomGauge(vant::TComponent* owner);
  std::string ClassName() const override { return "TMMCustomGauge"; }

  TMMGaugeKind GetKind() const { return kind_; }
  void SetKind(TMMGaugeKind v);
  bool GetShowText() const { return show_text_; }
  void SetShowText(bool v);
  vant::TColor GetForeColor() const { return fore_color_; }
  void SetForeColor(vant::TColor v);
  vant::TColor GetBackColor() const { return back_color_; }
  void SetBackColor(vant::TColor v);
  int32_t GetMinValue() const { return min_; }
  // Clamped to -2147483647 .. MaxValue.
  void SetMinValue(int32_t v);
  int32_t GetMaxValue() const { return max_; }
  // Clamped to MinValue .. 2147483647.
  void SetMaxValue(int32_t v);
  int32_t GetProgress() const { return progress_; }
  // Clamps into [MinValue, MaxValue]; repaints at once only when the whole percentage changes.
  void SetProgress(int32_t v);
  void AddProgress(int32_t delta);
  bool GetBWText() const { return bw_text_; }
  void SetBWText(bool v);
  // Trunc((Progress - MinValue) * 100 / (MaxValue - MinValue)); 0 for an empty range.
  int PercentDone() const;
  // "<caption> <n>%" or "<n>%".
  std::string Text() const;

 protected:
  void Paint() override;

 private:
  template <class T>
  void Set(T& field, T v);
  void PaintFace(vant::TCanvas& c, const vant::TRect& r, int percent);
  void PaintText(vant::TCanvas& c, const vant::TRect& r, const vant::TRect& face, int percent);
  vant::TRect DonePart(const vant::TRect& r, int percent) const;
  TMMGaugeKind kind_ = gkHorizontalBar;
  bool show_text_ = true;
  vant::TColor fore_color_ = vant::clActiveCaption;
  vant::TColor back_color_ = vant::clWhite;
  int32_t min_ = 0;
  int32_t max_ = 100;
  int32_t progress_ = 0;
  bool bw_text_ = false;
};

class TMMGauge : public TMMCustomGauge {
 public:
  using TMMCustomGauge::TMMCustomGauge;
  std::string ClassName() const override { return "TMMGauge"; }
};
