// The product of the model covariance with the transposed sensitivity
// matrix, Cm J^T (cells x data), kept for the model update of the current
// iteration, and the access to the roughness operators it is built from.
#pragma once

#include <cstdint>
#include <vector>

#include "core/inversion/model_inv_parameters_dcr2d.hpp"
#include "core/numerics/array2.hpp"

namespace varnel::cmjkt_dcr2d {

// Number of smoothing rounds (Z X X Z) that make Cm.
inline constexpr int32_t ndiff = 8;

struct Cmjkt_state {
  Dmatrix cmjkt;  // ncell x nodata
};

// Mode 1: cm and cm_index become views of the vertical operator of element
// column ii; mode 2: of the horizontal operator of element row ii; any other
// mode leaves them untouched.
void load_cm_dcr2d(const model_inv_parameters_dcr2d::Diffusion_state& d, int32_t ii,
                   const Dmatrix*& cm, const std::vector<int32_t>*& cm_index, int32_t mode);

// Releases cmjkt.
void cleanup_cmjkt_dcr2d(Cmjkt_state& s);

}  // namespace varnel::cmjkt_dcr2d
