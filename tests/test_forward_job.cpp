// The forward job end to end: through the C entry point in a child host
// process and through the command line, on small surveys and models the tests
// write into a folder of their own; and the driver's own steps (flat-surface
// test, relative errors of CEG data, thread count) in this process.
#include <gtest/gtest.h>
#include <omp.h>
#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "drivers.hpp"
#include "job_files.hpp"
#include "subprocess.hpp"

namespace {

namespace fs = std::filesystem;
using varnel::Dmatrix;

// --- files of a job --------------------------------------------------------

using varnel_test::lines_starting;
using varnel_test::numeric_rows;
using varnel_test::Work_dir;

// Node columns: electrodes at x = 1 ... 8 m with a node midway, padding that
// widens outwards. Node rows from z0 down to z0 + 45 m.
std::vector<double> grid_x() {
  std::vector<double> xs = {-30, -14, -6, -2, -1, 0};
  for (int i = 1; i <= 24; ++i) xs.push_back(0.5 * i);
  for (double x : {13.0, 14.0, 16.0, 20.0, 28.0, 44.0}) xs.push_back(x);
  return xs;
}
std::vector<double> grid_z(double z0) {
  std::vector<double> zs;
  for (double z : {0.0, 0.25, 0.5, 0.75, 1.0, 1.5, 2.0, 2.5, 3.0, 4.0, 5.0, 6.0, 8.0, 10.0, 14.0,
                   20.0, 30.0, 45.0})
    zs.push_back(z0 + z);
  return zs;
}

// A model file: `nair` element rows of 1e8 ohm-m at the top, 100 ohm-m below.
std::string model_text(const std::vector<double>& xs, const std::vector<double>& zs, int nair = 0) {
  std::ostringstream s;
  char line[64];
  s << "RMS Misfit:    0.00000\n";
  std::snprintf(line, sizeof line, "%4zu %4zu\n", xs.size() - 1, zs.size() - 1);
  s << line << "Horizontal Grid:\n";
  for (double x : xs) s << x << "\n";
  s << "Vertical Grid:\n";
  for (double z : zs) s << z << "\n";
  s << "Resistivity:\n";
  for (std::size_t ix = 1; ix < xs.size(); ++ix)
    for (std::size_t iz = 1; iz < zs.size(); ++iz)
      s << (static_cast<int>(iz) <= nair ? 1.0e8 : 100.0) << "\n";
  return s.str();
}

// Wenner-alpha electrode quadruples (A, B, M, N) on electrodes at x = 1 ... 8.
std::vector<std::vector<double>> wenner_rows() {
  std::vector<std::vector<double>> rows;
  for (int a = 1; a <= 2; ++a)
    for (int x = 1; x + 3 * a <= 8; ++x)
      rows.push_back({1.0 * x, x + 3.0 * a, x + 1.0 * a, x + 2.0 * a});
  return rows;
}

// A DAT file in the general layout, every electrode at depth z, true
// horizontal positions; apparent resistivities of 100 ohm-m, or with
// measurement type 1 the value `value` in ohms for every datum.
std::string dat_text(double z, int measuretype = 0, double value = 100.0) {
  const auto rows = wenner_rows();
  std::ostringstream s;
  s << "forward job test\n1.0\n11\n1\nType of measurement (0=app. resistivity,1=resistance)\n"
    << measuretype << "\n"
    << rows.size() << "\n1\n0\n";
  for (const auto& r : rows) {
    s << 4;
    for (double x : r) s << " " << x << " " << z;
    s << " " << value << "\n";
  }
  s << "0\n";
  return s.str();
}

// A CEG file of three dipole-dipole resistances with their errors.
const char* const kCegSurvey =
    "Survey Type: DCR2D\n"
    "Profile Name: forward job test\n"
    "Array Type: Dipole-Dipole\n"
    "Electrode Spacing: 1.0\n"
    "Number of Data: 3\n"
    "Number of Electrode: 6\n"
    "Rho Type: Resistance\n"
    "IP Include: No\n"
    "Error Include: Yes\n"
    "Position Type: TH\n"
    "Data Pattern: EC1 EC2 EP1 EP2 Rho Err\n"
    "\n"
    "Electrode Position\n"
    "1 1.0 0.0\n2 2.0 0.0\n3 3.0 0.0\n4 4.0 0.0\n5 5.0 0.0\n6 6.0 0.0\n"
    "\n"
    "List\n"
    "2 1 3 4 2.0 0.1\n"
    "3 2 4 5 1.0 0.03\n"
    "3 2 5 6 0.5 0.04\n";

std::string first_line(const std::string& text) { return text.substr(0, text.find('\n')); }

varnel_test::Child_result host(const Work_dir& dir, std::vector<std::string> args) {
  args.insert(args.begin(), "1");
  return varnel_test::run_child(VARNEL_HOST_FILE, args, dir.path.string());
}

varnel_test::Child_result cli(const Work_dir& dir, std::vector<std::string> args) {
  args.insert(args.begin(), "forward");
  return varnel_test::run_child(VARNEL_CLI_FILE, args, dir.path.string());
}

// --- successful jobs -------------------------------------------------------

TEST(ForwardJob, DatSurveyThroughTheEntryPoint) {
  Work_dir dir;
  dir.write("survey.dat", dat_text(0.0));
  const std::string model = model_text(grid_x(), grid_z(0.0));
  dir.write("model.m2d", model);
  const auto r = host(dir, {"-d", "survey.dat", "-m", "model.m2d", "-r", "out"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  ASSERT_EQ(lines_starting(r.err, "result "), std::vector<std::string>{"result 0 0"})
      << r.err << r.out;
  const auto events = lines_starting(r.err, "event ");
  ASSERT_EQ(events.size(), 2u) << r.err;
  EXPECT_EQ(events[0], "event 0 -1 0.000000");
  ASSERT_EQ(events[1].rfind("event 3 0 ", 0), 0u) << events[1];
  const double event_rms = std::stod(events[1].substr(10));

  // The response: the survey's data rows with the computed apparent
  // resistivities, which for 100 ohm-m are close to 100.
  ASSERT_TRUE(dir.exists("out_1.dat"));
  const auto rows = numeric_rows(dir.read("out_1.dat"), 10);
  const auto wenner = wenner_rows();
  ASSERT_EQ(rows.size(), wenner.size());
  double sum = 0.0;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    for (int e = 0; e < 4; ++e) {
      EXPECT_DOUBLE_EQ(rows[i][1 + 2 * e], wenner[i][e]) << "datum " << i + 1;
      EXPECT_DOUBLE_EQ(rows[i][2 + 2 * e], 0.0) << "datum " << i + 1;
    }
    EXPECT_NEAR(rows[i][9], 100.0, 5.0) << "datum " << i + 1;
    EXPECT_NE(rows[i][9], 100.0) << "datum " << i + 1;
    sum += std::pow(std::log(100.0 / rows[i][9]), 2);
  }
  // DAT errors are 1 % of the data: the misfit is 100 times the RMS of the
  // log residuals.
  const double rms = 100.0 * std::sqrt(sum / static_cast<double>(rows.size()));
  EXPECT_NEAR(event_rms, rms, 2e-3 * rms);

  // The model file is rewritten: the misfit on line 1, the same grid and
  // resistivities below.
  const std::string rewritten = dir.read("model.m2d");
  const std::string misfit_line = first_line(rewritten);
  ASSERT_EQ(misfit_line.rfind("RMS Misfit: ", 0), 0u) << misfit_line;
  EXPECT_EQ(misfit_line.size(), 22u) << "F10.5 after the label: " << misfit_line;
  EXPECT_NEAR(std::stod(misfit_line.substr(12)), event_rms, 6e-6) << misfit_line;
  const auto before = numeric_rows(model, 1), after = numeric_rows(rewritten, 1);
  ASSERT_EQ(after.size(), before.size());
  for (std::size_t i = 0; i < before.size(); ++i)
    EXPECT_NEAR(after[i][0], before[i][0], 1e-9 * std::abs(before[i][0])) << "value " << i + 1;
  EXPECT_EQ(numeric_rows(rewritten, 2), numeric_rows(model, 2));  // nx nz
}

// Measured transfer resistances in ohms come back in ohms: over 100 ohm-m the
// Wenner resistance is rho / (2 pi a), and a file that holds exactly that
// is fitted with a misfit of a few per cent at most (the discretisation).
TEST(ForwardJob, ResistanceFilesAreInOhms) {
  Work_dir dir;
  const double a1 = 100.0 / (2.0 * M_PI);  // 100 ohm-m, a = 1 m
  dir.write("survey.dat", dat_text(0.0, 1, a1));
  dir.write("model.m2d", model_text(grid_x(), grid_z(0.0)));
  const auto r = host(dir, {"-d", "survey.dat", "-m", "model.m2d", "-r", "out"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const auto rows = numeric_rows(dir.read("out_1.dat"), 10);
  const auto wenner = wenner_rows();
  ASSERT_EQ(rows.size(), wenner.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const double a = wenner[i][2] - wenner[i][0];
    EXPECT_NEAR(rows[i][9] / (a1 / a), 1.0, 0.05) << "datum " << i + 1;
  }
  // Only the five a = 1 data hold their true value; the two a = 2 data are
  // off by a factor of two.
  const auto events = lines_starting(r.err, "event 3 0 ");
  ASSERT_EQ(events.size(), 1u) << r.err;
  const double rms = std::stod(events[0].substr(10));
  const double expected = 100.0 * std::log(2.0) * std::sqrt(2.0 / 7.0);  // 2 of 7 data off by 2
  EXPECT_NEAR(rms, expected, 4.0);
}

TEST(ForwardJob, DatSurveyThroughTheCommandLine) {
  Work_dir dir;
  dir.write("survey.dat", dat_text(0.0));
  dir.write("model.m2d", model_text(grid_x(), grid_z(0.0)));
  fs::create_directory(dir.path / "result");
  const auto r = cli(dir, {"-d", "survey.dat", "-m", "model.m2d", "-r", "result/fwd"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.err.find("varnel: started"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("varnel: done, RMS misfit "), std::string::npos) << r.err;
  ASSERT_TRUE(dir.exists("result/fwd_1.dat")) << r.err;
  EXPECT_EQ(numeric_rows(dir.read("result/fwd_1.dat"), 10).size(), wenner_rows().size());
  EXPECT_EQ(first_line(dir.read("model.m2d")).rfind("RMS Misfit: ", 0), 0u);
  EXPECT_NE(first_line(dir.read("model.m2d")), "RMS Misfit:    0.00000");
}

// A CEG datum keeps its relative error: value 2.0 with error 0.1 is written
// with an error of 5 % of the computed value.
TEST(ForwardJob, CegSurveyKeepsTheRelativeErrorOfEveryDatum) {
  Work_dir dir;
  dir.write("survey.ceg", kCegSurvey);
  dir.write("model.m2d", model_text(grid_x(), grid_z(0.0)));
  const auto r = host(dir, {"-d", "survey.ceg", "-m", "model.m2d", "-r", "out"});
  ASSERT_EQ(lines_starting(r.err, "result "), std::vector<std::string>{"result 0 0"}) << r.err;
  ASSERT_TRUE(dir.exists("out_1.ceg"));
  const auto rows = numeric_rows(dir.read("out_1.ceg"), 6);
  ASSERT_EQ(rows.size(), 3u);
  const double relative[3] = {0.05, 0.03, 0.08};
  const double observed[3] = {2.0, 1.0, 0.5};
  for (int i = 0; i < 3; ++i) {
    EXPECT_GT(rows[i][4], 0.0);
    EXPECT_GT(std::abs(rows[i][4] / observed[i] - 1.0), 0.01) << "value not replaced";
    EXPECT_NEAR(rows[i][5] / rows[i][4], relative[i], 2e-5) << "datum " << i + 1;
  }
}

// --- failed jobs ---------------------------------------------------------------

struct Failure_case {
  const char* name;
  std::vector<std::string> args;
  std::vector<std::string> message_parts;
};

void PrintTo(const Failure_case& c, std::ostream* os) { *os << c.name; }

class ForwardJobFails : public testing::TestWithParam<Failure_case> {};

TEST_P(ForwardJobFails, WithStatusFiveAndItsMessage) {
  const auto& c = GetParam();
  Work_dir dir;
  dir.write("survey.dat", dat_text(0.0));
  dir.write("shifted.dat", dat_text(0.3));
  const std::string model = model_text(grid_x(), grid_z(0.0));
  dir.write("model.m2d", model);
  dir.write("model.txt", model);
  // A grid without the node column at x = 3 m, where electrode 3 stands.
  std::vector<double> coarse_x = grid_x();
  coarse_x.erase(std::find(coarse_x.begin(), coarse_x.end(), 3.0));
  dir.write("coarse.m2d", model_text(coarse_x, grid_z(0.0)));
  const auto r = host(dir, c.args);
  ASSERT_EQ(lines_starting(r.err, "result "), std::vector<std::string>{"result 5 -1"}) << r.err;
  const auto error = lines_starting(r.err, "error ");
  ASSERT_EQ(error.size(), 1u) << r.err;
  for (const auto& part : c.message_parts)
    EXPECT_NE(error[0].find(part), std::string::npos) << error[0];
  EXPECT_NE(r.out.find(error[0].substr(6)), std::string::npos) << "not in the log: " << r.out;
  EXPECT_EQ(lines_starting(r.err, "event "), std::vector<std::string>{"event 0 -1 0.000000"});
  EXPECT_FALSE(dir.exists("out_1.dat"));
  EXPECT_EQ(dir.read("model.txt"), model);
  EXPECT_EQ(dir.read("model.m2d"), model);
}

INSTANTIATE_TEST_SUITE_P(
    ForwardJob, ForwardJobFails,
    testing::Values(Failure_case{"ModelFileOfUnknownKind",
                                 {"-d", "survey.dat", "-m", "model.txt", "-r", "out"},
                                 {"model.txt: unknown model file extension", ".m2d"}},
                    Failure_case{"MissingDataFile",
                                 {"-d", "no_such.dat", "-m", "model.m2d", "-r", "out"},
                                 {"no_such.dat"}},
                    Failure_case{"MissingModelFile",
                                 {"-d", "survey.dat", "-m", "no_such.m2d", "-r", "out"},
                                 {"no_such.m2d"}},
                    // The grid of this model has no node row at the electrodes' depth.
                    Failure_case{
                        "ElectrodesOffTheGrid",
                        {"-d", "shifted.dat", "-m", "model.m2d", "-r", "out", "-approx", "fd"},
                        {"electrode 1 at x = 1, z = 0.3", "no node"}},
                    // The node lookup would move it to the column at x = 2.5 m.
                    Failure_case{"ElectrodeBetweenNodeColumns",
                                 {"-d", "survey.dat", "-m", "coarse.m2d", "-r", "out"},
                                 {"electrode 3 at x = 3, z = 0", "no node"}}),
    [](const testing::TestParamInfo<Failure_case>& info) { return info.param.name; });

// The bundled example stays a valid job, and its data are the response of
// its true model with 3 % noise: against 1 % error bars the misfit of the
// true model is about 3, and the blocks pull the apparent resistivities well
// below and above the 100 ohm-m of the ground.
TEST(ForwardJob, BundledExampleIsTheNoisyResponseOfItsTrueModel) {
  Work_dir dir;
  const std::string examples = std::string(VARNEL_TEST_DATA) + "/../../examples/";
  dir.write("block.dat", varnel_test::slurp(examples + "block.dat"));
  dir.write("true.m2d", varnel_test::slurp(examples + "block_true.m2d"));
  const auto r = cli(dir, {"-d", "block.dat", "-m", "true.m2d", "-r", "block_fwd"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const auto rows = numeric_rows(dir.read("block_fwd_1.dat"), 10);
  ASSERT_EQ(rows.size(), 433u);
  double lo = 1e300, hi = 0.0;
  for (const auto& row : rows) {
    lo = std::min(lo, row[9]);
    hi = std::max(hi, row[9]);
  }
  EXPECT_LT(lo, 60.0);
  EXPECT_GT(hi, 130.0);
  const auto done = lines_starting(r.err, "varnel: done, RMS misfit ");
  ASSERT_EQ(done.size(), 1u) << r.err;
  EXPECT_NEAR(std::stod(done[0].substr(25)), 3.0, 0.3) << done[0];
}

// Every electrode at depth -1 m: the plain sum of the depths is negative, yet
// the surface is not flat, so the survey keeps its topography and is modelled
// with the hybrid solver against the model's own air. In a model whose air
// reaches below the electrodes they lie in the air; with "-approx fd" the
// topography is not used and the same files run.
TEST(ForwardJob, NegativeDepthsAreNotTakenForAFlatSurface) {
  Work_dir dir;
  dir.write("survey.dat", dat_text(-1.0));
  std::vector<double> zs = grid_z(-1.0);
  zs.insert(zs.begin(), -1.5);
  // Element rows 1 (-1.5 ... -1) and 2 (-1 ... -0.75) are air.
  const std::string model = model_text(grid_x(), zs, 2);
  dir.write("model.m2d", model);
  const auto hy = host(dir, {"-d", "survey.dat", "-m", "model.m2d", "-r", "out"});
  ASSERT_EQ(lines_starting(hy.err, "result "), std::vector<std::string>{"result 5 -1"}) << hy.err;
  const auto error = lines_starting(hy.err, "error ");
  ASSERT_EQ(error.size(), 1u);
  EXPECT_NE(error[0].find("electrode 1 at x = 1, z = -1"), std::string::npos) << error[0];
  EXPECT_NE(error[0].find("air"), std::string::npos) << error[0];

  const auto fd = host(dir, {"-d", "survey.dat", "-m", "model.m2d", "-r", "out", "-approx", "fd"});
  EXPECT_EQ(lines_starting(fd.err, "result "), std::vector<std::string>{"result 0 0"}) << fd.err;
}

// With the air only above the electrodes the hybrid solver models the
// survey at depth -1 m like the same survey at depth 0 on the grid without
// the air row.
TEST(ForwardJob, NegativeDepthsWithAirAboveMatchTheFlatSurvey) {
  Work_dir dir;
  dir.write("raised.dat", dat_text(-1.0));
  std::vector<double> zs = grid_z(-1.0);
  zs.insert(zs.begin(), -1.5);
  dir.write("raised.m2d", model_text(grid_x(), zs, 1));
  dir.write("flat.dat", dat_text(0.0));
  dir.write("flat.m2d", model_text(grid_x(), grid_z(0.0)));
  const auto raised = host(dir, {"-d", "raised.dat", "-m", "raised.m2d", "-r", "raised"});
  const auto flat = host(dir, {"-d", "flat.dat", "-m", "flat.m2d", "-r", "flat"});
  ASSERT_EQ(lines_starting(raised.err, "result "), std::vector<std::string>{"result 0 0"})
      << raised.err;
  ASSERT_EQ(lines_starting(flat.err, "result "), std::vector<std::string>{"result 0 0"})
      << flat.err;
  const auto a = numeric_rows(dir.read("raised_1.dat"), 10);
  const auto b = numeric_rows(dir.read("flat_1.dat"), 10);
  ASSERT_EQ(a.size(), b.size());
  ASSERT_FALSE(a.empty());
  for (std::size_t i = 0; i < a.size(); ++i) {
    EXPECT_DOUBLE_EQ(a[i][2], -1.0);
    // The hybrid solver puts finite elements below the surface; it differs
    // from the finite differences of the flat run by about 1.5 %.
    EXPECT_NEAR(a[i][9], b[i][9], 0.03 * b[i][9]) << "datum " << i + 1;
  }
}

// --- the driver's steps in this process -----------------------------------------

struct Flat_case {
  const char* name;
  std::vector<double> z;
  bool flat;
};

void PrintTo(const Flat_case& c, std::ostream* os) { *os << c.name; }

class ForwardJobFlatSurface : public testing::TestWithParam<Flat_case> {};

TEST_P(ForwardJobFlatSurface, OnlyWhenTheAbsoluteDepthsAreNegligible) {
  const auto& c = GetParam();
  Dmatrix topo(static_cast<int>(c.z.size()), 4, 0.0);
  for (int i = 1; i <= topo.rows(); ++i) {
    topo(i, 1) = 5.0 * i;  // x, and the file columns, do not count
    topo(i, 2) = c.z[i - 1];
    topo(i, 3) = 5.0 * i;
    topo(i, 4) = 7.0;
  }
  EXPECT_EQ(varnel::is_flat_surface(topo), c.flat);
}

INSTANTIATE_TEST_SUITE_P(ForwardJob, ForwardJobFlatSurface,
                         testing::Values(Flat_case{"NoRows", {}, true},
                                         Flat_case{"AllZero", {0.0, 0.0, 0.0}, true},
                                         Flat_case{"BelowTheThreshold", {4e-7, -5e-7}, true},
                                         Flat_case{"AtTheThreshold", {5e-7, -5e-7}, false},
                                         Flat_case{"NegativeDepths", {-1.0, -1.0, -2.0}, false},
                                         Flat_case{"BothSignsCancelling", {-0.5, 0.0, 0.5}, false},
                                         Flat_case{"PositiveDepths", {0.0, 0.3, 0.1}, false}),
                         [](const testing::TestParamInfo<Flat_case>& info) {
                           return info.param.name;
                         });

struct Error_case {
  const char* name;
  const char* ext;
  std::vector<double> val, err, response, expected_err;
};

void PrintTo(const Error_case& c, std::ostream* os) { *os << c.name; }

class ForwardJobErrors : public testing::TestWithParam<Error_case> {};

TEST_P(ForwardJobErrors, FollowTheResponseOnlyForCegData) {
  const auto& c = GetParam();
  varnel::dataio_dcr2d::Main_data_dcr2d d;
  d.ext = c.ext;
  d.nodata = static_cast<int32_t>(c.val.size());
  d.val = c.val;
  d.err = c.err;
  const std::vector<double> percent_error = varnel::percent_error_dcr2d(d);
  ASSERT_EQ(percent_error.size(), c.val.size());
  d.val = c.response;
  varnel::scale_error_to_value_dcr2d(d, percent_error);
  ASSERT_EQ(d.err.size(), c.expected_err.size());
  for (std::size_t i = 0; i < d.err.size(); ++i)
    EXPECT_NEAR(d.err[i], c.expected_err[i], 1e-14) << i;
}

INSTANTIATE_TEST_SUITE_P(
    ForwardJob, ForwardJobErrors,
    testing::Values(
        Error_case{"Ceg", "ceg", {2.0, 1.0}, {0.1, 0.3}, {4.0, 0.5}, {0.2, 0.15}},
        Error_case{"CegWithoutErrors", "ceg", {2.0}, {0.0}, {4.0}, {0.0}},
        Error_case{"DatKeepsItsErrors", "dat", {2.0, 1.0}, {0.02, 0.01}, {4.0, 0.5}, {0.02, 0.01}}),
    [](const testing::TestParamInfo<Error_case>& info) { return info.param.name; });

// The driver itself runs in this process (the one-job rule belongs to the
// entry point): "-np" 0 becomes the processor count, at most 12.
TEST(ForwardJobInProcess, ZeroThreadsMeansTheProcessorCountAtMostTwelve) {
  Work_dir dir;
  dir.write("survey.dat", dat_text(0.0));
  dir.write("model.m2d", model_text(grid_x(), grid_z(0.0)));
  varnel::arg_reader::Arg_info info;
  info.data_file = dir.file("survey.dat");
  info.model_prior = dir.file("model.m2d");
  info.response_file = dir.file("out");
  info.ncore = 0;
  int32_t status = -7, final_iteration = -7;
  const int threads_before = omp_get_max_threads();
  varnel::solve_fwd(info, status, final_iteration);
  omp_set_num_threads(threads_before);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(final_iteration, 0);
  EXPECT_EQ(info.ncore, std::min(omp_get_num_procs(), 12));
  EXPECT_TRUE(dir.exists("out_1.dat"));
}

}  // namespace
