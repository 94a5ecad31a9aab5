#include "mmmeter.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "mmdisplaysize.h"
#include "mmmuldiv.h"
#include "mmpcmsup.h"
#include "mmutils.h"

using vant::TCanvas;
using vant::TColor;
using vant::TRect;

TMMCustomMeter::TMMCustomMeter(vant::TComponent* owner)
    : TMMGraphicControl(owner),
      background_(std::make_unique<vant::TBitmap>()),
      buffer_(std::make_unique<vant::TBitmap>()),
      cache_(std::make_unique<vant::TBitmap>()) {
  SetParentColor(false);
  SetParentFont(false);
  SetColor(vant::clBlack);
  Font().SetColor(0xC0C0C0);
  Font().SetStyle(vant::fsBold);
  SetCaption("dB");
  core_.OnGainOverflow = [this] { GainOverflow(); };
  UpdateSlice();
  SetBounds(GetLeft(), GetTop(), 170, 90);
  CreatePeakTimer();
}

TMMCustomMeter::~TMMCustomMeter() {
  Destroying();
  peak_timer_.Kill();
}

// ---- the peak timer --------------------------------------------------------------------------

void TMMCustomMeter::ChangeDesigning(bool value) {
  TMMGraphicControl::ChangeDesigning(value);
  if (!value) CreatePeakTimer();
}

void TMMCustomMeter::CreatePeakTimer() {
  if (HasState(vant::csDesigning)) return;
  // Its ticks run when the next slice draws.
  peak_timer_.Create([this] {
    core_.PeakTick();
    return core_.PeakFalling();
  });
}

void TMMCustomMeter::UpdatePeakTimer() { peak_timer_.Update(PeakTimerWanted()); }

// ---- the display data interface --------------------------------------------------------------

void TMMCustomMeter::SetPCMWaveFormat(const WAVEFORMATEX& format) {
  if (!pcmIsValidFormat(&format)) throw EMMMeterError(LoadResStr(62));
  core_.Level.SetLayout(static_cast<TMMBits>(format.wBitsPerSample / 8 - 1), format.nChannels);
  UpdateSlice();
}

WAVEFORMATEX TMMCustomMeter::GetPCMWaveFormat() const {
  WAVEFORMATEX f{};
  pcmBuildWaveHeader(f, (core_.Level.GetBits() + 1) * 8, core_.Level.GetChannels(), 11025);
  return f;
}

void TMMCustomMeter::UpdateSlice() { SetSliceBytes(core_.Level.SliceBytes()); }

void TMMCustomMeter::RefreshPCMData(const void* slice) {
  if (!GetEnabled() || !GetVisible() || !slice) return;
  const int32_t m = core_.Level.Magnitude(static_cast<const uint8_t*>(slice));
  if (m >= kMeterRange) PcmOverflow();
  SetData(m);
}

void TMMCustomMeter::ResetData() {
  core_.Reset();
  UpdatePeakTimer();
  Invalidate();
}

void TMMCustomMeter::SetData(int32_t level) {
  peak_timer_.CatchUp();
  if (!core_.SetData(level)) return;
  UpdatePeakTimer();  // a new peak starts its hold, or the needle fell below the peak
  if (GetEnabled() && GetVisible()) FastDraw();
}

void TMMCustomMeter::SetValue(int percent) {
  percent = MinMax(percent, 0, 100);
  SetData(static_cast<int32_t>(std::nearbyint(percent * double{kMeterRange} / 100)));
}

void TMMCustomMeter::SetDCOffset(int index, int32_t value) {
  const TMMLevelCore& l = core_.Level;
  if (index == 0) core_.Level.SetDCOffsets(value, l.GetDCOffsetR());
  if (index == 1) core_.Level.SetDCOffsets(l.GetDCOffsetL(), value);
}

int32_t TMMCustomMeter::GetDCOffset(int index) const {
  return index == 0 ? core_.Level.GetDCOffsetL() : index == 1 ? core_.Level.GetDCOffsetR() : 0;
}

void TMMCustomMeter::GainOverflow() {
  if (OnGainOverflow) OnGainOverflow(this);
}

void TMMCustomMeter::PcmOverflow() {
  if (OnPcmOverflow) OnPcmOverflow(this);
}

// ---- properties ------------------------------------------------------------------------------

template <class T, class V>
void TMMCustomMeter::Set(T& field, V value) {
  if (field == static_cast<T>(value)) return;
  field = static_cast<T>(value);
  Invalidate();
}

void TMMCustomMeter::SetScaleColor(int zone, TColor value) {
  Set(scale_colors_[Zone(zone)], value);
}
void TMMCustomMeter::SetNeedleColor(TColor value) { Set(needle_color_, value); }
void TMMCustomMeter::SetPeakColor(TColor value) { Set(peak_color_, value); }
void TMMCustomMeter::SetNeedleOffset(int value) {
  Set(geometry_.NeedleOffset, MinMax(value, 0, kLevelMaxDistance));
}
void TMMCustomMeter::SetNeedleWidth(int value) {
  Set(needle_width_, MinMax(value, 0, kLevelMaxDistance));
}
void TMMCustomMeter::SetScaleOrigin(TMMScaleOrigin value) { Set(scale_origin_, value); }
void TMMCustomMeter::SetScaleHeight1(int value) {
  Set(scale_height1_, MinMax(value, 0, kLevelMaxDistance));
}
void TMMCustomMeter::SetScaleHeight2(int value) {
  Set(scale_height2_, MinMax(value, 0, kLevelMaxDistance));
}
void TMMCustomMeter::SetScaleAngle(int value) { Set(geometry_.ScaleAngle, MinMax(value, 45, 180)); }
void TMMCustomMeter::SetScaleTicks(int value) {
  Set(scale_ticks_, MinMax(value, 0, kLevelMaxScaleTicks));
}
void TMMCustomMeter::SetScaleTicksEnlargeEvery(int value) { Set(enlarge_every_, value); }
void TMMCustomMeter::SetScaleTicksTextEvery(int value) { Set(text_every_, value); }
void TMMCustomMeter::SetDrawScale(bool value) { Set(draw_scale_, value); }
void TMMCustomMeter::SetTopSpace(int value) {
  Set(geometry_.TopSpace, MinMax(value, -kLevelMaxDistance, kLevelMaxDistance));
}
void TMMCustomMeter::SetPoint1(int value) { Set(point1_, MinMax(value, 1, 100)); }
void TMMCustomMeter::SetPoint2(int value) { Set(point2_, MinMax(value, 1, 100)); }

void TMMCustomMeter::SetBitLength(TMMBits value) {
  core_.Level.SetLayout(value, core_.Level.GetChannels());
  UpdateSlice();
}

void TMMCustomMeter::SetMode(TMMMode value) {
  core_.Level.SetLayout(core_.Level.GetBits(), value + 1);
  UpdateSlice();
}

void TMMCustomMeter::SetGain(int32_t value) {
  if (value < -8 || value > 32) return;
  core_.Level.Gain = value;
}

void TMMCustomMeter::SetSamples(int32_t value) {
  core_.Level.SetSamples(value);
  UpdateSlice();
}

void TMMCustomMeter::SetSensitivy(int32_t value) {
  Set(core_.Level.Sensitivity, MinMax(value, -90, -9));
}

void TMMCustomMeter::SetLogAmp(bool value) { Set(core_.Level.LogAmp, value); }

void TMMCustomMeter::SetShowPeak(bool value) {
  if (value == core_.ShowPeak) return;
  core_.ShowPeak = value;
  core_.ResetPeakCounter();
  UpdatePeakTimer();
  Invalidate();
}

void TMMCustomMeter::SetPeakSpeed(int value) {
  core_.PeakSpeed = MinMax(value, 0, 50);
  core_.ResetPeakCounter();
}
void TMMCustomMeter::SetPeakDelay(int value) {
  core_.PeakDelay = MinMax(value, 0, 50);
  core_.ResetPeakCounter();
}

void TMMCustomMeter::SetBackGround(const vant::TBitmap& bitmap) {
  background_->Assign(&bitmap);
  Invalidate();
}

void TMMCustomMeter::EnabledChanged() {
  TMMGraphicControl::EnabledChanged();
  ResetData();
  UpdatePeakTimer();
}

void TMMCustomMeter::TextChanged() {
  TMMGraphicControl::TextChanged();
  Invalidate();
}

void TMMCustomMeter::FontChanged() {
  TMMGraphicControl::FontChanged();
  Invalidate();
}

// ---- geometry --------------------------------------------------------------------------------

void TMMCustomMeter::SetBounds(int left, int top, int width, int height) {
  TMMGraphicControl::SetBounds(left, top, width, height);
  Changed();
}

void TMMCustomMeter::Changed() {
  if (!cache_) return;  // still being built
  const TRect r = FaceRect();
  geometry_.W = DisplayExtent(r.Left, r.Right, 1);
  geometry_.H = DisplayExtent(r.Top, r.Bottom, 1);
  buffer_->SetSize(geometry_.W, geometry_.H);
  cache_->SetSize(geometry_.W, geometry_.H);
  ResetData();
}

void TMMCustomMeter::ComputeNeedleEnd(vant::TPoint& point, int32_t value, int radius) const {
  const TMMMeterPoint p = geometry_.NeedleEnd(value, radius);
  point = {p.X, p.Y};
}

// ---- drawing ---------------------------------------------------------------------------------

void TMMCustomMeter::DrawBackGround(TCanvas& c) {
  const TRect face{0, 0, geometry_.W, geometry_.H};
  if (background_->Empty()) {
    c.Brush().Style = vant::bsSolid;
    c.Brush().Color = GetColor();
    c.FillRect(face);
  } else {
    c.StretchDraw(face, *background_);
  }
  if (!draw_scale_ || scale_ticks_ <= 1) return;
  const int last = scale_ticks_ - 1;
  const int r = geometry_.Radius();
  const int h1 = scale_height1_, h2 = scale_height2_;
  c.Pen().Width = 1;
  c.Pen().Style = vant::psSolid;
  c.Pen().Mode = vant::pmCopy;
  c.Font().SetName("Small Fonts");
  c.Font().SetSize(6);
  c.Font().SetColor(Font().GetColor());
  c.Font().SetStyle(0);
  c.Brush().Style = vant::bsClear;
  for (int i = 0; i < scale_ticks_; ++i) {
    const int32_t v = MulDiv32(kMeterRange, i, last);
    const bool is_short = enlarge_every_ > 0 && i != last && i % enlarge_every_ != 0;
    const int short_end = r + h1 - h2 - 2;
    int from, to;
    if (scale_origin_ == soInner) {
      from = r - h2 - 2;
      to = is_short ? short_end : r - 2;
    } else {
      from = r - 2;
      to = is_short ? short_end : r - h2 - 2;
    }
    const int64_t scaled = int64_t{v} * 100;
    c.Pen().Color = scaled <= int64_t{point1_} * kMeterRange   ? scale_colors_[0]
                    : scaled <= int64_t{point2_} * kMeterRange ? scale_colors_[1]
                                                               : scale_colors_[2];
    const TMMMeterPoint a = geometry_.NeedleEnd(v, from), b = geometry_.NeedleEnd(v, to);
    c.MoveTo(a.X, a.Y);
    c.LineTo(b.X, b.Y);
    if (text_every_ <= 0 || i % text_every_ != 0) continue;
    const int db = core_.TickLabel(i, scale_ticks_);
    const std::string text = std::to_string(db);
    // Digits centred on the tick; a minus sign hangs to their left.
    const TMMMeterPoint outer = std::max(from, to) == from ? a : b;
    const int x = outer.X + c.TextWidth(std::to_string(std::abs(db))) / 2 - c.TextWidth(text) + 1;
    const int y = outer.Y - c.TextHeight("0") - 3;
    c.TextOut(x, y, text);
  }
}

void TMMCustomMeter::DrawText(TCanvas& c) {
  const std::string caption = GetCaption();
  if (caption.empty()) return;
  c.Font().Assign(&Font());
  c.Brush().Style = vant::bsClear;
  const int h = geometry_.H;
  TRect band{0, h - h / 16 - c.TextHeight("W"), geometry_.W, h - h / 16};
  c.DrawText(caption, band, DT_CENTER | DT_SINGLELINE | DT_VCENTER);
}

void TMMCustomMeter::DrawMeter(bool fast) {
  TCanvas& c = buffer_->Canvas();
  if (fast) {
    c.Draw(0, 0, *cache_);
  } else {
    DrawBackGround(c);
    DrawText(c);
    cache_->Canvas().Draw(0, 0, *buffer_);
  }
  const TMMMeterPoint pivot = geometry_.Pivot();
  const int r = geometry_.Radius();
  c.Pen().Width = needle_width_;
  c.Pen().Style = vant::psSolid;
  c.Pen().Mode = vant::pmCopy;
  auto needle = [&](int32_t value, TColor color) {
    const TMMMeterPoint end = geometry_.NeedleEnd(value, r);
    c.Pen().Color = color;
    c.MoveTo(pivot.X, pivot.Y);
    c.LineTo(end.X, end.Y);
  };
  if (core_.ShowPeak) needle(core_.Peak(), peak_color_);
  needle(core_.Needle(), needle_color_);
  drawn_ = NeedlesNow();
  const TRect r2 = FaceRect();
  Canvas().Draw(r2.Left, r2.Top, *buffer_);
  if (OnPostPaint) OnPostPaint(this);
}

TMMCustomMeter::DrawnNeedles TMMCustomMeter::NeedlesNow() const {
  const int r = geometry_.Radius();
  DrawnNeedles n{true, core_.ShowPeak, geometry_.NeedleEnd(core_.Needle(), r), {}};
  if (n.peak_shown) n.peak = geometry_.NeedleEnd(core_.Peak(), r);
  return n;
}

void TMMCustomMeter::FastDraw() {
  if (!GetVisible() || !GetParent()) return;
  const DrawnNeedles now = NeedlesNow();
  auto same = [](TMMMeterPoint a, TMMMeterPoint b) { return a.X == b.X && a.Y == b.Y; };
  if (drawn_.valid && drawn_.peak_shown == now.peak_shown && same(drawn_.needle, now.needle) &&
      (!now.peak_shown || same(drawn_.peak, now.peak)))
    return;
  PaintNow([this](TCanvas&) { DrawMeter(true); });
}

void TMMCustomMeter::Paint() {
  Bevel().PaintBevel(Canvas(), ClientRect(), true);
  DrawMeter(false);
}
