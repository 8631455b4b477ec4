// The C entry point: request checks, status codes, the one-job-per-process
// rule and progress events. Rejections leave the library unused, so they run
// in this process; anything that starts a job runs in a child host process.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "job_files.hpp"
#include "small_job.hpp"
#include "subprocess.hpp"
#include "varnel/varnel.h"

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

std::vector<char> block_of(const Pairs& pairs) {
  std::vector<char> block(pairs.size() * 2 * VARNEL_FIELD_SIZE, '\0');
  for (std::size_t k = 0; k < pairs.size(); ++k) {
    const std::string* texts[2] = {&pairs[k].first, &pairs[k].second};
    for (int f = 0; f < 2; ++f) {
      const std::size_t n = std::min<std::size_t>(texts[f]->size(), VARNEL_FIELD_SIZE);
      std::memcpy(block.data() + (2 * k + f) * VARNEL_FIELD_SIZE, texts[f]->data(), n);
    }
  }
  return block;
}

struct Rejection_case {
  const char* name;
  int32_t mode;
  Pairs pairs;
  int32_t argc_override;  // -1: use the pair count
  const char* message_part;
};

void PrintTo(const Rejection_case& c, std::ostream* os) { *os << c.name; }

class EntryPointRejects : public testing::TestWithParam<Rejection_case> {};

TEST_P(EntryPointRejects, WithStatusOneAndNoIteration) {
  const Rejection_case& c = GetParam();
  std::vector<char> block = block_of(c.pairs);
  block.resize(std::max<std::size_t>(block.size(), 130 * VARNEL_FIELD_SIZE), '\0');
  const int32_t argc =
      c.argc_override >= 0 ? c.argc_override : static_cast<int32_t>(2 * c.pairs.size());
  int32_t final_iteration = 77;
  EXPECT_EQ(varnel_run(c.mode, argc, block.data(), nullptr, &final_iteration), VARNEL_REJECTED);
  EXPECT_EQ(final_iteration, -1);
  EXPECT_NE(std::string(varnel_last_error()).find(c.message_part), std::string::npos)
      << varnel_last_error();
}

const std::string long255(255, 'x');
const std::string long256(256, 'x');

INSTANTIATE_TEST_SUITE_P(
    Table, EntryPointRejects,
    testing::Values(
        Rejection_case{"argc0", 0, {{"-d", "a"}, {"-r", "b"}}, 0, "pairs"},
        Rejection_case{"argc1", 0, {{"-d", "a"}, {"-r", "b"}}, 1, "pairs"},
        Rejection_case{"argc3", 0, {{"-d", "a"}, {"-r", "b"}}, 3, "pairs"},
        Rejection_case{"argc130", 0, {{"-d", "a"}, {"-r", "b"}}, 130, "pairs"},
        Rejection_case{"mode2", 2, {{"-d", "a"}, {"-r", "b"}}, -1, "mode"},
        Rejection_case{"modeMinus1", -1, {{"-d", "a"}, {"-r", "b"}}, -1, "mode"},
        Rejection_case{"noData", 0, {{"-r", "b"}}, -1, "-d"},
        Rejection_case{"noDataForward", 1, {{"-r", "b"}, {"-m", "m"}}, -1, "-d"},
        Rejection_case{"noResponse", 0, {{"-d", "a"}}, -1, "-r"},
        Rejection_case{"noResponseForward", 1, {{"-d", "a"}, {"-m", "m"}}, -1, "-r"},
        Rejection_case{"blankData", 0, {{"-d", "   "}, {"-r", "b"}}, -1, "-d"},
        Rejection_case{"forwardWithoutModel", 1, {{"-d", "a"}, {"-r", "b"}}, -1, "model"},
        Rejection_case{
            "forwardInitialOnly", 1, {{"-d", "a"}, {"-r", "b"}, {"-mi", "m"}}, -1, "model"},
        Rejection_case{
            "maxiter0", 0, {{"-d", "a"}, {"-r", "b"}, {"-maxiter", "0"}}, -1, "-maxiter"},
        Rejection_case{
            "maxiter100", 0, {{"-d", "a"}, {"-r", "b"}, {"-maxiter", "100"}}, -1, "-maxiter"},
        Rejection_case{"npNegative", 0, {{"-d", "a"}, {"-r", "b"}, {"-np", "-1"}}, -1, "-np"},
        Rejection_case{"keyWithoutNul", 0, {{"-d", "a"}, {long256, "b"}}, -1, "key of pair 2"},
        Rejection_case{
            "valueWithoutNulLastPair", 0, {{"-d", "a"}, {"-r", long256}}, -1, "value of pair 2"},
        Rejection_case{"malformedInteger",
                       0,
                       {{"-d", "a"}, {"-r", "b"}, {"-np", "abc"}},
                       -1,
                       "\"-np\": value \"abc\""},
        Rejection_case{"blankReal", 0, {{"-d", "a"}, {"-r", "b"}, {"-target", " "}}, -1, "-target"},
        Rejection_case{
            "zeroLambda", 0, {{"-d", "a"}, {"-r", "b"}, {"-lambda", "0"}}, -1, "-lambda"},
        // The checks run in order: the data file is tested before -maxiter.
        Rejection_case{"firstFailedCheckReported", 0, {{"-r", "b"}, {"-maxiter", "0"}}, -1, "-d"}),
    [](const testing::TestParamInfo<Rejection_case>& info) { return info.param.name; });

TEST(EntryPoint, AbiVersionIsOne) { EXPECT_EQ(varnel_abi_version(), 1); }

TEST(EntryPoint, RejectsMissingBlockWithoutCrashing) {
  int32_t final_iteration = 5;
  EXPECT_EQ(varnel_run(0, 4, nullptr, nullptr, &final_iteration), VARNEL_REJECTED);
  EXPECT_EQ(final_iteration, -1);
}

// --- child-process tests -------------------------------------------------

varnel_test::Child_result host(const std::vector<std::string>& args) {
  return varnel_test::run_child(VARNEL_HOST_FILE, args, testing::TempDir());
}

std::vector<std::string> lines_starting(const std::string& text, const std::string& prefix) {
  std::vector<std::string> found;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    if (line.rfind(prefix, 0) == 0) found.push_back(line);
    pos = end + 1;
  }
  return found;
}

// A request that passes validation starts a job (status neither 1 nor 4,
// the start event is sent); every later request of the process gets 4.
TEST(EntryPointProcess, AcceptedRequestsStartAJobAndOnlyOne) {
  const std::vector<std::vector<std::string>> accepted = {
      {"0", "-d", "no_such.dat", "-r", "out"},                        // smallest request
      {"0", "-d", "no_such.dat", "-r", "out", "-maxiter", "99"},      // upper bound
      {"0", "-d", "no_such.dat", "-r", "out", "-whatever", "1"},      // unknown key
      {"0", "-d", std::string(255, 'd'), "-r", "out"},                // 255 bytes + NUL
      {"1", "-d", "no_such.dat", "-r", "out", "-m0", "no_such.m2d"},  // forward
  };
  for (const auto& request : accepted) {
    std::vector<std::string> args = request;
    args.push_back("--");
    args.insert(args.end(), request.begin(), request.end());
    const auto r = host(args);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const auto results = lines_starting(r.err, "result ");
    ASSERT_EQ(results.size(), 2u) << r.err;
    EXPECT_NE(results[0], "result 1 -1") << request[2];
    EXPECT_NE(results[0], "result 4 -1") << request[2];
    EXPECT_EQ(results[1], "result 4 -1") << "second job in one process must be refused";
    ASSERT_EQ(lines_starting(r.err, "event ").size(), 1u) << r.err;
    EXPECT_EQ(lines_starting(r.err, "event ")[0], "event 0 -1 0.000000");
  }
}

TEST(EntryPointProcess, FailedJobReportsStatusFiveWithItsMessage) {
  const auto r = host({"0", "-d", "no_such.dat", "-r", "out"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  ASSERT_EQ(lines_starting(r.err, "result ").size(), 1u);
  EXPECT_EQ(lines_starting(r.err, "result ")[0], "result 5 -1");
  const auto error = lines_starting(r.err, "error ");
  ASSERT_EQ(error.size(), 1u);
  EXPECT_GT(error[0].size(), std::string("error ").size());
  // The same message is in the log on standard output.
  EXPECT_NE(r.out.find(error[0].substr(6)), std::string::npos) << r.out;
}

TEST(EntryPointProcess, RejectedRequestLeavesTheLibraryUsable) {
  const auto r = host({"0", "-d", "a.dat", "--", "0", "-d", "no_such.dat", "-r", "out"});
  const auto results = lines_starting(r.err, "result ");
  ASSERT_EQ(results.size(), 2u) << r.err;
  EXPECT_EQ(results[0], "result 1 -1");
  EXPECT_NE(results[1], "result 1 -1");
  EXPECT_NE(results[1], "result 4 -1");
  // Nothing is printed for a rejected request.
  EXPECT_EQ(r.out.find("-r"), std::string::npos);
}

TEST(EntryPointProcess, NullCallbackRunsWithoutEvents) {
  const auto r = host({"0n", "-d", "no_such.dat", "-r", "out"});
  ASSERT_EQ(lines_starting(r.err, "result ").size(), 1u) << r.err;
  EXPECT_NE(lines_starting(r.err, "result ")[0], "result 1 -1");
  EXPECT_TRUE(lines_starting(r.err, "event ").empty());
  EXPECT_EQ(r.signal, 0);
}

TEST(EntryPointProcess, TwoThreadsAtOnceGetOneJobAndOneRefusal) {
  const auto r = host({"race", "0", "-d", "no_such.dat", "-r", "out"});
  const auto results = lines_starting(r.err, "result ");
  ASSERT_EQ(results.size(), 2u) << r.err;
  const int refused = (results[0] == "result 4 -1") + (results[1] == "result 4 -1");
  EXPECT_EQ(refused, 1) << r.err;
  EXPECT_EQ(lines_starting(r.err, "event 0").size(), 1u);
}

// --- concurrency and re-entry with a job that runs to its end -------------

// A folder with the small forward job: survey.dat and model.m2d.
void write_small_job(const varnel_test::Work_dir& dir) {
  dir.write("survey.dat", varnel_test::small_dat_text());
  dir.write("model.m2d", varnel_test::small_model_text(varnel_test::small_grid_x(),
                                                       varnel_test::small_grid_z()));
}

const std::vector<std::string> kSmallForward = {"1",   "-d", "survey.dat", "-r",
                                                "out", "-m", "model.m2d"};

// The response of the small job run alone.
std::string plain_response() {
  varnel_test::Work_dir dir;
  write_small_job(dir);
  const auto r = varnel_test::run_child(VARNEL_HOST_FILE, kSmallForward, dir.path.string());
  EXPECT_EQ(lines_starting(r.err, "result "), std::vector<std::string>{"result 0 0"}) << r.err;
  return dir.read("out_1.dat");
}

TEST(EntryPointProcess, TwoThreadsAtOnceRunOneCompleteJob) {
  varnel_test::Work_dir dir;
  write_small_job(dir);
  std::vector<std::string> args = {"race"};
  args.insert(args.end(), kSmallForward.begin(), kSmallForward.end());
  const auto r = varnel_test::run_child(VARNEL_HOST_FILE, args, dir.path.string());
  ASSERT_EQ(r.exit_code, 0) << r.err;
  auto results = lines_starting(r.err, "result ");
  std::sort(results.begin(), results.end());
  EXPECT_EQ(results, (std::vector<std::string>{"result 0 0", "result 4 -1"})) << r.err;
  // One job: one start and one end event, one response as a job alone writes it.
  EXPECT_EQ(lines_starting(r.err, "event 0 ").size(), 1u) << r.err;
  EXPECT_EQ(lines_starting(r.err, "event 3 ").size(), 1u) << r.err;
  EXPECT_EQ(dir.read("out_1.dat"), plain_response());
}

// A callback that calls varnel_run again is refused at every event, and the
// job it interrupts goes on to the same end as without it.
TEST(EntryPointProcess, CallbackCallingAgainIsRefusedAndTheJobGoesOn) {
  varnel_test::Work_dir dir;
  write_small_job(dir);
  std::vector<std::string> args = {"reenter"};
  args.insert(args.end(), kSmallForward.begin(), kSmallForward.end());
  const auto r = varnel_test::run_child(VARNEL_HOST_FILE, args, dir.path.string());
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(lines_starting(r.err, "result "), std::vector<std::string>{"result 0 0"}) << r.err;
  const auto events = lines_starting(r.err, "event ");
  ASSERT_EQ(events.size(), 2u) << r.err;
  EXPECT_EQ(events[0], "event 0 -1 0.000000");
  EXPECT_EQ(events[1].rfind("event 3 0 ", 0), 0u);
  EXPECT_EQ(lines_starting(r.err, "inner "), std::vector<std::string>(events.size(), "inner 4 -1"))
      << r.err;
  EXPECT_EQ(dir.read("out_1.dat"), plain_response());
}

// The refused inner call leaves the message of the failing outer job alone.
TEST(EntryPointProcess, RefusedInnerCallKeepsTheMessageOfTheJob) {
  const auto r = host({"reenter", "0", "-d", "no_such.dat", "-r", "out"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(lines_starting(r.err, "inner "), std::vector<std::string>{"inner 4 -1"}) << r.err;
  EXPECT_EQ(lines_starting(r.err, "result "), std::vector<std::string>{"result 5 -1"});
  const auto error = lines_starting(r.err, "error ");
  ASSERT_EQ(error.size(), 1u) << r.err;
  EXPECT_NE(error[0].find("no_such.dat"), std::string::npos) << error[0];
}

// The library exports exactly the three functions of the public header.
TEST(SharedLibrary, ExportsExactlyThePublicFunctions) {
  const auto r =
      varnel_test::run_child("/usr/bin/nm", {"-D", "--defined-only", VARNEL_LIBRARY_FILE});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  std::vector<std::string> names;
  std::istringstream in(r.out);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string address, type, name;
    if (fields >> address >> type >> name) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  const std::vector<std::string> expected = {"varnel_abi_version", "varnel_last_error",
                                             "varnel_run"};
  EXPECT_EQ(names, expected) << r.out;
}

}  // namespace
