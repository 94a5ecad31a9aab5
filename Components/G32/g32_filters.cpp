#include "g32_filters.h"

namespace g32 {
namespace {

template <typename F>
void Filter(TBitmap32* Dst, const TBitmap32* Src, F f) {
  if (!Src) throw Exception("The source is nil");
  if (!Dst) throw Exception("Destination is nil");
  Dst->SetSize(Src);
  const size_t n = size_t(Src->Width()) * size_t(Src->Height());
  const TColor32* s = Src->Bits();
  TColor32* d = Dst->Bits();
  for (size_t i = 0; i < n; ++i) d[i] = f(s[i], d[i]);
  Dst->Changed();
}

}  // namespace

void AlphaToGrayscale(TBitmap32* Dst, const TBitmap32* Src) {
  Filter(Dst, Src, [](TColor32 s, TColor32) { return Gray32(uint8_t(AlphaComponent(s)), 255); });
}

void IntensityToAlpha(TBitmap32* Dst, const TBitmap32* Src) {
  Filter(Dst, Src, [](TColor32 s, TColor32 d) { return SetAlpha(d, Intensity(s)); });
}

void Invert(TBitmap32* Dst, const TBitmap32* Src) {
  Filter(Dst, Src, [](TColor32 s, TColor32) { return ~s; });
}

void InvertRGB(TBitmap32* Dst, const TBitmap32* Src) {
  Filter(Dst, Src, [](TColor32 s, TColor32) { return s ^ 0x00FFFFFFu; });
}

void ColorToGrayscale(TBitmap32* Dst, const TBitmap32* Src) {
  Filter(Dst, Src, [](TColor32 s, TColor32) { return Gray32(uint8_t(Intensity(s)), 255); });
}

void ApplyLUT(TBitmap32* Dst, const TBitmap32* Src, const uint8_t (&LUT)[256]) {
  Filter(Dst, Src, [&LUT](TColor32 s, TColor32) {
    return Color32(LUT[RedComponent(s)], LUT[GreenComponent(s)], LUT[BlueComponent(s)], 255);
  });
}

}  // namespace g32
