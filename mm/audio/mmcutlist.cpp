#include "mmcutlist.h"

#include "mmutils.h"

namespace {
auto StartOf = [](const TMMCutRegion& r) { return int64_t{r.dwStartSample}; };
}  // namespace

int32_t TMMCutList::Add(const TMMCutRegion& region) {
  return Change([&] { return list_.Add(region); });
}

bool TMMCutList::AddRegion(const TMMCutRegion& region) {
  if (!QueryRegion(region.dwStartSample)) return false;
  const int32_t i = LocateRegion(region.dwStartSample);
  if (i >= 0 && i < Count()) {
    Insert(i, region);
  } else {
    Add(region);
  }
  return true;
}

void TMMCutList::Insert(int32_t index, const TMMCutRegion& region) {
  Change([&] { list_.Insert(index, region); });
}

void TMMCutList::Delete(int32_t index) {
  Change([&] { list_.Delete(index); });
}

void TMMCutList::Put(int32_t index, const TMMCutRegion& region) {
  Change([&] { list_.Put(index, region); });
}

void TMMCutList::Clear() {
  Change([&] { list_.Clear(); });
}

int32_t TMMCutList::IndexOf(const TMMCutRegion& region) const {
  for (int32_t i = 0; i < Count(); ++i) {
    if (list_.Get(i) == region) return i;
  }
  return -1;
}

int32_t TMMCutList::Remove(const TMMCutRegion& region) {
  const int32_t i = IndexOf(region);
  if (i >= 0) Delete(i);
  return i;
}

void TMMCutList::SetParams(int32_t index, int32_t start_sample, int32_t length_samples) {
  TMMCutRegion& r = list_.Item(index);
  Change([&] {
    r.dwStartSample = start_sample;
    r.dwLengthSamples = length_samples;
  });
}

void TMMCutList::Assign(const vant::TPersistent* source) {
  const auto* other = dynamic_cast<const TMMCutList*>(source);
  if (source != nullptr && other == nullptr) {
    TMMObject::Assign(source);
    return;
  }
  if (other == this) return;
  Change([&] {
    list_.Clear();
    if (other) {
      for (int32_t i = 0; i < other->Count(); ++i) list_.Add(other->Get(i));
    }
  });
}

int32_t TMMCutList::LocateRegion(int32_t sample) const { return list_.Locate(sample, StartOf); }

int32_t TMMCutList::FindRegion(int32_t sample) const {
  const int32_t i = LocateRegion(sample) - 1;
  if (i < 0) return -1;
  const TMMCutRegion& r = list_.Get(i);
  return InMinMax64(sample, r.dwStartSample, int64_t{r.dwStartSample} + r.dwLengthSamples - 1) ? i
                                                                                               : -1;
}
