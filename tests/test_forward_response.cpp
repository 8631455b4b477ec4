// The forward response: wavenumbers and weights, the unknown of every
// electrode, the unit sources, the weighted back-transform of the potentials
// into transfer resistances, the apparent-resistivity conversion and what a
// second computation of the same survey keeps. Most cases fill the potentials
// by hand, or let the solver code "zz" (no solver) hand the sources through
// unchanged, so they do not depend on the solver; the last group runs the
// finite-difference solver.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "core/error.hpp"
#include "core/forward/dcr2dphy_coef.hpp"
#include "core/forward/fwd_dcr2d.hpp"
#include "job.hpp"

namespace {

using varnel::Dmatrix;
using varnel::dataio_dcr2d::Main_data_dcr2d;
using varnel::dcr2dphy::Gr2d_dcr_new;
using varnel::dcr2dphy::Model_inv_dcr2d;
namespace fwd = varnel::fwd_dcr2d;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The table of the eight wavenumbers and weights for a unit spacing.
const double kTableK[8] = {0.0100191499, 0.0961319787, 0.101458177, 0.189791636,
                           0.50429717,   0.786306211,  1.3129793,   1.97520393};
const double kTableG[8] = {0.0205845911, 0.637489791, -0.621186137, 0.167781685,
                           0.222301411,  0.23436284,  0.162692691,  1.22197461};

// A job with a model on a 7 x 3 node grid (x = 0 ... 6, z = 0, 1, 2) and a
// data set referring to it. Electrode e of the helpers stands at x = e - 1 on
// the surface unless placed elsewhere.
struct Survey {
  varnel::arg_reader::Arg_info info;
  varnel::Job job{info};
  Gr2d_dcr_new grid;
  Model_inv_dcr2d model{job.model_env()};
  Main_data_dcr2d d;

  explicit Survey(const char* approx = "fd", double rho = 100.0) {
    model.set_grid(&grid);
    const std::vector<double> cond = {1.0 / rho};
    model.initialize(std::vector<double>{0, 1, 2, 3, 4, 5, 6}, std::vector<double>{0, 1, 2}, approx,
                     &cond);
    d.model = &model;
    d.espacing = 1.0;
    job.fwd.approx = approx;
  }
  Survey(const Survey&) = delete;
  Survey& operator=(const Survey&) = delete;

  // Grid node at row iz, column ix.
  static int node(int iz, int ix) { return (ix - 1) * 3 + iz; }

  void add_tx(int id, double x, double z) {
    varnel::txtypes_dcr2d::Dc2dtx t;
    t.id = id;
    t.xyz = {x, z};
    t.xyz_original = {x, z};
    t.depth = 1.0e-10;
    job.txrx.txdict_dcr2d.push_back(t);
  }
  void add_rx(int id, double x, double z) {
    varnel::rxtypes_dcr2d::Dc2drx r;
    r.id = id;
    r.xyz = {x, z};
    r.xyz_original = {x, z};
    job.txrx.rxdict_dcr2d.push_back(r);
  }

  // Data rows: nc current then np potential electrode numbers each. The
  // dictionaries get every electrode in its role, at x = e - 1, z = 0.
  void set_data(int nc, int np, const std::vector<std::vector<int>>& rows, int noelec) {
    d.nc = nc;
    d.np = np;
    d.nodata = static_cast<int>(rows.size());
    d.noelec = noelec;
    d.tx_index.assign(nc, d.nodata, 0);
    d.rx_index.assign(np, d.nodata, 0);
    std::vector<bool> tx(noelec + 1, false), rx(noelec + 1, false);
    for (int j = 1; j <= d.nodata; ++j) {
      for (int l = 1; l <= nc; ++l) tx[d.tx_index(l, j) = rows[j - 1][l - 1]] = true;
      for (int m = 1; m <= np; ++m) rx[d.rx_index(m, j) = rows[j - 1][nc + m - 1]] = true;
    }
    for (int e = 1; e <= noelec; ++e) {
      if (tx[e]) add_tx(e, e - 1.0, 0.0);
      if (rx[e]) add_rx(e, e - 1.0, 0.0);
    }
    d.geo_k.assign(d.nodata, 1.0);
    d.val.assign(d.nodata, 0.0);
    d.err.assign(d.nodata, 0.0);
  }
};

// Distinct, irregular values so that a wrong row or column shows.
double phi_value(int row, int col) {
  return 2.0 + std::sin(0.7 * row + 1.3 * col + 0.1 * row * col);
}

Dmatrix filled(int nrow, int ncol) {
  Dmatrix p(nrow, ncol);
  for (int c = 1; c <= ncol; ++c)
    for (int r = 1; r <= nrow; ++r) p(r, c) = phi_value(r, c);
  return p;
}

// --- wavenumbers and weights ---------------------------------------------

TEST(ForwardResponseWeights, ModuleConstantsAreTheTable) {
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(varnel::dcr2dphy::k_ref[i], kTableK[i]) << i + 1;
    EXPECT_EQ(varnel::dcr2dphy::g_ref[i], kTableG[i]) << i + 1;
  }
}

TEST(ForwardResponseWeights, SpacingDividesWavenumbersAndWeights) {
  for (double a : {1.0, 2.0, 0.5, 3.0}) {
    const auto k = fwd::wavenumbers_dcr2d(a);
    const auto g = fwd::weights_dcr2d(a);
    ASSERT_EQ(k.size(), 8u);
    ASSERT_EQ(g.size(), 8u);
    for (int i = 0; i < 8; ++i) {
      EXPECT_DOUBLE_EQ(k[i], kTableK[i] / a) << "a = " << a << ", i = " << i + 1;
      EXPECT_DOUBLE_EQ(g[i], kTableG[i] / a) << "a = " << a << ", i = " << i + 1;
    }
  }
  // A spacing of 2 m: 0.00500957495 ... 0.987601965 1/m, weights halved.
  const auto k2 = fwd::wavenumbers_dcr2d(2.0);
  const auto g2 = fwd::weights_dcr2d(2.0);
  EXPECT_DOUBLE_EQ(k2.front(), 0.00500957495);
  EXPECT_DOUBLE_EQ(k2.back(), 0.987601965);
  EXPECT_DOUBLE_EQ(g2[2], -0.3105930685);
}

// --- the back-transform ---------------------------------------------------

struct Sum_case {
  const char* name;
  int nc, np;
  std::vector<int> electrodes;  // A [B] M [N]
  // The expected combination: sign, current electrode, potential electrode.
  std::vector<std::tuple<int, int, int>> terms;
};

void PrintTo(const Sum_case& c, std::ostream* os) { *os << c.name; }

class ForwardResponseSum : public testing::TestWithParam<Sum_case> {};

TEST_P(ForwardResponseSum, IsTheWeightedSignedSumOfThePotentials) {
  const Sum_case& c = GetParam();
  Survey s;
  const int noelec = 6;
  s.set_data(c.nc, c.np, {c.electrodes}, noelec);
  // Unknowns that are not the electrode numbers, potentials by hand.
  s.job.fwd.noelec = noelec;
  s.job.fwd.gie_dcr2d = {7, 3, 11, 5, 2, 9};
  s.job.fwd.potential_dcr2d = filled(12, noelec * 8);
  s.d.val.assign(5, 99.0);  // replaced, whatever its size

  const std::vector<double> g = fwd::weights_dcr2d(1.0);
  fwd::compute_apparent_resistance_dcr2d(s.d, g, s.job.fwd_env());

  double expected = 0.0;
  for (int kk = 1; kk <= 8; ++kk)
    for (const auto& [sign, a, m] : c.terms)
      expected += sign * phi_value(s.job.fwd.gie_dcr2d[m - 1], a + noelec * (kk - 1)) * g[kk - 1];
  ASSERT_EQ(s.d.val.size(), 1u);
  EXPECT_NEAR(s.d.val[0], expected, 1e-13);
}

INSTANTIATE_TEST_SUITE_P(
    ForwardResponse, ForwardResponseSum,
    testing::Values(
        // Pole-pole A = 3, M = 5: phi_3 at the unknown of electrode 5.
        Sum_case{"PolePole", 1, 1, {3, 5}, {{1, 3, 5}}},
        Sum_case{"PoleDipole", 1, 2, {3, 5, 6}, {{1, 3, 5}, {-1, 3, 6}}},
        Sum_case{"DipolePole", 2, 1, {2, 4, 6}, {{1, 2, 6}, {-1, 4, 6}}},
        Sum_case{
            "DipoleDipole", 2, 2, {2, 1, 4, 6}, {{1, 2, 4}, {-1, 2, 6}, {-1, 1, 4}, {1, 1, 6}}},
        Sum_case{"Wenner", 2, 2, {1, 4, 2, 3}, {{1, 1, 2}, {-1, 1, 3}, {-1, 4, 2}, {1, 4, 3}}}),
    [](const testing::TestParamInfo<Sum_case>& info) { return info.param.name; });

TEST(ForwardResponseSign, ExchangingADipoleFlipsTheSign) {
  Survey s;
  const int noelec = 6;
  s.set_data(2, 2, {{1, 2, 4, 5}, {2, 1, 4, 5}, {1, 2, 5, 4}, {6, 3, 1, 4}, {3, 6, 1, 4}}, noelec);
  s.job.fwd.noelec = noelec;
  s.job.fwd.gie_dcr2d = {4, 1, 10, 7, 13, 16};
  s.job.fwd.potential_dcr2d = filled(21, noelec * 8);
  fwd::compute_apparent_resistance_dcr2d(s.d, fwd::weights_dcr2d(1.0), s.job.fwd_env());
  ASSERT_EQ(s.d.val.size(), 5u);
  EXPECT_NE(s.d.val[0], 0.0);
  EXPECT_DOUBLE_EQ(s.d.val[1], -s.d.val[0]) << "A and B exchanged";
  EXPECT_DOUBLE_EQ(s.d.val[2], -s.d.val[0]) << "M and N exchanged";
  EXPECT_DOUBLE_EQ(s.d.val[4], -s.d.val[3]) << "A and B exchanged, B below A";
}

// --- electrode unknowns and sources --------------------------------------

TEST(ForwardResponseSources, EveryElectrodeInUseGetsItsNodeAndOneSource) {
  Survey s;
  // Electrode 3 is a current electrode of datum 1 and a potential electrode
  // of datum 2; 5 and 6 are potential electrodes only; 2 is used nowhere.
  s.set_data(1, 2, {{1, 3, 5}, {4, 3, 6}}, 6);
  fwd::fwd_set_kmax(s.job.fwd, 8);
  fwd::global_index_electrode_cal_dcr2d(s.d, s.job.fwd_env());
  const std::vector<int32_t> expected = {Survey::node(1, 1), 0,
                                         Survey::node(1, 3), Survey::node(1, 4),
                                         Survey::node(1, 5), Survey::node(1, 6)};
  EXPECT_EQ(s.job.fwd.gie_dcr2d, expected);
  EXPECT_EQ(s.job.fwd.noelec, 6);
  EXPECT_EQ(s.job.fwd.numnp, 21);
  EXPECT_EQ(s.job.fwd.grid, &s.grid);

  Dmatrix src(21, 6 * 8, 7.0);  // set to 0 first
  fwd::create_forcing_term_dcr2d(src, s.job.fwd_env());
  for (int e = 1; e <= 6; ++e)
    for (int kk = 1; kk <= 8; ++kk) {
      const int col = e + 6 * (kk - 1);
      for (int r = 1; r <= 21; ++r) {
        const double want = (expected[e - 1] != 0 && r == expected[e - 1]) ? 1.0 : 0.0;
        ASSERT_EQ(src(r, col), want) << "electrode " << e << ", wavenumber " << kk << ", row " << r;
      }
    }
}

TEST(ForwardResponseSources, PotentialElectrodesNeedNoSourceWhenAllAreCurrentElectrodes) {
  Survey s;
  // Every electrode carries current in some datum: the receiver dictionary
  // adds nothing, even for an entry with another position.
  s.set_data(2, 2, {{1, 2, 3, 4}, {3, 4, 1, 2}}, 4);
  s.job.txrx.rxdict_dcr2d[0].xyz = {5.0, 0.0};
  fwd::fwd_set_kmax(s.job.fwd, 8);
  fwd::global_index_electrode_cal_dcr2d(s.d, s.job.fwd_env());
  EXPECT_EQ(s.job.fwd.gie_dcr2d, (std::vector<int32_t>{Survey::node(1, 1), Survey::node(1, 2),
                                                       Survey::node(1, 3), Survey::node(1, 4)}));
  Dmatrix src(21, 4 * 8);
  fwd::create_forcing_term_dcr2d(src, s.job.fwd_env());
  EXPECT_EQ(src(Survey::node(1, 6), 1), 0.0);
  double total = 0.0;
  for (double v : src.storage()) total += v;
  EXPECT_EQ(total, 4.0 * 8.0);
}

TEST(ForwardResponseSources, UnknownsOfAModelWithEarthNodesAreTheirEarthNumbers) {
  Survey s;
  // The top row of columns 1 and 2 is air; the earth unknowns are numbered
  // column by column, top down.
  s.model.node.numnp = 19;
  s.model.node.map.assign(21, 0);
  int u = 0;
  for (int n = 1; n <= 21; ++n)
    if (n != Survey::node(1, 1) && n != Survey::node(1, 2)) s.model.node.map[n - 1] = ++u;
  s.set_data(1, 1, {{1, 2}}, 2);
  s.job.txrx.txdict_dcr2d[0].xyz = {0.0, 1.0};
  s.job.txrx.rxdict_dcr2d[0].xyz = {1.0, 2.0};
  fwd::global_index_electrode_cal_dcr2d(s.d, s.job.fwd_env());
  EXPECT_EQ(s.job.fwd.gie_dcr2d, (std::vector<int32_t>{1, 4}));
}

struct Bad_electrode_case {
  const char* name;
  double x, z;
  bool earth_nodes;  // the top row of column 3 is air
  std::vector<std::string> message_parts;
};

void PrintTo(const Bad_electrode_case& c, std::ostream* os) { *os << c.name; }

class ForwardResponseBadElectrode : public testing::TestWithParam<Bad_electrode_case> {};

TEST_P(ForwardResponseBadElectrode, EndsTheJobNamingTheElectrode) {
  const auto& c = GetParam();
  Survey s;
  if (c.earth_nodes) {
    s.model.node.numnp = 20;
    s.model.node.map.assign(21, 0);
    int u = 0;
    for (int n = 1; n <= 21; ++n)
      if (n != Survey::node(1, 3)) s.model.node.map[n - 1] = ++u;
  }
  s.set_data(1, 2, {{1, 2, 3}}, 3);
  s.job.txrx.rxdict_dcr2d[1].xyz = {c.x, c.z};  // electrode 3
  try {
    fwd::global_index_electrode_cal_dcr2d(s.d, s.job.fwd_env());
    FAIL() << "no error";
  } catch (const varnel::Error& e) {
    for (const auto& part : c.message_parts)
      EXPECT_NE(std::string(e.what()).find(part), std::string::npos) << e.what();
  }
}

INSTANTIATE_TEST_SUITE_P(
    ForwardResponse, ForwardResponseBadElectrode,
    testing::Values(
        Bad_electrode_case{
            "LeftOfTheGrid", -0.5, 0.0, false, {"electrode 3", "x = -0.5, z = 0", "no node"}},
        // The last node column has no element to its right: no node.
        Bad_electrode_case{
            "OnTheLastNodeColumn", 6.0, 0.0, false, {"electrode 3", "x = 6, z = 0", "no node"}},
        Bad_electrode_case{
            "BetweenNodeRows", 2.0, 0.5, false, {"electrode 3", "x = 2, z = 0.5", "no node"}},
        Bad_electrode_case{"InTheAir", 2.0, 0.0, true, {"electrode 3", "x = 2, z = 0", "air"}}),
    [](const testing::TestParamInfo<Bad_electrode_case>& info) { return info.param.name; });

// --- the whole computation without a solver ------------------------------

// Solver code "zz" is no solver: the potentials stay the sources. A forcing
// term of the right shape is kept, so hand-made values in it come back as
// potentials.
TEST(ForwardResponseDriver, KeepsAMatchingForcingTermAndCopiesItAsPotentials) {
  Survey s("zz");
  s.set_data(2, 2, {{1, 2, 3, 4}, {2, 5, 6, 3}}, 6);
  const Dmatrix marker = filled(21, 6 * 8);
  s.job.fwd.forcing_term = marker;
  fwd::dcr2dfwd_lapack(s.d, s.job.fwd_env());
  EXPECT_EQ(s.job.fwd.forcing_term, marker);
  EXPECT_EQ(s.job.fwd.potential_dcr2d, marker);
  EXPECT_EQ(s.job.fwd.kmax, 8);

  const auto& gie = s.job.fwd.gie_dcr2d;
  const auto expected = [&](int a, int b, int m, int n, double spacing) {
    double v = 0.0;
    for (int kk = 1; kk <= 8; ++kk) {
      const int ca = a + 6 * (kk - 1), cb = b + 6 * (kk - 1);
      v += (marker(gie[m - 1], ca) - marker(gie[n - 1], ca) - marker(gie[m - 1], cb) +
            marker(gie[n - 1], cb)) *
           kTableG[kk - 1] / spacing;
    }
    return v;
  };
  ASSERT_EQ(s.d.val.size(), 2u);
  EXPECT_NEAR(s.d.val[0], expected(1, 2, 3, 4, 1.0), 1e-12);
  EXPECT_NEAR(s.d.val[1], expected(2, 5, 6, 3, 1.0), 1e-12);

  // Twice the spacing halves every weight.
  const std::vector<double> at_one = s.d.val;
  s.d.espacing = 2.0;
  fwd::dcr2dfwd_lapack(s.d, s.job.fwd_env());
  EXPECT_DOUBLE_EQ(s.d.val[0], at_one[0] / 2.0);
  EXPECT_DOUBLE_EQ(s.d.val[1], at_one[1] / 2.0);
}

TEST(ForwardResponseDriver, SecondCallKeepsSourcesAndUnknownsAndRenewsPotentials) {
  Survey s("zz");
  s.set_data(2, 2, {{1, 2, 3, 4}}, 4);
  fwd::dcr2dfwd_lapack(s.d, s.job.fwd_env());
  const Dmatrix sources = s.job.fwd.forcing_term;
  const double* storage = s.job.fwd.forcing_term.data();
  const std::vector<int32_t> gie = s.job.fwd.gie_dcr2d;
  ASSERT_EQ(sources.rows(), 21);
  ASSERT_EQ(sources.cols(), 32);
  EXPECT_EQ(gie, (std::vector<int32_t>{Survey::node(1, 1), Survey::node(1, 2), Survey::node(1, 3),
                                       Survey::node(1, 4)}));
  for (int e = 1; e <= 4; ++e) EXPECT_EQ(sources(gie[e - 1], e + 4 * 7), 1.0);

  // The mapping is made once per run: a moved electrode is not looked up again.
  s.job.txrx.txdict_dcr2d[0].xyz = {5.0, 2.0};
  s.job.fwd.potential_dcr2d.assign(3, 3, -1.0);
  fwd::dcr2dfwd_lapack(s.d, s.job.fwd_env());
  EXPECT_EQ(s.job.fwd.forcing_term.data(), storage);
  EXPECT_EQ(s.job.fwd.forcing_term, sources);
  EXPECT_EQ(s.job.fwd.gie_dcr2d, gie);
  EXPECT_EQ(s.job.fwd.potential_dcr2d, sources);
}

TEST(ForwardResponseDriver, ForcingTermOfAnotherShapeIsRebuilt) {
  Survey s("zz");
  s.set_data(1, 1, {{2, 3}}, 3);
  s.job.fwd.forcing_term.assign(21, 3 * 8 - 1, 5.0);
  fwd::dcr2dfwd_lapack(s.d, s.job.fwd_env());
  ASSERT_EQ(s.job.fwd.forcing_term.rows(), 21);
  ASSERT_EQ(s.job.fwd.forcing_term.cols(), 24);
  double total = 0.0;
  for (double v : s.job.fwd.forcing_term.storage()) total += v;
  EXPECT_EQ(total, 2.0 * 8.0);  // electrodes 2 and 3, nothing of the old content
  EXPECT_EQ(s.job.fwd.forcing_term(Survey::node(1, 2), 2), 1.0);
  EXPECT_EQ(s.job.fwd.forcing_term(Survey::node(1, 3), 3 + 3 * 5), 1.0);
}

struct Conversion_case {
  const char* name;
  std::vector<double> geo_k;
  bool converted;
};

void PrintTo(const Conversion_case& c, std::ostream* os) { *os << c.name; }

class ForwardResponseConversion : public testing::TestWithParam<Conversion_case> {};

TEST_P(ForwardResponseConversion, ANegativeFactorMeansApparentResistivity) {
  const auto& c = GetParam();
  Survey s("zz");
  s.set_data(2, 2, {{1, 2, 3, 4}, {2, 3, 4, 5}, {1, 3, 4, 6}}, 6);
  s.job.fwd.forcing_term = filled(21, 6 * 8);
  s.d.geo_k.assign(3, 1.0);
  fwd::dcr2dfwd_lapack(s.d, s.job.fwd_env());
  const std::vector<double> resistance = s.d.val;
  s.d.geo_k = c.geo_k;
  fwd::dcr2dfwd_lapack(s.d, s.job.fwd_env());
  for (int j = 0; j < 3; ++j) {
    const double want = c.converted ? resistance[j] * c.geo_k[j] : resistance[j];
    if (std::isnan(want))
      EXPECT_TRUE(std::isnan(s.d.val[j])) << j;
    else
      EXPECT_DOUBLE_EQ(s.d.val[j], want) << j;
  }
}

INSTANTIATE_TEST_SUITE_P(
    ForwardResponse, ForwardResponseConversion,
    testing::Values(Conversion_case{"AllPositive", {2.0, 3.0, 4.0}, false},
                    Conversion_case{"OneNegative", {2.0, -3.0, 4.0}, true},
                    Conversion_case{"AllNegative", {-2.0, -3.0, -4.0}, true},
                    Conversion_case{"NaNIgnoredPositive", {kNaN, 3.0, 4.0}, false},
                    Conversion_case{"NaNIgnoredNegative", {kNaN, -3.0, 4.0}, true},
                    Conversion_case{"ZeroIsNotNegative", {0.0, 3.0, 4.0}, false}),
    [](const testing::TestParamInfo<Conversion_case>& info) { return info.param.name; });

// --- with the finite-difference solver ------------------------------------

TEST(ForwardResponseSolver, PotentialsFollowTheModelWhileSourcesStay) {
  Survey s("fd", 100.0);
  s.set_data(2, 2, {{1, 4, 2, 3}, {2, 5, 3, 4}}, 5);
  fwd::dcr2dfwd_lapack(s.d, s.job.fwd_env());
  const std::vector<double> first = s.d.val;
  const Dmatrix sources = s.job.fwd.forcing_term;
  for (double v : first) EXPECT_GT(v, 0.0);

  // Twice the resistivity everywhere: twice the response.
  s.model.set_resistivity_model_scalar(200.0);
  fwd::dcr2dfwd_lapack(s.d, s.job.fwd_env());
  EXPECT_EQ(s.job.fwd.forcing_term, sources);
  for (int j = 0; j < 2; ++j) EXPECT_NEAR(s.d.val[j], 2.0 * first[j], 1e-9 * first[j]) << j;
}

}  // namespace
