// The sensitivity matrix by the adjoint method: with the forward solutions of
// a unit source at every electrode, the derivative of the potential of source
// A at electrode M with respect to a conductivity is -psi_M^T (dA/dsigma)
// phi_A, psi_M the adjoint field of M. For the symmetric operators of "fd" and
// "fe" that is the forward solution of M, so no extra solves are needed; the
// hybrid operator is not symmetric and its adjoint fields take one transposed
// solve per wavenumber. The result is the transposed Jacobian of ln(response)
// with respect to ln(cell resistivity). After a first full computation it can
// instead be updated by a rank-one (Broyden) correction.
#pragma once

#include <cstdint>

#include "core/forward/fwd_dcr2d.hpp"
#include "core/sensitivity/sen_dcr2d.hpp"
#include "core/survey/dataio_dcr2d.hpp"

namespace varnel::sen_lapack_dcr2d {

// Fills sen.jkt for response.model: the full Jacobian (approx false, which
// also runs the forward computation with env.fwd->approx as the solver) or
// the rank-one update of the stored one with sen.logrho_i, sen.logr_i and the
// responses response.val of the present model (approx true; skipped when the
// model did not change).
//
// forward_current tells that env.fwd->potential_dcr2d already holds the
// potentials of response.model and response.val its response, as the
// forward computation would leave them; the full Jacobian then uses them
// instead of computing them again.
void compute_sensitivity_lapack_dcr2d(dataio_dcr2d::Main_data_dcr2d& response, bool approx,
                                      sen_dcr2d::Sen_state& sen, const fwd_dcr2d::Fwd_env& env,
                                      bool forward_current = false);

// The cell vectors (dA/dsigma_c) phi of every source and wavenumber, laid out
// in sen.dcphi_layout, from the derivative blocks of the last full
// computation (phy.deriv, and the finite-element blocks in sen).
void compute_dcphi_full_dcr2d(const dataio_dcr2d::Main_data_dcr2d& response,
                              const Dmatrix& potential_dcr2d, int32_t kmax, int32_t noelec,
                              sen_dcr2d::Sen_state& sen, const dcr2dphy::Dcr2dphy_state& phy);

// Releases the cell vectors.
void clear_sensitivity_cache(sen_dcr2d::Sen_state& sen);

}  // namespace varnel::sen_lapack_dcr2d
