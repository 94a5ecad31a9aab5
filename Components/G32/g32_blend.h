#pragma once
// The eight replaceable blending kernels every alpha operation of the library goes through, and
// per-channel colour arithmetic. Two kernel sets exist with different, binding rounding: the plain
// set (scalar) and the packed set (SSE2 on x86-64). The packed set is bound when the processor
// test answers true, once, before anything is drawn.
#include <cstdint>

#include "g32_lowlevel.h"

namespace g32 {

using TCombineReg = TColor32 (*)(TColor32 X, TColor32 Y, TColor32 W);
using TCombineMem = void (*)(TColor32 F, TColor32& B, TColor32 W);
using TBlendReg = TColor32 (*)(TColor32 F, TColor32 B);
using TBlendMem = void (*)(TColor32 F, TColor32& B);
using TBlendRegEx = TColor32 (*)(TColor32 F, TColor32 B, TColor32 M);
using TBlendMemEx = void (*)(TColor32 F, TColor32& B, TColor32 M);
using TBlendLine = void (*)(const TColor32* Src, TColor32* Dst, int Count);
using TBlendLineEx = void (*)(const TColor32* Src, TColor32* Dst, int Count, TColor32 M);

// One complete kernel set.
struct TBlendKernels {
  TCombineReg CombineReg;
  TCombineMem CombineMem;
  TBlendReg BlendReg;
  TBlendMem BlendMem;
  TBlendRegEx BlendRegEx;
  TBlendMemEx BlendMemEx;
  TBlendLine BlendLine;
  TBlendLineEx BlendLineEx;
};

const TBlendKernels& PlainKernels();
// The packed set (its line kernels on 256-bit registers where the processor has them); on a
// processor without it, the plain set.
const TBlendKernels& PackedKernels();
// The packed set with its 128-bit line kernels, whatever the processor has beyond SSE2.
const TBlendKernels& PackedKernelsSse2();

// The bound kernels, read by every caller at each call.
extern TCombineReg CombineReg;
extern TCombineMem CombineMem;
extern TBlendReg BlendReg;
extern TBlendMem BlendMem;
extern TBlendRegEx BlendRegEx;
extern TBlendMemEx BlendMemEx;
extern TBlendLine BlendLine;
extern TBlendLineEx BlendLineEx;

// True when the packed set is bound.
extern bool MMX_ACTIVE;

// The processor test: identification instruction present, family 5 or later, feature bit 23.
bool HasMMX();

// Resets the packed-register state where the bound set needs it; nothing with SSE2 kernels.
inline void EMMS() {}

// Binds a set. The library binds once at start-up; tests use this to run both sets through the
// same drawing code, and must restore the start-up binding afterwards.
void BindKernels(const TBlendKernels& kernels, bool packed);
// The binding chosen at start-up.
void BindDefaultKernels();

// Per-channel colour arithmetic (all four channels unless said).
TColor32 ColorAdd(TColor32 C1, TColor32 C2);
TColor32 ColorSub(TColor32 C1, TColor32 C2);
TColor32 ColorModulate(TColor32 C1, TColor32 C2);
TColor32 ColorMax(TColor32 C1, TColor32 C2);
TColor32 ColorMin(TColor32 C1, TColor32 C2);
// Adds the signed amount to R, G and B, each held to 0..255; alpha kept.
TColor32 Lighten(TColor32 C, int Amount);

}  // namespace g32
