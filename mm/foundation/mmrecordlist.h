#pragma once
// The growable record array behind the fade list and the cut list: items, count and capacity
// with the library's growth steps and limits. Every index or size outside them raises
// EListError, so a bad index from a caller never reaches memory.
#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include "mmerrors.h"

template <class T>
class TMMRecordList {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  static constexpr int32_t kMaxListSize = 0x7FFFFFF;

  int32_t Count() const { return count_; }
  int32_t Capacity() const { return static_cast<int32_t>(items_.size()); }

  int32_t Add(const T& item) {
    if (count_ == Capacity()) Grow();
    items_[count_] = item;
    return count_++;
  }
  void Insert(int32_t index, const T& item) {
    if (index < 0 || index > count_) Error(index);
    if (count_ == Capacity()) Grow();
    for (int32_t i = count_; i > index; --i) items_[i] = items_[i - 1];
    items_[index] = item;
    ++count_;
  }
  void Delete(int32_t index) {
    Check(index);
    for (int32_t i = index; i < count_ - 1; ++i) items_[i] = items_[i + 1];
    --count_;
  }
  const T& Get(int32_t index) const {
    Check(index);
    return items_[index];
  }
  T& Item(int32_t index) {
    Check(index);
    return items_[index];
  }
  void Put(int32_t index, const T& item) { Item(index) = item; }
  const T& First() const { return Get(0); }
  const T& Last() const { return Get(count_ - 1); }
  void Clear() {
    count_ = 0;
    std::vector<T>().swap(items_);
  }
  // +16 from a capacity of 9 up, +8 from 5 to 8, +4 below.
  void Grow() {
    const int32_t cap = Capacity();
    SetCapacity(cap + (cap > 8 ? 16 : cap > 4 ? 8 : 4));
  }
  void Expand() {
    if (count_ == Capacity()) Grow();
  }
  void SetCapacity(int32_t n) {
    if (n < count_ || n > kMaxListSize) Error(n);
    items_.resize(static_cast<size_t>(n));
    items_.shrink_to_fit();
  }
  // New entries are zero-filled.
  void SetCount(int32_t n) {
    if (n < 0 || n > kMaxListSize) Error(n);
    if (n > Capacity()) SetCapacity(n);
    for (int32_t i = count_; i < n; ++i) items_[i] = T{};
    count_ = n;
  }

  // By a key: -1 for an empty list, Count when key >= the last key, else the index of the first
  // item whose key is greater.
  template <class KeyOf>
  int32_t Locate(int64_t key, KeyOf key_of) const {
    if (count_ == 0) return -1;
    if (key >= key_of(items_[count_ - 1])) return count_;
    int32_t lo = 0, hi = count_ - 1;
    while (lo < hi) {
      const int32_t mid = lo + (hi - lo) / 2;
      if (key_of(items_[mid]) > key) {
        hi = mid;
      } else {
        lo = mid + 1;
      }
    }
    return lo;
  }

  // Where the Shell sort's gaps 1, 4, 13, 40, ... start: the fade list takes the first gap above
  // Count / 9, the marker list the last one not above it (1 for small lists). The start decides
  // the order in which items with equal keys come out.
  enum class FirstGap { kAboveNinth, kAtMostNinth };

  // Shell sort; each pass moves an item down only past a greater key.
  template <class KeyOf>
  void Sort(KeyOf key_of, FirstGap first = FirstGap::kAboveNinth) {
    int32_t gap = 1;
    if (first == FirstGap::kAboveNinth) {
      while (gap <= count_ / 9) gap = 3 * gap + 1;
    } else {
      while (3 * gap + 1 <= count_ / 9) gap = 3 * gap + 1;
    }
    for (; gap > 0; gap /= 3) {
      for (int32_t i = gap; i < count_; ++i) {
        const T v = items_[i];
        int32_t j = i;
        while (j >= gap && key_of(items_[j - gap]) > key_of(v)) {
          items_[j] = items_[j - gap];
          j -= gap;
        }
        items_[j] = v;
      }
    }
  }

 private:
  void Check(int32_t index) const {
    if (index < 0 || index >= count_) Error(index);
  }
  [[noreturn]] static void Error(int32_t index) {
    throw EListError("List index out of bounds (" + std::to_string(index) + ")");
  }

  std::vector<T> items_;
  int32_t count_ = 0;
};
