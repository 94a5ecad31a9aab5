#pragma once
// The drawing surface of the framework: pens, brushes, fonts, a GDI-like canvas over a 32-bit
// image, and bitmaps. Lines leave out their end pixel and rectangles cover [Left, Right) x
// [Top, Bottom). Antialiasing is off; raster operations (XOR, AND, ...) run in our own loops so
// results are exact to the pixel.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "textflags.h"
#include "ui_component.h"
#include "ui_types.h"

class QImage;
class QPainter;

namespace vant {

enum TFontStyle { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
using TFontStyles = unsigned;

// Font description. Height < 0 is the character height in pixels, > 0 the cell height; the
// layouts give sizes in points at 96 dpi.
class TFont : public TPersistent {
 public:
  TFont();
  const std::string& GetName() const { return name_; }
  void SetName(const std::string& v);
  int GetHeight() const { return height_; }
  void SetHeight(int v);
  int GetSize() const;  // points
  void SetSize(int points);
  TFontStyles GetStyle() const { return style_; }
  void SetStyle(TFontStyles v);
  TColor GetColor() const { return color_; }
  void SetColor(TColor v);
  // Rotation of text drawn with this font, in tenths of a degree counter-clockwise.
  int GetOrientation() const { return orientation_; }
  void SetOrientation(int v);
  void Assign(const TPersistent* source) override;
  std::string ClassName() const override { return "TFont"; }
  bool operator==(const TFont& o) const;
  std::function<void(TFont*)> OnChange;

 private:
  void Changed();
  std::string name_;
  int height_;
  TFontStyles style_ = 0;
  TColor color_ = clWindowText;
  int orientation_ = 0;
};

enum TPenStyle { psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear };
enum TPenMode { pmCopy, pmXor, pmNotXor, pmNot, pmBlack, pmWhite };

class TPen : public TPersistent {
 public:
  TColor Color = clBlack;
  int Width = 1;
  TPenStyle Style = psSolid;
  TPenMode Mode = pmCopy;
  void Assign(const TPersistent* source) override;
  std::string ClassName() const override { return "TPen"; }
};

enum TBrushStyle {
  bsSolid,
  bsClear,
  bsHorizontal,
  bsVertical,
  bsFDiagonal,
  bsBDiagonal,
  bsCross,
  bsDiagCross,
  bsPattern  // the 8x8 `Pattern` rows, bit 7 leftmost; set bits in Color, clear bits untouched
};

class TBrush : public TPersistent {
 public:
  TColor Color = clWhite;
  TBrushStyle Style = bsSolid;
  uint8_t Pattern[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  void Assign(const TPersistent* source) override;
  std::string ClassName() const override { return "TBrush"; }
};

// Raster operations of CopyRect, Draw and StretchDraw.
enum : uint32_t {
  cmBlackness = 0x00000042,
  cmDstInvert = 0x00550009,
  cmMergeCopy = 0x00C000CA,
  cmMergePaint = 0x00BB0226,
  cmNotSrcCopy = 0x00330008,
  cmNotSrcErase = 0x001100A6,
  cmPatCopy = 0x00F00021,
  cmSrcAnd = 0x008800C6,
  cmSrcCopy = 0x00CC0020,
  cmSrcErase = 0x00440328,
  cmSrcInvert = 0x00660046,
  cmSrcPaint = 0x00EE0086,
  cmWhiteness = 0x00FF0062
};

// Text flags: textflags.h (the framework's DrawText flags).

class TBitmap;

// Raised by a paint that does more work than its PaintMeter allows.
class EPaintBudget : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The work of drawing, counted rather than timed: while a meter lives on a thread, every canvas
// call on that thread (and every picture made there) charges the pixels it touches and the spans
// it walks (one per call and per run of a row). A charge past either budget throws EPaintBudget
// from inside the drawing call, so a runaway loop stops at once whatever build it runs in.
// Meters nest; the innermost counts.
class PaintMeter {
 public:
  PaintMeter(int64_t max_pixels, int64_t max_spans);
  ~PaintMeter();
  PaintMeter(const PaintMeter&) = delete;
  PaintMeter& operator=(const PaintMeter&) = delete;
  int64_t Pixels() const { return pixels_; }
  int64_t Spans() const { return spans_; }
  // Charges the meter of this thread, if any.
  static void Charge(int64_t pixels, int64_t spans);

 private:
  PaintMeter* outer_;
  int64_t max_pixels_, max_spans_;
  int64_t pixels_ = 0, spans_ = 0;
};

class TCanvas {
 public:
  // A canvas drawing into `image` (not owned; 32-bit). Null until a surface is attached.
  explicit TCanvas(QImage* image = nullptr);
  virtual ~TCanvas();
  TCanvas(const TCanvas&) = delete;
  TCanvas& operator=(const TCanvas&) = delete;

  // Attaches another surface (nullptr detaches). The pen position and clip are reset.
  void SetSurface(QImage* image);
  QImage* Surface() const { return image_; }
  bool HasSurface() const { return image_ != nullptr; }
  int Width() const;
  int Height() const;

  TPen& Pen() { return pen_; }
  TBrush& Brush() { return brush_; }
  TFont& Font() { return font_; }
  uint32_t GetCopyMode() const { return copy_mode_; }
  void SetCopyMode(uint32_t m) { copy_mode_ = m; }

  // Drawing is limited to the clip rectangle (the whole surface by default).
  TRect GetClipRect() const;
  void SetClipRect(const TRect& r);
  void ResetClip();

  TPoint GetPenPos() const { return pen_pos_; }
  void SetPenPos(TPoint p) { pen_pos_ = p; }
  void MoveTo(int x, int y) { pen_pos_ = {x, y}; }
  // Draws from the pen position to (x, y), leaving out (x, y), and moves the pen there.
  void LineTo(int x, int y);
  void Polyline(const std::vector<TPoint>& points);
  void Polygon(const std::vector<TPoint>& points);
  void Rectangle(int x1, int y1, int x2, int y2);
  void Rectangle(const TRect& r) { Rectangle(r.Left, r.Top, r.Right, r.Bottom); }
  void Ellipse(int x1, int y1, int x2, int y2);
  // Pie sector of the ellipse in (x1,y1,x2,y2), counter-clockwise from the ray through (x3,y3)
  // to the ray through (x4,y4).
  void Pie(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4);
  void FillRect(const TRect& r);
  // A 1-pixel frame in the brush colour.
  void FrameRect(const TRect& r);
  TColor GetPixel(int x, int y) const;  // clNone (as -1) outside the surface
  void SetPixel(int x, int y, TColor c);

  // Text: UTF-8. TextOut puts the top-left of the text at (x, y), filling the text cell with
  // the brush colour unless the brush is clear, and moves the pen to the text's end.
  void TextOut(int x, int y, const std::string& text);
  // TextOut clipped to `r`, the cell background filled over all of `r` unless the brush is clear.
  void TextRect(const TRect& r, int x, int y, const std::string& text);
  int TextWidth(const std::string& text) const;
  int TextHeight(const std::string& text) const;
  // Formatted text with DT_ flags; with DT_CALCRECT `r` receives the needed size and nothing is
  // drawn. Answers the height of the text.
  int DrawText(const std::string& text, TRect& r, unsigned flags);

  void Draw(int x, int y, const TBitmap& bmp);
  void StretchDraw(const TRect& dest, const TBitmap& bmp);
  // Copies (stretching when the sizes differ) `src_rect` of `src` onto `dest` with the copy mode.
  void CopyRect(const TRect& dest, const TCanvas& src, const TRect& src_rect);
  // A raster operation of (src_x, src_y) of `src` onto `dest` of this canvas, unscaled.
  void BitBlt(const TRect& dest, const TCanvas& src, int src_x, int src_y, uint32_t rop);

  // Text for a screen of higher density: while a sink is set, the text functions fill their
  // backgrounds but hand their glyphs to the sink instead of drawing them, each as a drawing in
  // the surface's logical coordinates with its clip. The control presents them at the screen's
  // resolution over the enlarged picture, then draws them into the surface as well.
  using GlyphDrawing = std::function<void(QPainter&)>;
  void SetGlyphSink(std::vector<GlyphDrawing>* sink) { glyphs_ = sink; }

  // Serialises drawing from several threads.
  void Lock() { lock_.lock(); }
  void Unlock() { lock_.unlock(); }

 private:
  friend class CanvasPainter;
  // Rows and columns of the pen's pixels from the first coordinate up to the second, clipped
  // before they are walked.
  void HLine(int x1, int x2, int y, uint32_t pixel, TPenMode mode);
  void VLine(int x, int y1, int y2, uint32_t pixel, TPenMode mode);
  // An ellipse (or a pie of it) too large for the toolkit's rectangles, as a polygon.
  void CurveAsPolygon(int x1, int y1, int x2, int y2, double from, double span, bool pie);
  void PlotPen(int x, int y, uint32_t pixel, TPenMode mode);
  // A source rectangle whose size may exceed int (a copy unscaled onto a destination spanning
  // more than int holds).
  struct SourceArea {
    int64_t left, top, width, height;
    static SourceArea Of(const TRect& r);
  };
  void RasterCopy(const TRect& dest, const QImage& src, const SourceArea& src_area, uint32_t rop);
  TRect Clip() const;
  // Draws the glyphs now, or hands them to the glyph sink.
  void Glyphs(QPainter& p, GlyphDrawing draw);

  QImage* image_;
  std::vector<GlyphDrawing>* glyphs_ = nullptr;
  TPen pen_;
  TBrush brush_;
  TFont font_;
  TPoint pen_pos_;
  uint32_t copy_mode_ = cmSrcCopy;
  bool has_clip_ = false;
  TRect clip_;
  std::recursive_mutex lock_;
};

// The framework's three-dimensional frame: `width` rings, top and left in `top`, bottom and
// right in `bottom`; `r` is shrunk by `width` on every side (held within int). Only the rings
// that reach the target are drawn, so any width costs at most the target's pixels.
void Frame3D(TCanvas& canvas, TRect& r, TColor top, TColor bottom, int width);

// A 32-bit off-screen picture with its own canvas.
class TBitmap : public TPersistent {
 public:
  TBitmap();
  TBitmap(int width, int height);
  ~TBitmap() override;
  TBitmap(TBitmap&&) noexcept;
  TBitmap& operator=(TBitmap&&) noexcept;
  int Width() const;
  int Height() const;
  void SetWidth(int w) { SetSize(w, Height()); }
  void SetHeight(int h) { SetSize(Width(), h); }
  // Resizes; new pixels are white, kept pixels keep their colour.
  void SetSize(int w, int h);
  bool Empty() const { return Width() == 0 || Height() == 0; }
  TCanvas& Canvas() { return *canvas_; }
  const TCanvas& Canvas() const { return *canvas_; }
  // Row y as 0xAARRGGBB pixels.
  uint32_t* ScanLine(int y);
  const uint32_t* ScanLine(int y) const;
  // Loads or saves BMP or PNG (by content on load, by extension on save). False on failure.
  // A load makes every pixel opaque unless `keepAlpha` is set.
  bool LoadFromFile(const std::filesystem::path& path, bool keepAlpha = false);
  bool SaveToFile(const std::filesystem::path& path) const;
  void Assign(const TPersistent* source) override;
  std::string ClassName() const override { return "TBitmap"; }
  QImage& Image() { return *image_; }
  const QImage& Image() const { return *image_; }
  // Fired after a size change, Assign or load.
  std::function<void(TBitmap*)> OnChange;

 private:
  void Changed();
  std::unique_ptr<QImage> image_;
  std::unique_ptr<TCanvas> canvas_;
};

// Makes sure a Qt GUI application object exists (tests and the application call it first);
// installs the font substitutes and the toolkit's translations once.
void EnsureGuiApplication();
// What the toolkit is told about the display where the desktop says nothing, before it starts:
// on X11, window pictures travel in the requests rather than through shared memory, whose reuse
// waits for the server on every paint (displays that update 60 times a second). A value the
// user gave stays.
void SetDisplayDefaults();
// Family names from the layouts mapped onto installed metric-compatible families.
void InstallFontSubstitutes();
// The toolkit speaks Japanese whatever the desktop's language: its installed Japanese
// translations (standard buttons, file dialogs), the few texts they lack, and Japanese dates and
// sizes in its own widgets (ui_language.cpp).
void InstallToolkitTranslations();

}  // namespace vant
