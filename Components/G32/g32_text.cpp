// Text onto TBitmap32: the installed rasteriser gives coverage, our code writes the pixels.
#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "g32.h"

namespace g32 {
namespace {
std::atomic<TTextRasterizer*> g_rasterizer{nullptr};

TTextRasterizer& Rasterizer() {
  TTextRasterizer* r = g_rasterizer.load();
  if (!r) throw EG32Error("No text rasterizer installed");
  return *r;
}
}  // namespace

void SetTextRasterizer(TTextRasterizer* rasterizer) { g_rasterizer = rasterizer; }
TTextRasterizer* GetTextRasterizer() { return g_rasterizer.load(); }

void TBitmap32::SetFont(const TFont32& Font) { font_ = Font; }

TPoint TBitmap32::TextExtent(std::string_view Text) { return Rasterizer().Extent(font_, Text); }

// Ink of the font colour over the pixels by coverage; the alpha bytes stay as they were.
void TBitmap32::DrawTextMask(const std::vector<uint8_t>& mask, int w, int h, TColor32 color) {
  for (int y = 0; y < h; ++y) {
    const uint8_t* m = mask.data() + size_t(y) * w;
    TColor32* p = GetScanLine(y);
    for (int x = 0; x < w; ++x) {
      if (!m[x]) continue;
      TColor32 mixed = m[x] == 255 ? color : CombineReg(color, p[x], m[x]);
      p[x] = (mixed & 0x00FFFFFF) | (p[x] & 0xFF000000);
    }
  }
}

void TBitmap32::TextOut(int X, int Y, std::string_view Text) { TextOut(X, Y, BoundsRect(), Text); }

void TBitmap32::TextOut(int X, int Y, const TRect& ClipRect, std::string_view Text) {
  if (Empty()) return;
  TChangedOnExit changed(*this);
  std::vector<uint8_t> mask(size_t(Width()) * Height());
  TRect clip = IntersectRect(ClipRect, BoundsRect());
  if (IsRectEmpty(clip)) return;
  Rasterizer().Render(font_, Text, X, Y, clip, 0, false, true, mask.data(), Width(), Height());
  DrawTextMask(mask, Width(), Height(), Color32(font_.Color));
}

void TBitmap32::TextOut(const TRect& DstRect, unsigned Flags, std::string_view Text) {
  if (Empty()) return;
  TChangedOnExit changed(*this);
  std::vector<uint8_t> mask(size_t(Width()) * Height());
  TRect clip = (Flags & DT_NOCLIP) ? BoundsRect() : IntersectRect(DstRect, BoundsRect());
  if (IsRectEmpty(clip)) return;
  Rasterizer().Render(font_, Text, DstRect.Left, DstRect.Top, DstRect, Flags, true, true,
                      mask.data(), Width(), Height());
  DrawTextMask(mask, Width(), Height(), Color32(font_.Color));
}

void TBitmap32::RenderText(int X, int Y, std::string_view Text, int AALevel, TColor32 Color) {
  AALevel = Constrain(AALevel, 0, 4);
  TTextRasterizer& r = Rasterizer();
  std::string padded = std::string(Text) + " ";
  TBitmap32 glyphs;
  const TColor32 rgb = Color & 0x00FFFFFF;
  if (AALevel == 0) {
    TPoint size = r.Extent(font_, padded);
    if (size.X <= 0 || size.Y <= 0) return;
    std::vector<uint8_t> mask(size_t(size.X) * size.Y);
    r.Render(font_, Text, 0, 0, {0, 0, size.X, size.Y}, 0, false, false, mask.data(), size.X,
             size.Y);
    glyphs.SetSize(size.X, size.Y);
    for (size_t i = 0; i < mask.size(); ++i) {
      if (mask[i]) glyphs.Bits()[i] = TColor32(mask[i]) << 24 | rgb;
    }
  } else {
    const int s = AALevel, n = 1 << s;
    TFont32 big = font_;
    big.Height = font_.Height << s;
    TPoint size = r.Extent(big, padded);
    if (size.X <= 0 || size.Y <= 0) return;
    int bw = ((size.X >> s) + 1) << s, bh = ((size.Y >> s) + 1) << s;
    std::vector<uint8_t> mask(size_t(bw) * bh);
    r.Render(big, Text, 0, 0, {0, 0, bw, bh}, 0, false, false, mask.data(), bw, bh);
    const int w = bw >> s, h = bh >> s;
    glyphs.SetSize(w, h);
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        uint32_t sum = 0;
        for (int j = 0; j < n; ++j) {
          const uint8_t* m = mask.data() + size_t(y * n + j) * bw + size_t(x) * n;
          for (int i = 0; i < n; ++i) sum += m[i];
        }
        uint32_t a = std::min<uint32_t>(sum >> (2 * s), 255);
        if (a) glyphs.SetPixel(x, y, a << 24 | rgb);
      }
    }
  }
  glyphs.SetDrawMode(dmBlend);
  glyphs.SetMasterAlpha(Color >> 24);
  glyphs.DrawTo(this, X, Y);
}

}  // namespace g32
