#pragma once
// Geometry, colours and small enumerations shared by every part of the component framework.
// TColor keeps the framework's layout: 0x00BBGGRR for RGB values, 0x80000000 | index for the
// system colours, which resolve through a fixed table so drawings match on every machine.
#include <cstdint>
#include <iosfwd>
#include <set>
#include <string>

#include "ui_geom.h"

namespace vant {

struct TPoint {
  int X = 0;
  int Y = 0;
  friend bool operator==(const TPoint&, const TPoint&) = default;
};

struct TRect {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;
  // Held within int, for rectangles whose sides lie at the ends of int.
  int Width() const { return SubSat(Right, Left); }
  int Height() const { return SubSat(Bottom, Top); }
  bool IsEmpty() const { return Right <= Left || Bottom <= Top; }
  bool Contains(TPoint p) const { return p.X >= Left && p.X < Right && p.Y >= Top && p.Y < Bottom; }
  friend bool operator==(const TRect&, const TRect&) = default;
};
// For test failure messages: "(l,t,r,b)".
std::ostream& operator<<(std::ostream& os, const TRect& r);
std::ostream& operator<<(std::ostream& os, const TPoint& p);

inline TRect Rect(int l, int t, int r, int b) { return {l, t, r, b}; }
inline TRect Bounds(int l, int t, int w, int h) { return {l, t, AddSat(l, w), AddSat(t, h)}; }
inline TPoint Point(int x, int y) { return {x, y}; }
// Shrinks `r` by dx and dy on each side (negative values grow it).
void InflateRect(TRect& r, int dx, int dy);
void OffsetRect(TRect& r, int dx, int dy);
// The common part of two rectangles (empty when they do not meet).
TRect IntersectRect(const TRect& a, const TRect& b);

using TColor = int32_t;

constexpr TColor RGBColor(int r, int g, int b) {
  return (r & 255) | ((g & 255) << 8) | ((b & 255) << 16);
}
constexpr int GetRValue(uint32_t c) { return c & 255; }
constexpr int GetGValue(uint32_t c) { return (c >> 8) & 255; }
constexpr int GetBValue(uint32_t c) { return (c >> 16) & 255; }

constexpr TColor clBlack = 0x000000, clMaroon = 0x000080, clGreen = 0x008000, clOlive = 0x008080,
                 clNavy = 0x800000, clPurple = 0x800080, clTeal = 0x808000, clGray = 0x808080,
                 clSilver = 0xC0C0C0, clRed = 0x0000FF, clLime = 0x00FF00, clYellow = 0x00FFFF,
                 clBlue = 0xFF0000, clFuchsia = 0xFF00FF, clAqua = 0xFFFF00, clWhite = 0xFFFFFF;
constexpr TColor clNone = 0x1FFFFFFF;
constexpr TColor clDefault = 0x20000000;

constexpr TColor SysColor(int index) { return static_cast<TColor>(0x80000000u | unsigned(index)); }
constexpr TColor clScrollBar = SysColor(0), clBackground = SysColor(1),
                 clActiveCaption = SysColor(2), clInactiveCaption = SysColor(3),
                 clMenu = SysColor(4), clWindow = SysColor(5), clWindowFrame = SysColor(6),
                 clMenuText = SysColor(7), clWindowText = SysColor(8), clCaptionText = SysColor(9),
                 clActiveBorder = SysColor(10), clInactiveBorder = SysColor(11),
                 clAppWorkSpace = SysColor(12), clHighlight = SysColor(13),
                 clHighlightText = SysColor(14), clBtnFace = SysColor(15),
                 clBtnShadow = SysColor(16), clGrayText = SysColor(17), clBtnText = SysColor(18),
                 clInactiveCaptionText = SysColor(19), clBtnHighlight = SysColor(20),
                 cl3DDkShadow = SysColor(21), cl3DLight = SysColor(22), clInfoText = SysColor(23),
                 clInfoBk = SysColor(24);

// Resolves system colours through the fixed table; RGB values pass unchanged. Answers 0x00BBGGRR.
uint32_t ColorToRGB(TColor c);
// 0xAARRGGBB with full alpha, the layout of a 32-bit pixel in memory.
uint32_t ColorToPixel(TColor c);
TColor PixelToColor(uint32_t pixel);

enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };
enum TAlignment { taLeftJustify, taRightJustify, taCenter };
enum TMouseButton { mbLeft, mbRight, mbMiddle };
enum TShiftFlag { ssShift, ssAlt, ssCtrl, ssLeft, ssRight, ssMiddle, ssDouble };
using TShiftState = std::set<TShiftFlag>;
enum TDragMode { dmManual, dmAutomatic };
enum TDragState { dsDragEnter, dsDragLeave, dsDragMove };
enum TBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
enum TBevelCut { bvNone, bvLowered, bvRaised, bvSpace };

using TCursor = int;
constexpr TCursor crDefault = 0, crNone = -1, crArrow = -2, crCross = -3, crIBeam = -4,
                  crSize = -22, crSizeNESW = -6, crSizeNS = -7, crSizeNWSE = -8, crSizeWE = -9,
                  crUpArrow = -10, crHourGlass = -11, crDrag = -12, crNoDrop = -13, crHSplit = -14,
                  crVSplit = -15, crMultiDrag = -16, crSQLWait = -17, crNo = -18, crAppStart = -19,
                  crHelp = -20, crHandPoint = -21, crSizeAll = -22;

// Virtual key codes delivered with key events.
enum : uint16_t {
  VK_BACK = 8,
  VK_TAB = 9,
  VK_RETURN = 13,
  VK_SHIFT = 16,
  VK_CONTROL = 17,
  VK_MENU = 18,
  VK_ESCAPE = 27,
  VK_SPACE = 32,
  VK_PRIOR = 33,
  VK_NEXT = 34,
  VK_END = 35,
  VK_HOME = 36,
  VK_LEFT = 37,
  VK_UP = 38,
  VK_RIGHT = 39,
  VK_DOWN = 40,
  VK_INSERT = 45,
  VK_DELETE = 46,
  VK_F1 = 112
};

}  // namespace vant
