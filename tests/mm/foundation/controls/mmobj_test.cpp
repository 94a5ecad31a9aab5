#include "mmobj.h"

#include <gtest/gtest.h>

#include <thread>

#include "controls_fixture.h"
#include "ui_form.h"
#include "ui_stdctrls.h"
#include "ui_testing.h"

using namespace vant;

namespace {

struct Counts {
  int changing = 0, change = 0;
  void Watch(TMMObject& o) {
    o.OnChanging = [this](TObject*) { ++changing; };
    o.OnChange = [this](TObject*) { ++change; };
  }
};

TEST(MMObject, OneNotificationPairPerOutermostBracket) {
  TMMBevel b;
  Counts n;
  n.Watch(b);
  b.BeginUpdate();
  b.BeginUpdate();
  b.SetBorderWidth(2);
  b.BeginUpdate();
  b.SetBorderSpace(1);
  b.SetBevelInner(bvRaised);
  b.EndUpdate();
  b.SetBorderStyle(bsSingle);
  b.SetColors(0, clRed);
  b.EndUpdate();
  EXPECT_EQ(n.changing, 1);
  EXPECT_EQ(n.change, 0);
  b.EndUpdate();
  EXPECT_EQ(n.changing, 1);
  EXPECT_EQ(n.change, 1);
  // A bracket with no change still fires both.
  b.BeginUpdate();
  b.EndUpdate();
  EXPECT_EQ(n.changing, 2);
  EXPECT_EQ(n.change, 2);
  // A change outside a bracket fires OnChange alone; setting the same value fires nothing.
  b.SetBorderWidth(3);
  b.SetBorderWidth(3);
  EXPECT_EQ(n.change, 3);
}

TEST(MMObject, ExtraEndUpdateDoesNotSilenceTheObject) {
  TMMBevel b;
  Counts n;
  n.Watch(b);
  b.EndUpdate();
  b.EndUpdate();
  EXPECT_EQ(b.UpdateCount(), 0);
  b.SetBorderWidth(5);
  EXPECT_EQ(n.change, 1);
  b.BeginUpdate();
  b.EndUpdate();
  EXPECT_EQ(n.change, 2);
}

TEST(MMBevel, ExtentCountsEveryRingButSkipsNoneCuts) {
  struct Case {
    const char* what;
    void (*set)(TMMBevel&);
    int extent;
  } cases[] = {
      {"default", [](TMMBevel&) {}, 1},
      {"inner space 3", [](TMMBevel& b) { b.SetBevelInner(bvSpace), b.SetBevelInnerWidth(3); }, 4},
      {"single border",
       [](TMMBevel& b) {
         b.SetBorderStyle(bsSingle), b.SetBevelOuterWidth(7), b.SetBorderWidth(2);
       },
       10},
      {"all off", [](TMMBevel& b) { b.SetBevelOuter(bvNone), b.SetBevelOuterWidth(9); }, 0},
      {"progress frame",
       [](TMMBevel& b) {
         b.SetBevelInner(bvLowered), b.SetBevelInnerWidth(2), b.SetBevelOuterWidth(4),
             b.SetBorderWidth(4);
       },
       10},
      {"space ring", [](TMMBevel& b) { b.SetBorderSpace(2); }, 3},
  };
  for (const auto& c : cases) {
    TMMBevel b;
    c.set(b);
    EXPECT_EQ(b.GetBevelExtend(), c.extent) << c.what;
  }
}

class BevelPaint : public ControlsTest {};

TEST_F(BevelPaint, DefaultBevelIsAOnePixelLoweredEdge) {
  TBitmap bmp(6, 5);
  bmp.Canvas().Brush().Color = clRed;
  bmp.Canvas().FillRect(Rect(0, 0, 6, 5));
  TMMBevel b;
  TRect inner = b.PaintBevel(bmp.Canvas(), Rect(0, 0, 6, 5), true);
  EXPECT_EQ(inner, Rect(1, 1, 5, 4));
  // s: shadow (top, left), h: highlight (bottom, right, both far corners).
  EXPECT_EQ(Pixels(bmp, Rect(0, 0, 6, 5), clGray, 's', clWhite, 'h'),
            "sssssh\n"
            "s....h\n"
            "s....h\n"
            "s....h\n"
            "hhhhhh\n");
}

TEST_F(BevelPaint, SpaceRingsAndUnpaintedBordersKeepTheirPixels) {
  // An inner bvSpace ring counts in the extent but neither paints nor shrinks.
  TBitmap a(10, 10), plain(10, 10);
  TMMBevel spaced;
  spaced.SetBevelInner(bvSpace);
  spaced.SetBevelInnerWidth(3);
  TMMBevel normal;
  EXPECT_EQ(spaced.PaintBevel(a.Canvas(), Rect(0, 0, 10, 10), true),
            normal.PaintBevel(plain.Canvas(), Rect(0, 0, 10, 10), true));
  EXPECT_EQ(Pixels(a, Rect(0, 0, 10, 10), clWhite, '.', clGray, 's'),
            Pixels(plain, Rect(0, 0, 10, 10), clWhite, '.', clGray, 's'));

  // PaintBorder false: a 4-pixel ring left as it was, the same rectangle returned.
  TBitmap with(12, 12), without(12, 12);
  without.Canvas().Brush().Color = clYellow;
  without.Canvas().FillRect(Rect(0, 0, 12, 12));
  TMMBevel border;
  border.SetBorderWidth(4);
  border.SetBorderColor(clBlue);
  TRect r1 = border.PaintBevel(with.Canvas(), Rect(0, 0, 12, 12), true);
  TRect r2 = border.PaintBevel(without.Canvas(), Rect(0, 0, 12, 12), false);
  EXPECT_EQ(r1, r2);
  EXPECT_EQ(r1, Rect(5, 5, 7, 7));
  for (int i = 1; i <= 4; ++i) {
    EXPECT_EQ(with.Canvas().GetPixel(i, 6), clBlue) << i;
    EXPECT_EQ(without.Canvas().GetPixel(i, 6), clYellow) << i;
  }
}

TEST_F(BevelPaint, RaisedRingsSingleBorderAndSpaceFromOutsideIn) {
  TBitmap bmp(9, 9);
  TMMBevel b;
  b.SetBorderStyle(bsSingle);
  b.SetBevelOuter(bvRaised);
  b.SetBorderSpace(1);
  b.SetBorderSpaceColor(clRed);
  TRect r = b.PaintBevel(bmp.Canvas(), Rect(0, 0, 9, 9), true);
  EXPECT_EQ(r, Rect(3, 3, 6, 6));
  EXPECT_EQ(bmp.Canvas().GetPixel(0, 4), clBlack);  // clWindowFrame
  EXPECT_EQ(bmp.Canvas().GetPixel(1, 4), clWhite);  // raised: light on the left
  EXPECT_EQ(bmp.Canvas().GetPixel(7, 4), clGray);   // and shadow on the right
  EXPECT_EQ(bmp.Canvas().GetPixel(2, 4), clRed);    // the space ring
  EXPECT_EQ(bmp.Canvas().GetPixel(4, 4), clWhite);  // untouched inside
}

TEST(MMBevel, AssignCopiesAsOneChangeAndRefusesItself) {
  TMMBevel a, b;
  b.SetBevelInner(bvRaised);
  b.SetBorderWidth(3);
  b.SetOuterShadowColor(clRed);
  Counts n;
  n.Watch(a);
  a.Assign(&b);
  EXPECT_EQ(n.change, 1);
  EXPECT_EQ(a.GetBevelInner(), bvRaised);
  EXPECT_EQ(a.GetBorderWidth(), 3);
  EXPECT_EQ(a.GetOuterShadowColor(), clRed);
  a.Assign(&b);  // equal: still one change
  EXPECT_EQ(n.change, 2);
  EXPECT_THROW(a.Assign(&a), vant::EConvertError);
  TFont f;
  EXPECT_THROW(a.Assign(&f), vant::EConvertError);
  // An index outside 0..5 stores nothing and still signals.
  a.SetColors(6, clLime);
  EXPECT_EQ(n.change, 3);
  for (int i = 0; i < 6; ++i) EXPECT_NE(a.GetColors(i), clLime);
}

class BasesTest : public ControlsTest {};

TEST_F(BasesTest, TransparentControlPaintsItsBevelButNotItsBackground) {
  TForm form(nullptr);
  form.SetBounds(0, 0, 40, 20);
  form.SetColor(clYellow);
  auto* c = new TMMGraphicControl(&form);
  c->SetParent(&form);
  c->SetBounds(0, 0, 20, 20);
  c->SetColor(clBlue);
  auto* t = new TMMGraphicControl(&form);
  t->SetParent(&form);
  t->SetBounds(20, 0, 20, 20);
  t->SetColor(clBlue);
  t->SetTransparent(true);
  form.Show();
  uitest::SaveScreenshot(form, "mm_foundation_transparent_control_paints_its_bevel_but_not_i");
  EXPECT_EQ(uitest::RenderedPixel(form, 10, 10), clBlue);
  EXPECT_EQ(uitest::RenderedPixel(form, 30, 10), clYellow);
  EXPECT_EQ(uitest::RenderedPixel(form, 20, 10), clGray);  // the bevel's left edge
  EXPECT_EQ(uitest::RenderedPixel(form, 39, 10), clWhite);
  EXPECT_EQ(t->BeveledRect(), Rect(1, 1, 19, 19));
  TPoint p = t->ClientToClient(c, {5, 5});
  EXPECT_EQ(p, (TPoint{-15, 5}));
}

TEST_F(BasesTest, DesignStateSwitchesWithOwnedComponents) {
  TMMComponent root(nullptr);
  auto* child = new TMMNonVisualComponent(&root);
  root.DesigningChanged(true);
  EXPECT_TRUE(child->HasState(csDesigning));
  root.DesigningChanged(false);
  EXPECT_FALSE(child->HasState(csDesigning));
}

TEST(MMCriticalSection, TryEnterIsARealTry) {
  TMMCriticalSection cs;
  EXPECT_TRUE(cs.TryEnter());
  EXPECT_TRUE(cs.TryEnter());  // the holder may enter again
  EXPECT_EQ(cs.LockCount(), 2);
  bool other = true;
  std::thread([&] { other = cs.TryEnter(); }).join();
  EXPECT_FALSE(other);
  EXPECT_EQ(cs.LockCount(), 2);
  cs.Release();
  cs.Release();
  std::thread([&] {
    other = cs.TryEnter();
    if (other) cs.Release();
  }).join();
  EXPECT_TRUE(other);
  EXPECT_EQ(cs.LockCount(), 0);
}

TEST(MMObjUnit, DeviceIdentifiersAndResources) {
  std::string ident;
  ASSERT_TRUE(DeviceIdToIdent(-1, ident));
  EXPECT_EQ(ident, "MapperId");
  TMMDeviceId id = 0;
  ASSERT_TRUE(IdentToDeviceId(ident, id));
  EXPECT_EQ(id, -1);
  EXPECT_TRUE(IdentToDeviceId("INVALIDID", id));
  EXPECT_EQ(id, -2);
  EXPECT_FALSE(IdentToDeviceId("Mapper", id));
  EXPECT_FALSE(DeviceIdToIdent(0, ident));
  EXPECT_EQ(LoadResCursor(5), 2005);
  EXPECT_EQ(LoadResCursor(31), 2031);
  EXPECT_EQ(LoadResCursor(40), crDefault);
  EXPECT_EQ(LoadResStr(60), "Change to property while device was open");
  EXPECT_FALSE(InheritsFromEx<TMMBevel>(nullptr));
  TMMBevel b;
  EXPECT_TRUE(InheritsFromEx<TMMObject>(&b));
}

TEST(MMThreadEx, RunsExecuteAfterConstructionAndStopsOnTerminate) {
  struct Worker : TMMThreadEx {
    std::atomic<int> loops{0};
    Worker() : TMMThreadEx(true) {}
    ~Worker() override {
      Terminate();
      WaitFor();
    }
    void Execute() override {
      while (!Terminated()) ++loops;
    }
  };
  Worker w;
  EXPECT_EQ(w.loops, 0);
  w.Resume();
  while (w.loops == 0) std::this_thread::yield();
  w.Terminate();
  EXPECT_TRUE(w.WaitFor(5000));
  EXPECT_TRUE(w.Finished());
}

}  // namespace
