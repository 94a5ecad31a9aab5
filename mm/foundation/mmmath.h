#pragma once
// Extended-precision (long double) helpers: clamping, modulo, ceiling and floor, inverse
// trigonometry, logarithms and power. Invalid arguments (a logarithm of a negative value, a
// negative base) give NaN and a logarithm of 0 gives -infinity, as the processor would; a zero
// divisor of ModR raises EDivByZero.
#include <cstdint>

#include "mmerrors.h"

using Extended = long double;

// The smaller, the larger; B when they are equal.
Extended MinR(Extended a, Extended b);
Extended MaxR(Extended a, Extended b);
// Min when X < Min, else Max when X > Max, else X.
Extended MinMaxR(Extended x, Extended min, Extended max);
// X clamped into the range between A and B given in either order.
Extended LimitR(Extended x, Extended a, Extended b);
// A − Int(A / B)·B: the remainder with the sign of A.
Extended ModR(Extended a, Extended b);
// Ceiling and floor as integers; EIntOverflow when X is NaN or outside the 32-bit range.
int32_t Ceil(Extended x);
int32_t Floor(Extended x);
Extended ArcCos(Extended x);
Extended ArcSin(Extended x);
Extended ArcTan2(Extended y, Extended x);
Extended Tan(Extended x);
Extended Cotan(Extended x);
Extended Log(Extended x);
Extended Log2(Extended x);
Extended Log10(Extended x);
// Base^Exponent as 2^(Exponent · log2 Base); Base must be positive.
Extended Pow(Extended base, Extended exponent);
