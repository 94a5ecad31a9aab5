#pragma once
// The numbers behind the spectrogram, without any drawing: the eight colour maps of its palette,
// which FFT bins each pixel row shows, how a bin's power becomes a palette index, and how one
// column of palette indices is made from those (with the embossed look).
#include <cstdint>
#include <vector>

#include "mmdib.h"

enum TMMSpectrogramPalette {
  spHSV,
  spThreshold,
  spBlackWhite,
  spWhiteBlack,
  spBone,
  spCopper,
  spCool,
  spHot
};
// The differencing order of the tilt: none, first and second difference.
enum TMMSpectrogramGain { sgrNone, sgr6db, sgr12db };

inline constexpr int16_t MIN_COLOR = 10;    // first palette entry the picture uses
inline constexpr int16_t NUM_COLORS = 236;  // palette entries the picture uses
inline constexpr int SPECTROGRAM_SCALEFONTSIZE = 10;
// Fill of the frequency box.
inline constexpr uint32_t INFOCOLOR = 0xFFFFFF;

// Entry i (10 .. 245) of a colour map; entries outside are black.
PALETTEENTRY SpectrogramColor(TMMSpectrogramPalette map, int i);
// The 256-entry logical palette of a colour map.
TLogPalette SpectrogramPalette(TMMSpectrogramPalette map);

// Which bins each row shows: rows from the bottom (0) up, each with its first bin and end bin.
// A row whose first bin is -1 is covered by the row below; an end bin of 0 means the row shows
// its first bin alone.
struct TMMSpectrogramRows {
  std::vector<int32_t> first, end;
  // The base frequency after clamping to what the rate allows.
  float base = 0;
  void Setup(int rows, int fft_length, int rate, float zoom, float base_hz);
};

// Whole-kilohertz divisions of the frequency scale that fit `rows` rows.
int SpectrogramScaleSteps(int rate, float zoom, int rows);

class TMMSpectrogramCore {
 public:
  bool LogAmp = false;
  float Factor = 1.0f;  // AmplitudeScale / 100
  int Sensitivity = -90;
  bool Embossed = false;

  // The palette index (before clamping) of each bin from the FFT data (n 16-bit values in the
  // real FFT's layout), or from n / 2 given powers.
  void CalcColors(const int16_t* fft, int n);
  void CalcColorsGiven(const int32_t* powers, int n);
  const std::vector<int32_t>& Colors() const { return colors_; }
  // Replaces the colour values (a saved column drawn again).
  void SetColors(const int32_t* values, int bins);

  // The palette indices of one column, top row first, from the colour values.
  void MakeColumn(const TMMSpectrogramRows& rows, std::vector<uint8_t>& column);
  // Empties the emboss memory.
  void ResetEmboss();

 private:
  int32_t ColorOf(double power) const;
  std::vector<int32_t> colors_;
  std::vector<int32_t> emboss_;
};
