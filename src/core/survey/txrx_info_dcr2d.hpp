// Survey geometry shared by all data files of a job: the merged electrode
// table (row number = electrode number), the role flags of every electrode,
// the transmitter and receiver dictionaries, the electrode identifiers of every
// datum, the pseudo-section level of every datum and each file's topography
// list merged with its electrodes.
//
// Order within one job: read the files, filter non-positive data, run the
// set-up once for all files, then per file the levels, geometric factors, data
// vector and topography merge.
#pragma once

#include <array>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "core/numerics/array2.hpp"
#include "core/survey/ascii_dcr2d_ceg_datafile.hpp"
#include "core/survey/ascii_dcr2d_dat_datafile.hpp"
#include "core/survey/rxtypes_dcr2d.hpp"
#include "core/survey/txtypes_dcr2d.hpp"

namespace varnel::txrx_info_dcr2d {

using Dat = ascii_dcr2d_dat_datafile::Dat_file_rawdata_dcr2d;
using Ceg = ascii_dcr2d_ceg_datafile::Ceg_file_rawdata_dcr2d;

// The survey geometry of one job. Each set-up replaces all of it.
struct Txrx_info_state {
  // N x 4 electrode rows (model x, z, file x, file z) of all files, ascending
  // by model x; row e is electrode e.
  Dmatrix pelec_dcr2d;
  // 2 x N: (1, e) is 1 when electrode e is a current electrode of some datum,
  // (2, e) when it is a potential electrode of some datum.
  Array2<uint8_t> txrx_state;
  txtypes_dcr2d::Txdict txdict_dcr2d;
  rxtypes_dcr2d::Rxdict rxdict_dcr2d;
};

// Identifier-to-position lookup on one dictionary in file coordinates, hashed
// once: the same result as tx_id_to_position_dcr2d / rx_id_to_position_dcr2d
// with mode 2 (the last entry with an identifier wins). An unknown identifier
// goes to the dictionary's own lookup, which reports it and gives (NaN, NaN).
// Refers to the dictionary, which must outlive it.
class Original_positions {
 public:
  explicit Original_positions(const txtypes_dcr2d::Txdict& txdict);
  explicit Original_positions(const rxtypes_dcr2d::Rxdict& rxdict);
  std::array<double, 2> operator()(int32_t id) const;

 private:
  std::unordered_map<int32_t, std::array<double, 2>> by_id_;
  const txtypes_dcr2d::Txdict* txdict_ = nullptr;
  const rxtypes_dcr2d::Rxdict* rxdict_ = nullptr;
};

// Run-wide set-up for DAT files: builds every file's electrode table, the
// merged table (rows equal in all four columns merge; ascending by model x,
// ties in file order), the role flags, both dictionaries (one entry per
// flagged electrode in electrode order, identifier = electrode number,
// transmitter depth 1.0e-10), then sizes each file's per-datum vectors and
// sets tx_index and rx_index by exact lookup of each datum electrode's file
// coordinates in the dictionaries (the last of equal entries wins). A datum
// electrode without an identifier ends the job with a message naming the file
// and the datum.
void setup_alldict_dcr2d_dat_file(std::vector<Dat>& files, Txrx_info_state& state);

// The same for CEG files; a datum's electrodes are the lines of the
// electrode list named (truncated to integers) by its ec1, ec2, ep1 and ep2
// columns. A number outside the list, or an electrode role the array type
// needs but the data pattern lacks, ends the job naming the file and datum.
void setup_alldict_dcr2d_ceg_file(std::vector<Ceg>& files, Txrx_info_state& state);

// Sets txrx_state(1, e) for every electrode e (1..noelec) of the merged table
// whose file position (columns 3, 4) equals the file position of a current
// electrode of one of d's data, and txrx_state(2, e) likewise for potential
// electrodes. Flags are only set, never cleared. DAT records other than the
// general layout (data_format 11) set nothing.
void compute_txrx_state_dcr2d_dat(const Dmatrix& pelec, Array2<uint8_t>& txrx_state, int32_t noelec,
                                  const Dat& d);
void compute_txrx_state_dcr2d_ceg(const Dmatrix& pelec, Array2<uint8_t>& txrx_state, int32_t noelec,
                                  const Ceg& d);

// Fills d.level (nodata entries). Array types 1, 2, 4, 5, 6, 7: the
// straight-line distance (x and z, file coordinates from the dictionaries)
// from the first current to the first potential electrode divided by
// espacing, truncated toward zero. Type 3: the same, from the second current
// electrode, or from the first for every datum when datum 1's second current
// identifier is smaller than its first. Every other type: 0. A quotient that
// is not a finite number in the 32-bit range (espacing 0, an unknown
// identifier) gives level 0. Needs tx_index and rx_index from the set-up.
void nlevel_cal_dcr2d_dat_file(Dat& d, const Txrx_info_state& state);
void nlevel_cal_dcr2d_ceg_file(Ceg& d, const Txrx_info_state& state);

// Merges the topography list with the electrodes. Without topography
// (ntopo = 0) topo becomes a copy of pelec and ntopo = noelec. Otherwise the
// points (x, z) are converted with adjust_position_dcr2d and the file's
// position type, pelec is appended, and topo becomes the distinct rows
// ascending by file x (column 3), ntopo their count.
void compute_topo_dat_dcr2d(Dat& d);
void compute_topo_ceg_dcr2d(Ceg& d);

}  // namespace varnel::txrx_info_dcr2d
