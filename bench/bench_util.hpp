// Small helpers of the benchmarks: wall-clock timing, medians, the peak
// memory of the process, and the bare band LU loop that is the floor of a
// forward computation.
#pragma once

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <vector>

#include "core/inversion/blas_single_thread.hpp"
#include "core/numerics/lapack.hpp"

namespace varnel::bench {

using Clock = std::chrono::steady_clock;

inline double seconds_since(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

inline double median(std::vector<double> v) {
  if (v.empty()) return 0.0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// The median wall time of `repeats` calls of f, in seconds; fewer calls once
// they have taken `budget` seconds together (a slow stage of a large survey).
template <class F>
double median_seconds(int repeats, F&& f, double budget = 20.0) {
  std::vector<double> t;
  double total = 0.0;
  for (int r = 0; r < repeats && (r == 0 || total < budget); ++r) {
    const auto t0 = Clock::now();
    f();
    t.push_back(seconds_since(t0));
    total += t.back();
  }
  return median(t);
}

// The largest resident set of the process so far, in MiB.
inline double peak_memory_mib() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_maxrss) / 1024.0;
}

// Eight factorisations and solutions (the wavenumbers of a forward
// computation) of an n x n band matrix with the bandwidths and right-hand
// sides of a solver, one BLAS thread; the median of `repeats`. The matrix is
// a five-point-like operator: -1 to the neighbours at distances 1 and ku - 1,
// diagonal 4.1 (diagonally dominant, so the pivoting is mild).
inline double bare_band_lu_seconds(int n, int kl, int ku, int nrhs, int repeats) {
  const Blas_single_thread blas_guard;
  const int ldab = 2 * kl + ku + 1;
  std::vector<double> ab(static_cast<std::size_t>(ldab) * n), b(static_cast<std::size_t>(n) * nrhs);
  std::vector<int> ipiv(static_cast<std::size_t>(n));
  std::vector<double> times;
  for (int r = 0; r < repeats; ++r) {
    double total = 0.0;
    for (int kk = 0; kk < 8; ++kk) {
      std::fill(ab.begin(), ab.end(), 0.0);
      for (int j = 0; j < n; ++j) {
        const std::size_t col = static_cast<std::size_t>(j) * ldab;
        ab[col + kl + ku] = 4.1 + 0.01 * kk;
        for (int off : {1, ku - 1}) {
          if (j - off >= 0) ab[col + kl + ku - off] = -1.0;  // A(j - off, j)
          if (j + off < n) ab[col + kl + ku + off] = -1.0;   // A(j + off, j)
        }
      }
      std::fill(b.begin(), b.end(), 0.0);
      for (int e = 0; e < nrhs; ++e) b[static_cast<std::size_t>(e) * n + (e * 37) % n] = 1.0;
      int info = 0;
      const char trans = 'N';
      const auto t0 = Clock::now();
      dgbtrf_(&n, &n, &kl, &ku, ab.data(), &ldab, ipiv.data(), &info);
      dgbtrs_(&trans, &n, &kl, &ku, &nrhs, ab.data(), &ldab, ipiv.data(), b.data(), &n, &info, 1);
      total += seconds_since(t0);
    }
    times.push_back(total);
  }
  return median(times);
}

}  // namespace varnel::bench
