#include "core/survey/extract_dcr2d_electrode_position.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <numbers>
#include <numeric>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "core/error.hpp"
#include "core/numerics/matrix.hpp"
#include "core/survey/param_dcr2d.hpp"

namespace varnel::extract_dcr2d_electrode_position {

namespace {

// Largest slope angle, in degrees, of an along-surface step.
constexpr double max_slope_degrees = 65.0;

std::uint64_t mix(std::uint64_t h, double v) {
  // -0.0 and 0.0 compare equal and must hash alike.
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(v == 0.0 ? 0.0 : v);
  h ^= bits + 0x9E3779B97F4A7C15ull + (h << 6) + (h >> 2);
  // splitmix64 finaliser: spreads the low-entropy bits of round coordinates.
  h ^= h >> 30;
  h *= 0xBF58476D1CE4E5B9ull;
  h ^= h >> 27;
  h *= 0x94D049BB133111EBull;
  h ^= h >> 31;
  return h;
}

// Hash and equality of rows of one matrix, addressed by 1-based row number.
struct Row_hash {
  const Dmatrix* a;
  std::size_t operator()(int r) const noexcept {
    std::uint64_t h = 0;
    for (int k = 1; k <= a->cols(); ++k) h = mix(h, (*a)(r, k));
    return static_cast<std::size_t>(h);
  }
};

struct Row_equal {
  const Dmatrix* a;
  bool operator()(int r, int s) const noexcept {
    for (int k = 1; k <= a->cols(); ++k)
      if (!((*a)(r, k) == (*a)(s, k))) return false;
    return true;
  }
};

bool row_has_nan(const Dmatrix& a, int r) {
  for (int k = 1; k <= a.cols(); ++k)
    if (std::isnan(a(r, k))) return true;
  return false;
}

double round_to_tenth(double v) { return std::round(v * 10.0) / 10.0; }

// Horizontal distance covered by an along-surface step (dx, dz).
double horizontal_step(double dx, double dz) {
  if (dx == 0.0) return 0.0;  // vertical step: no horizontal distance
  const double ratio = std::clamp(dz / dx, -1.0, 1.0);
  double angle = std::round(std::asin(ratio) * 180.0 / std::numbers::pi);
  if (std::abs(angle) > max_slope_degrees) angle = std::copysign(max_slope_degrees, angle);
  if (angle == 0.0) return dx;
  return dz / std::tan(angle * std::numbers::pi / 180.0);
}

}  // namespace

std::size_t Position_hash::operator()(const std::array<double, 2>& p) const noexcept {
  return static_cast<std::size_t>(mix(mix(0, p[0]), p[1]));
}

Dmatrix unique_rows_fast(const Dmatrix& array, int32_t ref_index) {
  const int nrow = array.rows();
  const int ncol = array.cols();
  if (nrow == 0) return Dmatrix(0, ncol);
  if (ref_index < 1 || ref_index > ncol)
    fail("unique_rows_fast: key column " + std::to_string(ref_index) + " outside 1.." +
         std::to_string(ncol));
  for (int r = 1; r <= nrow; ++r)
    if (std::isnan(array(r, ref_index))) return matrix::unique_rank2(array, "ROW", ref_index);

  // Distinct rows in order of first appearance; a row holding NaN equals
  // nothing, so it is kept and never entered in the set.
  std::unordered_set<int, Row_hash, Row_equal> seen(static_cast<std::size_t>(nrow) * 2,
                                                    Row_hash{&array}, Row_equal{&array});
  std::vector<int> kept;
  kept.reserve(static_cast<std::size_t>(nrow));
  for (int r = 1; r <= nrow; ++r) {
    if (row_has_nan(array, r)) {
      kept.push_back(r);
    } else if (seen.insert(r).second) {
      kept.push_back(r);
    }
  }

  std::stable_sort(kept.begin(), kept.end(),
                   [&](int r, int s) { return array(r, ref_index) < array(s, ref_index); });

  Dmatrix out(static_cast<int>(kept.size()), ncol);
  for (int i = 1; i <= out.rows(); ++i)
    for (int k = 1; k <= ncol; ++k) out(i, k) = array(kept[i - 1], k);
  return out;
}

void adjust_position_dcr2d(Dmatrix& pelec, int32_t x_position_type) {
  const int n = pelec.rows();
  if (n > 0 && pelec.cols() < 2)
    fail("adjust_position_dcr2d: electrode positions need 2 columns (x, z), got " +
         std::to_string(pelec.cols()));
  Dmatrix out(n, 4);
  for (int i = 1; i <= n; ++i) {
    out(i, 1) = pelec(i, 1);
    out(i, 2) = pelec(i, 2);
    out(i, 3) = pelec(i, 1);
    out(i, 4) = pelec(i, 2);
  }
  if (x_position_type == 2) {
    for (int i = 2; i <= n; ++i) {
      const double dx = pelec(i, 1) - pelec(i - 1, 1);
      const double dz = pelec(i, 2) - pelec(i - 1, 2);
      out(i, 1) = round_to_tenth(out(i - 1, 1) + horizontal_step(dx, dz));
    }
  }
  pelec = std::move(out);
}

void electrode_position_dcr2d_dat(Dat& d) {
  if (d.data_format != 11) return;
  const int ne = param_dcr2d::nelec(d.arraytype);
  const int nd = d.nodata;
  if (nd < 0) fail("DAT file " + d.filename + ": negative number of data " + std::to_string(nd));
  if (nd > 0 && ne > 0 && (d.rawdata.rows() < nd || d.rawdata.cols() < 1 + 2 * ne))
    fail("DAT file " + d.filename + ": data rows of " + std::to_string(d.rawdata.rows()) + " x " +
         std::to_string(d.rawdata.cols()) + " values cannot hold " + std::to_string(nd) +
         " data of " + std::to_string(ne) + " electrodes");

  Dmatrix pairs(nd * ne, 2);
  int r = 0;
  for (int k = 1; k <= ne; ++k) {
    for (int i = 1; i <= nd; ++i) {
      ++r;
      pairs(r, 1) = d.rawdata(i, 2 * k);
      pairs(r, 2) = d.rawdata(i, 2 * k + 1);
    }
  }
  d.pelec = unique_rows_fast(pairs, 1);
  d.noelec = d.pelec.rows();
  adjust_position_dcr2d(d.pelec, d.x_position_type);
}

void electrode_position_dcr2d_ceg(Ceg& d) {
  const int n = d.noelec;
  if (n < 0)
    fail("CEG file " + d.filename + ": negative number of electrodes " + std::to_string(n));
  if (n > 0 && (d.electrode_position.rows() < n || d.electrode_position.cols() < 3))
    fail("CEG file " + d.filename + ": electrode list of " +
         std::to_string(d.electrode_position.rows()) + " x " +
         std::to_string(d.electrode_position.cols()) + " values cannot hold " + std::to_string(n) +
         " electrodes (number, x, z)");
  Dmatrix p(n, 2);
  for (int i = 1; i <= n; ++i) {
    p(i, 1) = d.electrode_position(i, 2);
    p(i, 2) = d.electrode_position(i, 3);
  }
  adjust_position_dcr2d(p, d.x_position_type);
  d.pelec = std::move(p);
}

}  // namespace varnel::extract_dcr2d_electrode_position
