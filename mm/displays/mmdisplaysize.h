#pragma once
// The sizes a display lays its picture out with, whatever its bevel: a bevel wider than the
// control takes all of it and leaves the least picture, every number within int.
#include <algorithm>
#include <cstdint>

#include "ui_types.h"

// The bevel a display lays out with: one wider than any control covers it all the same.
inline int DisplayBevel(int bevel_extend) {
  return std::min(bevel_extend, vant::kMaxControlExtent);
}

// The extent from `lo` to `hi` (a side of the picture inside the bevel), at least `least`.
inline int DisplayExtent(int lo, int hi, int least) {
  return static_cast<int>(
      std::clamp<int64_t>(int64_t{hi} - lo, least, std::max(least, vant::kMaxControlExtent)));
}
