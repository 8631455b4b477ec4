// The run-option record: keys, kinds, defaults and the order of pairs.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "core/run/arg_reader.hpp"

namespace {

using varnel::arg_reader::Arg_info;
using varnel::arg_reader::arg_reader_tolvane;
using varnel::arg_reader::Option_error;

TEST(ArgReader, DefaultsOfTheRecord) {
  const Arg_info info;
  EXPECT_TRUE(info.data_file.empty());
  EXPECT_EQ(info.ncore, 0);
  EXPECT_EQ(info.nxgrid, 2);
  EXPECT_EQ(info.time_lapse, 1);
  EXPECT_EQ(info.jk_method, "FULL");
  EXPECT_EQ(info.diffusion_parameter, 4.0);
  EXPECT_EQ(info.ilambda, 2.0);
  EXPECT_EQ(info.approx, "hy");
  EXPECT_EQ(info.minlambda, -10.0);
  EXPECT_EQ(info.enditer, 20);
  EXPECT_EQ(info.ndiverge, 1);
  EXPECT_EQ(info.target_level, 1.0);
  EXPECT_EQ(info.tl_cutoff, 10.0);
  EXPECT_FALSE(info.msub || info.fixlambda || info.pcinv || info.pciplus || info.plot);
  EXPECT_TRUE(info.rmtemp && info.tl_repair);
}

struct Option_case {
  const char* name;
  std::vector<std::pair<std::string, std::string>> pairs;
  std::function<bool(const Arg_info&)> holds;
};

void PrintTo(const Option_case& c, std::ostream* os) { *os << c.name; }

class ArgReaderOptions : public testing::TestWithParam<Option_case> {};

TEST_P(ArgReaderOptions, ApplyInOrder) {
  Arg_info info;
  for (const auto& [key, value] : GetParam().pairs) arg_reader_tolvane(info, key, value);
  EXPECT_TRUE(GetParam().holds(info));
}

const std::string blanks(250, ' ');

INSTANTIATE_TEST_SUITE_P(
    Table, ArgReaderOptions,
    testing::Values(
        Option_case{"upperCaseKey", {{"-D", "a.dat"}}, [](auto& i) { return i.data_file == "a.dat"; }},
        Option_case{"leadingBlankKeyIgnored", {{" -d", "a.dat"}},
                    [](auto& i) { return i.data_file.empty(); }},
        Option_case{"paddedKeyAndValue", {{"-r" + blanks, "out" + blanks}},
                    [](auto& i) { return i.response_file == "out"; }},
        Option_case{"textKeepsLeadingBlanks", {{"-d", "  a b.dat"}},
                    [](auto& i) { return i.data_file == "  a b.dat"; }},
        Option_case{"secondDataFileWins", {{"-d", "a"}, {"-d", "b"}},
                    [](auto& i) { return i.data_file == "b"; }},
        Option_case{"modelSetsBoth", {{"-m", "b"}},
                    [](auto& i) { return i.model_prior == "b" && i.model_initial == "b"; }},
        Option_case{"initialThenModel", {{"-mi", "a"}, {"-m", "b"}},
                    [](auto& i) { return i.model_prior == "b" && i.model_initial == "b"; }},
        Option_case{"modelThenInitial", {{"-m", "b"}, {"-mi", "a"}},
                    [](auto& i) { return i.model_prior == "b" && i.model_initial == "a"; }},
        Option_case{"priorOnly", {{"-m0", "p"}},
                    [](auto& i) { return i.model_prior == "p" && i.model_initial.empty(); }},
        Option_case{"lambda100", {{"-lambda", "100"}}, [](auto& i) { return i.ilambda == 2.0; }},
        Option_case{"lambdaHundredth", {{"-lambda", "0.01"}},
                    [](auto& i) { return i.ilambda == -2.0; }},
        Option_case{"minlambdaAsGiven", {{"-minlambda", "-8"}},
                    [](auto& i) { return i.minlambda == -8.0; }},
        Option_case{"realWithExponentAndBlanks", {{"-target", "  1e-3"}},
                    [](auto& i) { return i.target_level == 1e-3; }},
        Option_case{"integerFirstItemOnly", {{"-maxiter", "20,5"}},
                    [](auto& i) { return i.enditer == 20; }},
        Option_case{"integerWithBlanks", {{"-np", "   3 "}}, [](auto& i) { return i.ncore == 3; }},
        Option_case{"jacobianUpperCasedAndCut", {{"-jacobian", "broyden"}},
                    [](auto& i) { return i.jk_method == "BROYDEN"; }},
        Option_case{"jacobianCutToTen", {{"-jacobian", "abcdefghijklm"}},
                    [](auto& i) { return i.jk_method == "ABCDEFGHIJ"; }},
        Option_case{"approxCutToTwo", {{"-approx", "fdx"}}, [](auto& i) { return i.approx == "fd"; }},
        Option_case{"approxNoCaseFolding", {{"-approx", "FE"}},
                    [](auto& i) { return i.approx == "FE"; }},
        Option_case{"msubYesCapitals", {{"-msub", "YES"}}, [](auto& i) { return i.msub; }},
        Option_case{"msubYChangesNothing", {{"-msub", "y"}}, [](auto& i) { return !i.msub; }},
        Option_case{"rmtempNo", {{"-rmtemp", "no"}}, [](auto& i) { return !i.rmtemp; }},
        Option_case{"timelapseDifference", {{"-timelapse", "Difference"}},
                    [](auto& i) { return i.time_lapse == 2; }},
        Option_case{"timelapseUnknownKeeps", {{"-timelapse", "difference"}, {"-timelapse", "x"}},
                    [](auto& i) { return i.time_lapse == 2; }},
        Option_case{"pcisignPlusThenMinus", {{"-pcisign", "PLUS"}},
                    [](auto& i) { return i.pciplus; }},
        Option_case{"prelambdaSetsFixlambda", {{"-prelambda", "l.txt"}},
                    [](auto& i) { return i.prelambda_file == "l.txt" && i.fixlambda; }},
        Option_case{"laterFixlambdaNoWins", {{"-prelambda", "l.txt"}, {"-fixlambda", "no"}},
                    [](auto& i) { return i.prelambda_file == "l.txt" && !i.fixlambda; }},
        Option_case{"unknownKeyIgnored", {{"-nosuch", "1"}},
                    [](auto& i) { return i.data_file.empty() && i.enditer == 20; }},
        Option_case{"allStoredOnlyFields",
                    {{"-tlcutoff", "2.5"}, {"-tlrepair", "no"}, {"-plot", "yes"}, {"-pci", "yes"}},
                    [](auto& i) { return i.tl_cutoff == 2.5 && !i.tl_repair && i.plot && i.pcinv; }},
        Option_case{"numbersOfEveryNumericKey",
                    {{"-nx", "3"}, {"-initial_rho", "50"}, {"-diffusion", "2"},
                     {"-z_criteria", "4.5"}, {"-espacing", "2.5"}, {"-ndiverge", "3"}},
                    [](auto& i) {
                      return i.nxgrid == 3 && i.initial_rho == 50 && i.diffusion_parameter == 2 &&
                             i.z_criteria == 4.5 && i.espacing == 2.5 && i.ndiverge == 3;
                    }},
        Option_case{"filesOfEveryTextKey",
                    {{"-e", "5"}, {"-update", "u"}, {"-d0", "d0"}, {"-r0", "r0"}, {"-sgrid", "s"}},
                    [](auto& i) {
                      return i.error_file == "5" && i.model_updatefile == "u" &&
                             i.data_prior == "d0" && i.response_prior == "r0" &&
                             i.sgrid_file == "s";
                    }}),
    [](const testing::TestParamInfo<Option_case>& info) { return info.param.name; });

TEST(ArgReader, MalformedNumbersNameKeyAndValue) {
  const std::vector<std::pair<std::string, std::string>> bad = {
      {"-np", "abc"}, {"-np", ""}, {"-np", "2.5"}, {"-target", "1.5x"}, {"-target", "nan"},
      {"-lambda", "-1"}, {"-approx", ""}, {"-maxiter", "99999999999"}};
  for (const auto& [key, value] : bad) {
    Arg_info info;
    try {
      arg_reader_tolvane(info, key, value);
      ADD_FAILURE() << key << " " << value << " was accepted";
    } catch (const Option_error& e) {
      EXPECT_NE(std::string(e.what()).find("\"" + key + "\""), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find("\"" + value + "\""), std::string::npos) << e.what();
    }
  }
}

}  // namespace
