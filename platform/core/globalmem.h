#pragma once
// Zero-filled memory blocks that know their own size, for the buffers the audio engine and the
// displays pass around by address.
#include <cstddef>

#include "exceptions.h"

namespace vant {

// Raised when a block cannot be allocated.
VANT_DECLARE_EXCEPTION(OutOfMemoryError, Exception);

// A zero-filled block of `size` bytes (a zero size still gives a distinct block). Throws
// OutOfMemoryError when the memory cannot be had.
void* GlobalMemAlloc(size_t size);
// Frees a block from GlobalMemAlloc; nothing for nullptr.
void GlobalMemFree(void* block);
// The size the block was allocated with; 0 for nullptr.
size_t GlobalMemBlockSize(const void* block);

}  // namespace vant
