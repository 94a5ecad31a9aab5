#pragma once
// Binary search, sort and linear search over arrays of fixed-size elements with the caller's
// comparison (negative, 0 or positive for A before, equal to, after B). Reentrant: nothing is
// kept between calls, so sorts may run on several threads at once.
#include <cstddef>

namespace mm {

using TCompareFunc = int (*)(const void* a, const void* b);

// The element equal to `key` in the sorted array, or nullptr.
void* bsearch(const void* key, const void* base, size_t count, size_t size, TCompareFunc compare);
// Sorts in place (not stable); nothing when `size` is 0.
void qsort(void* base, size_t count, size_t size, TCompareFunc compare);
// The first element equal to `key`, or nullptr.
void* lfind(const void* key, const void* base, size_t count, size_t size, TCompareFunc compare);
// The first element equal to `key`; when there is none a copy of `key` is stored after the last
// element (the array must have room for it), `count` grows by one and the new element is
// returned.
void* lsearch(const void* key, void* base, size_t& count, size_t size, TCompareFunc compare);

}  // namespace mm
