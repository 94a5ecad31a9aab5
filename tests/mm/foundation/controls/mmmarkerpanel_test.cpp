// The marker panel driven with the mouse through the toolkit: clicking moves the locator and
// drags it on, markers A and B are dragged alone or as a pair, list markers are dropped where the
// help locator shows; and its picture with every kind of mark.
#include "mmmarkerpanel.h"

#include <gtest/gtest.h>

#include <QImage>

#include "controls_fixture.h"
#include "ui_form.h"
#include "ui_testing.h"

using namespace vant;

namespace {

// Reaches the focus-loss handler a window's focus change calls.
struct ExitablePanel : TMMMarkerPanel {
  using TMMMarkerPanel::DoExit;
  using TMMMarkerPanel::TMMMarkerPanel;
};

TMMMarker Blue(int32_t offset, const std::string& name, int32_t id = 0, int32_t partner = 0) {
  TMMMarker m;
  m.Visible = true;
  m.Color = clBlue;
  m.Offset = offset;
  m.Name.Assign(name);
  m.ID = id;
  m.ConnectedID = partner;
  return m;
}

class MarkerPanelTest : public ControlsTest {
 protected:
  void SetUp() override {
    ControlsTest::SetUp();
    form_.SetBounds(0, 0, 300, 120);
    panel_ = new ExitablePanel(&form_);
    panel_->SetParent(&form_);
    panel_->SetBounds(10, 10, 205, 60);
    panel_->OnTrackBegin = [this](TObject*) { events_ += 'b'; };
    panel_->OnTrack = [this](TObject*) { events_ += 't'; };
    panel_->OnTrackEnd = [this](TObject*) { events_ += 'e'; };
    form_.Show();
  }
  void TearDown() override {
    panel_->OnTrackBegin = panel_->OnTrack = panel_->OnTrackEnd = nullptr;
    panel_->SetMarkerList(nullptr);
    ControlsTest::TearDown();
  }
  int Px(int32_t v) { return panel_->Geometry().X_ToPixel(v); }
  void Drag(int from, int to, TMouseButton b = mbLeft) {
    uitest::MouseDown(*panel_, from, 30, b);
    uitest::MouseMove(*panel_, to, 30, b == mbLeft);
    uitest::MouseUp(*panel_, to, 30, b);
  }
  TForm form_{nullptr};
  ExitablePanel* panel_ = nullptr;
  std::string events_;
};

TEST_F(MarkerPanelTest, ClickOnAnEmptySpotMovesTheLocatorAndDragsItOn) {
  const int x = Px(300);
  uitest::MouseDown(*panel_, x, 30);
  EXPECT_EQ(panel_->Geometry().Locator, panel_->Geometry().PixelTo_X(x));
  uitest::MouseMove(*panel_, Px(600), 30, true);
  uitest::MouseUp(*panel_, Px(600), 30);
  EXPECT_EQ(panel_->Geometry().Locator, panel_->Geometry().PixelTo_X(Px(600)));
  EXPECT_EQ(events_, "bte");
}

TEST_F(MarkerPanelTest, RangeMarkersDragAloneAndAsAPair) {
  panel_->Configure([](TMMMarkerGeometry& g) { g.UseMarkers = true; });
  panel_->SetLocator(500);
  panel_->SetMarkerA(200);
  panel_->SetMarkerB(800);
  // Marker A may not pass the locator (corralled).
  Drag(Px(200), Px(700));
  EXPECT_LT(panel_->Geometry().MarkerA, 500);
  EXPECT_GE(panel_->Geometry().MarkerA, 490);
  EXPECT_EQ(panel_->Geometry().Locator, 500);
  // The right button on B moves both, keeping their distance.
  panel_->SetMarkerA(300);
  const int32_t span = panel_->Geometry().MarkerB - panel_->Geometry().MarkerA;
  Drag(Px(800), Px(900), mbRight);
  EXPECT_EQ(panel_->Geometry().MarkerB - panel_->Geometry().MarkerA, span);
  EXPECT_GT(panel_->Geometry().MarkerB, 800);
  EXPECT_LE(panel_->Geometry().MarkerA, 500);  // the pair still encloses the locator
}

TEST_F(MarkerPanelTest, ListMarkersDropAtTheHelpLocatorUnlessLocked) {
  TMMMarkerList list;
  list.Add(Blue(200, "intro"));
  TMMMarker locked = Blue(700, "fixed");
  locked.Locked = true;
  list.Add(locked);
  panel_->SetMarkerList(&list);
  panel_->Configure([](TMMMarkerGeometry& g) { g.UseLocator = false; });

  uitest::MouseMove(*panel_, Px(700), 30, false);
  EXPECT_EQ(panel_->GetHint(), "fixed");
  Drag(Px(700), Px(400));
  EXPECT_EQ(list.Get(1).Offset, 700);  // locked: not dragged
  EXPECT_EQ(events_, "");

  uitest::MouseDown(*panel_, Px(200), 30);
  uitest::MouseMove(*panel_, Px(900), 30, true);
  EXPECT_NEAR(panel_->Geometry().HelpLocator, 900, 5);
  uitest::MouseUp(*panel_, Px(900), 30);
  EXPECT_EQ(panel_->Geometry().HelpLocator, -1);
  EXPECT_EQ(list.Get(0).Offset, 700);  // re-sorted: the dropped marker is now last
  EXPECT_NEAR(list.Get(1).Offset, 900, 5);
  EXPECT_EQ(list.Get(1).Name.Str(), "intro");
  EXPECT_EQ(events_, "bte");
}

TEST_F(MarkerPanelTest, CursorOverMarksAndTheUsersElsewhere) {
  panel_->SetCursor(crCross);
  panel_->SetLocator(500);
  uitest::MouseMove(*panel_, Px(500), 30, false);
  EXPECT_EQ(panel_->GetCursor(), LoadResCursor(11));
  panel_->SetDrawGriff(true);
  uitest::MouseMove(*panel_, Px(500), 30, false);
  EXPECT_EQ(panel_->GetCursor(), LoadResCursor(1));
  uitest::MouseMove(*panel_, Px(100), 30, false);
  EXPECT_EQ(panel_->GetCursor(), crCross);
  // A cursor set from outside afterwards becomes the user's choice.
  panel_->SetCursor(crHandPoint);
  uitest::MouseMove(*panel_, Px(500), 30, false);
  uitest::MouseMove(*panel_, Px(100), 30, false);
  EXPECT_EQ(panel_->GetCursor(), crHandPoint);
}

TEST_F(MarkerPanelTest, HintSwitchFollowsTheMarksAndKeepsTheUsersChoice) {
  panel_->SetLocator(500);
  panel_->SetShowHint(true);
  uitest::MouseMove(*panel_, Px(500), 30, false);
  EXPECT_TRUE(panel_->GetShowHint());
  EXPECT_EQ(uitest::HintAt(*panel_, Px(500), 30), "Locator");
  // Nothing to say away from the marks: the hint is switched off, not shown empty.
  uitest::MouseMove(*panel_, Px(100), 30, false);
  EXPECT_FALSE(panel_->GetShowHint());
  EXPECT_EQ(uitest::HintAt(*panel_, Px(100), 30), "");
  uitest::MouseMove(*panel_, Px(500), 30, false);
  EXPECT_TRUE(panel_->GetShowHint()) << "the user's switch comes back over a mark";
  // A change the user makes over a mark is the user's new choice.
  panel_->SetShowHint(false);
  uitest::MouseMove(*panel_, Px(100), 30, false);
  uitest::MouseMove(*panel_, Px(500), 30, false);
  EXPECT_FALSE(panel_->GetShowHint());
  EXPECT_EQ(uitest::HintAt(*panel_, Px(500), 30), "");

  panel_->SetShowHint(true);
  panel_->SetDefaultHint("Wave");
  EXPECT_EQ(panel_->GetHint(), "Wave");
  uitest::MouseMove(*panel_, Px(100), 30, false);
  EXPECT_TRUE(panel_->GetShowHint());
  EXPECT_EQ(uitest::HintAt(*panel_, Px(100), 30), "Wave");
}

// DrawSolid and DrawGriff change the picture at once: the panel repaints without being asked.
TEST_F(MarkerPanelTest, DrawingSwitchesRepaint) {
  panel_->SetLocator(500);
  const int x = Px(500), e = panel_->Geometry().BevelExtent();
  auto shown = [&](int px, int py) {
    Application->ProcessMessages();
    const QImage* picture = panel_->LastPaint();
    return picture ? PixelToColor(picture->pixel(px, py)) : clNone;
  };
  const TColor back = shown(Px(600), 40);
  const TColor inverted = static_cast<TColor>(ColorToRGB(back) ^ ColorToRGB(clLime));
  EXPECT_EQ(shown(x, 40), inverted);
  panel_->SetDrawSolid(true);
  EXPECT_EQ(shown(x, 40), clLime);
  EXPECT_EQ(shown(x - 4, e + 5), back);  // no grip yet
  panel_->SetDrawGriff(true);
  EXPECT_EQ(shown(x - 4, e + 5), clLime);
  EXPECT_TRUE(panel_->GetDrawSolid() && panel_->GetDrawGriff() && panel_->GetAutoScroll());
}

TEST_F(MarkerPanelTest, FocusLossEndsADrag) {
  panel_->SetLocator(500);
  uitest::MouseDown(*panel_, Px(500), 30);
  uitest::MouseMove(*panel_, Px(600), 30, true);
  panel_->DoExit();
  EXPECT_EQ(events_, "bte");
  const int32_t at = panel_->Geometry().Locator;
  uitest::MouseMove(*panel_, Px(800), 30, true);  // no longer dragging
  EXPECT_EQ(panel_->Geometry().Locator, at);
}

TEST_F(MarkerPanelTest, AutoScrollMovesThePointerToTheDraggedValue) {
  panel_->SetMinMax(0, 500);
  panel_->SetLocator(400);
  uitest::MouseDown(*panel_, Px(400), 30);
  SetCursorPos(panel_->ClientToScreen({Px(500), 30}));
  uitest::MouseMove(*panel_, Px(500), 30, true);
  uitest::MouseUp(*panel_, Px(500), 30);
  const TMMMarkerGeometry& g = panel_->Geometry();
  ASSERT_GT(g.DispMinX, 0);  // scrolled
  EXPECT_EQ(GetCursorPos(), panel_->ClientToScreen({g.X_ToPixel(g.Locator), 30}));
}

TEST_F(MarkerPanelTest, RangeChangesAreNotReportedWhileLoading) {
  int reported = 0;
  panel_->OnRangeChanged = [&](TObject*, int32_t, int32_t) { ++reported; };
  panel_->SetLoading(true);
  panel_->SetMinMax(100, 600);
  EXPECT_EQ(reported, 0);
  panel_->SetLoading(false);
  panel_->SetMinMax(200, 700);
  EXPECT_EQ(reported, 1);
  EXPECT_EQ(panel_->Geometry().DispMinX, 200);
}

TEST_F(MarkerPanelTest, PictureWithMarksAndGrids) {
  TMMMarkerList list;
  list.Add(Blue(150, "", 1, 2));  // a pair
  list.Add(Blue(350, "", 2, 1));
  panel_->SetMarkerList(&list);
  panel_->Configure([](TMMMarkerGeometry& g) {
    g.UseMarkers = true;
    g.DrawGridX = g.DrawGridY = true;
  });
  panel_->SetLocator(500);
  panel_->SetMarkerA(250);
  panel_->SetMarkerB(750);
  panel_->SetDrawGriff(true);
  const TColor back = uitest::RenderedPixel(*panel_, Px(600), 40);
  // The locator inverts what lies under it: green over the face colour.
  EXPECT_EQ(uitest::RenderedPixel(*panel_, Px(500), 40),
            static_cast<TColor>(ColorToRGB(back) ^ ColorToRGB(clLime)));
  EXPECT_EQ(uitest::RenderedPixel(*panel_, Px(150), panel_->Geometry().BevelExtent() + 4),
            clBlue);  // the grip of a list marker
  uitest::SaveScreenshot(*panel_, "marker_panel");
}

}  // namespace
