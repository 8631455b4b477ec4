// The generated prior model: node positions from the survey, the padding and
// depth levels, the refinement of flat and sloping surface segments, the
// homogeneous conductivity from the data and the scaled air resistivity.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "core/error.hpp"
#include "core/model/dcr2dphy_model.hpp"
#include "core/model/prior_model_dcr2d.hpp"
#include "core/survey/param_dcr2d.hpp"

namespace {

using varnel::Dmatrix;
using varnel::dataio_dcr2d::Main_data_dcr2d;
using namespace varnel::prior_model_dcr2d;

// A data set with electrodes (topography points) at (x, z).
Main_data_dcr2d survey(const std::vector<std::pair<double, double>>& points, double espacing) {
  Main_data_dcr2d d;
  d.espacing = espacing;
  d.topo.assign(static_cast<int32_t>(points.size()), 4, 0.0);
  for (std::size_t k = 0; k < points.size(); ++k) {
    d.topo(static_cast<int32_t>(k) + 1, 1) = points[k].first;
    d.topo(static_cast<int32_t>(k) + 1, 2) = points[k].second;
  }
  d.ntopo = static_cast<int32_t>(points.size());
  return d;
}

int32_t index_of(double v, const std::vector<double>& nodes) {
  for (std::size_t i = 0; i < nodes.size(); ++i)
    if (std::abs(nodes[i] - v) <= 1e-9 * std::max(1.0, std::abs(v)))
      return static_cast<int32_t>(i) + 1;
  return 0;
}

TEST(PriorModelGrid, TwoFlatElectrodesGiveThePaddedColumnsAndTheDepthLevels) {
  const auto d = survey({{0.0, 0.0}, {1.0, 0.0}}, 1.0);
  std::vector<double> xs, zs;
  create_grid_model_dcr2d(d, xs, zs, 2);
  const std::vector<double> expected_x = {-511.5, -255.5, -127.5, -63.5, -31.5, -15.5, -7.5, -3.5,
                                          -1.5,   -0.5,   0,      0.5,   1,     1.5,   2.5,  4.5,
                                          8.5,    16.5,   32.5,   64.5,  128.5, 256.5, 512.5};
  ASSERT_EQ(xs.size(), expected_x.size());
  for (std::size_t i = 0; i < xs.size(); ++i) EXPECT_DOUBLE_EQ(xs[i], expected_x[i]) << i;
  ASSERT_EQ(zs.size(), 24u);
  for (std::size_t i = 0; i < zs.size(); ++i)
    EXPECT_DOUBLE_EQ(zs[i], varnel::param_dcr2d::zs_default[i]) << i;
}

TEST(PriorModelGrid, FlatSegmentsAreDividedOnlyWhenTooCoarse) {
  // Spacing 2 m: the segment 0..2 gets nxgrid = 4 parts; with nxgrid 1 it
  // already holds enough nodes (none needed) and stays as it is.
  const auto d = survey({{0.0, 0.0}, {2.0, 0.0}}, 2.0);
  std::vector<double> xs, zs;
  create_grid_model_dcr2d(d, xs, zs, 4);
  for (double x : {0.5, 1.0, 1.5}) EXPECT_NE(index_of(x, xs), 0) << x;
  EXPECT_EQ(index_of(2.0, xs) - index_of(0.0, xs), 4);
  xs.clear();
  zs.clear();
  create_grid_model_dcr2d(d, xs, zs, 1);
  EXPECT_EQ(index_of(2.0, xs) - index_of(0.0, xs), 1);
}

TEST(PriorModelGrid, PartsPerIntervalFollowTheSlope) {
  struct Case {
    double angle;
    int32_t parts;
  } cases[] = {{0.0, 2},  {45.0, 2}, {45.01, 4}, {50.0, 4}, {55.0, 5},
               {60.0, 6}, {65.0, 6}, {65.5, 7},  {89.0, 7}};
  for (const auto& c : cases) EXPECT_EQ(xtgrid_of(c.angle, 2), c.parts) << c.angle;
}

// Every sloping segment must run through a node at each node column and each
// node row it spans, one row per column: what the topography mesher needs.
void expect_conforming(const Main_data_dcr2d& d, const std::vector<double>& xs,
                       const std::vector<double>& zs) {
  for (int32_t k = 1; k < d.topo.rows(); ++k) {
    const double x1 = d.topo(k, 1), z1 = d.topo(k, 2), x2 = d.topo(k + 1, 1), z2 = d.topo(k + 1, 2);
    const int32_t xi1 = index_of(x1, xs), xi2 = index_of(x2, xs);
    ASSERT_NE(xi1, 0);
    ASSERT_NE(xi2, 0);
    if (z1 == z2) continue;
    const int32_t zi1 = index_of(z1, zs), zi2 = index_of(z2, zs);
    ASSERT_NE(zi1, 0);
    ASSERT_NE(zi2, 0);
    EXPECT_EQ(xi2 - xi1, std::abs(zi2 - zi1)) << "segment " << k;
    for (int32_t j = xi1; j <= xi2; ++j) {
      const double z = z1 + (z2 - z1) / (x2 - x1) * (xs[j - 1] - x1);
      EXPECT_NE(index_of(z, zs), 0) << "segment " << k << " at x = " << xs[j - 1];
    }
  }
}

TEST(PriorModelGrid, SlopingSurfacesRunThroughNodes) {
  struct Case {
    const char* name;
    std::vector<std::pair<double, double>> points;
  } cases[] = {
      {"gentle rise", {{0, 0}, {1, -0.2}, {2, -0.5}, {3, -0.5}, {4, -0.9}, {5, -1.0}}},
      {"45 degrees", {{0, 0}, {1, -1}, {2, -2}, {3, -2}, {4, -2}}},
      {"steep valley", {{0, 0}, {1, 1.5}, {2, 2.0}, {3, 0.5}, {4, 0.0}}},
      // Symmetric about x = 0: the node lists sum to zero.
      {"symmetric hill", {{-2, 0.5}, {-1, 0.2}, {0, 0}, {1, 0.2}, {2, 0.5}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto d = survey(c.points, 1.0);
    std::vector<double> xs, zs;
    create_grid_model_dcr2d(d, xs, zs, 2);
    expect_conforming(d, xs, zs);
    for (std::size_t i = 1; i < xs.size(); ++i) EXPECT_LT(xs[i - 1], xs[i]);
    for (std::size_t i = 1; i < zs.size(); ++i) EXPECT_LT(zs[i - 1], zs[i]);
  }
}

std::vector<std::pair<double, double>> staircase() {
  std::vector<std::pair<double, double>> p;
  for (int i = 0; i <= 40; ++i) p.push_back({1.0 * i, 0.1 * i});
  p.push_back({41.0, 0.0});
  return p;
}

TEST(PriorModelGrid, SurveysOutsideTheGenerationAreJobErrors) {
  struct Case {
    const char* name;
    std::vector<std::pair<double, double>> points;
    const char* message;
  } cases[] = {
      {"vertical segment", {{0, 0}, {1, 0}, {1, 2}, {2, 2}}, "vertical surface segment"},
      // A gentle staircase down to 4 m leaves 79 depth levels; the steep
      // slope back up crosses all of them, more than 10 x 7 positions.
      {"steep slope over many levels", staircase(), "grid levels"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto d = survey(c.points, 1.0);
    std::vector<double> xs, zs;
    try {
      create_grid_model_dcr2d(d, xs, zs, 2);
      ADD_FAILURE() << "no error";
    } catch (const varnel::Error& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
}

TEST(PriorModelGrid, ExtraDepthLevelsJoinTheRows) {
  const auto d = survey({{0.0, 0.0}, {1.0, 0.0}}, 1.0);
  const std::vector<double> extra = {0.3, 7.25};
  std::vector<double> xs, zs;
  create_grid_model_dcr2d(d, xs, zs, 2, &extra);
  EXPECT_NE(index_of(0.3, zs), 0);
  EXPECT_NE(index_of(7.25, zs), 0);
  EXPECT_EQ(zs.size(), 26u);
}

// The background conductivity and the scaled air resistivity.
TEST(PriorModelConductivity, BackgroundFromTheDataOrTheGivenValue) {
  auto d = survey({{0.0, 0.0}, {1.0, 0.0}}, 1.0);
  d.nodata = 2;
  d.val = {10.0, 40.0};  // resistances
  d.geo_k = {2.0, 2.0};  // apparent resistivities 20 and 80: mean 40
  d.resistance = true;
  EXPECT_NEAR(compute_initial_conductivity_dcr2d(d, "LIN", 0.0), 1.0 / 40.0, 1e-15);
  EXPECT_NEAR(compute_initial_conductivity_dcr2d(d, "LOG", 0.0), std::log(1.0 / 40.0), 1e-13);
  EXPECT_DOUBLE_EQ(compute_initial_conductivity_dcr2d(d, "LIN", 50.0), 0.02);
  d.geo_k = {2.0, -2.0};  // one negative factor: the stored values' mean, 20
  EXPECT_NEAR(compute_initial_conductivity_dcr2d(d, "LIN", 0.0), 1.0 / 20.0, 1e-15);
  d.geo_k = {2.0, 2.0};
  d.resistance = false;  // values already apparent resistivities
  EXPECT_NEAR(compute_initial_conductivity_dcr2d(d, "LIN", 0.0), 1.0 / 20.0, 1e-15);
}

TEST(PriorModelCreate, HomogeneousModelAndScaledAir) {
  struct Case {
    double initial_rho;
    double expected_rho, expected_air;
  } cases[] = {{50.0, 50.0, 5.0e7}, {1.0e4, 1.0e4, 2.0e9}, {0.0, 40.0, 4.0e7}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.initial_rho);
    auto d = survey({{0.0, 0.0}, {1.0, 0.0}, {2.0, 0.0}}, 1.0);
    d.nodata = 2;
    d.val = {10.0, 40.0};
    d.geo_k = {2.0, 2.0};
    varnel::param_dcr2d::Param_dcr2d param;
    varnel::dcr2dphy::Dcr2dphy_state phy;
    varnel::grid2d_dcr::Gr2d_dcr_new grid;
    varnel::dcr2dphy::Model_fwd_dcr2d m(varnel::dcr2dphy::Model_env{&param, &phy});
    m.set_grid(&grid);
    Prior_model_state state;
    double rho = c.initial_rho;
    create_prior_model_dcr2d(d, m, "fd", rho, state);
    EXPECT_NEAR(rho, c.expected_rho, 1e-12 * c.expected_rho);
    EXPECT_NEAR(param.airresist, c.expected_air, 1e-6 * c.expected_air);
    EXPECT_EQ(state.espacing, 1.0);
    std::vector<double> res;
    m.get_res_fwd(res);
    ASSERT_EQ(static_cast<int32_t>(res.size()), grid.get_n_element());
    for (double r : res) EXPECT_NEAR(r, c.expected_rho, 1e-9 * c.expected_rho);
  }
}

TEST(PriorModelCreate, HybridModelOfASlopeIsMeshed) {
  auto d = survey({{0, 0}, {1, -0.5}, {2, -1.0}, {3, -1.0}, {4, -0.6}, {5, 0.0}}, 1.0);
  d.nodata = 1;
  d.val = {1.0};
  d.geo_k = {100.0};
  varnel::param_dcr2d::Param_dcr2d param;
  varnel::dcr2dphy::Dcr2dphy_state phy;
  varnel::grid2d_dcr::Gr2d_dcr_new grid;
  varnel::dcr2dphy::Model_fwd_dcr2d m(varnel::dcr2dphy::Model_env{&param, &phy});
  m.set_grid(&grid);
  Prior_model_state state;
  double rho = 0.0;
  create_prior_model_dcr2d(d, m, "hy", rho, state);
  EXPECT_NEAR(rho, 100.0, 1e-9);
  varnel::dcr2dphy::Earth_node node;
  m.get_earth_node(node);
  EXPECT_GT(node.numnp, 0);
  EXPECT_LT(node.numnp, grid.get_n_node());
  EXPECT_GT(m.nfe, 0);
}

}  // namespace
