#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "g32_image.h"
#include "g32_layers.h"

namespace {

using namespace g32;

struct CursorHost : TPaintBoxHost {
  std::vector<TCursor> cursors;
  void HostSetCursor(TCursor c) override { cursors.push_back(c); }
};

TEST(PositionedLayer, HitRectangleUnscaledAndScaled) {
  TCustomImage32 image;
  auto* l = image.Layers().Add<TPositionedLayer>();
  EXPECT_TRUE(l->GetMouseEvents());
  EXPECT_TRUE(l->HitTest(63, 63));
  EXPECT_FALSE(l->HitTest(64, 0));
  EXPECT_TRUE(l->HitTest(0, 0));
  EXPECT_FALSE(l->HitTest(-1, 10));

  // Scaled: the location follows the picture's scale and offset.
  auto pic = std::make_unique<TBitmap32>();
  pic->SetSize(50, 50);
  image.SetBitmap(pic.get());
  image.SetScaleMode(smScale);
  image.SetScale(2);
  image.SetBitmapAlign(baCustom);
  image.SetOffsetHorz(10);
  image.SetOffsetVert(20);
  l->SetLocation(FloatRect(5, 5, 15, 10));
  l->SetScaled(true);
  image.Cache();
  EXPECT_EQ(l->GetAdjustedLocation(), FloatRect(20, 30, 40, 40));
  EXPECT_TRUE(l->HitTest(39, 39));
  EXPECT_FALSE(l->HitTest(40, 39));
  EXPECT_FALSE(l->HitTest(15, 35));
}

TEST(PositionedLayer, MouseReachesLayersBeforeTheImageTopFirst) {
  CursorHost host;
  TCustomImage32 image(&host);
  image.SetBounds(0, 0, 100, 100);
  auto* bottom = image.Layers().Add<TPositionedLayer>();
  auto* top = image.Layers().Add<TPositionedLayer>();
  bottom->SetLocation(FloatRect(0, 0, 50, 50));
  top->SetLocation(FloatRect(30, 30, 80, 80));
  std::vector<std::string> log;
  bottom->OnMouseDown = [&](TObject*, TMouseButton, TShiftState, int, int) {
    log.push_back("bottom");
  };
  top->OnMouseDown = [&](TObject*, TMouseButton, TShiftState, int, int) { log.push_back("top"); };
  image.OnMouseDown = [&](TObject*, TMouseButton, TShiftState, int, int, TCustomLayer* l) {
    log.push_back(l == top ? "image:top" : l == bottom ? "image:bottom" : "image:none");
  };
  struct {
    int x, y;
    std::vector<std::string> expected;
  } cases[] = {{40, 40, {"top", "image:top"}},
               {10, 10, {"bottom", "image:bottom"}},
               {90, 90, {"image:none"}}};
  for (const auto& c : cases) {
    log.clear();
    image.MouseDown(mbLeft, ssLeft, c.x, c.y);
    image.MouseUp(mbLeft, 0, c.x, c.y);
    EXPECT_EQ(log, c.expected) << c.x;
  }
  // Raised to the top, the bottom layer now takes the overlap.
  bottom->BringToFront();
  log.clear();
  image.MouseDown(mbLeft, ssLeft, 40, 40);
  image.MouseUp(mbLeft, 0, 40, 40);
  EXPECT_EQ(log, (std::vector<std::string>{"bottom", "image:bottom"}));
}

TEST(BitmapLayer, PaintsStretchedCroppedAndHitsByAlpha) {
  TCustomImage32 image;
  image.SetBounds(0, 0, 40, 40);
  auto pic = std::make_unique<TBitmap32>();
  pic->SetSize(20, 20);
  pic->Clear(clBlack32);
  image.SetBitmap(pic.get());  // picture rectangle (0, 0, 20, 20)

  auto* l = image.Layers().Add<TBitmapLayer>();
  TBitmap32 b;
  b.SetSize(4, 2);
  b.Clear(clRed32);
  b.SetPixel(3, 1, clBlue32);
  b.SetPixel(0, 0, 0x00FFFFFF);  // transparent corner
  l->SetBitmap(&b);
  l->SetLocation(FloatRect(10, 10, 30, 20));  // 5 x 5 pixels per source pixel

  TBitmap32 buf;
  buf.SetSize(40, 40);
  buf.Clear(clGreen32);
  l->PaintTo(&buf);
  EXPECT_EQ(buf.GetPixel(12, 12), 0x00FFFFFFu);
  EXPECT_EQ(buf.GetPixel(29, 19), clBlue32);
  EXPECT_EQ(buf.GetPixel(30, 19), clGreen32);

  // Cropped to the picture: only its part inside (10..20 x 10..20) is drawn, from the source's
  // left half.
  l->SetCropped(true);
  buf.Clear(clGreen32);
  l->PaintTo(&buf);
  EXPECT_EQ(buf.GetPixel(19, 19), clRed32);
  EXPECT_EQ(buf.GetPixel(20, 19), clGreen32);

  EXPECT_TRUE(l->HitTest(11, 11));
  l->AlphaHit = true;
  EXPECT_FALSE(l->HitTest(11, 11));
  EXPECT_TRUE(l->HitTest(26, 16));  // (3.2, 1.2) rounded: the blue pixel

  // A change of the bitmap repaints the image.
  int changes = 0;
  image.OnChange = [&](TObject*) { ++changes; };
  l->Bitmap()->Clear(clWhite32);
  EXPECT_GE(changes, 1);
}

struct Band {
  CursorHost host;
  TCustomImage32 image{&host};
  TPositionedLayer* child;
  TRubberbandLayer* band;
  Band() {
    image.SetBounds(0, 0, 300, 300);
    child = image.Layers().Add<TPositionedLayer>();
    child->SetLocation(FloatRect(50, 50, 150, 120));
    band = image.Layers().Add<TRubberbandLayer>();
    band->SetChildLayer(child);
  }
  void Drag(int x0, int y0, int x1, int y1) {
    image.MouseDown(mbLeft, ssLeft, x0, y0);
    image.MouseMove(ssLeft, x1, y1);
    image.MouseUp(mbLeft, 0, x1, y1);
  }
};

TEST(RubberbandLayer, DragStatesAndCursors) {
  Band b;
  EXPECT_EQ(b.band->GetLocation(), FloatRect(50, 50, 150, 120));
  EXPECT_TRUE(b.band->GetLayerOptions() & LOB_NO_UPDATE);
  // Frame 50..149 x 50..119, handle reach 4.
  struct {
    int x, y;
    TDragStateG32 state;
    TCursor cursor;
  } cases[] = {
      {149, 119, dsSizeBR, crSizeNWSE}, {46, 123, dsSizeBL, crSizeNESW},
      {153, 50, dsSizeTR, crSizeNESW},  {50, 50, dsSizeTL, crSizeNWSE},
      {149, 84, dsSizeR, crSizeWE},     {99, 119, dsSizeB, crSizeNS},
      {50, 86, dsSizeL, crSizeWE},      {95, 54, dsSizeT, crSizeNS},
      {70, 70, dsMove, crDefault},      {200, 200, dsNone, crDefault},
  };
  for (auto c : cases) {
    EXPECT_EQ(b.band->GetDragState(c.x, c.y), c.state) << c.x << "," << c.y;
    if (c.state != dsNone) {
      b.image.MouseMove(0, c.x, c.y);
      EXPECT_EQ(b.host.cursors.back(), c.cursor) << c.x << "," << c.y;
    }
  }
  b.band->SetHandles(rhCenter);
  EXPECT_EQ(b.band->GetDragState(149, 119), dsMove);
  EXPECT_EQ(b.band->GetDragState(153, 50), dsNone);
}

TEST(RubberbandLayer, MovesAndResizesItsChildWithinTheLimits) {
  Band b;
  int userChanges = 0;
  b.band->OnUserChange = [&](TObject*) { ++userChanges; };
  b.Drag(70, 70, 90, 60);  // move by (20, -10)
  EXPECT_EQ(b.band->GetLocation(), FloatRect(70, 40, 170, 110));
  EXPECT_EQ(b.child->GetLocation(), FloatRect(70, 40, 170, 110));
  EXPECT_EQ(userChanges, 1);
  EXPECT_FALSE(b.band->Dragging());

  // The left edge dragged to within 5 pixels of the right one stops at the minimum width.
  b.Drag(70, 75, 165, 75);
  EXPECT_EQ(b.child->GetLocation(), FloatRect(160, 40, 170, 110));

  // A maximum above the minimum holds the other way; the resizing event has the last word.
  b.child->SetLocation(FloatRect(50, 50, 150, 120));
  b.band->SetChildLayer(nullptr);
  b.band->SetChildLayer(b.child);
  b.band->MaxHeight = 100;
  b.Drag(99, 119, 99, 250);
  EXPECT_EQ(b.child->GetLocation(), FloatRect(50, 50, 150, 150));
  b.band->OnResizing = [](TObject*, const TFloatRect&, TFloatRect& n, TDragStateG32 s,
                          TShiftState) {
    if (s == dsSizeR) n.Right = 200;
  };
  b.Drag(149, 100, 170, 100);
  EXPECT_EQ(b.child->GetLocation(), FloatRect(50, 50, 200, 150));
}

TEST(RubberbandLayer, ChildDestroyedFirstOrLast) {
  {
    Band b;
    delete b.child;
    EXPECT_EQ(b.band->GetChildLayer(), nullptr);
    EXPECT_FALSE(b.band->GetLayerOptions() & LOB_NO_UPDATE);
  }
  {
    // The frame goes first: the child must not notify it later (ASan would see it).
    Band b;
    delete b.band;
    EXPECT_FALSE(b.child->HasNotifications());
  }
}

TEST(RubberbandLayer, PaintsStippledFrameAndHandles) {
  Band b;
  TBitmap32 buf;
  buf.SetSize(300, 300);
  buf.Clear(clGreen32);
  b.band->PaintTo(&buf);
  // Handles: white inside, black frame, ± 3 around the corner pixel (50, 50).
  EXPECT_EQ(buf.GetPixel(50, 50), clWhite32);
  EXPECT_EQ(buf.GetPixel(47, 47), clBlack32);
  EXPECT_EQ(buf.GetPixel(46, 46), clGreen32);
  // The frame between handles alternates two white, two black.
  int white = 0, black = 0;
  for (int x = 60; x < 90; ++x) {
    white += buf.GetPixel(x, 50) == clWhite32;
    black += buf.GetPixel(x, 50) == clBlack32;
  }
  EXPECT_EQ(white + black, 30);
  EXPECT_GE(white, 14);
  EXPECT_GE(black, 14);
  EXPECT_EQ(buf.GetPixel(70, 70), clGreen32);
}

TEST(PositionedLayer, FarOffAndNotANumberLocationsPaintAndHitSafely) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const TFloatRect cases[] = {FloatRect(3e9f, 3e9f, 3e9f + 64, 3e9f + 64),
                              FloatRect(-3e9f, -3e9f, -3e9f + 64, -3e9f + 64),
                              FloatRect(-3e9f, -3e9f, 3e9f, 3e9f),
                              FloatRect(nan, 0, 64, 64),
                              FloatRect(0, 0, nan, nan),
                              FloatRect(-inf, -inf, inf, inf),
                              FloatRect(nan, nan, nan, nan)};
  for (const TFloatRect& loc : cases) {
    SCOPED_TRACE(testing::Message()
                 << loc.Left << "," << loc.Top << "," << loc.Right << "," << loc.Bottom);
    CursorHost host;
    TCustomImage32 image(&host);
    image.SetBounds(0, 0, 40, 40);
    auto pic = std::make_unique<TBitmap32>();
    pic->SetSize(20, 20);
    pic->Clear(clBlack32);
    image.SetBitmap(pic.get());
    auto* bitmap = image.Layers().Add<TBitmapLayer>();
    TBitmap32 b;
    b.SetSize(4, 2);
    b.Clear(clRed32);
    bitmap->SetBitmap(&b);
    auto* band = image.Layers().Add<TRubberbandLayer>();
    for (bool scaled : {false, true}) {
      for (bool cropped : {false, true}) {
        bitmap->SetScaled(scaled);
        bitmap->SetCropped(cropped);
        bitmap->SetLocation(loc);
        band->SetScaled(scaled);
        band->SetLocation(loc);
        bitmap->AlphaHit = cropped;
        TBitmap32 buf;
        buf.SetSize(40, 40);
        buf.Clear(clGreen32);
        bitmap->PaintTo(&buf);
        band->PaintTo(&buf);
        image.Paint();
        const bool across = loc.Left < 0 && loc.Right > 40 && loc.Top < 0 && loc.Bottom > 40;
        // Only a rectangle over the whole control can be hit inside it.
        EXPECT_EQ(bitmap->HitTest(10, 10), across);
        band->GetDragState(10, 10);
        image.MouseDown(mbLeft, ssLeft, 10, 10);
        image.MouseMove(ssLeft, 30, 35);
        image.MouseUp(mbLeft, 0, 30, 35);
      }
    }
  }
}

}  // namespace
