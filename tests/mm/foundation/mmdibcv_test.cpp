// The DIB canvas: its surface layout, drawing periods and raster primitives, pixel by pixel.
#include "mmdibcv.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <thread>

using namespace vant;

namespace {

// A canvas of w x h at `bits` inside a drawing period, drawing in index 1 (or RGB 0x0000FF).
struct Period {
  TMMDIBCanvas canvas{nullptr};
  Period(int w, int h, int bits = 8) {
    canvas.SetBPP(bits);
    canvas.SetBounds(0, 0, w, h);
    canvas.DIB_InitDrawing();
    canvas.DIB_SetColor(bits == 8 ? 1 : 0x0000FF);
  }
  ~Period() { canvas.DIB_DoneDrawing(); }
  // The set pixels (non-zero) as "x,y" rows of '#' and '.'.
  std::string Picture() {
    std::string s;
    for (int y = 0; y < biHeight; ++y) {
      for (int x = 0; x < biWidth; ++x) s += canvas.DIB_GETPIXEL(x, y) > 0 ? '#' : '.';
      s += '\n';
    }
    return s;
  }
  std::set<std::pair<int, int>> Set() {
    std::set<std::pair<int, int>> out;
    for (int y = 0; y < biHeight; ++y)
      for (int x = 0; x < biWidth; ++x)
        if (canvas.DIB_GETPIXEL(x, y) > 0) out.insert({x, y});
    return out;
  }
};

using Points = std::set<std::pair<int, int>>;

}  // namespace

TEST(DIBCanvas, SurfaceLayoutIsBottomUpWithPaddedRows) {
  for (int bits : {8, 24}) {
    Period p(5, 3, bits);
    EXPECT_EQ(biScanWidth, bits == 8 ? 8 : 16);
    EXPECT_EQ(biLineDiff, -biScanWidth);
    // Row 0 of the picture is the last row in memory; 24-bit pixels are blue, green, red.
    p.canvas.DIB_SetColor(bits == 8 ? 7 : 0x332211);
    p.canvas.DIB_SETPIXEL(1, 0, bits == 8 ? 7 : 0x332211);
    const uint8_t* q = biSurface + 2 * biScanWidth + biBPP;
    if (bits == 8) {
      EXPECT_EQ(q[0], 7);
    } else {
      EXPECT_EQ(q[0], 0x33);
      EXPECT_EQ(q[1], 0x22);
      EXPECT_EQ(q[2], 0x11);
      EXPECT_EQ(p.canvas.DIB_GETPIXEL(1, 0), 0x332211);  // red in the low byte
    }
    EXPECT_EQ(p.canvas.DIB_GetPixelAddress(biSurface, 1, 0), q);
    EXPECT_THROW(p.canvas.DIB_GetPixelAddress(biSurface, 5, 0), EMMDIBError);
  }
}

TEST(DIBCanvas, SpansDashesDotsAndRectangles) {
  struct Case {
    const char* name;
    std::function<void(TMMDIBCanvas&)> draw;
    Points expected;
  };
  auto row = [](std::initializer_list<int> xs, int y = 0) {
    Points s;
    for (int x : xs) s.insert({x, y});
    return s;
  };
  auto col = [](int x, std::initializer_list<int> ys) {
    Points s;
    for (int y : ys) s.insert({x, y});
    return s;
  };
  const Case cases[] = {
      {"hline reversed", [](auto& c) { c.DIB_HLINE(10, 5, 0); }, row({5, 6, 7, 8, 9})},
      {"hline empty", [](auto& c) { c.DIB_HLINE(5, 5, 0); }, {}},
      {"vline", [](auto& c) { c.DIB_VLINE(3, 0, 4); }, col(3, {0, 1, 2, 3})},
      {"line 0,0-4,2", [](auto& c) { c.DIB_LINE(0, 0, 4, 2); }, {{0, 0}, {1, 1}, {2, 1}, {3, 2}}},
      {"line 4,2-0,0", [](auto& c) { c.DIB_LINE(4, 2, 0, 0); }, {{0, 0}, {1, 1}, {2, 1}, {3, 2}}},
      {"dashed 10", [](auto& c) { c.DIB_HLINEDASHED(0, 10, 0); }, row({0, 1, 2, 3, 8, 9})},
      {"dashed 3", [](auto& c) { c.DIB_HLINEDASHED(0, 3, 0); }, {}},
      {"vdashed 3", [](auto& c) { c.DIB_VLINEDASHED(0, 0, 3); }, col(0, {0, 1, 2})},
      {"dotted space 2", [](auto& c) { c.DIB_HLINEDOTED(0, 10, 0, 2); }, row({0, 3, 6, 9})},
      {"dotted space 0", [](auto& c) { c.DIB_HLINEDOTED(0, 5, 0, 0); }, row({0, 2, 4})},
      {"vdotted", [](auto& c) { c.DIB_VLINEDOTED(1, 0, 7, 2); }, col(1, {0, 3, 6})},
      {"fill doted",
       [](auto& c) { c.DIB_FILLRECTDOTED(Rect(0, 0, 4, 4), true); },
       {{0, 0}, {2, 0}, {0, 2}, {2, 2}}},
      {"fill", [](auto& c) { c.DIB_FILLRECTDOTED(Rect(1, 1, 3, 2), false); }, {{1, 1}, {2, 1}}},
      {"rectangle",
       [](auto& c) { c.DIB_RECTANGLE(0, 0, 3, 3); },
       {{0, 0}, {1, 0}, {2, 0}, {0, 1}, {2, 1}, {0, 2}, {1, 2}, {2, 2}}},
      {"lineto",
       [](auto& c) {
         c.DIB_MOVETO(1, 1);
         c.DIB_LINETO(4, 1);
         c.DIB_LINETO(4, 3);
       },
       {{1, 1}, {2, 1}, {3, 1}, {4, 1}, {4, 2}}},
  };
  for (const Case& k : cases) {
    Period p(12, 8);
    k.draw(p.canvas);
    EXPECT_EQ(p.Set(), k.expected) << k.name;
  }
}

TEST(DIBCanvas, ClipAtEveryEdge) {
  Period p(8, 6);
  p.canvas.DIB_SetClipRect(Rect(2, 1, 6, 4));
  p.canvas.DIB_FILLRECT(Rect(-100, -100, 100, 100));
  EXPECT_EQ(p.Picture(),
            "........\n"
            "..####..\n"
            "..####..\n"
            "..####..\n"
            "........\n"
            "........\n");
  EXPECT_EQ(p.canvas.DIB_GETPIXEL(1, 1), -1);
  EXPECT_EQ(p.canvas.DIB_GETPIXEL(6, 1), -1);
  EXPECT_EQ(p.canvas.DIB_GETPIXEL(2, 4), -1);
  EXPECT_EQ(p.canvas.DIB_GETPIXEL(2, 0), -1);
  // The clip never reaches past the surface.
  p.canvas.DIB_SetClipRect(Rect(-5, -5, 50, 50));
  EXPECT_EQ(p.canvas.DIB_GetClipRect(), Rect(0, 0, 8, 6));
}

TEST(DIBCanvas, LineAcrossTheClipSetsEveryColumn) {
  {
    Period p(16, 4);
    p.canvas.DIB_LINE(-10, 2, 26, 2);
    for (int x = 0; x < 16; ++x) EXPECT_GT(p.canvas.DIB_GETPIXEL(x, 2), 0) << x;
    EXPECT_EQ(p.Set().size(), 16u);
  }
  // Far outside in 32-bit terms: nothing wraps around into the surface.
  Period q(16, 4);
  q.canvas.DIB_LINE(-2000000000, -2000000000, 2000000000, 2000000000);
  q.canvas.DIB_LINE(INT32_MIN, 3, INT32_MAX, 3);
  for (auto [x, y] : q.Set()) EXPECT_TRUE(y == 3 || x == y) << x << "," << y;
}

TEST(DIBCanvas, RandomLinesAndSpansStayInsideTheClip) {
  std::mt19937 rng(18);
  std::uniform_int_distribution<int> coord(-40, 60), big(INT32_MIN, INT32_MAX), size(1, 17);
  for (int round = 0; round < 300; ++round) {
    const int bits = round % 2 ? 24 : 8;
    Period p(size(rng), size(rng), bits);
    const TRect clip = Rect(coord(rng) % 8, coord(rng) % 8, coord(rng), coord(rng));
    p.canvas.DIB_SetClipRect(clip);
    const TRect k = p.canvas.DIB_GetClipRect();
    auto pick = [&] { return round % 3 == 0 ? big(rng) : coord(rng); };
    for (int i = 0; i < 20; ++i) {
      p.canvas.DIB_LINE(pick(), pick(), pick(), pick());
      p.canvas.DIB_LINENOTXOR(pick(), pick(), pick(), pick());
      p.canvas.DIB_HLINE(pick(), pick(), pick());
      p.canvas.DIB_VLINEDASHED(pick(), pick(), pick());
      p.canvas.DIB_HLINEDOTED(pick(), pick(), pick(), pick());
      p.canvas.DIB_RECTANGLE(pick(), pick(), pick(), pick());
      const uint8_t colors[] = {1, 2, 3, 4, 5, 6, 7};
      p.canvas.DIB_VLINEMULTICOLOR(pick(), pick(), colors, 7);
      p.canvas.DIB_FILLRECTXOR(Rect(pick(), pick(), pick(), pick()));
      p.canvas.DIB_ELLIPSE(pick(), pick(), int16_t(pick()), int16_t(pick()), int16_t(coord(rng)),
                           int16_t(coord(rng)));
      p.canvas.DIB_FILLELLIPSE(pick(), pick(), int16_t(coord(rng) % 30), int16_t(coord(rng) % 30));
      p.canvas.DIB_COPYDIBBITS(biSurface, pick() % 40, pick() % 40, pick() % 40, pick() % 40,
                               pick() % 40, pick() % 40);
    }
    // Every byte outside the clip (row padding included) is still black.
    for (int row = 0; row < biHeight; ++row)
      for (int b = 0; b < biScanWidth; ++b) {
        const int y = biHeight - 1 - row, x = b / biBPP;
        const bool inside = b < biWidth * biBPP && k.Contains({x, y});
        if (!inside) {
          ASSERT_EQ(biSurface[row * biScanWidth + b], 0) << x << "," << y;
        }
      }
  }
}

TEST(DIBCanvas, EllipseArcs) {
  auto arc = [](int16_t a, int16_t b) {
    Period p(41, 41);
    p.canvas.DIB_ELLIPSE(20, 20, a, b, 10, 6);
    return p.Set();
  };
  const Points whole = arc(0, 360), upper_right = arc(0, 90), right = arc(270, 90);
  for (auto [x, y] : upper_right) EXPECT_TRUE(x >= 20 && y <= 20) << x << "," << y;
  for (auto [x, y] : right) EXPECT_GE(x, 20) << y;
  EXPECT_TRUE(upper_right.count({30, 20}) && upper_right.count({20, 14}));
  EXPECT_TRUE(right.count({20, 14}) && right.count({20, 26}) && right.count({30, 20}));
  // The whole outline: every quarter, symmetric about both axes.
  for (auto [x, y] : whole) EXPECT_TRUE(whole.count({40 - x, y}) && whole.count({x, 40 - y}));
  EXPECT_TRUE(whole.count({10, 20}) && whole.count({20, 26}));
  for (auto pt : right) EXPECT_TRUE(whole.count(pt));
  EXPECT_TRUE(arc(5, 5).empty());
  EXPECT_EQ(arc(10, 11).size(), 1u);  // too short an arc: its end pixel
}

TEST(DIBCanvas, FilledEllipseCoversItsOutline) {
  Period p(21, 21);
  p.canvas.DIB_FILLELLIPSE(10, 10, 6, 4);
  Points s = p.Set();
  EXPECT_TRUE(s.count({4, 10}) && s.count({16, 10}) && s.count({10, 6}) && s.count({10, 14}));
  EXPECT_FALSE(s.count({3, 10}) || s.count({10, 5}) || s.count({16, 14}));
  for (auto [x, y] : s) EXPECT_TRUE(s.count({20 - x, y}) && s.count({x, 20 - y}));
}

TEST(DIBCanvas, XorAndNotXor) {
  for (int bits : {8, 24}) {
    Period p(4, 4, bits);
    p.canvas.DIB_SetColor(bits == 8 ? 0x0F : 0x0F0F0F);
    p.canvas.DIB_VLINEXOR(0, 0, 2);
    p.canvas.DIB_VLINEXOR(0, 0, 1);
    EXPECT_EQ(p.canvas.DIB_GETPIXEL(0, 0), 0);
    EXPECT_EQ(p.canvas.DIB_GETPIXEL(0, 1), bits == 8 ? 0x0F : 0x0F0F0F);
    p.canvas.DIB_VLINENOTXOR(1, 0, 1);
    EXPECT_EQ(p.canvas.DIB_GETPIXEL(1, 0), bits == 8 ? 0xF0 : 0xF0F0F0);
  }
}

TEST(DIBCanvas, MultiColorAndCopyKeepTheirOriginsWhenCut) {
  Period p(8, 8);
  p.canvas.DIB_SetClipRect(Rect(0, 2, 8, 8));
  const uint8_t colors[] = {1, 2, 3, 4, 5};
  p.canvas.DIB_VLINEMULTICOLOR(1, 0, colors, 5);  // rows 0 and 1 are cut away
  EXPECT_EQ(p.canvas.DIB_GETPIXEL(1, 2), 3);
  EXPECT_EQ(p.canvas.DIB_GETPIXEL(1, 4), 5);
  EXPECT_EQ(p.canvas.DIB_GETPIXEL(1, 5), 0);
  // Copy a block to the left past the clip: what lands is the block's matching part.
  p.canvas.DIB_SetClipRect(Rect(2, 0, 8, 8));
  p.canvas.DIB_SetColor(9);
  p.canvas.DIB_SETPIXEL(5, 6, 9);
  p.canvas.DIB_SETPIXEL(6, 6, 8);
  p.canvas.DIB_COPYDIBBITS(biSurface, 1, 3, 3, 1, 5, 6);  // (5,6)->(1,3) is cut, (6,6)->(2,3)
  EXPECT_EQ(p.canvas.DIB_GETPIXEL(2, 3), 8);
  // Overlapping move downwards within one surface.
  p.canvas.DIB_SetClipRect(Rect(0, 0, 8, 8));
  p.canvas.DIB_CLEAR();
  p.canvas.DIB_SetColor(1);
  p.canvas.DIB_VLINE(0, 0, 4);
  p.canvas.DIB_COPYDIBBITS(biSurface, 0, 2, 1, 4, 0, 0);
  for (int y = 0; y < 6; ++y) EXPECT_EQ(p.canvas.DIB_GETPIXEL(0, y), 1) << y;
}

TEST(DIBCanvas, ClearFillsTheWholeMemory) {
  Period p(3, 2);
  p.canvas.DIB_SetClipRect(Rect(1, 1, 2, 2));
  p.canvas.DIB_SetColor(0xAB);
  p.canvas.DIB_CLEAR();
  for (int i = 0; i < biScanWidth * biHeight; ++i) EXPECT_EQ(biSurface[i], 0xAB);
}

TEST(DIBCanvas, AnimatedPaletteEntries) {
  TMMDIBCanvas c(nullptr);
  EXPECT_THROW(c.SetAnimCount(237), EMMDIBError);
  c.SetAnimCount(20);
  EXPECT_EQ(c.GetAnimCount(), 20);
  EXPECT_EQ(c.GetAnimColorIndex(0), 227);
  EXPECT_EQ(c.GetAnimColorIndex(19), 246);
  EXPECT_THROW(c.GetAnimColorIndex(20), EMMDIBError);
  // Each animated entry got a colour no other entry holds.
  std::set<uint32_t> others;
  for (int i = 0; i < 256; ++i)
    if (i < 227 || i > 246) {
      const auto& e = c.Palette().entries[i];
      others.insert(e.peRed | e.peGreen << 8 | e.peBlue << 16);
    }
  for (int i = 0; i < 20; ++i) EXPECT_FALSE(others.count(c.GetAnimColor(i))) << i;
  // Animation changes the shown colour, never the pixels.
  c.SetBounds(0, 0, 2, 1);
  c.DIB_InitDrawing();
  c.DIB_SetColor(227);
  c.DIB_CLEAR();
  c.DIB_DoneDrawing();
  int animated = 0;
  c.OnAnimate = [&](TMMDIBCanvas*) { ++animated; };
  c.BeginAnimate();
  c.SetAnimColorValue(0, clRed);
  EXPECT_EQ(c.GetAnimColorValue(0), c.GetAnimColor(0));  // pending until the bracket closes
  c.EndAnimate();
  EXPECT_EQ(animated, 1);
  EXPECT_EQ(c.GetAnimColorValue(0), 0x0000FFu);
  TBitmap shown;
  c.View().ToBitmap(shown);
  EXPECT_EQ(shown.Canvas().GetPixel(1, 0), clRed);
  EXPECT_EQ(c.Surface()[0], 227);
  c.SetAnimColorValue(0, clLime);
  EXPECT_EQ(animated, 2);
  c.View().ToBitmap(shown);
  EXPECT_EQ(shown.Canvas().GetPixel(0, 0), clLime);
  // A colour looked up before an entry changed is looked up again after it, in or out of a bracket.
  const TColor odd = RGBColor(1, 2, 3);
  EXPECT_EQ(c.DIB_ColorToIndex(odd), 0u);
  c.SetAnimColorValue(1, odd);
  EXPECT_EQ(c.DIB_ColorToIndex(odd), 228u);
  c.BeginAnimate();
  c.SetAnimColorValue(1, clLime);
  c.EndAnimate();
  c.DIB_SetTColor(odd);
  EXPECT_EQ(biColor, 0u);
}

TEST(DIBCanvas, RebuildDeferredOrRefusedDuringADrawingPeriod) {
  TMMDIBCanvas c(nullptr);
  c.SetBounds(0, 0, 10, 10);
  c.DIB_InitDrawing();
  c.SetBounds(0, 0, 20, 5);  // waits for the next period
  EXPECT_EQ(biWidth, 10);
  c.DIB_SetClipRect(Rect(0, 0, 100, 100));
  EXPECT_EQ(biClipRect, Rect(0, 0, 10, 10));
  c.DIB_SetColor(1);
  c.DIB_FILLRECT(Rect(0, 0, 100, 100));  // only the surface in use
  EXPECT_THROW(c.SetBPP(24), EMMDIBError);
  EXPECT_THROW(c.SetAnimCount(5), EMMDIBError);
  c.DIB_DoneDrawing();
  c.DIB_InitDrawing();
  EXPECT_EQ(biWidth, 20);
  EXPECT_EQ(biHeight, 5);
  EXPECT_EQ(biClipRect, Rect(0, 0, 20, 5));
  c.DIB_DoneDrawing();
  EXPECT_THROW(c.SetBPP(16), EMMDIBError);
}

TEST(DIBCanvas, NestingSameCanvasCountsAnotherRaises) {
  TMMDIBCanvas a(nullptr), b(nullptr);
  a.DIB_InitDrawing();
  a.DIB_InitDrawing();
  EXPECT_THROW(b.DIB_InitDrawing(), EMMDIBError);
  a.DIB_DoneDrawing();
  EXPECT_TRUE(a.Drawing());
  EXPECT_NE(biSurface, nullptr);
  a.DIB_DoneDrawing();
  EXPECT_EQ(biSurface, nullptr);
  EXPECT_EQ(DataSection().LockCount(), 0);
  b.DIB_InitDrawing();  // the refused one left nothing behind
  b.DIB_DoneDrawing();
}

TEST(DIBCanvas, PeriodsOfTwoThreadsNeverOverlap) {
  TMMDIBCanvas a(nullptr), b(nullptr);
  a.SetBounds(0, 0, 8, 8);
  b.SetBounds(0, 0, 16, 4);
  auto run = [](TMMDIBCanvas* c, int w) {
    for (int i = 0; i < 500; ++i) {
      c->DIB_InitDrawing();
      EXPECT_EQ(biWidth, w);
      c->DIB_SetColor(uint32_t(i));
      c->DIB_FILLRECT(Rect(0, 0, w, 4));
      EXPECT_EQ(biWidth, w);
      c->DIB_DoneDrawing();
    }
  };
  std::thread t(run, &a, 8);
  run(&b, 16);
  t.join();
}

TEST(DIBCanvas, ColoursAtBothDepths) {
  TMMDIBCanvas c(nullptr);
  EXPECT_EQ(c.DIB_ColorToIndex(clWhite), 255u);  // the static white of the system palette
  EXPECT_EQ(c.DIB_ColorToIndex(clBlack), 0u);
  c.DIB_SetTColor(clWhite);
  EXPECT_EQ(biColor, 0xFFFFFFFFu);
  c.SetBPP(24);
  c.DIB_SetTColor(clBtnFace);
  EXPECT_EQ(biColor, 0xC0C0C0u);
  EXPECT_EQ(c.DIB_ColorToIndex(RGBColor(1, 2, 3)), 0x030201u);
}

TEST(DIBCanvas, BlitShowsThePictureTheRightWayUp) {
  for (int bits : {8, 24}) {
    TMMDIBCanvas c(nullptr);
    c.SetBPP(bits);
    c.SetBounds(0, 0, 4, 3);
    c.DIB_InitDrawing();
    c.DIB_SetTColor(clRed);
    c.DIB_SETPIXEL(0, 0, c.DIB_ColorToIndex(clRed));
    c.DIB_SetTColor(clBlue);
    c.DIB_HLINE(0, 4, 2);
    TBitmap out(6, 5);
    out.Canvas().SetClipRect(Rect(0, 0, 5, 5));
    c.DIB_BitBlt(&out.Canvas(), Rect(1, 1, 4, 3), 0, 0);
    c.DIB_DoneDrawing();
    EXPECT_EQ(out.Canvas().GetPixel(1, 1), clRed) << bits;
    EXPECT_EQ(out.Canvas().GetPixel(2, 1), clBlack);
    EXPECT_EQ(out.Canvas().GetPixel(1, 3), clBlue);
    EXPECT_EQ(out.Canvas().GetPixel(4, 3), clBlue);
    EXPECT_EQ(out.Canvas().GetPixel(5, 3), clWhite);  // outside the target's clip
    EXPECT_EQ(out.Canvas().GetPixel(0, 1), clWhite);
    c.DIB_BitBlt(nullptr, Rect(0, 0, 4, 3), 0, 0);  // no target: nothing
  }
}

TEST(DIBCanvas, FillOfWholeRowsTouchesOnlyThoseRows) {
  Period p(8, 6);  // rows of 8 bytes without padding: filled as one block
  p.canvas.DIB_FILLRECT(Rect(-3, 2, 30, 4));
  EXPECT_EQ(p.Picture(),
            "........\n"
            "........\n"
            "########\n"
            "########\n"
            "........\n"
            "........\n");
}

TEST(DIBCanvas, BackgroundStretchedOrTiled) {
  TBitmap pic(2, 1);
  pic.Canvas().SetPixel(0, 0, clRed);
  pic.Canvas().SetPixel(1, 0, clBlue);
  for (bool stretch : {true, false}) {
    for (int bits : {8, 24}) {
      TMMDIBCanvas c(nullptr);
      c.SetBPP(bits);
      c.SetBounds(0, 0, 4, 1);
      c.SetStretchBgnd(stretch);
      c.SetBackBitmap(&pic);
      ASSERT_NE(c.BackSurface(), nullptr);
      c.DIB_InitDrawing();
      c.DIB_COPYDIBBITS(c.BackSurface(), 0, 0, 4, 1, 0, 0);
      const int32_t red = int32_t(c.DIB_ColorToIndex(clRed)),
                    blue = int32_t(c.DIB_ColorToIndex(clBlue));
      const std::vector<int32_t> row = {c.DIB_GETPIXEL(0, 0), c.DIB_GETPIXEL(1, 0),
                                        c.DIB_GETPIXEL(2, 0), c.DIB_GETPIXEL(3, 0)};
      c.DIB_DoneDrawing();
      const std::vector<int32_t> expected = stretch ? std::vector<int32_t>{red, red, blue, blue}
                                                    : std::vector<int32_t>{red, blue, red, blue};
      EXPECT_EQ(row, expected) << bits << stretch;
      c.SetBackBitmap(nullptr);
      EXPECT_EQ(c.BackSurface(), nullptr);
    }
  }
}
