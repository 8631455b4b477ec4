// The linearised data vector of an Occam iteration,
// d_hat = logd - logr (+/- loge) + J (logrho - logrho0).
#pragma once

#include <cstdint>

#include "core/inversion/occam.hpp"
#include "core/numerics/array2.hpp"

namespace varnel::dhat_dcr2d {

// Fills o.d_hat (allocated with nodata values on first use) from logd, logr,
// loge (pattern term, when pcinv; added when pciplus, else subtracted),
// logrho, logrho0 and the transposed Jacobian jkt (ncell x nodata).
void cal_dhat_dcr2d(occam::Occam_state& o, const Dmatrix& jkt, int32_t nodata, bool pcinv,
                    bool pciplus);

}  // namespace varnel::dhat_dcr2d
