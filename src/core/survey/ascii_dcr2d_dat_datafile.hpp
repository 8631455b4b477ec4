// DAT data files: one profile with a short header, one row per measurement
// and an optional topography list. The general layout lists every electrode's
// coordinates in each row; the simple layouts (Wenner, dipole-dipole,
// Wenner-Schlumberger) give a position, a spacing and a separation factor,
// and are converted to general rows on reading. The writer always writes the
// general layout.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/numerics/array2.hpp"
#include "core/survey/rxtypes_dcr2d.hpp"
#include "core/survey/txtypes_dcr2d.hpp"

namespace varnel::ascii_dcr2d_dat_datafile {

// One DAT file. General row i of rawdata: n, then x and z of each electrode
// (current electrodes first), the value, and the IP value when ip_flag is 1.
struct Dat_file_rawdata_dcr2d {
  std::string profile;       // first line of the file (up to 100 characters)
  std::string filename;      // set by the caller before reading
  double espacing = 0.0;     // nominal electrode spacing, m
  int32_t data_format = 999;  // 11 after reading
  int32_t arraytype = 999;
  int32_t measuretype = 999;  // 0 apparent resistivity, 1 resistance
  int32_t nodata = 999;
  int32_t x_position_type = 0;  // 1 true horizontal, 2 along surface
  Dmatrix rawdata;              // nodata x ncomp
  int32_t ip_flag = 999;
  int32_t ncomp = 0;          // 2 + 2 nelec(arraytype) + ip_flag
  std::vector<double> val;    // per datum
  std::vector<double> err;
  std::vector<double> geo_k;
  std::vector<int32_t> level;
  Imatrix tx_index;  // celec x nodata
  Imatrix rx_index;  // (nelec - celec) x nodata
  int32_t noelec = 0;
  int32_t ntopo = 0;
  Dmatrix topo;   // ntopo x 2 as read; ntopo x 4 electrode rows after the merge
  Dmatrix pelec;  // the file's electrode table, noelec x 4
};

// Reads the file named by d.filename into d.
void read_dcr2d_dat_datafile(Dat_file_rawdata_dcr2d& d);

// Sizes val, err, geo_k, level (nodata), tx_index (celec x nodata) and
// rx_index ((nelec - celec) x nodata), all zero.
void setup_dat_data_vector_dcr2d(Dat_file_rawdata_dcr2d& d);

// Writes d in the general layout; positions come from the dictionaries in
// data-file coordinates.
void write_dcr2d_dat_datafile(const Dat_file_rawdata_dcr2d& d, const std::string& datafile,
                              const txtypes_dcr2d::Txdict& txdict_dcr2d,
                              const rxtypes_dcr2d::Rxdict& rxdict_dcr2d);

// Converts one simple row res2d = (x, a[, n], value[, ip]) of array type 1, 3
// or 7 into a general row (rawdata, resized to 2 + 2 nelec + ip_flag).
// type_of_position 0: x is the first electrode; otherwise the array midpoint.
void convert_res2d_to_rawdata(int32_t arraytype, const std::vector<double>& res2d,
                              int32_t type_of_position, int32_t ip_flag,
                              std::vector<double>& rawdata);

}  // namespace varnel::ascii_dcr2d_dat_datafile
