// The main data set: single files and list files, the conversion to
// resistances, the merge, and the names and content of response files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>

#include "core/error.hpp"
#include "core/survey/dataio_dcr2d.hpp"

namespace {

using namespace varnel;
using dataio_dcr2d::Main_data_dcr2d;
namespace fs = std::filesystem;

fs::path temp_folder() {
  const fs::path p =
      fs::path(testing::TempDir()) / ("varnel_main_data_" + std::to_string(getpid()));
  fs::create_directories(p);
  return p;
}

std::string write_file(const std::string& name, const std::string& text) {
  const fs::path p = temp_folder() / name;
  std::ofstream(p) << text;
  return p.string();
}

// Three Wenner data of spacing 1 on electrodes 0 .. 5, apparent resistivity.
std::string wenner_dat(double spacing, const char* values[3], bool swap_potentials = false) {
  std::string text =
      "line\n" + std::to_string(spacing) + "\n11\n1\nType of measurement\n0\n3\n1\n0\n";
  for (int i = 0; i < 3; ++i) {
    const int x = i;
    const int p1 = swap_potentials && i == 0 ? x + 2 : x + 1;
    const int p2 = swap_potentials && i == 0 ? x + 1 : x + 2;
    text += "4 " + std::to_string(x) + " 0 " + std::to_string(x + 3) + " 0 " + std::to_string(p1) +
            " 0 " + std::to_string(p2) + " 0 " + values[i] + "\n";
  }
  return text + "0\n";
}

struct Read_result {
  Main_data_dcr2d d;
  dataio_dcr2d::Dataio_state io;
  txrx_info_dcr2d::Txrx_info_state txrx;
};

TEST(MainData, ApparentResistivitiesBecomeResistances) {
  const char* values[3] = {"100", "110", "120"};
  const std::string file = write_file("wenner.DAT", wenner_dat(1.0, values));
  Read_result r;
  dataio_dcr2d::read_dcr2d_datafile(r.d, file, r.io, r.txrx);
  EXPECT_EQ(r.d.ext, "dat");
  ASSERT_EQ(r.d.nodata, 3);
  EXPECT_EQ(r.d.nc, 2);
  EXPECT_EQ(r.d.np, 2);
  EXPECT_EQ(r.d.noelec, 6);
  EXPECT_TRUE(r.d.resistance);
  for (int i = 0; i < 3; ++i) {
    EXPECT_NEAR(r.d.geo_k[i], std::numbers::pi, 1e-12);  // pi a for Wenner-alpha
    EXPECT_NEAR(r.d.val[i], (100.0 + 10 * i) / std::numbers::pi, 1e-12);
    EXPECT_NEAR(r.d.err[i], r.d.val[i] / 100.0, 1e-14);
    EXPECT_EQ(r.d.level[i], 1);
    EXPECT_EQ(r.d.tx_index(1, i + 1), i + 1);
    EXPECT_EQ(r.d.tx_index(2, i + 1), i + 4);
  }
  EXPECT_EQ(r.d.ntopo, 6);  // the electrodes stand for the topography
}

TEST(MainData, ListOfTwoFilesIsMergedInOrder) {
  const char* a[3] = {"100", "110", "120"};
  const char* b[3] = {"200", "-5", "220"};  // the negative value is dropped
  write_file("a.dat", wenner_dat(1.0, a));
  write_file("b.dat", wenner_dat(2.0, b));
  const std::string list =
      write_file("survey.txt", "files: 2\n" + (temp_folder() / "a.dat").string() + "\n" +
                                   (temp_folder() / "b.dat").string() + "\n");
  Read_result r;
  dataio_dcr2d::read_dcr2d_datafile(r.d, list, r.io, r.txrx);
  ASSERT_EQ(r.d.nodata, 5);
  EXPECT_DOUBLE_EQ(r.d.espacing, 1.5);
  ASSERT_EQ(r.io.d_dat.size(), 2u);
  EXPECT_NEAR(r.d.val[3] * r.d.geo_k[3], 200.0, 1e-9);
  EXPECT_NEAR(r.d.val[4] * r.d.geo_k[4], 220.0, 1e-9);
}

TEST(MainData, NegativeGeometricFactorKeepsApparentResistivity) {
  const char* values[3] = {"100", "110", "120"};
  const std::string file = write_file("swapped.dat", wenner_dat(1.0, values, true));
  Read_result r;
  dataio_dcr2d::read_dcr2d_datafile(r.d, file, r.io, r.txrx);
  EXPECT_LT(r.d.geo_k[0], 0.0);
  EXPECT_FALSE(r.d.resistance);
  EXPECT_EQ(r.d.val[0], 100.0);
  EXPECT_EQ(r.d.err[0], 1.0);
}

TEST(MainData, ResponsesAreWrittenBackInTheFileLayout) {
  const char* values[3] = {"100", "110", "120"};
  const std::string file = write_file("resp_src.dat", wenner_dat(1.0, values));
  Read_result r;
  dataio_dcr2d::read_dcr2d_datafile(r.d, file, r.io, r.txrx);
  Main_data_dcr2d response = r.d;
  for (auto& v : response.val) v *= 2.0;
  const std::string rf = (temp_folder() / "out_resp").string();
  dataio_dcr2d::write_dcr2d_datafile(response, rf, 0, r.io, r.txrx);
  const std::string written =
      rf.substr(0, rf.rfind('_') + 1) + "1" + rf.substr(rf.rfind('_')) + ".dat";
  ASSERT_TRUE(fs::exists(written)) << written;
  Read_result back;
  dataio_dcr2d::read_dcr2d_datafile(back.d, written, back.io, back.txrx);
  ASSERT_EQ(back.d.nodata, 3);
  for (int i = 0; i < 3; ++i)
    EXPECT_NEAR(back.d.val[i] * back.d.geo_k[i], 2.0 * (100.0 + 10 * i), 1e-3);
}

struct Name_case {
  const char* datafile;
  const char* rf;
  int mode;
  int k;
  const char* expected;
};

TEST(MainData, ResponseFileNames) {
  const Name_case cases[] = {
      {"line1.dat", "out/model_resp", 0, 1, "out/model_1_resp.dat"},
      {"line1.dat", "./resp_a", 0, 1, "./resp_a_1.dat"},
      {"line1.dat", "out/resp", 0, 1, "out/resp_1.dat"},
      {"line1.dat", "resp", 0, 2, "resp_2.dat"},
      {"line1.dat", "fwd", 2, 1, "line1_fwd.dat"},
      {"data/line1.dat", "out/fwd.txt", 1, 1, "data/line1_out/fwd.dat"},
      {"a/b_c.ceg", "x_y", 0, 3, "x_y_3.dat"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(dataio_dcr2d::response_file_name(c.datafile, c.rf, c.mode, c.k, "dat"), c.expected)
        << c.rf << " mode " << c.mode;
}

TEST(MainData, BadListsNameTheFileAndLine) {
  write_file("ok.dat", "x");
  struct Bad {
    const char* name;
    std::string text;
    const char* part;
  } cases[] = {
      {"nocount.lst", "two files\n", "nocount.lst, line 1: expected the number of data files"},
      {"short.lst", "files: 2\n" + (temp_folder() / "ok.dat").string() + "\n",
       "short.lst, line 2:"},
      {"kind.lst", "files: 1\nsurvey.xyz\n", "kind.lst, line 2: \"survey.xyz\" is not a data file"},
  };
  for (const auto& c : cases) {
    Read_result r;
    try {
      dataio_dcr2d::read_dcr2d_datafile(r.d, write_file(c.name, c.text), r.io, r.txrx);
      ADD_FAILURE() << c.name;
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find(c.part), std::string::npos) << e.what();
    }
  }
}

TEST(MainData, AllDataFilteredOutIsAnError) {
  const char* values[3] = {"0", "-1", "-2"};
  const std::string file = write_file("none.dat", wenner_dat(1.0, values));
  Read_result r;
  EXPECT_THROW(dataio_dcr2d::read_dcr2d_datafile(r.d, file, r.io, r.txrx), Error);
}

}  // namespace
