#pragma once
// Set-up shared by the library control tests: the application, a scripted answerer, a manual
// clock, and a helper that paints a control into a bitmap.
#include <gtest/gtest.h>

#include <string>

#include "clock.h"
#include "ui_application.h"
#include "ui_canvas.h"
#include "ui_dialogs.h"

namespace vant {

class ControlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Application->Initialize();
    SetClock(&clock_);
  }
  void TearDown() override {
    SetClock(nullptr);
    Application->ProcessMessages();
  }
  ManualClock clock_;
  ScopedAnswerer dialogs_;
};

// Rows of the bitmap in `area` as characters: `a` for colour ca, `b` for cb, '.' otherwise.
inline std::string Pixels(const TBitmap& bmp, TRect area, TColor ca, char a, TColor cb = -2,
                          char b = '?') {
  std::string s;
  for (int y = area.Top; y < area.Bottom; ++y) {
    for (int x = area.Left; x < area.Right; ++x) {
      TColor c = bmp.Canvas().GetPixel(x, y);
      s += c == ca ? a : c == cb ? b : '.';
    }
    s += '\n';
  }
  return s;
}

}  // namespace vant
