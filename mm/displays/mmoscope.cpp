#include "mmoscope.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>

#include "mmdisplaysize.h"
#include "mmpcmsup.h"
#include "mmutils.h"
#include "mmutilsdraw.h"
#include "mmwavefmt.h"

using vant::TColor;
using vant::TPoint;
using vant::TRect;

namespace {
constexpr int kAmpScaleWidth = 32;
constexpr int kTimeScaleHeight = 40;
const char* const kScaleFont = "ARIAL";
enum {
  cFore,
  cInactive,
  cEffect,
  cDisabled,
  cScaleText,
  cScaleLine,
  cGrid,
  cBar,
  cBarTick,
  cUnused,
  cSelection,
  cSelectionDot,
  cLocator
};
}  // namespace

TMMOscope::TMMOscope(vant::TComponent* owner) : TMMScaledDisplay(owner) {
  SetColor(vant::clBlack);
  SetCursor(-3);
  fft_length_ = 8;
  SetBounds(0, 0, 194, 90);
  SetFFTLength(128);
}

TMMOscope::~TMMOscope() { Destroying(); }

void TMMOscope::ChangeDesigning(bool value) {
  TMMDIBGraphicControl::ChangeDesigning(value);
  if (!value) InitializeData();
}

// ---- the display data interface --------------------------------------------------------------

void TMMOscope::SetPCMWaveFormat(const WAVEFORMATEX& format) {
  if (!pcmIsValidFormat(&format)) throw EMMOscopeError(LoadResStr(62));
  SetSampleRate(static_cast<int>(format.nSamplesPerSec));
  SetBitLength(static_cast<TMMBits>(format.wBitsPerSample / 8 - 1));
  SetMode(static_cast<TMMMode>(std::max<int>(format.nChannels, 1) - 1));
}

WAVEFORMATEX TMMOscope::GetPCMWaveFormat() const {
  WAVEFORMATEX f{};
  pcmBuildWaveHeader(f, (bits_ + 1) * 8, channels_, sample_rate_);
  return f;
}

void TMMOscope::SetBytesPerScope() {
  const int64_t f = Frame();
  int64_t bytes;
  if (scroll_) {
    bytes = f * fft_length_;
  } else if (zoom_ > 0) {
    bytes = f * w_ * zoom_;
  } else {
    const int64_t z = -int64_t{zoom_} + 1;
    bytes = ((f * w_) / z + 5) / 4 * 4;
  }
  SetSliceBytes(bytes);
}

int64_t TMMOscope::StepBytes() const {
  if (scroll_ && accelerate_) return int64_t{Frame()} * std::max(fft_length_ / 4, 1);
  return 0;
}

int32_t TMMOscope::Sample(const uint8_t* slice, int frame) const {
  const int at = frame * channels_;
  auto one = [&](int k) -> int32_t {
    if (bits_ == b16Bit) {
      int16_t s;
      std::memcpy(&s, slice + 2 * k, 2);
      return s;
    }
    return slice[k];
  };
  int32_t v;
  if (channels_ == 1 || channel_ == chLeft) {
    v = one(at);
  } else if (channel_ == chRight) {
    v = one(at + 1);
  } else {
    const int32_t l = one(at), r = one(at + 1);
    v = bits_ == b16Bit ? (l + r) / 2 : (l + r) >> 1;
  }
  return bits_ == b16Bit ? v : v * 256 - 32768;
}

void TMMOscope::RefreshPCMData(const void* slice) {
  if (!GetEnabled() || !GetVisible() || info_.Active() || !slice) return;
  const auto* p = static_cast<const uint8_t*>(slice);
  if (scroll_) {
    const WAVEFORMATEX f = GetPCMWaveFormat();
    int l1, l2, r1, r2;
    PCMFINDMINMAX(&f, p, SliceBytes(), l1, l2, r1, r2);
    int a = l1, b = l2;
    if (channels_ > 1 && channel_ == chRight) {
      a = r1;
      b = r2;
    } else if (channels_ > 1 && channel_ == chBoth) {
      a = bits_ == b16Bit ? (l1 + r1) / 2 : (l1 + r1) >> 1;
      b = bits_ == b16Bit ? (l2 + r2) / 2 : (l2 + r2) >> 1;
    }
    if (bits_ == b8Bit) {
      a = a * 256 - 32768;
      b = b * 256 - 32768;
    }
    input_[0] = static_cast<int16_t>(a);
    input_[1] = static_cast<int16_t>(b);
  } else {
    // The rounded slice of a negative zoom may end inside the last frame: never read past it.
    const int frames = static_cast<int>(std::max<int64_t>(SliceBytes() / Frame(), 1));
    for (int i = 0; i < w_; ++i) {
      const int frame = std::min(zoom_ > 0 ? i * zoom_ : i / (-zoom_ + 1), frames - 1);
      input_[i] = static_cast<int16_t>(Sample(p, frame));
    }
  }
  SetData(input_.data());
}

void TMMOscope::SetData(const int16_t* buffer) {
  if (!buffer) return;
  const int n = scroll_ ? 2 : w_;
  if (buffer != trace_.data()) std::copy(buffer, buffer + n, trace_.begin());
  if (low_pass_) {
    int32_t previous = 0;
    for (int i = 0; i < n; ++i) {
      const int32_t v = trace_[i];
      trace_[i] = static_cast<int16_t>((previous + 3 * v) / 4);
      previous = v;
    }
  }
  FastDraw([this](bool clear) { DrawOscope(clear); }, false);
}

void TMMOscope::ResetData() {
  EndInfo();
  InitializeData();
  needs_clear_ = true;
  Invalidate();
}

void TMMOscope::InitializeData() {
  if (HasState(vant::csDesigning)) {
    // A decaying sine as a preview.
    for (int i = 0; i < w_; ++i) {
      trace_[i] = static_cast<int16_t>(std::nearbyint(
          std::sin(2 * std::numbers::pi * i * 8 / (w_ - 1)) * (1 - double(i) / w_) * 30719));
    }
  } else {
    std::fill(trace_.begin(), trace_.end(), 0);
  }
  mark_start_ = 0;
  mark_end_ = w_;
  ClearSelection();
}

void TMMOscope::GainOverflow() {
  if (OnGainOverflow) OnGainOverflow(this);
}

void TMMOscope::PcmOverflow() {
  if (OnPcmOverflow) OnPcmOverflow(this);
}

// ---- properties ------------------------------------------------------------------------------

void TMMOscope::SetColorSlot(int i, TColor c) { SetRepaint(colors_[Slot(i)], c); }

void TMMOscope::SetAccelerate(bool v) {
  if (v == accelerate_) return;
  accelerate_ = v;
  if (scroll_ && !v) Invalidate();
}

void TMMOscope::SetScroll(bool v) {
  scroll_ = v;
  Changed();
}

void TMMOscope::SetKind(TMMOscopeKind v) {
  if (v == kind_) return;
  kind_ = v;
  scale_ = v == okSpikes ? 32767 : 65535;
  offset_ = v == okSpikes ? 0 : 32767;
  Invalidate();
}

void TMMOscope::SetBitLength(TMMBits v) {
  if (v == bits_) return;
  bits_ = v;
  SetBytesPerScope();
  Invalidate();
}

void TMMOscope::SetChannel(TMMChannel v) {
  if (v == channel_) return;
  channel_ = v;
  SetBytesPerScope();
  Invalidate();
}

void TMMOscope::SetMode(TMMMode v) {
  if (v + 1 == channels_) return;
  channels_ = v + 1;
  SetBytesPerScope();
  Invalidate();
}

void TMMOscope::SetSampleRate(int v) {
  if (v == sample_rate_) return;
  sample_rate_ = std::clamp(v, 8000, 88200);
  Invalidate();
}

void TMMOscope::SetZoom(int v) {
  if (v == 0) return;
  v = std::clamp(v, -9, 9);
  if (v == zoom_) return;
  zoom_ = v;
  SetBytesPerScope();
  Invalidate();
}

void TMMOscope::SetGain(int v) {
  if (v < -8 || v > 32) return;
  SetRepaint(factor_, v + 8);
}

void TMMOscope::SetEffect(TMMOscopeEffect v) {
  effect_ = v;
  SetEffectLimits();
  Invalidate();
}

void TMMOscope::SetEffectLimits() {
  if (effect_ == efPeak) {
    low_ = h_ / EFFECTLIMIT;
    high_ = h_ - low_;
  } else if (effect_ == efSplit) {
    low_ = 0;
    high_ = h_ / 2;
  }
}

void TMMOscope::SetFFTLength(int v) {
  v = std::clamp(v, 1, 4096);
  int p = 1;
  while (p * 2 <= v) p *= 2;
  if (p == fft_length_) return;
  fft_length_ = p;
  if (scroll_) {
    SetBytesPerScope();
    Invalidate();
  }
}

// ---- geometry --------------------------------------------------------------------------------

void TMMOscope::AdjustSize(int& width, int& height) const {
  const int b = DisplayBevel(BevelExtend());
  width = std::max(width, 2 * b + 2 + (draw_amp_scale_ ? 2 * kAmpScaleWidth : 0));
  height = std::max(height, 2 * b + 2 + (draw_time_scale_ ? kTimeScaleHeight : 0));
}

void TMMOscope::Changed() {
  const int b = DisplayBevel(BevelExtend());
  TRect r = ClientRect();
  if (draw_amp_scale_) {
    r.Left += kAmpScaleWidth;
    r.Right -= kAmpScaleWidth;
  }
  if (draw_time_scale_) r.Bottom -= kTimeScaleHeight;
  vant::InflateRect(r, -b, -b);
  r.Right = std::max(r.Right, r.Left + 4);
  r.Bottom = std::max(r.Bottom, r.Top + 4);
  rect_ = r;
  w_ = r.Right - r.Left;
  h_ = r.Bottom - r.Top;
  trace_.assign(w_ + 40, 0);
  input_.assign(w_ + 40, 0);
  InitializeData();
  DIBCanvas().SetBounds(0, 0, w_, h_);
  SetEffectLimits();
  SetBytesPerScope();
  data_column_ = -bar_width_;
  write_pos_ = 0;
  needs_clear_ = true;
  CalcScaleSteps();
  TMMDIBGraphicControl::Changed();
}

void TMMOscope::CalcScaleSteps() {
  scale_steps_ = 10;
  while (h_ / scale_steps_ < OSCOPE_SCALEFONTSIZE && scale_steps_ > 2) scale_steps_ -= 2;
}

// ---- selection and queries -------------------------------------------------------------------

void TMMOscope::Marked(int start, int end, bool redraw) {
  mark_start_ = start < 0 ? -1 : std::min(start, w_);
  mark_end_ = end < 0 ? -1 : std::min(end, w_);
  if (redraw) Refresh();
}

void TMMOscope::Select(int min, int max, bool redraw) {
  if (StoreSelection(LimitColumn(min, w_), LimitColumn(max, w_)) && redraw) Refresh();
}

void TMMOscope::SetLocator(int x) {
  if (StoreLocator(x, w_)) Refresh();
}

bool TMMOscope::IsLocator(int x) const {
  return HitLocator(x, DisplayBevel(BevelExtend()), GetWidth());
}

bool TMMOscope::IsSelectStart(int x) const {
  return HitSelectStart(x, DisplayBevel(BevelExtend()), GetWidth());
}

bool TMMOscope::IsSelectEnd(int x) const {
  return HitSelectEnd(x, DisplayBevel(BevelExtend()), GetWidth());
}

bool TMMOscope::IsInSelection(int x) const {
  return HitInSelection(x, DisplayBevel(BevelExtend()), GetWidth());
}

double TMMOscope::SliceMillis() const {
  const WAVEFORMATEX f = GetPCMWaveFormat();
  return wioBytesToTime(&f, SliceBytes());
}

double TMMOscope::GetTime(TPoint p) const {
  if (p.X < rect_.Left || p.X >= rect_.Right || p.Y < rect_.Top || p.Y >= rect_.Bottom) return 0;
  return (p.X - rect_.Left + 1) * SliceMillis() / w_;
}

double TMMOscope::GetAmplitude(TPoint p) const {
  if (p.X < rect_.Left || p.X >= rect_.Right || p.Y < rect_.Top || p.Y >= rect_.Bottom) return 0;
  const double y = p.Y - rect_.Top;
  if (kind_ == okSpikes) return (h_ - y - 1) / (h_ - 1);
  const double c = h_ / 2.0 - y;
  const double a = 2 * c / h_;
  return a < 0 ? a - 1 : a;
}

// ---- drawing ---------------------------------------------------------------------------------

int TMMOscope::HeightOf(int v) const {
  if (kind_ == okSpikes) v = std::abs(v);
  return static_cast<int>((int64_t{v} * factor_ / 8 + offset_) * h_ / scale_);
}

int TMMOscope::Checked(int v) {
  if (v == 32767) PcmOverflow();
  const int h = HeightOf(v);
  if (h > h_) GainOverflow();
  return h;
}

TColor TMMOscope::ColumnColor(int x) const {
  return x >= mark_start_ && x <= mark_end_ ? colors_[cFore] : colors_[cInactive];
}

void TMMOscope::DrawMiddleRows(TMMDIBCanvas& c) {
  const int m = h_ / 2;
  const int a = std::clamp(mark_start_, 0, w_), b = std::clamp(mark_end_, 0, w_);
  for (int row : {m, m - 1}) {
    const bool split_row = row == m - 1 && effect_ == efSplit;
    colors_cache_.Set(c, colors_[cInactive]);
    c.DIB_HLINE(0, a, row);
    c.DIB_HLINE(b, w_, row);
    if (row == m - 1 && kind_ == okMirLines && BPM_FIX) continue;
    colors_cache_.Set(c, split_row ? colors_[cEffect] : colors_[cFore]);
    c.DIB_HLINE(a, b, row);
  }
}

// One column of the line kinds: `v` drawn from the middle, mirrored or from the bottom.
void TMMOscope::DrawVertical(TMMDIBCanvas& c, int x, int v, TColor color, bool marked) {
  const int h = Checked(v), m = h_ / 2, row = h_ - h - 1;
  const TColor effect = colors_[cEffect];
  colors_cache_.Set(c, color);
  switch (kind_) {
    case okVertLines: {
      const int top = std::min(m, row), bottom = std::max(m, row) + 1;
      if (marked && effect_ == efSplit && h > h_ / 2) colors_cache_.Set(c, effect);
      c.DIB_VLINE(x, top, bottom);
      if (marked && effect_ == efPeak && Beyond(h)) {
        colors_cache_.Set(c, effect);
        if (row < m)
          c.DIB_VLINE(x, row, std::min(row + 5, bottom));
        else
          c.DIB_VLINE(x, std::max(row - 4, top), row + 1);
      }
      break;
    }
    case okMirLines: {
      const int a = std::min(h, h_ - h - 1), b = std::max(h, h_ - h - 1) + 1;
      c.DIB_VLINE(x, a, b);
      if (marked && effect_ == efSplit) {
        colors_cache_.Set(c, effect);
        c.DIB_VLINE(x, a, std::max(a, m));
      }
      if (marked && effect_ == efPeak && Beyond(h)) {
        colors_cache_.Set(c, effect);
        c.DIB_VLINE(x, a, std::min(a + 5, b));
        c.DIB_VLINE(x, std::max(b - 5, a), b);
      }
      break;
    }
    default: {  // okSpikes
      c.DIB_VLINE(x, row, h_);
      if (marked && effect_ == efPeak && row < 2 * low_) {
        colors_cache_.Set(c, effect);
        c.DIB_VLINE(x, row, std::min(row + 5, h_));
      }
      if (marked && effect_ == efSplit && h > h_ / 2) {
        colors_cache_.Set(c, effect);
        c.DIB_VLINE(x, row, m);
      }
      break;
    }
  }
}

void TMMOscope::DrawNormal(TMMDIBCanvas& c) {
  const int step = steps_;
  if (kind_ == okVertLines || kind_ == okMirLines) DrawMiddleRows(c);
  if (kind_ == okConLines) {
    int last_row = RowOf(trace_[0]);
    c.DIB_MOVETO(0, last_row);
    int x = step;
    for (; x < w_; x += step) {
      const int h = Checked(trace_[x]);
      const bool marked = mark_start_ < x && x <= mark_end_;
      const bool effect = marked && effect_ != efNone && Beyond(h);
      colors_cache_.Set(c, effect   ? colors_[cEffect]
                           : marked ? colors_[cFore]
                                    : colors_[cInactive]);
      last_row = h_ - h - 1;
      c.DIB_LINETO(x, last_row);
    }
    c.DIB_LINETO(x, last_row);
    return;
  }
  for (int x = 0; x < w_; x += step) {
    const TColor color = ColumnColor(x);
    const bool marked = color == colors_[cFore] && x >= mark_start_ && x <= mark_end_;
    if (kind_ == okDots) {
      const int h = Checked(trace_[x]);
      const bool effect = marked && effect_ != efNone && Beyond(h);
      c.DIB_SETPIXEL(x, h_ - h - 1, colors_cache_.Raw(c, effect ? colors_[cEffect] : color));
    } else {
      DrawVertical(c, x, trace_[x], color, marked);
    }
  }
}

void TMMOscope::DrawScrollColumn(TMMDIBCanvas& c) {
  const int x = data_column_;
  const int a = trace_[0], b = trace_[1];
  colors_cache_.Set(c, GetColor());
  c.DIB_VLINE(x, 0, h_);
  const TColor fore = colors_[cFore];
  switch (kind_) {
    case okDots:
      for (int v : {a, b}) {
        const int h = Checked(v);
        const bool effect = effect_ != efNone && Beyond(h);
        c.DIB_SETPIXEL(x, h_ - h - 1, colors_cache_.Raw(c, effect ? colors_[cEffect] : fore));
      }
      break;
    case okConLines:
      c.DIB_MOVETO(pen_.X, pen_.Y);
      for (int v : {a, b}) {
        const int h = Checked(v);
        colors_cache_.Set(c, effect_ != efNone && Beyond(h) ? colors_[cEffect] : fore);
        c.DIB_LINETO(x, h_ - h - 1);
      }
      pen_ = {x, h_ - HeightOf(b) - 1};
      break;
    default:
      if (effect_ == efSplit && kind_ != okMirLines) {
        DrawVertical(c, x, a, fore, true);
        DrawVertical(c, x, b, fore, true);
      } else {
        DrawVertical(c, x, std::abs(a) > std::abs(b) ? a : b, fore, true);
      }
      break;
  }
}

void TMMOscope::DrawGrids(TMMDIBCanvas& c) {
  if (!draw_grid_) return;
  colors_cache_.Set(c, colors_[cGrid]);
  for (int k = 0; k <= scale_steps_; ++k) {
    const int y = h_ - static_cast<int>(k * 32760.0 / scale_steps_ / (32768.0 / h_)) - 1;
    c.DIB_HLINEDOTED(0, w_, y, 2);
  }
  const int d = FreqDivisions();
  for (int k = 0; k <= d; ++k) c.DIB_VLINEDOTED(k * (w_ - 1) / d, 0, h_, 2);
}

void TMMOscope::DrawBar(TMMDIBCanvas& c) {
  const int from = data_column_ < write_pos_ ? std::max(data_column_ + 1, 0) : 0;
  if (write_pos_ < from) return;
  colors_cache_.Set(c, colors_[cBar]);
  c.DIB_FILLRECT(vant::Rect(from, 0, write_pos_ + 1, h_));
  colors_cache_.Set(c, colors_[cBarTick]);
  for (int k = 0; k <= scale_steps_; ++k) {
    const int y = h_ - static_cast<int>((k * (h_ - 1.0)) / scale_steps_) - 1;
    c.DIB_HLINE(from, write_pos_ + 1, y);
  }
}

void TMMOscope::DrawOscope(bool clear) {
  TMMDIBCanvas& c = DIBCanvas();
  const TRect blit = vant::Rect(rect_.Left, rect_.Top, w_, h_);
  c.DIB_InitDrawing();
  colors_cache_.Reset();
  if (OnDrawLine) {
    OnDrawLine(this, c, vant::Rect(0, 0, w_, h_), trace_.data());
    c.DIB_BitBlt(&Canvas(), blit, 0, 0);
    c.DIB_DoneDrawing();
    return;
  }
  if (!scroll_ || clear || needs_clear_) {
    DrawBackGround();
    data_column_ = -bar_width_;
    write_pos_ = 0;
    pen_ = {0, h_ / 2};
    needs_clear_ = false;
  }
  if (!GetEnabled()) {
    colors_cache_.Set(c, colors_[cDisabled]);
    c.DIB_HLINE(5, w_ - 5, h_ / 2);
  } else if (!scroll_) {
    if (sel_start_ >= 0) {
      colors_cache_.Set(c, colors_[cSelection]);
      c.DIB_FILLRECT(vant::Rect(sel_start_, 0, sel_end_, h_));
    }
    if (draw_mid_line_) {
      colors_cache_.Set(c, colors_[cDisabled]);
      c.DIB_HLINE(0, w_, h_ / 2);
    }
    DrawGrids(c);
    DrawNormal(c);
  } else if (!clear) {
    DrawScrollColumn(c);
  }
  if (scroll_) {
    if (write_pos_ < w_) DrawBar(c);
    c.DIB_BitBlt(&Canvas(), blit, 0, 0);
    if (!clear && GetEnabled()) {
      if (write_pos_ < w_) {
        ++data_column_;
        ++write_pos_;
      } else {
        // Full: the picture moves one column to the left, the positions stay.
        c.DIB_COPYDIBBITS(c.Surface(), 0, 0, w_ - 1, h_, 1, 0);
      }
    }
  } else {
    if (sel_start_ >= 0) {
      colors_cache_.Set(c, colors_[cSelectionDot]);
      c.DIB_HLINEDASHED(sel_start_, sel_end_, 0);
      c.DIB_HLINEDASHED(sel_start_, sel_end_, h_ - 1);
      c.DIB_VLINEDASHED(sel_start_, 0, h_);
      c.DIB_VLINEDASHED(std::max(sel_end_ - 1, 0), 0, h_);
    }
    if (locator_ >= 0) {
      colors_cache_.Set(c, colors_[cLocator]);
      for (int i = 0; i < LOCATORSIZE; ++i) c.DIB_VLINE(locator_ - LOCATORSIZE / 2 + i, 0, h_);
    }
    c.DIB_BitBlt(&Canvas(), blit, 0, 0);
  }
  c.DIB_DoneDrawing();
  if (OnPostPaint) OnPostPaint(this);
}

int TMMOscope::FreqDivisions() const {
  for (int d : {32, 16, 8, 4, 2})
    if (w_ / d >= OSCOPE_SCALEFONTSIZE) return d;
  return 1;
}

void TMMOscope::DrawScales() {
  vant::TCanvas& cv = Canvas();
  const int b = DisplayBevel(BevelExtend());
  char text[32];
  cv.Font().SetColor(colors_[cScaleText]);
  cv.Pen().Color = colors_[cScaleLine];
  if (draw_time_scale_) {
    const int d = FreqDivisions();
    const int y0 = rect_.Bottom + b + 3;
    const double t = SliceMillis();
    cv.MoveTo(rect_.Left, y0);
    cv.LineTo(rect_.Right + b, y0);
    for (int k = 0; k <= d; ++k) {
      const int x = rect_.Left + (w_ - 1) * k / d;
      cv.MoveTo(x, y0);
      cv.LineTo(x, y0 + 3);
      std::snprintf(text, sizeof text, "%4.1f", k * t / d);
      TextOutAligned(cv, x, y0 + 6, text, kScaleFont, OSCOPE_SCALEFONTSIZE, 2);
    }
  }
  if (draw_amp_scale_) {
    const int n = scale_steps_;
    const int lx = rect_.Left - b - 1, rx = rect_.Right + b;
    for (int k = 0; k <= n; ++k) {
      const int y = rect_.Bottom - static_cast<int>(k * 32768.0 / n / (32768.0 / h_)) - 1;
      cv.MoveTo(lx, y);
      cv.LineTo(lx - 4, y);
      cv.MoveTo(rx, y);
      cv.LineTo(rx + 4, y);
      double value;
      if (kind_ == okSpikes) {
        value = double(k) / n;
        std::snprintf(text, sizeof text, "%4.2f", value);
      } else {
        value = (2.0 * k - n) / n;
        std::snprintf(text, sizeof text, value > 0 ? "+%4.2f" : "%4.2f", value);
      }
      TextOutAligned(cv, lx - 5, y, text, kScaleFont, OSCOPE_SCALEFONTSIZE, 1);
      TextOutAligned(cv, rx + 6, y, text, kScaleFont, OSCOPE_SCALEFONTSIZE, 0);
    }
    cv.MoveTo(lx, rect_.Top - b);
    cv.LineTo(lx, rect_.Bottom + b);
    cv.MoveTo(rx, rect_.Top - b);
    cv.LineTo(rx, rect_.Bottom + b);
  }
}

void TMMOscope::Paint() {
  PaintFrame(draw_amp_scale_ || draw_time_scale_, rect_);
  if (draw_amp_scale_ && draw_time_scale_)
    DrawUnits("V", 16, 14, 34, "mS", kScaleFont, OSCOPE_SCALEFONTSIZE, colors_[cScaleText]);
  DrawScales();
  DrawOscope(true);
}

// ---- the measuring box -----------------------------------------------------------------------

std::string TMMOscope::InfoText(TPoint p) const {
  char text[64];
  std::snprintf(text, sizeof text, "%4.1f ms %4.2f V", GetTime(p), GetAmplitude(p));
  return text;
}

void TMMOscope::DrawInfo(TPoint p) {
  FastDraw(
      [&](bool) {
        info_.Draw(DIBCanvas(), Canvas(), rect_, {p.X - rect_.Left, p.Y - rect_.Top}, InfoText(p));
      },
      false);
}

void TMMOscope::MouseDown(vant::TMouseButton b, vant::TShiftState s, int x, int y) {
  TMMDIBGraphicControl::MouseDown(b, s, x, y);
  const int bevel = DisplayBevel(BevelExtend());
  if (b == vant::mbRight && UseSelection && !Locked && !selecting_ && x >= bevel &&
      x < GetWidth() - bevel && y >= bevel && y < GetHeight() - bevel) {
    selecting_ = true;
    moving_ = false;
    if (IsSelectStart(x)) {
      anchor_ = sel_end_;
    } else if (IsSelectEnd(x)) {
      anchor_ = sel_start_;
    } else if (IsInSelection(x)) {
      moving_ = true;
      anchor_ = x;
    } else {
      anchor_ = x - bevel;
      Selecting(-1, -1);
      Selecting(anchor_, anchor_ + 1);
    }
    return;
  }
  if (b != vant::mbLeft || HasState(vant::csDesigning) || !GetEnabled() || !show_info_) return;
  saved_show_hint_ = GetShowHint();
  SetShowHint(false);
  info_.Begin(DIBCanvas());
  DrawInfo(
      {std::clamp(x, rect_.Left, rect_.Right - 1), std::clamp(y, rect_.Top, rect_.Bottom - 1)});
}

void TMMOscope::MouseMove(vant::TShiftState s, int x, int y) {
  TMMDIBGraphicControl::MouseMove(s, x, y);
  if (selecting_) {
    const int bevel = DisplayBevel(BevelExtend());
    x = std::clamp(x, bevel, GetWidth() - bevel - 1);
    if (moving_) {
      // The whole selection moves, its width kept, never past column 0 or W - 1.
      const int d = std::clamp(x - anchor_, -sel_start_, w_ - 1 - sel_end_);
      anchor_ = x;
      if (d != 0) Selecting(sel_start_ + d, sel_end_ + d);
    } else {
      Selecting(anchor_, std::clamp(x - bevel, 0, GetWidth() - 2 * bevel));
    }
    return;
  }
  if (!info_.Active()) return;
  DrawInfo(
      {std::clamp(x, rect_.Left, rect_.Right - 1), std::clamp(y, rect_.Top, rect_.Bottom - 1)});
}

void TMMOscope::MouseUp(vant::TMouseButton b, vant::TShiftState s, int x, int y) {
  TMMDIBGraphicControl::MouseUp(b, s, x, y);
  if (b == vant::mbRight && selecting_) {
    selecting_ = moving_ = false;
    if (sel_end_ - sel_start_ == 1) Selecting(-1, -1);  // a click selects nothing
    SelectEnd(sel_start_, sel_end_);
    return;
  }
  if (b == vant::mbLeft) EndInfo();
}

void TMMOscope::EndInfo() {
  if (!info_.Active()) return;
  if (GetEnabled()) FastDraw([&](bool) { info_.End(DIBCanvas(), Canvas(), rect_); }, false);
  info_.Cancel();
  SetShowHint(saved_show_hint_);
}

void TMMOscope::Selecting(int min, int max) {
  Select(min, max, true);
  if (OnSelecting) OnSelecting(this, min, max);
}

void TMMOscope::SelectEnd(int min, int max) {
  Select(min, max, false);
  if (OnSelectEnd) OnSelectEnd(this, min, max);
}
