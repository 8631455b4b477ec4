// Geometric factors: the factor that turns the transfer resistance of a
// measurement into apparent resistivity, computed from the true electrode
// positions (x and elevation), and the sign rule for electrode pairs that the
// forward response and the sensitivities share. Also a pseudo-section focus
// point for a datum, which no run uses.
#pragma once

#include <cstdint>
#include <vector>

#include "core/numerics/array2.hpp"
#include "core/survey/ascii_dcr2d_ceg_datafile.hpp"
#include "core/survey/ascii_dcr2d_dat_datafile.hpp"
#include "core/survey/rxtypes_dcr2d.hpp"
#include "core/survey/txtypes_dcr2d.hpp"

namespace varnel::data_factor_dcr2d {

using Dat = ascii_dcr2d_dat_datafile::Dat_file_rawdata_dcr2d;
using Ceg = ascii_dcr2d_ceg_datafile::Ceg_file_rawdata_dcr2d;

// Fills d.geo_k (nodata entries): pi / G with G the sum over current
// electrodes k and potential electrodes j of compute_sign(k, j) / r(k, j), r
// the straight-line distance in x and z between the file positions (mode 2)
// the dictionaries give for tx_index(k, i) and rx_index(j, i). For a Wenner
// array of spacing a this is pi a (the normalisation of the forward
// response). Coincident electrodes or unknown identifiers give a non-finite
// factor; identifier arrays too small for nodata data end the job.
void cal_geo_k_dat_dcr2d(Dat& d, const txtypes_dcr2d::Txdict& txdict_dcr2d,
                         const rxtypes_dcr2d::Rxdict& rxdict_dcr2d);
void cal_geo_k_ceg_dcr2d(Ceg& d, const txtypes_dcr2d::Txdict& txdict_dcr2d,
                         const rxtypes_dcr2d::Rxdict& rxdict_dcr2d);

// s(i) s(j) with s(n) = +1 for odd n and -1 for even n (C1/P1 positive,
// C2/P2 negative).
int32_t compute_sign(int32_t i, int32_t j);

// Sensitivity of a four-electrode array at depth z on the centre line, less
// the target: sum over the pairs of +-1 / sqrt(r^2 + 4 z^2) - target (r_am,
// r_an, r_bm, r_bn the horizontal distances C1-P1, C1-P2, C2-P1, C2-P2).
double sensitivity_function(double z, double r_am, double r_an, double r_bm, double r_bn,
                            double target);

// Pseudo-section point of a datum with electrode x positions tx1, tx2 (C1,
// C2) and rx1, rx2 (P1, P2): focus_x is their mean; focus_z is the depth at
// which sensitivity_function with target = half its value at z = 0 changes
// sign, found by bisection between 0.001 and a bound set by array_type (1:
// |tx2 - tx1|; 3: 10 max(|tx1 - tx2|, |rx1 - rx2|); 7: 1.5 |tx1 - tx2|; 15:
// 2 |tx1 - tx2|; others: 10 times the largest pair distance). success is
// false and focus_z 0 when two electrodes coincide (within 1e-10), when the
// function has one sign at both ends, or after 100 halvings without
// convergence.
void calculate_focus_point(double tx1, double tx2, double rx1, double rx2, int32_t array_type,
                           double& focus_x, double& focus_z, bool& success);

// Focus points of all data: row i of `elec` holds the electrode numbers of
// datum i, C1, C2, P1 and P2 in columns ec1_index, ec2_index, ep1_index and
// ep2_index; their x comes from column 1 of the electrode table `pelec`.
// xpos and zpos get one entry per row of `elec` (zpos 0 where no focus point
// is found). A column index outside `elec` or an electrode number outside
// `pelec` ends the job.
void cal_pseudo_xz(const Imatrix& elec, int32_t ec1_index, int32_t ec2_index, int32_t ep1_index,
                   int32_t ep2_index, const Dmatrix& pelec, int32_t array_type,
                   std::vector<double>& xpos, std::vector<double>& zpos);

}  // namespace varnel::data_factor_dcr2d
