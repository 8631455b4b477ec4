// The sensitivity mask: per element, the summed absolute sensitivity of its
// cell over all data per unit cell area, checked on a 2 x 2 grid of unequal
// elements (areas 0.5, 1, 1, 2) worked out by hand; fixed and air elements;
// and the exact text of the mask file, which replaces an older file whole.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "core/error.hpp"
#include "core/model/dcr2dphy_model.hpp"
#include "core/sensitivity/ascii_dcr2d_jac_jacfile.hpp"
#include "core/sensitivity/jkmask_dcr2d.hpp"

namespace {

using namespace varnel;
namespace fs = std::filesystem;

// Element columns 1 and 2 are 1 and 2 wide, rows 1 and 2 are 0.5 and 1 high;
// elements 1 (1,1), 2 (2,1), 3 (1,2), 4 (2,2) have areas 0.5, 1, 1, 2.
struct Fixture {
  param_dcr2d::Param_dcr2d param;
  dcr2dphy::Dcr2dphy_state phy;
  grid2d_dcr::Gr2d_dcr_new grid;
  dcr2dphy::Model_inv_dcr2d m{{&param, &phy}};

  explicit Fixture(const std::vector<int32_t>* g2u, std::vector<double> xs = {0.0, 1.0, 3.0},
                   std::vector<double> zs = {0.0, 0.5, 1.5}) {
    m.set_grid(&grid);
    const std::vector<double> cond{0.01};
    m.initialize(xs, zs, "fd", &cond);
    m.initialize_inv(g2u);
  }
};

// One row per cell, one column per datum.
Dmatrix jkt_of(const std::vector<std::vector<double>>& rows) {
  Dmatrix t(static_cast<int>(rows.size()), static_cast<int>(rows[0].size()));
  for (int c = 1; c <= t.rows(); ++c)
    for (int j = 1; j <= t.cols(); ++j) t(c, j) = rows[c - 1][j - 1];
  return t;
}

// The mask column by column, top to bottom; NaN compares as NaN.
void expect_mask(const Dmatrix& jk2d, const std::vector<double>& by_column) {
  ASSERT_EQ(jk2d.size(), by_column.size());
  for (std::size_t k = 0; k < by_column.size(); ++k) {
    const double got = jk2d.storage()[k];
    if (std::isnan(by_column[k]))
      EXPECT_TRUE(std::isnan(got)) << "element " << k + 1;
    else
      EXPECT_DOUBLE_EQ(got, by_column[k]) << "element " << k + 1;
  }
}

TEST(JacobianMask, OneElementPerCellIsItsAbsoluteSumOverItsArea) {
  Fixture f(nullptr);
  // |1| + |-2| = 3, 1, 3, 8 over the areas 0.5, 1, 1, 2.
  const Dmatrix jkt = jkt_of({{1.0, -2.0}, {0.5, 0.5}, {-3.0, 0.0}, {4.0, 4.0}});
  expect_mask(jkmask_dcr2d::jk_mask_values(jkt, f.m), {6.0, 1.0, 3.0, 4.0});
}

TEST(JacobianMask, FixedElementsAreNaNAndMergedCellsUseTheirTotalArea) {
  // Element 2 fixed; elements 3 and 4 form cell 2 of area 3.
  const std::vector<int32_t> g2u = {1, 0, 2, 2};
  Fixture f(&g2u);
  const Dmatrix jkt = jkt_of({{1.0, 1.0}, {-3.0, 6.0}});
  expect_mask(jkmask_dcr2d::jk_mask_values(jkt, f.m), {4.0, NAN, 3.0, 3.0});
}

TEST(JacobianMask, AirAboveTheInterfaceIsLeftOutOfTheArea) {
  // Column 1 starts in row 2: element 1 is air. In the first map it is fixed;
  // in the second it shares cell 1 with element 2, whose area alone counts.
  const std::vector<int32_t> air_fixed = {0, 1, 2, 3};
  Fixture a(&air_fixed);
  a.m.aerow = {2, 1, 1};
  expect_mask(jkmask_dcr2d::jk_mask_values(jkt_of({{2.0}, {3.0}, {-4.0}}), a.m),
              {NAN, 2.0, 3.0, 2.0});

  const std::vector<int32_t> shared = {1, 1, 2, 3};
  Fixture b(&shared);
  b.m.aerow = {2, 1, 1};
  expect_mask(jkmask_dcr2d::jk_mask_values(jkt_of({{2.0}, {3.0}, {-4.0}}), b.m),
              {2.0, 2.0, 3.0, 2.0});
}

fs::path scratch() {
  struct Folder {
    fs::path path =
        fs::path(::testing::TempDir()) / ("varnel_jacobian_mask_" + std::to_string(::getpid()));
    Folder() { fs::create_directories(path); }
    ~Folder() {
      std::error_code ec;
      fs::remove_all(path, ec);
    }
  };
  static const Folder folder;
  return folder.path;
}

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(JacobianMask, FileReplacesAnOlderOneWithTheExactLayout) {
  const std::vector<int32_t> g2u = {1, 0, 2, 2};
  Fixture f(&g2u);
  const std::string path = (scratch() / "Jk_Homo.mask").string();
  std::ofstream(path) << std::string(2000, 'x') << '\n';
  jkmask_dcr2d::cal_jk_mask(jkt_of({{1.0, 1.0}, {-3.0, 6.0}}), path + "   ", f.m);
  EXPECT_EQ(read_text(path),
            "    2    2\n"
            "Horizontal Grid:\n"
            "    0.0000000000E+00\n"
            "    0.1000000000E+01\n"
            "    0.3000000000E+01\n"
            "Vertical Grid:\n"
            "    0.0000000000E+00\n"
            "    0.5000000000E+00\n"
            "    0.1500000000E+01\n"
            "Jk:\n"
            "    0.4000000000E+01\n"
            "                 NaN\n"
            "    0.3000000000E+01\n"
            "    0.3000000000E+01\n");
  // No temporary file is left beside it.
  int files = 0;
  for (const auto& e : fs::directory_iterator(scratch()))
    if (e.path().filename().string().rfind("Jk_Homo.mask", 0) == 0) ++files;
  EXPECT_EQ(files, 1);
}

TEST(JacobianMask, TenByFourGridGivesItsCountsAndOneLinePerValue) {
  std::vector<double> xs, zs;
  for (int i = 0; i <= 10; ++i) xs.push_back(i);
  for (int i = 0; i <= 4; ++i) zs.push_back(0.5 * i);
  Fixture f(nullptr, xs, zs);
  const std::string path = (scratch() / "ten_by_four.mask").string();
  jkmask_dcr2d::cal_jk_mask(Dmatrix(40, 3, 1.0), path, f.m);
  std::istringstream in(read_text(path));
  std::vector<std::string> lines;
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  ASSERT_EQ(lines.size(), 1u + 1 + 11 + 1 + 5 + 1 + 40);
  EXPECT_EQ(lines[0], "   10    4");
  EXPECT_EQ(lines[12], "    0.1000000000E+02");  // last x node
  EXPECT_EQ(lines[13], "Vertical Grid:");
  EXPECT_EQ(lines[19], "Jk:");
  EXPECT_EQ(lines[20], "    0.6000000000E+01");  // 3 data of 1 over 0.5
}

TEST(JacobianMask, UnwritableFileIsAJobErrorNamingIt) {
  Fixture f(nullptr);
  const std::string path = (scratch() / "no_such_folder" / "Jk_Homo.mask").string();
  try {
    jkmask_dcr2d::cal_jk_mask(Dmatrix(4, 1, 1.0), path, f.m);
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()).rfind(path + ": cannot write the sensitivity mask: ", 0), 0u)
        << e.what();
  }
}

}  // namespace
