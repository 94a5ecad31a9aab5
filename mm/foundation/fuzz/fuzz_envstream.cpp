// Arbitrary bytes as an "ENV" stream: the reader raises a stream error or leaves an envelope of
// at least two points in strictly ascending positions inside the range.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "mmenvpoints.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  TMMEnvelopePointList list;
  list.SetRanges({0, 700, -100, 100, 0});
  try {
    list.ReadObjectContainer(bytes);
  } catch (const EStreamError&) {
  }
  const TMMEnvelopeRanges& r = list.Ranges();
  if (list.Count() < 2) std::abort();
  for (int32_t i = 0; i < list.Count(); ++i) {
    const TMMEnvelopePoint* p = list.GetPoint(i);
    if (p->Position < r.MinX || p->Position > r.MaxX || p->Value < r.MinY || p->Value > r.MaxY)
      std::abort();
    if (i > 0 && list.GetPoint(i - 1)->Position >= p->Position) std::abort();
  }
  list.Get_YValue(-5000);
  list.SelectAll(true);
  list.Scale(3.0f);
  return 0;
}
