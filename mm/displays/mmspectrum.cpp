#include "mmspectrum.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>

#include "mmdisplaysize.h"
#include "mmpcmsup.h"
#include "mmutils.h"
#include "mmutilsdraw.h"

using vant::TColor;
using vant::TPoint;
using vant::TRect;

int TMMSpectrum::need_data_nesting_ = 0;

namespace {
bool Inside(const TRect& r, TPoint p) {
  return p.X >= r.Left && p.X < r.Right && p.Y >= r.Top && p.Y < r.Bottom;
}
constexpr int kAmpScaleWidth = 32;
constexpr int kFreqScaleHeight = 40;
const char* const kScaleFont = "ARIAL";
}  // namespace

TMMSpectrum::TMMSpectrum(vant::TComponent* owner)
    : TMMScaledDisplay(owner), unlit_(std::make_unique<TMMDIBCanvas>(this)) {
  SetColor(vant::clBlack);
  SetCursor(-3);
  SetBounds(0, 0, 194, 89);
  constructing_ = false;
  core_.Input.SetFFTLength(8);
  SetFFTLength(128);
  Changed();
  CreatePeakTimer();
}

TMMSpectrum::~TMMSpectrum() {
  Destroying();
  vant::MMTimeKillEvent(peak_timer_);
}

// ---- the peak timer --------------------------------------------------------------------------

void TMMSpectrum::CreatePeakTimer() {
  if (HasState(vant::csDesigning) || peak_timer_) return;
  peak_timer_ = vant::MMTimeSetEvent(
      vant::kMMTimerPeriod, false,
      // The timer thread only moves the records' peak counters; the next frame shows them.
      [](vant::PMMTimeEvent, void* self) {
        auto* s = static_cast<TMMSpectrum*>(self);
        if (!s->info_mode_.load(std::memory_order_relaxed)) s->core_.PeakTick();
      },
      this);
  peak_suspended_ = false;
  UpdatePeakTimer();
}

void TMMSpectrum::UpdatePeakTimer() {
  if (!peak_timer_) return;
  const bool want = GetEnabled() && core_.NumPeaks > 0;
  if (want && peak_suspended_) vant::MMTimeResumeEvent(peak_timer_);
  if (!want && !peak_suspended_) vant::MMTimeSuspendEvent(peak_timer_);
  peak_suspended_ = !want;
}

void TMMSpectrum::SuspendPeakTimer() {
  if (peak_timer_ && !peak_suspended_) vant::MMTimeSuspendEvent(peak_timer_);
  peak_suspended_ = true;
}

void TMMSpectrum::ChangeDesigning(bool value) {
  TMMDIBGraphicControl::ChangeDesigning(value);
  if (!value) {
    CreatePeakTimer();
    InitializeData();
  }
}

// ---- the display data interface --------------------------------------------------------------

void TMMSpectrum::SetPCMWaveFormat(const WAVEFORMATEX& format) {
  if (!pcmIsValidFormat(&format)) throw EMMSpectrumError(LoadResStr(62));
  SetSampleRate(static_cast<int>(format.nSamplesPerSec));
  SetBitLength(static_cast<TMMBits>(format.wBitsPerSample / 8 - 1));
  SetMode(static_cast<TMMMode>(std::max<int>(format.nChannels, 1) - 1));
}

WAVEFORMATEX TMMSpectrum::GetPCMWaveFormat() const {
  WAVEFORMATEX f{};
  pcmBuildWaveHeader(f, (core_.Input.Bits + 1) * 8, core_.Input.Channels, core_.SampleRate);
  return f;
}

void TMMSpectrum::UpdateSliceBytes() { SetSliceBytes(core_.Input.SliceBytes()); }

void TMMSpectrum::RefreshPCMData(const void* slice) {
  if (!GetEnabled() || !GetVisible() || info_mode_ || !slice) return;
  const int overflows = core_.Input.Transform(static_cast<const uint8_t*>(slice), core_.FFTData());
  for (int i = 0; i < overflows; ++i) PcmOverflow();
  core_.CalcMagnitude(false);
  ShowData();
}

void TMMSpectrum::RefreshFFTData(const int16_t* data) {
  if (!GetEnabled() || !GetVisible() || info_mode_ || !data) return;
  std::copy(data, data + core_.N(), core_.FFTData());
  core_.CalcMagnitude(false);
  ShowData();
}

void TMMSpectrum::RefreshMagnitudeData(const int32_t* data) {
  if (!GetEnabled() || !GetVisible() || info_mode_ || !data) return;
  core_.SetMagnitudeData(data);
  core_.CalcMagnitude(true);
  ShowData();
}

void TMMSpectrum::ShowData() {
  FastDraw([this](bool clear) { DrawSpectrum(clear); }, false);
}

void TMMSpectrum::ResetData() {
  EndInfo();
  InitializeData();
  Invalidate();
}

void TMMSpectrum::InitializeData() {
  core_.InitializeData();
  if (GetEnabled() && OnNeedData) OnNeedData(this);
}

void TMMSpectrum::NeedData() {
  if (HasState(vant::csLoading) || constructing_) return;
  if (need_data_nesting_ > 0) return;
  ++need_data_nesting_;
  struct Leave {
    ~Leave() { --need_data_nesting_; }
  } leave;
  InitializeData();
}

void TMMSpectrum::GainOverflow() {
  if (OnGainOverflow) OnGainOverflow(this);
}

void TMMSpectrum::PcmOverflow() {
  if (OnPcmOverflow) OnPcmOverflow(this);
}

// ---- properties ------------------------------------------------------------------------------

void TMMSpectrum::SetSpace(int v) {
  if (v < 0 || v > 5 || v == space_) return;
  space_ = v;
  core_.ResetPeakValues();
  DrawInactiveSpots();
  Invalidate();
}

void TMMSpectrum::SetSpotSpace(int v) {
  if (v < 0 || v > 10 || v == spot_space_) return;
  spot_space_ = v;
  CalcNumSpots();
  core_.ResetPeakValues();
  Invalidate();
}

void TMMSpectrum::SetSpotHeight(int v) {
  if (v < 1 || v > core_.H() / 3 || v == spot_height_) return;
  spot_height_ = v;
  CalcNumSpots();
  core_.ResetPeakValues();
  Invalidate();
}

void TMMSpectrum::SetBarColor(int zone, TColor c) {
  if (bar_colors_[Zone(zone)] == c) return;
  bar_colors_[Zone(zone)] = c;
  DrawInactiveSpots();
  Invalidate();
}

void TMMSpectrum::SetInactiveColor(int zone, TColor c) {
  if (inactive_colors_[Zone(zone)] == c) return;
  inactive_colors_[Zone(zone)] = c;
  DrawInactiveSpots();
  Invalidate();
}

void TMMSpectrum::SetInactiveDoted(bool v) {
  if (v == inactive_doted_) return;
  inactive_doted_ = v;
  DrawInactiveSpots();
  Invalidate();
}

void TMMSpectrum::SetOnDrawBar(TMMSpectrumDrawBar handler) {
  const bool cleared = on_draw_bar_ && !handler;
  on_draw_bar_ = std::move(handler);
  if (cleared) DrawInactiveSpots();
  Invalidate();
}

void TMMSpectrum::SetPoint1(int v) {
  if (v < 1 || v > 100 || v == point1_) return;
  point1_ = v;
  CalcNumSpots();
  Invalidate();
}

void TMMSpectrum::SetPoint2(int v) {
  if (v < 1 || v > 100 || v == point2_) return;
  point2_ = v;
  CalcNumSpots();
  Invalidate();
}

void TMMSpectrum::SetMode(TMMMode v) {
  if (core_.Input.Channels == v + 1) return;
  core_.Input.Channels = v + 1;
  UpdateSliceBytes();
  Invalidate();
}

void TMMSpectrum::SetBitLength(TMMBits v) {
  if (core_.Input.Bits == v) return;
  core_.Input.Bits = v;
  UpdateSliceBytes();
  Invalidate();
}

void TMMSpectrum::SetChannel(TMMChannel v) {
  if (core_.Input.Channel == v) return;
  core_.Input.Channel = v;
  Invalidate();
}

void TMMSpectrum::SetSampleRate(int v) {
  if (v == core_.SampleRate) return;
  core_.SampleRate = std::clamp(v, 8000, 100000);
  SetupXScale();
  NeedData();
  Invalidate();
}

void TMMSpectrum::SetRefFreq(int v) {
  v = std::clamp(v, 1, 44100);
  if (v == core_.RefFreq) return;
  core_.RefFreq = v;
  SetupYScale();
}

void TMMSpectrum::SetGain(TMMSpectrumGain v) {
  if (v == gain_) return;
  gain_ = v;
  core_.Input.Order = v / 2;
  core_.HalfStep = v % 2 != 0;
  SetupYScale();
}

void TMMSpectrum::SetVerticalScale(int v) {
  v = std::clamp(v, 1, 500);
  if (v == GetVerticalScale()) return;
  core_.Factor = v * 0.01;
  SetupYScale();
}

void TMMSpectrum::SetupYScale() {
  if (!HasState(vant::csLoading)) core_.SetupYScale();
  core_.ResetPeakValues();
  Invalidate();
}

void TMMSpectrum::SetFFTLength(int v) {
  v = SpectrumFFTLength(v);
  if (v == core_.N()) return;
  core_.Input.SetFFTLength(v);
  SetupXScale();
  UpdateSliceBytes();
  NeedData();
  Invalidate();
}

void TMMSpectrum::SetLogFreq(bool v) {
  if (v == core_.LogFreq) return;
  core_.LogFreq = v;
  SetupXScale();
  NeedData();
  Invalidate();
}

void TMMSpectrum::SetLogAmp(bool v) {
  if (v == core_.LogAmp) return;
  core_.LogAmp = v;
  if (!HasState(vant::csLoading)) core_.SetupYScale();
  NeedData();
  Invalidate();
}

void TMMSpectrum::SetKind(TMMSpectrumKind v) {
  if (v == kind_) return;
  kind_ = v;
  CalcNumSpots();
  core_.ResetPeakValues();
  Invalidate();
}

void TMMSpectrum::SetFrequencyScale(int v) {
  v = std::clamp(v, 1, 16);
  int p = 1;
  while (p * 2 <= v) p *= 2;
  if (p == static_cast<int>(core_.Zoom)) return;
  core_.Zoom = p;
  SetupXScale();
  NeedData();
  Invalidate();
}

void TMMSpectrum::SetNumPeaks(int v) {
  if (v < 0 || v > 5 || v == core_.NumPeaks) return;
  core_.NumPeaks = v;
  core_.ResetPeakValues();
  UpdatePeakTimer();
  Invalidate();
}

void TMMSpectrum::SetPeakDelay(int v) {
  if (v < 0 || v > 50 || v == core_.PeakDelay) return;
  core_.PeakDelay = v;
  core_.ResetPeakValues();
  Invalidate();
}

void TMMSpectrum::SetPeakSpeed(int v) {
  if (v < 0 || v > 50 || v == core_.PeakSpeed) return;
  core_.PeakSpeed = v;
  core_.ResetPeakValues();
  Invalidate();
}

// ---- geometry --------------------------------------------------------------------------------

void TMMSpectrum::AdjustSize(int& width, int& height) const {
  const int b = DisplayBevel(BevelExtend());
  width = std::max(width, 2 * b + 5 + (draw_amp_scale_ ? 2 * kAmpScaleWidth : 0));
  height = std::max(height, 2 * b + 5 + (draw_freq_scale_ ? kFreqScaleHeight : 0));
}

void TMMSpectrum::Changed() {
  if (!unlit_) return;  // still being built
  const int b = DisplayBevel(BevelExtend());
  TRect r = ClientRect();
  if (draw_amp_scale_) {
    r.Left += kAmpScaleWidth;
    r.Right -= kAmpScaleWidth;
  }
  if (draw_freq_scale_) r.Bottom -= kFreqScaleHeight;
  vant::InflateRect(r, -b, -b);
  r.Right = std::max(r.Right, r.Left + 4);
  r.Bottom = std::max(r.Bottom, r.Top + 4);
  rect_ = r;
  const int w = r.Right - r.Left, h = r.Bottom - r.Top;
  // The timer's thread walks the records: they are made again only while it is held.
  SuspendPeakTimer();
  core_.SetSize(w, h);
  UpdatePeakTimer();
  DIBCanvas().SetBounds(0, 0, w, h);
  unlit_->SetBounds(0, 0, w, h);
  CalcNumSpots();
  UpdateSliceBytes();
  SetupXScale();
  NeedData();
  TMMDIBGraphicControl::Changed();
}

void TMMSpectrum::CalcNumSpots() {
  const int h = core_.H();
  spot_height_ = std::max(spot_height_, 1);
  spots_ = std::max((h + spot_space_) / (spot_height_ + spot_space_), 1);
  margin_ = (h + spot_space_ - (spot_height_ + spot_space_) * spots_) / 2;
  auto zone = [&](int point) -> int {
    switch (kind_) {
      case skLines:
      case skVLines:
        return static_cast<int>(std::nearbyint(point * h / 100.0));
      case skBars:
      case skPeaks:
        return static_cast<int>(std::nearbyint(point * spots_ / 100.0));
      case skScroll:
        return static_cast<int>(std::nearbyint(point * h / 3.0 / 100.0));
      default:
        return static_cast<int>(std::nearbyint(h - point * h / 100.0));
    }
  };
  z1_ = zone(point1_);
  z2_ = zone(point2_);
  baseline_ = kind_ == skScroll ? h - h / 3 : 1;
  DrawInactiveSpots();
  NeedData();
}

void TMMSpectrum::SetupXScale() {
  if (HasState(vant::csLoading)) return;
  if (OnGetXScale) {
    core_.SetupXScale([this](int32_t* a, int32_t* b) { OnGetXScale(this, a, b); });
  } else {
    core_.SetupXScale();
  }
  DrawInactiveSpots();
  Invalidate();
}

void TMMSpectrum::SetBPP(int value) {
  TMMDIBGraphicControl::SetBPP(value);  // refuses anything but 8 and 24
  unlit_->SetBPP(value);
  DrawInactiveSpots();
  Invalidate();
}

void TMMSpectrum::Loaded() {
  TMMDIBGraphicControl::Loaded();
  SetupXScale();
  NeedData();
  Invalidate();
}

void TMMSpectrum::ColorChanged() {
  DrawInactiveSpots();
  TMMDIBGraphicControl::ColorChanged();
}

void TMMSpectrum::EnabledChanged() {
  TMMDIBGraphicControl::EnabledChanged();
  if (GetEnabled()) {
    NeedData();
  } else {
    ResetData();
  }
  UpdatePeakTimer();
  Invalidate();
}

// ---- queries ---------------------------------------------------------------------------------

double TMMSpectrum::GetFrequencyAtPos(TPoint p) const {
  if (!Inside(rect_, p)) return 0;
  const int w = rect_.Right - rect_.Left;
  const double x = p.X - rect_.Left, n = core_.N(), sr = core_.SampleRate;
  double f;
  if (core_.LogFreq) {
    f = core_.Base * std::exp(x * std::log(n / 2) / ((w - 1) * core_.Zoom));
  } else {
    f = core_.Base + x * (sr / 2 - core_.Base) / (w - 1) / core_.Zoom;
  }
  return std::max(f, 0.0);
}

double TMMSpectrum::GetAmplitudeAtPos(TPoint p) const {
  if (!Inside(rect_, p)) return 0;
  const double h = rect_.Bottom - rect_.Top, y = p.Y - rect_.Top;
  if (core_.LogAmp) return -10 * (6 * y / (h - 1));
  return 10 / (h - 1) * (h - y - 1) * core_.Factor * 0.1;
}

int TMMSpectrum::GetOptimalWidth(int width) const {
  if (kind_ != skVLines && kind_ != skBars && kind_ != skPeaks) return width;
  const int b = DisplayBevel(BevelExtend());
  const int bins = std::max((core_.N() / 2) / static_cast<int>(core_.Zoom), 1);
  const int scales = draw_amp_scale_ ? 2 * kAmpScaleWidth : 0;
  const int c = (width - 2 * b - scales) / bins;
  if (c <= 0) return width;
  return 2 * b + bins * c + scales;
}

// ---- drawing ---------------------------------------------------------------------------------

int TMMSpectrum::ZoneOfValue(int v) const { return v > z2_ ? 3 : v > z1_ ? 2 : 1; }

int TMMSpectrum::RowOf(int v) const {
  const int h = core_.H();
  return std::clamp(h - v - baseline_, 0, h - 1);
}

void TMMSpectrum::DrawSpectrum(bool clear) {
  TMMDIBCanvas& c = DIBCanvas();
  const int w = core_.W(), h = core_.H();
  const TRect all = vant::Rect(0, 0, w, h);
  c.DIB_InitDrawing();
  colors_cache_.Reset();
  const int overflows = core_.CalcDisplayValues();
  // Bars over the unlit spots: only the bars that changed since the last frame are drawn again,
  // and a frame where none changed reaches the screen unchanged.
  const BarsKey key = CurrentBarsKey();
  bool changed = true;
  const bool updated = !clear && key.usable && key == drawn_key_ && UpdateBars(c, changed);
  if (!updated) changed = true;
  if (!updated) {
    const bool scrolling = kind_ == skScroll && !clear && !HasState(vant::csDesigning);
    if (!scrolling) {
      if (on_draw_bar_ || kind_ == skScroll) {
        if (OnClearBackground) {
          OnClearBackground(this, c, all);
        } else {
          colors_cache_.Set(c, GetColor());
          c.DIB_CLEAR();
        }
      } else if ((kind_ == skBars || kind_ == skPeaks) && draw_inactive_) {
        c.DIB_COPYDIBBITS(unlit_->Surface(), 0, 0, w, h, 0, 0);
      } else if (OnClearBackground) {
        OnClearBackground(this, c, all);
      } else {
        DrawBackGround();
      }
    } else {
      // Earlier lines move down and stay visible below the newest one.
      c.DIB_COPYDIBBITS(c.Surface(), 0, SCROLLDISTANCE, w, h - SCROLLDISTANCE, 0, 0);
      colors_cache_.Set(c, GetColor());
      c.DIB_FILLRECT(vant::Rect(0, 0, w, SCROLLDISTANCE));
    }
  }
  for (int i = 0; i < overflows; ++i) GainOverflow();
  if (!updated) {
    if (kind_ != skScroll) DrawGrids(c);
    switch (kind_) {
      case skDots:
        DrawAsDots(c);
        break;
      case skLines:
      case skScroll:
        DrawAsLines(c);
        break;
      case skVLines:
        DrawAsVLines(c);
        break;
      default:
        DrawAsBars(c);
        break;
    }
    // The bars just drawn are what the next frame builds on.
    drawn_key_ = key.usable ? CurrentBarsKey() : BarsKey{};
  }
  if (changed && updated) {
    c.DIB_BitBlt(&Canvas(), vant::Rect(rect_.Left, rect_.Top, w, h), 0, 0, bars_drawn_);
  } else if (changed) {
    c.DIB_BitBlt(&Canvas(), vant::Rect(rect_.Left, rect_.Top, w, h), 0, 0);
  }
  c.DIB_DoneDrawing();
  DrawPeakValue();
}

void TMMSpectrum::DrawAsDots(TMMDIBCanvas& c) {
  const int h = core_.H();
  for (TDrawVal* r = core_.Records(); r->First != -1; ++r) {
    const int y = std::clamp(h - r->Value - 1, 0, h - 1);
    const int zone = y <= z2_ ? 3 : y <= z1_ ? 2 : 1;
    colors_cache_.Set(c, GetEnabled() ? bar_colors_[zone - 1] : inactive_colors_[0]);
    c.DIB_HLINE(r->First, std::max(r->End, r->First + 1), y);
  }
}

// A Bresenham walk from the pen to (x, y), each pixel in the colour of its own zone; `pointed`
// plots a steep run only where the column changes.
void TMMSpectrum::PointedLineTo(TMMDIBCanvas& c, int x, int y, bool pointed) {
  const int h = core_.H();
  uint32_t colors[3];
  for (int i = 0; i < 3; ++i)
    colors[i] = colors_cache_.Raw(c, GetEnabled() ? bar_colors_[i] : inactive_colors_[0]);
  int x0 = biPenPos.X, y0 = biPenPos.Y;
  const int dx = std::abs(x - x0), dy = -std::abs(y - y0);
  const int sx = x0 < x ? 1 : -1, sy = y0 < y ? 1 : -1;
  const bool steep = -dy > dx;
  int err = dx + dy, last_x = x0 - sx;
  while (x0 != x || y0 != y) {
    if (!pointed || !steep || x0 != last_x) {
      c.DIB_SETPIXEL(x0, y0, colors[ZoneOfValue(h - y0 - baseline_) - 1]);
      last_x = x0;
    }
    const int e2 = 2 * err;
    if (e2 >= dy) {
      err += dy;
      x0 += sx;
    }
    if (e2 <= dx) {
      err += dx;
      y0 += sy;
    }
  }
  c.DIB_MOVETO(x, y);
}

void TMMSpectrum::DrawAsLines(TMMDIBCanvas& c) {
  TDrawVal* recs = core_.Records();
  if (recs[0].First == -1) return;
  const int w = core_.W();
  const bool zoned = c.GetBPP() == 8;
  const TColor one = GetEnabled() ? bar_colors_[0] : inactive_colors_[0];
  auto line = [&](auto value_of) {
    c.DIB_MOVETO(0, RowOf(value_of(recs[0])));
    int y = 0;
    for (TDrawVal* r = recs; r->First != -1; ++r) {
      const int x = r->First + (r->End - r->First) / 2;
      y = RowOf(value_of(*r));
      if (zoned) {
        PointedLineTo(c, x, y, kind_ == skScroll);
      } else {
        colors_cache_.Set(c, one);
        c.DIB_LINETO(x, y);
      }
    }
    colors_cache_.Set(c, one);
    c.DIB_LINETO(w, y);
  };
  line([](const TDrawVal& r) { return r.Value; });
  if (kind_ == skScroll || core_.NumPeaks == 0) return;
  for (TDrawVal* r = recs; r->First != -1; ++r) core_.HoldPeak(*r, r->Value);
  line([](const TDrawVal& r) { return r.Peak.load(std::memory_order_relaxed); });
}

void TMMSpectrum::DrawAsVLines(TMMDIBCanvas& c) {
  const int h = core_.H();
  for (TDrawVal* r = core_.Records(); r->First != -1; ++r) {
    r->Value = std::clamp(r->Value, 0, h - 1);
    int v = r->Value;
    const int a = (h + v) / 2;
    int x1 = r->First, width = std::max(r->End - r->First, 1);
    if (width > space_) {
      x1 += space_ / 2;
      width -= space_;
    }
    TRect rc = vant::Rect(x1, h - a - 1, x1 + width, a + 1);
    if (!GetEnabled()) {
      colors_cache_.Set(c, inactive_colors_[0]);
      c.DIB_FILLRECT(rc);
      continue;
    }
    if (v > z2_) {
      colors_cache_.Set(c, bar_colors_[2]);
      c.DIB_FILLRECT(rc);
      rc.Top += (v - z2_) / 2;
      rc.Bottom -= (v - z2_) / 2;
      v = z2_;
    }
    if (v > z1_) {
      colors_cache_.Set(c, bar_colors_[1]);
      c.DIB_FILLRECT(rc);
      rc.Top += (v - z1_) / 2;
      rc.Bottom -= (v - z1_) / 2;
    }
    colors_cache_.Set(c, bar_colors_[0]);
    c.DIB_FILLRECT(rc);
  }
}

namespace {

// Round(value / per + 0.5) clamped to 0 .. levels, without the library call per bar: adding and
// taking away 2^52 rounds a double below it half to even, as the default rounding mode does.
int LitSpots(int32_t value, double per, int levels) {
  const double x = std::clamp(value / per + 0.5, 0.0, static_cast<double>(levels));
  return static_cast<int>((x + 0x1p52) - 0x1p52);
}

}  // namespace

void TMMSpectrum::DrawAsBars(TMMDIBCanvas& c) {
  const int h = core_.H();
  const int levels = on_draw_bar_ ? h : spots_;
  const double per = double(h) / levels;
  drawn_.clear();
  for (TDrawVal* r = core_.Records(); r->First != -1; ++r) {
    const int lit = LitSpots(r->Value, per, levels);
    core_.HoldPeak(*r, lit);
    const int peak = r->Peak.load(std::memory_order_relaxed);
    drawn_.push_back({r->First, r->End, r->Value, lit, peak});
    if (on_draw_bar_) {
      on_draw_bar_(this, c, vant::Rect(r->First, 0, r->End, h), lit, peak);
    } else {
      DrawBar(c, r->First, r->End, lit, peak, false, kind_ == skPeaks);
    }
  }
}

TMMSpectrum::BarsKey TMMSpectrum::CurrentBarsKey() {
  BarsKey k;
  k.usable = (kind_ == skBars || kind_ == skPeaks) && draw_inactive_ && !draw_grid_ &&
             !on_draw_bar_ && !display_peak_ && !HasState(vant::csDesigning);
  if (!k.usable) return k;
  TMMDIBCanvas& c = DIBCanvas();
  k.kind = kind_;
  k.bpp = c.GetBPP();
  k.w = core_.W();
  k.h = core_.H();
  k.spots = spots_;
  k.margin = margin_;
  k.spot_height = spot_height_;
  k.spot_space = spot_space_;
  k.space = space_;
  k.z1 = z1_;
  k.z2 = z2_;
  k.peaks = core_.NumPeaks;
  k.doted = active_doted_;
  for (int i = 0; i < 3; ++i) k.colors[i] = bar_colors_[i];
  k.surface = c.Surface();
  k.unlit_serial = unlit_serial_;
  return k;
}

bool TMMSpectrum::UpdateBars(TMMDIBCanvas& c, bool& changed) {
  TDrawVal* recs = core_.Records();
  BarDrawn* drawn = drawn_.data();
  const size_t count = drawn_.size();
  const int w = core_.W(), h = core_.H();
  const double per = double(h) / spots_;
  const int step = spot_height_ + spot_space_;
  changed = false;
  bars_drawn_.clear();
  size_t i = 0;
  for (; recs[i].First != -1; ++i) {
    TDrawVal& r = recs[i];
    // Other columns than the last frame's: the caller draws the whole frame.
    if (i >= count || drawn[i].first != r.First || drawn[i].end != r.End) return false;
    BarDrawn& was = drawn[i];
    const int lit = r.Value == was.value ? was.lit : LitSpots(r.Value, per, spots_);
    was.value = r.Value;
    core_.HoldPeak(r, lit);
    const int peak = r.Peak.load(std::memory_order_relaxed);
    if (was.lit == lit && was.peak == peak) continue;
    changed = true;
    // Spots up to the lower lit count stay lit (a peak mark stands above its bar's top).
    const int lo = kind_ == skBars ? std::min(was.lit, lit) + 1 : 1;
    const int hi = std::min(std::max({was.lit, lit, was.peak, peak}), spots_);
    was.lit = lit;
    was.peak = peak;
    if (lo > hi) continue;
    const int top = std::max(h - margin_ - (hi - 1) * step - spot_height_, 0);
    const int bottom = std::min(h - margin_ - (lo - 1) * step, h);
    const int x = std::max(r.First, 0), right = std::min(std::max(r.End, r.First + 1), w);
    if (top >= bottom || x >= right) continue;
    c.DIB_COPYDIBBITS(unlit_->Surface(), x, top, right - x, bottom - top, x, top);
    bars_drawn_.push_back(vant::Rect(x, top, right, bottom));
    DrawBar(c, r.First, r.End, lit, peak, false, kind_ == skPeaks, lo, hi);
  }
  return i == count;
}

void TMMSpectrum::DrawBar(TMMDIBCanvas& c, int first, int end, int lit, int peak, bool unlit,
                          bool only_top, int lo, int hi) {
  const int h = core_.H();
  int x1 = first, width = std::max(end - first, 1);
  if (width > space_) {
    x1 += space_ / 2;
    width -= space_;
  }
  const TColor* colors = unlit ? inactive_colors_ : bar_colors_;
  const bool doted = unlit ? inactive_doted_ : active_doted_;
  auto spot = [&](int k) {
    if (k < lo || k > hi) return;
    const int bottom = h - margin_ - (k - 1) * (spot_height_ + spot_space_);
    colors_cache_.Set(c, colors[(k > z2_ ? 3 : k > z1_ ? 2 : 1) - 1]);
    c.DIB_FILLRECTDOTED(vant::Rect(x1, bottom - spot_height_, x1 + width, bottom), doted);
  };
  if (only_top) {
    if (lit > 0) spot(lit);
  } else {
    for (int k = std::max(lo, 1); k <= std::min(lit, hi); ++k) spot(k);
  }
  // The peak mark: never below spot 1, none for a peak above the top.
  if (core_.NumPeaks > 0 && peak > lit && peak <= spots_) {
    for (int k = peak; k > peak - std::min<int>(core_.NumPeaks, peak); --k) spot(k);
  }
}

void TMMSpectrum::DrawInactiveSpots() {
  ++unlit_serial_;  // bars drawn over the old unlit spots are no base for the next frame
  if (constructing_ || HasState(vant::csLoading) || on_draw_bar_) return;
  if (kind_ != skBars && kind_ != skPeaks) return;
  TMMDIBCanvas& c = *unlit_;
  const int w = core_.W();
  c.DIB_InitDrawing();
  colors_cache_.Reset();
  colors_cache_.Set(c, GetColor());
  c.DIB_CLEAR();
  const int32_t* first = core_.FirstBins();
  for (int i = 0; i < w;) {
    int j = i + 1;
    while (j < w && first[j] == -1) ++j;
    if (first[i] != -1) DrawBar(c, i, j, spots_, 0, true, false);
    i = j;
  }
  c.DIB_DoneDrawing();
}

int TMMSpectrum::FreqDivisions() const {
  for (int d : {32, 16, 8, 4, 2})
    if (core_.W() / d >= SPECTRUM_SCALEFONTSIZE) return d;
  return 1;
}

int TMMSpectrum::AmpDivisions() const {
  int n = core_.LogAmp ? 6 : 10;
  while (core_.H() / n < SPECTRUM_SCALEFONTSIZE && n > 1) --n;
  return n;
}

// Row of linear division k of n, from the bottom.
int TMMSpectrum::LinearRow(int k, int n) const {
  const double f = core_.Factor, h = core_.H();
  return static_cast<int>(std::trunc(k * f * 32760 / n / (f * 32768 / h)));
}

void TMMSpectrum::DrawGrids(TMMDIBCanvas& c) {
  if (!draw_grid_) return;
  const int w = core_.W(), h = core_.H();
  const int n = AmpDivisions(), d = FreqDivisions();
  colors_cache_.Set(c, grid_color_);
  for (int k = 0; k <= n; ++k) {
    const int y =
        core_.LogAmp ? static_cast<int>(std::trunc(k * (h - 1.0) / n)) : h - LinearRow(k, n) - 1;
    c.DIB_HLINEDOTED(0, w, y, 2);
  }
  for (int k = 0; k <= d; ++k) c.DIB_VLINEDOTED(k * (w - 1) / d, 0, h, 2);
}

void TMMSpectrum::DrawScales() {
  vant::TCanvas& cv = Canvas();
  const int b = DisplayBevel(BevelExtend()), w = core_.W(), h = core_.H();
  char text[32];
  cv.Font().SetColor(scale_text_color_);
  cv.Pen().Color = scale_line_color_;
  if (draw_freq_scale_) {
    const int d = FreqDivisions();
    const int y0 = rect_.Bottom + b + 3;
    cv.MoveTo(rect_.Left, y0);
    cv.LineTo(rect_.Right + b, y0);
    const double n = core_.N(), sr = core_.SampleRate;
    for (int k = 0; k <= d; ++k) {
      const int x = rect_.Left + static_cast<int>(std::nearbyint(k * (w - 1.0) / d));
      cv.MoveTo(x, y0);
      cv.LineTo(x, y0 + 3);
      const double f = core_.LogFreq ? core_.Base * std::exp(k * std::log(n / 2) / (d * core_.Zoom))
                                     : core_.Base + k * (sr / 2 - core_.Base) / d / core_.Zoom;
      std::snprintf(text, sizeof text, "%.0f", std::max(f, 0.0));
      TextOutAligned(cv, x, y0 + 6, text, kScaleFont, SPECTRUM_SCALEFONTSIZE, 2);
    }
  }
  if (draw_amp_scale_) {
    const int n = AmpDivisions();
    const int lx = rect_.Left - b - 1, rx = rect_.Right + b;
    for (int k = 0; k <= n; ++k) {
      int y;
      if (core_.LogAmp) {
        y = rect_.Top + static_cast<int>(std::trunc(k * (h - 1.0) / n));
        std::snprintf(text, sizeof text, "%d", static_cast<int>(std::nearbyint(-10.0 * 6 * k / n)));
      } else {
        y = rect_.Bottom - 1 - LinearRow(k, n);
        std::snprintf(text, sizeof text, core_.Factor <= 0.095 ? "%5.3f" : "%4.2f",
                      core_.Factor * k / n);
      }
      cv.MoveTo(lx, y);
      cv.LineTo(lx - 4, y);
      cv.MoveTo(rx, y);
      cv.LineTo(rx + 4, y);
      TextOutAligned(cv, lx - 5, y, text, kScaleFont, SPECTRUM_SCALEFONTSIZE, 1);
      TextOutAligned(cv, rx + 6, y, text, kScaleFont, SPECTRUM_SCALEFONTSIZE, 0);
    }
    cv.MoveTo(lx, rect_.Top - b);
    cv.LineTo(lx, rect_.Bottom + b);
    cv.MoveTo(rx, rect_.Top - b);
    cv.LineTo(rx, rect_.Bottom + b);
  }
  (void)w;
}

void TMMSpectrum::DrawPeakValue() {
  peak_text_.clear();
  TPeak& p = core_.Peak();
  if (HasState(vant::csDesigning) || !display_peak_ || p.Height <= 5) return;
  const double f = core_.PeakFrequency(p.Bin);
  p.Freq = static_cast<float>(f);
  char text[32];
  std::snprintf(text, sizeof text, "%7.1f Hz", f);
  std::string s = text;
  s.erase(0, s.find_first_not_of(' '));
  vant::TCanvas& cv = Canvas();
  cv.Font().SetName("MS Sans Serif");
  cv.Font().SetSize(8);
  cv.Font().SetStyle(vant::fsBold);
  cv.Font().SetColor(vant::clWhite);
  cv.Brush().Style = vant::bsClear;
  const int tw = cv.TextWidth(s), th = cv.TextHeight(s);
  const int w = core_.W(), h = core_.H();
  if (p.Column + tw >= w) p.Column = w - tw - 1;
  const int x = rect_.Left + p.Column;
  // A peak far above the top (a large vertical scale) puts the text at the top.
  const int y =
      rect_.Top + static_cast<int>(std::max<int64_t>(0, int64_t{h} - p.Height - baseline_ - th));
  cv.TextOut(x, y, s);
  cv.Brush().Style = vant::bsSolid;
  peak_text_ = s;
}

void TMMSpectrum::Paint() {
  PaintFrame(draw_amp_scale_ || draw_freq_scale_, rect_);
  if (draw_amp_scale_ && draw_freq_scale_)
    DrawUnits(core_.LogAmp ? "db" : "V", core_.LogAmp ? 23 : 16, 20, 32, "Hz", kScaleFont,
              SPECTRUM_SCALEFONTSIZE, scale_text_color_);
  DrawScales();
  DrawSpectrum(true);
}

// ---- the measuring box -----------------------------------------------------------------------

std::string TMMSpectrum::InfoText(TPoint p) const {
  if (!Inside(rect_, p)) return "";
  char text[64];
  int n = std::snprintf(text, sizeof text, "%2.3f KHz", GetFrequencyAtPos(p) / 1000);
  if (kind_ != skScroll) {
    const double a = GetAmplitudeAtPos(p);
    const char* format = core_.LogAmp              ? " %2.1f dB"
                         : GetVerticalScale() < 10 ? " %5.3f V"
                                                   : " %4.2f V";
    std::snprintf(text + n, sizeof text - n, format, a);
  }
  return text;
}

void TMMSpectrum::DrawInfo(TPoint p) {
  ForgetBars();  // the box is drawn into the canvas
  FastDraw(
      [&](bool) {
        info_.Draw(DIBCanvas(), Canvas(), rect_, {p.X - rect_.Left, p.Y - rect_.Top}, InfoText(p));
        DrawPeakValue();
      },
      false);
}

void TMMSpectrum::MouseDown(vant::TMouseButton b, vant::TShiftState s, int x, int y) {
  TMMDIBGraphicControl::MouseDown(b, s, x, y);
  if (b != vant::mbLeft || HasState(vant::csDesigning) || !GetEnabled() || !show_info_) return;
  x = std::clamp(x, rect_.Left, rect_.Right - 1);  // the box stays with the drawing area
  y = std::clamp(y, rect_.Top, rect_.Bottom - 1);
  info_mode_ = true;
  saved_show_hint_ = GetShowHint();
  SetShowHint(false);
  info_.Begin(DIBCanvas());
  DrawInfo({x, y});
}

void TMMSpectrum::MouseMove(vant::TShiftState s, int x, int y) {
  TMMDIBGraphicControl::MouseMove(s, x, y);
  if (!info_mode_) return;
  DrawInfo(
      {std::clamp(x, rect_.Left, rect_.Right - 1), std::clamp(y, rect_.Top, rect_.Bottom - 1)});
}

void TMMSpectrum::MouseUp(vant::TMouseButton b, vant::TShiftState s, int x, int y) {
  TMMDIBGraphicControl::MouseUp(b, s, x, y);
  if (b == vant::mbLeft) EndInfo();
}

void TMMSpectrum::EndInfo() {
  if (!info_mode_) return;
  ForgetBars();
  if (GetEnabled()) FastDraw([&](bool) { info_.End(DIBCanvas(), Canvas(), rect_); }, false);
  info_.Cancel();
  info_mode_ = false;
  SetShowHint(saved_show_hint_);
}
