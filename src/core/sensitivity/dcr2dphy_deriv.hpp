// Derivatives of the forward operator with respect to the conductivity of
// every updatable element. The finite-difference operator is linear in the
// element conductivities, so each element carries the twelve entries of
// dA/dsigma it touches (three in the row of each of its four corners) per
// wavenumber; dA/dsigma is never formed as a matrix.
#pragma once

#include <cstdint>
#include <vector>

#include "core/model/dcr2dphy_model.hpp"

namespace varnel::dcr2dphy {

// dcm_dcr2d and idcm_dcr2d (and everything they need) on the grid nodes.
void dcr2d_fd_coefficient_derivative_cal(Dcr2dphy_state& s, const Model_inv_dcr2d& m,
                                         const std::vector<double>& wavenumber);
// The same on the earth unknowns of a grid with topography.
void dcr2d_fd_coefficient_derivative_earth_cal(Dcr2dphy_state& s, const Model_inv_dcr2d& m,
                                               const std::vector<double>& wavenumber,
                                               const Earth_node& node,
                                               const std::vector<int32_t>& aerow);

// dcl, dcr, dct, dcb, dcp and da (once).
void fd_coefficient_derivative_cal(Dcr2dphy_state& s);
void fd_coefficient_derivative_earth_cal(Dcr2dphy_state& s, const Earth_node& node);
// dcpm (once).
void fd_cp_coefficient_derivative_cal(Dcr2dphy_state& s);
void fd_cp_coefficient_derivative_earth_cal(Dcr2dphy_state& s, const Earth_node& node,
                                            const std::vector<int32_t>& aerow);
// The corner nodes of every updatable element (once).
void element2node(Dcr2dphy_state& s, const Model_inv_dcr2d& m);

}  // namespace varnel::dcr2dphy
