#include "g32_layers.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using namespace g32;

// A layer that takes the mouse only inside a rectangle and records what reaches it.
class BoxLayer : public TCustomLayer {
 public:
  using TCustomLayer::TCustomLayer;
  TRect Box{0, 0, 64, 64};
  std::vector<std::string>* Log = nullptr;
  bool DoHitTest(int X, int Y) override { return PtInRect(Box, {X, Y}); }
  void Notification(TCustomLayer*) override {
    if (Log) Log->push_back("notified");
  }
};

struct Fixture {
  TObject owner;
  TLayerCollection layers{&owner};
  std::vector<TCursor> cursors;
  int changes = 0, gdi = 0;
  Fixture() {
    layers.GetOwnerCursor = [] { return TCursor(-21); };
    layers.SetShownCursor = [this](TCursor c) { cursors.push_back(c); };
    layers.OnChange = [this](TObject*) { ++changes; };
    layers.OnGDIUpdate = [this](TObject*) { ++gdi; };
  }
  BoxLayer* Box(TRect r, uint32_t options = LOB_VISIBLE | LOB_MOUSE_EVENTS) {
    auto* l = layers.Add<BoxLayer>();
    l->Box = r;
    l->SetLayerOptions(options);
    return l;
  }
};

TEST(Layers, EmptyCollectionRoutesNothingAndShowsTheOwnersCursor) {
  Fixture f;
  EXPECT_EQ(f.layers.MouseDown(mbLeft, 0, 5, 5), nullptr);
  EXPECT_EQ(f.layers.MouseMove(0, 6, 6), nullptr);
  EXPECT_EQ(f.layers.MouseMove(0, 7, 7), nullptr);
  EXPECT_EQ(f.layers.MouseUp(mbLeft, 0, 7, 7), nullptr);
  EXPECT_EQ(f.cursors, (std::vector<TCursor>{-21, -21}));
}

TEST(Layers, HitTestingFromTheTopWithMaskAndHandler) {
  Fixture f;
  BoxLayer* bottom = f.Box({0, 0, 64, 64});
  BoxLayer* top = f.Box({32, 32, 96, 96});
  EXPECT_EQ(f.layers.FindLayerAtPos(40, 40, LOB_MOUSE_EVENTS), top);
  EXPECT_EQ(f.layers.FindLayerAtPos(10, 10, LOB_MOUSE_EVENTS), bottom);
  EXPECT_EQ(f.layers.FindLayerAtPos(63, 63, LOB_VISIBLE), top);
  EXPECT_EQ(f.layers.FindLayerAtPos(64, 0, LOB_MOUSE_EVENTS), nullptr);
  EXPECT_EQ(f.layers.FindLayerAtPos(40, 40, LOB_GDI_OVERLAY), nullptr);
  top->OnHitTest = [](TObject*, int, int, bool& passed) { passed = false; };
  EXPECT_EQ(f.layers.FindLayerAtPos(40, 40, LOB_MOUSE_EVENTS), bottom);
  bottom->BringToFront();
  EXPECT_EQ(bottom->GetIndex(), 1);
  EXPECT_EQ(f.layers.Items(1), bottom);
  bottom->SetIndex(-7);
  EXPECT_EQ(bottom->GetIndex(), 0);
  EXPECT_THROW(f.layers.Items(2), EListError);
  EXPECT_THROW(f.layers.SetItems(0, top), EConvertError);
}

TEST(Layers, MouseRoutingAndListener) {
  Fixture f;
  BoxLayer* a = f.Box({0, 0, 50, 50});
  BoxLayer* b = f.Box({60, 0, 100, 50}, LOB_VISIBLE | LOB_MOUSE_EVENTS | LOB_NO_CAPTURE);
  a->Cursor = 5;
  std::vector<std::string> log;
  a->OnMouseDown = [&](TObject*, TMouseButton, TShiftState, int x, int) {
    log.push_back("a down " + std::to_string(x));
  };
  a->OnMouseMove = [&](TObject*, TShiftState, int x, int) {
    log.push_back("a move " + std::to_string(x));
  };
  a->OnMouseUp = [&](TObject*, TMouseButton, TShiftState, int x, int) {
    log.push_back("a up " + std::to_string(x));
  };
  b->OnMouseDown = [&](TObject*, TMouseButton, TShiftState, int, int) { log.push_back("b down"); };

  EXPECT_EQ(f.layers.MouseDown(mbLeft, 0, 10, 10), a);
  EXPECT_EQ(f.layers.GetMouseListener(), a);
  EXPECT_EQ(a->LayerStates, unsigned(lsMouseLeft));
  // Held: moves go to the listener even outside it.
  EXPECT_EQ(f.layers.MouseMove(0, 70, 10), a);
  EXPECT_EQ(f.cursors.back(), 5);
  EXPECT_EQ(f.layers.MouseUp(mbLeft, 0, 70, 10), a);
  EXPECT_EQ(f.layers.GetMouseListener(), nullptr);
  EXPECT_EQ(f.cursors.back(), crDefault);

  // A left press on a no-capture layer does not make it the listener (nor reach it).
  EXPECT_EQ(f.layers.MouseDown(mbLeft, 0, 70, 10), b);
  EXPECT_EQ(f.layers.GetMouseListener(), nullptr);
  // A right press captures nothing either.
  EXPECT_EQ(f.layers.MouseDown(mbRight, 0, 10, 10), a);
  EXPECT_EQ(f.layers.GetMouseListener(), nullptr);
  EXPECT_EQ(log, (std::vector<std::string>{"a down 10", "a move 70", "a up 70"}));

  // Switching mouse events off releases the listener and clears its button states.
  f.layers.MouseDown(mbLeft, 0, 10, 10);
  f.layers.SetMouseEvents(false);
  EXPECT_EQ(f.layers.GetMouseListener(), nullptr);
  EXPECT_EQ(a->LayerStates, 0u);
}

TEST(Layers, ChangePropagationAndUpdateBrackets) {
  Fixture f;
  BoxLayer* l = f.Box({0, 0, 1, 1});
  f.changes = 0;
  l->Changed();
  EXPECT_EQ(f.changes, 1);
  l->SetLayerOptions(LOB_GDI_OVERLAY);  // invisible overlay: a GDI update instead
  f.changes = 0;
  f.gdi = 0;
  l->Changed();
  EXPECT_EQ(f.changes, 0);
  EXPECT_EQ(f.gdi, 1);
  l->SetLayerOptions(LOB_VISIBLE | LOB_NO_UPDATE);
  f.changes = 0;
  l->Changed();
  EXPECT_EQ(f.changes, 0);

  f.layers.BeginUpdate();
  f.layers.Changed();
  EXPECT_EQ(f.changes, 0);
  f.layers.EndUpdate();  // back at 0: the change
  EXPECT_EQ(f.changes, 1);
  EXPECT_THROW(f.layers.EndUpdate(), EAssertionFailed);
  EXPECT_EQ(f.layers.UpdateCount(), 0);
}

TEST(Layers, DestructionNotifiesAndLeavesTheCollection) {
  Fixture f;
  std::vector<std::string> log;
  BoxLayer* a = f.Box({0, 0, 1, 1});
  BoxLayer* watcher = f.Box({0, 0, 1, 1});
  watcher->Log = &log;
  a->AddNotification(watcher);
  EXPECT_TRUE(a->HasNotifications());
  a->OnDestroy = [&](TObject*) { log.push_back("destroy"); };
  f.layers.MouseDown(mbLeft, 0, 0, 0);  // watcher is on top: it becomes the listener
  EXPECT_EQ(f.layers.GetMouseListener(), watcher);
  f.layers.Delete(0);
  EXPECT_EQ(log, (std::vector<std::string>{"destroy", "notified"}));
  EXPECT_EQ(f.layers.Count(), 1);

  TLayerCollection other(nullptr);
  watcher->SetLayerCollection(&other);  // moving clears the old listener
  EXPECT_EQ(f.layers.GetMouseListener(), nullptr);
  EXPECT_EQ(f.layers.Count(), 0);
  EXPECT_EQ(watcher->GetIndex(), 0);

  TLayerCollection empty(nullptr);
  EXPECT_NO_THROW(f.layers.Assign(empty));
  EXPECT_THROW(f.layers.Assign(other), EConvertError);
  other.Insert<BoxLayer>(0);
  EXPECT_EQ(other.Items(0)->GetIndex(), 0);
  EXPECT_EQ(other.Count(), 2);
  other.Clear();
  EXPECT_EQ(other.Count(), 0);
}

TEST(Layers, AFailedAssignLeavesTheFirstLayerMadeForTheSource) {
  struct {
    const char* name;
    std::function<void(TLayerCollection&)> fill;
    std::function<bool(TCustomLayer*)> isFirstsClass;
  } cases[] = {
      {"bitmap layer first",
       [](TLayerCollection& c) {
         c.Add<TBitmapLayer>();
         c.Add<TPositionedLayer>();
       },
       [](TCustomLayer* l) { return dynamic_cast<TBitmapLayer*>(l) != nullptr; }},
      {"rubber band alone", [](TLayerCollection& c) { c.Add<TRubberbandLayer>(); },
       [](TCustomLayer* l) { return dynamic_cast<TRubberbandLayer*>(l) != nullptr; }},
      {"plain layer first",
       [](TLayerCollection& c) {
         c.Add<TCustomLayer>();
         c.Add<TRubberbandLayer>();
       },
       [](TCustomLayer* l) { return dynamic_cast<TPositionedLayer*>(l) == nullptr; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f;
    f.Box({0, 0, 8, 8});
    f.Box({0, 0, 9, 9});
    TLayerCollection source(nullptr);
    c.fill(source);
    f.changes = 0;
    EXPECT_THROW(f.layers.Assign(source), EConvertError);
    ASSERT_EQ(f.layers.Count(), 1);  // the old layers are gone, one new layer stays
    EXPECT_TRUE(c.isFirstsClass(f.layers.Items(0)));
    EXPECT_EQ(f.layers.Items(0)->GetLayerCollection(), &f.layers);
    EXPECT_EQ(f.changes, 1);  // one bracket, closed despite the failure
    f.layers.BeginUpdate();
    EXPECT_NO_THROW(f.layers.EndUpdate());
    EXPECT_THROW(f.layers.EndUpdate(), EAssertionFailed);
  }
}

}  // namespace
