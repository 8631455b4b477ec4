// Banded assembly and the potentials: the band layout of the finite-difference
// operator, the element, mass and boundary matrices of the finite elements,
// the hybrid replacement of the equations at the surface, the dispatch on the
// solver code, the failure on a singular system, and solutions checked
// against the transformed potential of a point source on a half-space.
//
// Band storage: A(i, j) is ab(kl + ku + 1 + i - j, j) with kl = ku = nozs + 1.
// Node (iz, ix) has number (ix - 1) nozs + iz.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "core/error.hpp"
#include "core/forward/dcr2dphy_coef.hpp"
#include "core/forward/dcr2dphy_lapack.hpp"
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
namespace lap = varnel::dcr2dphy_lapack;

// One job's model with its grid; the model refers to both.
struct Job {
  Param_dcr2d param;
  Dcr2dphy_state phy;
  Gr2d_dcr_new grid;
  Model_fwd_dcr2d model{Model_env{&param, &phy}};

  Job(const std::vector<double>& xs, const std::vector<double>& zs, const char* approx,
      double cond) {
    model.set_grid(&grid);
    const std::vector<double> c = {cond};
    model.initialize(xs, zs, approx, &c);
  }
  Job(const Job&) = delete;
  Job& operator=(const Job&) = delete;

  int nozs() const { return grid.get_nz_node(); }
  int noxs() const { return grid.get_nx_node(); }
  int numnp() const { return grid.get_n_node(); }
  int kl() const { return nozs() + 1; }
  int ldab() const { return 3 * nozs() + 4; }
  int node(int iz, int ix) const { return (ix - 1) * nozs() + iz; }
  int element(int iz, int ix) const { return (ix - 1) * grid.get_nz_element() + iz; }

  // Earth nodes from the interface row of every node column.
  void set_surface(const std::vector<int32_t>& aerow) {
    model.aerow = aerow;
    varnel::dcr2dphy::create_list_of_earth_node(model, noxs(), nozs());
  }

  // The module state as the solvers set it before the coefficient operations.
  void prepare_state(const std::vector<double>& k) {
    varnel::dcr2dphy::cleanup_physics_dcr2d(phy);
    phy.grid = &grid;
    model.get_con_fwd(phy.cond);
    phy.k = k;
    phy.kmax = static_cast<int32_t>(k.size());
    phy.numnp = numnp();
    phy.noxs = noxs();
    phy.nozs = nozs();
  }
};

std::vector<double> range(double first, double last, double step) {
  std::vector<double> v;
  for (double x = first; x <= last + 1e-9; x += step) v.push_back(x);
  return v;
}

// A(i, j) of a band matrix with kl = ku; 0 outside the band.
double at(const Dmatrix& ab, int kl, int i, int j) {
  if (std::abs(i - j) > kl) return 0.0;
  return ab(2 * kl + 1 + i - j, j);
}

void expect_symmetric(const Dmatrix& ab, int kl, double tol) {
  const int n = ab.cols();
  for (int i = 1; i <= n; ++i)
    for (int j = i + 1; j <= std::min(n, i + kl); ++j)
      EXPECT_NEAR(at(ab, kl, i, j), at(ab, kl, j, i), tol) << "A(" << i << ", " << j << ")";
}

// The number of wavenumber blocks times the sources: b has one column per pair.
Dmatrix unit_sources(int n, const std::vector<int>& rows, int kmax) {
  const int ns = static_cast<int>(rows.size());
  Dmatrix b(n, ns * kmax, 0.0);
  for (int kk = 1; kk <= kmax; ++kk)
    for (int e = 1; e <= ns; ++e) b(rows[e - 1], e + ns * (kk - 1)) = 1.0;
  return b;
}

// --- element numbering --------------------------------------------------

TEST(BandAssemblyElements, CornersAndTrianglesOfAnElement) {
  // 4 node rows: element (2, 3) has TL = (3 - 1) 4 + 2 = 10.
  Job job(range(0, 4, 1), range(0, 3, 1), "fe", 1.0);
  const int e = job.element(2, 3);
  std::array<int32_t, 4> corners{};
  lap::node_index(corners, e, job.grid);
  EXPECT_EQ(corners, (std::array<int32_t, 4>{10, 11, 15, 14}));  // TL, BL, BR, TR

  struct Case {
    int etype;
    std::array<int32_t, 3> upper, lower;
  };
  const Case cases[] = {
      {2, {10, 15, 14}, {10, 11, 15}},  // split TL-BR
      {3, {10, 11, 14}, {14, 11, 15}},  // split BL-TR
  };
  for (const Case& c : cases) {
    std::array<int32_t, 3> upper{}, lower{};
    lap::fe_node_index(upper, lower, e, c.etype, job.grid);
    EXPECT_EQ(upper, c.upper) << "type " << c.etype;
    EXPECT_EQ(lower, c.lower) << "type " << c.etype;
  }
}

TEST(BandAssemblyElements, NeighbourBlockOfANode) {
  // 3 node rows, 4 node columns.
  Job job(range(0, 3, 1), range(0, 2, 1), "fe", 1.0);
  struct Case {
    int node;
    std::vector<int32_t> block;
  };
  const Case cases[] = {
      {1, {1, 2, 4, 5}},                    // top-left corner
      {12, {8, 9, 11, 12}},                 // bottom-right corner
      {4, {1, 2, 4, 5, 7, 8}},              // top edge
      {11, {7, 8, 9, 10, 11, 12}},          // right edge
      {5, {1, 2, 3, 4, 5, 6, 7, 8, 9}},     // interior
      {8, {4, 5, 6, 7, 8, 9, 10, 11, 12}},  // interior
  };
  for (const Case& c : cases) {
    std::vector<int32_t> block = {99};
    lap::compute_fe_jindex(c.node, block, job.grid);
    EXPECT_EQ(block, c.block) << "node " << c.node;
  }
}

// --- element matrices ---------------------------------------------------

// One element of unit size (nodes TL 1, BL 2, TR 3, BR 4); only one of its
// triangles carries conductivity 1, so the assembled matrices are that
// triangle's: stiffness 1, -0.5, -0.5 on the right-angle node's row, 0.5 on
// the other diagonal entries and 0 between the two acute vertices; mass 1/12
// on the diagonal and 1/24 off it.
TEST(BandAssemblyTriangles, UnitRightTriangle) {
  struct Case {
    const char* name;
    int etype;
    bool upper;
    int right_angle, acute1, acute2, unused;
  };
  const Case cases[] = {
      {"type 2 lower", 2, false, 2, 1, 4, 3},
      {"type 2 upper", 2, true, 3, 1, 4, 2},
      {"type 3 upper", 3, true, 1, 2, 3, 4},
      {"type 3 lower", 3, false, 4, 2, 3, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Job job({0.0, 1.0}, {0.0, 1.0}, "fe", 1.0);
    job.model.elem = {c.etype};
    job.model.sval = {c.upper ? 1.0 : 0.0};
    job.model.val = {c.upper ? 0.0 : 1.0};
    const int kl = job.kl(), n = job.numnp();
    Dmatrix afe, cfe;
    lap::compute_afe_dgbtrf(afe, kl, kl, job.ldab(), n, job.model);
    lap::compute_cfe_dgbtrf(cfe, kl, kl, job.ldab(), n, job.model);
    ASSERT_EQ(afe.rows(), job.ldab());
    ASSERT_EQ(afe.cols(), n);
    const int ra = c.right_angle, a1 = c.acute1, a2 = c.acute2;
    EXPECT_DOUBLE_EQ(at(afe, kl, ra, ra), 1.0);
    EXPECT_DOUBLE_EQ(at(afe, kl, ra, a1), -0.5);
    EXPECT_DOUBLE_EQ(at(afe, kl, ra, a2), -0.5);
    EXPECT_DOUBLE_EQ(at(afe, kl, a1, a1), 0.5);
    EXPECT_DOUBLE_EQ(at(afe, kl, a2, a2), 0.5);
    EXPECT_NEAR(at(afe, kl, a1, a2), 0.0, 1e-15);
    EXPECT_DOUBLE_EQ(at(cfe, kl, ra, ra), 1.0 / 12.0);
    EXPECT_DOUBLE_EQ(at(cfe, kl, a1, a1), 1.0 / 12.0);
    EXPECT_DOUBLE_EQ(at(cfe, kl, ra, a1), 1.0 / 24.0);
    EXPECT_DOUBLE_EQ(at(cfe, kl, a1, a2), 1.0 / 24.0);
    for (int j = 1; j <= n; ++j) {
      EXPECT_EQ(at(afe, kl, c.unused, j), 0.0) << "column " << j;
      EXPECT_EQ(at(cfe, kl, c.unused, j), 0.0) << "column " << j;
    }
  }
}

// On an uneven grid with both element codes and varied conductivities, the
// stiffness is symmetric and annihilates constants, and the mass matrix is
// symmetric with a total equal to the integral of the conductivity.
TEST(BandAssemblyTriangles, StiffnessAndMassOfAGrid) {
  const std::vector<double> xs = {0.0, 0.7, 1.9, 2.4, 4.0};
  const std::vector<double> zs = {0.0, 0.5, 1.6, 3.0};
  Job job(xs, zs, "fe", 1.0);
  const int noelem = job.grid.get_n_element();
  double integral = 0.0;
  for (int e = 1; e <= noelem; ++e) {
    job.model.elem[e - 1] = e % 2 == 0 ? 2 : 3;
    job.model.val[e - 1] = 0.1 * e;
    job.model.sval[e - 1] = 2.0 + 0.3 * e;
  }
  for (int ix = 1; ix <= 4; ++ix)
    for (int iz = 1; iz <= 3; ++iz) {
      const int e = job.element(iz, ix);
      const double area = (xs[ix] - xs[ix - 1]) * (zs[iz] - zs[iz - 1]);
      integral += 0.5 * area * (job.model.val[e - 1] + job.model.sval[e - 1]);
    }
  const int kl = job.kl(), n = job.numnp();
  Dmatrix afe, cfe;
  lap::compute_afe_dgbtrf(afe, kl, kl, job.ldab(), n, job.model);
  lap::compute_cfe_dgbtrf(cfe, kl, kl, job.ldab(), n, job.model);
  expect_symmetric(afe, kl, 1e-13);
  expect_symmetric(cfe, kl, 1e-13);
  double total = 0.0;
  for (int i = 1; i <= n; ++i) {
    double row = 0.0;
    for (int j = std::max(1, i - kl); j <= std::min(n, i + kl); ++j) {
      row += at(afe, kl, i, j);
      total += at(cfe, kl, i, j);
    }
    EXPECT_NEAR(row, 0.0, 1e-12) << "row " << i;
    EXPECT_GT(at(afe, kl, i, i), 0.0) << "row " << i;
  }
  EXPECT_NEAR(total, integral, 1e-12);
}

// The earth variants number the rows and columns by unknown and leave out the
// nodes in the air.
TEST(BandAssemblyTriangles, EarthVariantsDropAirNodes) {
  Job job(range(0, 2, 1), {0.0, 1.0, 2.5}, "fe", 1.0);  // 3 x 3 nodes
  for (int e = 1; e <= 4; ++e) {
    job.model.elem[e - 1] = e == 2 ? 2 : 3;
    job.model.val[e - 1] = 0.5 + e;
    job.model.sval[e - 1] = 0.25 * e;
  }
  job.set_surface({2, 1, 1});  // node 1 is in the air
  const Earth_node& node = job.model.node;
  ASSERT_EQ(node.numnp, 8);
  const int kl = job.kl(), n = job.numnp();
  struct Case {
    const char* name;
    void (*full)(Dmatrix&, int32_t, int32_t, int32_t, int32_t, const Model_fwd_dcr2d&);
    void (*earth)(Dmatrix&, int32_t, int32_t, int32_t, int32_t, const Model_fwd_dcr2d&);
  };
  const Case cases[] = {{"stiffness", lap::compute_afe_dgbtrf, lap::compute_afe_earth_dgbtrf},
                        {"mass", lap::compute_cfe_dgbtrf, lap::compute_cfe_earth_dgbtrf}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Dmatrix full, earth;
    c.full(full, kl, kl, job.ldab(), n, job.model);
    c.earth(earth, kl, kl, job.ldab(), node.numnp, job.model);
    ASSERT_EQ(earth.cols(), node.numnp);
    for (int i = 1; i <= node.numnp; ++i)
      for (int j = std::max(1, i - kl); j <= std::min(node.numnp, i + kl); ++j)
        EXPECT_DOUBLE_EQ(at(earth, kl, i, j), at(full, kl, node.n[i - 1], node.n[j - 1]))
            << "unknowns " << i << ", " << j;
  }
}

// --- boundary matrix of "fe" ---------------------------------------------

// beta L / 6 of one boundary edge.
double edge_term(double sigma, double k, double r, double cosine, double length) {
  const double x = k * r;
  double beta = sigma * k * cosine;
  if (x <= 50.0) beta *= varnel::bessel::besselk(1, x) / varnel::bessel::besselk(0, x);
  return beta * length / 6.0;
}

// Grid x = 0..3, z = 0..2 in unit steps (3 node rows, 4 node columns), every
// element split TL-BR, lower conductivity 2 and upper 5. The boundary
// centre is xs(4 / 2) = 1.
TEST(BandAssemblyBoundary, EdgeEntries) {
  for (const double k : {0.3, 100.0}) {
    SCOPED_TRACE("k = " + std::to_string(k));
    Job job(range(0, 3, 1), range(0, 2, 1), "fe", 2.0);
    job.model.sval.assign(job.model.sval.size(), 5.0);
    const int kl = job.kl(), n = job.numnp();
    Dmatrix bfe;
    lap::compute_bfe_dgbtrf(bfe, kl, kl, job.ldab(), n, job.model, k);
    ASSERT_EQ(bfe.rows(), job.ldab());
    expect_symmetric(bfe, kl, 1e-14);

    // Left edge of the top-left element (nodes 1, 2; lower triangle 1, 2, 5):
    // d = -1, midpoint depth 0.5. Node 1 lies on no other boundary triangle.
    const double r1 = std::sqrt(1.25);
    const double b1 = edge_term(2.0, k, r1, 1.0 / r1, 1.0);
    EXPECT_NEAR(at(bfe, kl, 1, 1), 2.0 * b1, 1e-14);
    EXPECT_NEAR(at(bfe, kl, 1, 2), b1, 1e-14);
    EXPECT_NEAR(at(bfe, kl, 1, 5), b1, 1e-14);  // off the edge, same triangle
    EXPECT_EQ(at(bfe, kl, 1, 4), 0.0);

    // Bottom-left corner element (lower triangle 2, 3, 6): its left edge
    // (d = -1, midpoint depth 1.5) takes the distance of its bottom edge
    // (midpoint x 0.5, depth 2) with its own angle.
    const double r_left = std::sqrt(1.0 + 2.25), r_bottom = std::sqrt(0.25 + 4.0);
    const double b_left = edge_term(2.0, k, r_bottom, 1.0 / r_left, 1.0);
    const double b_bottom = edge_term(2.0, k, r_bottom, 2.0 / r_bottom, 1.0);
    EXPECT_NEAR(at(bfe, kl, 3, 3), 2.0 * (b_left + b_bottom), 1e-14);
    EXPECT_NEAR(at(bfe, kl, 3, 6), b_left + b_bottom, 1e-14);
    EXPECT_NEAR(at(bfe, kl, 3, 2), b_left + b_bottom, 1e-14);

    // Right edge of the top-right element (nodes 10, 11; upper triangle
    // 7, 11, 10, conductivity 5): d = 2, midpoint depth 0.5.
    const double r_right = std::sqrt(4.25);
    const double b_right = edge_term(5.0, k, r_right, 2.0 / r_right, 1.0);
    EXPECT_NEAR(at(bfe, kl, 10, 10), 2.0 * b_right, 1e-14);
    EXPECT_NEAR(at(bfe, kl, 10, 11), b_right, 1e-14);
    EXPECT_NEAR(at(bfe, kl, 10, 7), b_right, 1e-14);
    EXPECT_EQ(at(bfe, kl, 10, 8), 0.0);

    // Interior and top nodes off the boundary triangles have no term.
    EXPECT_EQ(at(bfe, kl, 4, 4), 0.0);
  }
}

TEST(BandAssemblyBoundary, DistanceAndAngleOfEdges) {
  Job job(range(0, 3, 1), range(0, 2, 1), "fe", 1.0);
  const auto xs = job.grid.get_x_grid();
  const auto zs = job.grid.get_z_grid();
  struct Case {
    lap::Fe_edge edge;
    int element;
    double dist, length, cosine;
  };
  const Case cases[] = {
      {lap::Fe_edge::left, job.element(2, 1), std::sqrt(3.25), 1.0, 1.0 / std::sqrt(3.25)},
      {lap::Fe_edge::right, job.element(1, 3), std::sqrt(4.25), 1.0, 2.0 / std::sqrt(4.25)},
      {lap::Fe_edge::bottom, job.element(2, 3), std::sqrt(2.25 + 4.0), 1.0, 2.0 / std::sqrt(6.25)},
  };
  for (const Case& c : cases) {
    std::vector<double> dist, length, cosine;
    lap::compute_fe_dist_angle(dist, length, cosine, {c.element}, c.edge, xs, zs, 1.0, job.grid);
    ASSERT_EQ(dist.size(), 1u);
    EXPECT_DOUBLE_EQ(dist[0], c.dist) << "element " << c.element;
    EXPECT_DOUBLE_EQ(length[0], c.length) << "element " << c.element;
    EXPECT_DOUBLE_EQ(cosine[0], c.cosine) << "element " << c.element;
  }
}

TEST(BandAssemblyBoundary, AssembledFeMatrixIsSymmetric) {
  Job job({0.0, 0.5, 1.5, 2.0, 3.5}, {0.0, 0.4, 1.0, 2.2}, "fe", 1.0);
  for (std::size_t e = 0; e < job.model.val.size(); ++e) {
    job.model.val[e] = 0.01 * (1 + e);
    job.model.sval[e] = 0.02 * (3 + e);
    job.model.elem[e] = e % 3 == 0 ? 3 : 2;
  }
  const int kl = job.kl(), n = job.numnp();
  const double k = 0.7;
  Dmatrix afe, bfe, cfe;
  lap::compute_afe_dgbtrf(afe, kl, kl, job.ldab(), n, job.model);
  lap::compute_bfe_dgbtrf(bfe, kl, kl, job.ldab(), n, job.model, k);
  lap::compute_cfe_dgbtrf(cfe, kl, kl, job.ldab(), n, job.model);
  Dmatrix a(job.ldab(), n);
  for (int j = 1; j <= n; ++j)
    for (int i = 1; i <= job.ldab(); ++i) a(i, j) = afe(i, j) + bfe(i, j) + k * k * cfe(i, j);
  expect_symmetric(a, kl, 1e-15);
}

// --- finite-difference band ------------------------------------------------

TEST(BandAssemblyFd, ThreeByThreeLayout) {
  Job job(range(0, 2, 1), range(0, 2, 1), "fd", 0.01);
  job.prepare_state({0.2});
  const int kl = job.kl();
  ASSERT_EQ(kl, 4);
  ASSERT_EQ(job.ldab(), 13);
  Dmatrix c(2, 2, 7.0);
  lap::fd_create_c_matrix_dgbtrf(c, kl, kl, job.ldab(), 9, 1, job.phy);
  ASSERT_EQ(c.rows(), 13);
  ASSERT_EQ(c.cols(), 9);
  const Dmatrix& cm = job.phy.c_matrix;
  // Centre node 5: up 4, down 6, left 2, right 8.
  EXPECT_EQ(at(c, kl, 5, 5), cm(5, 3));
  EXPECT_EQ(at(c, kl, 5, 4), cm(5, 2));
  EXPECT_EQ(at(c, kl, 5, 6), cm(5, 4));
  EXPECT_EQ(at(c, kl, 5, 2), cm(5, 1));
  EXPECT_EQ(at(c, kl, 5, 8), cm(5, 5));
  for (const int j : {4, 6, 2, 8}) EXPECT_LT(at(c, kl, 5, j), 0.0) << "column " << j;
  EXPECT_GT(at(c, kl, 5, 5), 0.0);
  for (const int j : {1, 3, 7, 9}) EXPECT_EQ(at(c, kl, 5, j), 0.0) << "column " << j;
  // Node 3 (bottom of column 1) and node 4 (top of column 2) are not
  // neighbours although their numbers are.
  EXPECT_EQ(at(c, kl, 3, 4), 0.0);
  EXPECT_EQ(at(c, kl, 4, 3), 0.0);
  // The pivoting rows stay clear.
  for (int j = 1; j <= 9; ++j)
    for (int i = 1; i <= kl; ++i) EXPECT_EQ(c(i, j), 0.0);
}

TEST(BandAssemblyFd, HeterogeneousOperatorIsSymmetric) {
  Job job({0.0, 0.5, 1.5, 2.0, 3.5, 4.0}, {0.0, 0.4, 1.0, 2.2, 3.0}, "fd", 1.0);
  for (std::size_t e = 0; e < job.model.val.size(); ++e) job.model.val[e] = 0.01 * (1 + e % 7);
  job.prepare_state({0.05, 0.9});
  const int kl = job.kl(), n = job.numnp();
  for (const int kindex : {1, 2}) {
    Dmatrix c;
    lap::fd_create_c_matrix_dgbtrf(c, kl, kl, job.ldab(), n, kindex, job.phy);
    expect_symmetric(c, kl, 1e-15);
  }
}

// --- hybrid replacement ------------------------------------------------------

// 5 x 5 nodes with unit spacing, top node row in the air. The interior node
// (3, 3) and the surface node (2, 2) are finite-element nodes; the elements
// around them are split BL-TR.
TEST(BandAssemblyHybrid, FlaggedNodesTakeFiniteElementEquations) {
  Job job(range(0, 4, 1), range(0, 4, 1), "hy", 0.01);
  job.set_surface({2, 2, 2, 2, 2});
  const int kl = job.kl();
  const int g_inner = job.node(3, 3), g_surface = job.node(2, 2);
  for (const int g : {g_inner, g_surface}) job.model.approx[g - 1] = 2;
  for (const auto& [iz, ix] :
       std::vector<std::pair<int, int>>{{1, 1}, {1, 2}, {2, 1}, {2, 2}, {2, 3}, {3, 2}, {3, 3}})
    job.model.elem[job.element(iz, ix) - 1] = 3;
  const Earth_node& node = job.model.node;
  const int n = node.numnp;
  ASSERT_EQ(n, 20);
  const double k = 0.5;
  job.prepare_state({k});

  Dmatrix fd, afe, cfe;
  lap::fd_create_c_matrix_earth_dgbtrf(fd, kl, kl, job.ldab(), n, 1, node, job.model.aerow,
                                       job.phy);
  lap::compute_afe_earth_dgbtrf(afe, kl, kl, job.ldab(), n, job.model);
  lap::compute_cfe_earth_dgbtrf(cfe, kl, kl, job.ldab(), n, job.model);
  Dmatrix bfe(job.ldab(), n);
  for (int j = 1; j <= n; ++j)
    for (int i = 1; i <= job.ldab(); ++i) bfe(i, j) = afe(i, j) + k * k * cfe(i, j);
  Dmatrix ab = fd;
  lap::hy_replace_fe_equations_dgbtrf(ab, bfe, kl, kl, n, job.model, node);

  for (int i = 1; i <= n; ++i) {
    const bool flagged = job.model.approx[node.n[i - 1] - 1] == 2;
    const Dmatrix& source = flagged ? bfe : fd;
    for (int j = std::max(1, i - kl); j <= std::min(n, i + kl); ++j)
      EXPECT_EQ(at(ab, kl, i, j), at(source, kl, i, j))
          << (flagged ? "flagged" : "plain") << " unknown " << i << ", column " << j;
  }
  // The BL-TR diagonal neighbours of (3, 3) are coupled; the FD stencil had 0.
  const int i = node.map[g_inner - 1];
  for (const int h : {job.node(4, 2), job.node(2, 4)}) {
    const int j = node.map[h - 1];
    EXPECT_EQ(at(fd, kl, i, j), 0.0);
    EXPECT_NE(at(ab, kl, i, j), 0.0) << "node " << h;
  }
  // A plain neighbour keeps its FD row, including its coupling to (3, 3).
  const int plain = node.map[job.node(3, 4) - 1];
  EXPECT_EQ(at(ab, kl, plain, i), at(fd, kl, plain, i));
  EXPECT_NE(at(fd, kl, plain, i), 0.0);
}

TEST(BandAssemblyHybrid, AirNeighboursAreDropped) {
  // Surface at row 3 in the first two columns, at row 1 elsewhere.
  Job job(range(0, 3, 1), range(0, 3, 1), "hy", 0.01);
  job.set_surface({3, 3, 1, 1});
  const Earth_node& node = job.model.node;
  const int kl = job.kl(), n = node.numnp;
  job.prepare_state({0.3});
  Dmatrix fd;
  lap::fd_create_c_matrix_earth_dgbtrf(fd, kl, kl, job.ldab(), n, 1, node, job.model.aerow,
                                       job.phy);
  ASSERT_EQ(fd.cols(), n);
  // Surface node (3, 2): its upper neighbour (2, 2) is in the air; its right
  // neighbour (3, 3) is an earth node.
  const int i = node.map[job.node(3, 2) - 1];
  const int right = node.map[job.node(3, 3) - 1];
  const int down = node.map[job.node(4, 2) - 1];
  EXPECT_EQ(at(fd, kl, i, right), job.phy.c_matrix(i, 5));
  EXPECT_EQ(at(fd, kl, i, down), job.phy.c_matrix(i, 4));
  EXPECT_EQ(at(fd, kl, i, i - 1), 0.0);  // unknown i - 1 is the bottom node of column 1
  int nonzero = 0;
  for (int j = std::max(1, i - kl); j <= std::min(n, i + kl); ++j)
    nonzero += at(fd, kl, i, j) != 0.0 ? 1 : 0;
  EXPECT_EQ(nonzero, 4);  // self, left, down, right
}

// --- potentials ------------------------------------------------------------

// A flat hybrid model: every node is an earth node, none is flagged.
void make_flat_hybrid(Job& job) { job.set_surface(std::vector<int32_t>(job.noxs(), 1)); }

TEST(BandAssemblySolve, DispatchFoldsTheSolverCode) {
  const std::vector<double> k = {0.1, 0.5};
  struct Case {
    const char* code;
    const char* solver;  // nullptr: not a solver
  };
  const Case cases[] = {{"fd", "fd"}, {"FD", "fd"},    {"Fe", "fe"},   {"HY", "hy"},
                        {"hY", "hy"}, {"xy", nullptr}, {"f", nullptr}, {"", nullptr}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    Job job(range(0, 6, 1), range(0, 4, 1), c.solver != nullptr ? c.solver : "fd", 0.01);
    make_flat_hybrid(job);
    const Dmatrix source = unit_sources(job.numnp(), {job.node(1, 3), job.node(1, 5)}, 2);
    Dmatrix b = source;
    testing::internal::CaptureStdout();
    lap::compute_potential_dcr2d(b, job.model, k, c.code, job.phy);
    const std::string out = testing::internal::GetCapturedStdout();
    if (c.solver == nullptr) {
      EXPECT_NE(out.find("Under development"), std::string::npos);
      EXPECT_EQ(b, source);
      continue;
    }
    EXPECT_EQ(out.find("Under development"), std::string::npos);
    Dmatrix expected = source;
    const std::string solver = c.solver;
    if (solver == "fd") lap::compute_potential_fd_dcr2d(expected, job.model, k, job.phy);
    if (solver == "fe") lap::compute_potential_fe_dcr2d(expected, job.model, k, job.phy);
    if (solver == "hy") lap::compute_potential_hy_earth_dcr2d(expected, job.model, k, job.phy);
    EXPECT_NE(b, source);
    EXPECT_EQ(b, expected);
  }
}

TEST(BandAssemblySolve, SingularSystemEndsTheJob) {
  for (const char* approx : {"fd", "fe", "hy"}) {
    SCOPED_TRACE(approx);
    Job job(range(0, 3, 1), range(0, 2, 1), approx, 0.0);
    make_flat_hybrid(job);
    Dmatrix b = unit_sources(job.numnp(), {job.node(1, 2)}, 1);
    std::string message;
    testing::internal::CaptureStdout();
    try {
      lap::compute_potential_dcr2d(b, job.model, {0.2}, approx, job.phy);
    } catch (const varnel::Error& e) {
      message = e.what();
    }
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(message.find("Factorization Error"), std::string::npos) << message;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line) && line.find("Factorization Error") == std::string::npos) {
    }
    ASSERT_FALSE(lines.eof()) << out;
    ASSERT_TRUE(std::getline(lines, line)) << out;
    std::istringstream fields(line);
    int m = 0, nn = 0, kl = 0, ku = 0, ldab = 0, info = 0;
    ASSERT_TRUE(fields >> m >> nn >> kl >> ku >> ldab >> info) << line;
    EXPECT_EQ(m, job.numnp());
    EXPECT_EQ(nn, job.numnp());
    EXPECT_EQ(kl, job.kl());
    EXPECT_EQ(ku, job.kl());
    EXPECT_EQ(ldab, job.ldab());
    EXPECT_GT(info, 0);
  }
}

TEST(BandAssemblySolve, OutputLevelThreeShowsLapackStatus) {
  const std::vector<double> k = {0.1, 0.4, 1.0};
  for (const int level : {0, 3}) {
    Job job(range(0, 4, 1), range(0, 3, 1), "fe", 0.01);
    Dmatrix b = unit_sources(job.numnp(), {job.node(1, 2)}, 3);
    testing::internal::CaptureStdout();
    lap::compute_potential_fe_dcr2d(b, job.model, k, job.phy, level);
    const std::string out = testing::internal::GetCapturedStdout();
    std::istringstream lines(out);
    std::string line;
    int factorize = 0, solve = 0;
    while (std::getline(lines, line)) {
      std::istringstream fields(line);
      std::string word;
      int info = -1;
      fields >> word >> info;
      if (word == "Factorize:") ++factorize;
      if (word == "Solve:") ++solve;
      if (word == "Factorize:" || word == "Solve:") EXPECT_EQ(info, 0) << line;
    }
    EXPECT_EQ(factorize, level == 3 ? 3 : 0) << out;
    EXPECT_EQ(solve, level == 3 ? 3 : 0) << out;
  }
}

// A unit source at the surface of a homogeneous half-space: the transformed
// potential is K0(k r) / (pi sigma). The grid is 60 m wide and 30 m deep with
// 1 m cells; the comparison is made 3 to 6 m from the source, where the
// discretisation error is under 3 per cent.
TEST(BandAssemblySolve, HalfSpacePotential) {
  const double sigma = 0.01;
  const std::vector<double> k = {0.1, 0.3};
  for (const char* approx : {"fd", "fe", "hy"}) {
    SCOPED_TRACE(approx);
    Job job(range(-30, 30, 1), range(0, 30, 1), approx, sigma);
    make_flat_hybrid(job);
    const int src_ix = 31, n = job.numnp();  // x = 0
    Dmatrix b = unit_sources(n, {job.node(1, src_ix)}, 2);
    lap::compute_potential_dcr2d(b, job.model, k, approx, job.phy);
    for (int kk = 1; kk <= 2; ++kk) {
      double previous = INFINITY;
      for (int d = 1; d <= 10; ++d) {
        const double phi = b(job.node(1, src_ix + d), kk);
        EXPECT_LT(phi, previous) << "k " << k[kk - 1] << ", distance " << d;
        EXPECT_GT(phi, 0.0);
        previous = phi;
      }
      for (const auto& [iz, dx] :
           std::vector<std::pair<int, int>>{{1, 3}, {1, -4}, {1, 6}, {4, 0}, {5, 3}, {6, -2}}) {
        const double r = std::hypot(iz - 1.0, dx);
        const double exact = varnel::bessel::besselk(0, k[kk - 1] * r) / (std::numbers::pi * sigma);
        EXPECT_NEAR(b(job.node(iz, src_ix + dx), kk) / exact, 1.0, 0.03)
            << "k " << k[kk - 1] << ", node row " << iz << ", offset " << dx;
      }
    }
  }
}

// With symmetric operators the solution is reciprocal, and on a grid that is
// symmetric about the source column the finite-difference potential is
// mirror-symmetric. Each wavenumber block is solved with its own wavenumber.
TEST(BandAssemblySolve, ReciprocityMirrorAndBlocks) {
  const std::vector<double> xs = {-6.0, -3.5, -2.0, -1.0, 0.0, 1.0, 2.0, 3.5, 6.0};
  const std::vector<double> zs = {0.0, 0.5, 1.2, 2.5, 4.5, 8.0};
  const std::vector<double> k = {0.08, 0.6};
  for (const char* approx : {"fd", "fe", "hy"}) {
    SCOPED_TRACE(approx);
    Job job(xs, zs, approx, 0.02);
    for (int ix = 1; ix <= 8; ++ix)  // layered, so mirror symmetry survives
      for (int iz = 1; iz <= 5; ++iz) {
        job.model.val[job.element(iz, ix) - 1] = 0.01 * iz;
        if (!job.model.sval.empty()) job.model.sval[job.element(iz, ix) - 1] = 0.01 * iz;
      }
    make_flat_hybrid(job);
    const int a = job.node(1, 5), c = job.node(3, 7);
    Dmatrix b = unit_sources(job.numnp(), {a, c}, 2);
    lap::compute_potential_dcr2d(b, job.model, k, approx, job.phy);
    for (int kk = 1; kk <= 2; ++kk) {
      const int col_a = 1 + 2 * (kk - 1), col_c = 2 + 2 * (kk - 1);
      EXPECT_NEAR(b(c, col_a), b(a, col_c), 1e-10 * std::abs(b(c, col_a))) << "k " << k[kk - 1];
      if (std::string(approx) == "fd")
        for (int d = 1; d <= 4; ++d)
          for (int iz = 1; iz <= 6; ++iz)
            EXPECT_NEAR(b(job.node(iz, 5 - d), col_a), b(job.node(iz, 5 + d), col_a),
                        1e-10 * b(job.node(iz, 5 + d), col_a))
                << "row " << iz << ", offset " << d;
    }
    // The second block alone, solved with the second wavenumber only (the
    // boundary factors of the old wavenumbers are released first).
    varnel::dcr2dphy::cleanup_physics_dcr2d(job.phy);
    Dmatrix single = unit_sources(job.numnp(), {a, c}, 1);
    lap::compute_potential_dcr2d(single, job.model, {k[1]}, approx, job.phy);
    for (int i = 1; i <= job.numnp(); ++i) {
      EXPECT_NEAR(b(i, 3), single(i, 1), 1e-12 * std::abs(single(i, 1)));
      EXPECT_NEAR(b(i, 4), single(i, 2), 1e-12 * std::abs(single(i, 2)));
    }
  }
}

// The potentials satisfy the system assembled from the pieces: for "fd" the
// band of the finite-difference operator, for "fe" afe + bfe(k) + k^2 cfe,
// for "hy" the earth operator with the flagged equations replaced by
// afe + k^2 cfe. The hybrid model has a raised surface in its first columns
// and finite-element nodes along it.
TEST(BandAssemblySolve, SolutionSatisfiesTheAssembledSystem) {
  const std::vector<double> k = {0.05, 0.4, 1.3};
  for (const char* approx : {"fd", "fe", "hy"}) {
    SCOPED_TRACE(approx);
    const std::string code = approx;
    Job job({0.0, 1.0, 2.0, 3.5, 5.0, 6.0, 7.5}, {0.0, 0.5, 1.0, 2.0, 3.0, 4.5}, approx, 0.02);
    for (std::size_t e = 0; e < job.model.val.size(); ++e) {
      job.model.val[e] = 0.01 * (1 + e % 5);
      if (!job.model.sval.empty()) job.model.sval[e] = 0.03 * (1 + e % 3);
    }
    int n = job.numnp();
    if (code == "hy") {
      job.set_surface({2, 2, 1, 1, 1, 1, 1});
      for (const auto& [iz, ix] : std::vector<std::pair<int, int>>{{2, 2}, {2, 3}, {1, 3}, {1, 4}})
        job.model.approx[job.node(iz, ix) - 1] = 2;
      for (const auto& [iz, ix] : std::vector<std::pair<int, int>>{
               {1, 1}, {1, 2}, {1, 3}, {2, 1}, {2, 2}, {2, 3}, {1, 4}, {2, 4}})
        job.model.elem[job.element(iz, ix) - 1] = ix == 2 ? 2 : 3;
      n = job.model.node.numnp;
    }
    const int kl = job.kl(), ldab = job.ldab();
    std::vector<int> rows = {1, n / 2, n};
    const Dmatrix source = unit_sources(n, rows, 3);
    Dmatrix b = source;
    lap::compute_potential_dcr2d(b, job.model, k, approx, job.phy);

    job.prepare_state(k);
    Dmatrix afe, cfe;
    if (code == "fe") {
      lap::compute_afe_dgbtrf(afe, kl, kl, ldab, n, job.model);
      lap::compute_cfe_dgbtrf(cfe, kl, kl, ldab, n, job.model);
    } else if (code == "hy") {
      lap::compute_afe_earth_dgbtrf(afe, kl, kl, ldab, n, job.model);
      lap::compute_cfe_earth_dgbtrf(cfe, kl, kl, ldab, n, job.model);
    }
    for (int kk = 1; kk <= 3; ++kk) {
      const double kw = k[kk - 1];
      Dmatrix a;
      if (code == "fd") {
        lap::fd_create_c_matrix_dgbtrf(a, kl, kl, ldab, n, kk, job.phy);
      } else if (code == "fe") {
        Dmatrix bfe;
        lap::compute_bfe_dgbtrf(bfe, kl, kl, ldab, n, job.model, kw);
        a.assign(ldab, n);
        for (int j = 1; j <= n; ++j)
          for (int i = 1; i <= ldab; ++i) a(i, j) = afe(i, j) + bfe(i, j) + kw * kw * cfe(i, j);
      } else {
        lap::fd_create_c_matrix_earth_dgbtrf(a, kl, kl, ldab, n, kk, job.model.node,
                                             job.model.aerow, job.phy);
        Dmatrix bfe(ldab, n);
        for (int j = 1; j <= n; ++j)
          for (int i = 1; i <= ldab; ++i) bfe(i, j) = afe(i, j) + kw * kw * cfe(i, j);
        lap::hy_replace_fe_equations_dgbtrf(a, bfe, kl, kl, n, job.model, job.model.node);
      }
      for (int e = 1; e <= 3; ++e) {
        const int col = e + 3 * (kk - 1);
        double scale = 0.0;
        for (int i = 1; i <= n; ++i) scale = std::max(scale, std::abs(b(i, col)));
        for (int i = 1; i <= n; ++i) {
          double r = -source(i, col);
          for (int j = std::max(1, i - kl); j <= std::min(n, i + kl); ++j)
            r += at(a, kl, i, j) * b(j, col);
          EXPECT_NEAR(r, 0.0, 1e-9) << "k " << kw << ", source " << e << ", row " << i;
        }
        EXPECT_GT(scale, 0.0);
      }
    }
  }
}

}  // namespace
