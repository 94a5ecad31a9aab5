#pragma once
// Cut lists: regions of a wave (start sample, length) kept sorted by start, for the wave
// object's cuts and play regions. Every change is announced through TMMObject's changing and
// changed notifications.
#include <cstdint>

#include "mmobj.h"
#include "mmrecordlist.h"

struct TMMCutRegion {
  int32_t dwStartSample;
  int32_t dwStartByte;
  int32_t dwLengthSamples;
  int32_t dwLengthBytes;
  uint32_t dwFlags;
  // Equal start and length in samples.
  bool operator==(const TMMCutRegion& o) const {
    return dwStartSample == o.dwStartSample && dwLengthSamples == o.dwLengthSamples;
  }
};
using PMMCutRegion = TMMCutRegion*;

class TMMCutList : public TMMObject {
 public:
  std::string ClassName() const override { return "TMMCutList"; }

  int32_t Count() const { return list_.Count(); }
  int32_t Capacity() const { return list_.Capacity(); }
  int32_t Add(const TMMCutRegion& region);
  // Inserts in order when no region holds the start sample; false otherwise.
  bool AddRegion(const TMMCutRegion& region);
  void Insert(int32_t index, const TMMCutRegion& region);
  void Delete(int32_t index);
  const TMMCutRegion& Get(int32_t index) const { return list_.Get(index); }
  const TMMCutRegion& operator[](int32_t index) const { return list_.Get(index); }
  void Put(int32_t index, const TMMCutRegion& region);
  const TMMCutRegion& First() const { return list_.First(); }
  const TMMCutRegion& Last() const { return list_.Last(); }
  void Clear();
  void Grow() { list_.Grow(); }
  void Expand() { list_.Expand(); }
  void SetCapacity(int32_t n) { list_.SetCapacity(n); }
  void SetCount(int32_t n) { list_.SetCount(n); }

  // Index of the first equal region, else -1.
  int32_t IndexOf(const TMMCutRegion& region) const;
  // Deletes the region when found; answers its index (-1 when not found).
  int32_t Remove(const TMMCutRegion& region);
  // Start and length of one region as one change.
  void SetParams(int32_t index, int32_t start_sample, int32_t length_samples);
  // Another cut list (or none): copies of its regions, as one change.
  void Assign(const vant::TPersistent* source) override;

  // As the fade list's LocateFadePoint, by start sample.
  int32_t LocateRegion(int32_t sample) const;
  // The region that holds the sample, else -1.
  int32_t FindRegion(int32_t sample) const;
  // True when no region holds the sample.
  bool QueryRegion(int32_t sample) const { return FindRegion(sample) < 0; }

 private:
  // A change bracketed by the changing and changed notifications.
  template <class F>
  auto Change(F f) {
    BeginUpdate();
    struct End {
      TMMCutList* l;
      ~End() { l->EndUpdate(); }
    } end{this};
    return f();
  }
  TMMRecordList<TMMCutRegion> list_;
};
