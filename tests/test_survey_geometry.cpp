// Survey geometry: electrode tables, the along-surface conversion, the merged
// electrode table with role flags and dictionaries, datum identifiers, levels,
// the topography merge, the filter of non-positive data and the geometric
// factors. Records are filled field by field, without the file readers.
#include <gtest/gtest.h>
#include <omp.h>

#include <array>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <limits>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "core/error.hpp"
#include "core/numerics/array2.hpp"
#include "core/numerics/matrix.hpp"
#include "core/survey/data_factor_dcr2d.hpp"
#include "core/survey/data_filter_dcr2d.hpp"
#include "core/survey/extract_dcr2d_electrode_position.hpp"
#include "core/survey/param_dcr2d.hpp"
#include "core/survey/txrx_info_dcr2d.hpp"

namespace {

namespace ep = varnel::extract_dcr2d_electrode_position;
namespace ti = varnel::txrx_info_dcr2d;
namespace df = varnel::data_filter_dcr2d;
namespace fk = varnel::data_factor_dcr2d;
namespace tx = varnel::txtypes_dcr2d;
namespace rx = varnel::rxtypes_dcr2d;
using varnel::Dmatrix;
using varnel::Imatrix;
using Dat = ti::Dat;
using Ceg = ti::Ceg;
using Pos = std::array<double, 2>;

constexpr double pi = std::numbers::pi;
const double nan = std::numeric_limits<double>::quiet_NaN();

// One datum of a DAT file: its electrodes (current first) and its value.
struct Datum {
  std::vector<Pos> electrodes;
  double value;
};

// A general-layout DAT record as the reader leaves it.
Dat make_dat(const std::string& name, int32_t arraytype, const std::vector<Datum>& data,
             int32_t x_position_type = 1, double espacing = 1.0) {
  Dat d;
  d.filename = name;
  d.data_format = 11;
  d.arraytype = arraytype;
  d.measuretype = 1;
  d.x_position_type = x_position_type;
  d.espacing = espacing;
  d.ip_flag = 0;
  const int ne = varnel::param_dcr2d::nelec(arraytype);
  d.ncomp = 2 + 2 * ne;
  d.nodata = static_cast<int32_t>(data.size());
  d.rawdata.assign(d.nodata, d.ncomp);
  for (int i = 1; i <= d.nodata; ++i) {
    const Datum& row = data[i - 1];
    d.rawdata(i, 1) = ne;
    for (int k = 1; k <= ne; ++k) {
      d.rawdata(i, 2 * k) = row.electrodes[k - 1][0];
      d.rawdata(i, 2 * k + 1) = row.electrodes[k - 1][1];
    }
    d.rawdata(i, d.ncomp) = row.value;
  }
  return d;
}

// A CEG record with pattern "ec1 ec2 ep1 ep2 rho"; `list` holds the electrode
// lines (number, x, z) and each data row the five columns.
Ceg make_ceg(const std::string& name, int32_t arraytype,
             const std::vector<std::array<double, 3>>& list,
             const std::vector<std::array<double, 5>>& rows, int32_t x_position_type = 1) {
  Ceg d;
  d.filename = name;
  d.arraytype = arraytype;
  d.measuretype = 1;
  d.x_position_type = x_position_type;
  d.espacing = 1.0;
  d.data_pattern = "ec1 ec2 ep1 ep2 rho";
  d.index_ec1 = 1;
  d.index_ec2 = 2;
  d.index_ep1 = 3;
  d.index_ep2 = 4;
  d.index_rho_data = 5;
  d.match_ec1 = d.match_ec2 = d.match_ep1 = d.match_ep2 = d.match_rho_data = 1;
  d.ncomp = 5;
  d.noelec = static_cast<int32_t>(list.size());
  d.electrode_position.assign(d.noelec, 3);
  for (int i = 1; i <= d.noelec; ++i)
    for (int k = 1; k <= 3; ++k) d.electrode_position(i, k) = list[i - 1][k - 1];
  d.nodata = static_cast<int32_t>(rows.size());
  d.rawdata.assign(d.nodata, 5);
  for (int i = 1; i <= d.nodata; ++i)
    for (int k = 1; k <= 5; ++k) d.rawdata(i, k) = rows[i - 1][k - 1];
  return d;
}

Dmatrix from_rows(const std::vector<std::vector<double>>& rows) {
  Dmatrix m(static_cast<int>(rows.size()), rows.empty() ? 0 : static_cast<int>(rows[0].size()));
  for (int i = 1; i <= m.rows(); ++i)
    for (int k = 1; k <= m.cols(); ++k) m(i, k) = rows[i - 1][k - 1];
  return m;
}

// Identical entries, bit for bit (tells -0.0 from 0.0; NaN matches NaN).
::testing::AssertionResult same_bits(const Dmatrix& a, const Dmatrix& b) {
  if (a.rows() != b.rows() || a.cols() != b.cols())
    return ::testing::AssertionFailure()
           << a.rows() << " x " << a.cols() << " against " << b.rows() << " x " << b.cols();
  for (int i = 1; i <= a.rows(); ++i)
    for (int k = 1; k <= a.cols(); ++k) {
      const double x = a(i, k), y = b(i, k);
      const bool same = (std::isnan(x) && std::isnan(y)) ||
                        std::bit_cast<std::uint64_t>(x) == std::bit_cast<std::uint64_t>(y);
      if (!same)
        return ::testing::AssertionFailure()
               << "(" << i << ", " << k << "): " << x << " against " << y;
    }
  return ::testing::AssertionSuccess();
}

// Rows `rows` (1-based) of m, in that order.
Dmatrix rows_of(const Dmatrix& m, const std::vector<int>& rows) {
  Dmatrix out(static_cast<int>(rows.size()), m.cols());
  for (int r = 1; r <= out.rows(); ++r)
    for (int k = 1; k <= m.cols(); ++k) out(r, k) = m(rows[r - 1], k);
  return out;
}

std::vector<double> column(const Dmatrix& m, int k) {
  std::vector<double> c;
  for (int i = 1; i <= m.rows(); ++i) c.push_back(m(i, k));
  return c;
}

// ---------------------------------------------------------------------------
// Fast row deduplication: the same result as the quadratic unique_rank2.

TEST(SurveyGeometryUnique, MatchesUniqueRank2OnRandomRows) {
  // Few distinct values, so that rows repeat, keys tie, and -0.0 meets 0.0.
  const std::vector<double> values = {-1.0, -0.0, 0.0, 0.5, 1.0, 2.0};
  std::mt19937 gen(20240611);
  std::uniform_int_distribution<int> pick(0, static_cast<int>(values.size()) - 1);
  std::uniform_int_distribution<int> rows(1, 60);
  std::uniform_int_distribution<int> cols(1, 4);
  std::uniform_int_distribution<int> percent(0, 99);
  struct Variant {
    const char* name;
    int nan_percent;  // chance of a NaN entry
    bool nan_in_key;  // NaN allowed in the key column
  };
  const std::vector<Variant> variants = {
      {"no NaN", 0, false}, {"NaN outside the key", 10, false}, {"NaN anywhere", 10, true}};
  for (const Variant& v : variants) {
    for (int trial = 0; trial < 200; ++trial) {
      const int ncol = cols(gen);
      std::uniform_int_distribution<int> keycol(1, ncol);
      const int key = keycol(gen);
      Dmatrix a(rows(gen), ncol);
      for (int i = 1; i <= a.rows(); ++i)
        for (int k = 1; k <= ncol; ++k) {
          const bool may_nan = v.nan_in_key || k != key;
          a(i, k) = may_nan && percent(gen) < v.nan_percent ? nan : values[pick(gen)];
        }
      SCOPED_TRACE(testing::Message() << v.name << ", trial " << trial << ", " << a.rows() << " x "
                                      << ncol << ", key " << key);
      ASSERT_TRUE(
          same_bits(ep::unique_rows_fast(a, key), varnel::matrix::unique_rank2(a, "ROW", key)));
    }
  }
}

TEST(SurveyGeometryUnique, KeepsFirstZeroAndNanRowsAndHandlesNoRows) {
  // -0.0 appears first, so the merged row keeps -0.0; the NaN rows both stay.
  const Dmatrix a = from_rows({{1.0, -0.0}, {0.0, nan}, {1.0, 0.0}, {0.0, nan}, {-1.0, 5.0}});
  const Dmatrix expected = from_rows({{-1.0, 5.0}, {0.0, nan}, {0.0, nan}, {1.0, -0.0}});
  EXPECT_TRUE(same_bits(ep::unique_rows_fast(a, 1), expected));

  const Dmatrix none = ep::unique_rows_fast(Dmatrix(0, 4), 1);
  EXPECT_EQ(none.rows(), 0);
  EXPECT_EQ(none.cols(), 4);
}

// ---------------------------------------------------------------------------
// Along-surface positions to horizontal distances.

TEST(SurveyGeometryAdjust, ModelXPerPositionType) {
  struct Case {
    const char* name;
    int32_t type;
    std::vector<Pos> in;
    std::vector<double> model_x;
  };
  const std::vector<Case> cases = {
      // asin(0.1) = 5.74 deg, rounded to 6: step 1 / tan(6 deg) = 9.514.
      {"along surface, gentle slope", 2, {{0, 0}, {10, 0}, {20, 1}, {30, 1}}, {0, 10, 19.5, 29.5}},
      // asin(0.95) = 71.8 deg is limited to 65: 9.5 / tan(65 deg) = 4.430
      // (72 degrees would give 3.087).
      {"along surface, steeper than 65 degrees", 2, {{0, 0}, {10, 9.5}}, {0, 4.4}},
      {"along surface, steep descent", 2, {{0, 0}, {10, -9.5}}, {0, 4.4}},
      // |dz/dx| > 1 is steeper than any slope: limited to 65 degrees.
      {"along surface, rise above the distance", 2, {{0, 0}, {1, 2}}, {0, 0.9}},
      // Equal along-surface x: a vertical step adds nothing.
      {"along surface, vertical step", 2, {{5, 0}, {5, 3}, {15, 3}}, {5, 5, 15}},
      {"along surface, repeated electrode", 2, {{5, 1}, {5, 1}}, {5, 5}},
      // The sum is rounded to 0.1 with halves away from zero.
      {"along surface, half up", 2, {{0, 0}, {0.25, 0}}, {0, 0.3}},
      {"along surface, half down", 2, {{0, 0}, {-0.25, 0}}, {0, -0.3}},
      // Row 1 keeps its x unrounded.
      {"along surface, first row", 2, {{0.04, 0}, {1.04, 0}}, {0.04, 1.0}},
      {"true horizon", 1, {{0, 0}, {10, 9.5}, {20.04, 1}}, {0, 10, 20.04}},
      {"unknown", 0, {{0, 0}, {10, 9.5}}, {0, 10}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Dmatrix p(static_cast<int>(c.in.size()), 2);
    for (int i = 1; i <= p.rows(); ++i) {
      p(i, 1) = c.in[i - 1][0];
      p(i, 2) = c.in[i - 1][1];
    }
    ep::adjust_position_dcr2d(p, c.type);
    ASSERT_EQ(p.rows(), static_cast<int>(c.in.size()));
    ASSERT_EQ(p.cols(), 4);
    for (int i = 1; i <= p.rows(); ++i) {
      EXPECT_NEAR(p(i, 1), c.model_x[i - 1], 1e-12) << "row " << i;
      EXPECT_EQ(p(i, 2), c.in[i - 1][1]) << "row " << i;
      EXPECT_EQ(p(i, 3), c.in[i - 1][0]) << "row " << i;
      EXPECT_EQ(p(i, 4), c.in[i - 1][1]) << "row " << i;
    }
  }
}

// ---------------------------------------------------------------------------
// Electrode tables of single files.

TEST(SurveyGeometryElectrodeTable, DatTableIsDistinctAndOrderedByX) {
  // Electrode 1 of every datum is collected before electrode 2: (5, 0) from
  // datum 2 comes before (5, 1) from datum 1, although datum 1 comes first.
  Dat d = make_dat("a.dat", 2,
                   {{{{3, 0}, {5, 1}}, 1.0}, {{{5, 0}, {3, 0}}, 1.0}, {{{3, 0}, {5, 1}}, 1.0}});
  ep::electrode_position_dcr2d_dat(d);
  EXPECT_EQ(d.noelec, 3);
  EXPECT_TRUE(same_bits(d.pelec, from_rows({{3, 0, 3, 0}, {5, 0, 5, 0}, {5, 1, 5, 1}})));
}

TEST(SurveyGeometryElectrodeTable, DatAlongSurfaceConvertsTheSortedTable) {
  Dat d = make_dat("a.dat", 2, {{{{20, 1}, {0, 0}}, 1.0}, {{{10, 0}, {20, 1}}, 1.0}}, 2);
  ep::electrode_position_dcr2d_dat(d);
  EXPECT_EQ(d.noelec, 3);
  EXPECT_EQ(column(d.pelec, 1), (std::vector<double>{0, 10, 19.5}));
  EXPECT_EQ(column(d.pelec, 3), (std::vector<double>{0, 10, 20}));
}

TEST(SurveyGeometryElectrodeTable, CegTableKeepsTheListAsItIs) {
  // Not sorted, a repeated position kept, the number column ignored.
  Ceg d = make_ceg("a.ceg", 1, {{7, 2, 0.5}, {1, 0, 0}, {3, 2, 0.5}}, {});
  ep::electrode_position_dcr2d_ceg(d);
  EXPECT_EQ(d.noelec, 3);
  EXPECT_TRUE(same_bits(d.pelec, from_rows({{2, 0.5, 2, 0.5}, {0, 0, 0, 0}, {2, 0.5, 2, 0.5}})));
}

// ---------------------------------------------------------------------------
// Run-wide set-up.

// Wenner-alpha datum: C1, C2, P1, P2 at x0, x0 + 3a, x0 + a, x0 + 2a.
Datum wenner(double x0, double a, double value = 10.0) {
  return {{{x0, 0}, {x0 + 3 * a, 0}, {x0 + a, 0}, {x0 + 2 * a, 0}}, value};
}

TEST(SurveyGeometrySetup, TwoDatFilesShareElectrodes) {
  std::vector<Dat> files = {make_dat("a.dat", 1, {wenner(0, 1)}),
                            make_dat("b.dat", 1, {wenner(2, 1), wenner(0, 2)})};
  ti::Txrx_info_state st;
  ti::setup_alldict_dcr2d_dat_file(files, st);

  // Electrodes 0..6 of both files, once each, in x order (x 6 only in b).
  ASSERT_EQ(st.pelec_dcr2d.rows(), 7);
  for (int e = 1; e <= 7; ++e) {
    EXPECT_EQ(st.pelec_dcr2d(e, 1), e - 1);
    EXPECT_EQ(st.pelec_dcr2d(e, 3), e - 1);
  }
  // Electrode number of x is x + 1; slots C1, C2, P1, P2.
  const std::vector<std::vector<std::array<int, 4>>> expected = {{{1, 4, 2, 3}},
                                                                 {{3, 6, 4, 5}, {1, 7, 3, 5}}};
  for (std::size_t f = 0; f < files.size(); ++f) {
    for (int i = 1; i <= files[f].nodata; ++i) {
      SCOPED_TRACE(testing::Message() << files[f].filename << " datum " << i);
      EXPECT_EQ(files[f].tx_index(1, i), expected[f][i - 1][0]);
      EXPECT_EQ(files[f].tx_index(2, i), expected[f][i - 1][1]);
      EXPECT_EQ(files[f].rx_index(1, i), expected[f][i - 1][2]);
      EXPECT_EQ(files[f].rx_index(2, i), expected[f][i - 1][3]);
    }
  }
  // Per-file tables are the files' own.
  EXPECT_EQ(files[0].noelec, 4);
  EXPECT_EQ(files[1].noelec, 6);
  EXPECT_EQ(files[1].val.size(), 2u);
}

TEST(SurveyGeometrySetup, RolesAndDictionaries) {
  // x 1 and 2 are only potential electrodes, x 3 is both (C2 of datum 1, P2
  // of datum 2), x 0 and 5 only current electrodes, x 4 is P1 of datum 2.
  std::vector<Dat> files = {
      make_dat("a.dat", 1, {wenner(0, 1), {{{0, 0}, {5, 0}, {4, 0}, {3, 0}}, 1.0}})};
  ti::Txrx_info_state st;
  ti::setup_alldict_dcr2d_dat_file(files, st);
  ASSERT_EQ(st.pelec_dcr2d.rows(), 6);
  const std::vector<int> is_tx = {1, 0, 0, 1, 0, 1};
  const std::vector<int> is_rx = {0, 1, 1, 1, 1, 0};
  ASSERT_EQ(st.txrx_state.rows(), 2);
  ASSERT_EQ(st.txrx_state.cols(), 6);
  std::vector<int> tx_ids, rx_ids;
  for (int e = 1; e <= 6; ++e) {
    EXPECT_EQ(st.txrx_state(1, e), is_tx[e - 1]) << "electrode " << e;
    EXPECT_EQ(st.txrx_state(2, e), is_rx[e - 1]) << "electrode " << e;
  }
  for (const tx::Dc2dtx& t : st.txdict_dcr2d) {
    tx_ids.push_back(t.id);
    EXPECT_EQ(t.depth, 1.0e-10);
    EXPECT_EQ(t.xyz_original[0], t.id - 1.0);
    EXPECT_EQ(t.xyz[0], t.id - 1.0);
  }
  for (const rx::Dc2drx& r : st.rxdict_dcr2d) {
    rx_ids.push_back(r.id);
    EXPECT_EQ(r.xyz_original[0], r.id - 1.0);
  }
  // A potential-only electrode has no transmitter entry.
  EXPECT_EQ(tx_ids, (std::vector<int>{1, 4, 6}));
  EXPECT_EQ(rx_ids, (std::vector<int>{2, 3, 4, 5}));
}

TEST(SurveyGeometrySetup, ElectrodesMergeOnlyWhenAllFourColumnsAgree) {
  // The same file positions along the surface and as true horizontal
  // distances: the model x differ beyond the first electrode, so they stay
  // apart, and every datum is looked up by file position (last entry wins).
  const Datum dip{{{0, 0}, {10, 0}, {20, 1}}, 1.0};
  std::vector<Dat> files = {make_dat("th.dat", 6, {dip}, 1), make_dat("as.dat", 6, {dip}, 2)};
  ti::Txrx_info_state st;
  ti::setup_alldict_dcr2d_dat_file(files, st);
  EXPECT_EQ(column(st.pelec_dcr2d, 1), (std::vector<double>{0, 10, 19.5, 20}));
  EXPECT_EQ(column(st.pelec_dcr2d, 3), (std::vector<double>{0, 10, 20, 20}));
  // File position (20, 1) belongs to electrodes 3 and 4: the later one wins.
  EXPECT_EQ(files[0].rx_index(2, 1), 4);
  EXPECT_EQ(files[1].rx_index(2, 1), 4);
  EXPECT_EQ(files[1].tx_index(1, 1), 1);
}

TEST(SurveyGeometrySetup, DatumWithoutIdentifierEndsTheJob) {
  // A NaN coordinate equals nothing, so that electrode gets no identifier.
  std::vector<Dat> files = {
      make_dat("bad.dat", 2, {{{{0, 0}, {1, 0}}, 1.0}, {{{nan, 0}, {1, 0}}, 1.0}})};
  ti::Txrx_info_state st;
  try {
    ti::setup_alldict_dcr2d_dat_file(files, st);
    FAIL() << "no error";
  } catch (const varnel::Error& e) {
    const std::string msg = e.what();
    EXPECT_NE(msg.find("bad.dat"), std::string::npos) << msg;
    EXPECT_NE(msg.find("datum 2"), std::string::npos) << msg;
    EXPECT_NE(msg.find("C1"), std::string::npos) << msg;
  }
}

TEST(SurveyGeometrySetup, CegDataNameLinesOfTheElectrodeList) {
  // The list is not in x order and its number column is not consulted; 2.7
  // is truncated to line 2.
  std::vector<Ceg> files = {
      make_ceg("a.ceg", 1, {{9, 3, 0}, {8, 0, 0}, {7, 2, 0}, {6, 1, 0}}, {{2.7, 1, 4, 3, 5.0}})};
  ti::Txrx_info_state st;
  ti::setup_alldict_dcr2d_ceg_file(files, st);
  EXPECT_EQ(column(st.pelec_dcr2d, 1), (std::vector<double>{0, 1, 2, 3}));
  // The file's own table stays in list order.
  EXPECT_EQ(column(files[0].pelec, 1), (std::vector<double>{3, 0, 2, 1}));
  EXPECT_EQ(files[0].tx_index(1, 1), 1);  // line 2: x 0
  EXPECT_EQ(files[0].tx_index(2, 1), 4);  // line 1: x 3
  EXPECT_EQ(files[0].rx_index(1, 1), 2);  // line 4: x 1
  EXPECT_EQ(files[0].rx_index(2, 1), 3);  // line 3: x 2
  EXPECT_EQ(st.txdict_dcr2d.size(), 2u);
  EXPECT_EQ(st.rxdict_dcr2d.size(), 2u);
}

TEST(SurveyGeometrySetup, CegBadElectrodeNumbersEndTheJob) {
  const std::vector<std::array<double, 3>> list = {{1, 0, 0}, {2, 1, 0}, {3, 2, 0}, {4, 3, 0}};
  const std::vector<std::array<double, 5>> bad_rows = {
      {1, 4, 2, 5, 1.0},    // line 5 does not exist
      {1, 4, 0.5, 3, 1.0},  // truncates to 0
      {1, 4, nan, 3, 1.0},
  };
  for (const auto& row : bad_rows) {
    SCOPED_TRACE(testing::Message()
                 << "row " << row[0] << " " << row[1] << " " << row[2] << " " << row[3]);
    std::vector<Ceg> files = {make_ceg("bad.ceg", 1, list, {{1, 4, 2, 3, 1.0}, row})};
    ti::Txrx_info_state st;
    try {
      ti::setup_alldict_dcr2d_ceg_file(files, st);
      ADD_FAILURE() << "no error";
    } catch (const varnel::Error& e) {
      const std::string msg = e.what();
      EXPECT_NE(msg.find("bad.ceg"), std::string::npos) << msg;
      EXPECT_NE(msg.find("datum 2"), std::string::npos) << msg;
    }
  }
}

TEST(SurveyGeometrySetup, LargeGeneralArraySurvey) {
  // 20,000 general-array data on 200 electrodes, filtered, set up and merged.
  // The identifiers must be those of the dictionaries' own linear lookups.
  const int nel = 200, nd = 20000;
  std::mt19937 gen(7);
  std::uniform_int_distribution<int> pick(0, nel - 1);
  std::vector<Datum> data;
  data.reserve(nd);
  for (int i = 0; i < nd; ++i) {
    Datum dt;
    for (int k = 0; k < 4; ++k) {
      const int e = pick(gen);
      dt.electrodes.push_back({0.5 * e, 0.01 * (e % 7)});
    }
    dt.value = i % 50 == 0 ? -1.0 : 1.0 + i;
    data.push_back(dt);
  }
  std::vector<Dat> files = {make_dat("big.dat", 11, data)};
  files[0].ntopo = 0;

  const auto start = std::chrono::steady_clock::now();
  df::negative_filter_dcr2d_dat_file(files[0]);
  ti::Txrx_info_state st;
  ti::setup_alldict_dcr2d_dat_file(files, st);
  ti::nlevel_cal_dcr2d_dat_file(files[0], st);
  fk::cal_geo_k_dat_dcr2d(files[0], st.txdict_dcr2d, st.rxdict_dcr2d);
  ti::compute_topo_dat_dcr2d(files[0]);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::cout << "filter, set-up, levels, factors, topography: " << seconds << " s\n";

  const Dat& d = files[0];
  ASSERT_EQ(d.nodata, nd - nd / 50);
  ASSERT_EQ(st.pelec_dcr2d.rows(), nel);
  for (int e = 1; e <= nel; ++e) ASSERT_EQ(st.pelec_dcr2d(e, 1), 0.5 * (e - 1));
  EXPECT_EQ(d.ntopo, nel);
  for (int i = 1; i <= d.nodata; ++i) {
    for (int j = 1; j <= 2; ++j) {
      const Pos c{d.rawdata(i, 2 * j), d.rawdata(i, 2 * j + 1)};
      const Pos p{d.rawdata(i, 2 * j + 4), d.rawdata(i, 2 * j + 5)};
      ASSERT_EQ(d.tx_index(j, i), tx::tx_position_to_id_dcr2d(st.txdict_dcr2d, c, 2));
      ASSERT_EQ(d.rx_index(j, i), rx::rx_position_to_id_dcr2d(st.rxdict_dcr2d, p, 2));
    }
  }
}

// ---------------------------------------------------------------------------
// Levels.

TEST(SurveyGeometryLevel, LevelsPerArrayType) {
  struct Case {
    const char* name;
    int32_t arraytype;
    double espacing;
    std::vector<Datum> data;
    std::vector<int32_t> levels;
  };
  const std::vector<Case> cases = {
      {"wenner a = 2 spacings", 1, 1.0, {wenner(0, 2), wenner(1, 1)}, {2, 1}},
      {"truncated, not rounded", 1, 1.0, {wenner(0, 2.9999999)}, {2}},
      {"spacing other than 1", 1, 0.5, {wenner(0, 1.2)}, {2}},
      // Straight-line distance: C1 (0, 0) to P1 (3, 4) is 5.
      {"pole-pole with elevation", 2, 1.0, {{{{0, 0}, {3, 4}}, 1.0}}, {5}},
      {"pole-dipole", 6, 1.0, {{{{0, 0}, {3, 0}, {4, 0}}, 1.0}}, {3}},
      // C2 right of C1 in datum 1: the second current electrode counts.
      {"dipole-dipole, C2 right",
       3,
       1.0,
       {{{{0, 0}, {1, 0}, {3, 0}, {4, 0}}, 1.0}, {{{6, 0}, {5, 0}, {8, 0}, {9, 0}}, 1.0}},
       {2, 3}},
      // C2 left of C1 in datum 1 (smaller identifier): C1 for every datum.
      {"dipole-dipole, C2 left",
       3,
       1.0,
       {{{{1, 0}, {0, 0}, {3, 0}, {4, 0}}, 1.0}, {{{5, 0}, {6, 0}, {8, 0}, {9, 0}}, 1.0}},
       {2, 3}},
      {"general array", 11, 1.0, {wenner(0, 2), wenner(0, 3)}, {0, 0}},
      {"gradient", 15, 1.0, {wenner(0, 2)}, {0}},
      {"equatorial", 8, 1.0, {wenner(0, 2)}, {0}},
      // No spacing: no level, and no undefined conversion.
      {"zero spacing", 1, 0.0, {wenner(0, 2)}, {0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<Dat> files = {make_dat("a.dat", c.arraytype, c.data, 1, c.espacing)};
    ti::Txrx_info_state st;
    ti::setup_alldict_dcr2d_dat_file(files, st);
    ti::nlevel_cal_dcr2d_dat_file(files[0], st);
    EXPECT_EQ(files[0].level, c.levels);
  }
}

TEST(SurveyGeometryLevel, CegLevelsUseTheDictionaries) {
  // Wenner a = 2 on a list not in x order, numbered unlike its lines.
  std::vector<Ceg> files = {
      make_ceg("a.ceg", 1, {{9, 6, 0}, {8, 0, 0}, {7, 2, 0}, {6, 4, 0}}, {{2, 1, 3, 4, 5.0}})};
  ti::Txrx_info_state st;
  ti::setup_alldict_dcr2d_ceg_file(files, st);
  ti::nlevel_cal_dcr2d_ceg_file(files[0], st);
  EXPECT_EQ(files[0].level, (std::vector<int32_t>{2}));
}

// ---------------------------------------------------------------------------
// Topography merge.

TEST(SurveyGeometryTopography, PointsAndElectrodesMerge) {
  Dat d = make_dat("a.dat", 1, {wenner(0, 1)});
  ep::electrode_position_dcr2d_dat(d);
  // (1, 0) coincides with an electrode; (-1, 0.5) and (1.5, 0.2) do not.
  d.ntopo = 3;
  d.topo = from_rows({{1.5, 0.2}, {1, 0}, {-1, 0.5}});
  ti::compute_topo_dat_dcr2d(d);
  EXPECT_EQ(d.ntopo, 6);
  EXPECT_TRUE(same_bits(d.topo, from_rows({{-1, 0.5, -1, 0.5},
                                           {0, 0, 0, 0},
                                           {1, 0, 1, 0},
                                           {1.5, 0.2, 1.5, 0.2},
                                           {2, 0, 2, 0},
                                           {3, 0, 3, 0}})));
}

TEST(SurveyGeometryTopography, AlongSurfacePointsAreConvertedAndOrderedByFileX) {
  // Electrodes at file x 0 and 19.8 (flat: model x 19.8); points (0, 0),
  // (10, 0), (20, 1) convert to model x 0, 10, 19.5. Ordered by file x the
  // point at 20 comes last although its model x is below 19.8; the point at
  // 0 equals the first electrode row and appears once.
  Ceg d = make_ceg("a.ceg", 2, {{1, 0, 0}, {2, 19.8, 0}}, {}, 2);
  ep::electrode_position_dcr2d_ceg(d);
  d.ntopo = 3;
  d.topo = from_rows({{0, 0}, {10, 0}, {20, 1}});
  ti::compute_topo_ceg_dcr2d(d);
  EXPECT_EQ(d.ntopo, 4);
  EXPECT_TRUE(same_bits(
      d.topo, from_rows({{0, 0, 0, 0}, {10, 0, 10, 0}, {19.8, 0, 19.8, 0}, {19.5, 1, 20, 1}})));
}

TEST(SurveyGeometryTopography, WithoutTopographyTheElectrodesAreTheSurface) {
  Dat dat = make_dat("a.dat", 1, {wenner(0, 1)});
  ep::electrode_position_dcr2d_dat(dat);
  dat.ntopo = 0;
  ti::compute_topo_dat_dcr2d(dat);
  EXPECT_EQ(dat.ntopo, dat.noelec);
  EXPECT_TRUE(same_bits(dat.topo, dat.pelec));

  // A CEG list keeps its order, even against x.
  Ceg ceg = make_ceg("a.ceg", 1, {{1, 3, 0}, {2, 0, 1}, {3, 2, 0}}, {});
  ep::electrode_position_dcr2d_ceg(ceg);
  ceg.ntopo = 0;
  ti::compute_topo_ceg_dcr2d(ceg);
  EXPECT_EQ(ceg.ntopo, 3);
  EXPECT_TRUE(same_bits(ceg.topo, from_rows({{3, 0, 3, 0}, {0, 1, 0, 1}, {2, 0, 2, 0}})));
}

// ---------------------------------------------------------------------------
// Filter of non-positive data.

TEST(SurveyGeometryFilter, DropsNonPositiveValuesWithAnyThreadCount) {
  struct Case {
    const char* name;
    std::vector<double> values;
    std::vector<int> kept_rows;
  };
  const std::vector<Case> cases = {
      {"mixed", {5, 0, -1, 7}, {1, 4}},
      {"NaN kept", {nan, -0.0, 2}, {1, 3}},
      {"all positive", {1, 2, 3}, {1, 2, 3}},
      {"none positive", {0, -2}, {}},
  };
  const int saved = omp_get_max_threads();
  for (int threads : {1, 2}) {
    omp_set_num_threads(threads);
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << c.name << ", " << threads << " threads");
      std::vector<Datum> data;
      for (std::size_t i = 0; i < c.values.size(); ++i)
        data.push_back({{{double(i), 0}, {double(i) + 1, 0}}, c.values[i]});
      Dat dat = make_dat("a.dat", 2, data);
      const Dmatrix before = dat.rawdata;
      df::negative_filter_dcr2d_dat_file(dat);
      ASSERT_EQ(dat.nodata, static_cast<int32_t>(c.kept_rows.size()));
      EXPECT_TRUE(same_bits(dat.rawdata, rows_of(before, c.kept_rows)));

      // CEG: the value is in column index_rho_data, here not the last.
      std::vector<std::array<double, 3>> list = {{1, 0, 0}, {2, 1, 0}, {3, 2, 0}, {4, 3, 0}};
      std::vector<std::array<double, 5>> rows;
      for (std::size_t i = 0; i < c.values.size(); ++i)
        rows.push_back({c.values[i], 1, 4, 2, -5.0});
      Ceg ceg = make_ceg("a.ceg", 1, list, rows);
      ceg.index_ec1 = 5;
      ceg.index_rho_data = 1;
      const Dmatrix ceg_before = ceg.rawdata;
      df::negative_filter_dcr2d_ceg_file(ceg);
      ASSERT_EQ(ceg.nodata, static_cast<int32_t>(c.kept_rows.size()));
      EXPECT_TRUE(same_bits(ceg.rawdata, rows_of(ceg_before, c.kept_rows)));
    }
  }
  omp_set_num_threads(saved);
}

TEST(SurveyGeometryFilter, DatValueColumnComesBeforeTheIpValue) {
  Dat d = make_dat("ip.dat", 2, {{{{0, 0}, {1, 0}}, 5.0}, {{{0, 0}, {2, 0}}, -5.0}});
  // Append an IP column: negative for the first row, positive for the second.
  Dmatrix raw(2, d.ncomp + 1);
  for (int i = 1; i <= 2; ++i)
    for (int k = 1; k <= d.ncomp; ++k) raw(i, k) = d.rawdata(i, k);
  raw(1, d.ncomp + 1) = -1.0;
  raw(2, d.ncomp + 1) = 1.0;
  d.rawdata = raw;
  d.ip_flag = 1;
  d.ncomp += 1;
  df::negative_filter_dcr2d_dat_file(d);
  ASSERT_EQ(d.nodata, 1);
  EXPECT_EQ(d.rawdata(1, 6), 5.0);
  EXPECT_EQ(d.rawdata(1, 7), -1.0);
}

// ---------------------------------------------------------------------------
// Geometric factors.

TEST(SurveyGeometryFactor, GeometricFactorPerArray) {
  struct Case {
    const char* name;
    int32_t arraytype;
    std::vector<Pos> current, potential;
    double geo_k;
  };
  const std::vector<Case> cases = {
      // pi / (1/a - 1/2a - 1/2a + 1/a) = pi a.
      {"wenner-alpha a = 2", 1, {{0, 0}, {6, 0}}, {{2, 0}, {4, 0}}, 2 * pi},
      // 1/2 - 1/3 - 1/3 + 1/4 = 1/12.
      {"dipole-dipole a = 1, n = 2", 3, {{1, 0}, {0, 0}}, {{3, 0}, {4, 0}}, 12 * pi},
      {"pole-dipole", 6, {{0, 0}}, {{1, 0}, {2, 0}}, 2 * pi},
      // Straight line from (0, 0) to (3, 4): 5.
      {"pole-pole with elevation", 2, {{0, 0}}, {{3, 4}}, 5 * pi},
      // Wenner a = 3 on a slope of 3 : 4 along x: every distance scales to
      // 5 / 4 of its horizontal length.
      {"wenner on a slope", 1, {{0, 0}, {9 * 0.8, 9 * 0.6}}, {{2.4, 1.8}, {4.8, 3.6}}, 3 * pi},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Dictionary ids 10, 11 (current) and 20, 21 (potential); model positions
    // are set apart to show that file positions are used.
    const int nc = static_cast<int>(c.current.size()), np = static_cast<int>(c.potential.size());
    Dmatrix t(5, nc), r(4, np);
    std::vector<int32_t> tid, rid;
    for (int k = 1; k <= nc; ++k) {
      t(1, k) = 1e-10;
      t(2, k) = 100 + k;
      t(3, k) = 100;
      t(4, k) = c.current[k - 1][0];
      t(5, k) = c.current[k - 1][1];
      tid.push_back(9 + k);
    }
    for (int j = 1; j <= np; ++j) {
      r(1, j) = -100 - j;
      r(2, j) = 100;
      r(3, j) = c.potential[j - 1][0];
      r(4, j) = c.potential[j - 1][1];
      rid.push_back(19 + j);
    }
    tx::Txdict txd;
    rx::Rxdict rxd;
    tx::setup_txdict_dcr2d(txd, nc, t, &tid);
    rx::setup_rxdict_dcr2d(rxd, np, r, &rid);

    Dat d;
    d.filename = "k.dat";
    d.arraytype = c.arraytype;
    d.nodata = 2;  // the same datum twice
    d.tx_index.assign(nc, 2);
    d.rx_index.assign(np, 2);
    for (int i = 1; i <= 2; ++i) {
      for (int k = 1; k <= nc; ++k) d.tx_index(k, i) = tid[k - 1];
      for (int j = 1; j <= np; ++j) d.rx_index(j, i) = rid[j - 1];
    }
    fk::cal_geo_k_dat_dcr2d(d, txd, rxd);
    ASSERT_EQ(d.geo_k.size(), 2u);
    EXPECT_NEAR(d.geo_k[0], c.geo_k, 1e-12 * c.geo_k);
    EXPECT_EQ(d.geo_k[1], d.geo_k[0]);
  }
}

TEST(SurveyGeometryFactor, CegFactorsAfterSetUp) {
  // Dipole-dipole C2 = 0, C1 = 1, P1 = 3, P2 = 4 through the whole set-up.
  std::vector<Ceg> files = {
      make_ceg("dd.ceg", 3, {{1, 0, 0}, {2, 1, 0}, {3, 3, 0}, {4, 4, 0}}, {{2, 1, 3, 4, 8.0}})};
  ti::Txrx_info_state st;
  ti::setup_alldict_dcr2d_ceg_file(files, st);
  fk::cal_geo_k_ceg_dcr2d(files[0], st.txdict_dcr2d, st.rxdict_dcr2d);
  ASSERT_EQ(files[0].geo_k.size(), 1u);
  EXPECT_NEAR(files[0].geo_k[0], 12 * pi, 1e-12);
}

TEST(SurveyGeometryFactor, ComputeSign) {
  struct Case {
    int i, j, sign;
  };
  const std::vector<Case> cases = {{1, 1, 1}, {1, 2, -1}, {2, 1, -1}, {2, 2, 1},
                                   {3, 1, 1}, {3, 4, -1}, {4, 2, 1}};
  for (const Case& c : cases)
    EXPECT_EQ(fk::compute_sign(c.i, c.j), c.sign) << "(" << c.i << ", " << c.j << ")";
}

// ---------------------------------------------------------------------------
// Pseudo-section focus points.

TEST(SurveyGeometryFocus, SymmetricWennerConverges) {
  for (double a : {1.0, 2.0}) {
    SCOPED_TRACE(testing::Message() << "a = " << a);
    double fx = -1, fz = -1;
    bool ok = false;
    // C1, C2, P1, P2 at 0, 3a, a, 2a.
    fk::calculate_focus_point(0, 3 * a, a, 2 * a, 1, fx, fz, ok);
    ASSERT_TRUE(ok);
    EXPECT_DOUBLE_EQ(fx, 1.5 * a);
    EXPECT_GT(fz, 0.001);
    EXPECT_LT(fz, 3 * a);
    // The sensitivity has fallen to half its surface value there.
    const double target = (1 / a - 1 / (2 * a) - 1 / (2 * a) + 1 / a) / 2;
    EXPECT_LT(std::abs(fk::sensitivity_function(fz, a, 2 * a, 2 * a, a, target)), 1e-6);
  }
  // The depth scales with the spacing.
  double fx1, fz1, fx2, fz2;
  bool ok1, ok2;
  fk::calculate_focus_point(0, 3, 1, 2, 1, fx1, fz1, ok1);
  fk::calculate_focus_point(0, 6, 2, 4, 1, fx2, fz2, ok2);
  EXPECT_NEAR(fz2, 2 * fz1, 1e-4);
}

TEST(SurveyGeometryFocus, DegenerateArraysFail) {
  struct Case {
    const char* name;
    double tx1, tx2, rx1, rx2;
    int32_t type;
  };
  const std::vector<Case> cases = {
      {"C1 on P1", 0, 3, 0, 2, 1},
      {"C2 on P2", 0, 3, 1, 3, 3},
      // The bound |tx2 - tx1| = 1 lies above the crossing of a far dipole:
      // the function has one sign at both ends.
      {"no sign change", 0, 1, 10, 20, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    double fx = -1, fz = -1;
    bool ok = true;
    fk::calculate_focus_point(c.tx1, c.tx2, c.rx1, c.rx2, c.type, fx, fz, ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(fz, 0.0);
    EXPECT_DOUBLE_EQ(fx, (c.tx1 + c.tx2 + c.rx1 + c.rx2) / 4);
  }
}

TEST(SurveyGeometryFocus, PseudoSectionReadsTheNamedColumns) {
  // Electrode table x: 0, 1, 2, 3, 10; elec columns: P2, C1, P1, C2.
  const Dmatrix pelec =
      from_rows({{0, 0, 0, 0}, {1, 0, 1, 0}, {2, 0, 2, 0}, {3, 0, 3, 0}, {10, 0, 10, 0}});
  Imatrix elec(2, 4);
  const std::vector<std::array<int, 4>> rows = {{3, 1, 2, 4}, {3, 1, 1, 4}};
  for (int i = 1; i <= 2; ++i)
    for (int k = 1; k <= 4; ++k) elec(i, k) = rows[i - 1][k - 1];
  std::vector<double> xpos, zpos;
  fk::cal_pseudo_xz(elec, 2, 4, 3, 1, pelec, 1, xpos, zpos);
  ASSERT_EQ(xpos.size(), 2u);
  ASSERT_EQ(zpos.size(), 2u);
  double fx, fz;
  bool ok;
  fk::calculate_focus_point(0, 3, 1, 2, 1, fx, fz, ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(xpos[0], 1.5);
  EXPECT_EQ(zpos[0], fz);
  // Datum 2 has C1 on P1: mean x, depth 0.
  EXPECT_EQ(xpos[1], 1.25);
  EXPECT_EQ(zpos[1], 0.0);

  elec(2, 1) = 6;  // no electrode 6
  EXPECT_THROW(fk::cal_pseudo_xz(elec, 2, 4, 3, 1, pelec, 1, xpos, zpos), varnel::Error);
}

}  // namespace
