#pragma once
// TMMLevelScale: the dB scale to place beside a level bar: tick scales along one or both edges
// (TMMLevScale, coloured by the bar's zones) and the level of every n-th tick as a label.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "mmenums.h"
#include "mmlevelcore.h"
#include "mmobj.h"
#include "mmscale.h"

// One label as a paint writes it.
struct TMMLevelScaleLabel {
  std::string text;
  vant::TColor color = 0;
  vant::TRect box;  // where the text goes
};

// The scale settings of a level scale; hidden until asked for.
class TMMLevScale : public TMMCustomScale {
 public:
  TMMLevScale() { SetVisible(false); }
  std::string ClassName() const override { return "TMMLevScale"; }
};

class TMMLevelScale : public TMMGraphicControl {
 public:
  explicit TMMLevelScale(vant::TComponent* owner);
  std::string ClassName() const override { return "TMMLevelScale"; }

  int GetScaleTicks() const { return scale_ticks_; }
  void SetScaleTicks(int value);  // at least 2
  int GetPoint1() const { return point1_; }
  void SetPoint1(int value);
  int GetPoint2() const { return point2_; }
  void SetPoint2(int value);
  vant::TColor GetScaleColor(int zone) const { return colors_[Zone(zone)]; }
  void SetScaleColor(int zone, vant::TColor value);
  int32_t GetSensitivy() const { return sensitivity_; }
  void SetSensitivy(int32_t value);
  bool GetLogAmp() const { return log_amp_; }
  void SetLogAmp(bool value);
  TMMLevelKind GetKind() const { return kind_; }
  void SetKind(TMMLevelKind value);
  TMMLevelDirection GetDirection() const { return direction_; }
  void SetDirection(TMMLevelDirection value);
  TMMScalePos GetScalePos() const { return scale_pos_; }
  void SetScalePos(TMMScalePos value);
  TMMLevScale& Scale() { return *scale_; }

  // The text of label k (0 at the loud end).
  std::string LabelText(int k) const;
  // The zone colour of label k.
  vant::TColor LabelColor(int k) const;
  // Every how many labels one is shown along `length` pixels with labels `size` pixels long;
  // 0 when not even one fits.
  int LabelStride(int length, int size) const;
  // The labels a paint writes into `area` with the font of `c`, in the order they are written.
  std::vector<TMMLevelScaleLabel> Labels(vant::TCanvas& c, const vant::TRect& area) const;

 protected:
  void Paint() override;

 private:
  static int Zone(int zone) { return zone < 1 ? 0 : zone > 3 ? 2 : zone - 1; }
  template <class T>
  void Set(T& field, T value);
  void DrawLabels(vant::TCanvas& c, const vant::TRect& area);

  int scale_ticks_ = 8;
  int point1_ = 50, point2_ = 85;
  vant::TColor colors_[3] = {0xFFFFFF, 0xFFFFFF, 0xFF};
  int32_t sensitivity_ = -35;
  bool log_amp_ = true;
  TMMLevelKind kind_ = lkHorizontal;
  TMMLevelDirection direction_ = dirNormal;
  TMMScalePos scale_pos_ = spBoth;
  std::unique_ptr<TMMLevScale> scale_;
};
