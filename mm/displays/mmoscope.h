#pragma once
// TMMOscope: the oscilloscope. In normal mode each slice fills the width, one (decimated or
// repeated) sample per column, drawn as dots, a connected line, lines from the middle, lines
// mirrored about the middle or spikes from the bottom; a marked range of columns is drawn in the
// foreground colour and the rest in the inactive colour, and two effects colour what lies beyond
// set heights. In scroll mode each slice becomes one column showing its smallest and largest
// sample, written left to right until the picture is full, after which it moves left one column
// per slice. Every piece of drawing state (the scroll pen included) belongs to the instance.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "exceptions.h"
#include "mmdibcv.h"
#include "mmdisplaycolors.h"
#include "mmdisplaydata.h"
#include "mmdisplayinfo.h"
#include "mmenums.h"
#include "mmscaleddisplay.h"
#include "mmxselection.h"

VANT_DECLARE_EXCEPTION(EMMOscopeError, vant::Exception);

enum TMMOscopeKind { okDots, okConLines, okVertLines, okMirLines, okSpikes };
enum TMMOscopeEffect { efNone, efPeak, efSplit };

inline constexpr int OSCOPE_SCALEFONTSIZE = 10;
inline constexpr int EFFECTLIMIT = 3;
inline constexpr int LOCATORSIZE = 1;
inline constexpr bool BPM_FIX = false;

using TMMOscopeDrawLine = std::function<void(vant::TObject* Sender, TMMDIBCanvas& DIB,
                                             const vant::TRect& Rect, const int16_t* Data)>;
using TMMOscopeSelect = std::function<void(vant::TObject* Sender, int Min, int Max)>;

class TMMOscope : public TMMScaledDisplay, public TMMDisplayData, public TMMXSelection {
 public:
  explicit TMMOscope(vant::TComponent* owner);
  ~TMMOscope() override;
  std::string ClassName() const override { return "TMMOscope"; }

  // ---- the display data interface ----
  void SetPCMWaveFormat(const WAVEFORMATEX& format) override;
  WAVEFORMATEX GetPCMWaveFormat() const;
  void RefreshPCMData(const void* slice) override;
  void ResetData() override;
  // Scrolling and accelerated: a quarter of FFTLength frames.
  int64_t StepBytes() const override;
  vant::TComponent* DisplayComponent() override { return this; }

  // ---- properties ----
  // Colour slots: 0 foreground, 1 inactive, 2 effect, 3 disabled, 4 scale text, 5 scale line,
  // 6 grid, 7 bar, 8 bar tick, 9 unused, 10 selection, 11 selection dots, 12 locator.
  vant::TColor GetColorSlot(int i) const { return colors_[Slot(i)]; }
  void SetColorSlot(int i, vant::TColor c);
  bool GetShowInfo() const { return show_info_; }
  void SetShowInfo(bool v) { show_info_ = v; }
  bool GetAccelerate() const { return accelerate_; }
  void SetAccelerate(bool v);
  bool GetScroll() const { return scroll_; }
  void SetScroll(bool v);
  bool GetDrawMidLine() const { return draw_mid_line_; }
  void SetDrawMidLine(bool v) { SetRepaint(draw_mid_line_, v); }
  TMMOscopeKind GetKind() const { return kind_; }
  void SetKind(TMMOscopeKind v);
  int GetBarWidth() const { return bar_width_; }
  void SetBarWidth(int v) { SetRepaint(bar_width_, std::max(v, 1)); }
  TMMBits GetBitLength() const { return bits_; }
  void SetBitLength(TMMBits v);
  TMMChannel GetChannel() const { return channel_; }
  void SetChannel(TMMChannel v);
  TMMMode GetMode() const { return static_cast<TMMMode>(channels_ - 1); }
  void SetMode(TMMMode v);
  int GetSampleRate() const { return sample_rate_; }
  void SetSampleRate(int v);
  int GetSteps() const { return steps_; }
  void SetSteps(int v) { SetRepaint(steps_, std::clamp(v, 1, 9)); }
  int GetZoom() const { return zoom_; }
  void SetZoom(int v);
  int GetGain() const { return factor_ - 8; }
  void SetGain(int v);
  TMMOscopeEffect GetEffect() const { return effect_; }
  void SetEffect(TMMOscopeEffect v);
  bool GetDrawAmpScale() const { return draw_amp_scale_; }
  void SetDrawAmpScale(bool v) { SetScaleShown(draw_amp_scale_, v); }
  bool GetDrawTimeScale() const { return draw_time_scale_; }
  void SetDrawTimeScale(bool v) { SetScaleShown(draw_time_scale_, v); }
  bool GetDrawGrid() const { return draw_grid_; }
  void SetDrawGrid(bool v) { SetRepaint(draw_grid_, v); }
  int GetFFTLength() const { return fft_length_; }
  void SetFFTLength(int v);
  bool GetLowPass() const { return low_pass_; }
  void SetLowPass(bool v) { low_pass_ = v; }
  bool Locked = false, UseSelection = false;

  // ---- operations ----
  // W values (the trace) from `buffer`, smoothed with LowPass, then drawn.
  void SetData(const int16_t* buffer);
  void Marked(int start, int end, bool redraw);
  void Select(int min, int max, bool redraw);
  void SetLocator(int x);
  double GetAmplitude(vant::TPoint p) const;
  double GetTime(vant::TPoint p) const;
  bool IsLocator(int x) const;
  bool IsSelectStart(int x) const;
  bool IsSelectEnd(int x) const;
  bool IsInSelection(int x) const;
  void DrawOscope(bool clear);

  // For tests: the drawing area, the trace, and where a value is drawn.
  vant::TRect DrawingRect() const { return rect_; }
  const int16_t* Trace() const { return trace_.data(); }
  int HeightOf(int v) const;
  int RowOf(int v) const { return h_ - HeightOf(v) - 1; }
  std::string InfoText(vant::TPoint p) const;
  bool InInfoMode() const { return info_.Active(); }
  const TMMInfoBox& InfoBox() const { return info_; }
  int DataColumn() const { return data_column_; }
  int WritePosition() const { return write_pos_; }

  void ChangeDesigning(bool value) override;

  vant::TNotifyEvent OnGainOverflow, OnPcmOverflow, OnPostPaint;
  TMMOscopeDrawLine OnDrawLine;
  TMMOscopeSelect OnSelecting, OnSelectEnd;

 protected:
  void Paint() override;
  void Changed() override;
  virtual void GainOverflow();
  virtual void PcmOverflow();
  void MouseDown(vant::TMouseButton b, vant::TShiftState s, int x, int y) override;
  void MouseMove(vant::TShiftState s, int x, int y) override;
  void MouseUp(vant::TMouseButton b, vant::TShiftState s, int x, int y) override;

 private:
  void DrawInfo(vant::TPoint p);
  void EndInfo();
  void Selecting(int min, int max);
  void SelectEnd(int min, int max);
  static int Slot(int i) { return std::clamp(i, 0, 12); }
  void AdjustSize(int& width, int& height) const override;
  void SetBytesPerScope();
  void SetEffectLimits();
  void CalcScaleSteps();
  void InitializeData();
  int Frame() const { return (bits_ + 1) * channels_; }
  int32_t Sample(const uint8_t* slice, int frame) const;
  // Height of the value, reporting full-scale values and heights above the top.
  int Checked(int v);
  bool Beyond(int height) const { return height < low_ || height > high_; }
  vant::TColor ColumnColor(int x) const;
  void DrawNormal(TMMDIBCanvas& c);
  void DrawScrollColumn(TMMDIBCanvas& c);
  void DrawVertical(TMMDIBCanvas& c, int x, int v, vant::TColor color, bool marked);
  void DrawMiddleRows(TMMDIBCanvas& c);
  void DrawGrids(TMMDIBCanvas& c);
  void DrawBar(TMMDIBCanvas& c);
  int FreqDivisions() const;
  double SliceMillis() const;
  void DrawScales();

  vant::TColor colors_[13] = {0xFFFF00, 0x808000, 0xFF,     0x808080, 0,
                              0,        0x808080, 0x808080, 0xFFFFFF, vant::clBtnFace,
                              0xFF,     0xFF,     0xFFFF};
  bool show_info_ = true, accelerate_ = true, scroll_ = false, draw_mid_line_ = false;
  TMMOscopeKind kind_ = okDots;
  int bar_width_ = 5;
  TMMBits bits_ = b8Bit;
  TMMChannel channel_ = chBoth;
  int channels_ = 1;
  int sample_rate_ = 11025;
  int steps_ = 1, zoom_ = 1, factor_ = 8;
  TMMOscopeEffect effect_ = efNone;
  bool draw_amp_scale_ = false, draw_time_scale_ = false, draw_grid_ = false;
  int fft_length_ = 128;
  bool low_pass_ = false;

  vant::TRect rect_{};
  int w_ = 4, h_ = 4;
  int scale_ = 65535, offset_ = 32767;
  int low_ = 0, high_ = 0;
  int scale_steps_ = 10;
  int mark_start_ = 0, mark_end_ = 4;
  int data_column_ = -5, write_pos_ = 0;
  bool needs_clear_ = false;
  vant::TPoint pen_{0, 0};
  std::vector<int16_t> trace_;
  TMMColorCache colors_cache_;
  TMMInfoBox info_;
  bool saved_show_hint_ = false;
  // Right-button selection: the fixed end (or, when moving the whole selection, the last x).
  bool selecting_ = false, moving_ = false;
  int anchor_ = 0;
  std::vector<int16_t> input_;
};
