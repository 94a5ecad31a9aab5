#pragma once
// TMMSpectrogram: a running time-frequency picture of the sound being heard. Each slice becomes
// one pixel column whose rows, lowest frequency at the bottom, take their colour from the power
// of the matching FFT bins through 236 palette entries (see TMMSpectrogramCore). Columns are
// written left to right and wrap, or the picture moves left once full; a bar shows the write
// position. The picture lives in an 8-bit palette canvas.
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "exceptions.h"
#include "mmdibcv.h"
#include "mmdisplaydata.h"
#include "mmenums.h"
#include "mmspectrumcore.h"
#include "mmspgramcore.h"
#include "mmxselection.h"

VANT_DECLARE_EXCEPTION(EMMSpectrogramError, vant::Exception);

using TMMSpectrogramSelect = std::function<void(vant::TObject* Sender, int Min, int Max)>;

class TMMSpectrogram : public TMMDIBGraphicControl, public TMMDisplayData, public TMMXSelection {
 public:
  explicit TMMSpectrogram(vant::TComponent* owner);
  ~TMMSpectrogram() override;
  std::string ClassName() const override { return "TMMSpectrogram"; }

  // ---- the display data interface ----
  void SetPCMWaveFormat(const WAVEFORMATEX& format) override;
  void RefreshPCMData(const void* slice) override;
  void ResetData() override;
  vant::TComponent* DisplayComponent() override { return this; }
  // With Accelerate the connector moves on by a quarter slice: the FFTs overlap.
  int64_t StepBytes() const override;
  WAVEFORMATEX GetPCMWaveFormat() const;
  // FFTLength 16-bit values already transformed.
  void RefreshFFTData(const int16_t* data);
  // FFTLength / 2 powers used in place of re² + im².
  void RefreshMagnitudeData(const int32_t* data);

  // ---- properties ----
  bool GetShowInfo() const { return show_info_; }
  void SetShowInfo(bool v) { show_info_ = v; }
  bool GetDrawScale() const { return draw_scale_; }
  void SetDrawScale(bool v);
  bool GetAccelerate() const { return accelerate_; }
  void SetAccelerate(bool v);
  bool GetScroll() const { return scroll_; }
  void SetScroll(bool v);
  // 0 ScaleTextColor, 1 ScaleLineColor, 2 BarColor, 3 BarTickColor, 4 (unused), 5
  // SelectionColor, 6 SelectionDotColor, 7 LocatorColor.
  vant::TColor GetColor(int index) const { return colors_[index & 7]; }
  void SetColor(int index, vant::TColor v);
  using TMMDIBGraphicControl::GetColor;
  using TMMDIBGraphicControl::SetColor;
  int GetBarWidth() const { return bar_width_; }
  void SetBarWidth(int v);
  TMMMode GetMode() const;
  void SetMode(TMMMode v);
  TMMBits GetBitLength() const { return input_.Bits; }
  void SetBitLength(TMMBits v);
  TMMChannel GetChannel() const { return input_.Channel; }
  void SetChannel(TMMChannel v);
  int GetSampleRate() const { return rate_; }
  void SetSampleRate(int v);
  TMMSpectrogramGain GetGain() const { return gain_; }
  void SetGain(TMMSpectrogramGain v) { gain_ = v; }
  int GetFFTLength() const { return input_.FFTLength(); }
  void SetFFTLength(int v);
  TMMFFTWindow GetWindow() const { return input_.GetWindow(); }
  void SetWindow(TMMFFTWindow v);
  bool GetLogAmp() const { return core_.LogAmp; }
  void SetLogAmp(bool v) { core_.LogAmp = v; }
  bool GetEmbossed() const { return core_.Embossed; }
  void SetEmbossed(bool v);
  int GetAmplitudeScale() const;
  void SetAmplitudeScale(int v);
  int GetFrequencyBase() const { return static_cast<int>(base_); }
  void SetFrequencyBase(int v);
  int GetFrequencyScale() const { return static_cast<int>(zoom_); }
  void SetFrequencyScale(int v);
  int GetSensitivy() const { return core_.Sensitivity; }
  void SetSensitivy(int v);
  TMMSpectrogramPalette GetPaletteTyp() const { return palette_typ_; }
  void SetPaletteTyp(TMMSpectrogramPalette v);
  bool GetLocked() const { return locked_; }
  void SetLocked(bool v) { locked_ = v; }
  bool GetUseSelection() const { return use_selection_; }
  void SetUseSelection(bool v) { use_selection_ = v; }

  // ---- operations ----
  void Select(int min, int max, bool redraw);
  void SetLocator(int x);
  // The frequency in Hz at a point of the control; 0 outside the picture.
  float GetFrequency(vant::TPoint p) const;
  void SetPalette(const TLogPalette& palette);
  // Keeps every column's colour values so a repaint can draw the picture again.
  void SetSaveData(bool on);
  bool IsLocator(int x) const;
  bool IsSelectStart(int x) const;
  bool IsSelectEnd(int x) const;
  bool IsInSelection(int x) const;

  // The picture's place in the control, its columns and rows; the newest column and the bar.
  vant::TRect DrawingRect() const { return draw_rect_; }
  int Columns() const { return w_; }
  int Rows() const { return h_; }
  int DataColumn() const { return data_col_; }
  int WritePos() const { return write_pos_; }
  const TMMSpectrogramRows& RowBins() const { return rows_; }
  // Between a left-button press and its release the frequency box follows the mouse.
  bool InfoMode() const { return info_mode_; }
  int ScaleSteps() const { return steps_; }

  void SetBounds(int left, int top, int width, int height) override;
  void Loaded() override;
  void ChangeDesigning(bool value) override;

  vant::TNotifyEvent OnPcmOverflow;
  TMMSpectrogramSelect OnSelecting, OnSelectEnd;

 protected:
  void Paint() override;
  void Changed() override;
  void EnabledChanged() override;
  virtual void PcmOverflow();
  virtual void Selecting(int min, int max);
  virtual void SelectEnd(int min, int max);
  void MouseDown(vant::TMouseButton b, vant::TShiftState s, int x, int y) override;
  void MouseMove(vant::TShiftState s, int x, int y) override;
  void MouseUp(vant::TMouseButton b, vant::TShiftState s, int x, int y) override;

 private:
  void AdjustSize(int& width, int& height) const;
  void UpdateSlice();
  void SetupYScale();
  void CalcScaleSteps();
  void NewColumn();
  void DrawSpectrogram(bool repaint);
  void DrawData(const int32_t* values);
  void DrawBar(bool on_screen);
  void DrawSelection();
  void DrawLocator();
  void DrawFrequencyScale();
  void Advance(bool redrawn);
  void DrawInfo(vant::TPoint p);
  // Over an unlocked selection: resize at its edges, move inside it.
  void ShowSelectionCursor(int x);
  void EndInfo();
  void JoinList();
  void LeaveList();
  // The kept block of write position `pos`; once a scrolling picture is full the blocks turn
  // like a ring, so that position W - 1 always holds the newest column.
  int32_t* SaveBlock(int pos) {
    return save_.data() + static_cast<size_t>((save_first_ + pos) % w_) * 2048;
  }

  TMMSpectrogramCore core_;
  TMMSpectrogramRows rows_;
  std::vector<uint8_t> column_;
  TMMSpectrumInput input_;
  std::vector<int16_t> fft_data_;
  // The picture under the selection and locator while they are shown.
  std::vector<uint8_t> overlay_backup_;
  std::vector<int32_t> save_;
  bool save_data_ = false;
  int save_first_ = 0;

  bool show_info_ = true, draw_scale_ = false, accelerate_ = true, scroll_ = false;
  vant::TColor colors_[8] = {0, 0, 0x808080, 0xFFFFFF, vant::clBtnFace, 0xFF, 0xFF, 0xFFFF};
  int bar_width_ = 5;
  int rate_ = 11025;
  TMMSpectrogramGain gain_ = sgrNone;
  float zoom_ = 1, base_ = 0;
  TMMSpectrogramPalette palette_typ_ = spThreshold;
  bool locked_ = false, use_selection_ = false;

  vant::TRect draw_rect_{};
  int w_ = 4, h_ = 4, steps_ = 1;
  int data_col_ = -5, write_pos_ = 0;
  bool needs_clear_ = true;
  bool info_mode_ = false, saved_show_hint_ = false;
  vant::TRect info_box_{};  // the frequency box in picture coordinates, empty when none
  bool selecting_ = false, moving_ = false;
  int anchor_ = 0, move_from_ = 0;
  bool in_list_ = false;
  bool fft_length_set_ = false;
};
