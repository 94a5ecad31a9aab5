#include "mmspgramcore.h"

#include <algorithm>
#include <cmath>

namespace {

uint8_t Low(int64_t v) { return static_cast<uint8_t>(v & 0xFF); }

PALETTEENTRY Rgb(int64_t r, int64_t g, int64_t b) { return {Low(r), Low(g), Low(b), 0}; }

PALETTEENTRY Hsv(int g) {
  if (g < 64) return Rgb(0, 4 * g, 255);
  if (g < 128) return Rgb(0, 255, 510 - 4 * g);
  if (g < 192) return Rgb(4 * g - 510, 255, 0);
  return Rgb(255, 1020 - 4 * g, 0);
}

int64_t T(double v) { return static_cast<int64_t>(v); }

}  // namespace

PALETTEENTRY SpectrogramColor(TMMSpectrogramPalette map, int i) {
  if (i < MIN_COLOR || i >= MIN_COLOR + NUM_COLORS) return {0, 0, 0, 0};
  const int g = (i - MIN_COLOR) * 256 / NUM_COLORS;
  switch (map) {
    case spHSV:
      return Hsv(g);
    case spThreshold:
      return g < 16 ? Rgb(0, 0, 0) : Hsv(g);
    case spBlackWhite:
      return Rgb(g, g, g);
    case spWhiteBlack:
      return Rgb(255 - g, 255 - g, 255 - g);
    case spBone:
      if (g < 96) return Rgb(T(0.88889 * g), T(0.88889 * g), T(1.2 * g));
      if (g < 192) return Rgb(T(0.88889 * g), T(1.2 * g - 29), T(0.88889 * g + 29));
      return Rgb(T(1.2 * g - 60), T(0.88889 * g + 29), T(0.88889 * g + 29));
    case spCopper:
      if (g < 208) return Rgb(T(1.23 * g), T(0.78 * g), T(0.5 * g));
      return Rgb(255, T(0.78 * g), T(0.5 * g));
    case spCool:
      return Rgb(g, 255 - g, 255);
    case spHot:
      if (g < 96) return Rgb(T(2.66667 * g + 0.5), 0, 0);
      if (g < 192) return Rgb(255, T(2.66667 * g - 254), 0);
      return Rgb(255, 255, T(4.0 * g - 766));
  }
  return {0, 0, 0, 0};
}

TLogPalette SpectrogramPalette(TMMSpectrogramPalette map) {
  TLogPalette p;
  p.palVersion = 0x300;
  p.entries.resize(256);
  for (int i = 0; i < 256; ++i) p.entries[i] = SpectrogramColor(map, i);
  return p;
}

void TMMSpectrogramRows::Setup(int rows, int fft_length, int rate, float zoom, float base_hz) {
  const int h = std::max(rows, 1);
  const int n = fft_length;
  base = std::clamp(base_hz, 0.0f, std::max(rate / 2.0f - 1000, 0.0f));
  const float f = base / static_cast<float>(rate) * static_cast<float>(n);
  first.assign(h, 0);
  end.assign(h, 0);
  for (int r = 0; r < h; ++r) {
    const double b =
        std::floor(f + 0.01 + static_cast<double>(r) / h * (n / 2.0 - zoom * f) / zoom);
    first[r] = static_cast<int32_t>(std::clamp(b, 0.0, n / 2.0 - 1));
    if (r > 0) end[r - 1] = first[r];
  }
  for (int r = 0; r < h; ++r)
    if (end[r] <= first[r] + 1) end[r] = 0;
  for (int r = h - 1; r >= 1; --r) {
    if (first[r] == first[r - 1]) {
      first[r] = -1;
      end[r] = 0;
    }
  }
}

int SpectrogramScaleSteps(int rate, float zoom, int rows) {
  int steps = static_cast<int>(rate / 2 / 1000.0f * zoom);
  while (steps > 1 && rows / steps < SPECTROGRAM_SCALEFONTSIZE) steps /= 2;
  return std::max(steps, 1);
}

// ---- colour values ---------------------------------------------------------------------------

int32_t TMMSpectrogramCore::ColorOf(double m) const {
  double v;
  if (LogAmp) {
    v = std::log(std::max(m, 1.0)) * 20 * Factor + 2 * (-90 - Sensitivity);
  } else {
    v = std::sqrt(std::max(m, 0.0)) * Factor + (-90 - Sensitivity);
  }
  // Far beyond the palette either way; the column clamps it.
  return static_cast<int32_t>(std::clamp(v, -1e9, 1e9)) + MIN_COLOR;
}

void TMMSpectrogramCore::CalcColors(const int16_t* fft, int n) {
  colors_.resize(n / 2);
  for (int j = 0; j < n / 2; ++j) {
    const double re = fft[2 * j], im = fft[2 * j + 1];
    colors_[j] = ColorOf(re * re + im * im);
  }
}

void TMMSpectrogramCore::CalcColorsGiven(const int32_t* powers, int n) {
  colors_.resize(n / 2);
  for (int j = 0; j < n / 2; ++j) colors_[j] = ColorOf(powers[j]);
}

void TMMSpectrogramCore::SetColors(const int32_t* values, int bins) {
  colors_.assign(values, values + bins);
}

void TMMSpectrogramCore::ResetEmboss() { std::fill(emboss_.begin(), emboss_.end(), 0); }

void TMMSpectrogramCore::MakeColumn(const TMMSpectrogramRows& rows, std::vector<uint8_t>& column) {
  const int h = static_cast<int>(rows.first.size());
  column.assign(h, MIN_COLOR);
  if (emboss_.size() < static_cast<size_t>(h)) emboss_.resize(h, 0);
  const int bins = static_cast<int>(colors_.size());
  auto color = [&](int j) { return j >= 0 && j < bins ? colors_[j] : MIN_COLOR; };
  int group = 0;
  int32_t below = MIN_COLOR;  // raw value of the group below, for the emboss memory
  for (int r = 0; r < h;) {
    int top = r + 1;
    while (top < h && rows.first[top] == -1) ++top;
    const int b = rows.first[r];
    int32_t value = color(b);
    for (int j = b + 1; j < rows.end[r]; ++j) value = std::max(value, color(j));
    int32_t shown = value;
    if (Embossed) {
      shown = emboss_[group] - value + NUM_COLORS / 2;
      emboss_[group] = below;
    }
    below = value;
    shown = std::clamp<int32_t>(shown, MIN_COLOR, MIN_COLOR + NUM_COLORS - 1);
    for (int k = r; k < top; ++k) column[h - 1 - k] = static_cast<uint8_t>(shown);
    ++group;
    r = top;
  }
  // The top row repeats the row below it.
  if (h >= 2) column[0] = column[1];
}
