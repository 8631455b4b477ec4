// The sensitivity matrix by the adjoint method: with the forward solutions of
// a unit source at every electrode, the derivative of the potential of source
// A at electrode M with respect to a conductivity is -phi_M^T (dA/dsigma)
// phi_A; no extra solves are needed. The result is the transposed Jacobian of
// ln(response) with respect to ln(cell resistivity). After a first full
// computation it can instead be updated by a rank-one (Broyden) correction.
#pragma once

#include <cstdint>

#include "core/forward/fwd_dcr2d.hpp"
#include "core/sensitivity/sen_dcr2d.hpp"
#include "core/survey/dataio_dcr2d.hpp"

namespace varnel::sen_lapack_dcr2d {

// Fills sen.jkt for response.model: the full Jacobian (approx false, which
// also runs the forward computation) or the rank-one update of the stored one
// (approx true; skipped when the model did not change).
void compute_sensitivity_lapack_dcr2d(dataio_dcr2d::Main_data_dcr2d& response, bool approx,
                                      sen_dcr2d::Sen_state& sen, const fwd_dcr2d::Fwd_env& env);

// The cell vectors (dA/dsigma_c) phi of every source and wavenumber.
void compute_dcphi_full_dcr2d(const dataio_dcr2d::Main_data_dcr2d& response,
                              const Dmatrix& potential_dcr2d, int32_t kmax, int32_t noelec,
                              sen_dcr2d::Sen_state& sen, const dcr2dphy::Dcr2dphy_state& phy);

// Releases the cell vectors.
void clear_sensitivity_cache(sen_dcr2d::Sen_state& sen);

}  // namespace varnel::sen_lapack_dcr2d
