// Roughness operators. Each operator must be the inverse of the implicit
// diffusion step I - K D2; the test builds D2 on its own, as the second
// derivative of the parabola through three neighbouring element centres
// (one-sided at the ends), so that operator x (I - K D2) = I is a check
// against the geometry itself. The diffusion coefficients are checked against
// values worked out by hand for a column with a shallow zone, deep elements
// and fixed (air) elements.
#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <ostream>
#include <string>
#include <vector>

#include "core/error.hpp"
#include "core/inversion/model_inv_parameters_dcr2d.hpp"
#include "core/inversion/model_inv_parameters_lapack_dcr2d.hpp"
#include "core/model/dcr2dphy_model.hpp"
#include "core/numerics/array2.hpp"

namespace {

using namespace varnel;
using model_inv_parameters_dcr2d::Diffusion_state;
namespace rough = model_inv_parameters_dcr2d;
namespace rough_lapack = model_inv_parameters_lapack_dcr2d;

struct Model_fixture {
  param_dcr2d::Param_dcr2d param;
  dcr2dphy::Dcr2dphy_state phy;
  grid2d_dcr::Gr2d_dcr_new grid;
  dcr2dphy::Model_inv_dcr2d m{{&param, &phy}};
  Model_fixture() { m.set_grid(&grid); }
  Model_fixture(const Model_fixture&) = delete;
};

// Flat ground on an uneven grid, one cell per element.
void make_uneven(Model_fixture& f) {
  const std::vector<double> xs = {-3.0, -1.2, 0.0, 0.5, 1.5, 2.0, 3.5, 6.0};
  const std::vector<double> zs = {0.0, 0.25, 0.5, 1.0, 1.75, 3.0, 4.5, 7.0, 11.0};
  const std::vector<double> cond{0.01};
  f.m.initialize(xs, zs, "fd", &cond);
  f.m.initialize_inv(nullptr);
}

// Uneven ground for the hybrid solver: a slope from depth 4 at x = 3 up to
// depth 2 at x = 5 on unit cells below uneven rows; the air above it is fixed.
void make_topography(Model_fixture& f) {
  const std::vector<double> xs = {0, 1, 2, 3, 4, 5, 6, 7};
  const std::vector<double> zs = {0, 1, 2, 3, 4, 5, 6.5, 8.5, 11};
  Dmatrix topo(2, 2);
  topo(1, 1) = 3, topo(1, 2) = 4, topo(2, 1) = 5, topo(2, 2) = 2;
  const std::vector<double> cond{0.01};
  testing::internal::CaptureStdout();
  f.m.initialize(xs, zs, "hy", &cond, &topo);
  testing::internal::GetCapturedStdout();
  std::vector<int32_t> g2u;
  dcr2dphy::cal_update_model_dcr(f.m, g2u);
  f.m.initialize_inv(&g2u);
}

// Centres of cells with the given boundaries.
std::vector<double> centres(std::span<const double> nodes) {
  std::vector<double> c;
  for (std::size_t i = 0; i + 1 < nodes.size(); ++i) c.push_back(0.5 * (nodes[i] + nodes[i + 1]));
  return c;
}

// I - K D2 on points c, D2 row i the second derivative of the parabola
// through the points i-1, i, i+1 (the first or last three at the ends).
Dmatrix implicit_step(const std::vector<double>& c, const std::vector<double>& kappa) {
  const int n = static_cast<int>(c.size());
  Dmatrix a(n, n);
  for (int i = 1; i <= n; ++i) {
    const int first = std::clamp(i - 1, 1, n - 2);
    for (int p = first; p < first + 3; ++p) {
      double w = 2.0;  // Lagrange basis p, second derivative
      for (int q = first; q < first + 3; ++q)
        if (q != p) w /= c[p - 1] - c[q - 1];
      a(i, p) -= kappa[i - 1] * w;
    }
    a(i, i) += 1.0;
  }
  return a;
}

// max |op a - I|.
double distance_from_inverse(const Dmatrix& op, const Dmatrix& a) {
  const int n = a.rows();
  double worst = 0.0;
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= n; ++j) {
      double s = 0.0;
      for (int k = 1; k <= n; ++k) s += op(i, k) * a(k, j);
      worst = std::max(worst, std::abs(s - (i == j ? 1.0 : 0.0)));
    }
  return worst;
}

struct Inverse_case {
  const char* name;
  void (*make)(Model_fixture&);
  double espacing;
  friend void PrintTo(const Inverse_case& c, std::ostream* os) { *os << c.name; }
};

class RoughnessInverse : public testing::TestWithParam<Inverse_case> {};

TEST_P(RoughnessInverse, EveryOperatorInvertsTheImplicitDiffusionStep) {
  Model_fixture f;
  GetParam().make(f);
  const double espacing = GetParam().espacing;
  Diffusion_state s;
  rough_lapack::cal_diffusion_coefficient_dcr2d(s, f.m, espacing, 0);
  const int nx = f.grid.get_nx_element(), nz = f.grid.get_nz_element();
  ASSERT_EQ(static_cast<int>(s.diffu_ud.size()), nx);
  ASSERT_EQ(static_cast<int>(s.diffu_lr.size()), nz);

  std::vector<bool> isupdated;
  f.m.get_isupdated(isupdated);
  Dmatrix kappa;
  rough::cal_kappa_dcr2d(f.grid, isupdated, espacing, s.diffusion_parameter, kappa);
  const std::vector<double> cz = centres(f.grid.get_z_grid()), cx = centres(f.grid.get_x_grid());
  auto element = [&](int iz, int ix) { return (ix - 1) * nz + iz; };

  for (int ix = 1; ix <= nx; ++ix) {
    std::vector<double> k;
    std::vector<int32_t> e;
    for (int iz = 1; iz <= nz; ++iz) k.push_back(kappa(iz, ix)), e.push_back(element(iz, ix));
    const auto& op = s.diffu_ud[ix - 1];
    EXPECT_EQ(op.eindex, e);
    EXPECT_LT(distance_from_inverse(op.val, implicit_step(cz, k)), 1e-11) << "column " << ix;
  }
  for (int iz = 1; iz <= nz; ++iz) {
    std::vector<double> k;
    std::vector<int32_t> e;
    for (int ix = 1; ix <= nx; ++ix) k.push_back(kappa(iz, ix)), e.push_back(element(iz, ix));
    const auto& op = s.diffu_lr[iz - 1];
    EXPECT_EQ(op.eindex, e);
    EXPECT_LT(distance_from_inverse(op.val, implicit_step(cx, k)), 1e-11) << "row " << iz;
  }
}

INSTANTIATE_TEST_SUITE_P(Grids, RoughnessInverse,
                         testing::Values(Inverse_case{"uneven", make_uneven, 1.0},
                                         Inverse_case{"topography", make_topography, 2.0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Roughness, TopographyColumnsBeginBelowTheAir) {
  // The fixture of the topography case must really have fixed air on top of
  // some columns, or the case above would prove nothing about them.
  Model_fixture f;
  make_topography(f);
  std::vector<bool> isupdated;
  f.m.get_isupdated(isupdated);
  const int nz = f.grid.get_nz_element();
  int air_topped = 0;
  for (int ix = 1; ix <= f.grid.get_nx_element(); ++ix)
    air_topped += isupdated[(ix - 1) * nz] ? 0 : 1;
  EXPECT_GE(air_topped, 3);

  // Away from the fixed elements a column still keeps a constant unchanged.
  Diffusion_state s;
  rough_lapack::cal_diffusion_coefficient_dcr2d(s, f.m, 2.0, 0);
  for (const auto& op : s.diffu_ud)
    for (int i = 1; i <= nz; ++i) {
      double sum = 0.0;
      for (int j = 1; j <= nz; ++j) sum += op.val(i, j);
      EXPECT_NEAR(sum, 1.0, 1e-12);
    }
}

// Diffusion coefficients on unit rows with espacing 2: the shallow zone is
// 0.5 deep, so a centre 0.5 below the surface is still shallow (strict test).
TEST(Roughness, KappaFollowsDepthBelowTheFirstUpdatableElement) {
  Model_fixture f;
  std::vector<double> xs = {0, 1, 2, 3}, zs;
  for (int i = 0; i <= 11; ++i) zs.push_back(i);
  const std::vector<double> cond{0.01};
  f.m.initialize(xs, zs, "fd", &cond);
  const int nz = 11;
  // Column 1 all updatable, column 2 with two fixed rows on top and one fixed
  // row inside, column 3 fixed throughout.
  std::vector<bool> isupdated(3 * nz, true);
  isupdated[nz + 0] = isupdated[nz + 1] = isupdated[nz + 5] = false;
  for (int iz = 0; iz < nz; ++iz) isupdated[2 * nz + iz] = false;

  Dmatrix kappa;
  rough::cal_kappa_dcr2d(f.grid, isupdated, 2.0, 4.0, kappa);
  const double shallow = 0.25 * 4.0;
  auto deep = [](double depth, double mfactor) { return 0.25 * depth * depth * mfactor * mfactor; };
  // Column 1: centres 0.5, 1.5, ...; the n-th deep element has factor
  // 1 - 0.1 n down to 0.2.
  const std::vector<double> column1 = {shallow,        deep(1.5, 0.9), deep(2.5, 0.8),
                                       deep(3.5, 0.7), deep(4.5, 0.6), deep(5.5, 0.5),
                                       deep(6.5, 0.4), deep(7.5, 0.3), deep(8.5, 0.2),
                                       deep(9.5, 0.2), deep(10.5, 0.2)};
  // Column 2: the surface is the top of row 3; the fixed row 6 keeps the
  // spacing value and does not count.
  const std::vector<double> column2 = {
      shallow,        shallow,        shallow,        deep(1.5, 0.9), deep(2.5, 0.8), shallow,
      deep(4.5, 0.7), deep(5.5, 0.6), deep(6.5, 0.5), deep(7.5, 0.4), deep(8.5, 0.3)};
  for (int iz = 1; iz <= nz; ++iz) {
    EXPECT_NEAR(kappa(iz, 1), column1[iz - 1], 1e-12 * column1[iz - 1]) << "row " << iz;
    EXPECT_NEAR(kappa(iz, 2), column2[iz - 1], 1e-12 * column2[iz - 1]) << "row " << iz;
    EXPECT_EQ(kappa(iz, 3), shallow) << "row " << iz;
  }
}

TEST(Roughness, DistancesReachTwoCentresInwardAtTheEnds) {
  Model_fixture f;
  const std::vector<double> xs = {0, 1, 3, 7}, zs = {0, 1, 2, 4, 8};
  const std::vector<double> cond{0.01};
  f.m.initialize(xs, zs, "fd", &cond);
  Dmatrix width, height;
  rough::cal_distance_b2b_dcr2d(f.grid, width, height);
  // Centres in z: 0.5, 1.5, 3, 6; in x: 0.5, 2, 5.
  const double h[4][2] = {{1.0, 2.5}, {1.0, 1.5}, {1.5, 3.0}, {3.0, 4.5}};
  const double w[3][2] = {{1.5, 4.5}, {1.5, 3.0}, {3.0, 4.5}};
  for (int i = 1; i <= 4; ++i)
    for (int j = 1; j <= 2; ++j) EXPECT_DOUBLE_EQ(height(i, j), h[i - 1][j - 1]);
  for (int i = 1; i <= 3; ++i)
    for (int j = 1; j <= 2; ++j) EXPECT_DOUBLE_EQ(width(i, j), w[i - 1][j - 1]);
}

TEST(Roughness, TooFewElementsEndTheJobWithAMessage) {
  Model_fixture f;
  const std::vector<double> xs = {0, 1, 2, 3, 4}, zs = {0, 1, 2};
  const std::vector<double> cond{0.01};
  f.m.initialize(xs, zs, "fd", &cond);
  f.m.initialize_inv(nullptr);
  Diffusion_state s;
  try {
    rough_lapack::cal_diffusion_coefficient_dcr2d(s, f.m, 1.0, 0);
    FAIL() << "a grid of 2 element rows was accepted";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("3 element rows"), std::string::npos) << e.what();
  }
}

TEST(Roughness, ModeOneBuildsNothingAndCleanupEmptiesTheOperators) {
  Model_fixture f;
  make_uneven(f);
  Diffusion_state s;
  rough_lapack::cal_diffusion_coefficient_dcr2d(s, f.m, 1.0, 1);
  EXPECT_TRUE(s.diffu_ud.empty());
  EXPECT_TRUE(s.diffu_lr.empty());
  rough_lapack::cal_diffusion_coefficient_dcr2d(s, f.m, 1.0, 0);
  const Dmatrix first = s.diffu_ud[2].val;
  EXPECT_THROW(rough_lapack::cal_diffusion_coefficient_dcr2d(s, f.m, 1.0, 0), Error);
  rough::cleanup_diffusion_matrices(s);
  EXPECT_TRUE(s.diffu_ud.empty());
  EXPECT_TRUE(s.diffu_lr.empty());
  rough_lapack::cal_diffusion_coefficient_dcr2d(s, f.m, 1.0, 0);
  EXPECT_EQ(s.diffu_ud[2].val, first);
}

TEST(Roughness, OperatorsDoNotDependOnTheThreadCount) {
  const int saved = omp_get_max_threads();
  auto build = [](int threads) {
    omp_set_num_threads(threads);
    Model_fixture f;
    make_topography(f);
    Diffusion_state s;
    rough_lapack::cal_diffusion_coefficient_dcr2d(s, f.m, 2.0, 0);
    return s;
  };
  const Diffusion_state one = build(1), two = build(2);
  omp_set_num_threads(saved);
  ASSERT_EQ(one.diffu_ud.size(), two.diffu_ud.size());
  ASSERT_EQ(one.diffu_lr.size(), two.diffu_lr.size());
  for (std::size_t i = 0; i < one.diffu_ud.size(); ++i)
    EXPECT_EQ(one.diffu_ud[i].val, two.diffu_ud[i].val);
  for (std::size_t i = 0; i < one.diffu_lr.size(); ++i)
    EXPECT_EQ(one.diffu_lr[i].val, two.diffu_lr[i].val);
}

}  // namespace
