#include "mmlevel.h"

#include <algorithm>
#include <cmath>

#include "mmdisplaysize.h"
#include "mmpcmsup.h"
#include "mmutils.h"

using vant::TColor;
using vant::TRect;

TMMCustomLevel::TMMCustomLevel(vant::TComponent* owner)
    : TMMDIBGraphicControl(owner), background_(std::make_unique<TMMDIBCanvas>(this)) {
  SetParentFont(false);
  Font().SetName("Small Fonts");
  Font().SetSize(7);
  SetColor(vant::clBlack);
  core_.OnGainOverflow = [this] { GainOverflow(); };
  SetSliceBytes(core_.SliceBytes());
  SetBounds(GetLeft(), GetTop(), 200, 17);
  CreatePeakTimer();
}

TMMCustomLevel::~TMMCustomLevel() {
  Destroying();
  peak_timer_.Kill();
}

// ---- the peak timer --------------------------------------------------------------------------

void TMMCustomLevel::CreatePeakTimer() {
  if (HasState(vant::csDesigning)) return;
  // Its ticks run when the next SetData draws.
  peak_timer_.Create([this] {
    core_.PeakTick();
    return core_.PeakFalling();
  });
}

void TMMCustomLevel::UpdatePeakTimer() { peak_timer_.Update(PeakTimerWanted()); }

void TMMCustomLevel::ChangeDesigning(bool value) {
  TMMDIBGraphicControl::ChangeDesigning(value);
  if (!value) CreatePeakTimer();
  CalcNumSpots();
}

// ---- the display data interface --------------------------------------------------------------

void TMMCustomLevel::SetPCMWaveFormat(const WAVEFORMATEX& format) {
  if (!pcmIsValidFormat(&format)) throw EMMLevelError(LoadResStr(62));
  core_.SetLayout(static_cast<TMMBits>(format.wBitsPerSample / 8 - 1), format.nChannels);
  SetSliceBytes(core_.SliceBytes());
}

WAVEFORMATEX TMMCustomLevel::GetPCMWaveFormat() const {
  WAVEFORMATEX f{};
  pcmBuildWaveHeader(f, (core_.GetBits() + 1) * 8, core_.GetChannels(), 11025);
  return f;
}

void TMMCustomLevel::RefreshPCMData(const void* slice) {
  if (!GetEnabled() || !GetVisible() || !slice) return;
  const int32_t m = core_.Magnitude(static_cast<const uint8_t*>(slice));
  if (m >= kLevelFullScale) PcmOverflow();
  SetData(m);
}

void TMMCustomLevel::ResetData() {
  core_.Reset();
  UpdatePeakTimer();
  Invalidate();
}

void TMMCustomLevel::SetData(int32_t magnitude) {
  peak_timer_.CatchUp();
  if (!core_.SetData(magnitude)) return;
  UpdatePeakTimer();  // a new peak starts its hold
  if (GetEnabled() && GetVisible()) FastDraw([this](bool) { DrawLevel(); }, false);
}

void TMMCustomLevel::SetValue(int percent) {
  percent = MinMax(percent, 0, 100);
  SetData(static_cast<int32_t>(std::nearbyint(percent * double{kLevelFullScale} / 100)));
}

void TMMCustomLevel::GainOverflow() {
  if (OnGainOverflow) OnGainOverflow(this);
}

void TMMCustomLevel::PcmOverflow() {
  if (OnPcmOverflow) OnPcmOverflow(this);
}

// ---- properties ------------------------------------------------------------------------------

template <class T, class V>
void TMMCustomLevel::Set(T& field, V value, bool layout) {
  if (field == static_cast<T>(value)) return;
  field = static_cast<T>(value);
  if (layout) {
    LayoutChanged();
  } else {
    DrawInactiveSpots();
    Invalidate();
  }
}

void TMMCustomLevel::SetKind(TMMLevelKind value) {
  if (value == kind_) return;
  kind_ = value;
  const int w = GetWidth(), h = GetHeight();
  const bool swap = value == lkHorizontal ? h > w : w > h;
  if (swap) {
    SetBounds(GetLeft(), GetTop(), h, w);
  } else {
    SetBounds(GetLeft(), GetTop(), w, h);
  }
}

void TMMCustomLevel::SetSpotSpace(int value) { Set(spot_space_, MinMax(value, 0, 10), true); }

void TMMCustomLevel::SetSpotWidth(int value) {
  Set(spot_width_, MinMax(value, 1, std::max(length_ / 3, 1)), true);
}

void TMMCustomLevel::SetBarColor(int zone, TColor value) {
  Set(bar_colors_[Zone(zone)], value, false);
}

void TMMCustomLevel::SetInactiveColor(int zone, TColor value) {
  Set(inactive_colors_[Zone(zone)], value, false);
}

void TMMCustomLevel::SetInactiveDoted(bool value) { Set(inactive_doted_, value, false); }
void TMMCustomLevel::SetActiveDoted(bool value) { Set(active_doted_, value, false); }
void TMMCustomLevel::SetPoint1(int value) { Set(point1_, MinMax(value, 1, 100), true); }
void TMMCustomLevel::SetPoint2(int value) { Set(point2_, MinMax(value, 1, 100), true); }

void TMMCustomLevel::SetDirection(TMMLevelDirection value) { Set(core_.Direction, value, false); }

void TMMCustomLevel::SetBitLength(TMMBits value) {
  core_.SetLayout(value, core_.GetChannels());
  SetSliceBytes(core_.SliceBytes());
}

void TMMCustomLevel::SetChannel(TMMChannel value) { core_.Channel = value; }

void TMMCustomLevel::SetMode(TMMMode value) {
  core_.SetLayout(core_.GetBits(), value + 1);
  SetSliceBytes(core_.SliceBytes());
}

void TMMCustomLevel::SetGain(int32_t value) {
  if (value < -8 || value > 32) return;
  core_.Gain = value;
}

void TMMCustomLevel::SetSamples(int32_t value) {
  core_.SetSamples(value);
  SetSliceBytes(core_.SliceBytes());
}

void TMMCustomLevel::SetSensitivy(int32_t value) {
  Set(core_.Sensitivity, MinMax(value, -90, -9), false);
}
void TMMCustomLevel::SetLogAmp(bool value) { Set(core_.LogAmp, value, false); }

void TMMCustomLevel::SetNumPeaks(int value) {
  value = MinMax(value, 0, 5);
  if (value == core_.NumPeaks) return;
  core_.NumPeaks = value;
  UpdatePeakTimer();
  Invalidate();
}

void TMMCustomLevel::SetPeakDelay(int value) { core_.PeakDelay = MinMax(value, 0, 50); }
void TMMCustomLevel::SetPeakSpeed(int value) { core_.PeakSpeed = MinMax(value, 0, 50); }
void TMMCustomLevel::SetDecayMode(TMMDecayMode value) { core_.SetDecayMode(value); }
void TMMCustomLevel::SetDecay(int value) { core_.SetDecay(value); }

void TMMCustomLevel::SetDCOffsetL(int32_t value) {
  core_.SetDCOffsets(value, core_.GetDCOffsetR());
}

void TMMCustomLevel::SetDCOffsetR(int32_t value) {
  core_.SetDCOffsets(core_.GetDCOffsetL(), value);
}

// ---- geometry --------------------------------------------------------------------------------

void TMMCustomLevel::SetBounds(int left, int top, int width, int height) {
  TMMDIBGraphicControl::SetBounds(left, top, width, height);
  LayoutChanged();
}

void TMMCustomLevel::Changed() { LayoutChanged(); }

void TMMCustomLevel::LayoutChanged() {
  if (!background_) return;  // still being built
  const TRect r = DrawingRect();
  const int w = DisplayExtent(r.Left, r.Right, 1), h = DisplayExtent(r.Top, r.Bottom, 1);
  DIBCanvas().SetBounds(0, 0, w, h);
  background_->SetBounds(0, 0, w, h);
  length_ = kind_ == lkHorizontal ? w : h;
  thickness_ = kind_ == lkHorizontal ? h : w;
  CalcNumSpots();
}

void TMMCustomLevel::CalcNumSpots() {
  spot_width_ = std::max(spot_width_, 1);
  geometry_ = TMMLevelGeometry::Compute(length_, spot_width_, spot_space_, point1_, point2_);
  core_.SetSegments(geometry_.count);
  DrawInactiveSpots();
  const int n = geometry_.count;
  if (HasState(vant::csDesigning)) {
    if (GetEnabled()) {
      const int z1 = geometry_.zone1, z2 = geometry_.zone2;
      core_.ShowValue(z2 < n ? z2 + (n - z2) / 2 : z1 < n ? z1 + (z2 - z1) / 2 : n - n / 4);
    }
  } else {
    core_.ShowValue(0);
  }
  Invalidate();
}

void TMMCustomLevel::SetBPP(int value) {
  TMMDIBGraphicControl::SetBPP(value);  // refuses anything but 8 and 24
  background_->SetBPP(value);
  DrawInactiveSpots();
  Invalidate();
}

void TMMCustomLevel::Loaded() {
  TMMDIBGraphicControl::Loaded();
  LayoutChanged();
}

void TMMCustomLevel::ColorChanged() {
  TMMDIBGraphicControl::ColorChanged();
  DrawInactiveSpots();
}

void TMMCustomLevel::EnabledChanged() {
  TMMDIBGraphicControl::EnabledChanged();
  if (!GetEnabled()) {
    core_.Reset();
    Invalidate();
  } else {
    CalcNumSpots();
  }
  UpdatePeakTimer();
}

// ---- drawing ---------------------------------------------------------------------------------

TRect TMMCustomLevel::SegmentRect(int i) const {
  const int pos = geometry_.PositionOf(i), w = geometry_.width;
  // Normal bars grow from the left or the bottom; the others from the right or the top.
  const bool from_start = (kind_ == lkHorizontal) == (core_.Direction == dirNormal);
  const int a = from_start ? pos : length_ - pos - w;
  if (kind_ == lkHorizontal) return vant::Rect(a, 0, a + w, thickness_);
  return vant::Rect(0, a, thickness_, a + w);
}

void TMMCustomLevel::DrawSegments(TMMDIBCanvas& canvas, int n, bool unlit, int p) {
  const int count = geometry_.count;
  auto fill = [&](int i, TColor color, bool doted) {
    canvas.DIB_SetTColor(color);
    canvas.DIB_FILLRECTDOTED(SegmentRect(i), doted);
  };
  if (unlit || core_.Direction != dirSymetric) {
    const TColor* colors = unlit ? inactive_colors_ : bar_colors_;
    const bool doted = unlit ? inactive_doted_ : active_doted_;
    for (int i = 1; i <= std::min(n, count); ++i) fill(i, colors[geometry_.ZoneOf(i) - 1], doted);
  } else {
    const int m = std::clamp(n, 1, count);
    const TColor color = bar_colors_[geometry_.ZoneOf(m) - 1];
    for (int i = std::max(m - SYNCBARS, 1); i <= std::min(m + SYNCBARS, count); ++i)
      fill(i, color, active_doted_);
  }
  if (core_.NumPeaks > 0 && n < p) {
    for (int i = std::min(p, count); i > std::max(p - core_.NumPeaks, 0); --i)
      fill(i, bar_colors_[geometry_.ZoneOf(i) - 1], active_doted_);
  }
}

void TMMCustomLevel::DrawLevelHorizontal(TMMDIBCanvas& canvas, int n, bool unlit, int p) {
  DrawSegments(canvas, n, unlit, p);
}

void TMMCustomLevel::DrawLevelVertical(TMMDIBCanvas& canvas, int n, bool unlit, int p) {
  DrawSegments(canvas, n, unlit, p);
}

void TMMCustomLevel::DrawInactiveSpots() {
  if (HasState(vant::csLoading) || OnDrawBar) return;
  TMMDIBCanvas& c = *background_;
  c.DIB_InitDrawing();
  c.DIB_SetTColor(GetColor());
  c.DIB_CLEAR();
  if (kind_ == lkHorizontal) {
    DrawLevelHorizontal(c, geometry_.count, true, 0);
  } else {
    DrawLevelVertical(c, geometry_.count, true, 0);
  }
  c.DIB_DoneDrawing();
}

void TMMCustomLevel::DrawLevel() {
  if (OnPaint) OnPaint(this);
  TMMDIBCanvas& c = DIBCanvas();
  const TRect r = DrawingRect();
  const int w = c.GetWidth(), h = c.GetHeight();
  c.DIB_InitDrawing();
  if (OnDrawBar) {
    OnDrawBar(this, c, vant::Rect(0, 0, w, h), core_.Peak(), core_.Value());
  } else {
    c.DIB_COPYDIBBITS(background_->Surface(), 0, 0, w, h, 0, 0);
    if (GetEnabled()) {
      if (kind_ == lkHorizontal) {
        DrawLevelHorizontal(c, core_.Value(), false, core_.Peak());
      } else {
        DrawLevelVertical(c, core_.Value(), false, core_.Peak());
      }
    }
  }
  c.DIB_BitBlt(&Canvas(), vant::Rect(r.Left, r.Top, w, h), 0, 0);
  c.DIB_DoneDrawing();
}

void TMMCustomLevel::Paint() {
  TMMDIBGraphicControl::Paint();
  DrawLevel();
}
