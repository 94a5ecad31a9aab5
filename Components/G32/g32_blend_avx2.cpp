// Compiled with -mavx2; called only after HasAvx2() said yes.
#include "g32_blend_avx2.h"

#include <immintrin.h>

namespace g32::detail {
namespace {

// Eight pixels of ((f - b) * W + (b << 8) + 128) >> 8 on 16-bit lanes; the wrap of the multiply
// is exact because the true sum stays below 65,536.
inline __m256i MixEight(__m256i s, __m256i d, __m256i w) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i bias = _mm256_set1_epi8(char(0x80));
  __m256i wLo = _mm256_unpacklo_epi32(w, w), wHi = _mm256_unpackhi_epi32(w, w);
  __m256i lo = _mm256_mullo_epi16(
      _mm256_sub_epi16(_mm256_unpacklo_epi8(s, zero), _mm256_unpacklo_epi8(d, zero)), wLo);
  __m256i hi = _mm256_mullo_epi16(
      _mm256_sub_epi16(_mm256_unpackhi_epi8(s, zero), _mm256_unpackhi_epi8(d, zero)), wHi);
  lo = _mm256_srli_epi16(_mm256_add_epi16(lo, _mm256_unpacklo_epi8(bias, d)), 8);
  hi = _mm256_srli_epi16(_mm256_add_epi16(hi, _mm256_unpackhi_epi8(bias, d)), 8);
  return _mm256_packus_epi16(lo, hi);
}

// Each pixel's byte at bit 0 (a 32-bit lane value below 256) copied into both 16-bit halves.
inline __m256i Doubled(__m256i a) { return _mm256_or_si256(a, _mm256_slli_epi32(a, 16)); }

}  // namespace

void PackedBlendLineAvx2(const TColor32* Src, TColor32* Dst, int Count) {
  const __m256i opaque = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
  int i = 0;
  for (; i + 8 <= Count; i += 8) {
    __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(Src + i));
    __m256i alpha = _mm256_and_si256(s, opaque);
    __m256i isOpaque = _mm256_cmpeq_epi32(alpha, opaque);
    if (_mm256_movemask_epi8(isOpaque) == -1) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(Dst + i), s);
      continue;
    }
    if (_mm256_testz_si256(alpha, alpha)) continue;
    __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(Dst + i));
    __m256i r = MixEight(s, d, Doubled(_mm256_srli_epi32(s, 24)));
    // Opaque pixels are copied exactly; the rule would round them.
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(Dst + i), _mm256_blendv_epi8(r, s, isOpaque));
  }
  PackedBlendLineSse2(Src + i, Dst + i, Count - i);
  _mm256_zeroupper();
}

void PackedBlendLineExAvx2(const TColor32* Src, TColor32* Dst, int Count, TColor32 M) {
  const __m256i master = _mm256_set1_epi16(static_cast<short>(M & 0xFF));
  int i = 0;
  for (; i + 8 <= Count; i += 8) {
    __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(Src + i));
    __m256i a = _mm256_srli_epi32(s, 24);
    if (_mm256_testz_si256(a, a)) continue;
    __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(Dst + i));
    __m256i w = _mm256_srli_epi16(_mm256_mullo_epi16(Doubled(a), master), 8);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(Dst + i), MixEight(s, d, w));
  }
  PackedBlendLineExSse2(Src + i, Dst + i, Count - i, M);
  _mm256_zeroupper();
}

}  // namespace g32::detail
