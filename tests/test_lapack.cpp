// The LAPACK and BLAS declarations link against the installed library and
// pass arguments the way it expects.
#include <gtest/gtest.h>

#include <vector>

#include "core/numerics/lapack.hpp"

namespace {

// A tridiagonal system (2 on the diagonal, -1 beside it) in band storage,
// solved with the band LU routines: the answer of A x = A (1, 2, 3, 4) is known.
TEST(Lapack, BandSolveReproducesAKnownSolution) {
  const int n = 4, kl = 1, ku = 1, ldab = 2 * kl + ku + 1, nrhs = 1;
  std::vector<double> ab(static_cast<std::size_t>(ldab) * n, 0.0);
  auto band = [&](int i, int j) -> double& { return ab[(j - 1) * ldab + (kl + ku + i - j)]; };
  for (int j = 1; j <= n; ++j) {
    band(j, j) = 2.0;
    if (j > 1) band(j - 1, j) = -1.0;
    if (j < n) band(j + 1, j) = -1.0;
  }
  const std::vector<double> x = {1, 2, 3, 4};
  std::vector<double> b = {2 * 1 - 2, -1 + 4 - 3, -2 + 6 - 4, -3 + 8};
  std::vector<int> ipiv(n);
  int info = -1;
  dgbtrf_(&n, &n, &kl, &ku, ab.data(), &ldab, ipiv.data(), &info);
  ASSERT_EQ(info, 0);
  dgbtrs_("N", &n, &kl, &ku, &nrhs, ab.data(), &ldab, ipiv.data(), b.data(), &n, &info, 1);
  ASSERT_EQ(info, 0);
  for (int i = 0; i < n; ++i) EXPECT_NEAR(b[i], x[i], 1e-12);
}

TEST(Lapack, MatrixProductIsColumnMajor) {
  const int m = 2, n = 2, k = 3;
  const double one = 1.0, zero = 0.0;
  const std::vector<double> a = {1, 4, 2, 5, 3, 6};     // [[1 2 3] [4 5 6]]
  const std::vector<double> b = {1, 0, 1, 0, 1, 1};     // [[1 0] [0 1] [1 1]]
  std::vector<double> c(4, -1.0);
  dgemm_("N", "N", &m, &n, &k, &one, a.data(), &m, b.data(), &k, &zero, c.data(), &m, 1, 1);
  EXPECT_EQ(c, (std::vector<double>{4, 10, 5, 11}));
}

}  // namespace
