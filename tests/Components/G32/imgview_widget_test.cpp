#include <gtest/gtest.h>

#include <QImage>

#include "clock.h"
#include "image32_widget.h"
#include "imgview32_widget.h"
#include "ui_application.h"
#include "ui_clipboard.h"
#include "ui_form.h"
#include "ui_testing.h"
#include "widget_fixture.h"

namespace {

using namespace g32;

// A checker picture with a coloured frame, so scrolling and centring show in the screenshot.
void Checker(TBitmap32& b, int w, int h) {
  b.SetSize(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b.SetPixel(x, y, ((x / 16 + y / 16) & 1) ? 0xFFE0E0E0 : 0xFF4080C0);
  b.FrameRectS(0, 0, w, h, clRed32);
}

TEST_F(G32Widgets, ImageViewScrollsCentresAndCarriesLayers) {
  vant::TForm form(nullptr);
  form.SetBounds(0, 0, 260, 200);
  auto* view = new TImgView32(&form);
  view->SetParent(&form);
  view->ScrollBars().SetSize(16);
  view->SetBounds(0, 0, 236, 176);  // viewport 220 x 160
  TBitmap32 pic;
  Checker(pic, 400, 300);
  view->SetBitmap(&pic);

  auto* bmpLayer = view->Layers().Add<TBitmapLayer>();
  TBitmap32 spot;
  spot.SetSize(8, 8);
  spot.Clear(0xC0FFD000);
  bmpLayer->SetBitmap(&spot);
  bmpLayer->Bitmap()->SetDrawMode(dmBlend);
  bmpLayer->SetLocation(FloatRect(180, 130, 220, 170));
  bmpLayer->SetScaled(true);
  auto* band = view->Layers().Add<TRubberbandLayer>();
  band->SetChildLayer(bmpLayer);

  int scrolls = 0;
  view->OnScroll = [&](vant::TObject*) { ++scrolls; };
  form.Show();
  // Centred on the picture's middle: picture (200, 150) at the viewport's middle (110, 80).
  EXPECT_EQ(view->Image().BitmapToControl({200, 150}), (TPoint{110, 80}));
  vant::testing::SaveScreenshot(form, "g32_imgview_centred");

  // The layer under the mouse gets the press before the image; dragging moves the bitmap layer.
  TCustomLayer* pressed = nullptr;
  view->OnMouseDown = [&](vant::TObject*, vant::TMouseButton, vant::TShiftState, int, int,
                          TCustomLayer* l) { pressed = l; };
  vant::testing::MouseDown(*view, 100, 70);
  vant::testing::MouseMove(*view, 110, 75, true);
  vant::testing::MouseUp(*view, 110, 75);
  EXPECT_EQ(pressed, band);
  EXPECT_EQ(bmpLayer->GetLocation(), FloatRect(190, 135, 230, 175));

  // A click on the horizontal bar's right arrow scrolls by the increment.
  vant::testing::Click(*view, 212, 168);
  EXPECT_EQ(scrolls, 1);
  EXPECT_EQ(view->Image().BitmapToControl({200, 150}), (TPoint{102, 80}));

  view->SetCentered(false);
  EXPECT_EQ(view->Image().BitmapToControl({0, 0}), (TPoint{0, 0}));
  view->SetSizeGrip(sgAlways);
  vant::testing::SaveScreenshot(form, "g32_imgview_origin");
}

TEST_F(G32Widgets, AssignFromFrameworkPicturesAndTheClipboard) {
  // A framework bitmap has no alpha bytes: everything comes in opaque.
  vant::TBitmap framework(3, 2);
  framework.Canvas().SetPixel(1, 1, vant::TColor(0x0000FF));
  TBitmap32 b;
  int changes = 0;
  b.OnChange = [&](g32::TObject*) { ++changes; };
  Assign(b, framework);
  EXPECT_EQ(b.Width(), 3);
  EXPECT_EQ(b.GetPixel(1, 1), 0xFFFF0000u);
  EXPECT_EQ(b.GetPixel(0, 0), 0xFFFFFFFFu);
  EXPECT_EQ(changes, 1);

  // A picture with alpha keeps it, there and back through a framework bitmap.
  TBitmap32 translucent;
  translucent.SetSize(2, 2);
  translucent.Clear(0x40112233);
  AssignTo(translucent, framework);
  EXPECT_EQ(framework.Width(), 2);
  Assign(b, framework);
  EXPECT_EQ(b.GetPixel(1, 0), 0x40112233u);

  // Other picture formats (an 8-bit grey one here) come in opaque; a null one empties.
  QImage grey(2, 1, QImage::Format_Grayscale8);
  grey.fill(0x80);
  Assign(b, grey);
  EXPECT_EQ(b.GetPixel(0, 0), 0xFF808080u);
  Assign(b, QImage());
  EXPECT_TRUE(b.Empty());

  // Clipboard round trip, alpha included; an empty clipboard is refused.
  translucent.SetPixel(1, 1, 0xFF00FF00);
  AssignToClipboard(translucent);
  AssignFromClipboard(b);
  EXPECT_TRUE(b.Equal(&translucent));
  EXPECT_EQ(b.GetPixel(0, 0), 0x40112233u);
  vant::Clipboard().Clear();
  EXPECT_THROW(AssignFromClipboard(b), EInvalidGraphic);
}

}  // namespace
