#pragma once
// Moving pixels between bitmaps: BlockTransfer at equal size and StretchTransfer into a
// destination rectangle of any size, opaque, blended or through a caller's combine handler.
#include "g32.h"

namespace g32 {

VANT_DECLARE_EXCEPTION(ETransformError, Exception);

// Copies SrcRect of Src so that its top-left lands on (DstX, DstY) of Dst, clipped to both.
void BlockTransfer(TBitmap32* Dst, int DstX, int DstY, const TBitmap32* Src, TRect SrcRect,
                   TDrawMode CombineOp, const TPixelCombineEvent& CombineCallBack = {});

// Maps SrcRect of Src onto DstRect of Dst with the filter; only the part of DstRect inside Dst is
// written, each pixel with the source samples it would have had without clipping.
void StretchTransfer(TBitmap32* Dst, TRect DstRect, const TBitmap32* Src, TRect SrcRect,
                     TStretchFilter StretchFilter, TDrawMode CombineOp,
                     const TPixelCombineEvent& CombineCallBack = {});

// The resampler's table for one axis: for destination index i, the source indexes
// Index[First[i] .. First[i + 1]) with integer weights summing to 256.
struct TMappingTable {
  std::vector<int> First;
  std::vector<int> Index;
  std::vector<int> Weight;
};
// n destination pixels from the source span [SrcStart, SrcEnd), indexes held to 0..SrcSize-1.
TMappingTable BuildMappingTable(int n, int SrcStart, int SrcEnd, int SrcSize,
                                TStretchFilter Filter);

}  // namespace g32
