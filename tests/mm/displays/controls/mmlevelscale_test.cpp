// TMMLevelScale: the levels and colours of its labels, which of them fit, and screenshots of
// scales beside bars.
#include "mmlevelscale.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

#include "mmlevel.h"
#include "ui_application.h"
#include "ui_form.h"
#include "ui_testing.h"

namespace vant {
namespace {

class LevelScaleTest : public ::testing::Test {
 protected:
  void SetUp() override { Application->Initialize(); }
  TForm form{nullptr};
};

TEST_F(LevelScaleTest, LabelLevelsAndColours) {
  auto* s = new TMMLevelScale(&form);
  // 8 labels from 0 dB down to the sensitivity, coloured by the zone of their magnitude.
  const char* db[] = {"0", "-5", "-10", "-15", "-20", "-25", "-30", "-35"};
  for (int k = 0; k < 8; ++k) EXPECT_EQ(s->LabelText(k), db[k]) << k;
  s->SetScaleColor(1, clLime);
  s->SetScaleColor(2, clYellow);
  s->SetScaleColor(3, clRed);
  const TColor colours[] = {clRed, clRed, clYellow, clYellow, clLime, clLime, clLime, clLime};
  for (int k = 0; k < 8; ++k) EXPECT_EQ(s->LabelColor(k), colours[k]) << k;
  // Linear: evenly spaced magnitudes from full scale down to the floor, in dB.
  s->SetLogAmp(false);
  EXPECT_EQ(s->LabelText(0), "0");
  EXPECT_EQ(s->LabelText(7), "-35");
  EXPECT_EQ(s->LabelText(1), "-1");
  // Seven gaps of labels 20 pixels long: every label in 140 pixels, every second in 70, every
  // fourth (one label) in 20, none in 19.
  EXPECT_EQ(s->LabelStride(140, 20), 1);
  EXPECT_EQ(s->LabelStride(70, 20), 2);
  EXPECT_EQ(s->LabelStride(20, 20), 4);
  EXPECT_EQ(s->LabelStride(19, 20), 0);
  s->SetScaleTicks(1);
  EXPECT_EQ(s->GetScaleTicks(), 2);
}

TEST_F(LevelScaleTest, LabelsNeverCoverOneAnother) {
  struct Case {
    const char* what;
    TMMLevelKind kind;
    TMMLevelDirection direction;
    int width, height;
    const char *first, *last;  // the labels at the two ends ("" : not checked)
  } cases[] = {
      // Every second of the 8 levels fits each half: 0, -10, -20, -30, mirrored to the right.
      {"horizontal symmetric, 220 wide", lkHorizontal, dirSymetric, 220, 20, "-30", "+30"},
      {"horizontal symmetric, 150 wide", lkHorizontal, dirSymetric, 150, 20, "-30", "+30"},
      {"horizontal symmetric, 60 wide", lkHorizontal, dirSymetric, 60, 20, "", ""},
      {"horizontal, 220 wide", lkHorizontal, dirNormal, 220, 20, "-35", "0"},
      {"horizontal reversed, 100 wide", lkHorizontal, dirReversed, 100, 20, "0", "-35"},
      {"vertical symmetric, 140 high", lkVertical, dirSymetric, 40, 140, "", ""},
      {"vertical, 90 high", lkVertical, dirNormal, 40, 90, "", ""},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.what);
    auto* s = new TMMLevelScale(&form);
    s->SetBounds(0, 0, t.width, t.height);
    s->SetKind(t.kind);
    s->SetDirection(t.direction);
    TBitmap bmp(t.width, t.height);
    bmp.Canvas().Font().Assign(&s->Font());
    const auto labels = s->Labels(bmp.Canvas(), s->ClientRect());
    ASSERT_FALSE(labels.empty());
    for (size_t i = 0; i < labels.size(); ++i)
      for (size_t j = i + 1; j < labels.size(); ++j) {
        const TRect &a = labels[i].box, &b = labels[j].box;
        const bool apart =
            a.Right <= b.Left || b.Right <= a.Left || a.Bottom <= b.Top || b.Bottom <= a.Top;
        EXPECT_TRUE(apart) << labels[i].text << " and " << labels[j].text;
      }
    if (*t.first) {
      // Along the axis from the left: the ends of the range read as they should.
      auto by_left = labels;
      std::sort(by_left.begin(), by_left.end(),
                [](const auto& a, const auto& b) { return a.box.Left < b.box.Left; });
      EXPECT_EQ(by_left.front().text, t.first);
      EXPECT_EQ(by_left.back().text, t.last);
    }
    delete s;
  }
}

TEST_F(LevelScaleTest, SymmetricScalesLabelBothHalvesAlike) {
  // Whatever fits one half of a symmetric scale, its mirror shows the same levels.
  for (TMMLevelKind kind : {lkHorizontal, lkVertical})
    for (int length = 40; length <= 420; length += 5) {
      SCOPED_TRACE((kind == lkHorizontal ? "horizontal, " : "vertical, ") + std::to_string(length) +
                   " px");
      auto* s = new TMMLevelScale(&form);
      const int w = kind == lkHorizontal ? length : 40, h = kind == lkHorizontal ? 20 : length;
      s->SetBounds(0, 0, w, h);
      s->SetKind(kind);
      s->SetDirection(dirSymetric);
      TBitmap bmp(w, h);
      bmp.Canvas().Font().Assign(&s->Font());
      std::multiset<std::string> quiet_half, mirrored_half;
      for (const auto& l : s->Labels(bmp.Canvas(), s->ClientRect())) {
        if (l.text == "0") continue;  // the centre, labelled once
        if (l.text[0] == '+')
          mirrored_half.insert(l.text.substr(1));
        else
          quiet_half.insert(l.text.substr(1));
      }
      EXPECT_EQ(quiet_half, mirrored_half);
      delete s;
    }
}

TEST_F(LevelScaleTest, Screenshots) {
  form.SetBounds(0, 0, 300, 160);
  form.SetColor(clGray);
  form.Show();
  struct Look {
    TMMLevelKind kind;
    TMMLevelDirection direction;
    TMMScalePos pos;
    TRect bounds;
  } looks[] = {{lkHorizontal, dirNormal, spBoth, Bounds(10, 10, 220, 26)},
               {lkHorizontal, dirReversed, spAboveOrLeft, Bounds(10, 45, 220, 20)},
               {lkHorizontal, dirSymetric, spBelowOrRight, Bounds(10, 75, 220, 20)},
               {lkVertical, dirNormal, spBoth, Bounds(250, 10, 40, 140)}};
  for (const Look& l : looks) {
    auto* s = new TMMLevelScale(&form);
    s->SetParent(&form);
    s->SetBounds(l.bounds.Left, l.bounds.Top, l.bounds.Right - l.bounds.Left,
                 l.bounds.Bottom - l.bounds.Top);
    s->SetKind(l.kind);
    s->SetDirection(l.direction);
    s->SetScalePos(l.pos);
    s->Scale().SetVisible(true);
    s->Scale().SetSize(4);
    s->Scale().SetTickCount(15);
  }
  auto* bar = new TMMLevel(&form);
  bar->SetParent(&form);
  bar->SetBounds(10, 110, 220, 17);
  bar->SetValue(80);
  uitest::SaveScreenshot(form, "level_scales");
  // Short ticks of the top scale every 15 pixels (the first, long one lies half a digit out).
  for (int x : {22, 38, 54}) EXPECT_EQ(uitest::RenderedPixel(form, x, 11), clWhite) << x;
}

}  // namespace
}  // namespace vant
