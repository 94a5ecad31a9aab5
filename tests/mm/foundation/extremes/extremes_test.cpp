// Every control of the library painted once with each number property at the ends of its type
// (geometry and the bevels included): whatever a setter accepts, the paint finishes with work
// bounded by the control's pixels, the control keeps a size a screen can show, and the picture
// holds only the colours the control paints with.
#include <gtest/gtest.h>

#include <climits>

#include "mmbutton.h"
#include "mmenvelp.h"
#include "mmgauge.h"
#include "mmlabel.h"
#include "mmleds.h"
#include "mmmarkerpanel.h"
#include "mmpanel.h"
#include "mmslider.h"
#include "mmspin.h"
#include "paint_table.h"
#include "ui_application.h"
#include "ui_form.h"

using namespace vant;
using namespace vant::painttable;

namespace {

class FoundationExtremes : public ::testing::Test {
 protected:
  void SetUp() override {
    Application->Initialize();
    form_.SetBounds(0, 0, 400, 300);
  }
  void TearDown() override { Application->ProcessMessages(); }

  // A control of `w` x `h` on the form, made by `setup` to use every part it paints.
  template <class C>
  std::function<C*()> Maker(int w, int h, std::function<void(C&)> setup = {}) {
    return [this, w, h, setup] {
      auto* c = new C(&form_);
      c->SetParent(&form_);
      c->SetBounds(10, 10, w, h);
      if (setup) setup(*c);
      return c;
    };
  }
  TForm form_{nullptr};
};

// Every ring of the bevel in use, one unit wide each.
void AllRings(TMMBevel& b) {
  b.SetBevelInner(bvRaised);
  b.SetBevelOuter(bvLowered);
  b.SetBorderStyle(bsSingle);
  b.SetBorderWidth(1);
  b.SetBorderSpace(1);
}

template <class C>
std::vector<Property<C>> BevelRows(std::function<TMMBevel&(C&)> bevel = {}) {
  if (!bevel) bevel = [](C& c) -> TMMBevel& { return c.Bevel(); };
  return {Int<C>("BevelInnerWidth", [bevel](C& c, int v) { bevel(c).SetBevelInnerWidth(v); }),
          Int<C>("BevelOuterWidth", [bevel](C& c, int v) { bevel(c).SetBevelOuterWidth(v); }),
          Int<C>("BorderWidth", [bevel](C& c, int v) { bevel(c).SetBorderWidth(v); }),
          Int<C>("BorderSpace", [bevel](C& c, int v) { bevel(c).SetBorderSpace(v); })};
}

template <class C>
std::vector<Property<C>> ValueRows() {
  return {Int<C>("Value", [](C& c, int v) { c.SetValue(v); }),
          Int<C>("MinValue", [](C& c, int v) { c.SetMinValue(v); }),
          Int<C>("MaxValue", [](C& c, int v) { c.SetMaxValue(v); })};
}

template <class C>
std::vector<Property<C>> Rows(std::initializer_list<std::vector<Property<C>>> parts) {
  std::vector<Property<C>> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

TEST_F(FoundationExtremes, FramesAndPanels) {
  Paint<TMMBorder>({"TMMBorder",
                    Maker<TMMBorder>(100, 60, [](TMMBorder& c) { AllRings(c.Bevel()); }),
                    Rows<TMMBorder>({Geometry<TMMBorder>(), BevelRows<TMMBorder>()})});
  Paint<TMMPanel>({"TMMPanel", Maker<TMMPanel>(100, 60, [](TMMPanel& c) { AllRings(c.Bevel()); }),
                   Rows<TMMPanel>({Geometry<TMMPanel>(), BevelRows<TMMPanel>()})});
}

TEST_F(FoundationExtremes, LabelAndGauge) {
  Paint<TMMLabel>(
      {"TMMLabel", Maker<TMMLabel>(120, 40, [](TMMLabel& c) { c.SetCaption("Ag"); }),
       Rows<TMMLabel>(
           {Geometry<TMMLabel>(),
            {Int<TMMLabel>("DepthHighlight", [](TMMLabel& c, int v) { c.SetDepthHighlight(v); }),
             Int<TMMLabel>("DepthShadow", [](TMMLabel& c, int v) { c.SetDepthShadow(v); }),
             Int<TMMLabel>("Angle", [](TMMLabel& c, int v) { c.SetAngle(v); })}})});
  for (TMMGaugeKind kind : {gkText, gkHorizontalBar, gkVerticalBar, gkPie, gkNeedle}) {
    Paint<TMMGauge>(
        {"TMMGauge kind " + std::to_string(kind),
         Maker<TMMGauge>(120, 60,
                         [kind](TMMGauge& c) {
                           c.SetKind(kind);
                           c.SetProgress(50);  // the caption over both the bar and the ground
                         }),
         Rows<TMMGauge>(
             {Geometry<TMMGauge>(),
              {Int<TMMGauge>("MinValue", [](TMMGauge& c, int v) { c.SetMinValue(v); }),
               Int<TMMGauge>("MaxValue", [](TMMGauge& c, int v) { c.SetMaxValue(v); }),
               Int<TMMGauge>("Progress", [](TMMGauge& c, int v) { c.SetProgress(v); })}}),
         // A caption as tall as the control inverts the ground round a pie or a needle too.
         {ColorToRGB(clBtnFace) ^ 0xFFFFFFu}});
  }
}

TEST_F(FoundationExtremes, Slider) {
  for (bool vertical : {false, true}) {
    Paint<TMMSlider>(
        {vertical ? "vertical TMMSlider" : "TMMSlider",
         Maker<TMMSlider>(vertical ? 40 : 200, vertical ? 200 : 40,
                          [](TMMSlider& c) {
                            AllRings(c.Bevel());
                            c.Scale().SetVisible(true);
                          }),
         Rows<TMMSlider>(
             {Geometry<TMMSlider>(),
              BevelRows<TMMSlider>(),
              BevelRows<TMMSlider>([](TMMSlider& c) -> TMMBevel& { return c.Groove(); }),
              {Int<TMMSlider>("Position", [](TMMSlider& c, int v) { c.SetPosition(v); }),
               Int<TMMSlider>("MinValue", [](TMMSlider& c, int v) { c.SetMinValue(v); }),
               Int<TMMSlider>("MaxValue", [](TMMSlider& c, int v) { c.SetMaxValue(v); }),
               Int<TMMSlider>("LineSize", [](TMMSlider& c, int v) { c.SetLineSize(v); }),
               Int<TMMSlider>("PageSize", [](TMMSlider& c, int v) { c.SetPageSize(v); }),
               Int<TMMSlider>("Sensitivity",
                              [](TMMSlider& c, int v) {
                                c.SetLogarithmic(true);
                                c.SetSensitivity(v);
                              }),
               Length<TMMSlider>("GrooveSize", [](TMMSlider& c, int v) { c.SetGrooveSize(v); }),
               Length<TMMSlider>("ThumbWidth", [](TMMSlider& c, int v) { c.SetThumbWidth(v); }),
               Length<TMMSlider>("ThumbHeight", [](TMMSlider& c, int v) { c.SetThumbHeight(v); }),
               Int<TMMSlider>("ScaleDistance", [](TMMSlider& c, int v) { c.SetScaleDistance(v); }),
               Int<TMMSlider>("Scale.TickCount",
                              [](TMMSlider& c, int v) { c.Scale().SetTickCount(v); }),
               Int<TMMSlider>("Scale.EnlargeEvery",
                              [](TMMSlider& c, int v) { c.Scale().SetEnlargeEvery(v); }),
               Int<TMMSlider>("Scale.Size", [](TMMSlider& c, int v) { c.Scale().SetSize(v); }),
               Int<TMMSlider>("Scale.Zone2Tick",
                              [](TMMSlider& c, int v) { c.Scale().SetZone2Tick(v); }),
               Int<TMMSlider>("Scale.Zone3Tick",
                              [](TMMSlider& c, int v) { c.Scale().SetZone3Tick(v); }),
               Int<TMMSlider>("Scale.StartAngle",
                              [](TMMSlider& c, int v) { c.Scale().SetStartAngle(v); }),
               Int<TMMSlider>("Scale.EndAngle",
                              [](TMMSlider& c, int v) { c.Scale().SetEndAngle(v); })}})});
  }
}

TEST_F(FoundationExtremes, SpeedButton) {
  Paint<TMMSpeedButton>(
      {"TMMSpeedButton",
       Maker<TMMSpeedButton>(60, 30, [](TMMSpeedButton& c) { c.SetCaption("Ag"); }),
       Rows<TMMSpeedButton>(
           {Geometry<TMMSpeedButton>(),
            {Int<TMMSpeedButton>("NumGlyphs", [](TMMSpeedButton& c, int v) { c.SetNumGlyphs(v); }),
             Int<TMMSpeedButton>("GroupIndex",
                                 [](TMMSpeedButton& c, int v) { c.SetGroupIndex(v); }),
             Length<TMMSpeedButton>("Spacing", [](TMMSpeedButton& c, int v) { c.SetSpacing(v); }),
             Length<TMMSpeedButton>("Margin",
                                    [](TMMSpeedButton& c, int v) { c.SetMargin(v); })}})});
  // Spacing and margin place a glyph and a caption: on a button as wide as a control gets, a
  // length held at the extent still shows them where a length at the end of int must.
  for (TButtonLayout layout : {blGlyphLeft, blGlyphRight}) {
    Paint<TMMSpeedButton>(
        {"TMMSpeedButton with a glyph, layout " + std::to_string(layout),
         Maker<TMMSpeedButton>(kMaxControlExtent, 30,
                               [layout](TMMSpeedButton& c) {
                                 TBitmap glyph(16, 16);
                                 glyph.Canvas().Brush().Color = clRed;
                                 glyph.Canvas().FillRect(Rect(4, 4, 12, 12));
                                 c.SetGlyph(glyph);
                                 c.SetCaption("Ag");
                                 c.SetLayout(layout);
                               }),
         {Length<TMMSpeedButton>("Spacing", [](TMMSpeedButton& c, int v) { c.SetSpacing(v); }),
          Length<TMMSpeedButton>("Spacing with no margin",
                                 [](TMMSpeedButton& c, int v) {
                                   c.SetMargin(0);
                                   c.SetSpacing(v);
                                 }),
          Length<TMMSpeedButton>("Margin", [](TMMSpeedButton& c, int v) { c.SetMargin(v); })}});
  }
}

// Sized round its bevel: the widest bevel makes it as large as a control gets.
TEST_F(FoundationExtremes, SpinButton) {
  Paint<TMMSpinButton>(
      {"TMMSpinButton", Maker<TMMSpinButton>(21, 28, [](TMMSpinButton& c) { AllRings(c.Bevel()); }),
       Rows<TMMSpinButton>(
           {Geometry<TMMSpinButton>(),
            ValueRows<TMMSpinButton>(),
            BevelRows<TMMSpinButton>(),
            {Int<TMMSpinButton>("Increment", [](TMMSpinButton& c, int v) { c.SetIncrement(v); }),
             Int<TMMSpinButton>("UpNumGlyphs",
                                [](TMMSpinButton& c, int v) { c.SetUpNumGlyphs(v); }),
             Int<TMMSpinButton>("DownNumGlyphs",
                                [](TMMSpinButton& c, int v) { c.SetDownNumGlyphs(v); })}})});
}

TEST_F(FoundationExtremes, LedLamps) {
  Paint<TMMLED>({"TMMLED", Maker<TMMLED>(30, 20, [](TMMLED& c) { AllRings(c.Bevel()); }),
                 Rows<TMMLED>({Geometry<TMMLED>(), BevelRows<TMMLED>()})});
  Paint<TMMLEDMode>({"TMMLEDMode",
                     Maker<TMMLEDMode>(27, 11, [](TMMLEDMode& c) { AllRings(c.Bevel()); }),
                     Rows<TMMLEDMode>({Geometry<TMMLEDMode>(), BevelRows<TMMLEDMode>()})});
}

TEST_F(FoundationExtremes, LedDigitAndPanel) {
  Paint<TMMLEDDigit>({"TMMLEDDigit", Maker<TMMLEDDigit>(20, 20),
                      Rows<TMMLEDDigit>({Geometry<TMMLEDDigit>(), ValueRows<TMMLEDDigit>()})});
  Paint<TMMLEDPanel>(
      {"TMMLEDPanel", Maker<TMMLEDPanel>(80, 30, [](TMMLEDPanel& c) { AllRings(c.Bevel()); }),
       Rows<TMMLEDPanel>(
           {Geometry<TMMLEDPanel>(),
            ValueRows<TMMLEDPanel>(),
            BevelRows<TMMLEDPanel>(),
            {
                Int<TMMLEDPanel>("NumDigits", [](TMMLEDPanel& c, int v) { c.SetNumDigits(v); }),
                Length<TMMLEDPanel>("LEDSpace", [](TMMLEDPanel& c, int v) { c.SetLEDSpace(v); }),
            }})});
}

TEST_F(FoundationExtremes, LedSpin) {
  Paint<TMMLEDSpin>(
      {"TMMLEDSpin", Maker<TMMLEDSpin>(100, 30),
       Rows<TMMLEDSpin>(
           {Geometry<TMMLEDSpin>(),
            ValueRows<TMMLEDSpin>(),
            {Length<TMMLEDSpin>("Space", [](TMMLEDSpin& c, int v) { c.SetSpace(v); }),
             Int<TMMLEDSpin>("NumDigits", [](TMMLEDSpin& c, int v) { c.SetNumDigits(v); }),
             Length<TMMLEDSpin>("LEDSpace", [](TMMLEDSpin& c, int v) { c.SetLEDSpace(v); }),
             Int<TMMLEDSpin>("Increment", [](TMMLEDSpin& c, int v) { c.SetIncrement(v); }),
             Int<TMMLEDSpin>("UpNumGlyphs", [](TMMLEDSpin& c, int v) { c.SetUpNumGlyphs(v); }),
             Int<TMMLEDSpin>("DownNumGlyphs",
                             [](TMMLEDSpin& c, int v) { c.SetDownNumGlyphs(v); })}})});
}

template <class C>
std::vector<Property<C>> MarkerRows() {
  auto grids = [](C& c) {
    c.Configure([](TMMMarkerGeometry& g) { g.DrawGridX = g.DrawGridY = true; });
  };
  return {Int<C>("Locator", [](C& c, int v) { c.SetLocator(v); }),
          Int<C>("MarkerA", [](C& c, int v) { c.SetMarkerA(v); }),
          Int<C>("MarkerB", [](C& c, int v) { c.SetMarkerB(v); }),
          Int<C>("HelpLocator", [](C& c, int v) { c.SetHelpLocator(v); }),
          Int<C>("DispMin", [](C& c, int v) { c.SetMinMax(v, 1000); }),
          Int<C>("DispMax", [](C& c, int v) { c.SetMinMax(0, v); }),
          Int<C>("RangeMin", [](C& c, int v) { c.SetRangeAll(v, 1000, 0, 1000, 500); }),
          Int<C>("RangeMax", [](C& c, int v) { c.SetRangeAll(0, v, 0, 1000, 500); }),
          // The range over all of int, shown at one end of it or across it.
          Int<C>("Locator at the start of all of int",
                 [](C& c, int v) {
                   c.SetRangeAll(INT_MIN, INT_MAX, 0, 1000, 500);
                   c.SetMinMax(INT_MIN, INT_MIN + 10);
                   c.SetLocator(v);
                 }),
          Int<C>("DispMin of all of int",
                 [](C& c, int v) {
                   c.SetRangeAll(INT_MIN, INT_MAX, 0, 1000, 500);
                   c.SetMinMax(v, 0);
                 }),
          Int<C>("DispMinY of all of int",
                 [](C& c, int v) {
                   c.SetRangeAll(0, 1000, INT_MIN, INT_MAX, 0);
                   c.SetDispAll(0, 1000, v, INT_MAX);
                 }),
          Int<C>("DispMaxY of all of int",
                 [](C& c, int v) {
                   c.SetRangeAll(0, 1000, INT_MIN, INT_MAX, 0);
                   c.SetDispAll(0, 1000, INT_MIN, v);
                 }),
          Float<C>("GridWidthX",
                   [grids](C& c, double v) {
                     grids(c);
                     c.SetGridWidthX(ToFloat(v));
                   }),
          Float<C>("GridWidthY", [grids](C& c, double v) {
            grids(c);
            c.SetGridWidthY(ToFloat(v));
          })};
}

TEST_F(FoundationExtremes, MarkerPanelAndEnvelope) {
  auto marks = [](auto& c) {
    AllRings(c.Bevel());
    c.SetLocator(100);
    c.SetMarkerA(200);
    c.SetMarkerB(600);
    c.SetHelpLocator(400);
  };
  // Marks inverted over one another where a span of all of int puts them on one column.
  const std::set<uint32_t> marks_met = {0x3FC03Fu, 0x40BF40u};
  // The grids of the largest panel: as many lines as it has columns or rows at most.
  using P = TMMMarkerPanel;
  auto largest = [](P& c) {
    c.Configure([](TMMMarkerGeometry& g) { g.DrawGridX = g.DrawGridY = true; });
    c.SetBounds(0, 0, kMaxControlExtent, kMaxControlExtent);
  };
  Paint<P>({"TMMMarkerPanel", Maker<P>(200, 100, marks),
            Rows<P>({Geometry<P>(),
                     BevelRows<P>(),
                     MarkerRows<P>(),
                     {Float<P>("GridWidthX at the largest size",
                               [largest](P& c, double v) {
                                 largest(c);
                                 c.SetGridWidthX(ToFloat(v));
                               }),
                      Float<P>("GridWidthY at the largest size",
                               [largest](P& c, double v) {
                                 largest(c);
                                 c.SetGridWidthY(ToFloat(v));
                               })}}),
            marks_met});
  Paint<TMMEnvelope>(
      {"TMMEnvelope", Maker<TMMEnvelope>(200, 100, marks),
       Rows<TMMEnvelope>(
           {Geometry<TMMEnvelope>(),
            BevelRows<TMMEnvelope>(),
            MarkerRows<TMMEnvelope>(),
            {Int<TMMEnvelope>("PointSize", [](TMMEnvelope& c, int v) { c.SetPointSize(v); })}}),
       marks_met});
}

}  // namespace
