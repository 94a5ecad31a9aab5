// Speed buttons and borders, spin buttons, LED digits, panels and spins, driven as a person would.
#include "controls_fixture.h"
#include "mmbutton.h"
#include "mmleds.h"
#include "mmpanel.h"
#include "mmspin.h"
#include "ui_form.h"
#include "ui_stdctrls.h"
#include "ui_testing.h"

using namespace vant;

namespace {

class SpeedControlsTest : public ControlsTest {
 protected:
  void SetUp() override {
    ControlsTest::SetUp();
    form_ = std::make_unique<TForm>(nullptr);
    form_->SetBounds(0, 0, 320, 200);
    form_->Show();
  }
  void TearDown() override {
    form_.reset();
    ControlsTest::TearDown();
  }
  template <class T>
  T* Make(int left, int top) {
    auto* c = new T(form_.get());
    c->SetParent(form_.get());
    c->SetLeft(left);
    c->SetTop(top);
    return c;
  }
  // The first pixel of `color` in the control's picture, scanning rows from the top.
  static TPoint FirstPixel(TControl& c, TColor color) {
    TBitmap bmp;
    c.PaintTo(bmp);
    for (int y = 0; y < bmp.Height(); ++y)
      for (int x = 0; x < bmp.Width(); ++x)
        if (bmp.Canvas().GetPixel(x, y) == color) return {x, y};
    return {-1, -1};
  }
  void Advance(int ms) {
    clock_.AdvanceMillis(ms);
    Application->ProcessMessages();
  }
  std::unique_ptr<TForm> form_;
};

// A square glyph in red whose bottom-left pixel (the transparent colour) is olive.
TBitmap RedGlyph(int w, int h) {
  TBitmap b(w, h);
  b.Canvas().Brush().Color = clRed;
  b.Canvas().FillRect({0, 0, w, h});
  b.Canvas().SetPixel(0, h - 1, clOlive);
  return b;
}

TEST_F(SpeedControlsTest, GlyphFramesAndLayout) {
  auto* b = Make<TMMSpeedButton>(10, 10);
  const struct {
    int width, expected;
  } frames[] = {{64, 4}, {80, 1}, {32, 2}, {50, 2} /* not a multiple: kept */};
  for (const auto& f : frames) {
    b->SetGlyph(RedGlyph(f.width, 16));
    EXPECT_EQ(b->GetNumGlyphs(), f.expected) << f.width;
  }
  b->SetNumGlyphs(9);
  EXPECT_EQ(b->GetNumGlyphs(), 4);
  b->SetMargin(-2);
  EXPECT_EQ(b->GetMargin(), -1);

  b->SetGlyph(RedGlyph(16, 16));
  EXPECT_EQ(FirstPixel(*b, clRed).X, 4);
  EXPECT_EQ(FirstPixel(*b, clRed).Y, 4);
  uitest::MouseDown(*b, 5, 5);
  EXPECT_EQ(b->State(), bsDown);
  EXPECT_EQ(FirstPixel(*b, clRed).X, 5);
  uitest::MouseUp(*b, 5, 5);
  b->SetGroupIndex(1);
  b->SetDown(true);
  EXPECT_EQ(b->State(), bsExclusive);
  EXPECT_EQ(FirstPixel(*b, clRed).X, 4);  // content (1, 1, 24, 24), margin 3
  uitest::SaveScreenshot(*form_, "speedbutton_latched");
}

TEST_F(SpeedControlsTest, GroupsKeepAtMostOneDown) {
  TMMSpeedButton* b[3];
  for (int i = 0; i < 3; ++i) {
    b[i] = Make<TMMSpeedButton>(10 + 30 * i, 10);
    b[i]->SetGroupIndex(7);
    b[i]->SetCaption(std::string(1, char('A' + i)));
  }
  int clicks = 0;
  b[0]->OnClick = [&](TObject*) { ++clicks; };
  uitest::Click(*b[0], 5, 5);
  EXPECT_TRUE(b[0]->GetDown());
  uitest::Click(*b[0], 5, 5);  // all-up forbidden: stays down and latched
  EXPECT_TRUE(b[0]->GetDown());
  EXPECT_EQ(b[0]->State(), bsExclusive);
  b[0]->SetDown(false);
  EXPECT_TRUE(b[0]->GetDown());
  uitest::Click(*b[1], 5, 5);
  EXPECT_FALSE(b[0]->GetDown());
  EXPECT_TRUE(b[1]->GetDown());
  b[2]->SetDown(true);  // from code too
  EXPECT_FALSE(b[1]->GetDown());
  EXPECT_EQ(clicks, 2);

  // Released one row below the client area still counts; further out it does not.
  auto* plain = Make<TMMSpeedButton>(10, 50);
  int plain_clicks = 0;
  plain->OnClick = [&](TObject*) { ++plain_clicks; };
  uitest::MouseDown(*plain, 5, 5);
  uitest::MouseUp(*plain, 5, 25);
  uitest::MouseDown(*plain, 5, 5);
  uitest::MouseUp(*plain, 5, 26);
  EXPECT_EQ(plain_clicks, 1);
  Make<TMMBorder>(120, 50);
  uitest::SaveScreenshot(*form_, "speedbutton_group");
}

TEST_F(SpeedControlsTest, SpinStepsRepeatsAndDrags) {
  auto* spin = Make<TMMSpinButton>(10, 10);
  EXPECT_EQ(spin->GetWidth(), 21);
  EXPECT_EQ(spin->GetHeight(), 28);
  EXPECT_FALSE(spin->DownButton()->GetEnabled());  // at MinValue
  uint16_t key = VK_DOWN;
  spin->HandleKeyDown(key, {});
  EXPECT_EQ(spin->GetValue(), 0);

  spin->SetIncrement(5);
  spin->SetValue(98);
  uitest::Click(*spin->UpButton(), 5, 5);
  EXPECT_EQ(spin->GetValue(), 100);
  EXPECT_FALSE(spin->UpButton()->GetEnabled());

  spin->SetIncrement(1);
  spin->SetValue(10);
  uitest::MouseDown(*spin->UpButton(), 5, 5);
  Advance(399);
  EXPECT_EQ(spin->GetValue(), 10);
  Advance(1);
  EXPECT_EQ(spin->GetValue(), 11);
  Advance(49);
  EXPECT_EQ(spin->GetValue(), 11);
  Advance(1);
  EXPECT_EQ(spin->GetValue(), 12);
  uitest::MouseUp(*spin->UpButton(), 5, 5);
  EXPECT_EQ(spin->GetValue(), 13);  // the release is a click too
  Advance(500);
  EXPECT_EQ(spin->GetValue(), 13);

  spin->SetMiddleButton(true);
  spin->SetValue(20);
  TMMTimerSpeedButton* grip = spin->MiddleButton();
  ASSERT_NE(grip, nullptr);
  uitest::MouseDown(*grip, 5, 2);
  uitest::MouseMove(*grip, 5, 2 - 50, true);
  uitest::MouseUp(*grip, 5, 2 - 50);
  EXPECT_EQ(spin->GetValue(), 70);
  uitest::SaveScreenshot(*form_, "spinbutton");
}

// Steps and grip drags past the ends of the 32-bit range land on the range's end instead of
// wrapping around; a full range takes 100 pixels of the grip.
TEST_F(SpeedControlsTest, SpinStepsAndDragsStopAtTheIntegerLimits) {
  enum Action { kUp, kDown, kDrag };
  const struct {
    int32_t value, increment;
    Action action;
    int pixels;  // how far the grip is dragged upwards
    int32_t want;
  } cases[] = {
      {INT32_MAX - 3, 10, kUp, 0, INT32_MAX},    {INT32_MIN + 3, 10, kDown, 0, INT32_MIN},
      {-5, INT32_MAX, kDown, 0, INT32_MIN},      {0, INT32_MIN, kDown, 0, INT32_MAX},
      {INT32_MAX, INT32_MAX, kUp, 0, INT32_MAX}, {0, 1, kDrag, 60, INT32_MAX},
      {0, 1, kDrag, -60, INT32_MIN},             {INT32_MIN, 1, kDrag, 1000000, INT32_MAX},
  };
  auto* spin = Make<TMMSpinButton>(10, 10);
  spin->SetMiddleButton(true);
  spin->SetMinValue(INT32_MIN);
  spin->SetMaxValue(INT32_MAX);
  TMMTimerSpeedButton* grip = spin->MiddleButton();
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.value << " by " << c.increment << ", " << c.pixels);
    spin->SetValue(c.value);
    spin->SetIncrement(c.increment);
    if (c.action == kUp) spin->UpClicked();
    if (c.action == kDown) spin->DownClicked();
    if (c.action == kDrag) {
      uitest::MouseDown(*grip, 5, 2);
      uitest::MouseMove(*grip, 5, 2 - c.pixels, true);
      uitest::MouseUp(*grip, 5, 2 - c.pixels);
    }
    EXPECT_EQ(spin->GetValue(), c.want);
  }
}

TEST_F(SpeedControlsTest, SpeedButtonHintOnlyWhileEnabled) {
  auto* b = Make<TMMSpeedButton>(10, 10);
  b->SetHint("Play");
  b->SetShowHint(true);
  EXPECT_EQ(uitest::HintAt(*b, 5, 5), "Play");
  b->SetEnabled(false);
  EXPECT_EQ(uitest::HintAt(*b, 5, 5), "");
  b->SetEnabled(true);
  EXPECT_EQ(uitest::HintAt(*b, 5, 5), "Play");
}

TEST_F(SpeedControlsTest, SpinTakesOverAnEditsArrowKeys) {
  auto* edit = Make<TEdit>(10, 10);
  auto* spin = Make<TMMSpinButton>(150, 10);
  auto* other = Make<TMMSpinButton>(200, 10);
  spin->SetFocusControl(edit);
  uint16_t key = VK_UP;
  edit->HandleKeyDown(key, {});
  EXPECT_EQ(spin->GetValue(), 1);
  EXPECT_EQ(key, 0);
  key = VK_UP;
  edit->HandleKeyUp(key, {});
  dialogs_.answerer.AnswerMessage(mrOk);
  other->SetFocusControl(edit);
  EXPECT_EQ(other->GetFocusControl(), nullptr);
  ASSERT_FALSE(dialogs_.answerer.Asked().empty());
  EXPECT_EQ(dialogs_.answerer.Asked().back().text, "Control is already Hooked");
  spin->SetFocusControl(nullptr);
  key = VK_UP;
  edit->HandleKeyDown(key, {});
  EXPECT_EQ(spin->GetValue(), 1);
}

TEST_F(SpeedControlsTest, LedPanelShowsBlanksSignsAndCarries) {
  auto* panel = Make<TMMLEDPanel>(10, 10);
  panel->SetNumDigits(3);
  panel->SetZeroBlank(true);
  panel->SetMinValue(-99);
  panel->SetMaxValue(999);
  auto frames = [&] {
    std::vector<int> f;
    for (int i = panel->GetNumDigits() - 1; i >= 0; --i) f.push_back(panel->Digit(i)->Frame());
    return f;
  };
  panel->SetValue(5);
  EXPECT_EQ(frames(), (std::vector<int>{0, 0, 6}));
  panel->SetValue(100);
  EXPECT_EQ(frames(), (std::vector<int>{2, 1, 1}));
  panel->SetValue(-7);
  EXPECT_EQ(frames(), (std::vector<int>{ltMinus, 0, 8}));
  panel->SetNumDigits(0);
  panel->SetNumDigits(10);
  EXPECT_EQ(panel->GetNumDigits(), 3);
  EXPECT_EQ(panel->GetWidth(), 2 * 1 + (11 + 1) * 3 - 1);

  // Segment a of the ones digit: lit (lime) for 8, unlit (green) for 1, on black.
  panel->SetZeroBlank(false);
  panel->SetValue(8);
  TMMLEDDigit* ones = panel->Digit(0);
  EXPECT_EQ(uitest::RenderedPixel(*ones, 5, 0), clLime);
  EXPECT_EQ(uitest::RenderedPixel(*ones, 0, 20), clBlack);
  panel->SetValue(1);
  EXPECT_EQ(uitest::RenderedPixel(*ones, 5, 0), clGreen);
  uitest::SaveScreenshot(*form_, "ledpanel");

  panel->SetEnabled(false);
  EXPECT_EQ(frames(), (std::vector<int>{0, 0, 0}));
}

TEST_F(SpeedControlsTest, DigitsCarryAndShareOneStrip) {
  EXPECT_FALSE(TDigitCache::Exists());
  auto* low = Make<TMMLEDDigit>(10, 10);
  auto* high = Make<TMMLEDDigit>(30, 10);
  EXPECT_EQ(low->Strip(), high->Strip());
  EXPECT_EQ(TDigitCache::EntryCount(), 1u);
  low->SetConnect(high);
  low->SetValue(9);
  int rolled = 0;
  low->OnRollForward = [&](TObject*) { ++rolled; };
  low->Increase();
  EXPECT_EQ(low->GetValue(), 0);
  EXPECT_EQ(high->GetValue(), 1);
  EXPECT_EQ(rolled, 1);
  low->Decrease();
  EXPECT_EQ(low->GetValue(), 9);
  EXPECT_EQ(high->GetValue(), 0);
  high->SetLEDColor(clRed);
  EXPECT_EQ(TDigitCache::EntryCount(), 2u);
  delete low;
  delete high;
  EXPECT_FALSE(TDigitCache::Exists());
}

TEST_F(SpeedControlsTest, LedSpinAndLamps) {
  auto* spin = Make<TMMLEDSpin>(10, 10);
  int changes = 0;
  spin->OnChange = [&](TObject*) { ++changes; };
  uitest::Click(*spin->Spin()->UpButton(), 5, 5);
  EXPECT_EQ(spin->GetValue(), 1);
  EXPECT_EQ(changes, 1);
  spin->SetValue(500);
  EXPECT_EQ(spin->GetValue(), 100);
  spin->SetEnabled(false);
  spin->SetValue(3);
  EXPECT_EQ(spin->GetValue(), 100);
  EXPECT_EQ(spin->GetWidth(), spin->Panel()->GetWidth() + spin->Spin()->GetWidth() + 2);
  spin->SetEnabled(true);

  // The digits' and the buttons' properties are the spin's own; whatever resizes either part
  // (spacing, frames, glyphs) lays the whole control out again.
  spin->SetLEDSpace(3);
  EXPECT_EQ(spin->Panel()->GetLEDSpace(), 3);
  EXPECT_EQ(spin->GetWidth(), (2 + (11 + 3) * 2 - 3) + 21 + 2);
  spin->Bevel().SetBorderWidth(2);  // the digits' frame: 3 pixels
  EXPECT_EQ(spin->Panel()->GetWidth(), 6 + (11 + 3) * 2 - 3);
  EXPECT_EQ(spin->GetWidth(), 31 + 21 + 2);
  spin->SpinBevel().SetBorderWidth(2);  // the buttons' frame: 3 pixels around 19 x (13 + 13)
  EXPECT_EQ(spin->Spin()->GetWidth(), 19 + 6);
  EXPECT_EQ(spin->GetWidth(), 31 + 25 + 2);
  EXPECT_EQ(spin->GetHeight(), 13 + 13 + 6);
  spin->SetUpGlyph(RedGlyph(30, 30));
  EXPECT_EQ(spin->GetUpNumGlyphs(), 1);
  EXPECT_EQ(spin->GetWidth(), 31 + (30 + 6) + 2);

  spin->SetIncrement(5);
  spin->SetValue(5);
  uitest::Click(*spin->Spin()->UpButton(), 5, 5);
  EXPECT_EQ(spin->GetValue(), 10);
  EXPECT_EQ(spin->GetIncrement(), 5);

  spin->SetZeroBlank(true);
  EXPECT_EQ(spin->Panel()->Digit(1)->Frame(), 1 + 1);  // 10 keeps its tens digit
  spin->SetValue(1);
  EXPECT_EQ(spin->Panel()->Digit(1)->Frame(), 0);  // blank
  spin->SetLEDColor(clRed);
  spin->SetInactiveColor(clMaroon);
  TMMLEDDigit* ones = spin->Panel()->Digit(0);
  EXPECT_EQ(uitest::RenderedPixel(*ones, 5, 0), clMaroon);  // segment a of "1" is unlit
  spin->SetDrawInactive(false);
  EXPECT_EQ(uitest::RenderedPixel(*ones, 5, 0), clBlack);
  spin->SetValue(5);
  EXPECT_EQ(uitest::RenderedPixel(*ones, 5, 0), clRed);
  EXPECT_FALSE(spin->GetDrawInactive());
  EXPECT_TRUE(spin->GetZeroBlank());
  EXPECT_EQ(spin->GetLEDColor(), clRed);
  EXPECT_EQ(spin->GetInactiveColor(), clMaroon);

  auto* led = Make<TMMLED>(10, 60);
  led->SetCaption("L");
  EXPECT_EQ(uitest::RenderedPixel(*led, 2, 2), clLime);
  led->SetEnabled(false);
  EXPECT_EQ(uitest::RenderedPixel(*led, 2, 2), clGreen);
  auto* mode = Make<TMMLEDMode>(40, 60);
  mode->SetMode(mStereo);
  uitest::SaveScreenshot(*form_, "ledspin_lamps");
}

}  // namespace
