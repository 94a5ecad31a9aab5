// TMMDesigner: the run-time height, the rule registry and its queries over components with link
// properties, and the lines and ports drawn on a canvas.
#include "mmdesign.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <utility>

#include "controls_fixture.h"
#include "ui_form.h"
#include "ui_stdctrls.h"

namespace vant {
namespace {

// A chain link with an Input and an Output, as the audio components have.
class TLink : public TComponent {
 public:
  using TComponent::TComponent;
  TComponent* input = nullptr;
  TComponent* output = nullptr;
};
class TSourceLink : public TLink {
  using TLink::TLink;
};

TLinkAccess InputOf() {
  return {[](TComponent* c) -> std::optional<TComponent*> {
            if (auto* l = dynamic_cast<TLink*>(c)) return l->input;
            return std::nullopt;
          },
          [](TComponent* c, TComponent* v) { dynamic_cast<TLink*>(c)->input = v; }};
}
TLinkAccess OutputOf() {
  return {[](TComponent* c) -> std::optional<TComponent*> {
            if (auto* l = dynamic_cast<TLink*>(c)) return l->output;
            return std::nullopt;
          },
          [](TComponent* c, TComponent* v) { dynamic_cast<TLink*>(c)->output = v; }};
}

class DesignerTest : public ControlsTest {
 protected:
  void TearDown() override {
    PropList().clear();
    ExcPropList().clear();
    ControlsTest::TearDown();
  }
  void RegisterLinks() {
    PropList().push_back(std::make_unique<TPropRec>(ptOutput, "Wave", ClassIs<TLink>(), "Output",
                                                    ClassIs<TLink>(), OutputOf()));
    PropList().push_back(std::make_unique<TPropRec>(ptInput, "Wave", ClassIs<TLink>(), "Input",
                                                    ClassIs<TLink>(), InputOf()));
  }
  // Two linked components on the form, a joined to b, their icons side by side on a picture
  // of 120 x 60; the picture is white.
  struct Joined {
    TLink* a;
    TLink* b;
  };
  Joined Join(TMMDesigner& d) {
    Joined j{new TLink(&form_), new TLink(&form_)};
    d.IconPositions[j.a] = {10, 10};
    d.IconPositions[j.b] = {70, 10};
    EXPECT_TRUE(d.Connect(j.a, j.b));
    d.RebuildLists();
    return j;
  }
  static TBitmap WhitePicture() {
    TBitmap bmp(120, 60);
    bmp.Canvas().Brush().Color = clWhite;
    bmp.Canvas().FillRect({0, 0, 120, 60});
    return bmp;
  }
  TForm form_{nullptr};
};

TEST_F(DesignerTest, RuntimeHeightSetsTheClientHeightOnlyWhenPositive) {
  for (int height : {-1, 0, 200}) {
    SCOPED_TRACE(height);
    TForm form(nullptr);
    form.SetBounds(0, 0, 300, 150);
    auto* d = new TMMDesigner(&form);
    d->SetRuntimeHeight(height);
    d->Loaded();
    EXPECT_EQ(form.ClientHeight(), height > 0 ? height : 150);
  }
}

TEST_F(DesignerTest, WorksOnlyOnAFormOrAFormsDataModule) {
  TComponent plain(nullptr);
  TMMDesigner stray(&plain);
  EXPECT_EQ(stray.Form(), nullptr);
  EXPECT_FALSE(stray.GetActive());
  stray.SetRuntimeHeight(200);
  stray.Loaded();  // nothing to resize

  TDataModule orphan(nullptr);
  EXPECT_EQ(TMMDesigner(&orphan).Form(), nullptr);
  auto* module = new TDataModule(&form_);
  EXPECT_EQ(TMMDesigner(module).Form(), &form_);
  // Without a design environment a second designer is not refused.
  new TMMDesigner(&form_);
  EXPECT_NO_THROW(new TMMDesigner(&form_));
}

TEST_F(DesignerTest, AnEmptyRegistryConnectsNothing) {
  auto* a = new TLink(&form_);
  auto* b = new TLink(&form_);
  TMMDesigner d(&form_);
  d.RebuildLists();
  EXPECT_FALSE(d.HasInput(a) || d.HasOutput(a) || d.HasInput(b) || d.HasOutput(b));
  EXPECT_FALSE(d.CanConnect(a, b));
  EXPECT_FALSE(d.Connect(a, b));
  EXPECT_EQ(d.FindProp(ptOutput, a, -1, b), -1);
  EXPECT_EQ(d.FindProp(ptInput, nullptr, -1, nullptr), -1);
}

TEST_F(DesignerTest, ConnectsFindsAndRemovesThroughTheRules) {
  RegisterLinks();
  auto* a = new TLink(&form_);
  auto* b = new TLink(&form_);
  auto* c = new TLink(&form_);
  auto* d = new TMMDesigner(&form_);
  EXPECT_EQ(d->FindProp(ptOutput, a, -1, b), 0);
  EXPECT_EQ(d->FindProp(ptInput, a, -1, b), 1);
  EXPECT_EQ(d->FindProp(ptOutput, a, 0, b), -1) << "the search starts after `start`";

  // The output rule comes first while a's Output is free.
  ASSERT_TRUE(d->Connect(a, b));
  EXPECT_EQ(a->output, b);
  // With a's Output taken, b's free Input wins over taking a's Output from b.
  ASSERT_TRUE(d->Connect(c, b));
  EXPECT_EQ(c->output, b);
  EXPECT_EQ(d->FindConnectProp(a, c), 1) << "c's Input is still free";
  ASSERT_TRUE(d->Connect(a, c));
  EXPECT_EQ(c->input, a);

  // What a feeds: through its own Output and through c's Input.
  std::vector<TComponent*> list;
  d->GetConnected(a, list);
  EXPECT_EQ(list, (std::vector<TComponent*>{b, c}));

  d->RebuildLists();
  EXPECT_TRUE(d->HasOutput(a) && d->HasInput(b));
  EXPECT_EQ(d->Connections().size(), 3u);
  c->input = nullptr;

  // b has no reference of its own: the first one that refers to it goes.
  EXPECT_TRUE(d->RemoveInput(b));
  EXPECT_EQ(a->output, nullptr);
  EXPECT_TRUE(d->RemoveOutput(c));
  EXPECT_EQ(c->output, nullptr);
  EXPECT_FALSE(d->RemoveOutput(c));

  // A hidden group and a refusing check take the rules away.
  d->HiddenGroups.insert("Wave");
  EXPECT_FALSE(d->CanConnect(a, b));
  d->HiddenGroups.clear();
  PropList()[0]->check = [](TComponent*, TComponent*) { return false; };
  EXPECT_EQ(d->FindConnectProp(a, b), 1);
}

TEST_F(DesignerTest, AMissingEndConnectsNothing) {
  RegisterLinks();
  auto* a = new TLink(&form_);
  TMMDesigner d(&form_);
  const std::pair<TComponent*, TComponent*> cases[] = {
      {nullptr, a}, {a, nullptr}, {nullptr, nullptr}};
  for (const auto& [out, in] : cases) {
    EXPECT_EQ(d.FindConnectProp(out, in), -1);
    EXPECT_FALSE(d.CanConnect(out, in));
    EXPECT_FALSE(d.Connect(out, in));
    EXPECT_EQ(d.FindRef(out, in), -1);
    EXPECT_FALSE(d.RemoveRef(out, in));
  }
  EXPECT_EQ(a->input, nullptr);
  EXPECT_EQ(a->output, nullptr);
  std::vector<std::pair<TComponent*, TComponent*>> joins{{a, a}};
  d.FindRefs(nullptr, joins);
  EXPECT_TRUE(joins.empty());
  EXPECT_EQ(d.RemoveRefs(nullptr), 0);
}

TEST_F(DesignerTest, FindsAndRemovesTheReferencesOfAComponent) {
  RegisterLinks();
  auto* a = new TLink(&form_);
  auto* b = new TLink(&form_);
  auto* c = new TLink(&form_);
  auto* d = new TMMDesigner(&form_);
  a->output = b;  // a feeds b through a's Output and b's Input
  b->input = a;
  c->input = a;   // a feeds c through c's Input only
  c->output = b;  // c feeds b
  EXPECT_EQ(d->FindRef(a, b), 0) << "a's Output comes first";
  EXPECT_EQ(d->FindRef(a, c), 1);
  EXPECT_EQ(d->FindRef(b, a), -1);
  using Joins = std::vector<std::pair<TComponent*, TComponent*>>;
  Joins joins;
  d->FindRefs(a, joins);
  EXPECT_EQ(joins, (Joins{{a, b}, {a, c}}));
  d->FindRefs(b, joins);
  EXPECT_EQ(joins, (Joins{{a, b}, {c, b}}));

  EXPECT_TRUE(d->RemoveRef(c, b));
  EXPECT_EQ(c->output, nullptr);
  EXPECT_FALSE(d->RemoveRef(c, b));
  EXPECT_EQ(d->RemoveRefs(a), 3);  // a's Output, b's Input and c's Input
  EXPECT_EQ(a->output, nullptr);
  EXPECT_EQ(b->input, nullptr);
  EXPECT_EQ(c->input, nullptr);
  EXPECT_EQ(d->RemoveRefs(a), 0);

  EXPECT_FALSE(d->GetShowButton());
  d->SetShowButton(true);
  EXPECT_TRUE(d->GetShowButton());
}

TEST_F(DesignerTest, ExceptionsForbidARuleBetweenTheirClasses) {
  RegisterLinks();
  auto* a = new TSourceLink(&form_);
  auto* b = new TLink(&form_);
  TMMDesigner d(&form_);
  ExcPropList().push_back(
      std::make_unique<TPropRec>(ptOutput, "", ClassIs<TSourceLink>(), "Output", TClassTest{}));
  EXPECT_TRUE(d.HasException(*PropList()[0], a, b));
  EXPECT_FALSE(d.HasException(*PropList()[0], b, a));
  EXPECT_EQ(d.FindProp(ptOutput, a, -1, b), -1);
  EXPECT_EQ(d.FindConnectProp(a, b), 1) << "the input rule still applies";
}

TEST_F(DesignerTest, LinesRunStraightOrAroundTheTarget) {
  const int kMax = std::numeric_limits<int>::max(), kMin = std::numeric_limits<int>::min();
  TMMDesigner d(&form_);
  using P = std::vector<TPoint>;
  struct Case {
    const char* what;
    TRect from, to;
    P path;
    int margin = 6;
  } cases[] = {
      {"target well to the right",
       {0, 0, 20, 20},
       {50, 40, 70, 60},
       P{{20, 10}, {44, 10}, {44, 50}, {50, 50}}},
      {"target below and behind: over its top",
       {50, 0, 70, 20},
       {0, 40, 20, 60},
       P{{70, 10}, {76, 10}, {76, 34}, {-6, 34}, {-6, 50}, {0, 50}}},
      {"target beside and behind: under its bottom",
       {50, 0, 70, 20},
       {0, 5, 20, 25},
       P{{70, 10}, {76, 10}, {76, 31}, {-6, 31}, {-6, 15}, {0, 15}}},
      // Margins at the ends of int: the legs stop at the ends of int, on the side the margin
      // points.
      {"a margin wider than int: around the target",
       {0, 0, 20, 20},
       {50, 40, 70, 60},
       P{{20, 10}, {kMax, 10}, {kMax, kMax}, {50 - kMax, kMax}, {50 - kMax, 50}, {50, 50}},
       kMax},
      {"a margin as negative as int holds: straight, turning past the target",
       {0, 0, 20, 20},
       {50, 40, 70, 60},
       P{{20, 10}, {kMax, 10}, {kMax, 50}, {50, 50}},
       kMin},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.what);
    d.SetMargin(t.margin);
    EXPECT_EQ(d.ConnectionPath(t.from, t.to), t.path);
  }
}

// Every number of the designer and of its components' places at the ends of int: the drawing
// stays within the work of a few pictures and holds only the line's and the ports' colours.
TEST_F(DesignerTest, DrawsAnyMarginWidthAndPlaceWithinThePicture) {
  RegisterLinks();
  const int kMax = std::numeric_limits<int>::max(), kMin = std::numeric_limits<int>::min();
  const int ends[] = {0, -1, 1, kMax, kMin};
  using Set = std::function<void(TMMDesigner&, TComponent*, int)>;
  const std::pair<const char*, Set> rows[] = {
      {"Margin", [](TMMDesigner& d, TComponent*, int v) { d.SetMargin(v); }},
      {"LineWidth", [](TMMDesigner& d, TComponent*, int v) { d.SetLineWidth(v); }},
      {"icon X", [](TMMDesigner& d, TComponent* b, int v) { d.IconPositions[b].X = v; }},
      {"icon Y", [](TMMDesigner& d, TComponent* b, int v) { d.IconPositions[b].Y = v; }},
  };
  for (const auto& [name, set] : rows)
    for (int v : ends) {
      SCOPED_TRACE(::testing::Message() << name << " = " << v);
      TMMDesigner d(&form_);
      const Joined j = Join(d);
      set(d, j.b, v);
      TBitmap bmp = WhitePicture();
      try {
        PaintMeter meter(8 * 120 * 60, 4096);
        d.DrawAll(bmp.Canvas());
      } catch (const EPaintBudget& e) {
        ADD_FAILURE() << e.what();
      }
      for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 120; ++x) {
          const TColor c = bmp.Canvas().GetPixel(x, y);
          ASSERT_TRUE(c == clWhite || c == TColor(0x800000) || c == TColor(0xFF))
              << "(" << x << "," << y << ") " << std::hex << c;
        }
      delete j.a;
      delete j.b;
    }
}

TEST_F(DesignerTest, DrawsPortsAndLinesOfJoinedComponents) {
  RegisterLinks();
  form_.SetBounds(0, 0, 120, 60);
  TMMDesigner d(&form_);
  const auto [a, b] = Join(d);
  bool input = false;
  EXPECT_EQ(d.FindTarget({70, 24}, input), b);
  EXPECT_TRUE(input);
  EXPECT_EQ(d.FindTarget({38, 24}, input), a);
  EXPECT_FALSE(input);

  TBitmap bmp = WhitePicture();
  d.DrawAll(bmp.Canvas());
  EXPECT_EQ(bmp.Canvas().GetPixel(70, 24), TColor(0x800000)) << "b's input port";
  EXPECT_EQ(bmp.Canvas().GetPixel(38, 24), TColor(0x800000)) << "a's output port";
  EXPECT_EQ(bmp.Canvas().GetPixel(50, 24), TColor(0xFF)) << "the line between them";
}

}  // namespace
}  // namespace vant
