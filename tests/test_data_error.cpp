// Error floors of the data (uniform, per level, per datum) on small data sets
// with hand-computed errors, and the error-file reader: mode words, the
// table, and the located errors of bad files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "core/error.hpp"
#include "core/inversion/ascii_dcr2d_error_file.hpp"
#include "core/inversion/compute_data_error_dcr2d.hpp"

namespace {

using namespace varnel;
using dataio_dcr2d::Main_data_dcr2d;
namespace cde = compute_data_error_dcr2d;

Main_data_dcr2d data_of(const std::vector<double>& err, const std::vector<int32_t>& level = {}) {
  Main_data_dcr2d d;
  d.nodata = static_cast<int32_t>(err.size());
  d.err = err;
  d.level = level.empty() ? std::vector<int32_t>(err.size(), 1) : level;
  return d;
}

Dmatrix table_of(const std::vector<std::array<double, 2>>& rows) {
  Dmatrix t(static_cast<int>(rows.size()), 2);
  for (int j = 1; j <= t.rows(); ++j) {
    t(j, 1) = rows[j - 1][0];
    t(j, 2) = rows[j - 1][1];
  }
  return t;
}

std::string message_of(const std::function<void()>& f) {
  try {
    f();
  } catch (const Error& e) {
    return e.what();
  }
  return "";
}

struct Uniform_case {
  const char* name;
  double percent;
  std::vector<double> err;
};

void PrintTo(const Uniform_case& c, std::ostream* os) { *os << c.name; }

class UniformFloor : public testing::TestWithParam<Uniform_case> {};

// Reference values 100, 200, -50, 10 with errors 1, 1, 1, 0.5.
TEST_P(UniformFloor, RaisesButNeverLowers) {
  const Uniform_case& c = GetParam();
  Main_data_dcr2d d = data_of({1.0, 1.0, 1.0, 0.5});
  cde::cal_error_perror_uniform_dcr2d({100.0, 200.0, -50.0, 10.0}, d, c.percent);
  EXPECT_EQ(d.err, c.err);
}

INSTANTIATE_TEST_SUITE_P(DataError, UniformFloor,
                         testing::Values(
                             // 0.5 %: candidates 0.5, 1.0 (not above 1), -0.25, 0.05.
                             Uniform_case{"BelowTheFirstErrors", 0.5, {1.0, 1.0, 1.0, 0.5}},
                             // 5 %: 5, 10, -2.5 (negative reference), 0.5 (equal, kept).
                             Uniform_case{"AboveTheFirstErrors", 5.0, {5.0, 10.0, 1.0, 0.5}},
                             Uniform_case{"Zero", 0.0, {1.0, 1.0, 1.0, 0.5}}),
                         [](const testing::TestParamInfo<Uniform_case>& info) {
                           return info.param.name;
                         });

TEST(DataError, LevelFloorTakesTheLargestRowOfALevelAndSkipsUnlistedLevels) {
  // Levels 1, 2, 3, 1; rows for level 1 (5 % and 8 %) and level 3 (10 %).
  Main_data_dcr2d d = data_of({1.0, 1.0, 1.0, 1.0}, {1, 2, 3, 1});
  const std::vector<double> ref = {100.0, 100.0, 100.0, 50.0};
  cde::cal_error_perror_uniform_dcr2d(ref, d, 2.0);
  cde::cal_error_perror_level_dcr2d(ref, d, table_of({{1, 5.0}, {3, 10.0}, {1, 8.0}, {2.5, 50.0}}));
  // Level 2 keeps its uniform floor of 2; a key of 2.5 matches no level.
  EXPECT_EQ(d.err, (std::vector<double>{8.0, 2.0, 10.0, 4.0}));
}

TEST(DataError, DataFloorUsesTheRowOfEachDatum) {
  Main_data_dcr2d d = data_of({1.0, 1.0, 1.0});
  // Column 1 is not used; row 4 has no datum.
  cde::cal_error_perror_data_dcr2d({100.0, 40.0, 10.0}, d,
                                   table_of({{9, 3.0}, {-7, 10.0}, {0, 5.0}, {1, 99.0}}));
  EXPECT_EQ(d.err, (std::vector<double>{3.0, 4.0, 1.0}));
}

TEST(DataError, DataFloorNeedsARowPerDatum) {
  Main_data_dcr2d d = data_of({1.0, 1.0, 1.0});
  EXPECT_EQ(message_of([&] {
              cde::cal_error_perror_data_dcr2d({1.0, 2.0, 3.0}, d, table_of({{1, 3.0}, {2, 4.0}}),
                                               "run.err");
            }),
            "run.err: holds 2 rows of per-datum errors, the data set has 3 data");
  EXPECT_EQ(d.err, (std::vector<double>{1.0, 1.0, 1.0}));
}

// --- error file -------------------------------------------------------------

namespace fs = std::filesystem;

fs::path scratch() {
  struct Folder {
    fs::path path =
        fs::path(::testing::TempDir()) / ("varnel_data_error_" + std::to_string(::getpid()));
    Folder() { fs::create_directories(path); }
    ~Folder() {
      std::error_code ec;
      fs::remove_all(path, ec);
    }
  };
  static const Folder folder;
  return folder.path;
}

std::string write_file(const std::string& name, const std::string& text) {
  const std::string path = (scratch() / name).string();
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

TEST(ErrorFile, ReadsTheTableAndStopsAfterItsRows) {
  const std::string path =
      write_file("level.err", "Mode: Level\nRows 3\n1 5.0\n3, 10\n 2   2.5e1\nnot read\n");
  Dmatrix table;
  std::string mode;
  ascii_dcr2d_error_file::ascii_dcr2d_error(table, mode, path);
  EXPECT_EQ(mode, "level");
  ASSERT_EQ(table.rows(), 3);
  ASSERT_EQ(table.cols(), 2);
  EXPECT_EQ(table(1, 1), 1.0);
  EXPECT_EQ(table(1, 2), 5.0);
  EXPECT_EQ(table(2, 1), 3.0);
  EXPECT_EQ(table(2, 2), 10.0);
  EXPECT_EQ(table(3, 1), 2.0);
  EXPECT_EQ(table(3, 2), 25.0);
}

TEST(ErrorFile, ModeWordIsLeftAdjustedFoldedAndCut) {
  const std::vector<std::pair<std::string, std::string>>
      cases = {{"Level", "level"},      {"'   LEVEL'", "level"}, {"levels", "level"},
               {"datum", "datum"},      {"DATA", "data"},        {"LEVELSANDMORE", "level"},
               {"'          data'", ""}};  // the data word starts after the tenth character
  for (const auto& [word, expected] : cases) {
    const std::string path = write_file("mode.err", "Mode " + word + "\nN 1\n1 1\n");
    Dmatrix table;
    std::string mode = "unset";
    ascii_dcr2d_error_file::ascii_dcr2d_error(table, mode, path);
    EXPECT_EQ(mode, expected) << word;
  }
}

TEST(ErrorFile, BadFilesNameTheFileAndLine) {
  struct Bad {
    const char* name;
    const char* text;
    std::string message;  // after "<path>"
  };
  const std::vector<Bad> cases = {
      {"empty.err", "", ": unexpected end of file: expected a label and the error mode"},
      {"onemode.err", "level\nN 1\n1 1\n",
       ", line 1: expected a label and the error mode, found 1 of 2 items"},
      {"word.err", "Mode level\nRows two\n1 1\n",
       ", line 2: expected the number of table rows as an integer, found \"two\""},
      {"zero.err", "Mode level\nRows 0\n",
       ", line 2: the error table needs at least one row, the count is 0"},
      {"malformed.err", "Mode level\nRows 2\n1 5\n2 x5\n",
       ", line 4: expected the key and the per-cent error of table row 2 (expected a number, "
       "found \"x5\")"},
      {"shortrow.err", "Mode level\nRows 2\n1\n2 5\n",
       ", line 3: expected the key and the per-cent error of table row 1, found 1 of 2 items"},
      {"short.err", "Mode data\nRows 3\n1 5\n2 5\n",
       ", line 4: unexpected end of file: expected the key and the per-cent error of table row "
       "3"},
      {"inf.err", "Mode data\nRows 1\n1 inf\n",
       ", line 3: the key and the per-cent error of table row 1 must be finite"},
  };
  for (const Bad& c : cases) {
    const std::string path = write_file(c.name, c.text);
    Dmatrix table;
    std::string mode = "unset";
    EXPECT_EQ(message_of([&] { ascii_dcr2d_error_file::ascii_dcr2d_error(table, mode, path); }),
              path + c.message)
        << c.name;
    EXPECT_EQ(mode, "unset") << c.name;
    EXPECT_TRUE(table.empty()) << c.name;
  }
  const std::string missing = (scratch() / "missing.err").string();
  Dmatrix table;
  std::string mode;
  EXPECT_EQ(message_of([&] { ascii_dcr2d_error_file::ascii_dcr2d_error(table, mode, missing); }),
            missing + ": cannot open file");
}

}  // namespace
