// TMMLight as a control: a bass, a middle and a treble tone each light their own band, only
// through the palette (no pixel changes between slices); spheres, the zone limit, and
// screenshots of the kinds and arrangements with a music-like signal.
#include "mmlight.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <numbers>
#include <vector>

#include "display_form_fixture.h"
#include "mmpcmsup.h"
#include "ui_testing.h"

namespace vant {
namespace {

constexpr int kRate = 11025;

std::vector<int16_t> Tone(double hz, int frames = 128, double amplitude = 12000) {
  std::vector<int16_t> v(frames);
  for (int i = 0; i < frames; ++i)
    v[i] = static_cast<int16_t>(
        std::lround(amplitude * std::sin(2 * std::numbers::pi * hz * i / kRate)));
  return v;
}

class LightTest : public DisplayFormTest {
 protected:
  TMMLight* NewLight(int left = 10) {
    auto* l = new TMMLight(&form);
    l->SetParent(&form);
    l->SetBounds(left, 10, 170, 90);
    WAVEFORMATEX f{};
    pcmBuildWaveHeader(f, 16, 1, kRate);
    l->SetPCMWaveFormat(f);
    return l;
  }
  static std::vector<uint8_t> Pixels(TMMLight& l) {
    TMMDIBCanvas& c = l.DIBCanvas();
    return {c.Surface(), c.Surface() + static_cast<size_t>(c.ScanWidth()) * c.GetHeight()};
  }
};

TEST_F(LightTest, EachToneLightsItsBandThroughThePaletteOnly) {
  TMMLight* l = NewLight();
  ASSERT_EQ(l->SliceBytes(), 256);
  const std::vector<uint8_t> before = Pixels(*l);
  struct Case {
    const char* what;
    double hz;
    int lit;
  } cases[] = {{"bass", 100, 0}, {"middle", 700, 1}, {"treble", 2500, 2}};
  // Colour table entries hold red in the low byte: red, green, and yellow (red and green).
  const uint32_t masks[3] = {0x0000FF, 0x00FF00, 0x00FFFF};
  for (const Case& t : cases) {
    SCOPED_TRACE(t.what);
    l->RefreshPCMData(Tone(t.hz).data());
    TMMDIBCanvas& c = l->DIBCanvas();
    for (int i = 0; i < 3; ++i) {
      const uint32_t rgb = c.GetAnimColorValue(i);
      EXPECT_EQ(rgb & ~masks[i], 0u);  // each light keeps its own hue
      if (i == t.lit) {
        EXPECT_GT((rgb >> (i == 1 ? 8 : 0) & 0xFF), 100u) << i;
      } else {
        EXPECT_LT((rgb >> (i == 1 ? 8 : 0) & 0xFF), 40u) << i;
      }
    }
  }
  EXPECT_EQ(Pixels(*l), before);
}

TEST_F(LightTest, SpheresAndLimits) {
  TMMLight* l = NewLight();
  l->SetZoneCount(100);
  EXPECT_EQ(l->GetZoneCount(), 78);
  l->SetKind(lkSphere);
  EXPECT_EQ(l->DIBCanvas().GetAnimCount(), 3 * 78);
  l->SetZoneCount(1);
  EXPECT_EQ(l->DIBCanvas().GetAnimCount(), 3);
  l->RefreshPCMData(Tone(100).data());
  const uint32_t one_ring = l->DIBCanvas().GetAnimColorValue(0);
  EXPECT_GT(one_ring & 0xFF, 100u);
  l->SetSphereHorz(0);
  l->RefreshPCMData(Tone(100).data());
  EXPECT_EQ(l->DIBCanvas().GetAnimColorValue(0), 0u);
  // No number is no shading: the last one stays.
  l->SetSphereHorz(NAN);
  l->SetSphereVert(NAN);
  EXPECT_EQ(l->GetSphereHorz(), 0);
  EXPECT_EQ(l->GetSphereVert(), 1);
  l->SetAmplitude(1, 5000);
  EXPECT_EQ(l->GetAmplitude(1), 1000);
  WAVEFORMATEX adpcm{};
  adpcm.wFormatTag = 2;
  EXPECT_THROW(l->SetPCMWaveFormat(adpcm), EMMLightError);
  // Too small for the spacing: the background alone.
  l->SetBounds(10, 10, 12, 12);
  EXPECT_LT(l->Layout().Radius, 1);
  for (uint8_t p : Pixels(*l)) EXPECT_EQ(p, Pixels(*l)[0]);
  // A spacing wider than any control is held to 32,767 pixels and leaves no light either.
  l->SetBounds(10, 10, 170, 90);
  l->SetTriangleDist(INT_MAX);
  EXPECT_EQ(l->GetTriangleDist(), 32767);
  EXPECT_LT(l->Layout().Radius, 1);
}

TEST_F(LightTest, Screenshots) {
  std::vector<int16_t> music;
  for (int k = 0; k < 20; ++k) {
    const auto a = Tone(110, 128, 9000), b = Tone(880, 128, 3000), c = Tone(2600, 128, 1500);
    for (int i = 0; i < 128; ++i) music.push_back(static_cast<int16_t>(a[i] + b[i] + c[i]));
  }
  struct Look {
    TMMLightKind kind;
    TMMLightArrange arrange;
  } looks[] = {{lkCircle, laLine}, {lkSphere, laLine}, {lkSphere, laTriangle}};
  int left = 10;
  std::vector<TMMLight*> lights;
  for (const Look& look : looks) {
    TMMLight* l = NewLight(left);
    l->SetKind(look.kind);
    l->SetArrange(look.arrange);
    l->SetZoneCount(30);
    for (size_t i = 0; i + 128 <= music.size(); i += 128) l->RefreshPCMData(&music[i]);
    lights.push_back(l);
    left += 180;
  }
  uitest::SaveScreenshot(form, "lights");
  // The row of lights, placed by hand: a drawing area of W × H (H >= W / 3) holds a band W
  // wide and W / 3 high centred in it; with a gap of 5 each light has radius (W / 3) / 2 - 5
  // and light k is centred k × 2r + (2k + 1) × 5 + r from the band's left, 5 + r from its top.
  for (TMMLight* l : {lights[0], lights[1]}) {
    SCOPED_TRACE(l == lights[0] ? "circles" : "spheres");
    const TRect d = l->DrawingRect();
    const int W = d.Right - d.Left, H = d.Bottom - d.Top;
    ASSERT_GE(H, W / 3);
    const int r = W / 3 / 2 - 5, band_top = d.Top + (H - W / 3) / 2;
    auto centre = [&](int k) {
      return uitest::RenderedPixel(*l, d.Left + k * 2 * r + (2 * k + 1) * 5 + r, band_top + 5 + r);
    };
    const TColor bass = centre(0), middle = centre(1), treble = centre(2);
    // Red, green and yellow (red and green alike), as bright as their bands.
    EXPECT_GT(bass & 0xFF, 0);
    EXPECT_EQ(bass & 0xFFFF00, 0);
    EXPECT_GT(middle & 0xFF00, 0);
    EXPECT_EQ(middle & 0xFF00FF, 0);
    EXPECT_GT(treble & 0xFF, 0);
    EXPECT_EQ(treble & 0xFF, (treble >> 8) & 0xFF);
    EXPECT_EQ(treble & 0xFF0000, 0);
    // Between the lights and round them: the background.
    EXPECT_EQ(uitest::RenderedPixel(*l, d.Left + 2 * r + 10, band_top + 5 + r), clBlack);
    EXPECT_EQ(uitest::RenderedPixel(*l, d.Left + 1, d.Top + 1), clBlack);
  }
}

}  // namespace
}  // namespace vant
