// The survey vocabulary: array-type codes and their electrode counts, the names
// of array types, measurement kinds, IP flags and position types with their
// lookups, and the settings of a job that the survey and model parts share.
//
// Array-type codes: 1 wenner-alpha, 2 pole-pole, 3 dipole-dipole, 4 wenner-beta,
// 5 wenner-gamma, 6 pole-dipole, 7 wenner-schlumberger, 8 equatorial,
// 15 gradient; 9 to 14 have no name. Within one measurement the current
// electrodes come first (C1, C2), then the potential electrodes (P1, P2).
// Measurement kinds: 0 apparent resistivity, 1 resistance. IP flag: 0 none,
// 1 present. Position types: 1 true horizon, 2 along surface, 0 unknown.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace varnel::param_dcr2d {

// Settings of one job (held by the job, one per run).
struct Param_dcr2d {
  double airresist = 1.0e6;  // resistivity of air cells, ohm-m; reset by the model set-up
  int32_t nxgrid = 2;        // grid refinement; copied from the run option
  bool flat = true;          // not read by any operation
  std::string scratch_folder = "./scratch/";  // not read by any operation
};

// Relative depth levels, in electrode spacings, below the lowest surface point
// of a generated grid.
inline constexpr std::array<double, 24> zs_default{
    0.0,   0.2,   0.4,   0.6,   0.8,    1.0,    1.35,   1.735,  2.159,  2.624,  3.137,  3.7,
    4.546, 5.814, 7.717, 10.57, 14.851, 21.271, 30.902, 45.349, 67.019, 99.523, 148.28, 221.415};

// Per array-type code (1..15): electrodes of one measurement, current
// electrodes among them, numeric columns of a DAT data row. 0 for any other
// code.
int32_t nelec(int32_t arraytype);
int32_t celec(int32_t arraytype);
int32_t ncol4res2d(int32_t arraytype);

// Text to code. Trailing blanks are ignored; the match is exact and
// case-sensitive (callers fold to lower case first).
int32_t get_arraytype(std::string_view configure);                // 0 when unknown
int32_t get_measure_index(std::string_view measuretype);          // -1 when unknown
int32_t get_ip_include_index(std::string_view ip_include);        // 0 unless "yes"
int32_t get_position_type_index(std::string_view position_type);  // 0 when unknown

// Code to text, blank-padded to a fixed length.
std::string get_configuration(int32_t arraytype);            // 20 characters
std::string get_measure_type(int32_t measure_index);         // 11 characters
std::string get_ip_include(int32_t ip_include_index);        // 3 characters
std::string get_position_type(int32_t position_type_index);  // 15 characters

}  // namespace varnel::param_dcr2d
