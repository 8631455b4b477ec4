// Construction of the roughness operators: for every element column and row,
// the matrix A = I - K D2 is set up in LAPACK band storage and solved against
// the identity, which gives the dense smoothing operator A^-1.
#pragma once

#include <cstdint>
#include <vector>

#include "core/inversion/model_inv_parameters_dcr2d.hpp"
#include "core/model/dcr2dphy_model.hpp"
#include "core/numerics/array2.hpp"

namespace varnel::model_inv_parameters_lapack_dcr2d {

using model_inv_parameters_dcr2d::Diffusion_state;

// With mode 1 nothing is done; any other mode builds the operators.
void cal_diffusion_coefficient_dcr2d(Diffusion_state& s, const dcr2dphy::Model_inv_dcr2d& m,
                                     double espacing, int32_t mode);

// Builds diffu_ud and diffu_lr for the inverse model m and the electrode
// spacing espacing (metres). Both must be empty on entry.
void cal_diffusion_coefficient_full_dcr2d(Diffusion_state& s, const dcr2dphy::Model_inv_dcr2d& m,
                                          double espacing);

// The vertical operator of element column jj (kappa nz x nx, height from
// cal_distance_b2b_dcr2d): ud becomes nz x nz and eindex the elements of the
// column, top to bottom.
void cal_ud_diffusion_dcr2d(const grid2d_dcr::Gr2d_dcr_new& grid, const Dmatrix& kappa,
                            const Dmatrix& height, int32_t jj, Dmatrix& ud,
                            std::vector<int32_t>& eindex);

// The horizontal operator of element row ii: lr becomes nx x nx and eindex
// the elements of the row, left to right.
void cal_lr_diffusion_dcr2d(const grid2d_dcr::Gr2d_dcr_new& grid, const Dmatrix& kappa,
                            const Dmatrix& width, int32_t ii, Dmatrix& lr,
                            std::vector<int32_t>& eindex);

}  // namespace varnel::model_inv_parameters_lapack_dcr2d
