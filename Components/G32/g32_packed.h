#pragma once
// The packed kernels' rule on SSE2 registers, shared by the kernels and the transfer loops that
// inline it: each channel (f * W + b * (256 - W) + 128) >> 8, computed on 16-bit lanes as
// ((f - b) * W + (b << 8) + 128) >> 8 with a wrapping multiply (exact: the true sum stays below
// 65,536).
#include <emmintrin.h>

#include "g32_lowlevel.h"

namespace g32::detail {

// Lanes of unpacked channels (0..255) mixed with per-lane weights.
inline __m128i MixLanes(__m128i f16, __m128i b16, __m128i w16) {
  __m128i r = _mm_mullo_epi16(_mm_sub_epi16(f16, b16), w16);
  r = _mm_add_epi16(r, _mm_slli_epi16(b16, 8));
  return _mm_srli_epi16(_mm_add_epi16(r, _mm_set1_epi16(128)), 8);
}

inline TColor32 PackedMix(TColor32 f, TColor32 b, TColor32 w) {
  const __m128i zero = _mm_setzero_si128();
  __m128i f16 = _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(f)), zero);
  __m128i b16 = _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(b)), zero);
  __m128i r = MixLanes(f16, b16, _mm_set1_epi16(static_cast<short>(w)));
  return static_cast<TColor32>(_mm_cvtsi128_si32(_mm_packus_epi16(r, r)));
}

// Four pixels with per-pixel weights (wLo for pixels 0 and 1, wHi for 2 and 3, each weight in
// its pixel's four lanes); the bias is folded into the background's high bytes.
inline __m128i MixFour(__m128i s, __m128i d, __m128i wLo, __m128i wHi) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i bias = _mm_set1_epi8(char(0x80));
  __m128i lo =
      _mm_mullo_epi16(_mm_sub_epi16(_mm_unpacklo_epi8(s, zero), _mm_unpacklo_epi8(d, zero)), wLo);
  __m128i hi =
      _mm_mullo_epi16(_mm_sub_epi16(_mm_unpackhi_epi8(s, zero), _mm_unpackhi_epi8(d, zero)), wHi);
  // (b << 8) + 128 is b in the high byte and 0x80 in the low byte of each lane.
  lo = _mm_srli_epi16(_mm_add_epi16(lo, _mm_unpacklo_epi8(bias, d)), 8);
  hi = _mm_srli_epi16(_mm_add_epi16(hi, _mm_unpackhi_epi8(bias, d)), 8);
  return _mm_packus_epi16(lo, hi);
}

}  // namespace g32::detail
