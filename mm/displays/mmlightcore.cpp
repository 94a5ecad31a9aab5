#include "mmlightcore.h"

#include <algorithm>
#include <cmath>

void TMMLightBands::Setup(int rate, int fft_length) {
  const double edges[3] = {0, std::sqrt(150.0 * 750.0), std::sqrt(750.0 * 1750.0)};
  const int half = fft_length / 2;
  for (int j = 0; j < 3; ++j) {
    Band[j].First = static_cast<int32_t>(
        std::clamp<double>(std::nearbyint(edges[j] / rate * fft_length), 0, half));
    if (j > 0) Band[j - 1].End = Band[j].First;
  }
  Band[2].End = half - 1;
  for (auto& b : Band)
    if (b.End <= b.First + 1) b.End = 0;
  for (int j = 2; j >= 1; --j)
    if (Band[j].First == Band[j - 1].First) Band[j].First = -1;
}

void TMMLightBands::CalcValues(const int32_t* m, TMMLightPeakMode mode) {
  for (auto& b : Band) {
    if (b.First < 0) continue;
    int64_t a = m[b.First];
    if (b.End > 0) {
      switch (mode) {
        case pmPeak:
          for (int j = b.First; j < b.End; ++j) a = std::max<int64_t>(a, m[j]);
          break;
        case pmAverage:
          for (int j = b.First; j < b.End; ++j) a += m[j];
          a /= b.End - b.First + 1;
          break;
        case pmRMS: {
          float sum = static_cast<float>(a);
          for (int j = b.First; j < b.End; ++j)
            sum += static_cast<float>(m[j]) * (static_cast<float>(m[j]) + 0.1f);
          a = static_cast<int64_t>(std::sqrt(sum / std::max(b.End - b.First, 1)));
          break;
        }
      }
    }
    b.Value = static_cast<int32_t>(std::min<int64_t>(a, INT32_MAX));
  }
}

int LightBrightness(int band, int32_t value, double gain) {
  // The higher bands carry less energy: the middle counts twice, the treble four times.
  const double weight = band == 0 ? 1 : band == 1 ? 2 : 4;
  return static_cast<int>(std::clamp(std::trunc(weight * gain * value), 0.0, 255.0));
}

int SphereIntensity(int b, int ring, int zones, float horz, float vert) {
  float d = static_cast<float>(zones - ring - 1);
  const float limit = std::trunc(zones * horz);
  if (d > limit) d = limit;
  if (horz == 0 || vert == 0) return 0;
  const float s = d / horz;
  const float z = static_cast<float>(zones);
  const float profile = std::sqrt(std::max(z * z - s * s, 0.0f));
  float k = std::trunc(std::trunc(vert * profile) / (z * vert) * 255);
  // A shading too large for a float shades as its limit, the sphere's own profile.
  if (!std::isfinite(k)) k = std::trunc(profile / z * 255);
  return static_cast<int>(std::trunc(b / 255.0f * std::clamp(k, 0.0f, 255.0f)));
}

void TMMLightLayout::Compute(int w, int h, TMMLightArrange arrange, int distance) {
  const int gap = distance / 2;
  int area_w, area_h;
  if (arrange == laLine) {
    const bool horizontal = w >= h;
    if (horizontal) {
      area_w = h < w / 3 ? 3 * h : w;
      area_h = h < w / 3 ? h : w / 3;
    } else {
      area_w = w < h / 3 ? w : h / 3;
      area_h = w < h / 3 ? 3 * w : h;
    }
    const int along = horizontal ? area_w : area_h;
    Radius = along / 3 / 2 - gap;
    const int ox = (w - area_w) / 2, oy = (h - area_h) / 2;
    for (int k = 0; k < 3; ++k) {
      const int a = k * 2 * Radius + (2 * k + 1) * gap;
      const int x = horizontal ? a : gap, y = horizontal ? gap : a;
      Light[k] = {ox + x, oy + y, ox + x + 2 * Radius, oy + y + 2 * Radius};
    }
    return;
  }
  const int s = std::min(w, h);
  Radius = (s - 4 * gap) / 4;
  const int a = gap + Radius;
  area_w = 4 * a;
  area_h = static_cast<int>(a * 3.7320508);
  const int ox = (w - area_w) / 2, oy = (h - area_h) / 2;
  const int cx[3] = {2 * a - Radius - gap, 2 * a, 2 * a + Radius + gap};
  const int cy[3] = {Radius + gap, area_h - gap - Radius, Radius + gap};
  for (int k = 0; k < 3; ++k)
    Light[k] = {ox + cx[k] - Radius, oy + cy[k] - Radius, ox + cx[k] + Radius, oy + cy[k] + Radius};
}
