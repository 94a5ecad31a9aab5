#include "mmutilsdraw.h"

#include "ui_form.h"
#include "ui_stdctrls.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <string>

namespace {

using namespace vant;

class DrawUtils : public ::testing::Test {
 protected:
  void SetUp() override { EnsureGuiApplication(); }
};

// One row of pixel colours.
std::vector<TColor> Row(const TBitmap& b, int y) {
  std::vector<TColor> row;
  for (int x = 0; x < b.Width(); ++x) row.push_back(b.Canvas().GetPixel(x, y));
  return row;
}

void Paint(TBitmap& b, const std::vector<TColor>& row) {
  for (int x = 0; x < static_cast<int>(row.size()); ++x) b.Canvas().SetPixel(x, 0, row[x]);
}

// The smallest rectangle holding every pixel that is not `background`.
TRect Ink(const TBitmap& b, TColor background) {
  TRect r{INT_MAX, INT_MAX, INT_MIN, INT_MIN};
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x)
      if (b.Canvas().GetPixel(x, y) != background)
        r = {std::min(r.Left, x), std::min(r.Top, y), std::max(r.Right, x + 1),
             std::max(r.Bottom, y + 1)};
  return r;
}

TEST_F(DrawUtils, ChangeColorsRecoloursAThreeColourGlyph) {
  const std::vector<TColor> glyph = {clWhite, clBlack, clSilver, clRed};
  const struct {
    bool use_third;
    std::vector<TColor> want;
  } cases[] = {{true, {clLime, clNavy, clYellow, clBlack}},
               {false, {clLime, clNavy, clNavy, clBlack}}};
  for (const auto& c : cases) {
    TBitmap b(4, 1);
    Paint(b, glyph);
    ChangeColors(b, c.use_third, clLime, clNavy, clYellow);
    EXPECT_EQ(Row(b, 0), c.want) << c.use_third;
  }
}

TEST_F(DrawUtils, TransparentColourAndTransparentDrawing) {
  TBitmap src(3, 2);
  Paint(src, {clFuchsia, clRed, clFuchsia});
  src.Canvas().SetPixel(0, 1, clTeal);
  EXPECT_EQ(GetTransparentColor(src), clTeal);                // bottom-left
  EXPECT_EQ(GetTransparentColorEx(src, {9, -4}), clFuchsia);  // clamped to (2, 0)

  TBitmap dest(5, 2);
  dest.Canvas().Brush().Color = clBlue;
  dest.Canvas().FillRect(Rect(0, 0, 5, 2));
  DrawTransparentBitmapEx(dest.Canvas(), src, 1, 0, Rect(0, 0, 3, 1), clFuchsia);
  EXPECT_EQ(Row(dest, 0), (std::vector<TColor>{clBlue, clBlue, clRed, clBlue, clBlue}));
  EXPECT_EQ(Row(dest, 1), (std::vector<TColor>(5, clBlue)));  // outside the source rectangle
  DrawTransparentBitmap(dest.Canvas(), src, 0, 0, clFuchsia);
  EXPECT_EQ(Row(dest, 1), (std::vector<TColor>{clTeal, clWhite, clWhite, clBlue, clBlue}));
}

TEST_F(DrawUtils, TileBltCutsTheLastCopies) {
  TBitmap tile(2, 1);
  Paint(tile, {clRed, clGreen});
  TBitmap dest(6, 2);
  dest.Canvas().Brush().Color = clWhite;
  dest.Canvas().FillRect(Rect(0, 0, 6, 2));
  TileBlt(dest.Canvas(), tile, Rect(1, 0, 6, 2), cmSrcCopy);
  EXPECT_EQ(Row(dest, 0), (std::vector<TColor>{clWhite, clRed, clGreen, clRed, clGreen, clRed}));
  EXPECT_EQ(Row(dest, 1), Row(dest, 0));
}

TEST_F(DrawUtils, GradientBands) {
  const struct {
    int steps;
    std::vector<TColor> want;
  } cases[] = {
      {3, {clBlack, clBlack, RGBColor(128, 128, 128), RGBColor(128, 128, 128), clWhite, clWhite}},
      {1, std::vector<TColor>(6, clBlack)},
      {0, std::vector<TColor>(6, clBlue)},
  };
  for (const auto& c : cases) {
    TBitmap b(6, 1);
    b.Canvas().Brush().Color = clBlue;
    b.Canvas().FillRect(Rect(0, 0, 6, 1));
    FillGradient(b.Canvas(), clBlack, clWhite, c.steps, Rect(0, 0, 6, 1));
    EXPECT_EQ(Row(b, 0), c.want) << c.steps;
    EXPECT_EQ(b.Canvas().Brush().Color, clBlue);  // the canvas keeps its own brush
  }
}

TEST_F(DrawUtils, AlignedTextSitsWhereItsAlignmentSays) {
  for (int alignment : {0, 1, 2}) {
    TBitmap b(120, 120);
    b.Canvas().Brush().Color = clWhite;
    b.Canvas().FillRect(Rect(0, 0, 120, 120));
    b.Canvas().Brush().Style = bsClear;
    TextOutAligned(b.Canvas(), 60, 60, "Level", "Arial", 13, alignment);
    std::filesystem::create_directories(VANT_BINARY_DIR "/screenshots");
    b.SaveToFile(std::string(VANT_BINARY_DIR "/screenshots/textoutaligned") +
                 std::to_string(alignment) + ".png");
    const TRect ink = Ink(b, clWhite);
    ASSERT_FALSE(ink.IsEmpty()) << alignment;
    switch (alignment) {
      case 0:  // starts at x, centred on y
        EXPECT_GE(ink.Left, 60);
        EXPECT_LT(ink.Top, 60);
        EXPECT_GT(ink.Bottom, 60);
        break;
      case 1:  // ends at x
        EXPECT_LE(ink.Right, 60);
        EXPECT_GT(ink.Right, 50);
        break;
      case 2:  // reads upwards, centred on x, ending at y
        EXPECT_GT(ink.Height(), ink.Width());
        EXPECT_LT(ink.Left, 60);
        EXPECT_GT(ink.Right, 60);
        EXPECT_GE(ink.Top, 60 - 1);
        break;
    }
  }
}

// A control that draws its rubber bands while it paints, as a drag would.
class BandControl : public TGraphicControl {
 public:
  using TGraphicControl::TGraphicControl;
  std::function<void(BandControl*)> draw;
  void Paint() override {
    Canvas().Brush().Color = clBlack;
    Canvas().FillRect(Rect(0, 0, 12, 12));
    if (draw) draw(this);
  }
};

TEST_F(DrawUtils, RubberBandsAndClientCoordinates) {
  TForm form(nullptr);
  form.SetBounds(0, 0, 100, 100);
  auto* a = new TPanel(&form);
  a->SetParent(&form);
  a->SetBounds(10, 20, 30, 30);
  auto* b = new BandControl(&form);
  b->SetParent(&form);
  b->SetBounds(50, 5, 12, 12);
  EXPECT_EQ(ClientToClient(*b, *a, Point(1, 2)), Point(10 + 1 - 50, 20 + 2 - 5));

  b->draw = [](BandControl* c) {
    DrawRubberband(c, Rect(8, 8, 2, 2));  // corners in any order
    DrawRubberLine(c, Rect(0, 11, 11, 11));
    DrawRubberband(nullptr, Rect(0, 0, 5, 5));
    DrawRubberband(c, Rect(0, 0, 0, 0));
  };
  TBitmap shot(12, 12);
  b->Canvas().SetSurface(&shot.Image());  // as the framework does around Paint
  b->Paint();
  b->Canvas().SetSurface(nullptr);
  const TRect ink = Ink(shot, clBlack);
  EXPECT_EQ(ink.Left, 0);
  EXPECT_EQ(ink.Top, 2);
  EXPECT_EQ(b->Canvas().Pen().Mode, pmCopy);  // the canvas keeps its own pen
  EXPECT_EQ(shot.Canvas().GetPixel(2, 2), clWhite);
  EXPECT_EQ(shot.Canvas().GetPixel(5, 11), clWhite);
  EXPECT_EQ(shot.Canvas().GetPixel(5, 5), clBlack);  // inside the band: untouched

  b->draw = [](BandControl* c) {  // drawn twice, a band is gone again
    DrawRubberband(c, Rect(2, 2, 8, 8));
    DrawRubberband(c, Rect(2, 2, 8, 8));
  };
  b->Canvas().SetSurface(&shot.Image());
  b->Paint();
  b->Canvas().SetSurface(nullptr);
  EXPECT_TRUE(Ink(shot, clBlack).IsEmpty());
}

}  // namespace
