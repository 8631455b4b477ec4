// Bad input of every kind through the C entry point, each job in a child host
// process: missing files, malformed and short files, unknown array types,
// electrodes off the grid, resistivities that are not positive, models on
// different grids, an empty multiplier file and a response folder that does
// not exist. Every job must end with a status (never a signal or a hang),
// say what is wrong and where, and leave the folder as it found it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "forward_fixture.hpp"
#include "job_files.hpp"
#include "small_job.hpp"
#include "subprocess.hpp"

namespace {

using varnel_test::lines_starting;
using varnel_test::Work_dir;

// Every file of a folder, recursively, with its content.
std::map<std::string, std::string> snapshot(const Work_dir& dir) {
  std::map<std::string, std::string> files;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir.path)) {
    const std::string name = std::filesystem::relative(e.path(), dir.path).string();
    files[name] = e.is_regular_file() ? varnel_test::slurp(e.path().string()) : "<folder>";
  }
  return files;
}

std::string replace_line(const std::string& text, int line, const std::string& by) {
  auto lines = varnel_test::lines_of(text);
  lines.at(static_cast<std::size_t>(line - 1)) = by;
  std::string out;
  for (const auto& l : lines) out += l + "\n";
  return out;
}

std::string without_last_lines(const std::string& text, int n) {
  auto lines = varnel_test::lines_of(text);
  lines.resize(lines.size() - static_cast<std::size_t>(n));
  std::string out;
  for (const auto& l : lines) out += l + "\n";
  return out;
}

const char* const kCeg =
    "Survey Type: DCR2D\n"                                                // 1
    "Profile Name: bad input\n"                                           // 2
    "Array Type: Dipole-Dipole\n"                                         // 3
    "Electrode Spacing: 1.0\n"                                            // 4
    "Number of Data: 3\n"                                                 // 5
    "Number of Electrode: 6\n"                                            // 6
    "Rho Type: Resistance\n"                                              // 7
    "IP Include: No\n"                                                    // 8
    "Error Include: Yes\n"                                                // 9
    "Position Type: TH\n"                                                 // 10
    "Data Pattern: EC1 EC2 EP1 EP2 Rho Err\n"                             // 11
    "\n"                                                                  // 12
    "Electrode Position\n"                                                // 13
    "1 1.0 0.0\n2 2.0 0.0\n3 3.0 0.0\n4 4.0 0.0\n5 5.0 0.0\n6 6.0 0.0\n"  // 14-19
    "\n"                                                                  // 20
    "List\n"                                                              // 21
    "2 1 3 4 2.0 0.1\n"                                                   // 22
    "3 2 4 5 1.0 0.03\n"                                                  // 23
    "3 2 5 6 0.5 0.04\n";                                                 // 24

// The folder every case runs in: the valid files of a small job and one bad
// file of each kind.
void write_fixture(const Work_dir& dir) {
  using namespace varnel_test;
  const auto xs = small_grid_x(), zs = small_grid_z();
  const std::string model = small_model_text(xs, zs);
  const std::string dat = small_dat_text();
  const std::string ceg = kCeg;
  dir.write("survey.dat", dat);
  dir.write("survey.ceg", ceg);
  dir.write("model.m2d", model);
  dir.write("other_grid.m2d", small_model_text(small_grid_x(false), zs));

  // Data files. Datum i of survey.dat is on line 9 + i; seven data.
  dir.write("truncated_row.dat",
            without_last_lines(dat, 2) + "4 4 0 7 0 5 0 6\n");  // datum 7 two values short
  dir.write("text_row.dat", replace_line(dat, 12, "4 4 0 5 0 6 0 abc 0 100"));
  dir.write("count.dat", replace_line(dat, 7, "9"));
  dir.write("array99.dat", replace_line(dat, 4, "99"));
  dir.write("zero_data.dat", small_dat_text("0"));
  dir.write("negative_data.dat", small_dat_text("-100"));
  dir.write("shifted.dat", small_dat_text("100", 100.0));  // electrodes at x = 101 ... 108
  dir.write("count.ceg", replace_line(ceg, 5, "Number of Data: 5"));
  dir.write("huge.ceg", replace_line(ceg, 5, "Number of Data: 2000000000"));
  dir.write("huge.dat", replace_line(dat, 7, "2000000000"));
  dir.write("text.ceg", replace_line(ceg, 23, "3 2 4 5 one 0.03"));
  dir.write("zigzag.ceg", replace_line(ceg, 3, "Array Type: Zigzag"));
  dir.write("electrode9.ceg", replace_line(ceg, 23, "3 2 4 9 1.0 0.03"));
  dir.write("lost.lst", "Number of files: 2\nsurvey.dat\nmissing.dat\n");
  dir.write("short.lst", "Number of files: 3\nsurvey.dat\n");

  // Model files: element 5 is on line small_model_element_line(5).
  const int e5 = small_model_element_line(xs, zs, 5);
  dir.write("zero_rho.m2d", replace_line(model, e5, "0.0"));
  dir.write("negative_rho.m2d", replace_line(model, e5, "-100.0"));
  dir.write("text_rho.m2d", replace_line(model, e5, "ten"));
  dir.write("short.m2d", without_last_lines(model, 3));
  dir.write("count.m2d", replace_line(model, 2, "  40   17"));

  // Auxiliary files.
  dir.write("empty.prelambda", "");
  dir.write("text.prelambda", "Number of multipliers: 2\n1.0\nbig\n");
  dir.write("text.err", "Mode: level\nRows: 2\n1 3.0\n2 x\n");
  dir.write("short.err", "Mode: level\nRows: 5\n1 3.0\n2 4.0\n");
  dir.write("text.update", "Elements:         2\n4.0 1.0\nfour 1.0\n");
  dir.write("short.update", "Elements:         3\n4.0 1.0\n");
  dir.write("text.sgrid", "Depths: 3\n1.0\n2.0\nthree\n");
}

struct Bad_input_case {
  const char* name;
  const char* mode;  // "0" inversion, "1" forward
  std::vector<std::string> args;
  std::vector<int> statuses;         // accepted status codes
  std::vector<std::string> message;  // parts of the error message (status 1 and 5)
};

void PrintTo(const Bad_input_case& c, std::ostream* os) { *os << c.name; }

class BadInput : public testing::TestWithParam<Bad_input_case> {};

TEST_P(BadInput, EndsWithAStatusAMessageAndNoOutput) {
  const Bad_input_case& c = GetParam();
  Work_dir dir;
  write_fixture(dir);
  const auto before = snapshot(dir);

  // A hang is cut short after two minutes and shows as a non-zero exit.
  std::vector<std::string> args = {"-s", "KILL", "120", VARNEL_HOST_FILE, c.mode};
  args.insert(args.end(), c.args.begin(), c.args.end());
  const auto r = varnel_test::run_child("/usr/bin/timeout", args, dir.path.string());
  ASSERT_EQ(r.signal, 0);
  ASSERT_EQ(r.exit_code, 0) << "the host did not end normally\n" << r.err << r.out;

  const auto results = lines_starting(r.err, "result ");
  ASSERT_EQ(results.size(), 1u) << r.err;
  const int status = std::stoi(results[0].substr(7));
  EXPECT_NE(std::find(c.statuses.begin(), c.statuses.end(), status), c.statuses.end())
      << results[0] << "\n"
      << r.out;
  EXPECT_EQ(results[0].substr(results[0].rfind(' ')), " -1") << "no final iteration";

  if (status == 1 || status == 5) {
    const auto error = lines_starting(r.err, "error ");
    ASSERT_EQ(error.size(), 1u) << r.err;
    for (const auto& part : c.message)
      EXPECT_NE(error[0].find(part), std::string::npos) << "\"" << part << "\" not in\n"
                                                        << error[0];
  } else {
    for (const auto& part : c.message)
      EXPECT_NE(r.out.find(part), std::string::npos) << "\"" << part << "\" not in the log\n"
                                                     << r.out;
  }
  // No output file, complete or partial, and every input as it was.
  EXPECT_EQ(snapshot(dir), before);
}

const std::vector<std::string> kFwd = {"-m", "model.m2d", "-r", "out"};

std::vector<std::string> fwd(const std::string& data) {
  std::vector<std::string> a = {"-d", data};
  a.insert(a.end(), kFwd.begin(), kFwd.end());
  return a;
}

std::vector<std::string> inv(std::vector<std::string> extra) {
  std::vector<std::string> a = {"-d", "survey.dat", "-r", "out", "-maxiter", "1"};
  a.insert(a.end(), extra.begin(), extra.end());
  return a;
}

INSTANTIATE_TEST_SUITE_P(
    Table, BadInput,
    testing::Values(
        // Missing files of every kind.
        Bad_input_case{"MissingDatFile", "1", fwd("no_such.dat"), {5}, {"no_such.dat"}},
        Bad_input_case{"MissingCegFile", "1", fwd("no_such.ceg"), {5}, {"no_such.ceg"}},
        Bad_input_case{"MissingListFile", "1", fwd("no_such.lst"), {5}, {"no_such.lst"}},
        Bad_input_case{"ListNamesMissingFile", "1", fwd("lost.lst"), {5}, {"missing.dat"}},
        Bad_input_case{"MissingModelFile",
                       "1",
                       {"-d", "survey.dat", "-m", "no_such.m2d", "-r", "out"},
                       {5},
                       {"no_such.m2d"}},
        Bad_input_case{"MissingPriorModel", "0", inv({"-m0", "no_such.m2d"}), {5}, {"no_such.m2d"}},
        Bad_input_case{
            "MissingInitialModel", "0", inv({"-mi", "no_such.m2d"}), {5}, {"no_such.m2d"}},
        Bad_input_case{"MissingUpdateFile",
                       "0",
                       inv({"-m", "model.m2d", "-update", "no_such.update"}),
                       {5},
                       {"no_such.update"}},
        Bad_input_case{
            "MissingSgridFile", "0", inv({"-sgrid", "no_such.sgrid"}), {5}, {"no_such.sgrid"}},
        Bad_input_case{"MissingErrorFile", "0", inv({"-e", "no_such.err"}), {5}, {"no_such.err"}},
        Bad_input_case{"MissingPrelambdaFile",
                       "0",
                       inv({"-prelambda", "no_such.prelambda"}),
                       {5},
                       {"no_such.prelambda"}},
        Bad_input_case{"MissingReferenceData",
                       "0",
                       inv({"-timelapse", "difference", "-d0", "no_such.dat", "-r0", "survey.dat"}),
                       {5},
                       {"no_such.dat"}},
        Bad_input_case{"MissingReferenceResponse",
                       "0",
                       inv({"-timelapse", "difference", "-d0", "survey.dat", "-r0", "no_such.dat"}),
                       {5},
                       {"no_such.dat"}},
        // Truncated and non-numeric rows, wrong counts.
        Bad_input_case{"TruncatedDatRow",
                       "1",
                       fwd("truncated_row.dat"),
                       {5},
                       {"truncated_row.dat, line 16", "datum 7 of 7", "end of file"}},
        Bad_input_case{"TextInDatRow",
                       "1",
                       fwd("text_row.dat"),
                       {5},
                       {"text_row.dat, line 12", "datum 3", "\"abc\""}},
        Bad_input_case{"DatCountAboveRows",
                       "1",
                       fwd("count.dat"),
                       {5},
                       {"count.dat, line 17", "datum 8 of 9", "end of file"}},
        Bad_input_case{"CegCountAboveRows",
                       "1",
                       fwd("count.ceg"),
                       {5},
                       {"count.ceg, line 24", "data row 4 of 5", "end of file"}},
        // Counts far beyond the file are found before anything of their size
        // is allocated.
        Bad_input_case{"HugeDatCount",
                       "1",
                       fwd("huge.dat"),
                       {5},
                       {"huge.dat, line 7", "2000000000", "more than the file can hold"}},
        Bad_input_case{"HugeCegCount",
                       "1",
                       fwd("huge.ceg"),
                       {5},
                       {"huge.ceg, line 24", "data row 4 of 2000000000", "end of file"}},
        Bad_input_case{"TextInCegRow", "1", fwd("text.ceg"), {5}, {"text.ceg, line 23", "\"one\""}},
        Bad_input_case{"ListShorterThanItsCount",
                       "1",
                       fwd("short.lst"),
                       {5},
                       {"short.lst, line 2", "names 3 data files"}},
        Bad_input_case{"TextResistivity",
                       "1",
                       {"-d", "survey.dat", "-m", "text_rho.m2d", "-r", "out"},
                       {5},
                       {"text_rho.m2d, line 64", "element 5", "\"ten\""}},
        Bad_input_case{"ShortModelFile",
                       "1",
                       {"-d", "survey.dat", "-m", "short.m2d", "-r", "out"},
                       {5},
                       {"short.m2d", "end of file"}},
        Bad_input_case{"ModelCountAboveColumns",
                       "1",
                       {"-d", "survey.dat", "-m", "count.m2d", "-r", "out"},
                       {5},
                       {"count.m2d, line 40", "node column 37"}},
        Bad_input_case{"TextMultiplier",
                       "0",
                       inv({"-prelambda", "text.prelambda"}),
                       {5},
                       {"text.prelambda, line 3", "\"big\""}},
        Bad_input_case{
            "TextInErrorTable", "0", inv({"-e", "text.err"}), {5}, {"text.err, line 4", "\"x\""}},
        Bad_input_case{"ErrorTableShorterThanItsCount",
                       "0",
                       inv({"-e", "short.err"}),
                       {5},
                       {"short.err", "end of file", "row 3"}},
        Bad_input_case{"TextInUpdateFile",
                       "0",
                       inv({"-m", "model.m2d", "-update", "text.update"}),
                       {5},
                       {"text.update, line 3", "\"four\""}},
        Bad_input_case{"UpdateFileShorterThanItsCount",
                       "0",
                       inv({"-m", "model.m2d", "-update", "short.update"}),
                       {5},
                       {"short.update", "end of file", "location 2"}},
        Bad_input_case{"TextInSgridFile",
                       "0",
                       inv({"-sgrid", "text.sgrid"}),
                       {5},
                       {"text.sgrid, line 4", "\"three\""}},
        // Unknown array types and names, electrodes the survey or grid lacks.
        Bad_input_case{"UnknownArrayCode",
                       "1",
                       fwd("array99.dat"),
                       {5},
                       {"array99.dat, line 4", "array type 99"}},
        Bad_input_case{"UnknownArrayName",
                       "1",
                       fwd("zigzag.ceg"),
                       {5},
                       {"zigzag.ceg", "unknown array type", "zigzag"}},
        Bad_input_case{"CegRowNamesUnlistedElectrode",
                       "1",
                       fwd("electrode9.ceg"),
                       {5},
                       {"electrode9.ceg, line 23", "electrode 9"}},
        Bad_input_case{"ElectrodesOffTheGrid",
                       "1",
                       fwd("shifted.dat"),
                       {5},
                       {"electrode 1", "x = 101", "no node"}},
        // Values that are not positive.
        Bad_input_case{"ZeroResistivity",
                       "1",
                       {"-d", "survey.dat", "-m", "zero_rho.m2d", "-r", "out"},
                       {5},
                       {"zero_rho.m2d, line 64", "must be positive"}},
        Bad_input_case{"NegativeResistivity",
                       "0",
                       inv({"-m", "negative_rho.m2d"}),
                       {5},
                       {"negative_rho.m2d, line 64", "must be positive"}},
        Bad_input_case{
            "OnlyZeroData", "1", fwd("zero_data.dat"), {5}, {"zero_data.dat", "no usable data"}},
        Bad_input_case{"OnlyNegativeData",
                       "0",
                       {"-d", "negative_data.dat", "-r", "out"},
                       {5},
                       {"negative_data.dat", "no usable data"}},
        // Models on different grids, an empty multiplier file.
        Bad_input_case{"InitialAndPriorOnOtherGrids",
                       "0",
                       inv({"-m0", "model.m2d", "-mi", "other_grid.m2d"}),
                       {2},
                       {"not consistent"}},
        Bad_input_case{"EmptyPrelambdaFile",
                       "0",
                       inv({"-prelambda", "empty.prelambda"}),
                       {5},
                       {"empty.prelambda", "empty"}},
        // A response folder that does not exist: the job fails when it
        // writes, and leaves nothing behind.
        Bad_input_case{"ForwardResponseFolderMissing",
                       "1",
                       {"-d", "survey.dat", "-m", "model.m2d", "-r", "no_dir/out"},
                       {5},
                       {"no_dir/out", "cannot write"}},
        Bad_input_case{"CegResponseFolderMissing",
                       "1",
                       {"-d", "survey.ceg", "-m", "model.m2d", "-r", "no_dir/out"},
                       {5},
                       {"no_dir/out", "cannot write"}},
        Bad_input_case{"InversionResponseFolderMissing",
                       "0",
                       {"-d", "survey.dat", "-r", "no_dir/out", "-maxiter", "1"},
                       {5},
                       {"no_dir/out", "cannot write"}},
        // A malformed option value rejects the request before any work.
        Bad_input_case{"MalformedOption", "0", inv({"-diffusion", "four"}), {1}, {"-diffusion"}}),
    [](const testing::TestParamInfo<Bad_input_case>& info) { return info.param.name; });

}  // namespace

namespace {

// An inversion whose dense matrices cannot fit ends at once with their sizes,
// before the first forward computation, instead of being killed half-way: a
// 96-electrode survey (3680 data, about 1.7 GiB of dense matrices) in a host
// whose data segment is limited to 512 MiB.
TEST(BadInputMemory, AnInversionTooLargeForMemoryEndsAtOnce) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer's shadow memory cannot be mapped under a data limit";
#endif
  using namespace varnel::forward_fixture;
  Work_dir dir;
  const std::vector<Position> e = line_of_electrodes(96, 1.0);
  std::vector<Datum> data = dipole_dipole(e, {1, 2, 3, 4}, 8);
  const std::vector<Datum> w = wenner_alpha(e, 16);
  data.insert(data.end(), w.begin(), w.end());
  dir.write("large.dat", dat_text(data, 0, 1.0, 0, 100.0));
  const auto before = snapshot(dir);

  const std::string script = "ulimit -d 524288 && exec /usr/bin/timeout -s KILL 120 \"$@\"";
  const auto r = varnel_test::run_child(
      "/bin/sh", {"-c", script, "sh", VARNEL_HOST_FILE, "0", "-d", "large.dat", "-r", "out"},
      dir.path.string());
  ASSERT_EQ(r.signal, 0);
  ASSERT_EQ(r.exit_code, 0) << r.err << r.out;
  const auto results = lines_starting(r.err, "result ");
  ASSERT_EQ(results.size(), 1u) << r.err;
  EXPECT_TRUE(results[0] == "result 1 -1" || results[0] == "result 5 -1") << results[0];
  const auto error = lines_starting(r.err, "error ");
  ASSERT_EQ(error.size(), 1u) << r.err;
  for (const char* part : {"3680 data", "needs about", "GiB", "3680 x 3680"})
    EXPECT_NE(error[0].find(part), std::string::npos) << part << " not in\n" << error[0];
  EXPECT_EQ(lines_starting(r.err, "event 3 ").size(), 0u) << "no iteration may start";
  EXPECT_EQ(snapshot(dir), before);
}

}  // namespace
