// The Gram matrix gramman = jkt^T cmjkt, either by one BLAS matrix product or
// by a parallel loop over its rows.
#pragma once

#include <cstdint>

#include "core/inversion/jkcmjkt_dcr2d.hpp"
#include "core/numerics/array2.hpp"

namespace varnel::jkcmjkt_lapack_dcr2d {

using jkcmjkt_dcr2d::Jkcmjkt_state;

// Mode 1: the parallel loop; any other mode: the matrix product. jkt and
// cmjkt are both ncell x nodata.
void cal_gramman_dcr2d(Jkcmjkt_state& s, const Dmatrix& jkt, const Dmatrix& cmjkt, int32_t nodata,
                       int32_t mode);
void cal_gramman_lapack_dcr2d(Jkcmjkt_state& s, const Dmatrix& jkt, const Dmatrix& cmjkt,
                              int32_t nodata);
void cal_gramman_parallel_dcr2d(Jkcmjkt_state& s, const Dmatrix& jkt, const Dmatrix& cmjkt,
                                int32_t nodata);

}  // namespace varnel::jkcmjkt_lapack_dcr2d
