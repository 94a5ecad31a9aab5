#pragma once
// A first-in first-out ring of values that grows only when told to or when full, so a thread
// that must not allocate (the renderer) can push and pop once its owner has reserved room.
#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

namespace vant::audio {

template <typename T>
class Fifo {
 public:
  // Room for `count` values without growing.
  void Reserve(size_t count) {
    if (count <= slots_.size()) return;
    std::vector<T> grown(std::max(count, 2 * slots_.size()));
    for (size_t i = 0; i < size_; ++i) grown[i] = std::move((*this)[i]);
    slots_ = std::move(grown);
    head_ = 0;
  }
  void PushBack(T value) {
    if (size_ == slots_.size()) Reserve(size_ + 1);
    slots_[(head_ + size_++) % slots_.size()] = std::move(value);
  }
  void PopFront() {
    head_ = (head_ + 1) % slots_.size();
    --size_;
  }
  T& Front() { return (*this)[0]; }
  T& operator[](size_t i) { return slots_[(head_ + i) % slots_.size()]; }
  const T& operator[](size_t i) const { return slots_[(head_ + i) % slots_.size()]; }
  size_t Size() const { return size_; }
  bool Empty() const { return size_ == 0; }
  void Clear() { head_ = size_ = 0; }

 private:
  std::vector<T> slots_;
  size_t head_ = 0;
  size_t size_ = 0;
};

}  // namespace vant::audio
