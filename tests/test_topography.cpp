// Topography meshing of the hybrid solver: air and cut elements of the
// automatic route, the marking of a model that already holds its air, the
// pseudo elements around cut elements, the interface rows with the air
// resistivity they imply, the list of earth nodes, and the errors of surfaces
// that leave the grid.
//
// Most cases run on a 6 x 6 element grid with unit spacing (node positions
// 0..6 in x and in depth), so node row i lies at depth i - 1 and node column j
// at x = j - 1. The expected arrays are drawn as pictures, one string per row,
// top row first: element pictures 6 x 6, node pictures 7 x 7.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "core/error.hpp"
#include "core/model/dcr2dphy_model.hpp"
#include "core/model/grid2d_dcr.hpp"
#include "core/numerics/array2.hpp"
#include "core/survey/param_dcr2d.hpp"

namespace {

using varnel::Dmatrix;
using varnel::Imatrix;
using varnel::dcr2dphy::Dcr2dphy_state;
using varnel::dcr2dphy::Model_env;
using varnel::dcr2dphy::Model_fwd_dcr2d;
using varnel::grid2d_dcr::Gr2d_dcr_new;
using varnel::param_dcr2d::Param_dcr2d;
using Picture = std::vector<std::string>;

constexpr double kEarth = 0.01;  // 100 ohm-m
const std::vector<double> kUnitNodes = {0, 1, 2, 3, 4, 5, 6};

// One job's model with its grid and settings; the model refers to both.
struct Job {
  Param_dcr2d param;
  Dcr2dphy_state phy;
  Gr2d_dcr_new grid;
  Model_fwd_dcr2d model{Model_env{&param, &phy}};

  explicit Job(double airresist) {
    param.airresist = airresist;
    model.set_grid(&grid);
  }
  Job(const Job&) = delete;
  Job& operator=(const Job&) = delete;
};

Dmatrix make_topo(const std::vector<std::pair<double, double>>& points) {
  Dmatrix topo(static_cast<int>(points.size()), 2);
  for (std::size_t k = 0; k < points.size(); ++k) {
    topo(static_cast<int>(k) + 1, 1) = points[k].first;
    topo(static_cast<int>(k) + 1, 2) = points[k].second;
  }
  return topo;
}

// A picture of digits in the numbering order of the grid: column by column,
// top to bottom within a column.
std::vector<int32_t> digits_in_order(const Picture& rows) {
  std::vector<int32_t> out;
  for (std::size_t ix = 0; ix < rows.front().size(); ++ix)
    for (const std::string& row : rows) out.push_back(row[ix] - '0');
  return out;
}

// A picture of 'A' (air) and 'E' (earth) as conductivities in element order.
std::vector<double> values_in_order(const Picture& rows, double air) {
  std::vector<double> out;
  for (std::size_t ix = 0; ix < rows.front().size(); ++ix)
    for (const std::string& row : rows) out.push_back(row[ix] == 'A' ? air : kEarth);
  return out;
}

int count_of(const std::string& text, const std::string& word) {
  int n = 0;
  for (std::size_t p = text.find(word); p != std::string::npos; p = text.find(word, p + 1)) ++n;
  return n;
}

// ---------------------------------------------------------------------------
// Both routes on whole surfaces

struct Mesh_case {
  std::string name;
  std::vector<std::pair<double, double>> topo;  // (x, z) of the surface points
  Picture file;       // per-element values of a model file; empty: automatic route
  double file_air;    // air conductivity used in `file`
  Picture val, sval;  // expected values ('A' air, 'E' earth)
  Picture elem;       // expected element codes
  Picture approx;     // expected node codes
  std::vector<int32_t> fecell;
  int32_t nfe;
  std::vector<int32_t> aerow;
  double airresist_after;
  int32_t numnp;      // earth nodes
  int fd_flat_lines;  // "FD Flat Case" lines printed
};

constexpr double kAirresist = 1.0e6;  // the job's air resistivity before meshing
constexpr double kFileAir = 1.0e-4;   // 1e4 ohm-m: the air of the model files below

// The surface at node row 3 over the whole profile, however the polyline is
// drawn: rows 1 and 2 air, the cut row 3 and its neighbour rows 2 and 4 with
// code 3, nothing differing between val and sval.
Mesh_case flat_case(std::string name, std::vector<std::pair<double, double>> topo,
                    int32_t nfe = 6) {
  const Picture values = {"AAAAAA", "AAAAAA", "EEEEEE", "EEEEEE", "EEEEEE", "EEEEEE"};
  return {std::move(name),
          std::move(topo),
          {},
          0.0,
          values,
          values,
          {"111111", "333333", "333333", "333333", "111111", "111111"},
          {"1111111", "1111111", "2222222", "2222222", "1111111", "1111111", "1111111"},
          {3, 9, 15, 21, 27, 33},
          nfe,
          {3, 3, 3, 3, 3, 3, 3},
          kAirresist,
          35,
          0};
}

// Surface at node (5, 4) rising to node (3, 6): cut elements (4, 4) and (3, 5)
// with air above, flat to the left at node row 5 and to the right at row 3.
const Picture kRisingVal = {"AAAAAA", "AAAAAA", "AAAAEE", "AAAEEE", "EEEEEE", "EEEEEE"};
const Picture kRisingSval = {"AAAAAA", "AAAAAA", "AAAAAE", "AAAAEE", "EEEEEE", "EEEEEE"};
const Picture kRisingElem = {"111111", "111333", "113333", "333333", "333331", "333311"};
const Picture kRisingApprox = {"1111111", "1111111", "1111222", "1112222",
                               "2222211", "2222111", "1111111"};

// Surface at node (3, 3) falling to node (5, 5): cut elements (3, 3) and (4, 4).
const Picture kFallingVal = {"AAAAAA", "AAAAAA", "EEEAAA", "EEEEAA", "EEEEEE", "EEEEEE"};
const Picture kFallingSval = {"AAAAAA", "AAAAAA", "EEAAAA", "EEEAAA", "EEEEEE", "EEEEEE"};
const Picture kFallingApprox = {"1111111", "1111111", "2222111", "2222211",
                                "1112222", "1111222", "1111111"};

std::vector<Mesh_case> mesh_cases() {
  std::vector<Mesh_case> cases = {
      flat_case("FlatAcrossTheProfile", {{0, 2}, {6, 2}}),
      flat_case("FlatExtendedByTheLeftEdge", {{2, 2}, {6, 2}}),
      flat_case("FlatExtendedByTheRightEdge", {{0, 2}, {4, 2}}),
      flat_case("FlatExtendedByBothEdges", {{2, 2}, {4, 2}}),
      flat_case("FlatInThreeSegments", {{0, 2}, {2, 2}, {4, 2}, {6, 2}}),
      // Within 1e-2 percent of the nodes (6, 2): accepted by the automatic route.
      flat_case("FlatWithPointsWithinTheNodeTolerance", {{0, 2.0001}, {6.0003, 2}}),
      // The right edge starts left of the end of the first segment and marks
      // elements (3, 3) and (3, 4) a second time.
      flat_case("XGoingBackCollectsElementsTwice", {{0, 2}, {4, 2}, {2, 2}}, 8),
  };

  cases.push_back({"RisingWithBothEdges",
                   {{3, 4}, {5, 2}},
                   {},
                   0.0,
                   kRisingVal,
                   kRisingSval,
                   kRisingElem,
                   kRisingApprox,
                   {5, 11, 17, 22, 27, 33},
                   6,
                   {5, 5, 5, 5, 4, 3, 3},
                   kAirresist,
                   26,
                   0});
  Mesh_case explicit_flanks = cases.back();
  explicit_flanks.name = "RisingBetweenFlatSegments";
  explicit_flanks.topo = {{0, 4}, {3, 4}, {5, 2}, {6, 2}};
  cases.push_back(explicit_flanks);

  // Left edge: code 2 with pseudo code 3 (column 1, rows 2 and 4); right edge:
  // code 2 with pseudo code 2.
  cases.push_back({"FallingWithBothEdges",
                   {{2, 2}, {4, 4}},
                   {},
                   0.0,
                   kFallingVal,
                   kFallingSval,
                   {"111111", "322211", "222221", "322222", "112222", "111222"},
                   kFallingApprox,
                   {3, 9, 15, 22, 29, 35},
                   6,
                   {3, 3, 3, 4, 5, 5, 5},
                   kAirresist,
                   28,
                   0});

  // A valley: falling from node (2, 1) to (4, 3), rising to (2, 5), flat to the
  // right border. The rising segment's first cut element (3, 3) does not
  // recode its neighbour (3, 2), a cut element of code 2, nor the falling
  // segment's pseudo elements.
  cases.push_back({"ValleyKeepsTheFirstCodeOfNeighbours",
                   {{0, 1}, {2, 3}, {4, 1}, {6, 1}},
                   {},
                   0.0,
                   {"AAAAAA", "EAAEEE", "EEEEEE", "EEEEEE", "EEEEEE", "EEEEEE"},
                   {"AAAAAA", "AAAAEE", "EAAEEE", "EEEEEE", "EEEEEE", "EEEEEE"},
                   {"223333", "222333", "223333", "222311", "111111", "111111"},
                   {"1111111", "2212222", "2222222", "1222111", "1111111", "1111111", "1111111"},
                   {2, 9, 15, 20, 26, 32},
                   6,
                   {2, 3, 4, 3, 2, 2, 2},
                   kAirresist,
                   38,
                   0});

  // The last segment drops from node (3, 4) to (6, 4) with zero width; the
  // right edge's reference element (5, 3) is a plain element, so columns 4..6
  // only take the values of column 3.
  cases.push_back({"RightEdgeWithoutCutElementIsTheFdFlatCase",
                   {{0, 2}, {3, 2}, {3, 5}},
                   {},
                   0.0,
                   {"AAAAAA", "AAAAAA", "EEEEEE", "EEEEEE", "EEEEEE", "EEEEEE"},
                   {"AAAAAA", "AAAAAA", "EEEEEE", "EEEEEE", "EEEEEE", "EEEEEE"},
                   {"111111", "333311", "333311", "333311", "111111", "111111"},
                   {"1111111", "1111111", "2222111", "2222111", "1111111", "1111111", "1111111"},
                   {3, 9, 15},
                   3,
                   {3, 3, 3, 3, 3, 3, 3},
                   kAirresist,
                   35,
                   1});

  // Assigned route: the file holds the air (1e4 ohm-m, not the job's 1e6); the
  // cut elements take their air part from the element above, and the job's air
  // resistivity becomes the file's.
  cases.push_back({"AssignedRising",
                   {{3, 4}, {5, 2}},
                   kRisingVal,
                   kFileAir,
                   kRisingVal,
                   kRisingSval,
                   kRisingElem,
                   kRisingApprox,
                   {5, 11, 17, 22, 27, 33},
                   6,
                   {5, 5, 5, 5, 4, 3, 3},
                   1.0 / kFileAir,
                   26,
                   0});
  // Both edges of the assigned route mark code 3, also beside a falling
  // segment, and pseudo code 3 around them.
  cases.push_back({"AssignedFalling",
                   {{2, 2}, {4, 4}},
                   kFallingVal,
                   kFileAir,
                   kFallingVal,
                   kFallingSval,
                   {"111111", "322211", "332221", "322223", "112233", "111333"},
                   kFallingApprox,
                   {3, 9, 15, 22, 29, 35},
                   6,
                   {3, 3, 3, 4, 5, 5, 5},
                   1.0 / kFileAir,
                   28,
                   0});
  return cases;
}

class TopographyMesh : public testing::TestWithParam<Mesh_case> {};

TEST_P(TopographyMesh, MarksElementsNodesAndInterface) {
  const Mesh_case& c = GetParam();
  Job job(kAirresist);
  const bool automatic = c.file.empty();
  const double air = automatic ? 1.0 / kAirresist : c.file_air;
  const std::vector<double> cond =
      automatic ? std::vector<double>{kEarth} : values_in_order(c.file, c.file_air);
  const Dmatrix topo = make_topo(c.topo);

  testing::internal::CaptureStdout();
  job.model.initialize(kUnitNodes, kUnitNodes, "hy", &cond, &topo);
  const std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_EQ(count_of(printed, "FD Flat Case"), c.fd_flat_lines) << printed;

  const Model_fwd_dcr2d& m = job.model;
  EXPECT_EQ(m.val, values_in_order(c.val, air));
  EXPECT_EQ(m.sval, values_in_order(c.sval, air));
  EXPECT_EQ(m.elem, digits_in_order(c.elem));
  EXPECT_EQ(m.approx, digits_in_order(c.approx));
  EXPECT_EQ(m.fecell, c.fecell);
  EXPECT_EQ(m.nfe, c.nfe);
  EXPECT_EQ(m.aerow, c.aerow);
  EXPECT_DOUBLE_EQ(job.param.airresist, c.airresist_after);

  // Earth nodes: column by column, top down, from the interface row on.
  EXPECT_EQ(m.node.numnp, c.numnp);
  ASSERT_EQ(m.node.n.size(), static_cast<std::size_t>(c.numnp));
  ASSERT_EQ(m.node.map.size(), 49u);
  for (std::size_t i = 1; i < m.node.n.size(); ++i) EXPECT_LT(m.node.n[i - 1], m.node.n[i]);
  for (int32_t ix = 1; ix <= 7; ++ix)
    for (int32_t iz = 1; iz <= 7; ++iz) {
      const int32_t g = (ix - 1) * 7 + iz;
      const int32_t pos = m.node.map[static_cast<std::size_t>(g - 1)];
      if (iz < c.aerow[static_cast<std::size_t>(ix - 1)]) {
        EXPECT_EQ(pos, 0) << "node (" << iz << ", " << ix << ") is in the air";
      } else {
        ASSERT_GE(pos, 1) << "node (" << iz << ", " << ix << ") is earth";
        EXPECT_EQ(m.node.n[static_cast<std::size_t>(pos - 1)], g);
      }
    }
}

INSTANTIATE_TEST_SUITE_P(Topography, TopographyMesh, testing::ValuesIn(mesh_cases()),
                         [](const testing::TestParamInfo<Mesh_case>& info) {
                           return info.param.name;
                         });

// The assigned route in the top row: a rising cut element there takes the air
// of its left neighbour, a falling one the air part of its right neighbour.
TEST(TopographyAssigned, CutElementsOfTheTopRowTakeTheAirBeside) {
  struct Case {
    std::string name;
    std::vector<std::pair<double, double>> topo;
    Picture file, sval;
    std::vector<int32_t> aerow;
  };
  const std::vector<Case> cases = {
      // Node (3, 3) up to (1, 5): cut elements (2, 3) and (1, 4).
      {"rising into the top row",
       {{2, 2}, {4, 0}, {6, 0}},
       {"AAAEEE", "AAEEEE", "EEEEEE", "EEEEEE", "EEEEEE", "EEEEEE"},
       {"AAAAEE", "AAAEEE", "EEEEEE", "EEEEEE", "EEEEEE", "EEEEEE"},
       {3, 3, 3, 2, 1, 1, 1}},
      // Node (1, 1) down to (3, 3): cut elements (1, 1) and (2, 2).
      {"falling from the top row",
       {{0, 0}, {2, 2}, {6, 2}},
       {"EAAAAA", "EEAAAA", "EEEEEE", "EEEEEE", "EEEEEE", "EEEEEE"},
       {"AAAAAA", "EAAAAA", "EEEEEE", "EEEEEE", "EEEEEE", "EEEEEE"},
       {1, 2, 3, 3, 3, 3, 3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Job job(kAirresist);
    const std::vector<double> cond = values_in_order(c.file, kFileAir);
    const Dmatrix topo = make_topo(c.topo);
    job.model.initialize(kUnitNodes, kUnitNodes, "hy", &cond, &topo);
    EXPECT_EQ(job.model.val, cond);
    EXPECT_EQ(job.model.sval, values_in_order(c.sval, kFileAir));
    EXPECT_EQ(job.model.aerow, c.aerow);
    EXPECT_DOUBLE_EQ(job.param.airresist, 1.0 / kFileAir);
  }
}

// ---------------------------------------------------------------------------
// Surfaces the grid cannot hold

TEST(TopographyErrors, PointsOffTheNodesAndSegmentsLeavingTheGrid) {
  struct Case {
    std::string name;
    bool automatic;
    std::vector<std::pair<double, double>> topo;
    std::string message;  // contained in the error
  };
  const std::vector<Case> cases = {
      {"x between node columns",
       true,
       {{0, 2}, {2.5, 2}},
       "topography point 2 (x = 2.5000000000000000, z = 2.0000000000000000) lies on no grid "
       "node"},
      {"z between node rows",
       false,
       {{0, 2}, {3, 2.5}},
       "topography point 2 (x = 3.0000000000000000, z = 2.5000000000000000) lies on no grid "
       "node"},
      // Near enough for the automatic route, not for a model file's grid.
      {"x off by 5e-3 percent in the assigned route",
       false,
       {{0, 2}, {6.0003, 2}},
       "topography point 2 (x = 6.000"},
      {"rising more rows than lie above it",
       true,
       {{0, 1}, {3, 0}},
       "topography segment from point 1 to point 2 rises above the top of the grid in element "
       "column 2"},
      {"falling more rows than lie below it",
       true,
       {{0, 5}, {3, 6}},
       "topography segment from point 1 to point 2 falls below the bottom of the grid in "
       "element column 2"},
      {"flat along the bottom node row",
       true,
       {{0, 6}, {6, 6}},
       "topography segment from point 1 to point 2 needs element (row 7, column 1), which lies "
       "outside the grid of 6 x 6 elements"},
      {"right edge of a surface that ends at the bottom",
       true,
       {{0, 5}, {1, 6}},
       "right edge of the topography (point 2) needs element (row 7, column 2)"},
      {"assigned rising into the top row at the left border",
       false,
       {{0, 1}, {1, 0}, {6, 0}},
       "topography segment from point 1 to point 2 needs element (row 1, column 0)"},
      {"assigned falling from the top row at the right border",
       false,
       {{0, 0}, {5, 0}, {6, 1}},
       "topography segment from point 2 to point 3 needs element (row 1, column 7)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Job job(kAirresist);
    const std::vector<double> cond =
        c.automatic ? std::vector<double>{kEarth} : std::vector<double>(36, kEarth);
    const Dmatrix topo = make_topo(c.topo);
    try {
      testing::internal::CaptureStdout();
      job.model.initialize(kUnitNodes, kUnitNodes, "hy", &cond, &topo);
      testing::internal::GetCapturedStdout();
      ADD_FAILURE() << "no error";
    } catch (const varnel::Error& e) {
      testing::internal::GetCapturedStdout();
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
}

TEST(TopographyErrors, ModelWithoutJobSettingsIsAProgrammingError) {
  for (const bool automatic : {true, false}) {
    SCOPED_TRACE(automatic ? "automatic" : "assigned");
    Dcr2dphy_state phy;
    Gr2d_dcr_new grid;
    Model_fwd_dcr2d model(Model_env{nullptr, &phy});
    model.set_grid(&grid);
    const std::vector<double> cond =
        automatic ? std::vector<double>{kEarth} : std::vector<double>(36, kEarth);
    const Dmatrix topo = make_topo({{0, 2}, {6, 2}});
    EXPECT_THROW(model.initialize(kUnitNodes, kUnitNodes, "hy", &cond, &topo), varnel::Error);
  }
}

// ---------------------------------------------------------------------------
// The steps on their own

TEST(TopographyPseudo, RecodesOnlyExistingPlainNeighbours) {
  struct Case {
    std::string name;
    std::vector<std::array<int32_t, 3>> preset;  // (row, column, code) set beforehand
    int32_t row, column, code;
    Picture elem;
  };
  const std::vector<Case> cases = {
      {"interior element",
       {},
       3,
       3,
       2,
       {"111111", "122211", "121211", "122211", "111111", "111111"}},
      {"top-left corner",
       {},
       1,
       1,
       3,
       {"131111", "331111", "111111", "111111", "111111", "111111"}},
      {"bottom-right corner",
       {},
       6,
       6,
       2,
       {"111111", "111111", "111111", "111111", "111122", "111121"}},
      {"top border beside marked elements",
       {{1, 5, 3}, {2, 3, 3}},
       1,
       4,
       2,
       {"112131", "113221", "111111", "111111", "111111", "111111"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Job job(kAirresist);
    const std::vector<double> cond = {kEarth};
    job.model.initialize(kUnitNodes, kUnitNodes, "hy", &cond);
    const Imatrix* e2d = nullptr;
    job.grid.get_element_mapping(e2d, "2dto1d");
    ASSERT_NE(e2d, nullptr);
    for (const auto& [r, col, code] : c.preset)
      job.model.elem[static_cast<std::size_t>((*e2d)(r, col) - 1)] = code;
    varnel::dcr2dphy::add_pseudo_fe_element(job.model, *e2d, c.row, c.column, c.code);
    EXPECT_EQ(job.model.elem, digits_in_order(c.elem));
  }
}

// A grid of 3 element columns and 2 rows; elements in the order (1,1), (2,1),
// (1,2), (2,2), (1,3), (2,3).
TEST(TopographyInterface, RowsAndAirResistivityFromTheValues) {
  const double A = 1.0e-6, E = kEarth, nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    std::string name;
    std::vector<double> val, sval;
    std::vector<int32_t> elem;
    double airresist_before;
    std::vector<int32_t> aerow;
    double airresist_after;
  };
  const std::vector<Case> cases = {
      // The first non-air row of each column; the all-air column stays 0 and
      // so does the entry after it.
      {"no differing element keeps the air resistivity",
       {A, E, E, E, A, A},
       {A, E, E, E, A, A},
       {1, 1, 1, 1, 1, 1},
       1.0e6,
       {2, 1, 0, 0},
       1.0e6},
      // 999999.6 ohm-m rounds to the air's 1000000, 999999.4 does not.
      {"nearest integers decide what is air",
       {1.0 / 999999.6, E, 1.0 / 999999.4, E, E, E},
       {1.0 / 999999.6, E, 1.0 / 999999.4, E, E, E},
       {1, 1, 1, 1, 1, 1},
       1.0e6,
       {2, 1, 1, 1},
       1.0e6},
      {"code 2 gives the row of the cut element, code 3 the row below",
       {E, E, E, E, E, E},
       {A, E, A, E, E, A},
       {2, 1, 3, 1, 1, 2},
       5.0e5,
       {1, 2, 2, 2},
       1.0e6},
      {"a later element of the same column overwrites",
       {E, E, E, E, E, E},
       {1.0e-4, 3.0e-4, E, E, E, E},
       {2, 3, 1, 1, 1, 1},
       1.0e6,
       {3, 1, 1, 1},
       5000.0},
      {"NaN counts as differing",
       {nan, E, E, E, E, E},
       {2.0e-4, E, E, E, E, E},
       {3, 1, 1, 1, 1, 1},
       1.0e6,
       {2, 1, 1, 1},
       5000.0},
      // 5000 ohm-m is earth for the old 1e6 but air for the new 1000.
      {"the new air resistivity decides the remaining columns",
       {E, E, 2.0e-4, E, E, E},
       {1.0e-3, E, 2.0e-4, E, E, E},
       {3, 1, 1, 1, 1, 1},
       1.0e6,
       {2, 2, 1, 1},
       1000.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Job job(c.airresist_before);
    const std::vector<double> cond = {E};
    job.model.initialize(std::vector<double>{0, 1, 2, 3}, std::vector<double>{0, 1, 2}, "hy",
                         &cond);
    job.model.val = c.val;
    job.model.sval = c.sval;
    job.model.elem = c.elem;
    varnel::dcr2dphy::air_earth_interface(job.model, 3, 2);
    EXPECT_EQ(job.model.aerow, c.aerow);
    EXPECT_DOUBLE_EQ(job.param.airresist, c.airresist_after);
  }
}

// Nodes of the 3 x 2 element grid: column j holds 3j - 2, 3j - 1, 3j.
TEST(TopographyEarthNodes, ListAndMapFromTheInterfaceRows) {
  struct Case {
    std::string name;
    std::vector<int32_t> aerow;
    std::vector<int32_t> n;
    std::vector<int32_t> map;
  };
  const std::vector<Case> cases = {
      // A column with no interface row (0) keeps all its nodes.
      {"rows differ by column",
       {1, 3, 2, 0},
       {1, 2, 3, 6, 8, 9, 10, 11, 12},
       {1, 2, 3, 0, 0, 4, 0, 5, 6, 7, 8, 9}},
      {"only the bottom row is earth",
       {3, 3, 3, 3},
       {3, 6, 9, 12},
       {0, 0, 1, 0, 0, 2, 0, 0, 3, 0, 0, 4}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Job job(kAirresist);
    const std::vector<double> cond = {kEarth};
    job.model.initialize(std::vector<double>{0, 1, 2, 3}, std::vector<double>{0, 1, 2}, "hy",
                         &cond);
    job.model.aerow = c.aerow;
    varnel::dcr2dphy::create_list_of_earth_node(job.model, 4, 3);
    EXPECT_EQ(job.model.node.n, c.n);
    EXPECT_EQ(job.model.node.numnp, static_cast<int32_t>(c.n.size()));
    EXPECT_EQ(job.model.node.map, c.map);
  }
}

TEST(TopographyEarthNodes, TooFewInterfaceRowsIsAnError) {
  Job job(kAirresist);
  const std::vector<double> cond = {kEarth};
  job.model.initialize(std::vector<double>{0, 1, 2, 3}, std::vector<double>{0, 1, 2}, "hy", &cond);
  job.model.aerow = {1, 1, 1};
  EXPECT_THROW(varnel::dcr2dphy::create_list_of_earth_node(job.model, 4, 3), varnel::Error);
}

}  // namespace

namespace {

// A grid symmetric about x = 0 has node positions that sum to zero; its
// surface points must still be found on their nodes.
TEST(TopographyLocate, GridSymmetricAboutZero) {
  Job job(1.0e6);
  const std::vector<double> cond{kEarth};
  const std::vector<double> xs = {-3, -2, -1, 0, 1, 2, 3};
  const Dmatrix topo = make_topo({{-3, 1}, {0, 1}, {3, 1}});
  job.model.initialize(xs, kUnitNodes, "hy", &cond, &topo);
  for (int ix = 1; ix <= 6; ++ix) EXPECT_EQ(job.model.elem[(ix - 1) * 6 + 1], 3) << ix;
  EXPECT_EQ(job.model.nfe, 6);
}

}  // namespace
