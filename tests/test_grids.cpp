// Rectilinear grids: counts and spacings, the node and element numbering, the
// position searches, node distances, grid comparison, the mapping getters, the
// duplicate operations and the listing.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "core/error.hpp"
#include "core/model/base_grids.hpp"
#include "core/model/grid2d_dcr.hpp"
#include "core/numerics/array2.hpp"
#include "core/numerics/text_io.hpp"

namespace {

using varnel::Imatrix;
using varnel::base_grids::Base_grid1d;
using varnel::base_grids::Base_grid2d;
using varnel::grid2d_dcr::Gr2d_dcr_new;

std::vector<double> as_vector(std::span<const double> v) { return {v.begin(), v.end()}; }

// The small grid of the examples: two element columns of widths 1 and 2, one
// element row of height 2.
Gr2d_dcr_new example_grid() {
  Gr2d_dcr_new g;
  g.initialize(std::vector<double>{0, 1, 3}, std::vector<double>{0, 2});
  return g;
}

// ---------------------------------------------------------------------------
// Counts and arrays

TEST(GridBase, ExampleGridCountsAndSpacings) {
  const Gr2d_dcr_new g = example_grid();
  EXPECT_TRUE(g.is_allocated());
  EXPECT_EQ(g.get_nx_element(), 2);
  EXPECT_EQ(g.get_nz_element(), 1);
  EXPECT_EQ(g.get_nx_node(), 3);
  EXPECT_EQ(g.get_nz_node(), 2);
  EXPECT_EQ(g.get_n_node(), 6);
  EXPECT_EQ(g.get_n_element(), 2);
  EXPECT_EQ(as_vector(g.get_dx_grid()), (std::vector<double>{1, 2}));
  EXPECT_EQ(as_vector(g.get_dz_grid()), (std::vector<double>{2}));
  EXPECT_EQ(as_vector(g.get_x_grid()), (std::vector<double>{0, 1, 3}));
  EXPECT_EQ(as_vector(g.get_z_grid()), (std::vector<double>{0, 2}));
}

TEST(GridBase, CountsAndSpacingsForSeveralShapes) {
  struct Case {
    std::vector<double> xs, zs;
    std::vector<double> dx, dz;
  };
  const std::vector<Case> cases = {
      {{0}, {0}, {}, {}},                            // a single node
      {{-2, 0.5}, {0, 1, 3, 7}, {2.5}, {1, 2, 4}},   // one column, three rows
      {{0, 1, 2, 4, 8}, {0, 1}, {1, 1, 2, 4}, {1}},  // four columns, one row
      {{0, 1, 3}, {5, 3, 0}, {1, 2}, {-2, -3}},      // decreasing z: negative heights
      {{3, 1, 0}, {0, 1}, {-2, -1}, {1}},            // no ordering check in x
  };
  for (const Case& c : cases) {
    Base_grid2d g;
    g.initialize(c.xs, c.zs);
    const int32_t nx = static_cast<int32_t>(c.xs.size()) - 1;
    const int32_t nz = static_cast<int32_t>(c.zs.size()) - 1;
    SCOPED_TRACE(testing::Message() << "nx=" << nx << " nz=" << nz);
    EXPECT_EQ(g.get_nx_element(), nx);
    EXPECT_EQ(g.get_nz_element(), nz);
    EXPECT_EQ(g.get_nx_node(), g.get_nx_element() + 1);
    EXPECT_EQ(g.get_nz_node(), g.get_nz_element() + 1);
    EXPECT_EQ(g.get_n_node(), (nx + 1) * (nz + 1));
    EXPECT_EQ(g.get_n_element(), nx * nz);
    EXPECT_EQ(as_vector(g.get_dx_grid()), c.dx);
    EXPECT_EQ(as_vector(g.get_dz_grid()), c.dz);
    EXPECT_EQ(as_vector(g.get_x_grid()), c.xs);
    EXPECT_EQ(as_vector(g.get_z_grid()), c.zs);
  }
}

TEST(GridBase, FinalizeEmptiesTheGrid) {
  for (bool derived : {false, true}) {
    SCOPED_TRACE(derived ? "Gr2d_dcr_new" : "Base_grid2d");
    Gr2d_dcr_new d = example_grid();
    Base_grid2d b;
    b.initialize(std::vector<double>{0, 1, 3}, std::vector<double>{0, 2});
    Base_grid2d& g = derived ? static_cast<Base_grid2d&>(d) : b;
    g.finalize();
    EXPECT_FALSE(g.is_allocated());
    EXPECT_EQ(g.get_nx_element(), 0);
    EXPECT_EQ(g.get_nz_element(), 0);
    EXPECT_EQ(g.get_n_node(), 0);
    EXPECT_EQ(g.get_n_element(), 0);
    EXPECT_TRUE(g.get_x_grid().empty());
    EXPECT_TRUE(g.get_z_grid().empty());
    EXPECT_TRUE(g.get_dx_grid().empty());
    EXPECT_TRUE(g.get_dz_grid().empty());
  }
}

TEST(GridBase, FinalizeOfTheSolverGridReleasesMapsAndDistances) {
  Gr2d_dcr_new g = example_grid();
  g.finalize();
  EXPECT_TRUE(g.get_node_distance().empty());
  const Imatrix* m = nullptr;
  for (const char* mode : {"1dto2d", "2dto1d"}) {
    g.get_node_mapping(m, mode);
    ASSERT_NE(m, nullptr);
    EXPECT_TRUE(m->empty()) << mode;
    g.get_element_mapping(m, mode);
    ASSERT_NE(m, nullptr);
    EXPECT_TRUE(m->empty()) << mode;
  }
  // Nothing left to find, and the searches must not read the released maps.
  EXPECT_EQ(g.p2n(0.5, 0.0), 0);
  EXPECT_EQ(g.p2e(0.5, 1.0), 0);
}

TEST(GridBase, InitializeReplacesAnEarlierGridEvenFromItsOwnViews) {
  Gr2d_dcr_new g = example_grid();
  // The views point into the grid itself; the new grid must still be right.
  g.initialize(g.get_z_grid(), g.get_x_grid());
  EXPECT_EQ(as_vector(g.get_x_grid()), (std::vector<double>{0, 2}));
  EXPECT_EQ(as_vector(g.get_z_grid()), (std::vector<double>{0, 1, 3}));
  EXPECT_EQ(g.get_nx_element(), 1);
  EXPECT_EQ(g.get_nz_element(), 2);
  EXPECT_EQ(g.get_node_distance().size(), 6u);
  const Imatrix* n2d = nullptr;
  g.get_node_mapping(n2d, "2dto1d");
  ASSERT_NE(n2d, nullptr);
  EXPECT_EQ(n2d->rows(), 3);
  EXPECT_EQ(n2d->cols(), 2);
}

TEST(GridBase, InitializeWithoutPositionsIsAnError) {
  const std::vector<double> none, some{0, 1};
  Base_grid2d b;
  EXPECT_THROW(b.initialize(none, some), varnel::Error);
  EXPECT_THROW(b.initialize(some, none), varnel::Error);
  Gr2d_dcr_new g;
  EXPECT_THROW(g.initialize(none, some), varnel::Error);
  EXPECT_FALSE(g.is_allocated());
  Base_grid1d g1;
  EXPECT_THROW(g1.initialize(none), varnel::Error);
}

TEST(Grid1d, InitializeAndClean) {
  Base_grid1d g;
  g.initialize(std::vector<double>{0, 0.5, 2, 4.5});
  EXPECT_TRUE(g.allocated);
  EXPECT_EQ(g.nz, 3);
  EXPECT_EQ(g.noelem, 3);
  EXPECT_EQ(g.numnp, 4);
  EXPECT_EQ(g.zs, (std::vector<double>{0, 0.5, 2, 4.5}));
  EXPECT_EQ(g.dz, (std::vector<double>{0.5, 1.5, 2.5}));
  g.clean();
  EXPECT_FALSE(g.allocated);
  EXPECT_EQ(g.nz, 0);
  EXPECT_TRUE(g.zs.empty());
  EXPECT_TRUE(g.dz.empty());
}

// ---------------------------------------------------------------------------
// Numbering

TEST(GridNumbering, ExampleGridNodeAndElement) {
  const Gr2d_dcr_new g = example_grid();
  const Imatrix *n1d = nullptr, *n2d = nullptr, *e1d = nullptr, *e2d = nullptr;
  g.get_node_mapping(n1d, "1dto2d");
  g.get_node_mapping(n2d, "2dto1d");
  g.get_element_mapping(e1d, "1dto2d");
  g.get_element_mapping(e2d, "2dto1d");
  ASSERT_TRUE(n1d && n2d && e1d && e2d);
  // Node 4 is column 2, row 2.
  EXPECT_EQ((*n1d)(4, 1), 2);
  EXPECT_EQ((*n1d)(4, 2), 2);
  EXPECT_EQ((*n2d)(2, 2), 4);
  // Element 2 is row 1, column 2.
  EXPECT_EQ((*e1d)(2, 1), 2);
  EXPECT_EQ((*e1d)(2, 2), 1);
  EXPECT_EQ((*e2d)(1, 2), 2);
}

// The maps follow node (iz, ix) = (ix - 1)(nz + 1) + iz and element (iz, ix) =
// (ix - 1) nz + iz, and the one-dimensional maps invert the two-dimensional ones.
TEST(GridNumbering, MapsFollowTheNumberingAndInvertEachOther) {
  struct Case {
    std::vector<double> xs, zs;
  };
  const std::vector<Case> cases = {
      {{0, 1, 3}, {0, 2}},
      {{0, 1, 2, 3}, {0, 1, 2, 4, 8}},  // more rows than columns
      {{0, 1, 2, 3, 4, 5}, {0, 1, 3}},  // more columns than rows
      {{0, 1}, {0}},                    // no elements at all
  };
  for (const Case& c : cases) {
    Gr2d_dcr_new g;
    g.initialize(c.xs, c.zs);
    const int32_t nx = g.get_nx_element(), nz = g.get_nz_element();
    SCOPED_TRACE(testing::Message() << "nx=" << nx << " nz=" << nz);
    const Imatrix *n1d = nullptr, *n2d = nullptr, *e1d = nullptr, *e2d = nullptr;
    g.get_node_mapping(n1d, "1dto2d");
    g.get_node_mapping(n2d, "2dto1d");
    g.get_element_mapping(e1d, "1dto2d");
    g.get_element_mapping(e2d, "2dto1d");
    ASSERT_TRUE(n1d && n2d && e1d && e2d);
    ASSERT_EQ(n2d->rows(), nz + 1);
    ASSERT_EQ(n2d->cols(), nx + 1);
    ASSERT_EQ(n1d->rows(), g.get_n_node());
    ASSERT_EQ(n1d->cols(), 2);
    ASSERT_EQ(e2d->rows(), nz);
    ASSERT_EQ(e2d->cols(), nx);
    ASSERT_EQ(e1d->rows(), g.get_n_element());
    ASSERT_EQ(e1d->cols(), 2);
    for (int32_t ix = 1; ix <= nx + 1; ++ix)
      for (int32_t iz = 1; iz <= nz + 1; ++iz) {
        const int32_t k = (*n2d)(iz, ix);
        EXPECT_EQ(k, (ix - 1) * (nz + 1) + iz);
        EXPECT_EQ((*n1d)(k, 1), ix);
        EXPECT_EQ((*n1d)(k, 2), iz);
      }
    for (int32_t ix = 1; ix <= nx; ++ix)
      for (int32_t iz = 1; iz <= nz; ++iz) {
        const int32_t k = (*e2d)(iz, ix);
        EXPECT_EQ(k, (ix - 1) * nz + iz);
        EXPECT_EQ((*e1d)(k, 1), ix);
        EXPECT_EQ((*e1d)(k, 2), iz);
      }
  }
}

// ---------------------------------------------------------------------------
// Mapping modes

TEST(GridMapping, ModeIsFoldedAndCutToSixCharacters) {
  const Gr2d_dcr_new g = example_grid();
  const Imatrix *n1d = nullptr, *n2d = nullptr, *e1d = nullptr, *e2d = nullptr;
  g.get_node_mapping(n1d, "1dto2d");
  g.get_node_mapping(n2d, "2dto1d");
  g.get_element_mapping(e1d, "1dto2d");
  g.get_element_mapping(e2d, "2dto1d");
  ASSERT_TRUE(n1d && n2d && e1d && e2d);
  ASSERT_NE(n1d, n2d);
  ASSERT_NE(e1d, e2d);

  const std::string message = "! Please specify mode: (1) 1dto2d or (2) 2dto1d\n";
  struct Case {
    const char* mode;
    int which;  // 1 = 1dto2d, 2 = 2dto1d, 0 = rejected
  };
  const std::vector<Case> cases = {
      {"1dto2d", 1},    {"1DTO2D", 1},    {"1Dto2D", 1}, {"2dto1d", 2},
      {"2DTO1D", 2},    {"1dto2d   ", 1},  // trailing characters past the sixth are ignored
      {"2dto1dxyz", 2}, {"1d2d", 0},      {"1dto2", 0},  {"", 0},
      {" 1dto2d", 0},   {"2d to 1d", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("mode '") + c.mode + "'");
    const Imatrix sentinel;
    for (bool nodes : {true, false}) {
      const Imatrix* m = &sentinel;
      testing::internal::CaptureStdout();
      if (nodes)
        g.get_node_mapping(m, c.mode);
      else
        g.get_element_mapping(m, c.mode);
      const std::string out = testing::internal::GetCapturedStdout();
      const Imatrix* expected = c.which == 0   ? &sentinel
                                : c.which == 1 ? (nodes ? n1d : e1d)
                                               : (nodes ? n2d : e2d);
      EXPECT_EQ(m, expected) << (nodes ? "nodes" : "elements");
      EXPECT_EQ(out, c.which == 0 ? message : "") << (nodes ? "nodes" : "elements");
    }
  }
}

// ---------------------------------------------------------------------------
// Position searches

TEST(GridSearch, PositionToNode) {
  const Gr2d_dcr_new g = example_grid();  // nodes 1,2 | 3,4 | 5,6 at x = 0 | 1 | 3
  struct Case {
    double x, z;
    int32_t node;
  };
  const std::vector<Case> cases = {
      {0.0, 0.0, 1},        {0.0, 2.0, 2},        {1.0, 0.0, 3}, {1.0, 2.0, 4},
      {0.5, 0.0, 1},        {2.0, 2.0, 4},         // between columns: the node of the left column
      {2.999, 0.0, 3},      {0.5, 2.0 + 5e-9, 2},  // z within 1.0e-8 of a row
      {0.5, 2.0 - 5e-9, 2}, {0.5, 2.0 + 2e-8, 0},  // z off every row
      {0.5, 1.0, 0},        {-0.1, 0.0, 0},        // left of the grid
      {3.0, 0.0, 0},        {4.0, 2.0, 0},         // at or right of the last column: no column
  };
  for (const Case& c : cases) EXPECT_EQ(g.p2n(c.x, c.z), c.node) << "x=" << c.x << " z=" << c.z;
}

TEST(GridSearch, PositionToElement) {
  struct Case {
    double x, z;
    int32_t element;
  };
  struct Grid_case {
    const char* name;
    std::vector<double> xs, zs;
    std::vector<Case> cases;
  };
  const std::vector<Grid_case> grids = {
      {"example",
       {0, 1, 3},
       {0, 2},
       {
           {0.5, 1.0, 1},
           {1.0, 1.0, 2},  // on an inner node column: the element to its right
           {0.0, 0.0, 1},  // top left corner
           {2.9, 1.99, 2},
           {0.5, 2.0, 0},   // on the bottom line: no row below it
           {0.5, -1.0, 0},  // above the top
           {3.0, 1.0, 0},   // on the right edge: no column
           {-1.0, 1.0, 0},
       }},
      {"two rows",
       {0, 1, 3},
       {0, 2, 5},
       {
           {0.5, 2.0, 2},  // on an inner node row: the element below it
           {1.5, 3.0, 4},
           {1.5, 1.0, 3},
       }},
      {"decreasing z",
       {0, 1, 3},
       {5, 3, 0},
       {
           {0.5, 4.0, 1},
           {0.5, 5.0, 1},  // on the first row line
           {0.5, 3.0, 2},  // on an inner row line: the element on the far side
           {2.0, 1.0, 4},
           {0.5, 0.0, 0},  // on the last row line
           {0.5, 6.0, 0},  // beyond the first row
       }},
      {"single row of nodes", {0, 1}, {0}, {{0.5, 0.0, 0}}},
  };
  for (const Grid_case& gc : grids) {
    SCOPED_TRACE(gc.name);
    Gr2d_dcr_new g;
    g.initialize(gc.xs, gc.zs);
    for (const Case& c : gc.cases)
      EXPECT_EQ(g.p2e(c.x, c.z), c.element) << "x=" << c.x << " z=" << c.z;
  }
}

// ---------------------------------------------------------------------------
// Node distances

TEST(GridNodeDistance, FromTheMiddleOfTheSurfaceLine) {
  // xc = 1.5. The top row lies at z = 0.5 but is measured along x only.
  Gr2d_dcr_new g;
  g.initialize(std::vector<double>{0, 1, 3}, std::vector<double>{0.5, 2});
  const std::vector<double> expected = {
      1.5, 2.5,              // column x = 0: |1.5|, sqrt(1.5^2 + 2^2)
      0.5, std::sqrt(4.25),  // column x = 1
      1.5, 2.5,              // column x = 3
  };
  const std::span<const double> nd = g.get_node_distance();
  ASSERT_EQ(nd.size(), expected.size());
  for (std::size_t k = 0; k < expected.size(); ++k)
    EXPECT_DOUBLE_EQ(nd[k], expected[k]) << "node " << k + 1;
}

TEST(GridNodeDistance, UsesTheDepthOfRowsBelowTheTop) {
  // Off-centre range and three rows: xc = 4.
  Gr2d_dcr_new g;
  g.initialize(std::vector<double>{2, 6}, std::vector<double>{-1, 3, 4});
  const std::vector<double> expected = {2, std::sqrt(4.0 + 9.0), std::sqrt(4.0 + 16.0),
                                        2, std::sqrt(4.0 + 9.0), std::sqrt(4.0 + 16.0)};
  const std::span<const double> nd = g.get_node_distance();
  ASSERT_EQ(nd.size(), expected.size());
  for (std::size_t k = 0; k < expected.size(); ++k)
    EXPECT_DOUBLE_EQ(nd[k], expected[k]) << "node " << k + 1;
}

// ---------------------------------------------------------------------------
// Comparison

TEST(GridCompare, ExactEqualityWithOneMessage) {
  const std::string x_message = "Grid in x direction are not consistant!!!\n";
  const std::string z_message = "Grid in z direction are not consistant!!!\n";
  const std::vector<double> xs{0, 1, 3}, zs{0, 2, 5};
  struct Case {
    const char* name;
    std::vector<double> xs2, zs2;
    bool equal;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"identical", xs, zs, true, ""},
      {"one x node changed", {0, 1.5, 3}, zs, false, x_message},
      {"one z node changed by one ulp", xs, {0, std::nextafter(2.0, 3.0), 5}, false, z_message},
      {"both changed: x decides", {0, 1, 4}, {0, 2, 6}, false, x_message},
      {"fewer x nodes", {0, 1}, zs, false, x_message},
      {"more x nodes", {0, 1, 3, 4}, zs, false, x_message},
      {"fewer z nodes", xs, {0, 2}, false, z_message},
      {"more z nodes", xs, {0, 2, 5, 9}, false, z_message},
  };
  Gr2d_dcr_new g;
  g.initialize(xs, zs);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (bool derived_other : {false, true}) {
      Gr2d_dcr_new d;
      Base_grid2d b;
      Base_grid2d& other = derived_other ? static_cast<Base_grid2d&>(d) : b;
      other.initialize(c.xs2, c.zs2);
      testing::internal::CaptureStdout();
      const bool equal = g.compare(other);
      const std::string out = testing::internal::GetCapturedStdout();
      EXPECT_EQ(equal, c.equal);
      EXPECT_EQ(out, c.message);
    }
  }
}

TEST(GridCompare, WithItselfAndWithNaN) {
  Gr2d_dcr_new g = example_grid();
  testing::internal::CaptureStdout();
  EXPECT_TRUE(g.compare(g));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

  // A NaN position never equals anything, not even the same NaN.
  const double nan = std::numeric_limits<double>::quiet_NaN();
  Base_grid2d a;
  a.initialize(std::vector<double>{0, 1}, std::vector<double>{0, nan});
  testing::internal::CaptureStdout();
  EXPECT_FALSE(a.compare(a));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Grid in z direction are not consistant!!!\n");
}

// ---------------------------------------------------------------------------
// Duplicates

// Records which operations reach the target through dispatch.
class Recording_grid : public Gr2d_dcr_new {
 public:
  void finalize() override {
    calls += "finalize;";
    Gr2d_dcr_new::finalize();
  }
  void initialize(std::span<const double> x, std::span<const double> z) override {
    calls += "initialize;";
    Gr2d_dcr_new::initialize(x, z);
  }
  std::string calls;
};

// Checks that `g` is a complete solver grid on positions (0, 1, 3) x (0, 2).
void expect_example_solver_grid(const Gr2d_dcr_new& g) {
  EXPECT_EQ(as_vector(g.get_x_grid()), (std::vector<double>{0, 1, 3}));
  EXPECT_EQ(as_vector(g.get_z_grid()), (std::vector<double>{0, 2}));
  EXPECT_EQ(as_vector(g.get_dx_grid()), (std::vector<double>{1, 2}));
  EXPECT_EQ(g.get_n_node(), 6);
  const std::span<const double> nd = g.get_node_distance();
  ASSERT_EQ(nd.size(), 6u);
  EXPECT_DOUBLE_EQ(nd[3], std::sqrt(0.25 + 4.0));
  const Imatrix *n2d = nullptr, *e1d = nullptr;
  g.get_node_mapping(n2d, "2dto1d");
  g.get_element_mapping(e1d, "1dto2d");
  ASSERT_TRUE(n2d && e1d);
  ASSERT_EQ(n2d->rows(), 2);
  ASSERT_EQ(n2d->cols(), 3);
  EXPECT_EQ((*n2d)(2, 2), 4);
  ASSERT_EQ(e1d->rows(), 2);
  EXPECT_EQ((*e1d)(2, 1), 2);
  EXPECT_EQ(g.p2n(2.0, 2.0), 4);
  EXPECT_EQ(g.p2e(1.0, 1.0), 2);
}

TEST(GridDuplicate, SolverGridTargetGetsItsMapsRebuilt) {
  Base_grid2d base_source;
  base_source.initialize(std::vector<double>{0, 1, 3}, std::vector<double>{0, 2});
  const Gr2d_dcr_new solver_source = example_grid();

  struct Case {
    const char* name;
    bool target_allocated;
    int how;  // 0 base duplicate_grid2d, 1 solver duplicate_grid2d, 2 solver duplicate
  };
  const std::vector<Case> cases = {
      {"duplicate_grid2d of a base grid, empty target", false, 0},
      {"duplicate_grid2d of a base grid, allocated target", true, 0},
      {"duplicate_grid2d of a solver grid, allocated target", true, 1},
      {"duplicate, empty target", false, 2},
      {"duplicate, allocated target", true, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Recording_grid target;
    // A different, larger grid that must disappear completely.
    if (c.target_allocated)
      target.initialize(std::vector<double>{-5, 0, 5, 10}, std::vector<double>{0, 1, 2, 3});
    target.calls.clear();
    switch (c.how) {
      case 0:
        base_source.duplicate_grid2d(target);
        break;
      case 1:
        solver_source.duplicate_grid2d(target);
        break;
      default:
        solver_source.duplicate(target);
        break;
    }
    EXPECT_EQ(target.calls, c.target_allocated ? "finalize;initialize;" : "initialize;");
    expect_example_solver_grid(target);
  }
}

TEST(GridDuplicate, BaseTargetAndSelfCopy) {
  const Gr2d_dcr_new source = example_grid();
  Base_grid2d target;
  target.initialize(std::vector<double>{7, 8}, std::vector<double>{1});
  source.duplicate(target);
  EXPECT_TRUE(target.is_allocated());
  EXPECT_EQ(as_vector(target.get_x_grid()), (std::vector<double>{0, 1, 3}));
  EXPECT_EQ(as_vector(target.get_dz_grid()), (std::vector<double>{2}));

  // A grid duplicated onto itself stays what it was.
  Gr2d_dcr_new self = example_grid();
  self.duplicate_grid2d(self);
  expect_example_solver_grid(self);
  self.duplicate(self);
  expect_example_solver_grid(self);
}

// ---------------------------------------------------------------------------
// Listing (free-format records)

TEST(GridInfo, ListsVerticalThenHorizontalGrid) {
  using varnel::text_io::free_format;
  const std::string rule = " !===========================================\n";
  const Gr2d_dcr_new g = example_grid();
  testing::internal::CaptureStdout();
  g.info();
  const std::string out = testing::internal::GetCapturedStdout();
  const std::string expected = free_format({"Number of grid ", 2, " x ", 3}) + "\n" + rule +
                               " ! Vertical Grid ============================\n" + rule +
                               free_format({1, 0.0}) + "\n" + free_format({2, 2.0}) + "\n" + rule +
                               " ! Horizontal Grid ==========================\n" + rule +
                               free_format({1, 0.0}) + "\n" + free_format({2, 1.0}) + "\n" +
                               free_format({3, 3.0}) + "\n";
  EXPECT_EQ(out, expected);
  EXPECT_EQ(out.substr(0, out.find('\n')), " Number of grid  2  x  3");
}

TEST(GridInfo, OneDimensionalListingAndEmptyGrids) {
  using varnel::text_io::free_format;
  const std::string rule = " !===========================================\n";
  Base_grid1d g1;
  g1.initialize(std::vector<double>{0, 0.5});
  testing::internal::CaptureStdout();
  g1.info();
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            free_format({"Number of grid ", 2}) + "\n" + rule +
                " ! Vertical Grid ============================\n" + rule + free_format({1, 0.0}) +
                "\n" + free_format({2, 0.5}) + "\n");

  g1.clean();
  Base_grid2d empty;
  for (int i = 0; i < 2; ++i) {
    testing::internal::CaptureStdout();
    if (i == 0)
      g1.info();
    else
      empty.info();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), " Grid is not initialed\n");
  }
}

}  // namespace
