// The fast paths of the inversion against the straightforward evaluations
// they stand for, and the independence of their results from the thread
// count: the blocked dense products and factorisations against their
// definitions; the model update's plain solve and bidiagonal route against
// the truncated expansion written out from known singular values or from a
// dense decomposition; the concurrent solves of the wavenumbers against a
// loop over them; the Jacobian from kept potentials against one that solves
// for them; and a whole inversion with one and with two threads.
#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <functional>
#include <map>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "core/error.hpp"
#include "core/forward/dcr2dphy_lapack.hpp"
#include "core/inversion/cal_model_update_lapack_dcr2d.hpp"
#include "core/inversion/parallel_dense.hpp"
#include "core/numerics/lapack.hpp"
#include "core/sensitivity/sen_dcr2d.hpp"
#include "core/sensitivity/sen_lapack_dcr2d.hpp"
#include "forward_fixture.hpp"
#include "job_files.hpp"

namespace {

using namespace varnel;
namespace dense = parallel_dense;
namespace update = cal_model_update_lapack_dcr2d;

struct Thread_count_guard {
  int saved = omp_get_max_threads();
  ~Thread_count_guard() { omp_set_num_threads(saved); }
};

Dmatrix random_matrix(int rows, int cols, std::mt19937& rng, double lo = -1.0, double hi = 1.0) {
  std::uniform_real_distribution<double> u(lo, hi);
  Dmatrix a(rows, cols);
  for (int j = 1; j <= cols; ++j)
    for (int i = 1; i <= rows; ++i) a(i, j) = u(rng);
  return a;
}

std::vector<double> random_vector(int n, std::mt19937& rng, double lo = -1.0, double hi = 1.0) {
  std::uniform_real_distribution<double> u(lo, hi);
  std::vector<double> v(n);
  for (double& x : v) x = u(rng);
  return v;
}

// Orthonormal columns: the Q of a modified Gram-Schmidt of a random matrix.
Dmatrix random_orthogonal(int n, std::mt19937& rng) {
  Dmatrix q = random_matrix(n, n, rng);
  for (int j = 1; j <= n; ++j) {
    for (int pass = 0; pass < 2; ++pass)
      for (int k = 1; k < j; ++k) {
        double d = 0.0;
        for (int i = 1; i <= n; ++i) d += q(i, k) * q(i, j);
        for (int i = 1; i <= n; ++i) q(i, j) -= d * q(i, k);
      }
    double norm = 0.0;
    for (int i = 1; i <= n; ++i) norm += q(i, j) * q(i, j);
    for (int i = 1; i <= n; ++i) q(i, j) /= std::sqrt(norm);
  }
  return q;
}

double max_abs(const std::vector<double>& v) {
  double m = 0.0;
  for (double x : v) m = std::max(m, std::abs(x));
  return m;
}

double max_abs_difference(const std::vector<double>& a, const std::vector<double>& b) {
  double m = 0.0;
  for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) m = std::max(m, std::abs(a[i] - b[i]));
  return m;
}

// ---------------------------------------------------------------------------
// Blocked products and factorisations
// ---------------------------------------------------------------------------

class ParallelDense : public testing::TestWithParam<int> {};

// Sizes below, at and across the 128-column blocks.
TEST_P(ParallelDense, ProductsAndFactorsMatchTheirDefinitions) {
  const int n = GetParam(), k = n + 7;
  std::mt19937 rng(3 + n);
  const Dmatrix a = random_matrix(k, n, rng), b = random_matrix(k, n + 3, rng);

  // C = A^T B and the lower triangle of A^T A, against plain sums.
  Dmatrix c(n, n + 3), g(n, n);
  dense::gemm_tn(n, n + 3, k, a.data(), k, b.data(), k, c.data(), n);
  dense::gram_lower(n, k, a.data(), k, g.data(), n);
  double worst = 0.0, worst_gram = 0.0;
  for (int j = 1; j <= n + 3; ++j)
    for (int i = 1; i <= n; ++i) {
      double s = 0.0, t = 0.0;
      for (int q = 1; q <= k; ++q) s += a(q, i) * b(q, j);
      worst = std::max(worst, std::abs(c(i, j) - s));
      if (j <= n && i >= j) {
        for (int q = 1; q <= k; ++q) t += a(q, i) * a(q, j);
        worst_gram = std::max(worst_gram, std::abs(g(i, j) - t));
      }
    }
  EXPECT_LT(worst, 1e-12 * k);
  EXPECT_LT(worst_gram, 1e-12 * k);

  // P A = L U with |L| <= 1 (partial pivoting).
  Dmatrix lu = random_matrix(n, n, rng);
  const Dmatrix original = lu;
  std::vector<int> ipiv(n);
  ASSERT_EQ(dense::lu_factor(n, lu.data(), n, ipiv.data()), 0);
  Dmatrix pa = original;
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= n; ++j) std::swap(pa(i, j), pa(ipiv[i - 1], j));
  worst = 0.0;
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= n; ++j) {
      double s = i <= j ? lu(i, j) : 0.0;  // L(i, i) = 1
      for (int q = 1; q < std::min(i, j + 1); ++q) s += lu(i, q) * lu(q, j);
      worst = std::max(worst, std::abs(pa(i, j) - s));
      if (i > j) EXPECT_LE(std::abs(lu(i, j)), 1.0) << i << ", " << j;
    }
  EXPECT_LT(worst, 1e-12 * n);

  // A = L L^T of a symmetric positive definite matrix.
  Dmatrix spd(n, n), l(n, n);
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= i; ++j) {
      double s = i == j ? n : 0.0;
      for (int q = 1; q <= k; ++q) s += a(q, i) * a(q, j);
      spd(i, j) = spd(j, i) = s;
    }
  l = spd;
  ASSERT_EQ(dense::cholesky_lower(n, l.data(), n), 0);
  worst = 0.0;
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= i; ++j) {
      double s = 0.0;
      for (int q = 1; q <= j; ++q) s += l(i, q) * l(j, q);
      worst = std::max(worst, std::abs(spd(i, j) - s));
    }
  EXPECT_LT(worst, 1e-12 * n * k);
}

INSTANTIATE_TEST_SUITE_P(Sizes, ParallelDense, testing::Values(1, 5, 127, 128, 129, 300));

extern "C" void dormbr_(const char* vect, const char* side, const char* trans, const int* m,
                        const int* n, const int* k, const double* a, const int* lda,
                        const double* tau, double* c, const int* ldc, double* work,
                        const int* lwork, int* info, std::size_t, std::size_t, std::size_t);

// a = Q B P^T: B x applied through the reflectors left in the matrix gives
// a x for any x, and the orthogonal factors keep the Euclidean norm.
TEST(ParallelDenseBidiagonal, ReductionReproducesTheMatrix) {
  for (const int n : {2, 129, 161, 300}) {
    SCOPED_TRACE(n);
    std::mt19937 rng(43 + n);
    const Dmatrix a = random_matrix(n, n, rng);
    Dmatrix f = a;
    std::vector<double> d(n), e(n), tauq(n), taup(n), work(2 * 32 * n + n);
    dense::bidiagonalize(n, f.data(), n, d.data(), e.data(), tauq.data(), taup.data(), work.data());
    const std::vector<double> x = random_vector(n, rng);
    // y = P^T x, then B y, then Q (B y).
    std::vector<double> y = x, by(n), lw(64 * n);
    int one = 1, lwork = static_cast<int>(lw.size()), info = 0;
    dormbr_("P", "L", "T", &n, &one, &n, f.data(), &n, taup.data(), y.data(), &n, lw.data(), &lwork,
            &info, 1, 1, 1);
    ASSERT_EQ(info, 0);
    double nx = 0.0, ny = 0.0;
    for (int i = 0; i < n; ++i) nx += x[i] * x[i], ny += y[i] * y[i];
    EXPECT_NEAR(ny, nx, 1e-12 * nx);
    for (int i = 0; i < n; ++i) by[i] = d[i] * y[i] + (i + 1 < n ? e[i] * y[i + 1] : 0.0);
    dormbr_("Q", "L", "N", &n, &one, &n, f.data(), &n, tauq.data(), by.data(), &n, lw.data(),
            &lwork, &info, 1, 1, 1);
    ASSERT_EQ(info, 0);
    double worst = 0.0, scale = 0.0;
    for (int i = 1; i <= n; ++i) {
      double s = 0.0;
      for (int j = 1; j <= n; ++j) s += a(i, j) * x[j - 1];
      worst = std::max(worst, std::abs(s - by[i - 1]));
      scale = std::max(scale, std::abs(s));
    }
    EXPECT_LT(worst, 1e-12 * n * scale);
  }
}

TEST(ParallelDenseFailures, TheFirstBadPivotIsReported) {
  const int n = 300;
  std::mt19937 rng(11);
  // Column 200 is zero, and stays zero through the elimination of the
  // columns before it: its pivot is exactly zero.
  Dmatrix a = random_matrix(n, n, rng);
  for (int i = 1; i <= n; ++i) a(i, 200) = 0.0;
  std::vector<int> ipiv(n);
  EXPECT_EQ(dense::lu_factor(n, a.data(), n, ipiv.data()), 200);

  // A diagonal matrix whose 150th entry is negative: its leading minor of
  // order 150 is the first that is not positive definite.
  Dmatrix d(n, n);
  for (int i = 1; i <= n; ++i) d(i, i) = i == 150 ? -1.0 : 2.0;
  EXPECT_EQ(dense::cholesky_lower(n, d.data(), n), 150);
}

TEST(ParallelDenseThreads, ResultsDoNotDependOnTheThreadCount) {
  Thread_count_guard guard;
  const int n = 300;
  std::mt19937 rng(5);
  const Dmatrix a = random_matrix(n, n, rng);
  std::array<std::vector<double>, 2> gram, lu, chol;
  std::array<std::vector<int>, 2> piv;
  for (int threads = 1; threads <= 2; ++threads) {
    omp_set_num_threads(threads);
    std::vector<double> g(static_cast<std::size_t>(n) * n);
    dense::gram_lower(n, n, a.data(), n, g.data(), n);
    std::vector<double> c = g;
    for (int i = 0; i < n; ++i) c[static_cast<std::size_t>(i) * n + i] += 1.0;
    EXPECT_EQ(dense::cholesky_lower(n, c.data(), n), 0);
    std::vector<double> f(a.data(), a.data() + a.size());
    std::vector<int> ipiv(n);
    EXPECT_EQ(dense::lu_factor(n, f.data(), n, ipiv.data()), 0);
    gram[threads - 1] = g, chol[threads - 1] = c, lu[threads - 1] = f, piv[threads - 1] = ipiv;
  }
  // Products large enough to be shared: against plain sums, and equal.
  const int m = 2100, k = 2000;
  const Dmatrix big = random_matrix(m, k, rng);
  const std::vector<double> xk = random_vector(k, rng), xm = random_vector(m, rng);
  std::array<std::vector<double>, 2> at_x, a_x;
  for (int threads = 1; threads <= 2; ++threads) {
    omp_set_num_threads(threads);
    std::vector<double> yt(k), yn(m);
    dense::gemv_t(m, k, big.data(), m, xm.data(), yt.data());
    dense::gemv_n(m, k, big.data(), m, xk.data(), 1, yn.data());
    at_x[threads - 1] = yt, a_x[threads - 1] = yn;
  }
  EXPECT_EQ(at_x[0], at_x[1]);
  EXPECT_EQ(a_x[0], a_x[1]);
  for (int i : {1, 777, m}) {
    double s = 0.0;
    for (int j = 1; j <= k; ++j) s += big(i, j) * xk[j - 1];
    EXPECT_NEAR(a_x[0][i - 1], s, 1e-11);
  }
  for (int j : {1, 999, k}) {
    double s = 0.0;
    for (int i = 1; i <= m; ++i) s += big(i, j) * xm[i - 1];
    EXPECT_NEAR(at_x[0][j - 1], s, 1e-11);
  }
  EXPECT_EQ(gram[0], gram[1]);
  EXPECT_EQ(chol[0], chol[1]);
  EXPECT_EQ(lu[0], lu[1]);
  EXPECT_EQ(piv[0], piv[1]);
}

// ---------------------------------------------------------------------------
// Model update: the plain solve and the decomposition
// ---------------------------------------------------------------------------

// A trial of the model update: G with chosen singular values and random
// orthogonal factors (cd = 0, so that the matrix decomposed is G itself).
struct Known_problem {
  occam::Occam_state o;
  Dmatrix gramman, cmjkt, u, v;
  std::vector<double> s;
};

Known_problem known_problem(const std::vector<double>& s, std::mt19937& rng) {
  const int n = static_cast<int>(s.size()), ncell = 7;
  Known_problem p;
  p.s = s;
  p.u = random_orthogonal(n, rng);
  p.v = random_orthogonal(n, rng);
  p.gramman.assign(n, n);
  for (int k = 1; k <= n; ++k)
    for (int j = 1; j <= n; ++j)
      for (int i = 1; i <= n; ++i) p.gramman(i, j) += p.u(i, k) * s[k - 1] * p.v(j, k);
  p.o.cd.assign(n, 0.0);
  p.o.d_hat = random_vector(n, rng);
  p.o.logrho0.assign(ncell, 4.0);
  p.cmjkt = random_matrix(ncell, n, rng, -0.01, 0.01);
  return p;
}

// The truncated expansion over the first `kept` singular triplets.
std::vector<double> expansion(const Known_problem& p, int kept) {
  const int n = static_cast<int>(p.s.size());
  std::vector<double> beta(n, 0.0);
  for (int k = 1; k <= kept; ++k) {
    double t = 0.0;
    for (int i = 1; i <= n; ++i) t += p.u(i, k) * p.o.d_hat[i - 1];
    for (int i = 1; i <= n; ++i) beta[i - 1] += p.v(i, k) * t / p.s[k - 1];
  }
  return beta;
}

// n values falling geometrically from 1 to `last`.
std::vector<double> geometric(int n, double last) {
  std::vector<double> s(n);
  for (int i = 0; i < n; ++i) s[i] = std::pow(last, static_cast<double>(i) / (n - 1));
  return s;
}

struct Route_case {
  const char* name;
  std::vector<double> s;
  update::Update_route route;
  int kept;
  friend void PrintTo(const Route_case& c, std::ostream* os) { *os << c.name; }
};

class ModelUpdateRoutes : public testing::TestWithParam<Route_case> {};

TEST_P(ModelUpdateRoutes, EachRouteGivesTheTruncatedExpansion) {
  const Route_case& c = GetParam();
  std::mt19937 rng(29 + static_cast<int>(c.s.size()));
  Known_problem p = known_problem(c.s, rng);
  const int n = static_cast<int>(c.s.size());
  update::Update_workspace ws;
  std::vector<double> mm(7);
  const update::Update_route route =
      update::cal_doccam_svd_reusing_dcr2d(ws, p.o, p.gramman, p.cmjkt, mm, 0.0, n);
  EXPECT_EQ(static_cast<int>(route), static_cast<int>(c.route));
  const std::vector<double> beta = expansion(p, c.kept);
  EXPECT_LT(max_abs_difference(p.o.betak, beta), 1e-9 * max_abs(beta));
}

// s_n / s_1 of 0.00102 is proved to keep every value; 0.0010005 lies inside
// the margin and goes to the decomposition, which keeps them all; 0.00099
// loses its last value; a tiny value in the first quarter is dropped by the
// absolute floor only, which the plain solve cannot do.
INSTANTIATE_TEST_SUITE_P(
    Table, ModelUpdateRoutes,
    testing::Values(
        Route_case{"well_conditioned", geometric(40, 0.05), update::Update_route::plain_solve, 40},
        Route_case{"across_blocks", geometric(300, 0.01), update::Update_route::plain_solve, 300},
        Route_case{"above_the_margin", geometric(60, 0.00102), update::Update_route::plain_solve,
                   60},
        Route_case{"inside_the_margin", geometric(60, 0.0010005), update::Update_route::truncated,
                   60},
        Route_case{"below_the_cut", geometric(60, 0.00099), update::Update_route::truncated, 59},
        Route_case{"floor_in_first_quarter",
                   {1.0, 0.9, 5e-13, 4e-13, 3e-13, 2e-13, 1e-13, 1e-14},
                   update::Update_route::truncated,
                   2}),
    [](const auto& info) { return std::string(info.param.name); });

// The expansion of the decomposition of G + 10^lambda diag(cd), written out
// from LAPACK's dgesdd.
std::vector<double> dense_expansion(const Dmatrix& gramman, const std::vector<double>& cd,
                                    const std::vector<double>& d_hat, double lambda) {
  const int n = gramman.rows();
  Dmatrix a = gramman, u(n, n), vt(n, n);
  for (int i = 1; i <= n; ++i) a(i, i) += std::pow(10.0, lambda) * cd[i - 1];
  std::vector<double> s(n);
  const int lwork = update::svd_workspace_dcr2d(n);
  std::vector<double> work(lwork);
  std::vector<int> iwork(8 * n);
  int info = 0;
  dgesdd_("A", &n, &n, a.data(), &n, s.data(), u.data(), &n, vt.data(), &n, work.data(), &lwork,
          iwork.data(), &info, 1);
  EXPECT_EQ(info, 0);
  std::vector<double> beta(n, 0.0);
  for (int k = 1; k <= n; ++k) {
    if (k > n / 4 && s[k - 1] / s[0] < 0.001) break;
    if (!(s[k - 1] > 1e-12)) continue;
    double t = 0.0;
    for (int i = 1; i <= n; ++i) t += u(i, k) * d_hat[i - 1];
    for (int i = 1; i <= n; ++i) beta[i - 1] += vt(k, i) * t / s[k - 1];
  }
  return beta;
}

// A Gram-like matrix: B B^T / n with B random, whose singular values fall
// far below 0.001 of the largest, made slightly unsymmetric.
Dmatrix gram_like(int n, std::mt19937& rng) {
  const Dmatrix b = random_matrix(n, n / 3, rng);
  Dmatrix g(n, n);
  for (int j = 1; j <= n; ++j)
    for (int i = 1; i <= n; ++i) {
      double s = 0.0;
      for (int k = 1; k <= n / 3; ++k) s += b(i, k) * b(j, k);
      g(i, j) = s / n + (i < j ? 1e-3 * s / n : 0.0);
    }
  return g;
}

// A regularised update problem of order n on nine cells: a Gram-like matrix,
// data variances, d_hat and Cm J^T, drawn in that order.
struct Update_problem {
  occam::Occam_state o;
  Dmatrix g, cmjkt;
};

Update_problem random_update_problem(int n, std::mt19937& rng) {
  Update_problem p;
  p.g = gram_like(n, rng);
  p.o.cd = random_vector(n, rng, 0.5e-3, 2e-3);
  p.o.d_hat = random_vector(n, rng, -0.2, 0.2);
  p.o.logrho0.assign(9, 4.0);
  p.cmjkt = random_matrix(9, n, rng, -0.01, 0.01);
  return p;
}

TEST(ModelUpdateRoutesRegularised, BothRoutesAgreeWithTheDenseDecomposition) {
  for (const int n : {150, 300}) {  // the library's reduction, and the threads' one
    SCOPED_TRACE(n);
    std::mt19937 rng(31 + n);
    Update_problem p = random_update_problem(n, rng);
    occam::Occam_state& o = p.o;
    const Dmatrix &g = p.g, &cmjkt = p.cmjkt;
    update::Update_workspace ws;
    for (const auto& [lambda, route] : {std::pair{2.0, update::Update_route::plain_solve},
                                        std::pair{-3.0, update::Update_route::truncated},
                                        std::pair{1.0, update::Update_route::plain_solve}}) {
      SCOPED_TRACE(lambda);
      std::vector<double> mm(9);
      EXPECT_EQ(
          static_cast<int>(update::cal_doccam_svd_reusing_dcr2d(ws, o, g, cmjkt, mm, lambda, n)),
          static_cast<int>(route));
      const std::vector<double> beta = dense_expansion(g, o.cd, o.d_hat, lambda);
      EXPECT_LT(max_abs_difference(o.betak, beta), 1e-9 * max_abs(beta));
    }
  }
}

// The workspace keeps G^T G of the Gram matrix it saw last; a new Gram matrix
// of the same size, or new data variances, must not reuse it. Each change
// below turns a provable case into one that needs the decomposition, so a
// stale product would take the wrong route.
TEST(ModelUpdateRoutesRegularised, KeptProductFollowsTheGramMatrix) {
  const int n = 60;
  std::mt19937 rng(37);
  occam::Occam_state o;
  const Dmatrix ill = gram_like(n, rng);
  Dmatrix well = ill;
  for (int i = 1; i <= n; ++i) well(i, i) += 0.05;
  o.cd.assign(n, 1e-3);
  o.d_hat = random_vector(n, rng);
  o.logrho0.assign(5, 3.0);
  const Dmatrix cmjkt = random_matrix(5, n, rng, -0.01, 0.01);
  update::Update_workspace kept;
  struct Result {
    int route;
    std::vector<double> beta, mm;
    bool operator==(const Result&) const = default;
  };
  auto run = [&](update::Update_workspace& ws, const Dmatrix& gram, double lambda) {
    Result r{0, {}, std::vector<double>(5)};
    r.route =
        static_cast<int>(update::cal_doccam_svd_reusing_dcr2d(ws, o, gram, cmjkt, r.mm, lambda, n));
    r.beta = o.betak;
    return r;
  };
  auto fresh = [&](const Dmatrix& gram, double lambda) {
    update::Update_workspace ws;
    return run(ws, gram, lambda);
  };
  const int plain = static_cast<int>(update::Update_route::plain_solve);
  const int truncated = static_cast<int>(update::Update_route::truncated);
  Result r = run(kept, well, -3.0);
  EXPECT_EQ(r.route, plain);
  EXPECT_EQ(r, fresh(well, -3.0));
  r = run(kept, well, 2.0);  // the same matrix at another multiplier
  EXPECT_EQ(r, fresh(well, 2.0));
  r = run(kept, ill, -3.0);
  EXPECT_EQ(r.route, truncated);
  EXPECT_EQ(r, fresh(ill, -3.0));
  o.cd.assign(n, 0.1);
  r = run(kept, ill, 0.0);
  EXPECT_EQ(r.route, plain);
  o.cd.assign(n, 0.0);
  r = run(kept, ill, 0.0);
  EXPECT_EQ(r.route, truncated);
  EXPECT_EQ(r, fresh(ill, 0.0));
}

TEST(ModelUpdateRoutesThreads, ResultsDoNotDependOnTheThreadCount) {
  Thread_count_guard guard;
  const int n = 300;
  std::mt19937 rng(41);
  Update_problem p = random_update_problem(n, rng);
  occam::Occam_state& o = p.o;
  const Dmatrix &g = p.g, &cmjkt = p.cmjkt;
  for (const double lambda : {2.0, -3.0}) {
    std::array<std::vector<double>, 2> beta, model;
    std::array<int, 2> route{};
    for (int threads = 1; threads <= 2; ++threads) {
      omp_set_num_threads(threads);
      update::Update_workspace ws;
      std::vector<double> mm(9);
      route[threads - 1] =
          static_cast<int>(update::cal_doccam_svd_reusing_dcr2d(ws, o, g, cmjkt, mm, lambda, n));
      beta[threads - 1] = o.betak, model[threads - 1] = mm;
    }
    EXPECT_EQ(route[0], route[1]) << lambda;
    EXPECT_EQ(beta[0], beta[1]) << lambda;
    EXPECT_EQ(model[0], model[1]) << lambda;
  }
}

// ---------------------------------------------------------------------------
// Forward solver: the wavenumbers solved concurrently
// ---------------------------------------------------------------------------

using namespace forward_fixture;
namespace lapack = dcr2dphy_lapack;

// Twelve electrodes 1 m apart on flat ground, or on a surface that falls at
// 45 degrees from x = 4 to depth 3 at x = 7, on a grid of 0.125 m cells
// under the spread, large enough for the wavenumbers to be solved
// concurrently.
const std::vector<Position> kFalling = {{0.0, 0.0}, {4.0, 0.0}, {7.0, 3.0}, {11.0, 3.0}};

std::vector<double> fine(double from, double to, double step) {
  std::vector<double> v;
  for (double x = from; x <= to + 1e-9; x += step) v.push_back(x);
  return v;
}

struct Forward_case {
  const char* solver;
  bool falling;
  friend void PrintTo(const Forward_case& c, std::ostream* os) {
    *os << c.solver << (c.falling ? " falling" : " flat");
  }
};

void build_forward(Forward_job& job, const Forward_case& c) {
  std::vector<Position> e;
  for (int i = 0; i < 12; ++i) e.push_back({1.0 * i, c.falling ? surface_depth(kFalling, i) : 0.0});
  std::vector<Datum> data = dipole_dipole(e, {1, 2}, 4);
  const std::string file =
      write_text(scratch_folder("performance_paths") / (std::string(c.solver) + ".dat"),
                 dat_text(data, 11, 1.0, 1, 1.0));
  job.read_data(file);
  std::vector<double> xs = {-12.0, -6.0, -3.0, -1.0};
  for (double x : fine(0.0, 11.0, 0.125)) xs.push_back(x);
  for (double x : {12.0, 14.0, 17.0, 23.0}) xs.push_back(x);
  std::vector<double> zs = fine(0.0, 3.0, 0.125);
  for (double z : {3.5, 4.5, 6.0, 8.5, 12.0, 17.0, 24.0}) zs.push_back(z);
  const std::vector<double> cond = element_values(xs, zs, [](double x, double z) {
    return 1.0 / (50.0 + 30.0 * std::sin(0.7 * x) * std::cos(0.4 * z + 0.2));
  });
  if (c.falling) {
    const Dmatrix topo = topo_matrix(e);
    testing::internal::CaptureStdout();
    job.make_model(xs, zs, c.solver, {0.02}, &topo);
    testing::internal::GetCapturedStdout();
  } else {
    job.make_model(xs, zs, c.solver, cond);
  }
}

// The band matrix of wavenumber kk assembled by the public steps, as a loop
// over the wavenumbers builds it (the solver's state prepared by a solve).
Dmatrix loop_band(Forward_job& job, const std::string& solver, int kk) {
  dcr2dphy::Dcr2dphy_state& s = job.phy;
  const int kl = s.nozs + 1, ldab = 3 * s.nozs + 4;
  const double k = s.k[kk - 1];
  Dmatrix ab, afe, cfe, bfe;
  if (solver == "fd") {
    lapack::fd_create_c_matrix_dgbtrf(ab, kl, kl, ldab, s.numnp, kk, s);
  } else if (solver == "fe") {
    const int n = s.numnp;
    lapack::compute_afe_dgbtrf(afe, kl, kl, ldab, n, job.model);
    lapack::compute_cfe_dgbtrf(cfe, kl, kl, ldab, n, job.model);
    lapack::compute_bfe_dgbtrf(bfe, kl, kl, ldab, n, job.model, k);
    ab.assign(ldab, n);
    for (std::size_t q = 0; q < ab.size(); ++q)
      ab.data()[q] = afe.data()[q] + bfe.data()[q] + cfe.data()[q] * k * k;
  } else {
    const dcr2dphy::Earth_node& node = job.model.node;
    const int n = node.numnp;
    lapack::compute_afe_earth_dgbtrf(afe, kl, kl, ldab, n, job.model);
    lapack::compute_cfe_earth_dgbtrf(cfe, kl, kl, ldab, n, job.model);
    bfe.assign(ldab, n);
    for (std::size_t q = 0; q < bfe.size(); ++q)
      bfe.data()[q] = afe.data()[q] + k * k * cfe.data()[q];
    lapack::fd_create_c_matrix_earth_dgbtrf(ab, kl, kl, ldab, n, kk, node, job.model.aerow, s);
    lapack::hy_replace_fe_equations_dgbtrf(ab, bfe, kl, kl, n, job.model, node);
  }
  return ab;
}

class ConcurrentWavenumbers : public testing::TestWithParam<Forward_case> {};

TEST_P(ConcurrentWavenumbers, MatchALoopOverTheWavenumbers) {
  Thread_count_guard guard;
  const Forward_case& c = GetParam();
  std::array<Dmatrix, 2> potentials;
  for (int threads = 1; threads <= 2; ++threads) {
    omp_set_num_threads(threads);
    Forward_job job;
    build_forward(job, c);
    job.run(c.solver);
    potentials[threads - 1] = job.fwd.potential_dcr2d;
    if (threads == 1) continue;
    if (c.falling) ASSERT_GT(job.model.nfe, 0) << "the hybrid mesh has finite-element cells";
    // A loop over the wavenumbers: assemble, factorise, solve.
    Dmatrix b = job.fwd.forcing_term;
    const int n = b.rows(), kl = job.phy.nozs + 1, ldab = 3 * job.phy.nozs + 4;
    const int kmax = job.phy.kmax, nrhs = b.cols() / kmax;
    for (int kk = 1; kk <= kmax; ++kk) {
      Dmatrix ab = loop_band(job, c.solver, kk);
      std::vector<int> ipiv(n);
      int info = 0;
      dgbtrf_(&n, &n, &kl, &kl, ab.data(), &ldab, ipiv.data(), &info);
      ASSERT_EQ(info, 0);
      dgbtrs_("N", &n, &kl, &kl, &nrhs, ab.data(), &ldab, ipiv.data(),
              b.data() + static_cast<std::size_t>(kk - 1) * nrhs * n, &n, &info, 1);
    }
    EXPECT_EQ(job.fwd.potential_dcr2d, b);
  }
  EXPECT_EQ(potentials[0], potentials[1]);
}

INSTANTIATE_TEST_SUITE_P(Solvers, ConcurrentWavenumbers,
                         testing::Values(Forward_case{"fd", false}, Forward_case{"fe", false},
                                         Forward_case{"hy", true}));

// The wavenumbers of a large singular system fail on several threads at
// once; the job ends once, with the lines of the first of them.
TEST(ConcurrentWavenumbersFailure, SingularSystemEndsTheJobOnce) {
  Forward_job job;
  build_forward(job, {"fd", false});
  std::fill(job.model.val.begin(), job.model.val.end(), 0.0);
  testing::internal::CaptureStdout();
  EXPECT_THROW(job.run("fd"), Error);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(varnel_test::lines_starting(out, " Factorization Error").size(), 1u) << out;
}

// ---------------------------------------------------------------------------
// The Jacobian from the potentials a forward computation left
// ---------------------------------------------------------------------------

// For "hy" the adjoint fields are assembled from the solver's state, which a
// forward computation of another model has changed in between.
TEST_P(ConcurrentWavenumbers, JacobianFromKeptPotentialsEqualsOneThatSolves) {
  const Forward_case& c = GetParam();
  Forward_job job;
  build_forward(job, c);
  std::vector<int32_t> g2u;
  dcr2dphy::cal_update_model_dcr(job.model, g2u);
  job.model.initialize_inv(&g2u);
  job.fwd.approx = c.solver;
  const fwd_dcr2d::Fwd_env env{&job.fwd, &job.phy, &job.txrx, 0};
  sen_dcr2d::Sen_state solved, kept;
  sen_lapack_dcr2d::compute_sensitivity_lapack_dcr2d(job.d, false, solved, env);
  const Dmatrix potentials = job.fwd.potential_dcr2d;
  const std::vector<double> response = job.d.val;

  std::vector<double> con, other;
  job.model.get_con_inv(con);
  other = con;
  for (std::size_t k = 0; k < other.size(); ++k) other[k] *= 1.5 + 0.3 * std::sin(0.2 * k);
  job.model.set_con_inv(other);
  job.run(c.solver);
  job.model.set_con_inv(con);
  job.fwd.potential_dcr2d = potentials;
  job.d.val = response;
  sen_lapack_dcr2d::compute_sensitivity_lapack_dcr2d(job.d, false, kept, env, true);
  EXPECT_EQ(kept.jkt, solved.jkt);
  EXPECT_EQ(job.d.val, response);
}

// ---------------------------------------------------------------------------
// A whole inversion with one and with two threads
// ---------------------------------------------------------------------------

// Every file and every log line but the timings are the same.
TEST(InversionThreads, OneAndTwoThreadsWriteTheSameFiles) {
  const std::string data = varnel_test::slurp(std::string(VARNEL_SHARED_DIR) +
                                              "/data/reference/inversion_small/data.dat");
  std::array<std::vector<std::string>, 2> logs;
  std::array<std::map<std::string, std::string>, 2> files;  // name to content
  for (int threads = 1; threads <= 2; ++threads) {
    varnel_test::Work_dir dir;
    dir.write("data.dat", data);
    const auto r = varnel_test::run_child(VARNEL_HOST_FILE,
                                          {"0", "-d", "data.dat", "-r", "run", "-e", "3",
                                           "-maxiter", "3", "-np", std::to_string(threads)},
                                          dir.path.string());
    ASSERT_EQ(r.exit_code, 0) << r.err;
    for (const auto& line : varnel_test::lines_of(r.out))
      if (line.find("Time") == std::string::npos && line.find("Average") == std::string::npos)
        logs[threads - 1].push_back(line);
    for (const auto& entry : std::filesystem::directory_iterator(dir.path))
      files[threads - 1][entry.path().filename().string()] = dir.read(entry.path().filename());
  }
  // The data, the model and response of iterations 0 to 3, the search
  // tables of iterations 1 to 3 and the mask.
  EXPECT_EQ(files[0].size(), 13u);
  EXPECT_EQ(files[0].count("run_003.lr"), 1u);
  EXPECT_EQ(files[0], files[1]);
  EXPECT_EQ(logs[0], logs[1]);
}

}  // namespace
