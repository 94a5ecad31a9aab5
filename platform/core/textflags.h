#pragma once
// The framework's DrawText flags, shared by the canvas of the windows and the text of the 32-bit
// bitmaps. Global, like the other names of that framework's text drawing.

enum : unsigned {
  DT_TOP = 0,
  DT_LEFT = 0,
  DT_CENTER = 1,
  DT_RIGHT = 2,
  DT_VCENTER = 4,
  DT_BOTTOM = 8,
  DT_WORDBREAK = 0x10,
  DT_SINGLELINE = 0x20,
  DT_EXPANDTABS = 0x40,
  DT_NOCLIP = 0x100,
  DT_CALCRECT = 0x400,
  DT_NOPREFIX = 0x800
};
