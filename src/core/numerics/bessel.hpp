// Modified Bessel functions of the first (I) and second (K) kind for the
// 2.5-D transform, from the polynomial approximations 9.8.1 to 9.8.8 of
// Abramowitz and Stegun, Handbook of Mathematical Functions.
#pragma once

#include <cstdint>

namespace varnel::bessel {

// I0(x). Even in x.
double bessi0(double x);
// I1(x). Odd in x.
double bessi1(double x);
// K0(x) for x > 0; 1.0e30 at x = 0; NaN for x < 0.
double bessk0(double x);
// K1(x) for x > 0; 1.0e32 at x = 0; NaN for x < 0.
double bessk1(double x);
// Kn(x): orders 0 and 1 are bessk0 and bessk1 (their values at 0 included);
// higher orders come from the upward recurrence K(j+1) = K(j-1) + (2j/x) K(j)
// and give 1.0e30 at x = 0. A negative order gives K(-n) = K(n); x < 0 gives
// NaN.
double besselk(int32_t n, double x);

}  // namespace varnel::bessel
