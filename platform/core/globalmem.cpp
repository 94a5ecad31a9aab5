#include "globalmem.h"

#include <cstdlib>
#include <cstring>
#include <limits>

namespace vant {
namespace {
// The size lives in front of the block; the header keeps the block 16-byte aligned like malloc's.
constexpr size_t kHeader = 16;
}  // namespace

void* GlobalMemAlloc(size_t size) {
  if (size > std::numeric_limits<size_t>::max() - kHeader) throw OutOfMemoryError("Out of memory");
  auto* raw = static_cast<unsigned char*>(std::calloc(1, size + kHeader));
  if (!raw) throw OutOfMemoryError("Out of memory");
  std::memcpy(raw, &size, sizeof size);
  return raw + kHeader;
}

void GlobalMemFree(void* block) {
  if (block) std::free(static_cast<unsigned char*>(block) - kHeader);
}

size_t GlobalMemBlockSize(const void* block) {
  if (!block) return 0;
  size_t size;
  std::memcpy(&size, static_cast<const unsigned char*>(block) - kHeader, sizeof size);
  return size;
}

}  // namespace vant
