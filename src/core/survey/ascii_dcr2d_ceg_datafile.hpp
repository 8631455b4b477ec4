// CEG data files: a header of "key: value" lines, an electrode list giving
// each electrode's number and position once, and a data list whose rows name
// their electrodes by line number in that list, in the column order that the
// header's data pattern declares. An optional topography list follows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/numerics/array2.hpp"

namespace varnel::ascii_dcr2d_ceg_datafile {

// One CEG file. Header texts are held in lower case, cut to their widths.
struct Ceg_file_rawdata_dcr2d {
  std::string survey_type;     // must be "dcr2d"
  std::string configuration;   // array name
  std::string rho_type;        // "resistivity" or "resistance" (11 characters)
  std::string ip_include;      // 3 characters
  std::string error_include;   // 3 characters; "yes" when the err column holds errors
  std::string position_type;   // 15 characters
  std::string data_pattern;    // 100 characters: column roles separated by blanks
  Dmatrix electrode_position;  // noelec x 3: number, x, z
  int32_t index_ec1 = 0, index_ec2 = 0, index_ep1 = 0, index_ep2 = 0;
  int32_t match_ec1 = 0, match_ec2 = 0, match_ep1 = 0, match_ep2 = 0;
  int32_t index_rho_data = 0, index_rho_error = 0, index_ip_data = 0, index_ip_error = 0;
  int32_t match_rho_data = 0, match_rho_error = 0, match_ip_data = 0, match_ip_error = 0;
  std::string profile;
  std::string filename;  // set by the caller before reading
  double espacing = 0.0;
  int32_t data_format = 999;  // not used for CEG files
  int32_t arraytype = 999;    // set by extract
  int32_t measuretype = 999;  // set by extract
  int32_t nodata = 999;
  int32_t x_position_type = 0;  // set by extract
  Dmatrix rawdata;              // nodata x ncomp, columns in pattern order
  int32_t ip_flag = 999;        // not used for CEG files
  int32_t ncomp = 0;            // recognised pattern words
  std::vector<double> val;
  std::vector<double> err;
  std::vector<double> geo_k;
  std::vector<int32_t> level;
  Imatrix tx_index;  // celec x nodata
  Imatrix rx_index;  // (nelec - celec) x nodata
  int32_t noelec = 0;
  int32_t ntopo = 0;
  Dmatrix topo;   // ntopo x 2 as read; ntopo x 4 electrode rows after the merge
  Dmatrix pelec;  // the file's electrode table, noelec x 4
  // File line of each data row as read (the last line of the row), for the
  // messages of extract; empty for a record not read from a file.
  std::vector<int32_t> row_line;
};

// Reads the file named by d.filename into d.
void read_dcr2d_ceg_datafile(Ceg_file_rawdata_dcr2d& d);

// Sets the column and flag fields and ncomp from data_pattern.
void identify_order_ceg_pattern_dcr2d(Ceg_file_rawdata_dcr2d& d);

// Header texts to codes: measuretype, arraytype, x_position_type. Rejects an
// unknown array name, a pattern without "rho" or without an electrode role
// the array needs, and a data row naming an electrode outside the list.
void extract_dcr2d_ceg_datafile(Ceg_file_rawdata_dcr2d& d);

// Sizes the per-datum arrays, as for DAT records.
void setup_ceg_data_vector_dcr2d(Ceg_file_rawdata_dcr2d& d);

// Writes d; the rho and err columns are taken from val and err. The file is
// written beside its final name and renamed into place, so a failed write
// leaves any earlier file of that name as it was.
void write_dcr2d_ceg_datafile(const Ceg_file_rawdata_dcr2d& d, const std::string& datafile);

}  // namespace varnel::ascii_dcr2d_ceg_datafile
