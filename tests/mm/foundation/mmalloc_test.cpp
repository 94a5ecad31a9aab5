#include "mmalloc.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

namespace {

using vant::TMMAllocator;

TEST(BufferPool, ReusesExactSizeFirstThenAnyLargerFreeBlock) {
  TMMAllocator pool;
  void* big = pool.AllocBuffer(0, 2000);
  void* exact = pool.AllocBuffer(0, 1000);
  void* keep_big = big;
  void* keep_exact = exact;
  pool.FreeBuffer(big);
  pool.FreeBuffer(exact);
  EXPECT_EQ(big, nullptr);
  EXPECT_EQ(pool.AllocBuffer(0, 1000), keep_exact);  // exact size wins over the earlier larger
  void* reused = pool.AllocBuffer(0, 1000);          // then the larger one serves
  EXPECT_EQ(reused, keep_big);
  EXPECT_EQ(pool.BlockSize(reused), 2000u);  // and keeps its size
  void* fresh = pool.AllocBuffer(0, 1000);   // nothing free: a new block
  EXPECT_NE(fresh, nullptr);
  EXPECT_EQ(pool.Count(), 3);
}

TEST(BufferPool, ExReusesOnlyAnExactSizeAndOtherwiseDropsTheFreeBlocks) {
  TMMAllocator pool;
  void* a = pool.AllocBuffer(0, 2000);
  void* held = pool.AllocBuffer(0, 500);
  pool.FreeBuffer(a);
  void* b = pool.AllocBufferEx(0, 1000);
  EXPECT_EQ(pool.Count(), 2);  // the free 2000-byte block went, the held one stayed
  EXPECT_EQ(pool.BlockSize(b), 1000u);
  EXPECT_EQ(pool.BlockSize(held), 500u);
  void* b_again = b;
  pool.FreeBuffer(b);
  EXPECT_EQ(pool.AllocBufferEx(0, 1000), b_again);
}

TEST(BufferPool, NewBlocksAreZeroFilledEvenOfSizeZero) {
  TMMAllocator pool;
  auto* p = static_cast<unsigned char*>(pool.AllocBuffer(0, 4096));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(std::vector<unsigned char>(p, p + 4096), std::vector<unsigned char>(4096, 0));
  void* empty1 = pool.AllocBuffer(0, 0);
  void* empty2 = pool.AllocBuffer(0, 0);
  EXPECT_NE(empty1, nullptr);
  EXPECT_NE(empty1, empty2);
}

TEST(BufferPool, ForeignPointersAreLeftAloneAndDiscardsFreeWhatTheySay) {
  TMMAllocator pool;
  int outside = 0;
  void* foreign = &outside;
  pool.FreeBuffer(foreign);
  pool.DiscardBuffer(foreign);
  EXPECT_EQ(foreign, &outside);
  void* null = nullptr;
  pool.FreeBuffer(null);

  void* a = pool.AllocBuffer(0, 100);
  void* b = pool.AllocBuffer(0, 100);
  void* c = pool.AllocBuffer(0, 100);
  void* const block_a = a;
  void* a_copy = a;
  pool.FreeBuffer(a);
  pool.FreeBuffer(a_copy);  // a second give-back must not spoil the entry
  a = pool.AllocBuffer(0, 100);
  EXPECT_EQ(a, block_a);
  pool.FreeBuffer(a);

  pool.DiscardBuffer(b);
  EXPECT_EQ(b, nullptr);
  EXPECT_EQ(pool.Count(), 2);
  pool.DiscardFreeBuffers();  // a is free, c is held
  EXPECT_EQ(pool.Count(), 1);
  EXPECT_EQ(pool.BlockSize(c), 100u);
  pool.Discard();
  EXPECT_EQ(pool.Count(), 0);
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitizedAllocator = true;  // it aborts on absurd sizes instead of failing
#else
constexpr bool kSanitizedAllocator = false;
#endif

TEST(BufferPool, AFailedAllocationLeavesNoEntryBehind) {
  if (kSanitizedAllocator) GTEST_SKIP() << "the sanitizer's allocator does not fail politely";
  TMMAllocator pool;
  void* small = pool.AllocBuffer(0, 100);
  pool.FreeBuffer(small);
  const size_t absurd = size_t{1} << 46;
  EXPECT_EQ(pool.AllocBuffer(0, absurd), nullptr);
  EXPECT_EQ(pool.AllocBufferEx(0, absurd), nullptr);
  EXPECT_EQ(pool.Count(), 0);  // Ex dropped the free block; neither failure added an entry
  EXPECT_NE(pool.AllocBuffer(0, 100), nullptr);
}

TEST(BufferPool, TwoThreadsCyclingBuffersNeverShareOne) {
  TMMAllocator pool;
  std::atomic<bool> shared{false};
  auto cycle = [&](unsigned char mark) {
    for (int i = 0; i < 2000; ++i) {
      auto* p = static_cast<unsigned char*>(pool.AllocBuffer(0, 256));
      std::memset(p, mark, 256);
      for (int k = 0; k < 256; ++k)
        if (p[k] != mark) shared = true;
      void* v = p;
      pool.FreeBuffer(v);
    }
  };
  std::thread gui(cycle, 1), device(cycle, 2);
  gui.join();
  device.join();
  EXPECT_FALSE(shared);
  EXPECT_LE(pool.Count(), 2);  // one size cycling never grows the pool past the threads
}

}  // namespace
