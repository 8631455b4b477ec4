// Derivatives of the forward operator with respect to element conductivities.
//
// The strongest check needs no formula of the derivatives at all: the
// operator is linear in every element conductivity, so perturbing one element
// and re-assembling the band matrix gives its derivative exactly (up to
// rounding), and every entry that changes must be one of the element's twelve
// entries (finite differences) or of its 4 x 4 block (finite elements), with
// the same value. The other cases pin down values the text states outright:
// the unit grid, the positions that take a boundary term, fixed elements, and
// which triangles of a cut element belong to the element.
#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <utility>
#include <vector>

#include "core/forward/dcr2dphy_coef.hpp"
#include "core/forward/dcr2dphy_lapack.hpp"
#include "core/model/dcr2dphy_model.hpp"
#include "core/model/grid2d_dcr.hpp"
#include "core/numerics/array2.hpp"
#include "core/sensitivity/dcr2dphy_deriv.hpp"
#include "core/sensitivity/sen_dcr2d.hpp"
#include "core/survey/param_dcr2d.hpp"

namespace {

using varnel::Dmatrix;
using varnel::Imatrix;
using varnel::dcr2dphy::Dcr2dphy_derivatives;
using varnel::dcr2dphy::Dcr2dphy_state;
using varnel::dcr2dphy::Earth_node;
using varnel::dcr2dphy::Model_env;
using varnel::dcr2dphy::Model_inv_dcr2d;
using varnel::grid2d_dcr::Gr2d_dcr_new;
using varnel::param_dcr2d::Param_dcr2d;
namespace phy = varnel::dcr2dphy;
namespace lapack = varnel::dcr2dphy_lapack;
namespace sen = varnel::sen_dcr2d;

// One job's model with its grid, settings and solver state.
struct Job {
  Param_dcr2d param;
  Dcr2dphy_state s;
  Gr2d_dcr_new grid;
  Model_inv_dcr2d model{Model_env{&param, &s}};

  Job() { model.set_grid(&grid); }
  Job(const Job&) = delete;
  Job& operator=(const Job&) = delete;

  int32_t nozs() const { return grid.get_nz_node(); }
  int32_t noxs() const { return grid.get_nx_node(); }
  int32_t node(int32_t iz, int32_t ix) const { return (ix - 1) * nozs() + iz; }
  int32_t element(int32_t iz, int32_t ix) const { return (ix - 1) * grid.get_nz_element() + iz; }

  // What the forward solver sets before it assembles.
  void set_solver_inputs(const std::vector<double>& k) {
    phy::dcr2d_set_grid(s, grid);
    std::vector<double> cond;
    model.get_con_fwd(cond);
    phy::dcr2d_set_cond(s, cond);
    phy::dcr2d_set_noxs(s, grid.get_nx_node());
    phy::dcr2d_set_nozs(s, grid.get_nz_node());
    phy::dcr2d_set_numnp(s, grid.get_n_node());
    phy::dcr2d_set_kmax(s, static_cast<int32_t>(k.size()));
    s.k = k;
  }
};

// A flat-ground model, every element its own cell unless g2u is given.
void make_fd_model(Job& job, const std::vector<double>& xs, const std::vector<double>& zs,
                   const std::vector<double>& cond, const std::vector<int32_t>* g2u = nullptr) {
  job.model.initialize(xs, zs, "fd", &cond);
  job.model.initialize_inv(g2u);
}

// Element conductivities that differ from element to element.
std::vector<double> varied_cond(std::size_t n) {
  std::vector<double> c;
  for (std::size_t e = 0; e < n; ++e) c.push_back(0.01 * (1.0 + 0.37 * ((e * 7) % 11)));
  return c;
}

// A band matrix as a map of its non-zero entries (row, column) -> value.
using Entries = std::map<std::pair<int32_t, int32_t>, double>;

Entries band_entries(const Dmatrix& c, int32_t kl, int32_t ku, int32_t n) {
  Entries out;
  for (int32_t j = 1; j <= n; ++j)
    for (int32_t i = std::max(1, j - ku); i <= std::min(n, j + kl); ++i)
      if (const double v = c(kl + ku + 1 + i - j, j); v != 0.0) out[{i, j}] = v;
  return out;
}

// (b - a) / h over the union of both entry sets.
Entries difference(const Entries& a, const Entries& b, double h) {
  Entries out;
  for (const auto& [ij, v] : b) out[ij] += v / h;
  for (const auto& [ij, v] : a) out[ij] -= v / h;
  return out;
}

// The twelve entries of element e for wavenumber kk, keyed by (row, column);
// corners without a row (in the air) take no part.
Entries twelve_entries(const Dcr2dphy_derivatives& d, int32_t kk, int32_t e) {
  Entries out;
  for (int q = 1; q <= 4; ++q) {
    const int32_t row = d.idcm_dcr2d(3 * q, e);
    if (row == 0) continue;
    for (int j = 3 * q - 2; j <= 3 * q; ++j)
      if (const int32_t col = d.idcm_dcr2d(j, e); col != 0)
        out[{row, col}] += d.dcm_dcr2d[d.dcm_at(kk, j, e)];
  }
  return out;
}

// Largest |expected - measured| over the union of both sets, and the largest
// |expected|.
struct Mismatch {
  double error = 0.0, scale = 0.0;
  double relative() const { return scale > 0.0 ? error / scale : error; }
};

Mismatch compare(const Entries& expected, const Entries& measured) {
  Mismatch m;
  Entries all = measured;
  for (const auto& [ij, v] : expected) {
    all[ij];  // make sure every expected entry is visited
    m.scale = std::max(m.scale, std::abs(v));
  }
  for (const auto& [ij, v] : all) {
    const auto it = expected.find(ij);
    const double want = it == expected.end() ? 0.0 : it->second;
    m.error = std::max(m.error, std::abs(want - v));
  }
  return m;
}

// ---------------------------------------------------------------------------
// Finite-difference blocks against the assembled matrix
// ---------------------------------------------------------------------------

// A graded grid: uneven widths and heights so that no two of the four
// spacings of a node coincide.
const std::vector<double> kGradedXs = {-3.0, -1.5, 0.0, 1.0, 2.5, 4.5};
const std::vector<double> kGradedZs = {0.0, 0.5, 1.2, 2.0, 3.5};
// k = 0 (no boundary term), two ordinary wavenumbers and one with k r > 50
// everywhere on the boundary.
const std::vector<double> kWavenumbers = {0.0, 0.3, 1.7, 60.0};

constexpr double kStep = 1e-3;  // relative conductivity step
constexpr double kTolerance = 1e-6;

TEST(CoefficientDerivativesFlat, BlocksAreTheDerivativeOfTheAssembledMatrix) {
  Job job;
  make_fd_model(job, kGradedXs, kGradedZs, varied_cond(20));
  job.set_solver_inputs(kWavenumbers);
  Dcr2dphy_state& s = job.s;
  const int32_t n = s.numnp, kl = s.nozs + 1, ku = kl, ldab = 3 * s.nozs + 4;
  const auto kmax = static_cast<int32_t>(kWavenumbers.size());

  Dmatrix c;
  std::vector<Entries> base;
  for (int32_t kk = 1; kk <= kmax; ++kk) {
    lapack::fd_create_c_matrix_dgbtrf(c, kl, ku, ldab, n, kk, s);
    base.push_back(band_entries(c, kl, ku, n));
  }
  phy::dcr2d_fd_coefficient_derivative_cal(s, job.model, kWavenumbers);
  const Dcr2dphy_derivatives& d = s.deriv;

  double worst = 0.0;
  const std::vector<double> cond = s.cond;
  for (int32_t e = 1; e <= job.grid.get_n_element(); ++e) {
    const double h = cond[e - 1] * kStep;
    phy::release_conductivity_arrays(s);
    s.cond[e - 1] = cond[e - 1] + h;
    for (int32_t kk = 1; kk <= kmax; ++kk) {
      lapack::fd_create_c_matrix_dgbtrf(c, kl, ku, ldab, n, kk, s);
      const Entries measured = difference(base[kk - 1], band_entries(c, kl, ku, n), h);
      const Entries expected = twelve_entries(d, kk, e);
      ASSERT_EQ(expected.size(), 12u) << "element " << e;
      const Mismatch m = compare(expected, measured);
      EXPECT_LT(m.relative(), kTolerance) << "element " << e << ", wavenumber " << kk;
      worst = std::max(worst, m.relative());
    }
    s.cond[e - 1] = cond[e - 1];
  }
  std::printf("[ figures ] flat fd blocks vs re-assembled matrix: worst relative %.3e\n", worst);
}

// The rising surface of the topography cases: node row 5 on the left, row 3
// on the right, cut elements (4, 4) and (3, 5) in between.
void make_rising_model(Job& job) {
  const std::vector<double> nodes = {0, 1, 2, 3, 4, 5, 6};
  Dmatrix topo(2, 2);
  topo(1, 1) = 3, topo(1, 2) = 4, topo(2, 1) = 5, topo(2, 2) = 2;
  const std::vector<double> cond = {0.01};
  testing::internal::CaptureStdout();
  job.model.initialize(nodes, nodes, "hy", &cond, &topo);
  testing::internal::GetCapturedStdout();
  std::vector<int32_t> g2u;
  phy::cal_update_model_dcr(job.model, g2u);
  job.model.initialize_inv(&g2u);
}

// On the earth unknowns the blocks follow the operator as well, except the
// diagonal of the two end-column surface nodes (codes 31 and 32): there the
// derivative takes the corner term of flat ground (alpha d2 / 2), while the
// operator of uneven ground puts the side term on those nodes. The hybrid
// solver replaces the equations of those nodes by finite-element equations.
TEST(CoefficientDerivativesEarth, BlocksAreTheDerivativeOfTheAssembledMatrix) {
  Job job;
  make_rising_model(job);
  const Earth_node& node = job.model.node;
  const std::vector<int32_t>& aerow = job.model.aerow;
  ASSERT_GT(node.numnp, 0);
  job.set_solver_inputs(kWavenumbers);
  Dcr2dphy_state& s = job.s;
  const int32_t n = node.numnp, kl = s.nozs + 1, ku = kl, ldab = 3 * s.nozs + 4;
  const auto kmax = static_cast<int32_t>(kWavenumbers.size());

  Dmatrix c;
  std::vector<Entries> base;
  for (int32_t kk = 1; kk <= kmax; ++kk) {
    lapack::fd_create_c_matrix_earth_dgbtrf(c, kl, ku, ldab, n, kk, node, aerow, s);
    base.push_back(band_entries(c, kl, ku, n));
  }
  phy::dcr2d_fd_coefficient_derivative_earth_cal(s, job.model, kWavenumbers, node, aerow);
  const Dcr2dphy_derivatives& d = s.deriv;
  ASSERT_EQ(d.dcl.rows(), n);

  const int32_t end_left = node.map[job.node(aerow[0], 1) - 1];
  const int32_t end_right = node.map[job.node(aerow[6], 7) - 1];
  ASSERT_EQ(s.fdindex[end_left - 1], 31);
  ASSERT_EQ(s.fdindex[end_right - 1], 32);

  double worst = 0.0, worst_end = 0.0, worst_end_relative = 0.0;
  int checked = 0, air_corners = 0;
  const std::vector<double> cond = s.cond;
  for (int32_t e = 1; e <= job.grid.get_n_element(); ++e) {
    if (job.model.g2u[e - 1] == 0) {
      for (int j = 1; j <= 12; ++j) EXPECT_EQ(d.idcm_dcr2d(j, e), 0);
      continue;
    }
    // Corners in the air have no entries.
    const std::array<int32_t, 4> corner = {d.indextl[e - 1], d.indexbl[e - 1], d.indexbr[e - 1],
                                           d.indextr[e - 1]};
    for (int q = 1; q <= 4; ++q) {
      EXPECT_EQ(d.idcm_dcr2d(3 * q, e), node.map[corner[q - 1] - 1]) << "element " << e;
      if (node.map[corner[q - 1] - 1] != 0) continue;
      ++air_corners;
      for (int j = 3 * q - 2; j <= 3 * q; ++j) {
        EXPECT_EQ(d.idcm_dcr2d(j, e), 0) << "element " << e << ", entry " << j;
        for (int32_t kk = 1; kk <= kmax; ++kk) EXPECT_EQ(d.dcm_dcr2d[d.dcm_at(kk, j, e)], 0.0);
      }
    }

    const double h = cond[e - 1] * kStep;
    phy::release_conductivity_arrays(s);
    s.cond[e - 1] = cond[e - 1] + h;
    for (int32_t kk = 1; kk <= kmax; ++kk) {
      lapack::fd_create_c_matrix_earth_dgbtrf(c, kl, ku, ldab, n, kk, node, aerow, s);
      Entries measured = difference(base[kk - 1], band_entries(c, kl, ku, n), h);
      Entries expected = twelve_entries(d, kk, e);
      for (const int32_t r : {end_left, end_right})
        if (expected.count({r, r}) != 0) {
          const double gap = std::abs(expected[{r, r}] - measured[{r, r}]);
          worst_end = std::max(worst_end, gap);
          worst_end_relative = std::max(worst_end_relative, gap / std::abs(measured[{r, r}]));
          expected.erase({r, r});
          measured.erase({r, r});
        }
      const Mismatch m = compare(expected, measured);
      EXPECT_LT(m.relative(), kTolerance) << "element " << e << ", wavenumber " << kk;
      worst = std::max(worst, m.relative());
      ++checked;
    }
    s.cond[e - 1] = cond[e - 1];
  }
  EXPECT_GT(checked, 0);
  EXPECT_GT(air_corners, 0) << "the case should hold earth elements with a corner in the air";
  std::printf(
      "[ figures ] earth fd blocks vs re-assembled matrix: worst relative %.3e over %d blocks; "
      "end-column surface diagonal differs by up to %.3e (%.3e relative)\n",
      worst, checked, worst_end, worst_end_relative);
}

// ---------------------------------------------------------------------------
// Finite-element blocks against the assembled stiffness and mass
// ---------------------------------------------------------------------------

TEST(CoefficientDerivativesFe, BlocksAreTheDerivativeOfStiffnessPlusMass) {
  Job job;
  make_rising_model(job);
  Model_inv_dcr2d& m = job.model;
  ASSERT_GT(m.nfe, 0);
  const int32_t n = m.node.numnp, nozs = job.nozs();
  const int32_t kl = nozs + 1, ku = kl, ldab = 3 * nozs + 4;
  const std::vector<double> k = {0.0, 0.4, 2.5};

  sen::Sen_state st;
  sen::compute_fe_dk(st, m, k);
  ASSERT_EQ(st.dktlm.size(), k.size());
  ASSERT_EQ(st.nindex.rows(), m.nfe);

  auto stiffness_plus_mass = [&](double kk) {
    Dmatrix afe, cfe;
    lapack::compute_afe_earth_dgbtrf(afe, kl, ku, ldab, n, m);
    lapack::compute_cfe_earth_dgbtrf(cfe, kl, ku, ldab, n, m);
    for (std::size_t q = 0; q < afe.size(); ++q) afe.data()[q] += kk * kk * cfe.data()[q];
    return band_entries(afe, kl, ku, n);
  };

  double worst = 0.0;
  int cut = 0;
  std::vector<double> con;
  m.get_con_inv(con);
  const std::vector<double> original = con;
  for (int32_t i = 1; i <= m.nfe; ++i) {
    const int32_t e = m.fecell[i - 1];
    const int32_t cell = m.g2u[e - 1];
    ASSERT_NE(cell, 0) << "finite-element element " << e << " is not updated";
    if (m.sval[e - 1] != m.val[e - 1]) ++cut;
    // The corners as unknowns, TL, BL, BR, TR.
    std::array<int32_t, 4> corner{};
    lapack::node_index(corner, e, job.grid);
    for (int q = 1; q <= 4; ++q) EXPECT_EQ(st.nindex(i, q), m.node.map[corner[q - 1] - 1]);

    for (std::size_t kk = 0; kk < k.size(); ++kk) {
      m.set_con_inv(original);
      const Entries before = stiffness_plus_mass(k[kk]);
      const double h = original[cell - 1] * kStep;
      con = original;
      con[cell - 1] += h;
      m.set_con_inv(con);
      const Entries measured = difference(before, stiffness_plus_mass(k[kk]), h);

      const std::array<const Dmatrix*, 4> rows = {&st.dktlm[kk], &st.dkblm[kk], &st.dkbrm[kk],
                                                  &st.dktrm[kk]};
      Entries expected;
      for (int q = 1; q <= 4; ++q) {
        const int32_t r = st.nindex(i, q);
        if (r == 0) continue;
        for (int p = 1; p <= 4; ++p)
          if (const int32_t col = st.nindex(i, p); col != 0)
            expected[{r, col}] += (*rows[q - 1])(i, p);
      }
      const Mismatch mm = compare(expected, measured);
      EXPECT_LT(mm.relative(), kTolerance) << "element " << e << ", k = " << k[kk];
      worst = std::max(worst, mm.relative());
    }
  }
  m.set_con_inv(original);
  EXPECT_GT(cut, 0) << "the case should hold cut elements with air above";
  std::printf("[ figures ] fe blocks vs re-assembled stiffness + k^2 mass: worst relative %.3e\n",
              worst);
}

// Which triangles count: an upper conductivity more than 1 % (in single
// precision, 0.009999999776...) away from the lower one marks air, and then
// only the lower triangle belongs to the element. On the unit grid a
// triangle has area 1/2, and the mass entries of a triangle sum to its area.
TEST(CoefficientDerivativesFe, AirUpperTriangleIsLeftOut) {
  struct Case {
    const char* name;
    double contrast;  // sval / val - 1
    bool lower_only;
  };
  const Case cases[] = {
      {"equal", 0.0, false},
      {"just below one percent", 0.0099, false},
      {"below the single-precision threshold", 0.009999999, false},
      {"above single precision, below double 0.01", 0.0099999999, true},
      {"one percent exactly", 0.01, true},
      {"lower by two percent", -0.02, true},
      {"air", 1.0e4, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Job job;
    make_rising_model(job);
    Model_inv_dcr2d& m = job.model;
    const int32_t e = m.fecell[0];  // element (5, 1), wholly earth
    ASSERT_EQ(m.sval[e - 1], m.val[e - 1]);
    const int32_t etype = m.elem[e - 1];
    ASSERT_TRUE(etype == 2 || etype == 3);
    m.val[e - 1] = 1.0;
    m.sval[e - 1] = 1.0 + c.contrast;

    sen::Derivative_matrix da, dc;
    sen::compute_fe_da_dc(da, dc, m);
    ASSERT_EQ(da.n, m.nfe);
    double mass = 0.0;
    for (const Dmatrix* r : {&dc.tl, &dc.bl, &dc.br, &dc.tr})
      for (int p = 1; p <= 4; ++p) mass += (*r)(1, p);
    EXPECT_NEAR(mass, c.lower_only ? 0.5 : 1.0, 1e-15);

    // The corner only the upper triangle has: TR for type 2, TL for type 3.
    const Dmatrix& upper_only = etype == 2 ? da.tr : da.tl;
    double row = 0.0;
    for (int p = 1; p <= 4; ++p) row += std::abs(upper_only(1, p));
    if (c.lower_only) {
      EXPECT_EQ(row, 0.0);
    } else {
      EXPECT_GT(row, 0.5);
    }
  }
}

// ---------------------------------------------------------------------------
// Values the text states
// ---------------------------------------------------------------------------

const std::vector<double> kUnit5 = {0, 1, 2, 3, 4};

TEST(CoefficientDerivativesFlat, UnitGridInteriorValues) {
  Job job;
  make_fd_model(job, kUnit5, kUnit5, {0.02});
  const std::vector<double> k = {0.0, 0.5};
  phy::dcr2d_fd_coefficient_derivative_cal(job.s, job.model, k);
  const Dcr2dphy_derivatives& d = job.s.deriv;

  const int32_t n = job.node(3, 3);
  for (int j = 1; j <= 2; ++j) {
    EXPECT_EQ(d.dcl(n, j), -0.5);
    EXPECT_EQ(d.dcr(n, j), -0.5);
    EXPECT_EQ(d.dct(n, j), -0.5);
    EXPECT_EQ(d.dcb(n, j), -0.5);
  }
  for (int p = 1; p <= 4; ++p) {
    EXPECT_EQ(d.dcp(n, p), 1.0);
    EXPECT_EQ(d.da(n, p), 0.25);
  }

  // Element (2, 2) has four interior corners: each corner row of its twelve
  // entries sums to 0 at k = 0 and to da k^2 = 0.0625 at k = 0.5.
  const int32_t e = job.element(2, 2);
  const std::array<int32_t, 4> corners = {job.node(2, 2), job.node(3, 2), job.node(3, 3),
                                          job.node(2, 3)};
  for (int32_t kk = 1; kk <= 2; ++kk)
    for (int q = 1; q <= 4; ++q) {
      EXPECT_EQ(d.idcm_dcr2d(3 * q, e), corners[q - 1]);
      double sum = 0.0;
      for (int j = 3 * q - 2; j <= 3 * q; ++j) sum += d.dcm_dcr2d[d.dcm_at(kk, j, e)];
      EXPECT_NEAR(sum, kk == 1 ? 0.0 : 0.0625, 1e-15) << "corner " << q << ", wavenumber " << kk;
    }
}

// The positions of a node that receive the derivative of the Bessel boundary
// term are the elements touching its boundary faces: none on the top row and
// inside, only TL and TR on the bottom row.
TEST(CoefficientDerivativesFlat, BoundaryTermPositionsByNodeClass) {
  Job job;
  make_fd_model(job, kGradedXs, kGradedZs, varied_cond(20));
  const std::vector<double> k = {0.3, 1.7};
  phy::dcr2d_fd_coefficient_derivative_cal(job.s, job.model, k);
  const Dcr2dphy_state& s = job.s;
  const Dcr2dphy_derivatives& d = s.deriv;
  const int32_t noxs = job.noxs(), nozs = job.nozs();

  struct Node_class {
    const char* name;
    int32_t iz, ix;
    int32_t code;
    std::array<bool, 4> term;  // TL, BL, BR, TR
  };
  const Node_class classes[] = {
      {"interior", 2, 3, 1, {false, false, false, false}},
      {"top row", 1, 3, 2, {false, false, false, false}},
      {"top-left corner", 1, 1, 31, {false, false, true, false}},
      {"top-right corner", 1, noxs, 32, {false, true, false, false}},
      {"bottom row", nozs, 3, 4, {true, false, false, true}},
      {"bottom-left corner", nozs, 1, 51, {false, false, false, true}},
      {"bottom-right corner", nozs, noxs, 52, {true, false, false, false}},
      {"left column", 3, 1, 6, {false, false, true, true}},
      {"right column", 2, noxs, 7, {true, true, false, false}},
  };
  for (const Node_class& c : classes) {
    SCOPED_TRACE(c.name);
    const int32_t n = job.node(c.iz, c.ix);
    ASSERT_EQ(s.fdindex[n - 1], c.code);
    for (int32_t kk = 1; kk <= 2; ++kk) {
      const double kv = k[kk - 1];
      for (int p = 1; p <= 4; ++p) {
        const double term = d.dcpm[kk - 1](n, p) - (d.da(n, p) * kv * kv + d.dcp(n, p));
        if (c.term[p - 1]) {
          EXPECT_GT(term, 1e-6) << "position " << p;
        } else {
          EXPECT_EQ(term, 0.0) << "position " << p;
        }
      }
    }
  }
}

// Couplings to a neighbour outside the grid have zero derivatives.
TEST(CoefficientDerivativesFlat, CouplingsAcrossTheGridEdgeAreZero) {
  Job job;
  make_fd_model(job, kGradedXs, kGradedZs, varied_cond(20));
  phy::dcr2d_fd_coefficient_derivative_cal(job.s, job.model, {0.3});
  const Dcr2dphy_derivatives& d = job.s.deriv;
  const int32_t noxs = job.noxs(), nozs = job.nozs();
  for (int32_t ix = 1; ix <= noxs; ++ix)
    for (int32_t iz = 1; iz <= nozs; ++iz) {
      const int32_t n = job.node(iz, ix);
      for (int j = 1; j <= 2; ++j) {
        EXPECT_EQ(d.dcl(n, j) == 0.0, ix == 1) << iz << ", " << ix;
        EXPECT_EQ(d.dcr(n, j) == 0.0, ix == noxs) << iz << ", " << ix;
        EXPECT_EQ(d.dct(n, j) == 0.0, iz == 1) << iz << ", " << ix;
        EXPECT_EQ(d.dcb(n, j) == 0.0, iz == nozs) << iz << ", " << ix;
      }
    }
}

TEST(CoefficientDerivativesFlat, FixedElementsGetNoEntries) {
  Job job;
  std::vector<int32_t> g2u(20);
  for (int32_t e = 1; e <= 20; ++e) g2u[e - 1] = e;
  const std::vector<int32_t> fixed = {1, 7, 20};  // a corner, an interior and the last element
  for (int32_t e : fixed) g2u[e - 1] = 0;
  for (int32_t e = 1, c = 0; e <= 20; ++e)
    if (g2u[e - 1] != 0) g2u[e - 1] = ++c;
  make_fd_model(job, kGradedXs, kGradedZs, varied_cond(20), &g2u);
  const std::vector<double> k = {0.1, 1.0};
  phy::dcr2d_fd_coefficient_derivative_cal(job.s, job.model, k);
  const Dcr2dphy_derivatives& d = job.s.deriv;

  for (int32_t e = 1; e <= 20; ++e) {
    const bool is_fixed = std::find(fixed.begin(), fixed.end(), e) != fixed.end();
    SCOPED_TRACE(e);
    EXPECT_EQ(d.indextl[e - 1] == 0, is_fixed);
    EXPECT_EQ(d.indexbl[e - 1] == 0, is_fixed);
    EXPECT_EQ(d.indexbr[e - 1] == 0, is_fixed);
    EXPECT_EQ(d.indextr[e - 1] == 0, is_fixed);
    int zero_cols = 0, zero_vals = 0;
    for (int j = 1; j <= 12; ++j) {
      zero_cols += d.idcm_dcr2d(j, e) == 0;
      for (int32_t kk = 1; kk <= 2; ++kk) zero_vals += d.dcm_dcr2d[d.dcm_at(kk, j, e)] == 0.0;
    }
    EXPECT_EQ(zero_cols, is_fixed ? 12 : 0);
    if (is_fixed) {
      EXPECT_EQ(zero_vals, 24);
    } else {
      EXPECT_LT(zero_vals, 24);
    }
  }
}

// ---------------------------------------------------------------------------
// Threads
// ---------------------------------------------------------------------------

struct Thread_count_guard {
  int saved = omp_get_max_threads();
  ~Thread_count_guard() { omp_set_num_threads(saved); }
};

TEST(CoefficientDerivativesThreads, ResultsDoNotDependOnTheThreadCount) {
  Thread_count_guard guard;
  std::vector<double> xs, zs;
  for (int i = 0; i <= 30; ++i) xs.push_back(i * 0.5 + 0.01 * (i % 3));
  for (int i = 0; i <= 15; ++i) zs.push_back(i * (0.3 + 0.05 * i));
  const std::vector<double> k = {0.01, 0.3, 2.0};

  struct Result {
    std::vector<double> dcm;
    Imatrix idcm;
    sen::Sen_state fe;
  };
  auto run = [&](int threads) {
    omp_set_num_threads(threads);
    Result r;
    Job flat;
    make_fd_model(flat, xs, zs, varied_cond((xs.size() - 1) * (zs.size() - 1)));
    phy::dcr2d_fd_coefficient_derivative_cal(flat.s, flat.model, k);
    r.dcm = flat.s.deriv.dcm_dcr2d;
    r.idcm = flat.s.deriv.idcm_dcr2d;
    Job hy;
    make_rising_model(hy);
    sen::compute_fe_dk(r.fe, hy.model, k);
    return r;
  };
  const Result one = run(1), two = run(2);
  EXPECT_EQ(one.dcm, two.dcm);
  EXPECT_EQ(one.idcm, two.idcm);
  EXPECT_EQ(one.fe.nindex, two.fe.nindex);
  for (std::size_t kk = 0; kk < k.size(); ++kk) {
    EXPECT_EQ(one.fe.dktlm[kk], two.fe.dktlm[kk]);
    EXPECT_EQ(one.fe.dktrm[kk], two.fe.dktrm[kk]);
    EXPECT_EQ(one.fe.dkbrm[kk], two.fe.dkbrm[kk]);
    EXPECT_EQ(one.fe.dkblm[kk], two.fe.dkblm[kk]);
  }
}

}  // namespace
