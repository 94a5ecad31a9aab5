#pragma once
// The packed set's line kernels on 256-bit registers: the same arithmetic as the SSE2 lines,
// eight pixels at a time. Bound at start-up only when the processor has AVX2.
#include "g32_lowlevel.h"

namespace g32::detail {

void PackedBlendLineSse2(const TColor32* Src, TColor32* Dst, int Count);
void PackedBlendLineExSse2(const TColor32* Src, TColor32* Dst, int Count, TColor32 M);
void PackedBlendLineAvx2(const TColor32* Src, TColor32* Dst, int Count);
void PackedBlendLineExAvx2(const TColor32* Src, TColor32* Dst, int Count, TColor32 M);
bool HasAvx2();

}  // namespace g32::detail
