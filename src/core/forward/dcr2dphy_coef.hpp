// The five-point finite-difference (box-integration) operator of the 2.5-D DC
// problem, -d/dx(s dphi/dx) - d/dz(s dphi/dz) + k^2 s phi = source, on the
// nodes of the rectilinear grid: couplings to the four neighbours, the k^2
// term of the control box, and a mixed Bessel boundary condition on the left,
// right and bottom edges (the top edge is the ground surface, no flux). The
// geometry arrays are computed once per grid; the couplings once per model;
// per wavenumber only the diagonal is refilled. The earth variants do the same
// on the nodes on and below an uneven ground surface, indexed by unknown.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/model/dcr2dphy_model.hpp"

namespace varnel::dcr2dphy {

// The eight wavenumbers and weights of the 2.5-D transform, for a unit
// electrode spacing (divide both by the spacing of the survey).
inline constexpr double k_ref[8] = {0.0100191499, 0.0961319787, 0.101458177, 0.189791636,
                                    0.50429717,   0.786306211,  1.3129793,   1.97520393};
inline constexpr double g_ref[8] = {0.0205845911, 0.637489791, -0.621186137, 0.167781685,
                                    0.222301411,  0.23436284,  0.162692691,  1.22197461};

// Flat ground: one equation per grid node. The inputs grid, cond, k, kmax,
// numnp, noxs and nozs of the state are set by the caller. Each operation but
// the last returns at once when its result exists.
void fd_index_cal(Dcr2dphy_state& s);
void fd_dall_cal(Dcr2dphy_state& s);
void fd_zata_cal(Dcr2dphy_state& s);
void fd_alpha_cal(Dcr2dphy_state& s);
void fd_call_cal(Dcr2dphy_state& s);
void fd_coefficient_cal(Dcr2dphy_state& s);
// Refills c_matrix column 3 for wavenumber k(kindex), kindex 1-based.
void fd_cp_coefficient_cal(Dcr2dphy_state& s, int32_t kindex);
// The same diagonal into diag (numnp entries), the state left as it is, so
// that the systems of several wavenumbers can be built at the same time.
void fd_diagonal_cal(const Dcr2dphy_state& s, int32_t kindex, std::span<double> diag);

// Uneven ground: one equation per earth unknown (node.map of a grid node).
void fd_index_earth_cal(Dcr2dphy_state& s, const Earth_node& node,
                        const std::vector<int32_t>& aerow);
void fd_dall_earth_cal(Dcr2dphy_state& s, const Earth_node& node);
void fd_zata_earth_cal(Dcr2dphy_state& s, const Earth_node& node,
                       const std::vector<int32_t>& aerow);
// Distances of the boundary earth nodes from the surface node of the middle
// column (nd gets node.numnp entries).
void cal_node_distance_earth(const Gr2d_dcr_new& grid, const Earth_node& node,
                             const std::vector<int32_t>& aerow, std::vector<double>& nd);
void fd_alpha_earth_cal(Dcr2dphy_state& s, const Earth_node& node,
                        const std::vector<int32_t>& aerow);
void fd_call_earth_cal(Dcr2dphy_state& s, const Earth_node& node,
                       const std::vector<int32_t>& aerow);
void fd_coefficient_earth_cal(Dcr2dphy_state& s, const Earth_node& node);
void fd_cp_coefficient_earth_cal(Dcr2dphy_state& s, int32_t kindex, const Earth_node& node,
                                 const std::vector<int32_t>& aerow);
// Its diagonal into diag (node.numnp entries), the state left as it is.
void fd_diagonal_earth_cal(const Dcr2dphy_state& s, int32_t kindex, const Earth_node& node,
                           const std::vector<int32_t>& aerow, std::span<double> diag);

// Releases the conductivity-dependent arrays (c_all, c_matrix, cl, cr, ct,
// cb, cp, a_parameter) so that they are rebuilt for the next model.
void release_conductivity_arrays(Dcr2dphy_state& s);

// Releases every array of the solver module, including cond and k (and the
// derivative arrays of the sensitivity computation, when they exist).
void cleanup_physics_dcr2d(Dcr2dphy_state& s);

}  // namespace varnel::dcr2dphy
