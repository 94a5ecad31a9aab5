#pragma once
// What the programs ask of the desktop outside the component framework: the keyboard state at
// start-up (Shift or Ctrl held starts a second instance anyway), bringing a window back from
// the task bar when another start asks for it, and the text colour of toolkit fields.
#include "ui_form.h"

// True when Shift or Ctrl is held now. Answers false where the desktop does not tell
// (a Wayland session without focus, the offscreen platform).
bool ShiftOrCtrlHeld();
// Sets a field's text colour. The framework gives the toolkit's edit, memo and list controls only
// the font's face and size, so their text colour is set here as well.
void SetTextColor(vant::TControl& field, vant::TColor colour);
// Restores a minimised window, raises it and makes it the active one.
void BringWindowForward(vant::TForm& form);
