#include "core/inversion/untruncated_check.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>

#include "core/inversion/blas_single_thread.hpp"
#include "core/inversion/lapack_model_update.hpp"
#include "core/inversion/parallel_dense.hpp"

namespace varnel::untruncated_check {

namespace {

constexpr double eps = std::numeric_limits<double>::epsilon();

std::size_t squared(int32_t n) { return static_cast<std::size_t>(n) * static_cast<std::size_t>(n); }

// G^T G of gramman, unless it is kept already for this matrix and cd.
void prepare(Check_state& s, const Dmatrix& gramman, const std::vector<double>& cd, int32_t n) {
  const std::size_t nn = squared(n);
  const bool same = s.n == n && s.g.size() == nn && s.cd == cd &&
                    std::memcmp(s.g.data(), gramman.data(), nn * sizeof(double)) == 0;
  if (same) return;
  s.n = n;
  s.g.assign(gramman.data(), gramman.data() + nn);
  s.cd = cd;
  s.gtg.resize(nn);
  parallel_dense::gram_lower(n, n, s.g.data(), n, s.gtg.data(), n);
  double sum = 0.0;
  for (const double v : s.g) sum += v * v;
  s.g_norm = std::sqrt(sum);
}

// m = inner^T inner from the kept G^T G (lower triangle): entry (i, j) is
// (G^T G)(i, j) + mu (G(j, i) d(j) + d(i) G(i, j)), plus mu^2 d(i)^2 on the
// diagonal. Tiles keep the transposed reads of G in the cache.
void form_square(const Check_state& s, double mu, int32_t n, double* m) {
  constexpr int32_t tile = 64;
  const double* g = s.g.data();
  const double* p = s.gtg.data();
  const double* d = s.cd.data();
  const int32_t tiles = (n + tile - 1) / tile;
#pragma omp parallel for schedule(dynamic, 1)
  for (int32_t tj = 0; tj < tiles; ++tj)
    for (int32_t ti = tj; ti < tiles; ++ti)
      for (int32_t j = tj * tile; j < std::min(n, (tj + 1) * tile); ++j)
        for (int32_t i = std::max(j, ti * tile); i < std::min(n, (ti + 1) * tile); ++i) {
          const std::size_t ij = static_cast<std::size_t>(j) * n + i;
          const std::size_t ji = static_cast<std::size_t>(i) * n + j;
          double v = p[ij] + mu * (g[ji] * d[j] + d[i] * g[ij]);
          if (i == j) v += mu * mu * d[i] * d[i];
          m[ij] = v;
        }
}

// Whether sign m + shift I (lower triangle of m) is positive definite, by a
// Cholesky factorisation in f.
bool positive_definite(const double* m, int32_t n, double sign, double shift, double* f) {
  for (int32_t j = 0; j < n; ++j) {
    const std::size_t col = static_cast<std::size_t>(j) * n;
    for (int32_t i = j; i < n; ++i) f[col + i] = sign * m[col + i];
    f[col + j] += shift;
  }
  return parallel_dense::cholesky_lower(n, f, n) == 0;
}

// The largest eigenvalue of the k x k symmetric tridiagonal matrix with
// diagonal alpha and off-diagonal beta.
double largest_tridiagonal_eigenvalue(Check_state& s, int32_t k) {
  s.ritz.assign(s.alpha.begin(), s.alpha.begin() + k);
  s.ritz_off.assign(s.beta.begin(), s.beta.begin() + k);
  int info = 0, ldz = 1, order = k;
  double z = 0.0, work = 0.0;
  dstev_("N", &order, s.ritz.data(), s.ritz_off.data(), &z, &ldz, &work, &info, 1);
  if (info != 0) return std::numeric_limits<double>::quiet_NaN();
  return s.ritz[static_cast<std::size_t>(k - 1)];  // ascending order
}

}  // namespace

double largest_eigenvalue_below(Check_state& s, const double* m, int32_t n, int32_t max_steps) {
  const Blas_single_thread blas_guard;
  const int32_t steps = std::min(n, max_steps);
  s.lanczos.resize(static_cast<std::size_t>(n) * (steps + 1));
  s.w.resize(static_cast<std::size_t>(n));
  s.alpha.assign(static_cast<std::size_t>(steps), 0.0);
  s.beta.assign(static_cast<std::size_t>(steps), 0.0);
  double* q = s.lanczos.data();
  double* w = s.w.data();
  double norm = 0.0;
  for (int32_t i = 0; i < n; ++i) {
    q[i] = 1.0 + 0.5 * std::sin(1.0 + i);
    norm += q[i] * q[i];
  }
  for (int32_t i = 0; i < n; ++i) q[i] /= std::sqrt(norm);
  const int order = n, inc = 1;
  const double one = 1.0, zero = 0.0;
  double theta = 0.0;
  for (int32_t j = 0; j < steps; ++j) {
    const double* qj = q + static_cast<std::size_t>(j) * n;
    dsymv_("L", &order, &one, m, &order, qj, &inc, &zero, w, &inc, 1);
    double a = 0.0;
    for (int32_t i = 0; i < n; ++i) a += qj[i] * w[i];
    s.alpha[static_cast<std::size_t>(j)] = a;
    // w less its components along every earlier vector, twice, so that the
    // vectors stay orthogonal to working precision.
    for (int pass = 0; pass < 2; ++pass)
      for (int32_t k = 0; k <= j; ++k) {
        const double* qk = q + static_cast<std::size_t>(k) * n;
        double c = 0.0;
        for (int32_t i = 0; i < n; ++i) c += qk[i] * w[i];
        for (int32_t i = 0; i < n; ++i) w[i] -= c * qk[i];
      }
    double b = 0.0;
    for (int32_t i = 0; i < n; ++i) b += w[i] * w[i];
    b = std::sqrt(b);
    const double previous = theta;
    theta = largest_tridiagonal_eigenvalue(s, j + 1);
    if (!std::isfinite(theta)) return theta;
    // An invariant subspace, or a value that has settled.
    if (!(b > 1.0e-14 * std::abs(theta)) ||
        (j > 2 && std::abs(theta - previous) <= 1.0e-10 * std::abs(theta)))
      break;
    s.beta[static_cast<std::size_t>(j)] = b;
    double* next = q + static_cast<std::size_t>(j + 1) * n;
    for (int32_t i = 0; i < n; ++i) next[i] = w[i] / b;
  }
  return theta;
}

bool keeps_every_singular_value(Check_state& s, const Dmatrix& gramman,
                                const std::vector<double>& cd, double mu, int32_t n, double cut,
                                double floor, std::vector<double>& m, std::vector<double>& f) {
  if (n < 1) return false;
  prepare(s, gramman, cd, n);
  m.resize(squared(n));
  f.resize(squared(n));
  form_square(s, mu, n, m.data());
  // How far the eigenvalues of the computed M and of the factorised shifts
  // may lie from those of the exact one: a generous multiple of n eps
  // (|G| + mu |D|)^2.
  double dmax = 0.0;
  for (const double v : cd) dmax = std::max(dmax, std::abs(v));
  const double scale = s.g_norm + std::abs(mu) * dmax;
  const double slop = 8.0 * n * eps * scale * scale;
  if (!std::isfinite(slop)) return false;

  const double theta = largest_eigenvalue_below(s, m.data(), n);
  if (!(theta > 0.0) || !std::isfinite(theta)) return false;
  // An upper bound of s_1^2: theta with a little slack, proved by the
  // factorisation of bound I - M.
  double bound = 0.0;
  for (const double slack : {1.0e-4, 1.0e-2})
    if (positive_definite(m.data(), n, -1.0, theta * (1.0 + slack), f.data())) {
      bound = theta * (1.0 + slack) + slop;
      break;
    }
  if (bound == 0.0) return false;
  // s_n^2 > shift - slop >= the larger of (cut s_1)^2 and floor^2.
  const double shift = std::max(cut * cut * bound, floor * floor) + 2.0 * slop;
  return positive_definite(m.data(), n, 1.0, -shift, f.data());
}

}  // namespace varnel::untruncated_check
