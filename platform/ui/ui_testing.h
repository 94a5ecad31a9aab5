#pragma once
// Helpers for tests that drive windows as a person would: synthetic mouse and key input through
// the toolkit (so every handler runs exactly as it would for real input) and screenshots.
#include <filesystem>
#include <string>

#include "ui_control.h"

namespace vant::uitest {

// A press and release of `button` at (x, y) in `c`'s client coordinates.
void Click(TControl& c, int x, int y, TMouseButton button = mbLeft);
// `keys` are the modifier keys held (ssShift, ssCtrl, ssAlt).
void MouseDown(TControl& c, int x, int y, TMouseButton button = mbLeft,
               const TShiftState& keys = {});
// A move to (x, y) in `c`'s coordinates with the left button held when `left_held`.
void MouseMove(TControl& c, int x, int y, bool left_held, const TShiftState& keys = {});
// Two clicks of the left button, the second delivered as a double click.
void DoubleClick(TControl& c, int x, int y, const TShiftState& keys = {});
void MouseUp(TControl& c, int x, int y, TMouseButton button = mbLeft);
// A press and release of a key without text (VK_LEFT, VK_PRIOR, VK_HOME, ...) on `c`.
void PressKey(TWinControl& c, uint16_t vk);
// Types UTF-8 text into a windowed control as key presses.
void Type(TWinControl& c, const std::string& text);
// The control that a pointer at (x, y) of `c`'s client area lands on, as the toolkit finds it
// (topmost child first, widgets that let the mouse through skipped); `c` itself when no child.
TControl* ControlAt(TWinControl& c, int x, int y);
// The hint the toolkit shows when the pointer rests at (x, y) of `c`'s client area; empty when
// none shows.
std::string HintAt(TControl& c, int x, int y);
// Renders the control (a form: the whole window) and saves it as PNG under
// <build>/screenshots/<name>.png; answers the path written.
std::filesystem::path SaveScreenshot(TControl& c, const std::string& name);
// Pixel (x, y) of the control as it renders now, as an RGB TColor.
TColor RenderedPixel(TControl& c, int x, int y);

}  // namespace vant::uitest

// The helpers were first published under vant::testing; both names reach them.
namespace vant::testing {
using namespace vant::uitest;
}  // namespace vant::testing
