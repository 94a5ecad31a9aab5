#pragma once
// The integer arithmetic errors of the library: what a division fault would have been, raised as
// exceptions the caller can handle instead of a crash.
#include "exceptions.h"

VANT_DECLARE_EXCEPTION(EIntError, vant::Exception);
// A zero divisor.
VANT_DECLARE_EXCEPTION(EDivByZero, EIntError);
// A quotient or result that does not fit the result type.
VANT_DECLARE_EXCEPTION(EIntOverflow, EIntError);

// An index or size outside a list's limits ("List index out of bounds (5)").
VANT_DECLARE_EXCEPTION(EListError, vant::Exception);
