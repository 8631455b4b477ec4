// Model-covariance products. Cm J^T is checked against a dense reference:
// every sweep of line operators is written out as an ncell x ncell matrix
// (each line reads its cells, applies its operator n times and writes its
// cells back, later positions and later lines winning), and the sweeps are
// multiplied in the order Z, (X X Z Z) x 7, X X, Z. The operators in that
// check are random row-stochastic matrices rather than the diffusion
// operators, so that a transposed operator, a wrong line order or a wrong
// pass count shows. The Gram matrix is checked against a plain triple loop.
#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "core/error.hpp"
#include "core/inversion/cmjkt_dcr2d.hpp"
#include "core/inversion/cmjkt_lapack_dcr2d.hpp"
#include "core/inversion/jkcmjkt_lapack_dcr2d.hpp"
#include "core/inversion/model_inv_parameters_dcr2d.hpp"
#include "core/inversion/model_inv_parameters_lapack_dcr2d.hpp"
#include "core/model/dcr2dphy_model.hpp"
#include "core/numerics/array2.hpp"
#include "core/survey/dataio_dcr2d.hpp"

namespace {

using namespace varnel;
using model_inv_parameters_dcr2d::Diffusion_state;

struct Model_fixture {
  param_dcr2d::Param_dcr2d param;
  dcr2dphy::Dcr2dphy_state phy;
  grid2d_dcr::Gr2d_dcr_new grid;
  dcr2dphy::Model_inv_dcr2d m{{&param, &phy}};
  dataio_dcr2d::Main_data_dcr2d r;
  Model_fixture() { m.set_grid(&grid), r.model = &m; }
  Model_fixture(const Model_fixture&) = delete;
  int nx() const { return grid.get_nx_element(); }
  int nz() const { return grid.get_nz_element(); }
  int element(int iz, int ix) const { return (ix - 1) * nz() + iz; }
};

// An uneven grid of nx x nz elements.
void make_grid(Model_fixture& f, int nx, int nz) {
  std::vector<double> xs{0.0}, zs{0.0};
  for (int i = 1; i <= nx; ++i) xs.push_back(xs.back() + 1.0 + 0.3 * (i % 3));
  for (int i = 1; i <= nz; ++i) zs.push_back(zs.back() + 0.5 * i);
  const std::vector<double> cond{0.01};
  f.m.initialize(xs, zs, "fd", &cond);
}

// One cell per element.
void make_plain(Model_fixture& f) {
  make_grid(f, 5, 4);
  f.m.initialize_inv(nullptr);
}

// Four columns and three rows with fixed air at the top of the first two
// columns, a cell that spans two columns (2) and two that span two rows (3,
// 6). The columns of the cells' first elements, in cell order, are 3, 2, 1,
// 3, 4, 4, 2 and their rows 3, 2, 2, 1, 1, 2, 3, so column 3 is smoothed
// before column 2 and row 3 before row 2, against the grid order, and the
// shared cells 2 and 3 show it.
//          ix=1 ix=2 ix=3 ix=4
//   iz=1     0    0    4    5
//   iz=2     3    2    2    6
//   iz=3     3    7    1    6
const int merged_map[3][4] = {{0, 0, 4, 5}, {3, 2, 2, 6}, {3, 7, 1, 6}};
const std::vector<int> merged_column_order = {3, 2, 1, 4};
const std::vector<int> merged_row_order = {3, 2, 1};

void make_merged(Model_fixture& f) {
  make_grid(f, 4, 3);
  std::vector<int32_t> g2u(12);
  for (int iz = 1; iz <= 3; ++iz)
    for (int ix = 1; ix <= 4; ++ix) g2u[f.element(iz, ix) - 1] = merged_map[iz - 1][ix - 1];
  f.m.initialize_inv(&g2u);
}

// Random matrices with positive entries and rows summing to 1.
Dmatrix random_stochastic(int n, std::mt19937& rng) {
  std::uniform_real_distribution<double> u(0.1, 1.0);
  Dmatrix a(n, n);
  for (int i = 1; i <= n; ++i) {
    double sum = 0.0;
    for (int j = 1; j <= n; ++j) sum += a(i, j) = u(rng);
    for (int j = 1; j <= n; ++j) a(i, j) /= sum;
  }
  return a;
}

// Random symmetric positive definite matrices of norm about 1.
Dmatrix random_spd(int n, std::mt19937& rng) {
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  Dmatrix b(n, n), a(n, n);
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= n; ++j) b(i, j) = u(rng);
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= n; ++j) {
      double s = i == j ? 1.0 : 0.0;
      for (int k = 1; k <= n; ++k) s += b(i, k) * b(j, k);
      a(i, j) = s / (n + 1.0);
    }
  return a;
}

// Operators for every column and row of f's grid from make(n).
template <class Make>
Diffusion_state operators(const Model_fixture& f, Make make) {
  Diffusion_state s;
  for (int ix = 1; ix <= f.nx(); ++ix) {
    auto& op = s.diffu_ud.emplace_back();
    op.val = make(f.nz());
    for (int iz = 1; iz <= f.nz(); ++iz) op.eindex.push_back(f.element(iz, ix));
  }
  for (int iz = 1; iz <= f.nz(); ++iz) {
    auto& op = s.diffu_lr.emplace_back();
    op.val = make(f.nx());
    for (int ix = 1; ix <= f.nx(); ++ix) op.eindex.push_back(f.element(iz, ix));
  }
  return s;
}

Dmatrix multiply(const Dmatrix& a, const Dmatrix& b) {
  Dmatrix c(a.rows(), b.cols());
  for (int i = 1; i <= a.rows(); ++i)
    for (int j = 1; j <= b.cols(); ++j) {
      double s = 0.0;
      for (int k = 1; k <= a.cols(); ++k) s += a(i, k) * b(k, j);
      c(i, j) = s;
    }
  return c;
}

Dmatrix identity(int n) {
  Dmatrix a(n, n);
  for (int i = 1; i <= n; ++i) a(i, i) = 1.0;
  return a;
}

// The ncell x ncell matrix of one sweep along the lines `order` (columns when
// vertical), each operator applied n times between reading and writing.
Dmatrix dense_sweep(const Model_fixture& f, const Diffusion_state& d, bool vertical,
                    const std::vector<int>& order, int n) {
  const int ncell = f.m.get_ncell();
  Dmatrix total = identity(ncell);
  for (int line : order) {
    const auto& op = vertical ? d.diffu_ud[line - 1] : d.diffu_lr[line - 1];
    Dmatrix c = op.val;
    for (int r = 1; r < n; ++r) c = multiply(op.val, c);
    const int len = c.rows();
    std::vector<int> cell(len);
    for (int k = 1; k <= len; ++k)
      cell[k - 1] = f.m.g2u[(vertical ? f.element(k, line) : f.element(line, k)) - 1];
    Dmatrix pass = identity(ncell);
    for (int k = 1; k <= len; ++k) {
      if (cell[k - 1] == 0) continue;
      for (int j = 1; j <= ncell; ++j) pass(cell[k - 1], j) = 0.0;
      for (int l = 1; l <= len; ++l)
        if (cell[l - 1] != 0) pass(cell[k - 1], cell[l - 1]) += c(k, l);
    }
    total = multiply(pass, total);
  }
  return total;
}

// Cm as the product of the sweeps Z, (X X Z Z) x 7, X X, Z.
Dmatrix dense_cm(const Model_fixture& f, const Diffusion_state& d, const std::vector<int>& columns,
                 const std::vector<int>& rows) {
  const Dmatrix z1 = dense_sweep(f, d, true, columns, 1), z2 = dense_sweep(f, d, true, columns, 2),
                x2 = dense_sweep(f, d, false, rows, 2);
  Dmatrix cm = z1;
  for (int round = 1; round < cmjkt_dcr2d::ndiff; ++round) cm = multiply(z2, multiply(x2, cm));
  return multiply(z1, multiply(x2, cm));
}

Dmatrix random_matrix(int rows, int cols, std::mt19937& rng) {
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  Dmatrix a(rows, cols);
  for (int j = 1; j <= cols; ++j)
    for (int i = 1; i <= rows; ++i) a(i, j) = u(rng);
  return a;
}

double max_abs_difference(const Dmatrix& a, const Dmatrix& b) {
  EXPECT_EQ(a.rows(), b.rows());
  EXPECT_EQ(a.cols(), b.cols());
  double worst = 0.0;
  for (int j = 1; j <= a.cols(); ++j)
    for (int i = 1; i <= a.rows(); ++i) worst = std::max(worst, std::abs(a(i, j) - b(i, j)));
  return worst;
}

std::vector<int> all_lines(int n) {
  std::vector<int> v;
  for (int i = 1; i <= n; ++i) v.push_back(i);
  return v;
}

struct Sequence_case {
  const char* name;
  void (*make)(Model_fixture&);
  bool merged;
  friend void PrintTo(const Sequence_case& c, std::ostream* os) { *os << c.name; }
};

class CovarianceSequence : public testing::TestWithParam<Sequence_case> {};

TEST_P(CovarianceSequence, CmJktIsTheDenseProductOfTheSweeps) {
  Model_fixture f;
  GetParam().make(f);
  std::mt19937 rng(17);
  const Diffusion_state d = operators(f, [&](int n) { return random_stochastic(n, rng); });
  const int ncell = f.m.get_ncell(), nodata = 3;
  f.r.nodata = nodata;
  const Dmatrix jkt = random_matrix(ncell, nodata, rng);

  const std::vector<int> columns = GetParam().merged ? merged_column_order : all_lines(f.nx());
  const std::vector<int> rows = GetParam().merged ? merged_row_order : all_lines(f.nz());
  const Dmatrix expected = multiply(dense_cm(f, d, columns, rows), jkt);

  cmjkt_dcr2d::Cmjkt_state s;
  cmjkt_lapack_dcr2d::cal_cmjkt_dcr2d(s, d, jkt, f.r);
  EXPECT_LT(max_abs_difference(s.cmjkt, expected), 1e-12);

  // The plain line orders differ from the merged ones: the order matters.
  if (GetParam().merged) {
    const Dmatrix in_grid_order =
        multiply(dense_cm(f, d, all_lines(f.nx()), all_lines(f.nz())), jkt);
    EXPECT_GT(max_abs_difference(s.cmjkt, in_grid_order), 1e-6);
  }
}

INSTANTIATE_TEST_SUITE_P(Rules, CovarianceSequence,
                         testing::Values(Sequence_case{"one_cell_per_element", make_plain, false},
                                         Sequence_case{"merged_and_fixed", make_merged, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CovarianceProducts, SingleSweepsSmoothInPlace) {
  // One vertical sweep with one application equals its dense matrix; the
  // horizontal one with two applications too.
  Model_fixture f;
  make_merged(f);
  std::mt19937 rng(5);
  const Diffusion_state d = operators(f, [&](int n) { return random_stochastic(n, rng); });
  const Dmatrix v = random_matrix(f.m.get_ncell(), 1, rng);
  Dmatrix z = v, x = v;
  cmjkt_lapack_dcr2d::diffu_z_dcr2d(d, {z.data(), z.size()}, f.m, 1);
  cmjkt_lapack_dcr2d::diffu_x_dcr2d(d, {x.data(), x.size()}, f.m, 2);
  EXPECT_LT(max_abs_difference(z, multiply(dense_sweep(f, d, true, merged_column_order, 1), v)),
            1e-14);
  EXPECT_LT(max_abs_difference(x, multiply(dense_sweep(f, d, false, merged_row_order, 2), v)),
            1e-14);
}

TEST(CovarianceProducts, SymmetricOperatorsGiveASymmetricPositiveGramMatrix) {
  // With symmetric positive definite line operators the sequence is a
  // palindrome of symmetric sweeps, so J Cm J^T is symmetric and positive
  // semi-definite, fixed elements included.
  Model_fixture f;
  make_grid(f, 5, 4);
  std::vector<int32_t> g2u;
  int counter = 0;
  for (int e = 1; e <= 20; ++e) g2u.push_back(e % 4 == 1 && e < 12 ? 0 : ++counter);
  f.m.initialize_inv(&g2u);
  std::mt19937 rng(3);
  const Diffusion_state d = operators(f, [&](int n) { return random_spd(n, rng); });
  const int nodata = 6;
  f.r.nodata = nodata;
  const Dmatrix jkt = random_matrix(f.m.get_ncell(), nodata, rng);
  cmjkt_dcr2d::Cmjkt_state s;
  cmjkt_lapack_dcr2d::cal_cmjkt_dcr2d(s, d, jkt, f.r);
  jkcmjkt_dcr2d::Jkcmjkt_state g;
  jkcmjkt_lapack_dcr2d::cal_gramman_dcr2d(g, jkt, s.cmjkt, nodata, 0);

  double scale = 0.0;
  for (int i = 1; i <= nodata; ++i) scale = std::max(scale, std::abs(g.gramman(i, i)));
  ASSERT_GT(scale, 0.0);
  for (int i = 1; i <= nodata; ++i)
    for (int j = 1; j < i; ++j)
      EXPECT_NEAR(g.gramman(i, j), g.gramman(j, i), 1e-12 * scale) << i << ", " << j;
  for (int trial = 0; trial < 20; ++trial) {
    const Dmatrix y = random_matrix(nodata, 1, rng);
    double q = 0.0;
    for (int i = 1; i <= nodata; ++i)
      for (int j = 1; j <= nodata; ++j) q += y(i, 1) * g.gramman(i, j) * y(j, 1);
    EXPECT_GE(q, -1e-12 * scale);
  }
}

TEST(CovarianceProducts, ConstantSensitivityStaysAwayFromFixedElements) {
  // The diffusion operators keep constants; next to fixed elements, which
  // enter as 0, a constant column is lowered.
  auto smoothed_constant = [](Model_fixture& f) {
    Diffusion_state d;
    model_inv_parameters_lapack_dcr2d::cal_diffusion_coefficient_dcr2d(d, f.m, 1.0, 0);
    f.r.nodata = 1;
    const Dmatrix jkt(f.m.get_ncell(), 1, 1.0);
    cmjkt_dcr2d::Cmjkt_state s;
    cmjkt_lapack_dcr2d::cal_cmjkt_dcr2d(s, d, jkt, f.r);
    return s.cmjkt;
  };
  Model_fixture plain;
  make_plain(plain);
  const Dmatrix p = smoothed_constant(plain);
  // A pass that applies an operator twice applies its square once: a few
  // units of rounding per pass, over the eleven passes.
  for (int i = 1; i <= p.rows(); ++i) EXPECT_NEAR(p(i, 1), 1.0, 1e-11) << "cell " << i;

  Model_fixture fixed;
  make_grid(fixed, 5, 4);
  std::vector<int32_t> g2u;
  int counter = 0;
  for (int e = 1; e <= 20; ++e) g2u.push_back(e % 4 == 1 ? 0 : ++counter);  // air on top
  fixed.m.initialize_inv(&g2u);
  const Dmatrix q = smoothed_constant(fixed);
  double lowest = 1.0;
  for (int i = 1; i <= q.rows(); ++i) {
    EXPECT_LE(q(i, 1), 1.0 + 1e-12);
    lowest = std::min(lowest, q(i, 1));
  }
  EXPECT_LT(lowest, 0.99);
}

TEST(CovarianceProducts, GramModesAgreeWithATripleLoop) {
  std::mt19937 rng(11);
  const int ncell = 37;
  for (int nodata : {11, 4}) {  // the second call reshapes the kept matrix
    const Dmatrix jkt = random_matrix(ncell, nodata, rng),
                  cmjkt = random_matrix(ncell, nodata, rng);
    Dmatrix naive(nodata, nodata);
    for (int i = 1; i <= nodata; ++i)
      for (int j = 1; j <= nodata; ++j)
        for (int k = 1; k <= ncell; ++k) naive(i, j) += jkt(k, i) * cmjkt(k, j);
    jkcmjkt_dcr2d::Jkcmjkt_state blas, loop;
    blas.gramman.assign(11, 11, 7.0);
    jkcmjkt_lapack_dcr2d::cal_gramman_dcr2d(blas, jkt, cmjkt, nodata, 0);
    jkcmjkt_lapack_dcr2d::cal_gramman_dcr2d(loop, jkt, cmjkt, nodata, 1);
    EXPECT_LT(max_abs_difference(blas.gramman, naive), 1e-13);
    EXPECT_EQ(loop.gramman, naive) << "the loop sums in increasing k as the reference does";
  }
}

TEST(CovarianceProducts, ShapeMismatchEndsTheJob) {
  Model_fixture f;
  make_plain(f);
  std::mt19937 rng(2);
  const Diffusion_state d = operators(f, [&](int n) { return random_stochastic(n, rng); });
  f.r.nodata = 4;
  cmjkt_dcr2d::Cmjkt_state s;
  EXPECT_THROW(cmjkt_lapack_dcr2d::cal_cmjkt_dcr2d(s, d, random_matrix(19, 4, rng), f.r), Error);
  jkcmjkt_dcr2d::Jkcmjkt_state g;
  EXPECT_THROW(jkcmjkt_lapack_dcr2d::cal_gramman_dcr2d(g, random_matrix(20, 4, rng),
                                                       random_matrix(21, 4, rng), 4, 0),
               Error);
}

TEST(CovarianceProducts, ResultsDoNotDependOnTheThreadCount) {
  const int saved = omp_get_max_threads();
  Model_fixture f;
  make_merged(f);
  std::mt19937 rng(23);
  const Diffusion_state d = operators(f, [&](int n) { return random_stochastic(n, rng); });
  const int nodata = 9;
  f.r.nodata = nodata;
  const Dmatrix jkt = random_matrix(f.m.get_ncell(), nodata, rng);
  auto run = [&](int threads) {
    omp_set_num_threads(threads);
    cmjkt_dcr2d::Cmjkt_state s;
    cmjkt_lapack_dcr2d::cal_cmjkt_dcr2d(s, d, jkt, f.r);
    jkcmjkt_dcr2d::Jkcmjkt_state g;
    jkcmjkt_lapack_dcr2d::cal_gramman_dcr2d(g, jkt, s.cmjkt, nodata, 1);
    return std::pair{s.cmjkt, g.gramman};
  };
  const auto one = run(1), two = run(2);
  omp_set_num_threads(saved);
  EXPECT_EQ(one.first, two.first);
  EXPECT_EQ(one.second, two.second);
}

TEST(CovarianceProducts, CleanupReleasesCmJkt) {
  cmjkt_dcr2d::Cmjkt_state s;
  s.cmjkt.assign(3, 2, 1.0);
  cmjkt_dcr2d::cleanup_cmjkt_dcr2d(s);
  EXPECT_TRUE(s.cmjkt.empty());
}

}  // namespace
