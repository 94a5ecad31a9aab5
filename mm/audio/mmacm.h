#pragma once
// The engine's view of the compression manager: whether it is there and new enough. Every
// routine that converts through it asks acmUsable() first and answers "not possible" otherwise.
#include <cstdint>

#include "acm.h"

struct TACMBinding {
  bool Present = false;  // the manager answered at start-up
  uint32_t Version = 0;  // major, minor and build in the high, next and low 16 bits
};

// Taken from the manager on first use; tests may change it to see the engine without one.
TACMBinding& ACMBinding();
// Present and at least version 2.00.
bool acmUsable();
