#pragma once
// TMMAllocator: a pool of zero-filled memory blocks that are handed out and given back instead of
// being freed, so a device cycling buffers of one size never reallocates. Every operation holds
// the pool's own lock; the wave-out device uses one pool from the GUI thread and its device
// thread.
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace vant {

class TMMAllocator {
 public:
  TMMAllocator() = default;
  // Frees every block, handed out or not.
  ~TMMAllocator();
  TMMAllocator(const TMMAllocator&) = delete;
  TMMAllocator& operator=(const TMMAllocator&) = delete;

  // A free block of exactly `size` bytes, else the first free one at least that large (its size
  // stays what it was), else a new block. nullptr when no memory can be had. `flags` are the
  // callers' memory allocation flags, kept for their sake; every new block is zero-filled.
  void* AllocBuffer(uint32_t flags, size_t size);
  // Like AllocBuffer but reuses only an exact size; otherwise every free block is discarded
  // before a new one is made.
  void* AllocBufferEx(uint32_t flags, size_t size);
  // Gives the block back to the pool and clears `p`; a pointer the pool does not hold is left as
  // it is.
  void FreeBuffer(void*& p);
  // Frees the block for good and clears `p`; a pointer the pool does not hold is left as it is.
  void DiscardBuffer(void*& p);
  // Frees every block that is not handed out.
  void DiscardFreeBuffers();
  // Frees every block.
  void Discard();

  // Blocks held, free or handed out, and the size each was made with (for tests and
  // diagnostics).
  int Count() const;
  size_t BlockSize(const void* p) const;

 private:
  struct Entry {
    void* block;
    size_t size;        // as requested when the block was made
    int32_t use_count;  // 0 free, 1 handed out
  };
  void* NewEntry(size_t size);
  void DiscardFreeLocked();
  std::vector<Entry>::iterator Find(const void* p);

  mutable std::mutex lock_;
  std::vector<Entry> pool_;
};

}  // namespace vant
