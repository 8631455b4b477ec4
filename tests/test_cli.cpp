// The command-line host: help, version, the key/value block it builds and the
// exit status it passes on.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "subprocess.hpp"

namespace {

varnel_test::Child_result cli(const std::vector<std::string>& args) {
  return varnel_test::run_child(VARNEL_CLI_FILE, args, testing::TempDir());
}

TEST(Cli, HelpListsEveryOptionKey) {
  const auto r = cli({"--help"});
  ASSERT_EQ(r.exit_code, 0);
  for (const char* key :
       {"-d ", "-e ", "-r ", "-m ", "-m0", "-mi", "-np", "-nx", "-initial_rho", "-update",
        "-timelapse", "-d0", "-r0", "-diffusion", "-jacobian", "-lambda", "-msub", "-z_criteria",
        "-target", "-approx", "-minlambda", "-espacing", "-sgrid", "-fixlambda", "-maxiter",
        "-prelambda", "-ndiverge", "-pci ", "-pcisign", "-rmtemp", "-tlcutoff", "-tlrepair",
        "-plot"})
    EXPECT_NE(r.out.find(std::string("  ") + key), std::string::npos) << key;
}

TEST(Cli, VersionNamesTheAbi) {
  const auto r = cli({"--version"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_NE(r.out.find("(ABI version 1)"), std::string::npos) << r.out;
}

struct Cli_case {
  std::vector<std::string> args;
  int exit_code;
  const char* stderr_part;
};

TEST(Cli, ExitStatusAndMessages) {
  const std::vector<Cli_case> cases = {
      {{}, 64, "no command"},
      {{"solve"}, 64, "unknown command 'solve'"},
      {{"invert", "-d"}, 64, "'-d' has no value"},
      {{"invert", "-d", std::string(300, 'a')}, 64, "longer than 255"},
      {{"invert", "-d", "a.dat"}, 1, "request rejected: no response file"},
      {{"forward", "-d", "a.dat", "-r", "out"}, 1, "request rejected: a forward run needs"},
      {{"invert", "-d", "a.dat", "-r", "out", "-np", "two"}, 1, "\"-np\": value \"two\""},
      // An accepted request runs the driver: progress goes to standard error.
      {{"forward", "-d", "no_such.dat", "-m", "no_such.m2d", "-r", "out"}, 5, "varnel: started"},
  };
  for (const auto& c : cases) {
    const auto r = cli(c.args);
    EXPECT_EQ(r.exit_code, c.exit_code) << r.err;
    EXPECT_NE(r.err.find(c.stderr_part), std::string::npos) << r.err;
  }
}

}  // namespace
