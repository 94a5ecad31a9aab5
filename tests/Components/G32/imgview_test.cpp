#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "g32_image.h"

namespace {

using namespace g32;

struct View {
  TCustomImgView32 view;
  int scrolls = 0;
  explicit View(int pw, int ph, int vw = 300, int vh = 200) {
    view.ScrollBars().SetSize(16);
    view.SetBounds(0, 0, vw + 16, vh + 16);
    view.Resize();
    view.OnScroll = [this](TObject*) { ++scrolls; };
    TBitmap32 pic;
    pic.SetSize(pw, ph);
    pic.Clear(clRed32);
    view.SetBitmap(&pic);
  }
  TPoint Origin() { return view.BitmapToControl({0, 0}); }
};

TEST(ImgView32, LayoutAndCentringOfASmallPicture) {
  View v(100, 100);
  EXPECT_EQ(v.view.GetViewportRect(), (TRect{0, 0, 300, 200}));
  EXPECT_EQ(v.view.HScrollRect(), (TRect{0, 200, 300, 216}));
  EXPECT_EQ(v.view.VScrollRect(), (TRect{300, 0, 316, 200}));
  EXPECT_EQ(v.view.SizeGripRect(), (TRect{300, 200, 316, 216}));
  EXPECT_EQ(v.Origin(), (TPoint{100, 50}));
  EXPECT_FALSE(v.view.HScroll().GetEnabled());  // nothing to scroll

  // Not centred: the picture goes to the origin.
  v.view.SetCentered(false);
  EXPECT_EQ(v.Origin(), (TPoint{0, 0}));
  v.view.SetCentered(true);
  EXPECT_EQ(v.Origin(), (TPoint{100, 50}));

  // Scaled: the scaled size counts.
  v.view.SetScale(2);
  EXPECT_EQ(v.view.HScroll().GetRange(), 200);
  EXPECT_EQ(v.Origin(), (TPoint{50, 0}));
}

TEST(ImgView32, ScrollsWithTheBarsAndCentresOnAPoint) {
  View v(1000, 800);
  EXPECT_EQ(v.view.HScroll().GetRange(), 1000);
  EXPECT_EQ(v.view.VScroll().GetRange(), 800);
  // A large picture starts centred on its middle.
  EXPECT_EQ(v.Origin(), (TPoint{-350, -300}));

  v.scrolls = 0;
  v.view.ScrollToCenter(200, 100);
  EXPECT_EQ(v.view.HScroll().GetPosition(), 50);
  EXPECT_EQ(v.view.VScroll().GetPosition(), 0);  // held at the start
  EXPECT_EQ(v.Origin(), (TPoint{-50, 0}));
  EXPECT_EQ(v.scrolls, 0);  // programmatic scrolling raises no OnScroll

  v.view.Scroll(30, 1000);
  EXPECT_EQ(v.Origin(), (TPoint{-80, -600}));  // vertical held at range - window

  // A bar moved by the user scrolls the picture and raises OnScroll.
  v.view.HScroll().SetPosition(500);
  EXPECT_EQ(v.Origin().X, -500);
  EXPECT_EQ(v.scrolls, 1);

  // Clicking the right arrow of the horizontal bar steps by the increment.
  const int before = int(v.view.HScroll().GetPosition());
  v.view.MouseDown(mbLeft, ssLeft, 295, 208);
  v.view.MouseUp(mbLeft, 0, 295, 208);
  EXPECT_EQ(int(v.view.HScroll().GetPosition()), before + 8);
  EXPECT_EQ(v.Origin().X, -(before + 8));
}

TEST(ImgView32, LayersStillTakeTheMouseInTheViewportAndTheGripShowsItsCursor) {
  struct Host : TPaintBoxHost {
    std::vector<TCursor> cursors;
    void HostSetCursor(TCursor c) override { cursors.push_back(c); }
  } host;
  TCustomImgView32 view(&host);
  view.ScrollBars().SetSize(16);
  view.SetBounds(0, 0, 216, 216);
  view.Resize();
  auto* layer = view.Layers().Add<TPositionedLayer>();
  layer->SetLocation(FloatRect(0, 0, 250, 250));  // reaches under the bars
  int presses = 0;
  layer->OnMouseDown = [&](TObject*, TMouseButton, TShiftState, int, int) { ++presses; };
  view.MouseDown(mbLeft, ssLeft, 10, 10);
  view.MouseUp(mbLeft, 0, 10, 10);
  view.MouseDown(mbLeft, ssLeft, 10, 210);  // on the bar, not the layer
  view.MouseUp(mbLeft, 0, 10, 210);
  EXPECT_EQ(presses, 1);

  int gripPresses = 0;
  view.OnSizeGripPress = [&](TObject*) { ++gripPresses; };
  view.SetSizeGrip(sgNone);
  view.MouseDown(mbLeft, ssLeft, 210, 210);
  view.SetSizeGrip(sgAlways);
  view.MouseMove(0, 210, 210);
  EXPECT_EQ(host.cursors.back(), crSizeNWSE);
  view.MouseDown(mbLeft, ssLeft, 210, 210);
  EXPECT_EQ(gripPresses, 1);
  view.SetSizeGrip(sgAuto);
  EXPECT_FALSE(view.IsSizeGripVisible());
  view.Align = alClient;
  EXPECT_TRUE(view.IsSizeGripVisible());
}

}  // namespace
