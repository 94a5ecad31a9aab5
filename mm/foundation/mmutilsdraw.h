#pragma once
// The toolbox's drawing, screen and window helpers (the GDI part of the unit): recoloured
// glyphs, transparent and tiled bitmaps, gradients, rubber bands, aligned and rotated text.
// Every routine that uses an intermediate bitmap holds MMUtilsDrawLock().
#include <string>

#include "ui_canvas.h"
#include "ui_control.h"

// Recolours a three-colour glyph in place: white becomes `color1`, black `color2`, 0xC0C0C0
// `color3` (with `use_third`, else `color2`); every other pixel becomes black.
void ChangeColors(vant::TBitmap& bitmap, bool use_third, vant::TColor color1, vant::TColor color2,
                  vant::TColor color3);
void GetBitmapSize(const vant::TBitmap& bitmap, int& width, int& height);
// The pixel at `p` clamped into the bitmap; GetTransparentColor takes the bottom-left pixel.
vant::TColor GetTransparentColorEx(const vant::TBitmap& bitmap, vant::TPoint p);
vant::TColor GetTransparentColor(const vant::TBitmap& bitmap);
// Draws `source_rect` of the bitmap at (x, y), leaving the destination where the source has the
// transparent colour (the mask method: destination AND mask, OR source without the
// transparent pixels).
void DrawTransparentBitmapEx(vant::TCanvas& canvas, const vant::TBitmap& bitmap, int x, int y,
                             const vant::TRect& source_rect, vant::TColor transparent);
void DrawTransparentBitmap(vant::TCanvas& canvas, const vant::TBitmap& bitmap, int x, int y,
                           vant::TColor transparent);
// Repeats the bitmap over `rect` row by row from the top-left, each copy cut to what is left.
void TileBlt(vant::TCanvas& canvas, const vant::TBitmap& bitmap, const vant::TRect& rect,
             uint32_t rop);
// `steps` vertical bands from color1 to color2 (color1 alone when steps < 2; nothing when < 1).
void FillGradient(vant::TCanvas& canvas, vant::TColor color1, vant::TColor color2, int steps,
                  const vant::TRect& rect);
void FillSolid(vant::TCanvas& canvas, vant::TColor color, const vant::TRect& rect);
// Text with its left edge (0) or right edge (1) at x and centred on y, or rotated to read
// upwards (2), centred on x and ending at y. `size` is the character height in pixels + 1.
void TextOutAligned(vant::TCanvas& canvas, int x, int y, const std::string& text,
                    const std::string& font_name, int size, int alignment);

// Rubber bands for a rectangle in `control`'s client coordinates, drawn with exclusive-or on the
// control's canvas (so drawing twice removes them): a dotted focus rectangle with the corners
// put in order, or a line between the two corners with `pen` and its mode (DrawRubberLine: a
// white XOR pen). Nothing for a null control or an all-zero rectangle.
void DrawRubberband(vant::TControl* control, const vant::TRect& rect);
void DrawRubberLineEx(vant::TControl* control, const vant::TRect& rect, const vant::TPen& pen,
                      vant::TPenMode mode);
void DrawRubberLine(vant::TControl* control, const vant::TRect& rect);

// A point of `source`'s client area in `dest`'s client coordinates.
vant::TPoint ClientToClient(const vant::TControl& dest, const vant::TControl& source,
                            vant::TPoint p);
// Fixed metrics of the layouts' window frame: caption 19 + 2 × sizing frame 4, menu bar 19.
int NonClientHeight();
int MenuHeight();
// The surfaces are 32-bit.
int BitsPerPixel();
