#include "core/numerics/maths.hpp"

#include <bit>
#include <cassert>
#include <cmath>
#include <cstddef>
#include <limits>

namespace varnel::maths {

double nan_rsp() { return std::bit_cast<double>(UINT64_C(0x7FF8000000000000)); }

std::vector<double> nan_rsp_1d(int nrow) {
  return std::vector<double>(static_cast<std::size_t>(nrow > 0 ? nrow : 0), nan_rsp());
}

Dmatrix nan_rsp_2d(int nrow, int ncolumn) {
  if (nrow <= 0 || ncolumn <= 0) return Dmatrix(nrow > 0 ? nrow : 0, ncolumn > 0 ? ncolumn : 0);
  return Dmatrix(nrow, ncolumn, nan_rsp());
}

namespace {

double geometric_mean(const double* d, std::size_t n) {
  double sum = 0.0;
  for (std::size_t i = 0; i < n; ++i) sum += std::log10(d[i]);
  return std::pow(10.0, sum / static_cast<double>(n));
}

}  // namespace

double cal_geometric_mean_1d(const std::vector<double>& d) {
  return geometric_mean(d.data(), d.size());
}

double cal_geometric_mean_2d(const Dmatrix& d) { return geometric_mean(d.data(), d.size()); }

double cal_geometric_mean_3d(const std::vector<double>& d, int n1, int n2, int n3) {
  const std::size_t n = static_cast<std::size_t>(n1 > 0 ? n1 : 0) * (n2 > 0 ? n2 : 0) *
                        static_cast<std::size_t>(n3 > 0 ? n3 : 0);
  assert(d.size() >= n);
  return geometric_mean(d.data(), n);
}

double parabolic_interpolation(const Dmatrix& xx) {
  assert(xx.rows() >= 3 && xx.cols() >= 2);
  const double x1 = xx(1, 1), x2 = xx(2, 1), x3 = xx(3, 1);
  const double f1 = xx(1, 2), f2 = xx(2, 2), f3 = xx(3, 2);
  const double p = (x2 - x1) * (x2 - x1) * (f2 - f3) - (x2 - x3) * (x2 - x3) * (f2 - f1);
  const double q = (x2 - x1) * (f2 - f3) - (x2 - x3) * (f2 - f1);
  return x2 - 0.5 * p / q;
}

double linear_search(const std::array<double, 2>& xx, const std::array<double, 2>& yy,
                     double upper_level) {
  const double m = (yy[1] - yy[0]) / (xx[1] - xx[0]);
  return (upper_level - yy[0]) / m + xx[0];
}

double skin_depth(double period, double cond) {
  // pi times the magnetic constant (to within 1.2e-8 of pi 4 pi 1e-7 H/m).
  return std::sqrt(period / (3.947841806570606e-6 * cond));
}

bool isfinite_real(double x) { return std::fabs(x) <= std::numeric_limits<double>::max(); }

bool isfinite_integer(int32_t) { return true; }

}  // namespace varnel::maths
