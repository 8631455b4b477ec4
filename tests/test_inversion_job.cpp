// The inversion job end to end, in child processes (the library runs one job
// per process): the exact reference run, the recovery of a known model, the
// edge cases of the set-up and the stop rules, the other inversion modes, and
// the measured field surveys.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "job_files.hpp"
#include "json_lite.hpp"
#include "subprocess.hpp"

namespace {

using varnel_test::lines_of;
using varnel_test::lines_starting;
using varnel_test::numeric_rows;
using varnel_test::Work_dir;

const std::string kReference = std::string(VARNEL_SHARED_DIR) + "/data/reference/inversion_small/";
const std::string kField = std::string(VARNEL_SHARED_DIR) + "/data/field/";
const std::string kExamples = std::string(VARNEL_TEST_DATA) + "/../../examples/";

// An inversion through the C entry point in the test host.
varnel_test::Child_result invert(const Work_dir& dir, std::vector<std::string> args) {
  args.insert(args.begin(), "0");
  return varnel_test::run_child(VARNEL_HOST_FILE, args, dir.path.string());
}

// The RMS of every progress event of a stage, in order.
std::vector<double> event_rms(const std::string& err, int stage) {
  std::vector<double> out;
  for (const auto& line : lines_starting(err, "event " + std::to_string(stage) + " "))
    out.push_back(std::stod(line.substr(line.rfind(' ') + 1)));
  return out;
}

std::string result_line(const varnel_test::Child_result& r) {
  const auto lines = lines_starting(r.err, "result ");
  return lines.empty() ? "" : lines.back();
}

// The log without the timing lines of the report.
std::vector<std::string> log_without_times(const std::string& out) {
  std::vector<std::string> kept;
  for (const auto& line : lines_of(out))
    if (line.find("Time") == std::string::npos && line.find("Average") == std::string::npos)
      kept.push_back(line);
  return kept;
}

// A model file: node coordinates and the resistivity of element (iz, ix).
struct Model_file {
  std::vector<double> xs, zs, rho;  // rho column by column, top down
  double rms = 0.0;
  double at(double x, double z) const {
    const std::size_t nz = zs.size() - 1;
    for (std::size_t ix = 0; ix + 1 < xs.size(); ++ix)
      for (std::size_t iz = 0; iz < nz; ++iz)
        if (xs[ix] <= x && x < xs[ix + 1] && zs[iz] <= z && z < zs[iz + 1])
          return rho[ix * nz + iz];
    return std::nan("");
  }
};

Model_file read_model(const std::string& text) {
  Model_file m;
  const auto lines = lines_of(text);
  std::size_t k = 0;
  m.rms = std::stod(lines.at(0).substr(12));
  std::size_t nx = 0, nz = 0;
  {
    std::istringstream s(lines.at(1));
    s >> nx >> nz;
  }
  k = 3;  // "Horizontal Grid:"
  for (std::size_t i = 0; i <= nx; ++i) m.xs.push_back(std::stod(lines.at(k++)));
  ++k;  // "Vertical Grid:"
  for (std::size_t i = 0; i <= nz; ++i) m.zs.push_back(std::stod(lines.at(k++)));
  ++k;  // "Resistivity:"
  for (std::size_t i = 0; i < nx * nz; ++i) m.rho.push_back(std::stod(lines.at(k++)));
  return m;
}

// --- the exact reference run ---------------------------------------------------

TEST(InversionReference, SmallFlatRunIsReproduced) {
  const json_lite::Value ref = json_lite::parse(varnel_test::slurp(kReference + "expected.json"));
  Work_dir dir;
  dir.write("data.dat", varnel_test::slurp(kReference + "data.dat"));
  dir.mkdir("out");
  const auto r = invert(dir, {"-d", "data.dat", "-r", "out/ref", "-e", "3", "-maxiter", "3"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(result_line(r), "result 0 3") << r.err;

  // Every log line the report does not time, word for word.
  EXPECT_EQ(log_without_times(r.out), ref["log_lines"].strings());

  // The misfit of the starting model and of every accepted model (events
  // carry six decimals).
  const auto& iterrms = ref["iterrms"];
  const auto initial = event_rms(r.err, 1), accepted = event_rms(r.err, 2),
             final = event_rms(r.err, 3);
  ASSERT_EQ(initial.size(), 1u);
  EXPECT_NEAR(initial[0], iterrms[0][1].number(), 1e-6);
  ASSERT_EQ(accepted.size(), 3u);
  for (std::size_t k = 0; k < 3; ++k) EXPECT_NEAR(accepted[k], iterrms[k + 1][1].number(), 1e-6);
  ASSERT_EQ(final.size(), 1u);
  EXPECT_NEAR(final[0], ref["final"]["rms"].number(), 1e-6);

  // The files of every iteration, the search tables to the character.
  for (const auto& name : {"out/ref_1_000.dat", "out/ref_000.m2d", "out/Jk_Homo.mask"})
    EXPECT_TRUE(dir.exists(name)) << name;
  for (std::size_t k = 0; k < 3; ++k) {
    const auto& it = ref["iterations"][k];
    const std::string n = "00" + std::to_string(k + 1);
    ASSERT_TRUE(dir.exists("out/ref_" + n + ".lr")) << n;
    EXPECT_EQ(lines_of(dir.read("out/ref_" + n + ".lr")), it["lr_file_lines"].strings()) << n;
    const Model_file m = read_model(dir.read("out/ref_" + n + ".m2d"));
    EXPECT_NEAR(m.rms, it["accepted"]["rms"].number(), 6e-6) << n;
    EXPECT_EQ(m.rho.size(), 1150u);
    // The response file holds apparent resistivities, six significant digits.
    const auto rows = numeric_rows(dir.read("out/ref_1_" + n + ".dat"), 10);
    const auto& resp = it["response_of_accepted_model"];
    const auto& geo_k = ref["survey"]["geo_k"];
    ASSERT_EQ(rows.size(), resp.size()) << n;
    for (std::size_t i = 0; i < rows.size(); ++i)
      EXPECT_NEAR(rows[i][9] / (resp[i].number() * geo_k[i].number()), 1.0, 6e-6) << n << " " << i;
  }
  EXPECT_FALSE(dir.exists("out/ref_004.lr"));
}

// --- recovery of a known model ---------------------------------------------------

TEST(InversionRecovery, BundledExampleThroughTheCommandLine) {
  Work_dir dir;
  dir.write("block.dat", varnel_test::slurp(kExamples + "block.dat"));
  dir.mkdir("out");
  const auto r = varnel_test::run_child(VARNEL_CLI_FILE,
                                        {"invert", "-d", "block.dat", "-r", "out/block", "-e", "3"},
                                        dir.path.string());
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const auto done = lines_starting(r.err, "varnel: done after iteration ");
  ASSERT_EQ(done.size(), 1u) << r.err;
  const int final = std::stoi(done[0].substr(29));
  ASSERT_GE(final, 1);
  char name[64];
  std::snprintf(name, sizeof name, "out/block_%03d.m2d", final);
  const Model_file m = read_model(dir.read(name));
  EXPECT_LT(m.rms, 1.1);
  // 3 % noise against 3 % error bars: the target misfit of 1 is reachable
  // and the blocks show with the right sign and a clear contrast.
  const double conductor = m.at(10.5, 1.75), resistor = m.at(20.5, 1.25);
  const double background_left = m.at(3.0, 1.5), background_deep = m.at(15.5, 12.0);
  EXPECT_LT(conductor, 40.0);
  EXPECT_GT(resistor, 250.0);
  EXPECT_NEAR(background_left, 100.0, 20.0);
  EXPECT_NEAR(background_deep, 100.0, 25.0);
}

TEST(InversionRecovery, ExampleWithTopography) {
  Work_dir dir;
  dir.write("topo.dat", varnel_test::slurp(kExamples + "topo.dat"));
  const auto r = invert(dir, {"-d", "topo.dat", "-r", "hill", "-e", "3"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const auto final = event_rms(r.err, 3);
  ASSERT_EQ(final.size(), 1u);
  EXPECT_LT(final[0], 1.1);
  // The hybrid solver meshes the surface: the air above the hill is fixed.
  const auto all = lines_starting(r.out, "! Number of model parameter: ");
  const auto updated = lines_starting(r.out, "! Number of updated model parameter: ");
  ASSERT_EQ(all.size(), 1u);
  ASSERT_EQ(updated.size(), 1u);
  EXPECT_LT(std::stoi(updated[0].substr(37)), std::stoi(all[0].substr(29)));
  const std::string result = result_line(r);
  const int i = std::stoi(result.substr(result.rfind(' ') + 1));
  char name[32];
  std::snprintf(name, sizeof name, "hill_%03d.m2d", i);
  const Model_file m = read_model(dir.read(name));
  // The 20 ohm-m body under the plateau comes out more conductive than the
  // 100 ohm-m ground beside the hill.
  EXPECT_LT(m.at(11.5, 0.0), 0.8 * m.at(2.0, 0.5));
  EXPECT_NEAR(m.at(2.0, 0.5), 100.0, 20.0);
}

// --- set-up and stop rules ----------------------------------------------------------

// Runs on the reference survey (89 data, flat) with extra options.
struct Run_case {
  const char* name;
  std::vector<std::string> args;
  std::string result;                  // "result <status> <final iteration>"
  std::vector<std::string> log_has;    // beginnings of lines the log must hold
  std::vector<std::string> files;      // files that must exist
  std::vector<std::string> files_not;  // files that must not
  int stage3_events;
};

class InversionRuns : public testing::TestWithParam<Run_case> {};

TEST_P(InversionRuns, EndAsSpecified) {
  const Run_case& c = GetParam();
  Work_dir dir;
  dir.write("data.dat", varnel_test::slurp(kReference + "data.dat"));
  dir.mkdir("out");
  dir.mkdir("x");
  std::vector<std::string> args = {"-d", "data.dat"};
  args.insert(args.end(), c.args.begin(), c.args.end());
  dir.write("pl.txt", "Number of multipliers: 2\n1.0\n0.5\n");
  const auto r = invert(dir, args);
  EXPECT_EQ(result_line(r), c.result) << r.out << r.err;
  for (const auto& prefix : c.log_has)
    EXPECT_FALSE(lines_starting(r.out, prefix).empty()) << "missing: " << prefix << "\n" << r.out;
  for (const auto& f : c.files) EXPECT_TRUE(dir.exists(f)) << f;
  for (const auto& f : c.files_not) EXPECT_FALSE(dir.exists(f)) << f;
  EXPECT_EQ(static_cast<int>(event_rms(r.err, 3).size()), c.stage3_events) << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Table, InversionRuns,
    testing::Values(
        Run_case{"TargetAlreadyMet",
                 {"-r", "out/run1", "-target", "100"},
                 "result 0 0",
                 {"! Stop Condition: Target RMS Misfit is too high!!!",
                  "! Average Model Calculation:        NaN", "! Number of Model Calculation:    0"},
                 {"out/run1_1_000.dat", "out/run1_000.m2d"},
                 {"out/run1_001.m2d", "out/Jk_Homo.mask"},
                 1},
        Run_case{"OneIteration",
                 {"-r", "out/run1", "-e", "3", "-maxiter", "1"},
                 "result 0 1",
                 {"! Stop Condition: Reach Maximum Iteration"},
                 {"out/run1_1_001.dat", "out/run1_001.m2d", "out/run1_001.lr", "out/Jk_Homo.mask"},
                 {"out/run1_002.m2d"},
                 1},
        Run_case{"MaskBesideAResponseInAFolderOfOneLetter",
                 {"-r", "x/run", "-e", "3", "-maxiter", "1"},
                 "result 0 1",
                 {},
                 {"Jk_Homo.mask", "x/run_001.lr"},
                 {"x/Jk_Homo.mask"},
                 1},
        Run_case{"PatternConstrainedStartsAtTheSmallMultiplier",
                 {"-r", "out/pc", "-pci", "yes", "-maxiter", "1"},
                 "result 0 1",
                 // log10 multipliers -2.19897, -1.69897, -1.19897 first.
                 {"! Inversion Mode: Pattern-Constrained Inversion",
                  "!-> Lambda:    0.632456E-02 , RMS:", "!-> Lambda:    0.200000E-01 , RMS:"},
                 {"out/pc_001.lr"},
                 {},
                 1},
        Run_case{"PrescribedMultipliersLimitTheIterations",
                 {"-r", "out/pl", "-e", "3", "-prelambda", "pl.txt"},
                 "result 0 2",
                 {"!-> Lambda:    0.100000E+02 , RMS:", "!-> Lambda:    0.316228E+01 , RMS:"},
                 {"out/pl_002.lr"},
                 {"out/pl_003.lr"},
                 1}),
    [](const testing::TestParamInfo<Run_case>& info) { return std::string(info.param.name); });

TEST(InversionRuns, InitialAndPriorModelsOnDifferentGridsStopWithStatusTwo) {
  Work_dir dir;
  dir.write("data.dat", varnel_test::slurp(kReference + "data.dat"));
  dir.mkdir("a");
  dir.mkdir("b");
  dir.mkdir("out");
  ASSERT_EQ(invert(dir, {"-d", "data.dat", "-r", "a/m", "-target", "100"}).exit_code, 0);
  ASSERT_EQ(invert(dir, {"-d", "data.dat", "-r", "b/m", "-target", "100", "-nx", "3"}).exit_code,
            0);
  const auto r =
      invert(dir, {"-d", "data.dat", "-r", "out/run", "-mi", "a/m_000.m2d", "-m0", "b/m_000.m2d"});
  EXPECT_EQ(result_line(r), "result 2 -1") << r.err;
  EXPECT_FALSE(lines_starting(r.out,
                              " ! Grid of Initial Model is not consistent with that of "
                              "Prior Model")
                   .empty())
      << r.out;
  EXPECT_TRUE(event_rms(r.err, 3).empty());
  EXPECT_TRUE(std::filesystem::is_empty(dir.path / "out"));
}

TEST(InversionRuns, InputsThatCannotStartARunAreJobErrors) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    const char* file;
    const char* text;
    const char* message;
  } cases[] = {
      {"empty multiplier file",
       {"-prelambda", "pl.txt"},
       "pl.txt",
       "Number of multipliers: 0\n",
       "pl.txt"},
      {"empty grid file", {"-sgrid", "grid.txt"}, "grid.txt", "", "grid.txt"},
      {"missing error file", {"-e", "errors.txt"}, nullptr, nullptr, "errors.txt"},
      {"model of unknown kind", {"-mi", "model.txt"}, "model.txt", "1\n", "model.txt"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Work_dir dir;
    dir.write("data.dat", varnel_test::slurp(kReference + "data.dat"));
    if (c.file != nullptr) dir.write(c.file, c.text);
    std::vector<std::string> args = {"-d", "data.dat", "-r", "run"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const auto r = invert(dir, args);
    EXPECT_EQ(result_line(r), "result 5 -1") << r.err;
    const auto error = lines_starting(r.err, "error ");
    ASSERT_EQ(error.size(), 1u) << r.err;
    EXPECT_NE(error[0].find(c.message), std::string::npos) << error[0];
    EXPECT_FALSE(dir.exists("run_000.m2d"));
  }
}

// --- the other modes ------------------------------------------------------------------

TEST(InversionModes, DifferenceTimeLapseRunsAndReportsTheDataDifference) {
  Work_dir dir;
  const std::string data = varnel_test::slurp(kReference + "data.dat");
  dir.write("base.dat", data);
  dir.mkdir("base");
  ASSERT_EQ(invert(dir, {"-d", "base.dat", "-r", "base/r", "-e", "3", "-maxiter", "2"}).exit_code,
            0);
  // The later survey: the same data with the first dozen values 10 % lower.
  std::string later;
  int row = 0;
  for (const auto& line : lines_of(data)) {
    std::string l = line;
    if (line.rfind("4 ", 0) == 0 && ++row <= 12) {
      const auto cut = line.rfind(' ');
      l = line.substr(0, cut + 1) + std::to_string(0.9 * std::stod(line.substr(cut + 1)));
    }
    later += l + "\n";
  }
  dir.write("later.dat", later);
  dir.mkdir("tl");
  const auto r =
      invert(dir, {"-d", "later.dat", "-r", "tl/r", "-timelapse", "difference", "-d0", "base.dat",
                   "-r0", "base/r_1_002.dat", "-mi", "base/r_002.m2d", "-maxiter", "2"});
  ASSERT_EQ(r.exit_code, 0) << r.err << r.out;
  EXPECT_FALSE(lines_starting(r.out, "! Inversion Mode: Difference Time Lapse Inversion").empty());
  const auto diff = lines_starting(r.out, "! Data Difference: ");
  ASSERT_EQ(diff.size(), 1u) << r.out;
  // 12 of 89 data changed by 10 % (of the later value, relative to the base).
  EXPECT_NEAR(std::stod(diff[0].substr(19)), 100.0 * 12 * 0.1 / 89, 0.05);
  EXPECT_TRUE(dir.exists("tl/r_001.lr"));
  EXPECT_EQ(event_rms(r.err, 3).size(), 1u);
}

// --- measured surveys ---------------------------------------------------------------

TEST(InversionFieldData, MeasuredSurveysInvertToAFiniteMisfit) {
  struct Case {
    const char* name;
    std::vector<std::string> files;
    const char* error;
  } cases[] = {
      {"slag dump, Wenner with topography, resistances", {"slagdump_wenner_topo.dat"}, "5"},
      {"Xochimilco Wenner, simple layout", {"xoch1_wenner.dat"}, "5"},
      {"Xochimilco dipole-dipole, very noisy", {"xoch1_dd.dat"}, "10"},
      {"Xochimilco, both as a list", {"xoch1_wenner.dat", "xoch1_dd.dat"}, "10"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Work_dir dir;
    std::string list = "Number of files: " + std::to_string(c.files.size()) + "\n";
    for (const auto& f : c.files) {
      dir.write(f, varnel_test::slurp(kField + f));
      list += f + "\n";
    }
    std::string data = c.files[0];
    if (c.files.size() > 1) {
      dir.write("list.txt", list);
      data = "list.txt";
    }
    const auto r = invert(dir, {"-d", data, "-r", "run", "-e", c.error});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const auto final = event_rms(r.err, 3);
    ASSERT_EQ(final.size(), 1u) << r.err;
    EXPECT_TRUE(std::isfinite(final[0]));
    EXPECT_GT(final[0], 0.0);
    const auto report = lines_starting(r.out, "! Stop Condition: ");
    const auto time = lines_starting(r.out, "! Total Calculation Time: ");
    ASSERT_EQ(report.size(), 1u);
    std::cout << "[ figures  ] " << c.name << ": " << result_line(r) << ", RMS " << final[0] << ", "
              << report[0].substr(2) << ", " << (time.empty() ? "" : time[0].substr(2)) << "\n";
  }
}

}  // namespace
