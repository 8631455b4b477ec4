// The roughness operators of the inversion: one dense smoothing matrix per
// element column (vertical) and per element row (horizontal) of the grid.
// Each is the inverse of an implicit diffusion step (I - K D2), D2 the second
// difference on the unevenly spaced element centres and K the diffusion
// coefficient of each element. This unit holds the operators and the geometry
// they are built from; the band solves that make them are in
// model_inv_parameters_lapack_dcr2d.
#pragma once

#include <cstdint>
#include <vector>

#include "core/model/grid2d_dcr.hpp"
#include "core/numerics/array2.hpp"

namespace varnel::model_inv_parameters_dcr2d {

// One smoothing operator: val (n x n, column-major) and the element numbers
// of its positions, top to bottom along a column or left to right along a row.
struct diffusion_matrix_dcr2d {
  Dmatrix val;
  std::vector<int32_t> eindex;
};

// The operators of one run. They depend on the grid, the update flags and the
// electrode spacing only, so they are built once and kept until the clean-up.
struct Diffusion_state {
  std::vector<diffusion_matrix_dcr2d> diffu_ud;  // one per element column
  std::vector<diffusion_matrix_dcr2d> diffu_lr;  // one per element row
  double diffusion_parameter = 4.0;  // the shallow zone is espacing / diffusion_parameter deep
};

// Centre-to-centre distances: height (nz x 2) per element row, column 1 the
// distance to the centre above and column 2 to the centre below; the first
// and last rows instead hold the distances to the next two centres inward.
// width (nx x 2) is the same along the element rows. Needs at least three
// element rows and three element columns.
void cal_distance_b2b_dcr2d(const grid2d_dcr::Gr2d_dcr_new& grid, Dmatrix& width, Dmatrix& height);

// Diffusion coefficient per element (nz x nx, m^2): a quarter of espacing^2
// in the shallow zone below the first updatable element of each column and on
// fixed elements, a quarter of (depth x a factor falling from 0.9 to 0.2)^2
// below it.
void cal_kappa_dcr2d(const grid2d_dcr::Gr2d_dcr_new& grid, const std::vector<bool>& isupdated,
                     double espacing, double diffusion_parameter, Dmatrix& kappa);

// Releases every operator.
void cleanup_diffusion_matrices(Diffusion_state& s);

}  // namespace varnel::model_inv_parameters_dcr2d
