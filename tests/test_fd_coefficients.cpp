// The five-point finite-difference operator: position codes, spacings, the
// half-face conductances and couplings, the Bessel boundary factor and its
// large-argument switch, the boundary terms of the edge nodes (checked against
// values worked out by hand), symmetry, the compute-once and release rules,
// and the earth variants for an uneven ground surface (flat-surface agreement
// with the flat operator, the terms of the end columns, the centre of the
// boundary condition, unknowns below a raised surface). Both variants must
// give bit-identical results for one and for two threads.
#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "core/forward/dcr2dphy_coef.hpp"
#include "core/model/dcr2dphy_model.hpp"
#include "core/model/grid2d_dcr.hpp"
#include "core/numerics/array2.hpp"
#include "core/numerics/bessel.hpp"
#include "core/survey/param_dcr2d.hpp"

namespace {

using varnel::Dmatrix;
using varnel::dcr2dphy::Dcr2dphy_state;
using varnel::dcr2dphy::Earth_node;
using varnel::dcr2dphy::Model_env;
using varnel::dcr2dphy::Model_fwd_dcr2d;
using varnel::grid2d_dcr::Gr2d_dcr_new;
using varnel::param_dcr2d::Param_dcr2d;
namespace phy = varnel::dcr2dphy;

// K1(1) / K0(1) from tabulated values of the modified Bessel functions.
constexpr double kRatioAtOne = 0.60190723019723457 / 0.42102443824070834;

std::vector<double> nodes(int count) {
  std::vector<double> v;
  for (int i = 0; i < count; ++i) v.push_back(i);
  return v;
}

// A conductivity per element that differs between neighbouring elements.
std::vector<double> patchwork(int32_t noelem) {
  std::vector<double> c;
  for (int32_t e = 0; e < noelem; ++e) c.push_back(0.01 * (1 + (e * 7) % 5) + 0.001 * (e % 3));
  return c;
}

// One job's solver state on its own grid, flat ground.
struct Flat_case {
  Gr2d_dcr_new grid;
  Dcr2dphy_state s;

  Flat_case(const std::vector<double>& xs, const std::vector<double>& zs,
            const std::vector<double>* cond, const std::vector<double>& k) {
    grid.initialize(xs, zs);
    s.grid = &grid;
    s.cond = cond != nullptr ? *cond : patchwork(grid.get_n_element());
    s.k = k;
    s.kmax = static_cast<int32_t>(k.size());
    s.numnp = grid.get_n_node();
    s.noxs = grid.get_nx_node();
    s.nozs = grid.get_nz_node();
  }
  Flat_case(const Flat_case&) = delete;
  Flat_case& operator=(const Flat_case&) = delete;

  int32_t n(int32_t iz, int32_t ix) const { return (ix - 1) * s.nozs + iz; }
  int32_t e(int32_t iz, int32_t ix) const { return (ix - 1) * (s.nozs - 1) + iz; }
  double sigma(int32_t iz, int32_t ix) const { return s.cond[e(iz, ix) - 1]; }

  void build(int32_t kindex) {
    phy::fd_index_cal(s);
    phy::fd_dall_cal(s);
    phy::fd_zata_cal(s);
    phy::fd_alpha_cal(s);
    phy::fd_call_cal(s);
    phy::fd_coefficient_cal(s);
    phy::fd_cp_coefficient_cal(s, kindex);
  }
  // The diagonal without its boundary term: a_parameter k^2 + cp.
  double bulk_diagonal(int32_t row, int32_t kindex) const {
    const double k = s.k[kindex - 1];
    return s.a_parameter[row - 1] * k * k + s.cp[row - 1];
  }
  double boundary_term(int32_t row, int32_t kindex) const {
    return s.c_matrix(row, 3) - bulk_diagonal(row, kindex);
  }
};

// The earth unknowns of a surface given by its interface rows: column by
// column, rows aerow(ix)..nozs.
Earth_node earth_nodes(const Gr2d_dcr_new& grid, const std::vector<int32_t>& aerow) {
  Earth_node node;
  const int32_t nozs = grid.get_nz_node();
  for (int32_t ix = 1; ix <= grid.get_nx_node(); ++ix)
    for (int32_t iz = aerow[ix - 1]; iz <= nozs; ++iz) node.n.push_back((ix - 1) * nozs + iz);
  node.numnp = static_cast<int32_t>(node.n.size());
  node.map.assign(grid.get_n_node(), 0);
  for (int32_t i = 1; i <= node.numnp; ++i) node.map[node.n[i - 1] - 1] = i;
  return node;
}

// The same with an uneven surface: rows are earth unknowns.
struct Earth_case : Flat_case {
  std::vector<int32_t> aerow;
  Earth_node node;

  Earth_case(const std::vector<double>& xs, const std::vector<double>& zs,
             const std::vector<double>* cond, const std::vector<double>& k,
             std::vector<int32_t> rows)
      : Flat_case(xs, zs, cond, k), aerow(std::move(rows)), node(earth_nodes(grid, aerow)) {}

  int32_t u(int32_t iz, int32_t ix) const { return node.map[n(iz, ix) - 1]; }

  void build(int32_t kindex) {
    phy::fd_index_earth_cal(s, node, aerow);
    phy::fd_dall_earth_cal(s, node);
    phy::fd_zata_earth_cal(s, node, aerow);
    phy::fd_alpha_earth_cal(s, node, aerow);
    phy::fd_call_earth_cal(s, node, aerow);
    phy::fd_coefficient_earth_cal(s, node);
    phy::fd_cp_coefficient_earth_cal(s, kindex, node, aerow);
  }
};

// ---------------------------------------------------------------------------
// Flat ground
// ---------------------------------------------------------------------------

TEST(FdCoefficientsFlat, IndexCodesFollowTheNodePosition) {
  Flat_case c(nodes(4), nodes(4), nullptr, {0.1});
  phy::fd_index_cal(c.s);
  const std::vector<std::vector<int32_t>> expected = {
      {31, 2, 2, 32}, {6, 1, 1, 7}, {6, 1, 1, 7}, {51, 4, 4, 52}};
  ASSERT_EQ(c.s.fdindex.size(), 16u);
  for (int32_t iz = 1; iz <= 4; ++iz)
    for (int32_t ix = 1; ix <= 4; ++ix)
      EXPECT_EQ(c.s.fdindex[c.n(iz, ix) - 1], expected[iz - 1][ix - 1])
          << "node (" << iz << ", " << ix << ")";
}

// The small non-uniform grid of the hand-worked cases: dx = (1, 2), dz = (2, 1),
// elements e1 = (1, 1), e2 = (2, 1), e3 = (1, 2), e4 = (2, 2).
const std::vector<double> kSmallXs = {0, 1, 3};
const std::vector<double> kSmallZs = {0, 2, 3};
const std::vector<double> kSmallCond = {0.5, 2.0, 1.0, 0.25};

TEST(FdCoefficientsFlat, SpacingsAreOneWhereTheNeighbourIsMissing) {
  struct Case {
    int32_t iz, ix;
    double up, down, left, right;
  };
  const Case cases[] = {
      {1, 1, 1.0, 2.0, 1.0, 1.0}, {2, 2, 2.0, 1.0, 1.0, 2.0}, {3, 3, 1.0, 1.0, 2.0, 1.0},
      {2, 3, 2.0, 1.0, 2.0, 1.0}, {1, 2, 1.0, 2.0, 1.0, 2.0},
  };
  Flat_case c(kSmallXs, kSmallZs, &kSmallCond, {0.1});
  phy::fd_dall_cal(c.s);
  ASSERT_EQ(c.s.dall.rows(), 9);
  ASSERT_EQ(c.s.dall.cols(), 4);
  for (const Case& t : cases) {
    SCOPED_TRACE("node (" + std::to_string(t.iz) + ", " + std::to_string(t.ix) + ")");
    const int32_t n = c.n(t.iz, t.ix);
    EXPECT_EQ(c.s.dall(n, 1), t.up);
    EXPECT_EQ(c.s.dall(n, 2), t.down);
    EXPECT_EQ(c.s.dall(n, 3), t.left);
    EXPECT_EQ(c.s.dall(n, 4), t.right);
  }
}

TEST(FdCoefficientsFlat, HalfFacesOfAnInteriorNodeTakeTheirOwnElement) {
  Flat_case c(kSmallXs, kSmallZs, &kSmallCond, {0.1});
  c.build(1);
  const int32_t n = c.n(2, 2);  // TL = e1, BL = e2, TR = e3, BR = e4
  const double s1 = 0.5, s2 = 2.0, s3 = 1.0, s4 = 0.25;
  const double expected[8] = {s1 * 2, s1 * 1, s2 * 1, s2 * 1, s4 * 1, s4 * 2, s3 * 2, s3 * 2};
  for (int j = 1; j <= 8; ++j) EXPECT_DOUBLE_EQ(c.s.c_all(n, j), expected[j - 1]) << "column " << j;
  // (s_TL dx_l dz_u + s_TR dx_r dz_u + s_BL dx_l dz_d + s_BR dx_r dz_d) / 4
  EXPECT_DOUBLE_EQ(c.s.a_parameter[n - 1], (s1 * 1 * 2 + s3 * 2 * 2 + s2 * 1 * 1 + s4 * 2 * 1) / 4);
  EXPECT_DOUBLE_EQ(c.s.cl[n - 1], -(s1 * 2 + s2 * 1) / 2 / 1);
  EXPECT_DOUBLE_EQ(c.s.cr[n - 1], -(s3 * 2 + s4 * 1) / 2 / 2);
  EXPECT_DOUBLE_EQ(c.s.ct[n - 1], -(s1 * 1 + s3 * 2) / 2 / 2);
  EXPECT_DOUBLE_EQ(c.s.cb[n - 1], -(s2 * 1 + s4 * 2) / 2 / 1);
}

TEST(FdCoefficientsFlat, HomogeneousUnitGridGivesTheFivePointLaplacian) {
  const std::vector<double> one(16, 1.0);
  Flat_case c(nodes(5), nodes(5), &one, {0.5});
  c.build(1);
  for (int32_t ix = 2; ix <= 4; ++ix)
    for (int32_t iz = 2; iz <= 4; ++iz) {
      SCOPED_TRACE("node (" + std::to_string(iz) + ", " + std::to_string(ix) + ")");
      const int32_t n = c.n(iz, ix);
      EXPECT_EQ(c.s.cl[n - 1], -1.0);
      EXPECT_EQ(c.s.cr[n - 1], -1.0);
      EXPECT_EQ(c.s.ct[n - 1], -1.0);
      EXPECT_EQ(c.s.cb[n - 1], -1.0);
      EXPECT_EQ(c.s.cp[n - 1], 4.0);
      EXPECT_EQ(c.s.a_parameter[n - 1], 1.0);
      const double row[5] = {-1.0, -1.0, 4.25, -1.0, -1.0};
      for (int j = 1; j <= 5; ++j) EXPECT_EQ(c.s.c_matrix(n, j), row[j - 1]) << "column " << j;
    }
}

TEST(FdCoefficientsFlat, InteriorRowSumsToZeroWithoutWavenumber) {
  const std::vector<double> xs = {0, 0.5, 1.5, 2.0, 3.5, 4.0};
  const std::vector<double> zs = {0, 0.3, 1.0, 2.2, 4.0};
  Flat_case c(xs, zs, nullptr, {0.0});
  c.build(1);
  for (int32_t ix = 2; ix < c.s.noxs; ++ix)
    for (int32_t iz = 2; iz < c.s.nozs; ++iz) {
      const int32_t n = c.n(iz, ix);
      double sum = 0.0, scale = 0.0;
      for (int j = 1; j <= 5; ++j) {
        sum += c.s.c_matrix(n, j);
        scale += std::abs(c.s.c_matrix(n, j));
      }
      EXPECT_GT(c.s.c_matrix(n, 3), 0.0);
      EXPECT_NEAR(sum, 0.0, 1e-14 * scale) << "node (" << iz << ", " << ix << ")";
    }
}

TEST(FdCoefficientsFlat, TopLeftCornerSeesOnlyTheBottomRightElement) {
  Flat_case c(kSmallXs, kSmallZs, &kSmallCond, {0.4});
  c.build(1);
  const int32_t n = 1;
  for (int j : {1, 2, 3, 4, 7, 8}) EXPECT_EQ(c.s.c_all(n, j), 0.0) << "column " << j;
  EXPECT_DOUBLE_EQ(c.s.c_all(n, 5), 0.5 * 2);  // sigma(e1) dz(1)
  EXPECT_DOUBLE_EQ(c.s.c_all(n, 6), 0.5 * 1);  // sigma(e1) dx(1)
  EXPECT_EQ(c.s.cl[n - 1], 0.0);
  EXPECT_EQ(c.s.ct[n - 1], 0.0);
  EXPECT_EQ(c.s.c_matrix(n, 1), 0.0);
  EXPECT_EQ(c.s.c_matrix(n, 2), 0.0);
  EXPECT_LT(c.s.c_matrix(n, 4), 0.0);
  EXPECT_LT(c.s.c_matrix(n, 5), 0.0);
}

TEST(FdCoefficientsFlat, AlphaSwitchesToTheWavenumberAboveFifty) {
  Flat_case probe(nodes(5), nodes(3), nullptr, {1.0});
  const int32_t n = probe.n(3, 1);  // bottom-left corner
  const double r = probe.grid.get_node_distance()[n - 1];
  ASSERT_DOUBLE_EQ(r, std::sqrt(8.0));
  const double above = 50.001 / r, below = 49.999 / r;
  Flat_case c(nodes(5), nodes(3), nullptr, {above, below});
  phy::fd_alpha_cal(c.s);
  ASSERT_EQ(c.s.alpha.rows(), 15);
  ASSERT_EQ(c.s.alpha.cols(), 2);
  EXPECT_EQ(c.s.alpha(n, 1), above);
  const double ratio = c.s.alpha(n, 2) / below;
  EXPECT_GT(ratio, 1.0);
  EXPECT_LT(ratio, 1.02);
  const double x = below * r;
  EXPECT_NEAR(c.s.alpha(n, 2),
              below * varnel::bessel::besselk(1, x) / varnel::bessel::besselk(0, x), 1e-12);
  // Only edge nodes of the left, right and bottom sides have a factor.
  for (int32_t kk = 1; kk <= 2; ++kk) {
    EXPECT_EQ(c.s.alpha(c.n(2, 3), kk), 0.0);  // interior
    EXPECT_EQ(c.s.alpha(c.n(1, 3), kk), 0.0);  // top row
    EXPECT_GT(c.s.alpha(c.n(1, 1), kk), 0.0);  // top of the left column
    EXPECT_GT(c.s.alpha(c.n(3, 3), kk), 0.0);  // bottom row
  }
}

TEST(FdCoefficientsFlat, BoundaryAnglesAndTopRowWithoutBoundaryTerm) {
  const std::vector<double> xs = nodes(5), zs = {0, 1, 3};
  Flat_case c(xs, zs, nullptr, {0.3});
  c.build(1);
  const double xc = 2.0;
  for (int32_t ix = 1; ix <= 5; ++ix) {
    SCOPED_TRACE("column " + std::to_string(ix));
    const int32_t bottom = c.n(3, ix), top = c.n(1, ix);
    EXPECT_DOUBLE_EQ(c.s.zataz[bottom - 1], std::atan(std::abs(xc - xs[ix - 1]) / 3.0));
    if (ix > 1 && ix < 5) {
      EXPECT_EQ(c.s.zatax[bottom - 1], 0.0);
      EXPECT_EQ(c.s.c_matrix(top, 3), c.bulk_diagonal(top, 1));
      EXPECT_EQ(c.s.c_matrix(c.n(2, ix), 3), c.bulk_diagonal(c.n(2, ix), 1));
    } else {
      EXPECT_DOUBLE_EQ(c.s.zatax[bottom - 1], std::atan(3.0 / 2.0));
      EXPECT_GT(c.boundary_term(top, 1), 0.0);
    }
    EXPECT_EQ(c.s.zatax[top - 1], 0.0);
    EXPECT_EQ(c.s.zataz[top - 1], 0.0);
    EXPECT_GT(c.boundary_term(bottom, 1), 0.0);
  }
  for (int32_t ix : {1, 5}) {
    EXPECT_DOUBLE_EQ(c.s.zatax[c.n(2, ix) - 1], std::atan(1.0 / 2.0));
    EXPECT_EQ(c.s.zataz[c.n(2, ix) - 1], 0.0);
  }
}

TEST(FdCoefficientsFlat, BoundaryTermsOfTheEdgeNodesByHand) {
  // Wavenumbers chosen so that k r = 1 at the node of each case.
  const std::vector<double> k = {0.4, 1 / std::sqrt(9.25), 1 / std::sqrt(11.25), 1 / 1.5};
  struct Case {
    const char* where;
    int32_t iz, ix, kindex;
    double term_over_ratio;  // boundary term / (K1(1) / K0(1))
  };
  const Case cases[] = {
      {"top-left corner", 1, 1, 4, 1.0 / 3.0},
      {"top-right corner", 1, 3, 4, 2.0 / 3.0},
      {"left column", 2, 1, 1, 0.36},
      {"right column", 2, 3, 1, 0.27},
      {"bottom row", 3, 2, 2, 3.75 / 9.25},
      {"bottom-left corner", 3, 1, 3, 0.4},
      {"bottom-right corner", 3, 3, 3, 1.0 / 12.0},
      {"interior", 2, 2, 1, 0.0},
      {"top row", 1, 2, 1, 0.0},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.where);
    Flat_case c(kSmallXs, kSmallZs, &kSmallCond, k);
    c.build(t.kindex);
    const double expected = t.term_over_ratio * kRatioAtOne;
    EXPECT_NEAR(c.boundary_term(c.n(t.iz, t.ix), t.kindex), expected, 1e-6 * (1 + expected));
  }
}

TEST(FdCoefficientsFlat, OperatorIsSymmetricOnAHeterogeneousModel) {
  const std::vector<double> xs = {0, 0.5, 1.5, 2.0, 3.5, 4.0, 6.0};
  const std::vector<double> zs = {0, 0.3, 1.0, 2.2, 4.0, 7.0};
  Flat_case c(xs, zs, nullptr, {0.2});
  c.build(1);
  const int32_t nozs = c.s.nozs, noxs = c.s.noxs;
  for (int32_t ix = 1; ix <= noxs; ++ix)
    for (int32_t iz = 1; iz <= nozs; ++iz) {
      const int32_t n = c.n(iz, ix);
      if (ix < noxs) {
        EXPECT_NE(c.s.cr[n - 1], 0.0);
        EXPECT_DOUBLE_EQ(c.s.cr[n - 1], c.s.cl[n + nozs - 1]) << "node " << n;
        EXPECT_DOUBLE_EQ(c.s.c_matrix(n, 5), c.s.c_matrix(n + nozs, 1));
      } else {
        EXPECT_EQ(c.s.c_matrix(n, 5), 0.0);
      }
      if (iz < nozs) {
        EXPECT_NE(c.s.cb[n - 1], 0.0);
        EXPECT_DOUBLE_EQ(c.s.cb[n - 1], c.s.ct[n]) << "node " << n;
        EXPECT_DOUBLE_EQ(c.s.c_matrix(n, 4), c.s.c_matrix(n + 1, 2));
      } else {
        EXPECT_EQ(c.s.c_matrix(n, 4), 0.0);
      }
    }
}

TEST(FdCoefficientsFlat, DiagonalIsRefilledForEveryWavenumber) {
  const std::vector<double> k = {0.05, 0.7};
  Flat_case c(kSmallXs, kSmallZs, &kSmallCond, k);
  c.build(2);
  const Dmatrix second = c.s.c_matrix;
  phy::fd_cp_coefficient_cal(c.s, 1);
  Flat_case fresh(kSmallXs, kSmallZs, &kSmallCond, k);
  fresh.build(1);
  EXPECT_EQ(c.s.c_matrix, fresh.s.c_matrix);
  EXPECT_NE(c.s.c_matrix, second);
  for (int32_t n = 1; n <= 9; ++n)
    for (int j : {1, 2, 4, 5}) EXPECT_EQ(c.s.c_matrix(n, j), second(n, j));
}

// ---------------------------------------------------------------------------
// Lifetimes
// ---------------------------------------------------------------------------

// Geometry arrays survive a change of grid until the clean-up.
TEST(FdCoefficientsLifetime, GeometryIsComputedOnceUntilCleanup) {
  using Snapshot = std::function<std::vector<double>(const Dcr2dphy_state&)>;
  struct Case {
    const char* name;
    std::function<void(Dcr2dphy_state&)> op;
    Snapshot snapshot;
  };
  const Case cases[] = {
      {"fd_dall_cal", phy::fd_dall_cal, [](const Dcr2dphy_state& s) { return s.dall.storage(); }},
      {"fd_zata_cal", phy::fd_zata_cal, [](const Dcr2dphy_state& s) { return s.zatax; }},
      {"fd_alpha_cal", phy::fd_alpha_cal,
       [](const Dcr2dphy_state& s) { return s.alpha.storage(); }},
  };
  const std::vector<double> xs1 = nodes(5), xs2 = {0, 2, 3, 7, 8};
  const std::vector<double> zs1 = nodes(4), zs2 = {0, 0.5, 2, 5};
  for (const Case& t : cases) {
    SCOPED_TRACE(t.name);
    Flat_case c(xs1, zs1, nullptr, {0.3});
    t.op(c.s);
    const std::vector<double> first = t.snapshot(c.s);
    ASSERT_FALSE(first.empty());

    c.grid.finalize();
    c.grid.initialize(xs2, zs2);
    t.op(c.s);
    EXPECT_EQ(t.snapshot(c.s), first);

    phy::cleanup_physics_dcr2d(c.s);
    c.s.cond = patchwork(c.grid.get_n_element());
    c.s.k = {0.3};
    t.op(c.s);
    Flat_case other(xs2, zs2, nullptr, {0.3});
    t.op(other.s);
    EXPECT_NE(t.snapshot(c.s), first);
    EXPECT_EQ(t.snapshot(c.s), t.snapshot(other.s));
  }
}

TEST(FdCoefficientsLifetime, CouplingsAreKeptUntilReleased) {
  Flat_case c(kSmallXs, kSmallZs, &kSmallCond, {0.4});
  c.build(1);
  const std::vector<double> cl = c.s.cl;
  const Dmatrix c_all = c.s.c_all, dall = c.s.dall, alpha = c.s.alpha;

  for (double& v : c.s.cond) v *= 2;
  phy::fd_call_cal(c.s);
  phy::fd_coefficient_cal(c.s);
  EXPECT_EQ(c.s.c_all, c_all);
  EXPECT_EQ(c.s.cl, cl);

  phy::release_conductivity_arrays(c.s);
  EXPECT_TRUE(c.s.c_all.empty());
  EXPECT_TRUE(c.s.c_matrix.empty());
  for (const std::vector<double>* v :
       {&c.s.cl, &c.s.cr, &c.s.ct, &c.s.cb, &c.s.cp, &c.s.a_parameter})
    EXPECT_TRUE(v->empty());
  EXPECT_EQ(c.s.dall, dall);
  EXPECT_EQ(c.s.alpha, alpha);
  EXPECT_FALSE(c.s.fdindex.empty());
  EXPECT_FALSE(c.s.zatax.empty());
  EXPECT_FALSE(c.s.zataz.empty());
  EXPECT_FALSE(c.s.cond.empty());

  c.build(1);
  for (std::size_t i = 0; i < cl.size(); ++i) EXPECT_DOUBLE_EQ(c.s.cl[i], 2 * cl[i]);
}

TEST(FdCoefficientsLifetime, CleanupReleasesEveryArray) {
  Flat_case c(kSmallXs, kSmallZs, &kSmallCond, {0.4});
  c.build(1);
  phy::cleanup_physics_dcr2d(c.s);
  EXPECT_TRUE(c.s.fdindex.empty());
  for (const Dmatrix* m : {&c.s.dall, &c.s.alpha, &c.s.c_all, &c.s.c_matrix})
    EXPECT_TRUE(m->empty());
  for (const std::vector<double>* v : {&c.s.zatax, &c.s.zataz, &c.s.cl, &c.s.cr, &c.s.ct, &c.s.cb,
                                       &c.s.cp, &c.s.a_parameter, &c.s.cond, &c.s.k})
    EXPECT_TRUE(v->empty());
}

// ---------------------------------------------------------------------------
// Uneven ground
// ---------------------------------------------------------------------------

TEST(FdCoefficientsEarth, FlatSurfaceGivesTheFlatCouplings) {
  const std::vector<double> xs = {0, 1, 1.5, 3, 4, 6, 6.5};
  const std::vector<double> zs = {0, 0.5, 1.5, 2, 4};
  Flat_case flat(xs, zs, nullptr, {0.2});
  Earth_case earth(xs, zs, nullptr, {0.2}, std::vector<int32_t>(7, 1));
  flat.build(1);
  earth.build(1);
  ASSERT_EQ(earth.node.numnp, flat.s.numnp);
  EXPECT_EQ(earth.s.fdindex, flat.s.fdindex);
  EXPECT_EQ(earth.s.dall, flat.s.dall);
  EXPECT_EQ(earth.s.c_all, flat.s.c_all);
  EXPECT_EQ(earth.s.cl, flat.s.cl);
  EXPECT_EQ(earth.s.cr, flat.s.cr);
  EXPECT_EQ(earth.s.ct, flat.s.ct);
  EXPECT_EQ(earth.s.cb, flat.s.cb);
  EXPECT_EQ(earth.s.cp, flat.s.cp);
  EXPECT_EQ(earth.s.a_parameter, flat.s.a_parameter);
  for (int32_t n = 1; n <= flat.s.numnp; ++n)
    for (int j : {1, 2, 4, 5}) EXPECT_EQ(earth.s.c_matrix(n, j), flat.s.c_matrix(n, j));
  // The centre differs (xs(3) = 1.5 instead of the midpoint 3.25), so do the
  // angles of the bottom row.
  EXPECT_NE(earth.s.zataz, flat.s.zataz);
}

// The surface term of the end columns: the top corner term where the grid's
// top node is earth, and the side term from the surface node down.
TEST(FdCoefficientsEarth, EndColumnsTakeTheSurfaceTerm) {
  struct Case {
    const char* name;
    std::vector<int32_t> aerow;
  };
  const Case cases[] = {
      {"flat", {1, 1, 1, 1, 1, 1}},
      {"raised ends", {3, 2, 1, 1, 2, 4}},
      {"raised centre", {1, 1, 3, 3, 1, 1}},
  };
  const std::vector<double> xs = {0, 1, 2, 3, 4, 5}, zs = {0, 1, 2, 3, 4, 5, 6};
  const int32_t nx = 5, nz = 6;
  const double air = 1.0e-6;
  for (const Case& t : cases) {
    SCOPED_TRACE(t.name);
    // Air above the surface of each element column, a patchwork below.
    std::vector<double> cond = patchwork(nx * nz);
    for (int32_t ix = 1; ix <= nx; ++ix)
      for (int32_t iz = 1; iz < t.aerow[ix - 1]; ++iz) cond[(ix - 1) * nz + iz - 1] = air;
    Earth_case c(xs, zs, &cond, {0.5}, t.aerow);
    c.build(1);
    const double xc = xs[2], zc = zs[t.aerow[2] - 1];  // centre column 6 / 2 = 3
    for (int32_t ix : {1, 6}) {
      SCOPED_TRACE("column " + std::to_string(ix));
      const int32_t row = t.aerow[ix - 1];
      const int32_t ex = ix == 1 ? 1 : nx;  // the element column beside the edge
      const int32_t u = c.u(row, ix);
      ASSERT_NE(u, 0);
      const double below = c.sigma(row, ex) * (zs[row] - zs[row - 1]);
      const double above = row > 1 ? c.sigma(row - 1, ex) * (zs[row - 1] - zs[row - 2]) : 0.0;
      // The side angle is taken from row 2 down; the top row keeps 0.
      const double zeta =
          row > 1 ? std::atan(std::abs(zc - zs[row - 1]) / std::abs(xc - xs[ix - 1])) : 0.0;
      EXPECT_DOUBLE_EQ(c.s.zatax[u - 1], zeta);
      const double alpha = c.s.alpha(u, 1);
      EXPECT_GT(alpha, 0.0);
      const double side = (below + above) * alpha * std::cos(zeta) * 0.5;
      const double corner = row == 1 ? below * alpha * 0.5 : 0.0;
      EXPECT_NEAR(c.boundary_term(u, 1), side + corner, 1e-14);
      if (row == 1) EXPECT_NEAR(c.boundary_term(u, 1), below * alpha, 1e-14);  // twice
    }
  }
}

TEST(FdCoefficientsEarth, FlatOperatorTakesTheTopCornerTermOnce) {
  const std::vector<double> xs = nodes(6), zs = nodes(7);
  Flat_case flat(xs, zs, nullptr, {0.5});
  Earth_case earth(xs, zs, nullptr, {0.5}, std::vector<int32_t>(6, 1));
  flat.build(1);
  earth.build(1);
  const double c5 = flat.s.c_all(1, 5);
  EXPECT_NEAR(flat.boundary_term(1, 1), c5 * flat.s.alpha(1, 1) * 0.5, 1e-14);
  EXPECT_NEAR(earth.boundary_term(1, 1), c5 * earth.s.alpha(1, 1), 1e-14);
}

TEST(FdCoefficientsEarth, IndexCodesFollowTheSurface) {
  const std::vector<int32_t> aerow = {2, 1, 3, 5, 3, 2};
  Earth_case c(nodes(6), nodes(7), nullptr, {0.1}, aerow);
  phy::fd_index_earth_cal(c.s, c.node, c.aerow);
  const std::vector<std::vector<int32_t>> expected = {
      {0, 2, 0, 0, 0, 0}, {31, 1, 0, 0, 0, 32}, {6, 1, 2, 0, 2, 7},   {6, 1, 1, 0, 1, 7},
      {6, 1, 1, 2, 1, 7}, {6, 1, 1, 1, 1, 7},   {51, 4, 4, 4, 4, 52},
  };
  ASSERT_EQ(static_cast<int32_t>(c.s.fdindex.size()), c.node.numnp);
  for (int32_t iz = 1; iz <= 7; ++iz)
    for (int32_t ix = 1; ix <= 6; ++ix) {
      const int32_t u = c.u(iz, ix);
      EXPECT_EQ(u == 0 ? 0 : c.s.fdindex[u - 1], expected[iz - 1][ix - 1])
          << "node (" << iz << ", " << ix << ")";
    }
}

TEST(FdCoefficientsEarth, CentreIsTheSurfaceNodeOfColumnHalfNoxs) {
  const std::vector<double> xs = {0, 1, 2, 4, 7, 8, 9}, zs = {0, 1, 2, 4};
  const std::vector<int32_t> aerow = {1, 1, 2, 2, 2, 1, 1};
  Earth_case c(xs, zs, nullptr, {0.1}, aerow);
  std::vector<double> nd;
  phy::cal_node_distance_earth(c.grid, c.node, aerow, nd);
  ASSERT_EQ(static_cast<int32_t>(nd.size()), c.node.numnp);
  const double xc = 2.0, zc = 1.0;  // column 7 / 2 = 3 at its surface row 2
  struct Case {
    int32_t iz, ix;
  };
  for (const Case& t : {Case{1, 1}, Case{3, 1}, Case{4, 1}, Case{4, 4}, Case{4, 7}, Case{1, 7}}) {
    const double expected = std::hypot(xs[t.ix - 1] - xc, zs[t.iz - 1] - zc);
    EXPECT_DOUBLE_EQ(nd[c.u(t.iz, t.ix) - 1], expected) << "node (" << t.iz << ", " << t.ix << ")";
  }
  EXPECT_EQ(nd[c.u(2, 3) - 1], 0.0);  // not a boundary node

  phy::fd_zata_earth_cal(c.s, c.node, aerow);
  EXPECT_DOUBLE_EQ(c.s.zataz[c.u(4, 5) - 1], std::atan(5.0 / 3.0));
  EXPECT_DOUBLE_EQ(c.s.zatax[c.u(3, 7) - 1], std::atan(1.0 / 7.0));
  EXPECT_DOUBLE_EQ(c.s.zatax[c.u(4, 1) - 1], std::atan(3.0 / 2.0));
}

TEST(FdCoefficientsEarth, RaisedSurfaceFromTheMesherLeavesTheAirOut) {
  Param_dcr2d param;
  param.airresist = 1.0e6;
  Dcr2dphy_state phy_state;
  Gr2d_dcr_new grid;
  Model_fwd_dcr2d model{Model_env{&param, &phy_state}};
  model.set_grid(&grid);
  const std::vector<double> xs = nodes(7), cond = {0.01};
  const std::vector<double> zs = {0, 0.5, 1, 1.5, 2, 3, 4, 5, 6};
  Dmatrix topo(2, 2);
  topo(1, 1) = 0;
  topo(1, 2) = 2;  // node row 5
  topo(2, 1) = 6;
  topo(2, 2) = 2;
  model.initialize(xs, zs, "hy", &cond, &topo);

  Dcr2dphy_state& s = phy_state;
  s.grid = &grid;
  s.cond = model.val;
  s.k = {0.0};
  s.kmax = 1;
  s.numnp = grid.get_n_node();
  ASSERT_EQ(s.noxs, 7);
  ASSERT_EQ(s.nozs, 9);
  const Earth_node& node = model.node;
  const std::vector<int32_t>& aerow = model.aerow;
  ASSERT_EQ(node.numnp, 7 * 5);
  phy::fd_index_earth_cal(s, node, aerow);
  phy::fd_dall_earth_cal(s, node);
  phy::fd_zata_earth_cal(s, node, aerow);
  phy::fd_alpha_earth_cal(s, node, aerow);
  phy::fd_call_earth_cal(s, node, aerow);
  phy::fd_coefficient_earth_cal(s, node);
  phy::fd_cp_coefficient_earth_cal(s, 1, node, aerow);

  auto u = [&](int32_t iz, int32_t ix) { return node.map[(ix - 1) * 9 + iz - 1]; };
  for (int32_t ix = 1; ix <= 7; ++ix) {
    SCOPED_TRACE("column " + std::to_string(ix));
    for (int32_t iz = 1; iz <= 4; ++iz) EXPECT_EQ(u(iz, ix), 0);
    const int32_t top = u(5, ix);
    ASSERT_NE(top, 0);
    EXPECT_EQ(s.fdindex[top - 1], ix == 1 ? 31 : (ix == 7 ? 32 : 2));
    // Above the surface node lies air: its height is kept, the coupling is
    // tiny and stays in the stencil.
    EXPECT_EQ(s.dall(top, 1), 0.5);
    EXPECT_LT(s.ct[top - 1], 0.0);
    EXPECT_GT(s.ct[top - 1], -1.0e-5);
    EXPECT_EQ(s.c_matrix(top, 2), s.ct[top - 1]);
  }
  for (const Dmatrix* m : {&s.dall, &s.alpha, &s.c_all, &s.c_matrix}) EXPECT_EQ(m->rows(), 35);
  for (const std::vector<double>* v : {&s.zatax, &s.cl, &s.cp, &s.a_parameter})
    EXPECT_EQ(v->size(), 35u);
  // No wavenumber: the rows of the unknowns inside the earth sum to zero.
  for (int32_t ix = 2; ix <= 6; ++ix)
    for (int32_t iz = 6; iz <= 8; ++iz) {
      const int32_t r = u(iz, ix);
      double sum = 0.0;
      for (int j = 1; j <= 5; ++j) sum += s.c_matrix(r, j);
      EXPECT_NEAR(sum, 0.0, 1e-15);
    }
}

// ---------------------------------------------------------------------------
// Threads
// ---------------------------------------------------------------------------

struct Thread_count_guard {
  int saved = omp_get_max_threads();
  ~Thread_count_guard() { omp_set_num_threads(saved); }
};

TEST(FdCoefficientsThreads, ResultsDoNotDependOnTheThreadCount) {
  std::vector<double> xs, zs;
  for (int i = 0; i <= 40; ++i) xs.push_back(i * 0.5 + 0.01 * (i % 4));
  for (int i = 0; i <= 25; ++i) zs.push_back(i * (0.3 + 0.02 * i));
  std::vector<int32_t> aerow;
  for (int i = 0; i <= 40; ++i) aerow.push_back(1 + (i / 5) % 4);
  const std::vector<double> k = {0.01, 0.3, 2.0};
  Thread_count_guard guard;

  omp_set_num_threads(1);
  Flat_case flat1(xs, zs, nullptr, k);
  Earth_case earth1(xs, zs, nullptr, k, aerow);
  flat1.build(2);
  earth1.build(3);
  omp_set_num_threads(2);
  Flat_case flat2(xs, zs, nullptr, k);
  Earth_case earth2(xs, zs, nullptr, k, aerow);
  flat2.build(2);
  earth2.build(3);

  for (const auto& [a, b] : {std::pair{&flat1.s, &flat2.s}, std::pair{&earth1.s, &earth2.s}}) {
    EXPECT_EQ(a->c_all, b->c_all);
    EXPECT_EQ(a->c_matrix, b->c_matrix);
    EXPECT_EQ(a->alpha, b->alpha);
    EXPECT_EQ(a->cl, b->cl);
    EXPECT_EQ(a->cr, b->cr);
    EXPECT_EQ(a->ct, b->ct);
    EXPECT_EQ(a->cb, b->cb);
    EXPECT_EQ(a->a_parameter, b->a_parameter);
  }
}

}  // namespace
