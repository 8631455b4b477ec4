// Model files (.m2d), model update files and sgrid files: the exact text the
// writer produces, read-back, the reader's extensions, the dispatch on the
// file name's extension, and the errors for bad files (each naming the file
// and the line, and leaving the model or list as it was).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "core/error.hpp"
#include "core/model/ascii_dcr2d_m2d_modelfile.hpp"
#include "core/model/ascii_sgrid.hpp"
#include "core/model/ascii_updatefile_dcr2d.hpp"
#include "core/model/dcr2dphy_model.hpp"
#include "core/model/modelio_dcr2d.hpp"

namespace {

namespace fs = std::filesystem;
using namespace varnel;
using ascii_dcr2d_m2d_modelfile::read_dcr2d_m2d_modelfile;
using ascii_dcr2d_m2d_modelfile::write_dcr2d_m2d_modelfile;
using dcr2dphy::Model_fwd_dcr2d;
using dcr2dphy::Model_inv_dcr2d;

// A folder of this test process under the test temporary folder, removed
// when the process ends.
fs::path scratch() {
  struct Folder {
    fs::path path =
        fs::path(::testing::TempDir()) / ("varnel_model_files_" + std::to_string(::getpid()));
    Folder() { fs::create_directories(path); }
    ~Folder() {
      std::error_code ec;
      fs::remove_all(path, ec);
    }
  };
  static const Folder folder;
  return folder.path;
}

std::string path_of(const std::string& name) { return (scratch() / name).string(); }

void write_text(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string join(const std::vector<std::string>& lines) {
  std::string s;
  for (const auto& l : lines) s += l + "\n";
  return s;
}

// The message of the varnel::Error the call throws; "" when it throws none.
std::string message_of(const std::function<void()>& f) {
  try {
    f();
  } catch (const Error& e) {
    return e.what();
  }
  return "";
}

bool starts_with(const std::string& s, const std::string& prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

// Names in the scratch folder that look like temporary files of the writer.
std::vector<std::string> leftover_temporaries() {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(scratch()))
    if (e.path().filename().string().find(".tmp") != std::string::npos)
      names.push_back(e.path().filename().string());
  return names;
}

// A model with its job context and its own grid.
template <class M>
struct Model {
  param_dcr2d::Param_dcr2d param;
  dcr2dphy::Dcr2dphy_state phy;
  grid2d_dcr::Gr2d_dcr_new grid;
  M m{{&param, &phy}};
  Model() { m.set_grid(&grid); }
  Model(const std::vector<double>& xs, const std::vector<double>& zs,
        const std::vector<double>& cond, const char* approx = "fd") {
    m.set_grid(&grid);
    m.initialize(xs, zs, approx, &cond);
  }
  std::vector<double> xs() const {
    const auto s = grid.get_x_grid();
    return {s.begin(), s.end()};
  }
  std::vector<double> zs() const {
    const auto s = grid.get_z_grid();
    return {s.begin(), s.end()};
  }
};
using Fwd = Model<Model_fwd_dcr2d>;
using Inv = Model<Model_inv_dcr2d>;

// Conductivities of the given resistivities.
std::vector<double> cond_of(const std::vector<double>& res) {
  std::vector<double> c;
  for (double r : res) c.push_back(1.0 / r);
  return c;
}

// The value rounded to ten significant digits, as "(E20.10)" keeps it.
double ten_digits(double v) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.9e", v);
  return std::strtod(buf, nullptr);
}

std::vector<double> ten_digits(const std::vector<double>& v) {
  std::vector<double> r;
  for (double x : v) r.push_back(ten_digits(x));
  return r;
}

void expect_relative(const std::vector<double>& got, const std::vector<double>& want, double tol,
                     const char* what) {
  ASSERT_EQ(got.size(), want.size()) << what;
  for (std::size_t i = 0; i < got.size(); ++i)
    EXPECT_LE(std::fabs(got[i] - want[i]), tol * std::fabs(want[i])) << what << " " << i + 1;
}

// ---------------------------------------------------------------------------

TEST(ModelFileWrite, ForwardModelExactText) {
  Fwd f({0.0, 1.0, 2.5}, {0.0, 1.0}, cond_of({100.0, 250.0}));
  const std::string path = path_of("forward.m2d");
  write_text(path, std::string(2000, 'x') + "\n");  // an older, longer file is replaced
  write_dcr2d_m2d_modelfile(path, f.m);
  const std::string expected = join({
      "RMS Misfit:    0.00000",
      "   2    1",
      "Horizontal Grid:",
      "    0.0000000000E+00",
      "    0.1000000000E+01",
      "    0.2500000000E+01",
      "Vertical Grid:",
      "    0.0000000000E+00",
      "    0.1000000000E+01",
      "Resistivity:",
      "    0.1000000000E+03",
      "    0.2500000000E+03",
  });
  EXPECT_EQ(read_text(path), expected);
  EXPECT_TRUE(leftover_temporaries().empty());
}

TEST(ModelFileWrite, InverseModelMisfitAndElementOrder) {
  // Element numbers run down each column: 1, 2 in column 1; 3, 4 in column 2.
  Inv v({0.0, 1.0, 2.0}, {0.0, 1.0, 3.0}, cond_of({1.0, 2.0, 3.0, 4.0}));
  v.m.rms = 1.234567;
  const std::string path = path_of("order.m2d");
  write_dcr2d_m2d_modelfile(path, v.m);
  std::istringstream in(read_text(path));
  std::vector<std::string> lines;
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  ASSERT_EQ(lines.size(), 1u + 1 + 1 + 3 + 1 + 3 + 1 + 4);
  EXPECT_EQ(lines[0], "RMS Misfit:    1.23457");
  EXPECT_EQ(lines[1], "   2    2");
  EXPECT_EQ(std::vector<std::string>(lines.end() - 4, lines.end()),
            (std::vector<std::string>{"    0.1000000000E+01", "    0.2000000000E+01",
                                      "    0.3000000000E+01", "    0.4000000000E+01"}));
}

TEST(ModelFileWrite, InverseModelReadsBack) {
  const std::vector<double> xs{-12.3456789012345, -0.000123456789012, 7.77777777777, 3141.59265358};
  const std::vector<double> zs{0.0, 0.333333333333333, 1.41421356237, 250.0};
  const std::vector<double> res{1.0 / 3.0,       12.3456789012, 987654.321098,
                                0.0271828182846, 55.5555555555, 100.0,
                                3.0e-5,          4.4e7,         1.0};
  Inv v(xs, zs, cond_of(res));
  v.m.rms = 2.718281828;
  const std::string path = path_of("inverse.m2d");
  write_dcr2d_m2d_modelfile(path, v.m);

  Inv back;
  read_dcr2d_m2d_modelfile(path, back.m, "fe");
  EXPECT_DOUBLE_EQ(back.m.rms, 2.71828);
  EXPECT_EQ(back.xs(), ten_digits(xs));
  EXPECT_EQ(back.zs(), ten_digits(zs));
  std::vector<double> got;
  back.m.get_res_fwd(got);  // 1/(1/r): a few roundings off the digits in the file
  expect_relative(got, ten_digits(res), 1e-15, "resistivity");
  // The solver mode word reaches the model's initialize.
  EXPECT_EQ(back.m.elem, std::vector<int32_t>(9, 2));
  EXPECT_EQ(back.m.sval, back.m.val);
}

TEST(ModelFileWrite, ValuesTooWideForTheirFieldsStillReadBack) {
  // F10.5 holds misfits below 10000 and I4 counts below 10000; wider values
  // are written at full width rather than as asterisks.
  std::vector<double> xs(10001);
  for (std::size_t i = 0; i < xs.size(); ++i) xs[i] = static_cast<double>(i);
  Inv v(xs, {0.0, 2.0}, {0.05});
  v.m.rms = 12345.678;
  const std::string path = path_of("wide.m2d");
  write_dcr2d_m2d_modelfile(path, v.m);
  const std::string text = read_text(path);
  EXPECT_TRUE(starts_with(text, "RMS Misfit: 12345.67800\n10000 1\n")) << text.substr(0, 40);
  EXPECT_EQ(text.find('*'), std::string::npos);

  Inv back;
  read_dcr2d_m2d_modelfile(path, back.m, "fd");
  EXPECT_DOUBLE_EQ(back.m.rms, 12345.678);
  EXPECT_EQ(back.grid.get_nx_element(), 10000);
  EXPECT_EQ(back.m.val, std::vector<double>(10000, 0.05));
}

TEST(ModelFileWrite, FailuresNameTheFileAndLeaveNoFile) {
  Fwd f({0.0, 1.0}, {0.0, 1.0}, {0.01});
  Fwd empty;  // never initialized

  const std::string no_folder = path_of("no_such_folder/model.m2d");
  const std::string msg = message_of([&] { write_dcr2d_m2d_modelfile(no_folder, f.m); });
  EXPECT_TRUE(starts_with(msg, no_folder + ": cannot write the model file")) << msg;
  EXPECT_FALSE(fs::exists(scratch() / "no_such_folder"));

  // A folder in the place of the file: the text is written, the rename fails.
  const std::string folder = path_of("a_folder.m2d");
  fs::create_directories(folder);
  const std::string msg2 = message_of([&] { write_dcr2d_m2d_modelfile(folder, f.m); });
  EXPECT_TRUE(starts_with(msg2, folder + ": cannot replace the model file")) << msg2;
  EXPECT_TRUE(fs::is_directory(folder));

  // An existing model is kept when the model to write is not usable.
  const std::string kept = path_of("kept.m2d");
  write_text(kept, "old content\n");
  EXPECT_EQ(message_of([&] { write_dcr2d_m2d_modelfile(kept, empty.m); }),
            kept + ": cannot write a model that has not been initialized");
  EXPECT_EQ(read_text(kept), "old content\n");

  EXPECT_TRUE(leftover_temporaries().empty());
}

// ---------------------------------------------------------------------------

// Lines of a file for a grid of nx = 2 by nz = 1, up to the "Resistivity:" line.
std::vector<std::string> grid_2x1(const std::string& first = "RMS Misfit:    0.75000") {
  return {first, "   2    1", "Horizontal Grid:", "0.0", "10.0", "20.0", "Vertical Grid:",
          "0.0", "5.0"};
}

std::vector<std::string> plus(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(ModelFileRead, ResistivityHeaderAndFreeFormat) {
  const std::string blanks95(95, ' ');
  struct Case {
    const char* name;
    std::vector<std::string> rest;  // from the "Resistivity:" line on
    std::vector<double> cond;
  };
  const std::vector<Case> cases{
      {"a uniform value", {"Resistivity: 50"}, {0.02, 0.02}},
      {"a uniform value with text after it", {"Resistivity:  2.5e1 ohm-m"}, {0.04, 0.04}},
      {"0 after the colon", {"Resistivity: 0", "50", "200"}, {0.02, 0.005}},
      {"nothing after the colon", {"Resistivity:", "50", "200"}, {0.02, 0.005}},
      {"no colon", {"Resistivity", "50", "200"}, {0.02, 0.005}},
      {"a value beyond column 100", {"Resistivity:" + blanks95 + "7", "50", "200"}, {0.02, 0.005}},
      {"values in other notations, text after them",
       {"Resistivity:", "  5.0d1  first", "2E2,second"},
       {0.02, 0.005}},
  };
  for (const auto& c : cases) {
    const std::string path = path_of("header.m2d");
    write_text(path, join(plus(grid_2x1(), c.rest)));
    Inv v;
    read_dcr2d_m2d_modelfile(path, v.m, "fd");
    ASSERT_EQ(v.m.val.size(), 2u) << c.name;
    EXPECT_DOUBLE_EQ(v.m.val[0], c.cond[0]) << c.name;
    EXPECT_DOUBLE_EQ(v.m.val[1], c.cond[1]) << c.name;
    EXPECT_DOUBLE_EQ(v.m.rms, 0.75) << c.name;
    EXPECT_EQ(v.xs(), (std::vector<double>{0.0, 10.0, 20.0})) << c.name;
    EXPECT_EQ(v.zs(), (std::vector<double>{0.0, 5.0})) << c.name;
  }
}

TEST(ModelFileRead, FirstLineIsTheMisfitOfInverseModelsOnly) {
  const std::string path = path_of("first_line.m2d");
  write_text(path, join(plus(grid_2x1("any title"), {"Resistivity: 10"})));
  Fwd f;
  read_dcr2d_m2d_modelfile(path, f.m, "fd");
  EXPECT_EQ(f.m.val, std::vector<double>(2, 0.1));

  Inv v;
  v.m.rms = 9.0;
  const std::string msg = message_of([&] { read_dcr2d_m2d_modelfile(path, v.m, "fd"); });
  EXPECT_TRUE(starts_with(msg, path + ", line 1: expected the misfit")) << msg;
  EXPECT_DOUBLE_EQ(v.m.rms, 9.0);
}

// A file that should have been read keeps the model as it was: grid, values
// and misfit.
struct Snapshot {
  std::vector<double> xs, zs, val;
  double rms;
  explicit Snapshot(const Inv& v) : xs(v.xs()), zs(v.zs()), val(v.m.val), rms(v.m.rms) {}
  bool operator==(const Snapshot&) const = default;
};

TEST(ModelFileRead, BadFilesNameFileAndLineAndLeaveTheModel) {
  const std::vector<std::string> good = plus(grid_2x1(), {"Resistivity:", "50", "200"});
  const auto with = [&](std::size_t line, const std::string& text) {
    auto l = good;
    l[line - 1] = text;
    return l;
  };
  const auto cut = [&](std::size_t n) {
    return std::vector<std::string>(good.begin(), good.begin() + n);
  };
  struct Case {
    std::vector<std::string> lines;
    std::string message;  // what follows "<file>, " (the start of it)
  };
  const std::vector<Case> cases{
      {{}, "unexpected end of file: expected the 'RMS Misfit:' line"},
      {with(1, "RMS Misfit:"), "line 1: expected the misfit after the colon"},
      {with(1, "RMS Misfit: n/a"), "line 1: expected the misfit after the colon"},
      {with(2, "2"), "line 3: expected the numbers of element columns and rows (nx nz)"},
      {with(2, "2.0 1"), "line 2: expected the numbers of element columns and rows (nx nz)"},
      {with(2, "0 1"),
       "line 2: expected at least one element column and row, found nx = 0, nz = 1"},
      {with(2, "2 -3"),
       "line 2: expected at least one element column and row, found nx = 2, nz = -3"},
      {with(2, "100000 200000"), "line 2: a grid of nx = 100000 by nz = 200000 elements is larger"},
      {with(5, "ten"), "line 5: expected the x position of node column 2"},
      {with(6, "inf"), "line 6: the x position of node column 3 must be finite, found inf"},
      {with(9, "nan"), "line 9: the z position of node row 2 must be finite, found nan"},
      // nx larger than the positions that follow: the header is no number.
      {with(2, "3 1"), "line 7: expected the x position of node column 4"},
      // one z position too many: it takes the place of the "Resistivity:" line
      {plus(cut(9), {"9.0", "Resistivity:", "50", "200"}),
       "line 11: expected the resistivity of element 1"},
      {cut(9), "line 9: unexpected end of file: expected the 'Resistivity:' line"},
      {cut(11), "line 11: expected the resistivity of element 2 (unexpected end of file"},
      {with(12, "-3"), "line 12: resistivity of element 2 must be positive and finite, found -3"},
      {with(11, "0"), "line 11: resistivity of element 1 must be positive and finite, found 0"},
      {with(11, "NaN"), "line 11: resistivity of element 1 must be positive and finite, found nan"},
      {with(12, "Infinity"),
       "line 12: resistivity of element 2 must be positive and finite, found inf"},
      {with(12, "1e-320"), "line 12: resistivity of element 2 is too small"},
      {with(10, "Resistivity: -5"),
       "line 10: the uniform resistivity must be positive and finite, found -5"},
      {with(10, "Resistivity: many"),
       "line 10: expected a resistivity or nothing after the colon of 'Resistivity:'"},
  };
  const std::string path = path_of("bad.m2d");
  for (const auto& c : cases) {
    write_text(path, join(c.lines));
    Inv v({0.0, 1.0}, {0.0, 2.0, 4.0}, {0.5, 0.25});
    v.m.rms = 3.0;
    const Snapshot before(v);
    const std::string msg = message_of([&] { read_dcr2d_m2d_modelfile(path, v.m, "fd"); });
    EXPECT_TRUE(
        starts_with(msg, path + (c.message.rfind("line", 0) == 0 ? ", " : ": ") + c.message))
        << "got: " << msg << "\nwanted: " << c.message;
    EXPECT_TRUE(Snapshot(v) == before) << c.message;
  }
}

TEST(ModelFileRead, MissingFileOrGridIsAnError) {
  const std::string missing = path_of("missing.m2d");
  Inv v({0.0, 1.0}, {0.0, 1.0}, {0.5});
  const Snapshot before(v);
  EXPECT_EQ(message_of([&] { read_dcr2d_m2d_modelfile(missing, v.m, "fd"); }),
            missing + ": cannot open file");
  EXPECT_TRUE(Snapshot(v) == before);

  param_dcr2d::Param_dcr2d param;
  dcr2dphy::Dcr2dphy_state phy;
  Model_fwd_dcr2d no_grid({&param, &phy});
  const std::string path = path_of("for_no_grid.m2d");
  write_text(path, join(plus(grid_2x1(), {"Resistivity: 10"})));
  EXPECT_EQ(message_of([&] { read_dcr2d_m2d_modelfile(path, no_grid, "fd"); }),
            path + ": the model to read into has no grid");
}

// ---------------------------------------------------------------------------

TEST(ModelFileDispatch, ExtensionDecides) {
  struct Case {
    const char* name;
    bool known;
  };
  const std::vector<Case> cases{
      {"model.m2d", true},  {"MODEL.M2D", true}, {"a.b.M2d", true},     {"model.m2d.bak", false},
      {"model.txt", false}, {"m2d", false},      {"model.m2d.", false}, {"run.m2d/model", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(modelio_dcr2d::is_model_file_name(c.name), c.known) << c.name;
  EXPECT_EQ(modelio_dcr2d::model_file_extension("Run.V2.M2D"), "m2d");
  EXPECT_EQ(modelio_dcr2d::model_file_extension("model"), "");
}

TEST(ModelFileDispatch, UpperCaseNameIsReadAndWritten) {
  Inv v({0.0, 1.0, 2.0}, {0.0, 1.0}, cond_of({10.0, 20.0}));
  v.m.rms = 0.5;
  const std::string path = path_of("UPPER.M2D");
  EXPECT_TRUE(modelio_dcr2d::write_dcr2d_model(path, v.m));
  ASSERT_TRUE(fs::exists(path));
  Inv back;
  EXPECT_TRUE(modelio_dcr2d::read_dcr2d_model(path, back.m, "fd"));
  EXPECT_EQ(back.xs(), v.xs());
  EXPECT_DOUBLE_EQ(back.m.rms, 0.5);
  std::vector<double> res;
  back.m.get_res_fwd(res);
  expect_relative(res, {10.0, 20.0}, 1e-12, "resistivity");
}

TEST(ModelFileDispatch, OtherExtensionsAreIgnored) {
  // A valid model file under a name whose extension is "bak".
  const std::string bak = path_of("model.m2d.bak");
  write_text(bak, join(plus(grid_2x1(), {"Resistivity: 10"})));
  Inv v({0.0, 1.0}, {0.0, 1.0}, {0.5});
  const Snapshot before(v);
  EXPECT_FALSE(modelio_dcr2d::read_dcr2d_model(bak, v.m, "fd"));
  EXPECT_TRUE(Snapshot(v) == before);

  const std::string txt = path_of("model_out.txt");
  EXPECT_FALSE(modelio_dcr2d::write_dcr2d_model(txt, v.m));
  EXPECT_FALSE(fs::exists(txt));

  EXPECT_EQ(message_of([] { modelio_dcr2d::fail_unknown_model_file("model.txt"); }),
            "model.txt: unknown model file extension; model files end in .m2d");
}

// ---------------------------------------------------------------------------

TEST(ModelFileUpdate, CountIsReadFromColumnsTenToThirtyNine) {
  const std::vector<std::string> locations{"1.5 -2.0", "3.0,4.25", "-7 8e1 extra"};
  struct Case {
    std::string first;
    int32_t count;
  };
  const std::vector<Case> cases{
      {"elements:    3", 3},                          // a nine-character label
      {"elements:3", 3},                              // the count right after it
      {"nelement=" + std::string(29, ' ') + "3", 3},  // the count in column 39
      {"npoints=12", 2},                              // an eight-character label: "1" is skipped
  };
  const std::string path = path_of("update.dat");
  for (const auto& c : cases) {
    write_text(path, join(plus({c.first}, locations)));
    const auto u = ascii_updatefile_dcr2d::read_model_updatefile_dcr2d(path);
    EXPECT_EQ(u.file, path);
    ASSERT_EQ(u.nelement, c.count) << c.first;
    ASSERT_EQ(u.location.rows(), c.count);
    ASSERT_EQ(u.location.cols(), 2);
    const double want[3][2] = {{1.5, -2.0}, {3.0, 4.25}, {-7.0, 80.0}};
    for (int i = 1; i <= c.count; ++i) {
      EXPECT_EQ(u.location(i, 1), want[i - 1][0]) << c.first << " location " << i;
      EXPECT_EQ(u.location(i, 2), want[i - 1][1]) << c.first << " location " << i;
    }
  }
}

TEST(ModelFileUpdate, BadFilesNameFileAndLine) {
  const std::string three = "elements:    3";
  struct Case {
    std::vector<std::string> lines;
    std::string message;  // after "<file>, "
  };
  const std::vector<Case> cases{
      {{"locations: 3", "0 0", "1 1", "2 2"},  // ten-character label: the field is ": 3"
       "line 1: expected the number of locations in columns 10 to 39"},
      {{"count: 3", "0 0", "1 1", "2 2"}, "line 1: expected the number of locations"},
      {{"elements:" + std::string(30, ' ') + "3", "0 0"},
       "line 1: expected the number of locations"},
      {{"elements:  1 2", "0 0"}, "line 1: expected the number of locations"},
      {{"elements:  0"}, "line 1: expected a number of locations from 1 to 10000000, found 0"},
      {{"elements: -4"}, "line 1: expected a number of locations from 1 to 10000000, found -4"},
      {{"elements: 99999999999", "0 0"}, "line 1: expected the number of locations"},
      {{three, "0 0", "1 1"}, "line 3: expected the x and z of location 3 (unexpected end of file"},
      {{three, "0 0", "1", "2 2"}, "line 4: expected the x and z of location 3"},
      {{three, "0 0", "1 one", "2 2"}, "line 3: expected the x and z of location 2"},
      {{three, "0 0", "1 nan", "2 2"}, "line 3: the x and z of location 2 must be finite"},
  };
  const std::string path = path_of("bad_update.dat");
  for (const auto& c : cases) {
    write_text(path, join(c.lines));
    const std::string msg =
        message_of([&] { ascii_updatefile_dcr2d::read_model_updatefile_dcr2d(path); });
    EXPECT_TRUE(starts_with(msg, path + ", " + c.message))
        << "got: " << msg << "\nwanted: " << c.message;
  }
  const std::string missing = path_of("missing_update.dat");
  EXPECT_EQ(message_of([&] { ascii_updatefile_dcr2d::read_model_updatefile_dcr2d(missing); }),
            missing + ": cannot open file");
}

// ---------------------------------------------------------------------------

TEST(ModelFileSgrid, ValuesAfterTheCount) {
  struct Case {
    std::vector<std::string> lines;
    std::vector<double> values;
  };
  const std::vector<Case> cases{
      {{"sgrid:"}, {}},                   // the line ends right after the colon
      {{"sgrid:   ", "1.0", "2.0"}, {}},  // only blanks follow it
      {{"number of values: 0"}, {}},
      {{"x: 3 values", "-1.5", "2e3 trailing", "  0.25,"}, {-1.5, 2000.0, 0.25}},
      {{"sgrid:" + std::string(94, ' ') + "2", "1", "2"}, {}},  // the count is beyond column 100
  };
  const std::string path = path_of("sgrid.dat");
  for (const auto& c : cases) {
    write_text(path, join(c.lines));
    std::vector<double> sgrid{99.0};  // replaced
    ascii_sgrid::read_sgrid_dcr2d(path, sgrid);
    EXPECT_EQ(sgrid, c.values) << c.lines[0];
  }
}

TEST(ModelFileSgrid, BadFilesNameFileAndLineAndLeaveTheList) {
  struct Case {
    std::vector<std::string> lines;
    std::string message;  // after "<file>" and ", " or ": "
  };
  const std::vector<Case> cases{
      {{}, "unexpected end of file: expected a label, a colon and the number of values"},
      {{"3", "1", "2", "3"}, "line 1: expected a label, a colon and the number of values"},
      {{"sgrid: three"}, "line 1: expected the number of values after the colon, found \"three\""},
      {{"a:b: 1", "4"}, "line 1: expected the number of values after the colon, found \"b:\""},
      {{"sgrid: 2.5"}, "line 1: expected the number of values after the colon"},
      {{"sgrid: -1"}, "line 1: expected a number of values from 0 to 10000000, found -1"},
      {{"sgrid: 3", "1", "2"}, "line 3: expected value 3 of 3 (unexpected end of file"},
      {{"sgrid: 2", "1", "two"}, "line 3: expected value 2 of 2"},
      {{"sgrid: 2", "-inf", "2"}, "line 2: value 1 of 2 must be finite, found -inf"},
  };
  const std::string path = path_of("bad_sgrid.dat");
  for (const auto& c : cases) {
    write_text(path, join(c.lines));
    std::vector<double> sgrid{99.0};
    const std::string msg = message_of([&] { ascii_sgrid::read_sgrid_dcr2d(path, sgrid); });
    EXPECT_TRUE(
        starts_with(msg, path + (c.message.rfind("line", 0) == 0 ? ", " : ": ") + c.message))
        << "got: " << msg << "\nwanted: " << c.message;
    EXPECT_EQ(sgrid, std::vector<double>{99.0}) << c.message;
  }
  const std::string missing = path_of("missing_sgrid.dat");
  std::vector<double> sgrid;
  EXPECT_EQ(message_of([&] { ascii_sgrid::read_sgrid_dcr2d(missing, sgrid); }),
            missing + ": cannot open file");
}

}  // namespace
