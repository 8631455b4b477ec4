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
// sides of a solver, spread over `threads` OpenMP threads as the solver
// spreads its wavenumbers, each call on one BLAS thread; the median of
// `repeats`. Only the calls are timed: each thread fills its own matrix and
// right-hand sides before the clock starts. The matrix is a five-point-like
// operator: -1 to the neighbours at distances 1 and ku - 1, diagonal 4.1
// (diagonally dominant, so the pivoting is mild).
inline double bare_band_lu_seconds(int n, int kl, int ku, int nrhs, int repeats, int threads = 1) {
  const Blas_single_thread blas_guard;
  const int ldab = 2 * kl + ku + 1;
  constexpr int wavenumbers = 8;
  struct System {
    std::vector<double> ab, b;
    std::vector<int> ipiv;
  };
  std::vector<System> sys(wavenumbers);
  auto fill = [&](System& s, int kk) {
    s.ab.assign(static_cast<std::size_t>(ldab) * n, 0.0);
    s.b.assign(static_cast<std::size_t>(n) * nrhs, 0.0);
    s.ipiv.assign(static_cast<std::size_t>(n), 0);
    for (int j = 0; j < n; ++j) {
      const std::size_t col = static_cast<std::size_t>(j) * ldab;
      s.ab[col + kl + ku] = 4.1 + 0.01 * kk;
      for (int off : {1, ku - 1}) {
        if (j - off >= 0) s.ab[col + kl + ku - off] = -1.0;  // A(j - off, j)
        if (j + off < n) s.ab[col + kl + ku + off] = -1.0;   // A(j + off, j)
      }
    }
    for (int e = 0; e < nrhs; ++e) s.b[static_cast<std::size_t>(e) * n + (e * 37) % n] = 1.0;
  };
  std::vector<double> times;
  for (int r = 0; r < repeats; ++r) {
    for (int kk = 0; kk < wavenumbers; ++kk) fill(sys[kk], kk);
    const auto t0 = Clock::now();
#pragma omp parallel for num_threads(threads) schedule(dynamic, 1)
    for (int kk = 0; kk < wavenumbers; ++kk) {
      System& s = sys[kk];
      int info = 0;
      const char trans = 'N';
      dgbtrf_(&n, &n, &kl, &ku, s.ab.data(), &ldab, s.ipiv.data(), &info);
      dgbtrs_(&trans, &n, &kl, &ku, &nrhs, s.ab.data(), &ldab, s.ipiv.data(), s.b.data(), &n, &info,
              1);
    }
    times.push_back(seconds_since(t0));
  }
  return median(times);
}

}  // namespace varnel::bench
