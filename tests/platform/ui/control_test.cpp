#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>
#include <QImage>
#include <QListWidget>
#include <QMouseEvent>
#include <QTest>
#include <QWidget>
#include <limits>
#include <stdexcept>

#include "ui_control.h"
#include "ui_fixture.h"
#include "ui_form.h"
#include "ui_stdctrls.h"
#include "ui_testing.h"

namespace vant {
namespace {

using ControlTest = UiTest;

struct Placed {
  TAlign align;
  TRect bounds;  // as set before aligning
  TRect expect;
};

// A control that refuses its hint while a flag says so, and counts the changes it hears of.
struct HintedControl : TGraphicControl {
  using TGraphicControl::TGraphicControl;
  bool CanShowHint() const override { return allow; }
  void ShowHintChanged() override { ++show_hint_changes; }
  void CursorChanged() override { ++cursor_changes; }
  bool allow = true;
  int show_hint_changes = 0, cursor_changes = 0;
};

TEST_F(ControlTest, HintsShowOnlyWhenSwitchedOnAndNotRefused) {
  TForm form(nullptr);
  form.SetBounds(0, 0, 120, 80);
  auto* c = new HintedControl(&form);
  c->SetParent(&form);
  c->SetBounds(10, 10, 40, 20);
  form.Show();
  c->SetHint("Play");
  EXPECT_EQ(uitest::HintAt(*c, 5, 5), "") << "ShowHint is off";
  c->SetShowHint(true);
  c->SetShowHint(true);
  EXPECT_EQ(c->show_hint_changes, 1) << "only a change is reported";
  EXPECT_EQ(uitest::HintAt(*c, 5, 5), "Play");
  c->allow = false;
  EXPECT_EQ(uitest::HintAt(*c, 5, 5), "");
  form.SetHint("Form");
  form.SetShowHint(true);
  EXPECT_EQ(uitest::HintAt(*c, 5, 5), "") << "a refused hint is not replaced by the parent's";
  c->SetCursor(crCross);
  c->SetCursor(crCross);
  c->SetCursor(crDefault);
  EXPECT_EQ(c->cursor_changes, 2);
  Application->CancelHint();  // nothing showing: harmless
}

TEST_F(ControlTest, CursorPosReadsBackWhereThePointerWasMoved) {
  SetCursorPos({37, 21});
  EXPECT_EQ(GetCursorPos(), (TPoint{37, 21}));
}

TEST_F(ControlTest, SizeAndPlaceAreHeldToWhatAScreenCanShow) {
  TForm form(nullptr);
  TPanel panel(&form);
  panel.SetParent(&form);
  const int kMax = std::numeric_limits<int>::max(), kMin = std::numeric_limits<int>::min();
  panel.SetBounds(kMax, kMin, kMax, kMax);
  EXPECT_EQ(panel.BoundsRect(),
            Rect(kMaxControlExtent, -kMaxControlExtent, 2 * kMaxControlExtent, 0));
  panel.SetBounds(kMin, kMax, -1, kMin);
  EXPECT_EQ(panel.BoundsRect(),
            Rect(-kMaxControlExtent, kMaxControlExtent, -kMaxControlExtent, kMaxControlExtent));
  panel.SetBounds(3, 4, kMaxControlExtent, 5);
  EXPECT_EQ(panel.BoundsRect(), Rect(3, 4, 3 + kMaxControlExtent, 9));
}

// Scaling by a ratio at the ends of int moves and sizes the way the ratio points, held to
// what a screen can show; a form scales its children with itself.
TEST_F(ControlTest, ScalingByAnyRatioIsHeldToWhatAScreenCanShow) {
  const int kMax = std::numeric_limits<int>::max(), kMin = std::numeric_limits<int>::min();
  const int E = kMaxControlExtent;
  const struct {
    int m, d;
    TRect panel;
  } cases[] = {{kMax, 1, Rect(E, E, 2 * E, 2 * E)},
               {kMin, 1, Rect(-E, -E, -E, -E)},
               {kMax, -1, Rect(-E, -E, -E, -E)},
               {kMin, -1, Rect(E, E, 2 * E, 2 * E)},
               {1, kMax, Rect(0, 0, 0, 0)},
               {3, 2, Rect(15, 30, 165, 120)},
               {kMax, kMax - 1, Rect(10, 20, 110, 80)}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.m << " / " << c.d);
    TForm form(nullptr);
    form.SetBounds(0, 0, 400, 300);
    TPanel panel(&form);
    panel.SetParent(&form);
    panel.SetBounds(10, 20, 100, 60);
    form.ScaleBy(c.m, c.d);
    EXPECT_EQ(panel.BoundsRect(), c.panel);
    EXPECT_GE(form.GetWidth(), 0);
    EXPECT_LE(form.GetWidth(), E);
    TPanel alone(nullptr);
    alone.SetBounds(10, 20, 100, 60);
    alone.ScaleBy(c.m, c.d);
    EXPECT_EQ(alone.BoundsRect(), c.panel);
  }
}

TEST_F(ControlTest, AlignPlacesChildrenByKindThenPosition) {
  TForm form(nullptr);
  form.SetBounds(0, 0, 200, 100);
  const Placed cases[] = {
      {alTop, Bounds(0, 50, 10, 10), Bounds(0, 15, 200, 10)},    // second top: lower Top
      {alTop, Bounds(0, 5, 10, 15), Bounds(0, 0, 200, 15)},      // first top
      {alBottom, Bounds(0, 0, 10, 20), Bounds(0, 80, 200, 20)},  // bottom-most first
      {alLeft, Bounds(30, 0, 40, 10), Bounds(30, 25, 40, 55)},   // second left
      {alLeft, Bounds(0, 0, 30, 10), Bounds(0, 25, 30, 55)},     // first left
      {alRight, Bounds(0, 0, 25, 10), Bounds(175, 25, 25, 55)},
      {alClient, Bounds(0, 0, 1, 1), Bounds(70, 25, 105, 55)},
      {alNone, Bounds(3, 4, 5, 6), Bounds(3, 4, 5, 6)},
  };
  std::vector<TPanel*> panels;
  // As a builder does: positions first, one alignment pass at the end.
  form.DisableAlign();
  for (const auto& c : cases) {
    auto* p = new TPanel(&form);
    p->SetBounds(c.bounds.Left, c.bounds.Top, c.bounds.Width(), c.bounds.Height());
    p->SetAlign(c.align);
    p->SetParent(&form);
    panels.push_back(p);
  }
  form.EnableAlign();
  for (size_t i = 0; i < panels.size(); ++i)
    EXPECT_EQ(panels[i]->BoundsRect(), cases[i].expect) << "case " << i;

  // A hidden child gives its room back; resizing the parent realigns.
  panels[2]->SetVisible(false);
  EXPECT_EQ(panels[6]->BoundsRect(), Bounds(70, 25, 105, 75));
  form.SetBounds(0, 0, 300, 100);
  EXPECT_EQ(panels[5]->BoundsRect(), Bounds(275, 25, 25, 75));
}

TEST_F(ControlTest, HidingAParentHidesItsChildrenAndOwnerIsNotParent) {
  auto* form = new TForm(nullptr);
  auto* page = new TPanel(form);
  page->SetParent(form);
  // Owned by nobody, parented to the page: freeing the form must not free it.
  auto* orphan = new TLabel(nullptr);
  orphan->SetParent(page);
  form->Show();
  EXPECT_TRUE(orphan->Showing());
  page->Hide();
  EXPECT_FALSE(orphan->Showing());
  EXPECT_TRUE(orphan->GetVisible());
  page->Show();
  EXPECT_TRUE(orphan->Showing());
  delete form;
  EXPECT_EQ(orphan->GetParent(), nullptr);
  EXPECT_FALSE(orphan->Showing());
  delete orphan;
}

TEST_F(ControlTest, ClickNeedsPressAndReleaseInsideAndSkipsDisabledControls) {
  TForm form(nullptr);
  auto* p = new TPanel(&form);
  p->SetParent(&form);
  p->SetBounds(10, 10, 50, 20);
  int clicks = 0;
  std::vector<std::string> order;
  p->OnClick = [&](TObject*) { ++clicks, order.push_back("click"); };
  p->OnMouseDown = [&](TObject*, TMouseButton b, TShiftState s, int x, int y) {
    EXPECT_EQ(b, mbLeft);
    EXPECT_TRUE(s.count(ssLeft));
    EXPECT_EQ(x, 5);
    EXPECT_EQ(y, 6);
    order.push_back("down");
  };
  p->OnMouseUp = [&](TObject*, TMouseButton, TShiftState, int, int) { order.push_back("up"); };
  form.Show();
  uitest::SaveScreenshot(form, "platform_ui_click_needs_press_and_release_inside_and_skips_d");
  uitest::Click(*p, 5, 6);
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(order, (std::vector<std::string>{"down", "click", "up"}));
  uitest::MouseDown(*p, 5, 6);
  uitest::MouseUp(*p, 70, 6);  // released outside
  EXPECT_EQ(clicks, 1);
  // A double click: one Click, one DblClick, the second press marked ssDouble.
  int dbl = 0;
  p->OnDblClick = [&](TObject*) { ++dbl; };
  p->OnMouseDown = [&](TObject*, TMouseButton, TShiftState s, int, int) {
    order.push_back(s.count(ssDouble) ? "down2" : "down");
  };
  order.clear();
  uitest::Click(*p, 5, 6);
  QMouseEvent d(QEvent::MouseButtonDblClick, QPointF(5, 6), p->Host()->mapToGlobal(QPointF(5, 6)),
                Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(p->Host(), &d);
  uitest::MouseUp(*p, 5, 6);
  EXPECT_EQ(order, (std::vector<std::string>{"down", "click", "up", "down2", "up"}));
  EXPECT_EQ(dbl, 1);
  EXPECT_EQ(clicks, 2);
  p->SetEnabled(false);
  uitest::Click(*p, 5, 6);
  EXPECT_EQ(clicks, 2);
}

TEST_F(ControlTest, ExceptionInAHandlerReachesTheApplicationHandler) {
  TForm form(nullptr);
  auto* b = new TButton(&form);
  b->SetParent(&form);
  b->OnClick = [](TObject*) { throw std::runtime_error("boom in click"); };
  form.Show();
  uitest::SaveScreenshot(form, "platform_ui_exception_in_a_handler_reaches_the_application_h");
  uitest::Click(*b, 5, 5);
  ASSERT_EQ(exceptions_.size(), 1u);
  EXPECT_EQ(exceptions_[0], "boom in click");

  // Without OnException the text goes to a message box.
  Application->OnException = nullptr;
  auto* p = new TPanel(&form);
  p->SetParent(&form);
  p->SetBounds(0, 40, 20, 20);
  p->OnMouseDown = [](TObject*, TMouseButton, TShiftState, int, int) {
    throw Exception("Unable to open");
  };
  uitest::MouseDown(*p, 1, 1);
  uitest::MouseUp(*p, 1, 1);
  ASSERT_EQ(dialogs_.answerer.Asked().size(), 1u);
  EXPECT_EQ(dialogs_.answerer.Asked()[0].text, "Unable to open.");
  EXPECT_EQ(dialogs_.answerer.Asked()[0].flags & 0xF0, unsigned(MB_ICONSTOP));
}

TEST_F(ControlTest, DragStartsAfterTwoPixelsAndDropsOnAnAcceptingTarget) {
  TForm form(nullptr);
  form.SetBounds(0, 0, 200, 100);
  auto* src = new TPanel(&form);
  src->SetParent(&form);
  src->SetBounds(0, 0, 50, 50);
  src->SetDragMode(dmAutomatic);
  auto* dst = new TPanel(&form);
  dst->SetParent(&form);
  dst->SetBounds(100, 0, 50, 50);
  int started = 0, dropped = 0, moves = 0;
  TObject* end_target = reinterpret_cast<TObject*>(1);
  src->OnStartDrag = [&](TObject*) { ++started; };
  src->OnEndDrag = [&](TObject*, TObject* t, int, int) { end_target = t; };
  src->OnMouseMove = [&](TObject*, TShiftState, int, int) { ++moves; };
  dst->OnDragOver = [&](TObject*, TObject* source, int, int, TDragState, bool& accept) {
    accept = source == src;
  };
  TPoint drop_at{-1, -1};
  dst->OnDragDrop = [&](TObject*, TObject*, int x, int y) { ++dropped, drop_at = {x, y}; };
  form.Show();
  uitest::SaveScreenshot(form, "platform_ui_drag_starts_after_two_pixels_and_drops_on_an_acc");

  uitest::MouseDown(*src, 10, 10);
  uitest::MouseMove(*src, 11, 11, true);
  EXPECT_EQ(started, 0);
  EXPECT_FALSE(src->Dragging());
  uitest::MouseMove(*src, 12, 10, true);
  EXPECT_EQ(started, 1);
  EXPECT_TRUE(src->Dragging());
  EXPECT_EQ(CurrentDragCursor(), crNoDrop);  // still over the source, which does not accept
  uitest::MouseMove(*src, 120, 20, true);    // over the target
  EXPECT_EQ(CurrentDragCursor(), crDrag);
  uitest::MouseUp(*src, 120, 20);
  EXPECT_EQ(dropped, 1);
  EXPECT_EQ(drop_at, (TPoint{20, 20}));
  EXPECT_EQ(end_target, dst);
  EXPECT_EQ(CurrentDragCursor(), crDefault);
  EXPECT_EQ(moves, 0);

  // A press and release without moving ends the drag with no target and no drop.
  uitest::MouseDown(*src, 10, 10);
  uitest::MouseUp(*src, 10, 10);
  EXPECT_EQ(end_target, nullptr);
  EXPECT_EQ(dropped, 1);
}

TEST_F(ControlTest, WindowlessControlPaintsOverItsParentsPixels) {
  TForm form(nullptr);
  form.SetBounds(0, 0, 60, 40);
  form.SetColor(clRed);
  auto* transparent = new TLabel(&form);
  transparent->SetAutoSize(false);
  transparent->SetTransparent(true);
  transparent->SetBounds(0, 0, 30, 40);
  transparent->SetParent(&form);
  auto* opaque = new TLabel(&form);
  opaque->SetAutoSize(false);
  opaque->SetParentColor(false);
  opaque->SetColor(clBlue);
  opaque->SetBounds(30, 0, 30, 40);
  opaque->SetParent(&form);
  form.Show();
  EXPECT_EQ(uitest::RenderedPixel(form, 5, 30), clRed);
  EXPECT_EQ(uitest::RenderedPixel(form, 45, 30), clBlue);
  uitest::SaveScreenshot(form, "platform_ui_labels");
}

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
 public:
  explicit PaintCounter(QWidget* w) { w->installEventFilter(this); }
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) ++count;
    return false;
  }
  int count = 0;
};

class Display : public TGraphicControl {
 public:
  explicit Display(TComponent* owner) : TGraphicControl(owner) {
    SetControlStyle(ControlStyle() | csOpaque);
  }
  void Show(TColor c) {
    PaintNow([&](TCanvas& canvas) {
      canvas.Brush().Color = c;
      canvas.FillRect(ClientRect());
    });
  }
};

// A display redrawn on every slice of sound must reach the screen at most once per refresh:
// its pictures are drawn at once but shown together, the last one won, once the event loop runs
// after a quiet frame, or at the end of the frame of the last update.
TEST_F(ControlTest, PaintNowReachesTheScreenAtMostOncePerFrame) {
  TForm form(nullptr);
  form.SetBounds(0, 0, 60, 40);
  auto* left = new Display(&form);
  left->SetBounds(0, 0, 20, 20);
  left->SetParent(&form);
  auto* right = new Display(&form);
  right->SetBounds(30, 0, 20, 20);
  right->SetParent(&form);
  form.Show();
  clock_.AdvanceMillis(100);
  Application->ProcessMessages();
  PaintCounter left_paints(left->Host()), right_paints(right->Host());
  auto run = [] {
    for (int i = 0; i < 3; ++i) Application->ProcessMessages();
  };

  for (TColor c : {clRed, clLime, clBlue}) left->Show(c);
  right->Show(clYellow);
  EXPECT_EQ(left_paints.count, 0);  // drawn, not yet shown
  run();
  EXPECT_EQ(left_paints.count, 1);
  EXPECT_EQ(right_paints.count, 1);

  left->Show(clRed);
  clock_.AdvanceMillis(1);  // shorter than any display's frame
  run();
  EXPECT_EQ(left_paints.count, 1);
  clock_.AdvanceMillis(50);
  run();
  EXPECT_EQ(left_paints.count, 2);
  EXPECT_EQ(right_paints.count, 1);
  EXPECT_EQ(uitest::RenderedPixel(*left, 5, 5), clRed);
  EXPECT_EQ(uitest::RenderedPixel(*right, 5, 5), clYellow);

  left->Show(clLime);  // freed before its frame: nothing is left queued
  delete left;
  clock_.AdvanceMillis(50);
  run();
}

// A mark that follows the sound moves with the frame that shows the displays' pictures, in the
// same screen update: moves within a frame are merged, the last one wins, and a move made at
// once before that frame is not undone by it.
TEST_F(ControlTest, MoveAtFrameMovesWithTheNextFrame) {
  TForm form(nullptr);
  form.SetBounds(0, 0, 100, 40);
  auto* mark = new Display(&form);
  mark->SetBounds(0, 0, 10, 10);
  mark->SetParent(&form);
  auto* meter = new Display(&form);
  meter->SetBounds(60, 0, 20, 20);
  meter->SetParent(&form);
  form.Show();
  clock_.AdvanceMillis(100);
  Application->ProcessMessages();
  auto run = [] {
    for (int i = 0; i < 3; ++i) Application->ProcessMessages();
  };

  meter->Show(clRed);
  for (int x : {5, 12, 20}) mark->MoveAtFrame(x, 2);
  EXPECT_EQ(mark->GetLeft(), 0);
  EXPECT_EQ(mark->Host()->x(), 0);
  run();
  EXPECT_EQ(mark->GetLeft(), 20);
  EXPECT_EQ(mark->GetTop(), 2);
  EXPECT_EQ(mark->Host()->pos(), QPoint(20, 2));

  clock_.AdvanceMillis(50);
  mark->MoveAtFrame(30, 2);
  mark->SetBounds(40, 0, 10, 10);  // a drag puts it there at once
  clock_.AdvanceMillis(50);
  run();
  EXPECT_EQ(mark->GetLeft(), 40);

  form.Hide();
  mark->MoveAtFrame(7, 1);  // nothing to show it on: at once
  EXPECT_EQ(mark->GetLeft(), 7);
}

TEST_F(ControlTest, KeyHandlersSeeAndCanSwallowKeys) {
  TForm form(nullptr);
  auto* e = new TEdit(&form);
  e->SetParent(&form);
  std::vector<uint16_t> downs;
  std::u32string presses;
  e->OnKeyDown = [&](TObject*, uint16_t& key, TShiftState) { downs.push_back(key); };
  e->OnKeyPress = [&](TObject*, char32_t& key) {
    presses += key;
    if (key == U'x') key = 0;  // swallowed: never reaches the edit
  };
  form.Show();
  e->SetFocus();
  uitest::Type(*e, "axあ");
  EXPECT_EQ(presses, U"axあ");
  EXPECT_EQ(e->GetText(), "aあ");
  EXPECT_EQ(downs, (std::vector<uint16_t>{'A', 'X'}));  // あ comes as text only
  uitest::SaveScreenshot(form, "platform_ui_keys");
}

// An active window holding a list box with two lines at the top and an edit at the bottom, with
// room for more controls above the edit.
struct ListAndEdit {
  ListAndEdit() {
    form.SetClientWidth(200);
    form.SetClientHeight(120);
    list->SetParent(&form);
    list->SetBounds(130, 8, 60, 80);
    list->Items().Add("one");
    list->Items().Add("two");
    edit->SetParent(&form);
    edit->SetBounds(8, 92, 120, 20);
  }
  void Show() {
    form.Show();
    form.Host()->activateWindow();
    Application->ProcessMessages();
  }
  TForm form{nullptr};
  TListBox* list = new TListBox(&form);
  TEdit* edit = new TEdit(&form);
};

// A focused list box marks where the keyboard is: a dotted frame on its current line, or on its
// first line when none is chosen. Without the focus the same list shows no such frame.
TEST_F(ControlTest, AFocusedListBoxShowsAFocusMark) {
  ListAndEdit w;
  w.Show();
  auto* view = static_cast<QListWidget*>(w.list->Host());
  for (int current : {-1, 1}) {
    SCOPED_TRACE(current);
    w.list->SetItemIndex(current);
    w.edit->SetFocus();
    const QImage unfocused = view->grab().toImage();
    w.list->SetFocus();
    ASSERT_TRUE(w.list->Focused());
    const QImage focused = view->grab().toImage();
    const QRect line = view->visualItemRect(view->item(current < 0 ? 0 : current))
                           .translated(view->viewport()->mapTo(view, QPoint(0, 0)));
    // Along the line's top edge a dotted frame changes colour from pixel to pixel.
    auto changes = [&](const QImage& image) {
      int n = 0;
      for (int x = line.left() + 2; x < line.right() - 2; ++x)
        n += image.pixel(x, line.top()) != image.pixel(x + 1, line.top());
      return n;
    };
    EXPECT_GT(changes(focused), line.width() / 3);
    EXPECT_LT(changes(unfocused), 4);
  }
  uitest::SaveScreenshot(w.form, "platform_ui_list_focus");
}

// A click on a control that paints itself and is no tab stop (a panel, a picture on it) leaves
// the keyboard where it was; a click on a list takes it. The clicks come as the desktop's own.
TEST_F(ControlTest, AClickOnAPictureLeavesTheFocusWhereItWas) {
  ListAndEdit w;
  auto* panel = new TPanel(&w.form);
  panel->SetParent(&w.form);
  panel->SetBounds(0, 0, 120, 60);
  panel->SetTabStop(false);
  auto* picture = new TCustomControl(&w.form);
  picture->SetParent(panel);
  picture->SetBounds(10, 10, 40, 20);
  picture->SetTabStop(false);
  w.Show();
  w.edit->SetFocus();
  for (TControl* c : std::initializer_list<TControl*>{picture, panel}) {
    QTest::mouseClick(c->Host(), Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_TRUE(w.edit->Focused()) << c->ClassName();
  }
  QTest::mouseClick(static_cast<QListWidget*>(w.list->Host())->viewport(), Qt::LeftButton, {},
                    QPoint(5, 5));
  EXPECT_TRUE(w.list->Focused());
}

TEST_F(ControlTest, BusyCursorIsAnApplicationOverride) {
  Screen->SetCursor(crHourGlass);
  ASSERT_NE(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
  Screen->SetCursor(crDefault);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_TRUE(Screen->HasCursor(crHandPoint));
  EXPECT_FALSE(Screen->HasCursor(1999));
}

TEST_F(ControlTest, BevelAndPaintBoxDrawOverTheirParent) {
  TForm form(nullptr);
  form.SetColor(clYellow);
  auto* bevel = new TBevel(&form);
  bevel->SetParent(&form);
  bevel->SetBounds(0, 0, 10, 10);
  TBitmap b;
  bevel->PaintTo(b);
  EXPECT_EQ(b.Canvas().GetPixel(0, 5), clGray);   // lowered: shadow left
  EXPECT_EQ(b.Canvas().GetPixel(9, 5), clWhite);  // highlight right
  EXPECT_EQ(b.Canvas().GetPixel(5, 5), clYellow);
  bevel->SetShape(bsTopLine);
  bevel->SetStyle(bsRaised);
  bevel->PaintTo(b);
  EXPECT_EQ(b.Canvas().GetPixel(5, 0), clWhite);
  EXPECT_EQ(b.Canvas().GetPixel(5, 1), clGray);
  EXPECT_EQ(b.Canvas().GetPixel(0, 5), clYellow);

  auto* box = new TPaintBox(&form);
  box->SetParent(&form);
  box->SetBounds(0, 0, 8, 8);
  box->OnPaint = [box](TObject*) {
    box->Canvas().Brush().Color = clRed;
    box->Canvas().FillRect(Rect(2, 2, 4, 4));
  };
  box->PaintTo(b);
  EXPECT_EQ(b.Canvas().GetPixel(3, 3), clRed);
  EXPECT_EQ(b.Canvas().GetPixel(5, 5), clYellow);
}

TEST_F(ControlTest, WindowlessControlsLieUnderWindowedSiblings) {
  TForm form(nullptr);
  form.SetBounds(0, 0, 40, 20);
  auto* panel = new TPanel(&form);
  panel->SetParent(&form);
  panel->SetBounds(0, 0, 40, 20);
  panel->SetColor(clBlue);
  auto* label = new TLabel(&form);  // created later, still underneath
  label->SetParent(&form);
  label->SetAutoSize(false);
  label->SetParentColor(false);
  label->SetColor(clRed);
  label->SetBounds(0, 0, 20, 20);
  form.Show();
  uitest::SaveScreenshot(form, "platform_ui_windowless_under_windowed");
  EXPECT_EQ(uitest::RenderedPixel(form, 10, 10), clBlue);
  label->BringToFront();
  EXPECT_EQ(uitest::RenderedPixel(form, 10, 10), clBlue);
  panel->SetVisible(false);
  EXPECT_EQ(uitest::RenderedPixel(form, 10, 10), clRed);
}

TEST_F(ControlTest, FontAndColorFollowTheParentUntilSetOwn) {
  TForm form(nullptr);
  auto* p = new TPanel(&form);
  p->SetParent(&form);
  auto* l = new TLabel(&form);
  l->SetParent(p);
  form.Font().SetName("Arial");
  EXPECT_EQ(p->Font().GetName(), "Arial");
  EXPECT_EQ(l->Font().GetName(), "Arial");
  l->Font().SetHeight(-20);
  EXPECT_FALSE(l->GetParentFont());
  form.Font().SetName("Times New Roman");
  EXPECT_EQ(l->Font().GetName(), "Arial");
  p->SetColor(clYellow);
  EXPECT_EQ(l->GetColor(), clYellow);  // labels take the parent's colour
}

// A panel under a text field whose cursor blinks gets the toolkit's paint twice a second: it
// must show the picture it keeps, not draw itself again, until it is invalidated. A windowless
// control that shows its parent's pixels draws again, since what lies under it may have changed.
TEST_F(ControlTest, AToolkitPaintShowsTheKeptPictureUntilTheControlIsInvalidated) {
  struct Panel : TCustomControl {
    using TCustomControl::TCustomControl;
    int paints = 0;
    void Paint() override {
      ++paints;
      Canvas().Brush().Color = clTeal;
      Canvas().FillRect(ClientRect());
    }
  };
  TForm form(nullptr);
  form.SetBounds(0, 0, 200, 100);
  auto* panel = new Panel(&form);
  panel->SetParent(&form);
  panel->SetBounds(10, 10, 120, 60);
  form.Show();
  Application->ProcessMessages();
  ASSERT_GE(panel->paints, 1);
  const int first = panel->paints;
  for (int blink = 0; blink < 4; ++blink) {
    panel->Host()->repaint();  // what a blink or an expose asks of it
    Application->ProcessMessages();
  }
  EXPECT_EQ(panel->paints, first);
  EXPECT_EQ(uitest::RenderedPixel(*panel, 5, 5), clTeal);
  panel->Invalidate();
  Application->ProcessMessages();
  EXPECT_EQ(panel->paints, first + 1);
}

}  // namespace
}  // namespace vant
