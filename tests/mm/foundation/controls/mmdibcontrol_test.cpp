// The DIB drawing control: its canvas follows its size, the background, and FastDraw shows a
// frame at once without a paint of the toolkit.
#include <gtest/gtest.h>

#include <QImage>

#include "controls_fixture.h"
#include "mmdibcv.h"
#include "ui_form.h"
#include "ui_testing.h"

using namespace vant;

namespace {

// A display that fills its surface with the background and draws a bar of `bar` colour.
class Display : public TMMDIBGraphicControl {
 public:
  using TMMDIBGraphicControl::TMMDIBGraphicControl;
  TColor bar = clLime;
  int paints = 0;
  void Draw(bool clear) {
    TMMDIBCanvas& c = DIBCanvas();
    c.DIB_InitDrawing();
    if (clear) DrawBackGround();
    c.DIB_SetTColor(bar);
    c.DIB_FILLRECT(Rect(2, 2, 6, GetHeight() - 2));
    c.DIB_BitBlt(&Canvas(), Rect(0, 0, GetWidth(), GetHeight()), 0, 0);
    c.DIB_DoneDrawing();
  }

 protected:
  void Paint() override {
    ++paints;
    Draw(true);
  }
};

class DIBControlTest : public ControlsTest {};

TEST_F(DIBControlTest, PaintsItsSurfaceAndFastDrawShowsAtOnce) {
  TForm form(nullptr);
  form.SetBounds(0, 0, 120, 80);
  auto* d = new Display(&form);
  d->SetParent(&form);
  d->SetBounds(10, 10, 40, 20);
  d->SetColor(clNavy);
  EXPECT_EQ(d->DIBCanvas().GetWidth(), 40);
  form.Show();
  EXPECT_EQ(uitest::RenderedPixel(*d, 3, 5), clLime);
  EXPECT_EQ(uitest::RenderedPixel(*d, 20, 5), clNavy);
  const int paints = d->paints;
  d->bar = clRed;
  d->FastDraw([d](bool clear) { d->Draw(clear); }, false);
  EXPECT_EQ(d->paints, paints);  // no toolkit paint ran the control's Paint
  ASSERT_NE(d->LastPaint(), nullptr);
  EXPECT_EQ(PixelToColor(d->LastPaint()->pixel(3, 5)), clRed);
  uitest::SaveScreenshot(form, "dib_control");

  // 24 bits, and a background picture under every frame.
  d->SetBPP(24);
  TBitmap back(4, 4);
  back.Canvas().Brush().Color = clYellow;
  back.Canvas().FillRect(Rect(0, 0, 4, 4));
  d->SetBackGround(back);
  d->SetUseBackDIB(true);
  EXPECT_TRUE(d->GetUseBackDIB());
  EXPECT_TRUE(d->GetRealize());
  EXPECT_NE(d->GetPalette(), nullptr);
  d->Repaint();
  EXPECT_EQ(uitest::RenderedPixel(*d, 20, 5), clYellow);
  d->SetUseBackDIB(false);
  d->Repaint();
  EXPECT_EQ(uitest::RenderedPixel(*d, 20, 5), clNavy);
}

TEST_F(DIBControlTest, FastDrawOfAHiddenControlDoesNothing) {
  TForm form(nullptr);
  auto* d = new Display(&form);
  d->SetParent(&form);
  d->SetBounds(0, 0, 10, 10);
  bool ran = false;
  d->FastDraw([&](bool) { ran = true; }, true);  // the form is not shown
  EXPECT_FALSE(ran);
}

TEST_F(DIBControlTest, UseBackDIBWhileLoadingWaitsForLoaded) {
  TForm form(nullptr);
  auto* d = new Display(&form);
  TBitmap back(2, 2);
  form.SetLoading(true);
  d->SetBackGround(back);
  d->SetUseBackDIB(true);
  EXPECT_FALSE(d->GetUseBackDIB());
  form.SetLoading(false);
  d->Loaded();
  EXPECT_TRUE(d->GetUseBackDIB());
}

}  // namespace
