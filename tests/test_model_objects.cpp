// Forward and inverse models: value set-up, the update map, the four ways of
// forming inversion cells, and copies.
#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <vector>

#include "core/error.hpp"
#include "core/model/dcr2dphy_model.hpp"

namespace {

using namespace varnel;
using dcr2dphy::Model_fwd_dcr2d;
using dcr2dphy::Model_inv_dcr2d;

std::vector<double> ramp(int n) {
  std::vector<double> v(n);
  std::iota(v.begin(), v.end(), 0.0);
  return v;
}

struct Fixture {
  param_dcr2d::Param_dcr2d param;
  dcr2dphy::Dcr2dphy_state phy;
  grid2d_dcr::Gr2d_dcr_new grid;
  Model_inv_dcr2d m{{&param, &phy}};
  // A grid of unit elements, nx columns and nz rows, homogeneous 0.01 S/m.
  Fixture(int nx, int nz, const char* approx = "fd") {
    m.set_grid(&grid);
    const std::vector<double> cond{0.01};
    m.initialize(ramp(nx + 1), ramp(nz + 1), approx, &cond);
  }
};

TEST(ModelObjects, InitializeFillsValuesAndSolverFlags) {
  Fixture fd(3, 2, "fd");
  EXPECT_EQ(fd.m.val, std::vector<double>(6, 0.01));
  EXPECT_EQ(fd.m.nfe, 0);
  EXPECT_EQ(fd.m.elem, std::vector<int32_t>(6, 1));
  EXPECT_EQ(fd.m.approx, std::vector<int32_t>(12, 1));
  EXPECT_EQ(fd.m.get_info(), "LIN");

  Fixture fe(3, 2, "fe");
  EXPECT_EQ(fe.m.elem, std::vector<int32_t>(6, 2));
  EXPECT_EQ(fe.m.approx, std::vector<int32_t>(12, 2));
  EXPECT_EQ(fe.m.sval, fe.m.val);

  Fixture hy(3, 2, "hy");  // no topography: finite differences everywhere
  EXPECT_EQ(hy.m.elem, std::vector<int32_t>(6, 1));
  EXPECT_EQ(hy.m.sval, hy.m.val);
  std::vector<int32_t> fecell{7, 7};
  int32_t nfe = -1;
  hy.m.get_fecell(fecell, &nfe);
  EXPECT_EQ(nfe, 0);
  EXPECT_EQ(fecell, (std::vector<int32_t>{7, 7})) << "the caller's array must stay as it was";
}

TEST(ModelObjects, ResistivityRoundTripAndLengthCheck) {
  Fixture f(2, 2);
  f.m.set_res_fwd(std::vector<double>(4, 100.0), "fd");
  EXPECT_EQ(f.m.val, std::vector<double>(4, 0.01));
  std::vector<double> res;
  f.m.get_res_fwd(res);
  EXPECT_EQ(res, std::vector<double>(4, 100.0));
  EXPECT_THROW(f.m.set_con_fwd(std::vector<double>(3, 1.0), "fd"), Error);

  f.m.initialize_inv(nullptr);
  try {
    f.m.set_con_inv(std::vector<double>(3, 1.0));
    ADD_FAILURE() << "a vector one short of ncell was accepted";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "Error: number of model parameter is not consistant");
  }
}

TEST(ModelObjects, InverseModelNeedsAnInitializedForwardModel) {
  param_dcr2d::Param_dcr2d param;
  grid2d_dcr::Gr2d_dcr_new grid;
  Model_inv_dcr2d m({&param, nullptr});
  m.set_grid(&grid);
  try {
    m.initialize_inv(nullptr);
    ADD_FAILURE();
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()),
              "Please initialize forward model before initialize inverse model!!!\n"
              "By using obj%model_fwd_dcr2d%initialize(xS, zS, cond) command");
  }
}

TEST(ModelObjects, UpdateMapSkipsAirAtTheThreshold) {
  Fixture f(2, 2);
  const double threshold = 1.0 / (f.param.airresist - 1.0);
  f.m.val = {threshold, std::nextafter(threshold, 1.0), 0.01, threshold};
  std::vector<int32_t> g2u;
  dcr2dphy::cal_update_model_dcr(f.m, g2u);
  EXPECT_EQ(g2u, (std::vector<int32_t>{0, 1, 2, 0}));
}

TEST(ModelObjects, UpdateLocationsLaterWinsAndEmptyCellsRemain) {
  Fixture f(2, 2);
  ascii_updatefile_dcr2d::Model_update_dcr2d u;
  u.nelement = 3;
  u.location.assign(3, 2);
  const double pts[3][2] = {{0.5, 0.5}, {1.5, 1.5}, {0.25, 0.75}};  // 1st and 3rd in element 1
  for (int i = 0; i < 3; ++i) {
    u.location(i + 1, 1) = pts[i][0];
    u.location(i + 1, 2) = pts[i][1];
  }
  std::vector<int32_t> g2u;
  dcr2dphy::cal_update_model_dcr(f.m, g2u, &u);
  EXPECT_EQ(g2u, (std::vector<int32_t>{3, 0, 0, 2}));
  f.m.initialize_inv(&g2u);
  ASSERT_EQ(f.m.get_ncell(), 3);
  EXPECT_EQ(f.m.inv[0].n, 0) << "the earlier location's cell has no element";
  EXPECT_EQ(f.m.inv[1].fwd_id, (std::vector<int32_t>{4}));
  EXPECT_EQ(f.m.inv[2].fwd_id, (std::vector<int32_t>{1}));
  std::vector<bool> updated;
  f.m.get_isupdated(updated);
  EXPECT_EQ(updated, (std::vector<bool>{true, false, false, true}));
}

TEST(ModelObjects, UpdateLocationOutsideTheGridNamesFileAndLine) {
  Fixture f(2, 2);
  ascii_updatefile_dcr2d::Model_update_dcr2d u;
  u.nelement = 2;
  u.file = "update.txt";
  u.location.assign(2, 2);
  u.location(1, 1) = 0.5;
  u.location(1, 2) = 0.5;
  u.location(2, 1) = 5.0;  // right of the grid
  u.location(2, 2) = 0.5;
  std::vector<int32_t> g2u;
  try {
    dcr2dphy::cal_update_model_dcr(f.m, g2u, &u);
    ADD_FAILURE();
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("update.txt, line 3:"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("outside the model grid"), std::string::npos);
  }
}

// A 20 x 8 grid of unit elements; the criteria pick element columns le..re
// and rows 3..8 below the spread.
struct Merge_case {
  const char* name;
  double x_left, x_right;
  int le, re;
  std::vector<int> factors;  // per box row
};

void PrintTo(const Merge_case& c, std::ostream* os) { *os << c.name; }

class ModelObjectsMerge : public testing::TestWithParam<Merge_case> {};

TEST_P(ModelObjectsMerge, FactorsDoubleWhileTheWidthAllows) {
  const Merge_case& c = GetParam();
  const std::array<double, 2> xc{c.x_left, c.x_right};
  Fixture f(20, 8);
  for (bool with_map : {false, true}) {  // the same cells with and without an update map
    std::vector<int32_t> g2u;
    dcr2dphy::cal_update_model_dcr(f.m, g2u);
    f.m.initialize_inv(with_map ? &g2u : nullptr, &xc, 1.5);
    const int w = c.re - c.le + 1;
    int expected = 160 - w * 6;
    for (int fct : c.factors) expected += w / fct;
    EXPECT_EQ(f.m.get_ncell(), expected);
    // Cells run row by row: 40 in rows 1 and 2, then row 3 left of the box.
    const int first_group = 40 + (c.le - 1);
    const auto& cell = f.m.inv[first_group];
    ASSERT_EQ(cell.n, c.factors[0]);
    EXPECT_EQ(cell.fwd_id.front(), (c.le - 1) * 8 + 3);
    EXPECT_EQ(cell.fwd_id.back(), (c.le + c.factors[0] - 2) * 8 + 3);
    // Every row of the box is covered by groups of its factor.
    for (int row = 0; row < 6; ++row) {
      const int k = (c.le - 1) * 8 + 3 + row;  // left box element of this row
      const int cell_no = f.m.g2u[k - 1];
      EXPECT_EQ(f.m.inv[cell_no - 1].n, c.factors[row]) << "row " << row + 3;
    }
    for (std::size_t k = 0; k < 160; ++k) EXPECT_GT(f.m.g2u[k], 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, ModelObjectsMerge,
                         testing::Values(Merge_case{"width12", 4.5, 15.0, 5, 16, {2, 4, 4, 4, 4, 4}},
                                         Merge_case{"width16", 2.5, 17.0, 3, 18,
                                                    {2, 4, 8, 16, 16, 16}}),
                         [](const auto& info) { return info.param.name; });

TEST(ModelObjects, FixedElementInTheBoxFallsBackToPlainCells) {
  Fixture f(20, 8);
  std::vector<int32_t> g2u;
  dcr2dphy::cal_update_model_dcr(f.m, g2u);
  g2u[(10 - 1) * 8 + 5 - 1] = 0;  // element (5, 10) inside the box is fixed
  const std::array<double, 2> xc{4.5, 15.0};
  f.m.initialize_inv(&g2u, &xc, 1.5);
  EXPECT_EQ(f.m.get_ncell(), 160);
  for (const auto& cell : f.m.inv) EXPECT_LE(cell.n, 1);
  EXPECT_EQ(f.m.g2u, g2u);
}

TEST(ModelObjects, CellValuesReachTheirElements) {
  Fixture f(20, 8);
  const std::array<double, 2> xc{4.5, 15.0};
  f.m.initialize_inv(nullptr, &xc, 1.5);
  std::vector<double> con(f.m.get_ncell());
  for (std::size_t c = 0; c < con.size(); ++c) con[c] = 1.0 + c;
  f.m.set_con_inv(con);
  for (int k = 1; k <= 160; ++k) EXPECT_EQ(f.m.val[k - 1], con[f.m.g2u[k - 1] - 1]);
  std::vector<double> back;
  f.m.get_con_inv(back);
  EXPECT_EQ(back, con);
  EXPECT_EQ(f.m.sval, f.m.val);
}

TEST(ModelObjects, DuplicateKeepsTheTargetGridAndCopiesCells) {
  Fixture src(3, 2, "fe");
  src.m.val = {1, 2, 3, 4, 5, 6};
  src.m.initialize_inv(nullptr);
  src.m.rms = 2.5;

  Fixture dst(5, 5);  // already allocated, on its own grid
  src.m.duplicate(dst.m, "fe");
  EXPECT_EQ(dst.m.grid, &dst.grid);
  EXPECT_EQ(dst.grid.get_n_element(), 6);
  EXPECT_EQ(dst.m.val, src.m.val);
  EXPECT_EQ(dst.m.elem, src.m.elem);
  EXPECT_EQ(dst.m.get_ncell(), 6);
  EXPECT_EQ(dst.m.inv[5].fwd_id, (std::vector<int32_t>{6}));
  EXPECT_EQ(dst.m.rms, 0.0) << "rms is not copied";

  // A model duplicated onto its own grid still sees its positions.
  src.m.duplicate_fwd(src.m, "fd");
  EXPECT_EQ(src.grid.get_n_element(), 6);
}

}  // namespace
