#include "mmalloc.h"

#include <algorithm>
#include <limits>

#include "mmutils.h"

namespace vant {

namespace {
void* AllocBlock(size_t size) {
  if (size > size_t(std::numeric_limits<int64_t>::max())) return nullptr;
  try {
    return GlobalAllocMem(static_cast<int64_t>(size));
  } catch (const OutOfMemoryError&) {
    return nullptr;
  }
}
void FreeBlock(void* block) { GlobalFreeMem(block); }
}  // namespace

TMMAllocator::~TMMAllocator() { Discard(); }

std::vector<TMMAllocator::Entry>::iterator TMMAllocator::Find(const void* p) {
  return std::find_if(pool_.begin(), pool_.end(), [&](const Entry& e) { return e.block == p; });
}

void* TMMAllocator::NewEntry(size_t size) {
  // A failed allocation adds no entry: nothing is left marked as handed out.
  void* block = AllocBlock(size);
  if (!block) return nullptr;
  pool_.push_back(Entry{block, size, 1});
  return block;
}

void* TMMAllocator::AllocBuffer(uint32_t /*flags*/, size_t size) {
  std::lock_guard lock(lock_);
  auto free_with = [&](auto fits) {
    return std::find_if(pool_.begin(), pool_.end(),
                        [&](const Entry& e) { return e.use_count == 0 && fits(e.size); });
  };
  auto it = free_with([&](size_t s) { return s == size; });
  if (it == pool_.end()) it = free_with([&](size_t s) { return s >= size; });
  if (it == pool_.end()) return NewEntry(size);
  it->use_count = 1;
  return it->block;
}

void* TMMAllocator::AllocBufferEx(uint32_t /*flags*/, size_t size) {
  std::lock_guard lock(lock_);
  auto it = std::find_if(pool_.begin(), pool_.end(),
                         [&](const Entry& e) { return e.use_count == 0 && e.size == size; });
  if (it != pool_.end()) {
    it->use_count = 1;
    return it->block;
  }
  DiscardFreeLocked();
  return NewEntry(size);
}

void TMMAllocator::FreeBuffer(void*& p) {
  if (!p) return;
  std::lock_guard lock(lock_);
  auto it = Find(p);
  if (it == pool_.end()) return;
  // A second give-back of the same block must not push the count below free.
  if (it->use_count > 0) --it->use_count;
  p = nullptr;
}

void TMMAllocator::DiscardBuffer(void*& p) {
  if (!p) return;
  std::lock_guard lock(lock_);
  auto it = Find(p);
  if (it == pool_.end()) return;
  FreeBlock(it->block);
  pool_.erase(it);
  p = nullptr;
}

void TMMAllocator::DiscardFreeLocked() {
  std::erase_if(pool_, [](const Entry& e) {
    if (e.use_count != 0) return false;
    FreeBlock(e.block);
    return true;
  });
}

void TMMAllocator::DiscardFreeBuffers() {
  std::lock_guard lock(lock_);
  DiscardFreeLocked();
}

void TMMAllocator::Discard() {
  std::lock_guard lock(lock_);
  for (const Entry& e : pool_) FreeBlock(e.block);
  pool_.clear();
}

int TMMAllocator::Count() const {
  std::lock_guard lock(lock_);
  return static_cast<int>(pool_.size());
}

size_t TMMAllocator::BlockSize(const void* p) const {
  std::lock_guard lock(lock_);
  for (const Entry& e : pool_)
    if (e.block == p) return e.size;
  return 0;
}

}  // namespace vant
