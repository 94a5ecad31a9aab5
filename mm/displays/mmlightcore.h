#pragma once
// The numbers behind the light show, without any drawing: the three frequency bands and their
// bins, a band's value from the bin magnitudes, a light's brightness from its band, the shading
// of a sphere's rings, and where the three lights sit.
#include <cstdint>

enum TMMLightKind { lkCircle, lkSphere };
enum TMMLightArrange { laLine, laTriangle };
enum TMMLightPeakMode { pmRMS, pmPeak, pmAverage };

// Centres of the bass, middle and treble bands in Hz.
inline constexpr int kLightBandCentres[3] = {150, 750, 1750};
// The rings a sphere may have: three spheres must fit the canvas's 236 animated colours.
inline constexpr int kLightMaxZones = 78;

struct TMMLightBand {
  int32_t First = 0;  // -1: the band is skipped
  int32_t End = 0;    // 0: the band shows its first bin alone
  int32_t Value = 0;
  int Shown = -1;  // brightness last shown, -1 none
};

struct TMMLightBands {
  TMMLightBand Band[3];
  void Setup(int rate, int fft_length);
  // Band values from the magnitudes of the bins.
  void CalcValues(const int32_t* magnitudes, TMMLightPeakMode mode);
};

// Brightness 0 .. 255 of band `band` (0 bass) with its gain (GainX × 0.0005).
int LightBrightness(int band, int32_t value, double gain);
// Intensity of ring `ring` (0 outermost) of a sphere whose band shows brightness `b`.
int SphereIntensity(int b, int ring, int zones, float horz, float vert);

struct TMMLightRect {
  int Left = 0, Top = 0, Right = 0, Bottom = 0;
};

// The squares of the three lights (bass, middle, treble) in a drawing area of w × h; empty
// (radius below 1) when the lights do not fit.
struct TMMLightLayout {
  int Radius = 0;
  TMMLightRect Light[3];
  void Compute(int w, int h, TMMLightArrange arrange, int distance);
};
