// The envelope editor driven with the mouse through the toolkit: double clicks add and delete
// points, clicks with Shift and Ctrl and the rubber band select, dragging keeps the points in
// order and in range; points travel through the clipboard; and its picture with a selection.
#include "mmenvelp.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "controls_fixture.h"
#include "ui_form.h"
#include "ui_testing.h"

using namespace vant;

namespace {

// Reaches the focus-loss handler a window's focus change calls.
struct ExitableEnvelope : TMMEnvelope {
  using TMMEnvelope::DoExit;
  using TMMEnvelope::TMMEnvelope;
};

using Pts = std::vector<std::pair<int32_t, int32_t>>;

class EnvelopeTest : public ControlsTest {
 protected:
  void SetUp() override {
    ControlsTest::SetUp();
    form_.SetBounds(0, 0, 300, 160);
    env_ = new ExitableEnvelope(&form_);
    env_->SetParent(&form_);
    env_->SetBounds(10, 10, 205, 105);
    env_->Configure([](TMMMarkerGeometry& g) { g.UseLocator = false; });
    form_.Show();
  }
  // Puts exactly these points in (the first and last are the ends).
  void Set(const Pts& pts) {
    TMMEnvelopePointList& l = env_->Points();
    l.FreeAll();
    for (auto [p, v] : pts) l.AddObject(new TMMEnvelopePoint(p, v));
  }
  Pts Points() {
    Pts v;
    for (int32_t i = 0; i < env_->Count(); ++i)
      v.emplace_back(env_->Points().GetPoint(i)->Position, env_->Points().GetPoint(i)->Value);
    return v;
  }
  std::string Selection() {
    std::string s;
    for (int32_t i = 0; i < env_->Count(); ++i) s += env_->Points().GetSelected(i) ? 'x' : '.';
    return s;
  }
  int Px(int32_t v) { return env_->Geometry().X_ToPixel(v); }
  int Py(int32_t v) { return env_->Geometry().Y_ToPixel(v); }
  TForm form_{nullptr};
  ExitableEnvelope* env_ = nullptr;
};

TEST_F(EnvelopeTest, DoubleClicksAddAndDeletePoints) {
  Set({{0, 0}, {1000, 1000}});
  // Shift takes the value from the line; a plain double click the value under the pointer.
  uitest::DoubleClick(*env_, Px(250), Py(900), {ssShift});
  uitest::DoubleClick(*env_, Px(750), Py(100));
  const auto& g = env_->Geometry();
  ASSERT_EQ(Points(), (Pts{{0, 0},
                           {g.PixelTo_X(Px(250)), g.PixelTo_X(Px(250))},
                           {g.PixelTo_X(Px(750)), g.PixelTo_Y(Py(100))},
                           {1000, 1000}}));
  uitest::DoubleClick(*env_, Px(Points()[1].first), Py(Points()[1].second));
  EXPECT_EQ(env_->Count(), 3);
  uitest::DoubleClick(*env_, Px(0), Py(0));  // the ends are never deleted
  EXPECT_EQ(env_->Count(), 3);
}

TEST_F(EnvelopeTest, ClicksShiftAndCtrlSelect) {
  Set({{0, 500}, {200, 500}, {400, 500}, {600, 500}, {1000, 500}});
  const int row = Py(500);
  const struct {
    int32_t at;
    TShiftState keys;
    const char* selection;
  } steps[] = {
      {200, {}, ".x..."},     {600, {ssShift}, ".xxx."},  {400, {ssCtrl}, ".x.x."},
      {0, {ssCtrl}, "xx.x."}, {1000, {ssShift}, "xxxxx"},  // from the new anchor, point 0
      {400, {}, "..x.."},
  };
  for (const auto& s : steps) {
    uitest::MouseDown(*env_, Px(s.at), row, mbLeft, s.keys);
    uitest::MouseUp(*env_, Px(s.at), row);
    EXPECT_EQ(Selection(), s.selection) << s.at;
  }
  // A plain click on a point already selected keeps the others until the release.
  env_->Points().SelectAll(true);
  uitest::Click(*env_, Px(200), row);
  EXPECT_EQ(Selection(), ".x...");
}

TEST_F(EnvelopeTest, RubberBandSelectsTheEnclosedPoints) {
  Set({{0, 500}, {200, 800}, {400, 200}, {600, 800}, {1000, 500}});
  for (TMouseButton b : {mbLeft, mbRight}) {
    env_->Points().SelectAll(false);
    uitest::MouseDown(*env_, Px(150), Py(900), b);
    uitest::MouseMove(*env_, Px(650), Py(600), b == mbLeft);
    uitest::MouseUp(*env_, Px(650), Py(600), b);
    EXPECT_EQ(Selection(), ".x.x.") << b;  // the low point at 400 lies outside the band
  }
}

TEST_F(EnvelopeTest, DraggingStaysBetweenUnselectedNeighboursAndInRange) {
  Set({{0, 500}, {200, 500}, {300, 500}, {400, 500}, {1000, 500}});
  uitest::MouseDown(*env_, Px(300), Py(500));
  uitest::MouseMove(*env_, Px(900), Py(2000), true);
  uitest::MouseUp(*env_, Px(900), Py(2000));
  EXPECT_EQ(Points()[2], (std::pair<int32_t, int32_t>{399, 1000}));
  // Shift holds the position, Ctrl the value.
  uitest::MouseDown(*env_, Px(399), Py(1000));
  uitest::MouseMove(*env_, Px(250), Py(0), true, {ssShift});
  uitest::MouseUp(*env_, Px(250), Py(0));
  EXPECT_EQ(Points()[2].first, 399);
  EXPECT_EQ(Points()[2].second, 0);
  // The first point moves only up and down.
  uitest::MouseDown(*env_, Px(0), Py(500));
  uitest::MouseMove(*env_, Px(150), Py(700), true);
  uitest::MouseUp(*env_, Px(150), Py(700));
  EXPECT_EQ(Points()[0].first, 0);
  EXPECT_EQ(Points()[0].second, env_->Geometry().PixelTo_Y(Py(700)));
}

TEST_F(EnvelopeTest, PointsTravelThroughTheClipboard) {
  const uint32_t format = RegisterClipBoardType("TMMEnvelopePoint");
  TMMEnvelopePoint p(123, -45, true);
  ASSERT_TRUE(CopyObjectToClipboard(format, &p));
  std::unique_ptr<TObject> back(PasteObjectFromClipboard(format));
  auto* q = dynamic_cast<TMMEnvelopePoint*>(back.get());
  ASSERT_NE(q, nullptr);
  EXPECT_EQ(q->Position, 123);
  EXPECT_EQ(q->Value, -45);
  EXPECT_TRUE(q->Selected);
  EXPECT_EQ(PasteObjectFromClipboard(RegisterClipBoardType("TNothingHere")), nullptr);
}

TEST_F(EnvelopeTest, CursorOverPointsAndFocusLossEndsAPointDrag) {
  Set({{0, 500}, {500, 500}, {1000, 500}});
  uitest::MouseMove(*env_, Px(500), Py(500), false);
  EXPECT_EQ(env_->GetCursor(), LoadResCursor(1));
  uitest::MouseMove(*env_, Px(250), Py(200), false);
  EXPECT_EQ(env_->GetCursor(), LoadResCursor(22));

  int changes = 0;
  env_->OnChange = [&](TObject*) { ++changes; };
  uitest::MouseDown(*env_, Px(500), Py(500));
  uitest::MouseMove(*env_, Px(600), Py(500), true);
  changes = 0;
  env_->DoExit();
  EXPECT_GT(changes, 0);
  const Pts after = Points();
  uitest::MouseMove(*env_, Px(800), Py(500), true);  // the press is over
  EXPECT_EQ(Points(), after);
  EXPECT_NE(after[1].first, 500);
}

TEST_F(EnvelopeTest, PointSizeIsEvenAndLimited) {
  const struct { int32_t set, stored; } cases[] = {{7, 6}, {40, 20}, {1, 4}, {12, 12}};
  for (const auto& c : cases) {
    env_->SetPointSize(c.set);
    EXPECT_EQ(env_->GetPointSize(), c.stored) << c.set;
  }
}

TEST_F(EnvelopeTest, PictureWithASelection) {
  Set({{0, 200}, {250, 800}, {500, 400}, {750, 900}, {1000, 300}});
  env_->Configure([](TMMMarkerGeometry& g) { g.DrawGridX = g.DrawGridY = true; });
  env_->Points().SetSelected(2, true);
  EXPECT_EQ(uitest::RenderedPixel(*env_, Px(500), Py(400)), clBlack);  // the selected square
  EXPECT_EQ(uitest::RenderedPixel(*env_, Px(250) + 1, Py(800) + 1), clWhite);
  uitest::SaveScreenshot(*env_, "envelope_selection");
}

TEST_F(EnvelopeTest, OwnerDrawnPointsDrawOnTheOffScreenPicture) {
  Set({{0, 500}, {500, 500}, {1000, 500}});
  env_->SetKind(ekOwnerDraw);
  env_->Points().SetSelected(1, true);
  env_->OnDrawPoint = [&](TObject*, TCanvas& canvas, TRect& r, bool sel) {
    auto* dib = dynamic_cast<TMMDIBCanvas*>(&canvas);
    ASSERT_TRUE(dib && dib->Drawing());
    dib->DIB_SetTColor(sel ? clRed : clBlue);
    dib->DIB_FILLRECT(r);
  };
  EXPECT_EQ(uitest::RenderedPixel(*env_, Px(500), Py(500)), clRed);
  EXPECT_EQ(uitest::RenderedPixel(*env_, Px(0) + 1, Py(500)), clBlue);
}

}  // namespace
