// Constants, maths helpers, the text tests of string_utility and the ascii_etc
// dumps.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <numbers>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "core/numerics/ascii_etc.hpp"
#include "core/numerics/constants.hpp"
#include "core/numerics/maths.hpp"
#include "core/numerics/string_utility.hpp"

namespace {

using namespace varnel;

constexpr uint64_t quiet_nan_bits = UINT64_C(0x7FF8000000000000);
constexpr double inf = std::numeric_limits<double>::infinity();

TEST(MathsConstants, QuietNanOnlyAfterInitialisation) {
  constants::Constants c;
  EXPECT_EQ(std::bit_cast<uint64_t>(c.rsp_nan), std::bit_cast<uint64_t>(0.0));
  EXPECT_EQ(c.output_level, 0);
  c.output_level = 3;
  constants::initialize_constants(c);
  EXPECT_EQ(std::bit_cast<uint64_t>(c.rsp_nan), quiet_nan_bits);
  EXPECT_EQ(c.output_level, 3);
}

TEST(MathsNanFillers, BitPatternAndShapes) {
  EXPECT_EQ(std::bit_cast<uint64_t>(maths::nan_rsp()), quiet_nan_bits);

  const std::vector<double> v = maths::nan_rsp_1d(3);
  ASSERT_EQ(v.size(), 3u);
  for (double x : v) EXPECT_EQ(std::bit_cast<uint64_t>(x), quiet_nan_bits);

  const Dmatrix m = maths::nan_rsp_2d(2, 3);
  ASSERT_EQ(m.rows(), 2);
  ASSERT_EQ(m.cols(), 3);
  for (double x : m.storage()) EXPECT_EQ(std::bit_cast<uint64_t>(x), quiet_nan_bits);

  const Dmatrix empty = maths::nan_rsp_2d(0, 5);
  EXPECT_EQ(empty.rows(), 0);
  EXPECT_TRUE(empty.empty());
}

TEST(MathsGeometricMean, OneTwoAndThreeDimensions) {
  struct Case {
    std::string name;
    double got;
    double want;
  };
  Dmatrix m(2, 2);
  m(1, 1) = 1.0, m(2, 1) = 10.0, m(1, 2) = 100.0, m(2, 2) = 1000.0;
  std::vector<double> cube;
  for (int k = 0; k < 2 * 3 * 2; ++k) cube.push_back(std::pow(2.0, k));
  const std::vector<Case> cases = {
      {"1d (1, 100)", maths::cal_geometric_mean_1d({1.0, 100.0}), 10.0},
      {"1d (2, 8)", maths::cal_geometric_mean_1d({2.0, 8.0}), 4.0},
      {"1d single value", maths::cal_geometric_mean_1d({7.5}), 7.5},
      {"1d (0.01, 1e4, 10)", maths::cal_geometric_mean_1d({0.01, 1e4, 10.0}), 10.0},
      {"1d (0.001, 1e5, 1)", maths::cal_geometric_mean_1d({0.001, 1e5, 1.0}), std::cbrt(100.0)},
      {"2d 10^(0..3)", maths::cal_geometric_mean_2d(m), std::pow(10.0, 1.5)},
      // 2^0 .. 2^11: mean exponent 5.5.
      {"3d 2 x 3 x 2", maths::cal_geometric_mean_3d(cube, 2, 3, 2), std::pow(2.0, 5.5)},
  };
  for (const auto& c : cases) EXPECT_NEAR(c.got / c.want, 1.0, 1e-13) << c.name;
}

TEST(MathsGeometricMean, DegenerateDataGiveIeeeResults) {
  EXPECT_TRUE(std::isnan(maths::cal_geometric_mean_1d({})));
  EXPECT_TRUE(std::isnan(maths::cal_geometric_mean_2d(Dmatrix(0, 3))));
  EXPECT_TRUE(std::isnan(maths::cal_geometric_mean_3d({}, 0, 2, 2)));
  EXPECT_TRUE(std::isnan(maths::cal_geometric_mean_1d({4.0, -1.0})));
  // log10(0) is -infinity, so the mean collapses to zero.
  EXPECT_EQ(maths::cal_geometric_mean_1d({0.0, 5.0}), 0.0);
}

Dmatrix points(double x1, double f1, double x2, double f2, double x3, double f3) {
  Dmatrix xx(3, 2);
  xx(1, 1) = x1, xx(2, 1) = x2, xx(3, 1) = x3;
  xx(1, 2) = f1, xx(2, 2) = f2, xx(3, 2) = f3;
  return xx;
}

TEST(MathsParabolicInterpolation, VertexOfParabolaThroughThreePoints) {
  struct Case {
    std::string name;
    double a, vertex, c;  // f(x) = a (x - vertex)^2 + c
    double x1, x2, x3;
  };
  const std::vector<Case> cases = {
      {"upward, vertex inside", 1.0, 2.0, 1.0, 0.0, 1.0, 5.0},
      {"downward, vertex left", -3.0, -1.5, 0.0, 0.0, 1.0, 2.0},
      {"unordered abscissae", 0.5, 4.0, -2.0, 6.0, 1.0, 3.0},
      {"log-multiplier scale", 2.0, -0.7, 10.0, -2.0, -1.0, 0.0},
  };
  for (const auto& c : cases) {
    auto f = [&](double x) { return c.a * (x - c.vertex) * (x - c.vertex) + c.c; };
    const double got =
        maths::parabolic_interpolation(points(c.x1, f(c.x1), c.x2, f(c.x2), c.x3, f(c.x3)));
    EXPECT_NEAR(got, c.vertex, 1e-12) << c.name;
  }
}

TEST(MathsParabolicInterpolation, CollinearPointsAreNotFinite) {
  EXPECT_FALSE(maths::isfinite_real(maths::parabolic_interpolation(points(0, 1, 1, 3, 2, 5))));
}

TEST(MathsLinearSearch, AbscissaWhereLineReachesLevel) {
  struct Case {
    std::string name;
    std::array<double, 2> xx, yy;
    double level, want;
  };
  const std::vector<Case> cases = {
      {"interpolate", {1.0, 3.0}, {2.0, 6.0}, 4.0, 2.0},
      {"extrapolate beyond", {1.0, 3.0}, {2.0, 6.0}, 10.0, 5.0},
      {"decreasing line", {0.0, 2.0}, {5.0, 1.0}, 2.0, 1.5},
      {"points in reverse order", {3.0, 1.0}, {6.0, 2.0}, 4.0, 2.0},
  };
  for (const auto& c : cases)
    EXPECT_NEAR(maths::linear_search(c.xx, c.yy, c.level), c.want, 1e-12) << c.name;
  EXPECT_FALSE(maths::isfinite_real(maths::linear_search({1.0, 2.0}, {3.0, 3.0}, 4.0)));
}

TEST(MathsSkinDepth, MatchesPlaneWaveFormula) {
  // delta = sqrt(2 / (omega mu0 sigma)) with omega = 2 pi / T and
  // mu0 = 4 pi 1e-7 H/m. The fixed constant of skin_depth equals pi mu0 to
  // 1.2e-8 relative, so the depths agree to 6e-9.
  const double mu0 = 4.0e-7 * std::numbers::pi;
  for (auto [period, cond] : {std::pair{1.0, 1.0}, {100.0, 0.01}, {1e-3, 10.0}, {10.0, 1e-4}}) {
    const double omega = 2.0 * std::numbers::pi / period;
    const double want = std::sqrt(2.0 / (omega * mu0 * cond));
    EXPECT_NEAR(maths::skin_depth(period, cond) / want, 1.0, 1e-8) << period << " " << cond;
  }
}

TEST(MathsFiniteness, RealAndIntegerTests) {
  const double big = std::numeric_limits<double>::max();
  const std::vector<std::pair<double, bool>> reals = {
      {0.0, true},
      {-0.0, true},
      {1.0, true},
      {big, true},
      {-big, true},
      {std::numeric_limits<double>::denorm_min(), true},
      {inf, false},
      {-inf, false},
      {maths::nan_rsp(), false},
      {-maths::nan_rsp(), false},
  };
  for (auto [x, want] : reals) EXPECT_EQ(maths::isfinite_real(x), want) << x;
  for (int32_t i : {std::numeric_limits<int32_t>::min(), 0, std::numeric_limits<int32_t>::max()})
    EXPECT_TRUE(maths::isfinite_integer(i)) << i;
}

TEST(MathsStrings, IsnumericString) {
  const std::vector<std::pair<std::string, bool>> cases = {
      {"", false},     {"    ", false},   {"1.5E+3", true}, {"1.5E+3   ", true},
      {"-2d0", true},  {"-2d0 ", true},   {"-2D0", true},   {"  42", true},
      {"1e+-.", true}, {"1.5x", false},   {"1,5", false},   {"0x1", false},
      {"12\t", false}, {"3.0 4.0", true}, {"inf", false},   {"1/2", false},
  };
  for (const auto& [text, want] : cases)
    EXPECT_EQ(string_utility::isnumeric_string(text), want) << '"' << text << '"';
}

TEST(MathsStrings, CaseFoldingTouchesOnlyAsciiLetters) {
  struct Case {
    std::string in, lower, upper;
  };
  const std::vector<Case> cases = {
      {"ABC xyz 123", "abc xyz 123", "ABC XYZ 123"},
      {"Dipole-Dipole  ", "dipole-dipole  ", "DIPOLE-DIPOLE  "},
      // Neighbours of the letter ranges in ASCII stay as they are.
      {"@[`{", "@[`{", "@[`{"},
      // Bytes outside ASCII (Latin-1 and UTF-8 letters) are kept.
      {"\xC4\xD6z\xC3\xA9", "\xC4\xD6z\xC3\xA9", "\xC4\xD6Z\xC3\xA9"},
      {"", "", ""},
  };
  for (const auto& c : cases) {
    const std::string lo = string_utility::strlowcase(c.in);
    const std::string up = string_utility::strupcase(c.in);
    EXPECT_EQ(lo, c.lower) << c.in;
    EXPECT_EQ(up, c.upper) << c.in;
    EXPECT_EQ(lo.size(), c.in.size());
    EXPECT_EQ(up.size(), c.in.size());
  }
}

// The ascii_etc dumps are read back token by token: the number of lines and
// of values per line, and every value exactly (17 significant digits give the
// double back bit for bit).
class AsciiEtc : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::path(::testing::TempDir()) /
           ("varnel_ascii_etc_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string file(const std::string& name) const { return (dir_ / name).string(); }

  static std::vector<std::vector<std::string>> tokens(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::vector<std::string>> lines;
    std::string line;
    while (std::getline(in, line)) {
      std::istringstream ls(line);
      lines.emplace_back();
      for (std::string t; ls >> t;) lines.back().push_back(t);
    }
    return lines;
  }

  static bool plain_decimal(const std::string& t) {
    if (t.empty()) return false;
    for (std::size_t i = 0; i < t.size(); ++i)
      if (!((t[i] >= '0' && t[i] <= '9') || (i == 0 && t[i] == '-' && t.size() > 1))) return false;
    return true;
  }

  static double real(const std::string& t) {
    char* end = nullptr;
    const double v = std::strtod(t.c_str(), &end);
    EXPECT_EQ(*end, '\0') << "not a number: " << t;
    return v;
  }

  std::filesystem::path dir_;
};

const std::vector<double> awkward_reals = {
    1.0 / 3.0, -2.5e-300, 1.0e300, 0.1, -4.0, 123456789.0, std::nextafter(1.0, 2.0)};
const std::vector<int32_t> awkward_ints = {0, -7, 42, std::numeric_limits<int32_t>::max(),
                                           std::numeric_limits<int32_t>::min()};

TEST_F(AsciiEtc, VectorsOneValuePerLine) {
  ascii_etc::write_double_vector(awkward_reals, file("d.txt"));
  const auto d = tokens(file("d.txt"));
  ASSERT_EQ(d.size(), awkward_reals.size());
  for (std::size_t i = 0; i < d.size(); ++i) {
    ASSERT_EQ(d[i].size(), 1u) << "line " << i + 1;
    EXPECT_EQ(std::bit_cast<uint64_t>(real(d[i][0])), std::bit_cast<uint64_t>(awkward_reals[i]))
        << d[i][0];
  }

  ascii_etc::write_integer_vector(awkward_ints, file("i.txt"));
  const auto n = tokens(file("i.txt"));
  ASSERT_EQ(n.size(), awkward_ints.size());
  for (std::size_t i = 0; i < n.size(); ++i) {
    ASSERT_EQ(n[i].size(), 1u) << "line " << i + 1;
    EXPECT_TRUE(plain_decimal(n[i][0])) << n[i][0];
    EXPECT_EQ(std::stoll(n[i][0]), awkward_ints[i]);
  }
}

TEST_F(AsciiEtc, MatricesOneLinePerRowInColumnOrder) {
  Dmatrix d(2, 3);
  Imatrix m(3, 2);
  for (int i = 1; i <= 2; ++i)
    for (int j = 1; j <= 3; ++j) d(i, j) = awkward_reals[(i - 1) * 3 + (j - 1)];
  for (int i = 1; i <= 3; ++i)
    for (int j = 1; j <= 2; ++j) m(i, j) = 10 * i - j;
  ascii_etc::write_double_matrix(d, file("d.txt"));
  ascii_etc::write_integer_matrix(m, file("m.txt"));

  const auto dt = tokens(file("d.txt"));
  ASSERT_EQ(dt.size(), 2u);
  for (int i = 1; i <= 2; ++i) {
    ASSERT_EQ(dt[i - 1].size(), 3u) << "row " << i;
    for (int j = 1; j <= 3; ++j)
      EXPECT_EQ(std::bit_cast<uint64_t>(real(dt[i - 1][j - 1])), std::bit_cast<uint64_t>(d(i, j)))
          << i << "," << j;
  }
  const auto mt = tokens(file("m.txt"));
  ASSERT_EQ(mt.size(), 3u);
  for (int i = 1; i <= 3; ++i) {
    ASSERT_EQ(mt[i - 1].size(), 2u) << "row " << i;
    for (int j = 1; j <= 2; ++j) {
      EXPECT_TRUE(plain_decimal(mt[i - 1][j - 1]));
      EXPECT_EQ(std::stoll(mt[i - 1][j - 1]), m(i, j)) << i << "," << j;
    }
  }
}

TEST_F(AsciiEtc, ExistingFileIsOverwritten) {
  {
    std::ofstream old(file("v.txt"));
    for (int k = 0; k < 10; ++k) old << "old content " << k << "\n";
  }
  ascii_etc::write_integer_vector({1, 2}, file("v.txt"));
  const auto t = tokens(file("v.txt"));
  ASSERT_EQ(t.size(), 2u);
  EXPECT_EQ(t[0], std::vector<std::string>{"1"});
  EXPECT_EQ(t[1], std::vector<std::string>{"2"});

  ascii_etc::write_double_vector({}, file("v.txt"));
  EXPECT_TRUE(std::filesystem::exists(file("v.txt")));
  EXPECT_EQ(std::filesystem::file_size(file("v.txt")), 0u);
}

TEST_F(AsciiEtc, UnwritableFileIsIgnored) {
  const std::string bad = file("no_such_dir/sub/x.txt");
  EXPECT_NO_THROW(ascii_etc::write_double_vector({1.0}, bad));
  EXPECT_NO_THROW(ascii_etc::write_integer_vector({1}, bad));
  EXPECT_NO_THROW(ascii_etc::write_double_matrix(Dmatrix(1, 1, 2.0), bad));
  EXPECT_NO_THROW(ascii_etc::write_integer_matrix(Imatrix(1, 1, 2), bad));
  EXPECT_FALSE(std::filesystem::exists(bad));
}

}  // namespace
