// The main data set: one data file, or a list file naming several, read into
// the single data vector the solvers and the inversion work on. The per-file
// records are kept and serve as templates when responses are written back in
// the layout of the files that were read.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/numerics/array2.hpp"
#include "core/survey/ascii_dcr2d_ceg_datafile.hpp"
#include "core/survey/ascii_dcr2d_dat_datafile.hpp"
#include "core/survey/txrx_info_dcr2d.hpp"

namespace varnel::dcr2dphy {
class Model_inv_dcr2d;
}

namespace varnel::dataio_dcr2d {

using Dat = ascii_dcr2d_dat_datafile::Dat_file_rawdata_dcr2d;
using Ceg = ascii_dcr2d_ceg_datafile::Ceg_file_rawdata_dcr2d;

// The merged data of all files read as one set.
struct Main_data_dcr2d {
  // Resistance (ohm) where the file was converted, else apparent resistivity.
  std::vector<double> val;
  std::vector<double> err;    // same units as val
  std::vector<double> geo_k;  // geometric factor per datum
  double espacing = 0.0;      // mean electrode spacing of the files
  std::vector<int32_t> level;
  Imatrix tx_index;  // nc x nodata: current electrode numbers
  Imatrix rx_index;  // np x nodata: potential electrode numbers
  int32_t nodata = 999;
  int32_t noelec = 999;  // largest electrode number used
  int32_t nc = 0;        // current electrodes per datum
  int32_t np = 0;        // potential electrodes per datum
  bool allocated = false;
  bool resistance = true;  // false when some geometric factor is negative
  int32_t x_position_type = 0;
  std::string info = "LIN";
  std::string ext;                             // "dat" or "ceg"
  dcr2dphy::Model_inv_dcr2d* model = nullptr;  // set by the drivers
  Dmatrix topo;                                // ntopo x 4 merged topography (electrode rows)
  int32_t ntopo = 0;
  Dmatrix pelec;  // not filled here
};

// The file records of a job, by slot: main data, the reference data of a
// difference inversion ("df") and its second reference set ("rf").
struct Dataio_state {
  std::vector<Dat> d_dat, d0_dat, r0_dat;
  std::vector<Ceg> d_ceg, d0_ceg, r0_ceg;
};

// Reads `datafile` (a .dat or .ceg file, or a list file of them) into d.
// `mode` chooses the slot: empty for the main data, "df" or "rf".
void read_dcr2d_datafile(Main_data_dcr2d& d, const std::string& datafile, Dataio_state& io,
                         txrx_info_dcr2d::Txrx_info_state& txrx, std::string_view mode = "");

// Writes one response file per main data file, with d.val (and for CEG files
// d.err) in place of the data. Mode 1: <data stem>_<stem of rf>.<ext>;
// mode 2: <data stem>_<rf>.<ext>; other modes: rf numbered by file.
void write_dcr2d_datafile(const Main_data_dcr2d& d, const std::string& rf, int32_t mode,
                          const Dataio_state& io, const txrx_info_dcr2d::Txrx_info_state& txrx);

// The name of the response of file k (1-based) of the list.
std::string response_file_name(const std::string& datafile, const std::string& rf, int32_t mode,
                               int32_t k, const std::string& ext);

void create_dat_data_vector_dcr2d(Dat& d);
void create_ceg_data_vector_dcr2d(Ceg& d);
void merge_dat_data_vector_dcr2d(Main_data_dcr2d& d, const std::vector<Dat>& d_ref);
void merge_ceg_data_vector_dcr2d(Main_data_dcr2d& d, const std::vector<Ceg>& d_ref);

}  // namespace varnel::dataio_dcr2d
