#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <string>

#include "ui_canvas.h"
#include "ui_fixture.h"

namespace vant {
namespace {

using CanvasTest = UiTest;

// The bitmap as rows of characters: '#' for `ink`, '.' for anything else.
std::string Picture(const TBitmap& b, TColor ink) {
  std::string s;
  for (int y = 0; y < b.Height(); ++y) {
    for (int x = 0; x < b.Width(); ++x) s += b.Canvas().GetPixel(x, y) == ink ? '#' : '.';
    s += '\n';
  }
  return s;
}

// Draws under a meter that allows a few times the pixels of a small picture (9 x 7 here) and a
// few spans per row: whatever the coordinates or widths, a primitive walks only what the
// picture shows, so a walk past it fails at once instead of running for minutes.
void Counted(const std::function<void()>& draw) {
  try {
    PaintMeter meter(16 * 64 + 1024, 1024);
    draw();
  } catch (const EPaintBudget& e) {
    ADD_FAILURE() << e.what();
  }
}

// The meter charges what each call touches within the picture, and a loop that would run on
// stops at the first call past the budget.
TEST_F(CanvasTest, PaintMeterCountsTheWorkAndStopsARunawayLoop) {
  TBitmap b(9, 7);
  TCanvas& c = b.Canvas();
  {
    PaintMeter meter(1000, 1000);
    c.FillRect(Rect(-100, -100, 4, 3));  // 4 x 3 of it in the picture
    EXPECT_EQ(meter.Pixels(), 12);
    EXPECT_EQ(meter.Spans(), 1);
    c.MoveTo(-1000000, 2);
    c.LineTo(1000000, 2);  // walks the picture's 9 columns only
    EXPECT_LE(meter.Pixels(), 12 + 2 * 9);
    {
      PaintMeter inner(1000, 1000);
      c.SetPixel(1, 1, clRed);
      EXPECT_EQ(inner.Pixels(), 1);
    }
    EXPECT_LE(meter.Pixels(), 12 + 2 * 9) << "the inner meter counted alone";
  }
  PaintMeter meter(100, 100);
  int64_t calls = 0;
  EXPECT_THROW(for (; calls < std::numeric_limits<int>::max(); ++calls) c.SetPixel(100, 100, clRed),
               EPaintBudget);
  EXPECT_EQ(calls, 100);
}

TEST_F(CanvasTest, LinesLeaveOutTheirEndPixelAndRectanglesTheFarEdges) {
  TBitmap b(6, 4);
  TCanvas& c = b.Canvas();
  c.Pen().Color = clBlack;
  c.MoveTo(0, 0);
  c.LineTo(4, 0);
  c.MoveTo(0, 3);
  c.LineTo(0, 1);
  EXPECT_EQ(Picture(b, clBlack),
            "####..\n"
            "......\n"
            "#.....\n"
            "#.....\n");
  EXPECT_EQ(c.GetPenPos(), (TPoint{0, 1}));

  TBitmap r(6, 4);
  r.Canvas().Brush().Color = clRed;
  r.Canvas().Pen().Color = clBlack;
  r.Canvas().Rectangle(1, 0, 5, 4);
  EXPECT_EQ(Picture(r, clBlack),
            ".####.\n"
            ".#..#.\n"
            ".#..#.\n"
            ".####.\n");
  EXPECT_EQ(r.Canvas().GetPixel(2, 1), clRed);
  EXPECT_EQ(r.Canvas().GetPixel(-1, 0), -1);
}

TEST_F(CanvasTest, LinesReachingFarOutsideDrawOnlyWhatFallsInside) {
  const int kMin = std::numeric_limits<int>::min(), kMax = std::numeric_limits<int>::max();
  struct Case {
    const char* what;
    int width;
    TPoint from, to;
    const char* picture;  // 8 × 5
  } cases[] = {
      {"along row 2 from one end of int to the other",
       1,
       {kMin, 2},
       {kMax, 2},
       "........\n........\n########\n........\n........\n"},
      {"down column 3 from the bottom of int to its top",
       1,
       {3, kMax},
       {3, kMin},
       "...#....\n...#....\n...#....\n...#....\n...#....\n"},
      // Slope 1/2 through the origin: y = x / 2, a half rounded up.
      {"slope 1/2 from far above-left to far below-right",
       1,
       {-2000000000, -1000000000},
       {2000000000, 1000000000},
       "#.......\n.##.....\n...##...\n.....##.\n.......#\n"},
      {"wholly above the target",
       1,
       {kMin, kMin},
       {kMax, kMin},
       "........\n........\n........\n........\n........\n"},
      {"wide pen from end to end of int along row 2", 3, {kMin, 2}, {kMax, 2}, nullptr},
      {"pen as wide as int holds across the picture",
       kMax,
       {-10, 2},
       {20, 2},
       "########\n"
       "########\n"
       "########\n"
       "########\n"
       "########\n"},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.what);
    TBitmap b(8, 5);
    TCanvas& c = b.Canvas();
    c.Pen().Color = clBlack;
    c.Pen().Width = t.width;
    c.MoveTo(t.from.X, t.from.Y);
    Counted([&] { c.LineTo(t.to.X, t.to.Y); });
    EXPECT_EQ(c.GetPenPos(), t.to);
    if (t.picture) {
      EXPECT_EQ(Picture(b, clBlack), t.picture);
    } else {
      for (int x = 0; x < 8; ++x) EXPECT_EQ(c.GetPixel(x, 2), clBlack) << x;
    }
  }
}

TEST_F(CanvasTest, XorPenTwiceRestoresAndNotXorInverts) {
  TBitmap b(4, 1);
  b.Canvas().Brush().Color = RGBColor(0x12, 0x34, 0x56);
  b.Canvas().FillRect(Rect(0, 0, 4, 1));
  TPen& pen = b.Canvas().Pen();
  pen.Color = RGBColor(0xFF, 0x00, 0x0F);
  pen.Mode = pmXor;
  for (int i = 0; i < 2; ++i) {
    b.Canvas().MoveTo(0, 0);
    b.Canvas().LineTo(2, 0);
    if (i == 0) {
      EXPECT_EQ(b.Canvas().GetPixel(0, 0), RGBColor(0xED, 0x34, 0x59));
    }
  }
  EXPECT_EQ(b.Canvas().GetPixel(1, 0), RGBColor(0x12, 0x34, 0x56));
  pen.Mode = pmNotXor;
  pen.Color = clBlack;
  b.Canvas().MoveTo(2, 0);
  b.Canvas().LineTo(4, 0);
  EXPECT_EQ(b.Canvas().GetPixel(3, 0), RGBColor(0xED, 0xCB, 0xA9));
}

TEST_F(CanvasTest, Frame3DDrawsRingsAndShrinksTheRectangle) {
  TBitmap b(5, 5);
  TRect r = Rect(0, 0, 5, 5);
  Frame3D(b.Canvas(), r, clWhite, clGray, 1);
  EXPECT_EQ(r, Rect(1, 1, 4, 4));
  // Top and left in the first colour; bottom and right, both outer corners included, in the
  // second.
  EXPECT_EQ(Picture(b, clGray),
            "....#\n"
            "....#\n"
            "....#\n"
            "....#\n"
            "#####\n");
  b.Canvas().Brush().Color = clBlack;
  b.Canvas().FillRect(Rect(0, 0, 5, 5));
  r = Rect(0, 0, 5, 5);
  Frame3D(b.Canvas(), r, clRed, clRed, 2);
  EXPECT_EQ(r, Rect(2, 2, 3, 3));
  EXPECT_EQ(Picture(b, clRed),
            "#####\n"
            "#####\n"
            "##.##\n"
            "#####\n"
            "#####\n");
}

// The frame as it was first drawn, one ring per unit of width, each ring two polylines: the
// reference a bevel of any width must match pixel for pixel.
void RingByRing(TCanvas& canvas, TRect& r, TColor top, TColor bottom, int width) {
  canvas.Pen().Width = 1;
  canvas.Pen().Style = psSolid;
  canvas.Pen().Mode = pmCopy;
  r.Bottom -= 1;
  r.Right -= 1;
  while (width-- > 0) {
    canvas.Pen().Color = top;
    canvas.Polyline({{r.Left, r.Bottom}, {r.Left, r.Top}, {r.Right, r.Top}});
    canvas.Pen().Color = bottom;
    canvas.Polyline({{r.Right, r.Top}, {r.Right, r.Bottom}, {r.Left - 1, r.Bottom}});
    InflateRect(r, -1, -1);
  }
  r.Bottom += 1;
  r.Right += 1;
}

std::string Colours(const TBitmap& b) {
  std::string s;
  for (int y = 0; y < b.Height(); ++y) {
    for (int x = 0; x < b.Width(); ++x) {
      TColor c = b.Canvas().GetPixel(x, y);
      s += c == clRed ? 'r' : c == clBlue ? 'b' : c == clWhite ? '.' : '?';
    }
    s += '\n';
  }
  return s;
}

TEST_F(CanvasTest, Frame3DOfEveryWidthPaintsWhatItsRingsWould) {
  const TRect rects[] = {Rect(0, 0, 9, 7),    Rect(1, 2, 8, 6), Rect(-3, -2, 12, 9),
                         Rect(2, 2, 3, 3),    Rect(6, 5, 2, 1), Rect(-20, 3, 30, 4),
                         Rect(4, -20, 5, 30), Rect(0, 0, 9, 3), Rect(1, 0, 4, 7),
                         Rect(-5, -5, 3, 20), Rect(0, 0, 2, 7), Rect(3, 1, 9, 2),
                         Rect(2, 1, 8, 5),    Rect(1, 1, 7, 6), Rect(8, 0, 0, 7)};
  const TRect clips[] = {Rect(0, 0, 9, 7), Rect(2, 1, 7, 6)};
  for (const TRect& start : rects)
    for (const TRect& clip : clips)
      for (int width = -1; width <= 40; ++width) {
        SCOPED_TRACE(::testing::Message()
                     << "rect " << start << " clip " << clip << " width " << width);
        TBitmap want(9, 7), got(9, 7);
        want.Canvas().SetClipRect(clip);
        got.Canvas().SetClipRect(clip);
        TRect r_want = start, r_got = start;
        RingByRing(want.Canvas(), r_want, clRed, clBlue, width);
        // At most one run per pixel of the picture, whatever the width.
        try {
          PaintMeter meter(2 * 9 * 7, 9 * 7 + 1);
          Frame3D(got.Canvas(), r_got, clRed, clBlue, width);
        } catch (const EPaintBudget& e) {
          FAIL() << e.what();
        }
        ASSERT_EQ(Colours(got), Colours(want));
        ASSERT_EQ(r_got, r_want);
      }
}

TEST_F(CanvasTest, Frame3DOfAnyWidthPaintsOnlyWhatTheTargetShows) {
  const int kMin = std::numeric_limits<int>::min(), kMax = std::numeric_limits<int>::max();
  // Rings past the picture's extent change no pixel of it.
  TBitmap want(9, 7), got(9, 7);
  TRect r_want = Rect(0, 0, 9, 7), r_got = r_want;
  RingByRing(want.Canvas(), r_want, clRed, clBlue, 64);
  Counted([&] { Frame3D(got.Canvas(), r_got, clRed, clBlue, kMax); });
  EXPECT_EQ(Colours(got), Colours(want));
  EXPECT_EQ(r_got, Rect(kMax, kMax, 9 - kMax, 7 - kMax));
  // A frame around all of int: its bottom and right rings reach the picture at the last rings.
  TBitmap all(9, 7);
  TRect r = Rect(kMin, kMin, kMax, kMax);
  Counted([&] { Frame3D(all.Canvas(), r, clRed, clBlue, kMax); });
  EXPECT_EQ(r, Rect(-1, -1, 0, 0));
  EXPECT_EQ(Colours(all).find('?'), std::string::npos);
  // The shrunk rectangle stays within int.
  r = Rect(10, 10, 20, 20);
  Counted([&] { Frame3D(all.Canvas(), r, clRed, clBlue, kMax); });
  EXPECT_EQ(r, Rect(kMax, kMax, 20 - kMax, 20 - kMax));
  r = Rect(-10, -10, -5, -5);
  Counted([&] { Frame3D(all.Canvas(), r, clRed, clBlue, kMax); });
  EXPECT_EQ(r, Rect(kMax - 10, kMax - 10, kMin, kMin));
}

// Each primitive with coordinates far outside the picture paints the same pixels as with
// coordinates just outside it.
TEST_F(CanvasTest, PrimitivesReachingFarOutsidePaintWhatTheirNearTwinsPaint) {
  const int kMin = std::numeric_limits<int>::min(), kMax = std::numeric_limits<int>::max();
  const int kFar = 2000000000;
  using Draw = std::function<void(TCanvas&)>;
  // A picture to copy whose every column and row differs from its neighbours.
  TBitmap src(4, 4);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x)
      src.Canvas().SetPixel(x, y,
                            (2 * x + y) % 3 == 0   ? clRed
                            : (2 * x + y) % 3 == 1 ? clBlue
                                                   : clWhite);
  struct Case {
    const char* what;
    Draw far, near;
  } cases[] = {
      {"FrameRect down all of int", [&](TCanvas& c) { c.FrameRect(Rect(1, kMin, 6, kMax)); },
       [](TCanvas& c) { c.FrameRect(Rect(1, -5, 6, 10)); }},
      {"FrameRect across", [&](TCanvas& c) { c.FrameRect(Rect(-kFar, 1, kFar, 4)); },
       [](TCanvas& c) { c.FrameRect(Rect(-5, 1, 20, 4)); }},
      {"FrameRect around all of int",
       [&](TCanvas& c) { c.FrameRect(Rect(kMin, kMin, kMax, kMax)); },
       [](TCanvas& c) { c.FrameRect(Rect(-5, -5, 20, 20)); }},
      {"Rectangle down", [&](TCanvas& c) { c.Rectangle(1, -kFar, 6, kFar); },
       [](TCanvas& c) { c.Rectangle(1, -5, 6, 10); }},
      {"Rectangle across all of int", [&](TCanvas& c) { c.Rectangle(kMin, 1, kMax, 4); },
       [](TCanvas& c) { c.Rectangle(-5, 1, 20, 4); }},
      {"Rectangle reversed", [&](TCanvas& c) { c.Rectangle(kMax, kMax, kMin, 2); },
       [](TCanvas& c) { c.Rectangle(20, 20, -5, 2); }},
      {"Rectangle with a wide pen",
       [&](TCanvas& c) {
         c.Pen().Width = 3;
         c.Rectangle(-kFar, 1, kFar, kFar);
       },
       [](TCanvas& c) {
         c.Pen().Width = 3;
         c.Rectangle(-10, 1, 20, 20);
       }},
      {"FillRect over all of int",
       [&](TCanvas& c) {
         c.Brush().Style = bsDiagCross;
         c.FillRect(Rect(kMin, kMin, kMax, kMax));
       },
       [](TCanvas& c) {
         c.Brush().Style = bsDiagCross;
         c.FillRect(Rect(-5, -5, 20, 20));
       }},
      {"FillRect down", [&](TCanvas& c) { c.FillRect(Rect(2, kMin, 5, kMax)); },
       [](TCanvas& c) { c.FillRect(Rect(2, -5, 5, 10)); }},
      {"Polygon",
       [&](TCanvas& c) {
         c.Polygon({{kMin, 2}, {kMax, 2}, {kMax, kMax}, {kMin, kMax}});
       },
       [](TCanvas& c) {
         c.Polygon({{-5, 2}, {20, 2}, {20, 20}, {-5, 20}});
       }},
      {"Ellipse around the picture", [&](TCanvas& c) { c.Ellipse(-kFar, -kFar, kFar, kFar); },
       [](TCanvas& c) { c.Ellipse(-1000, -1000, 1000, 1000); }},
      {"Ellipse wholly outside", [&](TCanvas& c) { c.Ellipse(kMin, kMin, kMax, -10); },
       [](TCanvas&) {}},
      {"Pie", [&](TCanvas& c) { c.Pie(kMin, kMin, kMax, kMax, 0, 100, 100, 0); },
       [](TCanvas& c) { c.Pie(-1000, -1000, 1000, 1000, 0, 100, 100, 0); }},
      {"TextOut far right", [&](TCanvas& c) { c.TextOut(kMax, 0, "Ag"); }, [](TCanvas&) {}},
      {"TextOut far left", [&](TCanvas& c) { c.TextOut(kMin, 0, "Ag"); }, [](TCanvas&) {}},
      {"TextRect over all of int",
       [&](TCanvas& c) { c.TextRect(Rect(kMin, kMin, kMax, kMax), 1, 0, "Ag"); },
       [](TCanvas& c) { c.TextRect(Rect(-5, -5, 20, 20), 1, 0, "Ag"); }},
      {"DrawText centred in a box across int",
       [&](TCanvas& c) {
         TRect r = Rect(-kFar, 0, kFar, 7);
         c.DrawText("Ag", r, DT_CENTER | DT_SINGLELINE);
       },
       [](TCanvas& c) {
         TRect r = Rect(-1000, 0, 1000, 7);
         c.DrawText("Ag", r, DT_CENTER | DT_SINGLELINE);
       }},
      {"DrawText at the end of int",
       [&](TCanvas& c) {
         TRect r = Rect(kMax - 5, kMin, kMax, kMax);
         c.DrawText("Ag", r, DT_WORDBREAK);
       },
       [](TCanvas&) {}},
      // Copies: the picture shows the source's columns where the wide mapping puts them.
      {"StretchDraw from the start of int",
       [&](TCanvas& c) { c.StretchDraw(Rect(kMin, 0, 100, 100), src); },
       [&](TCanvas& c) { c.StretchDraw(Rect(-396, 0, 100, 100), src); }},
      {"StretchDraw to the end of int",
       [&](TCanvas& c) { c.StretchDraw(Rect(-2, -1, kMax, kMax), src); },
       [&](TCanvas& c) { c.StretchDraw(Rect(-2, -1, 1000, 1000), src); }},
      {"CopyRect onto all of int",
       [&](TCanvas& c) {
         c.CopyRect(Rect(kMin, kMin, kMax, kMax), src.Canvas(), Rect(0, 0, 4, 4));
       },
       [&](TCanvas& c) { c.CopyRect(Rect(-100, -100, 100, 100), src.Canvas(), Rect(0, 0, 4, 4)); }},
      {"CopyRect from a source rectangle across int",
       [&](TCanvas& c) {
         c.CopyRect(Rect(0, 0, 9, 7), src.Canvas(), Rect(kMin, kMin, kMax, kMax));
       },
       [](TCanvas&) {}},
      {"BitBlt from the start of int",
       [&](TCanvas& c) { c.BitBlt(Rect(kMin, kMin, 9, 7), src.Canvas(), kMin, kMin, cmSrcCopy); },
       [&](TCanvas& c) { c.BitBlt(Rect(0, 0, 9, 7), src.Canvas(), 0, 0, cmSrcCopy); }},
      {"BitBlt to the end of int",
       [&](TCanvas& c) { c.BitBlt(Rect(-1, -1, kMax, kMax), src.Canvas(), kMax, 0, cmSrcCopy); },
       [](TCanvas&) {}},
      {"Draw at the end of int", [&](TCanvas& c) { c.Draw(kMax - 1, 0, src); }, [](TCanvas&) {}},
      {"Draw from the start of int", [&](TCanvas& c) { c.Draw(kMin, kMin, src); }, [](TCanvas&) {}},
  };
  for (const Case& t : cases)
    for (bool clipped : {false, true}) {
      SCOPED_TRACE(std::string(t.what) + (clipped ? ", clipped" : ""));
      TBitmap want(9, 7), got(9, 7);
      for (TBitmap* b : {&want, &got}) {
        b->Canvas().Pen().Color = clRed;
        b->Canvas().Brush().Color = clBlue;
        b->Canvas().Font().SetColor(clRed);
        if (clipped) b->Canvas().SetClipRect(Rect(2, 1, 7, 6));
      }
      t.near(want.Canvas());
      Counted([&] { t.far(got.Canvas()); });
      EXPECT_EQ(Colours(got), Colours(want));
    }
}

// A size in points becomes a character height in pixels at 96 dpi; at the ends of int it stops
// there, keeping its sign.
TEST_F(CanvasTest, FontSizesAtTheEndsOfIntKeepTheirSign) {
  const int kMin = std::numeric_limits<int>::min(), kMax = std::numeric_limits<int>::max();
  const struct {
    int points, height;
  } cases[] = {
      {9, -12},      {-9, 12},    {1610612735, -kMax}, {1610612736, -kMax}, {-1610612736, kMax},
      {kMax, -kMax}, {kMin, kMax}};
  for (const auto& c : cases) {
    TFont f;
    f.SetSize(c.points);
    EXPECT_EQ(f.GetHeight(), c.height) << c.points;
  }
}

TEST_F(CanvasTest, CopyModesCombinePixelsExactly) {
  TBitmap dst(2, 1), src(2, 1);
  dst.Canvas().SetPixel(0, 0, RGBColor(0xF0, 0x0F, 0xAA));
  dst.Canvas().SetPixel(1, 0, RGBColor(0xF0, 0x0F, 0xAA));
  src.Canvas().SetPixel(0, 0, RGBColor(0xFF, 0xFF, 0x00));
  src.Canvas().SetPixel(1, 0, RGBColor(0x0F, 0xF0, 0x55));
  struct Case {
    uint32_t mode;
    TColor px0;
  } cases[] = {
      {cmSrcCopy, RGBColor(0xFF, 0xFF, 0x00)},    {cmSrcInvert, RGBColor(0x0F, 0xF0, 0xAA)},
      {cmSrcAnd, RGBColor(0xF0, 0x0F, 0x00)},     {cmSrcPaint, RGBColor(0xFF, 0xFF, 0xAA)},
      {cmNotSrcCopy, RGBColor(0x00, 0x00, 0xFF)}, {cmDstInvert, RGBColor(0x0F, 0xF0, 0x55)},
  };
  for (const auto& c : cases) {
    TBitmap d;
    d.Assign(&dst);
    d.Canvas().SetCopyMode(c.mode);
    d.Canvas().Draw(0, 0, src);
    EXPECT_EQ(d.Canvas().GetPixel(0, 0), c.px0) << std::hex << c.mode;
  }
  // Stretching doubles pixels.
  TBitmap wide(4, 1);
  wide.Canvas().StretchDraw(Rect(0, 0, 4, 1), src);
  EXPECT_EQ(wide.Canvas().GetPixel(1, 0), RGBColor(0xFF, 0xFF, 0x00));
  EXPECT_EQ(wide.Canvas().GetPixel(2, 0), RGBColor(0x0F, 0xF0, 0x55));
}

TEST_F(CanvasTest, BrushStylesAndClipping) {
  TBitmap b(8, 2);
  TCanvas& c = b.Canvas();
  c.Brush().Style = bsPattern;
  c.Brush().Color = clBlack;
  c.Brush().Pattern[0] = 0xAA;
  c.Brush().Pattern[1] = 0x55;
  c.FillRect(Rect(0, 0, 8, 2));
  EXPECT_EQ(Picture(b, clBlack), "#.#.#.#.\n.#.#.#.#\n");
  c.Brush().Style = bsClear;
  c.FillRect(Rect(0, 0, 8, 2));  // a clear brush fills nothing
  EXPECT_EQ(Picture(b, clBlack), "#.#.#.#.\n.#.#.#.#\n");
  c.Brush().Style = bsSolid;
  c.Brush().Color = clRed;
  c.SetClipRect(Rect(2, 0, 4, 1));
  c.FillRect(Rect(0, 0, 8, 2));
  EXPECT_EQ(Picture(b, clRed), "..##....\n........\n");
}

TEST_F(CanvasTest, TextMeasuresAndCalcRectDrawsNothing) {
  TBitmap b(200, 40);
  TCanvas& c = b.Canvas();
  c.Font().SetName("Arial");
  c.Font().SetHeight(-12);
  int w1 = c.TextWidth("W");
  int w3 = c.TextWidth("WWW");
  EXPECT_GT(w1, 0);
  EXPECT_EQ(w3, 3 * w1);
  EXPECT_GE(c.TextHeight("W"), 12);
  TRect r = Rect(0, 0, 0, 0);
  c.DrawText("WWW", r, DT_CALCRECT | DT_SINGLELINE);
  EXPECT_EQ(r.Width(), w3);
  EXPECT_EQ(r.Height(), c.TextHeight("W"));
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 200; ++x) ASSERT_EQ(c.GetPixel(x, y), clWhite);
  // Japanese text reaches the screen through the substituted face.
  c.Font().SetName("ＭＳ Ｐゴシック");
  c.Font().SetColor(clBlack);
  c.Brush().Style = bsClear;
  c.TextOut(0, 0, "読み込み中");
  int ink = 0;
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 200; ++x) ink += c.GetPixel(x, y) == clBlack;
  EXPECT_GT(ink, 50);
}

TEST_F(CanvasTest, SystemColoursResolveThroughTheFixedTable) {
  EXPECT_EQ(ColorToRGB(clBtnFace), 0xC0C0C0u);
  EXPECT_EQ(ColorToRGB(clBtnShadow), 0x808080u);
  EXPECT_EQ(ColorToRGB(clBtnHighlight), 0xFFFFFFu);
  EXPECT_EQ(ColorToRGB(clWindowFrame), 0u);
  EXPECT_EQ(ColorToRGB(clRed), 0x0000FFu);
  EXPECT_EQ(ColorToPixel(clRed), 0xFFFF0000u);
}

}  // namespace
}  // namespace vant
