// The slider driven as a person would: keys, clicks and drags through the toolkit, its value
// arithmetic (logarithmic and the full integer range), focus blink, and its pictures.
#include "mmslider.h"

#include <gtest/gtest.h>

#include "controls_fixture.h"
#include "ui_form.h"
#include "ui_testing.h"

using namespace vant;

namespace {

class SliderTest : public ControlsTest {
 protected:
  void SetUp() override {
    ControlsTest::SetUp();
    form_.SetBounds(0, 0, 300, 200);
    slider_ = new TMMSlider(&form_);
    slider_->SetParent(&form_);
    slider_->SetBounds(10, 10, 200, 40);
    slider_->OnChange = [this](TObject*) { events_ += 'c'; };
    slider_->OnTrack = [this](TObject*) { events_ += 't'; };
    slider_->OnTrackEnd = [this](TObject*) { events_ += 'e'; };
    form_.Show();
  }
  void TearDown() override {
    // Handlers of the tests capture their locals; the form outlives them.
    slider_->OnGetFocus = slider_->OnLostFocus = nullptr;
    slider_->OnDrawThumb = nullptr;
    slider_->OnDrawGroove = nullptr;
    ControlsTest::TearDown();
  }
  // The centre of the thumb as laid out now.
  TPoint ThumbCentre() {
    slider_->Repaint();
    TRect t = slider_->ThumbRect();
    return {(t.Left + t.Right) / 2, (t.Top + t.Bottom) / 2};
  }
  TForm form_{nullptr};
  TMMSlider* slider_ = nullptr;
  std::string events_;
};

TEST_F(SliderTest, RangeAndPositionFromCode) {
  EXPECT_EQ(slider_->GetMaxValue(), 10);
  EXPECT_EQ(slider_->GetOrientation(), orHorizontal);
  slider_->SetMinMax(5, 5);
  EXPECT_EQ(slider_->GetMaxValue(), 6);
  EXPECT_EQ(slider_->GetPosition(), 5);  // clamped into the new range
  events_.clear();
  slider_->SetPosition(6);
  slider_->SetPosition(100);  // clamped: no change
  EXPECT_EQ(slider_->GetPosition(), 6);
  EXPECT_EQ(events_, "c");  // code fires OnChange only, never OnTrack or OnTrackEnd
  slider_->SetBounds(10, 10, 30, 120);
  EXPECT_EQ(slider_->GetOrientation(), orVertical);
}

TEST_F(SliderTest, LogarithmicPositions) {
  slider_->SetMinMax(0, 100);
  slider_->SetLogarithmic(true);
  EXPECT_EQ(slider_->GetSensitivity(), -24);
  slider_->SetPosition(100);
  EXPECT_EQ(slider_->ThumbPosition(), 100);
  EXPECT_EQ(slider_->GetPosition(), 100);
  slider_->SetPosition(50);  // -6 dB: three quarters along
  EXPECT_EQ(slider_->ThumbPosition(), 75);
  EXPECT_EQ(slider_->GetPosition(), 50);
  slider_->SetPosition(6);  // about -24 dB: the start
  EXPECT_EQ(slider_->ThumbPosition(), 0);
  slider_->SetPosition(0);
  EXPECT_EQ(slider_->GetPosition(), 0);
  slider_->SetPosition(-5);  // nothing below the quietest level
  EXPECT_EQ(slider_->ThumbPosition(), 0);
  // Changing the sensitivity keeps the outward position.
  slider_->SetPosition(50);
  slider_->SetSensitivity(-48);
  // (as near as a whole thumb position allows: 87 of 100 reads back as 48.75 rounded)
  EXPECT_EQ(slider_->ThumbPosition(), 87);
  EXPECT_EQ(slider_->GetPosition(), 49);
}

TEST_F(SliderTest, KeysMoveTheThumbAndTrack) {
  struct Step {
    uint16_t key;
    int32_t expected;
    const char* events;
  } steps[] = {
      {VK_PRIOR, 5, "tce"}, {VK_RIGHT, 6, "tce"}, {VK_END, 10, "tce"},
      {VK_UP, 10, ""},      {VK_NEXT, 5, "tce"},  {VK_HOME, 0, "tce"},
      {VK_LEFT, 0, ""},     {VK_PRIOR, 5, "tce"}, {VK_DOWN, 4, "tce"},
  };
  slider_->SetFocus();
  for (const Step& s : steps) {
    events_.clear();
    uitest::PressKey(*slider_, s.key);
    EXPECT_EQ(slider_->GetPosition(), s.expected) << s.key;
    EXPECT_EQ(events_, s.events) << s.key;
  }
  // A vertical slider: End goes to the minimum.
  slider_->SetBounds(10, 10, 40, 150);
  uitest::PressKey(*slider_, VK_END);
  EXPECT_EQ(slider_->GetPosition(), 0);
  uitest::PressKey(*slider_, VK_HOME);
  EXPECT_EQ(slider_->GetPosition(), 10);
}

TEST_F(SliderTest, ClickOnTheTrenchJumpsThere) {
  // Usable length 200 - 11 from x = 5; the middle is value 5.
  int got = 0;
  slider_->OnGetFocus = [&](TObject*) { ++got; };
  events_.clear();
  uitest::MouseDown(*slider_, 5 + 189 / 2, 20);
  EXPECT_EQ(events_, "tc");
  EXPECT_EQ(slider_->GetPosition(), 5);
  uitest::MouseUp(*slider_, 5 + 189 / 2, 20);
  EXPECT_EQ(events_, "tce");
  Application->ProcessMessages();
  EXPECT_EQ(got, 1);  // a press takes the focus
  uitest::Click(*slider_, 199, 20);
  EXPECT_EQ(slider_->GetPosition(), 10);
  uitest::Click(*slider_, 0, 20);
  EXPECT_EQ(slider_->GetPosition(), 0);
}

TEST_F(SliderTest, DragFollowsThePointerAndEndsOnce) {
  slider_->SetMinMax(0, 999999999);  // the player's position in milliseconds
  slider_->SetPosition(0);
  TPoint c = ThumbCentre();
  events_.clear();
  uitest::MouseDown(*slider_, c.X, c.Y);
  EXPECT_TRUE(slider_->Dragging());
  uitest::MouseMove(*slider_, c.X + 63, c.Y, true);  // a third of the usable 189 pixels
  EXPECT_EQ(slider_->GetPosition(), 333333333);
  uitest::MouseMove(*slider_, c.X + 500, c.Y, true);
  EXPECT_EQ(slider_->GetPosition(), 999999999);
  uitest::MouseMove(*slider_, c.X - 500, c.Y, true);
  EXPECT_EQ(slider_->GetPosition(), 0);
  uitest::MouseUp(*slider_, c.X - 500, c.Y);
  EXPECT_FALSE(slider_->Dragging());
  EXPECT_EQ(std::count(events_.begin(), events_.end(), 'e'), 1);
  EXPECT_EQ(events_.back(), 'e');
  EXPECT_EQ(events_.front(), 't');
  // The thumb sits at the end for the largest value, without overflow.
  slider_->SetPosition(999999999);
  slider_->Repaint();
  EXPECT_EQ(slider_->ThumbRect().Right, 200 - slider_->BevelExtend());
}

TEST_F(SliderTest, FocusBlinksTheThumbWithItsTimer) {
  int got = 0, lost = 0;
  slider_->OnGetFocus = [&](TObject*) { ++got; };
  slider_->OnLostFocus = [&](TObject*) { ++lost; };
  slider_->SetFocusAction(faFocusThumb);
  slider_->SetFocus();
  Application->ProcessMessages();
  EXPECT_EQ(got, 1);
  EXPECT_FALSE(slider_->Blink());
  clock_.AdvanceMillis(500);
  Application->ProcessMessages();
  EXPECT_TRUE(slider_->Blink());
  clock_.AdvanceMillis(500);
  Application->ProcessMessages();
  EXPECT_FALSE(slider_->Blink());
  auto* other = new TMMSlider(&form_);
  other->SetParent(&form_);
  other->SetBounds(10, 100, 200, 40);
  other->SetFocus();
  Application->ProcessMessages();
  EXPECT_EQ(lost, 1);
  clock_.AdvanceMillis(500);
  Application->ProcessMessages();
  EXPECT_FALSE(slider_->Blink());  // the timer went with the focus
}

TEST_F(SliderTest, PaintedStates) {
  // The thumb of the default slider: a frame in the window-frame colour around face colour.
  slider_->SetPosition(0);
  TPoint c = ThumbCentre();
  EXPECT_EQ(uitest::RenderedPixel(*slider_, c.X, c.Y), ColorToRGB(clBtnFace));
  TRect t = slider_->ThumbRect();
  EXPECT_EQ(uitest::RenderedPixel(*slider_, t.Left, c.Y), clBlack);
  uitest::SaveScreenshot(*slider_, "slider_plain");
  slider_->Scale().SetVisible(true);
  slider_->SetBounds(10, 10, 200, 60);
  slider_->SetPosition(7);
  int got = 0;
  slider_->OnGetFocus = [&](TObject*) { ++got; };
  slider_->SetFocus();
  Application->ProcessMessages();
  EXPECT_EQ(got, 1);
  // The focus rectangle: every other pixel inverted, one out from the inside (a border ring
  // without an inner bevel).
  const int e = slider_->BevelExtend() - 1;
  const TColor ring = uitest::RenderedPixel(*slider_, e, e + 1);
  EXPECT_EQ(uitest::RenderedPixel(*slider_, e, e + 2), TColor(ColorToRGB(ring) ^ 0xFFFFFF));
  uitest::SaveScreenshot(*slider_, "slider_scale_focused");
  slider_->SetScalePosition(spBoth);
  slider_->Scale().SetStyle(stLowered);
  slider_->SetBounds(10, 10, 70, 180);
  uitest::SaveScreenshot(*slider_, "slider_vertical_both_scales");
  slider_->SetEnabled(false);
  slider_->SetBounds(10, 10, 200, 40);
  slider_->Scale().SetVisible(false);
  t = slider_->ThumbRect();
  slider_->Repaint();
  t = slider_->ThumbRect();
  EXPECT_EQ(uitest::RenderedPixel(*slider_, t.Left + 2, t.Top + 2), clWhite);  // checkerboard
  uitest::SaveScreenshot(*slider_, "slider_disabled");
  // Owner-drawn thumb and groove.
  slider_->SetEnabled(true);
  bool thumb = false, groove = false;
  slider_->SetThumbStyle(tsOwnerDraw);
  slider_->SetGrooveStyle(gsOwnerDraw);
  slider_->OnDrawThumb = [&](TObject*, TCanvas& cv, const TRect& r, bool, bool) {
    thumb = true;
    cv.Brush().Color = clRed;
    cv.FillRect(r);
  };
  slider_->OnDrawGroove = [&](TObject*, TCanvas&, const TRect&) { groove = true; };
  slider_->Repaint();
  EXPECT_TRUE(thumb && groove);
  c = ThumbCentre();
  EXPECT_EQ(uitest::RenderedPixel(*slider_, c.X, c.Y), clRed);
  uitest::SaveScreenshot(form_, "slider_form");
}

TEST_F(SliderTest, ScaleStylesScreenshot) {
  const TMMScaleStyle styles[] = {stColor, stLowered, stRaised};
  for (int i = 0; i < 3; ++i) {
    auto* s = new TMMSlider(&form_);
    s->SetParent(&form_);
    s->SetBounds(220, 10 + 60 * i, 70, 55);
    s->Scale().SetVisible(true);
    s->Scale().SetStyle(styles[i]);
    s->SetColor(clSilver);
  }
  slider_->Scale().SetVisible(true);
  slider_->Scale().SetColor(clGreen);
  slider_->SetBounds(10, 10, 200, 60);
  uitest::SaveScreenshot(form_, "scale_styles");
}

}  // namespace

namespace {

TEST_F(SliderTest, EndPicturesShortenTheTrench) {
  TBitmap pic(8, 8);
  pic.Canvas().Brush().Color = clRed;
  pic.Canvas().FillRect(Rect(0, 0, 8, 8));
  pic.Canvas().SetPixel(0, 7, clWhite);  // the transparent colour: the bottom-left pixel
  slider_->PicLeft().Assign(&pic);
  slider_->PicRight().Assign(&pic);
  slider_->SetPosition(0);
  slider_->Repaint();
  const int e = slider_->BevelExtend();
  EXPECT_EQ(slider_->ThumbRect().Left, e + 8);
  slider_->SetPosition(10);
  slider_->Repaint();
  EXPECT_EQ(slider_->ThumbRect().Right, 200 - e - 8);
  // Each picture sits at its end, centred across, its transparent pixels left out.
  EXPECT_EQ(uitest::RenderedPixel(*slider_, e + 3, 20), clRed);
  EXPECT_EQ(uitest::RenderedPixel(*slider_, 200 - e - 3, 20), clRed);
  EXPECT_EQ(uitest::RenderedPixel(*slider_, e, 16 + 7), ColorToRGB(clWindow));
}

}  // namespace
