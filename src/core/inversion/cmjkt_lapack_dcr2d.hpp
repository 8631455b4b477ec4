// Cm J^T without forming Cm: every column of the transposed sensitivity
// matrix is smoothed in place by the roughness operators, in the symmetric
// sequence (Z X X Z) repeated ndiff times, Z one application of the vertical
// operators along every element column and X one of the horizontal operators
// along every element row.
#pragma once

#include <cstdint>
#include <span>

#include "core/inversion/cmjkt_dcr2d.hpp"
#include "core/inversion/model_inv_parameters_dcr2d.hpp"
#include "core/model/dcr2dphy_model.hpp"
#include "core/numerics/array2.hpp"
#include "core/survey/dataio_dcr2d.hpp"

namespace varnel::cmjkt_lapack_dcr2d {

using model_inv_parameters_dcr2d::Diffusion_state;

// cmjkt = Cm jkt for the data set r (its model and nodata); jkt is
// ncell x nodata.
void cal_cmjkt_dcr2d(cmjkt_dcr2d::Cmjkt_state& s, const Diffusion_state& d, const Dmatrix& jkt,
                     const dataio_dcr2d::Main_data_dcr2d& r);
void cal_cmjkt_diffu_matrix_dcr2d(cmjkt_dcr2d::Cmjkt_state& s, const Diffusion_state& d,
                                  const Dmatrix& jkt, const dataio_dcr2d::Main_data_dcr2d& r);

// Smooths the cell vector jk (ncell values) in place along every element
// column (diffu_z_dcr2d) or row (diffu_x_dcr2d) of m, applying each operator n
// times. Fixed elements enter as 0 and receive nothing; a cell met at several
// positions keeps the value of the last one.
void diffu_z_dcr2d(const Diffusion_state& d, std::span<double> jk,
                   const dcr2dphy::Model_inv_dcr2d& m, int32_t n);
void diffu_x_dcr2d(const Diffusion_state& d, std::span<double> jk,
                   const dcr2dphy::Model_inv_dcr2d& m, int32_t n);

// jkt_temp := cm jkt_temp, with work (same length) as scratch.
void cal_cmjkt_lapack_dcr2d(const Dmatrix& cm, std::span<double> jkt_temp, std::span<double> work);

}  // namespace varnel::cmjkt_lapack_dcr2d
