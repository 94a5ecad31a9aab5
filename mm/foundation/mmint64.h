#pragma once
// 64-bit multiply, divide and remainder as the audio engine's position arithmetic uses them.
#include <cstdint>

#include "mmerrors.h"

// The low 64 bits of A·B (wraps like the processor's multiply).
int64_t int64x64(int64_t a, int64_t b);
// Value div Divisor and Value mod Divisor, truncated toward zero (the remainder has Value's
// sign); a zero divisor raises EDivByZero.
int64_t int64Div32(int64_t value, uint32_t divisor);
int64_t int64Mod32(int64_t value, uint32_t divisor);
