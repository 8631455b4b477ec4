// Removal of unusable measurements before any geometry is derived: a datum
// whose value is zero or negative cannot be taken to a logarithm and is
// dropped. NaN values are kept.
#pragma once

#include "core/survey/ascii_dcr2d_ceg_datafile.hpp"
#include "core/survey/ascii_dcr2d_dat_datafile.hpp"

namespace varnel::data_filter_dcr2d {

using Dat = ascii_dcr2d_dat_datafile::Dat_file_rawdata_dcr2d;
using Ceg = ascii_dcr2d_ceg_datafile::Ceg_file_rawdata_dcr2d;

// Drops every row of d.rawdata whose value (column ncomp - ip_flag) is less
// than or equal to 0; the kept rows stay in order and nodata becomes their
// count. When every row is kept nothing changes. The keep flags and the copy
// run in parallel over rows; the result does not depend on the thread count.
// A value column outside rawdata ends the job.
void negative_filter_dcr2d_dat_file(Dat& d);

// The same for a CEG record; the value column is index_rho_data.
void negative_filter_dcr2d_ceg_file(Ceg& d);

}  // namespace varnel::data_filter_dcr2d
