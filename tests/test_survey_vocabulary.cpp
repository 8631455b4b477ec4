// The survey vocabulary: array-type tables and the text/code lookups, and the
// transmitter and receiver dictionaries.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "core/error.hpp"
#include "core/numerics/array2.hpp"
#include "core/survey/param_dcr2d.hpp"
#include "core/survey/rxtypes_dcr2d.hpp"
#include "core/survey/txtypes_dcr2d.hpp"

namespace {

namespace p = varnel::param_dcr2d;
namespace tx = varnel::txtypes_dcr2d;
namespace rx = varnel::rxtypes_dcr2d;
using varnel::Dmatrix;

// ---------------------------------------------------------------------------
// Array-type tables

TEST(SurveyArrayTypes, TablesAndNamesPerCode) {
  struct Case {
    int32_t code;
    const char* name;
    int32_t nelec, celec, ncol;
  };
  const std::vector<Case> cases = {
      {1, "wenner-alpha", 4, 2, 3},
      {2, "pole-pole", 2, 1, 3},
      {3, "dipole-dipole", 4, 2, 4},
      {4, "wenner-beta", 4, 2, 0},
      {5, "wenner-gamma", 4, 2, 0},
      {6, "pole-dipole", 3, 1, 3},
      {7, "wenner-schlumberger", 4, 2, 4},
      {8, "equatorial", 4, 2, 3},
      {9, "unknown", 0, 0, 0},
      {10, "unknown", 0, 0, 0},
      {11, "unknown", 4, 2, 0},
      {12, "unknown", 4, 2, 0},
      {13, "unknown", 4, 2, 0},
      {14, "unknown", 0, 0, 0},
      {15, "gradient", 4, 2, 0},
      // Outside the table: no electrodes, no name.
      {0, "unknown", 0, 0, 0},
      {16, "unknown", 0, 0, 0},
      {-1, "unknown", 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "code " << c.code);
    EXPECT_EQ(p::nelec(c.code), c.nelec);
    EXPECT_EQ(p::celec(c.code), c.celec);
    EXPECT_EQ(p::ncol4res2d(c.code), c.ncol);
    const std::string name = p::get_configuration(c.code);
    ASSERT_EQ(name.size(), 20u);
    EXPECT_EQ(name, c.name + std::string(20 - std::string(c.name).size(), ' '));
  }
}

TEST(SurveyArrayTypes, NamedArraysLookUpTheirOwnCode) {
  // Every name that get_arraytype accepts in full leads back to its code.
  for (int32_t code : {1, 3, 7, 15})
    EXPECT_EQ(p::get_arraytype(p::get_configuration(code)), code) << "code " << code;
}

TEST(SurveyArrayTypes, DefaultDepthLevelsStartAtZeroAndIncrease) {
  EXPECT_EQ(p::zs_default.front(), 0.0);
  EXPECT_EQ(p::zs_default.back(), 221.415);
  for (std::size_t i = 1; i < p::zs_default.size(); ++i)
    EXPECT_GT(p::zs_default[i], p::zs_default[i - 1]) << "level " << i + 1;
}

// ---------------------------------------------------------------------------
// Text to code

TEST(SurveyLookups, TextToCode) {
  struct Case {
    const char* text;
    int32_t arraytype, measure, ip, position;
  };
  // Each text is looked up by all four operations; most texts mean something
  // to one of them only.
  const std::vector<Case> cases = {
      {"dd", 3, -1, 0, 0},           {"dipole-dipole", 3, -1, 0, 0},
      {"gd", 15, -1, 0, 0},          {"gradient", 15, -1, 0, 0},
      {"wa", 1, -1, 0, 0},           {"wenner", 1, -1, 0, 0},
      {"wenner      ", 1, -1, 0, 0},  // trailing blanks are ignored
      {"wenner-alpha", 1, -1, 0, 0}, {"wenner-schlumberger", 7, -1, 0, 0},
      {"ws", 7, -1, 0, 0},           {"Wenner", 0, -1, 0, 0},  // case-sensitive
      {" wenner", 0, -1, 0, 0},                                // leading blanks are not ignored
      {"pole-pole", 0, -1, 0, 0},    {"wenner-beta", 0, -1, 0, 0},
      {"resistivity", 0, 0, 0, 0},   {"resistance", 0, 1, 0, 0},
      {"resistance   ", 0, 1, 0, 0}, {"apparent resistivity", 0, -1, 0, 0},
      {"Resistance", 0, -1, 0, 0},   {"yes", 0, -1, 1, 0},
      {"yes  ", 0, -1, 1, 0},        {"YES", 0, -1, 0, 0},
      {"no", 0, -1, 0, 0},           {"true horizon", 0, -1, 0, 1},
      {"th", 0, -1, 0, 1},           {"along surface", 0, -1, 0, 2},
      {"as", 0, -1, 0, 2},           {"as   ", 0, -1, 0, 2},
      {"As", 0, -1, 0, 0},           {"alongsurface", 0, -1, 0, 0},
      {"     ", 0, -1, 0, 0},        {"", 0, -1, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("text '") + c.text + "'");
    EXPECT_EQ(p::get_arraytype(c.text), c.arraytype);
    EXPECT_EQ(p::get_measure_index(c.text), c.measure);
    EXPECT_EQ(p::get_ip_include_index(c.text), c.ip);
    EXPECT_EQ(p::get_position_type_index(c.text), c.position);
  }
}

// ---------------------------------------------------------------------------
// Code to text

TEST(SurveyLookups, CodeToFixedLengthText) {
  struct Case {
    const char* what;
    std::string (*lookup)(int32_t);
    int32_t code;
    std::string text;  // blank-padded
  };
  const std::vector<Case> cases = {
      {"measure", p::get_measure_type, 0, "resistivity"},
      {"measure", p::get_measure_type, 1, "resistance "},
      {"measure", p::get_measure_type, 2, "unknown    "},
      {"measure", p::get_measure_type, -1, "unknown    "},
      {"ip", p::get_ip_include, 1, "yes"},
      {"ip", p::get_ip_include, 0, "no "},
      {"ip", p::get_ip_include, 2, "no "},
      {"ip", p::get_ip_include, -1, "no "},
      {"position", p::get_position_type, 1, "true horizon   "},
      {"position", p::get_position_type, 2, "along surface  "},
      {"position", p::get_position_type, 0, "unknown        "},
      {"position", p::get_position_type, 3, "unknown        "},
  };
  for (const Case& c : cases) EXPECT_EQ(c.lookup(c.code), c.text) << c.what << " " << c.code;
}

TEST(SurveyLookups, NamesRoundTripThroughTheirIndex) {
  for (int32_t i : {0, 1}) EXPECT_EQ(p::get_measure_index(p::get_measure_type(i)), i);
  for (int32_t i : {0, 1}) EXPECT_EQ(p::get_ip_include_index(p::get_ip_include(i)), i);
  for (int32_t i : {1, 2}) EXPECT_EQ(p::get_position_type_index(p::get_position_type(i)), i);
}

// ---------------------------------------------------------------------------
// Dictionaries

// Transmitter columns: depth, x, z, original x, original z.
Dmatrix transmitter_matrix(const std::vector<std::array<double, 5>>& columns) {
  Dmatrix m(5, static_cast<int>(columns.size()));
  for (std::size_t j = 0; j < columns.size(); ++j)
    for (int i = 0; i < 5; ++i) m(i + 1, static_cast<int>(j) + 1) = columns[j][i];
  return m;
}

// Receiver columns: x, z, original x, original z.
Dmatrix location_matrix(const std::vector<std::array<double, 4>>& columns) {
  Dmatrix m(4, static_cast<int>(columns.size()));
  for (std::size_t j = 0; j < columns.size(); ++j)
    for (int i = 0; i < 4; ++i) m(i + 1, static_cast<int>(j) + 1) = columns[j][i];
  return m;
}

TEST(SurveyTxdict, SetUpTakesColumnsInOrder) {
  const Dmatrix t = transmitter_matrix({{1e-10, 0.5, 0.1, 10.0, -0.1},
                                        {2e-10, 1.5, 0.2, 11.0, -0.2},
                                        {3e-10, 2.5, 0.3, 12.0, -0.3}});
  tx::Txdict d;
  tx::setup_txdict_dcr2d(d, 3, t);
  ASSERT_EQ(d.size(), 3u);
  for (int i = 1; i <= 3; ++i) {
    SCOPED_TRACE(testing::Message() << "entry " << i);
    const tx::Dc2dtx& e = d[i - 1];
    EXPECT_EQ(e.id, i);  // no identifiers given: the column number
    EXPECT_EQ(e.depth, t(1, i));
    EXPECT_EQ(e.xyz, (std::array<double, 2>{t(2, i), t(3, i)}));
    EXPECT_EQ(e.xyz_original, (std::array<double, 2>{t(4, i), t(5, i)}));
  }

  // A new set-up replaces the content, here with fewer entries and given ids.
  const std::vector<int32_t> ids{4, 9};
  tx::setup_txdict_dcr2d(d, 2, t, &ids);
  ASSERT_EQ(d.size(), 2u);
  EXPECT_EQ(d[0].id, 4);
  EXPECT_EQ(d[1].id, 9);
  EXPECT_EQ(d[1].xyz_original, (std::array<double, 2>{11.0, -0.2}));

  tx::deall_txdict_dcr2d(d);
  EXPECT_TRUE(d.empty());
}

TEST(SurveyTxdict, SetUpRejectsInputsTooSmallForTheCount) {
  const Dmatrix t = transmitter_matrix({{0, 1, 0, 1, 0}, {0, 2, 0, 2, 0}});
  const Dmatrix four_rows(4, 3);
  const std::vector<int32_t> one_id{7};
  struct Case {
    const char* name;
    int32_t ntx;
    const Dmatrix* m;
    const std::vector<int32_t>* id;
  };
  const std::vector<Case> cases = {
      {"more transmitters than columns", 3, &t, nullptr},
      {"fewer than five rows", 2, &four_rows, nullptr},
      {"fewer identifiers than transmitters", 2, &t, &one_id},
      {"negative count", -1, &t, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    tx::Txdict d(1);
    d[0].id = 42;
    EXPECT_THROW(tx::setup_txdict_dcr2d(d, c.ntx, *c.m, c.id), varnel::Error);
    ASSERT_EQ(d.size(), 1u);  // left as it was
    EXPECT_EQ(d[0].id, 42);
  }
  tx::Txdict d;
  tx::setup_txdict_dcr2d(d, 0, Dmatrix());
  EXPECT_TRUE(d.empty());
}

TEST(SurveyTxdict, LookupsChooseTheCoordinatesByModeAndTheLastMatchWins) {
  // Entries 2 and 3 share an original position and entries 1 and 4 share id 5.
  const Dmatrix t = transmitter_matrix({{0, 0.0, 0.0, 100.0, 1.0},
                                        {0, 1.0, 0.5, 101.0, 2.0},
                                        {0, 2.0, 0.7, 101.0, 2.0},
                                        {0, 3.0, 0.9, 103.0, 4.0}});
  const std::vector<int32_t> ids{5, 6, 8, 5};
  tx::Txdict d;
  tx::setup_txdict_dcr2d(d, 4, t, &ids);

  struct Id_case {
    int32_t id, mode;
    std::array<double, 2> pos;
  };
  for (const Id_case& c : std::vector<Id_case>{{6, 1, {1.0, 0.5}},
                                               {6, 2, {101.0, 2.0}},
                                               {6, 0, {101.0, 2.0}},  // any mode but 1
                                               {5, 1, {3.0, 0.9}},    // duplicate id
                                               {5, 2, {103.0, 4.0}},
                                               {8, 2, {101.0, 2.0}}}) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(tx::tx_id_to_position_dcr2d(d, c.id, c.mode), c.pos)
        << "id " << c.id << " mode " << c.mode;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  }

  struct Pos_case {
    std::array<double, 2> pos;
    int32_t mode, id;
  };
  for (const Pos_case& c : std::vector<Pos_case>{{{101.0, 2.0}, 2, 8},  // duplicate position
                                                 {{100.0, 1.0}, 2, 5},
                                                 {{1.0, 0.5}, 1, 6},
                                                 {{2.0, 0.7}, 1, 8}}) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(tx::tx_position_to_id_dcr2d(d, c.pos, c.mode), c.id)
        << "(" << c.pos[0] << ", " << c.pos[1] << ") mode " << c.mode;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  }
}

TEST(SurveyTxdict, MissingIdentifiersAndPositionsAreReported) {
  const Dmatrix t = transmitter_matrix({{0, 0.0, 0.0, 100.0, 1.0}, {0, 1.0, 0.5, 101.0, 2.0}});
  tx::Txdict d;
  tx::setup_txdict_dcr2d(d, 2, t);

  testing::internal::CaptureStdout();
  const std::array<double, 2> pos = tx::tx_id_to_position_dcr2d(d, 7, 2);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), " Tx ID is.NOT.exist 7\n");
  EXPECT_TRUE(std::isnan(pos[0]));
  EXPECT_TRUE(std::isnan(pos[1]));

  struct Pos_case {
    const char* name;
    std::array<double, 2> pos;
    int32_t mode;
  };
  const std::vector<Pos_case> cases = {
      {"x matches, z does not", {100.0, 2.0}, 2},
      {"model coordinates looked up as original", {1.0, 0.5}, 2},
      {"original coordinates looked up as model", {101.0, 2.0}, 1},
      {"nearly equal", {100.0 + 1e-12, 1.0}, 2},
  };
  for (const Pos_case& c : cases) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(tx::tx_position_to_id_dcr2d(d, c.pos, c.mode), 0) << c.name;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), " Tx position is.NOT.exist\n") << c.name;
  }

  tx::deall_txdict_dcr2d(d);
  testing::internal::CaptureStdout();
  EXPECT_EQ(tx::tx_position_to_id_dcr2d(d, {100.0, 1.0}, 2), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), " Tx position is.NOT.exist\n");
}

TEST(SurveyRxdict, SetUpAndLookups) {
  const Dmatrix l =
      location_matrix({{0.0, 0.0, 100.0, 1.0}, {1.0, 0.5, 101.0, 2.0}, {2.0, 0.7, 101.0, 2.0}});
  rx::Rxdict d;
  rx::setup_rxdict_dcr2d(d, 3, l);
  ASSERT_EQ(d.size(), 3u);
  for (int i = 1; i <= 3; ++i) {
    SCOPED_TRACE(testing::Message() << "entry " << i);
    EXPECT_EQ(d[i - 1].id, i);
    EXPECT_EQ(d[i - 1].xyz, (std::array<double, 2>{l(1, i), l(2, i)}));
    EXPECT_EQ(d[i - 1].xyz_original, (std::array<double, 2>{l(3, i), l(4, i)}));
  }

  const std::vector<int32_t> ids{3, 11, 3};
  rx::setup_rxdict_dcr2d(d, 3, l, &ids);
  testing::internal::CaptureStdout();
  EXPECT_EQ(rx::rx_id_to_position_dcr2d(d, 11, 1), (std::array<double, 2>{1.0, 0.5}));
  EXPECT_EQ(rx::rx_id_to_position_dcr2d(d, 11, 2), (std::array<double, 2>{101.0, 2.0}));
  EXPECT_EQ(rx::rx_id_to_position_dcr2d(d, 3, 1), (std::array<double, 2>{2.0, 0.7}));
  EXPECT_EQ(rx::rx_position_to_id_dcr2d(d, {101.0, 2.0}, 2), 3);  // later of two entries
  EXPECT_EQ(rx::rx_position_to_id_dcr2d(d, {100.0, 1.0}, 2), 3);
  EXPECT_EQ(rx::rx_position_to_id_dcr2d(d, {1.0, 0.5}, 1), 11);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

  rx::deall_rxdict_dcr2d(d);
  EXPECT_TRUE(d.empty());
}

TEST(SurveyRxdict, SetUpRejectsInputsTooSmallForTheCount) {
  const Dmatrix l = location_matrix({{0, 0, 0, 0}, {1, 0, 1, 0}});
  const Dmatrix three_rows(3, 2);
  const std::vector<int32_t> one_id{7};
  rx::Rxdict d;
  EXPECT_THROW(rx::setup_rxdict_dcr2d(d, 3, l), varnel::Error);
  EXPECT_THROW(rx::setup_rxdict_dcr2d(d, 2, three_rows), varnel::Error);
  EXPECT_THROW(rx::setup_rxdict_dcr2d(d, 2, l, &one_id), varnel::Error);
  EXPECT_TRUE(d.empty());
}

TEST(SurveyRxdict, MissingIdentifiersAndPositionsAreReported) {
  const Dmatrix l = location_matrix({{0.0, 0.0, 100.0, 1.0}});
  rx::Rxdict d;
  rx::setup_rxdict_dcr2d(d, 1, l);

  testing::internal::CaptureStdout();
  const std::array<double, 2> pos = rx::rx_id_to_position_dcr2d(d, 2, 2);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), " rx ID is not exist\n");
  EXPECT_TRUE(std::isnan(pos[0]));
  EXPECT_TRUE(std::isnan(pos[1]));

  testing::internal::CaptureStdout();
  EXPECT_EQ(rx::rx_position_to_id_dcr2d(d, {0.0, 0.0}, 2), 0);  // model coordinates, mode 2
  EXPECT_EQ(testing::internal::GetCapturedStdout(), " rx position is not exist\n");
}

}  // namespace
