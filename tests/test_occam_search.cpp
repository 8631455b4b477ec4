// The multiplier search: the first trials of an iteration, the search step on
// tables of scripted trial misfits (each case's proposal worked out by hand
// from the straight line or parabola through the trials), the log lines of
// the closeness tests, the end of every search, appending, and the file of
// prescribed multipliers.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "core/error.hpp"
#include "core/inversion/ascii_prelambda.hpp"
#include "core/inversion/occam.hpp"

namespace {

using namespace varnel;
using occam::Occam_state;
using Row = std::array<double, 2>;  // log10 lambda, RMS

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

// Search state as the driver leaves it: target band 0.95 ... 1.05, no
// proposal yet in this iteration.
Occam_state search_state() {
  Occam_state o;
  o.upper_level = 1.05;
  o.lower_level = 0.95;
  o.plambda = nan;
  return o;
}

// Evaluated trials get the model misfit 10 * RMS, so that carried rows can
// be told from new ones (RMS and model misfit 0).
Dmatrix table_of(const std::vector<Row>& rows) {
  Dmatrix t(static_cast<int>(rows.size()), 3, 0.0);
  for (int i = 1; i <= t.rows(); ++i) {
    t(i, 1) = rows[i - 1][0];
    t(i, 2) = rows[i - 1][1];
    t(i, 3) = 10.0 * rows[i - 1][1];
  }
  return t;
}

void expect_table(const Dmatrix& t, const std::vector<Row>& rows) {
  ASSERT_EQ(t.rows(), static_cast<int>(rows.size()));
  for (int i = 1; i <= t.rows(); ++i) {
    EXPECT_NEAR(t(i, 1), rows[i - 1][0], 1e-12) << "row " << i;
    EXPECT_EQ(t(i, 2), rows[i - 1][1]) << "row " << i;
    EXPECT_EQ(t(i, 3), 10.0 * rows[i - 1][1]) << "row " << i;
  }
}

struct Step_case {
  const char* name;
  std::vector<Row> trials;
  bool check, endprocess;
  std::vector<Row> after;  // the table afterwards; RMS 0 marks a new trial
  std::string log;
  double minlambda = -10.0;
  double plambda = nan;
};

void PrintTo(const Step_case& c, std::ostream* os) { *os << c.name; }

class SearchStep : public testing::TestWithParam<Step_case> {};

TEST_P(SearchStep, ProposesOrEnds) {
  const Step_case& c = GetParam();
  Occam_state o = search_state();
  o.minlambda = c.minlambda;
  o.plambda = c.plambda;
  o.lambdarms = table_of(c.trials);
  bool check = true, endprocess = !c.endprocess;
  testing::internal::CaptureStdout();
  occam::phasei(o, check, endprocess);
  const std::string log = testing::internal::GetCapturedStdout();
  EXPECT_EQ(check, c.check);
  EXPECT_EQ(endprocess, c.endprocess);
  EXPECT_EQ(log, c.log);
  expect_table(o.lambdarms, c.after);
  // An appended trial is also the iteration's latest proposal.
  if (c.after.size() > c.trials.size()) {
    for (const Row& r : c.after)
      if (r[1] == 0.0) EXPECT_NEAR(o.plambda, r[0], 1e-12);
  } else if (std::isnan(c.plambda)) {
    EXPECT_TRUE(std::isnan(o.plambda));
  } else {
    EXPECT_EQ(o.plambda, c.plambda);
  }
}

const char* const close_line = " New lambda is equal to old\n";
const char* const nearby_line =
    " Min is nearby Max and new_lambda is the same with previous lambda \n";

INSTANTIATE_TEST_SUITE_P(
    Occam, SearchStep,
    testing::Values(
        // A trial strictly inside the band: target reached.
        Step_case{"TargetReached",
                  {{1.5, 3.0}, {2, 1.0}, {2.5, 0.5}},
                  false,
                  true,
                  {{1.5, 3.0}, {2, 1.0}, {2.5, 0.5}},
                  ""},
        // RMS exactly on the upper edge is not inside: the line through
        // (1.5, 0.5) and (2, 2.0) reaches 1.05 at 1.5 + 0.55 / 3.
        Step_case{"UpperEdgeIsNotInside",
                  {{1.5, 0.5}, {2, 2.0}, {2.5, 1.05}},
                  true,
                  false,
                  {{1.5, 0.5}, {1.5 + 0.55 / 3.0, 0}, {2, 2.0}, {2.5, 1.05}},
                  ""},
        // All below the band, rising at the right end: line through the
        // last two, slope 0.1, reaches 1.05 at 2 + 0.25 / 0.1.
        Step_case{"AllBelowRisingEnd",
                  {{1.5, 0.9}, {2, 0.8}, {2.5, 0.85}},
                  true,
                  false,
                  {{1.5, 0.9}, {2, 0.8}, {2.5, 0.85}, {4.5, 0}},
                  ""},
        Step_case{"AllBelowCloseToPreviousProposal",
                  {{1.5, 0.9}, {2, 0.8}, {2.5, 0.85}},
                  false,
                  false,
                  {{1.5, 0.9}, {2, 0.8}, {2.5, 0.85}},
                  "",
                  -10.0,
                  4.48},
        // Falling throughout: line through the first two, slope -0.2.
        Step_case{"AllBelowFalling",
                  {{1.5, 0.9}, {2, 0.8}, {2.5, 0.7}},
                  true,
                  false,
                  {{0.75, 0}, {1.5, 0.9}, {2, 0.8}, {2.5, 0.7}},
                  ""},
        // Falling at the end: the last rise is rows 1 -> 2, slope 0.4.
        Step_case{"AllBelowLastRise",
                  {{1, 0.5}, {2, 0.9}, {3, 0.7}, {4, 0.6}},
                  true,
                  false,
                  {{1, 0.5}, {2, 0.9}, {2.375, 0}, {3, 0.7}, {4, 0.6}},
                  ""},
        // A flat first pair gives a line that never reaches the band.
        Step_case{"AllBelowFlatLine",
                  {{1.5, 0.8}, {2, 0.8}, {2.5, 0.7}},
                  false,
                  false,
                  {{1.5, 0.8}, {2, 0.8}, {2.5, 0.7}},
                  ""},
        Step_case{"AllBelowEqualRightEnd",
                  {{1.5, 0.9}, {2, 0.8}, {2.5, 0.8}},
                  false,
                  true,
                  {{1.5, 0.9}, {2, 0.8}, {2.5, 0.8}},
                  ""},
        Step_case{"SingleTrialBelow", {{2, 0.5}}, false, false, {{2, 0.5}}, ""},
        // Best at the left, next trial above the band to its right.
        Step_case{"AcrossBand",
                  {{1.5, 0.5}, {2, 2.0}, {2.5, 3.0}},
                  true,
                  false,
                  {{1.5, 0.5}, {1.5 + 0.55 / 3.0, 0}, {2, 2.0}, {2.5, 3.0}},
                  ""},
        // Nothing right of the best is above the band; (2.5, 0.8) is above
        // the best: line through (2, 0.5) and (2.5, 0.8), slope 0.6.
        Step_case{"AcrossBandAboveBest",
                  {{1.5, 3.0}, {2, 0.5}, {2.5, 0.8}},
                  true,
                  false,
                  {{1.5, 3.0}, {2, 0.5}, {2.5, 0.8}, {2 + 0.55 / 0.6, 0}},
                  ""},
        // Best at the right end below the band: all again a decade higher.
        Step_case{"LeftSide",
                  {{1.5, 2.0}, {2, 1.5}, {2.5, 0.5}},
                  true,
                  false,
                  {{2.5, 0}, {3, 0}, {3.5, 0}},
                  " Left Side\n"},
        // All above, best last, worst first: line through rows 3 and 2,
        // slope -1, reaches 1.05 at 2.5 + 0.45.
        Step_case{"AboveBestLast",
                  {{1.5, 3.0}, {2, 2.0}, {2.5, 1.5}},
                  true,
                  false,
                  {{1.5, 3.0}, {2, 2.0}, {2.5, 1.5}, {2.95, 0}},
                  ""},
        Step_case{"AboveBestFirst",
                  {{1.5, 1.5}, {2, 2.0}, {2.5, 3.0}},
                  true,
                  false,
                  {{1.05, 0}, {1.5, 1.5}, {2, 2.0}, {2.5, 3.0}},
                  ""},
        Step_case{"AboveBelowSmallestMultiplier",
                  {{1.5, 1.5}, {2, 2.0}, {2.5, 3.0}},
                  false,
                  false,
                  {{1.5, 1.5}, {2, 2.0}, {2.5, 3.0}},
                  "",
                  1.2},
        // p = 3 + 0.05 / 1.9 lies within one per cent of log lambda 3.
        Step_case{"AboveCloseToTrial",
                  {{1, 5.0}, {2, 3.0}, {3, 1.1}},
                  false,
                  false,
                  {{1, 5.0}, {2, 3.0}, {3, 1.1}},
                  close_line},
        // A flat pair extrapolates to minus infinity.
        Step_case{"AboveFlatLine",
                  {{1.5, 2.0}, {2, 2.0}, {2.5, 3.0}},
                  false,
                  false,
                  {{1.5, 2.0}, {2, 2.0}, {2.5, 3.0}},
                  ""},
        // Worst next to best: half a spacing (0.5) beyond the best.
        Step_case{"AboveWorstNextToBestLast",
                  {{1.5, 2.5}, {2, 3.0}, {2.5, 2.0}},
                  true,
                  false,
                  {{1.5, 2.5}, {2, 3.0}, {2.5, 2.0}, {2.75, 0}},
                  ""},
        Step_case{"AboveWorstNextToBestFirst",
                  {{1.5, 2.0}, {2, 3.0}, {2.5, 2.5}},
                  true,
                  false,
                  {{1.25, 0}, {1.5, 2.0}, {2, 3.0}, {2.5, 2.5}},
                  ""},
        Step_case{"AboveWorstNextToBestRepeated",
                  {{1.5, 2.5}, {2, 3.0}, {2.5, 2.0}},
                  false,
                  false,
                  {{1.5, 2.5}, {2, 3.0}, {2.5, 2.0}},
                  nearby_line,
                  -10.0,
                  2.75},
        Step_case{"AboveSingleTrial", {{2, 3.0}}, false, false, {{2, 3.0}}, ""},
        // Inner minimum: the parabola 1.6 (x - 2)^2 - 0.2 (x - 2) + 2.5
        // through the three trials has its vertex at 2 + 0.2 / 3.2.
        Step_case{"AboveInnerMinimum",
                  {{1.5, 3.0}, {2, 2.5}, {2.5, 2.8}},
                  true,
                  false,
                  {{1.5, 3.0}, {2, 2.5}, {2.0625, 0}, {2.5, 2.8}},
                  ""},
        // The two best misfits within one per cent: no parabola.
        Step_case{"AboveInnerMinimumFlat",
                  {{1.5, 3.0}, {2, 2.5}, {2.5, 2.52}},
                  false,
                  false,
                  {{1.5, 3.0}, {2, 2.5}, {2.5, 2.52}},
                  ""},
        // The failed trial goes; the rest is inside the band.
        Step_case{"FailedTrialDropped",
                  {{1.5, nan}, {2, 3.0}, {2.5, 1.0}},
                  false,
                  true,
                  {{2, 3.0}, {2.5, 1.0}},
                  ""}),
    [](const testing::TestParamInfo<Step_case>& info) { return info.param.name; });

TEST(OccamSearch, PrescribedModeEndsAfterOneTrialWithoutReachingTheTarget) {
  Occam_state o = search_state();
  o.fixlambda = true;
  o.lambdarms = table_of({{1.0, 1.0}});  // inside the band
  bool check = true, endprocess = true;
  occam::phasei(o, check, endprocess);
  EXPECT_FALSE(check);
  EXPECT_FALSE(endprocess);
  expect_table(o.lambdarms, {{1.0, 1.0}});
}

struct Initial_case {
  const char* name;
  int iter;
  double accepted;  // iterrms(iter, 1)
  bool fixlambda;
  std::vector<double> prelambda;
  std::vector<double> lambdas;
  double iextend;  // afterwards
};

void PrintTo(const Initial_case& c, std::ostream* os) { *os << c.name; }

class InitialTrials : public testing::TestWithParam<Initial_case> {};

TEST_P(InitialTrials, SpreadAroundTheCentre) {
  const Initial_case& c = GetParam();
  Occam_state o;
  o.iter = c.iter;
  o.fixlambda = c.fixlambda;
  o.prelambda = c.prelambda;
  o.nprelambda = static_cast<int32_t>(c.prelambda.size());
  o.iterrms.assign(5, 3, 0.0);
  o.iterrms(c.iter, 1) = c.accepted;
  o.lambdarms = table_of({{7, 7}, {8, 8}, {9, 9}, {10, 10}});  // from the last iteration
  occam::cal_initial_lambda(o);
  ASSERT_EQ(o.lambdarms.rows(), static_cast<int>(c.lambdas.size()));
  for (int i = 1; i <= o.lambdarms.rows(); ++i) {
    EXPECT_DOUBLE_EQ(o.lambdarms(i, 1), c.lambdas[i - 1]) << i;
    EXPECT_EQ(o.lambdarms(i, 2), 0.0);
    EXPECT_EQ(o.lambdarms(i, 3), 0.0);
  }
  EXPECT_DOUBLE_EQ(o.iextend, c.iextend);
}

INSTANTIATE_TEST_SUITE_P(
    Occam, InitialTrials,
    testing::Values(Initial_case{"FirstIteration", 1, 0.0, false, {}, {1.5, 2.0, 2.5}, 0.5},
                    Initial_case{"AroundTheAccepted", 2, 2.0, false, {}, {1.5, 2.0, 2.5}, 0.5},
                    Initial_case{
                        "NegativeAcceptedSorted", 3, -1.0, false, {}, {-1.25, -1.0, -0.75}, -0.25},
                    Initial_case{"ZeroAcceptedCoincide", 2, 0.0, false, {}, {0.0, 0.0, 0.0}, 0.0},
                    Initial_case{"NoAcceptedMultiplier", 2, nan, false, {}, {1.5, 2.0, 2.5}, 0.5},
                    Initial_case{"Prescribed", 2, 0.0, true, {0.5, -1.5, 3.0}, {-1.5}, 0.5},
                    Initial_case{"FixedWithoutList", 2, 0.0, true, {}, {2.0}, 0.5}),
    [](const testing::TestParamInfo<Initial_case>& info) { return info.param.name; });

TEST(OccamSearch, AddElementAppendsAnUnevaluatedRow) {
  Occam_state o;
  o.lambdarms = table_of({{1, 2.0}, {3, 1.0}});
  int32_t n = 2;
  occam::add_element(o, 0.5, n);
  EXPECT_EQ(n, 3);
  ASSERT_EQ(o.lambdarms.rows(), 3);
  EXPECT_EQ(o.lambdarms(3, 1), 0.5);
  EXPECT_EQ(o.lambdarms(3, 2), 0.0);
  EXPECT_EQ(o.lambdarms(3, 3), 0.0);
  EXPECT_EQ(o.lambdarms(2, 1), 3.0);
  EXPECT_EQ(o.lambdarms(2, 3), 10.0);
}

// The driver's loop over one iteration: evaluate every unevaluated row with
// the scripted misfit, then step. Returns the number of passes; `limit` only
// keeps a broken search from hanging the test.
struct Search_run {
  int passes = 0;
  int evaluations = 0;
  bool endprocess = false;
  std::string log;
};

Search_run run_search(Occam_state& o, const std::function<double(const Dmatrix&, int)>& misfit,
                      int limit = 1000) {
  Search_run run;
  bool check = true;
  testing::internal::CaptureStdout();
  while (check && run.passes < limit) {
    for (int i = 1; i <= o.lambdarms.rows(); ++i) {
      if (o.lambdarms(i, 2) != 0.0) continue;
      o.lambdarms(i, 2) = misfit(o.lambdarms, i);
      o.lambdarms(i, 3) = 1.0;
      ++run.evaluations;
    }
    occam::phasei(o, check, run.endprocess);
    ++run.passes;
  }
  run.log = testing::internal::GetCapturedStdout();
  return run;
}

int count_of(const std::string& text, const std::string& line) {
  int n = 0;
  for (auto p = text.find(line); p != std::string::npos; p = text.find(line, p + 1)) ++n;
  return n;
}

TEST(OccamSearch, EveryTrialFailingRetriesOnceADecadeHigherThenEnds) {
  Occam_state o = search_state();
  o.iter = 1;
  occam::cal_initial_lambda(o);
  std::vector<double> tried;
  const Search_run run = run_search(o, [&](const Dmatrix& t, int i) {
    tried.push_back(t(i, 1));
    return nan;
  });
  EXPECT_EQ(run.passes, 2);
  EXPECT_EQ(tried, (std::vector<double>{1.5, 2.0, 2.5, 2.5, 3.0, 3.5}));
  EXPECT_EQ(o.ilambda, 3.0);
  EXPECT_FALSE(run.endprocess);
  EXPECT_EQ(o.lambdarms.rows(), 0);
  EXPECT_EQ(count_of(run.log, "!-> Every trial of this iteration failed"), 1);
}

TEST(OccamSearch, FailedTrialsDoNotStopALaterSuccess) {
  // The first three trials fail; the retried ones, a decade higher, follow
  // RMS = sqrt(log lambda), which crosses the band top at 1.1025.
  Occam_state o = search_state();
  o.iter = 1;
  occam::cal_initial_lambda(o);
  int calls = 0;
  const Search_run run = run_search(
      o, [&](const Dmatrix& t, int i) { return ++calls <= 3 ? nan : std::sqrt(t(i, 1)); });
  EXPECT_LT(run.passes, 10);
  ASSERT_GE(o.lambdarms.rows(), 4);
  double closest = 1e9;
  bool retried = false;
  for (int i = 1; i <= o.lambdarms.rows(); ++i) {
    EXPECT_FALSE(std::isnan(o.lambdarms(i, 2)));
    closest = std::min(closest, std::abs(o.lambdarms(i, 2) - 1.05));
    retried = retried || o.lambdarms(i, 1) == 3.5;
  }
  EXPECT_TRUE(retried);
  EXPECT_LT(closest, 0.01);
}

TEST(OccamSearch, EndlessShiftingEndsAtThePassLimit) {
  // Whatever the multipliers, the trials come out falling from above the
  // band to below it, so every pass moves them a decade up again.
  Occam_state o = search_state();
  o.iter = 1;
  occam::cal_initial_lambda(o);
  const Search_run run = run_search(o, [](const Dmatrix&, int i) {
    const double by_row[] = {2.0, 1.5, 0.5};
    return by_row[(i - 1) % 3];
  });
  EXPECT_EQ(run.passes, occam::max_search_passes + 1);
  EXPECT_EQ(count_of(run.log, " Left Side\n"), occam::max_search_passes);
  EXPECT_EQ(count_of(run.log, "!-> The multiplier search ends after 30 passes\n"), 1);
  EXPECT_FALSE(run.endprocess);
  // The table left behind holds evaluated trials.
  for (int i = 1; i <= o.lambdarms.rows(); ++i) EXPECT_NE(o.lambdarms(i, 2), 0.0);
}

TEST(OccamSearch, SmoothMisfitCurveReachesTheBand) {
  // RMS = sqrt(log lambda), inside the band for log lambda 0.9025 ... 1.1025;
  // the line through the first two trials lands at 1.039.
  Occam_state o = search_state();
  o.iter = 1;
  occam::cal_initial_lambda(o);
  const Search_run run = run_search(o, [](const Dmatrix& t, int i) { return std::sqrt(t(i, 1)); });
  EXPECT_TRUE(run.endprocess);
  EXPECT_EQ(run.passes, 2);
  bool inside = false;
  for (int i = 1; i <= o.lambdarms.rows(); ++i)
    inside = inside || (o.lambdarms(i, 2) > 0.95 && o.lambdarms(i, 2) < 1.05);
  EXPECT_TRUE(inside);
}

// --- prescribed multipliers -------------------------------------------------

namespace fs = std::filesystem;

fs::path scratch() {
  struct Folder {
    fs::path path =
        fs::path(::testing::TempDir()) / ("varnel_occam_search_" + std::to_string(::getpid()));
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

std::string message_of(const std::function<void()>& f) {
  try {
    f();
  } catch (const Error& e) {
    return e.what();
  }
  return "";
}

TEST(PrelambdaFile, ReadsTheCountAfterTheColonOrFromTheWholeLine) {
  const std::string with_colon = write_file("a.txt", "Number of lambdas: 3\n2.0\n-1.5, x\n 0.25\n");
  std::vector<double> pre;
  int32_t n = 0;
  ascii_prelambda::read_prelambda_file(with_colon, pre, n);
  EXPECT_EQ(n, 3);
  EXPECT_EQ(pre, (std::vector<double>{2.0, -1.5, 0.25}));

  const std::string bare = write_file("b.txt", "2\n1\n3\nignored\n");
  pre.clear();
  ascii_prelambda::read_prelambda_file(bare, pre, n);
  EXPECT_EQ(n, 2);
  EXPECT_EQ(pre, (std::vector<double>{1.0, 3.0}));

  // Filled only when empty; the count still comes from the file.
  pre = {9.0};
  ascii_prelambda::read_prelambda_file(bare, pre, n);
  EXPECT_EQ(pre, (std::vector<double>{9.0}));
  EXPECT_EQ(n, 2);
}

TEST(PrelambdaFile, OnlyTheFirstHundredCharactersOfTheNameCount) {
  const std::string path = write_file("c.txt", "n: 1\n0.5\n");
  ASSERT_LT(path.size(), 100u);
  const std::string padded = path + std::string(100 - path.size(), ' ') + "tail";
  std::vector<double> pre;
  int32_t n = 0;
  ascii_prelambda::read_prelambda_file(padded, pre, n);
  EXPECT_EQ(pre, (std::vector<double>{0.5}));
}

TEST(PrelambdaFile, BadFilesNameTheFileAndLine) {
  struct Bad {
    const char* name;
    const char* text;
    std::string message;  // after "<path>"
  };
  const std::vector<Bad> cases = {
      {"empty.txt", "",
       ": the file is empty: expected a first line ending in the number of multipliers"},
      {"word.txt", "Lambdas: many\n1\n",
       ", line 1: expected the number of multipliers after the ':', found \"many\""},
      {"nocolon.txt", "Lambdas 2\n1\n2\n",
       ", line 1: expected the number of multipliers, found \"Lambdas\""},
      {"none.txt", "Lambdas: 0\n", ", line 1: the file holds no multipliers (count 0)"},
      {"malformed.txt", "n: 2\n1.0\nabc\n",
       ", line 3: expected the log10 multiplier of iteration 2 (expected a number, found "
       "\"abc\")"},
      {"short.txt", "n: 3\n1.0\n2.0\n",
       ", line 3: expected the log10 multiplier of iteration 3 (unexpected end of file: "
       "expected 1 values, read 0)"},
      {"nan.txt", "n: 1\nnan\n", ", line 2: the log10 multiplier of iteration 1 must be finite"},
  };
  for (const Bad& c : cases) {
    const std::string path = write_file(c.name, c.text);
    std::vector<double> pre;
    int32_t n = 0;
    EXPECT_EQ(message_of([&] { ascii_prelambda::read_prelambda_file(path, pre, n); }),
              path + c.message)
        << c.name;
    EXPECT_TRUE(pre.empty()) << c.name;
  }
  const std::string missing = (scratch() / "missing.txt").string();
  std::vector<double> pre;
  int32_t n = 0;
  EXPECT_EQ(message_of([&] { ascii_prelambda::read_prelambda_file(missing, pre, n); }),
            missing + ": cannot open file");
}

}  // namespace
