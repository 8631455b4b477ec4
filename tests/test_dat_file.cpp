// DAT data files: conversion of simple rows, reading both layouts and the
// topography list, rejection of malformed files with the file and line named,
// and the writer's text and round trip.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/error.hpp"
#include "core/numerics/array2.hpp"
#include "core/survey/ascii_dcr2d_dat_datafile.hpp"
#include "core/survey/rxtypes_dcr2d.hpp"
#include "core/survey/txtypes_dcr2d.hpp"

namespace {

namespace dat = varnel::ascii_dcr2d_dat_datafile;
namespace tx = varnel::txtypes_dcr2d;
namespace rx = varnel::rxtypes_dcr2d;
using dat::Dat_file_rawdata_dcr2d;
using varnel::Dmatrix;

std::string fixture(const std::string& name) {
  return std::string(VARNEL_TEST_DATA) + "/dat/" + name;
}

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<double> numbers_of(const std::string& line) {
  std::vector<double> v;
  std::istringstream in(line);
  for (std::string t; in >> t;) v.push_back(std::strtod(t.c_str(), nullptr));
  return v;
}

// Each test gets a folder of its own under the test temporary folder.
class DatFileTemp : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::path(::testing::TempDir()) /
           ("varnel_dat_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string file(const std::string& name) const { return (dir_ / name).string(); }
  std::string put(const std::string& name, const std::string& text) const {
    const std::string path = file(name);
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
  // Reads the file quietly (simple layouts write lines on standard output).
  static Dat_file_rawdata_dcr2d read_file(const std::string& path) {
    Dat_file_rawdata_dcr2d d;
    d.filename = path;
    testing::internal::CaptureStdout();
    try {
      dat::read_dcr2d_dat_datafile(d);
    } catch (...) {
      testing::internal::GetCapturedStdout();
      throw;
    }
    testing::internal::GetCapturedStdout();
    return d;
  }
  // The message of the error the read throws; empty when it does not throw.
  static std::string read_error(const std::string& path) {
    try {
      read_file(path);
    } catch (const varnel::Error& e) {
      return e.what();
    }
    return "";
  }

  std::filesystem::path dir_;
};

// ---------------------------------------------------------------------------
// Simple rows to general rows

TEST(DatFileConvert, SimpleRowsGiveElectrodePositions) {
  struct Case {
    const char* what;
    int32_t arraytype;
    std::vector<double> res2d;
    int32_t type_of_position;
    int32_t ip_flag;
    // n, C1 x z, C2 x z, P1 x z, P2 x z, value[, ip]
    std::vector<double> expected;
  };
  const std::vector<Case> cases = {
      {"wenner, first electrode", 1, {10, 2, 100}, 0, 0, {4, 10, 0, 16, 0, 12, 0, 14, 0, 100}},
      {"wenner, midpoint", 1, {10, 2, 100}, 1, 0, {4, 7, 0, 13, 0, 9, 0, 11, 0, 100}},
      {"wenner, any nonzero type is the midpoint",
       1,
       {10, 2, 100},
       2,
       0,
       {4, 7, 0, 13, 0, 9, 0, 11, 0, 100}},
      {"wenner with ip", 1, {10, 2, 100, 7.5}, 0, 1, {4, 10, 0, 16, 0, 12, 0, 14, 0, 100, 7.5}},
      {"dipole-dipole, first electrode", 3, {0, 1, 2, 55}, 0, 0, {4, 1, 0, 0, 0, 3, 0, 4, 0, 55}},
      {"dipole-dipole, midpoint", 3, {2, 1, 2, 55}, 1, 0, {4, 1, 0, 0, 0, 3, 0, 4, 0, 55}},
      {"dipole-dipole, midpoint, a = 2, n = 3",
       3,
       {10, 2, 3, 55},
       1,
       0,
       {4, 7, 0, 5, 0, 13, 0, 15, 0, 55}},
      {"dipole-dipole with ip",
       3,
       {0, 1, 2, 55, 3.25},
       0,
       1,
       {4, 1, 0, 0, 0, 3, 0, 4, 0, 55, 3.25}},
      {"wenner-schlumberger, first electrode",
       7,
       {0, 1, 2, 42},
       0,
       0,
       {4, 0, 0, 5, 0, 2, 0, 3, 0, 42}},
      {"wenner-schlumberger, midpoint", 7, {2.5, 1, 2, 42}, 1, 0, {4, 0, 0, 5, 0, 2, 0, 3, 0, 42}},
      {"wenner-schlumberger with ip",
       7,
       {0, 1, 2, 42, 9},
       0,
       1,
       {4, 0, 0, 5, 0, 2, 0, 3, 0, 42, 9}},
      {"wenner, extra values ignored",
       1,
       {10, 2, 100, 99},
       0,
       0,
       {4, 10, 0, 16, 0, 12, 0, 14, 0, 100}},
      // No conversion exists for other arrays: the count and zeros.
      {"pole-pole", 2, {1, 2, 3}, 0, 0, {2, 0, 0, 0, 0, 0}},
      {"pole-dipole with ip", 6, {1, 2, 3, 4}, 0, 1, {3, 0, 0, 0, 0, 0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<double> w = {-1, -1};  // stale content must go
    dat::convert_res2d_to_rawdata(c.arraytype, c.res2d, c.type_of_position, c.ip_flag, w);
    EXPECT_EQ(w, c.expected);
  }
}

TEST(DatFileConvert, ShortRowOrBadFlagThrows) {
  std::vector<double> w;
  EXPECT_THROW(dat::convert_res2d_to_rawdata(3, {0, 1, 2}, 0, 0, w), varnel::Error);
  EXPECT_THROW(dat::convert_res2d_to_rawdata(1, {10, 2, 100}, 0, 1, w), varnel::Error);
  EXPECT_THROW(dat::convert_res2d_to_rawdata(1, {10, 2, 100}, 0, 2, w), varnel::Error);
}

// ---------------------------------------------------------------------------
// Reading

TEST_F(DatFileTemp, ReadsGeneralLayout) {
  // Arraytype 3 with IP values; the second row uses commas and carries a
  // trailing note, the third continues on the next line.
  const Dat_file_rawdata_dcr2d d = read_file(fixture("general_dd_ip.dat"));
  EXPECT_EQ(d.profile, "Dipole-dipole line with IP");
  EXPECT_EQ(d.espacing, 1.0);
  EXPECT_EQ(d.data_format, 11);
  EXPECT_EQ(d.arraytype, 3);
  EXPECT_EQ(d.measuretype, 0);
  EXPECT_EQ(d.nodata, 3);
  EXPECT_EQ(d.x_position_type, 1);
  EXPECT_EQ(d.ip_flag, 1);
  EXPECT_EQ(d.ncomp, 11);
  const std::vector<std::vector<double>> rows = {
      {4, 1.0, 0.0, 0.0, 0.0, 2.0, 0.0, 3.0, 0.0, 105.5, 4.5},
      {4, 2.0, 0.1, 1.0, 0.05, 4.0, 0.2, 5.0, 0.25, 98.25, 3.75},
      {4, 3.0, 0.2, 2.0, 0.1, 5.0, 0.25, 6.0, 0.3, 87.0, 2.0},
  };
  ASSERT_EQ(d.rawdata.rows(), 3);
  ASSERT_EQ(d.rawdata.cols(), 11);
  for (int i = 1; i <= 3; ++i)
    for (int j = 1; j <= 11; ++j) EXPECT_EQ(d.rawdata(i, j), rows[i - 1][j - 1]) << i << "," << j;
  ASSERT_EQ(d.ntopo, 2);
  ASSERT_EQ(d.topo.rows(), 2);
  ASSERT_EQ(d.topo.cols(), 2);
  EXPECT_EQ(d.topo(1, 1), 0.0);
  EXPECT_EQ(d.topo(1, 2), 0.0);
  EXPECT_EQ(d.topo(2, 1), 6.0);
  EXPECT_EQ(d.topo(2, 2), 0.3);
}

TEST_F(DatFileTemp, ArrayTypeZeroIsStoredAsElevenAndFileMayEndAfterRows) {
  const Dat_file_rawdata_dcr2d d = read_file(fixture("general_type0.dat"));
  EXPECT_EQ(d.arraytype, 11);
  EXPECT_EQ(d.measuretype, 1);
  EXPECT_EQ(d.nodata, 2);
  EXPECT_EQ(d.x_position_type, 2);
  EXPECT_EQ(d.ip_flag, 0);
  EXPECT_EQ(d.ncomp, 10);
  ASSERT_EQ(d.rawdata.rows(), 2);
  EXPECT_EQ(d.rawdata(2, 4), 8.0);
  EXPECT_EQ(d.rawdata(2, 10), 0.75);
  EXPECT_EQ(d.ntopo, 0);
  EXPECT_TRUE(d.topo.empty());
}

TEST_F(DatFileTemp, ReadsSimpleLayoutsAndEchoesConvertedRows) {
  struct Case {
    const char* file;
    int32_t arraytype, ip_flag;
    std::vector<std::vector<double>> rows;
    std::vector<std::vector<double>> topo;
  };
  const std::vector<Case> cases = {
      {"simple_wenner.dat",
       1,
       0,
       {{4, 10, 0, 16, 0, 12, 0, 14, 0, 100}, {4, 12, 0, 18, 0, 14, 0, 16, 0, 110}},
       {}},
      {"simple_dd_ip.dat",
       3,
       1,
       {{4, 1, 0, 0, 0, 3, 0, 4, 0, 50, 1.5}, {4, 2.5, 0, 1.5, 0, 3.5, 0, 4.5, 0, 60, 2.5}},
       {{2.0, -0.5}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    Dat_file_rawdata_dcr2d d;
    d.filename = fixture(c.file);
    testing::internal::CaptureStdout();
    dat::read_dcr2d_dat_datafile(d);
    const std::vector<std::string> out = lines_of(testing::internal::GetCapturedStdout());

    EXPECT_EQ(d.data_format, 11);
    EXPECT_EQ(d.x_position_type, 2);
    EXPECT_EQ(d.measuretype, 0);
    EXPECT_EQ(d.arraytype, c.arraytype);
    EXPECT_EQ(d.ip_flag, c.ip_flag);
    EXPECT_EQ(d.nodata, static_cast<int32_t>(c.rows.size()));
    EXPECT_EQ(d.ncomp, 10 + c.ip_flag);
    ASSERT_EQ(d.rawdata.rows(), d.nodata);
    ASSERT_EQ(d.rawdata.cols(), d.ncomp);
    for (int i = 1; i <= d.nodata; ++i)
      for (int j = 1; j <= d.ncomp; ++j)
        EXPECT_EQ(d.rawdata(i, j), c.rows[i - 1][j - 1]) << i << "," << j;
    ASSERT_EQ(d.ntopo, static_cast<int32_t>(c.topo.size()));
    for (int k = 1; k <= d.ntopo; ++k) {
      EXPECT_EQ(d.topo(k, 1), c.topo[k - 1][0]);
      EXPECT_EQ(d.topo(k, 2), c.topo[k - 1][1]);
    }

    // Standard output: the IP flag, then each converted row, in free format.
    ASSERT_EQ(out.size(), 1 + c.rows.size());
    EXPECT_EQ(out[0], " " + std::to_string(c.ip_flag));
    for (std::size_t i = 0; i < c.rows.size(); ++i) {
      EXPECT_EQ(out[i + 1].substr(0, 1), " ");
      EXPECT_EQ(numbers_of(out[i + 1]), c.rows[i]);
    }
  }
}

TEST_F(DatFileTemp, TopographyItem) {
  const std::string head =
      "line\n1.0\n11\n1\nType\n0\n1\n1\n0\n"
      "4 0 0 3 0 1 0 2 0 10\n";
  struct Case {
    const char* what;
    std::string tail;
    std::vector<std::vector<double>> topo;
  };
  const std::vector<Case> cases = {
      {"end of file", "", {}},
      {"blank line", "\n", {}},
      {"blank line before a count", "   \n2\n0 0\n1 1\n", {}},
      {"a comma", ",\n", {}},
      {"a zero count", "0\n0\n0\n", {}},
      {"two points", "2\n0.5 1.0\n3.0, 1.5\n0\n0\n0\n0\n", {{0.5, 1.0}, {3.0, 1.5}}},
      {"count with trailing text", "1 points\n2 3 ignored\n", {{2, 3}}},
      {"count ended by a comma", "1,\n2 3\n", {{2, 3}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Dat_file_rawdata_dcr2d d = read_file(put("topo.dat", head + c.tail));
    ASSERT_EQ(d.ntopo, static_cast<int32_t>(c.topo.size()));
    if (c.topo.empty()) {
      EXPECT_TRUE(d.topo.empty());
      continue;
    }
    ASSERT_EQ(d.topo.rows(), d.ntopo);
    ASSERT_EQ(d.topo.cols(), 2);
    for (int k = 1; k <= d.ntopo; ++k) {
      EXPECT_EQ(d.topo(k, 1), c.topo[k - 1][0]);
      EXPECT_EQ(d.topo(k, 2), c.topo[k - 1][1]);
    }
  }
}

TEST_F(DatFileTemp, ReadingAgainReplacesEverything) {
  Dat_file_rawdata_dcr2d d = read_file(fixture("general_dd_ip.dat"));
  ASSERT_EQ(d.ntopo, 2);
  d.filename = fixture("general_type0.dat");
  dat::read_dcr2d_dat_datafile(d);
  EXPECT_EQ(d.ncomp, 10);
  EXPECT_EQ(d.rawdata.rows(), 2);
  EXPECT_EQ(d.rawdata.cols(), 10);
  EXPECT_EQ(d.ntopo, 0);
  EXPECT_TRUE(d.topo.empty());
}

TEST_F(DatFileTemp, ProfileKeepsTheFirstHundredCharacters) {
  const std::string name(130, 'p');
  const Dat_file_rawdata_dcr2d d = read_file(put("long.dat", name + "\n1.0\n1\n1\n0\n0\n0 1 5\n"));
  EXPECT_EQ(d.profile, std::string(100, 'p'));
}

TEST_F(DatFileTemp, MalformedFilesNameFileLineAndItem) {
  // A valid general file, line by line; each case replaces or cuts lines.
  const std::vector<std::string> good = {
      "profile",                                                // 1
      "1.0",                                                    // 2
      "11",                                                     // 3
      "3",                                                      // 4
      "Type of measurement (0=app. resistivity,1=resistance)",  // 5
      "0",                                                      // 6
      "2",                                                      // 7
      "1",                                                      // 8
      "0",                                                      // 9
      "4 1 0 0 0 2 0 3 0 100",                                  // 10
      "4 2 0 1 0 3 0 4 0 90",                                   // 11
  };
  const auto text = [&good](std::vector<std::pair<int, std::string>> changes, int keep = 0) {
    std::vector<std::string> l = good;
    for (auto& [n, s] : changes) l[static_cast<std::size_t>(n - 1)] = s;
    if (keep > 0) l.resize(static_cast<std::size_t>(keep));
    std::string t;
    for (const auto& s : l) t += s + "\n";
    return t;
  };
  const std::string simple = "s\n2.0\n1\n2\n0\n0\n10 2 100\n";

  struct Case {
    const char* what;
    std::string text;
    int line;
    std::string says;
  };
  const std::vector<Case> cases = {
      {"empty file", "", 0, "empty"},
      {"spacing not a number", text({{2, "abc"}}), 2, "electrode spacing"},
      {"selector not an integer", text({{3, "11.5"}}), 3, "layout selector"},
      {"selector outside the codes", text({{3, "16"}}), 3, "array type 16 is not supported"},
      {"selector zero", text({{3, "0"}}), 3, "array type 0 is not supported"},
      {"selector without a simple layout", text({{3, "2"}}), 3,
       "array type 2 has no simple layout"},
      {"array type outside the codes", text({{4, "16"}}), 4, "array type 16 is not supported"},
      {"negative array type", text({{4, "-1"}}), 4, "array type -1 is not supported"},
      {"array type without electrodes", text({{4, "9"}}), 4, "array type 9 has no electrode"},
      {"array type 14 without electrodes", text({{4, "14"}}), 4, "array type 14 has no electrode"},
      {"file ends at the text line", text({}, 4), 4, "text line"},
      {"measurement type missing", text({{6, "x"}}), 6, "measurement type"},
      {"measurement type out of range", text({{6, "3"}}), 6, "measurement type must be 0 or 1"},
      {"file ends before nodata", text({}, 6), 6, "expected the number of data"},
      {"nodata not an integer", text({{7, "two"}}), 7, "expected the number of data"},
      {"nodata negative", text({{7, "-1"}}), 7, "must not be negative"},
      {"nodata far beyond the file", text({{7, "1000000000"}}), 7, "more than the file can hold"},
      {"position type missing", text({{8, ""}, {9, ""}, {10, ""}, {11, ""}}, 11), 11,
       "x position type"},
      {"ip flag out of range", text({{9, "2"}}), 9, "IP flag must be 0 or 1"},
      {"malformed value in a row", text({{11, "4 2 0 1 0 3 0 4 0 9o"}}), 11,
       "10 values of datum 2 of 2"},
      {"file ends inside the rows", text({}, 10), 10, "10 values of datum 2 of 2"},
      {"file ends inside a row", text({{11, "4 2 0 1 0"}}), 11, "10 values of datum 2 of 2"},
      {"wrong electrode count", text({{10, "3 1 0 0 0 2 0 3 0 100"}}), 10,
       "datum 1 of 2: the electrode count"},
      {"topography count not an integer", text({}) + "2.5\n0 0\n1 1\n", 12,
       "number of topography points"},
      {"topography count negative", text({}) + "-2\n", 12, "must not be negative"},
      {"file ends inside the topography", text({}) + "3\n0 0\n1 1\n", 14,
       "topography point 3 of 3"},
      {"malformed topography point", text({}) + "1\n0 zz\n", 13, "topography point 1 of 1"},
      {"simple: ip flag out of range", "s\n2.0\n1\n2\n0\n5\n10 2 100\n", 6,
       "IP flag must be 0 or 1"},
      {"simple: row too short at the end", simple, 7, "3 values (x, a, value) of datum 2 of 2"},
      {"simple: malformed row", "s\n2.0\n7\n1\n0\n0\n0 1 x 5\n", 7,
       "4 values (x, a, n, value) of datum 1 of 1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = put("bad.dat", c.text);
    const std::string msg = read_error(path);
    ASSERT_FALSE(msg.empty()) << "no error";
    const std::string where = c.line > 0 ? path + ", line " + std::to_string(c.line) + ": " : path;
    EXPECT_EQ(msg.rfind(where, 0), 0u) << msg;
    EXPECT_NE(msg.find(c.says), std::string::npos) << msg;
  }
}

TEST_F(DatFileTemp, MissingFileIsNamed) {
  const std::string path = file("no_such.dat");
  const std::string msg = read_error(path);
  EXPECT_NE(msg.find(path), std::string::npos) << msg;
}

TEST(DatFileSetup, SizesPerDatumArrays) {
  struct Case {
    int32_t arraytype, nodata, nc, np;
  };
  for (const Case& c : std::vector<Case>{{3, 5, 2, 2}, {6, 4, 1, 2}, {2, 3, 1, 1}, {11, 0, 2, 2}}) {
    SCOPED_TRACE(c.arraytype);
    Dat_file_rawdata_dcr2d d;
    d.arraytype = c.arraytype;
    d.nodata = c.nodata;
    dat::setup_dat_data_vector_dcr2d(d);
    const auto n = static_cast<std::size_t>(c.nodata);
    EXPECT_EQ(d.val, std::vector<double>(n, 0.0));
    EXPECT_EQ(d.err, std::vector<double>(n, 0.0));
    EXPECT_EQ(d.geo_k, std::vector<double>(n, 0.0));
    EXPECT_EQ(d.level, std::vector<int32_t>(n, 0));
    EXPECT_EQ(d.tx_index, varnel::Imatrix(c.nc, c.nodata, 0));
    EXPECT_EQ(d.rx_index, varnel::Imatrix(c.np, c.nodata, 0));
  }
}

// ---------------------------------------------------------------------------
// Writing

// Five electrodes at data-file x 0..4 with model coordinates shifted by 100
// (so a writer using the model coordinates would show); electrodes 1 to 3 are
// current electrodes, 3 to 5 potential electrodes.
struct Dictionaries {
  tx::Txdict txdict;
  rx::Rxdict rxdict;
  Dictionaries() {
    const std::vector<std::array<double, 2>> orig = {
        {0.0, 0.0}, {1.0, 0.1}, {2.0, 0.2}, {3.0, 0.3}, {4.0, -0.4}};
    Dmatrix t(5, 3);
    std::vector<int32_t> tid = {1, 2, 3};
    for (int i = 1; i <= 3; ++i) {
      const auto& p = orig[static_cast<std::size_t>(i - 1)];
      t(1, i) = 1e-10;
      t(2, i) = p[0] + 100;
      t(3, i) = 9;
      t(4, i) = p[0];
      t(5, i) = p[1];
    }
    tx::setup_txdict_dcr2d(txdict, 3, t, &tid);
    Dmatrix r(4, 3);
    std::vector<int32_t> rid = {3, 4, 5};
    for (int i = 1; i <= 3; ++i) {
      const auto& p = orig[static_cast<std::size_t>(i + 1)];
      r(1, i) = p[0] + 100;
      r(2, i) = 9;
      r(3, i) = p[0];
      r(4, i) = p[1];
    }
    rx::setup_rxdict_dcr2d(rxdict, 3, r, &rid);
  }
};

Dat_file_rawdata_dcr2d small_record() {
  Dat_file_rawdata_dcr2d d;
  d.profile = "Test line   ";
  d.espacing = 1.5;
  d.data_format = 11;
  d.arraytype = 3;
  d.measuretype = 1;
  d.nodata = 2;
  d.x_position_type = 2;
  d.ip_flag = 0;
  dat::setup_dat_data_vector_dcr2d(d);
  // Datum 1: C1 2, C2 1, P1 3, P2 4; datum 2: C1 1, C2 3, P1 4, P2 5.
  d.tx_index(1, 1) = 2;
  d.tx_index(2, 1) = 1;
  d.rx_index(1, 1) = 3;
  d.rx_index(2, 1) = 4;
  d.tx_index(1, 2) = 1;
  d.tx_index(2, 2) = 3;
  d.rx_index(1, 2) = 4;
  d.rx_index(2, 2) = 5;
  d.val = {123.456, 0.001234};
  // Merged topography rows: model x, z, then file x, z.
  d.ntopo = 2;
  d.topo.assign(2, 4);
  d.topo(1, 1) = 99;
  d.topo(1, 2) = 9;
  d.topo(1, 3) = -1.0;
  d.topo(1, 4) = 0.0;
  d.topo(2, 1) = 105.25;
  d.topo(2, 2) = 9;
  d.topo(2, 3) = 5.25;
  d.topo(2, 4) = 1.5;
  return d;
}

TEST_F(DatFileTemp, WriterText) {
  const Dictionaries dict;
  const std::string path = file("out.dat");
  dat::write_dcr2d_dat_datafile(small_record(), path, dict.txdict, dict.rxdict);
  const std::vector<std::string> expected = {
      "Test line",
      "      1.50",
      "11",
      "  3",
      "Type of measurement (0=app. resistivity,1=resistance)",
      "1",
      "    2",
      "2",
      "0",
      "4       1.00       0.10       0.00       0.00       2.00       0.20       3.00       0.30"
      "     1.23456E+02",
      "4       0.00       0.00       2.00       0.20       3.00       0.30       4.00      -0.40"
      "     1.23400E-03",
      "   2",
      "      -1.00       0.00",
      "       5.25       1.50",
      "0",
      "0",
      "0",
      "0",
  };
  const std::string text = slurp(path);
  EXPECT_EQ(lines_of(text), expected);
  EXPECT_EQ(text.back(), '\n');
}

TEST_F(DatFileTemp, WriterDeclaresNoIpColumnAndWidensOverflowingFields) {
  const Dictionaries dict;
  Dat_file_rawdata_dcr2d d = small_record();
  d.ip_flag = 1;                // no IP value is written, so none is declared
  d.topo(1, 3) = -12345678.25;  // too wide for F10.2
  const std::string path = file("out.dat");
  dat::write_dcr2d_dat_datafile(d, path, dict.txdict, dict.rxdict);
  const std::vector<std::string> lines = lines_of(slurp(path));
  ASSERT_EQ(lines.size(), 18u);
  EXPECT_EQ(lines[8], "0");
  EXPECT_EQ(lines[12], " -12345678.25       0.00");

  const Dat_file_rawdata_dcr2d back = read_file(path);
  EXPECT_EQ(back.ip_flag, 0);
  EXPECT_EQ(back.nodata, 2);
  EXPECT_EQ(back.rawdata(2, 10), 0.001234);
  EXPECT_EQ(back.topo(1, 1), -12345678.25);
}

TEST_F(DatFileTemp, WritingReplacesAnExistingFileWholly) {
  const Dictionaries dict;
  const std::string path = put("out.dat", std::string(5000, 'x') + "\nold content\n");
  dat::write_dcr2d_dat_datafile(small_record(), path, dict.txdict, dict.rxdict);
  const std::string first = slurp(path);
  EXPECT_EQ(first.find('x'), std::string::npos);
  EXPECT_EQ(lines_of(first).size(), 18u);
  EXPECT_EQ(lines_of(first)[0], "Test line");
  // Nothing but the data file is left in the folder.
  int entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir_)) ++entries;
  EXPECT_EQ(entries, 1);
}

TEST_F(DatFileTemp, WritingIntoAMissingFolderNamesTheFile) {
  const Dictionaries dict;
  const std::string path = file("no_such_folder/out.dat");
  try {
    dat::write_dcr2d_dat_datafile(small_record(), path, dict.txdict, dict.rxdict);
    FAIL() << "no error";
  } catch (const varnel::Error& e) {
    EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
  }
}

TEST_F(DatFileTemp, RoundTripKeepsPositionsAndValues) {
  // Electrode positions with more than two decimals, values with more than six
  // significant digits.
  const std::vector<std::array<double, 2>> elec = {
      {0.0, 0.0}, {1.234, 0.017}, {2.468, -0.333}, {3.7, 0.5049}, {4.936, 1.0}};
  struct Datum {
    int c1, c2, p1, p2;
    double v;
  };
  const std::vector<Datum> data = {
      {2, 1, 3, 4, 123.4567891}, {3, 2, 4, 5, 0.000987654321}, {1, 2, 4, 5, 98765432.1}};

  Dmatrix t(5, 5), r(4, 5);
  for (int i = 1; i <= 5; ++i) {
    const auto& p = elec[static_cast<std::size_t>(i - 1)];
    t(1, i) = 1e-10;
    t(2, i) = t(4, i) = p[0];
    t(3, i) = t(5, i) = p[1];
    r(1, i) = r(3, i) = p[0];
    r(2, i) = r(4, i) = p[1];
  }
  tx::Txdict txdict;
  rx::Rxdict rxdict;
  tx::setup_txdict_dcr2d(txdict, 5, t);
  rx::setup_rxdict_dcr2d(rxdict, 5, r);

  Dat_file_rawdata_dcr2d d;
  d.profile = "round trip";
  d.espacing = 1.234;
  d.arraytype = 7;
  d.measuretype = 0;
  d.nodata = static_cast<int32_t>(data.size());
  d.x_position_type = 1;
  d.ip_flag = 0;
  dat::setup_dat_data_vector_dcr2d(d);
  for (int i = 1; i <= d.nodata; ++i) {
    const Datum& q = data[static_cast<std::size_t>(i - 1)];
    d.tx_index(1, i) = q.c1;
    d.tx_index(2, i) = q.c2;
    d.rx_index(1, i) = q.p1;
    d.rx_index(2, i) = q.p2;
    d.val[static_cast<std::size_t>(i - 1)] = q.v;
  }
  d.ntopo = 5;
  d.topo.assign(5, 4);
  for (int k = 1; k <= 5; ++k) {
    d.topo(k, 1) = d.topo(k, 3) = elec[static_cast<std::size_t>(k - 1)][0];
    d.topo(k, 2) = d.topo(k, 4) = elec[static_cast<std::size_t>(k - 1)][1];
  }

  const std::string path = file("round.dat");
  dat::write_dcr2d_dat_datafile(d, path, txdict, rxdict);
  const Dat_file_rawdata_dcr2d back = read_file(path);

  EXPECT_EQ(back.profile, "round trip");
  EXPECT_NEAR(back.espacing, 1.234, 0.005);
  EXPECT_EQ(back.arraytype, 7);
  EXPECT_EQ(back.measuretype, 0);
  EXPECT_EQ(back.x_position_type, 1);
  ASSERT_EQ(back.nodata, d.nodata);
  ASSERT_EQ(back.ncomp, 10);
  const auto near2 = [](double a, double b) { return std::fabs(a - b) <= 0.005 + 1e-12; };
  for (int i = 1; i <= back.nodata; ++i) {
    SCOPED_TRACE(i);
    const Datum& q = data[static_cast<std::size_t>(i - 1)];
    EXPECT_EQ(back.rawdata(i, 1), 4.0);
    const int ids[4] = {q.c1, q.c2, q.p1, q.p2};
    for (int e = 0; e < 4; ++e) {
      const auto& p = elec[static_cast<std::size_t>(ids[e] - 1)];
      EXPECT_PRED2(near2, back.rawdata(i, 2 + 2 * e), p[0]);
      EXPECT_PRED2(near2, back.rawdata(i, 3 + 2 * e), p[1]);
    }
    EXPECT_NEAR(back.rawdata(i, 10), q.v, 5e-6 * std::fabs(q.v));
  }
  ASSERT_EQ(back.ntopo, 5);
  for (int k = 1; k <= 5; ++k) {
    EXPECT_PRED2(near2, back.topo(k, 1), elec[static_cast<std::size_t>(k - 1)][0]);
    EXPECT_PRED2(near2, back.topo(k, 2), elec[static_cast<std::size_t>(k - 1)][1]);
  }
}

}  // namespace
