#include "mmspgram.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "mmdisplaysize.h"
#include "mmpcmsup.h"
#include "mmutils.h"
#include "mmutilsdraw.h"

using vant::TCanvas;
using vant::TColor;
using vant::TRect;

namespace {

// The run-time spectrograms of the process (GUI thread only): a repaint that starts one picture
// over makes the others start over too, so they stay in step.
std::vector<TMMSpectrogram*>& Spectrograms() {
  static std::vector<TMMSpectrogram*> list;
  return list;
}

constexpr int kScaleWidth = 32;
constexpr int kSaveBlock = 2048;

}  // namespace

TMMSpectrogram::TMMSpectrogram(vant::TComponent* owner) : TMMDIBGraphicControl(owner) {
  fft_data_.assign(kSpectrumMaxFFT, 0);
  SetRealize(true);
  SetCursor(vant::crCross);
  input_.SetWindow(fwHamming);
  SetFFTLength(128);
  SetPalette(SpectrogramPalette(palette_typ_));
  SetBounds(GetLeft(), GetTop(), 194, 90);
  JoinList();
}

TMMSpectrogram::~TMMSpectrogram() {
  Destroying();
  LeaveList();
}

void TMMSpectrogram::JoinList() {
  if (HasState(vant::csDesigning) || in_list_) return;
  Spectrograms().push_back(this);
  in_list_ = true;
}

void TMMSpectrogram::LeaveList() {
  if (!in_list_) return;
  auto& l = Spectrograms();
  l.erase(std::remove(l.begin(), l.end(), this), l.end());
  in_list_ = false;
}

void TMMSpectrogram::ChangeDesigning(bool value) {
  TMMDIBGraphicControl::ChangeDesigning(value);
  if (!value) JoinList();
}

// ---- the display data interface --------------------------------------------------------------

void TMMSpectrogram::SetPCMWaveFormat(const WAVEFORMATEX& format) {
  if (!pcmIsValidFormat(&format)) throw EMMSpectrogramError(LoadResStr(62));
  SetSampleRate(static_cast<int>(format.nSamplesPerSec));
  input_.Bits = static_cast<TMMBits>(format.wBitsPerSample / 8 - 1);
  input_.Channels = std::max<int>(format.nChannels, 1);
  UpdateSlice();
}

WAVEFORMATEX TMMSpectrogram::GetPCMWaveFormat() const {
  WAVEFORMATEX f{};
  pcmBuildWaveHeader(f, (input_.Bits + 1) * 8, input_.Channels, rate_);
  return f;
}

TMMMode TMMSpectrogram::GetMode() const {
  return input_.Channels == 1 ? mMono : input_.Channels == 2 ? mStereo : mMultiChannel;
}

void TMMSpectrogram::UpdateSlice() { SetSliceBytes(input_.SliceBytes()); }

int64_t TMMSpectrogram::StepBytes() const { return accelerate_ ? SliceBytes() / 4 : 0; }

void TMMSpectrogram::RefreshPCMData(const void* slice) {
  if (!GetEnabled() || !GetVisible() || info_mode_ || !slice) return;
  input_.Order = gain_;
  const int overflows = input_.Transform(static_cast<const uint8_t*>(slice), fft_data_.data());
  for (int i = 0; i < overflows; ++i) PcmOverflow();
  core_.CalcColors(fft_data_.data(), input_.FFTLength());
  NewColumn();
}

void TMMSpectrogram::RefreshFFTData(const int16_t* data) {
  if (!GetEnabled() || !GetVisible() || info_mode_ || !data) return;
  std::copy_n(data, input_.FFTLength(), fft_data_.data());
  core_.CalcColors(fft_data_.data(), input_.FFTLength());
  NewColumn();
}

void TMMSpectrogram::RefreshMagnitudeData(const int32_t* data) {
  if (!GetEnabled() || !GetVisible() || info_mode_ || !data) return;
  core_.CalcColorsGiven(data, input_.FFTLength());
  NewColumn();
}

void TMMSpectrogram::NewColumn() {
  if (save_data_) {
    int pos = write_pos_;
    // A full scrolling picture moves on by one column: so do the kept ones.
    if (scroll_ && write_pos_ >= w_) {
      save_first_ = (save_first_ + 1) % w_;
      pos = w_ - 1;
    }
    const auto& c = core_.Colors();
    if (pos >= 0 && pos < w_) std::copy(c.begin(), c.end(), SaveBlock(pos));
  }
  FastDraw([this](bool) { DrawSpectrogram(false); }, false);
}

void TMMSpectrogram::ResetData() {
  if (info_mode_) EndInfo();
  needs_clear_ = true;
  ClearSelection();
  data_col_ = -bar_width_;
  write_pos_ = 0;
  std::fill(save_.begin(), save_.end(), 0);
  save_first_ = 0;
  core_.ResetEmboss();
  Invalidate();
}

void TMMSpectrogram::PcmOverflow() {
  if (OnPcmOverflow) OnPcmOverflow(this);
}

// ---- properties ------------------------------------------------------------------------------

void TMMSpectrogram::SetDrawScale(bool v) {
  if (v == draw_scale_) return;
  draw_scale_ = v;
  SetBounds(GetLeft(), GetTop(), GetWidth(), GetHeight());
}

void TMMSpectrogram::SetAccelerate(bool v) {
  if (v == accelerate_) return;
  accelerate_ = v;
  if (!v && scroll_) Invalidate();
}

void TMMSpectrogram::SetScroll(bool v) {
  if (v == scroll_) return;
  scroll_ = v;
  Invalidate();
}

void TMMSpectrogram::SetColor(int index, TColor v) {
  if (colors_[index & 7] == v) return;
  colors_[index & 7] = v;
  Invalidate();
}

void TMMSpectrogram::SetBarWidth(int v) {
  v = std::max(v, 0);
  if (v == bar_width_) return;
  bar_width_ = v;
  Invalidate();
}

void TMMSpectrogram::SetMode(TMMMode v) {
  input_.Channels = v + 1;
  UpdateSlice();
  Invalidate();
}

void TMMSpectrogram::SetBitLength(TMMBits v) {
  input_.Bits = v;
  UpdateSlice();
  Invalidate();
}

void TMMSpectrogram::SetChannel(TMMChannel v) {
  input_.Channel = v;
  Invalidate();
}

void TMMSpectrogram::SetSampleRate(int v) {
  if (v == rate_) return;
  rate_ = MinMax(v, 8000, 100000);
  SetupYScale();
  CalcScaleSteps();
  Invalidate();
}

void TMMSpectrogram::SetFFTLength(int v) {
  v = SpectrumFFTLength(v);
  if (v == input_.FFTLength() && fft_length_set_) return;
  fft_length_set_ = true;
  input_.SetFFTLength(v);
  SetupYScale();
  UpdateSlice();
  Invalidate();
}

void TMMSpectrogram::SetWindow(TMMFFTWindow v) { input_.SetWindow(v); }

void TMMSpectrogram::SetEmbossed(bool v) {
  if (v == core_.Embossed) return;
  core_.Embossed = v;
  Invalidate();
}

int TMMSpectrogram::GetAmplitudeScale() const {
  return static_cast<int>(std::nearbyint(core_.Factor / 0.01f));
}

void TMMSpectrogram::SetAmplitudeScale(int v) {
  v = MinMax(v, 0, 1000);
  if (v != GetAmplitudeScale()) core_.Factor = v * 0.01f;
}

void TMMSpectrogram::SetFrequencyBase(int v) {
  v = std::max(v, 0);
  if (v == static_cast<int>(base_)) return;
  base_ = static_cast<float>(v);
  SetupYScale();
  CalcScaleSteps();
  Invalidate();
}

void TMMSpectrogram::SetFrequencyScale(int v) {
  v = MinMax(v, 1, 16);
  if (v == static_cast<int>(zoom_)) return;
  zoom_ = static_cast<float>(v);
  SetupYScale();
  CalcScaleSteps();
  Invalidate();
}

void TMMSpectrogram::SetSensitivy(int v) { core_.Sensitivity = MinMax(v, -90, -9); }

void TMMSpectrogram::SetPaletteTyp(TMMSpectrogramPalette v) {
  palette_typ_ = v;
  if (HasState(vant::csLoading) || HasState(vant::csReading)) return;
  SetPalette(SpectrogramPalette(v));
}

void TMMSpectrogram::SetPalette(const TLogPalette& palette) {
  DIBCanvas().SetLogPalette(&palette);
  needs_clear_ = true;
  Invalidate();
}

void TMMSpectrogram::SetSaveData(bool on) {
  if (on == save_data_) return;
  save_data_ = on;
  save_.clear();
  save_first_ = 0;
  if (on) save_.assign(static_cast<size_t>(w_) * kSaveBlock, 0);
}

void TMMSpectrogram::EnabledChanged() {
  TMMDIBGraphicControl::EnabledChanged();
  Invalidate();
}

// ---- geometry --------------------------------------------------------------------------------

void TMMSpectrogram::AdjustSize(int& width, int& height) const {
  const int bevel = DisplayBevel(BevelExtend());
  width = std::max(width, 2 * bevel + 5 + (draw_scale_ ? 2 * kScaleWidth : 0));
  height = std::max(height, 2 * bevel + 5);
}

void TMMSpectrogram::SetBounds(int left, int top, int width, int height) {
  AdjustSize(width, height);
  TMMDIBGraphicControl::SetBounds(left, top, width, height);
  Changed();
}

void TMMSpectrogram::Changed() {
  TRect r = ClientRect();
  if (draw_scale_) {
    r.Left += kScaleWidth;
    r.Right -= kScaleWidth;
  }
  const int bevel = DisplayBevel(BevelExtend());
  vant::InflateRect(r, -bevel, -bevel);
  draw_rect_ = r;
  w_ = std::max(r.Right - r.Left, 4);
  h_ = std::max(r.Bottom - r.Top, 4);
  column_.assign(h_, MIN_COLOR);
  DIBCanvas().SetBounds(0, 0, w_, h_);
  if (save_data_) save_.assign(static_cast<size_t>(w_) * kSaveBlock, 0);
  save_first_ = 0;
  UpdateSlice();
  SetupYScale();
  CalcScaleSteps();
  ResetData();
  TMMDIBGraphicControl::Changed();
}

void TMMSpectrogram::Loaded() {
  TMMDIBGraphicControl::Loaded();
  SetupYScale();
  SetPalette(SpectrogramPalette(palette_typ_));
}

void TMMSpectrogram::SetupYScale() {
  if (HasState(vant::csLoading)) return;
  rows_.Setup(h_, input_.FFTLength(), rate_, zoom_, base_);
  base_ = rows_.base;
}

void TMMSpectrogram::CalcScaleSteps() { steps_ = SpectrogramScaleSteps(rate_, zoom_, h_); }

float TMMSpectrogram::GetFrequency(vant::TPoint p) const {
  const TRect& r = draw_rect_;
  if (p.X < r.Left || p.X >= r.Right || p.Y < r.Top || p.Y >= r.Bottom) return 0;
  return base_ + (rate_ / 2.0f - zoom_ * base_) * static_cast<float>(h_ + r.Top - p.Y - 1) /
                     static_cast<float>(h_ - 1) / zoom_;
}

// ---- selection and locator -------------------------------------------------------------------

void TMMSpectrogram::Select(int min, int max, bool redraw) {
  // An end passed as it is stored is kept, not limited again.
  const int a = min != sel_start_ ? LimitColumn(min, w_) : sel_start_;
  const int b = max != sel_end_ ? LimitColumn(max, w_) : sel_end_;
  if (StoreSelection(a, b) && redraw) Refresh();
}

void TMMSpectrogram::SetLocator(int x) {
  if (StoreLocator(x, w_)) Refresh();
}

bool TMMSpectrogram::IsLocator(int x) const {
  return HitLocator(x, DisplayBevel(BevelExtend()), GetWidth());
}

bool TMMSpectrogram::IsSelectStart(int x) const {
  return HitSelectStart(x, DisplayBevel(BevelExtend()), GetWidth());
}

bool TMMSpectrogram::IsSelectEnd(int x) const {
  return HitSelectEnd(x, DisplayBevel(BevelExtend()), GetWidth());
}

bool TMMSpectrogram::IsInSelection(int x) const {
  return HitInSelection(x, DisplayBevel(BevelExtend()), GetWidth());
}

void TMMSpectrogram::Selecting(int min, int max) {
  Select(min, max, true);
  if (OnSelecting) OnSelecting(this, sel_start_, sel_end_);
}

void TMMSpectrogram::SelectEnd(int min, int max) {
  Select(min, max, false);
  if (OnSelectEnd) OnSelectEnd(this, sel_start_, sel_end_);
}

// ---- mouse -----------------------------------------------------------------------------------

void TMMSpectrogram::MouseDown(vant::TMouseButton b, vant::TShiftState s, int x, int y) {
  TMMDIBGraphicControl::MouseDown(b, s, x, y);
  if (b == vant::mbLeft && show_info_ && GetEnabled() && !HasState(vant::csDesigning)) {
    info_mode_ = true;
    saved_show_hint_ = GetShowHint();
    SetShowHint(false);
    vant::SetCaptureControl(this);
    DrawInfo({x, y});
    return;
  }
  if (b != vant::mbRight || !use_selection_ || locked_ || selecting_) return;
  const int bevel = DisplayBevel(BevelExtend());
  if (x < bevel || x >= GetWidth() - bevel || y < bevel || y >= GetHeight() - bevel) return;
  selecting_ = true;
  moving_ = false;
  vant::SetCaptureControl(this);
  if (IsSelectStart(x)) {
    anchor_ = sel_end_;
  } else if (IsSelectEnd(x)) {
    anchor_ = sel_start_;
  } else if (IsInSelection(x)) {
    SetCursor(LoadResCursor(4));
    moving_ = true;
    move_from_ = x;
  } else {
    SetCursor(vant::crSizeWE);
    anchor_ = x - bevel;
    Selecting(-1, -1);
    Selecting(anchor_, anchor_ + 1);
  }
}

void TMMSpectrogram::MouseMove(vant::TShiftState s, int x, int y) {
  TMMDIBGraphicControl::MouseMove(s, x, y);
  if (info_mode_) {
    DrawInfo({x, y});
    return;
  }
  if (!selecting_) {
    ShowSelectionCursor(x);
    return;
  }
  const int bevel = DisplayBevel(BevelExtend());
  x = std::clamp(x, bevel, std::max(GetWidth() - bevel - 1, bevel));
  if (moving_) {
    // The whole selection moves, never past the first or last column.
    int d = x - move_from_;
    d = std::clamp(d, -sel_start_, w_ - 1 - sel_end_);
    if (d == 0) return;
    move_from_ += d;
    Selecting(sel_start_ + d, sel_end_ + d);
  } else {
    Selecting(anchor_, std::clamp(x - bevel, 0, GetWidth() - 2 * bevel));
  }
}

void TMMSpectrogram::ShowSelectionCursor(int x) {
  const vant::TCursor now = GetCursor();
  if (!use_selection_ || locked_) {
    if (now != vant::crCross && now != vant::crHourGlass) SetCursor(vant::crDefault);
    return;
  }
  if (IsSelectStart(x) || IsSelectEnd(x)) {
    SetCursor(vant::crSizeWE);
  } else if (IsInSelection(x)) {
    SetCursor(LoadResCursor(3));
  } else if (now == LoadResCursor(3) || now == LoadResCursor(9) || now == vant::crSizeWE) {
    SetCursor(vant::crDefault);
  }
}

void TMMSpectrogram::MouseUp(vant::TMouseButton b, vant::TShiftState s, int x, int y) {
  TMMDIBGraphicControl::MouseUp(b, s, x, y);
  if (b == vant::mbLeft && info_mode_) {
    EndInfo();
    return;
  }
  if (b != vant::mbRight || !selecting_) return;
  selecting_ = false;
  moving_ = false;
  vant::SetCaptureControl(nullptr);
  SetCursor(vant::crCross);
  if (sel_end_ - sel_start_ == 1) Selecting(-1, -1);
  SelectEnd(sel_start_, sel_end_);
}

// ---- the frequency box -----------------------------------------------------------------------

void TMMSpectrogram::EndInfo() {
  if (GetEnabled()) DrawInfo({-1, -1});
  info_mode_ = false;
  vant::SetCaptureControl(nullptr);
  SetShowHint(saved_show_hint_);
}

void TMMSpectrogram::DrawInfo(vant::TPoint p) {
  if (!GetVisible() || !GetParent()) return;
  PaintNow([&](TCanvas& screen) {
    TMMDIBCanvas& c = DIBCanvas();
    const TRect& r = draw_rect_;
    c.DIB_InitDrawing();
    // What lay under the previous box comes back from the picture, which the box never touches.
    if (info_box_.Right > info_box_.Left) {
      c.DIB_BitBlt(&screen,
                   vant::Rect(r.Left + info_box_.Left, r.Top + info_box_.Top,
                              info_box_.Right - info_box_.Left, info_box_.Bottom - info_box_.Top),
                   info_box_.Left, info_box_.Top);
    }
    c.DIB_DoneDrawing();
    info_box_ = {};
    if (p.X < r.Left || p.X >= r.Right || p.Y < r.Top || p.Y >= r.Bottom) return;
    char text[32];
    std::snprintf(text, sizeof text, "%2.3f KHz", GetFrequency(p) / 1000.0f);
    screen.Font().SetName("MS Sans Serif");
    screen.Font().SetSize(8);
    screen.Font().SetStyle(0);
    screen.Font().SetColor(vant::clInfoText);
    const int tw = screen.TextWidth(text) + 4, th = screen.TextHeight(text) + 2;
    int left = p.X - r.Left, top = p.Y - r.Top + 15;
    if (top + th > h_) top -= 40;
    if (left + tw > w_) left -= left + tw - w_;
    if (top < 0) top = 0;
    info_box_ = {left, top, left + tw, top + th};
    const TRect box{r.Left + left, r.Top + top, r.Left + left + tw, r.Top + top + th};
    screen.Brush().Style = vant::bsSolid;
    screen.Brush().Color = INFOCOLOR;
    screen.FillRect(box);
    screen.Brush().Color = vant::clBlack;
    screen.FrameRect(box);
    screen.Brush().Style = vant::bsClear;
    TRect t = box;
    screen.DrawText(text, t, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  });
}

// ---- drawing ---------------------------------------------------------------------------------

void TMMSpectrogram::DrawData(const int32_t* values) {
  if (values) core_.SetColors(values, input_.FFTLength() / 2);
  core_.MakeColumn(rows_, column_);
  DIBCanvas().DIB_VLINEMULTICOLOR(data_col_, 0, column_.data(), h_);
}

void TMMSpectrogram::DrawBar(bool on_screen) {
  if (bar_width_ <= 0) return;
  const int steps = std::max(steps_, 1);
  auto tick_row = [&](int k) { return h_ - (k * (h_ - 1)) / steps - 1; };
  if (on_screen) {
    TCanvas& c = Canvas();
    const int x = draw_rect_.Left + write_pos_;
    if (write_pos_ >= w_) return;
    c.Pen().Mode = vant::pmCopy;
    c.Pen().Width = 1;
    c.Pen().Color = colors_[2];
    c.MoveTo(x, draw_rect_.Top);
    c.LineTo(x, draw_rect_.Top + h_);
    for (int k = 0; k <= steps; ++k) c.SetPixel(x, draw_rect_.Top + tick_row(k), colors_[3]);
    return;
  }
  TMMDIBCanvas& c = DIBCanvas();
  const int from = data_col_ < write_pos_ ? data_col_ + 1 : 0;
  c.DIB_SetTColor(colors_[2]);
  c.DIB_FILLRECT(vant::Rect(from, 0, write_pos_ + 1, h_));
  c.DIB_SetTColor(colors_[3]);
  for (int k = 0; k <= steps; ++k) c.DIB_HLINE(from, write_pos_ + 1, tick_row(k));
}

void TMMSpectrogram::DrawSelection() {
  if (sel_start_ < 0) return;
  TMMDIBCanvas& c = DIBCanvas();
  c.DIB_SetTColor(colors_[5]);
  c.DIB_FILLRECTXOR(vant::Rect(sel_start_, 0, sel_end_, h_));
  c.DIB_SetTColor(colors_[6]);
  c.DIB_HLINEDASHED(sel_start_, sel_end_, 0);
  c.DIB_HLINEDASHED(sel_start_, sel_end_, h_ - 1);
  c.DIB_VLINEDASHED(sel_start_, 0, h_);
  c.DIB_VLINEDASHED(sel_end_ - 1, 0, h_);
}

void TMMSpectrogram::DrawLocator() {
  if (locator_ < 0) return;
  TMMDIBCanvas& c = DIBCanvas();
  c.DIB_SetTColor(colors_[7]);
  c.DIB_VLINE(locator_, 0, h_);
}

void TMMSpectrogram::DrawSpectrogram(bool repaint) {
  TMMDIBCanvas& c = DIBCanvas();
  c.DIB_InitDrawing();
  bool cleared = false, redrawn = false;
  if (repaint || needs_clear_) {
    c.DIB_SetColor(core_.Embossed ? (MIN_COLOR + NUM_COLORS) / 2 : MIN_COLOR);
    c.DIB_CLEAR();
    cleared = true;
    const bool was_needed = needs_clear_;
    const bool full = scroll_ && write_pos_ >= w_;
    const int newest = data_col_;
    data_col_ = -bar_width_;
    write_pos_ = 0;
    core_.ResetEmboss();
    if (repaint && save_data_ && full) {
      // A full scrolling picture keeps scrolling: the kept columns end at the newest one's place,
      // and the move below makes room for the next as after any column.
      for (int i = 0; i < w_; ++i) {
        data_col_ = newest - (w_ - 1 - i);
        if (data_col_ >= 0) DrawData(SaveBlock(i));
      }
      data_col_ = newest;
      write_pos_ = w_;
      redrawn = true;
    } else if (repaint && save_data_) {
      // The saved columns, each where it was shown: the bar's lead wraps round to the right.
      for (int i = 0; i < w_; ++i) {
        const int shown = data_col_;
        data_col_ = (data_col_ % w_ + w_) % w_;
        DrawData(SaveBlock(write_pos_));
        data_col_ = shown + 1 >= w_ ? 0 : shown + 1;
        write_pos_ = write_pos_ + 1 >= w_ ? 0 : write_pos_ + 1;
      }
      redrawn = true;
    }
    if (!was_needed && !redrawn) {
      for (TMMSpectrogram* s : Spectrograms())
        if (s != this) s->needs_clear_ = true;
    }
  } else {
    DrawData(nullptr);
  }
  const TRect& r = draw_rect_;
  if (!repaint && accelerate_ && !cleared) {
    if (data_col_ >= 0 && data_col_ < w_)
      c.DIB_BitBlt(&Canvas(), vant::Rect(r.Left + data_col_, r.Top, 1, h_), data_col_, 0);
  } else {
    if (!(scroll_ && write_pos_ >= w_) && !accelerate_) DrawBar(false);
    // Selection and locator go onto the shown picture only, not into the columns kept.
    const bool overlay = sel_start_ >= 0 || locator_ >= 0;
    if (overlay) {
      const size_t bytes = static_cast<size_t>(c.ScanWidth()) * h_;
      overlay_backup_.assign(c.Surface(), c.Surface() + bytes);
      DrawSelection();
      DrawLocator();
    }
    c.DIB_BitBlt(&Canvas(), vant::Rect(r.Left, r.Top, w_, h_), 0, 0);
    if (overlay) std::memcpy(c.Surface(), overlay_backup_.data(), overlay_backup_.size());
    needs_clear_ = false;
  }
  Advance(redrawn);
  c.DIB_DoneDrawing();
}

void TMMSpectrogram::Advance(bool redrawn) {
  TMMDIBCanvas& c = DIBCanvas();
  if (scroll_) {
    if (write_pos_ < w_) {
      if (accelerate_) DrawBar(true);
      ++data_col_;
      ++write_pos_;
      // Without a bar the newest column would land just past the picture.
      if (write_pos_ >= w_) data_col_ = std::min(data_col_, w_ - 1);
      return;
    }
    // Full: the picture moves one column to the left; the newest column stays at the right.
    c.DIB_COPYDIBBITS(c.Surface(), 0, 0, w_ - 1, h_, 1, 0);
    if (accelerate_) {
      const TRect& r = draw_rect_;
      c.DIB_BitBlt(&Canvas(), vant::Rect(r.Left, r.Top, w_ - std::max(bar_width_ - 1, 0), h_), 0,
                   0);
    }
    return;
  }
  if (redrawn) return;
  if (accelerate_) DrawBar(true);
  data_col_ = data_col_ + 1 >= w_ ? 0 : data_col_ + 1;
  write_pos_ = write_pos_ + 1 >= w_ ? 0 : write_pos_ + 1;
}

void TMMSpectrogram::DrawFrequencyScale() {
  if (!draw_scale_) return;
  const int bevel = DisplayBevel(BevelExtend());
  const int height = GetHeight();
  const TColor back = GetParent() ? GetParent()->GetColor() : GetColor();
  const float step = (rate_ / 2.0f - zoom_ * base_) / steps_ / zoom_ / 1000.0f;
  const bool fraction = base_ > 0 || zoom_ > 1;
  for (int side = 0; side < 2; ++side) {
    vant::TBitmap bmp(kScaleWidth, height);
    TCanvas& c = bmp.Canvas();
    c.Brush().Style = vant::bsSolid;
    c.Brush().Color = back;
    c.FillRect(vant::Rect(0, 0, kScaleWidth, height));
    c.Pen().Color = colors_[1];
    c.Pen().Width = 1;
    const int line_x = side == 0 ? 31 : 0;
    const int bottom = height - bevel - 1;
    const int top = height - bevel - (steps_ * (h_ - 1)) / steps_ - 1;
    c.MoveTo(line_x, bottom + 1);
    c.LineTo(line_x, top - 1);
    for (int k = 0; k <= steps_; ++k) {
      const int y = height - bevel - (k * (h_ - 1)) / steps_ - 1;
      if (side == 0) {
        c.MoveTo(31, y);
        c.LineTo(27, y);
      } else {
        c.MoveTo(0, y);
        c.LineTo(4, y);
      }
      const float f = k * step + base_ / 1000.0f;
      char text[32];
      if (fraction) {
        std::snprintf(text, sizeof text, "%4.2f", f);
      } else {
        std::snprintf(text, sizeof text, "%d", static_cast<int>(std::nearbyint(f - 0.05f)));
      }
      c.Font().SetColor(colors_[0]);
      TextOutAligned(c, side == 0 ? 26 : 6, y, text, "ARIAL", SPECTROGRAM_SCALEFONTSIZE,
                     side == 0 ? 1 : 0);
    }
    if (!fraction) {
      c.Brush().Style = vant::bsClear;
      c.Font().SetName("ARIAL");
      c.Font().SetHeight(-SPECTROGRAM_SCALEFONTSIZE);
      c.Font().SetColor(colors_[0]);
      c.TextOut(side == 0 ? 2 : 13, height - 5 - c.TextHeight("K"), "KHz");
    }
    Canvas().Draw(side == 0 ? -3 : GetWidth() - 29, 0, bmp);
  }
}

void TMMSpectrogram::Paint() {
  if (draw_scale_) {
    TCanvas& c = Canvas();
    c.Brush().Style = vant::bsSolid;
    c.Brush().Color = GetParent() ? GetParent()->GetColor() : GetColor();
    c.FillRect(vant::Rect(29, 0, 32, GetHeight()));
    c.FillRect(vant::Rect(GetWidth() - 32, 0, GetWidth() - 29, GetHeight()));
  }
  TRect r = draw_rect_;
  const int bevel = DisplayBevel(BevelExtend());
  vant::InflateRect(r, bevel, bevel);
  Bevel().PaintBevel(Canvas(), r, true);
  DrawFrequencyScale();
  DrawSpectrogram(true);
}
