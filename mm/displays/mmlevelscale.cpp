#include "mmlevelscale.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numeric>
#include <utility>

#include "mmmuldiv.h"
#include "mmutils.h"

using vant::TCanvas;
using vant::TColor;
using vant::TRect;

TMMLevelScale::TMMLevelScale(vant::TComponent* owner)
    : TMMGraphicControl(owner), scale_(std::make_unique<TMMLevScale>()) {
  Bevel().SetBevelOuter(vant::bvNone);
  SetParentFont(false);
  Font().SetName("Small Fonts");
  Font().SetSize(6);
  SetColor(vant::clBlack);
  SetBounds(GetLeft(), GetTop(), 200, 7);
  // The tick painter walks every tick: ticks and their length are held to what a scale can
  // show (the clamp is a change of its own, which then repaints).
  scale_->OnChange = [this](vant::TObject*) {
    if (scale_->GetTickCount() > kLevelMaxScaleTicks) {
      scale_->SetTickCount(kLevelMaxScaleTicks);
    } else if (scale_->GetSize() > kLevelMaxDistance) {
      scale_->SetSize(kLevelMaxDistance);
    } else {
      Invalidate();
    }
  };
}

template <class T>
void TMMLevelScale::Set(T& field, T value) {
  if (field == value) return;
  field = value;
  Invalidate();
}

void TMMLevelScale::SetScaleTicks(int value) { Set(scale_ticks_, std::max(value, 2)); }
void TMMLevelScale::SetPoint1(int value) { Set(point1_, MinMax(value, 1, 100)); }
void TMMLevelScale::SetPoint2(int value) { Set(point2_, MinMax(value, 1, 100)); }
void TMMLevelScale::SetScaleColor(int zone, TColor value) { Set(colors_[Zone(zone)], value); }
void TMMLevelScale::SetSensitivy(int32_t value) { Set(sensitivity_, MinMax(value, -90, -9)); }
void TMMLevelScale::SetLogAmp(bool value) { Set(log_amp_, value); }
void TMMLevelScale::SetKind(TMMLevelKind value) { Set(kind_, value); }
void TMMLevelScale::SetDirection(TMMLevelDirection value) { Set(direction_, value); }
void TMMLevelScale::SetScalePos(TMMScalePos value) { Set(scale_pos_, value); }

// ---- labels ----------------------------------------------------------------------------------

std::string TMMLevelScale::LabelText(int k) const {
  const int last = scale_ticks_ - 1;
  if (log_amp_) return std::to_string(MulDiv32RN(k, sensitivity_, last));
  const double f = kLevelFullScale / std::pow(10.0, -sensitivity_ / 20.0);
  const int quiet = last - k;
  const double m = (f + (kLevelFullScale - f) * quiet / last) / kLevelFullScale;
  return std::to_string(static_cast<int>(std::nearbyint(20 * std::log10(m))));
}

TColor TMMLevelScale::LabelColor(int k) const {
  const int last = scale_ticks_ - 1;
  const int64_t m = int64_t{kLevelFullScale} * (last - k) / last;
  if (m > int64_t{kLevelFullScale} * point2_ / 100) return colors_[2];
  if (m > int64_t{kLevelFullScale} * point1_ / 100) return colors_[1];
  return colors_[0];
}

int TMMLevelScale::LabelStride(int length, int size) const {
  const int64_t last = int64_t{scale_ticks_} - 1;
  if (size <= 0) return 1;
  if (length < size) return 0;
  // The smallest s with last / s <= length / size, the labels that fit.
  const int64_t s = last / (length / size + 1) + 1;
  return s <= last ? static_cast<int>(s) : 0;
}

std::vector<TMMLevelScaleLabel> TMMLevelScale::Labels(TCanvas& c, const TRect& area) const {
  std::vector<TMMLevelScaleLabel> labels;
  const bool horizontal = kind_ == lkHorizontal;
  const bool symmetric = direction_ == dirSymetric;
  const int length = horizontal ? area.Right - area.Left : area.Bottom - area.Top;
  const int span = symmetric ? length / 2 : length;
  // The widest label is the sensitivity, written "+35" on the mirrored half of a symmetric
  // scale.
  int size = c.TextHeight("0");
  if (horizontal) {
    size = c.TextWidth(std::to_string(sensitivity_));
    if (symmetric) size = std::max(size, c.TextWidth("+" + std::to_string(-sensitivity_)));
  }
  const int stride = LabelStride(span, size);
  if (stride == 0) return labels;  // not even one label fits: the scale shows none
  const int64_t last = int64_t{scale_ticks_} - 1;
  // Where a point `d` pixels from the quiet end lies along the axis, for each half of a
  // symmetric scale (mirrored: from the far end).
  auto place = [&](int d, bool mirrored) {
    bool from_start = horizontal ? direction_ != dirReversed : direction_ == dirReversed;
    if (symmetric) from_start = horizontal ? !mirrored : mirrored;
    const int lo = horizontal ? area.Left : area.Top;
    const int hi = horizontal ? area.Right : area.Bottom;
    return from_start ? lo + d : hi - d;
  };
  // Each level is one group: its label, and on a symmetric scale also its mirror, so both
  // halves keep or lose a level together.
  std::vector<std::vector<size_t>> groups;  // the labels of each level shown, loudest first
  for (int half = 0; half < (symmetric ? 2 : 1); ++half) {
    for (int64_t k = 0; k <= last; k += stride) {
      std::string text = LabelText(static_cast<int>(k));
      if (half == 1) {
        if (k == 0) continue;  // the centre is labelled once
        text = "+" + std::to_string(std::abs(std::stoi(text)));
      }
      const int pos = place(static_cast<int>((last - k) * span / last), half == 1);
      const int w = c.TextWidth(text), h = c.TextHeight(text);
      TRect box;
      if (horizontal) {
        const int x = std::clamp(pos - w / 2, area.Left, std::max(area.Right - w, area.Left));
        box = {x, area.Top, x + w, area.Top + h};
      } else {
        const int y = std::clamp(pos - h / 2, area.Top, std::max(area.Bottom - h, area.Top));
        box = {area.Right - w, y, area.Right, y + h};
      }
      const auto g = static_cast<size_t>(k / stride);
      if (g >= groups.size()) groups.resize(g + 1);
      groups[g].push_back(labels.size());
      labels.push_back({std::move(text), LabelColor(static_cast<int>(k)), box});
    }
  }
  // Labels pushed against the ends may still meet their neighbours: the loud end and the
  // quiet end are placed first, then the levels in order, and a level whose label (or mirror)
  // would cover one already placed is left out.
  std::vector<size_t> order(groups.size());
  std::iota(order.begin(), order.end(), size_t{0});
  if (order.size() > 2) std::rotate(order.begin() + 1, order.end() - 1, order.end());
  auto apart = [](const TRect& a, const TRect& b) {
    return a.Right <= b.Left || b.Right <= a.Left || a.Bottom <= b.Top || b.Bottom <= a.Top;
  };
  std::vector<bool> kept(labels.size(), false);
  for (size_t g : order) {
    bool clear = true;
    for (size_t i : groups[g])
      for (size_t j = 0; j < labels.size() && clear; ++j)
        if (j != i && (kept[j] || std::count(groups[g].begin(), groups[g].end(), j)))
          clear = apart(labels[i].box, labels[j].box);
    if (clear)
      for (size_t i : groups[g]) kept[i] = true;
  }
  std::vector<TMMLevelScaleLabel> shown;
  for (size_t i = 0; i < labels.size(); ++i)
    if (kept[i]) shown.push_back(std::move(labels[i]));
  return shown;
}

void TMMLevelScale::DrawLabels(TCanvas& c, const TRect& area) {
  c.Brush().Style = vant::bsClear;
  for (const TMMLevelScaleLabel& l : Labels(c, area)) {
    c.Font().SetColor(l.color);
    c.TextOut(l.box.Left, l.box.Top, l.text);
  }
}

// ---- painting --------------------------------------------------------------------------------

void TMMLevelScale::Paint() {
  TCanvas& c = Canvas();
  c.Font().Assign(&Font());
  c.Brush().Style = vant::bsSolid;
  c.Brush().Color = GetColor();
  TRect area = ClientRect();
  c.FillRect(area);
  const bool horizontal = kind_ == lkHorizontal;
  const int a = horizontal ? c.TextWidth("0") / 2 : c.TextHeight("0") / 2;
  if (scale_->GetVisible()) {
    const int ticks = scale_->GetTickCount();
    // Setting the zones for this paint is no change of the settings.
    auto on_change = std::exchange(scale_->OnChange, nullptr);
    // The scale counts its ticks from the left or the top: the zones run the other way when
    // exactly one of a vertical kind and a reversed direction holds.
    if ((kind_ == lkVertical) != (direction_ == dirReversed)) {
      scale_->SetColor(colors_[2]);
      scale_->SetColor2(colors_[1]);
      scale_->SetColor3(colors_[0]);
      scale_->SetZone2Tick((100 - point2_) * ticks / 100);
      scale_->SetZone3Tick((100 - point1_) * ticks / 100);
    } else {
      scale_->SetColor(colors_[0]);
      scale_->SetColor2(colors_[1]);
      scale_->SetColor3(colors_[2]);
      scale_->SetZone2Tick((point1_ - 1) * ticks / 100);
      scale_->SetZone3Tick((point2_ - 1) * ticks / 100);
    }
    const int h = scale_->GetScaleHeight();
    const bool reversed = direction_ == dirReversed;
    // The ticks' extent along the axis: shifted by half a digit toward the bar's growth.
    const int lo = horizontal ? (reversed ? area.Left + a : area.Left - a - 1)
                              : (reversed ? area.Top - a : area.Top + a);
    const int hi = horizontal ? (reversed ? area.Right + a - 1 : area.Right - a - 1)
                              : (reversed ? area.Bottom - a - 1 : area.Bottom + a - 1);
    if (scale_pos_ != spBelowOrRight) {
      const TRect r = horizontal ? vant::Rect(lo, area.Top, hi, area.Top + h)
                                 : vant::Rect(area.Left, lo, area.Left + h, hi);
      scale_->DrawRect(&c, r, false);
      (horizontal ? area.Top : area.Left) += h;
    }
    if (scale_pos_ != spAboveOrLeft) {
      const TRect r = horizontal ? vant::Rect(lo, area.Bottom - h, hi, area.Bottom)
                                 : vant::Rect(area.Right - h, lo, area.Right, hi);
      scale_->DrawRect(&c, r, true);
      (horizontal ? area.Bottom : area.Right) -= h;
    }
    scale_->OnChange = std::move(on_change);
  }
  if (area.Right > area.Left && area.Bottom > area.Top) DrawLabels(c, area);
}
