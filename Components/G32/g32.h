#pragma once
// The base of the graphics library: colour and fixed-point functions, the change-notifying lockable
// base TThreadPersistent, the sized-map base TCustomMap and the 32-bit bitmap TBitmap32 with its
// stored "Data" format. Pixels are our own zero-filled, 64-byte-aligned memory, rows from the top,
// each pixel B, G, R, A in memory; nothing here needs a display.
#include <atomic>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>

#include "g32_blend.h"
#include "g32_types.h"
#include "textflags.h"

namespace g32 {

// ---- Colours -------------------------------------------------------------------------------
constexpr TColor32 clBlack32 = 0xFF000000, clDimGray32 = 0xFF3F3F3F, clGray32 = 0xFF7F7F7F,
                   clLightGray32 = 0xFFBFBFBF, clWhite32 = 0xFFFFFFFF, clMaroon32 = 0xFF7F0000,
                   clGreen32 = 0xFF007F00, clOlive32 = 0xFF7F7F00, clNavy32 = 0xFF00007F,
                   clPurple32 = 0xFF7F007F, clTeal32 = 0xFF007F7F, clRed32 = 0xFFFF0000,
                   clLime32 = 0xFF00FF00, clYellow32 = 0xFFFFFF00, clBlue32 = 0xFF0000FF,
                   clFuchsia32 = 0xFFFF00FF, clAqua32 = 0xFF00FFFF, clTrWhite32 = 0x7FFFFFFF,
                   clTrBlack32 = 0x7F000000, clTrRed32 = 0x7FFF0000, clTrGreen32 = 0x7F00FF00,
                   clTrBlue32 = 0x7F0000FF;

// How system colours (negative TColor values) become RGB; the UI layer installs its table.
using TSystemColorResolver = uint32_t (*)(int index);
void SetSystemColorResolver(TSystemColorResolver resolver);
// A framework colour resolved to 0x00BBGGRR.
uint32_t ColorToRGB(TColor color);

TColor32 Color32(TColor WinColor);
inline TColor32 Color32(uint8_t R, uint8_t G, uint8_t B, uint8_t A = 255) {
  return uint32_t(A) << 24 | uint32_t(R) << 16 | uint32_t(G) << 8 | B;
}
inline TColor32 Color32(uint8_t Index, const TPalette32& Palette) { return Palette[Index]; }
inline TColor32 Gray32(uint8_t Intensity, uint8_t Alpha = 255) {
  return uint32_t(Alpha) << 24 | uint32_t(Intensity) * 0x010101u;
}
inline TColor WinColor(TColor32 C) {
  return TColor(((C >> 16) & 0xFF) | (C & 0xFF00) | ((C & 0xFF) << 16));
}
TArrayOfColor32 ArrayOfColor32(std::span<const TColor32> Colors);
inline int RedComponent(TColor32 C) { return (C >> 16) & 0xFF; }
inline int GreenComponent(TColor32 C) { return (C >> 8) & 0xFF; }
inline int BlueComponent(TColor32 C) { return C & 0xFF; }
inline int AlphaComponent(TColor32 C) { return C >> 24; }
inline int Intensity(TColor32 C) {
  return (RedComponent(C) * 61 + GreenComponent(C) * 174 + BlueComponent(C) * 21) >> 8;
}
inline TColor32 SetAlpha(TColor32 C, int NewAlpha) {
  return (C & 0x00FFFFFF) | uint32_t(Clamp(NewAlpha)) << 24;
}
TColor32 HSLtoRGB(float H, float S, float L);
void RGBtoHSL(TColor32 RGB, float& H, float& S, float& L);

// ---- Fixed point and geometry ---------------------------------------------------------------
TFixed Fixed(float S);
inline TFixed Fixed(int I) { return TFixed(uint32_t(I) << 16); }
inline int FixedFloor(TFixed A) { return A >> 16; }
inline int FixedCeil(TFixed A) { return int((int64_t(A) + 0xFFFF) >> 16); }
inline int FixedRound(TFixed A) { return int((int64_t(A) + 0x7FFF) >> 16); }
inline TFixed FixedMul(TFixed A, TFixed B) { return MulDiv(A, B, 0x10000); }
inline TFixed FixedDiv(TFixed A, TFixed B) { return MulDiv(A, 0x10000, B); }

inline TPoint Point(int X, int Y) { return {X, Y}; }
TPoint Point(const TFloatPoint& P);
inline TPoint Point(const TFixedPoint& P) { return {FixedRound(P.X), FixedRound(P.Y)}; }
inline TFloatPoint FloatPoint(float X, float Y) { return {X, Y}; }
inline TFloatPoint FloatPoint(const TPoint& P) { return {float(P.X), float(P.Y)}; }
inline TFloatPoint FloatPoint(const TFixedPoint& P) {
  return {P.X * (1.0f / 65536), P.Y * (1.0f / 65536)};
}
inline TFixedPoint FixedPoint(int X, int Y) { return {Fixed(X), Fixed(Y)}; }
inline TFixedPoint FixedPoint(float X, float Y) { return {Fixed(X), Fixed(Y)}; }
inline TFixedPoint FixedPoint(const TPoint& P) { return {Fixed(P.X), Fixed(P.Y)}; }
inline TFixedPoint FixedPoint(const TFloatPoint& P) { return {Fixed(P.X), Fixed(P.Y)}; }

inline TRect MakeRect(int L, int T, int R, int B) { return {L, T, R, B}; }
inline TFloatRect FloatRect(float L, float T, float R, float B) { return {L, T, R, B}; }
inline TFloatRect FloatRect(const TRect& R) {
  return {float(R.Left), float(R.Top), float(R.Right), float(R.Bottom)};
}
TRect MakeRect(const TFloatRect& R, TRectRounding Rounding = rrClosest);
TRect MakeRect(const TFixedRect& R, TRectRounding Rounding = rrClosest);
inline bool EqualRect(const TRect& A, const TRect& B) { return A == B; }
inline void InflateRect(TRect& R, int Dx, int Dy) {
  R.Left -= Dx, R.Top -= Dy, R.Right += Dx, R.Bottom += Dy;
}
inline void InflateRect(TFloatRect& R, float Dx, float Dy) {
  R.Left -= Dx, R.Top -= Dy, R.Right += Dx, R.Bottom += Dy;
}
inline void OffsetRect(TRect& R, int Dx, int Dy) {
  R.Left += Dx, R.Top += Dy, R.Right += Dx, R.Bottom += Dy;
}
inline void OffsetRect(TFloatRect& R, float Dx, float Dy) {
  R.Left += Dx, R.Top += Dy, R.Right += Dx, R.Bottom += Dy;
}
inline bool IsRectEmpty(const TRect& R) { return !(R.Left < R.Right && R.Top < R.Bottom); }
inline bool IsRectEmpty(const TFloatRect& R) { return !(R.Left < R.Right && R.Top < R.Bottom); }
inline bool PtInRect(const TRect& R, const TPoint& P) {
  return R.Left <= P.X && P.X < R.Right && R.Top <= P.Y && P.Y < R.Bottom;
}
// The overlap of A and B; an empty rectangle (all 0) when they do not meet.
TRect IntersectRect(const TRect& A, const TRect& B);

// ---- Gamma ---------------------------------------------------------------------------------
extern uint8_t GAMMA_TABLE[256];
void SetGamma(float Gamma = 0.7f);

// ---- TThreadPersistent ---------------------------------------------------------------------
// Nesting update count and a lock; Changed raises OnChange when the count is 0. EndUpdate does
// not signal by itself.
class TThreadPersistent : public TObject {
 public:
  TThreadPersistent() = default;
  TThreadPersistent(const TThreadPersistent&) = delete;
  TThreadPersistent& operator=(const TThreadPersistent&) = delete;

  void BeginUpdate() { ++update_count_; }
  // Raises EAssertionFailed "Unpaired TThreadPersistent.EndUpdate" at 0 (the count stays 0).
  void EndUpdate();
  virtual void Changed();
  void Lock();
  void Unlock();

  int LockCount() const;
  int UpdateCount() const { return update_count_; }

  TNotifyEvent OnChange;

 protected:
  std::recursive_mutex& Section() { return section_; }

 private:
  std::recursive_mutex section_;
  int lock_count_ = 0;
  int update_count_ = 0;
};

// Calls Changed on scope exit, also when left by an exception.
class TChangedOnExit {
 public:
  explicit TChangedOnExit(TThreadPersistent& target) : target_(target) {}
  ~TChangedOnExit() noexcept(false);
  TChangedOnExit(const TChangedOnExit&) = delete;
  TChangedOnExit& operator=(const TChangedOnExit&) = delete;

 private:
  TThreadPersistent& target_;
  int exceptions_ = std::uncaught_exceptions();
};

// ---- TCustomMap ----------------------------------------------------------------------------
class TCustomMap : public TThreadPersistent {
 public:
  int Width() const { return width_; }
  int Height() const { return height_; }
  int GetWidth() const { return width_; }
  int GetHeight() const { return height_; }

  // True when the size changed.
  virtual bool SetSize(int NewWidth, int NewHeight);
  // The size of another map; nil gives 0 x 0.
  bool SetSize(const TCustomMap* Source);
  void SetWidth(int NewWidth) { SetSize(NewWidth, height_); }
  void SetHeight(int NewHeight) { SetSize(width_, NewHeight); }
  virtual void Delete() { SetSize(0, 0); }
  virtual bool Empty() const { return width_ == 0 || height_ == 0; }
  virtual void Resized();

  TNotifyEvent OnResize;

 protected:
  void StoreSize(int w, int h) { width_ = w, height_ = h; }

 private:
  int width_ = 0;
  int height_ = 0;
};

// ---- TBitmap32 -----------------------------------------------------------------------------
enum TDrawMode { dmOpaque, dmBlend, dmCustom };
enum TStretchFilter { sfNearest, sfLinear, sfLinear2, sfSpline };
using TPixelCombineEvent = std::function<void(TColor32 F, TColor32& B, TColor32 M)>;

// The bitmap's text font: a face, a pixel height, a style and a framework colour. Text is
// rasterised by the installed TTextRasterizer (the UI layer supplies one).
struct TFont32 {
  std::string Name = "Liberation Sans";  // UTF-8
  int Height = 13;                       // pixels
  bool Bold = false, Italic = false, Underline = false, StrikeOut = false;
  TColor Color = 0;  // framework colour (0x00BBGGRR)
  bool operator==(const TFont32&) const = default;
};

// Text flags: textflags.h (the framework's DrawText flags).

// Turns text into 8-bit coverage; coverage 255 is full ink.
class TTextRasterizer {
 public:
  virtual ~TTextRasterizer() = default;
  virtual TPoint Extent(const TFont32& font, std::string_view utf8) = 0;
  // Coverage of `utf8` drawn at (x, y) (top-left of the text cell) into a width x height mask,
  // clipped to `clip` and, with flags, formatted inside `clip` as the framework's DrawText does.
  // `antialias` false gives coverage 0 or 255 only.
  virtual void Render(const TFont32& font, std::string_view utf8, int x, int y, const TRect& clip,
                      unsigned flags, bool formatted, bool antialias, uint8_t* mask, int width,
                      int height) = 0;
};
// Installs the rasteriser (not owned); without one, text operations raise EG32Error.
void SetTextRasterizer(TTextRasterizer* rasterizer);
TTextRasterizer* GetTextRasterizer();

class TBitmap32 : public TCustomMap {
 public:
  TBitmap32();
  ~TBitmap32() override;

  // Size and content.
  bool SetSize(int NewWidth, int NewHeight) override;
  using TCustomMap::SetSize;
  bool Empty() const override { return bits_ == nullptr; }
  void Clear() { Clear(clBlack32); }
  void Clear(TColor32 FillColor);
  void ResetAlpha();

  // Copying.
  void Assign(const TBitmap32* Source);
  void AssignTo(TBitmap32* Dest) const { Dest->Assign(this); }
  bool Equal(const TBitmap32* Other) const;

  // Pixels.
  PColor32 Bits() { return bits_.get(); }
  const TColor32* Bits() const { return bits_.get(); }
  TColor32 GetPixel(int X, int Y) const { return bits_[size_t(Y) * Width() + X]; }
  void SetPixel(int X, int Y, TColor32 V) { bits_[size_t(Y) * Width() + X] = V; }
  TColor32 GetPixelS(int X, int Y) const;
  void SetPixelS(int X, int Y, TColor32 V);
  TColor32 GetPixelB(int X, int Y) const;
  PColor32 GetPixelPtr(int X, int Y) { return bits_.get() + size_t(Y) * Width() + X; }
  PColor32Array GetScanLine(int Y) { return bits_.get() + size_t(Y) * Width(); }
  const TColor32* GetScanLine(int Y) const { return bits_.get() + size_t(Y) * Width(); }

  // Blended pixels.
  void SetPixelT(int X, int Y, TColor32 V) { BlendMem(V, bits_[size_t(Y) * Width() + X]); }
  void SetPixelT(PColor32& Ptr, TColor32 V) { BlendMem(V, *Ptr++); }
  void SetPixelTS(int X, int Y, TColor32 V);
  void SET_T256(int X, int Y, TColor32 C);  // 24.8 coordinates
  void SET_TS256(int X, int Y, TColor32 C);
  void SetPixelF(float X, float Y, TColor32 V);
  void SetPixelFS(float X, float Y, TColor32 V);
  void SetPixelX(TFixed X, TFixed Y, TColor32 V);
  void SetPixelXS(TFixed X, TFixed Y, TColor32 V);

  // Horizontal and vertical lines: both ends included; no change signal.
  void HorzLine(int X1, int Y, int X2, TColor32 Value);
  void HorzLineS(int X1, int Y, int X2, TColor32 Value);
  void HorzLineT(int X1, int Y, int X2, TColor32 Value);
  void HorzLineTS(int X1, int Y, int X2, TColor32 Value);
  void HorzLineTSP(int X1, int Y, int X2);
  void VertLine(int X, int Y1, int Y2, TColor32 Value);
  void VertLineS(int X, int Y1, int Y2, TColor32 Value);
  void VertLineT(int X, int Y1, int Y2, TColor32 Value);
  void VertLineTS(int X, int Y1, int Y2, TColor32 Value);
  void VertLineTSP(int X, int Y1, int Y2);

  // Lines: L says whether the last point is drawn.
  void Line(int X1, int Y1, int X2, int Y2, TColor32 Value, bool L = false);
  void LineS(int X1, int Y1, int X2, int Y2, TColor32 Value, bool L = false);
  void LineT(int X1, int Y1, int X2, int Y2, TColor32 Value, bool L = false);
  void LineTS(int X1, int Y1, int X2, int Y2, TColor32 Value, bool L = false);
  void LineA(int X1, int Y1, int X2, int Y2, TColor32 Value, bool L = false);
  void LineAS(int X1, int Y1, int X2, int Y2, TColor32 Value, bool L = false);
  void LineX(TFixed X1, TFixed Y1, TFixed X2, TFixed Y2, TColor32 Value, bool L = false);
  void LineXS(TFixed X1, TFixed Y1, TFixed X2, TFixed Y2, TColor32 Value, bool L = false);
  void LineF(float X1, float Y1, float X2, float Y2, TColor32 Value, bool L = false);
  void LineFS(float X1, float Y1, float X2, float Y2, TColor32 Value, bool L = false);
  void LineXP(TFixed X1, TFixed Y1, TFixed X2, TFixed Y2, bool L = false);
  void LineXSP(TFixed X1, TFixed Y1, TFixed X2, TFixed Y2, bool L = false);
  void LineFP(float X1, float Y1, float X2, float Y2, bool L = false);
  void LineFSP(float X1, float Y1, float X2, float Y2, bool L = false);

  // Pen.
  TColor32 PenColor = clWhite32;
  void MoveTo(int X, int Y) { raster_x_ = X, raster_y_ = Y; }
  void LineToS(int X, int Y);
  void LineToTS(int X, int Y);
  void LineToAS(int X, int Y);
  void MoveToX(TFixed X, TFixed Y) { raster_xf_ = X, raster_yf_ = Y; }
  void MoveToF(float X, float Y) { MoveToX(Fixed(X), Fixed(Y)); }
  void LineToXS(TFixed X, TFixed Y);
  void LineToFS(float X, float Y) { LineToXS(Fixed(X), Fixed(Y)); }
  void LineToXSP(TFixed X, TFixed Y);
  void LineToFSP(float X, float Y) { LineToXSP(Fixed(X), Fixed(Y)); }
  TPoint PenPos() const { return {raster_x_, raster_y_}; }
  TFixedPoint PenPosX() const { return {raster_xf_, raster_yf_}; }

  // Stipple.
  void SetStipple(std::span<const TColor32> NewStipple);
  TColor32 GetStippleColor();
  float StippleCounter = 0;
  float StippleStep = 1.0f;
  const TArrayOfColor32& Stipple() const { return stipple_; }

  // Rectangles: right and bottom exclusive.
  void FillRect(int X1, int Y1, int X2, int Y2, TColor32 Value);
  void FillRectS(int X1, int Y1, int X2, int Y2, TColor32 Value);
  void FillRectT(int X1, int Y1, int X2, int Y2, TColor32 Value);
  void FillRectTS(int X1, int Y1, int X2, int Y2, TColor32 Value);
  void FrameRectS(int X1, int Y1, int X2, int Y2, TColor32 Value);
  void FrameRectTS(int X1, int Y1, int X2, int Y2, TColor32 Value);
  void FrameRectTSP(int X1, int Y1, int X2, int Y2);
  void RaiseRectTS(int X1, int Y1, int X2, int Y2, int Contrast);
  void FillRectS(const TRect& R, TColor32 V) { FillRectS(R.Left, R.Top, R.Right, R.Bottom, V); }
  void FillRectTS(const TRect& R, TColor32 V) { FillRectTS(R.Left, R.Top, R.Right, R.Bottom, V); }
  void FrameRectS(const TRect& R, TColor32 V) { FrameRectS(R.Left, R.Top, R.Right, R.Bottom, V); }
  void FrameRectTS(const TRect& R, TColor32 V) { FrameRectTS(R.Left, R.Top, R.Right, R.Bottom, V); }
  void FrameRectTSP(const TRect& R) { FrameRectTSP(R.Left, R.Top, R.Right, R.Bottom); }
  void RaiseRectTS(const TRect& R, int Contrast) {
    RaiseRectTS(R.Left, R.Top, R.Right, R.Bottom, Contrast);
  }

  // Drawing between bitmaps (BlockTransfer / StretchTransfer, then Changed on the destination).
  TRect BoundsRect() const { return {0, 0, Width(), Height()}; }
  void DrawTo(TBitmap32* Dst) const { DrawTo(Dst, 0, 0); }
  void DrawTo(TBitmap32* Dst, int DstX, int DstY) const;
  void DrawTo(TBitmap32* Dst, const TRect& DstRect) const { DrawTo(Dst, DstRect, BoundsRect()); }
  void DrawTo(TBitmap32* Dst, const TRect& DstRect, const TRect& SrcRect) const;
  void Draw(int DstX, int DstY, const TBitmap32* Src);
  void Draw(const TRect& DstRect, const TRect& SrcRect, const TBitmap32* Src);

  // Text.
  const TFont32& Font() const { return font_; }
  void SetFont(const TFont32& Font);
  TPoint TextExtent(std::string_view Text);
  int TextWidth(std::string_view Text) { return TextExtent(Text).X; }
  int TextHeight(std::string_view Text) { return TextExtent(Text).Y; }
  void TextOut(int X, int Y, std::string_view Text);
  void TextOut(int X, int Y, const TRect& ClipRect, std::string_view Text);
  void TextOut(const TRect& DstRect, unsigned Flags, std::string_view Text);
  void RenderText(int X, int Y, std::string_view Text, int AALevel, TColor32 Color);

  void Roll(int Dx, int Dy, bool FillBack, TColor32 FillColor);

  // Pictures: BMP written and read here, JPEG and the registered readers on load.
  void LoadFromStream(std::istream& Stream);
  void SaveToStream(std::ostream& Stream) const;
  void LoadFromFile(const std::string& FileName);
  void SaveToFile(const std::string& FileName) const;

  // The stored "Data" property: width, height (signed 32-bit little-endian), then the pixels.
  void ReadData(std::istream& Stream);
  void ReadData(std::span<const uint8_t> Data);
  void WriteData(std::ostream& Stream) const;
  std::string WriteData() const;
  // Whether a layout writer stores "Data", given the ancestor's bitmap (nil without one).
  bool DataIsStored(const TBitmap32* Ancestor) const;
  // The largest pixel block "Data" may announce.
  static constexpr uint64_t kMaxDataBytes = uint64_t(1) << 30;

  // Properties.
  TDrawMode GetDrawMode() const { return draw_mode_; }
  void SetDrawMode(TDrawMode Value);
  uint32_t GetMasterAlpha() const { return master_alpha_; }
  // Held to 0..255.
  void SetMasterAlpha(int64_t Value);
  TColor32 OuterColor = 0;
  TStretchFilter GetStretchFilter() const { return stretch_filter_; }
  void SetStretchFilter(TStretchFilter Value);

  TPixelCombineEvent OnPixelCombine;

 private:
  struct AlignedFree {
    void operator()(TColor32* p) const;
  };
  template <bool Blend>
  void LineImpl(int X1, int Y1, int X2, int Y2, TColor32 Value, bool L);
  void LineXImpl(int64_t X1, int64_t Y1, int64_t X2, int64_t Y2, TColor32 Value, bool L, bool Safe,
                 bool Stippled);
  void LineXSImpl(TFixed X1, TFixed Y1, TFixed X2, TFixed Y2, TColor32 Value, bool L,
                  bool Stippled);
  void BlendPixelIfInside(int X, int Y, TColor32 C, uint32_t W);
  void DrawTextMask(const std::vector<uint8_t>& mask, int w, int h, TColor32 color);

  std::unique_ptr<TColor32[], AlignedFree> bits_;
  TDrawMode draw_mode_ = dmOpaque;
  TFont32 font_;
  uint32_t master_alpha_ = 255;
  TArrayOfColor32 stipple_;
  TStretchFilter stretch_filter_ = sfNearest;
  int raster_x_ = 0, raster_y_ = 0;
  TFixed raster_xf_ = 0, raster_yf_ = 0;
};

}  // namespace g32
