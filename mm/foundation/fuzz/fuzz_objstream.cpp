// Arbitrary bytes as an "OBJ" stream, read into a plain and a sorted list: every fault raises a
// stream error, leaves the list as it was and frees what was read.
#include <cstdint>
#include <string>

#include "mmenvpoints.h"

namespace {

class ByPosition : public TSortedObjectList {
 public:
  const void* KeyOf(const vant::TObject* o) const override {
    return &static_cast<const TMMEnvelopePoint*>(o)->Position;
  }
  int16_t Compare(const void* a, const void* b) const override {
    const int32_t x = *static_cast<const int32_t*>(a), y = *static_cast<const int32_t*>(b);
    return static_cast<int16_t>((x > y) - (x < y));
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  RegisterEnvelopePoint();
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  TObjectList plain;
  plain.AddObject(new TMMEnvelopePoint(1, 2));
  try {
    plain.ReadObjectContainer(bytes);
    plain.SetOwnsObjects(true);  // a stream may say "not owning": free through the list anyway
    if (plain.Count() > 0) plain.WriteObjectContainer();
  } catch (const EStreamError&) {
  }
  // Points are the only registered class, so the sorted list's key always fits.
  ByPosition sorted;
  try {
    sorted.ReadObjectContainer(bytes);
    sorted.SetOwnsObjects(true);
  } catch (const EStreamError&) {
  } catch (const EListError&) {  // a duplicate under dupError
  }
  return 0;
}
