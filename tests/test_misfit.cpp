// The misfit measures: data covariance, RMS misfit (normal and
// pattern-constrained of both signs), time-lapse misfit, the misfit per input
// file and the model misfit. The expected values are worked out by hand from
// residuals chosen as simple numbers.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "core/inversion/occam.hpp"

namespace {

using varnel::occam::Occam_state;
namespace occam = varnel::occam;

// Values whose logarithms differ from ln(base) by the given amounts.
std::vector<double> shifted(const std::vector<double>& base, const std::vector<double>& dlog) {
  std::vector<double> v(base.size());
  for (std::size_t i = 0; i < base.size(); ++i) v[i] = base[i] * std::exp(dlog[i]);
  return v;
}

std::vector<double> logs(const std::vector<double>& v) {
  std::vector<double> out;
  for (double x : v) out.push_back(std::log(x));
  return out;
}

struct Covariance_case {
  const char* name;
  std::vector<double> val, err;
  bool pcinv;
  int tlinv;
  std::vector<double> cd;
};

void PrintTo(const Covariance_case& c, std::ostream* os) { *os << c.name; }

class MisfitCovariance : public testing::TestWithParam<Covariance_case> {};

TEST_P(MisfitCovariance, IsTheSquaredRelativeErrorOrOne) {
  const auto& c = GetParam();
  Occam_state o;
  o.cd = {9.0, 9.0, 9.0, 9.0, 9.0};  // replaced, whatever its length
  occam::cal_data_covariance(o, c.val, c.err, c.pcinv, c.tlinv);
  ASSERT_EQ(o.cd.size(), c.cd.size());
  for (std::size_t i = 0; i < c.cd.size(); ++i) EXPECT_NEAR(o.cd[i], c.cd[i], 1e-15) << i;
}

INSTANTIATE_TEST_SUITE_P(
    Misfit, MisfitCovariance,
    testing::Values(
        Covariance_case{
            "Relative", {2.0, 4.0, 10.0}, {0.2, 0.2, 0.5}, false, 1, {0.01, 0.0025, 0.0025}},
        Covariance_case{"NegativeErrorSquared", {2.0}, {-0.4}, false, 1, {0.04}},
        Covariance_case{"PatternConstrained", {2.0, 4.0}, {0.2, 0.2}, true, 1, {1.0, 1.0}},
        Covariance_case{"Difference", {2.0, 4.0}, {0.2, 0.2}, false, 2, {1.0, 1.0}},
        Covariance_case{"Cascaded", {5.0}, {0.5}, false, 1, {0.01}},
        Covariance_case{"NoData", {}, {}, false, 1, {}}),
    [](const testing::TestParamInfo<Covariance_case>& info) { return info.param.name; });

struct Rms_case {
  const char* name;
  std::vector<double> dlog;  // logd - logr per datum
  std::vector<double> cd;
  std::vector<double> loge;
  bool pcinv, pciplus;
  double rms;
};

void PrintTo(const Rms_case& c, std::ostream* os) { *os << c.name; }

class MisfitRms : public testing::TestWithParam<Rms_case> {};

TEST_P(MisfitRms, IsTheRootMeanWeightedSquaredLogResidual) {
  const auto& c = GetParam();
  const std::vector<double> observed = {2.0, 4.0, 50.0};
  Occam_state o;
  o.logd = logs(observed);
  o.cd = c.cd;
  o.loge = c.loge;
  std::vector<double> dneg;
  for (double v : c.dlog) dneg.push_back(-v);
  const std::vector<double> response = shifted(observed, dneg);
  EXPECT_NEAR(occam::cal_rms(o, response, c.pcinv, c.pciplus), c.rms, 1e-12);
  EXPECT_EQ(o.logr.size(), response.size());
  for (std::size_t i = 0; i < response.size(); ++i)
    EXPECT_DOUBLE_EQ(o.logr[i], std::log(response[i])) << i;
}

// Residuals 0.1, -0.2, 0.3: with cd 0.01, 0.04, 0.09 every weighted square is
// 1, so the misfit is 1.
INSTANTIATE_TEST_SUITE_P(
    Misfit, MisfitRms,
    testing::Values(
        Rms_case{"Weighted", {0.1, -0.2, 0.3}, {0.01, 0.04, 0.09}, {}, false, false, 1.0},
        Rms_case{"Unweighted",
                 {0.1, -0.2, 0.3},
                 {1, 1, 1},
                 {},
                 false,
                 false,
                 std::sqrt((0.01 + 0.04 + 0.09) / 3.0)},
        Rms_case{"PatternTermIgnoredWithoutPci",
                 {0.1, -0.2, 0.3},
                 {1, 1, 1},
                 {0.5, 0.5, 0.5},
                 false,
                 true,
                 std::sqrt((0.01 + 0.04 + 0.09) / 3.0)},
        // + loge: residuals 0.2, -0.1, 0.4.
        Rms_case{"PatternPlus",
                 {0.1, -0.2, 0.3},
                 {1, 1, 1},
                 {0.1, 0.1, 0.1},
                 true,
                 true,
                 std::sqrt((0.04 + 0.01 + 0.16) / 3.0)},
        // - loge: residuals 0.0, -0.3, 0.2.
        Rms_case{"PatternMinus",
                 {0.1, -0.2, 0.3},
                 {1, 1, 1},
                 {0.1, 0.1, 0.1},
                 true,
                 false,
                 std::sqrt((0.0 + 0.09 + 0.04) / 3.0)},
        Rms_case{"PatternPlusWeighted",
                 {0.1, -0.2, 0.3},
                 {0.04, 0.01, 0.16},
                 {0.1, 0.1, 0.1},
                 true,
                 true,
                 1.0},
        // A forward run of a pattern-constrained request has no pattern term.
        Rms_case{"PatternWithoutLoge",
                 {0.1, -0.2, 0.3},
                 {1, 1, 1},
                 {},
                 true,
                 true,
                 std::sqrt((0.01 + 0.04 + 0.09) / 3.0)},
        Rms_case{"PerfectFit", {0.0, 0.0, 0.0}, {0.01, 0.01, 0.01}, {}, false, false, 0.0}),
    [](const testing::TestParamInfo<Rms_case>& info) { return info.param.name; });

TEST(MisfitRmsEmpty, NoDataGivesNaN) {
  Occam_state o;
  EXPECT_TRUE(std::isnan(occam::cal_rms(o, {}, false, false)));
  EXPECT_TRUE(std::isnan(occam::cal_rms(o, {}, true, true)));
  EXPECT_TRUE(o.logr.empty());
  EXPECT_TRUE(std::isnan(occam::cal_rms_tl(o, {}, {}, {})));
}

TEST(MisfitRmsTimeLapse, FitsTheChangeAgainstTheReferenceChange) {
  const std::vector<double> observed = {2.0, 4.0};
  Occam_state o;
  o.logd = logs(observed);
  o.cd = {0.01, 0.04};
  // Present residuals 0.3 and -0.1, reference residuals 0.2 and 0.3:
  // differences 0.1 and -0.4, weighted squares 1 and 4.
  const std::vector<double> response = shifted(observed, {-0.3, 0.1});
  const std::vector<double> logd0 = {1.0, 2.0};
  const std::vector<double> logr0 = {0.8, 1.7};
  EXPECT_NEAR(occam::cal_rms_tl(o, response, logd0, logr0), std::sqrt(5.0 / 2.0), 1e-12);
  EXPECT_DOUBLE_EQ(o.logr[1], std::log(response[1]));
  // Equal changes fit perfectly, whatever the residuals.
  const std::vector<double> same_r0 = {1.0 - 0.3, 2.0 + 0.1};
  EXPECT_NEAR(occam::cal_rms_tl(o, response, logd0, same_r0), 0.0, 1e-12);
}

struct Per_file_case {
  const char* name;
  std::vector<int> dat_counts, ceg_counts;
  std::vector<double> rms;
};

void PrintTo(const Per_file_case& c, std::ostream* os) { *os << c.name; }

class MisfitPerFile : public testing::TestWithParam<Per_file_case> {};

// Five data with residuals 0.1, 0.2, 0.3, 0.4, 0.5 and cd 0.01 each: the
// weighted squares are 1, 4, 9, 16, 25.
TEST_P(MisfitPerFile, ScoresEveryFileOnItsOwnData) {
  const auto& c = GetParam();
  const std::vector<double> observed = {1.0, 2.0, 3.0, 4.0, 5.0};
  Occam_state o;
  o.logd = logs(observed);
  o.cd.assign(5, 0.01);
  const std::vector<double> response = shifted(observed, {-0.1, -0.2, -0.3, -0.4, -0.5});
  varnel::dataio_dcr2d::Dataio_state io;
  for (int n : c.dat_counts) {
    io.d_dat.emplace_back();
    io.d_dat.back().nodata = n;
  }
  for (int n : c.ceg_counts) {
    io.d_ceg.emplace_back();
    io.d_ceg.back().nodata = n;
  }
  // Reference slots never count.
  io.d0_dat.emplace_back();
  io.d0_dat.back().nodata = 1;
  std::vector<double> rms = {7.0, 7.0, 7.0, 7.0};
  occam::cal_rms_sep_dcr2d(o, rms, response, io);
  ASSERT_EQ(rms.size(), c.rms.size());
  for (std::size_t k = 0; k < rms.size(); ++k) EXPECT_NEAR(rms[k], c.rms[k], 1e-12) << k;
}

INSTANTIATE_TEST_SUITE_P(
    Misfit, MisfitPerFile,
    testing::Values(Per_file_case{"OneDatFile", {5}, {}, {std::sqrt(55.0 / 5.0)}},
                    Per_file_case{
                        "TwoDatFiles", {2, 3}, {}, {std::sqrt(5.0 / 2.0), std::sqrt(50.0 / 3.0)}},
                    Per_file_case{"CegFiles", {}, {1, 3, 1}, {1.0, std::sqrt(29.0 / 3.0), 5.0}},
                    // DAT records are used when both kinds exist.
                    Per_file_case{"DatBeforeCeg", {4}, {2, 3}, {std::sqrt(30.0 / 4.0)}},
                    Per_file_case{"NoFiles", {}, {}, {}}),
    [](const testing::TestParamInfo<Per_file_case>& info) { return info.param.name; });

TEST(MisfitPerFileEmpty, AFileWithoutDataGivesNaN) {
  Occam_state o;
  o.logd = {0.0};
  o.cd = {1.0};
  varnel::dataio_dcr2d::Dataio_state io;
  io.d_ceg.resize(2);
  io.d_ceg[0].nodata = 0;
  io.d_ceg[1].nodata = 1;
  std::vector<double> rms;
  occam::cal_rms_sep_dcr2d(o, rms, {std::exp(0.5)}, io);
  ASSERT_EQ(rms.size(), 2u);
  EXPECT_TRUE(std::isnan(rms[0]));
  EXPECT_NEAR(rms[1], 0.5, 1e-12);
}

struct Model_diff_case {
  const char* name;
  std::vector<double> m, m0;
  double diff;  // NaN: expect NaN
};

void PrintTo(const Model_diff_case& c, std::ostream* os) { *os << c.name; }

class MisfitModel : public testing::TestWithParam<Model_diff_case> {};

TEST_P(MisfitModel, IsTheMeanAbsoluteDifferenceInPerCent) {
  const auto& c = GetParam();
  const double d = occam::cal_model_diff(c.m, c.m0);
  if (std::isnan(c.diff))
    EXPECT_TRUE(std::isnan(d)) << d;
  else
    EXPECT_NEAR(d, c.diff, 1e-12);
}

INSTANTIATE_TEST_SUITE_P(
    Misfit, MisfitModel,
    testing::Values(Model_diff_case{"Equal", {100.0, 10.0}, {100.0, 10.0}, 0.0},
                    // +10 % and -10 % do not cancel.
                    Model_diff_case{"BothSigns", {110.0, 90.0}, {100.0, 100.0}, 10.0},
                    // Relative to the prior, not to the trial.
                    Model_diff_case{"RelativeToPrior", {200.0, 5.0}, {100.0, 10.0}, 75.0},
                    Model_diff_case{"NoCells", {}, {}, std::nan("")}),
    [](const testing::TestParamInfo<Model_diff_case>& info) { return info.param.name; });

}  // namespace
