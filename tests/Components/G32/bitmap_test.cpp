#include "g32.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "filesizelimit.h"
#include "g32_picture.h"
#include "scratchfolder.h"

namespace {

using namespace g32;

// Every pixel a function of its position, so a shifted, swapped or mirrored pixel shows.
TColor32 Code(int x, int y) {
  return TColor32(0x80000000u | (y & 0xFF) << 16 | (x & 0xFF) << 8 | ((x ^ y) & 0xFF));
}

void FillCoded(TBitmap32& b) {
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) b.SetPixel(x, y, Code(x, y));
}

// A picture of '.' and '#' from a bitmap whose pixels are 0 or `ink`.
std::string Picture(const TBitmap32& b, TColor32 ink) {
  std::string s;
  for (int y = 0; y < b.Height(); ++y) {
    for (int x = 0; x < b.Width(); ++x)
      s += b.GetPixel(x, y) == ink ? '#' : b.GetPixel(x, y) ? '?' : '.';
    s += '\n';
  }
  return s;
}

struct Signals {
  std::vector<std::string> seen;
  void Bind(TBitmap32& b) {
    b.OnChange = [this](TObject*) { seen.push_back("change"); };
    b.OnResize = [this](TObject*) { seen.push_back("resize"); };
  }
};

TEST(Bitmap32, SetSizeRules) {
  TBitmap32 b;
  Signals s;
  s.Bind(b);
  EXPECT_TRUE(b.Empty());
  EXPECT_TRUE(b.SetSize(3, 2));
  EXPECT_EQ(s.seen, (std::vector<std::string>{"change", "resize"}));
  EXPECT_EQ(reinterpret_cast<uintptr_t>(b.Bits()) % 64, 0u);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(b.Bits()[i], 0u);  // new pixels are zero
  s.seen.clear();
  EXPECT_FALSE(b.SetSize(3, 2));
  EXPECT_TRUE(s.seen.empty());
  EXPECT_TRUE(b.SetSize(-4, 7));  // a side below 1 counts as 0
  EXPECT_TRUE(b.Empty());
  EXPECT_EQ(b.Width(), 0);
  EXPECT_EQ(b.Height(), 7);
  EXPECT_TRUE(b.SetSize(0, 0));
  EXPECT_FALSE(b.SetSize(-1, 0));
}

TEST(Bitmap32, UpdateBracketAndUnpairedEndUpdate) {
  TBitmap32 b;
  int changes = 0;
  b.OnChange = [&](TObject*) { ++changes; };
  b.BeginUpdate();
  b.SetSize(2, 2);
  b.Clear();
  b.EndUpdate();  // does not signal by itself
  EXPECT_EQ(changes, 0);
  EXPECT_THROW(b.EndUpdate(), EAssertionFailed);
  EXPECT_EQ(b.UpdateCount(), 0);
  b.Clear(clRed32);
  EXPECT_EQ(changes, 1);
  b.Lock();
  EXPECT_EQ(b.LockCount(), 1);
  b.Unlock();
  EXPECT_EQ(b.LockCount(), 0);
}

TEST(Bitmap32, PixelsColoursAndProperties) {
  TBitmap32 b;
  b.SetSize(4, 3);
  b.Clear();
  for (int i = 0; i < 12; ++i) EXPECT_EQ(b.Bits()[i], 0xFF000000u);
  FillCoded(b);
  b.ResetAlpha();
  EXPECT_EQ(b.GetPixel(2, 1), Code(2, 1) | 0xFF000000u);
  b.OuterColor = 0x12345678;
  EXPECT_EQ(b.GetPixelS(-1, 0), 0x12345678u);
  EXPECT_EQ(b.GetPixelS(4, 0), 0x12345678u);
  EXPECT_EQ(b.GetPixelB(-5, 0), b.GetPixel(0, 0));
  EXPECT_EQ(b.GetPixelB(9, 9), b.GetPixel(3, 2));
  EXPECT_EQ(SetAlpha(0x11223344, 300), 0xFF223344u);
  EXPECT_EQ(SetAlpha(0x11223344, -1), 0x00223344u);
  EXPECT_EQ(Intensity(clWhite32), 255);
  EXPECT_EQ(Color32(TColor(255)), 0xFFFF0000u);
  EXPECT_EQ(WinColor(0xFF102030), 0x302010);
  EXPECT_EQ(Gray32(7, 9), 0x09070707u);

  int changes = 0;
  b.OnChange = [&](TObject*) { ++changes; };
  b.SetMasterAlpha(300);
  EXPECT_EQ(b.GetMasterAlpha(), 255u);  // already 255: no change
  EXPECT_EQ(changes, 0);
  b.SetMasterAlpha(-5);
  EXPECT_EQ(b.GetMasterAlpha(), 0u);
  b.SetDrawMode(dmBlend);
  b.SetDrawMode(dmBlend);
  EXPECT_EQ(changes, 2);
}

TEST(Bitmap32, FixedPointAndRects) {
  EXPECT_EQ(Fixed(1.5f), 0x18000);
  EXPECT_EQ(Fixed(3), 3 << 16);
  EXPECT_EQ(FixedFloor(-0x8000), -1);
  EXPECT_EQ(FixedCeil(0x10001), 2);
  EXPECT_EQ(FixedRound(0x18000), 1);  // half rounds down
  EXPECT_EQ(FixedRound(0x18001), 2);
  EXPECT_EQ(FixedMul(Fixed(1.5f), Fixed(2)), Fixed(3));
  EXPECT_EQ(FixedDiv(Fixed(3), Fixed(2)), Fixed(1.5f));
  TFloatRect r{0.4f, 0.6f, 2.5f, 3.2f};
  EXPECT_EQ(MakeRect(r, rrClosest), (TRect{0, 1, 2, 3}));
  EXPECT_EQ(MakeRect(r, rrOutside), (TRect{0, 0, 3, 4}));
  EXPECT_EQ(MakeRect(r, rrInside), (TRect{1, 1, 2, 3}));
  EXPECT_EQ(MakeRect(TFloatRect{0.4f, 0, 0.6f, 1}, rrInside), (TRect{1, 0, 1, 1}));
  EXPECT_TRUE(PtInRect({0, 0, 64, 64}, {63, 63}));
  EXPECT_FALSE(PtInRect({0, 0, 64, 64}, {64, 0}));
  EXPECT_TRUE(IsRectEmpty(TRect{5, 0, 5, 9}));
}

TEST(Bitmap32, HslAgreesWithTheStandardConversion) {
  // Expected values from the standard library's HLS conversion (Python colorsys).
  struct Case {
    float h, s, l;
    TColor32 rgb;
  } cases[] = {{0, 1, 0.5f, 0xFFFF0000},        {1 / 3.0f, 1, 0.5f, 0xFF00FF00},
               {2 / 3.0f, 1, 0.5f, 0xFF0000FF}, {0, 0, 0.5f, 0xFF808080},
               {0.5f, 0.5f, 0.25f, 0xFF206060}, {0.9f, 0.3f, 0.7f, 0xFFC99CB7}};
  for (const auto& c : cases) {
    EXPECT_EQ(HSLtoRGB(c.h, c.s, c.l), c.rgb) << c.h << " " << c.s << " " << c.l;
    float h, s, l;
    RGBtoHSL(c.rgb, h, s, l);
    EXPECT_EQ(HSLtoRGB(h, s, l), c.rgb);
  }
}

TEST(Bitmap32, GammaTableAndSubPixelWeights) {
  EXPECT_EQ(GAMMA_TABLE[0], 0);
  EXPECT_EQ(GAMMA_TABLE[1], 5);
  EXPECT_EQ(GAMMA_TABLE[2], 9);
  EXPECT_EQ(GAMMA_TABLE[3], 11);
  EXPECT_EQ(GAMMA_TABLE[4], 14);
  EXPECT_EQ(GAMMA_TABLE[128], 157);
  EXPECT_EQ(GAMMA_TABLE[255], 255);
  TBitmap32 b;
  b.SetSize(3, 3);
  b.Clear(0);
  b.SET_T256(256, 256, clWhite32);  // exactly on pixel (1, 1): all weight there
  TColor32 expected = 0;
  CombineMem(clWhite32, expected, (255 * 255 * 255) >> 16);
  EXPECT_EQ(b.GetPixel(1, 1), expected);
  EXPECT_EQ(b.GetPixel(2, 1), 0u);
  EXPECT_EQ(b.GetPixel(1, 2), 0u);
  b.Clear(0);
  b.SET_TS256(-256 + 128, 2 * 256 + 128, clWhite32);  // mostly outside: only (0, 2) inside
  EXPECT_NE(b.GetPixel(0, 2), 0u);
  EXPECT_EQ(b.GetPixel(0, 1), 0u);
}

TEST(Bitmap32, DataFormatRoundTrip) {
  TBitmap32 b;
  b.SetSize(31, 31);
  FillCoded(b);
  std::string data = b.WriteData();
  ASSERT_EQ(data.size(), 3852u);
  EXPECT_EQ(data.substr(0, 8), std::string("\x1F\0\0\0\x1F\0\0\0", 8));
  uint32_t second;
  std::memcpy(&second, data.data() + 8 + 4, 4);
  EXPECT_EQ(second, Code(1, 0));  // B, G, R, A in memory

  TBitmap32 fromStream, fromSpan;
  int changes = 0;
  fromStream.OnChange = [&](TObject*) { ++changes; };
  std::istringstream in(data);
  fromStream.ReadData(in);
  fromSpan.ReadData(std::span(reinterpret_cast<const uint8_t*>(data.data()), data.size()));
  EXPECT_TRUE(fromStream.Equal(&b));
  EXPECT_TRUE(fromSpan.Equal(&b));
  EXPECT_GE(changes, 1);

  TBitmap32 empty;
  EXPECT_FALSE(empty.DataIsStored(nullptr));
  EXPECT_TRUE(b.DataIsStored(nullptr));
  EXPECT_FALSE(b.DataIsStored(&fromSpan));
  EXPECT_TRUE(b.DataIsStored(&empty));
}

TEST(Bitmap32, HostileDataHeaders) {
  auto header = [](int32_t w, int32_t h, size_t pixelBytes) {
    std::string s(8 + pixelBytes, '\x5A');
    std::memcpy(s.data(), &w, 4);
    std::memcpy(s.data() + 4, &h, 4);
    return s;
  };
  struct Case {
    const char* what;
    std::string bytes;
    bool ok;
    int w, h;
  } cases[] = {
      {"short header", std::string("\x02\0\0\0", 4), false, 0, 0},
      {"pixels missing", header(2, 2, 15), false, 0, 0},
      {"exact", header(2, 2, 16), true, 2, 2},
      {"huge sides", header(INT32_MAX, INT32_MAX, 16), false, 0, 0},
      {"32-bit product wraps to 0", header(0x40000000, 4, 0), false, 0, 0},
      {"wraps to small", header(0x40000001, 4, 16), false, 0, 0},
      {"negative width", header(-1, 5, 0), true, 0, 5},
      {"above the cap", header(1 << 15, 1 << 15, 64), false, 0, 0},
  };
  for (const auto& c : cases) {
    for (bool stream : {true, false}) {
      TBitmap32 b;
      b.SetSize(1, 1);
      int changes = 0;
      b.OnChange = [&](TObject*) { ++changes; };
      auto read = [&] {
        if (stream) {
          std::istringstream in(c.bytes);
          b.ReadData(in);
        } else {
          b.ReadData(std::span(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size()));
        }
      };
      if (c.ok) {
        EXPECT_NO_THROW(read()) << c.what;
      } else {
        EXPECT_THROW(read(), EReadError) << c.what;
      }
      EXPECT_EQ(b.Width(), c.w) << c.what;
      EXPECT_EQ(b.Height(), c.h) << c.what;
      EXPECT_GE(changes, 1) << c.what;  // signalled also when reading fails
    }
  }
}

TEST(Bitmap32, AssignCopiesPixelsAndDrawingProperties) {
  TBitmap32 a, b;
  a.SetSize(5, 4);
  FillCoded(a);
  a.SetDrawMode(dmBlend);
  a.SetMasterAlpha(99);
  a.OuterColor = 7;
  a.SetStretchFilter(sfSpline);
  a.PenColor = 1;
  int changes = 0;
  b.OnChange = [&](TObject*) { ++changes; };
  b.Assign(&a);
  EXPECT_EQ(changes, 1);
  EXPECT_TRUE(b.Equal(&a));
  EXPECT_EQ(b.GetDrawMode(), dmBlend);
  EXPECT_EQ(b.GetMasterAlpha(), 99u);
  EXPECT_EQ(b.OuterColor, 7u);
  EXPECT_EQ(b.GetStretchFilter(), sfSpline);
  EXPECT_EQ(b.PenColor, clWhite32);
  b.Assign(nullptr);
  EXPECT_TRUE(b.Empty());
  EXPECT_FALSE(b.Equal(&a));
  EXPECT_FALSE(a.Equal(nullptr));
}

TEST(Bitmap32, StippleColours) {
  TBitmap32 b;
  b.StippleCounter = 2.5f;
  EXPECT_EQ(b.GetStippleColor(), clBlack32);
  EXPECT_EQ(b.StippleCounter, 2.5f);
  const TColor32 pattern[] = {0xFF000000, 0xFFFFFFFF};
  b.SetStipple(pattern);
  EXPECT_EQ(b.StippleCounter, 0.0f);
  b.StippleStep = 0.5f;
  EXPECT_EQ(b.GetStippleColor(), 0xFF000000u);
  TColor32 half = b.GetStippleColor();  // halfway: weight 255 - 128 of the first entry
  EXPECT_EQ(half, CombineReg(0xFF000000, 0xFFFFFFFF, 127));
  EXPECT_EQ(b.GetStippleColor(), 0xFFFFFFFFu);
  b.StippleCounter = -0.5f;  // brought into range by adding the length
  EXPECT_EQ(b.GetStippleColor(), CombineReg(0xFFFFFFFF, 0xFF000000, 127));
}

TEST(Bitmap32, Roll) {
  const TColor32 C = 0xFFABCDEF;
  TBitmap32 b;
  b.SetSize(4, 4);
  FillCoded(b);
  b.Roll(4, 0, true, C);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(b.Bits()[i], C);

  FillCoded(b);
  b.Roll(0, 2, true, C);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(b.GetPixel(x, y), y < 2 ? C : Code(x, y - 2)) << x << y;

  // A horizontal roll moves the block as one run: pixels cross row ends.
  FillCoded(b);
  b.Roll(1, 0, false, C);
  EXPECT_EQ(b.GetPixel(0, 1), Code(3, 0));
  EXPECT_EQ(b.GetPixel(2, 1), Code(1, 1));

  FillCoded(b);
  b.Roll(-1, -1, true, C);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x)
      EXPECT_EQ(b.GetPixel(x, y), (y == 3 || x == 3) ? C : Code(x + 1, y + 1)) << x << y;

  TBitmap32 empty;
  empty.Roll(1, 1, true, C);  // nothing on an empty bitmap
  EXPECT_TRUE(empty.Empty());
}

TEST(Bitmap32, IntegerLinePixels) {
  const TColor32 ink = 0xFFFFFFFF;
  struct Case {
    int x1, y1, x2, y2;
    bool last;
    const char* picture;
  } cases[] = {
      {0, 0, 5, 2, false, "##....\n..###.\n......\n"},
      {0, 0, 5, 2, true, "##....\n..###.\n.....#\n"},
      {5, 2, 0, 0, false, "......\n.###..\n....##\n"},
      {1, 0, 1, 2, false, ".#....\n.#....\n......\n"},  // vertical: without the end
      {4, 1, 0, 1, false, "......\n.####.\n......\n"},  // horizontal, right to left
      {0, 0, 2, 2, true, "#.....\n.#....\n..#...\n"},
  };
  for (const auto& c : cases) {
    TBitmap32 b;
    b.SetSize(6, 3);
    b.Line(c.x1, c.y1, c.x2, c.y2, ink, c.last);
    EXPECT_EQ(Picture(b, ink), c.picture) << c.x1 << "," << c.y1 << "-" << c.x2 << "," << c.y2;
  }
  // Clipped: the part inside only; LineTS draws the moved end point.
  TBitmap32 b;
  b.SetSize(6, 3);
  b.LineTS(-3, 1, 20, 1, ink);
  EXPECT_EQ(Picture(b, ink), "......\n######\n......\n");
  b.Clear(0);
  b.LineS(-3, 1, 20, 1, ink);
  EXPECT_EQ(Picture(b, ink), "......\n#####.\n......\n");
  b.Clear(0);
  b.LineS(-3, -3, -1, -1, ink);  // wholly outside: nothing
  EXPECT_EQ(Picture(b, ink), "......\n......\n......\n");
}

TEST(Bitmap32, AntialiasedLineStepsAt45Degrees) {
  TBitmap32 b;
  b.SetSize(6, 6);
  b.Clear(clBlack32);
  b.LineA(0, 0, 4, 4, clWhite32, true);
  for (int i = 0; i <= 4; ++i) EXPECT_GT(GreenComponent(b.GetPixel(i, i)), 200) << i;
  EXPECT_EQ(b.GetPixel(4, 0), clBlack32);
  EXPECT_EQ(b.GetPixel(0, 4), clBlack32);
  // A shallow line spreads between the two rows it passes.
  b.Clear(clBlack32);
  b.LineA(0, 0, 5, 2, clWhite32, true);
  EXPECT_GT(GreenComponent(b.GetPixel(5, 2)), 100);
  EXPECT_GT(GreenComponent(b.GetPixel(2, 1)) + GreenComponent(b.GetPixel(2, 0)), 150);
  // Clipped at the bitmap's edge: nothing is written outside (checked under AddressSanitizer).
  b.LineAS(-10, -3, 20, 7, clWhite32, true);
  b.LineXS(Fixed(-10), Fixed(-3), Fixed(20), Fixed(7), clWhite32, true);
  b.LineFSP(-1.5f, 8.0f, 9.0f, -2.0f, true);
}

// A translucent colour covers both pixels of each step by its alpha: white at 0x40 over black
// lands at a quarter of what the opaque line gives, on the line and beside it.
TEST(Bitmap32, TranslucentAntialiasedLineIsScaledByTheColoursAlpha) {
  struct Line {
    int x1, y1, x2, y2;
  } lines[] = {{0, 0, 11, 4}, {1, 10, 5, 0}, {11, 9, 0, 2}};
  for (const Line& l : lines) {
    TBitmap32 opaque, faint;
    opaque.SetSize(12, 12);
    faint.SetSize(12, 12);
    opaque.Clear(clBlack32);
    faint.Clear(clBlack32);
    opaque.LineA(l.x1, l.y1, l.x2, l.y2, clWhite32, true);
    faint.LineA(l.x1, l.y1, l.x2, l.y2, 0x40FFFFFF, true);
    int touched = 0, worst = 0;
    for (int y = 0; y < 12; ++y)
      for (int x = 0; x < 12; ++x) {
        const int full = GreenComponent(opaque.GetPixel(x, y));
        const int part = GreenComponent(faint.GetPixel(x, y));
        worst = std::max(worst, std::abs(part - full * 0x40 / 255));
        touched += full > 0;
      }
    EXPECT_LE(worst, 2) << l.x1 << "," << l.y1 << " - " << l.x2 << "," << l.y2;
    EXPECT_GT(touched, 12);  // the line and its neighbours
  }
}

TEST(Bitmap32, FixedLineCoversItsLength) {
  TBitmap32 b;
  b.SetSize(12, 4);
  b.Clear(clBlack32);
  b.LineX(Fixed(1), Fixed(1), Fixed(9), Fixed(1), clWhite32, false);
  for (int x = 1; x < 9; ++x) EXPECT_GT(RedComponent(b.GetPixel(x, 1)), 150) << x;
  EXPECT_EQ(b.GetPixel(11, 1), clBlack32);
  EXPECT_EQ(b.GetPixel(5, 3), clBlack32);
  b.Clear(clBlack32);
  b.LineX(0, 0, 100, 0, clWhite32, false);  // shorter than 1/256 of a pixel: nothing
  EXPECT_EQ(b.GetPixel(0, 0), clBlack32);
}

TEST(Bitmap32, RectanglesAndFrames) {
  const TColor32 ink = 0xFFFFFFFF;
  TBitmap32 b;
  b.SetSize(6, 5);
  b.FrameRectS(1, 1, 5, 4, ink);
  EXPECT_EQ(Picture(b, ink), "......\n.####.\n.#..#.\n.####.\n......\n");
  b.Clear(0);
  b.FrameRectS(2, 1, 3, 4, ink);  // one column wide
  EXPECT_EQ(Picture(b, ink), "......\n..#...\n..#...\n..#...\n......\n");
  b.Clear(0);
  b.FillRectS(-2, 3, 3, 9, ink);
  EXPECT_EQ(Picture(b, ink), "......\n......\n......\n###...\n###...\n");
  b.Clear(0);
  b.FrameRectS(3, 3, 3, 3, ink);  // no area
  b.FillRectS(7, 0, 9, 2, ink);   // outside
  EXPECT_EQ(Picture(b, ink), "......\n......\n......\n......\n......\n");

  // The stippled frame runs clockwise from the top-left corner, each corner once.
  const TColor32 pattern[] = {0xFF000001, 0xFF000002, 0xFF000003, 0xFF000004, 0xFF000005,
                              0xFF000006, 0xFF000007, 0xFF000008, 0xFF000009, 0xFF00000A};
  b.Clear(0);
  b.SetStipple(pattern);
  b.FrameRectTSP(1, 1, 5, 4);
  const int order[][2] = {{1, 1}, {2, 1}, {3, 1}, {4, 1}, {4, 2},
                          {4, 3}, {3, 3}, {2, 3}, {1, 3}, {1, 2}};
  for (int i = 0; i < 10; ++i) EXPECT_EQ(b.GetPixel(order[i][0], order[i][1]), pattern[i]) << i;

  // Raised edges: white top-left at 2 x contrast, black bottom-right at contrast.
  b.Clear(0xFF808080);
  b.RaiseRectTS(0, 0, 6, 5, 25);
  EXPECT_EQ(b.GetPixel(2, 0), BlendReg(0x80FFFFFF, 0xFF808080));  // alpha 25 * 512 / 100
  EXPECT_EQ(b.GetPixel(0, 2), BlendReg(0x80FFFFFF, 0xFF808080));
  EXPECT_EQ(b.GetPixel(2, 4), BlendReg(0x3F000000, 0xFF808080));  // alpha 25 * 255 / 100
  EXPECT_EQ(b.GetPixel(5, 2), BlendReg(0x3F000000, 0xFF808080));
  EXPECT_EQ(b.GetPixel(2, 2), 0xFF808080u);

  b.Clear(0xFF000000);
  b.FillRectT(0, 0, 2, 2, 0x80FFFFFF);
  TColor32 filled = 0xFF000000;
  CombineMem(0x80FFFFFF, filled, 0x80);
  EXPECT_EQ(b.GetPixel(0, 0), filled);
}

TEST(Bitmap32, StreamsAndFiles) {
  TBitmap32 a;
  a.SetSize(5, 3);
  FillCoded(a);
  std::stringstream s;
  a.SaveToStream(s);
  TBitmap32 b;
  b.LoadFromStream(s);
  EXPECT_TRUE(b.Equal(&a));  // a 32-bit picture keeps its alpha bytes

  // A 24-bit picture loads with alpha 255 everywhere.
  std::string bmp(54 + 8 * 2, '\0');
  auto put32 = [&](size_t at, uint32_t v) { std::memcpy(&bmp[at], &v, 4); };
  bmp[0] = 'B', bmp[1] = 'M';
  put32(10, 54), put32(14, 40), put32(18, 2), put32(22, uint32_t(-2));
  bmp[26] = 1, bmp[28] = 24;
  const uint8_t px[] = {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0};
  std::memcpy(&bmp[54], px, sizeof px);
  std::istringstream in(bmp);
  b.LoadFromStream(in);
  ASSERT_EQ(b.Width(), 2);
  EXPECT_EQ(b.GetPixel(0, 0), 0xFF030201u);
  EXPECT_EQ(b.GetPixel(1, 1), 0xFF0C0B0Au);

  std::string dir = std::string(VANT_BINARY_DIR) + "/";
  a.SaveToFile(dir + "g32_roundtrip.bmp");
  TBitmap32 c;
  c.LoadFromFile(dir + "g32_roundtrip.bmp");
  EXPECT_TRUE(c.Equal(&a));

  c.LoadFromFile(std::string(VANT_SOURCE_DIR) + "/tests/fixtures/g32/halves.jpg");
  ASSERT_EQ(c.Width(), 16);
  ASSERT_EQ(c.Height(), 8);
  auto near = [](TColor32 p, TColor32 q) {
    for (int i = 0; i < 32; i += 8)
      if (std::abs(int((p >> i) & 255) - int((q >> i) & 255)) > 8) return false;
    return true;
  };
  EXPECT_TRUE(near(c.GetPixel(1, 4), 0xFFFF0000)) << std::hex << c.GetPixel(1, 4);
  EXPECT_TRUE(near(c.GetPixel(14, 4), 0xFF0000FF)) << std::hex << c.GetPixel(14, 4);

  EXPECT_THROW(c.LoadFromFile(dir + "x.wmf"), EInvalidGraphic);
  EXPECT_THROW(c.LoadFromFile(dir + "x.unknownext"), EInvalidGraphic);
  EXPECT_THROW(c.LoadFromFile(dir + "missing.bmp"), EFOpenError);
  std::istringstream junk("BM not really");
  EXPECT_THROW(c.LoadFromStream(junk), EInvalidGraphic);
}

// A picture file that cannot be written whole (the disk fills halfway) stays as it was.
TEST(Bitmap32, AFailedSaveLeavesTheOldFile) {
  vant::testing::ScratchFolder dir("g32save");
  const std::string name = (dir.path() / "p.bmp").string();
  TBitmap32 small;
  small.SetSize(2, 2);
  FillCoded(small);
  small.SaveToFile(name);
  TBitmap32 large;
  large.SetSize(64, 64);  // 54 + 16,384 bytes
  FillCoded(large);
  {
    vant::testing::FileSizeLimit limit(4096);
    EXPECT_THROW(large.SaveToFile(name), EFCreateError);
  }
  TBitmap32 back;
  back.LoadFromFile(name);
  EXPECT_TRUE(back.Equal(&small));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

}  // namespace
