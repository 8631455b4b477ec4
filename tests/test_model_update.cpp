// The model update of one trial multiplier. The reference is a direct dense
// solve of (G + 10^lambda diag(cd)) beta = d_hat by Gaussian elimination,
// m = m0 + Cm J^T beta, bounded and turned into conductivities. Truncation is
// checked on matrices built from chosen singular values and random
// orthogonal factors, so the coefficients that must survive are known.
#include <gtest/gtest.h>

#include <cmath>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "core/error.hpp"
#include "core/inversion/cal_model_update_lapack_dcr2d.hpp"
#include "core/inversion/dhat_dcr2d.hpp"
#include "core/inversion/occam.hpp"
#include "core/numerics/array2.hpp"

namespace {

using namespace varnel;
namespace update = cal_model_update_lapack_dcr2d;

std::vector<double> random_vector(int n, double lo, double hi, std::mt19937& rng) {
  std::uniform_real_distribution<double> u(lo, hi);
  std::vector<double> v(n);
  for (double& x : v) x = u(rng);
  return v;
}

Dmatrix random_matrix(int rows, int cols, double lo, double hi, std::mt19937& rng) {
  std::uniform_real_distribution<double> u(lo, hi);
  Dmatrix a(rows, cols);
  for (int j = 1; j <= cols; ++j)
    for (int i = 1; i <= rows; ++i) a(i, j) = u(rng);
  return a;
}

// Orthonormal columns by modified Gram-Schmidt of a random matrix.
Dmatrix random_orthogonal(int n, std::mt19937& rng) {
  Dmatrix q = random_matrix(n, n, -1.0, 1.0, rng);
  for (int j = 1; j <= n; ++j) {
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

// x with a x = b, Gaussian elimination with partial pivoting.
std::vector<double> dense_solve(Dmatrix a, std::vector<double> b) {
  const int n = a.rows();
  for (int k = 1; k <= n; ++k) {
    int p = k;
    for (int i = k + 1; i <= n; ++i)
      if (std::abs(a(i, k)) > std::abs(a(p, k))) p = i;
    for (int j = 1; j <= n; ++j) std::swap(a(k, j), a(p, j));
    std::swap(b[k - 1], b[p - 1]);
    for (int i = k + 1; i <= n; ++i) {
      const double f = a(i, k) / a(k, k);
      for (int j = k; j <= n; ++j) a(i, j) -= f * a(k, j);
      b[i - 1] -= f * b[k - 1];
    }
  }
  std::vector<double> x(n);
  for (int i = n; i >= 1; --i) {
    double s = b[i - 1];
    for (int j = i + 1; j <= n; ++j) s -= a(i, j) * x[j - 1];
    x[i - 1] = s / a(i, i);
  }
  return x;
}

// 1 / exp(logrho0 + cmjkt beta), without bounds.
std::vector<double> conductivities(const Dmatrix& cmjkt, const std::vector<double>& beta,
                                   const std::vector<double>& logrho0) {
  std::vector<double> m(cmjkt.rows());
  for (int i = 1; i <= cmjkt.rows(); ++i) {
    double v = logrho0[i - 1];
    for (int j = 1; j <= cmjkt.cols(); ++j) v += cmjkt(i, j) * beta[j - 1];
    m[i - 1] = 1.0 / std::exp(v);
  }
  return m;
}

void expect_close(const std::vector<double>& a, const std::vector<double>& b, double rel,
                  const std::string& what) {
  ASSERT_EQ(a.size(), b.size()) << what;
  double scale = 0.0;
  for (double x : b) scale = std::max(scale, std::abs(x));
  for (std::size_t i = 0; i < a.size(); ++i)
    EXPECT_NEAR(a[i], b[i], rel * scale) << what << " " << i;
}

// ---------------------------------------------------------------------------
// Linearised data
// ---------------------------------------------------------------------------

struct Dhat_case {
  bool pcinv, pciplus, at_prior;
  double pattern_sign;
  friend void PrintTo(const Dhat_case& c, std::ostream* os) {
    *os << "pcinv " << c.pcinv << " pciplus " << c.pciplus << " at_prior " << c.at_prior;
  }
};

class Dhat : public testing::TestWithParam<Dhat_case> {};

TEST_P(Dhat, DataMisfitPlusPatternPlusTheModelStepSeenByEachDatum) {
  const Dhat_case& c = GetParam();
  std::mt19937 rng(7);
  const int ncell = 5, nodata = 4;
  occam::Occam_state o;
  o.logd = random_vector(nodata, -1, 1, rng);
  o.logr = random_vector(nodata, -1, 1, rng);
  o.loge = random_vector(nodata, 0.1, 0.5, rng);
  o.logrho0 = random_vector(ncell, 2, 5, rng);
  o.logrho = c.at_prior ? o.logrho0 : random_vector(ncell, 2, 5, rng);
  const Dmatrix jkt = random_matrix(ncell, nodata, -1, 1, rng);
  dhat_dcr2d::cal_dhat_dcr2d(o, jkt, nodata, c.pcinv, c.pciplus);
  ASSERT_EQ(o.d_hat.size(), static_cast<std::size_t>(nodata));
  for (int j = 1; j <= nodata; ++j) {
    double q = 0.0;
    for (int i = 1; i <= ncell; ++i) q += (o.logrho[i - 1] - o.logrho0[i - 1]) * jkt(i, j);
    if (c.at_prior) EXPECT_EQ(q, 0.0);
    const double expected = o.logd[j - 1] - o.logr[j - 1] + c.pattern_sign * o.loge[j - 1] + q;
    EXPECT_NEAR(o.d_hat[j - 1], expected, 1e-14) << "datum " << j;
  }
}

INSTANTIATE_TEST_SUITE_P(Table, Dhat,
                         testing::Values(Dhat_case{false, true, false, 0.0},
                                         Dhat_case{false, false, true, 0.0},
                                         Dhat_case{true, true, false, 1.0},
                                         Dhat_case{true, false, false, -1.0},
                                         Dhat_case{true, true, true, 1.0}));

// ---------------------------------------------------------------------------
// Trial model
// ---------------------------------------------------------------------------

// A well-posed problem: G symmetric with eigenvalues in [1, 1 + n/3], so
// nothing is truncated, and a model step that stays inside the bounds.
struct Problem {
  occam::Occam_state o;
  Dmatrix gramman, cmjkt;
};

Problem well_posed(int nodata, int ncell, std::mt19937& rng) {
  Problem p;
  const Dmatrix b = random_matrix(nodata, nodata, -1, 1, rng);
  p.gramman.assign(nodata, nodata);
  for (int i = 1; i <= nodata; ++i)
    for (int j = 1; j <= nodata; ++j) {
      double s = i == j ? 1.0 : 0.0;
      for (int k = 1; k <= nodata; ++k) s += b(i, k) * b(j, k) / 3.0;
      p.gramman(i, j) = s;
    }
  p.gramman(1, nodata) += 0.01;  // as computed, the Gram matrix need not be symmetric
  p.cmjkt = random_matrix(ncell, nodata, -0.3, 0.3, rng);
  p.o.cd = random_vector(nodata, 0.5, 1.5, rng);
  p.o.d_hat = random_vector(nodata, -0.5, 0.5, rng);
  p.o.logrho0 = random_vector(ncell, 3, 5, rng);
  return p;
}

struct Solve_case {
  int nodata;
  double lambda;
  friend void PrintTo(const Solve_case& c, std::ostream* os) {
    *os << "n " << c.nodata << " lambda " << c.lambda;
  }
};

class ModelUpdateSolve : public testing::TestWithParam<Solve_case> {};

// Surveys of five data or fewer are included: the decomposition must get the
// workspace it asks for, or every trial of such a survey fails.
TEST_P(ModelUpdateSolve, BothVariantsSolveTheRegularisedNormalEquations) {
  const Solve_case& c = GetParam();
  std::mt19937 rng(100 + c.nodata);
  const int ncell = 7;
  Problem p = well_posed(c.nodata, ncell, rng);

  Dmatrix a = p.gramman;
  for (int i = 1; i <= c.nodata; ++i) a(i, i) += std::pow(10.0, c.lambda) * p.o.cd[i - 1];
  const std::vector<double> beta = dense_solve(a, p.o.d_hat);
  const std::vector<double> expected = conductivities(p.cmjkt, beta, p.o.logrho0);

  std::vector<double> mm(ncell, 5.0);
  testing::internal::CaptureStdout();
  update::cal_doccam_svd_dcr2d(p.o, p.gramman, p.cmjkt, mm, c.lambda, c.nodata);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  expect_close(p.o.betak, beta, 1e-11, "SVD betak");
  expect_close(mm, expected, 1e-12, "SVD model");

  std::vector<double> lu(ncell, 5.0);
  p.o.betak.clear();
  update::cal_doccam_dcr2d(p.o, p.gramman, p.cmjkt, lu, c.lambda, c.nodata);
  expect_close(p.o.betak, beta, 1e-11, "LU betak");
  expect_close(lu, mm, 1e-12, "LU against SVD model");
}

INSTANTIATE_TEST_SUITE_P(Table, ModelUpdateSolve,
                         testing::Values(Solve_case{1, 0.3}, Solve_case{2, 2.0},
                                         Solve_case{3, -10.0}, Solve_case{4, -1.0},
                                         Solve_case{5, 0.3}, Solve_case{6, 2.0},
                                         Solve_case{9, -10.0}));

struct Truncation_case {
  const char* name;
  std::vector<double> s;  // singular values, descending
  int kept;               // how many of them the solution uses
  friend void PrintTo(const Truncation_case& c, std::ostream* os) { *os << c.name; }
};

class ModelUpdateTruncation : public testing::TestWithParam<Truncation_case> {};

TEST_P(ModelUpdateTruncation, OnlySingularValuesPastBothThresholdsContribute) {
  const Truncation_case& c = GetParam();
  const int n = static_cast<int>(c.s.size()), ncell = 3;
  std::mt19937 rng(41 + n);
  const Dmatrix u = random_orthogonal(n, rng), v = random_orthogonal(n, rng);
  Problem p;
  p.gramman.assign(n, n);
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= n; ++j)
      for (int k = 1; k <= n; ++k) p.gramman(i, j) += u(i, k) * c.s[k - 1] * v(j, k);
  p.o.cd.assign(n, 0.0);  // the matrix decomposed is G itself
  p.o.d_hat = random_vector(n, -1, 1, rng);
  p.o.logrho0.assign(ncell, 4.0);
  p.cmjkt.assign(ncell, n);

  std::vector<double> beta(n, 0.0);
  for (int k = 1; k <= c.kept; ++k) {
    double t = 0.0;
    for (int i = 1; i <= n; ++i) t += u(i, k) * p.o.d_hat[i - 1];
    for (int i = 1; i <= n; ++i) beta[i - 1] += v(i, k) * t / c.s[k - 1];
  }
  std::vector<double> mm(ncell);
  update::cal_doccam_svd_dcr2d(p.o, p.gramman, p.cmjkt, mm, 0.0, n);
  expect_close(p.o.betak, beta, 1e-7, c.name);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ModelUpdateTruncation,
    testing::Values(
        // n = 3: the relative test applies from the first value on.
        Truncation_case{"three_keep_first", {1.0, 5e-4, 2e-4}, 1},
        // n = 8: the first two values are cut only below 1e-12.
        Truncation_case{
            "eight_tiny_second_kept", {1.0, 1e-6, 1e-7, 1e-8, 1e-9, 1e-9, 1e-10, 1e-10}, 2},
        Truncation_case{"eight_second_below_absolute_floor",
                        {1.0, 5e-13, 1e-13, 1e-13, 1e-14, 1e-14, 1e-14, 1e-14},
                        1},
        Truncation_case{
            "eight_last_below_relative_floor", {2.0, 1.0, 0.5, 0.2, 0.1, 0.05, 0.01, 0.0019}, 7},
        Truncation_case{"eight_all_kept", {2.0, 1.0, 0.5, 0.2, 0.1, 0.05, 0.01, 0.0021}, 8}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ModelUpdate, TrialModelIsBoundedInLogResistivity) {
  const int n = 3;
  Problem p;
  p.gramman.assign(n, n);
  for (int i = 1; i <= n; ++i) p.gramman(i, i) = 1.0;
  p.o.cd.assign(n, 0.0);
  p.o.d_hat = {1.0, 0.0, 0.0};  // beta = (1, 0, 0)
  p.o.logrho0.assign(4, 4.0);
  p.cmjkt.assign(4, n);
  p.cmjkt(1, 1) = 1e3, p.cmjkt(2, 1) = -1e3, p.cmjkt(4, 1) = 0.5;
  for (auto variant : {update::cal_doccam_svd_dcr2d, update::cal_doccam_dcr2d}) {
    std::vector<double> mm(4);
    variant(p.o, p.gramman, p.cmjkt, mm, 0.0, n);
    EXPECT_EQ(mm[0], 1.0 / std::exp(13.8));
    EXPECT_EQ(mm[1], 1.0 / std::exp(-1.2));
    EXPECT_NEAR(mm[2], 1.0 / std::exp(4.0), 1e-15);
    EXPECT_NEAR(mm[3], 1.0 / std::exp(4.5), 1e-15);
  }
}

TEST(ModelUpdate, FailedDecompositionGivesTheMessageAndZeros) {
  std::mt19937 rng(9);
  Problem p = well_posed(6, 4, rng);
  std::vector<double> mm(4);
  update::cal_doccam_svd_dcr2d(p.o, p.gramman, p.cmjkt, mm, 0.0, 6);
  const std::vector<double> betak = p.o.betak;

  Dmatrix broken = p.gramman;
  broken(2, 3) = std::nan("");
  mm.assign(4, 5.0);
  testing::internal::CaptureStdout();
  update::cal_doccam_svd_dcr2d(p.o, broken, p.cmjkt, mm, 0.0, 6);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), " Error Occuring at SVD\n");
  EXPECT_EQ(mm, std::vector<double>(4, 0.0));
  EXPECT_EQ(p.o.betak, betak);

  Dmatrix singular(6, 6);
  p.o.cd.assign(6, 0.0);
  mm.assign(4, 5.0);
  testing::internal::CaptureStdout();
  update::cal_doccam_dcr2d(p.o, singular, p.cmjkt, mm, 0.0, 6);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), " Error Occuring at Factorization\n");
  EXPECT_EQ(mm, std::vector<double>(4, 0.0));
}

TEST(ModelUpdate, MismatchedLengthsEndTheJob) {
  std::mt19937 rng(4);
  Problem p = well_posed(3, 4, rng);
  std::vector<double> short_model(3);
  EXPECT_THROW(update::cal_doccam_svd_dcr2d(p.o, p.gramman, p.cmjkt, short_model, 0.0, 3), Error);
  EXPECT_THROW(update::cal_doccam_dcr2d(p.o, p.gramman, p.cmjkt, short_model, 0.0, 3), Error);
  occam::Occam_state o;
  o.logd.assign(3, 0.0), o.logr.assign(3, 0.0), o.logrho.assign(4, 0.0), o.logrho0.assign(4, 0.0);
  EXPECT_THROW(dhat_dcr2d::cal_dhat_dcr2d(o, Dmatrix(5, 3), 3, false, false), Error);
}

}  // namespace
