#include "g32_image.h"

#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <vector>

namespace {

using namespace g32;

// A window that records what the control asks of it.
struct RecordingHost : TPaintBoxHost {
  std::vector<TCursor> cursors;
  int invalidates = 0, presents = 0, captures = 0;
  TRect presented;
  void HostInvalidate() override { ++invalidates; }
  void HostPresent(const TBitmap32&, const TRect& r) override { ++presents, presented = r; }
  void HostSetCursor(TCursor c) override { cursors.push_back(c); }
  void HostCaptureMouse() override { ++captures; }
};

std::unique_ptr<TBitmap32> Picture(int w, int h, TColor32 c) {
  auto b = std::make_unique<TBitmap32>();
  b->SetSize(w, h);
  b->Clear(c);
  return b;
}

TEST(Image32, AutoSizeTakesThePicturesSize) {
  TCustomImage32 image;
  image.AutoSize = true;
  int resized = 0;
  image.OnBitmapResize = [&](TObject*) { ++resized; };
  auto button = Picture(78, 25, clRed32);
  image.SetBitmap(button.get());
  EXPECT_EQ(image.Width(), 78);
  EXPECT_EQ(image.Height(), 25);
  EXPECT_EQ(resized, 1);
  int w = 0, h = 0;
  image.Align = alTop;
  EXPECT_TRUE(image.CanAutoSize(w, h));
  EXPECT_EQ(w, 0);  // aligned to the top: only the height follows
  EXPECT_EQ(h, 25);
}

TEST(Image32, BackgroundAndMargins) {
  const TColor32 bg = 0xFF336699;
  struct Case {
    TBitmapAlign align;
    TDrawMode mode;
    TRect picture;  // where the picture lands in a 10 x 8 control
  } cases[] = {
      {baCenter, dmOpaque, {3, 2, 7, 6}},
      {baTopLeft, dmOpaque, {0, 0, 4, 4}},
      {baTopLeft, dmBlend, {0, 0, 4, 4}},
  };
  for (const auto& c : cases) {
    TCustomImage32 image;
    image.Color = TColor(0x996633);
    image.SetBounds(0, 0, 10, 8);
    auto pic = Picture(4, 4, c.mode == dmBlend ? 0x00FFFFFF : 0xFF00FF00);
    image.SetBitmap(pic.get());
    image.GetBitmap()->SetDrawMode(c.mode);
    image.SetBitmapAlign(c.align);
    image.Buffer().SetSize(10, 8);
    image.Buffer().Clear(0x12345678);  // what was there before must not show
    image.Paint();
    EXPECT_EQ(image.GetBitmapRect(), c.picture);
    for (int y = 0; y < 8; ++y) {
      for (int x = 0; x < 10; ++x) {
        bool inside = PtInRect(c.picture, {x, y});
        // A transparent picture shows the colour: the whole buffer was cleared first.
        TColor32 expected = inside && c.mode == dmOpaque ? 0xFF00FF00 : bg;
        ASSERT_EQ(image.Buffer().GetPixel(x, y), expected) << c.align << " " << x << "," << y;
      }
    }
  }
}

TEST(Image32, BufferGrowsWithMarginAndShrinksLate) {
  TCustomImage32 image;
  image.SetBounds(0, 0, 100, 10);
  image.Paint();
  EXPECT_EQ(image.Buffer().Width(), 140);
  for (int w = 100; w <= 140; ++w) {
    image.SetBounds(0, 0, w, 10);
    ASSERT_EQ(image.Buffer().Width(), 140) << w;
  }
  image.SetBounds(0, 0, 141, 10);
  EXPECT_EQ(image.Buffer().Width(), 181);
  image.SetBounds(0, 0, 141, 10);
  EXPECT_EQ(image.Buffer().Width(), 181);
  image.SetBounds(0, 0, 140, 10);
  EXPECT_EQ(image.Buffer().Width(), 140);
  image.SetBufferOversize(-5);
  EXPECT_EQ(image.GetBufferOversize(), 0);
}

TEST(Image32, PropertiesAndUpdateBracket) {
  RecordingHost host;
  TCustomImage32 image(&host);
  image.SetScale(0);
  EXPECT_FLOAT_EQ(image.GetScale(), 0.001f);
  int changes = 0;
  image.OnChange = [&](TObject*) { ++changes; };
  image.SetBitmapAlign(baTopLeft);  // also for an equal value
  EXPECT_EQ(changes, 1);
  image.SetScaleMode(smNormal);  // equal: nothing
  EXPECT_EQ(changes, 1);
  image.BeginUpdate();
  image.GetBitmap()->SetSize(5, 5);
  image.EndUpdate();
  EXPECT_EQ(changes, 1);
  EXPECT_THROW(image.EndUpdate(), EAssertionFailed);
  EXPECT_EQ(image.UpdateCount(), 0);
  EXPECT_GT(host.invalidates, 0);
  try {
    image.PaintStages().Delete(5);
    FAIL();
  } catch (const EListError& e) {
    EXPECT_STREQ(e.what(), "Invalid stage index");
  }
  ASSERT_EQ(image.PaintStages().Count(), 5);
  EXPECT_EQ(image.PaintStages()[4].Stage, uint32_t(PST_DRAW_LAYERS));
  EXPECT_EQ(image.PaintStages()[4].Parameter, LOB_VISIBLE);
  EXPECT_FALSE(image.PaintStages()[1].RunTime);
  TPaintStage* s = image.PaintStages().Insert(99);
  EXPECT_EQ(image.PaintStages().Count(), 6);
  EXPECT_TRUE(s->RunTime);
}

TEST(Image32, SizesAndCoordinateConversions) {
  TCustomImage32 image;
  image.SetBounds(0, 0, 200, 100);
  auto pic = Picture(50, 40, clWhite32);
  image.SetBitmap(pic.get());
  struct Case {
    TScaleMode mode;
    float scale;
    TPoint size;
  } cases[] = {{smNormal, 1, {50, 40}},
               {smStretch, 1, {200, 100}},
               {smScale, 1.5f, {75, 60}},
               {smResize, 1, {125, 100}}};
  for (const auto& c : cases) {
    image.SetScaleMode(c.mode);
    image.SetScale(c.scale);
    EXPECT_EQ(image.GetBitmapSize(), c.size) << c.mode;
  }
  image.SetScaleMode(smStretch);
  image.SetBitmapAlign(baTopLeft);
  EXPECT_EQ(image.BitmapToControl({10, 10}), (TPoint{40, 25}));
  // 16.16 factors truncate: 25 * round(40 / 100 * 65536) / 65536 is just below 10.
  EXPECT_EQ(image.ControlToBitmap({40, 25}), (TPoint{10, 9}));
  image.SetScaleMode(smNormal);
  image.SetBitmapAlign(baCenter);
  EXPECT_EQ(image.ControlToBitmap({75, 30}), (TPoint{0, 0}));
  EXPECT_EQ(image.ControlToBitmap({70, 29}), (TPoint{-5, -1}));
}

TEST(Image32, MouseWithoutLayers) {
  RecordingHost host;
  TCustomImage32 image(&host);
  image.Cursor = 7;
  std::vector<TCustomLayer*> layers;
  image.OnMouseDown = [&](TObject*, TMouseButton, TShiftState, int, int, TCustomLayer* l) {
    layers.push_back(l);
  };
  image.OnMouseMove = [&](TObject*, TShiftState, int, int, TCustomLayer* l) {
    layers.push_back(l);
  };
  image.MouseDown(mbLeft, 0, 3, 3);
  image.MouseMove(0, 4, 4);
  EXPECT_EQ(layers, (std::vector<TCustomLayer*>{nullptr, nullptr}));
  EXPECT_EQ(host.captures, 1);
  EXPECT_EQ(host.cursors, (std::vector<TCursor>{7}));
  image.MouseLeave();
  EXPECT_EQ(host.cursors.back(), crDefault);
  // A layer under the mouse is passed on.
  auto* layer = image.Layers().Add<TCustomLayer>();
  layer->SetMouseEvents(true);
  image.MouseDown(mbLeft, 0, 3, 3);
  EXPECT_EQ(layers.back(), layer);
}

TEST(Image32, PaintToAndTiles) {
  TCustomImage32 image;
  image.SetBounds(0, 0, 6, 6);
  TBitmap32 pic;
  pic.SetSize(2, 2);
  pic.SetPixel(0, 0, 0xFF000001);
  pic.SetPixel(1, 0, 0xFF000002);
  pic.SetPixel(0, 1, 0xFF000003);
  pic.SetPixel(1, 1, 0xFF000004);
  image.SetBitmap(&pic);
  auto out = Picture(8, 8, 0);
  image.PaintTo(out.get(), {4, 4, 8, 8});  // stretched 2x into the corner
  EXPECT_EQ(out->GetPixel(4, 4), 0xFF000001u);
  EXPECT_EQ(out->GetPixel(7, 5), 0xFF000002u);
  EXPECT_EQ(out->GetPixel(6, 7), 0xFF000004u);
  image.SetBitmapAlign(baTile);
  image.Paint();
  for (int y = 0; y < image.Buffer().Height(); ++y)
    for (int x = 0; x < image.Buffer().Width(); ++x)
      ASSERT_EQ(image.Buffer().GetPixel(x, y), pic.GetPixel(x % 2, y % 2)) << x << "," << y;
}

TEST(Image32, ExtremeScalesAndOffsetsStayBoundedAndPaint) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  struct {
    float scale, offset;
    float heldScale;  // what GetScale answers afterwards (the previous 2 when ignored)
  } cases[] = {{1e9f, 0, 1000}, {inf, 0, 1000}, {-inf, 0, 0.001f}, {nan, 0, 2}, {1000, 0, 1000},
               {2, 3e9f, 2},    {2, -3e9f, 2},  {2, nan, 2},       {2, inf, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.scale << " " << c.offset);
    TCustomImage32 image;
    image.SetBounds(0, 0, 30, 20);
    auto pic = Picture(7, 5, clWhite32);
    image.SetBitmap(pic.get());
    image.SetScaleMode(smScale);
    image.SetScale(2);
    image.SetBitmapAlign(baCustom);
    image.SetScale(c.scale);
    image.SetOffsetHorz(c.offset);
    image.SetOffsetVert(c.offset);
    EXPECT_FLOAT_EQ(image.GetScale(), c.heldScale);
    const TPoint size = image.GetBitmapSize();
    EXPECT_EQ(size.X, int(7 * c.heldScale + 0.5f));
    EXPECT_EQ(size.Y, int(5 * c.heldScale + 0.5f));
    image.Cache();
    image.GetBitmapRect();
    image.ControlToBitmap({15, 10});
    image.BitmapToControl({3, 2});
    image.Paint();
    for (TBitmapAlign a : {baTopLeft, baCenter, baTile}) {
      image.SetBitmapAlign(a);
      image.Paint();
    }
  }
}

}  // namespace
