#include "core/numerics/bessel.hpp"

#include <cmath>
#include <limits>

namespace varnel::bessel {

namespace {

constexpr double quiet_nan = std::numeric_limits<double>::quiet_NaN();

// c[0] + c[1] t + c[2] t^2 + ... (Horner).
template <int N>
double poly(const double (&c)[N], double t) {
  double s = c[N - 1];
  for (int i = N - 2; i >= 0; --i) s = s * t + c[i];
  return s;
}

// 9.8.1: I0(x) for |x| <= 3.75, in t = (x/3.75)^2.
constexpr double i0_small[] = {1.0,       3.5156229, 3.0899424, 1.2067492,
                               0.2659732, 0.0360768, 0.0045813};
// 9.8.2: x^(1/2) e^(-x) I0(x) for x >= 3.75, in u = 3.75/x.
constexpr double i0_large[] = {0.39894228,  0.01328592, 0.00225319,  -0.00157565, 0.00916281,
                               -0.02057706, 0.02635537, -0.01647633, 0.00392377};
// 9.8.3: x^(-1) I1(x) for |x| <= 3.75, in t = (x/3.75)^2.
constexpr double i1_small[] = {0.5,        0.87890594, 0.51498869, 0.15084934,
                               0.02658733, 0.00301532, 0.00032411};
// 9.8.4: x^(1/2) e^(-x) I1(x) for x >= 3.75, in u = 3.75/x.
constexpr double i1_large[] = {0.39894228, -0.03988024, -0.00362018, 0.00163801, -0.01031555,
                               0.02282967, -0.02895312, 0.01787654,  -0.00420059};
// 9.8.5: K0(x) + ln(x/2) I0(x) for 0 < x <= 2, in y = x^2/4.
constexpr double k0_small[] = {-0.57721566, 0.42278420, 0.23069756, 0.03488590,
                               0.00262698,  0.00010750, 0.00000740};
// 9.8.6: x^(1/2) e^x K0(x) for x >= 2, in w = 2/x.
constexpr double k0_large[] = {1.25331414, -0.07832358, 0.02189568, -0.01062446,
                               0.00587872, -0.00251540, 0.00053208};
// 9.8.7: x K1(x) - x ln(x/2) I1(x) for 0 < x <= 2, in y = x^2/4.
constexpr double k1_small[] = {1.0,         0.15443144,  -0.67278579, -0.18156897,
                               -0.01919402, -0.00110404, -0.00004686};
// 9.8.8: x^(1/2) e^x K1(x) for x >= 2, in w = 2/x.
constexpr double k1_large[] = {1.25331414,  0.23498619, -0.03655620, 0.01504268,
                               -0.00780353, 0.00325614, -0.00068245};

}  // namespace

double bessi0(double x) {
  const double a = std::fabs(x);
  if (a < 3.75) {
    const double t = (x / 3.75) * (x / 3.75);
    return poly(i0_small, t);
  }
  return std::exp(a) / std::sqrt(a) * poly(i0_large, 3.75 / a);
}

double bessi1(double x) {
  const double a = std::fabs(x);
  if (a < 3.75) {
    const double t = (x / 3.75) * (x / 3.75);
    return x * poly(i1_small, t);
  }
  const double v = std::exp(a) / std::sqrt(a) * poly(i1_large, 3.75 / a);
  return x < 0.0 ? -v : v;
}

double bessk0(double x) {
  if (x == 0.0) return 1.0e30;
  if (!(x > 0.0)) return quiet_nan;
  if (x <= 2.0) {
    const double y = x * x / 4.0;
    return -std::log(x / 2.0) * bessi0(x) + poly(k0_small, y);
  }
  return std::exp(-x) / std::sqrt(x) * poly(k0_large, 2.0 / x);
}

double bessk1(double x) {
  if (x == 0.0) return 1.0e32;
  if (!(x > 0.0)) return quiet_nan;
  if (x <= 2.0) {
    const double y = x * x / 4.0;
    return std::log(x / 2.0) * bessi1(x) + (1.0 / x) * poly(k1_small, y);
  }
  return std::exp(-x) / std::sqrt(x) * poly(k1_large, 2.0 / x);
}

double besselk(int32_t n, double x) {
  if (n < 0) n = -n;
  if (n == 0) return bessk0(x);
  if (n == 1) return bessk1(x);
  if (x == 0.0) return 1.0e30;
  if (!(x > 0.0)) return quiet_nan;
  double km = bessk0(x);
  double k = bessk1(x);
  for (int32_t j = 1; j <= n - 1; ++j) {
    const double kp = km + (2.0 * j / x) * k;
    km = k;
    k = kp;
  }
  return k;
}

}  // namespace varnel::bessel
