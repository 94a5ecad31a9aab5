#pragma once
// TWavPanel: a frame that shows a sound file's energy envelope in two strips (the left channel
// above, the right below) with up to four coloured marker lines and a horizontal zoom. The player
// window's load thread builds the envelope and hands it over; while the frame shows one, its time
// label is the player's display control.
#include <cstdint>
#include <string>
#include <vector>

#include "mmpanel.h"
#include "rangebars_widget.h"
#include "ui_canvas.h"
#include "ui_stdctrls.h"

class TWavPanel : public vant::TFrame {
 public:
  explicit TWavPanel(vant::TComponent* owner);
  ~TWavPanel() override;
  std::string ClassName() const override { return "TWavPanel"; }

  // The energy stream (568-byte header, then the values); the load thread replaces it.
  void SetEnergyStream(std::vector<uint8_t> stream) { energy_ = std::move(stream); }
  const std::vector<uint8_t>& EnergyStream() const { return energy_; }
  // `bytes` of values follow the header; draws them at zoom 1 unless the main window's Tag is set.
  void SetEnergyData(uint32_t bytes, int rate);
  void SetZoom(int n);
  void DrawEnergy(int divisor);
  void ClearDisplay();
  void ClearBox(vant::TPaintBox* box);
  void DrawGrid(vant::TPaintBox* box);
  void DrawMarker(vant::TPaintBox* box, vant::TColor colour, int x);
  // "hh:mm:ss:cc" in hundredths of a second; a field that is no number counts 0.
  static int ParseMarkerTime(const std::string& text);
  // What a strip shows (the picture its paint box paints).
  vant::TBitmap& Picture(vant::TPaintBox* box) { return box == PBL ? left_ : right_; }

  uint32_t ValueCount() const { return value_count_; }
  double SampleRate() const { return rate_; }
  double Total() const { return total_; }
  double PixelsPerValue() const { return pixels_per_value_; }
  // Multiplies every value before it is mapped to a strip's height (the vertical magnification).
  int Gain = 0;
  // One marker line per time text, at most four colours.
  std::vector<std::string> MarkerList;

  // Layout.
  TMMPanel *Panel3, *Panel9, *Base, *LBase, *RBase, *Panel2, *Panel1;
  vant::TPaintBox *PBL, *PBR;
  g32::TGaugeBar *YGageMag, *ScrollBar2, *XGageMag;
  vant::TLabel *MagScale, *TimeIndicator, *MagTime;

  void FrameResize(vant::TObject* Sender);
  void YGageMagChange(vant::TObject* Sender);
  void XGageMagChange(vant::TObject* Sender);
  void ScrollBar2Change(vant::TObject* Sender);

 private:
  bool Drawing() const;
  void StripPaint(vant::TPaintBox* box);
  void FitPicture(vant::TPaintBox* box);
  void Redraw();

  std::vector<uint8_t> energy_;
  double rate_ = 0;
  uint32_t value_count_ = 0;
  double frames_per_value_ = 0;
  double total_ = 0;
  double pixels_per_value_ = 0;
  int channels_ = 0, bytes_per_value_ = 0;
  int zoom_ = 1;
  vant::TBitmap left_, right_;
};
