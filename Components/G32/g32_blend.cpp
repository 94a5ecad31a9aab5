#include "g32_blend.h"

#include "g32_blend_avx2.h"
#include "g32_packed.h"

#include <emmintrin.h>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace g32 {
namespace {

// ---- Plain set -----------------------------------------------------------------------------
// Each channel is ((f * W + 128) >> 8) + ((b * (255 - W) + 128) >> 8), two channels per multiply.

inline TColor32 PlainMix(TColor32 f, TColor32 b, TColor32 w) {
  const TColor32 fw = w, bw = 255 - w;
  TColor32 rb = ((((f & 0x00FF00FFu) * fw + 0x00800080u) >> 8) & 0x00FF00FFu) +
                ((((b & 0x00FF00FFu) * bw + 0x00800080u) >> 8) & 0x00FF00FFu);
  TColor32 ag = ((((f >> 8) & 0x00FF00FFu) * fw + 0x00800080u) & 0xFF00FF00u) +
                ((((b >> 8) & 0x00FF00FFu) * bw + 0x00800080u) & 0xFF00FF00u);
  return rb + ag;
}

// R, G and B only; alpha 0.
inline TColor32 PlainMixRGB(TColor32 f, TColor32 b, TColor32 w) {
  return PlainMix(f, b, w) & 0x00FFFFFFu;
}

TColor32 PlainCombineReg(TColor32 X, TColor32 Y, TColor32 W) {
  if (W == 0) return Y;
  if (W >= 255) return X;
  return PlainMix(X, Y, W);
}

using TMix = TColor32 (*)(TColor32, TColor32, TColor32);

// The transparent and opaque shortcuts are the same in both sets; only the mixing rule differs.
template <TMix Mix>
void CombineMemT(TColor32 F, TColor32& B, TColor32 W) {
  if (W == 0) return;
  if (W >= 255) {
    B = F;
    return;
  }
  B = Mix(F, B, W);
}

template <TMix Mix>
void BlendMemT(TColor32 F, TColor32& B) {
  TColor32 a = F >> 24;
  if (a == 0) return;
  if (a == 255) {
    B = F;
    return;
  }
  B = Mix(F, B, a);
}

template <TMix Mix>
TColor32 BlendRegExT(TColor32 F, TColor32 B, TColor32 M) {
  TColor32 w = ((F >> 24) * (M & 0xFF)) >> 8;
  if (w == 0) return B;
  return Mix(F, B, w);
}

template <TMix Mix>
void BlendMemExT(TColor32 F, TColor32& B, TColor32 M) {
  TColor32 w = ((F >> 24) * (M & 0xFF)) >> 8;
  if (w == 0) return;
  B = Mix(F, B, w);
}

TColor32 PlainBlendReg(TColor32 F, TColor32 B) {
  TColor32 a = F >> 24;
  if (a == 255) return F;
  if (a == 0) return B;
  return PlainMix(F, B, a);
}

constexpr auto PlainCombineMem = CombineMemT<PlainMixRGB>;
constexpr auto PlainBlendMem = BlendMemT<PlainMix>;
constexpr auto PlainBlendRegEx = BlendRegExT<PlainMixRGB>;
constexpr auto PlainBlendMemEx = BlendMemExT<PlainMixRGB>;

void PlainBlendLine(const TColor32* Src, TColor32* Dst, int Count) {
  for (int i = 0; i < Count; ++i) PlainBlendMem(Src[i], Dst[i]);
}

void PlainBlendLineEx(const TColor32* Src, TColor32* Dst, int Count, TColor32 M) {
  for (int i = 0; i < Count; ++i) PlainBlendMemEx(Src[i], Dst[i], M);
}

// ---- Packed set (SSE2) ---------------------------------------------------------------------
using detail::MixFour;
using detail::PackedMix;

TColor32 PackedCombineReg(TColor32 X, TColor32 Y, TColor32 W) { return PackedMix(X, Y, W & 0xFF); }
TColor32 PackedBlendReg(TColor32 F, TColor32 B) { return PackedMix(F, B, F >> 24); }
constexpr auto PackedCombineMem = CombineMemT<PackedMix>;
constexpr auto PackedBlendMem = BlendMemT<PackedMix>;
constexpr auto PackedBlendRegEx = BlendRegExT<PackedMix>;
constexpr auto PackedBlendMemEx = BlendMemExT<PackedMix>;

}  // namespace

namespace detail {

void PackedBlendLineSse2(const TColor32* Src, TColor32* Dst, int Count) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i opaque = _mm_set1_epi32(static_cast<int>(0xFF000000u));
  int i = 0;
  for (; i + 4 <= Count; i += 4) {
    __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Src + i));
    __m128i alpha = _mm_and_si128(s, opaque);
    __m128i isOpaque = _mm_cmpeq_epi32(alpha, opaque);
    int opaqueMask = _mm_movemask_epi8(isOpaque);
    if (opaqueMask == 0xFFFF) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(Dst + i), s);
      continue;
    }
    if (_mm_movemask_epi8(_mm_cmpeq_epi32(alpha, zero)) == 0xFFFF) continue;
    __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Dst + i));
    // Each pixel's alpha in its four 16-bit lanes.
    __m128i a = _mm_srli_epi32(s, 24);
    a = _mm_or_si128(a, _mm_slli_epi32(a, 16));
    __m128i r = MixFour(s, d, _mm_unpacklo_epi32(a, a), _mm_unpackhi_epi32(a, a));
    // Opaque pixels are copied exactly; the rule would round them.
    r = _mm_or_si128(_mm_and_si128(isOpaque, s), _mm_andnot_si128(isOpaque, r));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(Dst + i), r);
  }
  for (; i < Count; ++i) PackedBlendMem(Src[i], Dst[i]);
}

void PackedBlendLineExSse2(const TColor32* Src, TColor32* Dst, int Count, TColor32 M) {
  const __m128i master = _mm_set1_epi16(static_cast<short>(M & 0xFF));
  int i = 0;
  for (; i + 4 <= Count; i += 4) {
    __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Src + i));
    __m128i a = _mm_srli_epi32(s, 24);
    if (_mm_movemask_epi8(_mm_cmpeq_epi32(a, _mm_setzero_si128())) == 0xFFFF) continue;
    __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Dst + i));
    // W = (Fa * M) >> 8 in each pixel's four lanes; a weight of 0 reproduces the background.
    a = _mm_or_si128(a, _mm_slli_epi32(a, 16));
    __m128i w = _mm_srli_epi16(_mm_mullo_epi16(a, master), 8);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(Dst + i),
                     MixFour(s, d, _mm_unpacklo_epi32(w, w), _mm_unpackhi_epi32(w, w)));
  }
  for (; i < Count; ++i) PackedBlendMemEx(Src[i], Dst[i], M);
}

// Here, not in the AVX2 unit: this must run on any processor.
bool HasAvx2() {
  static const bool has = [] {
    __builtin_cpu_init();  // may run from a static initialiser, before libgcc has done it
    return bool(__builtin_cpu_supports("avx2"));
  }();
  return has;
}

}  // namespace detail

namespace {

using detail::PackedBlendLineExSse2;
using detail::PackedBlendLineSse2;

const TBlendKernels kPlain{PlainCombineReg, PlainCombineMem, PlainBlendReg,  PlainBlendMem,
                           PlainBlendRegEx, PlainBlendMemEx, PlainBlendLine, PlainBlendLineEx};
const TBlendKernels kPackedSse2{PackedCombineReg,    PackedCombineMem,     PackedBlendReg,
                                PackedBlendMem,      PackedBlendRegEx,     PackedBlendMemEx,
                                PackedBlendLineSse2, PackedBlendLineExSse2};
const TBlendKernels kPackedAvx2{PackedCombineReg,
                                PackedCombineMem,
                                PackedBlendReg,
                                PackedBlendMem,
                                PackedBlendRegEx,
                                PackedBlendMemEx,
                                detail::PackedBlendLineAvx2,
                                detail::PackedBlendLineExAvx2};
// The packed set with the widest line kernels this processor runs.
const TBlendKernels& PackedSet() { return detail::HasAvx2() ? kPackedAvx2 : kPackedSse2; }

}  // namespace

// Constant-initialised to the packed set (SSE2 is the x86-64 baseline), so code running in other
// units' static initialisers already sees a bound set; the start-up binding below confirms it.
TCombineReg CombineReg = PackedCombineReg;
TCombineMem CombineMem = PackedCombineMem;
TBlendReg BlendReg = PackedBlendReg;
TBlendMem BlendMem = PackedBlendMem;
TBlendRegEx BlendRegEx = PackedBlendRegEx;
TBlendMemEx BlendMemEx = PackedBlendMemEx;
TBlendLine BlendLine = PackedBlendLineSse2;
TBlendLineEx BlendLineEx = PackedBlendLineExSse2;
bool MMX_ACTIVE = true;

const TBlendKernels& PlainKernels() { return kPlain; }
const TBlendKernels& PackedKernels() { return HasMMX() ? PackedSet() : kPlain; }
const TBlendKernels& PackedKernelsSse2() { return HasMMX() ? kPackedSse2 : kPlain; }

namespace {
bool QueryMMX() {
#if defined(__x86_64__) || defined(__i386__)
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
  unsigned family = (eax >> 8) & 0xF;
  return family >= 5 && (edx & (1u << 23)) != 0;
#else
  return false;
#endif
}
}  // namespace

// Asked once: the identification instruction is slow, under a hypervisor very slow.
bool HasMMX() {
  static const bool has = QueryMMX();
  return has;
}

void BindKernels(const TBlendKernels& k, bool packed) {
  CombineReg = k.CombineReg;
  CombineMem = k.CombineMem;
  BlendReg = k.BlendReg;
  BlendMem = k.BlendMem;
  BlendRegEx = k.BlendRegEx;
  BlendMemEx = k.BlendMemEx;
  BlendLine = k.BlendLine;
  BlendLineEx = k.BlendLineEx;
  MMX_ACTIVE = packed;
}

void BindDefaultKernels() {
  bool packed = HasMMX();
  BindKernels(packed ? PackedSet() : kPlain, packed);
}

namespace {
[[maybe_unused]] const bool kBoundAtStartup = (BindDefaultKernels(), true);
}

// ---- Colour arithmetic ---------------------------------------------------------------------

namespace {
template <typename Op>
TColor32 PerChannel(TColor32 a, TColor32 b, Op op) {
  TColor32 r = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    int x = (a >> shift) & 0xFF, y = (b >> shift) & 0xFF;
    r |= static_cast<TColor32>(op(x, y)) << shift;
  }
  return r;
}
}  // namespace

TColor32 ColorAdd(TColor32 C1, TColor32 C2) {
  return PerChannel(C1, C2, [](int x, int y) { return x + y > 255 ? 255 : x + y; });
}
TColor32 ColorSub(TColor32 C1, TColor32 C2) {
  return PerChannel(C1, C2, [](int x, int y) { return x - y < 0 ? 0 : x - y; });
}
TColor32 ColorModulate(TColor32 C1, TColor32 C2) {
  return PerChannel(C1, C2, [](int x, int y) { return (x * y) >> 8; });
}
TColor32 ColorMax(TColor32 C1, TColor32 C2) {
  return PerChannel(C1, C2, [](int x, int y) { return x > y ? x : y; });
}
TColor32 ColorMin(TColor32 C1, TColor32 C2) {
  return PerChannel(C1, C2, [](int x, int y) { return x < y ? x : y; });
}
TColor32 Lighten(TColor32 C, int Amount) {
  TColor32 r = C & 0xFF000000u;
  for (int shift = 0; shift < 24; shift += 8) {
    r |= static_cast<TColor32>(Clamp(static_cast<int>((C >> shift) & 0xFF) + Amount)) << shift;
  }
  return r;
}

}  // namespace g32
