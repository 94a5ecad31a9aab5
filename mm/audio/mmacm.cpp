#include "mmacm.h"

TACMBinding& ACMBinding() {
  static TACMBinding binding = [] {
    TACMBinding b;
    b.Version = acmGetVersion();
    b.Present = b.Version != 0;
    return b;
  }();
  return binding;
}

bool acmUsable() {
  const TACMBinding& b = ACMBinding();
  return b.Present && (b.Version >> 16) >= 0x0200;
}
