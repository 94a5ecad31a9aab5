// TMMOscope as a control: where values land, the setters' limits and slice sizes, a sine's trace,
// scroll-mode columns, the marked range and effects, two scrolling oscilloscopes side by side,
// and screenshots of every kind.
#include "mmoscope.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "display_signals.h"
#include "mmconnector.h"
#include "mmpcmsup.h"
#include "shown_pixels.h"
#include "ui_application.h"
#include "ui_dialogs.h"
#include "ui_form.h"
#include "ui_testing.h"

namespace vant {
namespace {

using testing::CanvasPixelIs;
using testing::Chord;
using testing::Pcm16;
using testing::Sine;

class OscopeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Application->Initialize();
    form.SetBounds(0, 0, 360, 240);
    form.SetColor(clGray);
    form.Show();
  }
  void TearDown() override { Application->ProcessMessages(); }
  // 16-bit mono at 44.1 kHz: white trace, grey outside the marked range, red effects.
  TMMOscope* Make(int width = 202, int height = 102) {
    auto* o = new TMMOscope(&form);
    o->SetParent(&form);
    o->SetBounds(10, 10, width, height);
    o->SetPCMWaveFormat([] {
      WAVEFORMATEX f{};
      pcmBuildWaveHeader(f, 16, 1, 44100);
      return f;
    }());
    o->SetColorSlot(0, clWhite);
    o->SetColorSlot(1, clSilver);
    o->SetColorSlot(2, clRed);
    return o;
  }
  static int W(TMMOscope& o) { return o.DrawingRect().Right - o.DrawingRect().Left; }
  static int H(TMMOscope& o) { return o.DrawingRect().Bottom - o.DrawingRect().Top; }

  ScopedAnswerer dialogs;
  TForm form{nullptr};
};

TEST_F(OscopeTest, UnitsInTheCornersBesideBothScales) {
  TMMOscope* o = Make();
  o->SetColorSlot(4, clYellow);  // scale text
  o->SetDrawAmpScale(true);
  o->SetDrawTimeScale(true);
  Application->ProcessMessages();
  const int W = o->GetWidth(), H = o->GetHeight();
  // "V" right-aligned at x 16 and from x W - 14 on row H - 34; "mS" from (W - 30, H - 20).
  auto unit = [&](int x, int y, const char* text, int alignment) {
    return ShowsTextAt(*o, x, y, text, "ARIAL", OSCOPE_SCALEFONTSIZE, alignment, clYellow);
  };
  EXPECT_TRUE(unit(16, H - 34, "V", 1)) << "V, left";
  EXPECT_TRUE(unit(W - 14, H - 34, "V", 0)) << "V, right";
  EXPECT_TRUE(unit(W - 30, H - 20, "mS", 0)) << "mS";
}

TEST_F(OscopeTest, ValuesLandOnTheirRows) {
  TMMOscope* o = Make();
  const int h = H(*o);
  EXPECT_EQ(o->RowOf(0), h - (32767 * h / 65535) - 1);
  EXPECT_EQ(o->RowOf(-32768), h - 1);
  EXPECT_EQ(o->RowOf(32767), 0);
  o->SetKind(okSpikes);
  EXPECT_EQ(o->RowOf(-20000), o->RowOf(20000));
  EXPECT_EQ(o->RowOf(0), h - 1);
  // Each 8 steps of gain add the unit once more: a quarter of full scale at gain 8 reaches half.
  o->SetGain(8);
  EXPECT_EQ(o->HeightOf(8192), 16384 * h / 32767);
}

TEST_F(OscopeTest, SettersAndSliceSizes) {
  TMMOscope* o = Make();
  const int w = W(*o);
  struct Case {
    const char* what;
    std::function<void()> set;
    std::function<int()> get;
    int expected;
  } cases[] = {
      {"Steps 0", [&] { o->SetSteps(0); }, [&] { return o->GetSteps(); }, 1},
      {"Steps 12", [&] { o->SetSteps(12); }, [&] { return o->GetSteps(); }, 9},
      {"Zoom -12", [&] { o->SetZoom(-12); }, [&] { return o->GetZoom(); }, -9},
      {"Zoom 0 ignored", [&] { o->SetZoom(0); }, [&] { return o->GetZoom(); }, -9},
      {"Gain 40 ignored", [&] { o->SetGain(40); }, [&] { return o->GetGain(); }, 0},
      {"FFTLength 100", [&] { o->SetFFTLength(100); }, [&] { return o->GetFFTLength(); }, 64},
      {"SampleRate 100000", [&] { o->SetSampleRate(100000); }, [&] { return o->GetSampleRate(); },
       88200},
      {"slice at Zoom -1", [&] { o->SetZoom(-1); }, [&] { return o->SliceBytes(); },
       ((2 * w) / 2 + 5) / 4 * 4},
      {"slice at Zoom 3", [&] { o->SetZoom(3); }, [&] { return o->SliceBytes(); }, 3 * 2 * w},
      {"scroll: FFTLength frames", [&] { o->SetScroll(true); }, [&] { return o->SliceBytes(); },
       64 * 2},
      {"scroll, accelerated: a quarter", [] {}, [&] { return o->StepBytes(); }, 16 * 2},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.what);
    t.set();
    EXPECT_EQ(t.get(), t.expected);
  }
  WAVEFORMATEX adpcm{};
  adpcm.wFormatTag = 2;
  EXPECT_THROW(o->SetPCMWaveFormat(adpcm), EMMOscopeError);
}

TEST_F(OscopeTest, SineTraceCrossesTheMiddle) {
  TMMOscope* o = Make();
  const int w = W(*o);
  // 4 periods over the width: crossings every w / 8 columns.
  const double period = w / 4.0;
  const auto slice = Pcm16(Sine(w, 44100 / period, 44100, 30000));
  o->RefreshPCMData(slice.data());
  TMMDIBCanvas& c = o->DIBCanvas();
  const int mid = o->RowOf(0);
  for (int k = 0; k < 8; ++k) {
    const int x = static_cast<int>(std::lround(k * period / 2));
    if (x >= w) break;
    SCOPED_TRACE(x);
    EXPECT_NEAR(o->RowOf(o->Trace()[x]), mid, 2);
    EXPECT_TRUE(CanvasPixelIs(c, x, o->RowOf(o->Trace()[x]), clWhite));
  }
  // A quarter period in: the crest.
  const int crest = static_cast<int>(std::lround(period / 4));
  EXPECT_NEAR(o->RowOf(o->Trace()[crest]), o->RowOf(30000), 1);
  // Zoom -1 shows every frame in two columns.
  o->SetZoom(-1);
  o->RefreshPCMData(slice.data());
  EXPECT_EQ(o->Trace()[10], o->Trace()[11]);
  EXPECT_EQ(o->Trace()[10], static_cast<int16_t>(Sine(w, 44100 / period, 44100, 30000)[5]));
}

TEST_F(OscopeTest, LowPassSmoothsAStep) {
  TMMOscope* o = Make();
  o->SetLowPass(true);
  std::vector<int16_t> step(W(*o), 1000);
  step[0] = 0;
  o->SetData(step.data());
  EXPECT_EQ(o->Trace()[0], 0);
  EXPECT_EQ(o->Trace()[1], 750);
  EXPECT_EQ(o->Trace()[2], 1000);
}

TEST_F(OscopeTest, MarkedRangeAndEffects) {
  TMMOscope* o = Make();
  const int w = W(*o), h = H(*o);
  std::vector<int16_t> data(w, 2000);
  for (int x : {5, 20}) data[x] = 30000;  // beyond the top third
  o->Marked(10, 50, false);
  TMMDIBCanvas& c = o->DIBCanvas();
  struct Case {
    TMMOscopeEffect effect;
    int x;
    TColor color;
  } cases[] = {
      {efNone, 30, clWhite}, {efNone, 5, clSilver}, {efNone, 60, clSilver}, {efPeak, 20, clRed},
      {efPeak, 30, clWhite}, {efPeak, 5, clSilver}, {efSplit, 30, clRed},   {efSplit, 5, clSilver},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(::testing::Message() << t.effect << " at " << t.x);
    o->SetEffect(t.effect);
    o->SetData(data.data());
    EXPECT_TRUE(CanvasPixelIs(c, t.x, o->RowOf(data[t.x]), t.color));
  }
  // Spikes with efSplit: the part above the middle in the effect colour, the rest in white.
  o->SetKind(okSpikes);
  o->SetData(data.data());
  EXPECT_TRUE(CanvasPixelIs(c, 20, (o->RowOf(30000) + h / 2) / 2, clRed));
  EXPECT_TRUE(CanvasPixelIs(c, 20, h - 2, clWhite));
}

TEST_F(OscopeTest, ScrollModeFillsThenMovesLeft) {
  TMMOscope* o = Make(60, 50);
  o->SetScroll(true);
  o->SetFFTLength(64);
  o->SetBarWidth(5);
  const int w = W(*o);
  TMMDIBCanvas& c = o->DIBCanvas();
  std::vector<int> samples(64, 0);
  samples[10] = -16000;
  samples[40] = 16000;
  const auto slice = Pcm16(samples);
  for (int i = 0; i < w + 5; ++i) o->RefreshPCMData(slice.data());
  // The first w slices filled the width; the write position stays at the right edge.
  EXPECT_EQ(o->WritePosition(), w);
  EXPECT_EQ(o->DataColumn(), w - 5);
  // Every column written shows the slice's smallest and largest sample.
  for (int x : {0, w / 2, w - 6}) {
    SCOPED_TRACE(x);
    EXPECT_TRUE(CanvasPixelIs(c, x, o->RowOf(-16000), clWhite));
    EXPECT_TRUE(CanvasPixelIs(c, x, o->RowOf(16000), clWhite));
    EXPECT_TRUE(CanvasPixelIs(c, x, o->RowOf(0), clBlack));
  }
  // Once full, a slice with other extremes appears at the newest column and the rest moves left.
  samples[10] = -8000;
  samples[40] = 8000;
  const auto quieter = Pcm16(samples);
  o->RefreshPCMData(quieter.data());
  o->RefreshPCMData(slice.data());
  EXPECT_TRUE(CanvasPixelIs(c, w - 7, o->RowOf(8000), clWhite));
  EXPECT_TRUE(CanvasPixelIs(c, w - 6, o->RowOf(16000), clWhite));
}

TEST_F(OscopeTest, TwoScrollingLineScopesDoNotShareTheirPen) {
  TMMOscope* a = Make(60, 50);
  TMMOscope* b = Make(60, 50);
  for (TMMOscope* o : {a, b}) {
    o->SetScroll(true);
    o->SetFFTLength(64);
    o->SetKind(okConLines);
  }
  std::vector<int> low(64, -20000), high(64, 20000);
  const auto sl = Pcm16(low), sh = Pcm16(high);
  for (int i = 0; i < 20; ++i) {
    a->RefreshPCMData(sl.data());
    b->RefreshPCMData(sh.data());
  }
  // Each line stays on its own level: no segment joins one scope's pen to the other's.
  TMMDIBCanvas& c = a->DIBCanvas();
  const int x = a->DataColumn() - 1;
  for (int y = a->RowOf(20000); y < a->RowOf(-20000) - 1; ++y)
    ASSERT_FALSE(CanvasPixelIs(c, x, y, clWhite)) << y;
}

TEST_F(OscopeTest, SelectionAndLocator) {
  TMMOscope* o = Make();
  const int w = W(*o);
  o->Select(50, 20, false);
  EXPECT_EQ(o->SelectionStart(), 20);
  EXPECT_EQ(o->SelectionEnd(), 50);
  o->Select(30, 30, false);
  EXPECT_EQ(o->SelectionStart(), -1);
  o->Select(-4, w + 30, false);
  EXPECT_EQ(o->SelectionStart(), -1);
  o->SetLocator(w + 9);
  EXPECT_EQ(o->GetLocator(), w);
  o->Select(20, 50, true);
  o->SetLocator(80);
  const int b = o->DrawingRect().Left;
  EXPECT_TRUE(o->IsLocator(b + 82));
  EXPECT_FALSE(o->IsLocator(b + 84));
  EXPECT_TRUE(o->IsInSelection(b + 30));
  EXPECT_TRUE(o->IsSelectStart(b + 18));
  EXPECT_TRUE(o->IsSelectEnd(b + 53));
  std::vector<int16_t> silence(w, 0);
  o->SetData(silence.data());
  TMMDIBCanvas& c = o->DIBCanvas();
  EXPECT_TRUE(CanvasPixelIs(c, 30, 5, clRed));     // the selection's fill
  EXPECT_TRUE(CanvasPixelIs(c, 80, 5, clYellow));  // the locator
}

TEST_F(OscopeTest, TriggerThroughTheConnectorStartsAtTheRisingCrossing) {
  TMMOscope* o = Make();
  TMMConnector c(nullptr);
  c.SetAutoTrigger(false);
  c.SetSynchronize(false);
  c.SetTriggerMode(tmUpFlank);
  c.SetTriggerLevel(0);
  c.SetOscope(1, o);
  WAVEFORMATEX f{};
  pcmBuildWaveHeader(f, 16, 1, 44100);
  const int bytes = o->SliceBytes() * 3;
  c.SetPWaveFormat(&f);
  c.SetBufferSize(bytes);
  c.Opened();
  c.Started();
  Application->ProcessMessages();
  // 441 Hz, starting past its crest: falling first, rising through zero at 3/4 of a period.
  const auto samples = Pcm16(Sine(bytes / 2, 441, 44100, 20000, std::numbers::pi / 2 + 0.3));
  c.NewBuffer(samples.data(), bytes);
  c.Trigger();
  const int16_t* t = o->Trace();
  const int per_sample = static_cast<int>(20000 * 2 * std::numbers::pi * 441 / 44100) + 1;
  EXPECT_GE(t[0], 0);
  EXPECT_LE(t[0], per_sample);
  EXPECT_GT(t[5], t[0]);
  // So the trace leaves the middle row upwards at the left edge.
  EXPECT_LE(o->RowOf(t[5]), o->RowOf(0));
  c.Stopped();
  c.Closed();
}

TEST_F(OscopeTest, RightButtonSelects) {
  TMMOscope* o = Make();
  o->UseSelection = true;
  const int b = o->DrawingRect().Left, w = W(*o);
  std::vector<std::pair<int, int>> ends;
  o->OnSelectEnd = [&](TObject*, int min, int max) { ends.push_back({min, max}); };
  // A click selects nothing.
  uitest::Click(*o, b + 40, 20, mbRight);
  EXPECT_EQ(o->SelectionStart(), -1);
  // A drag selects from the press to the pointer.
  uitest::MouseDown(*o, b + 40, 20, mbRight);
  uitest::MouseMove(*o, b + 90, 20, false);
  uitest::MouseUp(*o, b + 90, 20, mbRight);
  EXPECT_EQ(o->SelectionStart(), 40);
  EXPECT_EQ(o->SelectionEnd(), 90);
  // Dragging inside moves it, width kept, never past the last column.
  uitest::MouseDown(*o, b + 60, 20, mbRight);
  uitest::MouseMove(*o, b + 60 + 500, 20, false);
  uitest::MouseUp(*o, b + 60 + 500, 20, mbRight);
  EXPECT_EQ(o->SelectionEnd(), w - 1);
  EXPECT_EQ(o->SelectionEnd() - o->SelectionStart(), 50);
  ASSERT_FALSE(ends.empty());
  EXPECT_EQ(ends.back(), std::make_pair(w - 51, w - 1));
  // Locked: the mouse leaves it alone.
  o->Locked = true;
  uitest::Click(*o, b + 10, 20, mbRight);
  EXPECT_EQ(o->SelectionStart(), w - 51);
}

TEST_F(OscopeTest, Screenshots) {
  const TMMOscopeKind kinds[] = {okDots, okConLines, okVertLines, okMirLines, okSpikes};
  const char* names[] = {"dots", "conlines", "vertlines", "mirlines", "spikes"};
  for (int k = 0; k < 5; ++k) {
    // Scroll mode is not shown: rendering repaints, and a repaint starts the scroll picture anew.
    {
      const bool scroll = false;
      TMMOscope* o = Make(320, 200);
      o->SetKind(kinds[k]);
      o->SetEffect(k % 2 ? efPeak : efSplit);
      o->SetDrawAmpScale(true);
      o->SetDrawTimeScale(true);
      o->SetDrawGrid(true);
      o->SetDrawMidLine(true);
      o->SetColorSlot(4, clWhite);
      o->SetColorSlot(5, clWhite);
      o->Marked(20, 200, false);
      o->SetScroll(scroll);
      o->SetFFTLength(256);
      const int bytes = o->SliceBytes();
      for (int i = 0; i < (scroll ? 300 : 1); ++i) {
        const auto slice = Pcm16(Chord(bytes / 2, 44100, i * 256));
        o->RefreshPCMData(slice.data());
      }
      uitest::SaveScreenshot(*o, std::string("oscope_") + names[k] + (scroll ? "_scroll" : ""));
      delete o;
    }
  }
}

}  // namespace
}  // namespace vant
