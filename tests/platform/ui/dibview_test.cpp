// The view of caller-owned pixel memory and the immediate paint of a control.
#include "ui_dibview.h"

#include <gtest/gtest.h>

#include <QImage>
#include <span>
#include <vector>

#include "ui_control.h"
#include "ui_fixture.h"
#include "ui_form.h"
#include "ui_testing.h"

namespace vant {
namespace {

using DIBViewTest = UiTest;

// A 3 x 2 picture: 8-bit rows padded to 4 bytes, bottom-up (the top row last in memory).
struct Indexed {
  std::vector<uint8_t> bits = {4, 5, 6, 0, 1, 2, 3, 0};
  uint32_t table[256] = {};
  Indexed() {
    for (int i = 0; i < 7; ++i) table[i] = 0x101010u * uint32_t(i);
  }
};

TEST_F(DIBViewTest, BlitsBottomUpRowsThroughTheColourTable) {
  Indexed pic;
  TDIBView view;
  view.Attach(pic.bits.data(), 3, 2, 8, 4, true);
  view.SetColorTable(pic.table, 256);
  TBitmap out(4, 3);
  view.BlitTo(out.Canvas(), Rect(1, 1, 4, 3), 0, 0);
  EXPECT_EQ(out.Canvas().GetPixel(1, 1), RGBColor(0x10, 0x10, 0x10));  // top row: 1 2 3
  EXPECT_EQ(out.Canvas().GetPixel(3, 1), RGBColor(0x30, 0x30, 0x30));
  EXPECT_EQ(out.Canvas().GetPixel(1, 2), RGBColor(0x40, 0x40, 0x40));  // bottom row: 4 5 6
  EXPECT_EQ(out.Canvas().GetPixel(0, 0), clWhite);
  // A new colour table changes what the next blit shows, not the pixels.
  view.SetColorEntry(1, 0xFF0000);  // 0x00RRGGBB
  view.BlitTo(out.Canvas(), Rect(1, 1, 4, 3), 0, 0);
  EXPECT_EQ(out.Canvas().GetPixel(1, 1), clRed);
  EXPECT_EQ(pic.bits[4], 1);
  // Source and target edges: only what both hold is copied.
  TBitmap edge(4, 3);
  edge.Canvas().SetClipRect(Rect(0, 0, 2, 3));
  view.BlitTo(edge.Canvas(), Rect(-1, 0, 3, 2), 0, 0);
  EXPECT_EQ(edge.Canvas().GetPixel(0, 0), RGBColor(0x20, 0x20, 0x20));
  EXPECT_EQ(edge.Canvas().GetPixel(2, 0), clWhite);    // outside the clip
  view.BlitTo(edge.Canvas(), Rect(0, 2, 3, 3), 0, 5);  // no source rows there
  EXPECT_EQ(edge.Canvas().GetPixel(0, 2), clWhite);
}

TEST_F(DIBViewTest, TrueColourStretchAndBitmap) {
  // 2 x 2 at 24 bits, blue-green-red, bottom-up: top row red, blue; bottom row green, white.
  std::vector<uint8_t> bits = {0, 255, 0, 255, 255, 255, 0, 0, 0, 0, 255, 255, 0, 0, 0, 0};
  TDIBView view;
  view.Attach(bits.data(), 2, 2, 24, 8, true);
  TBitmap whole;
  view.ToBitmap(whole);
  ASSERT_EQ(whole.Width(), 2);
  EXPECT_EQ(whole.Canvas().GetPixel(0, 0), clRed);
  EXPECT_EQ(whole.Canvas().GetPixel(1, 0), clBlue);
  EXPECT_EQ(whole.Canvas().GetPixel(0, 1), clLime);
  TBitmap big(4, 4);
  view.StretchTo(big.Canvas(), Rect(0, 0, 4, 4), Rect(0, 0, 2, 2));
  EXPECT_EQ(big.Canvas().GetPixel(1, 1), clRed);
  EXPECT_EQ(big.Canvas().GetPixel(3, 0), clBlue);
  EXPECT_EQ(big.Canvas().GetPixel(0, 3), clLime);
  EXPECT_EQ(big.Canvas().GetPixel(3, 3), clWhite);
  // Nonsense attachments show nothing.
  view.Attach(bits.data(), 2, 2, 16, 8, true);
  EXPECT_FALSE(view.Attached());
  view.Attach(bits.data(), 4, 2, 24, 8, true);  // rows too short for the width
  EXPECT_FALSE(view.Attached());
}

// A top-down 8-bit picture 20 pixels wide in grey levels (index i shows as grey i), blitted to
// (1, 1) of a bitmap one pixel larger.
struct GreyPicture {
  int rows;
  std::vector<uint8_t> bits;
  TDIBView view;
  TBitmap out;
  explicit GreyPicture(int rows) : rows(rows), bits(size_t(20) * rows, 1), out(22, rows + 1) {
    uint32_t table[256] = {};
    for (int i = 0; i < 256; ++i) table[i] = 0x010101u * uint32_t(i);
    view.Attach(bits.data(), 20, rows, 8, 20, false);
    view.SetColorTable(table, 256);
  }
  uint8_t& At(int x, int y) { return bits[size_t(y) * 20 + x]; }
  void Blit() { view.BlitTo(out.Canvas(), Rect(1, 1, 21, rows + 1), 0, 0); }
  // Every pixel of the picture shown through the colour table as it is now.
  ::testing::AssertionResult ShowsAll() {
    for (int y = 0; y < rows; ++y)
      for (int x = 0; x < 20; ++x) {
        const uint32_t rgb = view.ColorEntry(At(x, y));
        if (out.Canvas().GetPixel(x + 1, y + 1) != RGBColor(rgb >> 16, rgb >> 8 & 255, rgb & 255))
          return ::testing::AssertionFailure() << "wrong at " << x << "," << y;
      }
    return ::testing::AssertionSuccess();
  }
};

TEST_F(DIBViewTest, RepeatedBlitsShowEveryChangeWhoeverMadeIt) {
  // A blit of the same block to the same place converts only what changed, so each case below
  // checks the whole target.
  GreyPicture pic(3);
  pic.Blit();
  EXPECT_TRUE(pic.ShowsAll()) << "first blit";
  // One pixel in a run of 8, and the last pixel of a short run at the row's end.
  pic.At(3, 1) = 7;
  pic.At(19, 2) = 9;
  pic.Blit();
  EXPECT_TRUE(pic.ShowsAll()) << "changed pixels";
  // The target painted over by someone else: every pixel again.
  pic.out.Canvas().Brush().Color = clRed;
  pic.out.Canvas().FillRect(Rect(0, 0, 22, 4));
  pic.Blit();
  EXPECT_TRUE(pic.ShowsAll()) << "target painted over";
  pic.out.Canvas().SetPixel(5, 2, clBlue);
  pic.Blit();
  EXPECT_TRUE(pic.ShowsAll()) << "one target pixel set";
  // A new colour table: the unchanged pixels show the new colour too.
  pic.view.SetColorEntry(1, 0xFF0000);
  pic.Blit();
  EXPECT_EQ(pic.out.Canvas().GetPixel(1, 1), clRed);
  EXPECT_TRUE(pic.ShowsAll()) << "new colour table";
  pic.At(0, 0) = 200;
  pic.Blit();
  EXPECT_TRUE(pic.ShowsAll()) << "a change in the first run";
}

TEST_F(DIBViewTest, BlitOfTheDrawnRectanglesReadsThemAlone) {
  // The caller names what it wrote; a repeated blit to the same untouched place reads those
  // bytes alone, anything else falls back to the whole block.
  GreyPicture pic(6);
  auto blit = [&](std::span<const TRect> drawn) {
    const uint64_t before = pic.view.BytesRead();
    pic.view.BlitTo(pic.out.Canvas(), Rect(1, 1, 21, 7), 0, 0, drawn);
    return pic.view.BytesRead() - before;
  };
  EXPECT_EQ(blit({}), 120u);  // first blit: everything
  EXPECT_TRUE(pic.ShowsAll());
  // Two rectangles written, one reaching past the surface: 3 x 2 and 2 x 1 bytes read.
  for (int y = 1; y < 3; ++y)
    for (int x = 4; x < 7; ++x) pic.At(x, y) = 50;
  pic.At(18, 5) = pic.At(19, 5) = 60;
  const TRect drawn[] = {Rect(4, 1, 7, 3), Rect(18, 5, 25, 9)};
  EXPECT_EQ(blit(drawn), 8u);
  EXPECT_TRUE(pic.ShowsAll());
  EXPECT_EQ(blit({}), 0u);  // nothing drawn: nothing read
  // What the plain blit takes as shown follows the drawn rectangles: pixels they changed and
  // that are then put back are shown put back.
  for (int y = 1; y < 3; ++y)
    for (int x = 4; x < 7; ++x) pic.At(x, y) = 1;
  pic.Blit();
  EXPECT_TRUE(pic.ShowsAll());
  // The target painted over: the whole block again, whatever the caller drew.
  pic.out.Canvas().SetPixel(10, 4, clBlue);
  EXPECT_EQ(blit(std::span<const TRect>(drawn, 1)), 120u);
  EXPECT_TRUE(pic.ShowsAll());
  // Another block of the source: the whole of it.
  pic.view.BlitTo(pic.out.Canvas(), Rect(1, 1, 11, 4), 10, 3, std::span<const TRect>(drawn, 1));
  EXPECT_EQ(pic.out.Canvas().GetPixel(9, 3), RGBColor(60, 60, 60));
}

class Counting : public TGraphicControl {
 public:
  using TGraphicControl::TGraphicControl;
  int paints = 0;

 protected:
  void Paint() override {
    ++paints;
    Canvas().Brush().Color = clNavy;
    Canvas().FillRect(ClientRect());
  }
};

TEST_F(DIBViewTest, PaintNowShowsWithoutTheControlsPaint) {
  TForm form(nullptr);
  form.SetBounds(0, 0, 100, 60);
  auto* c = new Counting(&form);
  c->SetParent(&form);
  c->SetBounds(5, 5, 20, 10);
  int ran = 0;
  c->PaintNow([&](TCanvas&) { ++ran; });  // not showing: nothing
  EXPECT_EQ(ran, 0);
  form.Show();
  Application->ProcessMessages();
  const int paints = c->paints;
  c->PaintNow([&](TCanvas& cv) {
    ++ran;
    cv.SetPixel(3, 3, clRed);
  });
  EXPECT_EQ(ran, 1);
  EXPECT_EQ(c->paints, paints);
  ASSERT_NE(c->LastPaint(), nullptr);
  EXPECT_EQ(PixelToColor(c->LastPaint()->pixel(3, 3)), clRed);
  EXPECT_EQ(PixelToColor(c->LastPaint()->pixel(4, 3)), clNavy);
}

}  // namespace
}  // namespace vant
