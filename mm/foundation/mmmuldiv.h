#pragma once
// Exact integer scaling: every routine forms the full product first (64 or 128 bits) and divides
// once, so sample positions and byte counts scale without overflow or drift. A zero divisor
// raises EDivByZero and a result that does not fit its type raises EIntOverflow.
#include <cstdint>

#include "mmerrors.h"

// Signed A·B div C, truncated toward zero.
int32_t MulDiv32(int32_t a, int32_t b, int32_t c);
// Signed A·B / C rounded to nearest, halves away from zero.
int32_t MulDiv32RN(int32_t a, int32_t b, int32_t c);
// Unsigned A·B / C rounded down, to nearest (halves up) and up.
uint32_t MulDivRD(uint32_t a, uint32_t b, uint32_t c);
uint32_t MulDivRN(uint32_t a, uint32_t b, uint32_t c);
uint32_t MulDivRU(uint32_t a, uint32_t b, uint32_t c);
// One 32-by-16-bit division; the quotient must fit in 16 bits (else EIntOverflow).
void DivMod32(uint32_t dividend, uint16_t divisor, uint16_t& result, uint16_t& remainder);
// Arithmetic shifts by shift mod 32.
int32_t Sal(int32_t value, int32_t shift);
int32_t Sar(int32_t value, int32_t shift);
// Maps X linearly so that InMin goes to OutMin and InMax to OutMax (X outside extrapolates):
// truncated, rounded to nearest (halves to even), and in floating point.
int32_t RangeScale(int32_t x, int32_t in_min, int32_t in_max, int32_t out_min, int32_t out_max);
int32_t RangeScaleRN(int32_t x, int32_t in_min, int32_t in_max, int32_t out_min, int32_t out_max);
double RangeScaleF(double x, double in_min, double in_max, double out_min, double out_max);
// A·B = C·D, compared as 64-bit products.
bool MulCompare(int32_t a, int32_t b, int32_t c, int32_t d);
// A·B ÷ C with a 128-bit product, truncated toward zero.
int64_t MulDiv64(int64_t a, int64_t b, int64_t c);
