#pragma once
// TMMSpectrum: the spectrum analyser. Each slice of PCM data the connector hands it goes through
// the shared input stage and the analyser's arithmetic (TMMSpectrumCore) to column records,
// which are drawn in one of six kinds into the control's DIB canvas: dots, a connected line,
// vertical lines about the middle, bars of spots with falling peak marks, only the top spot of
// each bar, or a line that scrolls down leaving its earlier copies. Unlit spots are prepared once
// in a second canvas. Peaks hold and fall on the shared 25 ms timer, whose thread only moves the
// records' atomic peak counters.
#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "exceptions.h"
#include "mmdibcv.h"
#include "mmdisplaycolors.h"
#include "mmdisplaydata.h"
#include "mmdisplayinfo.h"
#include "mmscaleddisplay.h"
#include "mmspectrumcore.h"
#include "mmtimer.h"

VANT_DECLARE_EXCEPTION(EMMSpectrumError, vant::Exception);

enum TMMSpectrumKind { skDots, skLines, skVLines, skBars, skPeaks, skScroll };
enum TMMSpectrumGain { sgNone, sg3db, sg6db, sg9db, sg12db };

inline constexpr int SPECTRUM_SCALEFONTSIZE = 10;
inline constexpr int SCROLLDISTANCE = 2;
inline constexpr vant::TColor SPECTRUM_INFOCOLOR = 0xFFFFFF;

using TMMSpectrumDrawBar = std::function<void(vant::TObject* Sender, TMMDIBCanvas& DIB,
                                              const vant::TRect& Rect, int nSpots, int Peak)>;
using TMMSpectrumClear =
    std::function<void(vant::TObject* Sender, TMMDIBCanvas& DIB, const vant::TRect& Rect)>;
using TMMSpectrumGetXScale = std::function<void(vant::TObject* Sender, int32_t* pX1, int32_t* pX2)>;

class TMMSpectrum : public TMMScaledDisplay, public TMMDisplayData {
 public:
  explicit TMMSpectrum(vant::TComponent* owner);
  ~TMMSpectrum() override;
  std::string ClassName() const override { return "TMMSpectrum"; }

  // ---- the display data interface ----
  void SetPCMWaveFormat(const WAVEFORMATEX& format) override;
  WAVEFORMATEX GetPCMWaveFormat() const;
  void RefreshPCMData(const void* slice) override;
  // FFTLength 16-bit values already transformed.
  void RefreshFFTData(const int16_t* data);
  // FFTLength / 2 32-bit values used in place of re² + im².
  void RefreshMagnitudeData(const int32_t* data);
  void ResetData() override;
  vant::TComponent* DisplayComponent() override { return this; }

  // ---- properties ----
  bool GetShowInfo() const { return show_info_; }
  void SetShowInfo(bool v) { show_info_ = v; }
  bool GetDrawFreqScale() const { return draw_freq_scale_; }
  void SetDrawFreqScale(bool v) { SetScaleShown(draw_freq_scale_, v); }
  bool GetDrawAmpScale() const { return draw_amp_scale_; }
  void SetDrawAmpScale(bool v) { SetScaleShown(draw_amp_scale_, v); }
  bool GetDrawGrid() const { return draw_grid_; }
  void SetDrawGrid(bool v) { SetRepaint(draw_grid_, v); }
  int GetSpace() const { return space_; }
  void SetSpace(int v);
  int GetSpotSpace() const { return spot_space_; }
  void SetSpotSpace(int v);
  int GetSpotHeight() const { return spot_height_; }
  void SetSpotHeight(int v);
  // Zones 1 .. 3.
  vant::TColor GetBarColor(int zone) const { return bar_colors_[Zone(zone)]; }
  void SetBarColor(int zone, vant::TColor c);
  vant::TColor GetInactiveColor(int zone) const { return inactive_colors_[Zone(zone)]; }
  void SetInactiveColor(int zone, vant::TColor c);
  vant::TColor GetScaleTextColor() const { return scale_text_color_; }
  void SetScaleTextColor(vant::TColor c) { SetRepaint(scale_text_color_, c); }
  vant::TColor GetScaleLineColor() const { return scale_line_color_; }
  void SetScaleLineColor(vant::TColor c) { SetRepaint(scale_line_color_, c); }
  vant::TColor GetGridColor() const { return grid_color_; }
  void SetGridColor(vant::TColor c) { SetRepaint(grid_color_, c); }
  int GetPoint1() const { return point1_; }
  void SetPoint1(int v);
  int GetPoint2() const { return point2_; }
  void SetPoint2(int v);
  bool GetDrawInactive() const { return draw_inactive_; }
  void SetDrawInactive(bool v) { SetRepaint(draw_inactive_, v); }
  bool GetInactiveDoted() const { return inactive_doted_; }
  void SetInactiveDoted(bool v);
  bool GetActiveDoted() const { return active_doted_; }
  void SetActiveDoted(bool v) { SetRepaint(active_doted_, v); }
  TMMMode GetMode() const { return static_cast<TMMMode>(core_.Input.Channels - 1); }
  void SetMode(TMMMode v);
  TMMBits GetBitLength() const { return core_.Input.Bits; }
  void SetBitLength(TMMBits v);
  TMMChannel GetChannel() const { return core_.Input.Channel; }
  void SetChannel(TMMChannel v);
  int GetSampleRate() const { return core_.SampleRate; }
  void SetSampleRate(int v);
  int GetRefFreq() const { return core_.RefFreq; }
  void SetRefFreq(int v);
  TMMSpectrumGain GetGain() const { return gain_; }
  void SetGain(TMMSpectrumGain v);
  int GetFFTLength() const { return core_.N(); }
  void SetFFTLength(int v);
  bool GetLogFreq() const { return core_.LogFreq; }
  void SetLogFreq(bool v);
  bool GetLogAmp() const { return core_.LogAmp; }
  void SetLogAmp(bool v);
  TMMSpectrumKind GetKind() const { return kind_; }
  void SetKind(TMMSpectrumKind v);
  TMMFFTWindow GetWindow() const { return core_.Input.GetWindow(); }
  void SetWindow(TMMFFTWindow v) { core_.Input.SetWindow(v); }
  TMMDecayMode GetDecayMode() const { return core_.GetDecayMode(); }
  void SetDecayMode(TMMDecayMode v) { core_.SetDecayMode(v); }
  int GetDecay() const { return core_.GetDecay(); }
  void SetDecay(int v) { core_.SetDecay(v); }
  int GetVerticalScale() const { return static_cast<int>(std::lround(core_.Factor / 0.01)); }
  void SetVerticalScale(int v);
  int GetFrequencyScale() const { return static_cast<int>(core_.Zoom); }
  void SetFrequencyScale(int v);
  int GetNumPeaks() const { return core_.NumPeaks; }
  void SetNumPeaks(int v);
  int GetPeakDelay() const { return core_.PeakDelay; }
  void SetPeakDelay(int v);
  int GetPeakSpeed() const { return core_.PeakSpeed; }
  void SetPeakSpeed(int v);
  bool GetDisplayPeak() const { return display_peak_; }
  void SetDisplayPeak(bool v) { SetRepaint(display_peak_, v); }

  // ---- operations ----
  TPeak GetPeak() { return core_.GetPeak(); }
  void ForceRescale() { SetupXScale(); }
  int GetOptimalWidth(int width) const;
  double GetFrequencyAtPos(vant::TPoint p) const;
  double GetAmplitudeAtPos(vant::TPoint p) const;
  // One frame: Clear for a repaint, else new data.
  void DrawSpectrum(bool clear);
  void DrawInactiveSpots();

  // What the display computes with; for tests and benchmarks.
  TMMSpectrumCore& Core() { return core_; }
  vant::TRect DrawingRect() const { return rect_; }
  int NumSpots() const { return spots_; }
  int Zone1() const { return z1_; }
  int Zone2() const { return z2_; }
  // The measuring box under the mouse (left button held): its text for a point of the control.
  std::string InfoText(vant::TPoint p) const;
  bool InInfoMode() const { return info_mode_; }
  const TMMInfoBox& InfoBox() const { return info_; }
  // The text the peak display wrote last ("" for none).
  const std::string& PeakText() const { return peak_text_; }

  void SetBPP(int value) override;
  void Loaded() override;
  void ChangeDesigning(bool value) override;

  TMMSpectrumGetXScale OnGetXScale;
  vant::TNotifyEvent OnNeedData;
  // Draws the bars of skBars and skPeaks instead of the control; cleared, the unlit spots are
  // prepared again.
  const TMMSpectrumDrawBar& GetOnDrawBar() const { return on_draw_bar_; }
  void SetOnDrawBar(TMMSpectrumDrawBar handler);
  TMMSpectrumClear OnClearBackground;
  vant::TNotifyEvent OnGainOverflow, OnPcmOverflow;

 protected:
  void Paint() override;
  void Changed() override;
  void ColorChanged() override;
  void EnabledChanged() override;
  virtual void GainOverflow();
  virtual void PcmOverflow();
  void MouseDown(vant::TMouseButton b, vant::TShiftState s, int x, int y) override;
  void MouseMove(vant::TShiftState s, int x, int y) override;
  void MouseUp(vant::TMouseButton b, vant::TShiftState s, int x, int y) override;

 private:
  static int Zone(int zone) { return zone < 1 ? 0 : zone > 3 ? 2 : zone - 1; }
  void DrawInfo(vant::TPoint p);
  void EndInfo();
  void SetupXScale();
  void SetupYScale();
  void CalcNumSpots();
  void NeedData();
  void InitializeData();
  void AdjustSize(int& width, int& height) const override;
  void UpdateSliceBytes();
  void ShowData();
  void CreatePeakTimer();
  void UpdatePeakTimer();
  void SuspendPeakTimer();
  int ZoneOfValue(int v) const;
  int RowOf(int v) const;
  void DrawAsDots(TMMDIBCanvas& c);
  void DrawAsLines(TMMDIBCanvas& c);
  void PointedLineTo(TMMDIBCanvas& c, int x, int y, bool pointed);
  void DrawAsVLines(TMMDIBCanvas& c);
  void DrawAsBars(TMMDIBCanvas& c);
  // Spots `lo` .. `hi` of a bar (all by default) as lit `lit` and a peak mark at `peak` show them.
  void DrawBar(TMMDIBCanvas& c, int first, int end, int lit, int peak, bool unlit, bool only_top,
               int lo = 1, int hi = INT32_MAX);
  // Everything the picture of the bars depends on besides their lit spots and peaks; a frame
  // drawn under the same key redraws only the bars that changed.
  struct BarsKey {
    bool usable = false;
    int kind = 0, bpp = 0, w = 0, h = 0, spots = 0, margin = 0, spot_height = 0, spot_space = 0,
        space = 0, z1 = 0, z2 = 0, peaks = 0;
    bool doted = false;
    vant::TColor colors[3] = {};
    const uint8_t* surface = nullptr;
    uint64_t unlit_serial = 0;
    bool operator==(const BarsKey&) const = default;
  };
  BarsKey CurrentBarsKey();
  // The bars whose lit spots or peak changed since the frame drawn under the same key, drawn
  // again over the unlit spots, each one's rectangle in `bars_drawn_`; false when the records no
  // longer match that frame's.
  bool UpdateBars(TMMDIBCanvas& c, bool& changed);
  // The picture in the canvas is not the last frame's any more (the measuring box, a new surface).
  void ForgetBars() { drawn_key_ = {}; }
  void DrawGrids(TMMDIBCanvas& c);
  void DrawScales();
  void DrawPeakValue();
  int FreqDivisions() const;
  int AmpDivisions() const;
  int LinearRow(int k, int n) const;

  TMMSpectrumCore core_;
  TMMSpectrumKind kind_ = skBars;
  TMMSpectrumGain gain_ = sgNone;
  bool show_info_ = true;
  bool draw_freq_scale_ = false, draw_amp_scale_ = false, draw_grid_ = false;
  int space_ = 1, spot_space_ = 1, spot_height_ = 1;
  vant::TColor bar_colors_[3] = {0xFFFF00, 0xFFFF00, 0xFF};
  vant::TColor inactive_colors_[3] = {0x808000, 0x808000, 0x80};
  vant::TColor grid_color_ = 0x808080;
  vant::TColor scale_text_color_ = 0, scale_line_color_ = 0;
  TMMSpectrumDrawBar on_draw_bar_;
  int point1_ = 50, point2_ = 85;
  bool draw_inactive_ = true, inactive_doted_ = false, active_doted_ = false;
  bool display_peak_ = false;

  vant::TRect rect_{};
  int spots_ = 1, margin_ = 0, z1_ = 0, z2_ = 0;
  int baseline_ = 1;
  bool constructing_ = true;
  std::string peak_text_;
  std::unique_ptr<TMMDIBCanvas> unlit_;
  TMMColorCache colors_cache_;
  vant::PMMTimeEvent peak_timer_ = nullptr;
  bool peak_suspended_ = false;
  std::atomic<bool> info_mode_{false};
  TMMInfoBox info_;
  bool saved_show_hint_ = false;
  // The last frame of bars: its key and, per record, its columns, lit spots and peak.
  struct BarDrawn {
    int32_t first = -1, end = 0, value = 0, lit = 0, peak = 0;
  };
  BarsKey drawn_key_;
  std::vector<BarDrawn> drawn_;
  std::vector<vant::TRect> bars_drawn_;  // what the last UpdateBars wrote: all the blit reads
  uint64_t unlit_serial_ = 0;
  static int need_data_nesting_;
};
