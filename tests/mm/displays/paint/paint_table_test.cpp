// Every display control painted once for each of its number properties (geometry included) at
// each end of the property's type: whatever a setter accepts, the paint ends soon, the size stays
// one a screen can show and the picture holds only the control's colours.
#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>
#include <functional>
#include <vector>

#include "clock.h"
#include "mmlevel.h"
#include "mmlevelscale.h"
#include "mmlight.h"
#include "mmmeter.h"
#include "mmoscope.h"
#include "mmpcmsup.h"
#include "mmspectrum.h"
#include "mmspgram.h"
#include "mmtimer.h"
#include "paint_table.h"
#include "timerservice.h"
#include "ui_application.h"
#include "ui_form.h"

namespace vant {
namespace {

using painttable::Float;
using painttable::Int;
using painttable::Property;
using painttable::Table;

class DisplayPaintTable : public ::testing::Test {
 protected:
  void SetUp() override {
    Application->Initialize();
    SetClock(&clock);
    SetTimerService(&service);
    form.SetBounds(0, 0, 320, 160);
    form.SetColor(clGray);
  }
  void TearDown() override {
    SetTimerService(nullptr);
    SetClock(nullptr);
  }

  // A new control on the form, 200 x 100, as a user places it, showing what `then` gives it.
  template <class C>
  std::function<C*()> Maker(std::function<void(C&)> then = [](C&) {}) {
    return [this, then] {
      auto* c = new C(&form);
      c->SetParent(&form);
      c->SetBounds(10, 10, 200, 100);
      then(*c);
      return c;
    };
  }

  ManualClock clock;
  ThreadTimerService service{clock};
  TForm form{nullptr};
};

// The rows, each followed by `then` (what makes the control show something after the change:
// a value or a slice of sound), and the geometry in front.
template <class C>
std::vector<Property<C>> Rows(std::vector<Property<C>> rows, std::function<void(C&)> then) {
  std::vector<Property<C>> all = painttable::Geometry<C>();
  all.insert(all.end(), rows.begin(), rows.end());
  for (auto& row : all) {
    if (auto* set = std::get_if<painttable::IntSetter<C>>(&row.set))
      row.set = painttable::IntSetter<C>([set = *set, then](C& c, int v) {
        set(c, v);
        then(c);
      });
    else
      row.set = painttable::FloatSetter<C>(
          [set = std::get<painttable::FloatSetter<C>>(row.set), then](C& c, double v) {
            set(c, v);
            then(c);
          });
  }
  return all;
}

// A double as the float a caller would pass: beyond the float range it is infinite.
float AsFloat(double v) {
  if (std::isnan(v)) return NAN;
  if (v > FLT_MAX) return INFINITY;
  if (v < -FLT_MAX) return -INFINITY;
  return static_cast<float>(v);
}

// One loud slice (a 1 kHz sine at 48 kHz in the display's format), when the display asks for
// one of a sensible size.
template <class C>
void FeedSlice(C& c) {
  c.SetPCMWaveFormat([] {
    WAVEFORMATEX f{};
    pcmBuildWaveHeader(f, 16, 2, 48000);
    return f;
  }());
  const int64_t bytes = c.SliceBytes();
  if (bytes <= 0 || bytes > (int64_t{1} << 22)) return;
  std::vector<int16_t> slice(static_cast<size_t>(bytes / 2 + 1));
  for (size_t i = 0; i < slice.size(); ++i)
    slice[i] = static_cast<int16_t>(30000 * std::sin(2 * M_PI * 1000 * double(i / 2) / 48000));
  c.RefreshPCMData(slice.data());
}

// A colour at the ends of int: system colours and values beyond RGB must paint too.
template <class C>
Property<C> Colour(const char* name, std::function<void(C&, TColor)> set) {
  Property<C> row = Int<C>(name, [set](C& c, int v) { set(c, static_cast<TColor>(v)); });
  row.any_colour = true;
  return row;
}

// Refuses anything but 8 and 24 bits with the canvas's own error, and paints on.
template <class C>
Property<C> BitsPerPixel() {
  return Int<C>("BPP", [](C& c, int v) {
    try {
      c.SetBPP(v);
    } catch (const EMMDIBError&) {
    }
  });
}

TEST_F(DisplayPaintTable, LevelBar) {
  auto then = [](TMMLevel& l) { l.SetValue(100); };
  painttable::Paint(Table<TMMLevel>{
      "TMMLevel",
      Maker<TMMLevel>(then),
      Rows<TMMLevel>({Int<TMMLevel>("SpotWidth", [](TMMLevel& l, int v) { l.SetSpotWidth(v); }),
                      Int<TMMLevel>("SpotSpace", [](TMMLevel& l, int v) { l.SetSpotSpace(v); }),
                      Int<TMMLevel>("vertical SpotWidth",
                                    [](TMMLevel& l, int v) {
                                      l.SetKind(lkVertical);
                                      l.SetSpotWidth(v);
                                    }),
                      Int<TMMLevel>("Point1", [](TMMLevel& l, int v) { l.SetPoint1(v); }),
                      Int<TMMLevel>("Point2", [](TMMLevel& l, int v) { l.SetPoint2(v); }),
                      Int<TMMLevel>("NumPeaks", [](TMMLevel& l, int v) { l.SetNumPeaks(v); }),
                      Int<TMMLevel>("PeakDelay", [](TMMLevel& l, int v) { l.SetPeakDelay(v); }),
                      Int<TMMLevel>("PeakSpeed", [](TMMLevel& l, int v) { l.SetPeakSpeed(v); }),
                      Int<TMMLevel>("Samples", [](TMMLevel& l, int v) { l.SetSamples(v); }),
                      Int<TMMLevel>("DCOffsetL", [](TMMLevel& l, int v) { l.SetDCOffsetL(v); }),
                      Int<TMMLevel>("DCOffsetR", [](TMMLevel& l, int v) { l.SetDCOffsetR(v); }),
                      Int<TMMLevel>("Gain", [](TMMLevel& l, int v) { l.SetGain(v); }),
                      Int<TMMLevel>("Sensitivy", [](TMMLevel& l, int v) { l.SetSensitivy(v); }),
                      Int<TMMLevel>("linear Sensitivy",
                                    [](TMMLevel& l, int v) {
                                      l.SetLogAmp(false);
                                      l.SetSensitivy(v);
                                    }),
                      Int<TMMLevel>("Decay",
                                    [](TMMLevel& l, int v) {
                                      l.SetDecayMode(dmExponential);
                                      l.SetDecay(v);
                                    }),
                      Int<TMMLevel>("symmetric Data",
                                    [](TMMLevel& l, int v) {
                                      l.SetDirection(dirSymetric);
                                      l.SetData(v);
                                    }),
                      Int<TMMLevel>("Value", [](TMMLevel& l, int v) { l.SetValue(v); }),
                      BitsPerPixel<TMMLevel>()},
                     then),
      // A lower value shows unlit segments.
      {ColorToPixel(0x808000) & 0xFFFFFFu, ColorToPixel(0x80) & 0xFFFFFFu}});
  painttable::Paint(Table<TMMLevel>{
      "TMMLevel",
      Maker<TMMLevel>(then),
      Rows<TMMLevel>(
          {Colour<TMMLevel>("BarColor3", [](TMMLevel& l, TColor v) { l.SetBarColor(3, v); }),
           Colour<TMMLevel>("InactiveColor1",
                            [](TMMLevel& l, TColor v) { l.SetInactiveColor(1, v); }),
           Colour<TMMLevel>("Color", [](TMMLevel& l, TColor v) { l.SetColor(v); })},
          then),
      {},
      true});
}

TEST_F(DisplayPaintTable, LevelScale) {
  using S = TMMLevelScale;
  auto scale = [](auto set) {
    return [set](S& s, int v) {
      s.Scale().SetVisible(true);
      set(s.Scale(), v);
    };
  };
  painttable::Paint(Table<S>{
      "TMMLevelScale",
      Maker<S>(),
      Rows<S>(
          {Int<S>("ScaleTicks", [](S& s, int v) { s.SetScaleTicks(v); }),
           Int<S>("symmetric ScaleTicks",
                  [](S& s, int v) {
                    s.SetDirection(dirSymetric);
                    s.SetScaleTicks(v);
                  }),
           Int<S>("vertical ScaleTicks",
                  [](S& s, int v) {
                    s.SetKind(lkVertical);
                    s.SetScaleTicks(v);
                  }),
           Int<S>("Point1", [](S& s, int v) { s.SetPoint1(v); }),
           Int<S>("Point2", [](S& s, int v) { s.SetPoint2(v); }),
           Int<S>("Sensitivy", [](S& s, int v) { s.SetSensitivy(v); }),
           Int<S>("linear Sensitivy",
                  [](S& s, int v) {
                    s.SetLogAmp(false);
                    s.SetSensitivy(v);
                  }),
           Int<S>("Scale.TickCount", scale([](TMMLevScale& t, int v) { t.SetTickCount(v); })),
           Int<S>("Scale.Size", scale([](TMMLevScale& t, int v) { t.SetSize(v); })),
           Int<S>("Scale.EnlargeEvery", scale([](TMMLevScale& t, int v) { t.SetEnlargeEvery(v); })),
           Int<S>("Scale.StartAngle", scale([](TMMLevScale& t, int v) { t.SetStartAngle(v); })),
           Int<S>("Scale.EndAngle", scale([](TMMLevScale& t, int v) { t.SetEndAngle(v); }))},
          [](S&) {}),
      {},
      false});
}

TEST_F(DisplayPaintTable, NeedleMeter) {
  using M = TMMMeter;
  painttable::Paint(Table<M>{
      "TMMMeter",
      Maker<M>([](M& m) { m.SetValue(100); }),
      Rows<M>(
          {Int<M>("NeedleOffset", [](M& m, int v) { m.SetNeedleOffset(v); }),
           Int<M>("NeedleWidth", [](M& m, int v) { m.SetNeedleWidth(v); }),
           Int<M>("TopSpace", [](M& m, int v) { m.SetTopSpace(v); }),
           Int<M>("ScaleHeight1", [](M& m, int v) { m.SetScaleHeight1(v); }),
           Int<M>("ScaleHeight2", [](M& m, int v) { m.SetScaleHeight2(v); }),
           Int<M>("ScaleAngle", [](M& m, int v) { m.SetScaleAngle(v); }),
           Int<M>("ScaleTicks", [](M& m, int v) { m.SetScaleTicks(v); }),
           Int<M>("ScaleTicksEnlargeEvery", [](M& m, int v) { m.SetScaleTicksEnlargeEvery(v); }),
           Int<M>("ScaleTicksTextEvery", [](M& m, int v) { m.SetScaleTicksTextEvery(v); }),
           Int<M>("Point1", [](M& m, int v) { m.SetPoint1(v); }),
           Int<M>("Point2", [](M& m, int v) { m.SetPoint2(v); }),
           Int<M>("Samples", [](M& m, int v) { m.SetSamples(v); }),
           Int<M>("Gain", [](M& m, int v) { m.SetGain(v); }),
           Int<M>("Sensitivy", [](M& m, int v) { m.SetSensitivy(v); }),
           Int<M>("linear Sensitivy",
                  [](M& m, int v) {
                    m.SetLogAmp(false);
                    m.SetSensitivy(v);
                  }),
           Int<M>("Decay",
                  [](M& m, int v) {
                    m.SetDecayMode(dmUniform);
                    m.SetDecay(v);
                  }),
           Int<M>("PeakDelay", [](M& m, int v) { m.SetPeakDelay(v); }),
           Int<M>("PeakSpeed", [](M& m, int v) { m.SetPeakSpeed(v); }),
           Int<M>("DCOffset", [](M& m, int v) { m.SetDCOffset(0, v); }),
           Int<M>("Data", [](M& m, int v) { m.SetData(v); }),
           Int<M>("Value", [](M& m, int v) { m.SetValue(v); }),
           Int<M>("all at once",
                  [](M& m, int v) {
                    m.SetNeedleOffset(v);
                    m.SetTopSpace(v == INT_MAX ? INT_MIN : v);
                    m.SetScaleHeight1(v);
                    m.SetScaleTicks(v);
                    m.SetScaleTicksTextEvery(1);
                  }),
           Colour<M>("NeedleColor", [](M& m, TColor v) { m.SetNeedleColor(v); }),
           Colour<M>("ScaleColor1", [](M& m, TColor v) { m.SetScaleColor(1, v); })},
          [](M& m) { m.SetValue(100); }),
      {},
      false});
}

TEST_F(DisplayPaintTable, LightShow) {
  using L = TMMLight;
  auto rows = Rows<L>({Int<L>("TriangleDist",
                              [](L& l, int v) {
                                l.SetArrange(laTriangle);
                                l.SetTriangleDist(v);
                              }),
                       Int<L>("ZoneCount",
                              [](L& l, int v) {
                                l.SetKind(lkSphere);
                                l.SetZoneCount(v);
                              }),
                       Int<L>("FFTLength", [](L& l, int v) { l.SetFFTLength(v); }),
                       Int<L>("SampleRate", [](L& l, int v) { l.SetSampleRate(v); }),
                       Int<L>("Decay",
                              [](L& l, int v) {
                                l.SetDecayMode(dmExponential);
                                l.SetDecay(v);
                              }),
                       Int<L>("Amplitude1", [](L& l, int v) { l.SetAmplitude(0, v); }),
                       Int<L>("Amplitude3", [](L& l, int v) { l.SetAmplitude(2, v); }),
                       Float<L>("SphereHorz",
                                [](L& l, double v) {
                                  l.SetKind(lkSphere);
                                  l.SetSphereHorz(AsFloat(v));
                                }),
                       Float<L>("SphereVert",
                                [](L& l, double v) {
                                  l.SetKind(lkSphere);
                                  l.SetSphereVert(AsFloat(v));
                                })},
                      [](L& l) { FeedSlice(l); });
  // The lights' colours move with the sound: any colour may show.
  painttable::Paint(Table<L>{"TMMLight", Maker<L>(FeedSlice<L>), rows, {}, true});
}

TEST_F(DisplayPaintTable, Spectrogram) {
  using G = TMMSpectrogram;
  auto rows = Rows<G>({Int<G>("BarWidth", [](G& g, int v) { g.SetBarWidth(v); }),
                       Int<G>("FFTLength", [](G& g, int v) { g.SetFFTLength(v); }),
                       Int<G>("FrequencyBase", [](G& g, int v) { g.SetFrequencyBase(v); }),
                       Int<G>("FrequencyScale", [](G& g, int v) { g.SetFrequencyScale(v); }),
                       Int<G>("scaled FrequencyScale",
                              [](G& g, int v) {
                                g.SetDrawScale(true);
                                g.SetFrequencyScale(v);
                              }),
                       Int<G>("Locator", [](G& g, int v) { g.SetLocator(v); }),
                       Int<G>("selection end", [](G& g, int v) { g.Select(1, v, true); }),
                       Int<G>("selection start", [](G& g, int v) { g.Select(v, 20, true); }),
                       Int<G>("SampleRate", [](G& g, int v) { g.SetSampleRate(v); }),
                       Int<G>("AmplitudeScale", [](G& g, int v) { g.SetAmplitudeScale(v); }),
                       Int<G>("Sensitivy", [](G& g, int v) { g.SetSensitivy(v); }),
                       Int<G>("scrolling BarWidth",
                              [](G& g, int v) {
                                g.SetScroll(true);
                                g.SetBarWidth(v);
                              }),
                       Colour<G>("Color1", [](G& g, TColor v) { g.SetColor(1, v); })},
                      [](G& g) { FeedSlice(g); });
  // The picture's colours come from the colour map, after the sound: any colour may show.
  painttable::Paint(Table<G>{"TMMSpectrogram", Maker<G>(FeedSlice<G>), rows, {}, true});
}

TEST_F(DisplayPaintTable, SpectrumAnalyser) {
  using S = TMMSpectrum;
  auto rows = Rows<S>(
      {Int<S>("Space", [](S& s, int v) { s.SetSpace(v); }),
       Int<S>("SpotSpace",
              [](S& s, int v) {
                s.SetKind(skBars);
                s.SetSpotSpace(v);
              }),
       Int<S>("SpotHeight",
              [](S& s, int v) {
                s.SetKind(skPeaks);
                s.SetSpotHeight(v);
              }),
       Int<S>("FFTLength", [](S& s, int v) { s.SetFFTLength(v); }),
       Int<S>("FrequencyScale", [](S& s, int v) { s.SetFrequencyScale(v); }),
       Int<S>("scaled FrequencyScale",
              [](S& s, int v) {
                s.SetDrawFreqScale(true);
                s.SetDrawAmpScale(true);
                s.SetFrequencyScale(v);
              }),
       Int<S>("VerticalScale", [](S& s, int v) { s.SetVerticalScale(v); }),
       Int<S>("SampleRate", [](S& s, int v) { s.SetSampleRate(v); }),
       Int<S>("RefFreq",
              [](S& s, int v) {
                s.SetLogAmp(true);
                s.SetRefFreq(v);
              }),
       Int<S>("NumPeaks", [](S& s, int v) { s.SetNumPeaks(v); }),
       Int<S>("PeakDelay", [](S& s, int v) { s.SetPeakDelay(v); }),
       Int<S>("PeakSpeed", [](S& s, int v) { s.SetPeakSpeed(v); }),
       Int<S>("Point1", [](S& s, int v) { s.SetPoint1(v); }),
       Int<S>("Point2", [](S& s, int v) { s.SetPoint2(v); }),
       Int<S>("Decay",
              [](S& s, int v) {
                s.SetDecayMode(dmUniform);
                s.SetDecay(v);
              }),
       Int<S>("scrolling Space",
              [](S& s, int v) {
                s.SetKind(skScroll);
                s.SetSpace(v);
              }),
       BitsPerPixel<S>(), Colour<S>("BarColor1", [](S& s, TColor v) { s.SetBarColor(1, v); }),
       Colour<S>("GridColor",
                 [](S& s, TColor v) {
                   s.SetDrawGrid(true);
                   s.SetGridColor(v);
                 })},
      [](S& s) { FeedSlice(s); });
  // Louder bars reach the top zone (red).
  painttable::Paint(Table<S>{"TMMSpectrum", Maker<S>(FeedSlice<S>), rows, {0xFF0000u}});
}

TEST_F(DisplayPaintTable, Oscilloscope) {
  using O = TMMOscope;
  auto rows = Rows<O>({Int<O>("BarWidth",
                              [](O& o, int v) {
                                o.SetScroll(true);
                                o.SetBarWidth(v);
                              }),
                       Int<O>("Steps", [](O& o, int v) { o.SetSteps(v); }),
                       Int<O>("Zoom", [](O& o, int v) { o.SetZoom(v); }),
                       Int<O>("Gain", [](O& o, int v) { o.SetGain(v); }),
                       Int<O>("FFTLength",
                              [](O& o, int v) {
                                o.SetScroll(true);
                                o.SetFFTLength(v);
                              }),
                       Int<O>("Locator", [](O& o, int v) { o.SetLocator(v); }),
                       Int<O>("selection end", [](O& o, int v) { o.Select(1, v, true); }),
                       Int<O>("selection start", [](O& o, int v) { o.Select(v, 20, true); }),
                       Int<O>("SampleRate",
                              [](O& o, int v) {
                                o.SetDrawTimeScale(true);
                                o.SetDrawAmpScale(true);
                                o.SetSampleRate(v);
                              }),
                       Colour<O>("ColorSlot0", [](O& o, TColor v) { o.SetColorSlot(0, v); })},
                      [](O& o) { FeedSlice(o); });
  // The locator (yellow) and the selection's edges (red) show where the marks fall inside.
  painttable::Paint(Table<O>{"TMMOscope", Maker<O>(FeedSlice<O>), rows, {0xFFFF00u, 0xFF0000u}});
}

// A bevel wider than any control: each display lays its picture out with the bevel taking all
// of it, every number within int, and keeps a size a screen can show. (A paint would walk the
// bevel's rings, which is the canvas's business.)
TEST_F(DisplayPaintTable, BevelsWiderThanAnyControl) {
  auto lay_out = [&](
                     TMMGraphicControl* c, std::function<void()> hit = [] {}) {
    SCOPED_TRACE(c->ClassName());
    c->SetParent(&form);
    c->Bevel().SetBevelOuter(bvRaised);
    c->Bevel().SetBevelOuterWidth(INT_MAX);
    c->Bevel().SetBorderWidth(INT_MAX);
    for (int size : {0, 200, INT_MAX}) c->SetBounds(10, 10, size, size / 2);
    EXPECT_LE(c->GetWidth(), kMaxControlExtent);
    EXPECT_LE(c->GetHeight(), kMaxControlExtent);
    hit();
    delete c;
  };
  // The mouse's marks sit inside the bevel: none is hit.
  auto marks = [](auto* c) {
    return [c] {
      c->Select(1, 20, false);
      c->SetLocator(10);
      for (int x : {0, 15, c->GetWidth() / 2})
        EXPECT_FALSE(c->IsLocator(x) || c->IsSelectStart(x) || c->IsSelectEnd(x) ||
                     c->IsInSelection(x));
    };
  };
  lay_out(new TMMLevel(&form));
  lay_out(new TMMLevelScale(&form));
  lay_out(new TMMMeter(&form));
  lay_out(new TMMLight(&form));
  auto* spgram = new TMMSpectrogram(&form);
  lay_out(spgram, marks(spgram));
  auto* spectrum = new TMMSpectrum(&form);
  spectrum->SetDrawAmpScale(true);
  spectrum->SetDrawFreqScale(true);
  lay_out(spectrum);
  auto* scope = new TMMOscope(&form);
  scope->SetDrawAmpScale(true);
  scope->SetDrawTimeScale(true);
  lay_out(scope, marks(scope));
}

}  // namespace
}  // namespace vant
