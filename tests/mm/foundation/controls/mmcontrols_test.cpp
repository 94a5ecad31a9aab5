#include <gtest/gtest.h>

#include <climits>

#include "controls_fixture.h"
#include "mmgauge.h"
#include "mmlabel.h"
#include "mmpanel.h"
#include "ui_form.h"
#include "ui_testing.h"

using namespace vant;

namespace {

// The smallest rectangle holding every pixel of colour `c` (empty when there is none).
TRect BoxOf(const TBitmap& b, TColor c) {
  TRect r{INT_MAX, INT_MAX, INT_MIN, INT_MIN};
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x)
      if (b.Canvas().GetPixel(x, y) == c)
        r = {std::min(r.Left, x), std::min(r.Top, y), std::max(r.Right, x + 1),
             std::max(r.Bottom, y + 1)};
  return r.Left == INT_MAX ? TRect{} : r;
}

int Count(const TBitmap& b, TColor c) {
  int n = 0;
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) n += b.Canvas().GetPixel(x, y) == c;
  return n;
}

// ---- panel ----

class PanelTest : public ControlsTest {};

TEST_F(PanelTest, ChildrenAlignInsideTheBevelAndFollowItsChanges) {
  TForm form(nullptr);
  auto* panel = new TMMPanel(&form);
  panel->SetParent(&form);
  panel->SetBounds(0, 0, 100, 50);
  auto* child = new TMMPanel(&form);
  child->SetParent(panel);
  child->SetAlign(alClient);
  EXPECT_EQ(child->BoundsRect(), Rect(1, 1, 99, 49));  // default bevel: 1
  panel->Bevel().SetBevelOuter(bvNone);
  EXPECT_EQ(panel->BevelExtend(), 0);
  EXPECT_EQ(child->BoundsRect(), Rect(0, 0, 100, 50));
  panel->Bevel().SetBorderWidth(4);
  EXPECT_EQ(child->BoundsRect(), Rect(4, 4, 96, 46));
}

TEST_F(PanelTest, PaintsBevelColourAndCaptionUnlessCustomPainted) {
  TForm form(nullptr);
  auto* panel = new TMMPanel(&form);
  panel->SetParent(&form);
  panel->SetBounds(0, 0, 80, 30);
  panel->SetColor(clYellow);
  panel->SetCaption("WWW");
  panel->Font().SetColor(clBlack);
  TBitmap shot;
  panel->PaintTo(shot);
  EXPECT_EQ(shot.Canvas().GetPixel(0, 10), clGray);  // lowered outer edge
  EXPECT_EQ(shot.Canvas().GetPixel(79, 10), clWhite);
  EXPECT_EQ(shot.Canvas().GetPixel(3, 3), clYellow);
  TRect text = BoxOf(shot, clBlack);
  ASSERT_FALSE(text.IsEmpty());
  // Centred both ways (within a pixel of rounding).
  EXPECT_LE(std::abs((text.Left + text.Right) - 80), 2);
  EXPECT_LE(std::abs((text.Top + text.Bottom) - 30), 4);

  int custom = 0;
  panel->OnCustomPaint = [&](TObject*) { ++custom; };
  panel->PaintTo(shot);
  EXPECT_EQ(custom, 1);
  EXPECT_EQ(Count(shot, clBlack), 0);
  EXPECT_EQ(shot.Canvas().GetPixel(0, 10), clYellow);

  panel->OnCustomPaint = nullptr;
  panel->OnClientFill = [](TObject*, TCanvas& c, TRect& r) {
    c.Brush().Color = clBlue;
    c.FillRect(r);
  };
  panel->SetCaption("");
  panel->PaintTo(shot);
  EXPECT_EQ(shot.Canvas().GetPixel(3, 3), clBlue);
  EXPECT_EQ(shot.Canvas().GetPixel(0, 0), clGray);
}

TEST_F(PanelTest, TheCaptionIsPlacedByItsAlignment) {
  TForm form(nullptr);
  auto* panel = new TMMPanel(&form);
  panel->SetParent(&form);
  panel->SetBounds(0, 0, 120, 30);
  panel->SetColor(clYellow);
  panel->SetCaption("WW");
  panel->Font().SetColor(clBlack);
  TBitmap shot;
  panel->SetAlignment(taCenter);
  panel->PaintTo(shot);
  const TRect centred = BoxOf(shot, clBlack);
  ASSERT_FALSE(centred.IsEmpty());
  const int width = centred.Width();
  panel->SetAlignment(taLeftJustify);
  panel->PaintTo(shot);
  const TRect left = BoxOf(shot, clBlack);
  panel->SetAlignment(taRightJustify);
  panel->PaintTo(shot);
  const TRect right = BoxOf(shot, clBlack);
  // Against the inner edges (the bevel is 1 pixel), the same text, vertically centred each time.
  EXPECT_LE(left.Left, 4);
  EXPECT_GE(right.Right, 116);
  EXPECT_LT(left.Right, centred.Left);
  EXPECT_GT(right.Left, centred.Right);
  for (const TRect& r : {left, right}) {
    EXPECT_EQ(r.Width(), width);
    EXPECT_EQ(r.Top, centred.Top);
    EXPECT_EQ(r.Bottom, centred.Bottom);
  }
}

// ---- gauge ----

class GaugeTest : public ControlsTest {};

TEST_F(GaugeTest, PercentIsComputedIn64BitsAndClamped) {
  struct Case {
    int32_t min, max, progress;
    int percent;
  } cases[] = {
      {0, 100, 50, 50},
      {0, 1000, 504, 50},
      {0, 1000, 509, 50},
      {5, 5, 5, 0},
      {-100, 100, 0, 50},
      {-2147483647, 2147483647, 0, 50},
      {0, 2147483647, 2147483647, 100},
      {0, 100, 150, 100},
      {0, 100, -5, 0},
  };
  for (const auto& c : cases) {
    TMMGauge g(nullptr);
    g.SetMaxValue(c.max);
    g.SetMinValue(c.min);
    g.SetProgress(c.progress);
    EXPECT_EQ(g.PercentDone(), c.percent) << c.min << ".." << c.max << " at " << c.progress;
    EXPECT_GE(g.GetProgress(), g.GetMinValue());
    EXPECT_LE(g.GetProgress(), g.GetMaxValue());
  }
  TMMGauge g(nullptr);
  g.SetProgress(150);
  EXPECT_EQ(g.GetProgress(), 100);
  g.SetMinValue(200);  // not above MaxValue
  EXPECT_EQ(g.GetMinValue(), 100);
  EXPECT_EQ(g.Text(), "0%");
}

TEST_F(GaugeTest, RepaintsAtOnceOnlyWhenTheWholePercentChanges) {
  struct Counting : TMMGauge {
    using TMMGauge::TMMGauge;
    int paints = 0;
    void Paint() override {
      ++paints;
      TMMGauge::Paint();
    }
  };
  TForm form(nullptr);
  auto* g = new Counting(&form);
  g->SetParent(&form);
  g->SetMaxValue(1000);
  form.Show();
  uitest::SaveScreenshot(form, "mm_foundation_repaints_at_once_only_when_the_whole_percent_c");
  Application->ProcessMessages();
  int base = g->paints;
  g->SetProgress(500);
  EXPECT_EQ(g->paints, base + 1);
  g->SetProgress(504);  // still 50 %
  EXPECT_EQ(g->paints, base + 1);
  g->SetProgress(510);  // 51 %
  EXPECT_EQ(g->paints, base + 2);
}

TEST_F(GaugeTest, CaptionTextAndXorInversion) {
  TMMGauge g(nullptr);
  g.SetCaption("読み込み中　");
  g.SetProgress(50);
  EXPECT_EQ(g.Text(), "読み込み中　 50%");
  g.SetCaption("");
  EXPECT_EQ(g.Text(), "50%");

  // The text inverts what lies under it: white over the bar's done part, the back colour's
  // inverse over the empty part.
  g.SetBounds(0, 0, 200, 30);
  g.Bevel().SetBevelOuter(bvNone);
  g.SetForeColor(clBlack);
  g.SetBackColor(clWhite);
  g.SetCaption("WWWWWWWWWW");
  TBitmap shot;
  g.PaintTo(shot);
  EXPECT_EQ(shot.Canvas().GetPixel(2, 15), clBlack);    // done part
  EXPECT_EQ(shot.Canvas().GetPixel(197, 15), clWhite);  // empty part
  TRect left = BoxOf(shot, clWhite), right = BoxOf(shot, clBlack);
  EXPECT_LT(left.Left, 100);    // white text pixels inside the black half
  EXPECT_GT(right.Right, 100);  // black text pixels inside the white half
  EXPECT_EQ(Count(shot, clBlack) + Count(shot, clWhite), 200 * 30);

  // With two-colour text the font colour shows over the empty part only.
  g.SetBWText(true);
  g.Font().SetColor(clRed);
  g.PaintTo(shot);
  TRect red = BoxOf(shot, clRed);
  ASSERT_FALSE(red.IsEmpty());
  EXPECT_GE(red.Left, 100);
  EXPECT_FALSE(BoxOf(shot, RGBColor(0, 255, 255)).IsEmpty());  // red XOR white
}

TEST_F(GaugeTest, OtherKindsDrawTheirShapes) {
  TMMGauge g(nullptr);
  g.SetBounds(0, 0, 40, 40);
  g.Bevel().SetBevelOuter(bvNone);
  g.SetShowText(false);
  g.SetForeColor(clRed);
  g.SetBackColor(clWhite);
  g.SetColor(clBlue);
  TBitmap shot;
  g.SetKind(gkVerticalBar);
  g.SetProgress(25);
  g.PaintTo(shot);
  EXPECT_EQ(BoxOf(shot, clRed), Rect(0, 30, 40, 40));
  g.SetKind(gkPie);
  g.PaintTo(shot);
  EXPECT_EQ(shot.Canvas().GetPixel(0, 0), clBlue);     // outside the ellipse
  EXPECT_EQ(shot.Canvas().GetPixel(28, 12), clRed);    // top-right quarter filled
  EXPECT_EQ(shot.Canvas().GetPixel(12, 28), clWhite);  // bottom-left quarter empty
  g.SetKind(gkText);
  g.PaintTo(shot);
  EXPECT_EQ(Count(shot, clWhite), 40 * 40);
}

// The needle runs from the middle of the bottom line towards the percentage's angle on the half
// ellipse: 25 % up to the left, 50 % straight up, 75 % up to the right.
TEST_F(GaugeTest, TheNeedlePointsAtThePercentage) {
  TMMGauge g(nullptr);
  g.SetBounds(0, 0, 40, 40);
  g.Bevel().SetBevelOuter(bvNone);
  g.SetShowText(false);
  g.SetForeColor(clRed);
  g.SetBackColor(clWhite);
  g.SetColor(clBlue);
  g.SetKind(gkNeedle);
  // Halfway along each needle: (20, 39) to (6, 11), (20, 0) and (34, 11).
  const TPoint middles[] = {{13, 25}, {20, 20}, {27, 25}};
  auto redNear = [](const TBitmap& b, TPoint p) {
    for (int dy = -1; dy <= 1; ++dy)
      for (int dx = -1; dx <= 1; ++dx)
        if (b.Canvas().GetPixel(p.X + dx, p.Y + dy) == clRed) return true;
    return false;
  };
  struct Case {
    int progress;
    int needle;  // index into middles, -1 for none
  } cases[] = {{0, -1}, {25, 0}, {50, 1}, {75, 2}};
  for (const Case& c : cases) {
    g.SetProgress(c.progress);
    TBitmap shot;
    g.PaintTo(shot);
    for (int i = 0; i < 3; ++i)
      EXPECT_EQ(redNear(shot, middles[i]), i == c.needle) << c.progress << "% at " << i;
    EXPECT_EQ(shot.Canvas().GetPixel(0, 0), clBlue);     // outside the half ellipse
    EXPECT_EQ(shot.Canvas().GetPixel(20, 39), clRed);    // the base line
    EXPECT_EQ(shot.Canvas().GetPixel(10, 33), clWhite);  // inside, off every needle
  }
}

// ---- label ----

class LabelTest : public ControlsTest {
 protected:
  // A non-transparent, unframed label on yellow, painted.
  TBitmap Paint(TMMLabel& l) {
    TBitmap b;
    l.PaintTo(b);
    return b;
  }
  void Prepare(TMMLabel& l) {
    l.SetBounds(0, 0, 80, 50);
    l.Bevel().SetBevelOuter(bvNone);
    l.SetTransparent(false);
    l.SetColor(clYellow);
    l.SetCaption("H");
    l.SetAlignment(taCenter);
  }
};

TEST_F(LabelTest, EffectPresets) {
  struct Case {
    TMMLabelStyle style;
    TMMLabelDirection hd;
    int hdepth;
    TMMLabelDirection sd;
    int sdepth;
    TColor highlight;
  } cases[] = {
      {lsNone, ldNone, 0, ldNone, 0, 0xFFFFFF},
      {lsRaised, ldUpLeft, 1, ldDownRight, 1, 0xFFFFFF},
      {lsSunken, ldDownRight, 1, ldUpLeft, 1, 0xFFFFFF},
      {lsShadow, ldNone, 0, ldDownRight, 2, 0xFFFFFF},
      {lsFlying, ldDownRight, 1, ldDownRight, 5, 0x808080},
  };
  for (const auto& c : cases) {
    TMMLabel l(nullptr);
    l.SetEffectStyle(lsCustom);
    l.SetEffectStyle(c.style);
    EXPECT_EQ(l.GetDirectionHighlight(), c.hd) << c.style;
    EXPECT_EQ(l.GetDepthHighlight(), c.hdepth) << c.style;
    EXPECT_EQ(l.GetDirectionShadow(), c.sd) << c.style;
    EXPECT_EQ(l.GetDepthShadow(), c.sdepth) << c.style;
    EXPECT_EQ(l.GetColourHighlight(), c.highlight) << c.style;
    EXPECT_EQ(l.GetEffectStyle(), c.style);
  }
  TMMLabel l(nullptr);
  l.SetAsButton(true);
  EXPECT_EQ(l.GetEffectStyle(), lsRaised);
  l.SetEffectStyle(lsShadow);
  EXPECT_FALSE(l.GetAsButton());
  l.SetAngle(90);
  EXPECT_EQ(l.GetAlignment(), taLeftJustify);
}

TEST_F(LabelTest, LayersAreOffsetCopiesUnderTheFace) {
  TMMLabel none(nullptr);
  Prepare(none);
  none.SetEffectStyle(lsNone);
  TBitmap plain = Paint(none);
  TRect face = BoxOf(plain, clBlack);
  ASSERT_FALSE(face.IsEmpty());
  EXPECT_TRUE(BoxOf(plain, clWhite).IsEmpty());
  EXPECT_TRUE(BoxOf(plain, clGray).IsEmpty());

  TMMLabel raised(nullptr);
  Prepare(raised);
  TBitmap r = Paint(raised);
  TRect f = BoxOf(r, clBlack), white = BoxOf(r, clWhite), grey = BoxOf(r, clGray);
  EXPECT_EQ(white.Left, f.Left - 1);
  EXPECT_EQ(white.Top, f.Top - 1);
  EXPECT_EQ(grey.Right, f.Right + 1);
  EXPECT_EQ(grey.Bottom, f.Bottom + 1);

  // A deeper shadow turns the style custom and moves the copy 3 pixels down-right.
  raised.SetDepthShadow(3);
  EXPECT_EQ(raised.GetEffectStyle(), lsCustom);
  r = Paint(raised);
  f = BoxOf(r, clBlack);
  grey = BoxOf(r, clGray);
  EXPECT_EQ(grey.Right, f.Right + 3);
  EXPECT_EQ(grey.Left, f.Left + 3);
  // Extruded, the copies at 1 and 2 are drawn too.
  raised.SetStyleShadow(loExtrude);
  r = Paint(raised);
  EXPECT_EQ(BoxOf(r, clGray).Left, BoxOf(r, clBlack).Left + 1);
  EXPECT_EQ(BoxOf(r, clGray).Right, BoxOf(r, clBlack).Right + 3);
}

// A rotated caption turns about the point (c, c), c being half the width of the caption and
// three blanks: at 90 and 180 degrees the ink is the unrotated ink's box turned, around (c, c).
TEST_F(LabelTest, ARotatedCaptionTurnsAboutItsCentre) {
  TMMLabel l(nullptr);
  Prepare(l);
  l.SetBounds(0, 0, 160, 160);
  l.SetEffectStyle(lsNone);
  l.SetCaption("HHHH");
  l.SetAlignment(taLeftJustify);
  const TRect flat = BoxOf(Paint(l), clBlack);
  ASSERT_FALSE(flat.IsEmpty());
  ASSERT_GT(flat.Width(), flat.Height());
  TCanvas measure;
  measure.Font().Assign(&l.Font());
  const int c = measure.TextWidth("HHHH   ") / 2, th = measure.TextHeight("HHHH");
  for (int angle : {90, 180}) {
    l.SetAngle(angle);
    EXPECT_EQ(l.GetAlignment(), taLeftJustify);
    const TRect turned = BoxOf(Paint(l), clBlack);
    ASSERT_FALSE(turned.IsEmpty()) << angle;
    const bool upright = angle == 180;
    EXPECT_NEAR(turned.Width(), upright ? flat.Width() : flat.Height(), 2) << angle;
    EXPECT_NEAR(turned.Height(), upright ? flat.Height() : flat.Width(), 2) << angle;
    // The text cell is centred on (c, c); the ink lies within the cell.
    EXPECT_NEAR((turned.Left + turned.Right) / 2.0, c, upright ? 2 : th / 2.0) << angle;
    EXPECT_NEAR((turned.Top + turned.Bottom) / 2.0, c, upright ? th / 2.0 : 2) << angle;
  }
}

TEST_F(LabelTest, TextureShowsInsideTheLetters) {
  TMMLabel l(nullptr);
  Prepare(l);
  l.SetEffectStyle(lsNone);
  l.Bitmap().SetSize(2, 2);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 2; ++x) l.Bitmap().Canvas().SetPixel(x, y, (x + y) % 2 ? clRed : clBlue);
  TBitmap b = Paint(l);
  EXPECT_EQ(Count(b, clBlack), 0);
  EXPECT_GT(Count(b, clRed), 10);
  EXPECT_GT(Count(b, clBlue), 10);
  EXPECT_EQ(Count(b, clRed) + Count(b, clBlue) + Count(b, clYellow), 80 * 50);
}

TEST_F(LabelTest, AsButtonLooksPressedWhileHeldInside) {
  TForm form(nullptr);
  auto* l = new TMMLabel(&form);
  l->SetParent(&form);
  l->SetCaption("MAIN");
  l->SetAsButton(true);
  int clicks = 0;
  l->OnClick = [&](TObject*) { ++clicks; };
  form.Show();
  uitest::SaveScreenshot(form, "mm_foundation_as_button_looks_pressed_while_held_inside");
  uitest::MouseDown(*l, 10, 10);
  EXPECT_EQ(l->GetEffectStyle(), lsSunken);
  uitest::MouseMove(*l, 300, 10, true);
  EXPECT_EQ(l->GetEffectStyle(), lsRaised);
  uitest::MouseMove(*l, 10, 10, true);
  EXPECT_EQ(l->GetEffectStyle(), lsSunken);
  uitest::MouseMove(*l, 300, 10, true);
  uitest::MouseUp(*l, 300, 10);
  EXPECT_EQ(l->GetEffectStyle(), lsRaised);
  EXPECT_EQ(clicks, 0);
  uitest::Click(*l, 10, 10);
  EXPECT_EQ(l->GetEffectStyle(), lsRaised);
  EXPECT_EQ(clicks, 1);
}

TEST_F(LabelTest, ScreenshotOfAWindowBuiltFromTheControls) {
  TForm form(nullptr);
  form.SetBounds(0, 0, 380, 120);
  auto* frame = new TMMPanel(&form);
  frame->SetParent(&form);
  frame->SetAlign(alClient);
  frame->Bevel().SetBevelInner(bvLowered);
  frame->Bevel().SetBevelInnerWidth(2);
  frame->Bevel().SetBevelOuterWidth(2);
  frame->Bevel().SetBorderWidth(3);
  auto* title = new TMMLabel(&form);
  title->SetParent(frame);
  title->SetBounds(12, 10, 140, 36);
  title->Bevel().SetBevelOuter(bvNone);
  title->SetCaption("MAIN");
  auto* flying = new TMMLabel(&form);
  flying->SetParent(frame);
  flying->SetBounds(160, 10, 140, 36);
  flying->Bevel().SetBevelOuter(bvNone);
  flying->SetEffectStyle(lsFlying);
  flying->SetCaption("SUB");
  auto* turned = new TMMLabel(&form);
  turned->SetParent(frame);
  turned->SetBounds(315, 8, 50, 100);
  turned->Bevel().SetBevelOuter(bvNone);
  turned->Font().SetSize(14);
  turned->SetAngle(90);
  turned->SetCaption("90°");
  auto* gauge = new TMMGauge(&form);
  gauge->SetParent(frame);
  gauge->SetBounds(12, 60, 290, 25);
  gauge->SetCaption("読み込み中　");
  gauge->SetProgress(50);
  form.Show();
  Application->ProcessMessages();
  auto path = uitest::SaveScreenshot(form, "mm_foundation_controls");
  EXPECT_TRUE(std::filesystem::exists(path));
  // The transparent label shows the panel's face around its letters.
  EXPECT_EQ(uitest::RenderedPixel(form, 14, 12), clSilver);
}

}  // namespace
