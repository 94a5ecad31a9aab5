#pragma once
// The off-screen drawing surface of the audio displays and its control base. TMMDIBCanvas holds
// an 8-bit indexed (256-entry colour table) or 24-bit blue-green-red surface, bottom-up, rows
// padded to 4 bytes, with an optional background surface and palette animation. The DIB_
// primitives write straight into the surface through one process-wide drawing state that
// DIB_InitDrawing loads from a canvas and DIB_DoneDrawing clears, under one lock: only one
// canvas is drawn at a time in the whole process. A finished frame reaches the screen with one
// DIB_BitBlt onto a framework canvas.
//
// Every display follows the same order: DIB_InitDrawing; a colour (DIB_SetTColor and kin);
// primitives (and DrawBackGround); DIB_BitBlt; DIB_DoneDrawing. Primitives leave out the far end
// of lines and spans and the right and bottom edges of the clip rectangle, and never write
// outside the clip rectangle of the surface in use, whatever their arguments.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "exceptions.h"
#include "mmdib.h"
#include "mmobj.h"
#include "ui_canvas.h"
#include "ui_dibview.h"

VANT_DECLARE_EXCEPTION(EMMDIBError, vant::Exception);

// ---- the process-wide drawing state (valid between DIB_InitDrawing and DIB_DoneDrawing) ----

// Surfaces are bottom-up: row 0 of the picture is the last row in memory.
inline constexpr int DIB_ORIENT = 1;
extern int biBits;  // 8 or 24
extern int biBPP;   // bytes per pixel: 1 or 3
extern int biWidth, biHeight;
extern int biScanWidth;     // bytes per row, a multiple of 4
extern int biLineDiff;      // address step from row y to row y + 1
extern uint32_t biColor;    // 24 bits: RGB (red low); 8 bits: the index in all four bytes
extern uint8_t* biSurface;  // first pixel byte of the surface
extern vant::TPoint biPenPos;
extern vant::TRect biClipRect;  // Left <= x < Right, Top <= y < Bottom may be written

// The lock held from DIB_InitDrawing to DIB_DoneDrawing (re-entrant for the holding thread).
TMMCriticalSection& DataSection();

using TMMDIBDrawProc = std::function<void(bool Clear)>;

// The framework canvas this class derives from has no surface of its own: text and shapes
// that are not DIB_ primitives go onto the control's canvas after the blit.
class TMMDIBCanvas : public vant::TCanvas {
 public:
  explicit TMMDIBCanvas(vant::TComponent* owner);
  ~TMMDIBCanvas() override;

  // ---- size, depth, palette ----
  int GetWidth() const { return width_; }
  int GetHeight() const { return height_; }
  void SetWidth(int v) { SetBounds(0, 0, v, height_); }
  void SetHeight(int v) { SetBounds(0, 0, width_, v); }
  // Ignores the position. A new size resets the clip rectangle and rebuilds the surface at the
  // next DIB_InitDrawing (a drawing period under way keeps its surface).
  void SetBounds(int left, int top, int width, int height);
  int GetBPP() const { return bits_; }
  // 8 or 24 ("Bitlength not supported yet" otherwise); rebuilds at once.
  void SetBPP(int bits);
  // A copy of a logical palette (version 0x300 or later, at most 256 entries; anything else or
  // nullptr clears it) whose entries 10..246 the surface takes; rebuilds.
  void SetLogPalette(const TLogPalette* palette);
  bool GetRealize() const { return realize_; }
  void SetRealize(bool v);
  bool GetMapped() const { return mapped_; }
  void SetMapped(bool v) { mapped_ = v; }
  // The picture under every frame (DrawBackGround copies it in); empty for none. Changing it
  // rebuilds the surface.
  vant::TBitmap& BackGroundBitmap() { return *background_; }
  void SetBackBitmap(const vant::TBitmap* bitmap);
  bool GetStretchBgnd() const { return stretch_; }
  void SetStretchBgnd(bool v);
  // The palette the surface was built with (256 entries).
  const TLogPalette& Palette() const { return palette_; }

  // ---- the surface ----
  void CreateDIB();
  void DestroyDIB();
  // Rebuilds now; refused during a drawing period.
  void RecreateDIB();
  // Rebuilds when a size change marked the surface for it.
  void CheckDIB();
  bool Drawing() const { return drawing_ > 0; }
  // The drawing surface and the background surface (nullptr when there is none).
  uint8_t* Surface() { return dib_bits_; }
  uint8_t* BackSurface() { return back_bits_; }
  int ScanWidth() const { return scan_; }
  const vant::TDIBView& View() const { return view_; }

  // ---- drawing periods ----
  // Takes the lock and loads the drawing state from this canvas. The same canvas nests by
  // count; another canvas while this thread draws raises.
  void DIB_InitDrawing();
  void DIB_DoneDrawing();
  // Copies `rect` read as (Left, Top, width in Right, height in Bottom) to the canvas `dc`.
  void DIB_BitBlt(vant::TCanvas* dc, const vant::TRect& rect, int src_x, int src_y);
  // The same for a control that knows the rectangles it drew since its last copy to `dc`
  // (surface coordinates, Left < Right, Top < Bottom): a copy to the same place reads those alone.
  void DIB_BitBlt(vant::TCanvas* dc, const vant::TRect& rect, int src_x, int src_y,
                  std::span<const vant::TRect> drawn);
  void DIB_StretchBlt(vant::TCanvas* dc, const vant::TRect& dest, const vant::TRect& src);
  uint8_t* DIB_GetPixelAddress(uint8_t* bits, int x, int y) const;
  uint32_t DIB_ColorToIndex(vant::TColor color) const;
  void DIB_SetClipRect(const vant::TRect& r);
  vant::TRect DIB_GetClipRect() const { return clip_; }
  void DIB_SetTColor(vant::TColor color);
  void DIB_SetColorRef(uint32_t rgb);
  void DIB_SetColor(uint32_t raw);

  // ---- palette animation (8-bit surfaces) ----
  int GetAnimCount() const { return static_cast<int>(anim_colors_.size()); }
  // 0..236 ("Invalid count of animated colors" otherwise); a new count rebuilds the surface.
  void SetAnimCount(int n);
  // The colour the entry received when the surface was built.
  uint32_t GetAnimColor(int i) const;
  // The entry's colour now.
  uint32_t GetAnimColorValue(int i) const;
  // Changes the colour table only, never the pixels; inside an animation bracket the colour
  // waits for the outermost EndAnimate.
  void SetAnimColorValue(int i, vant::TColor color);
  // The palette index to draw animated colour i with.
  int GetAnimColorIndex(int i) const;
  void BeginAnimate();
  void EndAnimate();
  void FreeColors();

  // ---- primitives (between DIB_InitDrawing and DIB_DoneDrawing; state from the globals) ----
  void DIB_SETPIXEL(int x, int y, uint32_t color);
  int32_t DIB_GETPIXEL(int x, int y);
  void DIB_MOVETO(int x, int y);
  void DIB_LINETO(int x, int y);
  void DIB_LINE(int x1, int y1, int x2, int y2);
  void DIB_LINENOTXOR(int x1, int y1, int x2, int y2);
  void DIB_HLINE(int x1, int x2, int y);
  void DIB_HLINEDASHED(int x1, int x2, int y);
  void DIB_HLINEDOTED(int x1, int x2, int y, int space);
  void DIB_VLINE(int x, int y1, int y2);
  void DIB_VLINEDASHED(int x, int y1, int y2);
  void DIB_VLINEDOTED(int x, int y1, int y2, int space);
  void DIB_VLINEXOR(int x, int y1, int y2);
  void DIB_VLINENOTXOR(int x, int y1, int y2);
  void DIB_VLINEMULTICOLOR(int x, int y, const uint8_t* colors, int count);
  void DIB_RECTANGLE(int x1, int y1, int x2, int y2);
  void DIB_FILLRECT(const vant::TRect& r);
  void DIB_FILLRECTXOR(const vant::TRect& r);
  void DIB_FILLRECTDOTED(const vant::TRect& r, bool doted);
  void DIB_CLEAR();
  // Copies from `source`, a surface of this canvas's size and layout (the background surface
  // or the canvas's own pixels); overlapping moves within one surface come out right.
  void DIB_COPYDIBBITS(const uint8_t* source, int dest_x, int dest_y, int width, int height,
                       int src_x, int src_y);
  void DIB_ELLIPSE(int x, int y, int16_t start_angle, int16_t end_angle, int16_t rx, int16_t ry);
  void DIB_FILLELLIPSE(int x, int y, int16_t rx, int16_t ry);

  // Around every drawing period; OnAnimate after the colour table changed (show it again).
  std::function<void(TMMDIBCanvas*)> OnChanging, OnChange, OnAnimate;

 private:
  void Rebuild();
  void BuildBackground();
  void WriteColorTable();
  void CheckAnimIndex(int i) const;
  void Line(int x1, int y1, int x2, int y2, bool notxor);

  vant::TComponent* owner_;
  int bits_ = 8;
  int width_ = 1, height_ = 1;
  bool realize_ = false, mapped_ = false, stretch_ = true;
  int drawing_ = 0;        // nesting count of drawing periods
  bool recreate_ = false;  // the size changed: rebuild at the next period
  bool created_ = false;
  vant::TRect clip_;
  std::unique_ptr<vant::TBitmap> background_;
  std::unique_ptr<TLogPalette> log_palette_;
  TLogPalette palette_;
  uint32_t color_table_[256] = {};  // 0x00RRGGBB, the surface's colour table
  // The palette index of colours asked for lately, so that a control setting the same few colours
  // every frame does not search the palette each time; emptied whenever the palette changes.
  struct NearestEntry {
    uint32_t rgb = 0xFFFFFFFFu;  // no colour has this value
    uint8_t index = 0;
  };
  mutable std::array<NearestEntry, 64> nearest_{};
  uint8_t NearestIndex(uint32_t rgb) const;
  void ForgetNearest() { nearest_.fill(NearestEntry{}); }
  // Surface memory in 32-bit words so rows and 8-bit fills can use whole words.
  std::vector<uint32_t> dib_store_, back_store_;
  uint8_t* dib_bits_ = nullptr;
  uint8_t* back_bits_ = nullptr;
  int dib_width_ = 0, dib_height_ = 0, scan_ = 0;
  vant::TDIBView view_;
  std::vector<uint32_t> anim_colors_;  // RGB values the animated entries were built with
  int anim_count_ = 0;
  int anim_first_ = 256;
  int anim_bracket_ = 0;
  std::vector<uint32_t> anim_pending_;
};

// A windowless control that draws into its own TMMDIBCanvas (level bars, spectra, ...).
class TMMDIBGraphicControl : public TMMGraphicControl {
 public:
  explicit TMMDIBGraphicControl(vant::TComponent* owner);
  ~TMMDIBGraphicControl() override;
  std::string ClassName() const override { return "TMMDIBGraphicControl"; }

  void SetBounds(int left, int top, int width, int height) override;
  void Loaded() override;

  TMMDIBCanvas& DIBCanvas() { return *dib_canvas_; }
  int GetBPP() const { return dib_canvas_->GetBPP(); }
  virtual void SetBPP(int value);
  bool GetRealize() const { return dib_canvas_->GetRealize(); }
  void SetRealize(bool v);
  bool GetMapped() const { return dib_canvas_->GetMapped(); }
  void SetMapped(bool v);
  // The canvas palette when PaletteRealize is set, else none.
  const TLogPalette* GetPalette() const;
  vant::TBitmap& BackGroundDIB() { return *back_dib_; }
  void SetBackGround(const vant::TBitmap& bitmap);
  bool GetUseBackDIB() const { return use_back_dib_; }
  void SetUseBackDIB(bool value);
  int Tag2 = 0;

  // Inside a drawing period: the background surface when there is one, else the control's
  // Color over the whole surface.
  virtual void DrawBackGround();
  // Runs `draw` at once on the control's picture (its canvas attached) and shows the result
  // without waiting for the toolkit's next paint.
  void FastDraw(const TMMDIBDrawProc& draw, bool clear);

 protected:
  virtual void BackGroundChanged();

 private:
  std::unique_ptr<TMMDIBCanvas> dib_canvas_;
  std::unique_ptr<vant::TBitmap> back_dib_;
  bool use_back_dib_ = false;
  bool loaded_use_back_dib_ = false;
};
