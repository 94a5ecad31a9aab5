#pragma once
// Whole-bitmap pixel filters. Each gives the destination the source's size first (which clears
// it when the size changes), may run in place (Dst == Src) and ends with Changed on Dst. A nil
// source raises "The source is nil", a nil destination "Destination is nil".
#include <cstdint>

#include "g32.h"

namespace g32 {

void AlphaToGrayscale(TBitmap32* Dst, const TBitmap32* Src);
// Keeps the destination's colour and puts the source's intensity in its alpha.
void IntensityToAlpha(TBitmap32* Dst, const TBitmap32* Src);
void Invert(TBitmap32* Dst, const TBitmap32* Src);
void InvertRGB(TBitmap32* Dst, const TBitmap32* Src);
void ColorToGrayscale(TBitmap32* Dst, const TBitmap32* Src);
// R, G and B through the table; alpha 255.
void ApplyLUT(TBitmap32* Dst, const TBitmap32* Src, const uint8_t (&LUT)[256]);

}  // namespace g32
