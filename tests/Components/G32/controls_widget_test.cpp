#include <gtest/gtest.h>

#include "clock.h"
#include "image32_widget.h"
#include "rangebars_widget.h"
#include "ui_application.h"
#include "ui_form.h"
#include "ui_testing.h"
#include "widget_fixture.h"

namespace {

using namespace g32;

// A skin button: an opaque disc on transparent corners.
std::unique_ptr<TBitmap32> Button(int w, int h) {
  auto b = std::make_unique<TBitmap32>();
  b->SetSize(w, h);
  b->Clear(0);
  b->FillRectS(4, 4, w - 4, h - 4, 0xFF2060C0);
  return b;
}

TEST_F(G32Widgets, ImageShowsTheBlendedPictureOverItsColour) {
  vant::TForm form(nullptr);
  form.SetBounds(0, 0, 120, 60);
  form.SetColor(TColor(0x00FFFF));  // yellow page behind
  auto* image = new TImage32(&form);
  image->SetParent(&form);
  image->SetAutoSize(true);
  auto pic = Button(78, 25);
  image->SetBitmap(pic.get());
  image->GetBitmap()->SetDrawMode(dmBlend);
  image->GetBitmap()->SetMasterAlpha(255);
  image->SetBounds(10, 10, image->GetWidth(), image->GetHeight());
  EXPECT_EQ(image->GetWidth(), 78);
  EXPECT_EQ(image->GetHeight(), 25);
  form.Show();
  EXPECT_EQ(vant::testing::RenderedPixel(*image, 1, 1), TColor(0x00FFFF));  // parent colour
  EXPECT_EQ(vant::testing::RenderedPixel(*image, 40, 12), TColor(0xC06020));
  vant::testing::SaveScreenshot(form, "g32_image_button");
}

TEST_F(G32Widgets, ImageMouseEventsCarryNoLayerAndTheSender) {
  vant::TForm form(nullptr);
  form.SetBounds(0, 0, 120, 60);
  auto* image = new TImage32(&form);
  image->SetParent(&form);
  image->SetBounds(0, 0, 50, 30);
  image->SetTag(101);
  std::vector<std::string> seen;
  image->OnMouseDown = [&](vant::TObject* s, vant::TMouseButton, vant::TShiftState, int x, int y,
                           TCustomLayer* l) {
    seen.push_back("down " + std::to_string(static_cast<TImage32*>(s)->GetTag()) + " " +
                   std::to_string(x) + "," + std::to_string(y) + (l ? " layer" : " nil"));
  };
  image->OnMouseUp = [&](vant::TObject*, vant::TMouseButton, vant::TShiftState, int, int,
                         TCustomLayer* l) { seen.push_back(l ? "up layer" : "up nil"); };
  form.Show();
  vant::testing::Click(*image, 7, 9);
  EXPECT_EQ(seen, (std::vector<std::string>{"down 101 7,9 nil", "up nil"}));
}

TEST_F(G32Widgets, GaugeBarStepsAndRepeats) {
  vant::TForm form(nullptr);
  form.SetBounds(0, 0, 140, 40);
  auto* bar = new TGaugeBar(&form);
  bar->SetParent(&form);
  bar->SetBounds(10, 10, 116, 16);
  bar->SetMin(1);
  bar->SetMax(20);
  int changes = 0, users = 0;
  bar->OnChange = [&](vant::TObject*) { ++changes; };
  bar->OnUserChange = [&](vant::TObject*) { ++users; };
  form.Show();
  vant::testing::MouseDown(*bar, 110, 8);
  EXPECT_EQ(bar->GetPosition(), 2);
  clock_.AdvanceMillis(600);
  vant::Application->ProcessMessages();
  EXPECT_EQ(bar->GetPosition(), 3);
  clock_.AdvanceMillis(100);
  vant::Application->ProcessMessages();
  EXPECT_EQ(bar->GetPosition(), 4);
  vant::testing::MouseUp(*bar, 110, 8);
  clock_.AdvanceMillis(1000);
  vant::Application->ProcessMessages();
  EXPECT_EQ(bar->GetPosition(), 4);
  EXPECT_EQ(changes, 3);
  EXPECT_EQ(users, 3);
  bar->SetPosition(20);
  EXPECT_EQ(users, 3);
  vant::testing::SaveScreenshot(form, "g32_gauge_bar");
}

// The window's own size is the range bar's window when Window is 0: resizing the control keeps
// the centre (Centered) and the position inside the range.
TEST_F(G32Widgets, RangeBarFollowsTheControlsSize) {
  vant::TForm form(nullptr);
  form.SetBounds(0, 0, 800, 40);
  auto* bar = new TRangeBar(&form);
  bar->SetParent(&form);
  bar->SetBounds(0, 0, 100, 16);
  int changes = 0;
  bar->OnChange = [&](vant::TObject*) { ++changes; };
  bar->Bar().Centered = true;
  bar->Bar().SetRange(1000);
  bar->Bar().SetPosition(450);  // the window 450..550, centred on 500
  bar->SetBounds(0, 0, 200, 16);
  EXPECT_FLOAT_EQ(bar->Bar().GetPosition(), 400);
  bar->Bar().Centered = false;
  changes = 0;
  bar->SetBounds(0, 0, 700, 16);  // a window of 700 leaves positions 0..300
  EXPECT_FLOAT_EQ(bar->Bar().GetPosition(), 300);
  EXPECT_EQ(changes, 1);
}

TEST_F(G32Widgets, TextThroughTheQtRasteriser) {
  InstallQtGraphics();
  TBitmap32 b;
  b.SetSize(80, 24);
  b.Clear(0);
  b.SetFont(TFont32{"Liberation Sans", 16});
  EXPECT_GT(b.TextWidth("Hello"), 20);
  for (int level : {0, 2}) {
    b.Clear(0);
    b.RenderText(2, 2, "Hello", level, 0xFFFF0000);
    int inked = 0;
    for (int i = 0; i < 80 * 24; ++i) inked += (b.Bits()[i] >> 24) != 0;
    EXPECT_GT(inked, 30) << level;
  }
  b.Clear(0xFF000000);
  b.SetFont(TFont32{"Liberation Sans", 16, false, false, false, false, 0x0000FF});
  b.TextOut(2, 2, "Hello");
  int red = 0;
  for (int i = 0; i < 80 * 24; ++i) red += ((b.Bits()[i] >> 16) & 255) > 128;
  EXPECT_GT(red, 20);
}

}  // namespace

namespace {

TEST_F(G32Widgets, BlitsBetweenBitmapsAndCanvases) {
  vant::TBitmap surface(8, 6);
  vant::TCanvas& canvas = surface.Canvas();
  canvas.Brush().Color = TColor(0x000000);
  canvas.FillRect({0, 0, 8, 6});
  TBitmap32 b;
  b.SetSize(2, 2);
  b.SetPixel(0, 0, 0x00112233);  // alpha 0: shown opaque
  b.SetPixel(1, 0, 0xFF445566);
  b.SetPixel(0, 1, 0xFF778899);
  b.SetPixel(1, 1, 0xFFAABBCC);
  DrawTo(b, canvas, 7, 5);  // only (0, 0) of the bitmap lands inside
  DrawTo(b, canvas, {0, 0, 4, 4}, b.BoundsRect());
  TBitmap32 back;
  back.SetSize(8, 6);
  Draw(back, back.BoundsRect(), {0, 0, 8, 6}, canvas);
  EXPECT_EQ(back.GetPixel(7, 5), 0xFF112233u);
  EXPECT_EQ(back.GetPixel(1, 1), 0xFF112233u);
  EXPECT_EQ(back.GetPixel(3, 1), 0xFF445566u);
  EXPECT_EQ(back.GetPixel(2, 3), 0xFFAABBCCu);
  EXPECT_EQ(back.GetPixel(5, 1), 0xFF000000u);
}

}  // namespace

namespace {

TEST_F(G32Widgets, PaintBoxDrawsItsBufferAtEveryPaint) {
  vant::TForm form(nullptr);
  form.SetBounds(0, 0, 80, 40);
  auto* box = new TPaintBox32(&form);
  box->SetParent(&form);
  box->SetBounds(0, 0, 60, 30);
  int paints = 0;
  box->OnPaintBuffer = [&](vant::TObject*) {
    ++paints;
    box->Buffer().Clear(0xFF0000FF);
  };
  form.Show();
  EXPECT_EQ(vant::testing::RenderedPixel(*box, 5, 5), TColor(0xFF0000));
  vant::testing::RenderedPixel(*box, 6, 6);
  EXPECT_GE(paints, 2);  // the paint box never keeps its buffer
  EXPECT_GE(box->Buffer().Width(), 60);
}

}  // namespace
