// The Gram matrix J Cm J^T (data x data) of the current iteration. It is
// kept for the life of the job and reused by later iterations.
#pragma once

#include <cstdint>

#include "core/numerics/array2.hpp"

namespace varnel::jkcmjkt_dcr2d {

struct Jkcmjkt_state {
  Dmatrix gramman;  // nodata x nodata
};

// Makes gramman nodata x nodata: kept when it has that shape already,
// allocated anew (zero) otherwise.
void allocate_gramman_dcr2d(Jkcmjkt_state& s, int32_t nodata);

}  // namespace varnel::jkcmjkt_dcr2d
