#include "mmsearch.h"

#include <algorithm>
#include <cstring>

namespace mm {

void* bsearch(const void* key, const void* base, size_t count, size_t size, TCompareFunc compare) {
  auto* b = static_cast<const char*>(base);
  while (count > 0) {
    const size_t half = count / 2;
    const char* e = b + half * size;
    const int r = compare(key, e);
    if (r == 0) return const_cast<char*>(e);
    if (r < 0) {
      count = half;
    } else {
      b = e + size;
      count -= half + 1;
    }
  }
  return nullptr;
}

namespace {

// Exchanges the n bytes at a with the n bytes at b (non-overlapping), a chunk at a time.
void SwapBlock(char* a, char* b, size_t n) {
  char tmp[64];
  while (n > 0) {
    const size_t k = n < sizeof tmp ? n : sizeof tmp;
    std::memcpy(tmp, a, k);
    std::memcpy(a, b, k);
    std::memcpy(b, tmp, k);
    a += k;
    b += k;
    n -= k;
  }
}

void Swap(char* a, char* b, size_t size) {
  if (a != b) SwapBlock(a, b, size);
}

void SortSmall(char* a, size_t n, size_t es, TCompareFunc cmp) {
  if (n < 2) return;
  char* b = a + es;
  if (cmp(a, b) > 0) Swap(a, b, es);
  if (n == 2) return;
  char* c = b + es;
  if (cmp(b, c) > 0) {
    Swap(b, c, es);
    if (cmp(a, b) > 0) Swap(a, b, es);
  }
}

char* MedianOf3(char* a, char* b, char* c, TCompareFunc cmp) {
  if (cmp(a, b) < 0) return cmp(b, c) < 0 ? b : (cmp(a, c) < 0 ? c : a);
  return cmp(b, c) > 0 ? b : (cmp(a, c) < 0 ? a : c);
}

}  // namespace

void qsort(void* base, size_t count, size_t size, TCompareFunc compare) {
  if (size == 0) return;
  char* a = static_cast<char*>(base);
  size_t n = count;
  const size_t es = size;
  while (n > 3) {
    Swap(a, MedianOf3(a, a + (n / 2) * es, a + (n - 1) * es, compare), es);
    // Three-way partition: elements equal to the pivot gather at both ends and move to the
    // middle afterwards, so runs of equal keys cost nothing more.
    char *pa = a + es, *pb = pa, *pc = a + (n - 1) * es, *pd = pc;
    for (;;) {
      int r;
      while (pb <= pc && (r = compare(pb, a)) <= 0) {
        if (r == 0) {
          Swap(pa, pb, es);
          pa += es;
        }
        pb += es;
      }
      while (pb <= pc && (r = compare(pc, a)) >= 0) {
        if (r == 0) {
          Swap(pc, pd, es);
          pd -= es;
        }
        pc -= es;
      }
      if (pb > pc) break;
      Swap(pb, pc, es);
      pb += es;
      pc -= es;
    }
    char* const pn = a + n * es;
    size_t r = std::min<size_t>(pa - a, pb - pa);
    SwapBlock(a, pb - r, r);
    r = std::min<size_t>(pd - pc, pn - pd - es);
    SwapBlock(pb, pn - r, r);
    const size_t left = static_cast<size_t>(pb - pa) / es;
    const size_t right = static_cast<size_t>(pd - pc) / es;
    // Recurse into the smaller side, loop on the larger: the stack stays logarithmic.
    if (left <= right) {
      qsort(a, left, es, compare);
      a = pn - right * es;
      n = right;
    } else {
      qsort(pn - right * es, right, es, compare);
      n = left;
    }
  }
  SortSmall(a, n, es, compare);
}

void* lfind(const void* key, const void* base, size_t count, size_t size, TCompareFunc compare) {
  auto* e = static_cast<const char*>(base);
  for (size_t i = 0; i < count; ++i, e += size)
    if (compare(key, e) == 0) return const_cast<char*>(e);
  return nullptr;
}

void* lsearch(const void* key, void* base, size_t& count, size_t size, TCompareFunc compare) {
  if (void* found = lfind(key, base, count, size, compare)) return found;
  char* slot = static_cast<char*>(base) + count * size;
  std::memmove(slot, key, size);
  ++count;
  return slot;
}

}  // namespace mm
